// The application as assistive technology and the keyboard meet it: controls changed through
// their accessible actions change the data, every stop for Tab has a name, focus stays where
// the user was, status colours keep their contrast in the light and the dark palette, and the
// platform's texts come from one table.
#include "AddTaskView.h"
#include "AppFakes.h"
#include "ContentView.h"
#include "LaunchdJobDetailView.h"
#include "MainWindow.h"
#include "Palettes.h"
#include "PlatformTexts.h"
#include "RowPainting.h"
#include "ScheduleKinds.h"
#include "Sidebar.h"
#include "StatusColors.h"
#include "TaskBuilder.h"
#include "TaskDetailView.h"
#include "TaskListModel.h"
#include "TestRunView.h"
#include "UpdaterController.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(QPalette)

namespace {

QAccessibleInterface* accessible(QWidget* widget)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    if (!iface)
        qFatal("no accessible interface for %s", qPrintable(widget->objectName()));
    return iface;
}

void accessibleToggle(QWidget* control)
{
    QAccessibleActionInterface* actions = accessible(control)->actionInterface();
    QVERIFY(actions);
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    actions->doAction(QAccessibleActionInterface::toggleAction());
}

// Visible, enabled widgets that Tab stops at and that nothing names: no accessible name and
// no label pointing at them.
QStringList namelessStops(QWidget* root)
{
    QStringList nameless;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisible() || !widget->isEnabled() || !(widget->focusPolicy() & Qt::TabFocus))
            continue;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
        const bool labelled = iface && !iface->relations(QAccessible::Label).isEmpty();
        // A picker's name on Linux is its value; only its own name or a label names it.
        const bool named = qobject_cast<QComboBox*>(widget)
                               ? !widget->accessibleName().isEmpty()
                               : iface && !iface->text(QAccessible::Name).trimmed().isEmpty();
        if (!named && !labelled)
            nameless << QStringLiteral("%1 (%2)").arg(widget->objectName(),
                                                      widget->metaObject()->className());
    }
    return nameless;
}

QPalette lightPalette() { return QApplication::style()->standardPalette(); }

} // namespace

class TestAccessibility : public MainWindowTest {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void statusColoursReadable_data();
    void statusColoursReadable();
    void detailColoursReadable_data();
    void detailColoursReadable();
    void readableOnKeepsHueAndReachesRatio_data();
    void readableOnKeepsHueAndReachesRatio();

    void everyStopNamed_data();
    void everyStopNamed();
    void pickersNamedAsFields_data();
    void pickersNamedAsFields();
    void outputStreamFollowsToggleAction();
    void systemJobsHeaderFollowsToggleAction();
    void enabledSwitchFollowsToggleAction();
    void selectModeRowsCheckable();
    void selectModeRowsFollowAccessibleActions_data();
    void selectModeRowsFollowAccessibleActions();
    void focusStaysAfterChange_data();
    void focusStaysAfterChange();
    void windowLayoutRemembered();
    void buttonSymbolsFollowFont_data();
    void buttonSymbolsFollowFont();

    void platformTexts_data();
    void platformTexts();
    void shortcutsOfferedOnlyWithTheTool();
};

void TestAccessibility::init() { setUpWindow(); }

void TestAccessibility::cleanup()
{
    tearDownWindow();
    QApplication::setPalette(lightPalette());
}

// Every status colour against what it is really drawn on, in both palettes: text needs 4.5:1,
// dots and symbols 3:1.
void TestAccessibility::statusColoursReadable_data()
{
    QTest::addColumn<QPalette>("palette");
    QTest::addColumn<bool>("selected");
    for (const auto& [name, palette] :
         {std::pair{"light", lightPalette()}, std::pair{"dark", darkPalette()}}) {
        QTest::addRow("%s", name) << StatusColors::readablePalette(palette) << false;
        QTest::addRow("%s selected row", name) << StatusColors::readablePalette(palette) << true;
    }
}

