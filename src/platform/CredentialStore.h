#pragma once

#include "Result.h"

#include <QString>

#include <optional>

// Passwords the system keeps for a (service, account) pair: the login keychain on macOS
// (generic passwords), the Secret Service on Linux (items with the attributes "service" and
// "account", so `secret-tool lookup service S account A` finds them).
//
// Calls may block for a while (the Secret Service answers over D-Bus, the keychain may ask to
// unlock), so windows make them off their own thread: every implementation may be called
// from any thread.
class CredentialStore {
public:
    virtual ~CredentialStore() = default;

    // The stored password; nothing when there is none or it cannot be read.
    virtual std::optional<QString> load(const QString& service, const QString& account) = 0;
    // Replaces whatever is stored for the pair; fails with the reason it was not stored.
    virtual Result<void> save(const QString& service, const QString& account,
                              const QString& password) = 0;
    // Forgets the pair's password; nothing to report when there was none.
    virtual void remove(const QString& service, const QString& account) = 0;
};

// The store of the system the program runs on.
class SystemCredentialStore final : public CredentialStore {
public:
    std::optional<QString> load(const QString& service, const QString& account) override;
    Result<void> save(const QString& service, const QString& account,
                      const QString& password) override;
    void remove(const QString& service, const QString& account) override;
};
