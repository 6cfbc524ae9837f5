#pragma once

#include "Result.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// Opening files that other programs write (run histories, logs) for reading. Only regular files
// are read: a FIFO named like a log would block the reader until some writer came, and a link
// to a device such as /dev/zero never ends.
namespace RegularFile {

// What identifies one version of a file: a file replaced by another has a different inode, a
// file written to has a different size or modification time.
struct Stamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    friend bool operator==(const Stamp&, const Stamp&) = default;
    bool sameFile(const Stamp& other) const
    {
        return device == other.device && inode == other.inode;
    }
};

// Opens `path` (links followed) for reading when it is a regular file, without blocking on
// anything else; `stamp` describes the opened file. False for a missing, unreadable or special
// file.
bool open(QFile& file, const QString& path, Stamp* stamp = nullptr);

// The whole of a regular file of at most `maxBytes`, opened as open() does. Fails with
// "<path> is not a regular file", "<path> is larger than <n> bytes" or the system's reason.
Result<QByteArray> read(const QString& path, qint64 maxBytes);

} // namespace RegularFile
