#include "CLITaskStore.h"
#include "Commands.h"
#include "Console.h"
#include "LogTail.h"
#include "ReadOnlyArgs.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <csignal>
#include <cstdio>

namespace {
const QString usage = QStringLiteral("Usage: brenmor-ops logs <name-or-id> [--stderr] [-n N] [-f]");
constexpr int defaultCount = 100;
constexpr int pollMs = 200;

volatile std::sig_atomic_t stopRequested = 0;
extern "C" void requestStop(int) { stopRequested = 1; }

// Writes what was appended to `path` since `offset` and returns the new offset. A file that
// became shorter was truncated or replaced (log rotation): start again from its beginning.
qint64 copyNewBytes(const QString& path, qint64 offset)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    if (file.size() < offset)
        offset = 0;
    if (file.size() == offset || !file.seek(offset))
        return offset;
    const QByteArray bytes = file.readAll();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
    return offset + bytes.size();
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
        const qint64 followFrom = QFileInfo(path).size();
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
    static void follow(const QString& path, qint64 offset)
    {
        std::signal(SIGINT, requestStop);
        std::signal(SIGTERM, requestStop);
        while (!stopRequested) {
            offset = copyNewBytes(path, offset);
            QThread::msleep(pollMs);
        }
    }
};
} // namespace

std::unique_ptr<Command> makeLogsCommand() { return std::make_unique<LogsCommand>(); }
