// Renders every screen of the application to PNG files: the real main window, built offscreen
// over the prepared home that shots.sh sets up, with dialogs drawn instead of run.
//   BrenmorOpsShots <output folder> <import file> [light|dark|large]
// The last argument picks the look: the light palette (the default), a dark palette, or the
// light palette with a font 1.5 times larger.
#include "AddTaskView.h"
#include "AppFakes.h"
#include "ContentView.h"
#include "DayTimelineView.h"
#include "EditTaskView.h"
#include "ExportImportCommands.h"
#include "FakeCredentialStore.h"
#include "FullLogView.h"
#include "GmailSetupView.h"
#include "LaunchdBrowser.h"
#include "LaunchdService.h"
#include "Locations.h"
#include "MainWindow.h"
#include "Palettes.h"
#include "RunHistory.h"
#include "ShortcutsPickerView.h"
#include "Sidebar.h"
#include "StatusColors.h"
#include "TaskDetailView.h"
#include "TaskFormView.h"
#include "TaskRunner.h"
#include "TestRunView.h"
#include "UpdaterController.h"
#include "ViewClock.h"
#include "WrapperScript.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <utility>

namespace {

// Draws each dialog into the next file name instead of waiting for a user.
class ShotDialogs final : public Dialogs {
public:
    explicit ShotDialogs(QString folder) : m_folder(std::move(folder)) {}

    QString nextShot;
    std::optional<QString> openPath;

    void alert(QWidget* parent, AlertStyle style, const QString& title,
               const QString& text) override
    {
        capture(DialogBoxes::makeAlert(parent, style, title, text));
    }
    bool confirmDelete(QWidget* parent, const QString& title, const QString& text) override
    {
        capture(DialogBoxes::makeDeleteConfirmation(parent, title, text, nullptr));
        return false;
    }
    std::optional<QString> saveJsonFile(QWidget*, const QString&) override { return std::nullopt; }
    std::optional<QString> openJsonFile(QWidget*) override { return openPath; }
    std::optional<ScheduledTask> addTask(QWidget*, TaskStore&) override { return std::nullopt; }
    void editTask(QWidget*, TaskStore&, const ScheduledTask&) override {}
    void testRun(QWidget*, const ScheduledTask&) override {}
    std::optional<QString> chooseFolder(QWidget*) override { return std::nullopt; }
    std::optional<QString> chooseFile(QWidget*) override { return std::nullopt; }
    std::optional<QString> chooseShortcut(QWidget*) override { return std::nullopt; }
    std::optional<std::pair<QString, QString>> mailTemplate(QWidget*) override
    {
        return std::nullopt;
    }

    // Windows are drawn after pending layout and paint work; dialogs at once, so a dialog
    // queued behind them is not drawn under their name.
    bool save(QWidget* widget, const QString& name, bool settle = true) const
    {
        // Layout requests travel up one parent per pass of the event loop; on a busy machine
        // a short wait alone may end before they all arrived.
        if (settle) {
            for (int pass = 0; pass < 30; ++pass) {
                QCoreApplication::sendPostedEvents();
                QCoreApplication::processEvents();
            }
            QTest::qWait(50);
        }
        const QString path = m_folder + QLatin1Char('/') + name;
        const bool ok = widget->grab().save(path);
        std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
        return ok;
    }

private:
    void capture(QDialog* box)
    {
        const QString name = std::exchange(nextShot, QString());
        if (!name.isEmpty()) {
            box->show();
            box->adjustSize();
            save(box, name, false);
            box->hide();
        }
        box->deleteLater();
    }
    QString m_folder;
};

void clickRow(QListView* list, int row)
{
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(row, 0)).center());
}

struct Window {
    Window(TaskStore& store, UpdaterController& updater, Dialogs& dialogs)
        : window(store, updater, dialogs, [] { return LaunchdBrowser().scanJobs(); })
    {
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
    }
    MainWindow window;
};

