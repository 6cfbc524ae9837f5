// The window as a finished desktop program: spoken names, alert order, palettes, the sidebar's
// rows following the store, the menus and the sizes of sheets.
#include "AddTaskView.h"
#include "AppFakes.h"
#include "ContentView.h"
#include "EditTaskView.h"
#include "EmptyStateView.h"
#include "ExportImportCommands.h"
#include "FailureAlert.h"
#include "FakeCredentialStore.h"
#include "FullLogView.h"
#include "GmailSetupView.h"
#include "Icons.h"
#include "LaunchdJobDetailView.h"
#include "MainWindow.h"
#include "RowPainting.h"
#include "RunHistory.h"
#include "ShortcutsPickerView.h"
#include "Sidebar.h"
#include "TaskBuilder.h"
#include "TaskListModel.h"
#include "TaskMigration.h"
#include "TaskRunReader.h"
#include "TestRunView.h"
#include "TestSupport.h"
#include "UpdaterController.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTextEdit>

#include <algorithm>
#include <cmath>

namespace {

QPalette darkPalette()
{
    QPalette palette(QColor(0x3a, 0x3a, 0x3d), QColor(0x2b, 0x2b, 0x2d));
    palette.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xea));
    palette.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xea));
    palette.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
    palette.setColor(QPalette::Highlight, QColor(0x2f, 0x7d, 0xe1));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

// The widget's name as assistive technology reads it.
QString spokenName(QWidget* widget)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(QAccessible::Name) : QString();
}

// The most opaque pixel's colour: what a symbol is drawn in.
QColor inkOf(const QImage& image)
{
    QColor ink;
    int best = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor color = image.pixelColor(x, y);
            if (color.alpha() > best) {
                best = color.alpha();
                ink = color;
            }
        }
    }
    return ink;
}

bool near(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
           std::abs(a.blue() - b.blue()) < 40;
}

} // namespace

class TestShell : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void spokenNamesAreLabels_data();
    void spokenNamesAreLabels();
    void importShowsOneAlertAtATime_data();
    void importShowsOneAlertAtATime();
    void storeAlertWaitsBehindOpenAlert();
    void taskRowsFollowStoreRowByRow_data();
    void taskRowsFollowStoreRowByRow();
    void selectModeMarks_data();
    void selectModeMarks();
    void lastRunFailedCue_data();
    void lastRunFailedCue();
    void failureCueFollowsRecordedRuns();
    void failureCueFillsInFromTheReading_data();
    void failureCueFillsInFromTheReading();
    void iconsFollowPalette_data();
    void iconsFollowPalette();
    void systemJobsSectionShowsState_data();
    void systemJobsSectionShowsState();
    void rightClickKeepsSelection();
    void deleteConfirmationButtons();
    void jobDetailShowsLongTexts_data();
    void jobDetailShowsLongTexts();
    void appMenuItems();
    void emptyStateAtStart();
    void sheetsFitWindow_data();
    void sheetsFitWindow();

private:
    ContentView* content() const { return m_window->contentView(); }
    Sidebar* sidebar() const { return content()->sidebar(); }
    void makeWindow(const QList<ScheduledTask>& tasks = {}, const QList<LaunchdJob>& jobs = {},
                    QSize size = QSize(700, 500))
    {
        for (const ScheduledTask& task : tasks)
            m_fixture->store->addTask(task);
        m_jobs = jobs;
        m_window = std::make_unique<MainWindow>(*m_fixture->store, *m_updater, m_dialogs,
                                                [this] { return m_jobs; });
        m_window->resize(size);
        QVERIFY(showActive(*m_window));
    }
    QPoint rowCenter(QListView* list, int row) const
    {
        return list->visualRect(list->model()->index(row, 0)).center();
    }
    // Every widget under `root` whose spoken name looks like an identifier.
    static QStringList identifierNames(QWidget* root)
    {
        static const QRegularExpression identifier(QStringLiteral("^[a-z]+(-[a-z0-9]+)+$"));
        QStringList found;
        QList<QWidget*> widgets = root->findChildren<QWidget*>();
        widgets.prepend(root);
        for (QWidget* widget : std::as_const(widgets)) {
            const QString name = spokenName(widget);
            if (identifier.match(name).hasMatch() ||
                identifier.match(widget->accessibleName()).hasMatch())
                found << widget->objectName() + QLatin1Char('=') + name;
        }
        return found;
    }

    std::unique_ptr<FakeStoreFixture> m_fixture;
    std::unique_ptr<UpdaterController> m_updater;
    FakeDialogs m_dialogs;
    QList<LaunchdJob> m_jobs;
    std::unique_ptr<MainWindow> m_window;
    QTemporaryDir m_settings;
};

void TestShell::init()
{
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settings.path());
    QSettings().clear();
    FailureAlert::openPreferences()->clear();
    m_fixture = std::make_unique<FakeStoreFixture>();
    m_updater = std::make_unique<UpdaterController>(std::make_unique<FixedUpdater>());
    m_dialogs = FakeDialogs();
}

