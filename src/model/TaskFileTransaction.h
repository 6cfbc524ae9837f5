#pragma once

#include "ScheduledTask.h"
#include "TaskFile.h"

#include <QList>
#include <QString>

#include <functional>

// One change of tasks.json as both programs make it: take the lock, read and decode the file,
// apply the change to what is on disk, write atomically, release, and only then announce the
// change. A change is a function over the list as it stands, never a whole list from memory,
// so a change the other program made meanwhile is kept.
class TaskFileTransaction {
public:
    // What to do with a file that exists but cannot be decoded.
    enum class UnreadableFile {
        refuse,   // leave it alone and fail (the tool)
        keepCopy, // copy it aside as "tasks.json.unreadable-<date>" and start from `fallback`
    };
    enum class Status { written, unchanged, lockFailed, unreadable, keepFailed, writeFailed };

    struct Options {
        int lockWaitMs = TaskFile::toolLockWaitMs;
        UnreadableFile unreadableFile = UnreadableFile::refuse;
        // The list to change when there is no file, or the unreadable one was copied aside.
        QList<ScheduledTask> fallback;
        // Announces the change; called after the lock is released, and only after a write.
        std::function<void()> announce;
    };

    struct Outcome {
        Status status = Status::unchanged;
        // written: the list now on disk; unchanged: the list as read.
        QList<ScheduledTask> tasks;
        // What went wrong, for every status but written and unchanged.
        QString error;
        // Where an unreadable file was kept, when it was.
        QString keptAs;

        bool written() const { return status == Status::written; }
    };

    // Changes the list; returning false leaves the file as it is (nothing to do).
    using Change = std::function<bool(QList<ScheduledTask>& tasks)>;
    // Work that must happen after the write while the lock is still held (installing the agent
    // of a task that is now in the file, so no sweep removes it in between).
    using AfterWrite = std::function<void(const QList<ScheduledTask>& tasks)>;

    static Outcome run(const QString& taskFile, const Options& options, const Change& change,
                       const AfterWrite& afterWrite = {});

    // A name beside the task file that no earlier copy has taken.
    static QString unreadableCopyPath(const QString& taskFile);
};
