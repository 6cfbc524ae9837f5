#include "ScheduledTask.h"

#include "JsonDecode.h"
#include "Result.h"
#include "TaskJsonWriter.h"

#include <QHashFunctions>
#include <QTimeZone>

using namespace JsonDecode;

namespace {
// Task file timestamps count seconds from 2001-01-01 00:00:00 UTC.
const QDateTime& referenceDate()
{
    static const QDateTime date(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return date;
}

} // namespace

QString uuidUpper(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

QString uuidShort(const QUuid& id)
{
    // The first eight hex digits are data1's; a list shows one per task, so no full text.
    static constexpr char digits[] = "0123456789abcdef";
    QString text(8, Qt::Uninitialized);
    for (int i = 0; i < 8; ++i)
        text[i] = QLatin1Char(digits[(id.data1 >> (28 - 4 * i)) & 0xF]);
    return text;
}

ScheduledTask ScheduledTask::create(QString name, QString command, TaskSchedule schedule)
{
    ScheduledTask task;
    task.id = QUuid::createUuid();
    task.name = std::move(name);
    task.command = std::move(command);
    task.schedule = std::move(schedule);
    return task;
}

QString ScheduledTask::idString() const { return uuidUpper(id); }

QString ScheduledTask::shortId() const { return uuidShort(id); }

double TaskLog::timestampOf(const QDateTime& date)
{
    return double(referenceDate().msecsTo(date)) / 1000.0;
}

QDateTime TaskLog::date() const { return referenceDate().addMSecs(qRound64(timestamp * 1000.0)); }

QJsonObject TaskLog::toJson() const { return TaskJsonWriter::object(*this); }

Result<TaskLog> TaskLog::fromJson(const QJsonValue& json) { return decodeLog(json, Path{}); }

QJsonObject ScheduledTask::toJson() const { return TaskJsonWriter::object(*this); }

Result<ScheduledTask> ScheduledTask::fromJson(const QJsonValue& json)
{
    return decodeTask(json, Path{});
}

size_t qHash(const ScheduledTask& task, size_t seed)
{
    seed =
        qHashMulti(seed, task.id, task.name, task.command,
                   task.workingDirectory.value_or(QString()), task.envFilePath.value_or(QString()),
                   task.useLoginShell, task.wakeBeforeRun, task.isEnabled, task.logs.size());
    return qHash(task.schedule, seed);
}

const ScheduledTask* shortIdTwin(const QList<ScheduledTask>& tasks, const ScheduledTask& task)
{
    const QString shortId = task.shortId();
    for (const ScheduledTask& other : tasks) {
        if (other.id != task.id && other.shortId() == shortId)
            return &other;
    }
    return nullptr;
}

QString shortIdCollisionMessage(const ScheduledTask& task, const ScheduledTask& twin)
{
    return QStringLiteral("Task \"%1\" (%2) cannot be enabled: its ID begins with the same eight "
                          "characters %3 as that of task \"%4\" (%5), and the two would share "
                          "one script, log and history. Remove one of them.")
        .arg(task.name, task.idString(), task.shortId(), twin.name, twin.idString());
}

QString agentLabelPrefix() { return QStringLiteral("com.brenmor-ops.task."); }
