#pragma once

#include "Result.h"

#include <QByteArray>
#include <QFileDevice>
#include <QList>
#include <QString>

// The one way this system replaces a file: readers (launchd, a running wrapper, the other
// program) only ever see the complete old or the complete new file.
namespace AtomicFile {

// Writes `bytes` to a temporary "<path>.XXXXXX" beside `path`, restricted to `permissions`
// before any byte goes in, flushed to disk, then renamed over `path`. A symbolic link at `path`
// is replaced by the new regular file, never written through. Fails with
// "Cannot write <path>: <reason>", leaving `path` as it was.
Result<void> write(const QString& path, const QByteArray& bytes,
                   QFileDevice::Permissions permissions = QFileDevice::ReadOwner |
                                                          QFileDevice::WriteOwner);

struct Replacement {
    QString path;
    QByteArray bytes;
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
};

// write() for many files with one wait for the disk instead of two per file: every temporary
// is written, the file system is synced once, then each is renamed into place and each folder
// synced once. One result per file, in order; a file that fails leaves its path as it was.
QList<Result<void>> writeAll(const QList<Replacement>& files);

// True for the names write() gives its temporaries while it works on `path`.
bool isTemporaryOf(const QString& fileName, const QString& path);

// A temporary untouched this long was left by a write that never finished (the writer was
// killed); a younger one may still be on its way to its rename.
constexpr qint64 abandonedAfterMs = 60000;

// Removes from `folder` the temporaries ("<name>.XXXXXX") of files whose names begin with
// `namePrefix` that were last modified at least `abandonedAfterMs` ago. Returns how many went.
int removeAbandonedTemporaries(const QString& folder, const QString& namePrefix);

} // namespace AtomicFile