// The mail sheet over the window, empty, filled in, with a saved password, and its help.
bool saveMailSheets(const ShotDialogs& dialogs, QWidget* window)
{
    FakeCredentialStore keychain;
    bool ok = true;
    {
        GmailSetupView sheet(keychain, window, [](const QUrl&) { return true; });
        sheet.show();
        ok &= dialogs.save(&sheet, QStringLiteral("mail-1-empty.png"));
        const auto set = [&sheet](const char* name, const QString& text) {
            sheet.findChild<QLineEdit*>(QLatin1String(name))->setText(text);
        };
        set("gmail-address", QStringLiteral("jane.doe@gmail.com"));
        set("gmail-app-password", QStringLiteral("abcdefghijklmnop"));
        set("gmail-to-address", QStringLiteral("ops-team@example.com"));
        set("gmail-subject", QStringLiteral("Nightly backup finished"));
        sheet.findChild<QPlainTextEdit*>(QStringLiteral("gmail-body"))
            ->setPlainText(QStringLiteral("The nightly backup ran.\nCheck the report in "
                                          "~/Reports before 9:00."));
        ok &= dialogs.save(&sheet, QStringLiteral("mail-2-filled.png"));
        sheet.showHelp();
        ok &= dialogs.save(sheet.helpView(), QStringLiteral("mail-4-help.png"));
    }
    QSettings().setValue(QStringLiteral("gmail_account"), QStringLiteral("jane.doe@gmail.com"));
    keychain.put(QStringLiteral("com.brenmor-ops.gmail"), QStringLiteral("jane.doe@gmail.com"),
                 QStringLiteral("abcdefghijklmnop"));
    GmailSetupView sheet(keychain, window);
    QSignalSpy checked(&sheet, &GmailSetupView::credentialsChecked);
    sheet.show();
    ok &= checked.wait();
    ok &= dialogs.save(&sheet, QStringLiteral("mail-3-saved-password.png"));
    QSettings().remove(QStringLiteral("gmail_account"));
    return ok;
}

// `dataFolder` holds the Logs folder the screens read histories and logs from.
std::unique_ptr<TaskStore> makeStore(const QString& dataFolder, std::optional<QString> taskFilePath)
{
    TaskStore::Options options;
    options.taskFilePath = std::move(taskFilePath);
    options.logsDirectory = dataFolder + QStringLiteral("/Logs");
    options.launchdService = std::make_shared<FakeLaunchdService>();
    options.pmsetService = std::make_shared<FakePmsetService>();
    auto store = std::make_unique<TaskStore>(std::move(options));
    store->waitForScriptUpgrade();
    return store;
}

const ScheduledTask* taskNamed(const TaskStore& store, const QString& name)
{
    for (const ScheduledTask& task : store.tasks()) {
        if (task.name == name)
            return &task;
    }
    return nullptr;
}

// The generated files of one task, as installing it would leave them, so its detail shows them.
void writeInstalledFiles(const TaskStore& store, const ScheduledTask& task)
{
    const AgentPaths& paths = store.agentPaths();
    const LaunchdService real(paths);
    QDir().mkpath(paths.scriptsDir);
    QFile script(paths.scriptPath(task));
    if (script.open(QIODevice::WriteOnly))
        script.write(real.scriptContent(task).toUtf8());
    QDir().mkpath(paths.launchAgentsDir);
    QFile plist(paths.plistPath(task));
    if (plist.open(QIODevice::WriteOnly))
        plist.write(real.plistContent(task, paths.scriptPath(task)).toUtf8());
}

// Waits until the task detail shown, if any, shows its files.
bool detailShown(ContentView* content)
{
    return QTest::qWaitFor(
        [content] {
            const auto* detail = qobject_cast<const TaskDetailView*>(content->currentDetail());
            return !detail || !detail->isLoading();
        },
        5000);
}

