#include "Preflight.h"

#include "NextRun.h"
#include "RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <optional>

namespace Preflight {

namespace {

// Words the shell runs itself; they never touch PATH.
const QStringList shellWords = {
    QStringLiteral("alias"),    QStringLiteral("bg"),       QStringLiteral("bind"),
    QStringLiteral("break"),    QStringLiteral("builtin"),  QStringLiteral("cd"),
    QStringLiteral("continue"), QStringLiteral("declare"),  QStringLiteral("dirs"),
    QStringLiteral("disown"),   QStringLiteral("echo"),     QStringLiteral("eval"),
    QStringLiteral("exit"),     QStringLiteral("export"),   QStringLiteral("false"),
    QStringLiteral("fg"),       QStringLiteral("getopts"),  QStringLiteral("hash"),
    QStringLiteral("jobs"),     QStringLiteral("kill"),     QStringLiteral("let"),
    QStringLiteral("local"),    QStringLiteral("popd"),     QStringLiteral("printf"),
    QStringLiteral("pushd"),    QStringLiteral("pwd"),      QStringLiteral("read"),
    QStringLiteral("readonly"), QStringLiteral("return"),   QStringLiteral("set"),
    QStringLiteral("shift"),    QStringLiteral("source"),   QStringLiteral("test"),
    QStringLiteral("trap"),     QStringLiteral("true"),     QStringLiteral("type"),
    QStringLiteral("typeset"),  QStringLiteral("ulimit"),   QStringLiteral("umask"),
    QStringLiteral("unalias"),  QStringLiteral("unset"),    QStringLiteral("wait"),
    QStringLiteral("."),        QStringLiteral(":"),        QStringLiteral("["),
    QStringLiteral("[["),       QStringLiteral("if"),       QStringLiteral("case"),
    QStringLiteral("for"),      QStringLiteral("select"),   QStringLiteral("while"),
    QStringLiteral("until"),    QStringLiteral("function"), QStringLiteral("{"),
    QStringLiteral("coproc")};
// Words that run the word after them.
const QStringList prefixWords = {QStringLiteral("exec"), QStringLiteral("command"),
                                 QStringLiteral("time"), QStringLiteral("nohup"),
                                 QStringLiteral("!")};

bool isMetaCharacter(QChar c)
{
    return c == QLatin1Char(';') || c == QLatin1Char('|') || c == QLatin1Char('&') ||
           c == QLatin1Char('(') || c == QLatin1Char(')') || c == QLatin1Char('<') ||
           c == QLatin1Char('>');
}

struct Word {
    QString text;
    bool dynamic = false; // holds an expansion whose value only the run knows
};

// The words of the command's first simple command, up to the first operator; a quoted word
// keeps its spaces. Enough to find the program, not a shell parser.
QList<Word> leadingWords(const QString& command)
{
    QList<Word> words;
    qsizetype i = 0;
    const qsizetype n = command.size();
    while (i < n) {
        while (i < n && command[i].isSpace())
            ++i;
        if (i >= n || isMetaCharacter(command[i]) || command[i] == QLatin1Char('#'))
            break;
        Word word;
        while (i < n && !command[i].isSpace() && !isMetaCharacter(command[i])) {
            const QChar c = command[i];
            if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
                const qsizetype close = command.indexOf(c, i + 1);
                const qsizetype end = close < 0 ? n : close;
                const QString quoted = command.mid(i + 1, end - i - 1);
                word.dynamic |= c == QLatin1Char('"') && quoted.contains(QLatin1Char('$'));
                word.text += quoted;
                i = end + 1;
                continue;
            }
            word.dynamic |= c == QLatin1Char('$') || c == QLatin1Char('`');
            word.text += c;
            ++i;
        }
        words << word;
    }
    return words;
}

bool isAssignment(const QString& word)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*="));
    return pattern.match(word).hasMatch();
}

