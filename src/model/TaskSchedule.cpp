#include "TaskSchedule.h"

#include "JsonDecode.h"
#include "Result.h"
#include "ScheduleKinds.h"
#include "TaskFields.h"
#include "TaskJsonWriter.h"

#include <QHashFunctions>
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

QString TaskSchedule::caseName(Kind kind)
{
    const std::string_view name = TaskFields::caseNames[static_cast<size_t>(kind)];
    return QLatin1StringView(name.data(), qsizetype(name.size()));
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

QString TaskSchedule::summary() const
{
    return ScheduleKinds::visit(*this,
                                [](auto traits, const auto& s) { return traits.summary(s); });
}

QJsonObject TaskSchedule::toJson() const { return TaskJsonWriter::object(*this); }

Result<TaskSchedule> TaskSchedule::fromJson(const QJsonValue& json)
{
    return decodeSchedule(json, Path{});
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
