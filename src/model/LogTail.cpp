#include "LogTail.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <algorithm>

namespace LogTail {

namespace {

// Reads [from, to) of the file; a short read (the file shrank meanwhile) keeps what came.
QByteArray readRange(QFile& file, qint64 from, qint64 to)
{
    if (!file.seek(from))
        return {};
    return file.read(to - from);
}

// Splitting at line feeds and keeping the last N pieces keeps exactly the text after the
// N-th line feed counted from the end (or everything when there are fewer), so we only have
// to find that line feed.
QByteArray tailBytes(QFile& file, int lastLines, qint64 blockSize)
{
    const qint64 size = file.size();
    QList<QByteArray> blocks; // from the end backwards
    qint64 blockEnd = size;
    int found = 0;
    while (blockEnd > 0) {
        const qint64 blockStart = std::max<qint64>(0, blockEnd - blockSize);
        QByteArray block = readRange(file, blockStart, blockEnd);
        if (block.size() != blockEnd - blockStart)
            return {}; // changed under us; better nothing than a spliced text
        for (qsizetype i = block.size() - 1; i >= 0; --i) {
            if (block.at(i) == '\n' && ++found == lastLines) {
                blocks.append(block.mid(i + 1));
                blockEnd = 0;
                break;
            }
        }
        if (blockEnd == 0)
            break;
        blocks.append(std::move(block));
        blockEnd = blockStart;
    }
    QByteArray tail;
    qsizetype total = 0;
    for (const QByteArray& b : blocks)
        total += b.size();
    tail.reserve(total);
    for (auto it = blocks.crbegin(); it != blocks.crend(); ++it)
        tail.append(*it);
    return tail;
}

} // namespace

QString readTail(const QString& path, int lastLines, qint64 blockSize)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (lastLines <= 0)
        return {};
    QByteArray tail;
    if (file.isSequential()) {
        // A pipe or device has no end to seek to: read it through and cut the same way.
        const QByteArray all = file.readAll();
        qsizetype cut = all.size();
        int found = 0;
        while (cut > 0) {
            const qsizetype lf = all.lastIndexOf('\n', cut - 1);
            if (lf < 0) {
                cut = 0;
                break;
            }
            cut = lf;
            if (++found == lastLines) {
                ++cut;
                break;
            }
        }
        tail = all.mid(cut);
    } else {
        tail = tailBytes(file, lastLines, std::max<qint64>(1, blockSize));
    }
    if (!tail.isValidUtf8())
        return {};
    return QString::fromUtf8(tail).trimmed();
}

} // namespace LogTail
