#include "JsonDecode.h"

#include <cmath>
#include <limits>

namespace JsonDecode {

namespace {
QString typeName(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

[[noreturn]] void mismatch(const QJsonValue& value, const Path& path, const char* expected)
{
    fail(path,
         QStringLiteral("expected %1 but found %2").arg(QLatin1String(expected), typeName(value)));
}
} // namespace

QString Path::text() const
{
    QString prefix = parent ? parent->text() : QString();
    if (index >= 0)
        return prefix + QStringLiteral("[%1]").arg(index);
    if (key.isEmpty())
        return prefix;
    return prefix.isEmpty() ? key.toString() : prefix + QLatin1Char('.') + key.toString();
}

void fail(const Path& path, const QString& what)
{
    const QString where = path.text();
    throw DecodeFailure{where.isEmpty() ? what : QStringLiteral("%1: %2").arg(where, what)};
}

QJsonValue required(const QJsonObject& object, const QString& key, const Path& path)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd())
        fail(path, QStringLiteral("missing key \"%1\"").arg(key));
    return it.value();
}

std::optional<QJsonValue> optional(const QJsonObject& object, const QString& key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd() || it.value().isNull())
        return std::nullopt;
    return it.value();
}

QJsonObject toObject(const QJsonValue& value, const Path& path)
{
    if (!value.isObject())
        mismatch(value, path, "an object");
    return value.toObject();
}

QJsonArray toArray(const QJsonValue& value, const Path& path)
{
    if (!value.isArray())
        mismatch(value, path, "an array");
    return value.toArray();
}

QString toString(const QJsonValue& value, const Path& path)
{
    if (!value.isString())
        mismatch(value, path, "a string");
    return value.toString();
}

bool toBool(const QJsonValue& value, const Path& path)
{
    if (!value.isBool())
        mismatch(value, path, "a boolean");
    return value.toBool();
}

qint64 toInt(const QJsonValue& value, const Path& path)
{
    if (!value.isDouble())
        mismatch(value, path, "an integer");
    const double d = value.toDouble();
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (!std::isfinite(d) || std::trunc(d) != d || d >= 9223372036854775808.0 ||
        d < -9223372036854775808.0)
        fail(path, QStringLiteral("expected an integer but found %1").arg(d));
    return static_cast<qint64>(d);
}

qint32 toInt32(const QJsonValue& value, const Path& path)
{
    const qint64 v = toInt(value, path);
    if (v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max())
        fail(path, QStringLiteral("number %1 does not fit a 32-bit integer").arg(v));
    return static_cast<qint32>(v);
}

int toIntIn(const QJsonValue& value, const Path& path, int low, int high)
{
    const qint64 v = toInt(value, path);
    if (v < low || v > high)
        fail(path, QStringLiteral("expected a number from %1 to %2 but found %3")
                       .arg(low)
                       .arg(high)
                       .arg(v));
    return static_cast<int>(v);
}

double toDouble(const QJsonValue& value, const Path& path)
{
    if (!value.isDouble())
        mismatch(value, path, "a number");
    return value.toDouble();
}

} // namespace JsonDecode
