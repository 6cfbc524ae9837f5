#include "TaskSchedule.h"

#include "JsonDecode.h"
#include "Result.h"

#include <QHashFunctions>
#include <QJsonArray>
#include <QStringList>

#include <algorithm>
#include <array>

using namespace JsonDecode;

namespace ScheduleText {

QString weekdayAbbreviation(int weekday)
{
    static const std::array<const char*, 7> names = {"Sun", "Mon", "Tue", "Wed",
                                                     "Thu", "Fri", "Sat"};
    if (weekday < 1 || weekday > 7)
        return QStringLiteral("?");
    return QLatin1String(names[static_cast<size_t>(weekday - 1)]);
}

QString weekdayName(int weekday)
{
    static const std::array<const char*, 7> names = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                     "Thursday", "Friday", "Saturday"};
    if (weekday < 1 || weekday > 7)
        return QStringLiteral("Unknown");
    return QLatin1String(names[static_cast<size_t>(weekday - 1)]);
}

QString ordinal(int nth)
{
    static const std::array<const char*, 4> names = {"1st", "2nd", "3rd", "4th"};
    if (nth >= 1 && nth <= 4)
        return QLatin1String(names[static_cast<size_t>(nth - 1)]);
    // Only 1 to 4 are ever stored; anything else still reads sensibly.
    if (nth == 5)
        return QStringLiteral("5th");
    return QStringLiteral("%1th").arg(nth);
}

QString joinedTimes(const QList<TimeOfDay>& times)
{
    QStringList parts;
    for (const TimeOfDay& time : sortedTimes(times))
        parts << time.text();
    return parts.join(QStringLiteral(", "));
}

} // namespace ScheduleText

namespace {

struct SummaryVisitor {
    QString operator()(const TaskSchedule::RunAtLoad&) const
    {
        return QStringLiteral("Run at load");
    }
    QString operator()(const TaskSchedule::Interval& s) const
    {
        return QStringLiteral("Every %1 min").arg(s.minutes);
    }
    QString operator()(const TaskSchedule::Daily& s) const
    {
        return QStringLiteral("Daily at ") + ScheduleText::joinedTimes(s.times);
    }
    QString operator()(const TaskSchedule::Weekly& s) const
    {
        QList<int> days = s.weekdays;
        std::sort(days.begin(), days.end());
        QStringList names;
        for (int day : days)
            names << ScheduleText::weekdayAbbreviation(day);
        return names.join(QStringLiteral(", ")) + QStringLiteral(" at ") +
               ScheduleText::joinedTimes(s.times);
    }
    QString operator()(const TaskSchedule::Monthly& s) const
    {
        return QStringLiteral("Monthly on day %1 at ").arg(s.day) +
               ScheduleText::joinedTimes(s.times);
    }
    QString operator()(const TaskSchedule::MonthlyLastDay& s) const
    {
        return QStringLiteral("Last day of month at ") + ScheduleText::joinedTimes(s.times);
    }
    QString operator()(const TaskSchedule::MonthlyNthWeekday& s) const
    {
        return ScheduleText::ordinal(s.nth) + QLatin1Char(' ') +
               ScheduleText::weekdayName(s.weekday) + QStringLiteral(" at ") +
               ScheduleText::joinedTimes(s.times);
    }
};

QJsonArray timesToJson(const QList<TimeOfDay>& times)
{
    QJsonArray array;
    for (const TimeOfDay& time : times)
        array.append(QJsonObject{{QStringLiteral("hour"), time.hour},
                                 {QStringLiteral("minute"), time.minute}});
    return array;
}

QJsonArray intsToJson(const QList<int>& values)
{
    QJsonArray array;
    for (int value : values)
        array.append(value);
    return array;
}

struct JsonVisitor {
    QJsonObject operator()(const TaskSchedule::RunAtLoad&) const { return {}; }
    QJsonObject operator()(const TaskSchedule::Interval& s) const
    {
        return {{QStringLiteral("minutes"), s.minutes}};
    }
    QJsonObject operator()(const TaskSchedule::Daily& s) const
    {
        return {{QStringLiteral("times"), timesToJson(s.times)}};
    }
    QJsonObject operator()(const TaskSchedule::Weekly& s) const
    {
        return {{QStringLiteral("weekdays"), intsToJson(s.weekdays)},
                {QStringLiteral("times"), timesToJson(s.times)}};
    }
    QJsonObject operator()(const TaskSchedule::Monthly& s) const
    {
        return {{QStringLiteral("day"), s.day}, {QStringLiteral("times"), timesToJson(s.times)}};
    }
    QJsonObject operator()(const TaskSchedule::MonthlyLastDay& s) const
    {
        return {{QStringLiteral("times"), timesToJson(s.times)}};
    }
    QJsonObject operator()(const TaskSchedule::MonthlyNthWeekday& s) const
    {
        return {{QStringLiteral("nth"), s.nth},
                {QStringLiteral("weekday"), s.weekday},
                {QStringLiteral("times"), timesToJson(s.times)}};
    }
};

int intField(const QJsonObject& object, const char* key, const Path& path,
             ScheduleLimits::Range range)
{
    const QString name = QLatin1String(key);
    return toIntIn(required(object, name, path), join(path, name), range.low, range.high);
}

QList<TimeOfDay> timesFromJson(const QJsonObject& payload, const Path& path)
{
    const Path timesPath = join(path, QStringLiteral("times"));
    const QJsonArray array = toArray(required(payload, QStringLiteral("times"), path), timesPath);
    QList<TimeOfDay> times;
    times.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const Path itemPath = index(timesPath, i);
        const QJsonObject item = toObject(array.at(i), itemPath);
        times.append(TimeOfDay{intField(item, "hour", itemPath, ScheduleLimits::hour),
                               intField(item, "minute", itemPath, ScheduleLimits::minute)});
    }
    return times;
}

