// Adds a task the way the command-line tool does, which posts the change notification.
#include "ChangeNotification.h"
#include "TaskFileTransaction.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return 2;
    // The tool's transaction: the notification is posted once the lock is released.
    TaskFileTransaction::Options options;
    options.announce = &ChangeNotification::postTasksDidChange;
    const TaskFileTransaction::Outcome outcome =
        TaskFileTransaction::run(args.at(1), options, [](QList<ScheduledTask>& tasks) {
            tasks.append(ScheduledTask::create(QStringLiteral("posted"), QStringLiteral("true"),
                                               TaskSchedule::of<TaskSchedule::RunAtLoad>()));
            return true;
        });
    return outcome.status == TaskFileTransaction::Status::written ? 0 : 1;
}