void TestShell::cleanup()
{
    m_window.reset();
    m_updater.reset();
    m_fixture.reset();
    QApplication::setPalette(QApplication::style()->standardPalette());
}

void TestShell::spokenNamesAreLabels_data()
{
    QTest::addColumn<QString>("screen");
    for (const char* screen :
         {"empty window", "window with tasks", "select mode", "job detail", "add sheet",
          "edit sheet", "test run", "shortcuts", "alert", "delete confirmation"}) {
        QTest::newRow(screen) << QString::fromLatin1(screen);
    }
}

void TestShell::spokenNamesAreLabels()
{
    QFETCH(QString, screen);
    const ScheduledTask task = TaskBuilder(QStringLiteral("Backup")).build();
    const LaunchdJob job = makeAgentJob(QStringLiteral("com.example.job"),
                                        {QStringLiteral("/bin/x")}, QStringLiteral("/tmp/x.log"));
    makeWindow(screen == QStringLiteral("empty window") ? QList<ScheduledTask>{}
                                                        : QList<ScheduledTask>{task},
               {job});
    std::unique_ptr<QWidget> sheet;
    FakeCredentialStore credentials;
    QWidget* root = m_window.get();
    if (screen == QStringLiteral("select mode")) {
        content()->enterSelectMode();
    } else if (screen == QStringLiteral("task detail")) {
        content()->setSelection(SidebarSection::task(task.id));
    } else if (screen == QStringLiteral("timeline")) {
        content()->setSelection(SidebarSection::timeline());
    } else if (screen == QStringLiteral("mail sheet")) {
        sheet = std::make_unique<GmailSetupView>(credentials, m_window.get());
    } else if (screen == QStringLiteral("full log")) {
        sheet = std::make_unique<FullLogView>(QStringLiteral("Output"), QStringLiteral("line\n"),
                                              m_window.get());
    } else if (screen == QStringLiteral("job detail")) {
        content()->setShowSystemJobs(true);
        content()->setSelection(SidebarSection::systemJob(job.id));
    } else if (screen == QStringLiteral("add sheet")) {
        sheet = std::make_unique<AddTaskView>(*m_fixture->store, m_dialogs, m_window.get());
    } else if (screen == QStringLiteral("edit sheet")) {
        sheet = std::make_unique<EditTaskView>(*m_fixture->store, m_dialogs, task, m_window.get());
    } else if (screen == QStringLiteral("test run")) {
        ScheduledTask quick = task;
        quick.command = QStringLiteral("true");
        sheet = std::make_unique<TestRunView>(quick, m_window.get());
    } else if (screen == QStringLiteral("shortcuts")) {
        sheet = std::make_unique<ShortcutsPickerView>(m_window.get());
    } else if (screen == QStringLiteral("alert")) {
        sheet.reset(DialogBoxes::makeAlert(m_window.get(), Dialogs::AlertStyle::warning,
                                           QStringLiteral("Error"), QStringLiteral("It broke.")));
    } else if (screen == QStringLiteral("delete confirmation")) {
        sheet.reset(DialogBoxes::makeDeleteConfirmation(
            m_window.get(), QStringLiteral("Delete Task"), QStringLiteral("Sure?"), nullptr));
    }
    if (sheet) {
        sheet->show();
        QVERIFY(QTest::qWaitForWindowExposed(sheet.get()));
        root = sheet.get();
    }
    QCOMPARE(identifierNames(root), QStringList());
    if (root == m_window.get()) {
        // The identifiers of the main window stay object names; the spoken name is the label.
        for (const auto& [name, spoken] :
             {std::pair{"toolbar-add-task", "Add Task"}, std::pair{"sidebar-filter", "Filter"}}) {
            QWidget* widget = m_window->findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY(widget);
            QCOMPARE(spokenName(widget), QString::fromLatin1(spoken));
        }
        auto* add = m_window->findChild<QPushButton*>(QStringLiteral("sidebar-add-task"));
        QCOMPARE(spokenName(add), add->text());
    }
}

void TestShell::importShowsOneAlertAtATime_data()
{
    QTest::addColumn<int>("known");    // tasks of the file the store holds already
    QTest::addColumn<int>("newTasks"); // tasks of the file the store does not hold
    QTest::addColumn<bool>("garbage"); // the file is no task file at all
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("all present again")
        << 2 << 0 << false << QStringList{QStringLiteral("Import Complete")};
    QTest::newRow("one new, two present")
        << 2 << 1 << false << QStringList{QStringLiteral("Import Complete")};
    QTest::newRow("only new") << 0 << 2 << false << QStringList{QStringLiteral("Import Complete")};
    QTest::newRow("not a task file")
        << 0 << 0 << true << QStringList{QStringLiteral("Import Failed")};
}

