#include "WrapperScript.h"

#include "LaunchdService.h"
#include "ShellQuoting.h"

#include <QStringList>

#include <algorithm>
#include <utility>

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

// The here-document's end marker: a word no line of the user's part equals.
QString hereDocumentEnd(const QString& body)
{
    const QStringList lines = body.split(QLatin1Char('\n'));
    QString end = QStringLiteral("BRENMOR_OPS_COMMAND");
    while (lines.contains(end))
        end += QLatin1Char('_');
    return end;
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

QString userPart(const ScheduledTask& task)
{
    QStringList lines;
    if (task.useLoginShell)
        lines << QStringLiteral("source ~/.zprofile 2>/dev/null")
              << QStringLiteral("source ~/.zshrc 2>/dev/null");
    if (task.envFilePath && !task.envFilePath->isEmpty())
        lines << QStringLiteral("set -a")
              << QLatin1String("source ") + shellQuoted(*task.envFilePath)
              << QStringLiteral("set +a");
    // A folder that cannot be entered must not run the command somewhere else: the run ends
    // with cd's own status.
    if (task.workingDirectory && !task.workingDirectory->isEmpty())
        lines << QLatin1String("cd ") + shellQuoted(*task.workingDirectory) +
                     QLatin1String(" || exit");
    lines << task.command;
    return lines.join(QLatin1Char('\n'));
}

QString text(const ScheduledTask& task, const QString& runHistoryPath, DateDialect dialect)
{
    const bool zsh = task.useLoginShell;
    const QString shell = zsh ? QStringLiteral("/bin/zsh") : QStringLiteral("/bin/bash");
    QStringList lines;
    lines << QLatin1String("#!") + shell;
    lines << LaunchdService::scriptVersionMarker();
    // A guard that skips the day ends the wrapper before anything is recorded.
    lines << ScheduleKinds::guard(task.schedule, dialect);
    lines << recordFunction(runHistoryPath);
    // TERM, HUP and INT sent to the wrapper go on to everything the run started. A bash run
    // leads a process group of its own (set -m below). zsh cannot make one without a terminal,
    // so a zsh wrapper that leads its group (as launchd, the agent runner and `run` start it)
    // signals that group and skips the copy it gets itself; otherwise only the run's shell.
    if (zsh)
        lines << QStringLiteral(
            "_bo_forward() { _bo_sig=$1; [ \"$_bo_echo\" = \"$1\" ] && { _bo_echo=; return; }; "
            "_bo_stop=$2; [ -n \"$_bo_child\" ] || return; "
            "if [ \"$(ps -o pgid= -p $$ | tr -d ' ')\" = \"$$\" ]; then _bo_echo=$1; "
            "kill -\"$1\" 0; else kill -\"$1\" \"$_bo_child\"; fi 2>/dev/null; }");
    else
        lines << QStringLiteral("_bo_forward() { _bo_sig=$1; _bo_stop=$2; [ -n \"$_bo_child\" ] && "
                                "kill -\"$1\" -- -\"$_bo_child\" 2>/dev/null; }");
    lines << QStringLiteral("_bo_sig=") << QStringLiteral("_bo_stop=");
    if (zsh)
        lines << QStringLiteral("_bo_echo=");
    lines << QStringLiteral("_bo_child=");
    for (const auto& [name, number] :
         {std::pair{"TERM", 15}, std::pair{"HUP", 1}, std::pair{"INT", 2}})
        lines << QStringLiteral("trap '_bo_forward %1 %2' %1")
                     .arg(QLatin1String(name))
                     .arg(128 + number);
    lines << QLatin1String("_bo_start=") + utcNow;
    // The wrapper only records. The user's part runs in a shell of the same kind that reads it
    // as a script from a quoted here-document on descriptor 3, so the command stands there
    // verbatim and is read as top-level input (an alias defined on one line is used on the
    // next), while standard input stays the wrapper's. Its own traps, `exit`, `exec` and
    // `set -e` decide its status, which the wrapper records whatever the command does.
    const QString body = userPart(task);
    const QString end = hereDocumentEnd(body);
    if (!zsh)
        lines << QStringLiteral("set -m");
    lines << shell + QStringLiteral(" /dev/fd/3 3<<'") + end + QStringLiteral("' &");
    // An asynchronous command starts with INT and QUIT ignored; the run gets them back.
    lines << QStringLiteral("exec 3<&-") << QStringLiteral("trap - INT QUIT");
    lines << body << end;
    lines << QStringLiteral("_bo_child=$!");
    if (!zsh)
        lines << QStringLiteral("set +m");
    // A signal that came before the run's process id was known is passed on now; `wait`
    // returns early for a trapped signal, so it waits again while the run goes on. A signal
    // can also come as the run ends: then the wait may have got the run's status, and a
    // shell answers a pid only once (zsh forgets one that ended during its trap), so a run
    // already reaped is asked for once more, quietly, and the answer kept only if it has one.
    lines << QStringLiteral("[ -n \"$_bo_sig\" ] && _bo_forward \"$_bo_sig\" \"$_bo_stop\"")
          << QStringLiteral("while :; do") << QStringLiteral("  _bo_sig=")
          << QStringLiteral("  wait \"$_bo_child\"") << QStringLiteral("  _bo_exit=$?")
          << QStringLiteral("  [ -z \"$_bo_sig\" ] && break")
          << QStringLiteral("  kill -0 \"$_bo_child\" 2>/dev/null && continue")
          << QStringLiteral("  wait \"$_bo_child\" 2>/dev/null") << QStringLiteral("  _bo_again=$?")
          << QStringLiteral("  [ \"$_bo_again\" -ne 127 ] && _bo_exit=$_bo_again")
          << QStringLiteral("  break") << QStringLiteral("done");
    // A run that failed after a signal was passed on to it was stopped by that signal, whatever
    // status its shell chose on the way out (zsh ends with 1 on SIGHUP).
    lines << QStringLiteral("[ -n \"$_bo_stop\" ] && [ \"$_bo_exit\" -ne 0 ] && _bo_exit=$_bo_stop")
          << QStringLiteral("_bo_record") << QStringLiteral("exit \"$_bo_exit\"");
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace WrapperScript
