#pragma once

#include <QString>

// Reading the end of a growing log without reading the whole file.
namespace LogTail {

// Block size used by RunHistory::readLogTail.
inline constexpr qint64 defaultBlockSize = 64 * 1024;

// The last `lastLines` pieces of the file split at line feeds, joined with line feeds and
// trimmed at both ends: the same text as splitting the whole file, but the file is read
// backwards in blocks of `blockSize` bytes and only up to the line feed that starts the tail.
// Only the bytes of the tail are checked for valid UTF-8 (invalid: empty string); a fault
// further up in a huge log does not hide its tail. Unreadable file or lastLines <= 0: empty.
QString readTail(const QString& path, int lastLines, qint64 blockSize = defaultBlockSize);

} // namespace LogTail