void TestAccessibility::statusColoursReadable()
{
    QFETCH(QPalette, palette);
    QFETCH(bool, selected);
    using StatusColors::contrastRatio;
    const QColor window = palette.color(QPalette::Window);
    for (const auto status : {StatusColors::Status::success, StatusColors::Status::failure,
                              StatusColors::Status::warning, StatusColors::Status::off}) {
        QVERIFY(contrastRatio(StatusColors::text(status, palette), window) >= 4.5);
        QVERIFY(contrastRatio(StatusColors::symbol(status, palette), window) >= 3.0);
    }
    QVERIFY(contrastRatio(RowPainting::successColor(palette), window) >= 4.5);
    QVERIFY(contrastRatio(RowPainting::failureColor(palette), window) >= 4.5);
    QVERIFY(contrastRatio(palette.color(QPalette::PlaceholderText), window) >= 4.5);
    QVERIFY(contrastRatio(palette.color(QPalette::PlaceholderText),
                          palette.color(QPalette::Base)) >= 4.5);

    // A sidebar row: subtitle and enabled/off dots on the row's real background.
    QStyleOptionViewItem option;
    option.palette = palette;
    option.state = QStyle::State_Enabled | QStyle::State_Active;
    if (selected)
        option.state |= QStyle::State_Selected;
    const QColor background = RowPainting::rowBackground(option);
    if (!selected)
        QCOMPARE(background, palette.color(QPalette::Window));
    QVERIFY(contrastRatio(RowPainting::primaryText(option), background) >= 4.5);
    const double subtitle = contrastRatio(RowPainting::secondaryText(option), background);
    QVERIFY2(subtitle >= 4.5, qPrintable(QString::number(subtitle)));
    QVERIFY(contrastRatio(RowPainting::statusDot(option, true), background) >= 3.0);
    QVERIFY(contrastRatio(RowPainting::statusDot(option, false), background) >= 3.0);
}

// The detail's coloured texts as the widgets carry them.
void TestAccessibility::detailColoursReadable_data()
{
    QTest::addColumn<QPalette>("palette");
    QTest::newRow("light") << StatusColors::readablePalette(lightPalette());
    QTest::newRow("dark") << StatusColors::readablePalette(darkPalette());
}

void TestAccessibility::detailColoursReadable()
{
    QFETCH(QPalette, palette);
    QApplication::setPalette(palette);
    const ScheduledTask task =
        TaskBuilder(QStringLiteral("Waking")).command(QStringLiteral("true")).wake().build();
    m_fixture->store->addTask(task);
    TaskDetailView view(*m_fixture->store, task);
    view.resize(600, 800);
    view.show();
    const auto ratio = [](QWidget* widget, QPalette::ColorRole text, QPalette::ColorRole back) {
        return StatusColors::contrastRatio(widget->palette().color(text),
                                           widget->palette().color(back));
    };
    auto* status = child<QLabel>(&view, QStringLiteral("task-detail-status"));
    QCOMPARE(status->text(), QStringLiteral("Active"));
    QVERIFY(ratio(status, QPalette::WindowText, QPalette::Window) >= 4.5);
    for (const char* name : {"detail-test-run", "detail-delete"}) {
        auto* button = child<QPushButton>(&view, QString::fromLatin1(name));
        QVERIFY2(ratio(button, QPalette::ButtonText, QPalette::Button) >= 4.5, name);
    }
    // The wake line: orange while the fake service has nothing registered.
    auto* wake = child<QLabel>(&view, QStringLiteral("detail-wake-status"));
    QTRY_VERIFY_WITH_TIMEOUT(wake->isVisible(), 5000);
    QVERIFY(ratio(wake, QPalette::WindowText, QPalette::Window) >= 4.5);
    QVERIFY(!child<QLabel>(&view, QStringLiteral("detail-wake-symbol"))->pixmap().isNull());
    QVERIFY(!wake->text().contains(QChar(0x23FB)));
}