// The detail of a task that never ran, of one with a long history and output, and the sheet
// with its whole log; in a taller window so the history and output are in view.
bool saveDetailShots(TaskStore& store, MainWindow& window, ShotDialogs& dialogs)
{
    bool ok = true;
    ContentView* content = window.contentView();
    const QSize size = window.size();
    // The README's picture: the window at an everyday size with a task's detail, its history
    // and output in view.
    if (const ScheduledTask* busy = taskNamed(store, QStringLiteral("Sales Report"))) {
        writeInstalledFiles(store, *busy);
        window.resize(1040, 940);
        content->setSelection(SidebarSection::task(busy->id));
        ok &= detailShown(content);
        ok &= dialogs.save(&window, QStringLiteral("00-main-window.png"));
    }
    window.resize(size.width() + 200, 1300);
    if (const ScheduledTask* never = taskNamed(store, QStringLiteral("Month-end Close"))) {
        content->setSelection(SidebarSection::task(never->id));
        ok &= detailShown(content);
        ok &= dialogs.save(&window, QStringLiteral("30-detail-never-run.png"));
    }
    if (const ScheduledTask* busy = taskNamed(store, QStringLiteral("Sales Report"))) {
        writeInstalledFiles(store, *busy);
        content->setSelection(SidebarSection::task(busy->id));
        ok &= detailShown(content);
        ok &= dialogs.save(&window, QStringLiteral("31-detail-history.png"));
        if (auto* detail = qobject_cast<TaskDetailView*>(content->currentDetail())) {
            detail->verticalScrollBar()->setValue(detail->verticalScrollBar()->maximum());
            ok &= dialogs.save(&window, QStringLiteral("32-detail-files.png"));
            detail->showFullLog();
            ok &= QTest::qWaitFor([detail] { return detail->findChild<FullLogView*>() != nullptr; },
                                  5000);
            if (auto* sheet = detail->findChild<FullLogView*>()) {
                ok &= dialogs.save(sheet, QStringLiteral("33-full-log.png"));
                sheet->close();
            }
        }
    }
    window.resize(size);
    return ok;
}

void chooseData(QWidget* root, const QString& name, const QVariant& value)
{
    auto* combo = root->findChild<QComboBox*>(name);
    const int index = combo->findData(value);
    combo->setCurrentIndex(index);
    Q_EMIT combo->activated(index);
}

// The add sheet filled in and scrolled to its schedule, one picture per kind of schedule.
bool shootAddSheets(ShotDialogs& dialogs, TaskStore& store, QWidget* window)
{
    struct Kind {
        const char* file;
        const char* kind;    // the kind picker's entry (a case name)
        const char* monthly; // the second picker's entry
        bool extraTime;
    };
    const Kind kinds[] = {
        {"10-add-run-at-load.png", "runAtLoad", "monthly", false},
        {"11-add-interval.png", "interval", "monthly", false},
        {"12-add-daily.png", "daily", "monthly", true},
        {"13-add-weekly.png", "weekly", "monthly", false},
        {"14-add-monthly-day.png", "monthly", "monthly", false},
        {"15-add-monthly-last-day.png", "monthly", "monthlyLastDay", false},
        {"16-add-monthly-nth-weekday.png", "monthly", "monthlyNthWeekday", true},
    };
    bool ok = true;
    for (const Kind& kind : kinds) {
        AddTaskView sheet(store, dialogs, window);
        sheet.show();
        (void)QTest::qWaitForWindowExposed(&sheet);
        QTest::keyClicks(sheet.findChild<QLineEdit*>(QStringLiteral("form-task-name")),
                         QStringLiteral("Nightly report"));
        sheet.findChild<QPlainTextEdit*>(QStringLiteral("form-task-command"))
            ->setPlainText(QStringLiteral("cd ~/reports && ./build.sh --upload"));
        chooseData(&sheet, QStringLiteral("form-schedule-kind"), QString::fromLatin1(kind.kind));
        chooseData(&sheet, QStringLiteral("form-monthly-type"), QString::fromLatin1(kind.monthly));
        chooseData(&sheet, QStringLiteral("form-day"), 31);
        chooseData(&sheet, QStringLiteral("form-nth-week"), 2);
        chooseData(&sheet, QStringLiteral("form-nth-weekday"), 6);
        if (qstrcmp(kind.kind, "weekly") == 0)
            sheet.findChild<QPushButton*>(QStringLiteral("form-weekday-4"))->click();
        if (kind.extraTime)
            sheet.findChild<QPushButton*>(QStringLiteral("form-add-time"))->click();
        QTest::qWait(50);
        auto* scroll = sheet.findChild<QScrollArea*>(QStringLiteral("form-scroll"));
        scroll->ensureWidgetVisible(
            sheet.findChild<QGroupBox*>(QStringLiteral("form-section-schedule")), 0, 0);
        ok &= dialogs.save(&sheet, QString::fromLatin1(kind.file));
    }
    return ok;
}

