#pragma once

#include "ScheduledTask.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>

// Writes the task file text directly: indented, keys sorted at every level, the same bytes
// QJsonDocument::Indented gives for the same values, without building a QJsonObject tree
// first (which cost more than the rest of a save together on a list of a thousand tasks).
namespace TaskJsonWriter {
QByteArray envelope(int version, const QList<ScheduledTask>& tasks);

// The same values as a QJsonObject, for the toJson functions.
QJsonObject object(const ScheduledTask& task);
QJsonObject object(const TaskLog& log);
QJsonObject object(const TaskSchedule& schedule);
} // namespace TaskJsonWriter