void TestAccessibility::readableOnKeepsHueAndReachesRatio_data()
{
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<double>("minimum");
    QTest::newRow("green on light grey")
        << QColor(0x34, 0xc7, 0x59) << QColor(0xef, 0xef, 0xef) << 4.5;
    QTest::newRow("orange on white") << QColor(0xff, 0x95, 0x00) << QColor(Qt::white) << 4.5;
    QTest::newRow("red on dark") << QColor(0xd7, 0x2c, 0x2c) << QColor(0x2b, 0x2b, 0x2d) << 4.5;
    QTest::newRow("grey dot on blue highlight")
        << QColor(0x8e, 0x8e, 0x93) << QColor(0x30, 0x8c, 0xc6) << 3.0;
    QTest::newRow("already fine") << QColor(Qt::black) << QColor(Qt::white) << 4.5;
    // A middle grey background leaves room only on one side.
    QTest::newRow("middle grey") << QColor(0x80, 0x80, 0x80) << QColor(0x77, 0x77, 0x77) << 4.5;
}

void TestAccessibility::readableOnKeepsHueAndReachesRatio()
{
    QFETCH(QColor, colour);
    QFETCH(QColor, background);
    QFETCH(double, minimum);
    const QColor readable = StatusColors::readableOn(colour, background, minimum);
    QVERIFY2(StatusColors::contrastRatio(readable, background) >= minimum,
             qPrintable(readable.name()));
    if (StatusColors::contrastRatio(colour, background) >= minimum)
        QCOMPARE(readable, colour);
    else if (colour.hslSaturation() > 0 && readable.lightness() > 10 && readable.lightness() < 245)
        QVERIFY(std::abs(readable.hslHue() - colour.hslHue()) <= 3);
}

// Each screen: no stop for Tab without a name, and no scroll area taking focus itself.
void TestAccessibility::everyStopNamed_data()
{
    QTest::addColumn<QString>("screen");
    QTest::newRow("add sheet") << "add";
    QTest::newRow("task detail") << "task";
    QTest::newRow("system job") << "job";
    QTest::newRow("select mode") << "select";
    QTest::newRow("test run") << "run";
}

void TestAccessibility::everyStopNamed()
{
    QFETCH(QString, screen);
    const ScheduledTask task = TaskBuilder(QStringLiteral("Nightly"))
                                   .command(QStringLiteral("echo hi"))
                                   .weekly({2, 4}, {TimeOfDay{3, 0}})
                                   .wake()
                                   .build();
    const LaunchdJob job =
        makeAgentJob(QStringLiteral("com.example.sync"), {QStringLiteral("/usr/bin/true")});
    QWidget* root = nullptr;
    std::unique_ptr<QWidget> sheet;
    if (screen == QLatin1String("add")) {
        sheet = std::make_unique<AddTaskView>(*m_fixture->store, m_dialogs);
        QVERIFY(showActive(*sheet));
        root = sheet.get();
    } else if (screen == QLatin1String("run")) {
        sheet = std::make_unique<TestRunView>(task);
        QVERIFY(showActive(*sheet));
        root = sheet.get();
        auto* output = child<QPlainTextEdit>(root, QStringLiteral("test-run-output"));
        // The output is a stop for Tab, so it can be read with the keyboard.
        QVERIFY(output->focusPolicy() & Qt::TabFocus);
        QVERIFY(accessible(output)->textInterface());
    } else {
        makeWindow({task}, {job});
        if (screen == QLatin1String("task"))
            content()->setSelection(SidebarSection::task(task.id));
        else if (screen == QLatin1String("job"))
            content()->setSelection(SidebarSection::systemJob(job.id));
        else
            content()->enterSelectMode();
        root = m_window.get();
    }
    QVERIFY(root);
    QCOMPARE(namelessStops(root), QStringList());
    for (QAbstractScrollArea* area : root->findChildren<QAbstractScrollArea*>()) {
        // Text and list views are stops of their own; plain scrolling containers are not.
        if (QString::fromLatin1(area->metaObject()->className())
                .endsWith(QLatin1String("ScrollArea")) ||
            qobject_cast<TaskDetailView*>(area))
            QVERIFY2(!(area->focusPolicy() & Qt::TabFocus), qPrintable(area->objectName()));
    }
}