void TestShell::importShowsOneAlertAtATime()
{
    QFETCH(int, known);
    QFETCH(int, newTasks);
    QFETCH(bool, garbage);
    QFETCH(QStringList, titles);
    makeWindow(
        {TaskBuilder(QStringLiteral("A")).build(), TaskBuilder(QStringLiteral("B")).build()});
    QList<ScheduledTask> inFile = m_fixture->store->tasks().mid(0, known);
    for (int i = 0; i < newTasks; ++i)
        inFile.append(TaskBuilder(QStringLiteral("New %1").arg(i)).build());
    const QString path = m_fixture->dir.path() + QStringLiteral("/import.json");
    TestSupport::writeFile(path, garbage ? QByteArray("{\"tasks\": 7}")
                                         : TaskMigration::encodeTasks(inFile));
    m_dialogs.openPath = path;
    m_dialogs.modalAlerts = true;
    m_window->exportImportCommands()->importTasks();
    // Whatever the window would still show comes now; nothing may follow: the store's alerts
    // are all shown once it holds no error or warning.
    QTRY_VERIFY_WITH_TIMEOUT(!m_fixture->store->lastError() && !m_fixture->store->lastWarning(),
                             TestSupport::eventTimeoutMs);
    QStringList shown;
    for (const FakeDialogs::Alert& alert : std::as_const(m_dialogs.alerts))
        shown << alert.title;
    QCOMPARE(shown, titles);
    QCOMPARE(m_dialogs.mostOpenAlerts, 1);
    QVERIFY(!m_fixture->store->lastWarning());
}

void TestShell::storeAlertWaitsBehindOpenAlert()
{
    makeWindow();
    m_dialogs.modalAlerts = true;
    // An error raised while another alert is open (its timer fires inside that alert's loop)
    // opens after it, not on top of it.
    QTimer::singleShot(0, m_fixture->store.get(), [this] {
        m_fixture->store->setLastError(QStringLiteral("launchctl load failed"));
    });
    m_dialogs.alert(m_window.get(), Dialogs::AlertStyle::informational,
                    QStringLiteral("CLI Installed"), QStringLiteral("Done."));
    QTRY_COMPARE(m_dialogs.alerts.size(), 2);
    QCOMPARE(m_dialogs.alerts.at(0).title, QStringLiteral("CLI Installed"));
    QCOMPARE(m_dialogs.alerts.at(1).title, QStringLiteral("Error"));
    QCOMPARE(m_dialogs.mostOpenAlerts, 1);
}

void TestShell::taskRowsFollowStoreRowByRow_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("resets");
    QTest::addColumn<int>("inserted");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("add") << QStringLiteral("add") << 0 << 1 << 0
                         << QStringList{QStringLiteral("A"), QStringLiteral("B"),
                                        QStringLiteral("C"), QStringLiteral("D")};
    QTest::newRow("delete the middle") << QStringLiteral("delete") << 0 << 0 << 1
                                       << QStringList{QStringLiteral("A"), QStringLiteral("C")};
    QTest::newRow("rename") << QStringLiteral("rename") << 0 << 0 << 0
                            << QStringList{QStringLiteral("A"), QStringLiteral("Bee"),
                                           QStringLiteral("C")};
    QTest::newRow("disable") << QStringLiteral("disable") << 0 << 0 << 0
                             << QStringList{QStringLiteral("A"), QStringLiteral("B"),
                                            QStringLiteral("C")};
    QTest::newRow("duplicate") << QStringLiteral("duplicate") << 0 << 1 << 0
                               << QStringList{QStringLiteral("A"), QStringLiteral("B"),
                                              QStringLiteral("C"), QStringLiteral("B (copy)")};
}

void TestShell::taskRowsFollowStoreRowByRow()
{
    QFETCH(QString, change);
    QFETCH(int, resets);
    QFETCH(int, inserted);
    QFETCH(int, removed);
    QFETCH(QStringList, rows);
    makeWindow({TaskBuilder(QStringLiteral("A")).build(), TaskBuilder(QStringLiteral("B")).build(),
                TaskBuilder(QStringLiteral("C")).build()});
    QListView* list = sidebar()->taskList();
    const ScheduledTask a = m_fixture->store->tasks().at(0);
    ScheduledTask b = m_fixture->store->tasks().at(1);
    content()->setSelection(SidebarSection::task(a.id));
    QAbstractItemModel* model = list->model();
    QSignalSpy resetSpy(model, &QAbstractItemModel::modelReset);
    QSignalSpy insertSpy(model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removeSpy(model, &QAbstractItemModel::rowsRemoved);
    if (change == QStringLiteral("add")) {
        m_fixture->store->addTask(TaskBuilder(QStringLiteral("D")).build());
    } else if (change == QStringLiteral("delete")) {
        m_fixture->store->deleteTask(b);
    } else if (change == QStringLiteral("rename")) {
        b.name = QStringLiteral("Bee");
        m_fixture->store->updateTask(b);
    } else if (change == QStringLiteral("disable")) {
        m_fixture->store->setEnabled(false, b.id);
    } else {
        m_fixture->store->duplicateTask(b);
    }
    QCOMPARE(resetSpy.size(), resets);
    QCOMPARE(insertSpy.size(), inserted);
    QCOMPARE(removeSpy.size(), removed);
    QStringList names;
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->index(row, 0).data().toString();
    QCOMPARE(names, rows);
    if (change == QStringLiteral("disable"))
        QCOMPARE(model->index(1, 0).data(TaskListModel::EnabledRole).toBool(), false);
    // The selected row stays selected through the change.
    const QModelIndexList selected = list->selectionModel()->selectedIndexes();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.at(0).data(TaskListModel::TaskIdRole).toUuid(), a.id);
}

