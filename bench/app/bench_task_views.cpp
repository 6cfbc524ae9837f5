// Drawing the task screens at the sizes a long-lived installation reaches: the timeline with
// 200 task rows and 200 system job rows, and the detail of a task whose output log is 1 GiB
// and whose history holds 100,000 runs (goal for both: one frame, 16 ms). The log and the
// history are written once under $BRENMOR_BENCH_DIR/app (default /tmp/brenmor-bench); the
// log is sparse except for its last mebibyte.
//
// Then one frame of the timeline window at 1000 x 800, beside its floor: plain widgets (labels
// in a scroll area) filling the same window, measured in the same run, frame for frame in
// turn. Goal: at most 2 ms per frame. Prints goal, floor, figure and ratio.

#include "AppFakes.h"
#include "DayTimelineView.h"
#include "RunHistory.h"
#include "TaskDetailView.h"
#include "TimelineItemView.h"
#include "ViewClock.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

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
        TaskSchedule::of<TaskSchedule::Interval>({15}),
        TaskSchedule::of<TaskSchedule::Daily>({{{3, 0}, {12, 0}, {18, 30}}}),
        TaskSchedule::of<TaskSchedule::Weekly>({{2, 4, 6}, {{9, 30}}}),
        TaskSchedule::of<TaskSchedule::MonthlyLastDay>({{{18, 0}}}),
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

// The store and the system jobs of the timeline benchmarks. Every task's agent was installed
// at the start of the day, so the planned times that passed without a run count as missed.
struct TimelineData {
    FakeStoreFixture fixture;
    QList<LaunchdJob> jobs;

    TimelineData()
    {
        const QDateTime installed(benchNow().date(), QTime(0, 0), ViewClock::zone());
        for (int i = 0; i < rowsEach; ++i) {
            const ScheduledTask task = benchTask(i);
            fixture.store->addTask(task);
            const QString plist = fixture.store->agentPaths().plistPath(task);
            QDir().mkpath(QFileInfo(plist).absolutePath());
            QFile file(plist);
            if (file.open(QIODevice::WriteOnly)) {
                file.write("<plist/>");
                file.setFileTime(installed, QFileDevice::FileModificationTime);
            }
            // The interval tasks ran every 15 minutes since 00:07; every seventh run failed.
            if (!task.schedule.as<TaskSchedule::Interval>())
                continue;
            const QString logDir = fixture.store->agentPaths().logDir;
            QDir().mkpath(logDir);
            QFile history(RunHistory::historyPath(logDir, task.shortId()));
            if (!history.open(QIODevice::WriteOnly))
                continue;
            for (QDateTime start = installed.addSecs(7 * 60); start < benchNow();
                 start = start.addSecs(15 * 60)) {
                const int run = int(installed.secsTo(start) / 900);
                history.write(start.toUTC().toString(Qt::ISODate).toLatin1() + '\t' +
                              start.addSecs(40).toUTC().toString(Qt::ISODate).toLatin1() +
                              (run % 7 == 3 ? "\t1\n" : "\t0\n"));
            }
        }
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
    }
};

// The whole list of rows (400 rows, 11,000 points tall) when `whole`, else one window-sized
// frame of the screen as the user scrolls it.
void timelinePaint(benchmark::State& state)
{
    const bool whole = state.range(0) != 0;
    TimelineData data;
    DayTimelineView view(*data.fixture.store, data.jobs);
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
    // The first reading, before the measured ones.
    while (view.isLoading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    for (auto _ : state) {
        // What a recorded run or the refresh button costs: read everything again (beside the
        // window; its answer arrives as an event), then draw.
        view.refresh();
        while (view.isLoading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        render(view, image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(detailRedraw)->Unit(benchmark::kMillisecond);

// Plain widgets filling the timeline's window: a title, a check box and, in a scroll area, one
// label per row with its name. What any screen of this size costs to draw.
class PlainWindow final : public QWidget {
public:
    explicit PlainWindow(int rows)
    {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(QStringLiteral("Timeline"), this));
        layout->addWidget(new QCheckBox(QStringLiteral("System Jobs"), this));
        auto* scroll = new QScrollArea(this);
        scroll->setWidgetResizable(true);
        auto* page = new QWidget(scroll);
        auto* pageLayout = new QVBoxLayout(page);
        pageLayout->setSpacing(0);
        for (int i = 0; i < rows; ++i) {
            auto* label = new QLabel(QStringLiteral("Task %1").arg(i), page);
            label->setFixedHeight(TimelineLayout::rowHeight);
            pageLayout->addWidget(label);
        }
        scroll->setWidget(page);
        layout->addWidget(scroll);
    }
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readLine()).section(QLatin1Char(' '), 0, 2);
}

// One frame of the timeline window at 1000 x 800 against the same frame of plain widgets,
// taken in turn so both see the same load; medians of CPU time in milliseconds.
void timelineFrameAgainstFloor()
{
    constexpr double goalMs = 2.0;
    constexpr int frames = 300;
    const QSize size(1000, 800);
    TimelineData data;
    DayTimelineView view(*data.fixture.store, data.jobs);
    view.setShowSystemJobs(true);
    view.resize(size);
    view.show();
    PlainWindow plain(2 * rowsEach);
    plain.resize(size);
    plain.show();
    QApplication::processEvents();
    QApplication::processEvents();

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    // CPU time of this thread: what the frame costs, whatever else the machine runs.
    const auto cpuMs = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    };
    const auto timeFrame = [&image, &cpuMs](QWidget& widget) {
        const double start = cpuMs();
        render(widget, image);
        return cpuMs() - start;
    };
    // The first frames build caches and glyphs; they are not what a user scrolling sees.
    for (int i = 0; i < 5; ++i) {
        timeFrame(view);
        timeFrame(plain);
    }
    QList<double> timeline;
    QList<double> floor;
    for (int i = 0; i < frames; ++i) {
        timeline << timeFrame(view);
        floor << timeFrame(plain);
    }
    const double figure = median(timeline);
    const double floorMs = median(floor);
    std::printf("timeline frame %dx%d: goal <= %.2f ms; floor %.3f ms (plain widgets); "
                "figure %.3f ms; ratio %.2f; %s; load average %s\n",
                size.width(), size.height(), goalMs, floorMs, figure,
                floorMs > 0 ? figure / floorMs : 0.0, figure <= goalMs ? "goal met" : "goal missed",
                qPrintable(loadAverage()));
    // The line bench/run.sh gathers into its summary.
    const QString verdict =
        figure <= goalMs
            ? QStringLiteral("met")
            : QStringLiteral("missed by %1 ms: painting the rows costs %2x plain widgets")
                  .arg(figure - goalMs, 0, 'f', 2)
                  .arg(floorMs > 0 ? figure / floorMs : 0.0, 0, 'f', 1);
    std::printf("GOAL 5 timeline frame %dx%d: goal <= %.2f ms; floor (plain widgets) %.3f ms; "
                "figure %.3f ms; ratio %.2fx floor; %s\n",
                size.width(), size.height(), goalMs, floorMs, figure,
                floorMs > 0 ? figure / floorMs : 0.0, qPrintable(verdict));
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The agents' plists the timeline benchmarks write go to a home of their own, never into
    // the user's LaunchAgents folder.
    const QString home = dataDir() + QStringLiteral("/home");
    QDir().mkpath(home);
    qputenv("HOME", QFile::encodeName(home));
    QApplication application(argc, argv);
    ViewClock::setFixedNow(benchNow());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    timelineFrameAgainstFloor();
    return 0;
}