// A picker is announced by what it is for ("Schedule type"), not by what it shows ("Weekly"):
// its own name or its label's text, with the label as its labelled-by relation. Only a picker
// nothing names is called by its value.
void TestAccessibility::pickersNamedAsFields_data()
{
    QTest::addColumn<QString>("picker");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("label");
    QTest::newRow("schedule type") << "form-schedule-kind"
                                   << "Schedule type"
                                   << "Type";
    QTest::newRow("interval") << "form-interval"
                              << "Interval"
                              << "Interval";
    QTest::newRow("monthly when") << "form-monthly-type"
                                  << "When"
                                  << "When";
    QTest::newRow("hour") << "time-hour"
                          << "Hour"
                          << "";
    QTest::newRow("minute") << "time-minute"
                            << "Minute"
                            << "";
    QTest::newRow("labelled only") << "bare-labelled"
                                   << "Frequency"
                                   << "Frequency";
    QTest::newRow("nothing names it") << "bare"
                                      << "Weekly"
                                      << "";
}

void TestAccessibility::pickersNamedAsFields()
{
    QFETCH(QString, picker);
    QFETCH(QString, name);
    QFETCH(QString, label);
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    auto* kind = child<QComboBox>(&sheet, QStringLiteral("form-schedule-kind"));
    kind->setCurrentIndex(kind->findData(QStringLiteral("weekly")));
    // Two pickers of a dialog of our own making: one only labelled, one named by nothing.
    auto* bare = new QComboBox(&sheet);
    bare->setObjectName(QStringLiteral("bare"));
    bare->addItems({QStringLiteral("Weekly"), QStringLiteral("Daily")});
    auto* labelled = new QComboBox(&sheet);
    labelled->setObjectName(QStringLiteral("bare-labelled"));
    labelled->addItems({QStringLiteral("Often"), QStringLiteral("Rarely")});
    auto* frequency = new QLabel(QStringLiteral("&Frequency"), &sheet);
    frequency->setBuddy(labelled);
    QVERIFY(showActive(sheet));

    auto* combo = child<QComboBox>(&sheet, picker);
    QAccessibleInterface* iface = accessible(combo);
    QCOMPARE(iface->role(), QAccessible::ComboBox);
    QCOMPARE(iface->text(QAccessible::Name), name);
    QCOMPARE(iface->text(QAccessible::Value), combo->currentText());
    QVERIFY(!combo->currentText().isEmpty());
    QVERIFY(combo->currentText() != name || picker == QLatin1String("bare"));
    const auto labels = iface->relations(QAccessible::Label);
    if (label.isEmpty()) {
        QVERIFY(labels.isEmpty());
    } else {
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.first().first->role(), QAccessible::StaticText);
        QCOMPARE(labels.first().first->text(QAccessible::Name).remove(QLatin1Char('&')), label);
    }
    // The value follows the choice; the name stays.
    combo->setCurrentIndex(combo->count() - 1);
    QCOMPARE(iface->text(QAccessible::Value), combo->itemText(combo->count() - 1));
    if (picker != QLatin1String("bare"))
        QCOMPARE(iface->text(QAccessible::Name), name);
    // Its child is the list it opens, and its action opens it.
    QCOMPARE(iface->childCount(), 1);
    QCOMPARE(iface->child(0)->object(), combo->view());
    QCOMPARE(iface->indexOfChild(iface->child(0)), 0);
    QAccessibleActionInterface* actions = iface->actionInterface();
    QVERIFY(actions);
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::showMenuAction()));
    actions->doAction(QAccessibleActionInterface::showMenuAction());
    QTRY_VERIFY_WITH_TIMEOUT(combo->view()->isVisible(), 5000);
    actions->doAction(QAccessibleActionInterface::showMenuAction());
    QTRY_VERIFY_WITH_TIMEOUT(!combo->view()->isVisible(), 5000);
}