void TestShell::selectModeMarks_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<bool>("checked");
    QTest::newRow("light, checked") << false << true;
    QTest::newRow("light, unchecked") << false << false;
    QTest::newRow("dark, checked") << true << true;
    QTest::newRow("dark, unchecked") << true << false;
}

void TestShell::selectModeMarks()
{
    QFETCH(bool, dark);
    QFETCH(bool, checked);
    const QPalette palette = dark ? darkPalette() : QApplication::style()->standardPalette();
    const ScheduledTask task = TaskBuilder(QStringLiteral("Row")).build();
    m_fixture->store->addTask(task);
    TaskListModel model(*m_fixture->store);
    model.setSelectMode(true, checked ? QSet<QUuid>{task.id} : QSet<QUuid>{});
    TaskRowView view;
    QStyleOptionViewItem option;
    option.palette = palette;
    option.font = QApplication::font();
    option.rect = QRect(QPoint(0, 0), view.sizeHint(option, model.index(0)));
    QImage image(option.rect.size(), QImage::Format_ARGB32);
    const QColor background = palette.color(QPalette::Base);
    image.fill(background);
    {
        QPainter painter(&image);
        view.paint(&painter, option, model.index(0));
    }
    // The mark is a circle 10 points in, centred on the row.
    const QPoint centre(10 + RowPainting::symbolSize(option.font) / 2, option.rect.center().y());
    const QColor middle = image.pixelColor(centre);
    if (checked) {
        // Filled with the accent colour (the tick is thinner than the circle's middle band).
        QVERIFY2(near(image.pixelColor(centre + QPoint(0, 5)), palette.color(QPalette::Highlight)),
                 qPrintable(image.pixelColor(centre + QPoint(0, 5)).name()));
    } else {
        // An outline only: the middle shows the background, the ring a secondary text colour.
        QVERIFY2(near(middle, background), qPrintable(middle.name()));
        const QColor ring = image.pixelColor(centre + QPoint(0, 7));
        QVERIFY2(!near(ring, background), qPrintable(ring.name()));
        QVERIFY(!near(ring, palette.color(QPalette::Highlight)));
    }
}

namespace {

double luminance(const QColor& colour)
{
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The row of `model` drawn on its background; the pixels that differ from the background,
// without their colour.
QImage drawnShape(const TaskListModel& model, int row, const QPalette& palette, bool selected)
{
    TaskRowView view;
    QStyleOptionViewItem option;
    option.palette = palette;
    option.font = QApplication::font();
    option.rect = QRect(QPoint(0, 0), view.sizeHint(option, model.index(row)));
    if (selected)
        option.state |= QStyle::State_Selected;
    QImage image(option.rect.size(), QImage::Format_ARGB32);
    image.fill(palette.color(QPalette::Base));
    {
        QPainter painter(&image);
        view.paint(&painter, option, model.index(row));
    }
    // What lies behind the mark (the selection, when selected): a point above it.
    const QRgb background = image.pixel(21, 2);
    // Only the mark's column (the name starts 14 points after it).
    QImage shape(22, image.height(), QImage::Format_Mono);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < shape.width(); ++x)
            shape.setPixel(x, y, image.pixel(x, y) == background ? 0 : 1);
    }
    return shape;
}

} // namespace

void TestShell::lastRunFailedCue_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<bool>("selected");
    QTest::newRow("light") << false << false;
    QTest::newRow("light, selected") << false << true;
    QTest::newRow("dark") << true << false;
    QTest::newRow("dark, selected") << true << true;
}

