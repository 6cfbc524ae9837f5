#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

// The one way this system replaces a file: readers (launchd, a running wrapper, the other
// program) only ever see the complete old or the complete new file.
namespace AtomicFile {

// Writes `bytes` to a temporary "<path>.XXXXXX" beside `path`, restricted to `permissions`
// before any byte goes in, flushed to disk, then renamed over `path`. A symbolic link at `path`
// is replaced by the new regular file, never written through. Returns
// "Cannot write <path>: <reason>" on failure, leaving `path` as it was.
std::optional<QString> write(const QString& path, const QByteArray& bytes,
                             QFileDevice::Permissions permissions = QFileDevice::ReadOwner |
                                                                    QFileDevice::WriteOwner);

// True for the names write() gives its temporaries while it works on `path`.
bool isTemporaryOf(const QString& fileName, const QString& path);

} // namespace AtomicFile