void TestAccessibility::outputStreamFollowsToggleAction()
{
    const ScheduledTask task =
        TaskBuilder(QStringLiteral("Logged")).command(QStringLiteral("true")).build();
    m_fixture->store->addTask(task);
    const QString logDir = m_fixture->store->agentPaths().logDir;
    QDir().mkpath(logDir);
    for (const auto& [suffix, text] :
         {std::pair{".stdout.log", "out line\n"}, std::pair{".stderr.log", "err line\n"}}) {
        QFile file(logDir + QLatin1Char('/') + task.shortId() + QLatin1String(suffix));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    TaskDetailView view(*m_fixture->store, task);
    QTRY_VERIFY_WITH_TIMEOUT(view.findChild<QLabel*>(QStringLiteral("output-text")), 5000);
    QCOMPARE(child<QLabel>(&view, QStringLiteral("output-text"))->text().trimmed(),
             QStringLiteral("out line"));
    accessibleToggle(child<QWidget>(&view, QStringLiteral("output-tab-stderr")));
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(&view, QStringLiteral("output-text"))->text().trimmed(),
                              QStringLiteral("err line"), 5000);
    QVERIFY(!child<QAbstractButton>(&view, QStringLiteral("output-tab-stdout"))->isChecked());
    accessibleToggle(child<QWidget>(&view, QStringLiteral("output-tab-stdout")));
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(&view, QStringLiteral("output-text"))->text().trimmed(),
                              QStringLiteral("out line"), 5000);
}

void TestAccessibility::systemJobsHeaderFollowsToggleAction()
{
    makeWindow({}, {makeAgentJob(QStringLiteral("com.example.a"), {QStringLiteral("/bin/true")})});
    auto* header = child<QPushButton>(m_window.get(), QStringLiteral("sidebar-system-jobs-header"));
    QVERIFY(!content()->showSystemJobs());
    accessibleToggle(header);
    QVERIFY(content()->showSystemJobs());
    QVERIFY(content()->sidebar()->systemJobList()->isVisible());
    QVERIFY(accessible(header)->state().checked);
    accessibleToggle(header);
    QVERIFY(!content()->showSystemJobs());
    QVERIFY(!content()->sidebar()->systemJobList()->isVisible());
    QVERIFY(!header->isChecked());
}

void TestAccessibility::enabledSwitchFollowsToggleAction()
{
    const ScheduledTask task =
        TaskBuilder(QStringLiteral("Switch")).command(QStringLiteral("true")).build();
    m_fixture->store->addTask(task);
    TaskDetailView view(*m_fixture->store, task);
    auto* toggle = child<QAbstractButton>(&view, QStringLiteral("detail-enabled-toggle"));
    QCOMPARE(accessible(toggle)->text(QAccessible::Name), QStringLiteral("Enabled"));
    accessibleToggle(toggle);
    QTRY_VERIFY_WITH_TIMEOUT(!m_fixture->store->task(task.id)->isEnabled, 5000);
}

void TestAccessibility::selectModeRowsCheckable()
{
    const ScheduledTask a =
        TaskBuilder(QStringLiteral("A")).command(QStringLiteral("true")).build();
    const ScheduledTask b =
        TaskBuilder(QStringLiteral("B")).command(QStringLiteral("true")).build();
    makeWindow({a, b});
    const auto detailTitle = [this] {
        auto* title =
            content()->currentDetail()->findChild<QLabel*>(QStringLiteral("empty-state-title"));
        return title ? title->text() : QString();
    };
    content()->enterSelectMode();
    QCOMPARE(detailTitle(), QStringLiteral("No Tasks Selected"));
    QListView* list = content()->sidebar()->taskList();
    QAccessibleInterface* listIface = accessible(list);
    QCOMPARE(listIface->childCount(), 2);
    QVERIFY(listIface->child(0)->state().checkable);
    QVERIFY(!listIface->child(0)->state().checked);
    // Space on the current row checks it, as a click does.
    list->setFocus();
    list->setCurrentIndex(list->model()->index(1, 0));
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(content()->selectedTaskIDs(), QSet<QUuid>{b.id});
    QVERIFY(listIface->child(1)->state().checked);
    QVERIFY(!listIface->child(0)->state().checked);
    QCOMPARE(detailTitle(), QStringLiteral("1 Task Selected"));
    content()->selectAllOrNone();
    QCOMPARE(detailTitle(), QStringLiteral("2 Tasks Selected"));
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(content()->selectedTaskIDs(), QSet<QUuid>{a.id});
    content()->leaveSelectMode();
    QVERIFY(!listIface->child(0)->state().checkable);
    QCOMPARE(detailTitle(), QStringLiteral("No Selection"));
}