void TestShell::lastRunFailedCue()
{
    QFETCH(bool, dark);
    QFETCH(bool, selected);
    const QPalette palette = dark ? darkPalette() : QApplication::style()->standardPalette();
    const ScheduledTask healthy = TaskBuilder(QStringLiteral("Healthy")).build();
    const ScheduledTask failing = TaskBuilder(QStringLiteral("Failing")).build();
    const QString logDir = m_fixture->store->agentPaths().logDir;
    QDir().mkpath(logDir);
    // Failing's last run failed after an earlier success; Healthy's last run succeeded after a
    // failure.
    TestSupport::writeFile(RunHistory::historyPath(logDir, failing.shortId()),
                           "2025-12-08T07:00:00Z\t2025-12-08T07:00:05Z\t0\n"
                           "2025-12-09T07:00:00Z\t2025-12-09T07:00:05Z\t2\n");
    TestSupport::writeFile(RunHistory::historyPath(logDir, healthy.shortId()),
                           "2025-12-08T07:00:00Z\t2025-12-08T07:00:05Z\t1\n"
                           "2025-12-09T07:00:00Z\t2025-12-09T07:00:05Z\t0\n");
    m_fixture->store->addTask(failing);
    m_fixture->store->addTask(healthy);
    TaskListModel model(*m_fixture->store);

    QTRY_VERIFY_WITH_TIMEOUT(model.index(0).data(TaskListModel::LastRunFailedRole).toBool(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_fixture->store->runReader().isReading(), 5000);
    QVERIFY(!model.index(1).data(TaskListModel::LastRunFailedRole).toBool());
    QCOMPARE(model.index(0).data(Qt::AccessibleDescriptionRole).toString(),
             QStringLiteral("enabled, last run failed"));
    QCOMPARE(model.index(1).data(Qt::AccessibleDescriptionRole).toString(),
             QStringLiteral("enabled"));

    // Without colour: the mark's shape is not the dot's.
    const QImage failedShape = drawnShape(model, 0, palette, selected);
    const QImage healthyShape = drawnShape(model, 1, palette, selected);
    int differing = 0;
    for (int y = 0; y < failedShape.height(); ++y) {
        for (int x = 0; x < failedShape.width(); ++x)
            differing += failedShape.pixelIndex(x, y) != healthyShape.pixelIndex(x, y) ? 1 : 0;
    }
    QVERIFY2(differing >= 12, qPrintable(QString::number(differing)));

    // In colour: at least 3:1 against what lies behind it, in both palettes.
    QStyleOptionViewItem option;
    option.palette = palette;
    if (selected)
        option.state |= QStyle::State_Selected;
    const QColor behind = selected ? palette.color(QPalette::Active, QPalette::Highlight)
                                   : palette.color(QPalette::Base);
    const double ratio = contrast(RowPainting::failureMarkColour(option), behind);
    QVERIFY2(ratio >= 3.0, qPrintable(QString::number(ratio)));
}

void TestShell::failureCueFollowsRecordedRuns()
{
    const ScheduledTask task = TaskBuilder(QStringLiteral("Later")).build();
    m_fixture->store->addTask(task);
    TaskListModel model(*m_fixture->store);
    QVERIFY(!model.index(0).data(TaskListModel::LastRunFailedRole).toBool());
    const QString history =
        RunHistory::historyPath(m_fixture->store->agentPaths().logDir, task.shortId());
    QDir().mkpath(QFileInfo(history).absolutePath());
    TestSupport::writeFile(history, "2025-12-09T07:00:00Z\t2025-12-09T07:00:05Z\t1\n");
    QTRY_VERIFY_WITH_TIMEOUT(model.index(0).data(TaskListModel::LastRunFailedRole).toBool(), 5000);
    QFile file(history);
    QVERIFY(file.open(QIODevice::Append));
    file.write("2025-12-09T08:00:00Z\t2025-12-09T08:00:05Z\t0\n");
    file.close();
    QTRY_VERIFY_WITH_TIMEOUT(!model.index(0).data(TaskListModel::LastRunFailedRole).toBool(), 5000);
}

// A row stands at once, without the failure cue, and takes it when the history read beside
// the window arrives; a list made later starts from that reading.
void TestShell::failureCueFillsInFromTheReading_data()
{
    QTest::addColumn<QByteArray>("history");
    QTest::addColumn<bool>("failed");
    QTest::newRow("last run failed")
        << QByteArray("2025-12-08T07:00:00Z\t2025-12-08T07:00:05Z\t0\n"
                      "2025-12-09T07:00:00Z\t2025-12-09T07:00:05Z\t4\n")
        << true;
    QTest::newRow("last run succeeded")
        << QByteArray("2025-12-09T07:00:00Z\t2025-12-09T07:00:05Z\t0\n") << false;
    QTest::newRow("no history") << QByteArray() << false;
}

void TestShell::failureCueFillsInFromTheReading()
{
    QFETCH(QByteArray, history);
    QFETCH(bool, failed);
    const ScheduledTask task = TaskBuilder(QStringLiteral("Filled")).build();
    const QString logDir = m_fixture->store->agentPaths().logDir;
    QDir().mkpath(logDir);
    if (!history.isEmpty())
        TestSupport::writeFile(RunHistory::historyPath(logDir, task.shortId()), history);
    m_fixture->store->addTask(task);
    TaskRunReader& reader = m_fixture->store->runReader();

    TaskListModel model(*m_fixture->store);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QVERIFY(!model.index(0).data(TaskListModel::LastRunFailedRole).toBool());
    QVERIFY(reader.isReading());
    QTRY_VERIFY_WITH_TIMEOUT(!reader.isReading(), 5000);
    QCOMPARE(model.index(0).data(TaskListModel::LastRunFailedRole).toBool(), failed);
    // The row is told only when its cue changed.
    QCOMPARE(changed.count(), failed ? 1 : 0);

    TaskListModel later(*m_fixture->store);
    QCOMPARE(later.index(0).data(TaskListModel::LastRunFailedRole).toBool(), failed);
}

void TestShell::iconsFollowPalette_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<int>("mode");
    QTest::newRow("light") << false << int(QIcon::Normal);
    QTest::newRow("light, selected row") << false << int(QIcon::Selected);
    QTest::newRow("dark") << true << int(QIcon::Normal);
    QTest::newRow("dark, selected row") << true << int(QIcon::Selected);
}

