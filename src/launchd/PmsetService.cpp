#include "PmsetService.h"
#include "PmsetService_p.h"

#include "AdminRequest.h"
#include "ChildProcess.h"
#include "ScheduleKinds.h"
#include "ShellQuoting.h"
#include "ToolPaths.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>

namespace {

constexpr int wakeLeadMinutes = 5;
constexpr int minutesPerDay = 1440;
const QString everyDay = QStringLiteral("MTWRFSU");
// Long enough for every day of the month 1...31 to come round again (31 within two months).
constexpr int monthsToSearch = 48;
// `pmset -g sched` answers at once; a tool that hangs must not block the caller for ever.
constexpr int scheduleReadTimeoutMs = 30000;

// Root runs the pmset named by its absolute path, never one a search path happens to find.
QString withAbsolutePmset(const QString& command)
{
    const QString name = QStringLiteral("pmset ");
    if (!command.startsWith(name))
        return command;
    return shellQuoted(ToolPaths::pmset()) + command.mid(name.size() - 1);
}

Result<void> runAdministratorCommand(const QString& command)
{
    const auto ran = AdminRequest::runShellCommand(withAbsolutePmset(command));
    if (ran)
        return {};
    if (ran.error().kind == AdminRequest::Error::Kind::notStarted)
        return Result<void>::failure(QStringLiteral("Failed to create script"));
    return Result<void>::failure(ran.message());
}

bool exists(const QDate& date, const QTime& time, const QTimeZone& zone)
{
    const QDateTime local(date, time, zone);
    return local.isValid() && local.date() == date && local.time() == time;
}

// The moments a local wall-clock time names, earliest first. A time skipped by a clock change
// moves to the next time that exists; a time repeated when the clock goes back has two.
QList<QDateTime> wallTimeOccurrences(const QDate& date, QTime time, const QTimeZone& zone)
{
    QDate day = date;
    for (int step = 0; step < minutesPerDay && !exists(day, time, zone); ++step) {
        time = time.addSecs(60);
        if (time == QTime(0, 0))
            day = day.addDays(1);
    }
    const QDateTime moment(day, time, zone);
    const auto sameWallTime = [&](const QDateTime& other) {
        const QDateTime local = other.toTimeZone(zone);
        return local.date() == day && local.time() == time;
    };
    // Qt picks one occurrence of a repeated time; look for the other across the nearest
    // transitions on either side.
    const QTimeZone::OffsetData transitions[] = {zone.previousTransition(moment.addSecs(1)),
                                                 zone.nextTransition(moment)};
    for (const QTimeZone::OffsetData& transition : transitions) {
        if (!transition.atUtc.isValid())
            continue;
        const int fold =
            zone.offsetFromUtc(transition.atUtc.addSecs(-1)) - transition.offsetFromUtc;
        if (fold <= 0)
            continue;
        const QDateTime earlier = moment.addSecs(-fold);
        if (earlier < transition.atUtc && moment >= transition.atUtc && sameWallTime(earlier))
            return {earlier, moment};
        const QDateTime later = moment.addSecs(fold);
        if (moment < transition.atUtc && later >= transition.atUtc && sameWallTime(later))
            return {moment, later};
    }
    return {moment};
}

} // namespace

