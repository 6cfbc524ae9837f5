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

template <typename T>
Result<T> mismatch(const QJsonValue& value, const Path& path, const char* expected)
{
    return Result<T>::failure(failureText(
        path,
        QStringLiteral("expected %1 but found %2").arg(QLatin1String(expected), typeName(value))));
}

template <typename T> Result<T> failed(const Path& path, const QString& what)
{
    return Result<T>::failure(failureText(path, what));
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

QString failureText(const Path& path, const QString& what)
{
    const QString where = path.text();
    return where.isEmpty() ? what : QStringLiteral("%1: %2").arg(where, what);
}

Result<QJsonValue> required(const QJsonObject& object, const QString& key, const Path& path)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd())
        return failed<QJsonValue>(path, QStringLiteral("missing key \"%1\"").arg(key));
    return QJsonValue(it.value());
}

std::optional<QJsonValue> optional(const QJsonObject& object, const QString& key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd() || it.value().isNull())
        return std::nullopt;
    return it.value();
}

Result<QJsonObject> toObject(const QJsonValue& value, const Path& path)
{
    if (!value.isObject())
        return mismatch<QJsonObject>(value, path, "an object");
    return value.toObject();
}

Result<QJsonArray> toArray(const QJsonValue& value, const Path& path)
{
    if (!value.isArray())
        return mismatch<QJsonArray>(value, path, "an array");
    return value.toArray();
}

Result<QString> toString(const QJsonValue& value, const Path& path)
{
    if (!value.isString())
        return mismatch<QString>(value, path, "a string");
    return value.toString();
}

Result<bool> toBool(const QJsonValue& value, const Path& path)
{
    if (!value.isBool())
        return mismatch<bool>(value, path, "a boolean");
    return value.toBool();
}

Result<qint64> toInt(const QJsonValue& value, const Path& path)
{
    if (!value.isDouble())
        return mismatch<qint64>(value, path, "an integer");
    const double d = value.toDouble();
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (!std::isfinite(d) || std::trunc(d) != d || d >= 9223372036854775808.0 ||
        d < -9223372036854775808.0)
        return failed<qint64>(path, QStringLiteral("expected an integer but found %1").arg(d));
    return static_cast<qint64>(d);
}

Result<qint32> toInt32(const QJsonValue& value, const Path& path)
{
    const Result<qint64> v = toInt(value, path);
    if (!v)
        return Result<qint32>::failure(v.error());
    if (*v < std::numeric_limits<qint32>::min() || *v > std::numeric_limits<qint32>::max())
        return failed<qint32>(path,
                              QStringLiteral("number %1 does not fit a 32-bit integer").arg(*v));
    return static_cast<qint32>(*v);
}

Result<int> toIntIn(const QJsonValue& value, const Path& path, int low, int high)
{
    const Result<qint64> v = toInt(value, path);
    if (!v)
        return Result<int>::failure(v.error());
    if (*v < low || *v > high)
        return failed<int>(path, QStringLiteral("expected a number from %1 to %2 but found %3")
                                     .arg(low)
                                     .arg(high)
                                     .arg(*v));
    return static_cast<int>(*v);
}

Result<double> toDouble(const QJsonValue& value, const Path& path)
{
    if (!value.isDouble())
        return mismatch<double>(value, path, "a number");
    return value.toDouble();
}

namespace {

// Stores a read value in `target`, or passes the failure on.
template <typename T, typename U> Result<void> store(T& target, Result<U> read)
{
    if (!read)
        return Result<void>::failure(read.error());
    target = std::move(read).value();
    return {};
}

Result<QUuid> toUuid(const QJsonValue& value, const Path& path)
{
    const Result<QString> text = toString(value, path);
    if (!text)
        return Result<QUuid>::failure(text.error());
    const QUuid id = QUuid::fromString(*text);
    // Only the canonical 36-character form is accepted (no braces).
    if ((id.isNull() && *text != QStringLiteral("00000000-0000-0000-0000-000000000000")) ||
        text->size() != 36)
        return failed<QUuid>(path, QStringLiteral("\"%1\" is not a valid identifier").arg(*text));
    return id;
}

template <TaskFields::Described T>
Result<void> decodeInto(T& value, const QJsonValue& json, const Path& path);

// Reads one value of the member's type.
struct ValueReader {
    const TaskFields::Field& field;
    const Path& path;

