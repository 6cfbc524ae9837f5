// Decoding a task file of 1,000 tasks: the fast parser that ordinary files take, and the full
// decoder that files the fast parser is unsure of (older versions, odd spellings) take. The full
// decoder stops at the first fault and reports it with its key path; that costs nothing while
// the file is good, so both good-file figures stay close to what they were.

#include "Result.h"
#include "ScheduledTask.h"
#include "TaskMigration.h"

#include <QByteArray>

#include <benchmark/benchmark.h>

#include <cctype>

namespace {

constexpr int taskCount = 1000;

QList<ScheduledTask> tasks()
{
    QList<ScheduledTask> list;
    for (int i = 0; i < taskCount; ++i) {
        const TimeOfDay at{i % 24, (i * 7) % 60};
        TaskSchedule schedule;
        switch (i % 5) {
        case 0:
            schedule = TaskSchedule::of<TaskSchedule::Interval>({5 + i % 100});
            break;
        case 1:
            schedule = TaskSchedule::of<TaskSchedule::Daily>({{at}});
            break;
        case 2:
            schedule = TaskSchedule::of<TaskSchedule::Weekly>({{2, 4, 6}, {at}});
            break;
        case 3:
            schedule = TaskSchedule::of<TaskSchedule::Monthly>({1 + i % 28, {at}});
            break;
        default:
            schedule =
                TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({1 + i % 4, 1 + i % 7, {at}});
            break;
        }
        ScheduledTask task = ScheduledTask::create(QStringLiteral("Task %1").arg(i),
                                                   QStringLiteral("echo run %1").arg(i), schedule);
        if (i % 3 == 0)
            task.workingDirectory = QStringLiteral("/Users/me/work/%1").arg(i);
        list.append(task);
    }
    return list;
}

const QByteArray& goodFile()
{
    static const QByteArray bytes = TaskMigration::encodeTasks(tasks());
    return bytes;
}

// The same file with the last task's hour out of range: the whole file is read before the
// fault is found.
const QByteArray& faultyFile()
{
    static const QByteArray bytes = [] {
        QByteArray text = goodFile();
        const qsizetype colon = text.indexOf(':', text.lastIndexOf("\"hour\""));
        qsizetype end = colon + 1;
        while (end < text.size() && (text.at(end) == ' ' || std::isdigit(text.at(end))))
            ++end;
        return text.replace(colon + 1, end - colon - 1, " 99");
    }();
    return bytes;
}

using Decoder = Result<QList<ScheduledTask>> (*)(const QByteArray&);

void decodeGoodFile(benchmark::State& state, Decoder decode)
{
    for (auto _ : state) {
        const auto decoded = decode(goodFile());
        if (!decoded || decoded->size() != taskCount)
            state.SkipWithError("the file did not decode");
        benchmark::DoNotOptimize(decoded);
    }
}
BENCHMARK_CAPTURE(decodeGoodFile, fast, &TaskMigration::decodeTasks)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeGoodFile, full, &TaskMigration::decodeTasksSlow)
    ->Unit(benchmark::kMillisecond);

void decodeFullFault(benchmark::State& state)
{
    for (auto _ : state) {
        const auto decoded = TaskMigration::decodeTasksSlow(faultyFile());
        if (decoded)
            state.SkipWithError("the fault was not found");
        benchmark::DoNotOptimize(decoded);
    }
}
BENCHMARK(decodeFullFault)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
