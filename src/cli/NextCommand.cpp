#include "NextCommand.h"

#include "CLITaskStore.h"
#include "Commands.h"
#include "Console.h"
#include "NextRun.h"
#include "PmsetService.h"
#include "ReadOnlyArgs.h"
#include "TextTable.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

QList<PlannedRun> planNextRuns(const QList<ScheduledTask>& tasks, const QDateTime& now,
                               const QTimeZone& zone)
{
    QSet<QUuid> woken;
    for (const ScheduledTask& task : wakeRegistrations(tasks))
        woken.insert(task.id);
    // One reading of the clock and of the zone for the whole plan.
    const qint64 nowSecs = now.toSecsSinceEpoch();
    const CachedZone cachedZone = nextRunZone(zone, nowSecs);
    QList<PlannedRun> plan;
    plan.reserve(tasks.size());
    for (const ScheduledTask& task : tasks) {
        PlannedRun run{task, nextRun(task.schedule, nowSecs, cachedZone), std::nullopt};
        if (const auto earliest = PmsetService::earliestTime(task.schedule.times());
            woken.contains(task.id) && earliest) {
            const int minutes = PmsetService::wakeMinutes(*earliest);
            run.wakeAt = TimeOfDay{minutes / 60, minutes % 60};
        }
        plan << run;
    }
    std::stable_sort(plan.begin(), plan.end(), [](const PlannedRun& a, const PlannedRun& b) {
        if (a.next && b.next)
            return *a.next < *b.next;
        return a.next.has_value() && !b.next.has_value();
    });
    return plan;
}

namespace {
const QString usage = QStringLiteral("Usage: brenmor-ops next [name-or-id] [--json]");

QString wakeText(const PlannedRun& run)
{
    return run.wakeAt ? QString::asprintf("%02d:%02d", run.wakeAt->hour, run.wakeAt->minute)
                      : QString();
}

// What stands in the time column when the schedule names no time of the clock: its summary
// ("Every 30 min", "Run at load"), or "never" for a calendar that no date matches.
QString whenText(const PlannedRun& run)
{
    if (!run.task.isEnabled)
        return QStringLiteral("disabled");
    if (run.next)
        return run.next->toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return run.task.schedule.times().isEmpty() ? run.task.schedule.summary()
                                               : QStringLiteral("never");
}

class NextCommand final : public Command {
public:
    int execute(const QStringList& args, CommandContext& context) override
    {
        const auto parsed = parseReadOnlyArgs(args, {QStringLiteral("--json")}, std::nullopt, usage,
                                              context.console);
        if (!parsed)
            return 1;
        QList<ScheduledTask> tasks = context.store.loadTaskList();
        // Wake events are registered for the enabled tasks of the whole list. Filtered in
        // place: ten thousand tasks are not copied.
        tasks.removeIf([](const ScheduledTask& task) { return !task.isEnabled; });
        const QList<ScheduledTask>& enabled = tasks;
        const QTimeZone zone = QTimeZone::systemTimeZone();
        QList<PlannedRun> plan = planNextRuns(enabled, QDateTime::currentDateTime(), zone);
        if (!parsed->nameOrId.isEmpty()) {
            const auto task = lookUpTask(parsed->nameOrId, context);
            if (!task)
                return 1;
            const auto it = std::find_if(plan.begin(), plan.end(), [&](const PlannedRun& run) {
                return run.task.id == task->id;
            });
            plan = it == plan.end() ? QList<PlannedRun>{PlannedRun{*task, {}, {}}}
                                    : QList<PlannedRun>{*it};
        }
        if (parsed->json) {
            printJson(plan, context.console);
            return 0;
        }
        if (plan.isEmpty()) {
            context.console.print(QStringLiteral("No enabled tasks."));
            return 0;
        }
        QList<QStringList> rows;
        for (const PlannedRun& run : plan)
            rows << QStringList{whenText(run), terminalText(run.task.name), wakeText(run),
                                run.task.shortId()};
        context.console.printRaw(formatTable({QStringLiteral("Next run"), QStringLiteral("Name"),
                                              QStringLiteral("Wake"), QStringLiteral("ID")},
                                             rows));
        return 0;
    }

private:
    static void printJson(const QList<PlannedRun>& plan, const Console& console)
    {
        QJsonArray runs;
        for (const PlannedRun& run : plan)
            runs.append(QJsonObject{
                {QStringLiteral("id"), run.task.idString()},
                {QStringLiteral("name"), run.task.name},
                {QStringLiteral("enabled"), run.task.isEnabled},
                {QStringLiteral("schedule"), run.task.schedule.summary()},
                {QStringLiteral("next"),
                 run.next ? QJsonValue(run.next->toString(Qt::ISODate)) : QJsonValue()},
                {QStringLiteral("wake"), run.wakeAt ? QJsonValue(wakeText(run)) : QJsonValue()}});
        ::printJson(QJsonDocument(QJsonObject{{QStringLiteral("runs"), runs}}), console);
    }
};
} // namespace

std::unique_ptr<Command> makeNextCommand() { return std::make_unique<NextCommand>(); }
