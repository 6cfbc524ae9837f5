#include "LogTail.h"

#include "RegularFile.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <algorithm>
#include <optional>

namespace LogTail {

namespace {

// How far back before the window the start of a cut line is looked for, so the marker can say
// how much was left out; past this it says "more than".
constexpr qint64 lineStartSearch = 64 * 1024 * 1024;

// Reads [from, to) of the file; a short read (the file shrank meanwhile) keeps what came.
QByteArray readRange(QFile& file, qint64 from, qint64 to)
{
    if (!file.seek(from))
        return {};
    return file.read(to - from);
}

// The tail's bytes and where they start in the file.
struct Tail {
    QByteArray bytes;
    qint64 start = 0;
    bool ok = true;
};

// Lines are counted as people (and `tail -n`) count them: a line feed ends a line, so one at
// the very end of the file does not start another. The last N lines are exactly the text after
// the N-th line feed counted from the end, not counting that final one (or everything when
// there are fewer), so we only have to find that line feed, looking no further back than
// `floor`.
Tail tailBytes(QFile& file, qint64 size, int lastLines, qint64 blockSize, qint64 floor)
{
    QList<QByteArray> blocks; // from the end backwards
    qint64 blockEnd = size;
    qint64 start = floor;
    int found = 0;
    while (blockEnd > floor) {
        const qint64 blockStart = std::max<qint64>(floor, blockEnd - blockSize);
        QByteArray block = readRange(file, blockStart, blockEnd);
        if (block.size() != blockEnd - blockStart)
            return {{}, 0, false}; // changed under us; better nothing than a spliced text
        for (qsizetype i = block.size() - 1; i >= 0; --i) {
            if (block.at(i) == '\n' && blockStart + i != size - 1 && ++found == lastLines) {
                blocks.append(block.mid(i + 1));
                start = blockStart + i + 1;
                blockEnd = floor;
                break;
            }
        }
        if (blockEnd == floor)
            break;
        blocks.append(std::move(block));
        blockEnd = blockStart;
    }
    Tail tail;
    tail.start = start;
    qsizetype total = 0;
    for (const QByteArray& b : blocks)
        total += b.size();
    tail.bytes.reserve(total);
    for (auto it = blocks.crbegin(); it != blocks.crend(); ++it)
        tail.bytes.append(*it);
    return tail;
}

// The offset just after the last line feed before `offset`, looked for no further back than
// lineStartSearch; nothing when none was found there.
std::optional<qint64> lineStartBefore(QFile& file, qint64 offset, qint64 blockSize)
{
    const qint64 limit = std::max<qint64>(0, offset - lineStartSearch);
    for (qint64 end = offset; end > limit;) {
        const qint64 begin = std::max(limit, end - std::max<qint64>(blockSize, 64 * 1024));
        const QByteArray block = readRange(file, begin, end);
        if (block.size() != end - begin)
            return std::nullopt;
        const qsizetype lf = block.lastIndexOf('\n');
        if (lf >= 0)
            return begin + lf + 1;
        end = begin;
    }
    if (limit == 0)
        return 0;
    return std::nullopt;
}

// The last maxLineBytes of a line, starting on a character boundary.
QByteArrayView lineEnd(QByteArrayView line)
{
    qsizetype from = std::max<qsizetype>(0, line.size() - maxLineBytes);
    while (from < line.size() && (uchar(line.at(from)) & 0xC0) == 0x80)
        ++from;
    return line.sliced(from);
}

// The tail with overlong lines cut down to their end, each after a marker line. `cutBefore` is
// what the first line lost before the tail began (a line that runs past the window), or
// nothing when that is unknown.
QString shortenLines(const QByteArray& tail, qint64 cutBefore, bool cutUnknown)
{
    QByteArray text;
    text.reserve(tail.size());
    QList<QByteArray> markers;
    qsizetype from = 0;
    bool first = true;
    for (;;) {
        qsizetype lf = tail.indexOf('\n', from);
        const qsizetype to = lf < 0 ? tail.size() : lf;
        const QByteArrayView line(tail.constData() + from, to - from);
        const qint64 earlier = first ? cutBefore : 0;
        if (line.size() > maxLineBytes || earlier > 0 || (first && cutUnknown)) {
            const QByteArrayView kept = lineEnd(line);
            const qint64 cut = earlier + (line.size() - kept.size());
            text += lineCutMarker(cut, first && cutUnknown).toUtf8();
            text += '\n';
            text += kept;
        } else {
            text += line;
        }
        first = false;
        if (lf < 0)
            break;
        text += '\n';
        from = lf + 1;
    }
    if (!text.isValidUtf8())
        return {};
    return QString::fromUtf8(text);
}

} // namespace

QString lineCutMarker(qint64 bytesCut, bool atLeast)
{
    return QStringLiteral("\u2026 (line cut: %1%2 bytes)")
        .arg(atLeast ? QStringLiteral("more than ") : QString())
        .arg(bytesCut);
}

QString readTail(const QString& path, int lastLines, qint64 blockSize, qint64 window)
{
    return readLastLines(path, lastLines, blockSize, window).trimmed();
}

QString readLastLines(const QString& path, int lastLines, qint64 blockSize, qint64 window)
{
    if (lastLines <= 0)
        return {};
    QFile file;
    if (!RegularFile::open(file, path))
        return {};
    blockSize = std::max<qint64>(1, blockSize);
    const qint64 size = file.size();
    const qint64 floor = std::max<qint64>(0, size - std::max<qint64>(1, window));
    const Tail tail = tailBytes(file, size, lastLines, blockSize, floor);
    if (!tail.ok)
        return {};
    // The tail starting where the window ends, in the middle of a line: say how much of that
    // line is left out.
    qint64 cutBefore = 0;
    bool cutUnknown = false;
    if (tail.start > 0 && tail.start == floor && readRange(file, floor - 1, floor) != "\n") {
        const std::optional<qint64> lineStart = lineStartBefore(file, floor, blockSize);
        cutBefore = floor - lineStart.value_or(std::max<qint64>(0, floor - lineStartSearch));
        cutUnknown = !lineStart;
    }
    // Only the bytes of the tail are checked, so a fault further up does not hide it.
    return shortenLines(tail.bytes, cutBefore, cutUnknown);
}

} // namespace LogTail
