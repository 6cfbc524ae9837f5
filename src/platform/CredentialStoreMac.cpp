#include "CredentialStore.h"

#include <QByteArray>

#include <Security/Security.h>

// The login keychain through the file-based keychain calls: the generated mail command reads
// the password back with `security find-generic-password`, which cannot see items in the
// data-protection keychain.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"

namespace {

UInt32 length(const QByteArray& bytes) { return static_cast<UInt32>(bytes.size()); }

QString statusMessage(OSStatus status)
{
    CFStringRef text = SecCopyErrorMessageString(status, nullptr);
    if (!text)
        return QStringLiteral("Keychain error %1.").arg(status);
    const QString message = QString::fromCFString(text);
    CFRelease(text);
    return message;
}

} // namespace

std::optional<QString> SystemCredentialStore::load(const QString& service, const QString& account)
{
    const QByteArray serviceBytes = service.toUtf8();
    const QByteArray accountBytes = account.toUtf8();
    UInt32 dataLength = 0;
    void* data = nullptr;
    const OSStatus status = SecKeychainFindGenericPassword(
        nullptr, length(serviceBytes), serviceBytes.constData(), length(accountBytes),
        accountBytes.constData(), &dataLength, &data, nullptr);
    if (status != errSecSuccess || !data)
        return std::nullopt;
    QString password =
        QString::fromUtf8(static_cast<const char*>(data), static_cast<qsizetype>(dataLength));
    SecKeychainItemFreeContent(nullptr, data);
    return password;
}

Result<void> SystemCredentialStore::save(const QString& service, const QString& account,
                                         const QString& password)
{
    remove(service, account);
    const QByteArray serviceBytes = service.toUtf8();
    const QByteArray accountBytes = account.toUtf8();
    const QByteArray passwordBytes = password.toUtf8();
    const OSStatus status = SecKeychainAddGenericPassword(
        nullptr, length(serviceBytes), serviceBytes.constData(), length(accountBytes),
        accountBytes.constData(), length(passwordBytes), passwordBytes.constData(), nullptr);
    if (status == errSecSuccess)
        return {};
    return Result<void>::failure(statusMessage(status));
}

void SystemCredentialStore::remove(const QString& service, const QString& account)
{
    const QByteArray serviceBytes = service.toUtf8();
    const QByteArray accountBytes = account.toUtf8();
    SecKeychainItemRef item = nullptr;
    const OSStatus status = SecKeychainFindGenericPassword(
        nullptr, length(serviceBytes), serviceBytes.constData(), length(accountBytes),
        accountBytes.constData(), nullptr, nullptr, &item);
    if (status == errSecSuccess && item)
        SecKeychainItemDelete(item);
    if (item)
        CFRelease(item);
}

#pragma clang diagnostic pop
