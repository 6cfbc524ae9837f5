#include "SystemdUnits.h"

#include "JobLauncher.h"

#include <QRegularExpression>

namespace SystemdUnits {

namespace {

const QLatin1String prefix("brenmor-ops-");
const QLatin1String madeFrom("# Made by Brenmor Ops from ");

using Translated = Result<Units, TranslationError>;

Translated refuse(const QString& key, const QString& reason)
{
    return Translated::failure({key, reason});
}

// Text that systemd reads after resolving specifiers: a single % must not start one.
QString withoutSpecifiers(QString text)
{
    text.replace(QLatin1Char('%'), QLatin1String("%%"));
    return text;
}

bool hasControlCharacter(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// Inside double quotes systemd undoes C escapes; variables ($NAME) and specifiers (%x) are
// expanded everywhere, so both are doubled.
QString quoted(const QString& text, bool variables)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '%':
            out += QLatin1String("%%");
            break;
        case '$':
            out += variables ? QLatin1String("$$") : QLatin1String("$");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out + QLatin1Char('"');
}

QString twoDigits(const std::optional<int>& value)
{
    return value ? QStringLiteral("%1").arg(*value, 2, 10, QLatin1Char('0')) : QStringLiteral("*");
}

QString calendarValue(const std::optional<int>& weekday, const std::optional<int>& day,
                      const CalendarEntry& entry)
{
    // launchd counts Sunday as both 0 and 7.
    static const char* const names[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    QString value;
    if (weekday)
        value = QLatin1String(names[*weekday]) + QLatin1Char(' ');
    return value + QStringLiteral("*-%1-%2 %3:%4:00")
                       .arg(twoDigits(entry.month), twoDigits(day), twoDigits(entry.hour),
                            twoDigits(entry.minute));
}

Result<QString, TranslationError> outputSetting(const QString& key, const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("null"); // launchd discards what has nowhere to go
    if (!path.startsWith(QLatin1Char('/')) || hasControlCharacter(path))
        return Result<QString, TranslationError>::failure(
            {key, QStringLiteral("must be an absolute path without control characters")});
    return QLatin1String("append:") + withoutSpecifiers(path);
}

QString execStart(const JobSpec& job)
{
    // launchd looks a bare program name up on its own search path when the job starts;
    // systemd would use a different one, so the name is resolved here.
    QString program = JobLauncher::resolveExecutable(
        job, job.environment.value(QStringLiteral("PATH"), JobLauncher::defaultPath()));
    if (program.isEmpty())
        program = job.program.isEmpty() ? job.arguments.first() : job.program;
    QStringList words;
    for (const QString& argument : job.arguments)
        words.append(quotedWord(argument));
    if (program == job.arguments.first())
        return words.join(QLatin1Char(' '));
    // '@': the executable is the first word, argv[0] the second, as with launchd's Program.
    return QLatin1Char('@') + quotedWord(program) + QLatin1Char(' ') + words.join(QLatin1Char(' '));
}

Result<QStringList, TranslationError> environmentLines(const JobSpec& job)
{
    static const QRegularExpression validName(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    QStringList lines{QStringLiteral("Environment=PATH=%1").arg(JobLauncher::defaultPath())};
    for (auto it = job.environment.cbegin(); it != job.environment.cend(); ++it) {
        if (!validName.match(it.key()).hasMatch())
            return Result<QStringList, TranslationError>::failure(
                {QStringLiteral("EnvironmentVariables"),
                 QStringLiteral("%1 is not a variable name").arg(it.key())});
        lines.append(QLatin1String("Environment=") +
                     quoted(it.key() + QLatin1Char('=') + it.value(), false));
    }
    return lines;
}

Result<void, TranslationError> checkKeys(const JobSpec& job)
{
    QStringList unsupported;
    for (const QString& key : job.keys) {
        if (!supportedKeys().contains(key))
            unsupported.append(key);
    }
    if (!unsupported.isEmpty())
        return Result<void, TranslationError>::failure(
            {unsupported.join(QLatin1String(", ")),
             QStringLiteral("the systemd user manager cannot run it as launchd would")});
    if (job.keys.contains(QLatin1String("StartInterval")) && !job.startInterval)
        return Result<void, TranslationError>::failure(
            {QStringLiteral("StartInterval"), QStringLiteral("must be a positive integer")});
    if (job.rejectedCalendarEntries > 0)
        return Result<void, TranslationError>::failure(
            {QStringLiteral("StartCalendarInterval"),
             QStringLiteral("holds an entry with a value out of range or not an integer")});
    return {};
}

QString header(const QString& plistPath, const QString& label, const QString& what)
{
    return madeFrom + plistPath + QLatin1Char('\n') +
           QStringLiteral("# (launchd label %1); launchctl unload removes it.\n").arg(label) +
           QStringLiteral("[Unit]\nDescription=Brenmor Ops %1 %2\n")
               .arg(what, withoutSpecifiers(label));
}

QString timerText(const JobSpec& job, const QString& plistPath)
{
    QString text = header(plistPath, job.label, QStringLiteral("timer of"));
    text += QLatin1String("\n[Timer]\n");
    if (job.startInterval) {
        // launchd's first run comes one interval after the load, then one per interval.
        text += QStringLiteral("OnActiveSec=%1\nOnUnitActiveSec=%1\n").arg(*job.startInterval);
    }
    for (const QString& value : onCalendar(job.calendar))
        text += QLatin1String("OnCalendar=") + value + QLatin1Char('\n');
    // launchd starts a job on time; systemd would otherwise allow a minute's slack.
    text += QLatin1String("AccuracySec=1s\n");
    text += QLatin1String("# No Persistent=: like launchd, runs missed while the computer was "
                          "off are not made up.\n");
    text += QLatin1String("\n[Install]\nWantedBy=timers.target\n");
    return text;
}

} // namespace

QString TranslationError::message() const
{
    return QStringLiteral("unsupported key %1: %2").arg(key, reason);
}

const QStringList& supportedKeys()
{
    static const QStringList keys{QStringLiteral("Label"),
                                  QStringLiteral("Program"),
                                  QStringLiteral("ProgramArguments"),
                                  QStringLiteral("RunAtLoad"),
                                  QStringLiteral("StartInterval"),
                                  QStringLiteral("StartCalendarInterval"),
                                  QStringLiteral("StandardOutPath"),
                                  QStringLiteral("StandardErrorPath"),
                                  QStringLiteral("WorkingDirectory"),
                                  QStringLiteral("EnvironmentVariables")};
    return keys;
}

QString unitBaseName(const QString& label)
{
    QString name = prefix;
    for (const char byte : label.toUtf8()) {
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == ':' || byte == '_' ||
                           byte == '.' || byte == '-';
        name += plain ? QString(QLatin1Char(byte))
                      : QStringLiteral("\\x%1").arg(uchar(byte), 2, 16, QLatin1Char('0'));
    }
    return name;
}

std::optional<QString> labelOfUnit(const QString& fileName)
{
    static const QRegularExpression suffix(QStringLiteral("\\.(service|timer)$"));
    if (!fileName.startsWith(prefix) || !suffix.match(fileName).hasMatch())
        return std::nullopt;
    QString escaped = fileName.mid(prefix.size());
    escaped.remove(suffix);
    QByteArray bytes;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        if (escaped.at(i) == QLatin1Char('\\') && escaped.mid(i + 1, 1) == QLatin1String("x")) {
            bytes.append(char(escaped.mid(i + 2, 2).toInt(nullptr, 16)));
            i += 3;
        } else {
            bytes.append(escaped.at(i).toLatin1());
        }
    }
    if (bytes.isEmpty())
        return std::nullopt;
    return QString::fromUtf8(bytes);
}

QString plistPathOf(const QString& unitText)
{
    if (!unitText.startsWith(madeFrom))
        return {};
    return unitText.mid(madeFrom.size()).section(QLatin1Char('\n'), 0, 0);
}

QString quotedWord(const QString& word) { return quoted(word, true); }

QStringList onCalendar(const QList<CalendarEntry>& entries)
{
    QStringList values;
    for (const CalendarEntry& entry : entries) {
        QStringList forEntry;
        if (entry.day && entry.weekday) {
            forEntry << calendarValue(std::nullopt, entry.day, entry)
                     << calendarValue(entry.weekday, std::nullopt, entry);
        } else {
            forEntry << calendarValue(entry.weekday, entry.day, entry);
        }
        for (const QString& value : forEntry) {
            if (!values.contains(value))
                values.append(value);
        }
    }
    return values;
}

Translated translate(const JobSpec& job, const QString& plistPath, const QString& home)
{
    if (const Result<void, TranslationError> keys = checkKeys(job); !keys.ok())
        return Translated::failure(keys.error());
    if (hasControlCharacter(plistPath) || hasControlCharacter(job.label))
        return refuse(QStringLiteral("Label"),
                      QStringLiteral("the label and the plist's path must hold no control "
                                     "characters"));
    const QString folder = job.workingDirectory.isEmpty() ? home : job.workingDirectory;
    if (!folder.startsWith(QLatin1Char('/')) || hasControlCharacter(folder))
        return refuse(QStringLiteral("WorkingDirectory"),
                      QStringLiteral("must be an absolute path without control characters"));
    const auto output = outputSetting(QStringLiteral("StandardOutPath"), job.standardOutPath);
    if (!output)
        return Translated::failure(output.error());
    const auto error = outputSetting(QStringLiteral("StandardErrorPath"), job.standardErrorPath);
    if (!error)
        return Translated::failure(error.error());
    const auto environment = environmentLines(job);
    if (!environment)
        return Translated::failure(environment.error());

    Units units;
    units.label = job.label;
    units.serviceName = unitBaseName(job.label) + QLatin1String(".service");
    units.timerName = unitBaseName(job.label) + QLatin1String(".timer");
    units.runAtLoad = job.runAtLoad;
    QString& text = units.service;
    text = header(plistPath, job.label, QStringLiteral("agent"));
    // launchd holds a job back for a while when it keeps failing; it never gives up on it.
    text += QLatin1String("StartLimitIntervalSec=0\n\n[Service]\nType=simple\n");
    text += QLatin1String("ExecStart=") + execStart(job) + QLatin1Char('\n');
    text += QLatin1String("WorkingDirectory=") + withoutSpecifiers(folder) + QLatin1Char('\n');
    text += environment->join(QLatin1Char('\n')) + QLatin1Char('\n');
    text += QLatin1String("StandardInput=null\n");
    text += QLatin1String("StandardOutput=") + *output + QLatin1Char('\n');
    text += QLatin1String("StandardError=") + *error + QLatin1Char('\n');
    if (job.runAtLoad)
        text += QLatin1String("\n[Install]\n# RunAtLoad: also started at login.\n"
                              "WantedBy=default.target\n");
    if (job.startInterval || !job.calendar.isEmpty())
        units.timer = timerText(job, plistPath);
    return units;
}

} // namespace SystemdUnits
