#include "CLITaskStore.h"
#include "Commands.h"
#include "Console.h"
#include "Preflight.h"
#include "ReadOnlyArgs.h"
#include "TextTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {
const QString usage = QStringLiteral("Usage: brenmor-ops run <name-or-id>");

// The run sees what a scheduled run sees where it matters: launchd's short search path, the
// home folder as working folder and no input. Output stays on the terminal.
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
        return spawn(script, context.console);
    }

private:
    static int spawn(const QString& script, const Console& console)
    {
        const QByteArray path = QFile::encodeName(script);
        const QByteArray home = QFile::encodeName(QDir::homePath());
        std::vector<QByteArray> environment = runEnvironment();
        std::vector<char*> envp;
        for (QByteArray& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(path.constData()), nullptr};

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        // launchd starts agents in the home folder; the tool's own folder stays as it is.
        posix_spawn_file_actions_addchdir_np(&actions, home.constData());

        // Ctrl-C reaches the command (same process group); the tool waits for it to finish
        // so the run is recorded and its status reported.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction oldInt {
        }, oldQuit{};
        sigaction(SIGINT, &ignore, &oldInt);
        sigaction(SIGQUIT, &ignore, &oldQuit);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGQUIT);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

        pid_t pid = -1;
        const int spawnError =
            posix_spawn(&pid, path.constData(), &actions, &attributes, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        int status = 1;
        if (spawnError != 0) {
            console.error(QStringLiteral("Could not start %1: %2")
                              .arg(script, QString::fromLocal8Bit(std::strerror(spawnError))));
        } else {
            int waitStatus = 0;
            pid_t waited = -1;
            do {
                waited = ::waitpid(pid, &waitStatus, 0);
            } while (waited < 0 && errno == EINTR);
            status = waited == pid ? statusOf(waitStatus) : 1;
        }
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGQUIT, &oldQuit, nullptr);
        return status;
    }
};
} // namespace

std::unique_ptr<Command> makeRunCommand() { return std::make_unique<RunCommand>(); }