    Result<void> operator()(QUuid& id, const QJsonValue& json) const
    {
        return store(id, toUuid(json, path));
    }
    Result<void> operator()(QString& text, const QJsonValue& json) const
    {
        return store(text, toString(json, path));
    }
    Result<void> operator()(std::optional<QString>& text, const QJsonValue& json) const
    {
        return store(text, toString(json, path));
    }
    Result<void> operator()(bool& flag, const QJsonValue& json) const
    {
        return store(flag, toBool(json, path));
    }
    Result<void> operator()(double& number, const QJsonValue& json) const
    {
        return store(number, toDouble(json, path));
    }
    Result<void> operator()(int& number, const QJsonValue& json) const
    {
        return field.range ? store(number, toIntIn(json, path, field.range->low, field.range->high))
                           : store(number, toInt32(json, path));
    }
    Result<void> operator()(TaskSchedule& schedule, const QJsonValue& json) const
    {
        return store(schedule, decodeSchedule(json, path));
    }
    template <typename E> Result<void> operator()(QList<E>& list, const QJsonValue& json) const
    {
        const Result<QJsonArray> array = toArray(json, path);
        if (!array)
            return Result<void>::failure(array.error());
        list.reserve(array->size());
        for (qsizetype i = 0; i < array->size(); ++i) {
            Result<void> element =
                ValueReader{field, index(path, i)}(list.emplace_back(), array->at(i));
            if (!element.ok())
                return element;
        }
        return {};
    }
    template <TaskFields::Described T>
    Result<void> operator()(T& value, const QJsonValue& json) const
    {
        return decodeInto(value, json, path);
    }
};

// An object's described fields, in the order they are described; the first fault is the
// object's.
template <TaskFields::Described T>
Result<void> decodeInto(T& value, const QJsonValue& json, const Path& path)
{
    const Result<QJsonObject> object = toObject(json, path);
    if (!object)
        return Result<void>::failure(object.error());
    Result<void> decoded;
    TaskFields::visitFields(value, [&](const TaskFields::Field& field, auto& member) {
        if (!decoded.ok())
            return;
        const QString key = QLatin1StringView(field.name.data(), qsizetype(field.name.size()));
        constexpr bool mayBeAbsent =
            std::is_same_v<std::remove_reference_t<decltype(member)>, std::optional<QString>>;
        if (mayBeAbsent || field.optional) {
            if (const auto found = JsonDecode::optional(*object, key))
                decoded = ValueReader{field, join(path, key)}(member, *found);
        } else if (const Result<QJsonValue> found = required(*object, key, path); !found) {
            decoded = Result<void>::failure(found.error());
        } else {
            decoded = ValueReader{field, join(path, key)}(member, *found);
        }
    });
    return decoded;
}

} // namespace

Result<TaskSchedule> decodeSchedule(const QJsonValue& json, const Path& path)
{
    const Result<QJsonObject> outer = toObject(json, path);
    if (!outer)
        return Result<TaskSchedule>::failure(outer.error());
    // Exactly one key naming a case; unknown names count as no key at all.
    size_t found = 0;
    int matches = 0;
    for (size_t i = 0; i < TaskFields::caseNames.size(); ++i) {
        const std::string_view name = TaskFields::caseNames[i];
        if (outer->contains(QLatin1StringView(name.data(), qsizetype(name.size())))) {
            found = i;
            ++matches;
        }
    }
    if (matches != 1)
        return failed<TaskSchedule>(path,
                                    QStringLiteral("Invalid number of keys found, expected one."));
    const std::string_view name = TaskFields::caseNames[found];
    const QString key = QLatin1StringView(name.data(), qsizetype(name.size()));
    const Path casePath = join(path, key);
    TaskSchedule schedule;
    Result<void> decoded;
    TaskFields::withCase(found, [&]<typename Case>() {
        Case payload;
        decoded = decodeInto(payload, outer->value(key), casePath);
        schedule = std::move(payload);
    });
    if (!decoded.ok())
        return Result<TaskSchedule>::failure(decoded.error());
    return schedule;
}

Result<ScheduledTask> decodeTask(const QJsonValue& json, const Path& path)
{
    ScheduledTask task;
    if (const Result<void> decoded = decodeInto(task, json, path); !decoded.ok())
        return Result<ScheduledTask>::failure(decoded.error());
    return task;
}

Result<TaskLog> decodeLog(const QJsonValue& json, const Path& path)
{
    TaskLog log;
    if (const Result<void> decoded = decodeInto(log, json, path); !decoded.ok())
        return Result<TaskLog>::failure(decoded.error());
    return log;
}

} // namespace JsonDecode
