// The day timeline: which rows it shows, where its markers land on the track, and how it
// follows recorded runs and the clock.
#include "AppFakes.h"
#include "ContentView.h"
#include "DayTimelineView.h"
#include "LogsWatcher.h"
#include "SystemJobTimelineItemView.h"
#include "TaskBuilder.h"
#include "TaskMigration.h"
#include "TaskRunReader.h"
#include "TestSupport.h"
#include "TimelineItemView.h"
#include "ToggleSwitch.h"
#include "ViewClock.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(QList<ScheduledTask>)
Q_DECLARE_METATYPE(QList<LaunchdJob>)

namespace {

// Tuesday 9 December 2025, 09:00 local time.
QDateTime fixedNow() { return QDateTime(QDate(2025, 12, 9), QTime(9, 0), ViewClock::zone()); }

LaunchdJob job(const char* label, std::optional<qint64> interval, bool disabled = false)
{
    LaunchdJob j;
    j.label = QString::fromLatin1(label);
    j.id = j.label;
    j.startInterval = interval;
    j.disabled = disabled;
    return j;
}

// What stands below the axis, top to bottom, by object name (rows by their name too).
QStringList rowNames(DayTimelineView& view)
{
    QStringList names;
    QLayout* layout = view.rowsArea()->layout();
    for (int i = 0; i < layout->count(); ++i) {
        QWidget* widget = layout->itemAt(i)->widget();
        if (!widget || widget->objectName() == QLatin1String("timeline-axis"))
            continue;
        names << (widget->accessibleName().isEmpty() ? widget->objectName()
                                                     : widget->accessibleName());
    }
    return names;
}

QRgb blend(QRgb base, const QColor& over, double alpha)
{
    const auto mix = [&](int b, int o) { return int(std::lround(b * (1 - alpha) + o * alpha)); };
    return qRgb(mix(qRed(base), over.red()), mix(qGreen(base), over.green()),
                mix(qBlue(base), over.blue()));
}

bool near(QRgb a, QRgb b, int tolerance = 4)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

QByteArray runLine(const QDateTime& start, int seconds, int exitCode)
{
    return start.toUTC().toString(Qt::ISODate).toLatin1() + '\t' +
           start.addSecs(seconds).toUTC().toString(Qt::ISODate).toLatin1() + '\t' +
           QByteArray::number(exitCode) + '\n';
}

} // namespace

class TestDayTimeline : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeStoreFixture> m_fixture;
    QString logDir() const { return m_fixture->store->agentPaths().logDir; }