bool shootTestRuns(ShotDialogs& dialogs, QWidget* window)
{
    struct Run {
        const char* file;
        const char* command;
        bool waitForEnd;
    };
    const Run runs[] = {
        {"18-test-run-running.png", "echo 'Building site...'; echo 'Step 1/3 done'; sleep 5",
         false},
        {"19-test-run-succeeded.png",
         "echo 'Fetching reports'; echo 'warning: 2 files skipped' >&2; echo 'Uploaded 14 "
         "files'",
         true},
        {"20-test-run-failed.png", "echo 'Connecting to backup volume'; ls /Volumes/Backup; exit 3",
         true},
    };
    bool ok = true;
    for (const Run& run : runs) {
        ScheduledTask task =
            ScheduledTask::create(QStringLiteral("Try"), QString::fromUtf8(run.command),
                                  TaskSchedule::of<TaskSchedule::RunAtLoad>());
        task.useLoginShell = false;
        TestRunView sheet(task, window);
        sheet.show();
        (void)QTest::qWaitForWindowExposed(&sheet);
        if (run.waitForEnd)
            ok &= QTest::qWaitFor([&] { return !sheet.runner()->isRunning(); }, 5000);
        else
            ok &= QTest::qWaitFor([&] { return !sheet.runner()->output().isEmpty(); }, 5000);
        QTest::qWait(100);
        ok &= dialogs.save(&sheet, QString::fromLatin1(run.file));
        sheet.runner()->stop();
        (void)QTest::qWaitFor([&] { return !sheet.runner()->isRunning(); }, 5000);
    }
    return ok;
}