namespace PmsetDetail {

bool wakesDayBefore(const TimeOfDay& earliest) { return earliest.totalMinutes() < wakeLeadMinutes; }

QString wakeDays(const QList<int>& weekdays, bool dayBefore)
{
    // A run at 00:02 on Monday needs the wake at 23:57 on Sunday; waking late on Monday
    // evening would come after the run.
    QString days;
    for (int weekday : weekdays)
        days += weekdayLetter(dayBefore && weekday >= 1 && weekday <= 7 ? (weekday + 5) % 7 + 1
                                                                        : weekday);
    return days;
}

QString weekdayLetter(int weekday)
{
    static const QString letters = QStringLiteral("UMTWRFS");
    if (weekday < 1 || weekday > 7)
        return {};
    return letters.at(weekday - 1);
}

QString repeatCommand(int hour, int minute, const QString& days)
{
    return QStringLiteral("pmset repeat wakeorpoweron %1 %2:%3:00")
        .arg(days)
        .arg(hour, 2, 10, QLatin1Char('0'))
        .arg(minute, 2, 10, QLatin1Char('0'));
}

QString onceCommand(const QDateTime& at, const QTimeZone& zone)
{
    const QString date =
        QLocale::c().toString(at.toTimeZone(zone), QStringLiteral("MM/dd/yy HH:mm:ss"));
    return QStringLiteral("pmset schedule wakeorpoweron \"%1\"").arg(date);
}

QString cancelRepeatCommand() { return QStringLiteral("pmset repeat cancel"); }

QString cancelOnceCommand(const QDateTime& at, const QTimeZone& zone)
{
    const QString date =
        QLocale::c().toString(at.toTimeZone(zone), QStringLiteral("MM/dd/yy HH:mm:ss"));
    return QStringLiteral("pmset schedule cancel wakeorpoweron \"%1\"").arg(date);
}

bool listsOneTimeEvent(const QString& schedule, const QDateTime& at, const QTimeZone& zone)
{
    const QDateTime local = at.toTimeZone(zone);
    for (const QString& pattern :
         {QStringLiteral("MM/dd/yyyy HH:mm:ss"), QStringLiteral("MM/dd/yy HH:mm:ss")}) {
        const QRegularExpression date(
            QStringLiteral("(?<![0-9/])") +
            QRegularExpression::escape(QLocale::c().toString(local, pattern)) +
            QStringLiteral("(?![0-9])"));
        if (schedule.contains(date))
            return true;
    }
    return false;
}

std::optional<QDateTime> nextMonthlyDate(const QDateTime& at, const QTimeZone& zone, int day,
                                         int hour, int minute, bool dayBefore)
{
    if (day < 1 || day > 31)
        return std::nullopt;
    const QDateTime now = at.toTimeZone(zone);
    const QDate firstOfMonth(now.date().year(), now.date().month(), 1);
    for (int offset = 0; offset < monthsToSearch; ++offset) {
        const QDate month = firstOfMonth.addMonths(offset);
        if (day > month.daysInMonth())
            continue;
        // The run's day decides which months count; the wake may fall on the last day of the
        // month (or year) before.
        const QDate date = QDate(month.year(), month.month(), day).addDays(dayBefore ? -1 : 0);
        for (const QDateTime& candidate : wallTimeOccurrences(date, QTime(hour, minute), zone)) {
            if (candidate > now)
                return candidate;
        }
    }
    return std::nullopt;
}

QStringList wakeTimeTexts(int wakeMinutes)
{
    const int hour = wakeMinutes / 60;
    const int minute = wakeMinutes % 60;
    const QString suffix = wakeMinutes < 720 ? QStringLiteral("AM") : QStringLiteral("PM");
    const int clockHour = hour % 12 == 0 ? 12 : hour % 12;
    QStringList texts{
        QStringLiteral("%1:%2%3").arg(clockHour).arg(minute, 2, 10, QLatin1Char('0')).arg(suffix)};
    // pmset itself writes the hour after midnight as 0 (0:10AM), not 12.
    if (hour == 0)
        texts << QStringLiteral("0:%1AM").arg(minute, 2, 10, QLatin1Char('0'));
    return texts;
}

} // namespace PmsetDetail

using namespace PmsetDetail;

QString PmsetError::message() const
{
    switch (kind) {
    case Kind::unsupportedSchedule:
        return QStringLiteral("This schedule type does not support wake.");
    case Kind::scriptFailed:
        return QStringLiteral("pmset failed: ") + detail;
    }
    return {};
}

PmsetService::PmsetService()
    : PmsetService([] { return QDateTime::currentDateTime(); }, QTimeZone::systemTimeZone())
{}

PmsetService::PmsetService(Clock now, QTimeZone timeZone, PrivilegedRunner runner)
    : m_now(std::move(now)), m_timeZone(std::move(timeZone)),
      m_runner(runner ? std::move(runner) : PrivilegedRunner(runAdministratorCommand))
{}

std::optional<TimeOfDay> PmsetService::earliestTime(const QList<TimeOfDay>& times)
{
    if (times.isEmpty())
        return std::nullopt;
    TimeOfDay earliest = times.first();
    for (const TimeOfDay& time : times) {
        if (time.totalMinutes() < earliest.totalMinutes())
            earliest = time;
    }
    return earliest;
}

int PmsetService::wakeMinutes(const TimeOfDay& earliest)
{
    int wake = earliest.totalMinutes() - wakeLeadMinutes;
    if (wake < 0)
        wake += minutesPerDay;
    return wake;
}

Result<QString, PmsetError> PmsetService::wakeCommand(const ScheduledTask& task) const
{
    const auto fail = [] {
        return Result<QString, PmsetError>::failure(PmsetError::unsupportedSchedule());
    };
    const std::optional<TimeOfDay> earliest = earliestTime(task.schedule.times());
    if (!earliest)
        return fail();
    const int wake = wakeMinutes(*earliest);
    const int hour = wake / 60;
    const int minute = wake % 60;
    const bool dayBefore = wakesDayBefore(*earliest);

    const ScheduleKinds::WakeRule rule = ScheduleKinds::wake(task.schedule);
    switch (rule.event) {
    case ScheduleKinds::WakeRule::Event::none:
        return fail();
    case ScheduleKinds::WakeRule::Event::repeating: {
        // Every day needs no other day for a wake on the evening before.
        const QString days = rule.everyDay ? everyDay : wakeDays(rule.weekdays, dayBefore);
        if (days.isEmpty())
            return fail();
        return repeatCommand(hour, minute, days);
    }
    case ScheduleKinds::WakeRule::Event::oneTime: {
        const std::optional<QDateTime> next = oneTimeWakeDate(task);
        return next ? onceCommand(*next, m_timeZone) : QString();
    }
    }
    return fail();
}