private Q_SLOTS:
    void init()
    {
        ViewClock::setFixedNow(fixedNow());
        m_fixture = std::make_unique<FakeStoreFixture>();
        QDir().mkpath(logDir());
    }
    void cleanup()
    {
        m_fixture.reset();
        ViewClock::setFixedNow(std::nullopt);
    }

    void rowsShown_data()
    {
        QTest::addColumn<QList<ScheduledTask>>("tasks");
        QTest::addColumn<QList<LaunchdJob>>("jobs");
        QTest::addColumn<bool>("showJobs");
        QTest::addColumn<QStringList>("rows");
        const QList<LaunchdJob> unqualified = {job("com.brenmor-ops.task.ABC", 300),
                                               job("com.example.off", 300, true),
                                               job("com.example.unscheduled", std::nullopt)};
        const QStringList noTasks{QStringLiteral("timeline-no-tasks")};
        QTest::newRow("nothing") << QList<ScheduledTask>() << QList<LaunchdJob>() << false
                                 << noTasks;
        QTest::newRow("run at load only")
            << QList<ScheduledTask>{TaskBuilder("login").atLoad().build()} << unqualified << false
            << noTasks;
        QTest::newRow("switch on, no qualifying jobs")
            << QList<ScheduledTask>{TaskBuilder("login").atLoad().build()} << unqualified << true
            << QStringList();
        QTest::newRow("tasks in store order, disabled left out")
            << QList<ScheduledTask>{TaskBuilder("b").every(15).build(),
                                    TaskBuilder("off").daily({{9, 0}}).disabled().build(),
                                    TaskBuilder("a").daily({{9, 0}}).build()}
            << unqualified << false
            << QStringList{QStringLiteral("timeline-my-tasks"), QStringLiteral("b"),
                           QStringLiteral("a")};
        QTest::newRow("jobs under their title")
            << QList<ScheduledTask>{TaskBuilder("a").daily({{9, 0}}).build()}
            << (unqualified + QList<LaunchdJob>{job("com.example.every5", 300)}) << true
            << QStringList{QStringLiteral("timeline-my-tasks"), QStringLiteral("a"),
                           QStringLiteral("timeline-system-jobs-title"),
                           QStringLiteral("com.example.every5")};
        QTest::newRow("jobs only")
            << QList<ScheduledTask>() << QList<LaunchdJob>{job("com.example.every5", 300)} << true
            << QStringList{QStringLiteral("timeline-system-jobs-title"),
                           QStringLiteral("com.example.every5")};
    }
    void rowsShown()
    {
        QFETCH(QList<ScheduledTask>, tasks);
        QFETCH(QList<LaunchdJob>, jobs);
        QFETCH(bool, showJobs);
        QFETCH(QStringList, rows);
        for (const ScheduledTask& t : tasks)
            m_fixture->store->addTask(t);
        DayTimelineView view(*m_fixture->store, jobs);
        QVERIFY(!view.showSystemJobs());
        if (showJobs)
            view.findChild<ToggleSwitch*>(QStringLiteral("timeline-system-jobs"))->click();
        QCOMPARE(view.showSystemJobs(), showJobs);
        QCOMPARE(rowNames(view), rows);
    }

    void rowsFollowTheStore()
    {
        DayTimelineView view(*m_fixture->store, {});
        QCOMPARE(rowNames(view), QStringList{QStringLiteral("timeline-no-tasks")});
        m_fixture->store->addTask(TaskBuilder("new").daily({{9, 0}}).build());
        QCOMPARE(rowNames(view),
                 (QStringList{QStringLiteral("timeline-my-tasks"), QStringLiteral("new")}));
        view.setShowSystemJobs(true);
        view.setSystemJobs({job("com.example.every5", 300)});
        QCOMPARE(rowNames(view).last(), QStringLiteral("com.example.every5"));
    }

    // Each change of one task touches that task's row only: every other row stays the same
    // widget (its place, focus and drawing kept), and so does a changed row that still shows.
    void rowsFollowSingleTasks_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<bool>("sameWidgets"); // rows of tasks shown before are the same widgets
        const QString title = QStringLiteral("timeline-my-tasks");
        QTest::newRow("task added at the end")
            << QStringLiteral("add")
            << QStringList{title, QStringLiteral("first"), QStringLiteral("third"),
                           QStringLiteral("new")}
            << true;
        QTest::newRow("task without a row added")
            << QStringLiteral("add at load")
            << QStringList{title, QStringLiteral("first"), QStringLiteral("third")} << true;
        QTest::newRow("renamed") << QStringLiteral("rename")
                                 << QStringList{title, QStringLiteral("first"),
                                                QStringLiteral("third renamed")}
                                 << true;
        QTest::newRow("disabled task enabled: its row between the others")
            << QStringLiteral("enable")
            << QStringList{title, QStringLiteral("first"), QStringLiteral("off"),
                           QStringLiteral("third")}
            << true;
        QTest::newRow("row's task disabled")
            << QStringLiteral("disable") << QStringList{title, QStringLiteral("third")} << true;
        QTest::newRow("row's task deleted")
            << QStringLiteral("delete") << QStringList{title, QStringLiteral("third")} << true;
        QTest::newRow("last rows go: the caption instead of the title")
            << QStringLiteral("delete all") << QStringList{QStringLiteral("timeline-no-tasks")}
            << true;
        QTest::newRow("another program wrote the list in another order")
            << QStringLiteral("reorder")
            << QStringList{title, QStringLiteral("third"), QStringLiteral("first")} << false;
    }
    void rowsFollowSingleTasks()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, rows);
        QFETCH(bool, sameWidgets);
        TaskStore& store = *m_fixture->store;
        const ScheduledTask first = TaskBuilder("first").daily({{8, 0}}).build();
        const ScheduledTask off = TaskBuilder("off").daily({{10, 0}}).disabled().build();
        const ScheduledTask third = TaskBuilder("third").every(30).build();
        for (const ScheduledTask& t : {first, off, third})
            store.addTask(t);
        DayTimelineView view(store, {});
        // Guarded: a row deleted and another made at the same address is no kept row.
        QHash<QUuid, QPointer<TimelineItemView>> before;
        for (TimelineItemView* row : view.taskRows())
            before.insert(row->task().id, row);
        QCOMPARE(before.size(), 2);

        if (change == QLatin1String("add")) {
            store.addTask(TaskBuilder("new").daily({{7, 0}}).build());
        } else if (change == QLatin1String("add at load")) {
            store.addTask(TaskBuilder("login").atLoad().build());
        } else if (change == QLatin1String("rename")) {
            ScheduledTask renamed = third;
            renamed.name = QStringLiteral("third renamed");
            store.updateTask(renamed);
        } else if (change == QLatin1String("enable")) {
            store.setEnabled(true, off.id);
        } else if (change == QLatin1String("disable")) {
            store.setEnabled(false, first.id);
        } else if (change == QLatin1String("delete")) {
            store.deleteTask(first);
        } else if (change == QLatin1String("delete all")) {
            store.deleteTasks({first.id, third.id});
        } else if (change == QLatin1String("reorder")) {
            TestSupport::writeFile(store.taskFilePath(),
                                   TaskMigration::encodeTasks({third, off, first}));
            store.loadTasks();
        }
        QCOMPARE(rowNames(view), rows);
        // Each row shows its task as the store holds it now.
        for (TimelineItemView* row : view.taskRows()) {
            QVERIFY(store.task(row->task().id));
            QCOMPARE(row->task(), *store.task(row->task().id));
            QCOMPARE(row->accessibleName(), row->task().name);
            QCOMPARE(row->nameWidth(), view.taskRows().first()->nameWidth());
        }
        if (!sameWidgets)
            return;
        for (TimelineItemView* row : view.taskRows()) {
            if (before.contains(row->task().id))
                QCOMPARE(row, before.value(row->task().id).data());
        }
    }

    // Two points per minute: minute m starts at x = 138 + 2m.
    void markersLandOnTheirMinutes_data()
    {
        QTest::addColumn<int>("minute");
        QTest::addColumn<QString>("expected");
        QTest::newRow("planned marker at 10:00") << 600 << QStringLiteral("kind");
        QTest::newRow("run at 08:00") << 480 << QStringLiteral("run");
        QTest::newRow("failed run at 07:00") << 420 << QStringLiteral("failed");
        QTest::newRow("wake window before 10:00") << 597 << QStringLiteral("wake");
        QTest::newRow("planned 06:00 passed without a run") << 360 << QStringLiteral("hollow");
        QTest::newRow("planned 08:00 hidden by its run") << 481 << QStringLiteral("run");
        QTest::newRow("empty track at 20:00") << 1200 << QStringLiteral("track");
    }
    void markersLandOnTheirMinutes()
    {
        QFETCH(int, minute);
        QFETCH(QString, expected);
        ScheduledTask t = TaskBuilder("pixels").daily({{6, 0}, {8, 0}, {10, 0}}).build();
        t.wakeBeforeRun = true;
        const QDateTime today = fixedNow();
        const QList<TaskRunRecord> history = {
            *TaskRunRecord::parse(QString::fromLatin1(
                runLine(today.addSecs(-3600), 600, 0).trimmed())), // 08:00 for ten minutes
            *TaskRunRecord::parse(QString::fromLatin1(
                runLine(today.addSecs(-7200), 600, 2).trimmed())), // 07:00, failed
        };
        // The agent was there all day.
        const TimelineMath::AgentActivity installed{
            QDateTime(today.date(), QTime(0, 0), ViewClock::zone()), std::nullopt};
        TimelineItemView row(t, history, today, ViewClock::zone(), installed);
        const int trackIndent = row.nameWidth() + TimelineLayout::nameGap;
        row.resize(trackIndent + 2880, TimelineLayout::rowHeight);
        QImage image(row.size(), QImage::Format_RGB32);
        image.fill(row.palette().color(QPalette::Window));
        row.render(&image);

        const int y = TimelineLayout::rowHeight / 2;
        const QRgb track = image.pixel(trackIndent + 2 * 1200, y);
        const QColor kind = TimelineLayout::kindColour(TimelineMath::MarkerColour::green);
        QRgb want = track;
        int x = trackIndent + 2 * minute + 3; // inside the marker
        if (expected == QLatin1String("kind"))
            want = kind.rgb();
        else if (expected == QLatin1String("run"))
            want = blend(track, kind, 0.8);
        else if (expected == QLatin1String("failed"))
            want = blend(track, TimelineLayout::failedColour(), 0.7);
        else if (expected == QLatin1String("wake"))
            want = blend(track, TimelineLayout::wakeColour(), 0.2);
        const QRgb got = image.pixel(x, y);
        QVERIFY2(near(got, want), qPrintable(QStringLiteral("at %1: got %2 want %3")
                                                 .arg(x)
                                                 .arg(QColor(got).name(), QColor(want).name())));
        if (expected == QLatin1String("hollow")) {
            // Its outline is drawn in the kind's colour, its inside left empty.
            QVERIFY(!near(image.pixel(trackIndent + 2 * minute, y), track, 20));
            QCOMPARE(row.missedMinutes(), QList<int>{360});
        }
    }

    void planned15MinuteMarkersAndSystemJobMarkers()
    {
        m_fixture->store->addTask(TaskBuilder("often").every(15).build());
        DayTimelineView view(*m_fixture->store, {job("com.example.every5", 300)});
        view.setShowSystemJobs(true);
        QCOMPARE(view.taskRows().size(), 1);
        // launchd counts the interval from when it loaded the agent: the row shows runs only,
        // and no time before 09:00 counts as missed.
        QCOMPARE(view.taskRows().first()->row().plannedMarkers.size(), 0);
        QCOMPARE(view.taskRows().first()->missedMinutes().size(), 0);
        auto* jobRow = view.findChild<SystemJobTimelineItemView*>();
        QVERIFY(jobRow);
        QCOMPARE(jobRow->markers().size(), 288);
    }

    // From the window's smallest size up, in the normal and a large font, every hour label fits
    // its box on the axis (its width and its height), the boxes do not overlap, and the bold
    // sixth hours are always there.
    void hourLabelsNeverClip()
    {
        FakeDialogs dialogs;
        ContentView content(*m_fixture->store, dialogs, {});
        content.resize(content.minimumSize());
        content.show();
        QVERIFY(QTest::qWaitForWindowExposed(&content));
        content.setSelection(SidebarSection::timeline());
        QWidget* axis = child<QWidget>(content.currentDetail(), QStringLiteral("timeline-axis"));
        const auto* view = qobject_cast<DayTimelineView*>(content.currentDetail());
        QVERIFY(view);
        // Laid out in the window at its smallest size.
        QTRY_VERIFY(axis->isVisible() && !view->rowsArea()->layout()->geometry().isEmpty());
        QVERIFY(axis->width() > view->trackIndent());
        const int smallest = axis->width();
        QFont large = axis->font();
        large.setPointSizeF(large.pointSizeF() * 1.5);
        QCOMPARE(view->trackIndent(),
                 TimelineLayout::nameColumnWidth(axis->font(), {}) + TimelineLayout::nameGap);
        for (const QFont& base : {axis->font(), large}) {
            const int indent = TimelineLayout::nameColumnWidth(base, {}) + TimelineLayout::nameGap;
            for (int width = smallest; width <= 2400; width += 3) {
                QList<int> strong;
                double end = indent;
                for (const DayTimelineView::HourLabel& label :
                     DayTimelineView::hourLabels(width, base, indent)) {
                    const QFontMetricsF metrics(DayTimelineView::hourLabelFont(base, label.strong));
                    const QString text = QString::number(label.hour);
                    QVERIFY2(metrics.horizontalAdvance(text) <= label.box.width(),
                             qPrintable(QStringLiteral("%1 at width %2").arg(text).arg(width)));
                    QVERIFY(label.box.left() >= end - 0.001);
                    QVERIFY(label.box.right() <= width + 0.001);
                    QVERIFY(metrics.height() <= DayTimelineView::hourAxisHeight(base));
                    end = label.box.right();
                    if (label.strong)
                        strong << label.hour;
                }
                QCOMPARE(strong, (QList<int>{0, 6, 12, 18}));
            }
        }
        // The axis takes the height its labels need.
        QCOMPARE(axis->height(), DayTimelineView::hourAxisHeight(axis->font()));
    }

    // The name column follows the font and the names shown: in the normal and a 1.5 times
    // larger font every name of up to 20 characters is drawn whole, a much longer one is
    // elided and the tooltip over it gives it in full. Task rows, system job rows and the axis
    // share one column, so every track starts in the same place.
    void nameColumnFollowsFontAndNames_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("whole");
        for (const double scale : {1.0, 1.5}) {
            const char* size = scale > 1 ? "1.5x" : "1x";
            QTest::addRow("%s short", size) << scale << QStringLiteral("Log") << true;
            QTest::addRow("%s usual", size) << scale << QStringLiteral("Nightly Backup") << true;
            QTest::addRow("%s wide letters", size)
                << scale << QStringLiteral("WWW MMM Backup") << true;
            QTest::addRow("%s long", size)
                << scale << QStringLiteral("Upload photos to NAS") << true;
            QTest::addRow("%s too long", size)
                << scale << QStringLiteral("Copy every photograph of the family album to the NAS")
                << false;
        }
    }
    void nameColumnFollowsFontAndNames()
    {
        QFETCH(double, scale);
        QFETCH(QString, name);
        QFETCH(bool, whole);
        m_fixture->store->addTask(ScheduledTask::create(
            name, QStringLiteral("true"), TaskSchedule::of<TaskSchedule::Daily>({{{8, 0}}})));
        DayTimelineView view(*m_fixture->store, {job("com.example.sync", 300)});
        view.setShowSystemJobs(true);
        const int before = view.trackIndent();
        // The font changes after the rows are built, as when the user picks a larger one.
        QFont font = QApplication::font();
        font.setPointSizeF(font.pointSizeF() * scale);
        view.setFont(font);
        view.resize(1000, 600);
        QCOMPARE(view.taskRows().size(), 1);
        TimelineItemView* row = view.taskRows().first();
        auto* jobRow = view.findChild<SystemJobTimelineItemView*>();
        QVERIFY(jobRow);
        QCOMPARE(row->font().pointSizeF(), font.pointSizeF());
        QCOMPARE(row->nameWidth() + TimelineLayout::nameGap, view.trackIndent());
        QCOMPARE(jobRow->nameWidth(), row->nameWidth());
        if (scale > 1)
            QVERIFY(view.trackIndent() > before);
        const QFontMetricsF metrics(TimelineLayout::nameFont(row->font()));
        // The job's label always fits.
        QVERIFY(metrics.horizontalAdvance(jobRow->job().label) <= jobRow->nameWidth());
        const QString shown = TimelineLayout::shownName(row->font(), name, row->nameWidth());
        const QPoint overName(row->nameWidth() - 4, TimelineLayout::rowHeight / 2);
        if (whole) {
            QVERIFY2(metrics.horizontalAdvance(name) <= row->nameWidth(),
                     qPrintable(QStringLiteral("%1 wide in a column of %2")
                                    .arg(metrics.horizontalAdvance(name))
                                    .arg(row->nameWidth())));
            QCOMPARE(shown, name);
            QCOMPARE(row->toolTipAt(overName), row->description());
        } else {
            QVERIFY(shown.endsWith(QChar(0x2026)));
            QVERIFY(metrics.horizontalAdvance(shown) <= row->nameWidth());
            QCOMPARE(row->toolTipAt(overName), name);
            // The tracks keep their room: the column stops growing.
            QVERIFY(row->nameWidth() < view.width() / 3);
        }
        // Over the track the row's own tooltip: its day in words.
        QCOMPARE(row->toolTipAt(QPoint(view.trackIndent() + 5, TimelineLayout::rowHeight / 2)),
                 row->description());
    }

    // The header's symbol grows with the font, before and after the view is built.
    void headerSymbolFollowsFont_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<bool>("afterBuild");
        QTest::newRow("1x") << 1.0 << false;
        QTest::newRow("1.5x at start") << 1.5 << false;
        QTest::newRow("1.5x later") << 1.5 << true;
        QTest::newRow("2x later") << 2.0 << true;
    }
    void headerSymbolFollowsFont()
    {
        QFETCH(double, scale);
        QFETCH(bool, afterBuild);
        QFont font = QApplication::font();
        font.setPointSizeF(font.pointSizeF() * scale);
        QWidget parent;
        if (!afterBuild)
            parent.setFont(font);
        auto* view = new DayTimelineView(*m_fixture->store, {}, &parent);
        if (afterBuild)
            parent.setFont(font);
        auto* icon = child<QLabel>(view, QStringLiteral("timeline-icon"));
        auto* title = child<QLabel>(view, QStringLiteral("timeline-title"));
        QCOMPARE(title->font().pointSizeF(), font.pointSizeF());
        const QPixmap symbol = icon->pixmap();
        const int height = qRound(symbol.height() / symbol.devicePixelRatio());
        const int letters = QFontMetrics(title->font()).height();
        QVERIFY2(height >= letters && height <= std::max(16, letters) + 2,
                 qPrintable(QStringLiteral("symbol %1, letters %2").arg(height).arg(letters)));
    }

    void recordedRunAppearsWithoutRebuild()
    {
        const ScheduledTask t = TaskBuilder("live").daily({{8, 30}}).build();
        m_fixture->store->addTask(t);
        DayTimelineView view(*m_fixture->store, {});
        QCOMPARE(view.taskRows().first()->row().runs.size(), 0);
        QFile runs(logDir() + QLatin1Char('/') + t.shortId() + QStringLiteral(".runs"));
        QVERIFY(runs.open(QIODevice::Append));
        runs.write(runLine(fixedNow().addSecs(-1800), 30, 0));
        runs.flush();
        QTRY_COMPARE_WITH_TIMEOUT(view.taskRows().first()->row().runs.size(), 1,
                                  TestSupport::eventTimeoutMs);
        // The run at 08:30 stands for the planned time.
        QCOMPARE(view.taskRows().first()->row().plannedMarkers.size(), 0);
    }

    // A row stands at once, before its history is read beside the window, and fills in when
    // the reading arrives; a view made later starts from that reading; a change of the
    // history file (grown, replaced, removed) is read again into both.
    void rowsFillInFromTheReading_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("after");
        QTest::newRow("no history, then a run recorded") << 0 << QStringLiteral("append") << 1;
        QTest::newRow("two runs, a third appended") << 2 << QStringLiteral("append") << 3;
        QTest::newRow("one run, replaced by a file of three")
            << 1 << QStringLiteral("replace") << 3;
        QTest::newRow("two runs, the history removed") << 2 << QStringLiteral("remove") << 0;
    }
    void rowsFillInFromTheReading()
    {
        QFETCH(int, before);
        QFETCH(QString, change);
        QFETCH(int, after);
        const ScheduledTask t = TaskBuilder("filled").daily({{8, 30}}).build();
        m_fixture->store->addTask(t);
        const QString history = RunHistory::historyPath(logDir(), t.shortId());
        const auto runs = [](int count, int from = 0) {
            QByteArray lines;
            for (int i = from; i < from + count; ++i)
                lines += runLine(fixedNow().addSecs(-600 * (i + 1)), 30, 0);
            return lines;
        };
        if (before > 0)
            TestSupport::writeFile(history, runs(before));

        TaskRunReader& reader = m_fixture->store->runReader();
        DayTimelineView view(*m_fixture->store, {});
        QCOMPARE(view.taskRows().size(), 1);
        // Nothing was read on this thread: the row waits for the answer.
        QCOMPARE(view.taskRows().first()->row().runs.size(), 0);
        QVERIFY(reader.isReading());
        QTRY_VERIFY_WITH_TIMEOUT(!reader.isReading(), TestSupport::eventTimeoutMs);
        QCOMPARE(view.taskRows().first()->row().runs.size(), before);

        DayTimelineView later(*m_fixture->store, {});
        QCOMPARE(later.taskRows().first()->row().runs.size(), before);

        if (change == QLatin1String("append")) {
            QFile file(history);
            QVERIFY(file.open(QIODevice::Append));
            file.write(runs(after - before, before));
        } else if (change == QLatin1String("replace")) {
            TestSupport::writeFile(history + QStringLiteral(".new"), runs(after));
            QVERIFY(QFile::remove(history));
            QVERIFY(QFile::rename(history + QStringLiteral(".new"), history));
        } else {
            QVERIFY(QFile::remove(history));
        }
        for (DayTimelineView* shown : {&view, &later}) {
            QTRY_COMPARE_WITH_TIMEOUT(shown->taskRows().first()->row().runs.size(), after,
                                      TestSupport::eventTimeoutMs);
        }
    }

    // The plist's modification time says since when the agent has been there; output newer
    // than the last recorded run says a run is going.
    void missedFollowsTheAgentFiles()
    {
        const ScheduledTask t = TaskBuilder("created late").daily({{0, 21}, {8, 0}}).build();
        m_fixture->store->addTask(t);
        const AgentPaths& paths = m_fixture->store->agentPaths();
        QDir().mkpath(paths.launchAgentsDir);
        TestSupport::writeFile(paths.plistPath(t), "<plist/>");
        QFile plist(paths.plistPath(t));
        QVERIFY(plist.open(QIODevice::ReadWrite));
        QVERIFY(plist.setFileTime(QDateTime(fixedNow().date(), QTime(1, 53), ViewClock::zone()),
                                  QFileDevice::FileModificationTime));
        plist.close();

        DayTimelineView view(*m_fixture->store, {});
        TimelineItemView* row = view.taskRows().first();
        QTRY_COMPARE_WITH_TIMEOUT(row->missedMinutes(), QList<int>{480},
                                  TestSupport::eventTimeoutMs);
        QVERIFY2(row->description().contains(QStringLiteral("Missed: 08:00.")),
                 qPrintable(row->description()));
        QCOMPARE(row->accessibleDescription(), row->description());
        QCOMPARE(row->toolTip(), row->description());

        // The 08:00 run is going: it has written output, and no history line yet.
        TestSupport::writeFile(paths.stdoutLogPath(t), "copying\n");
        QTRY_COMPARE_WITH_TIMEOUT(view.taskRows().first()->missedMinutes(), QList<int>(), 5000);
        QVERIFY(view.taskRows().first()->description().contains(
            QStringLiteral("A run is in progress.")));
    }

    void rowsAreReachableByKeyboardInOrder()
    {
        m_fixture->store->addTask(TaskBuilder("first").daily({{8, 0}}).build());
        m_fixture->store->addTask(TaskBuilder("second").every(30).build());
        DayTimelineView view(*m_fixture->store, {job("com.example.every5", 300)});
        view.setShowSystemJobs(true);
        auto* toggle = view.findChild<ToggleSwitch*>(QStringLiteral("timeline-system-jobs"));
        QVERIFY(toggle);
        QStringList chain;
        for (QWidget* w = toggle->nextInFocusChain(); w && w != toggle; w = w->nextInFocusChain()) {
            if (w->focusPolicy() & Qt::TabFocus && w->isVisibleTo(&view))
                chain << w->accessibleName();
        }
        QCOMPARE(chain.mid(0, 3), (QStringList{QStringLiteral("first"), QStringLiteral("second"),
                                               QStringLiteral("com.example.every5")}));
        auto* jobRow = view.findChild<SystemJobTimelineItemView*>();
        QCOMPARE(jobRow->accessibleDescription(), QStringLiteral("Starts every 5 minutes."));
        QVERIFY(view.taskRows().at(1)->accessibleDescription().startsWith(
            QStringLiteral("Runs every 30 minutes.")));

        // A change in the store rebuilds the rows; the focused one keeps the focus.
        view.show();
        QApplication::setActiveWindow(&view);
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.taskRows().at(1)->setFocus();
        QTRY_VERIFY(view.taskRows().at(1)->hasFocus());
        m_fixture->store->addTask(TaskBuilder("third").daily({{7, 0}}).build());
        QCOMPARE(view.taskRows().size(), 3);
        QTRY_VERIFY(view.taskRows().at(1)->hasFocus());
        QCOMPARE(view.taskRows().at(1)->task().name, QStringLiteral("second"));
    }

    void movesToTheNewDayAtMidnight()
    {
        m_fixture->store->addTask(TaskBuilder("weekly").weekly({4}, {{9, 0}}).build()); // Wed
        ViewClock::setFixedNow(QDateTime(QDate(2025, 12, 9), QTime(23, 59, 59), ViewClock::zone()));
        DayTimelineView view(*m_fixture->store, {});
        QCOMPARE(view.taskRows().first()->row().plannedMarkers.size(), 0);
        ViewClock::setFixedNow(QDateTime(QDate(2025, 12, 10), QTime(0, 0, 1), ViewClock::zone()));
        view.tick();
        QCOMPARE(view.day(), QDate(2025, 12, 10));
        QCOMPARE(view.taskRows().first()->row().plannedMarkers.size(), 1);
    }
};

