#include "ScheduledTask.h"

#include "JsonDecode.h"
#include "Result.h"

#include <QHashFunctions>
#include <QJsonArray>
#include <QTimeZone>

using namespace JsonDecode;

namespace {
// Task file timestamps count seconds from 2001-01-01 00:00:00 UTC.
const QDateTime& referenceDate()
{
    static const QDateTime date(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return date;
}

QUuid uuidField(const QJsonObject& object, const Path& path)
{
    const QString text =
        toString(required(object, QStringLiteral("id"), path), join(path, QStringLiteral("id")));
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != QStringLiteral("00000000-0000-0000-0000-000000000000"))
        fail(join(path, QStringLiteral("id")),
             QStringLiteral("\"%1\" is not a valid identifier").arg(text));
    // Only the canonical 36-character form is accepted (no braces).
    if (text.size() != 36)
        fail(join(path, QStringLiteral("id")),
             QStringLiteral("\"%1\" is not a valid identifier").arg(text));
    return id;
}

std::optional<QString> optionalString(const QJsonObject& object, const char* key, const Path& path)
{
    const QString name = QLatin1String(key);
    if (auto value = optional(object, name))
        return toString(*value, join(path, name));
    return std::nullopt;
}

TaskLog decodeLog(const QJsonValue& json, const Path& path)
{
    const QJsonObject object = toObject(json, path);
    TaskLog log;
    log.id = uuidField(object, path);
    log.timestamp = toDouble(required(object, QStringLiteral("timestamp"), path),
                             join(path, QStringLiteral("timestamp")));
    log.exitCode = toInt32(required(object, QStringLiteral("exitCode"), path),
                           join(path, QStringLiteral("exitCode")));
    log.output = toString(required(object, QStringLiteral("output"), path),
                          join(path, QStringLiteral("output")));
    return log;
}

bool boolField(const QJsonObject& object, const char* key, const Path& path)
{
    const QString name = QLatin1String(key);
    return toBool(required(object, name, path), join(path, name));
}

QString stringField(const QJsonObject& object, const char* key, const Path& path)
{
    const QString name = QLatin1String(key);
    return toString(required(object, name, path), join(path, name));
}

} // namespace

namespace JsonDecode {
ScheduledTask decodeTask(const QJsonValue& json, const Path& path)
{
    const QJsonObject object = toObject(json, path);
    ScheduledTask task;
    task.id = uuidField(object, path);
    task.name = stringField(object, "name", path);
    task.command = stringField(object, "command", path);
    task.workingDirectory = optionalString(object, "workingDirectory", path);
    task.envFilePath = optionalString(object, "envFilePath", path);
    task.useLoginShell = boolField(object, "useLoginShell", path);
    if (auto wake = optional(object, QStringLiteral("wakeBeforeRun")))
        task.wakeBeforeRun = toBool(*wake, join(path, QStringLiteral("wakeBeforeRun")));
    task.schedule = decodeSchedule(required(object, QStringLiteral("schedule"), path),
                                   join(path, QStringLiteral("schedule")));
    task.isEnabled = boolField(object, "isEnabled", path);
    const Path logsPath = join(path, QStringLiteral("logs"));
    const QJsonArray logs = toArray(required(object, QStringLiteral("logs"), path), logsPath);
    for (qsizetype i = 0; i < logs.size(); ++i)
        task.logs.append(decodeLog(logs.at(i), index(logsPath, i)));
    return task;
}
} // namespace JsonDecode

QString uuidUpper(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

QString uuidShort(const QUuid& id) { return uuidUpper(id).left(8).toLower(); }

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

QJsonObject TaskLog::toJson() const
{
    return {{QStringLiteral("id"), uuidUpper(id)},
            {QStringLiteral("timestamp"), timestamp},
            {QStringLiteral("exitCode"), exitCode},
            {QStringLiteral("output"), output}};
}

Result<TaskLog> TaskLog::fromJson(const QJsonValue& json)
{
    try {
        return decodeLog(json, Path{});
    } catch (const DecodeFailure& failure) {
        return Result<TaskLog>::failure(failure.message);
    }
}

QJsonObject ScheduledTask::toJson() const
{
    QJsonObject object{{QStringLiteral("id"), idString()},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("command"), command},
                       {QStringLiteral("useLoginShell"), useLoginShell},
                       {QStringLiteral("wakeBeforeRun"), wakeBeforeRun},
                       {QStringLiteral("schedule"), schedule.toJson()},
                       {QStringLiteral("isEnabled"), isEnabled}};
    if (workingDirectory)
        object.insert(QStringLiteral("workingDirectory"), *workingDirectory);
    if (envFilePath)
        object.insert(QStringLiteral("envFilePath"), *envFilePath);
    QJsonArray logArray;
    for (const TaskLog& log : logs)
        logArray.append(log.toJson());
    object.insert(QStringLiteral("logs"), logArray);
    return object;
}

Result<ScheduledTask> ScheduledTask::fromJson(const QJsonValue& json)
{
    try {
        return decodeTask(json, Path{});
    } catch (const DecodeFailure& failure) {
        return Result<ScheduledTask>::failure(failure.message);
    }
}

size_t qHash(const ScheduledTask& task, size_t seed)
{
    seed =
        qHashMulti(seed, task.id, task.name, task.command,
                   task.workingDirectory.value_or(QString()), task.envFilePath.value_or(QString()),
                   task.useLoginShell, task.wakeBeforeRun, task.isEnabled, task.logs.size());
    return qHash(task.schedule, seed);
}
