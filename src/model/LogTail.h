#pragma once

#include <QString>

// Reading the end of a growing log without reading the whole file.
namespace LogTail {

// Block size used by RunHistory::readLogTail.
inline constexpr qint64 defaultBlockSize = 64 * 1024;
// No more than this is read from the end of a log, however few line feeds it holds.
inline constexpr qint64 defaultWindow = 4 * 1024 * 1024;
// A kept line longer than this shows only its last part, after a marker line.
inline constexpr qint64 maxLineBytes = 64 * 1024;

// The marker line put before the kept part of an overlong line: "… (line cut: N bytes)",
// N being the bytes left out; "more than N" when the line starts before what was looked at.
QString lineCutMarker(qint64 bytesCut, bool atLeast = false);

// The last `lastLines` lines of the file, trimmed at both ends for display. Lines are counted
// as `tail -n` counts them: a final line feed ends the last line and does not make an empty one
// after it. The file is read backwards in blocks of `blockSize` bytes and only up to the line feed
// that starts the tail, and never more than `window` bytes. A line longer than maxLineBytes (or
// running past the window) is shortened to its end, after a lineCutMarker line. Only the bytes of
// the tail are checked for valid UTF-8 (invalid: empty string); a fault further up in a huge log
// does not hide its tail. Unreadable file, anything but a regular file, or lastLines <= 0: empty.
QString readTail(const QString& path, int lastLines, qint64 blockSize = defaultBlockSize,
                 qint64 window = defaultWindow);

// The same last lines as `tail -n` prints them, untrimmed: each with its line feed, the last
// one without when the file ends without one; overlong lines are shortened as above.
QString readLastLines(const QString& path, int lastLines, qint64 blockSize = defaultBlockSize,
                      qint64 window = defaultWindow);

} // namespace LogTail