QList<int> intsFromJson(const QJsonObject& payload, const char* key, const Path& path,
                        ScheduleLimits::Range range)
{
    const QString name = QLatin1String(key);
    const Path listPath = join(path, name);
    const QJsonArray array = toArray(required(payload, name, path), listPath);
    QList<int> values;
    values.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        values.append(toIntIn(array.at(i), index(listPath, i), range.low, range.high));
    return values;
}

TaskSchedule decodeCase(TaskSchedule::Kind kind, const QJsonObject& payload, const Path& path)
{
    using K = TaskSchedule::Kind;
    switch (kind) {
    case K::runAtLoad:
        return TaskSchedule::runAtLoad();
    case K::interval:
        return TaskSchedule::interval(
            intField(payload, "minutes", path, ScheduleLimits::intervalMinutes));
    case K::daily:
        return TaskSchedule::daily(timesFromJson(payload, path));
    case K::weekly:
        return TaskSchedule::weekly(
            intsFromJson(payload, "weekdays", path, ScheduleLimits::weekday),
            timesFromJson(payload, path));
    case K::monthly:
        return TaskSchedule::monthly(intField(payload, "day", path, ScheduleLimits::dayOfMonth),
                                     timesFromJson(payload, path));
    case K::monthlyLastDay:
        return TaskSchedule::monthlyLastDay(timesFromJson(payload, path));
    case K::monthlyNthWeekday:
        return TaskSchedule::monthlyNthWeekday(
            intField(payload, "nth", path, ScheduleLimits::nth),
            intField(payload, "weekday", path, ScheduleLimits::weekday),
            timesFromJson(payload, path));
    }
    fail(path, QStringLiteral("unknown schedule"));
}

constexpr std::array allKinds = {TaskSchedule::Kind::runAtLoad,
                                 TaskSchedule::Kind::interval,
                                 TaskSchedule::Kind::daily,
                                 TaskSchedule::Kind::weekly,
                                 TaskSchedule::Kind::monthly,
                                 TaskSchedule::Kind::monthlyLastDay,
                                 TaskSchedule::Kind::monthlyNthWeekday};

} // namespace

QString TaskSchedule::caseName(Kind kind)
{
    switch (kind) {
    case Kind::runAtLoad:
        return QStringLiteral("runAtLoad");
    case Kind::interval:
        return QStringLiteral("interval");
    case Kind::daily:
        return QStringLiteral("daily");
    case Kind::weekly:
        return QStringLiteral("weekly");
    case Kind::monthly:
        return QStringLiteral("monthly");
    case Kind::monthlyLastDay:
        return QStringLiteral("monthlyLastDay");
    case Kind::monthlyNthWeekday:
        return QStringLiteral("monthlyNthWeekday");
    }
    return {};
}

QList<TimeOfDay> TaskSchedule::times() const
{
    return std::visit(
        [](const auto& s) -> QList<TimeOfDay> {
            if constexpr (requires { s.times; })
                return s.times;
            else
                return {};
        },
        m_value);
}

QString TaskSchedule::summary() const { return std::visit(SummaryVisitor{}, m_value); }

QJsonObject TaskSchedule::toJson() const
{
    return {{caseName(kind()), std::visit(JsonVisitor{}, m_value)}};
}

namespace JsonDecode {
// Used by ScheduledTask::fromJson, which decodes a schedule in the middle of a task.
TaskSchedule decodeSchedule(const QJsonValue& json, const Path& path)
{
    const QJsonObject outer = toObject(json, path);
    // Exactly one key naming a case; unknown names count as no key at all.
    std::optional<TaskSchedule::Kind> found;
    int matches = 0;
    for (TaskSchedule::Kind kind : allKinds) {
        if (outer.contains(TaskSchedule::caseName(kind))) {
            found = kind;
            ++matches;
        }
    }
    if (matches != 1)
        fail(path, QStringLiteral("Invalid number of keys found, expected one."));
    const QString name = TaskSchedule::caseName(*found);
    const Path casePath = join(path, name);
    return decodeCase(*found, toObject(outer.value(name), casePath), casePath);
}
} // namespace JsonDecode

Result<TaskSchedule> TaskSchedule::fromJson(const QJsonValue& json)
{
    try {
        return decodeSchedule(json, Path{});
    } catch (const DecodeFailure& failure) {
        return Result<TaskSchedule>::failure(failure.message);
    }
}

size_t qHash(const TaskSchedule& schedule, size_t seed)
{
    seed = qHashMulti(seed, static_cast<int>(schedule.kind()));
    for (const TimeOfDay& time : schedule.times())
        seed = qHash(time, seed);
    std::visit(
        [&seed](const auto& s) {
            if constexpr (requires { s.minutes; })
                seed = qHashMulti(seed, s.minutes);
            if constexpr (requires { s.weekdays; })
                for (int day : s.weekdays)
                    seed = qHashMulti(seed, day);
            if constexpr (requires { s.day; })
                seed = qHashMulti(seed, s.day);
            if constexpr (requires { s.nth; })
                seed = qHashMulti(seed, s.nth, s.weekday);
        },
        schedule.value());
    return seed;
}
