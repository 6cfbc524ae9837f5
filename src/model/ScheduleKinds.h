#pragma once

#include "TaskFields.h"
#include "TaskSchedule.h"
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

// The schedule kinds the task form offers. Raw values are also the identities.
enum class ScheduleType { runAtLoad, interval, daily, weekly, monthly };
// Refines ScheduleType::monthly into the three monthly schedule cases.
enum class MonthlyType { specificDay, lastDay, nthWeekday };

QString rawValue(ScheduleType type);
QString rawValue(MonthlyType type);
const QList<ScheduleType>& allScheduleTypes();
const QList<MonthlyType>& allMonthlyTypes();

// Every schedule kind described once: one Traits specialisation per case of
// TaskSchedule::Value says everything that differs between the kinds (its JSON name and
// payload, the summary, how launchd starts it, the wrapper's guard, the wake event, on which
// days it runs, where it sits in the form and how the tool's `add` spells it). Everything else
// walks the cases through `visit` and `forEachKind`, so a kind added to the variant and
// described here is handled everywhere, or fails to compile.
//
// A payload's fields (`fields`, read and written as TaskFields describes) list the times
// first: files have always been checked in this order, so a payload with several faults keeps
// naming the same one.
namespace ScheduleKinds {

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

// Where the form shows a kind (its label names it in the picker of its place: the kind
// picker, or the second picker of the monthly choice) and which of its controls it uses.
struct FormPlace {
    ScheduleType type;
    MonthlyType monthly = MonthlyType::specificDay;
    // The second picker refines only the monthly choice.
    constexpr bool matches(ScheduleType chosen, MonthlyType chosenMonthly) const
    {
        return type == chosen && (type != ScheduleType::monthly || monthly == chosenMonthly);
    }
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

template <> struct Traits<TaskSchedule::RunAtLoad> {
    using Case = TaskSchedule::RunAtLoad;
    static constexpr TaskSchedule::Kind kind = TaskSchedule::Kind::runAtLoad;
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
    static constexpr Cadence cadence = Cadence::daily;
    static constexpr FormPlace form{ScheduleType::runAtLoad};
    static constexpr std::string_view formLabel = "Run at load (login / reboot)";
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

template <> struct Traits<TaskSchedule::Interval> {
    using Case = TaskSchedule::Interval;
    static constexpr TaskSchedule::Kind kind = TaskSchedule::Kind::interval;
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
    static constexpr Cadence cadence = Cadence::daily;
    static constexpr FormPlace form{ScheduleType::interval};
    static constexpr std::string_view formLabel = "Every N minutes";
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

template <> struct Traits<TaskSchedule::Daily> {
    using Case = TaskSchedule::Daily;
    static constexpr TaskSchedule::Kind kind = TaskSchedule::Kind::daily;
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
    static constexpr Cadence cadence = Cadence::daily;
    static constexpr FormPlace form{ScheduleType::daily};
    static constexpr std::string_view formLabel = "Daily";
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

template <> struct Traits<TaskSchedule::Weekly> {
    using Case = TaskSchedule::Weekly;
    static constexpr TaskSchedule::Kind kind = TaskSchedule::Kind::weekly;
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
    static constexpr Cadence cadence = Cadence::weekly;
    static constexpr FormPlace form{ScheduleType::weekly};
    static constexpr std::string_view formLabel = "Weekly";
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

template <> struct Traits<TaskSchedule::Monthly> {
    using Case = TaskSchedule::Monthly;
    static constexpr TaskSchedule::Kind kind = TaskSchedule::Kind::monthly;
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
    static constexpr Cadence cadence = Cadence::monthly;
    static constexpr FormPlace form{ScheduleType::monthly, MonthlyType::specificDay};
    static constexpr std::string_view formLabel = "Specific day";
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

template <> struct Traits<TaskSchedule::MonthlyLastDay> {
    using Case = TaskSchedule::MonthlyLastDay;
    static constexpr TaskSchedule::Kind kind = TaskSchedule::Kind::monthlyLastDay;
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
    static constexpr Cadence cadence = Cadence::monthly;
    static constexpr FormPlace form{ScheduleType::monthly, MonthlyType::lastDay};
    static constexpr std::string_view formLabel = "Last day of month";
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

template <> struct Traits<TaskSchedule::MonthlyNthWeekday> {
    using Case = TaskSchedule::MonthlyNthWeekday;
    static constexpr TaskSchedule::Kind kind = TaskSchedule::Kind::monthlyNthWeekday;
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
    static constexpr Cadence cadence = Cadence::monthly;
    static constexpr FormPlace form{ScheduleType::monthly, MonthlyType::nthWeekday};
    static constexpr std::string_view formLabel = "Nth weekday";
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

inline constexpr size_t count = std::variant_size_v<TaskSchedule::Value>;

template <size_t I> using CaseAt = std::variant_alternative_t<I, TaskSchedule::Value>;

// The description and the variant list the kinds in the same order, and Kind numbers them so.
static_assert(
    []<size_t... I>(std::index_sequence<I...>) {
        return ((size_t(Traits<CaseAt<I>>::kind) == I) && ...);
    }(std::make_index_sequence<count>{}),
    "TaskSchedule::Value, TaskSchedule::Kind and the kind descriptions must list the same order");

// Calls f.template operator()<Case>() for every kind in the variant's order.
template <typename F> void forEachKind(F&& f)
{
    [&]<size_t... I>(std::index_sequence<I...>) { (f.template operator()<CaseAt<I>>(), ...); }
    (std::make_index_sequence<count>{});
}

// Calls f(Traits<Case>{}, value) with the case the schedule holds.
template <typename F> decltype(auto) visit(const TaskSchedule& schedule, F&& f)
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

inline bool isCalendar(TaskSchedule::Kind kind)
{
    static constexpr auto table = byKind<bool>([](auto t) { return decltype(t)::calendar; });
    return table[size_t(kind)];
}
inline Cadence cadence(TaskSchedule::Kind kind)
{
    static constexpr auto table = byKind<Cadence>([](auto t) { return decltype(t)::cadence; });
    return table[size_t(kind)];
}
inline bool runsAtLoad(const TaskSchedule& schedule)
{
    return visit(schedule, [](auto traits, const auto& s) { return traits.trigger(s).atLoad; });
}
inline std::optional<int> everyMinutes(const TaskSchedule& schedule)
{
    return visit(schedule, [](auto traits, const auto& s) { return traits.everyMinutes(s); });
}
inline LaunchTrigger trigger(const TaskSchedule& schedule)
{
    return visit(schedule, [](auto traits, const auto& s) { return traits.trigger(s); });
}
inline WakeRule wake(const TaskSchedule& schedule)
{
    return visit(schedule, [](auto traits, const auto& s) { return traits.wake(s); });
}
inline QStringList guard(const TaskSchedule& schedule, DateDialect dialect)
{
    return visit(schedule,
                 [dialect](auto traits, const auto& s) { return traits.guard(s, dialect); });
}

// The form's controls of the kind at (type, monthly); monthly is looked at only for
// ScheduleType::monthly.
FormFields formFields(ScheduleType type, MonthlyType monthly);

} // namespace ScheduleKinds

namespace TaskFields {

// The key naming each schedule case, in the order of TaskSchedule::Value's alternatives.
inline constexpr std::array<std::string_view, ScheduleKinds::count> caseNames =
    []<size_t... I>(std::index_sequence<I...>)
{
    return std::array<std::string_view, sizeof...(I)>{
        ScheduleKinds::Traits<ScheduleKinds::CaseAt<I>>::caseName...};
}
(std::make_index_sequence<ScheduleKinds::count>{});

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
