#include "AgentRunner.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    // Detach from the caller's terminal and process group: the runner outlives whatever
    // launchctl started it.
    ::setsid();
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
