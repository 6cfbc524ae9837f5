#pragma once

#include "ScheduledTask.h"

#include <QByteArray>
#include <QList>

// Writes the task file text directly: indented, keys sorted at every level, the same bytes
// QJsonDocument::Indented gives for the same values, without building a QJsonObject tree
// first (which cost more than the rest of a save together on a list of a thousand tasks).
namespace TaskJsonWriter {
QByteArray envelope(int version, const QList<ScheduledTask>& tasks);
} // namespace TaskJsonWriter
