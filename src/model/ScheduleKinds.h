#pragma once

#include "FieldRules.h"
#include "TimeOfDay.h"

#include <QDate>
#include <QLatin1String>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

class TaskSchedule;

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

// Every schedule kind described once: its case (the payload a TaskSchedule holds) and one
// Traits specialisation beside it say everything that differs between the kinds (its JSON name and
// payload, the summary, how launchd starts it, the wrapper's guard, the wake event, on which
// days it runs, where it sits in the form and how the tool's `add` spells it). Everything else
// walks the cases through `visit` and `forEachKind`: the list `All` at the end makes the variant
// of TaskSchedule, the case names of the task file, the form's pickers and the tool's options,
// so a kind added to it and described here is handled everywhere, or fails to compile.
//
// A payload's fields (`fields`, read and written as TaskFields describes) list the times
// first: files have always been checked in this order, so a payload with several faults keeps
// naming the same one.
namespace ScheduleKinds {

// A kind's place in the list `All` (TaskSchedule::Kind); kindOf<Case> names one.
enum class Kind : int {};

// One StartCalendarInterval dictionary of the agent's plist: keys in the order written.
using CalendarEntry = QList<std::pair<QLatin1String, int>>;

// How launchd starts the agent.
struct LaunchTrigger {
    bool atLoad = false;
    std::optional<qint64> everySeconds;
    QList<CalendarEntry> calendar;
    // Written as an array even when there is only one entry.
    bool calendarAsArray = false;
};

// `date` spells "tomorrow" differently on BSD (macOS) and GNU (Linux).
enum class DateDialect { bsd, gnu };

// The wake event registered before a task's runs.
struct WakeRule {
    enum class Event { none, repeating, oneTime };
    Event event = Event::none;
    // Repeating: every day, or on the weekdays of the runs in stored order.
    bool everyDay = false;
    QList<int> weekdays;
    // One-time: the day of the month of the next run.
    int dayOfMonth = 0;
    // Whether `pmset -g sched` shows this task's own event: the repeating event by its time,
    // the one-time event by any one-time event listed.
    bool checkedByTime = false;
    bool checkedByOneTime = false;