bool shootShortcutsPicker(ShotDialogs& dialogs, const QString& scratch, QWidget* window)
{
    const QString tool = scratch + QStringLiteral("/shortcuts");
    QFile file(tool);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("#!/bin/sh\nprintf 'Backup Photos\\nMorning Routine\\nBob'\\''s Backup\\n"
               "Log Water\\nResize Images\\nBackup Notes\\n'\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    bool ok = true;
    qputenv("BRENMOR_OPS_SHORTCUTS", tool.toUtf8());
    {
        ShortcutsPickerView picker(window);
        picker.show();
        ok &= QTest::qWaitFor([&] { return !picker.isLoading(); }, 5000);
        ok &= dialogs.save(&picker, QStringLiteral("21-shortcuts-list.png"));
        QTest::keyClicks(picker.findChild<QLineEdit*>(QStringLiteral("shortcuts-filter")),
                         QStringLiteral("back"));
        ok &= dialogs.save(&picker, QStringLiteral("22-shortcuts-filtered.png"));
    }
    qputenv("BRENMOR_OPS_SHORTCUTS", (scratch + QStringLiteral("/absent")).toUtf8());
    {
        ShortcutsPickerView picker(window);
        picker.show();
        ok &= QTest::qWaitFor([&] { return !picker.isLoading(); }, 5000);
        ok &= dialogs.save(&picker, QStringLiteral("23-shortcuts-empty.png"));
    }
    qunsetenv("BRENMOR_OPS_SHORTCUTS");
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QString variant = argc == 4 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("light");
    if ((argc != 3 && argc != 4) ||
        !QStringList{QStringLiteral("light"), QStringLiteral("dark"), QStringLiteral("large")}
             .contains(variant)) {
        std::fputs("usage: BrenmorOpsShots <output folder> <import file> [light|dark|large]\n",
                   stderr);
        return 2;
    }
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(StatusColors::readablePalette(
        variant == QStringLiteral("dark") ? darkPalette()
                                          : QApplication::style()->standardPalette()));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(variant == QStringLiteral("large") ? 15 : 10);
    QApplication::setFont(font);
    // A fixed moment keeps the timeline and the next-run lines the same from run to run.
    if (const QByteArray now = qgetenv("SHOTS_NOW"); !now.isEmpty())
        ViewClock::setFixedNow(QDateTime::fromString(QString::fromLatin1(now), Qt::ISODate));
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    ShotDialogs dialogs(folder);
    dialogs.openPath = QString::fromLocal8Bit(argv[2]);
    UpdaterController updater;
    QTemporaryDir scratch;
    bool ok = true;

    {
        auto empty = makeStore(scratch.path(), scratch.path() + QStringLiteral("/empty.json"));
        Window shown(*empty, updater, dialogs);
        ok &= dialogs.save(&shown.window, QStringLiteral("01-empty-state.png"));
    }

    // Histories and logs come from the prepared home.
    auto store = makeStore(Locations::dataFolder(), std::nullopt);
    Window shown(*store, updater, dialogs);
    MainWindow& window = shown.window;
    ContentView* content = window.contentView();
    Sidebar* sidebar = content->sidebar();

    clickRow(sidebar->taskList(), 0);
    ok &= dialogs.save(&window, QStringLiteral("02-task-list.png"));

    content->enterSelectMode();
    clickRow(sidebar->taskList(), 1);
    clickRow(sidebar->taskList(), 3);
    ok &= dialogs.save(&window, QStringLiteral("03-select-mode.png"));
    content->leaveSelectMode();

    content->setShowSystemJobs(true);
    if (sidebar->systemJobList()->model()->rowCount() > 0)
        clickRow(sidebar->systemJobList(), 0);
    ok &= dialogs.save(&window, QStringLiteral("04-system-job-detail.png"));
    for (const LaunchdJob& job : content->systemJobs()) {
        if (job.label.contains(QStringLiteral("very-long")))
            content->setSelection(SidebarSection::systemJob(job.id));
    }
    ok &= dialogs.save(&window, QStringLiteral("04b-system-job-long-label.png"));
    content->setSearchText(QStringLiteral("zzz"));
    ok &= dialogs.save(&window, QStringLiteral("04c-system-jobs-no-match.png"));
    content->setSearchText(QString());

    content->setSelection(SidebarSection::timeline());
    if (auto* timeline = qobject_cast<DayTimelineView*>(content->currentDetail()))
        timeline->setShowSystemJobs(true);
    ok &= dialogs.save(&window, QStringLiteral("05-timeline.png"));
    {
        // The README's timeline, at the size of its main window picture.
        const QSize size = window.size();
        window.resize(1040, 640);
        ok &= dialogs.save(&window, QStringLiteral("05b-timeline-wide.png"));
        window.resize(size);
    }
    ok &= saveDetailShots(*store, window, dialogs);

    dialogs.nextShot = QStringLiteral("06-delete-confirmation.png");
    content->confirmDelete(store->tasks().at(0));
    ok &= dialogs.nextShot.isEmpty();

    dialogs.nextShot = QStringLiteral("07-import-result.png");
    window.exportImportCommands()->importTasks();
    ok &= dialogs.nextShot.isEmpty();
    // The result alert says what was skipped; no second notice follows it.
    dialogs.nextShot = QStringLiteral("08-import-notice.png");
    QTest::qWait(50);
    ok &= !dialogs.nextShot.isEmpty();
    dialogs.nextShot = QStringLiteral("08-about.png");
    window.findChild<QAction*>(QStringLiteral("action-about"))->trigger();
    ok &= dialogs.nextShot.isEmpty();

    sidebar->filterField()->setText(QStringLiteral("report"));
    ok &= dialogs.save(&window, QStringLiteral("09-filtered.png"));
    sidebar->filterField()->clear();

    ok &= shootAddSheets(dialogs, *store, &window);
    {
        EditTaskView sheet(*store, dialogs, store->tasks().at(0), &window);
        sheet.show();
        (void)QTest::qWaitForWindowExposed(&sheet);
        ok &= dialogs.save(&sheet, QStringLiteral("17-edit-task.png"));
    }
    {
        // The form's warnings: a program launchd cannot find and a folder that is not there.
        AddTaskView sheet(*store, dialogs, &window);
        sheet.show();
        (void)QTest::qWaitForWindowExposed(&sheet);
        QTest::keyClicks(sheet.findChild<QLineEdit*>(QStringLiteral("form-task-name")),
                         QStringLiteral("Sync photos"));
        sheet.findChild<QPlainTextEdit*>(QStringLiteral("form-task-command"))
            ->setPlainText(QStringLiteral("rclone sync ~/Pictures photos:"));
        QTest::keyClicks(sheet.findChild<QLineEdit*>(QStringLiteral("form-working-dir")),
                         QStringLiteral("/Users/me/Pictures"));
        auto* findings = sheet.findChild<QWidget*>(QStringLiteral("form-preflight"));
        ok &= QTest::qWaitFor([findings] { return findings->isVisible(); });
        QTest::qWait(50);
        sheet.findChild<QScrollArea*>(QStringLiteral("form-scroll"))
            ->ensureWidgetVisible(findings, 0, 0);
        ok &= dialogs.save(&sheet, QStringLiteral("18-add-preflight.png"));
        // The same finding under the field it is about.
        auto* atField = sheet.findChild<QWidget*>(QStringLiteral("form-working-dir-finding"));
        sheet.findChild<QScrollArea*>(QStringLiteral("form-scroll"))
            ->ensureWidgetVisible(atField, 0, 40);
        ok &= dialogs.save(&sheet, QStringLiteral("18c-add-finding-at-field.png"));
    }
    {
        // What keeps Add Task disabled, said under each field: a name of spaces, no command.
        AddTaskView sheet(*store, dialogs, &window);
        sheet.show();
        (void)QTest::qWaitForWindowExposed(&sheet);
        QTest::keyClicks(sheet.findChild<QLineEdit*>(QStringLiteral("form-task-name")),
                         QStringLiteral("   "));
        ok &= dialogs.save(&sheet, QStringLiteral("18b-add-missing-fields.png"));
    }
    ok &= shootTestRuns(dialogs, &window);
    ok &= shootShortcutsPicker(dialogs, scratch.path(), &window);
    ok &= saveMailSheets(dialogs, &window);
    if (qEnvironmentVariableIsSet("SHOTS_DEBUG")) {
        auto* scroll = sidebar->findChild<QScrollArea*>(QStringLiteral("sidebar-scroll"));
        std::printf("viewport %d content %d min %d range %d\n", scroll->viewport()->height(),
                    scroll->widget()->height(), scroll->widget()->minimumSizeHint().height(),
                    scroll->verticalScrollBar()->maximum());
        for (QWidget* child : scroll->widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            std::printf("  %s %d visible %d\n", qPrintable(child->objectName()), child->height(),
                        child->isVisible());
    }
    return ok ? 0 : 1;
}