void TestShell::iconsFollowPalette()
{
    QFETCH(bool, dark);
    QFETCH(int, mode);
    const QPalette palette = dark ? darkPalette() : QApplication::style()->standardPalette();
    QApplication::setPalette(palette);
    const QColor expected = mode == QIcon::Selected ? palette.color(QPalette::HighlightedText)
                                                    : palette.color(QPalette::WindowText);
    for (const QString& symbol : {QStringLiteral("plus"), QStringLiteral("gearshape.2"),
                                  QStringLiteral("clock.badge.checkmark")}) {
        const QImage image =
            Icons::symbol(symbol).pixmap(QSize(16, 16), 1.0, QIcon::Mode(mode)).toImage();
        QVERIFY2(near(inkOf(image), expected),
                 qPrintable(symbol + QLatin1Char(' ') + inkOf(image).name()));
    }
    // Painted symbols take the colour they are given.
    QVERIFY(
        near(inkOf(Icons::pixmap(QStringLiteral("plus"), 16, 1.0, Qt::red).toImage()), Qt::red));
}

void TestShell::systemJobsSectionShowsState_data()
{
    QTest::addColumn<bool>("expanded");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("arrow");
    QTest::addColumn<bool>("emptyShown");
    QTest::addColumn<int>("rows");
    QTest::newRow("collapsed") << false << QString() << QStringLiteral("\u25B8") << false << 2;
    QTest::newRow("collapsed, no match")
        << false << QStringLiteral("zzz") << QStringLiteral("\u25B8") << false << 0;
    QTest::newRow("expanded") << true << QString() << QStringLiteral("\u25BE") << false << 2;
    QTest::newRow("expanded, one match")
        << true << QStringLiteral("beta") << QStringLiteral("\u25BE") << false << 1;
    QTest::newRow("expanded, no match")
        << true << QStringLiteral("zzz") << QStringLiteral("\u25BE") << true << 0;
}

void TestShell::systemJobsSectionShowsState()
{
    QFETCH(bool, expanded);
    QFETCH(QString, search);
    QFETCH(QString, arrow);
    QFETCH(bool, emptyShown);
    QFETCH(int, rows);
    makeWindow({}, {makeAgentJob(QStringLiteral("com.example.alpha"), {QStringLiteral("/bin/a")}),
                    makeAgentJob(QStringLiteral("com.example.beta"), {QStringLiteral("/bin/b")})});
    // The first scan runs on a worker once the window shows.
    QTRY_COMPARE(content()->systemJobs().size(), 2);
    content()->setShowSystemJobs(expanded);
    content()->setSearchText(search);
    QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("sidebar-system-jobs-arrow"))->text(),
             arrow);
    auto* empty = m_window->findChild<QLabel*>(QStringLiteral("sidebar-system-jobs-empty"));
    QCOMPARE(empty->isVisible(), emptyShown);
    if (emptyShown)
        QCOMPARE(empty->text(), QStringLiteral("No matching jobs"));
    QCOMPARE(sidebar()->systemJobList()->model()->rowCount(), rows);
    QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("sidebar-system-jobs-count"))->text(),
             QStringLiteral("2"));
}

void TestShell::rightClickKeepsSelection()
{
    makeWindow({TaskBuilder(QStringLiteral("First")).build(),
                TaskBuilder(QStringLiteral("Second")).build()});
    QListView* list = sidebar()->taskList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCenter(list, 0));
    const SidebarSection first = *content()->selection();
    QWidget* detail = content()->currentDetail();
    // The press (which would select the row) and then the menu request, as the platform
    // delivers them.
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, rowCenter(list, 1));
    QContextMenuEvent request(QContextMenuEvent::Mouse, rowCenter(list, 1),
                              list->viewport()->mapToGlobal(rowCenter(list, 1)));
    QApplication::sendEvent(list->viewport(), &request);
    QCOMPARE(*content()->selection(), first);
    QCOMPARE(content()->currentDetail(), detail);
    QCOMPARE(list->selectionModel()->selectedIndexes().size(), 1);
    QCOMPARE(list->selectionModel()->selectedIndexes().at(0).row(), 0);

    // The menu that opened belongs to the clicked row; every item has a symbol and only
    // "Delete" is marked destructive.
    QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QStringList destructive;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator())
            continue;
        QVERIFY2(!action->icon().isNull(), qPrintable(action->text()));
        if (action->property("destructive").toBool())
            destructive << action->text();
    }
    QCOMPARE(destructive, QStringList{QStringLiteral("Delete")});
    m_dialogs.answerDelete = false;
    menu->findChild<QAction*>(QStringLiteral("task-menu-delete"))->trigger();
    menu->close();
    QVERIFY(m_dialogs.confirmations.at(0).text.contains(QStringLiteral("\"Second\"")));
}

