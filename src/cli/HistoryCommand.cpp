#include "CLITaskStore.h"
#include "Commands.h"
#include "Console.h"
#include "ReadOnlyArgs.h"
#include "RunHistory.h"
#include "TextTable.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>

namespace {
const QString usage = QStringLiteral("Usage: brenmor-ops history <name-or-id> [-n N] [--json]");
constexpr int defaultCount = 10;

QString durationText(qint64 seconds)
{
    // A clock set back during a run gives an end before the start; that length means nothing.
    if (seconds < 0)
        return QStringLiteral("?");
    if (seconds < 60)
        return QStringLiteral("%1s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1m %2s")
            .arg(seconds / 60)
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1h %2m")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'));
}

QString isoText(const QDateTime& time) { return time.toUTC().toString(Qt::ISODate); }

struct Summary {
    qsizetype runs = 0;
    qsizetype failures = 0;
    std::optional<QDateTime> lastSuccess;
};

// Over the whole file, not only the lines shown: "last success" must not read "never" just
// because the last ten runs failed.
Summary summarize(const QList<TaskRunRecord>& records)
{
    Summary summary;
    summary.runs = records.size();
    for (const TaskRunRecord& record : records) {
        if (record.exitCode != 0)
            ++summary.failures;
        else if (!summary.lastSuccess || record.startedAt > *summary.lastSuccess)
            summary.lastSuccess = record.startedAt;
    }
    return summary;
}

class HistoryCommand final : public Command {
public:
    int execute(const QStringList& args, CommandContext& context) override
    {
        const auto named =
            parseTaskArgs(args, {QStringLiteral("--json")}, defaultCount, usage, context);
        if (!named)
            return 1;
        const ReadOnlyArgs& parsed = named->args;
        const ScheduledTask& task = named->task;
        const QList<TaskRunRecord> records =
            RunHistory::loadHistoryFile(context.store.agentPaths().runHistoryPath(task));
        // Newest first by file order: the wrapper appends, so the last line is the latest run
        // even when the clock was changed in between.
        QList<TaskRunRecord> shown =
            records.mid(std::max<qsizetype>(0, records.size() - parsed.count));
        std::reverse(shown.begin(), shown.end());
        const Summary summary = summarize(records);
        if (parsed.json)
            printJson(task, shown, summary, context.console);
        else
            printText(shown, summary, context.console);
        return 0;
    }

private:
    static void printText(const QList<TaskRunRecord>& shown, const Summary& summary,
                          const Console& console)
    {
        if (shown.isEmpty()) {
            console.print(QStringLiteral("No runs recorded."));
            return;
        }
        QList<QStringList> rows;
        for (const TaskRunRecord& record : shown)
            rows << QStringList{localTimeText(record.startedAt),
                                durationText(record.durationSeconds()),
                                QString::number(record.exitCode)};
        console.printRaw(formatTable(
            {QStringLiteral("Started"), QStringLiteral("Duration"), QStringLiteral("Exit")}, rows));
        console.print(QStringLiteral("%1 %2, %3 failed, last success: %4")
                          .arg(summary.runs)
                          .arg(summary.runs == 1 ? QStringLiteral("run") : QStringLiteral("runs"))
                          .arg(summary.failures)
                          .arg(summary.lastSuccess ? localTimeText(*summary.lastSuccess)
                                                   : QStringLiteral("never")));
    }

    static void printJson(const ScheduledTask& task, const QList<TaskRunRecord>& shown,
                          const Summary& summary, const Console& console)
    {
        QJsonArray runs;
        for (const TaskRunRecord& record : shown)
            runs.append(QJsonObject{{QStringLiteral("start"), isoText(record.startedAt)},
                                    {QStringLiteral("end"), isoText(record.endedAt)},
                                    {QStringLiteral("durationSeconds"), record.durationSeconds()},
                                    {QStringLiteral("exitCode"), record.exitCode}});
        const QJsonObject object{
            {QStringLiteral("task"), QJsonObject{{QStringLiteral("id"), task.idString()},
                                                 {QStringLiteral("name"), task.name}}},
            {QStringLiteral("runs"), runs},
            {QStringLiteral("summary"),
             QJsonObject{{QStringLiteral("runs"), summary.runs},
                         {QStringLiteral("failures"), summary.failures},
                         {QStringLiteral("lastSuccess"),
                          summary.lastSuccess ? QJsonValue(isoText(*summary.lastSuccess))
                                              : QJsonValue()}}}};
        ::printJson(QJsonDocument(object), console);
    }
};
} // namespace

std::unique_ptr<Command> makeHistoryCommand() { return std::make_unique<HistoryCommand>(); }
