// Run history and log tails at the sizes a long-lived task reaches: a history of 1,000,000 runs
// and a 1 GiB log. Goals: the first reading of the history under 150 ms, a reading after one
// appended line under 2 ms. The data is written once under $BRENMOR_BENCH_DIR/runhistory (default
// /tmp/brenmor-bench); `bench_run_history --generate-only` only writes it (the Python
// baseline script uses that to read the very same files).

#include "RunHistory.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int historyLines = 1000000;
constexpr qint64 logBytes = qint64(1) << 30;
const QString shortId = QStringLiteral("bench001");

QString dataDir()
{
    const QByteArray base = qgetenv("BRENMOR_BENCH_DIR");
    return (base.isEmpty() ? QStringLiteral("/tmp/brenmor-bench") : QString::fromLocal8Bit(base)) +
           QStringLiteral("/runhistory");
}

QString historyFile() { return RunHistory::historyPath(dataDir(), shortId); }
QString growingFile() { return dataDir() + QStringLiteral("/growing.runs"); }
QString logFile() { return RunHistory::logPath(dataDir(), shortId, LogStream::stdoutStream); }

// One run every 15 minutes from 2024-01-01, lasting 0 to 599 seconds; one line in fifty in
// the legacy two-field form, one run in thirteen failing.
QByteArray historyText()
{
    QByteArray text;
    text.reserve(historyLines * 48);
    const QDateTime first(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
    for (int i = 0; i < historyLines; ++i) {
        const QDateTime start = first.addSecs(qint64(i) * 900);
        const QByteArray startText = start.toString(Qt::ISODate).toLatin1();
        const int status = i % 13 == 0 ? 1 : 0;
        if (i % 50 == 0) {
            text += startText + '\t' + QByteArray::number(status) + '\n';
        } else {
            const QByteArray end = start.addSecs((i * 37) % 600).toString(Qt::ISODate).toLatin1();
            text += startText + '\t' + end + '\t' + QByteArray::number(status) + '\n';
        }
    }
    return text;
}

// 1 MiB of log lines, ending in a line feed, written 1024 times.
QByteArray logBlock()
{
    QByteArray block;
    const qsizetype size = 1 << 20;
    block.reserve(size);
    for (int n = 0;; ++n) {
        char line[128];
        const int length = std::snprintf(line, sizeof line,
                                         "2025-03-01 09:%02d:%02d [worker %d] processed item %d "
                                         "in %d ms \xc3\xbc\n",
                                         (n / 60) % 60, n % 60, n % 8, n, (n * 7) % 500);
        if (block.size() + length > size)
            break;
        block.append(line, length);
    }
    block.append(QByteArray(size - block.size() - 1, 'x'));
    block.append('\n');
    return block;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

bool prepareData()
{
    if (!QDir().mkpath(dataDir()))
        return false;
    if (!writeFile(historyFile(), historyText()))
        return false;
    if (QFileInfo(logFile()).size() == logBytes)
        return true;
    QFile log(logFile());
    if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray block = logBlock();
    for (qint64 written = 0; written < logBytes; written += block.size()) {
        if (log.write(block) != block.size())
            return false;
    }
    return true;
}

// A first reading: nothing of the file is known yet.
void loadRunHistory1M(benchmark::State& state)
{
    for (auto _ : state) {
        RunHistory::clearHistoryCache();
        const QList<TaskRunRecord> records = RunHistory::loadRunHistory(dataDir(), shortId);
        if (records.size() != historyLines) {
            state.SkipWithError("history did not parse whole");
            break;
        }
        benchmark::DoNotOptimize(records.constData());
    }
    state.SetItemsProcessed(state.iterations() * historyLines);
}
BENCHMARK(loadRunHistory1M)->Unit(benchmark::kMillisecond);

// The same without the file read and the cache, to tell parsing from I/O.
void parseHistory1M(benchmark::State& state)
{
    QFile file(historyFile());
    file.open(QIODevice::ReadOnly);
    const QByteArray text = file.readAll();
    for (auto _ : state) {
        const QList<TaskRunRecord> records = RunHistory::parseHistory(text);
        benchmark::DoNotOptimize(records.constData());
    }
    state.SetItemsProcessed(state.iterations() * historyLines);
}
BENCHMARK(parseHistory1M)->Unit(benchmark::kMillisecond);

// A task ran once more since the last reading (the view drew the history and let it go).
void loadRunHistory1MAfterAppend(benchmark::State& state)
{
    QFile::remove(growingFile());
    if (!QFile::copy(historyFile(), growingFile())) {
        state.SkipWithError("cannot copy the history");
        return;
    }
    QFile file(growingFile());
    file.open(QIODevice::Append | QIODevice::Unbuffered);
    qsizetype expected = RunHistory::loadHistoryFile(growingFile()).size();
    for (auto _ : state) {
        state.PauseTiming();
        file.write("2030-01-01T00:00:00Z\t2030-01-01T00:00:09Z\t0\n");
        ++expected;
        state.ResumeTiming();
        const QList<TaskRunRecord> records = RunHistory::loadHistoryFile(growingFile());
        if (records.size() != expected) {
            state.SkipWithError("appended line not read");
            break;
        }
        benchmark::DoNotOptimize(records.constData());
    }
}
BENCHMARK(loadRunHistory1MAfterAppend)->Unit(benchmark::kMicrosecond);

void readLogTail1GiB(benchmark::State& state)
{
    const int lines = int(state.range(0));
    for (auto _ : state) {
        const QString tail = RunHistory::readLogTail(logFile(), lines);
        // The final line feed ends the last line: `lines` lines hold lines - 1 feeds between them.
        if (tail.count(QLatin1Char('\n')) != lines - 1) {
            state.SkipWithError("unexpected tail");
            break;
        }
        benchmark::DoNotOptimize(tail.constData());
    }
}
BENCHMARK(readLogTail1GiB)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    bool generateOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--generate-only") == 0) {
            generateOnly = true;
            std::memmove(argv + i, argv + i + 1, sizeof(char*) * size_t(argc - i));
            --argc;
            --i;
        }
    }
    if (!prepareData()) {
        std::fprintf(stderr, "cannot write benchmark data in %s\n", qPrintable(dataDir()));
        return 1;
    }
    if (generateOnly) {
        std::printf("%s\n%s\n", qPrintable(historyFile()), qPrintable(logFile()));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
