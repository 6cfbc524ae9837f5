#include "JsonDecode.h"

#include "TaskFields.h"

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

namespace {

QUuid toUuid(const QJsonValue& value, const Path& path)
{
    const QString text = toString(value, path);
    const QUuid id = QUuid::fromString(text);
    // Only the canonical 36-character form is accepted (no braces).
    if ((id.isNull() && text != QStringLiteral("00000000-0000-0000-0000-000000000000")) ||
        text.size() != 36)
        fail(path, QStringLiteral("\"%1\" is not a valid identifier").arg(text));
    return id;
}

template <TaskFields::Described T>
void decodeInto(T& value, const QJsonValue& json, const Path& path);

// Reads one value of the member's type.
struct ValueReader {
    const TaskFields::Field& field;
    const Path& path;

    void operator()(QUuid& id, const QJsonValue& json) const { id = toUuid(json, path); }
    void operator()(QString& text, const QJsonValue& json) const { text = toString(json, path); }
    void operator()(std::optional<QString>& text, const QJsonValue& json) const
    {
        text = toString(json, path);
    }
    void operator()(bool& flag, const QJsonValue& json) const { flag = toBool(json, path); }
    void operator()(double& number, const QJsonValue& json) const { number = toDouble(json, path); }
    void operator()(int& number, const QJsonValue& json) const
    {
        number = field.range ? toIntIn(json, path, field.range->low, field.range->high)
                             : toInt32(json, path);
    }
    void operator()(TaskSchedule& schedule, const QJsonValue& json) const
    {
        schedule = decodeSchedule(json, path);
    }
    template <typename E> void operator()(QList<E>& list, const QJsonValue& json) const
    {
        const QJsonArray array = toArray(json, path);
        list.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i)
            ValueReader{field, index(path, i)}(list.emplace_back(), array.at(i));
    }
    template <TaskFields::Described T> void operator()(T& value, const QJsonValue& json) const
    {
        decodeInto(value, json, path);
    }
};

// An object's described fields, in the order they are described.
template <TaskFields::Described T>
void decodeInto(T& value, const QJsonValue& json, const Path& path)
{
    const QJsonObject object = toObject(json, path);
    TaskFields::visitFields(value, [&](const TaskFields::Field& field, auto& member) {
        const QString key = QLatin1StringView(field.name.data(), qsizetype(field.name.size()));
        constexpr bool mayBeAbsent =
            std::is_same_v<std::remove_reference_t<decltype(member)>, std::optional<QString>>;
        if (mayBeAbsent || field.optional) {
            if (const auto found = JsonDecode::optional(object, key))
                ValueReader{field, join(path, key)}(member, *found);
        } else {
            ValueReader{field, join(path, key)}(member, required(object, key, path));
        }
    });
}

} // namespace

TaskSchedule decodeSchedule(const QJsonValue& json, const Path& path)
{
    const QJsonObject outer = toObject(json, path);
    // Exactly one key naming a case; unknown names count as no key at all.
    size_t found = 0;
    int matches = 0;
    for (size_t i = 0; i < TaskFields::caseNames.size(); ++i) {
        const std::string_view name = TaskFields::caseNames[i];
        if (outer.contains(QLatin1StringView(name.data(), qsizetype(name.size())))) {
            found = i;
            ++matches;
        }
    }
    if (matches != 1)
        fail(path, QStringLiteral("Invalid number of keys found, expected one."));
    const std::string_view name = TaskFields::caseNames[found];
    const QString key = QLatin1StringView(name.data(), qsizetype(name.size()));
    const Path casePath = join(path, key);
    TaskSchedule schedule;
    TaskFields::withCase(found, [&]<typename Case>() {
        Case payload;
        decodeInto(payload, outer.value(key), casePath);
        schedule = std::move(payload);
    });
    return schedule;
}

ScheduledTask decodeTask(const QJsonValue& json, const Path& path)
{
    ScheduledTask task;
    decodeInto(task, json, path);
    return task;
}

TaskLog decodeLog(const QJsonValue& json, const Path& path)
{
    TaskLog log;
    decodeInto(log, json, path);
    return log;
}

} // namespace JsonDecode
