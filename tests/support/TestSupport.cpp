#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimeZone>

namespace {
const char* const redirected[] = {"HOME",           "XDG_DATA_HOME",  "XDG_CONFIG_HOME",
                                  "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"};
}

TestHome::TestHome()
{
    for (const char* name : redirected)
        m_saved.insert(name, qgetenv(name));
    const QString root = m_dir.path();
    QDir().mkpath(root + QStringLiteral("/.local/share"));
    QDir().mkpath(root + QStringLiteral("/.config"));
    QDir().mkpath(root + QStringLiteral("/.local/state"));
    QDir().mkpath(root + QStringLiteral("/.cache"));
    QDir().mkpath(root + QStringLiteral("/run"));
    QFile::setPermissions(root + QStringLiteral("/run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", root.toUtf8());
    qputenv("XDG_DATA_HOME", (root + QStringLiteral("/.local/share")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_STATE_HOME", (root + QStringLiteral("/.local/state")).toUtf8());
    qputenv("XDG_CACHE_HOME", (root + QStringLiteral("/.cache")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/run")).toUtf8());
}

TestHome::~TestHome()
{
    for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
        if (it.value().isEmpty())
            qunsetenv(it.key().constData());
        else
            qputenv(it.key().constData(), it.value());
    }
}

QString TestHome::dataFolder() const { return path() + QStringLiteral("/.local/share/BrenmorOps"); }
QString TestHome::taskFile() const { return dataFolder() + QStringLiteral("/tasks.json"); }
QString TestHome::launchAgents() const { return path() + QStringLiteral("/Library/LaunchAgents"); }

QProcessEnvironment TestHome::environment() const
{
    return QProcessEnvironment::systemEnvironment();
}

namespace TestSupport {

QString dataPath(const QString& name)
{
    const QString root = qEnvironmentVariable("BRENMOR_TEST_DATA");
    return name.isEmpty() ? root : root + QLatin1Char('/') + name;
}

QString binPath(const QString& program)
{
    return qEnvironmentVariable("BRENMOR_BIN_DIR") + QLatin1Char('/') + program;
}

QString compatPath(const QString& program)
{
    return qEnvironmentVariable("BRENMOR_COMPAT_DIR") + QLatin1Char('/') + program;
}

ProcessResult run(const QString& program, const QStringList& args,
                  const QProcessEnvironment& environment, int timeoutMs,
                  const QString& workingDirectory)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(program, args);
    ProcessResult result;
    if (!process.waitForStarted(10000))
        return result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

ProcessResult runTool(const TestHome& home, const QStringList& args,
                      const QProcessEnvironment& extra)
{
    QProcessEnvironment environment = home.environment();
    environment.insert(extra);
    return run(binPath(QStringLiteral("brenmor-ops")), args, environment);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray runHistoryLine(int index, int exitCode)
{
    const QDateTime start =
        QDateTime(QDate(2025, 3, 1), QTime(9, 0), QTimeZone::utc()).addSecs(qint64(index) * 3600);
    return start.toString(Qt::ISODate).toLatin1() + '\t' +
           start.addSecs(42).toString(Qt::ISODate).toLatin1() + '\t' +
           QByteArray::number(exitCode) + '\n';
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

void writeScript(const QString& path, const QByteArray& body)
{
    writeFile(path, body);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                    QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                    QFileDevice::ExeOther);
}

QList<qint64> processesMentioning(const QString& text)
{
    QList<qint64> found;
    const QByteArray wanted = text.toUtf8();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        // A process gone meanwhile, or a zombie (empty command line), mentions nothing.
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(wanted))
            found.append(pid);
    }
    return found;
}

bool processRunning(qint64 pid)
{
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.isEmpty())
        return false;
    const qsizetype close = stat.lastIndexOf(')');
    return close > 0 && stat.mid(close + 2, 1) != "Z";
}

} // namespace TestSupport
