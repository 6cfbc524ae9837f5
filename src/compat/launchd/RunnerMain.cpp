#include "AgentRunner.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    // Detach from the caller's terminal and process group: the runner outlives whatever
    // launchctl started it.
    ::setsid();
    // Signals held back by whoever started it (the tool holds back SIGINT and SIGTERM while it
    // changes the task file and loads agents) would stay held back in the runner and in every
    // job it starts: the runner could not be stopped and the jobs would never hear SIGTERM.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    QCoreApplication app(argc, argv);
    AgentRunner runner;
    const Result<void, AgentRunner::StartError> started = runner.start();
    if (started.ok())
        return QCoreApplication::exec();
    // Login starts it from several places; the second one simply leaves.
    if (started.error().alreadyRunning)
        return 0;
    std::fprintf(stderr, "brenmor-agent-runner: %s\n", qPrintable(started.message()));
    return 1;
}