void TestShell::deleteConfirmationButtons()
{
    QWidget parent;
    QAbstractButton* remove = nullptr;
    const QString name = QStringLiteral("Upload the weekly photo library backup to the NAS");
    std::unique_ptr<QMessageBox> box(DialogBoxes::makeDeleteConfirmation(
        &parent, QStringLiteral("Delete Task"),
        QStringLiteral("Are you sure you want to delete \"") + name +
            QStringLiteral("\"? This will also remove the launchd job."),
        &remove));
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    QAbstractButton* cancel = box->button(QMessageBox::Cancel);
    QVERIFY(cancel && remove);
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    QCOMPARE(remove->text(), QStringLiteral("Delete"));
    // Alike but for the destructive colour: neither carries a symbol.
    QVERIFY(cancel->icon().isNull());
    QVERIFY(remove->icon().isNull());
    const QColor red = remove->palette().color(QPalette::ButtonText);
    QVERIFY2(red.red() > red.green() + 60, qPrintable(red.name()));
    QVERIFY(cancel->palette().color(QPalette::ButtonText) != red);
    QCOMPARE(box->defaultButton(), cancel);
    QCOMPARE(box->escapeButton(), cancel);
    // The message is plain text (a quoted name is shown as typed, never read as markup),
    // wrapped at spaces inside the box.
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    QVERIFY(label);
    QCOMPARE(label->textFormat(), Qt::PlainText);
    QVERIFY(label->wordWrap());
    QVERIFY(label->height() > label->fontMetrics().lineSpacing() * 2);
    QVERIFY(label->geometry().right() <= box->width());
}

void TestShell::jobDetailShowsLongTexts_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("commandScrolls");
    QTest::newRow("short") << QStringLiteral("com.example.job")
                           << QStringList{QStringLiteral("/bin/x")} << false;
    QTest::newRow("long label and command")
        << QStringLiteral("com.example.very-long-label-for-a-background-helper-service-agent")
        << QStringList{QStringLiteral("/Applications/Example Helper.app/Contents/Library/"
                                      "LaunchServices/com.example.helper-service"),
                       QStringLiteral("--config=/Library/Application Support/Example/config.plist")}
        << true;
}

void TestShell::jobDetailShowsLongTexts()
{
    QFETCH(QString, label);
    QFETCH(QStringList, arguments);
    QFETCH(bool, commandScrolls);
    const LaunchdJob job = makeAgentJob(label, arguments,
                                        QStringLiteral("/Library/Logs/Example/") + label +
                                            QStringLiteral(".stdout.log"));
    LaunchdJobDetailView view(job);
    view.resize(360, 500);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    // Layout requests queued by showing are handled before anything is measured.
    QCoreApplication::sendPostedEvents();
    const int pageWidth = view.viewport()->width();
    for (const QString& name :
         {QStringLiteral("job-detail-label"), QStringLiteral("path-row-value")}) {
        auto* text = view.findChild<QTextEdit*>(name);
        QVERIFY(text);
        // The whole text, selectable, inside the page, and tall enough for all its lines.
        QVERIFY(text->toPlainText() == label || text->toPlainText().contains(label));
        QVERIFY(text->textInteractionFlags() & Qt::TextSelectableByMouse);
        QVERIFY(text->geometry().right() <= pageWidth);
        QVERIFY2(text->height() >= int(text->document()->size().height()), qPrintable(name));
    }
    auto* command = view.findChild<QTextEdit*>(QStringLiteral("job-detail-command"));
    QCOMPARE(command->toPlainText(), arguments.join(QLatin1Char(' ')));
    QCOMPARE(command->horizontalScrollBar()->isVisible(), commandScrolls);
    QVERIFY(command->geometry().right() <= pageWidth);
}

