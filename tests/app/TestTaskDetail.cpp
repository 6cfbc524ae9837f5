// The task detail: what it reads back from the logs folder and the generated files, its
// actions, and how it follows the agents' writes without being asked.
#include "AppFakes.h"
#include "ContentView.h"
#include "FullLogView.h"
#include "ResultChecks.h"
#include "TaskDetailView.h"
#include "TaskFile.h"
#include "TaskListModel.h"
#include "TestSupport.h"
#include "ToggleSwitch.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <sys/stat.h>

#include <atomic>

Q_DECLARE_METATYPE(TaskSchedule)

namespace {

QString text(QWidget* view, const QString& name)
{
    if (auto* label = view->findChild<QLabel*>(name))
        return label->text();
    if (auto* edit = view->findChild<QPlainTextEdit*>(name))
        return edit->toPlainText();
    return QStringLiteral("<missing %1>").arg(name);
}

QStringList texts(QWidget* view, const QString& name)
{
    QStringList found;
    for (QLabel* label : view->findChildren<QLabel*>(name))
        found << label->text();
    return found;
}

QByteArray numberedLines(int count, bool finalLineFeed)
{
    QByteArray bytes;
    for (int i = 1; i <= count; ++i)
        bytes += "line " + QByteArray::number(i) + '\n';
    if (!finalLineFeed)
        bytes.chop(1);
    return bytes;
}

} // namespace

// Waits until the view shows the reading of its files asked for last.
#define WAIT_SHOWN(view) QTRY_VERIFY_WITH_TIMEOUT(!(view).isLoading(), TestSupport::eventTimeoutMs)

class TestTaskDetail : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeStoreFixture> m_fixture;
    ScheduledTask m_task;

    QString logDir() const { return m_fixture->store->agentPaths().logDir; }
    QString logFile(const QString& suffix) const
    {
        return logDir() + QLatin1Char('/') + m_task.shortId() + suffix;
    }
    ScheduledTask addTask(bool wake = false)
    {
        ScheduledTask task = ScheduledTask::create(
            QStringLiteral("Backup"), QStringLiteral("rsync -av ~/docs /backup"),
            TaskSchedule::of<TaskSchedule::Daily>({{{9, 30}}}));
        task.wakeBeforeRun = wake;
        m_fixture->store->addTask(task);
        return task;
    }

