#pragma once

#include "Result.h"
#include "ScheduledTask.h"

#include <QByteArray>
#include <QString>

// Reading and writing tasks.json. Both programs go through here, so the file is always
// replaced atomically, kept private to the user, and changed under one lock.
namespace TaskFile {

enum class ReadStatus { loaded, missing, unreadable };

struct ReadResult {
    ReadStatus status = ReadStatus::missing;
    QList<ScheduledTask> tasks;
    QString error; // for unreadable: what went wrong (I/O, kind of file, size or decoding)
};

// Larger files are refused rather than read into memory: no real task list comes near it.
constexpr qint64 maximumSize = 32 * 1024 * 1024;

// Reads and decodes the file. A missing file is not an error; anything but a regular file of
// at most maximumSize bytes (a folder, a FIFO that would block the reader) is unreadable.
ReadResult read(const QString& path);

// Writes Envelope(version 2, tasks) atomically with mode 0600.
Result<void> write(const QString& path, const QList<ScheduledTask>& tasks);
// The same for raw bytes (already encoded).
Result<void> writeBytes(const QString& path, const QByteArray& bytes);

// Path of the lock file that guards read-modify-write cycles of the task file.
QString lockPath(const QString& taskFilePath);

// How long each program waits for the other's change: the tool may queue behind many others,
// the application's main thread must never hang on it.
constexpr int toolLockWaitMs = 30000;
constexpr int applicationLockWaitMs = 2500;

// Exclusive lock around one read-modify-write: flock() on the lock file, so a holder that dies
// releases it with its last descriptor, and a leftover file (empty or not) is no obstacle. The
// holder removes the file when it lets go.
// Waiting polls in short jittered steps, so many queued writers keep the lock busy.
class Lock {
public:
    explicit Lock(const QString& taskFilePath, int timeoutMs = toolLockWaitMs);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    bool isLocked() const { return m_fd >= 0; }
    // Why the lock is not held: the lock file could not be opened (at once, with the reason),
    // or another process held it for the whole wait.
    const QString& error() const { return m_error; }

private:
    QByteArray m_path;
    int m_fd = -1;
    QString m_error;
};

} // namespace TaskFile