// What assistive technology does with a select mode row changes the task's check mark, as
// Space and a click do: the row's "Toggle" action, selecting and unselecting the row through
// the list's table interface. Each asks once: nothing is toggled twice.
void TestAccessibility::selectModeRowsFollowAccessibleActions_data()
{
    QTest::addColumn<QList<int>>("checkedBefore");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("row");
    QTest::addColumn<QList<int>>("checkedAfter");
    QTest::newRow("toggle checks") << QList<int>{} << "toggle" << 1 << QList<int>{1};
    QTest::newRow("toggle unchecks") << QList<int>{0, 2} << "toggle" << 0 << QList<int>{2};
    QTest::newRow("toggle the only checked row") << QList<int>{1} << "toggle" << 1 << QList<int>{};
    QTest::newRow("select row checks") << QList<int>{2} << "select" << 0 << QList<int>{0, 2};
    QTest::newRow("select checked row keeps it") << QList<int>{0} << "select" << 0 << QList<int>{0};
    QTest::newRow("unselect row unchecks") << QList<int>{0, 1} << "unselect" << 1 << QList<int>{0};
    QTest::newRow("unselect unchecked row") << QList<int>{0} << "unselect" << 2 << QList<int>{0};
    QTest::newRow("click checks") << QList<int>{} << "click" << 2 << QList<int>{2};
    QTest::newRow("click unchecks") << QList<int>{0, 2} << "click" << 2 << QList<int>{0};
    QTest::newRow("space unchecks") << QList<int>{1} << "space" << 1 << QList<int>{};
}

void TestAccessibility::selectModeRowsFollowAccessibleActions()
{
    QFETCH(QList<int>, checkedBefore);
    QFETCH(QString, how);
    QFETCH(int, row);
    QFETCH(QList<int>, checkedAfter);
    QList<ScheduledTask> tasks;
    for (const char* name : {"A", "B", "C"})
        tasks << TaskBuilder(QString::fromLatin1(name)).command(QStringLiteral("true")).build();
    makeWindow(tasks);
    content()->enterSelectMode();
    for (int index : checkedBefore)
        content()->toggleSelected(tasks.at(index).id);
    QListView* list = content()->sidebar()->taskList();
    QAccessibleInterface* listIface = accessible(list);
    QCOMPARE(listIface->childCount(), 3);
    for (int index = 0; index < 3; ++index)
        QCOMPARE(listIface->child(index)->state().checked, checkedBefore.contains(index));

    QAccessibleInterface* cell = listIface->child(row);
    if (how == QLatin1String("toggle")) {
        QAccessibleActionInterface* actions = cell->actionInterface();
        QVERIFY(actions);
        QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
        actions->doAction(QAccessibleActionInterface::toggleAction());
    } else if (how == QLatin1String("select") || how == QLatin1String("unselect")) {
        QAccessibleTableInterface* table = listIface->tableInterface();
        QVERIFY(table);
        QVERIFY(how == QLatin1String("select") ? table->selectRow(row) : table->unselectRow(row));
    } else if (how == QLatin1String("click")) {
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    } else {
        list->setFocus();
        list->setCurrentIndex(list->model()->index(row, 0));
        QTest::keyClick(list, Qt::Key_Space);
    }

    QSet<QUuid> expected;
    for (int index : checkedAfter)
        expected.insert(tasks.at(index).id);
    QCOMPARE(content()->selectedTaskIDs(), expected);
    for (int index = 0; index < 3; ++index) {
        QCOMPARE(listIface->child(index)->state().checked, checkedAfter.contains(index));
        // The list's selection is the check marks, so a screen reader hears them both ways.
        QCOMPARE(listIface->child(index)->state().selected, checkedAfter.contains(index));
    }
    // Still in select mode: the detail counts the checked tasks, no task was opened.
    QVERIFY(content()->isSelectMode());
    auto* title =
        content()->currentDetail()->findChild<QLabel*>(QStringLiteral("empty-state-title"));
    QVERIFY(title);
    QCOMPARE(title->text(), checkedAfter.isEmpty() ? QStringLiteral("No Tasks Selected")
                                                   : QStringLiteral("%1 Task%2 Selected")
                                                         .arg(checkedAfter.size())
                                                         .arg(checkedAfter.size() == 1 ? "" : "s"));
    // Leaving select mode leaves no row selected.
    content()->leaveSelectMode();
    QVERIFY(list->selectionModel()->selectedIndexes().isEmpty());
}

