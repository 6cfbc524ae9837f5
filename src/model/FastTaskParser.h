#pragma once

#include "ScheduledTask.h"

#include <QByteArray>
#include <QList>

#include <optional>

// Reads an ordinary task file (version 2 or later) straight from its text into tasks, without
// building a QJsonDocument first: on a large file the document and the walk over it cost more
// than everything else a command does. It accepts only what it is sure the full decoder would
// decode to the very same tasks; for anything else (older versions, unusual numbers or
// strings, duplicate keys, any error) it returns nothing and the caller uses the full decoder,
// which also writes every error message.
namespace FastTaskParser {
std::optional<QList<ScheduledTask>> parse(const QByteArray& data);
} // namespace FastTaskParser
