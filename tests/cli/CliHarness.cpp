#include "CliHarness.h"

#include "ResultChecks.h"
#include "TaskFile.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {
QString shellQuote(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}
} // namespace

CliHarness::CliHarness() : m_fakes(m_home.path() + QStringLiteral("/fakes"))
{
    QDir().mkpath(m_fakes);
    const QByteArray calls = shellQuote(m_fakes + QStringLiteral("/calls.log")).toUtf8();
    const QByteArray counter = shellQuote(m_fakes + QStringLiteral("/launchctl.count")).toUtf8();
    const QByteArray snapshots = shellQuote(m_fakes + QStringLiteral("/snapshot.")).toUtf8();
    const QByteArray taskFile = shellQuote(m_home.taskFile()).toUtf8();

    TestSupport::writeScript(
        m_fakes + QStringLiteral("/launchctl"),
        "#!/bin/sh\n"
        // Every agent that has a plist counts as loaded; asking is not a call worth logging.
        "if [ \"$1\" = list ]; then\n"
        "  printf 'PID\\tStatus\\tLabel\\n'\n"
        "  for p in " +
            shellQuote(m_home.launchAgents()).toUtf8() +
            "/*.plist; do [ -f \"$p\" ] && printf -- '-\\t0\\t%s\\n' \"$(basename \"$p\" "
            ".plist)\"; done\n"
            "  exit 0\n"
            "fi\n"
            "n=$(cat " +
            counter +
            " 2>/dev/null || echo 0)\n"
            "n=$((n + 1))\n"
            "echo \"$n\" > " +
            counter +
            "\n"
            "[ -f " +
            taskFile + " ] && cp " + taskFile + " " + snapshots +
            "\"$n\"\n"
            "label=$(basename \"$2\" .plist)\n"
            "printf 'launchctl %s %s\\n' \"$1\" \"${label#com.brenmor-ops.task.}\""
            " >> " +
            calls +
            "\n"
            "exit \"${FAKE_LAUNCHCTL_STATUS:-0}\"\n");
    TestSupport::writeScript(m_fakes + QStringLiteral("/osascript"),
                             "#!/bin/sh\n"
                             // Root is handed our pmset by its absolute path; the log names it
                             // "pmset", as the wake code writes its commands.
                             "printf 'osascript %s\\n' \"$(printf '%s' \"$2\" | sed \"s|'" +
                                 m_fakes.toUtf8() + "/pmset'|pmset|g\")\" >> " + calls +
                                 "\n"
                                 "if [ -n \"$FAKE_OSASCRIPT_FAIL_WHEN\" ]; then\n"
                                 "  case \"$2\" in *\"$FAKE_OSASCRIPT_FAIL_WHEN\"*)\n"
                                 "    echo '0:80: execution error: User canceled. (-128)' >&2\n"
                                 "    exit 1;;\n"
                                 "  esac\n"
                                 "fi\n"
                                 "exit 0\n");
    // The tool reads the system schedule only to see whether a one-time event it would cancel
    // is there; this one holds none. Every call shows up in the log.
    TestSupport::writeScript(m_fakes + QStringLiteral("/pmset"),
                             "#!/bin/sh\nprintf 'pmset %s\\n' \"$*\" >> " + calls + "\n");
}

ProcessResult CliHarness::run(const QStringList& args, const QProcessEnvironment& extra) const
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("BRENMOR_OPS_LAUNCHCTL"),
                       m_fakes + QStringLiteral("/launchctl"));
    environment.insert(QStringLiteral("BRENMOR_OPS_OSASCRIPT"),
                       m_fakes + QStringLiteral("/osascript"));
    environment.insert(QStringLiteral("BRENMOR_OPS_PMSET"), m_fakes + QStringLiteral("/pmset"));
    environment.insert(extra);
    return TestSupport::runTool(m_home, args, environment);
}

QStringList CliHarness::calls() const
{
    const QString log =
        QString::fromUtf8(TestSupport::readFile(m_fakes + QStringLiteral("/calls.log")));
    return log.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void CliHarness::clearCalls() const { QFile::remove(m_fakes + QStringLiteral("/calls.log")); }

std::optional<QList<ScheduledTask>> CliHarness::snapshotAtLaunchctlCall(int n) const
{
    const QString path = m_fakes + QStringLiteral("/snapshot.") + QString::number(n);
    const TaskFile::ReadResult read = TaskFile::read(path);
    if (read.status != TaskFile::ReadStatus::loaded)
        return std::nullopt;
    return read.tasks;
}

QProcessEnvironment CliHarness::failOsascriptWhen(const QString& text)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("FAKE_OSASCRIPT_FAIL_WHEN"), text);
    return environment;
}

QProcessEnvironment CliHarness::launchctlStatus(int status)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("FAKE_LAUNCHCTL_STATUS"), QString::number(status));
    return environment;
}

void CliHarness::seed(const QList<ScheduledTask>& tasks) const
{
    QDir().mkpath(m_home.dataFolder());
    VERIFY_OK(TaskFile::write(taskFile(), tasks));
}

void CliHarness::seedBytes(const QByteArray& bytes) const
{
    TestSupport::writeFile(taskFile(), bytes);
}

QList<ScheduledTask> CliHarness::storedTasks() const
{
    const TaskFile::ReadResult read = TaskFile::read(taskFile());
    if (read.status == TaskFile::ReadStatus::unreadable)
        qWarning("task file does not decode: %s", qPrintable(read.error));
    return read.tasks;
}

QString CliHarness::plistPath(const ScheduledTask& task) const
{
    return m_home.launchAgents() + QStringLiteral("/com.brenmor-ops.task.") + task.idString() +
           QStringLiteral(".plist");
}

QString CliHarness::scriptPath(const ScheduledTask& task) const
{
    return m_home.dataFolder() + QStringLiteral("/Scripts/BrenmorOps_") + task.shortId() +
           QStringLiteral(".sh");
}

QString withoutWarnings(const QString& err)
{
    // A warning naming a path with a line feed goes on until the next "Error: " line.
    QStringList kept;
    bool inWarning = false;
    for (const QString& line : err.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Warning: ")))
            inWarning = true;
        else if (line.startsWith(QLatin1String("Error: ")) || line.isEmpty())
            inWarning = false;
        if (!inWarning)
            kept << line;
    }
    return kept.join(QLatin1Char('\n')).trimmed().isEmpty() ? QString()
                                                            : kept.join(QLatin1Char('\n'));
}

TaskBuilder storedTask(const QString& name, const QString& id)
{
    return std::move(TaskBuilder(name).id(id).echoesName().loginShell());
}

QString repeatWakeCall(const QString& days, const QString& time)
{
    return QStringLiteral("osascript do shell script \"pmset repeat wakeorpoweron %1 %2\" with "
                          "administrator privileges")
        .arg(days, time);
}
