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
    QString error;
    switch (runner.start(&error)) {
    case AgentRunner::StartResult::started:
        return QCoreApplication::exec();
    case AgentRunner::StartResult::alreadyRunning:
        // Login starts it from several places; the second one simply leaves.
        return 0;
    case AgentRunner::StartResult::failed:
        break;
    }
    std::fprintf(stderr, "brenmor-agent-runner: %s\n", qPrintable(error));
    return 1;
}
