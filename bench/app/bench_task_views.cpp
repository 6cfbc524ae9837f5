// Drawing the task screens at the sizes a long-lived installation reaches: the timeline with
// 200 task rows and 200 system job rows, and the detail of a task whose output log is 1 GiB
// and whose history holds 100,000 runs (goal for both: one frame, 16 ms). The log and the
// history are written once under $BRENMOR_BENCH_DIR/app (default /tmp/brenmor-bench); the
// log is sparse except for its last mebibyte.

#include "AppFakes.h"
#include "DayTimelineView.h"
#include "RunHistory.h"
#include "TaskDetailView.h"
#include "TimelineItemView.h"
#include "ViewClock.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int historyLines = 100000;
constexpr qint64 logBytes = qint64(1) << 30;
constexpr qint64 writtenTail = qint64(1) << 20;
constexpr int rowsEach = 200;
const QUuid benchTaskId(QStringLiteral("{be7c0de5-0000-4000-8000-000000000001}"));

QString dataDir()
{
    const QByteArray base = qgetenv("BRENMOR_BENCH_DIR");
    return (base.isEmpty() ? QStringLiteral("/tmp/brenmor-bench") : QString::fromLocal8Bit(base)) +
           QStringLiteral("/app");
}

// Where the fake launchd service over dataDir() keeps histories and logs.
QString logsDir() { return dataDir() + QStringLiteral("/Logs"); }

QDateTime benchNow() { return QDateTime(QDate(2026, 11, 30), QTime(14, 20), ViewClock::zone()); }

ScheduledTask benchTask(int index)
{
    static const QList<TaskSchedule> schedules = {
        TaskSchedule::interval(15),
        TaskSchedule::daily({{3, 0}, {12, 0}, {18, 30}}),
        TaskSchedule::weekly({2, 4, 6}, {{9, 30}}),
        TaskSchedule::monthlyLastDay({{18, 0}}),
    };
    ScheduledTask task =
        ScheduledTask::create(QStringLiteral("Task %1").arg(index), QStringLiteral("true"),
                              schedules.at(index % schedules.size()));
    task.wakeBeforeRun = index % 3 == 0;
    return task;
}

bool writeOnce(const QString& path, const std::function<bool(QFile&)>& fill)
{
    if (QFileInfo::exists(path))
        return true;
    QFile file(path + QStringLiteral(".part"));
    if (!file.open(QIODevice::WriteOnly) || !fill(file))
        return false;
    file.close();
    return QFile::rename(file.fileName(), path);
}

bool prepareDetailData(const ScheduledTask& task)
{
    QDir().mkpath(logsDir());
    const bool history =
        writeOnce(RunHistory::historyPath(logsDir(), task.shortId()), [](QFile& file) {
            const QDateTime first(QDate(2024, 1, 1), QTime(0, 0), QTimeZone::utc());
            QByteArray text;
            for (int i = 0; i < historyLines; ++i) {
                const QDateTime start = first.addSecs(qint64(i) * 900);
                text += start.toString(Qt::ISODate).toLatin1() + '\t' +
                        start.addSecs(i % 600).toString(Qt::ISODate).toLatin1() + '\t' +
                        QByteArray::number(i % 13 == 0 ? 1 : 0) + '\n';
            }
            return file.write(text) == text.size();
        });
    const bool log = writeOnce(
        RunHistory::logPath(logsDir(), task.shortId(), LogStream::stdoutStream), [](QFile& file) {
            if (!file.resize(logBytes - writtenTail) || !file.seek(logBytes - writtenTail))
                return false;
            QByteArray tail;
            for (int i = 0; tail.size() < writtenTail; ++i)
                tail += "2026-11-30 09:00:00 fetched order " + QByteArray::number(i) + '\n';
            tail.truncate(writtenTail - 1);
            tail += '\n';
            return file.write(tail) == tail.size();
        });
    return history && log;
}

void render(QWidget& widget, QImage& image)
{
    QPainter painter(&image);
    widget.render(&painter);
}

// The whole list of rows (400 rows, 11,000 points tall) when `whole`, else one window-sized
// frame of the screen as the user scrolls it.
void timelinePaint(benchmark::State& state)
{
    const bool whole = state.range(0) != 0;
    FakeStoreFixture fixture;
    for (int i = 0; i < rowsEach; ++i)
        fixture.store->addTask(benchTask(i));
    QList<LaunchdJob> jobs;
    for (int i = 0; i < rowsEach; ++i) {
        LaunchdJob job;
        job.label = QStringLiteral("com.example.job%1").arg(i);
        job.id = job.label;
        if (i % 2)
            job.startInterval = 300 * (1 + i % 4);
        else
            job.startCalendarInterval = QMap<QString, qint64>{{QStringLiteral("Hour"), i % 24}};
        jobs.append(job);
    }
    DayTimelineView view(*fixture.store, jobs);
    view.setShowSystemJobs(true);
    QWidget* rows = view.rowsArea();
    QWidget* target = rows;
    if (whole) {
        rows->resize(1200, rows->sizeHint().height());
    } else {
        view.resize(1000, 800);
        view.show();
        // Let the layouts place the rows before the frame is drawn.
        QApplication::processEvents();
        QApplication::processEvents();
        target = &view;
    }
    const QList<TimelineItemView*> taskRows = view.taskRows();
    const int visible = int(std::count_if(taskRows.cbegin(), taskRows.cend(), [](QWidget* row) {
        return !row->visibleRegion().isEmpty() && row->height() > 0;
    }));
    QImage image(target->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        render(*target, image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["rows"] = double(view.taskRows().size() + rowsEach);
    state.counters["taskRowsInView"] = visible;
}
BENCHMARK(timelinePaint)->ArgName("wholeList")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void detailRedraw(benchmark::State& state)
{
    ScheduledTask task = benchTask(1);
    task.id = benchTaskId;
    if (!prepareDetailData(task)) {
        state.SkipWithError("cannot write benchmark data");
        return;
    }
    TaskStore::Options options;
    QTemporaryDir saveDir;
    options.taskFilePath = saveDir.filePath(QStringLiteral("tasks.json"));
    options.logsDirectory = dataDir();
    options.launchdService = std::make_shared<FakeLaunchdService>();
    options.pmsetService = std::make_shared<FakePmsetService>();
    TaskStore store(std::move(options));
    TaskDetailView view(store, task);
    view.resize(900, 1200);
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        // What a recorded run or the refresh button costs: read everything again, then draw.
        view.refresh();
        render(view, image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(detailRedraw)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ViewClock::setFixedNow(benchNow());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
