#pragma once

#include "ScheduledTask.h"

#include <QLockFile>
#include <QString>

#include <memory>
#include <optional>

template <typename T> class Result;

// Reading and writing tasks.json. Both programs go through here, so the file is always
// replaced atomically, kept private to the user, and changed under one lock.
namespace TaskFile {

enum class ReadStatus { loaded, missing, unreadable };

struct ReadResult {
    ReadStatus status = ReadStatus::missing;
    QList<ScheduledTask> tasks;
    QString error; // for unreadable: what went wrong (I/O or decoding)
};

// Reads and decodes the file. A missing file is not an error.
ReadResult read(const QString& path);

// Writes Envelope(version 2, tasks) atomically with mode 0600. Returns the error text.
std::optional<QString> write(const QString& path, const QList<ScheduledTask>& tasks);
// The same for raw bytes (already encoded).
std::optional<QString> writeBytes(const QString& path, const QByteArray& bytes);

// Path of the lock file that guards read-modify-write cycles of the task file.
QString lockPath(const QString& taskFilePath);

// Exclusive lock around one read-modify-write. Stale locks of dead processes are taken over.
class Lock {
public:
    explicit Lock(const QString& taskFilePath, int timeoutMs = 30000);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    bool isLocked() const { return m_locked; }

private:
    std::unique_ptr<QLockFile> m_lock;
    bool m_locked = false;
};

} // namespace TaskFile
