#pragma once

#include "Result.h"
#include "TaskSchedule.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// Legacy per-run entry: read and written with the task, never created any more.
struct TaskLog {
    QUuid id;
    // Seconds since 2001-01-01 00:00:00 UTC, kept exactly as read so a save writes back the
    // same number (a date type would round it to milliseconds).
    double timestamp = 0;
    qint32 exitCode = 0;
    QString output;

    static double timestampOf(const QDateTime& date);
    QDateTime date() const;

    QJsonObject toJson() const;
    static Result<TaskLog> fromJson(const QJsonValue& json);
    friend bool operator==(const TaskLog&, const TaskLog&) = default;
};

struct ScheduledTask {
    QUuid id;
    QString name;
    QString command;
    std::optional<QString> workingDirectory;
    std::optional<QString> envFilePath;
    bool useLoginShell = false;
    bool wakeBeforeRun = false;
    TaskSchedule schedule;
    bool isEnabled = true;
    QList<TaskLog> logs;

    // A new task with a fresh identifier.
    static ScheduledTask create(QString name, QString command, TaskSchedule schedule);

    // Canonical upper-case identifier text: 3F2A9C1D-....
    QString idString() const;
    // First eight characters of idString(), lower-cased: names scripts, logs and histories.
    QString shortId() const;

    QJsonObject toJson() const;
    static Result<ScheduledTask> fromJson(const QJsonValue& json);

    friend bool operator==(const ScheduledTask&, const ScheduledTask&) = default;
};

size_t qHash(const ScheduledTask& task, size_t seed = 0);

// Identifier helpers shared by every place that names generated files.
QString uuidUpper(const QUuid& id);
QString uuidShort(const QUuid& id);
// The start of every task agent's label: "com.brenmor-ops.task." + the task's identifier.
QString agentLabelPrefix();

// Another task of `tasks` whose short ID (the first eight hex digits, which name the wrapper
// script, the logs and the run history) is `task`'s; nothing when there is none. Two such tasks
// would share those files, so the later one is never enabled.
const ScheduledTask* shortIdTwin(const QList<ScheduledTask>& tasks, const ScheduledTask& task);

// Why `task` cannot be enabled beside `twin`, naming both.
QString shortIdCollisionMessage(const ScheduledTask& task, const ScheduledTask& twin);