class TestLogsWatcher : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void burstOfWritesIsOneChange()
    {
        QTemporaryDir dir;
        const QString logs = dir.path() + QStringLiteral("/Logs");
        LogsWatcher watcher(logs, nullptr, 50);
        QSignalSpy spy(&watcher, &LogsWatcher::changed);
        const auto announced = [&spy](const QString& path) {
            return std::count_if(spy.cbegin(), spy.cend(), [&](const QList<QVariant>& arguments) {
                return arguments.at(0).toString() == path;
            });
        };
        // The folder appears later, then a history file in it, written several times.
        QDir().mkpath(logs);
        auto* files = watcher.findChild<QFileSystemWatcher*>();
        QVERIFY(files);
        QTRY_VERIFY_WITH_TIMEOUT(files->directories().contains(logs), TestSupport::eventTimeoutMs);
        const QString path = logs + QStringLiteral("/abcd1234.runs");
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        for (int i = 0; i < 5; ++i) {
            file.write("x\n");
            file.flush();
        }
        QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 1, TestSupport::eventTimeoutMs);
        QCOMPARE(spy.first().first().toString(), path);
        // Nothing more for the burst: a history begun after it is announced after it.
        const QString later = logs + QStringLiteral("/ef567890.runs");
        TestSupport::writeFile(later, "z\n");
        QTRY_COMPARE_WITH_TIMEOUT(announced(later), 1, TestSupport::eventTimeoutMs);
        QCOMPARE(announced(path), 1);
        file.write("y\n");
        file.flush();
        QTRY_COMPARE_WITH_TIMEOUT(announced(path), 2, TestSupport::eventTimeoutMs);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestDayTimeline timeline;
    TestLogsWatcher watcher;
    return QTest::qExec(&timeline, argc, argv) | QTest::qExec(&watcher, argc, argv);
}
#include "TestDayTimeline.moc"
