#pragma once

#include <QtGlobal>

#include <limits>
#include <optional>
#include <string_view>

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

// How one stored field is named and checked; TaskFields.h lists the fields of a task, and each
// schedule kind lists its own payload's (ScheduleKinds.h).
namespace TaskFields {

struct Field {
    std::string_view name;
    // Missing or null leaves the member as constructed.
    bool optional = false;
    // Integers (and lists of them) must lie within it; without one an integer is 32-bit.
    std::optional<ScheduleLimits::Range> range = std::nullopt;
};

constexpr Field required(std::string_view name) { return {name}; }
constexpr Field optional(std::string_view name) { return {name, true}; }
constexpr Field within(std::string_view name, ScheduleLimits::Range range)
{
    return {name, false, range};
}

} // namespace TaskFields
