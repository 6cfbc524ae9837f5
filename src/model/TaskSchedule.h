#pragma once

#include "Result.h"
#include "TimeOfDay.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <limits>
#include <type_traits>
#include <variant>

// The values a stored schedule may hold; the task file readers refuse anything else, so every
// use of them (minutes of the day, guard bounds, wake times) stays within its range. The fifth
// occurrence of a weekday is kept: the wrapper and the wake rule handle it.
namespace ScheduleLimits {
struct Range {
    int low;
    int high;
    constexpr bool contains(qint64 value) const { return value >= low && value <= high; }
};
inline constexpr Range hour{0, 23};
inline constexpr Range minute{0, 59};
inline constexpr Range dayOfMonth{1, 31};
inline constexpr Range weekday{1, 7};
inline constexpr Range nth{1, 5};
inline constexpr Range intervalMinutes{1, std::numeric_limits<int>::max()};
} // namespace ScheduleLimits

// When a task runs: a tagged union of seven cases. Weekdays are 1 = Sunday ... 7 = Saturday.
class TaskSchedule {
public:
    enum class Kind {
        runAtLoad,
        interval,
        daily,
        weekly,
        monthly,
        monthlyLastDay,
        monthlyNthWeekday
    };

    struct RunAtLoad {
        friend bool operator==(const RunAtLoad&, const RunAtLoad&) = default;
    };
    struct Interval {
        int minutes = 0;
        friend bool operator==(const Interval&, const Interval&) = default;
    };
    struct Daily {
        QList<TimeOfDay> times;
        friend bool operator==(const Daily&, const Daily&) = default;
    };
    struct Weekly {
        QList<int> weekdays;
        QList<TimeOfDay> times;
        friend bool operator==(const Weekly&, const Weekly&) = default;
    };
    struct Monthly {
        int day = 1;
        QList<TimeOfDay> times;
        friend bool operator==(const Monthly&, const Monthly&) = default;
    };
    struct MonthlyLastDay {
        QList<TimeOfDay> times;
        friend bool operator==(const MonthlyLastDay&, const MonthlyLastDay&) = default;
    };
    struct MonthlyNthWeekday {
        int nth = 1;
        int weekday = 1;
        QList<TimeOfDay> times;
        friend bool operator==(const MonthlyNthWeekday&, const MonthlyNthWeekday&) = default;
    };
    using Value = std::variant<RunAtLoad, Interval, Daily, Weekly, Monthly, MonthlyLastDay,
                               MonthlyNthWeekday>;

    TaskSchedule() = default;
    // Any case converts implicitly: TaskSchedule s = TaskSchedule::Daily{times};
    template <typename Case>
    requires std::is_constructible_v<Value, Case&&> &&
        (!std::is_same_v<std::remove_cvref_t<Case>, TaskSchedule>)TaskSchedule(Case&& value)
        : m_value(std::forward<Case>(value))
    {}

    static TaskSchedule runAtLoad() { return RunAtLoad{}; }
    static TaskSchedule interval(int minutes) { return Interval{minutes}; }
    static TaskSchedule daily(QList<TimeOfDay> times) { return Daily{std::move(times)}; }
    static TaskSchedule weekly(QList<int> weekdays, QList<TimeOfDay> times)
    {
        return Weekly{std::move(weekdays), std::move(times)};
    }
    static TaskSchedule monthly(int day, QList<TimeOfDay> times)
    {
        return Monthly{day, std::move(times)};
    }
    static TaskSchedule monthlyLastDay(QList<TimeOfDay> times)
    {
        return MonthlyLastDay{std::move(times)};
    }
    static TaskSchedule monthlyNthWeekday(int nth, int weekday, QList<TimeOfDay> times)
    {
        return MonthlyNthWeekday{nth, weekday, std::move(times)};
    }

    Kind kind() const { return static_cast<Kind>(m_value.index()); }
    const Value& value() const { return m_value; }
    template <typename T> const T* as() const { return std::get_if<T>(&m_value); }
    template <typename T> T* as() { return std::get_if<T>(&m_value); }

    // The times of the calendar cases in stored order; empty for interval and run at load.
    QList<TimeOfDay> times() const;

    // The one-line text the task list, the detail and `brenmor-ops list` show.
    QString summary() const;

    // The case name used as the JSON key ("runAtLoad", "interval", ...).
    static QString caseName(Kind kind);

    QJsonObject toJson() const;
    static Result<TaskSchedule> fromJson(const QJsonValue& json);

    friend bool operator==(const TaskSchedule&, const TaskSchedule&) = default;

private:
    Value m_value = RunAtLoad{};
};

size_t qHash(const TaskSchedule& schedule, size_t seed = 0);

namespace ScheduleText {
// "Sun" ... "Sat" for 1 ... 7, "?" otherwise.
QString weekdayAbbreviation(int weekday);
// "Sunday" ... "Saturday" for 1 ... 7, "Unknown" otherwise.
QString weekdayName(int weekday);
// "1st" ... "4th" for 1 ... 4.
QString ordinal(int nth);
// Sorted times joined with ", ".
QString joinedTimes(const QList<TimeOfDay>& times);
} // namespace ScheduleText
