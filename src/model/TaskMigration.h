#pragma once

#include "Result.h"
#include "ScheduledTask.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The task file (and export file): a versioned envelope, older forms migrated in memory.
namespace TaskMigration {

constexpr int currentVersion = 2;

struct Envelope {
    int version = currentVersion;
    QList<ScheduledTask> tasks;
};

struct MigrationError {
    enum class Kind { unknownVersion, unrecognizedFormat };
    Kind kind = Kind::unrecognizedFormat;
    qint64 version = 0;

    // "Unknown tasks.json version: N" / "Unrecognized tasks.json format".
    QString message() const;
};

// Decodes the bytes of a task or export file of any known version. On failure the message
// is the description of what went wrong (parser error, MigrationError or task decoding).
Result<QList<ScheduledTask>> decodeTasks(const QByteArray& data);
// The full decoder alone, without the fast path in front; the tests compare the two.
Result<QList<ScheduledTask>> decodeTasksSlow(const QByteArray& data);

// Envelope(version: 2, tasks:) as indented JSON with keys sorted at every level.
QByteArray encode(const Envelope& envelope);
inline QByteArray encodeTasks(const QList<ScheduledTask>& tasks)
{
    return encode(Envelope{currentVersion, tasks});
}

} // namespace TaskMigration
