#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class QFileSystemWatcher;
class QTimer;

// Notices what the agents write into the logs folder: run-history lines appended by the
// wrappers and output appended by launchd. Every `.runs` file of the folder is watched, plus
// the files a caller names (a task's logs). Bursts of writes are folded: each changed path is
// announced once, a moment after the writing stops. A folder that does not exist yet is
// waited for.
class LogsWatcher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogsWatcher)

public:
    static constexpr int defaultDebounceMs = 150;

    explicit LogsWatcher(QString logDir, QObject* parent = nullptr,
                         int debounceMs = defaultDebounceMs);

    const QString& logDir() const { return m_logDir; }
    // Also watches this file (in the folder or not), from the moment it exists.
    void watchFile(const QString& path);

Q_SIGNALS:
    // `path` was created, grew, was replaced or removed.
    void changed(const QString& path);

private:
    void rearm();
    void note(const QString& path);
    void flush();

    QString m_logDir;
    QSet<QString> m_wanted;
    QSet<QString> m_pending;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer* m_debounce = nullptr;
};