// After a change the pane is rebuilt; the keyboard user stays on the same control or on the
// task list, never in the filter field.
void TestAccessibility::focusStaysAfterChange_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("focusedAfter");
    QTest::newRow("enabled switch by Space") << "detail-enabled-toggle"
                                             << "space"
                                             << "detail-enabled-toggle";
    QTest::newRow("store change behind") << "detail-edit"
                                         << "store"
                                         << "detail-edit";
    QTest::newRow("delete") << "detail-delete"
                            << "space"
                            << "sidebar-task-list";
}

void TestAccessibility::focusStaysAfterChange()
{
    QFETCH(QString, control);
    QFETCH(QString, change);
    QFETCH(QString, focusedAfter);
    const ScheduledTask task =
        TaskBuilder(QStringLiteral("Focus")).command(QStringLiteral("true")).build();
    const ScheduledTask other =
        TaskBuilder(QStringLiteral("Other")).command(QStringLiteral("true")).build();
    makeWindow({task, other});
    content()->setSelection(SidebarSection::task(task.id));
    QWidget* before = child<QWidget>(content()->currentDetail(), control);
    before->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), before, 5000);
    if (change == QLatin1String("space")) {
        QTest::keyClick(before, Qt::Key_Space);
    } else {
        ScheduledTask renamed = task;
        renamed.command = QStringLiteral("echo changed");
        m_fixture->store->updateTask(renamed);
    }
    // The change reaches the store, and the detail (updated in place or rebuilt) shows it.
    QTRY_VERIFY_WITH_TIMEOUT(
        !m_fixture->store->task(task.id) || *m_fixture->store->task(task.id) != task, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const auto* detail = qobject_cast<const TaskDetailView*>(content()->currentDetail());
            const ScheduledTask* stored = m_fixture->store->task(task.id);
            return !stored || (detail && detail->task() == *stored);
        }(),
        5000);
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::focusWidget(), 5000);
    QCOMPARE(QApplication::focusWidget()->objectName(), focusedAfter);
    QVERIFY(QApplication::focusWidget() != content()->sidebar()->filterField());
    if (focusedAfter != QLatin1String("sidebar-task-list"))
        QVERIFY(content()->currentDetail()->isAncestorOf(QApplication::focusWidget()));
    // The next Space acts on the focused control, not in the filter.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QVERIFY(content()->sidebar()->filterField()->text().isEmpty());
}

void TestAccessibility::windowLayoutRemembered()
{
    QTemporaryDir dir;
    QSettings settings(dir.path() + QStringLiteral("/prefs.ini"), QSettings::IniFormat);
    makeWindow({});
    m_window->resize(910, 640);
    content()->splitter()->setSizes({330, 580});
    QTRY_COMPARE_WITH_TIMEOUT(m_window->size(), QSize(910, 640), 5000);
    const QList<int> sizes = content()->splitter()->sizes();
    m_window->saveLayout(settings);
    m_window.reset();

    MainWindow again(*m_fixture->store, *m_updater, m_dialogs, [] { return QList<LaunchdJob>(); });
    again.restoreLayout(settings);
    QVERIFY(showActive(again));
    QTRY_COMPARE_WITH_TIMEOUT(again.size(), QSize(910, 640), 5000);
    QCOMPARE(again.contentView()->splitter()->sizes(), sizes);

    // Nothing saved yet: the window keeps its first size.
    QSettings empty(dir.path() + QStringLiteral("/none.ini"), QSettings::IniFormat);
    MainWindow fresh(*m_fixture->store, *m_updater, m_dialogs, [] { return QList<LaunchdJob>(); });
    fresh.restoreLayout(empty);
    QCOMPARE(fresh.size(), QSize(700, 500));
}