    static WakeRule repeatingOn(QList<int> weekdays)
    {
        WakeRule rule;
        rule.event = Event::repeating;
        rule.weekdays = std::move(weekdays);
        return rule;
    }
    static WakeRule repeatingEveryDay()
    {
        WakeRule rule = repeatingOn({});
        rule.everyDay = true;
        return rule;
    }
};

// The timeline's colour family of a kind.
enum class Cadence { daily, weekly, monthly };

// Where the form shows a kind: its label in the kind picker or, for a kind of a group, the group's
// label there and its own in the second picker ("When"), which lists the group's kinds.
struct FormPlace {
    std::string_view group = {};
    std::string_view label = {};
};
struct FormFields {
    bool times = true;
    bool interval = false;
    bool weekdays = false;
    bool dayOfMonth = false;
    bool nthWeekday = false;
    bool runAtLoadCaption = false;
    bool lastDayCaption = false;
};

template <typename Case> struct Traits;

namespace Text {
inline QString times(const QList<TimeOfDay>& times) { return ScheduleText::joinedTimes(times); }
// launchd counts Sunday as 0; the model counts it as 1.
inline int launchdWeekday(int weekday) { return weekday - 1; }
inline CalendarEntry timeEntry(const TimeOfDay& time, CalendarEntry leading = {})
{
    leading << std::pair{QLatin1String("Hour"), time.hour}
            << std::pair{QLatin1String("Minute"), time.minute};
    return leading;
}
// Qt counts Monday = 1 ... Sunday = 7; the model counts Sunday = 1 ... Saturday = 7.
inline int weekdayNumber(QDate date) { return date.dayOfWeek() % 7 + 1; }
} // namespace Text

struct RunAtLoad {
    friend bool operator==(const RunAtLoad&, const RunAtLoad&) = default;
};

template <> struct Traits<RunAtLoad> {
    using Case = RunAtLoad;
    static constexpr std::string_view caseName = "runAtLoad";
    template <typename V> static void fields(auto&, V&&) {}
    static QString summary(const Case&) { return QStringLiteral("Run at load"); }
    static LaunchTrigger trigger(const Case&)
    {
        LaunchTrigger trigger;
        trigger.atLoad = true;
        return trigger;
    }
    static QStringList guard(const Case&, DateDialect) { return {}; }
    static WakeRule wake(const Case&) { return {}; }
    static constexpr bool calendar = false;
    static bool runsOn(const Case&, QDate) { return false; }
    static std::optional<int> everyMinutes(const Case&) { return std::nullopt; }
    static constexpr std::string_view nextRunNote = "Next run: at next login";
    static constexpr Cadence cadence = Cadence::daily;
    static constexpr FormPlace form{.label = "Run at load (login / reboot)"};
    static constexpr FormFields formFields{.times = false, .runAtLoadCaption = true};
    template <typename State> static void toForm(const Case&, State&) {}
    template <typename State> static Case fromForm(const State&, const QList<TimeOfDay>&)
    {
        return {};
    }
    static std::optional<QString> wakeNote(const Case&) { return std::nullopt; }
    static constexpr std::string_view cliOption = "--run-at-load";
    static constexpr std::string_view cliUsage = "  --run-at-load            Run at login";
    static constexpr int cliRank = 6;
    template <typename Args> static std::optional<Case> fromCli(Args&) { return Case{}; }
};

struct Interval {
    int minutes = 0;
    friend bool operator==(const Interval&, const Interval&) = default;
};

template <> struct Traits<Interval> {
    using Case = Interval;
    static constexpr std::string_view caseName = "interval";
    template <typename V> static void fields(auto& s, V&& v)
    {
        v(TaskFields::within("minutes", ScheduleLimits::intervalMinutes), s.minutes);
    }
    static QString summary(const Case& s) { return QStringLiteral("Every %1 min").arg(s.minutes); }
    static LaunchTrigger trigger(const Case& s)
    {
        LaunchTrigger trigger;
        trigger.everySeconds = qint64(s.minutes) * 60;
        return trigger;
    }
    static QStringList guard(const Case&, DateDialect) { return {}; }
    static WakeRule wake(const Case&) { return {}; }
    static constexpr bool calendar = false;
    static bool runsOn(const Case&, QDate) { return true; }
    static std::optional<int> everyMinutes(const Case& s) { return s.minutes; }
    static constexpr std::string_view nextRunNote = {};
    static constexpr Cadence cadence = Cadence::daily;
    static constexpr FormPlace form{.label = "Every N minutes"};
    static constexpr FormFields formFields{.times = false, .interval = true};
    template <typename State> static void toForm(const Case& s, State& state)
    {
        state.intervalMinutes = s.minutes;
    }
    template <typename State> static Case fromForm(const State& state, const QList<TimeOfDay>&)
    {
        return {state.intervalMinutes};
    }
    static std::optional<QString> wakeNote(const Case&) { return std::nullopt; }
    static constexpr std::string_view cliOption = "--interval";
    static constexpr std::string_view cliUsage = "  --interval <minutes>     Run every N minutes";
    static constexpr int cliRank = 5;
    template <typename Args> static std::optional<Case> fromCli(Args& args)
    {
        const std::optional<int> minutes = args.minutes();
        if (!minutes)
            return std::nullopt;
        return Case{*minutes};
    }
};

struct Daily {
    QList<TimeOfDay> times;
    friend bool operator==(const Daily&, const Daily&) = default;
};

template <> struct Traits<Daily> {
    using Case = Daily;
    static constexpr std::string_view caseName = "daily";
    template <typename V> static void fields(auto& s, V&& v)
    {
        v(TaskFields::required("times"), s.times);
    }
    static QString summary(const Case& s)
    {
        return QStringLiteral("Daily at ") + Text::times(s.times);
    }
    static LaunchTrigger trigger(const Case& s)
    {
        LaunchTrigger trigger;
        for (const TimeOfDay& time : s.times)
            trigger.calendar << Text::timeEntry(time);
        return trigger;
    }
    static QStringList guard(const Case&, DateDialect) { return {}; }
    static WakeRule wake(const Case&)
    {
        WakeRule rule = WakeRule::repeatingEveryDay();
        rule.checkedByTime = true;
        return rule;
    }
    static constexpr bool calendar = true;
    static bool runsOn(const Case&, QDate) { return true; }
    static std::optional<int> everyMinutes(const Case&) { return std::nullopt; }
    static constexpr std::string_view nextRunNote = {};
    static constexpr Cadence cadence = Cadence::daily;
    static constexpr FormPlace form{.label = "Daily"};
    static constexpr FormFields formFields{};
    template <typename State> static void toForm(const Case&, State&) {}
    template <typename State> static Case fromForm(const State&, const QList<TimeOfDay>& sorted)
    {
        return {sorted};
    }
    static std::optional<QString> wakeNote(const Case&) { return std::nullopt; }
    static constexpr std::string_view cliOption = "--daily";
    static constexpr std::string_view cliUsage = "  --daily HH:MM[,HH:MM]   Run daily at time(s)";
    static constexpr int cliRank = 0;
    template <typename Args> static std::optional<Case> fromCli(Args& args)
    {
        auto times = args.times();
        if (!times)
            return std::nullopt;
        return Case{std::move(*times)};
    }
};

// Weekdays are 1 = Sunday ... 7 = Saturday.
struct Weekly {
    QList<int> weekdays;
    QList<TimeOfDay> times;
    friend bool operator==(const Weekly&, const Weekly&) = default;
};

template <> struct Traits<Weekly> {
    using Case = Weekly;
    static constexpr std::string_view caseName = "weekly";
    template <typename V> static void fields(auto& s, V&& v)
    {
        v(TaskFields::required("times"), s.times);
        v(TaskFields::within("weekdays", ScheduleLimits::weekday), s.weekdays);
    }
    static QString summary(const Case& s)
    {
        QList<int> days = s.weekdays;
        std::sort(days.begin(), days.end());
        QStringList names;
        for (int day : days)
            names << ScheduleText::weekdayAbbreviation(day);
        return names.join(QStringLiteral(", ")) + QStringLiteral(" at ") + Text::times(s.times);
    }
    static LaunchTrigger trigger(const Case& s)
    {
        LaunchTrigger trigger;
        for (int weekday : s.weekdays)
            for (const TimeOfDay& time : s.times)
                trigger.calendar << Text::timeEntry(
                    time, {{QLatin1String("Weekday"), Text::launchdWeekday(weekday)}});
        return trigger;
    }
    static QStringList guard(const Case&, DateDialect) { return {}; }
    static WakeRule wake(const Case& s) { return WakeRule::repeatingOn(s.weekdays); }
    static constexpr bool calendar = true;
    static bool runsOn(const Case& s, QDate date)
    {
        return s.weekdays.contains(Text::weekdayNumber(date));
    }
    static std::optional<int> everyMinutes(const Case&) { return std::nullopt; }
    static constexpr std::string_view nextRunNote = {};
    static constexpr Cadence cadence = Cadence::weekly;
    static constexpr FormPlace form{.label = "Weekly"};
    static constexpr FormFields formFields{.weekdays = true};
    template <typename State> static void toForm(const Case& s, State& state)
    {
        state.weekdays = {s.weekdays.cbegin(), s.weekdays.cend()};
    }
    template <typename State>
    static Case fromForm(const State& state, const QList<TimeOfDay>& sorted)
    {
        QList<int> days(state.weekdays.cbegin(), state.weekdays.cend());
        std::sort(days.begin(), days.end());
        return {days, sorted};
    }
    static std::optional<QString> wakeNote(const Case&) { return std::nullopt; }
    static constexpr std::string_view cliOption = "--weekly";
    static constexpr std::string_view cliUsage =
        "  --weekly days HH:MM[,…]  Run on days (mon,wed,fri) at time(s)";
    static constexpr int cliRank = 1;
    template <typename Args> static std::optional<Case> fromCli(Args& args)
    {
        auto weekdays = args.weekdays();
        if (!weekdays)
            return std::nullopt;
        auto times = args.times();
        if (!times)
            return std::nullopt;
        return Case{std::move(*weekdays), std::move(*times)};
    }
};

struct Monthly {
    int day = 1;
    QList<TimeOfDay> times;
    friend bool operator==(const Monthly&, const Monthly&) = default;
};

template <> struct Traits<Monthly> {
    using Case = Monthly;
    static constexpr std::string_view caseName = "monthly";
    template <typename V> static void fields(auto& s, V&& v)
    {
        v(TaskFields::required("times"), s.times);
        v(TaskFields::within("day", ScheduleLimits::dayOfMonth), s.day);
    }
    static QString summary(const Case& s)
    {
        return QStringLiteral("Monthly on day %1 at ").arg(s.day) + Text::times(s.times);
    }
    static LaunchTrigger trigger(const Case& s)
    {
        LaunchTrigger trigger;
        for (const TimeOfDay& time : s.times)
            trigger.calendar << Text::timeEntry(time, {{QLatin1String("Day"), s.day}});
        return trigger;
    }
    static QStringList guard(const Case&, DateDialect) { return {}; }
    // pmset repeats only by weekday: each month's run gets a one-time event of its own.
    static WakeRule wake(const Case& s)
    {
        WakeRule rule;
        rule.event = WakeRule::Event::oneTime;
        rule.dayOfMonth = s.day;
        rule.checkedByOneTime = true;
        return rule;
    }
    static constexpr bool calendar = true;
    static bool runsOn(const Case& s, QDate date) { return date.day() == s.day; }
    static std::optional<int> everyMinutes(const Case&) { return std::nullopt; }
    static constexpr std::string_view nextRunNote = {};
    static constexpr Cadence cadence = Cadence::monthly;
    static constexpr FormPlace form{.group = "Monthly", .label = "Specific day"};
    static constexpr FormFields formFields{.dayOfMonth = true};
    template <typename State> static void toForm(const Case& s, State& state)
    {
        state.dayOfMonth = s.day;
    }
    template <typename State>
    static Case fromForm(const State& state, const QList<TimeOfDay>& sorted)
    {
        return {state.dayOfMonth, sorted};
    }
    static std::optional<QString> wakeNote(const Case&) { return std::nullopt; }
    static constexpr std::string_view cliOption = "--monthly";
    static constexpr std::string_view cliUsage =
        "  --monthly day HH:MM[,…]  Run on day of month at time(s)";
    static constexpr int cliRank = 2;
    template <typename Args> static std::optional<Case> fromCli(Args& args)
    {
        const std::optional<int> day = args.dayOfMonth();
        if (!day)
            return std::nullopt;
        auto times = args.times();
        if (!times)
            return std::nullopt;
        return Case{*day, std::move(*times)};
    }
};

struct MonthlyLastDay {
    QList<TimeOfDay> times;
    friend bool operator==(const MonthlyLastDay&, const MonthlyLastDay&) = default;
};

template <> struct Traits<MonthlyLastDay> {
    using Case = MonthlyLastDay;
    static constexpr std::string_view caseName = "monthlyLastDay";
    template <typename V> static void fields(auto& s, V&& v)
    {
        v(TaskFields::required("times"), s.times);
    }
    static QString summary(const Case& s)
    {
        return QStringLiteral("Last day of month at ") + Text::times(s.times);
    }
    // launchd cannot say "last day": fire on 28 to 31 and let the wrapper's guard pick.
    static LaunchTrigger trigger(const Case& s)
    {
        LaunchTrigger trigger;
        trigger.calendarAsArray = true;
        for (int day = 28; day <= 31; ++day)
            for (const TimeOfDay& time : s.times)
                trigger.calendar << Text::timeEntry(time, {{QLatin1String("Day"), day}});
        return trigger;
    }
    static QStringList guard(const Case&, DateDialect dialect)
    {
        const QString tomorrow = dialect == DateDialect::bsd
                                     ? QStringLiteral("date -v+1d +%d")
                                     : QStringLiteral("date -d tomorrow +%d");
        return {QString(), QStringLiteral("# Guard: only run on the last day of the month"),
                QStringLiteral("[ \"$(%1)\" != \"01\" ] && exit 0").arg(tomorrow)};
    }
    // Every day, so a wake on the evening before needs no other day. The wrapper's guard lets
    // only the last day run; pmset cannot express that day.
    static WakeRule wake(const Case&) { return WakeRule::repeatingEveryDay(); }
    static constexpr bool calendar = true;
    static bool runsOn(const Case&, QDate date) { return date.addDays(1).day() == 1; }
    static std::optional<int> everyMinutes(const Case&) { return std::nullopt; }
    static constexpr std::string_view nextRunNote = {};
    static constexpr Cadence cadence = Cadence::monthly;
    static constexpr FormPlace form{.group = "Monthly", .label = "Last day of month"};
    static constexpr FormFields formFields{.lastDayCaption = true};
    template <typename State> static void toForm(const Case&, State&) {}
    template <typename State> static Case fromForm(const State&, const QList<TimeOfDay>& sorted)
    {
        return {sorted};
    }
    static std::optional<QString> wakeNote(const Case&)
    {
        return QStringLiteral(" every day from the 28th to the 31st, 5 minutes before the "
                              "scheduled time. The task only runs on the actual last day.");
    }
    static constexpr std::string_view cliOption = "--monthly-last-day";
    static constexpr std::string_view cliUsage =
        "  --monthly-last-day T     Run on last day of month at time(s)";
    static constexpr int cliRank = 3;
    template <typename Args> static std::optional<Case> fromCli(Args& args)
    {
        auto times = args.times();
        if (!times)
            return std::nullopt;
        return Case{std::move(*times)};
    }
};

struct MonthlyNthWeekday {
    int nth = 1;
    int weekday = 1;
    QList<TimeOfDay> times;
    friend bool operator==(const MonthlyNthWeekday&, const MonthlyNthWeekday&) = default;
};

template <> struct Traits<MonthlyNthWeekday> {
    using Case = MonthlyNthWeekday;
    static constexpr std::string_view caseName = "monthlyNthWeekday";
    template <typename V> static void fields(auto& s, V&& v)
    {
        v(TaskFields::required("times"), s.times);
        v(TaskFields::within("weekday", ScheduleLimits::weekday), s.weekday);
        v(TaskFields::within("nth", ScheduleLimits::nth), s.nth);
    }
    static QString summary(const Case& s)
    {
        return ScheduleText::ordinal(s.nth) + QLatin1Char(' ') +
               ScheduleText::weekdayName(s.weekday) + QStringLiteral(" at ") + Text::times(s.times);
    }
    static LaunchTrigger trigger(const Case& s)
    {
        LaunchTrigger trigger;
        for (const TimeOfDay& time : s.times)
            trigger.calendar << Text::timeEntry(
                time, {{QLatin1String("Weekday"), Text::launchdWeekday(s.weekday)}});
        return trigger;
    }
    // The calendar fires on every such weekday; only the one in the Nth block of seven days
    // may run.
    static QStringList guard(const Case& s, DateDialect)
    {
        // Stored tasks keep nth in 1...5; anything smaller is read as the first occurrence.
        const int n = std::max(s.nth, 1);
        static const char* const suffixes[] = {"st", "nd", "rd", "th"};
        const QLatin1String suffix(suffixes[std::min(n - 1, 3)]);
        return {QString(),
                QStringLiteral("# Guard: only run on the %1%2 occurrence this month")
                    .arg(n)
                    .arg(suffix),
                QStringLiteral("_day=$(date +%d)"),
                QStringLiteral("[ \"$_day\" -lt %1 ] || [ \"$_day\" -gt %2 ] && exit 0")
                    .arg((n - 1) * 7 + 1)
                    .arg(n * 7)};
    }
    // Every week on that weekday.
    static WakeRule wake(const Case& s) { return WakeRule::repeatingOn({s.weekday}); }
    static constexpr bool calendar = true;
    static bool runsOn(const Case& s, QDate date)
    {
        return Text::weekdayNumber(date) == s.weekday && (date.day() - 1) / 7 + 1 == s.nth;
    }
    static std::optional<int> everyMinutes(const Case&) { return std::nullopt; }
    static constexpr std::string_view nextRunNote = {};
    static constexpr Cadence cadence = Cadence::monthly;
    static constexpr FormPlace form{.group = "Monthly", .label = "Nth weekday"};
    static constexpr FormFields formFields{.nthWeekday = true};
    template <typename State> static void toForm(const Case& s, State& state)
    {
        state.nthWeek = s.nth;
        state.nthWeekday = s.weekday;
    }
    template <typename State>
    static Case fromForm(const State& state, const QList<TimeOfDay>& sorted)
    {
        return {state.nthWeek, state.nthWeekday, sorted};
    }
    static std::optional<QString> wakeNote(const Case& s)
    {
        return QStringLiteral(" every %1 5 minutes before the scheduled time. The task only runs "
                              "on the %2 occurrence.")
            .arg(ScheduleText::weekdayName(s.weekday), ScheduleText::ordinal(s.nth));
    }
    static constexpr std::string_view cliOption = "--monthly-nth";
    static constexpr std::string_view cliUsage =
        "  --monthly-nth N day T    Run on Nth weekday (e.g. 2 fri 09:00)";
    static constexpr int cliRank = 4;
    template <typename Args> static std::optional<Case> fromCli(Args& args)
    {
        const std::optional<int> nth = args.nth();
        if (!nth)
            return std::nullopt;
        const std::optional<int> weekday = args.weekday();
        if (!weekday)
            return std::nullopt;
        auto times = args.times();
        if (!times)
            return std::nullopt;
        return Case{*nth, *weekday, std::move(*times)};
    }
};

// Every kind, in the order of TaskSchedule's variant, the task file's case names and the form's
// pickers (the tool lists its options by cliRank).
template <typename... Cases> struct List {
    using Variant = std::variant<Cases...>;
};
using All = List<RunAtLoad, Interval, Daily, Weekly, Monthly, MonthlyLastDay, MonthlyNthWeekday>;

using Variant = All::Variant;
inline constexpr size_t count = std::variant_size_v<Variant>;

template <size_t I> using CaseAt = std::variant_alternative_t<I, Variant>;

namespace Detail {
template <typename Case> consteval int indexOf()
{
    return []<size_t... I>(std::index_sequence<I...>)
    {
        int found = -1;
        ((std::is_same_v<Case, CaseAt<I>> ? (found = int(I), 0) : 0), ...);
        return found;
    }
    (std::make_index_sequence<count>{});
}
} // namespace Detail

// The kind of a case of the list.
template <typename Case>
requires(Detail::indexOf<Case>() >= 0) inline constexpr Kind kindOf = Kind(Detail::indexOf<Case>());

// Calls f.template operator()<Case>() for every kind in the list's order.
template <typename F> void forEachKind(F&& f)
{
    [&]<size_t... I>(std::index_sequence<I...>) { (f.template operator()<CaseAt<I>>(), ...); }
    (std::make_index_sequence<count>{});
}

// Calls f(Traits<Case>{}, value) with the case a TaskSchedule holds.
template <typename Schedule, typename F> decltype(auto) visit(const Schedule& schedule, F&& f)
{
    return std::visit(
        [&](const auto& value) -> decltype(auto) {
            return f(Traits<std::remove_cvref_t<decltype(value)>>{}, value);
        },
        schedule.value());
}

// A table of one fact of every kind, indexed by Kind.
template <typename T, typename G> constexpr std::array<T, count> byKind(G g)
{
    return [&]<size_t... I>(std::index_sequence<I...>)
    {
        return std::array<T, count>{g(Traits<CaseAt<I>>{})...};
    }
    (std::make_index_sequence<count>{});
}

// The description's own consistency: names the file, the form and the tool tell kinds apart by.
namespace Detail {
template <typename T> constexpr bool distinct(const std::array<T, count>& values)
{
    for (size_t i = 0; i < count; ++i)
        for (size_t j = i + 1; j < count; ++j)
            if (values[i] == values[j])
                return false;
    return true;
}
inline constexpr auto caseNames =
    byKind<std::string_view>([](auto t) { return decltype(t)::caseName; });
inline constexpr auto cliOptions =
    byKind<std::string_view>([](auto t) { return decltype(t)::cliOption; });
inline constexpr auto cliRanks = byKind<int>([](auto t) { return decltype(t)::cliRank; });
inline constexpr auto formPlaces = byKind<FormPlace>([](auto t) { return decltype(t)::form; });
constexpr bool ranksArePositions()
{
    for (int rank : cliRanks)
        if (rank < 0 || rank >= int(count))
            return false;
    return distinct(cliRanks);
}
constexpr bool formPlacesDistinct()
{
    for (size_t i = 0; i < count; ++i) {
        if (formPlaces[i].label.empty())
            return false;
        for (size_t j = i + 1; j < count; ++j)
            if (formPlaces[i].group == formPlaces[j].group &&
                formPlaces[i].label == formPlaces[j].label)
                return false;
    }
    return true;
}
} // namespace Detail
static_assert(Detail::distinct(Detail::caseNames), "two kinds share a case name");
static_assert(Detail::distinct(Detail::cliOptions), "two kinds share an add option");
static_assert(Detail::ranksArePositions(), "the add options' ranks must number 0 ... count - 1");
static_assert(Detail::formPlacesDistinct(), "every kind needs a place of its own in the form");

inline bool isCalendar(Kind kind)
{
    static constexpr auto table = byKind<bool>([](auto t) { return decltype(t)::calendar; });
    return table[size_t(kind)];
}
inline Cadence cadence(Kind kind)
{
    static constexpr auto table = byKind<Cadence>([](auto t) { return decltype(t)::cadence; });
    return table[size_t(kind)];
}
inline std::string_view caseName(Kind kind) { return Detail::caseNames[size_t(kind)]; }
// What the detail says instead of a next run for a kind without calendar runs; empty: nothing.
inline std::string_view nextRunNote(Kind kind)
{
    static constexpr auto table =
        byKind<std::string_view>([](auto t) { return decltype(t)::nextRunNote; });
    return table[size_t(kind)];
}
inline FormPlace formPlace(Kind kind) { return Detail::formPlaces[size_t(kind)]; }
// The form's controls of a kind.
inline FormFields formFields(Kind kind)
{
    static constexpr auto table =
        byKind<FormFields>([](auto t) { return decltype(t)::formFields; });
    return table[size_t(kind)];
}

// One entry of the form's kind picker: a kind of its own, or a group whose kinds (in the list's
// order) the second picker offers. An entry's data is the case name of its first kind.
struct PickerEntry {
    QString label;
    QString data;
    bool grouped = false;
    QList<Kind> kinds;
};
// The kind picker's entries: each group at the place of its first kind.
const QList<PickerEntry>& kindPicker();
// The index in kindPicker() of the entry that shows a kind.
int kindPickerIndex(Kind kind);

bool runsAtLoad(const TaskSchedule& schedule);
std::optional<int> everyMinutes(const TaskSchedule& schedule);
LaunchTrigger trigger(const TaskSchedule& schedule);
WakeRule wake(const TaskSchedule& schedule);
QStringList guard(const TaskSchedule& schedule, DateDialect dialect);

} // namespace ScheduleKinds

namespace TaskFields {

// The key naming each schedule case, in the order of TaskSchedule::Value's alternatives.
inline constexpr std::array<std::string_view, ScheduleKinds::count> caseNames =
    ScheduleKinds::Detail::caseNames;

// Calls f.template operator()<Case>() for the case at index.
template <typename F> void withCase(size_t index, F&& f)
{
    [&]<size_t... I>(std::index_sequence<I...>)
    {
        ((I == index ? (f.template operator()<ScheduleKinds::CaseAt<I>>(), 0) : 0), ...);
    }
    (std::make_index_sequence<ScheduleKinds::count>{});
}

} // namespace TaskFields

// Whoever reads the descriptions also gets the schedule they describe.
#include "TaskSchedule.h"
