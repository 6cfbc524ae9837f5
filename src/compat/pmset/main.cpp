// pmset for Linux: the wake-event part of macOS's pmset (repeat, schedule, -g sched).
#include "PmsetTool.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const PmsetToolOutcome outcome = runPmset(app.arguments().mid(1));
    QTextStream(stdout) << outcome.standardOutput;
    QTextStream(stderr) << outcome.standardError;
    return outcome.status;
}
