#pragma once

#include "CredentialStore.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QWaitCondition>

// Passwords in memory. The sheets call from the thread pool, so every member is locked; a test
// may hold the calls to see what the sheet does while the keychain is slow.
class FakeCredentialStore final : public CredentialStore {
public:
    struct Save {
        QString service;
        QString account;
        QString password;
    };

    std::optional<QString> load(const QString& service, const QString& account) override
    {
        QMutexLocker lock(&m_mutex);
        waitWhileHeld();
        ++m_loads;
        const auto found = m_items.constFind(key(service, account));
        return found == m_items.constEnd() ? std::nullopt : std::optional<QString>(*found);
    }
    Result<void> save(const QString& service, const QString& account,
                      const QString& password) override
    {
        QMutexLocker lock(&m_mutex);
        waitWhileHeld();
        m_saves.append({service, account, password});
        if (m_saveFailure)
            return Result<void>::failure(*m_saveFailure);
        m_items.insert(key(service, account), password);
        return {};
    }
    void remove(const QString& service, const QString& account) override
    {
        QMutexLocker lock(&m_mutex);
        m_items.remove(key(service, account));
    }

    void put(const QString& service, const QString& account, const QString& password)
    {
        QMutexLocker lock(&m_mutex);
        m_items.insert(key(service, account), password);
    }
    std::optional<QString> item(const QString& service, const QString& account) const
    {
        QMutexLocker lock(&m_mutex);
        const auto found = m_items.constFind(key(service, account));
        return found == m_items.constEnd() ? std::nullopt : std::optional<QString>(*found);
    }
    int loads() const
    {
        QMutexLocker lock(&m_mutex);
        return m_loads;
    }
    QList<Save> saves() const
    {
        QMutexLocker lock(&m_mutex);
        return m_saves;
    }
    // Every later save fails with this reason (nothing: saves succeed again).
    void setSaveFailure(std::optional<QString> reason)
    {
        QMutexLocker lock(&m_mutex);
        m_saveFailure = std::move(reason);
    }
    // Calls wait from hold() until release().
    void hold()
    {
        QMutexLocker lock(&m_mutex);
        m_held = true;
    }
    void release()
    {
        QMutexLocker lock(&m_mutex);
        m_held = false;
        m_released.wakeAll();
    }

private:
    static QString key(const QString& service, const QString& account)
    {
        return service + QLatin1Char('\n') + account;
    }
    void waitWhileHeld()
    {
        while (m_held)
            m_released.wait(&m_mutex);
    }

    mutable QMutex m_mutex;
    QWaitCondition m_released;
    bool m_held = false;
    int m_loads = 0;
    QHash<QString, QString> m_items;
    QList<Save> m_saves;
    std::optional<QString> m_saveFailure;
};
