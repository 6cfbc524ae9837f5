#include "CredentialStore.h"

#include <libsecret/secret.h>

namespace {

// Matched by the two attributes alone, not by the schema name libsecret adds, so items stored
// by other tools under the same service and account (secret-tool, an earlier version) are the
// same item to us.
const SecretSchema* schema()
{
    static const SecretSchema passwordSchema = [] {
        SecretSchema s{};
        s.name = "com.brenmor-ops.Password";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[2] = {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &passwordSchema;
}

QString takeMessage(GError* error)
{
    if (!error)
        return QStringLiteral("The keyring did not say why.");
    QString message = QString::fromUtf8(error->message);
    g_error_free(error);
    return message;
}

} // namespace

std::optional<QString> SystemCredentialStore::load(const QString& service, const QString& account)
{
    const QByteArray serviceBytes = service.toUtf8();
    const QByteArray accountBytes = account.toUtf8();
    GError* error = nullptr;
    gchar* secret =
        secret_password_lookup_sync(schema(), nullptr, &error, "service", serviceBytes.constData(),
                                    "account", accountBytes.constData(), nullptr);
    if (error)
        g_error_free(error);
    if (!secret)
        return std::nullopt;
    QString password = QString::fromUtf8(secret);
    secret_password_free(secret);
    return password;
}

Result<void> SystemCredentialStore::save(const QString& service, const QString& account,
                                         const QString& password)
{
    // Cleared first: an item stored by another tool carries other attributes besides ours,
    // so storing alone would leave two items and the lookup could find the old one.
    remove(service, account);
    const QByteArray serviceBytes = service.toUtf8();
    const QByteArray accountBytes = account.toUtf8();
    const QByteArray passwordBytes = password.toUtf8();
    const QByteArray label = (QStringLiteral("Brenmor Ops: ") + account).toUtf8();
    GError* error = nullptr;
    const gboolean stored = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.constData(), passwordBytes.constData(), nullptr,
        &error, "service", serviceBytes.constData(), "account", accountBytes.constData(), nullptr);
    if (stored && !error)
        return {};
    return Result<void>::failure(takeMessage(error));
}

void SystemCredentialStore::remove(const QString& service, const QString& account)
{
    const QByteArray serviceBytes = service.toUtf8();
    const QByteArray accountBytes = account.toUtf8();
    GError* error = nullptr;
    secret_password_clear_sync(schema(), nullptr, &error, "service", serviceBytes.constData(),
                               "account", accountBytes.constData(), nullptr);
    if (error)
        g_error_free(error);
}