std::optional<QString> findOnPath(const QString& program, const QString& searchPath)
{
    for (const QString& folder : searchPath.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QFileInfo candidate(folder + QLatin1Char('/') + program);
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.filePath();
    }
    return std::nullopt;
}

std::optional<QString> checkProgramPath(const QString& word, const ScheduledTask& task,
                                        const Environment& environment)
{
    QString path = word;
    if (path.startsWith(QLatin1String("~/")))
        path = environment.home + path.mid(1);
    else if (!QDir::isAbsolutePath(path))
        path = task.workingDirectory.value_or(QString()).isEmpty()
                   ? environment.home + QLatin1Char('/') + path
                   : *task.workingDirectory + QLatin1Char('/') + path;
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("`%1` does not exist (looked for %2); correct the path")
            .arg(word, path);
    if (!info.isFile() || !info.isExecutable())
        return QStringLiteral("`%1` is not an executable file; make it executable with chmod +x %2")
            .arg(word, path);
    return std::nullopt;
}

std::optional<QString> checkProgram(const ScheduledTask& task, const Environment& environment)
{
    QList<Word> words = leadingWords(task.command);
    while (!words.isEmpty() &&
           (isAssignment(words.first().text) || prefixWords.contains(words.first().text)))
        words.removeFirst();
    if (words.isEmpty() || words.first().dynamic)
        return std::nullopt;
    const QString program = words.first().text;
    if (program.isEmpty() || shellWords.contains(program))
        return std::nullopt;
    if (program.contains(QLatin1Char('/')))
        return checkProgramPath(program, task, environment);
    if (findOnPath(program, agentSearchPath()))
        return std::nullopt;
    const std::optional<QString> onUserPath = findOnPath(program, environment.userPath);
    // The login shell profile usually puts the user's own PATH in place; running the profile
    // here to find out exactly would be slow and could have side effects, so a word on the
    // current PATH counts as found when the task loads the profile.
    if (onUserPath && task.useLoginShell)
        return std::nullopt;
    if (onUserPath)
        return QStringLiteral(
                   "`%1` is not on the scheduled PATH; use %2 or turn on 'Use login shell'")
            .arg(program, *onUserPath);
    return QStringLiteral(
               "`%1` was not found on the scheduled PATH nor on yours; use its full path")
        .arg(program);
}

std::optional<QString> checkWorkingDirectory(const ScheduledTask& task)
{
    const QString folder = task.workingDirectory.value_or(QString());
    if (folder.isEmpty())
        return std::nullopt;
    const QFileInfo info(folder);
    if (!info.exists())
        return QStringLiteral(
                   "The working directory %1 does not exist; create it or choose another")
            .arg(folder);
    if (!info.isDir())
        return QStringLiteral("The working directory %1 is not a folder; choose a folder")
            .arg(folder);
    return std::nullopt;
}

constexpr qint64 maximumEnvFileSize = 1000 * 1000;

QStringList checkEnvFile(const ScheduledTask& task)
{
    const QString path = task.envFilePath.value_or(QString());
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    if (!info.exists())
        return {QStringLiteral("The .env file %1 does not exist; create it or clear the field")
                    .arg(path)};
    // Read without blocking (a FIFO) and within a bound (a device such as /dev/zero never ends).
    const Result<QByteArray> read = RegularFile::read(path, maximumEnvFileSize);
    if (!read.ok()) {
        if (!info.isFile())
            return {
                QStringLiteral("The .env file %1 is not a regular file; choose a file").arg(path)};
        if (info.size() > maximumEnvFileSize)
            return {QStringLiteral("The .env file %1 is larger than 1 MB; no list of variables "
                                   "is that long")
                        .arg(path)};
        return {QStringLiteral("The .env file %1 cannot be read; check its permissions").arg(path)};
    }
    static const QRegularExpression entry(
        QStringLiteral("^(export[ \\t]+)?[A-Za-z_][A-Za-z0-9_]*="));
    QStringList findings;
    const QList<QByteArray> lines = read->split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || entry.match(line).hasMatch())
            continue;
        findings << QStringLiteral(
                        "Line %1 of the .env file %2 is not NAME=value; correct or remove it")
                        .arg(i + 1)
                        .arg(path);
    }
    return findings;
}

