#include "CLITaskStore.h"
#include "Commands.h"
#include "Console.h"
#include "Preflight.h"
#include "ReadOnlyArgs.h"
#include "TextTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
const QString usage = QStringLiteral("Usage: brenmor-ops run <name-or-id>");

// The run sees what a scheduled run sees where it matters: launchd's short search path, the
// home folder as working folder and no input. Its output goes to the task's logs as the
// agent's does, and to the terminal as well.
std::vector<QByteArray> runEnvironment()
{
    std::vector<QByteArray> entries;
    for (char** entry = environ; *entry; ++entry) {
        if (std::strncmp(*entry, "PATH=", 5) != 0)
            entries.emplace_back(*entry);
    }
    entries.push_back("PATH=" + Preflight::agentSearchPath().toLocal8Bit());
    return entries;
}

// Like a shell: the command's status, or 128 + the signal that ended it.
int statusOf(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return 1;
}

class RunCommand final : public Command {
public:
    int execute(const QStringList& args, CommandContext& context) override
    {
        const auto named = parseTaskArgs(args, {}, std::nullopt, usage, context);
        if (!named)
            return 1;
        const ScheduledTask& task = named->task;
        const QString script = context.store.agentPaths().scriptPath(task);
        if (!QFileInfo(script).isExecutable()) {
            context.console.error(
                QStringLiteral("%1 is not installed (no wrapper script at %2); enable it first")
                    .arg(terminalText(task.name), script));
            return 1;
        }
        const AgentPaths& paths = context.store.agentPaths();
        return spawn(script, paths.stdoutLogPath(task), paths.stderrLogPath(task), context.console);
    }

private:
    static int spawn(const QString& script, const QString& stdoutLog, const QString& stderrLog,
                     const Console& console)
    {
        const QByteArray path = QFile::encodeName(script);
        const QByteArray home = QFile::encodeName(QDir::homePath());
        std::vector<QByteArray> environment = runEnvironment();
        std::vector<char*> envp;
        for (QByteArray& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(path.constData()), nullptr};

        Stream out{STDOUT_FILENO, openLog(stdoutLog, console)};
        Stream err{STDERR_FILENO, openLog(stderrLog, console)};
        int outPipe[2] = {-1, -1};
        int errPipe[2] = {-1, -1};
        if (!openPipe(outPipe) || !openPipe(errPipe)) {
            console.error(QStringLiteral("Could not start %1: %2")
                              .arg(script, QString::fromLocal8Bit(std::strerror(errno))));
            for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], out.log, err.log})
                if (fd >= 0)
                    ::close(fd);
            return 1;
        }
        out.pipe = outPipe[0];
        err.pipe = errPipe[0];

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
        // launchd starts agents in the home folder; the tool's own folder stays as it is.
        posix_spawn_file_actions_addchdir_np(&actions, home.constData());

        // The wrapper leads a session of its own, as launchd starts it, and never shares our
        // terminal. Ctrl-C, a hang-up or a termination of the tool are passed on to it; it
        // passes them on to the command and records the run, and the tool waits for that.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int number : forwardedSignals)
            sigaddset(&defaults, number);
        sigaddset(&defaults, SIGQUIT);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

        std::array<struct sigaction, 3> previous{};
        struct sigaction note {};
        note.sa_handler = noteSignal;
        sigemptyset(&note.sa_mask);
        for (size_t i = 0; i < forwardedSignals.size(); ++i)
            sigaction(forwardedSignals[i], &note, &previous[i]);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction previousPipe {
        }, previousQuit{};
        sigaction(SIGPIPE, &ignore, &previousPipe);
        sigaction(SIGQUIT, &ignore, &previousQuit);
        receivedSignal = 0;

        pid_t pid = -1;
        const int spawnError =
            posix_spawn(&pid, path.constData(), &actions, &attributes, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        int status = 1;
        if (spawnError != 0) {
            console.error(QStringLiteral("Could not start %1: %2")
                              .arg(script, QString::fromLocal8Bit(std::strerror(spawnError))));
        } else {
            status = copyUntilEnded(pid, out, err);
        }
        for (int fd : {out.pipe, err.pipe, out.log, err.log})
            if (fd >= 0)
                ::close(fd);
        for (size_t i = 0; i < forwardedSignals.size(); ++i)
            sigaction(forwardedSignals[i], &previous[i], nullptr);
        sigaction(SIGPIPE, &previousPipe, nullptr);
        sigaction(SIGQUIT, &previousQuit, nullptr);
        return status;
    }

    // One output stream of the run: the pipe it comes through, the log it is appended to and
    // the tool's own stream it is shown on.
    struct Stream {
        int terminal = -1;
        int log = -1;
        int pipe = -1;
    };

    static constexpr std::array<int, 3> forwardedSignals{SIGINT, SIGTERM, SIGHUP};
    static inline volatile std::sig_atomic_t receivedSignal = 0;
    static void noteSignal(int number) { receivedSignal = number; }

    static bool openPipe(int (&ends)[2])
    {
        if (::pipe(ends) != 0)
            return false;
        ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
        return true;
    }

    // Appended like launchd appends to StandardOutPath: created 0666 less the umask.
    static int openLog(const QString& path, const Console& console)
    {
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0)
            console.warning(QStringLiteral("Could not open %1: %2; the output is not logged")
                                .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        return fd;
    }

    static void writeAll(int fd, const char* data, ssize_t size)
    {
        while (fd >= 0 && size > 0) {
            const ssize_t written = ::write(fd, data, size_t(size));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return; // a closed terminal or a full disk does not stop the run
            data += written;
            size -= written;
        }
    }

    // Reads what is there; false at the end of the stream.
    static bool copyAvailable(Stream& stream)
    {
        char buffer[65536];
        const ssize_t count = ::read(stream.pipe, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            return true;
        if (count <= 0)
            return false;
        writeAll(stream.log, buffer, count);
        writeAll(stream.terminal, buffer, count);
        return true;
    }

    // Copies both streams until the wrapper has ended and they are drained (a process the
    // command left in the background may keep them open: the copy stops with the wrapper),
    // passing signals on meanwhile. Returns the wrapper's status like a shell.
    static int copyUntilEnded(pid_t pid, Stream& out, Stream& err)
    {
        std::array<Stream*, 2> streams{&out, &err};
        bool ended = false;
        int waitStatus = 0;
        for (;;) {
            if (const int number = receivedSignal) {
                receivedSignal = 0;
                ::kill(pid, number);
            }
            if (!ended) {
                const pid_t waited = ::waitpid(pid, &waitStatus, WNOHANG);
                ended = waited == pid || (waited < 0 && errno != EINTR);
            }
            std::vector<pollfd> fds;
            for (Stream* stream : streams)
                if (stream->pipe >= 0)
                    fds.push_back({stream->pipe, POLLIN, 0});
            if (fds.empty())
                break;
            // Once the wrapper has ended, only what is already there is copied.
            const int ready = ::poll(fds.data(), nfds_t(fds.size()), ended ? 0 : 100);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0) {
                if (ended)
                    break;
                continue;
            }
            for (const pollfd& fd : fds) {
                if (!(fd.revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                for (Stream* stream : streams) {
                    if (stream->pipe == fd.fd && !copyAvailable(*stream)) {
                        ::close(stream->pipe);
                        stream->pipe = -1;
                    }
                }
            }
        }
        if (!ended) {
            while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
                if (const int number = receivedSignal) {
                    receivedSignal = 0;
                    ::kill(pid, number);
                }
            }
        }
        return statusOf(waitStatus);
    }
};
} // namespace

std::unique_ptr<Command> makeRunCommand() { return std::make_unique<RunCommand>(); }
