#include "RunnerTestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>
#include <QThread>

#include <csignal>

namespace RunnerTest {

namespace {

QString xmlEscaped(const QString& text) { return text.toHtmlEscaped(); }

QString lockFile()
{
    return qEnvironmentVariable("XDG_RUNTIME_DIR") +
           QStringLiteral("/brenmor-ops/agent-runner.lock");
}

} // namespace

ProcessResult launchctl(const QStringList& arguments, const QProcessEnvironment& extra)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(extra);
    return TestSupport::run(TestSupport::compatPath(QStringLiteral("launchctl")), arguments,
                            environment, timeoutMs);
}

QByteArray plist(const QString& label, const QStringList& arguments, const QString& extraKeys)
{
    QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                  "<plist version=\"1.0\">\n<dict>\n"
                                  "    <key>Label</key>\n    <string>%1</string>\n"
                                  "    <key>ProgramArguments</key>\n    <array>\n")
                       .arg(xmlEscaped(label));
    for (const QString& argument : arguments)
        text += QStringLiteral("        <string>%1</string>\n").arg(xmlEscaped(argument));
    text += QStringLiteral("    </array>\n") + extraKeys + QStringLiteral("\n</dict>\n</plist>\n");
    return text.toUtf8();
}

QString writePlist(const QString& folder, const QString& label, const QStringList& arguments,
                   const QString& extraKeys)
{
    const QString path = folder + QLatin1Char('/') + label + QStringLiteral(".plist");
    TestSupport::writeFile(path, plist(label, arguments, extraKeys));
    return path;
}

bool processAlive(qint64 pid) { return pid > 0 && TestSupport::processRunning(pid); }

qint64 runnerPid()
{
    const qint64 pid = TestSupport::readFile(lockFile()).trimmed().toLongLong();
    if (!processAlive(pid))
        return 0;
    const QByteArray commandLine =
        TestSupport::readFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return commandLine.contains("brenmor-agent-runner") ? pid : 0;
}

void stopRunner()
{
    const qint64 pid = runnerPid();
    if (pid <= 0)
        return;
    ::kill(pid_t(pid), SIGTERM);
    if (!waitFor([pid] { return !processAlive(pid); }, 5000)) {
        ::kill(pid_t(pid), SIGKILL);
        waitFor([pid] { return !processAlive(pid); }, 5000);
    }
}

void killGroup(qint64 pid)
{
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
}

QStringList listEntry(const QString& label)
{
    const ProcessResult result = launchctl({QStringLiteral("list")});
    for (const QString& line : result.outText().split(QLatin1Char('\n'))) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() == 3 && fields[2] == label)
            return fields;
    }
    return {};
}

bool waitFor(const std::function<bool()>& condition, int timeout)
{
    const QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(100);
    }
    return true;
}

} // namespace RunnerTest
