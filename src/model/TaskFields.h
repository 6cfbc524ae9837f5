#pragma once

#include "FieldRules.h"
#include "ScheduledTask.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace ScheduleKinds {
template <typename Case> struct Traits;
}

// The one description of the task file's fields. Every reader and the writer walk these lists,
// so a field added here is read, checked and written everywhere, or fails to compile.
//
// A visitor is called as v(field, member) once per field, in the order the decoder checks
// them (which decides the message when a task has several faults); the writer sorts by name.
// The member's type says how it is stored: QUuid as its canonical text, std::optional<QString>
// as a string that may be missing or null, QList<int> as an array of integers within
// field.range, QList<T> as an array of described objects, TaskSchedule as one key naming a case.
namespace TaskFields {

template <typename T, typename U>
concept Same = std::is_same_v<std::remove_const_t<T>, U>;

template <Same<ScheduledTask> T, typename V> void visitFields(T& task, V&& v)
{
    v(required("id"), task.id);
    v(required("name"), task.name);
    v(required("command"), task.command);
    v(optional("workingDirectory"), task.workingDirectory);
    v(optional("envFilePath"), task.envFilePath);
    v(required("useLoginShell"), task.useLoginShell);
    v(optional("wakeBeforeRun"), task.wakeBeforeRun);
    v(required("schedule"), task.schedule);
    v(required("isEnabled"), task.isEnabled);
    v(required("logs"), task.logs);
}

template <Same<TaskLog> T, typename V> void visitFields(T& log, V&& v)
{
    v(required("id"), log.id);
    v(required("timestamp"), log.timestamp);
    v(required("exitCode"), log.exitCode);
    v(required("output"), log.output);
}

template <Same<TimeOfDay> T, typename V> void visitFields(T& time, V&& v)
{
    v(within("hour", ScheduleLimits::hour), time.hour);
    v(within("minute", ScheduleLimits::minute), time.minute);
}

// The payload of each schedule case, described with the kind (ScheduleKinds.h).
template <typename T, typename Variant> struct IsAlternative;
template <typename T, typename... Cases>
struct IsAlternative<T, std::variant<Cases...>>
    : std::bool_constant<(std::is_same_v<T, Cases> || ...)> {};
template <typename T>
concept ScheduleCase = IsAlternative<std::remove_const_t<T>, TaskSchedule::Value>::value;

template <ScheduleCase T, typename V> void visitFields(T& s, V&& v)
{
    ScheduleKinds::Traits<std::remove_const_t<T>>::fields(s, v);
}

// Whether a member is a nested described object (or a list of them) rather than a scalar.
template <typename T>
concept Described = requires(T& value)
{
    visitFields(value, [](const Field&, auto&) {});
};

// The positions of a struct's fields in the order of their names: the order the writers emit.
template <typename T> const std::vector<int>& nameOrder()
{
    static const std::vector<int> order = [] {
        std::vector<std::string_view> names;
        T sample{};
        visitFields(sample, [&](const Field& field, auto&) { names.push_back(field.name); });
        std::vector<int> positions(names.size());
        for (size_t i = 0; i < names.size(); ++i)
            positions[i] = int(i);
        std::sort(positions.begin(), positions.end(),
                  [&](int a, int b) { return names[size_t(a)] < names[size_t(b)]; });
        return positions;
    }();
    return order;
}

// Calls v(field, member) for each field of value in the order of their names.
template <typename T, typename V> void visitSorted(T& value, V&& v)
{
    for (const int wanted : nameOrder<std::remove_const_t<T>>()) {
        int position = 0;
        visitFields(value, [&](const Field& field, auto& member) {
            if (position++ == wanted)
                v(field, member);
        });
    }
}

} // namespace TaskFields

// The kinds' descriptions, with the schedule case names and withCase.
#include "ScheduleKinds.h"
