// Renders every screen of the application to PNG files: the real main window, built offscreen
// over the prepared home that shots.sh sets up, with dialogs drawn instead of run.
//   BrenmorOpsShots <output folder> <import file>
#include "AppFakes.h"
#include "ContentView.h"
#include "DayTimelineView.h"
#include "ExportImportCommands.h"
#include "FullLogView.h"
#include "LaunchdBrowser.h"
#include "LaunchdService.h"
#include "Locations.h"
#include "MainWindow.h"
#include "RunHistory.h"
#include "Sidebar.h"
#include "TaskDetailView.h"
#include "UpdaterController.h"
#include "ViewClock.h"
#include "WrapperScript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
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

    // Windows are drawn after pending layout and paint work; dialogs at once, so a dialog
    // queued behind them is not drawn under their name.
    bool save(QWidget* widget, const QString& name, bool settle = true) const
    {
        // Layout requests travel up one parent per pass of the event loop.
        if (settle)
            QTest::qWait(50);
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

std::unique_ptr<TaskStore> makeStore(const QString& logs, std::optional<QString> saveURL)
{
    TaskStore::Options options;
    options.saveURL = std::move(saveURL);
    options.launchdService = std::make_shared<FakeLaunchdService>(logs);
    options.pmsetService = std::make_shared<FakePmsetService>();
    return std::make_unique<TaskStore>(std::move(options));
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
    const LaunchdServiceProtocol& views = store.launchdServiceForViews();
    const LaunchdService real(std::nullopt, std::nullopt, views.logDir());
    QFile script(views.scriptURL(task));
    if (script.open(QIODevice::WriteOnly))
        script.write(WrapperScript::text(task,
                                         RunHistory::historyPath(views.logDir(), task.shortId()),
                                         WrapperScript::nativeDateDialect())
                         .toUtf8());
    QFile plist(views.plistURL(task));
    if (plist.open(QIODevice::WriteOnly))
        plist.write(real.plistContent(task, views.scriptURL(task)).toUtf8());
}

// The detail of a task that never ran, of one with a long history and output, and the sheet
// with its whole log; in a taller window so the history and output are in view.
bool saveDetailShots(TaskStore& store, MainWindow& window, ShotDialogs& dialogs)
{
    bool ok = true;
    ContentView* content = window.contentView();
    const QSize size = window.size();
    window.resize(size.width() + 200, 1300);
    if (const ScheduledTask* never = taskNamed(store, QStringLiteral("Month-end Close"))) {
        content->setSelection(SidebarSection::task(never->id));
        ok &= dialogs.save(&window, QStringLiteral("10-detail-never-run.png"));
    }
    if (const ScheduledTask* busy = taskNamed(store, QStringLiteral("Sales Report"))) {
        writeInstalledFiles(store, *busy);
        content->setSelection(SidebarSection::task(busy->id));
        ok &= dialogs.save(&window, QStringLiteral("11-detail-history.png"));
        if (auto* detail = qobject_cast<TaskDetailView*>(content->currentDetail())) {
            detail->verticalScrollBar()->setValue(detail->verticalScrollBar()->maximum());
            ok &= dialogs.save(&window, QStringLiteral("12-detail-files.png"));
            detail->showFullLog();
            if (auto* sheet = detail->findChild<FullLogView*>()) {
                ok &= dialogs.save(sheet, QStringLiteral("13-full-log.png"));
                sheet->close();
            }
        }
    }
    window.resize(size);
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fputs("usage: BrenmorOpsShots <output folder> <import file>\n", stderr);
        return 2;
    }
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(10);
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
    auto store = makeStore(Locations::logsFolder(), std::nullopt);
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

    content->setSelection(SidebarSection::timeline());
    if (auto* timeline = qobject_cast<DayTimelineView*>(content->currentDetail()))
        timeline->setShowSystemJobs(true);
    ok &= dialogs.save(&window, QStringLiteral("05-timeline.png"));
    ok &= saveDetailShots(*store, window, dialogs);

    dialogs.nextShot = QStringLiteral("06-delete-confirmation.png");
    content->confirmDelete(store->tasks().at(0));
    ok &= dialogs.nextShot.isEmpty();

    dialogs.nextShot = QStringLiteral("07-import-result.png");
    window.exportImportCommands()->importTasks();
    ok &= dialogs.nextShot.isEmpty();
    // The store's notice about the skipped tasks follows the result.
    dialogs.nextShot = QStringLiteral("08-import-notice.png");
    QTest::qWait(50);
    ok &= dialogs.nextShot.isEmpty();

    sidebar->filterField()->setText(QStringLiteral("report"));
    ok &= dialogs.save(&window, QStringLiteral("09-filtered.png"));
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
