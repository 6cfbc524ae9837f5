#include "CLITaskStore.h"
#include "Commands.h"
#include "Console.h"
#include "LogTail.h"
#include "ReadOnlyArgs.h"
#include "RegularFile.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <optional>

namespace {
const QString usage = QStringLiteral("Usage: brenmor-ops logs <name-or-id> [--stderr] [-n N] [-f]");
constexpr int defaultCount = 100;
constexpr int pollMs = 200;

volatile std::sig_atomic_t stopRequested = 0;
extern "C" void requestStop(int) { stopRequested = 1; }

// Where the follower stands in the log: which file, how far it was copied, and the bytes just
// before that point, which tell a file rewritten in place from one that grew.
struct FollowPosition {
    std::optional<RegularFile::Stamp> stamp; // none: no file seen yet
    qint64 offset = 0;
    QByteArray before;
};

constexpr qint64 chunkBytes = 64 * 1024;
constexpr qint64 checkedBytes = 256;

// Whether the file still holds `position.before` just before the offset.
bool continues(QFile& file, const FollowPosition& position)
{
    const qint64 from = position.offset - position.before.size();
    return file.seek(from) && file.read(position.before.size()) == position.before;
}

// Copies what was appended since the last call to standard output, in bounded chunks, and
// moves the position on. A file replaced (another inode), truncated (shorter) or rewritten in
// place (the bytes before the offset changed) is read again from its beginning. A missing or
// special file (a FIFO would block) is skipped until a regular one is there.
void copyNewBytes(const QString& path, FollowPosition& position)
{
    QFile file;
    RegularFile::Stamp now;
    if (!RegularFile::open(file, path, &now))
        return;
    // The bytes before the offset are compared on every pass, not only when the file's times
    // or size changed: a rewrite between taking those and reading would splice old and new.
    const bool sameFile = position.stamp && position.stamp->sameFile(now);
    if (!sameFile || now.size < position.offset || !continues(file, position)) {
        position.offset = 0;
        position.before.clear();
    }
    position.stamp = now;
    if (!file.seek(position.offset))
        return;
    while (!stopRequested) {
        const QByteArray bytes = file.read(chunkBytes);
        if (bytes.isEmpty())
            break;
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
        std::fflush(stdout);
        position.offset += bytes.size();
        position.before = (position.before + bytes).right(checkedBytes);
    }
    // What this pass copied is what the next one compares against.
    position.stamp->size = position.offset;
}

// The position at the end of the file as it is now.
FollowPosition endOf(const QString& path)
{
    FollowPosition position;
    QFile file;
    RegularFile::Stamp stamp;
    if (!RegularFile::open(file, path, &stamp))
        return position;
    position.stamp = stamp;
    position.offset = stamp.size;
    const qint64 from = qMax<qint64>(0, stamp.size - checkedBytes);
    if (file.seek(from))
        position.before = file.read(stamp.size - from);
    position.offset = from + position.before.size();
    position.stamp->size = position.offset;
    return position;
}

class LogsCommand final : public Command {
public:
    int execute(const QStringList& args, CommandContext& context) override
    {
        const auto named = parseTaskArgs(args, {QStringLiteral("--stderr"), QStringLiteral("-f")},
                                         defaultCount, usage, context);
        if (!named)
            return 1;
        const ReadOnlyArgs& parsed = named->args;
        const ScheduledTask& task = named->task;
        const bool useStderr = parsed.has(QStringLiteral("--stderr"));
        const QString path = useStderr ? context.store.agentPaths().stderrLogPath(task)
                                       : context.store.agentPaths().stdoutLogPath(task);
        // Taken before the tail is read: a line written in between is shown twice rather than
        // not at all.
        const FollowPosition followFrom = endOf(path);
        const QString tail = LogTail::readLastLines(path, parsed.count);
        if (!tail.isEmpty())
            context.console.printRaw(tail);
        else if (!parsed.has(QStringLiteral("-f")))
            context.console.print(useStderr ? QStringLiteral("No stderr output.")
                                            : QStringLiteral("No stdout output."));
        if (parsed.has(QStringLiteral("-f")))
            follow(path, followFrom);
        return 0;
    }

private:
    // Polls rather than watches: the log may not exist yet, and a watch on a missing file or
    // on a file replaced by rotation silently stops reporting.
    static void follow(const QString& path, FollowPosition position)
    {
        std::signal(SIGINT, requestStop);
        std::signal(SIGTERM, requestStop);
        while (!stopRequested) {
            copyNewBytes(path, position);
            QThread::msleep(pollMs);
        }
    }
};
} // namespace

std::unique_ptr<Command> makeLogsCommand() { return std::make_unique<LogsCommand>(); }
