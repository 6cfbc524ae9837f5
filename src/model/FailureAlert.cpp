#include "FailureAlert.h"

#include "ScheduledTask.h"

#include <QSettings>

namespace FailureAlert {

QString message(const QString& taskName, int exitStatus, const QDateTime& endedAt)
{
    const QString status = exitStatus < 0 ? QStringLiteral("signal %1").arg(-exitStatus)
                                          : QStringLiteral("exit %1").arg(exitStatus);
    return QStringLiteral("%1 failed (%2) at %3")
        .arg(taskName, status, endedAt.toLocalTime().toString(QStringLiteral("HH:mm")));
}

std::unique_ptr<QSettings> openPreferences()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("BrenmorOps"), QStringLiteral("BrenmorOps"));
}

QString notifyOnFailureKey() { return QStringLiteral("notifyOnFailure"); }

bool notifyOnFailure() { return openPreferences()->value(notifyOnFailureKey(), true).toBool(); }

QString applicationBusName() { return QStringLiteral("com.brenmor_ops.App"); }

bool isTaskLabel(const QString& label) { return label.startsWith(agentLabelPrefix()); }

const ScheduledTask* taskForLabel(const QList<ScheduledTask>& tasks, const QString& label)
{
    if (!isTaskLabel(label))
        return nullptr;
    const QString id = label.mid(agentLabelPrefix().size());
    for (const ScheduledTask& task : tasks) {
        if (task.idString().compare(id, Qt::CaseInsensitive) == 0)
            return &task;
    }
    return nullptr;
}

QString nameForLabel(const QList<ScheduledTask>& tasks, const QString& label)
{
    const ScheduledTask* task = taskForLabel(tasks, label);
    return task ? task->name : label;
}

} // namespace FailureAlert
