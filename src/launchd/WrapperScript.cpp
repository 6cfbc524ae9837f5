#include "WrapperScript.h"

#include "LaunchdService.h"
#include "ShellQuoting.h"

#include <QStringList>

#include <algorithm>

namespace WrapperScript {

namespace {

const QLatin1String utcNow("$(date -u +%Y-%m-%dT%H:%M:%SZ)");

// The real tab characters stand inside the echo argument so the appended line carries tabs
// whichever shell runs the wrapper (zsh's and bash's echo treat "\t" differently).
QString recordFunction(const QString& runHistoryPath)
{
    return QLatin1String("_bo_record() { echo \"$_bo_start") + QLatin1Char('\t') + utcNow +
           QLatin1Char('\t') + QLatin1String("$_bo_exit\" >> ") + shellQuoted(runHistoryPath) +
           QLatin1String("; }");
}

QStringList lastDayGuard(DateDialect dialect)
{
    const QString tomorrow = dialect == DateDialect::bsd ? QStringLiteral("date -v+1d +%d")
                                                         : QStringLiteral("date -d tomorrow +%d");
    return {QString(), QStringLiteral("# Guard: only run on the last day of the month"),
            QStringLiteral("[ \"$(%1)\" != \"01\" ] && exit 0").arg(tomorrow)};
}

QStringList nthWeekdayGuard(int nth)
{
    // Stored tasks keep nth in 1...4; anything smaller is read as the first occurrence.
    const int n = std::max(nth, 1);
    static const char* const suffixes[] = {"st", "nd", "rd", "th"};
    const QLatin1String suffix(suffixes[std::min(n - 1, 3)]);
    // The calendar fires on every such weekday; only the one in the Nth block of seven days
    // may run.
    return {
        QString(),
        QStringLiteral("# Guard: only run on the %1%2 occurrence this month").arg(n).arg(suffix),
        QStringLiteral("_day=$(date +%d)"),
        QStringLiteral("[ \"$_day\" -lt %1 ] || [ \"$_day\" -gt %2 ] && exit 0")
            .arg((n - 1) * 7 + 1)
            .arg(n * 7)};
}

// A folder that cannot be entered must not run the command somewhere else: record a failed
// run with cd's own status and stop. The exit trap is not set yet, so this is the only line.
QString changeDirectoryLine(const QString& directory)
{
    return QLatin1String("cd ") + shellQuoted(directory) +
           QLatin1String(" || { _bo_exit=$?; _bo_start=") + utcNow +
           QLatin1String("; _bo_record; exit \"$_bo_exit\"; }");
}

} // namespace

DateDialect nativeDateDialect()
{
#ifdef Q_OS_MACOS
    return DateDialect::bsd;
#else
    return DateDialect::gnu;
#endif
}

QString text(const ScheduledTask& task, const QString& runHistoryPath, DateDialect dialect)
{
    QStringList lines;
    lines << (task.useLoginShell ? QStringLiteral("#!/bin/zsh") : QStringLiteral("#!/bin/bash"));
    lines << LaunchdService::scriptVersionMarker();
    if (task.useLoginShell)
        lines << QStringLiteral("source ~/.zprofile 2>/dev/null")
              << QStringLiteral("source ~/.zshrc 2>/dev/null");
    if (task.schedule.as<TaskSchedule::MonthlyLastDay>())
        lines << lastDayGuard(dialect);
    else if (const auto* nth = task.schedule.as<TaskSchedule::MonthlyNthWeekday>())
        lines << nthWeekdayGuard(nth->nth);
    if (task.envFilePath && !task.envFilePath->isEmpty())
        lines << QStringLiteral("set -a")
              << QLatin1String("source ") + shellQuoted(*task.envFilePath)
              << QStringLiteral("set +a");
    lines << recordFunction(runHistoryPath);
    if (task.workingDirectory && !task.workingDirectory->isEmpty())
        lines << changeDirectoryLine(*task.workingDirectory);
    lines << QLatin1String("_bo_start=") + utcNow;
    // The command stands at the top level exactly as stored: a subshell or a function around it
    // would change what it means (an alias defined on one line is used on the next only when
    // the shell reads them as separate commands). The run is recorded by the exit trap, which
    // also fires when the command calls `exit` or stops under `set -e`; the trap clears itself
    // so exactly one line is written.
    lines << QStringLiteral("trap '_bo_exit=$?; trap - EXIT; _bo_record; exit \"$_bo_exit\"' EXIT");
    lines << task.command;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace WrapperScript