void TestShell::appMenuItems()
{
    makeWindow();
    auto* quit = m_window->findChild<QAction*>(QStringLiteral("action-quit"));
    QVERIFY(quit);
    QCOMPARE(quit->text(), QStringLiteral("Quit"));
    QCOMPARE(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    m_window->findChild<QAction*>(QStringLiteral("action-about"))->trigger();
    QCOMPARE(m_dialogs.alerts.size(), 1);
    QCOMPARE(m_dialogs.alerts.at(0).title, QStringLiteral("About Brenmor Ops"));
    QVERIFY(m_dialogs.alerts.at(0).text.startsWith(QStringLiteral("Version ")));
    QVERIFY(m_dialogs.alerts.at(0).text.contains(QStringLiteral("Breeze")));
    QVERIFY(m_dialogs.alerts.at(0).text.contains(QStringLiteral("LGPL")));
    // A test home has no systemd user manager: the agent runner runs the tasks.
    QVERIFY(m_dialogs.alerts.at(0).text.contains(
        QStringLiteral("Tasks run on: Brenmor Ops agent runner.")));

    auto* notify = m_window->findChild<QAction*>(QStringLiteral("menu-notify-on-failure"));
    QVERIFY(notify);
    QCOMPARE(notify->text(), QStringLiteral("Notify When a Task Fails"));
    QVERIFY(notify->isCheckable());
    QVERIFY(notify->isChecked()); // on until the user turns it off
    notify->trigger();
    // Stored where the agent runner reads it.
    QCOMPARE(FailureAlert::openPreferences()->value(QStringLiteral("notifyOnFailure")), false);
    QVERIFY(!FailureAlert::notifyOnFailure());
    // A new window reads the saved choice.
    m_window.reset();
    makeWindow();
    QVERIFY(!m_window->findChild<QAction*>(QStringLiteral("menu-notify-on-failure"))->isChecked());
}

void TestShell::emptyStateAtStart()
{
    makeWindow();
    auto* filter = m_window->findChild<QLineEdit*>(QStringLiteral("sidebar-filter"));
    QVERIFY(!filter->hasFocus());
    QList<QPushButton*> prominent;
    for (QPushButton* button : m_window->findChildren<QPushButton*>()) {
        if (button->isVisible() && button->palette().color(QPalette::Button) ==
                                       button->palette().color(QPalette::Highlight)) {
            prominent << button;
        }
    }
    QCOMPARE(prominent.size(), 1);
    QCOMPARE(prominent.at(0)->text(), QStringLiteral("Add Task"));
    QCOMPARE(prominent.at(0)->objectName(), QStringLiteral("empty-state-button"));
    auto* splitter = m_window->findChild<QSplitter*>(QStringLiteral("content-splitter"));
    QVERIFY(splitter->handleWidth() >= 3);
    const QImage handle = splitter->handle(1)->grab().toImage();
    bool line = false;
    for (int x = 0; x < handle.width(); ++x)
        line |= handle.pixelColor(x, handle.height() / 2) !=
                m_window->palette().color(QPalette::Window);
    QVERIFY(line);
}

void TestShell::sheetsFitWindow_data()
{
    QTest::addColumn<QString>("sheet");
    for (const char* sheet :
         {"add", "edit", "test run", "shortcuts", "mail", "full log", "long alert"})
        QTest::newRow(sheet) << QString::fromLatin1(sheet);
}

void TestShell::sheetsFitWindow()
{
    QFETCH(QString, sheet);
    const ScheduledTask task = TaskBuilder(QStringLiteral("Task")).build();
    makeWindow({task}, {}, QSize(640, 400));
    const int limit =
        std::min(m_window->height(), m_window->screen()->availableGeometry().height());
    std::unique_ptr<QWidget> shown;
    FakeCredentialStore credentials;
    if (sheet == QStringLiteral("mail")) {
        shown = std::make_unique<GmailSetupView>(credentials, m_window.get());
    } else if (sheet == QStringLiteral("full log")) {
        shown = std::make_unique<FullLogView>(
            QStringLiteral("Output"), QStringLiteral("line\n").repeated(2000), m_window.get());
    } else if (sheet == QStringLiteral("add")) {
        shown = std::make_unique<AddTaskView>(*m_fixture->store, m_dialogs, m_window.get());
    } else if (sheet == QStringLiteral("edit")) {
        shown = std::make_unique<EditTaskView>(*m_fixture->store, m_dialogs, task, m_window.get());
    } else if (sheet == QStringLiteral("test run")) {
        shown = std::make_unique<TestRunView>(task, m_window.get());
    } else if (sheet == QStringLiteral("shortcuts")) {
        shown = std::make_unique<ShortcutsPickerView>(m_window.get());
    } else {
        QStringList lines;
        for (int i = 0; i < 300; ++i)
            lines << QStringLiteral("line %1 of a very long error").arg(i);
        shown.reset(DialogBoxes::makeAlert(m_window.get(), Dialogs::AlertStyle::warning,
                                           QStringLiteral("Error"), lines.join(u'\n')));
    }
    shown->show();
    QVERIFY(QTest::qWaitForWindowExposed(shown.get()));
    if (sheet == QStringLiteral("long alert")) {
        // An alert is as tall as the screen allows; the whole text stays behind its details.
        QVERIFY2(shown->height() <= m_window->screen()->availableGeometry().height(),
                 qPrintable(QString::number(shown->height())));
        QVERIFY(static_cast<QMessageBox*>(shown.get())
                    ->detailedText()
                    .contains(QStringLiteral("line 299 of")));
    } else {
        QVERIFY2(shown->height() <= limit,
                 qPrintable(QStringLiteral("%1 > %2").arg(shown->height()).arg(limit)));
    }
}

QTEST_MAIN(TestShell)
#include "TestShell.moc"
