#include "PmsetTool.h"

#include "PmsetSchedule.h"
#include "PmsetStateFile.h"
#include "TaskFile.h"

#include <QDir>
#include <QFileInfo>

#include <functional>

namespace {

constexpr int lockTimeoutMs = 10000;

PmsetToolOutcome usageError(const QString& problem)
{
    return {1, QString(), QStringLiteral("pmset: %1\n").arg(problem) + pmsetUsage()};
}

PmsetToolOutcome failure(const QString& problem)
{
    return {1, QString(), QStringLiteral("pmset: %1\n").arg(problem)};
}

PmsetToolOutcome showSchedule()
{
    Result<PmsetSchedule> loaded = PmsetStateFile::loadMerged(PmsetStateFile::readPaths());
    if (!loaded)
        return failure(loaded.error());
    PmsetSchedule schedule = std::move(loaded).value();
    schedule.dropPast(QDateTime::currentDateTimeUtc());
    return {0, PmsetText::scheduleText(schedule), QString()};
}

// Read, change and write the state under a lock, so two registrations at once keep both. A
// change that returns false is refused with the message pmset gives: nothing is written.
PmsetToolOutcome changeSchedule(const std::function<bool(PmsetSchedule&)>& change)
{
    const QString path = PmsetStateFile::writePath();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return failure(QStringLiteral("cannot create %1").arg(folder));
    // The task file's lock: flock() on "<path>.lock", released when a holder dies.
    const TaskFile::Lock lock(path, lockTimeoutMs);
    if (!lock.isLocked())
        return failure(QStringLiteral("%1 is in use by another pmset").arg(path));

    Result<PmsetSchedule> loaded = PmsetStateFile::load(path);
    if (!loaded)
        return failure(loaded.error());
    PmsetSchedule schedule = std::move(loaded).value();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // Events already past are gone before the change looks for one.
    schedule.dropPast(now);
    if (!change(schedule))
        return failure(QStringLiteral("Error in scheduling operation"));
    schedule.dropPast(now);
    if (const Result<void> saved = PmsetStateFile::save(path, schedule); !saved.ok())
        return failure(saved.error());
    PmsetStateFile::armRtc(PmsetStateFile::rtcAlarmPath(), schedule.nextEvent(now));
    return {};
}

PmsetToolOutcome repeat(const QStringList& args)
{
    if (args.size() == 1 && args.at(0) == QLatin1String("cancel"))
        return changeSchedule([](PmsetSchedule& schedule) {
            schedule.repeating.reset();
            return true;
        });
    if (args.size() != 3)
        return usageError(QStringLiteral("repeat needs a type, weekdays and a time"));
    if (!PmsetText::isWakeType(args.at(0)))
        return usageError(QStringLiteral("unsupported event type \"%1\"").arg(args.at(0)));
    const std::optional<QString> days = PmsetText::parseDays(args.at(1));
    if (!days)
        return usageError(QStringLiteral("bad weekdays \"%1\"").arg(args.at(1)));
    const std::optional<QTime> time = PmsetText::parseTime(args.at(2));
    if (!time)
        return usageError(QStringLiteral("bad time \"%1\"").arg(args.at(2)));
    // pmset holds one repeating event: a new one replaces the old.
    const RepeatingEvent event{args.at(0), *days, *time};
    return changeSchedule([&event](PmsetSchedule& schedule) {
        schedule.repeating = event;
        return true;
    });
}

PmsetToolOutcome schedule(const QStringList& args)
{
    if (args.size() == 1 && args.at(0) == QLatin1String("cancelall"))
        return changeSchedule([](PmsetSchedule& schedule) {
            schedule.scheduled.clear();
            return true;
        });
    const bool cancel = !args.isEmpty() && args.at(0) == QLatin1String("cancel");
    const QStringList event = cancel ? args.mid(1) : args;
    if (event.size() < 2 || event.size() > 3)
        return usageError(QStringLiteral("schedule needs a type and a date"));
    if (!PmsetText::isWakeType(event.at(0)))
        return usageError(QStringLiteral("unsupported event type \"%1\"").arg(event.at(0)));
    const std::optional<QDateTime> at = PmsetText::parseDate(event.at(1));
    if (!at)
        return usageError(QStringLiteral("bad date \"%1\"").arg(event.at(1)));
    const QString owner = event.size() == 3 ? event.at(2) : QStringLiteral("pmset");
    const OneTimeEvent oneTime{event.at(0), at->toUTC(), owner};
    if (cancel) {
        // As on macOS, type, moment and owner must match an event pmset holds; cancelling one
        // it does not hold is an error.
        return changeSchedule([&oneTime](PmsetSchedule& schedule) {
            return schedule.scheduled.removeAll(oneTime) > 0;
        });
    }
    // An event already past is dropped with the others when the state is written.
    return changeSchedule([&oneTime](PmsetSchedule& schedule) {
        schedule.add(oneTime);
        return true;
    });
}

} // namespace

QString pmsetUsage()
{
    return QStringLiteral("Usage: pmset -g sched\n"
                          "       pmset repeat <type> <weekdays> <HH:mm:ss>\n"
                          "       pmset repeat cancel\n"
                          "       pmset schedule [cancel] <type> \"<MM/dd/yy HH:mm:ss>\" [owner]\n"
                          "       pmset schedule cancelall\n"
                          "  <type>      wake, poweron or wakeorpoweron\n"
                          "  <weekdays>  a subset of MTWRFSU (Monday to Sunday), e.g. MWF\n");
}

PmsetToolOutcome runPmset(const QStringList& args)
{
    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString& command = args.at(0);
    if (command == QLatin1String("-g")) {
        if (args.size() == 2 && args.at(1) == QLatin1String("sched"))
            return showSchedule();
        return usageError(QStringLiteral("only \"-g sched\" is supported"));
    }
    if (command == QLatin1String("repeat"))
        return repeat(args.mid(1));
    if (command == QLatin1String("schedule"))
        return schedule(args.mid(1));
    return usageError(QStringLiteral("unknown command \"%1\"").arg(command));
}