private Q_SLOTS:
    void init()
    {
        m_fixture = std::make_unique<FakeStoreFixture>();
        QDir().mkpath(m_fixture->dir.path() + QStringLiteral("/Logs"));
        m_task = addTask();
    }
    void cleanup()
    {
        // A wake check still on its way must not outlive the store it asks.
        QThreadPool::globalInstance()->waitForDone();
        m_fixture.reset();
    }

    void historyShowsNewestTen_data()
    {
        QTest::addColumn<int>("runs");
        QTest::addColumn<QStringList>("exits");
        QTest::addColumn<QString>("more");
        QTest::newRow("none") << 0 << QStringList() << QString();
        QTest::newRow("one") << 1 << QStringList{QStringLiteral("Exit: 0")} << QString();
        QStringList tenNewest;
        for (int i = 9; i >= 0; --i)
            tenNewest << QStringLiteral("Exit: %1").arg(i);
        QTest::newRow("ten") << 10 << tenNewest << QString();
        QStringList eleven;
        for (int i = 10; i >= 1; --i)
            eleven << QStringLiteral("Exit: %1").arg(i);
        QTest::newRow("eleven") << 11 << eleven << QStringLiteral("1 more run not shown");
        QStringList twelve;
        for (int i = 11; i >= 2; --i)
            twelve << QStringLiteral("Exit: %1").arg(i);
        QTest::newRow("twelve") << 12 << twelve << QStringLiteral("2 more runs not shown");
    }
    void historyShowsNewestTen()
    {
        QFETCH(int, runs);
        QFETCH(QStringList, exits);
        QFETCH(QString, more);
        QByteArray history;
        for (int i = 0; i < runs; ++i)
            history += TestSupport::runHistoryLine(i, i);
        if (runs > 0)
            TestSupport::writeFile(logFile(QStringLiteral(".runs")), history);
        TaskDetailView view(*m_fixture->store, m_task);
        WAIT_SHOWN(view);
        QCOMPARE(texts(&view, QStringLiteral("history-exit")), exits);
        QCOMPARE(view.findChildren<QWidget*>(QStringLiteral("history-row")).size(), exits.size());
        QCOMPARE(view.findChild<QLabel*>(QStringLiteral("history-empty")) != nullptr, runs == 0);
        if (more.isEmpty())
            QVERIFY(!view.findChild<QLabel*>(QStringLiteral("history-more")));
        else
            QCOMPARE(text(&view, QStringLiteral("history-more")), more);
    }

    void neverInstalledTaskShowsItsFiveTexts()
    {
        TaskDetailView view(*m_fixture->store, m_task);
        WAIT_SHOWN(view);
        QCOMPARE(text(&view, QStringLiteral("history-empty")),
                 QStringLiteral("No runs recorded yet."));
        QCOMPARE(text(&view, QStringLiteral("output-empty")), QStringLiteral("No stdout output."));
        QCOMPARE(text(&view, QStringLiteral("script-missing")),
                 QStringLiteral("Script not installed."));
        QCOMPARE(text(&view, QStringLiteral("plist-missing")),
                 QStringLiteral("Plist not installed."));
        QCOMPARE(text(&view, QStringLiteral("env-shell")),
                 QStringLiteral("Unknown (script not found)"));
        view.setSelectedLogTab(LogStream::stderrStream);
        QCOMPARE(text(&view, QStringLiteral("output-empty")), QStringLiteral("No stderr output."));
    }

    void hostileAgentFilesShowAsMissing_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFOs nobody writes") << QStringLiteral("fifo");
        QTest::newRow("links to a device that never ends") << QStringLiteral("device");
    }

    // What stands at the script's and plist's paths is read only when it is a regular file of
    // a sane size: the view never waits on a FIFO nor reads /dev/zero.
    void hostileAgentFilesShowAsMissing()
    {
        QFETCH(QString, kind);
        const AgentPaths& paths = m_fixture->store->agentPaths();
        for (const QString& path : {paths.scriptPath(m_task), paths.plistPath(m_task)}) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile::remove(path);
            if (kind == QStringLiteral("fifo"))
                QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            else
                QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        }
        TaskDetailView view(*m_fixture->store, m_task);
        WAIT_SHOWN(view);
        QCOMPARE(text(&view, QStringLiteral("script-missing")),
                 QStringLiteral("Script not installed."));
        QCOMPARE(text(&view, QStringLiteral("plist-missing")),
                 QStringLiteral("Plist not installed."));
        QCOMPARE(text(&view, QStringLiteral("env-shell")),
                 QStringLiteral("Unknown (script not found)"));
        QFile::remove(paths.scriptPath(m_task));
        QFile::remove(paths.plistPath(m_task));
    }

    void outputShowsTheLastThirtyLines_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<bool>("finalLineFeed");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("sheetLines");
        QTest::newRow("30") << 30 << true << QString() << 0;
        QTest::newRow("31") << 31 << true << QStringLiteral("Show full log (31 lines)") << 31;
        QTest::newRow("500") << 500 << false << QStringLiteral("Show full log (100 lines)") << 500;
        // The final line feed ends the last line; it does not make a hundredth, empty one.
        QTest::newRow("500 ending in a line feed")
            << 500 << true << QStringLiteral("Show full log (100 lines)") << 500;
        // The full-log sheet reads the last 10,000 lines.
        QTest::newRow("10,050 ending in a line feed")
            << 10050 << true << QStringLiteral("Show full log (100 lines)") << 10000;
    }
    void outputShowsTheLastThirtyLines()
    {
        QFETCH(int, lines);
        QFETCH(bool, finalLineFeed);
        QFETCH(QString, button);
        QFETCH(int, sheetLines);
        TestSupport::writeFile(logFile(QStringLiteral(".stdout.log")),
                               numberedLines(lines, finalLineFeed));
        TaskDetailView view(*m_fixture->store, m_task);
        WAIT_SHOWN(view);
        const QStringList shown =
            text(&view, QStringLiteral("output-text")).split(QLatin1Char('\n'));
        QCOMPARE(shown.size(), std::min(lines, 30));
        QCOMPARE(shown.first(), QStringLiteral("line %1").arg(std::max(1, lines - 29)));
        QCOMPARE(shown.last(), QStringLiteral("line %1").arg(lines));
        auto* full = view.findChild<QPushButton*>(QStringLiteral("output-show-full-log"));
        if (button.isEmpty()) {
            QVERIFY(!full);
            return;
        }
        QVERIFY(full);
        QCOMPARE(full->text(), button);
        QCOMPARE(full->accessibleName(), button);
        full->click();
        // The whole log is read beside the window; the sheet opens with it.
        QTRY_VERIFY_WITH_TIMEOUT(view.findChild<FullLogView*>(), TestSupport::eventTimeoutMs);
        auto* sheet = view.findChild<FullLogView*>();
        QCOMPARE(sheet->title(), QStringLiteral("Backup \u2014 stdout"));
        const QStringList all = sheet->content().split(QLatin1Char('\n'));
        QCOMPARE(all.size(), sheetLines);
        QCOMPARE(all.first(), QStringLiteral("line %1").arg(lines - sheetLines + 1));
        QCOMPARE(all.last(), QStringLiteral("line %1").arg(lines));
        QVERIFY(sheet->minimumWidth() >= 600 && sheet->minimumHeight() >= 400);
    }

    void shellDescription_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("shell");
        QTest::newRow("zsh with .zprofile")
            << QByteArray("#!/bin/zsh\nsource ~/.zprofile 2>/dev/null\necho hi\n")
            << QStringLiteral("zsh (with shell profile)");
        QTest::newRow("zsh with .zshrc") << QByteArray("#!/bin/zsh\nsource ~/.zshrc\n")
                                         << QStringLiteral("zsh (with shell profile)");
        QTest::newRow("zsh alone") << QByteArray("#!/bin/zsh\necho hi\n") << QStringLiteral("zsh");
        QTest::newRow("bash") << QByteArray("#!/bin/bash\n") << QStringLiteral("bash");
        QTest::newRow("no interpreter line")
            << QByteArray("echo hi\n") << QStringLiteral("Unknown");
        QTest::newRow("empty file") << QByteArray() << QStringLiteral("Unknown");
    }
    void shellDescription()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, shell);
        TestSupport::writeFile(m_fixture->store->agentPaths().scriptPath(m_task), script);
        TaskDetailView view(*m_fixture->store, m_task);
        WAIT_SHOWN(view);
        QCOMPARE(text(&view, QStringLiteral("env-shell")), shell);
        if (!script.isEmpty())
            QCOMPARE(text(&view, QStringLiteral("script-text")) + QLatin1Char('\n'),
                     QString::fromUtf8(script));
    }

    void installedPlistIsShownAsXml()
    {
        TestSupport::writeFile(
            m_fixture->store->agentPaths().plistPath(m_task),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>Label</key><string>com.brenmor-ops.task.X</string></dict></plist>\n");
        TaskDetailView view(*m_fixture->store, m_task);
        WAIT_SHOWN(view);
        const QString xml = text(&view, QStringLiteral("plist-text"));
        QVERIFY2(xml.contains(QLatin1String("<key>Label</key>")), qPrintable(xml));
        QVERIFY(!view.findChild<QLabel*>(QStringLiteral("plist-missing")));
    }

    void toggleDisablesThroughTheStore()
    {
        FakeDialogs dialogs;
        ContentView content(*m_fixture->store, dialogs, {});
        content.setSelection(SidebarSection::task(m_task.id));
        QCOMPARE(text(content.currentDetail(), QStringLiteral("task-detail-status")),
                 QStringLiteral("Active"));
        auto* toggle = content.currentDetail()->findChild<ToggleSwitch*>(
            QStringLiteral("detail-enabled-toggle"));
        QVERIFY(toggle && toggle->isChecked());
        QCOMPARE(toggle->accessibleName(), QStringLiteral("Enabled"));
        toggle->click();
        QTRY_VERIFY(!m_fixture->store->task(m_task.id)->isEnabled);
        QTRY_COMPARE(text(content.currentDetail(), QStringLiteral("task-detail-status")),
                     QStringLiteral("Disabled"));
    }

    void wakeLineOnlyWithTheWakeFlag()
    {
        TaskDetailView plain(*m_fixture->store, m_task);
        QVERIFY(!plain.findChild<QLabel*>(QStringLiteral("detail-wake-status")));
        const ScheduledTask waking = addTask(true);
        TaskDetailView view(*m_fixture->store, waking);
        // The fake service has nothing registered: the orange line, once the answer is in.
        QTRY_COMPARE(text(&view, QStringLiteral("detail-wake-status"))
                         .endsWith(QLatin1String("Wake requested but not active in system")),
                     true);
    }

    void nextRunLine_data()
    {
        QTest::addColumn<TaskSchedule>("schedule");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("line");
        // The summary above says how often; launchd keeps no next time for an interval.
        QTest::newRow("interval") << TaskSchedule::of<TaskSchedule::Interval>({15}) << true
                                  << QString();
        QTest::newRow("at load") << TaskSchedule::of<TaskSchedule::RunAtLoad>() << true
                                 << QStringLiteral("Next run: at next login");
        QTest::newRow("no weekdays") << TaskSchedule::of<TaskSchedule::Weekly>({{}, {{9, 0}}})
                                     << true << QStringLiteral("Next run: never");
        QTest::newRow("disabled daily") << TaskSchedule::of<TaskSchedule::Daily>({{{9, 0}}})
                                        << false << QStringLiteral("Disabled");
        QTest::newRow("disabled interval") << TaskSchedule::of<TaskSchedule::Interval>({15})
                                           << false << QStringLiteral("Disabled");
    }
    void nextRunLine()
    {
        QFETCH(TaskSchedule, schedule);
        QFETCH(bool, enabled);
        QFETCH(QString, line);
        m_task.schedule = schedule;
        m_task.isEnabled = enabled;
        TaskDetailView view(*m_fixture->store, m_task);
        if (line.isEmpty())
            QVERIFY(!view.findChild<QLabel*>(QStringLiteral("detail-next-run")));
        else
            QCOMPARE(text(&view, QStringLiteral("detail-next-run")), line);
        // The schedule's summary is said once.
        const QString summary = schedule.summary();
        int said = 0;
        for (QLabel* label : view.findChildren<QLabel*>())
            said += label->text() == summary ? 1 : 0;
        QCOMPARE(said, 1);
    }

    void fullLogOpensAtTheLeftScrolledToTheEnd_data()
    {
        QTest::addColumn<bool>("finalLineFeed");
        QTest::newRow("last line ends") << true;
        QTest::newRow("last line open") << false;
    }
    void fullLogOpensAtTheLeftScrolledToTheEnd()
    {
        QFETCH(bool, finalLineFeed);
        QString content;
        for (int i = 1; i <= 300; ++i)
            content += QStringLiteral("line %1 ").arg(i) + QString(300, QLatin1Char('x')) + u'\n';
        if (!finalLineFeed)
            content.chop(1);
        FullLogView sheet(QStringLiteral("Backup \u2014 stdout"), content);
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        auto* text = sheet.findChild<QPlainTextEdit*>(QStringLiteral("full-log-content"));
        QTRY_VERIFY(text->horizontalScrollBar()->maximum() > 0);
        QTRY_VERIFY(text->verticalScrollBar()->maximum() > 0);
        // The start of every line is in view, and so is the newest one.
        QCOMPARE(text->horizontalScrollBar()->value(), 0);
        QCOMPARE(text->verticalScrollBar()->value(), text->verticalScrollBar()->maximum());
    }

    void sameTaskChangeUpdatesInPlace_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("enabled switch") << "toggle";
        QTest::newRow("renamed by the tool") << "rename";
        QTest::newRow("schedule and command edited") << "edit";
    }
    void sameTaskChangeUpdatesInPlace()
    {
        QFETCH(QString, change);
        QByteArray history;
        for (int i = 0; i < 12; ++i)
            history += TestSupport::runHistoryLine(i, 0);
        TestSupport::writeFile(logFile(QStringLiteral(".runs")), history);
        TestSupport::writeFile(logFile(QStringLiteral(".stderr.log")), numberedLines(80, true));
        FakeDialogs dialogs;
        ContentView content(*m_fixture->store, dialogs, {});
        content.resize(900, 500);
        content.show();
        QVERIFY(QTest::qWaitForWindowExposed(&content));
        content.setSelection(SidebarSection::task(m_task.id));
        QPointer<TaskDetailView> view = qobject_cast<TaskDetailView*>(content.currentDetail());
        QVERIFY(view);
        WAIT_SHOWN(*view);
        child<QAbstractButton>(view, QStringLiteral("output-tab-stderr"))->click();
        QCOMPARE(view->selectedLogTab(), LogStream::stderrStream);
        QTRY_VERIFY(view->verticalScrollBar()->maximum() > 200);
        const int place = view->verticalScrollBar()->maximum() - 100;
        view->verticalScrollBar()->setValue(place);

        if (change == u"toggle") {
            child<ToggleSwitch>(view, QStringLiteral("detail-enabled-toggle"))->click();
            QTRY_COMPARE(text(content.currentDetail(), QStringLiteral("task-detail-status")),
                         QStringLiteral("Disabled"));
        } else {
            ScheduledTask changed = *m_fixture->store->task(m_task.id);
            changed.name = QStringLiteral("Nightly backup");
            if (change == u"edit") {
                changed.command = QStringLiteral("rsync -a ~/docs /elsewhere");
                changed.schedule = TaskSchedule::of<TaskSchedule::Weekly>({{2}, {{6, 0}}});
            }
            m_fixture->store->updateTask(changed);
            QTRY_COMPARE(text(content.currentDetail(), QStringLiteral("task-detail-name")),
                         changed.name);
            QWidget* shown = content.currentDetail();
            QCOMPARE(text(shown, QStringLiteral("detail-command")), changed.command);
            QCOMPARE(text(shown, QStringLiteral("detail-schedule-summary")),
                     changed.schedule.summary());
        }
        // The same view, on the same stream, at the same place.
        QVERIFY(view);
        QCOMPARE(content.currentDetail(), view.data());
        QCOMPARE(view->task(), *m_fixture->store->task(m_task.id));
        QCOMPARE(view->selectedLogTab(), LogStream::stderrStream);
        QVERIFY(child<QAbstractButton>(view, QStringLiteral("output-tab-stderr"))->isChecked());
        QVERIFY(text(view, QStringLiteral("output-text")).endsWith(u"line 80"));
        // Also once the files are read again for the new state.
        WAIT_SHOWN(*view);
        QVERIFY(text(view, QStringLiteral("output-text")).endsWith(u"line 80"));
        QCoreApplication::processEvents();
        QCOMPARE(view->verticalScrollBar()->value(), place);
        // Each section is there once: the old ones are gone.
        QTRY_COMPARE(view->findChildren<ToggleSwitch*>().size(), 1);
        QCOMPARE(view->findChildren<QLabel*>(QStringLiteral("detail-command")).size(), 1);
    }

    void missingFolderAndEnvFileStayInView()
    {
        QTemporaryDir folder;
        const QString gone = folder.filePath(QStringLiteral("gone"));
        const QString noEnv = folder.filePath(QStringLiteral("none.env"));
        m_task.workingDirectory = gone;
        m_task.envFilePath = noEnv;
        TaskDetailView view(*m_fixture->store, m_task);
        QTRY_COMPARE(text(&view, QStringLiteral("env-directory-finding")),
                     QStringLiteral("The working directory %1 does not exist; create it or "
                                    "choose another")
                         .arg(gone));
        QVERIFY(
            view.findChild<QLabel*>(QStringLiteral("env-directory-finding"))->isVisibleTo(&view));
        QCOMPARE(text(&view, QStringLiteral("env-file-finding")),
                 QStringLiteral("The .env file %1 does not exist; create it or clear the field")
                     .arg(noEnv));

        // Once the folder is made, the refresh button takes the warning away; the .env one stays.
        QVERIFY(QDir().mkpath(gone));
        TestSupport::writeFile(noEnv, "BROKEN LINE\n");
        view.findChild<QAbstractButton*>(QStringLiteral("detail-refresh"))->click();
        QTRY_VERIFY(text(&view, QStringLiteral("env-file-finding")).startsWith(u"Line 1 of"));
        QVERIFY(
            !view.findChild<QLabel*>(QStringLiteral("env-directory-finding"))->isVisibleTo(&view));
    }

    void disabledWakeTaskHasNoWakeLine()
    {
        ScheduledTask waking = m_task;
        waking.wakeBeforeRun = true;
        waking.isEnabled = false;
        TaskDetailView view(*m_fixture->store, waking);
        QCOMPARE(text(&view, QStringLiteral("detail-next-run")), QStringLiteral("Disabled"));
        QVERIFY(!view.findChild<QLabel*>(QStringLiteral("detail-wake-status")));
    }

    void copyPutsTheCommandOnTheClipboard()
    {
        TaskDetailView view(*m_fixture->store, m_task);
        auto* copy = view.findChild<QAbstractButton*>(QStringLiteral("detail-copy-command"));
        QVERIFY(copy);
        copy->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), m_task.command);
        QVERIFY(view.showCopied());
        QCOMPARE(copy->accessibleName(), QStringLiteral("Copied"));
        // A second copy within the second and a half does not push the first reset back: a
        // timer of the same length started between the two copies finds the label reset.
        bool sentinelFired = false;
        bool resetBeforeSentinel = false;
        QTimer::singleShot(TaskDetailView::copiedResetMs, Qt::PreciseTimer, &view, [&] {
            sentinelFired = true;
            resetBeforeSentinel = !view.showCopied();
        });
        copy->click();
        QVERIFY(view.showCopied());
        QTRY_VERIFY_WITH_TIMEOUT(sentinelFired, TestSupport::eventTimeoutMs);
        QVERIFY(resetBeforeSentinel);
        QCOMPARE(copy->accessibleName(), QStringLiteral("Copy"));
    }

    void recordedRunAppearsWithoutRefresh()
    {
        TaskDetailView view(*m_fixture->store, m_task);
        WAIT_SHOWN(view);
        QVERIFY(view.findChild<QLabel*>(QStringLiteral("history-empty")));
        // The wrapper creates the file with its first line, then appends.
        QFile runs(logFile(QStringLiteral(".runs")));
        QVERIFY(runs.open(QIODevice::Append));
        runs.write(TestSupport::runHistoryLine(0, 0));
        runs.flush();
        QTRY_COMPARE_WITH_TIMEOUT(texts(&view, QStringLiteral("history-exit")),
                                  QStringList{QStringLiteral("Exit: 0")},
                                  TestSupport::eventTimeoutMs);
        runs.write(TestSupport::runHistoryLine(1, 3));
        runs.flush();
        QTRY_COMPARE_WITH_TIMEOUT(
            texts(&view, QStringLiteral("history-exit")),
            (QStringList{QStringLiteral("Exit: 3"), QStringLiteral("Exit: 0")}),
            TestSupport::eventTimeoutMs);
        QFile out(logFile(QStringLiteral(".stdout.log")));
        QVERIFY(out.open(QIODevice::Append));
        out.write("hello\n");
        out.flush();
        QTRY_COMPARE_WITH_TIMEOUT(text(&view, QStringLiteral("output-text")),
                                  QStringLiteral("hello"), TestSupport::eventTimeoutMs);
    }

    void refreshButtonReadsAgain()
    {
        TaskDetailView view(*m_fixture->store, m_task);
        TestSupport::writeFile(logFile(QStringLiteral(".runs")), TestSupport::runHistoryLine(0, 1));
        view.findChild<QAbstractButton*>(QStringLiteral("detail-refresh"))->click();
        QVERIFY(view.isLoading());
        WAIT_SHOWN(view);
        QCOMPARE(texts(&view, QStringLiteral("history-exit")),
                 QStringList{QStringLiteral("Exit: 1")});
    }

    void actionsCarryTheTask()
    {
        TaskDetailView view(*m_fixture->store, m_task);
        QList<QString> fired;
        connect(&view, &TaskDetailView::testRunRequested, this,
                [&](const ScheduledTask& t) { fired << QStringLiteral("test:") + t.name; });
        connect(&view, &TaskDetailView::editRequested, this,
                [&](const ScheduledTask& t) { fired << QStringLiteral("edit:") + t.name; });
        connect(&view, &TaskDetailView::duplicateRequested, this,
                [&](const ScheduledTask& t) { fired << QStringLiteral("duplicate:") + t.name; });
        connect(&view, &TaskDetailView::deleteRequested, this,
                [&](const ScheduledTask& t) { fired << QStringLiteral("delete:") + t.name; });
        for (const char* name :
             {"detail-test-run", "detail-edit", "detail-duplicate", "detail-delete"})
            view.findChild<QPushButton*>(QLatin1String(name))->click();
        QCOMPARE(fired, (QStringList{QStringLiteral("test:Backup"), QStringLiteral("edit:Backup"),
                                     QStringLiteral("duplicate:Backup"),
                                     QStringLiteral("delete:Backup")}));
        QCOMPARE(view.findChild<QPushButton*>(QStringLiteral("detail-test-run"))->accessibleName(),
                 QStringLiteral("Test Run"));
    }

    void filesAreReadBesideTheWindow_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QStringList>("exits");
        QTest::addColumn<QStringList>("shownNames");
        QTest::newRow("installed and ran")
            << true << QStringList{QStringLiteral("Exit: 3")}
            << QStringList{QStringLiteral("output-text"), QStringLiteral("script-text"),
                           QStringLiteral("plist-text")};
        QTest::newRow("never installed")
            << false << QStringList()
            << QStringList{QStringLiteral("history-empty"), QStringLiteral("output-empty"),
                           QStringLiteral("script-missing"), QStringLiteral("plist-missing")};
    }
    // The view is built, and stays usable, while its files are read on another thread; each
    // part says it is loading until the reading arrives.
    void filesAreReadBesideTheWindow()
    {
        QFETCH(bool, installed);
        QFETCH(QStringList, exits);
        QFETCH(QStringList, shownNames);
        const AgentPaths paths = m_fixture->store->agentPaths();
        if (installed) {
            TestSupport::writeFile(logFile(QStringLiteral(".runs")),
                                   TestSupport::runHistoryLine(0, 3));
            TestSupport::writeFile(logFile(QStringLiteral(".stdout.log")), "hello\n");
            TestSupport::writeFile(paths.scriptPath(m_task), "#!/bin/zsh\necho hi\n");
            TestSupport::writeFile(paths.plistPath(m_task), "<plist version=\"1.0\"><dict>"
                                                            "<key>Label</key><string>x</string>"
                                                            "</dict></plist>\n");
        }
        QSemaphore entered;
        QSemaphore release;
        std::atomic<QThread*> readOn = nullptr;
        auto unblock = qScopeGuard([&release] {
            release.release(10);
            QThreadPool::globalInstance()->waitForDone();
        });
        auto loader = std::make_unique<TaskDetailLoader>(
            paths, nullptr, nullptr, [&, paths](const ScheduledTask& task) {
                readOn = QThread::currentThread();
                entered.release();
                // Bounded: a reading on the window's thread fails the test, never hangs it.
                release.tryAcquire(1, TestSupport::eventTimeoutMs);
                TaskDetailLoader::FileCache cache;
                return TaskDetailLoader::read(paths, cache, task);
            });
        TaskDetailView view(*m_fixture->store, m_task, std::move(loader));
        QVERIFY(entered.tryAcquire(1, TestSupport::eventTimeoutMs));
        QVERIFY(view.isLoading());
        QCOMPARE(texts(&view, QStringLiteral("detail-loading")).size(), 4);
        QCOMPARE(text(&view, QStringLiteral("detail-loading")), QStringLiteral("Loading\u2026"));
        for (const QString& name : std::as_const(shownNames))
            QVERIFY2(!view.findChild<QWidget*>(name), qPrintable(name));
        // The task's own fields are there at once.
        QCOMPARE(text(&view, QStringLiteral("task-detail-name")), m_task.name);
        QCOMPARE(text(&view, QStringLiteral("detail-command")), m_task.command);

        release.release();
        WAIT_SHOWN(view);
        QVERIFY(readOn.load() != nullptr);
        QVERIFY(readOn.load() != QThread::currentThread());
        QVERIFY(texts(&view, QStringLiteral("detail-loading")).isEmpty());
        QCOMPARE(texts(&view, QStringLiteral("history-exit")), exits);
        for (const QString& name : std::as_const(shownNames))
            QVERIFY2(view.findChild<QWidget*>(name), qPrintable(name));
        QCOMPARE(text(&view, QStringLiteral("env-shell")),
                 installed ? QStringLiteral("zsh") : QStringLiteral("Unknown (script not found)"));
    }

    void followsOnlyItsOwnTask_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("readings"); // caused by the change
        QTest::addColumn<QString>("name"); // shown afterwards
        QTest::addColumn<int>("resets");   // tasksReset signals the change gave
        const QString same = QStringLiteral("Backup");
        const QString renamed = QStringLiteral("Nightly backup");
        QTest::newRow("another task renamed") << "other-rename" << 0 << same << 0;
        QTest::newRow("another task added") << "add" << 0 << same << 0;
        QTest::newRow("another task deleted") << "other-delete" << 0 << same << 0;
        QTest::newRow("list reordered by the tool") << "reorder" << 0 << same << 1;
        QTest::newRow("its task renamed") << "rename" << 1 << renamed << 0;
        QTest::newRow("list reordered by the tool, its task renamed")
            << "reorder-rename" << 1 << renamed << 1;
    }
    // Another task's change leaves the detail alone: nothing is read or rebuilt, the focus and
    // the output stream stay. Its own task's change is shown in place and read once again.
    void followsOnlyItsOwnTask()
    {
        QFETCH(QString, change);
        QFETCH(int, readings);
        QFETCH(QString, name);
        QFETCH(int, resets);
        const ScheduledTask other = addTask();
        TestSupport::writeFile(logFile(QStringLiteral(".stderr.log")), numberedLines(5, true));
        FakeDialogs dialogs;
        ContentView content(*m_fixture->store, dialogs, {});
        content.resize(900, 500);
        content.show();
        QApplication::setActiveWindow(&content);
        QVERIFY(QTest::qWaitForWindowActive(&content));
        content.setSelection(SidebarSection::task(m_task.id));
        QPointer<TaskDetailView> view = qobject_cast<TaskDetailView*>(content.currentDetail());
        QVERIFY(view);
        WAIT_SHOWN(*view);
        child<QAbstractButton>(view, QStringLiteral("output-tab-stderr"))->click();
        auto* edit = child<QPushButton>(view, QStringLiteral("detail-edit"));
        edit->setFocus(Qt::OtherFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), edit);
        const QPointer<QLabel> nameLabel = child<QLabel>(view, QStringLiteral("task-detail-name"));
        const QPointer<QWidget> output = child<QWidget>(view, QStringLiteral("output-text"));
        const quint64 before = view->loader().requestCount();
        QSignalSpy reset(m_fixture->store.get(), &TaskStore::tasksReset);

        const QString taskFile = m_fixture->store->taskFilePath();
        ScheduledTask mine = *m_fixture->store->task(m_task.id);
        if (change.endsWith(u"rename"))
            mine.name = QStringLiteral("Nightly backup");
        if (change == u"other-rename") {
            ScheduledTask changed = other;
            changed.name = QStringLiteral("Other");
            m_fixture->store->updateTask(changed);
        } else if (change == u"add") {
            addTask();
        } else if (change == u"other-delete") {
            m_fixture->store->deleteTask(other);
        } else if (change.startsWith(u"reorder")) {
            VERIFY_OK(TaskFile::write(taskFile, {other, mine}));
            m_fixture->store->loadTasks();
        } else if (change == u"rename") {
            m_fixture->store->updateTask(mine);
        }
        QCOMPARE(reset.size(), resets);
        // A reading asked for after the change: every reading the change caused came first.
        child<QAbstractButton>(view, QStringLiteral("detail-refresh"))->click();
        WAIT_SHOWN(*view);
        QCOMPARE(view->loader().requestCount() - before, quint64(readings + 1));

        QCOMPARE(content.currentDetail(), view.data());
        QCOMPARE(view->task(), *m_fixture->store->task(m_task.id));
        QCOMPARE(text(view, QStringLiteral("task-detail-name")), name);
        QCOMPARE(view->selectedLogTab(), LogStream::stderrStream);
        QVERIFY(child<QAbstractButton>(view, QStringLiteral("output-tab-stderr"))->isChecked());
        QCOMPARE(text(view, QStringLiteral("output-text")), QStringLiteral("line 1\nline 2\nline "
                                                                           "3\nline 4\nline 5"));
        // The files did not change: their part is the one built first.
        QCOMPARE(child<QWidget>(view, QStringLiteral("output-text")), output.data());
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("detail-edit"));
        QVERIFY(view->isAncestorOf(QApplication::focusWidget()));
        if (readings == 0) {
            // Nothing was built again.
            QCOMPARE(QApplication::focusWidget(), edit);
            QCOMPARE(child<QLabel>(view, QStringLiteral("task-detail-name")), nameLabel.data());
        }
    }

    void removalEmptiesThePane_data()
    {
        QTest::addColumn<bool>("byTheTool");
        QTest::newRow("deleted in the window") << false;
        QTest::newRow("removed by the tool") << true;
    }
    void removalEmptiesThePane()
    {
        QFETCH(bool, byTheTool);
        const ScheduledTask other = addTask();
        FakeDialogs dialogs;
        ContentView content(*m_fixture->store, dialogs, {});
        content.setSelection(SidebarSection::task(m_task.id));
        QPointer<TaskDetailView> view = qobject_cast<TaskDetailView*>(content.currentDetail());
        QVERIFY(view);
        QSignalSpy removed(m_fixture->store.get(), &TaskStore::taskRemoved);
        if (byTheTool) {
            VERIFY_OK(TaskFile::write(m_fixture->store->taskFilePath(), {other}));
            m_fixture->store->loadTasks();
        } else {
            m_fixture->store->deleteTask(m_task);
        }
        QCOMPARE(removed.size(), 1);
        QVERIFY(!qobject_cast<TaskDetailView*>(content.currentDetail()));
        QVERIFY(content.currentDetail()->findChild<QLabel*>());
        QTRY_VERIFY_WITH_TIMEOUT(!view, TestSupport::eventTimeoutMs);
    }

    // A part built again because its file changed gives the keyboard focus back to the
    // control the user was on.
    void focusStaysOnTheOutputWhenTheLogGrows()
    {
        TestSupport::writeFile(logFile(QStringLiteral(".stdout.log")), numberedLines(40, true));
        TaskDetailView view(*m_fixture->store, m_task);
        view.resize(700, 900);
        view.show();
        QApplication::setActiveWindow(&view);
        QVERIFY(QTest::qWaitForWindowActive(&view));
        WAIT_SHOWN(view);
        QPointer<QPushButton> full =
            child<QPushButton>(&view, QStringLiteral("output-show-full-log"));
        full->setFocus(Qt::OtherFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), full.data());
        QFile out(logFile(QStringLiteral(".stdout.log")));
        QVERIFY(out.open(QIODevice::Append));
        out.write("line 41\n");
        out.flush();
        QTRY_VERIFY_WITH_TIMEOUT(text(&view, QStringLiteral("output-text")).endsWith(u"line 41"),
                                 TestSupport::eventTimeoutMs);
        QVERIFY(!full); // built again
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("output-show-full-log"));
        QCOMPARE(child<QPushButton>(&view, QStringLiteral("output-show-full-log"))->text(),
                 QStringLiteral("Show full log (41 lines)"));
    }

    // The application's operations run on the store's worker: while one on the shown task runs,
    // its row and its detail say so and the switch, Edit and Delete wait; its report then
    // updates both in place, on the output stream the user chose.
    void operationOnWorkerShowsBusyRowAndDetail_data()
    {
        QTest::addColumn<bool>("wake");
        QTest::addColumn<QString>("heldCall");
        QTest::addColumn<bool>("refuseWake");
        QTest::addColumn<QString>("status"); // after the report
        QTest::newRow("enabled") << false << QStringLiteral("install Backup") << false
                                 << QStringLiteral("Active");
        QTest::newRow("wake refused: stays disabled, the switch goes back")
            << true << QStringLiteral("wake Backup") << true << QStringLiteral("Disabled");
    }
    void operationOnWorkerShowsBusyRowAndDetail()
    {
        QFETCH(bool, wake);
        QFETCH(QString, heldCall);
        QFETCH(bool, refuseWake);
        QFETCH(QString, status);
        QTemporaryDir dir;
        auto recorder = std::make_shared<CallRecorder>();
        if (refuseWake)
            recorder->failingWakes = {QStringLiteral("Backup")};
        ScheduledTask task =
            ScheduledTask::create(QStringLiteral("Backup"), QStringLiteral("true"),
                                  TaskSchedule::of<TaskSchedule::Daily>({{{9, 30}}}));
        task.isEnabled = false;
        task.wakeBeforeRun = wake;
        QDir().mkpath(dir.path() + QStringLiteral("/Logs"));
        VERIFY_OK(TaskFile::write(dir.path() + QStringLiteral("/tasks.json"), {task}));
        TaskStore::Options options;
        options.taskFilePath = dir.path() + QStringLiteral("/tasks.json");
        options.logsDirectory = dir.path() + QStringLiteral("/Logs");
        options.launchdService = std::make_shared<FakeLaunchdService>(recorder);
        options.pmsetService = std::make_shared<FakePmsetService>(recorder);
        options.execution = TaskStore::Execution::onWorker;
        TaskStore store(options);
        QSemaphore entered;
        QSemaphore release;
        recorder->duringCall = [&](const QString& call) {
            if (call == heldCall) {
                entered.release();
                release.acquire();
            }
        };
        auto unblock = qScopeGuard([&release] { release.release(); });

        FakeDialogs dialogs;
        ContentView content(store, dialogs, {});
        content.resize(900, 500);
        content.show();
        QVERIFY(QTest::qWaitForWindowExposed(&content));
        content.setSelection(SidebarSection::task(task.id));
        QPointer<TaskDetailView> view = qobject_cast<TaskDetailView*>(content.currentDetail());
        QVERIFY(view);
        QTRY_VERIFY(child<QWidget>(view, QStringLiteral("task-detail-name"))->isVisible());
        child<QAbstractButton>(view, QStringLiteral("output-tab-stderr"))->click();
        auto* rows = content.findChild<TaskListModel*>();
        QVERIFY(rows);
        const QModelIndex row = rows->index(rows->rowOf(task.id));

        child<ToggleSwitch>(view, QStringLiteral("detail-enabled-toggle"))->click();
        QVERIFY(entered.tryAcquire(1, 5000));
        // The window went on: the switch shows the request and the detail is busy; the controls
        // stay usable (what they ask for waits behind this operation).
        QVERIFY(child<QProgressBar>(view, QStringLiteral("detail-busy"))->isVisible());
        QVERIFY(child<ToggleSwitch>(view, QStringLiteral("detail-enabled-toggle"))->isChecked());
        for (const char* name : {"detail-enabled-toggle", "detail-edit", "detail-delete"})
            QVERIFY2(child<QWidget>(view, QLatin1String(name))->isEnabled(), name);
        QVERIFY(row.data(TaskListModel::BusyRole).toBool());
        QCOMPARE(text(view, QStringLiteral("task-detail-status")), QStringLiteral("Disabled"));

        release.release();
        QTRY_VERIFY_WITH_TIMEOUT(
            !child<QProgressBar>(view, QStringLiteral("detail-busy"))->isVisible(), 10000);
        QVERIFY(!row.data(TaskListModel::BusyRole).toBool());
        QCOMPARE(text(view, QStringLiteral("task-detail-status")), status);
        QCOMPARE(child<ToggleSwitch>(view, QStringLiteral("detail-enabled-toggle"))->isChecked(),
                 status == QStringLiteral("Active"));
        for (const char* name : {"detail-enabled-toggle", "detail-edit", "detail-delete"})
            QVERIFY2(child<QWidget>(view, QLatin1String(name))->isEnabled(), name);
        // The same view, on the same stream.
        QCOMPARE(content.currentDetail(), view.data());
        QCOMPARE(view->selectedLogTab(), LogStream::stderrStream);
    }
};

QTEST_MAIN(TestTaskDetail)
#include "TestTaskDetail.moc"
