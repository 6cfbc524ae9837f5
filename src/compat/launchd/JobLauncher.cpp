#include "JobLauncher.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <unistd.h>
#include <vector>

namespace JobLauncher {

namespace {

// Passed through from the runner so a job on Linux finds the user's session bus, runtime
// folder and data folders (the program's own tools read their data from there).
const char* const sessionVariables[] = {"XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS",
                                        "XDG_DATA_HOME",   "XDG_CONFIG_HOME",
                                        "XDG_STATE_HOME",  "XDG_CACHE_HOME"};

int openLog(const QString& path)
{
    if (!path.isEmpty()) {
        // 0666 less the umask, as launchd creates them.
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0)
            return fd;
    }
    return ::open("/dev/null", O_WRONLY | O_CLOEXEC);
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

void reportToLog(int fd, const QString& message)
{
    const QByteArray line = message.toLocal8Bit() + '\n';
    [[maybe_unused]] const ssize_t written = ::write(fd, line.constData(), line.size());
}

} // namespace

QString defaultPath() { return QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin"); }

UserInfo currentUser()
{
    UserInfo user;
    const passwd* entry = ::getpwuid(::getuid());
    user.home = qEnvironmentVariable("HOME");
    if (user.home.isEmpty() && entry)
        user.home = QFile::decodeName(entry->pw_dir);
    if (entry)
        user.user = QString::fromLocal8Bit(entry->pw_name);
    if (user.user.isEmpty())
        user.user = qEnvironmentVariable("USER");
    if (entry && entry->pw_shell && *entry->pw_shell)
        user.shell = QFile::decodeName(entry->pw_shell);
    if (user.shell.isEmpty())
        user.shell = qEnvironmentVariable("SHELL", QStringLiteral("/bin/sh"));
    user.tmpdir = qEnvironmentVariable("TMPDIR", QStringLiteral("/tmp"));
    return user;
}

QStringList environmentFor(const UserInfo& user, const QMap<QString, QString>& runnerEnvironment,
                           const QMap<QString, QString>& jobVariables)
{
    QMap<QString, QString> variables{
        {QStringLiteral("HOME"), user.home},     {QStringLiteral("USER"), user.user},
        {QStringLiteral("LOGNAME"), user.user},  {QStringLiteral("SHELL"), user.shell},
        {QStringLiteral("PATH"), defaultPath()}, {QStringLiteral("TMPDIR"), user.tmpdir}};
    for (const char* name : sessionVariables) {
        const QString value = runnerEnvironment.value(QLatin1String(name));
        if (!value.isEmpty())
            variables.insert(QLatin1String(name), value);
    }
    for (auto it = jobVariables.cbegin(); it != jobVariables.cend(); ++it)
        variables.insert(it.key(), it.value());
    QStringList entries;
    for (auto it = variables.cbegin(); it != variables.cend(); ++it)
        entries.append(it.key() + QLatin1Char('=') + it.value());
    return entries;
}

QString resolveExecutable(const JobSpec& definition, const QString& searchPath)
{
    const QString name =
        definition.program.isEmpty() ? definition.arguments.value(0) : definition.program;
    if (name.isEmpty())
        return {};
    if (name.contains(QLatin1Char('/')))
        return name;
    for (const QString& folder : searchPath.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString candidate = folder + QLatin1Char('/') + name;
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return candidate;
    }
    return {};
}

Started start(const JobSpec& definition, const UserInfo& user, const QStringList& environment)
{
    const Fd input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const Fd output(openLog(definition.standardOutPath));
    const Fd errors(openLog(definition.standardErrorPath));

    QString searchPath = defaultPath();
    for (const QString& entry : environment) {
        if (entry.startsWith(QLatin1String("PATH=")))
            searchPath = entry.mid(5);
    }
    const QString executable = resolveExecutable(definition, searchPath);
    if (executable.isEmpty()) {
        const QString message = QStringLiteral("brenmor-agent-runner: %1: command not found")
                                    .arg(definition.arguments.value(0));
        reportToLog(errors.get(), message);
        return {-1, message};
    }

    std::vector<QByteArray> storage;
    auto pointers = [&storage](const QStringList& list) {
        std::vector<char*> result;
        for (const QString& item : list) {
            storage.push_back(item.toLocal8Bit());
            result.push_back(storage.back().data());
        }
        result.push_back(nullptr);
        return result;
    };
    storage.reserve(definition.arguments.size() + environment.size() + 1);
    std::vector<char*> argv = pointers(definition.arguments);
    std::vector<char*> envp = pointers(environment);
    const QByteArray path = QFile::encodeName(executable);
    const QByteArray folder = QFile::encodeName(
        definition.workingDirectory.isEmpty() ? user.home : definition.workingDirectory);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errors.get(), STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
#if defined(__GLIBC_PREREQ) && __GLIBC_PREREQ(2, 34)
    // Nothing of the runner (its socket, lock, timer) leaks into a job.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGHUP);
    sigset_t noMask;
    sigemptyset(&noMask);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &noMask);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const int result =
        ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        const QString message = QStringLiteral("brenmor-agent-runner: cannot start %1: %2")
                                    .arg(executable, QString::fromLocal8Bit(strerror(result)));
        reportToLog(errors.get(), message);
        return {-1, message};
    }
    return {pid, {}};
}

} // namespace JobLauncher