// At 1.5 times the font the add buttons' symbols grow with their text.
void TestAccessibility::buttonSymbolsFollowFont_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<double>("scale");
    for (const double scale : {1.0, 1.5}) {
        QTest::addRow("sidebar %g", scale) << "sidebar-add-task" << scale;
        QTest::addRow("toolbar %g", scale) << "toolbar-add-task" << scale;
    }
}

void TestAccessibility::buttonSymbolsFollowFont()
{
    QFETCH(QString, button);
    QFETCH(double, scale);
    const QFont normal = QApplication::font();
    QFont font = normal;
    font.setPointSizeF(font.pointSizeF() * scale);
    QApplication::setFont(font);
    makeWindow({});
    auto* control = child<QAbstractButton>(m_window.get(), button);
    const int letters = control->fontMetrics().height();
    QApplication::setFont(normal);
    QVERIFY2(control->iconSize().height() >= letters * 8 / 10,
             qPrintable(QStringLiteral("symbol %1 beside letters %2")
                            .arg(control->iconSize().height())
                            .arg(letters)));
    QVERIFY(control->iconSize().height() <= std::max(16, letters) + 2);
}

void TestAccessibility::platformTexts_data()
{
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("expected");
    const PlatformTexts& mac = PlatformTexts::forMac();
    const PlatformTexts& linux_ = PlatformTexts::forLinux();
    // macOS keeps its wording exactly.
    QTest::newRow("mac wake toggle") << mac.wakeToggle << "Wake Mac for this task";
    QTest::newRow("mac wake line") << mac.wakeScheduled << "Wakes Mac 5 min before";
    QTest::newRow("mac delete") << mac.deleteSuffix << "? This will also remove the launchd job.";
    QTest::newRow("mac bulk delete")
        << mac.bulkDeleteSuffix << " tasks? This will also remove their launchd jobs.";
    QTest::newRow("mac no shortcuts")
        << mac.noShortcutsText << "Create a shortcut in the Shortcuts app first.";
    QTest::newRow("linux wake toggle") << linux_.wakeToggle << "Wake computer for this task";
    QTest::newRow("linux wake caption") << linux_.wakes << "Wakes your computer";
    QTest::newRow("linux no tool")
        << linux_.noShortcutsTool << "The `shortcuts` command is not installed";
    // On Linux no text names the Mac or launchd.
    for (const QString& text :
         {linux_.wakeToggle, linux_.wakes, linux_.wakeScheduled, linux_.deleteSuffix,
          linux_.bulkDeleteSuffix, linux_.noShortcutsText, linux_.noShortcutsTool}) {
        QTest::addRow("linux: %s", qPrintable(text))
            << QString::number(text.contains(QLatin1String("Mac")) ||
                               text.contains(QLatin1String("launchd")))
            << "0";
    }
}

void TestAccessibility::platformTexts()
{
    QFETCH(QString, shown);
    QFETCH(QString, expected);
    QCOMPARE(shown, expected);
}

void TestAccessibility::shortcutsOfferedOnlyWithTheTool()
{
    QTemporaryDir dir;
    const QString tool = dir.path() + QStringLiteral("/shortcuts");
    qputenv("BRENMOR_OPS_SHORTCUTS", tool.toUtf8());
    {
        AddTaskView sheet(*m_fixture->store, m_dialogs);
        QVERIFY(
            !child<QWidget>(&sheet, QStringLiteral("form-from-shortcuts"))->isVisibleTo(&sheet));
    }
    QFile script(tool);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    {
        AddTaskView sheet(*m_fixture->store, m_dialogs);
        QVERIFY(child<QWidget>(&sheet, QStringLiteral("form-from-shortcuts"))->isVisibleTo(&sheet));
    }
    qunsetenv("BRENMOR_OPS_SHORTCUTS");
    // The form's texts on this platform come from its table.
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    QCOMPARE(child<QAbstractButton>(&sheet, QStringLiteral("form-wake"))->text(),
             PlatformTexts::current().wakeToggle);
}

QTEST_MAIN(TestAccessibility)
#include "TestAccessibility.moc"