std::optional<QDateTime> PmsetService::oneTimeWakeDate(const ScheduledTask& task) const
{
    const ScheduleKinds::WakeRule rule = ScheduleKinds::wake(task.schedule);
    const std::optional<TimeOfDay> earliest = earliestTime(task.schedule.times());
    if (rule.event != ScheduleKinds::WakeRule::Event::oneTime || !earliest)
        return std::nullopt;
    const int wake = wakeMinutes(*earliest);
    return nextMonthlyDate(m_now(), m_timeZone, rule.dayOfMonth, wake / 60, wake % 60,
                           wakesDayBefore(*earliest));
}

WakeOutcome PmsetService::cancelRepeatingWake() const
{
    return runPrivileged(cancelRepeatCommand());
}

WakeOutcome PmsetService::cancelOneTimeWake(const ScheduledTask& task) const
{
    const std::optional<QDateTime> at = oneTimeWakeDate(task);
    if (!at || !listsOneTimeEvent(currentWakeSchedule(), *at, m_timeZone))
        return {};
    return runPrivileged(cancelOnceCommand(*at, m_timeZone));
}

WakeOutcome PmsetService::scheduleWake(const ScheduledTask& task) const
{
    const Result<QString, PmsetError> command = wakeCommand(task);
    if (!command)
        return WakeOutcome::failure(command.error());
    if (command->isEmpty())
        return {};
    return runPrivileged(*command);
}

WakeOutcome PmsetService::runPrivileged(const QString& command) const
{
    const Result<void> ran = m_runner(command);
    if (ran.ok())
        return {};
    return WakeOutcome::failure(PmsetError::scriptFailed(ran.error()));
}

QString PmsetService::currentWakeSchedule() const
{
    const ChildProcess::Outcome outcome = ChildProcess::run(
        ToolPaths::pmset(), {QStringLiteral("-g"), QStringLiteral("sched")},
        ChildProcess::Options(scheduleReadTimeoutMs, ChildProcess::Output::merged));
    if (!outcome.started || outcome.timedOut)
        return {};
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(outcome.standardOutput);
    if (decoder.hasError())
        return {};
    return text.trimmed();
}

bool PmsetService::isWakeScheduledInSystem(const ScheduledTask& task) const
{
    const ScheduleKinds::WakeRule rule = ScheduleKinds::wake(task.schedule);
    if (rule.checkedByOneTime) {
        // Any one-time wake event counts: pmset does not say whose it is.
        const QString schedule = currentWakeSchedule();
        return schedule.contains(QStringLiteral("wakeorpoweron")) ||
               schedule.contains(QStringLiteral("wakepoweron"));
    }
    if (rule.checkedByTime) {
        const std::optional<TimeOfDay> earliest = earliestTime(task.schedule.times());
        if (!earliest)
            return false;
        const QString schedule = currentWakeSchedule();
        // Whole times only: 2:10AM must not be found inside 12:10AM.
        for (const QString& text : wakeTimeTexts(wakeMinutes(*earliest))) {
            const QRegularExpression time(QStringLiteral("(?<![0-9])") +
                                          QRegularExpression::escape(text));
            if (schedule.contains(time))
                return true;
        }
        return false;
    }
    return false;
}

namespace {

using Event = ScheduleKinds::WakeRule::Event;

Event wakeEvent(const ScheduledTask& task) { return ScheduleKinds::wake(task.schedule).event; }

bool repeats(const ScheduledTask& task) { return wakeEvent(task) == Event::repeating; }

} // namespace

WakeCancellations wakeCancellations(const QList<ScheduledTask>& before,
                                    const QList<ScheduledTask>& after)
{
    const QList<ScheduledTask> was = wakeRegistrations(before);
    const QList<ScheduledTask> will = wakeRegistrations(after);
    const auto hasRepeating = [](const QList<ScheduledTask>& registrations) {
        return std::any_of(registrations.cbegin(), registrations.cend(), repeats);
    };
    WakeCancellations cancellations;
    cancellations.repeating = hasRepeating(was) && !hasRepeating(will);
    for (const ScheduledTask& old : was) {
        if (wakeEvent(old) != Event::oneTime)
            continue;
        const bool kept = std::any_of(will.cbegin(), will.cend(), [&old](const ScheduledTask& t) {
            return t.id == old.id && t.schedule == old.schedule;
        });
        if (!kept)
            cancellations.oneTime.append(old);
    }
    return cancellations;
}

QList<ScheduledTask> wakeRegistrations(const QList<ScheduledTask>& tasks)
{
    const auto wakes = [](const ScheduledTask& task) {
        return task.isEnabled && task.wakeBeforeRun;
    };
    QList<ScheduledTask> registrations;
    for (const ScheduledTask& task : tasks) {
        if (wakes(task) && repeats(task)) {
            registrations.append(task);
            break;
        }
    }
    for (const ScheduledTask& task : tasks) {
        if (wakes(task) && wakeEvent(task) == Event::oneTime)
            registrations.append(task);
    }
    return registrations;
}