// The times the schedule runs at on `date`; none when it does not run that day.
QList<TimeOfDay> timesOn(const TaskSchedule& schedule, const QDate& date)
{
    return runsOnDate(schedule, date) ? schedule.times() : QList<TimeOfDay>{};
}

// How often the wall-clock time occurs on `date`: 0 in a gap, 2 in a repeated hour.
int occurrences(const QDate& date, const TimeOfDay& time, const QTimeZone& zone)
{
    const QDateTime wall(date, QTime(time.hour, time.minute), Qt::UTC);
    const int before = zone.offsetFromUtc(QDateTime(date, QTime(0, 0), zone));
    const int after = zone.offsetFromUtc(QDateTime(date.addDays(1), QTime(0, 0), zone));
    QList<int> offsets{before};
    if (after != before)
        offsets << after;
    int count = 0;
    for (const int offset : offsets) {
        const QDateTime local = wall.addSecs(-offset).toTimeZone(zone);
        if (local.date() == date && local.time() == wall.time())
            ++count;
    }
    return count;
}

QString hhmm(const QTime& time) { return time.toString(QStringLiteral("HH:mm")); }

// Agents fire by the rules cron keeps for a named hour (as our runner and the wake events do):
// a time the clocks skip runs at the end of the gap, a time they pass twice runs the first
// time only. Both surprise whoever expects a run a day apart.
QStringList checkClockChanges(const ScheduledTask& task, const Environment& environment)
{
    QStringList findings;
    const QTimeZone& zone = environment.timeZone;
    const QDate today = environment.now.toTimeZone(zone).date();
    for (const QDate& date : {today, today.addDays(1)}) {
        for (const TimeOfDay& time : sortedTimes(timesOn(task.schedule, date))) {
            const QTime wallTime(time.hour, time.minute);
            const QString when =
                QStringLiteral("%1 on %2").arg(hhmm(wallTime), date.toString(Qt::ISODate));
            const int count = occurrences(date, time, zone);
            if (count == 0) {
                const QDateTime gapEnd =
                    zone.nextTransition(QDateTime(date, QTime(0, 0), zone)).atUtc.toTimeZone(zone);
                findings << QStringLiteral("The clocks skip %1, so that run happens at %2 "
                                           "instead; choose a time outside the clock change")
                                .arg(when, hhmm(gapEnd.time()));
            } else if (count == 2) {
                findings << QStringLiteral("The clocks pass %1 twice and the task runs only the "
                                           "first time; choose a time outside the clock change "
                                           "to keep its runs a day apart")
                                .arg(when);
            }
        }
    }
    return findings;
}

} // namespace

QString agentSearchPath() { return QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin"); }

Environment Environment::current()
{
    return {qEnvironmentVariable("PATH"), QDir::homePath(), QDateTime::currentDateTime(),
            QTimeZone::systemTimeZone()};
}

QList<Finding> findings(const ScheduledTask& task, const Environment& environment)
{
    QList<Finding> found;
    const auto add = [&found](Field field, const QStringList& texts) {
        for (const QString& text : texts)
            found.append({field, text});
    };
    if (const auto program = checkProgram(task, environment))
        add(Field::command, {*program});
    if (const auto folder = checkWorkingDirectory(task))
        add(Field::workingDirectory, {*folder});
    add(Field::envFile, checkEnvFile(task));
    add(Field::schedule, checkClockChanges(task, environment));
    return found;
}

QStringList check(const ScheduledTask& task, const Environment& environment)
{
    QStringList texts;
    for (const Finding& finding : findings(task, environment))
        texts << finding.text;
    return texts;
}

} // namespace Preflight
