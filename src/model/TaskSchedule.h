#pragma once

#include "Result.h"
#include "ScheduleKinds.h"
#include "TimeOfDay.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <type_traits>
#include <variant>

// When a task runs: one of the cases ScheduleKinds describes, in the order of its list.
class TaskSchedule {
public:
    using Kind = ScheduleKinds::Kind;
    using Value = ScheduleKinds::Variant;

    // The cases by their usual names; any case of the list works wherever these do.
    using RunAtLoad = ScheduleKinds::RunAtLoad;
    using Interval = ScheduleKinds::Interval;
    using Daily = ScheduleKinds::Daily;
    using Weekly = ScheduleKinds::Weekly;
    using Monthly = ScheduleKinds::Monthly;
    using MonthlyLastDay = ScheduleKinds::MonthlyLastDay;
    using MonthlyNthWeekday = ScheduleKinds::MonthlyNthWeekday;

    TaskSchedule() = default;
    // Any case converts implicitly: TaskSchedule s = TaskSchedule::Daily{times};
    template <typename Case>
    requires std::is_constructible_v<Value, Case&&> &&
        (!std::is_same_v<std::remove_cvref_t<Case>, TaskSchedule>)TaskSchedule(Case&& value)
        : m_value(std::forward<Case>(value))
    {}

    // A schedule of one case, its payload in member order:
    // TaskSchedule::of<TaskSchedule::Weekly>({{2, 6}, times}).
    template <typename Case>
    requires std::is_constructible_v<Value, Case&&>
    static TaskSchedule of(Case value = {}) { return TaskSchedule(std::move(value)); }

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

// The variant, the kinds' descriptions and the task file's case names follow one list.
static_assert(
    []<size_t... I>(std::index_sequence<I...>) {
        return ((std::is_same_v<std::variant_alternative_t<I, TaskSchedule::Value>,
                                ScheduleKinds::CaseAt<I>> &&
                 TaskFields::caseNames[I] ==
                     ScheduleKinds::Traits<
                         std::variant_alternative_t<I, TaskSchedule::Value>>::caseName &&
                 ScheduleKinds::kindOf<std::variant_alternative_t<I, TaskSchedule::Value>> ==
                     TaskSchedule::Kind(I)) &&
                ...);
    }(std::make_index_sequence<std::variant_size_v<TaskSchedule::Value>>{}),
    "TaskSchedule::Value, its Kind and the case names must follow the kinds' list");
