// The task form and its two sheets, driven through object names over a store whose launchd and
// wake services are fakes; choosers and builders are answered by FakeDialogs.
#include "AddTaskView.h"
#include "AppFakes.h"
#include "EditTaskView.h"
#include "PlatformTexts.h"
#include "TaskFormState.h"
#include "TaskFormView.h"
#include "TaskRunner.h"
#include "TimeInputView.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(TaskSchedule)

namespace {

ScheduledTask taskWith(const TaskSchedule& schedule, bool wake = false)
{
    ScheduledTask task = ScheduledTask::create(
        QStringLiteral("Backup"), QStringLiteral("rsync -a ~/src /Volumes/b"), schedule);
    task.wakeBeforeRun = wake;
    task.useLoginShell = false;
    task.workingDirectory = QStringLiteral("/tmp/work");
    task.isEnabled = false;
    TaskLog log;
    log.id = QUuid::createUuid();
    log.timestamp = TaskLog::timestampOf(QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC));
    log.exitCode = 2;
    log.output = QStringLiteral("old");
    task.logs = {log};
    return task;
}

void choose(QComboBox* combo, const QVariant& data)
{
    const int index = combo->findData(data);
    QVERIFY(index >= 0);
    combo->setCurrentIndex(index);
    Q_EMIT combo->activated(index);
}

// An entry of the kind picker by its data: the case name of its (first) kind.
void chooseKind(QWidget* root, const QString& caseName)
{
    choose(child<QComboBox>(root, QStringLiteral("form-schedule-kind")), caseName);
}

void setTime(QWidget* root, int row, int hour, int minute)
{
    auto* input = child<TimeInputView>(root, QStringLiteral("form-time-%1").arg(row));
    input->hourPicker()->setCurrentIndex(hour);
    input->minutePicker()->setCurrentIndex(minute);
}

QList<TimeInputView*> timeRows(QWidget* root)
{
    QList<TimeInputView*> rows;
    for (int index = 0;; ++index) {
        auto* row = root->findChild<TimeInputView*>(QStringLiteral("form-time-%1").arg(index));
        if (!row)
            return rows;
        rows.append(row);
    }
}

void fillNameAndCommand(QWidget* root, const QString& name, const QString& command)
{
    QTest::keyClicks(child<QLineEdit>(root, QStringLiteral("form-task-name")), name);
    child<QPlainTextEdit>(root, QStringLiteral("form-task-command"))->setPlainText(command);
}

// What a screen reader does: the control's own "Toggle" action, never a click.
void accessibleToggle(QWidget* control)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
    QVERIFY(iface && iface->actionInterface());
    QVERIFY(iface->actionInterface()->actionNames().contains(
        QAccessibleActionInterface::toggleAction()));
    iface->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
}

// Dictation and screen readers set text through the editable text interface.
void accessibleInsert(QWidget* field, const QString& text)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(field);
    QVERIFY(iface && iface->editableTextInterface());
    iface->editableTextInterface()->insertText(0, text);
}

} // namespace

class TestTaskForm : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void roundTripsEverySchedule_data();
    void roundTripsEverySchedule();
    void intervalLabels_data();
    void intervalLabels();
    void wakeCaptions_data();
    void wakeCaptions();
    void loginShellCaption_data();
    void loginShellCaption();

    void newTaskDefaults();
    void addEnabledOnlyWithNameAndCommand_data();
    void addEnabledOnlyWithNameAndCommand();
    void blankNameCannotBeSavedInEdit();
    void storedIntervalOutsideTheChoicesIsLabelled_data();
    void storedIntervalOutsideTheChoicesIsLabelled();
    void sheetButtonsKeepTheStyleSpacing();
    void shortMonthsCaption_data();
    void shortMonthsCaption();
    void timesSortedOnSave();
    void removeButtonsOnlyFromTwoTimes();
    void lastWeekdayStaysChosen();
    void intervalSwitchedToDailyShowsSeven();
    void hiddenValuesKeptButDropped();
    void groupKeepsItsChoice_data();
    void groupKeepsItsChoice();
    void wakeToggleHiddenAndFlagKept_data();
    void wakeToggleHiddenAndFlagKept();
    void editKeepsIdentityEnabledAndLogs();
    void commandBuilders_data();
    void commandBuilders();
    void choosers_data();
    void choosers();
    void testRunUsesUnsavedForm();
    void sheetNeverTallerThanItsWindow();
    void sheetCanBeResized();

    void accessibleChangesReachTheTask_data();
    void accessibleChangesReachTheTask();
    void nameAndCommandThroughAccessibleText();
    void typedDigitsPickByNumber_data();
    void typedDigitsPickByNumber();
    void pickersLabelledByTheirTitles();
    void timeRowsFollowScheduleTypeInTabOrder();

private:
    std::unique_ptr<FakeStoreFixture> m_fixture;
    FakeDialogs m_dialogs;
};

void TestTaskForm::init()
{
    m_fixture = std::make_unique<FakeStoreFixture>();
    m_dialogs = FakeDialogs();
}

void TestTaskForm::cleanup() { m_fixture.reset(); }

void TestTaskForm::roundTripsEverySchedule_data()
{
    QTest::addColumn<TaskSchedule>("schedule");
    // What the edit sheet shows: the kind picker's text, the second picker's (empty: hidden),
    // and which of the kinds' controls are visible.
    QTest::addColumn<QString>("kindText");
    QTest::addColumn<QString>("groupText");
    QTest::addColumn<QStringList>("shown");
    const QList<TimeOfDay> times = {TimeOfDay{6, 5}, TimeOfDay{18, 45}};
    const QString time = QStringLiteral("form-time-0");
    const QString wake = QStringLiteral("form-wake");
    QTest::newRow("run at load") << TaskSchedule::of<TaskSchedule::RunAtLoad>()
                                 << "Run at load (login / reboot)"
                                 << "" << QStringList{"form-run-at-load-caption"};
    QTest::newRow("interval 90") << TaskSchedule::of<TaskSchedule::Interval>({90})
                                 << "Every N minutes"
                                 << "" << QStringList{"form-interval"};
    QTest::newRow("interval off the list")
        << TaskSchedule::of<TaskSchedule::Interval>({7}) << "Every N minutes"
        << "" << QStringList{"form-interval"};
    QTest::newRow("daily") << TaskSchedule::of<TaskSchedule::Daily>({times}) << "Daily"
                           << "" << QStringList{time, wake};
    QTest::newRow("weekly") << TaskSchedule::of<TaskSchedule::Weekly>({{1, 4, 7}, times})
                            << "Weekly"
                            << "" << QStringList{"form-weekday-1", time, wake};
    QTest::newRow("monthly day 31")
        << TaskSchedule::of<TaskSchedule::Monthly>({31, times}) << "Monthly"
        << "Specific day" << QStringList{"form-day", "form-short-months", time, wake};
    QTest::newRow("last day") << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({times})
                              << "Monthly"
                              << "Last day of month"
                              << QStringList{"form-last-day-caption", time, wake};
    QTest::newRow("3rd Friday") << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({3, 6, times})
                                << "Monthly"
                                << "Nth weekday"
                                << QStringList{"form-nth-week", "form-nth-weekday", time, wake};
}

void TestTaskForm::roundTripsEverySchedule()
{
    QFETCH(TaskSchedule, schedule);
    QFETCH(QString, kindText);
    QFETCH(QString, groupText);
    QFETCH(QStringList, shown);
    const ScheduledTask task = taskWith(schedule, true);
    QCOMPARE(TaskFormState::fromTask(task).applied(task), task);

    // The same through the widgets: the edit sheet opened and saved untouched.
    m_fixture->store->addTask(task);
    EditTaskView sheet(*m_fixture->store, m_dialogs, task);
    QCOMPARE(child<QComboBox>(&sheet, QStringLiteral("form-schedule-kind"))->currentText(),
             kindText);
    auto* group = child<QComboBox>(&sheet, QStringLiteral("form-monthly-type"));
    QCOMPARE(group->isVisibleTo(&sheet), !groupText.isEmpty());
    if (!groupText.isEmpty())
        QCOMPARE(group->currentText(), groupText);
    // Every control of a kind is shown exactly for the kinds that use it.
    const QStringList controls = {"form-run-at-load-caption",
                                  "form-interval",
                                  "form-weekday-1",
                                  "form-day",
                                  "form-short-months",
                                  "form-last-day-caption",
                                  "form-nth-week",
                                  "form-nth-weekday",
                                  "form-time-0",
                                  "form-wake"};
    for (const QString& name : controls)
        QVERIFY2(child<QWidget>(&sheet, name)->isVisibleTo(&sheet) == shown.contains(name),
                 qPrintable(name));
    child<QPushButton>(&sheet, QStringLiteral("form-save"))->click();
    QCOMPARE(m_fixture->store->tasks().size(), 1);
    QCOMPARE(m_fixture->store->tasks().constFirst(), task);
}

void TestTaskForm::intervalLabels_data()
{
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QString>("label");
    QTest::newRow("1") << 1 << "Every 1 min";
    QTest::newRow("45") << 45 << "Every 45 min";
    QTest::newRow("60") << 60 << "Every 1 hour";
    QTest::newRow("90") << 90 << "Every 1h 30m";
    QTest::newRow("120") << 120 << "Every 2 hours";
    QTest::newRow("1440") << 1440 << "Every 24 hours";
}

void TestTaskForm::intervalLabels()
{
    QFETCH(int, minutes);
    QFETCH(QString, label);
    QCOMPARE(TaskFormText::intervalLabel(minutes), label);
}

void TestTaskForm::wakeCaptions_data()
{
    QTest::addColumn<QString>("monthlyKind");
    QTest::addColumn<QString>("caption");
    QTest::newRow("specific day")
        << QStringLiteral("monthly")
        << "%1 5 minutes before the scheduled time so the task can run even during "
           "sleep.";
    QTest::newRow("last day") << QStringLiteral("monthlyLastDay")
                              << "%1 every day from the 28th to the 31st, 5 minutes "
                                 "before the scheduled time. The task only runs on the actual "
                                 "last day.";
    QTest::newRow("nth weekday") << QStringLiteral("monthlyNthWeekday")
                                 << "%1 every Thursday 5 minutes before the scheduled "
                                    "time. The task only runs on the 2nd occurrence.";
}

void TestTaskForm::wakeCaptions()
{
    QFETCH(QString, monthlyKind);
    QFETCH(QString, caption);
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    chooseKind(&sheet, QStringLiteral("monthly"));
    choose(child<QComboBox>(&sheet, QStringLiteral("form-monthly-type")), monthlyKind);
    choose(child<QComboBox>(&sheet, QStringLiteral("form-nth-week")), 2);
    choose(child<QComboBox>(&sheet, QStringLiteral("form-nth-weekday")), 5);
    // "Wakes your Mac" on macOS, "Wakes your computer" elsewhere.
    QCOMPARE(child<QLabel>(&sheet, QStringLiteral("form-wake-caption"))->text(),
             caption.arg(PlatformTexts::current().wakes));
}

void TestTaskForm::loginShellCaption_data()
{
    // The caption names the shell a run with the login shell starts, whatever SHELL says.
    const QString runs = QFileInfo(TaskRunner::shellFor(true).program).fileName();
    QTest::addColumn<QString>("shell");
    QTest::addColumn<bool>("on");
    QTest::addColumn<QString>("tail");
    QTest::newRow("fish in SHELL") << "/usr/local/bin/fish" << true << "). Using " + runs;
    QTest::newRow("SHELL unset") << "" << true << "). Using " + runs;
    QTest::newRow("off") << "/bin/zsh" << false << "). ";
}

void TestTaskForm::loginShellCaption()
{
    QFETCH(QString, shell);
    QFETCH(bool, on);
    QFETCH(QString, tail);
    const QByteArray saved = qgetenv("SHELL");
    if (shell.isEmpty())
        qunsetenv("SHELL");
    else
        qputenv("SHELL", shell.toUtf8());
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    auto* toggle = child<QCheckBox>(&sheet, QStringLiteral("form-login-shell"));
    if (toggle->isChecked() != on)
        toggle->click();
    const QString text = child<QLabel>(&sheet, QStringLiteral("form-login-shell-caption"))->text();
    qputenv("SHELL", saved);
    QVERIFY2(text.endsWith(tail), qPrintable(text));
    QVERIFY(text.startsWith(QStringLiteral("Load your shell profile to inherit env vars")));
    if (on && QFileInfo(QStringLiteral("/bin/zsh")).isExecutable())
        QVERIFY2(text.endsWith(QLatin1String("Using zsh")), qPrintable(text));
    QVERIFY(TaskFormText::loginShellCaption(true, QString()).endsWith(u"Using unknown"));
}

void TestTaskForm::newTaskDefaults()
{
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    QSignalSpy created(&sheet, &AddTaskView::created);
    QCOMPARE(child<QLineEdit>(&sheet, QStringLiteral("form-task-name"))->accessibleName(),
             QStringLiteral("Task Name"));
    QCOMPARE(child<QPushButton>(&sheet, QStringLiteral("form-add-task"))->accessibleName(),
             QStringLiteral("Add Task"));
    QVERIFY(child<QLabel>(&sheet, QStringLiteral("form-command-placeholder"))->isVisibleTo(&sheet));
    fillNameAndCommand(&sheet, QStringLiteral("Nightly"), QStringLiteral("make"));
    QVERIFY(
        !child<QLabel>(&sheet, QStringLiteral("form-command-placeholder"))->isVisibleTo(&sheet));
    child<QPushButton>(&sheet, QStringLiteral("form-add-task"))->click();

    QCOMPARE(created.size(), 1);
    QCOMPARE(m_fixture->store->tasks().size(), 1);
    const ScheduledTask& saved = m_fixture->store->tasks().constFirst();
    QCOMPARE(created.at(0).at(0).value<ScheduledTask>(), saved);
    QCOMPARE(saved.schedule, TaskSchedule::of<TaskSchedule::Daily>({{TimeOfDay{7, 0}}}));
    QVERIFY(saved.useLoginShell);
    QVERIFY(!saved.wakeBeforeRun);
    QVERIFY(saved.isEnabled);
    QVERIFY(saved.logs.isEmpty());
    QVERIFY(!saved.workingDirectory);
    QVERIFY(!saved.envFilePath);
    QVERIFY(!saved.id.isNull());
    QCOMPARE(sheet.result(), int(QDialog::Accepted));
}

void TestTaskForm::addEnabledOnlyWithNameAndCommand_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("nameMessage");
    QTest::addColumn<QString>("commandMessage");
    QTest::newRow("both") << "Job"
                          << "true" << true << ""
                          << "";
    QTest::newRow("spaces kept around a name") << " Job  "
                                               << "true" << true << ""
                                               << "";
    QTest::newRow("spaces only name") << "   "
                                      << "true" << false << "Enter a name"
                                      << "";
    QTest::newRow("tab only name") << "\t"
                                   << "true" << false << "Enter a name"
                                   << "";
    QTest::newRow("no command") << "Job"
                                << "" << false << ""
                                << "Enter a command";
    QTest::newRow("no name") << ""
                             << "true" << false << "Enter a name"
                             << "";
    QTest::newRow("neither") << ""
                             << "" << false << "Enter a name"
                             << "Enter a command";
}

void TestTaskForm::addEnabledOnlyWithNameAndCommand()
{
    QFETCH(QString, name);
    QFETCH(QString, command);
    QFETCH(bool, enabled);
    QFETCH(QString, nameMessage);
    QFETCH(QString, commandMessage);
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    fillNameAndCommand(&sheet, name, command);
    auto* add = child<QPushButton>(&sheet, QStringLiteral("form-add-task"));
    QCOMPARE(add->isEnabled(), enabled);
    // What is missing is said under its field, and only then.
    for (const auto& [objectName, message] :
         {std::pair{QStringLiteral("form-name-message"), nameMessage},
          std::pair{QStringLiteral("form-command-message"), commandMessage}}) {
        auto* label = child<QLabel>(&sheet, objectName);
        QCOMPARE(label->isVisibleTo(&sheet), !message.isEmpty());
        if (!message.isEmpty())
            QCOMPARE(label->text(), message);
    }
    QCOMPARE(child<QPushButton>(&sheet, QStringLiteral("form-test-run"))->isEnabled(),
             !command.isEmpty());
    // Return reaches the default button even while it is disabled: nothing may be added.
    sheet.show();
    QTest::keyClick(&sheet, Qt::Key_Return);
    QCOMPARE(m_fixture->store->tasks().size(), enabled ? 1 : 0);
    if (enabled)
        QCOMPARE(m_fixture->store->tasks().constFirst().name, name);
}

void TestTaskForm::blankNameCannotBeSavedInEdit()
{
    ScheduledTask task = taskWith(TaskSchedule::of<TaskSchedule::Daily>({{{9, 0}}}));
    m_fixture->store->addTask(task);
    EditTaskView sheet(*m_fixture->store, m_dialogs, task);
    sheet.show();
    auto* name = child<QLineEdit>(&sheet, QStringLiteral("form-task-name"));
    auto* save = child<QPushButton>(&sheet, QStringLiteral("form-save"));
    auto* message = child<QLabel>(&sheet, QStringLiteral("form-name-message"));
    QVERIFY(save->isEnabled());
    QVERIFY(!message->isVisibleTo(&sheet));
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("  "));
    QVERIFY(!save->isEnabled());
    QVERIFY(message->isVisibleTo(&sheet));
    QCOMPARE(message->text(), QStringLiteral("Enter a name"));
    QTest::keyClick(&sheet, Qt::Key_Return);
    QCOMPARE(m_fixture->store->task(task.id)->name, task.name);
    QVERIFY(sheet.isVisible());
}

void TestTaskForm::storedIntervalOutsideTheChoicesIsLabelled_data()
{
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QString>("label");
    QTest::newRow("7") << 7 << "Every 7 min";
    QTest::newRow("100") << 100 << "Every 1h 40m";
    QTest::newRow("one of the choices") << 15 << "Every 15 min";
}

void TestTaskForm::storedIntervalOutsideTheChoicesIsLabelled()
{
    QFETCH(int, minutes);
    QFETCH(QString, label);
    EditTaskView sheet(*m_fixture->store, m_dialogs,
                       taskWith(TaskSchedule::of<TaskSchedule::Interval>({minutes})));
    auto* picker = child<QComboBox>(&sheet, QStringLiteral("form-interval"));
    QCOMPARE(picker->currentText(), label);
    QCOMPARE(picker->currentData().toInt(), minutes);
    // Every entry reads like the others.
    for (int index = 0; index < picker->count(); ++index)
        QVERIFY2(picker->itemText(index).startsWith(QLatin1String("Every ")),
                 qPrintable(picker->itemText(index)));
}

void TestTaskForm::sheetButtonsKeepTheStyleSpacing()
{
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    const int spacing = TaskFormView::sheetButtonSpacing(&sheet);
    QVERIFY(spacing > 0);
    const QWidget* previous = nullptr;
    for (const char* name : {"form-cancel", "form-test-run", "form-add-task"}) {
        auto* button = child<QPushButton>(&sheet, QString::fromLatin1(name));
        if (previous)
            QVERIFY2(button->geometry().left() - previous->geometry().right() - 1 >= spacing, name);
        previous = button;
    }
    auto* testRun = child<QPushButton>(&sheet, QStringLiteral("form-test-run"));
    auto* add = child<QPushButton>(&sheet, QStringLiteral("form-add-task"));
    QCOMPARE(add->geometry().left() - testRun->geometry().right() - 1, spacing);
}

void TestTaskForm::shortMonthsCaption_data()
{
    QTest::addColumn<int>("day");
    QTest::addColumn<QString>("caption");
    QTest::newRow("28") << 28 << "";
    QTest::newRow("29") << 29 << "This task won't run in months with fewer than 29 days.";
    QTest::newRow("31") << 31 << "This task won't run in months with fewer than 31 days.";
}

void TestTaskForm::shortMonthsCaption()
{
    QFETCH(int, day);
    QFETCH(QString, caption);
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    chooseKind(&sheet, QStringLiteral("monthly"));
    choose(child<QComboBox>(&sheet, QStringLiteral("form-day")), day);
    auto* label = child<QLabel>(&sheet, QStringLiteral("form-short-months"));
    QCOMPARE(label->isVisibleTo(&sheet), !caption.isEmpty());
    if (!caption.isEmpty())
        QCOMPARE(label->text(), caption);
}

void TestTaskForm::timesSortedOnSave()
{
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    fillNameAndCommand(&sheet, QStringLiteral("Twice"), QStringLiteral("true"));
    setTime(&sheet, 0, 17, 30);
    child<QPushButton>(&sheet, QStringLiteral("form-add-time"))->click();
    QCOMPARE(timeRows(&sheet).size(), 2);
    QCOMPARE(timeRows(&sheet).at(1)->hour(), 9);
    QCOMPARE(timeRows(&sheet).at(1)->minute(), 0);
    // The form keeps the entered order; only the saved schedule is sorted.
    QCOMPARE(timeRows(&sheet).at(0)->hour(), 17);
    child<QPushButton>(&sheet, QStringLiteral("form-add-task"))->click();
    QCOMPARE(m_fixture->store->tasks().constFirst().schedule,
             TaskSchedule::of<TaskSchedule::Daily>({{TimeOfDay{9, 0}, TimeOfDay{17, 30}}}));
}

void TestTaskForm::removeButtonsOnlyFromTwoTimes()
{
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    QVERIFY(!sheet.findChild<QPushButton*>(QStringLiteral("form-remove-time-0")));
    child<QPushButton>(&sheet, QStringLiteral("form-add-time"))->click();
    child<QPushButton>(&sheet, QStringLiteral("form-add-time"))->click();
    setTime(&sheet, 2, 21, 15);
    QCOMPARE(timeRows(&sheet).size(), 3);
    child<QPushButton>(&sheet, QStringLiteral("form-remove-time-0"))->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(sheet.form()->state().times, (QList<TimeOfDay>{{9, 0}, {21, 15}}));
    child<QPushButton>(&sheet, QStringLiteral("form-remove-time-1"))->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(sheet.form()->state().times, (QList<TimeOfDay>{{9, 0}}));
    QVERIFY(!sheet.findChild<QPushButton*>(QStringLiteral("form-remove-time-0")));
}

void TestTaskForm::lastWeekdayStaysChosen()
{
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    fillNameAndCommand(&sheet, QStringLiteral("Weekly"), QStringLiteral("true"));
    chooseKind(&sheet, QStringLiteral("weekly"));
    auto* monday = child<QPushButton>(&sheet, QStringLiteral("form-weekday-2"));
    auto* wednesday = child<QPushButton>(&sheet, QStringLiteral("form-weekday-4"));
    QVERIFY(monday->isChecked());
    monday->click();
    QVERIFY(monday->isChecked());
    wednesday->click();
    child<QPushButton>(&sheet, QStringLiteral("form-weekday-7"))->click();
    monday->click();
    QVERIFY(!monday->isChecked());
    child<QPushButton>(&sheet, QStringLiteral("form-add-task"))->click();
    QCOMPARE(m_fixture->store->tasks().constFirst().schedule,
             TaskSchedule::of<TaskSchedule::Weekly>({{4, 7}, {TimeOfDay{7, 0}}}));
}

void TestTaskForm::intervalSwitchedToDailyShowsSeven()
{
    const ScheduledTask task = taskWith(TaskSchedule::of<TaskSchedule::Interval>({15}));
    EditTaskView sheet(*m_fixture->store, m_dialogs, task);
    QVERIFY(!child<QWidget>(&sheet, QStringLiteral("form-time-0"))->isVisibleTo(&sheet));
    chooseKind(&sheet, QStringLiteral("daily"));
    QCOMPARE(timeRows(&sheet).size(), 1);
    QVERIFY(timeRows(&sheet).at(0)->isVisibleTo(&sheet));
    QCOMPARE(timeRows(&sheet).at(0)->hour(), 7);
    QCOMPARE(timeRows(&sheet).at(0)->minute(), 0);
}

void TestTaskForm::hiddenValuesKeptButDropped()
{
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    fillNameAndCommand(&sheet, QStringLiteral("Switch"), QStringLiteral("true"));
    chooseKind(&sheet, QStringLiteral("monthly"));
    choose(child<QComboBox>(&sheet, QStringLiteral("form-day")), 15);
    setTime(&sheet, 0, 8, 15);
    choose(child<QComboBox>(&sheet, QStringLiteral("form-monthly-type")),
           QStringLiteral("monthlyLastDay"));
    chooseKind(&sheet, QStringLiteral("interval"));
    chooseKind(&sheet, QStringLiteral("monthly"));
    choose(child<QComboBox>(&sheet, QStringLiteral("form-monthly-type")),
           QStringLiteral("monthly"));
    QCOMPARE(child<QComboBox>(&sheet, QStringLiteral("form-day"))->currentText(),
             QStringLiteral("15"));
    QCOMPARE(timeRows(&sheet).at(0)->hour(), 8);
    chooseKind(&sheet, QStringLiteral("interval"));
    child<QPushButton>(&sheet, QStringLiteral("form-add-task"))->click();
    QCOMPARE(m_fixture->store->tasks().constFirst().schedule,
             TaskSchedule::of<TaskSchedule::Interval>({5}));
}

namespace {
TaskSchedule::Kind kindNamed(const QString& caseName)
{
    for (size_t index = 0; index < ScheduleKinds::count; ++index)
        if (QLatin1String(TaskFields::caseNames[index].data()) == caseName)
            return TaskSchedule::Kind(index);
    return TaskSchedule::Kind(-1);
}
} // namespace

void TestTaskForm::groupKeepsItsChoice_data()
{
    // Steps: "entry N" picks the kind picker's Nth entry (4: Monthly), "group <case>" the second
    // picker's kind; "open <case>" starts from a task of that kind.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("kind");
    QTest::newRow("new form: the group's first") << QStringList{"entry 4"} << "monthly";
    QTest::newRow("back to the group")
        << QStringList{"entry 4", "group monthlyLastDay", "entry 1", "entry 4"} << "monthlyLastDay";
    QTest::newRow("second picker while another kind is chosen")
        << QStringList{"entry 2", "group monthlyNthWeekday"} << "daily";
    QTest::newRow("remembered from the hidden picker")
        << QStringList{"entry 2", "group monthlyNthWeekday", "entry 4"} << "monthlyNthWeekday";
    QTest::newRow("opened task's kind")
        << QStringList{"open monthlyLastDay", "entry 0", "entry 4"} << "monthlyLastDay";
    QTest::newRow("entry out of range") << QStringList{"entry 3", "entry 99"} << "weekly";
}

void TestTaskForm::groupKeepsItsChoice()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, kind);
    TaskFormState state;
    for (const QString& step : steps) {
        const QString argument = step.section(QLatin1Char(' '), 1);
        if (step.startsWith(QLatin1String("entry"))) {
            state.chooseKindPickerEntry(argument.toInt());
        } else if (step.startsWith(QLatin1String("group"))) {
            state.chooseInGroup(kindNamed(argument));
        } else {
            TaskFields::withCase(size_t(kindNamed(argument)), [&]<typename Case>() {
                state = TaskFormState::fromTask(taskWith(TaskSchedule::of<Case>()));
            });
        }
    }
    QVERIFY(int(kindNamed(kind)) >= 0);
    QCOMPARE(int(state.scheduleKind), int(kindNamed(kind)));
    QCOMPARE(int(state.schedule().kind()), int(kindNamed(kind)));
}

void TestTaskForm::wakeToggleHiddenAndFlagKept_data()
{
    QTest::addColumn<TaskSchedule>("schedule");
    QTest::addColumn<bool>("wake");
    QTest::addColumn<bool>("toggleShown");
    QTest::newRow("interval, wake on")
        << TaskSchedule::of<TaskSchedule::Interval>({30}) << true << false;
    QTest::newRow("run at load, wake on")
        << TaskSchedule::of<TaskSchedule::RunAtLoad>() << true << false;
    QTest::newRow("interval, wake off")
        << TaskSchedule::of<TaskSchedule::Interval>({30}) << false << false;
    QTest::newRow("daily, wake on")
        << TaskSchedule::of<TaskSchedule::Daily>({{TimeOfDay{3, 0}}}) << true << true;
}

void TestTaskForm::wakeToggleHiddenAndFlagKept()
{
    QFETCH(TaskSchedule, schedule);
    QFETCH(bool, wake);
    QFETCH(bool, toggleShown);
    const ScheduledTask task = taskWith(schedule, wake);
    m_fixture->store->addTask(task);
    EditTaskView sheet(*m_fixture->store, m_dialogs, task);
    QCOMPARE(child<QCheckBox>(&sheet, QStringLiteral("form-wake"))->isVisibleTo(&sheet),
             toggleShown);
    QCOMPARE(child<QLabel>(&sheet, QStringLiteral("form-wake-caption"))->isVisibleTo(&sheet),
             toggleShown);
    child<QLineEdit>(&sheet, QStringLiteral("form-task-name"))->setText(QStringLiteral("Renamed"));
    child<QPushButton>(&sheet, QStringLiteral("form-save"))->click();
    const ScheduledTask& saved = m_fixture->store->tasks().constFirst();
    QCOMPARE(saved.name, QStringLiteral("Renamed"));
    QCOMPARE(saved.wakeBeforeRun, wake);
}

void TestTaskForm::editKeepsIdentityEnabledAndLogs()
{
    ScheduledTask task =
        taskWith(TaskSchedule::of<TaskSchedule::Weekly>({{2, 6}, {TimeOfDay{10, 0}}}));
    task.envFilePath = QStringLiteral("/tmp/.env");
    m_fixture->store->addTask(task);
    EditTaskView sheet(*m_fixture->store, m_dialogs, task);
    child<QLineEdit>(&sheet, QStringLiteral("form-working-dir"))->clear();
    Q_EMIT child<QLineEdit>(&sheet, QStringLiteral("form-working-dir"))->textEdited(QString());
    child<QPlainTextEdit>(&sheet, QStringLiteral("form-task-command"))
        ->setPlainText(QStringLiteral("  echo kept  "));
    child<QCheckBox>(&sheet, QStringLiteral("form-wake"))->click();
    child<QPushButton>(&sheet, QStringLiteral("form-save"))->click();

    ScheduledTask expected = task;
    expected.command = QStringLiteral("  echo kept  ");
    expected.workingDirectory.reset();
    expected.wakeBeforeRun = true;
    QCOMPARE(m_fixture->store->tasks().size(), 1);
    QCOMPARE(m_fixture->store->tasks().constFirst(), expected);
}

void TestTaskForm::commandBuilders_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("typedName");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("name");
    QTest::newRow("shortcut fills empty name") << "form-from-shortcuts"
                                               << ""
                                               << "shortcuts run 'Bob'\\''s Backup'"
                                               << "Bob's Backup";
    QTest::newRow("shortcut keeps typed name") << "form-from-shortcuts"
                                               << "Mine"
                                               << "shortcuts run 'Bob'\\''s Backup'"
                                               << "Mine";
    QTest::newRow("mail fills empty name") << "form-gmail-template"
                                           << ""
                                           << "curl --ssl-reqd smtps://x"
                                           << "Email Report";
    QTest::newRow("mail keeps typed name") << "form-gmail-template"
                                           << "Mine"
                                           << "curl --ssl-reqd smtps://x"
                                           << "Mine";
}

void TestTaskForm::commandBuilders()
{
    QFETCH(QString, button);
    QFETCH(QString, typedName);
    QFETCH(QString, command);
    QFETCH(QString, name);
    m_dialogs.shortcutChoice = QStringLiteral("Bob's Backup");
    m_dialogs.mailChoice =
        std::pair(QStringLiteral("curl --ssl-reqd smtps://x"), QStringLiteral("Email Report"));
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    fillNameAndCommand(&sheet, typedName, QStringLiteral("old command"));
    child<QPushButton>(&sheet, button)->click();
    QCOMPARE(child<QPlainTextEdit>(&sheet, QStringLiteral("form-task-command"))->toPlainText(),
             command);
    QCOMPARE(child<QLineEdit>(&sheet, QStringLiteral("form-task-name"))->text(), name);
    QCOMPARE(sheet.form()->state().command, command);
    QCOMPARE(sheet.form()->state().name, name);

    // A cancelled builder changes nothing.
    m_dialogs.shortcutChoice.reset();
    m_dialogs.mailChoice.reset();
    child<QPlainTextEdit>(&sheet, QStringLiteral("form-task-command"))
        ->setPlainText(QStringLiteral("kept"));
    child<QPushButton>(&sheet, button)->click();
    QCOMPARE(sheet.form()->state().command, QStringLiteral("kept"));
}

void TestTaskForm::choosers_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("folder chosen") << "form-choose-working-dir"
                                   << "form-working-dir" << true;
    QTest::newRow("folder cancelled") << "form-choose-working-dir"
                                      << "form-working-dir" << false;
    QTest::newRow("file chosen") << "form-choose-env-file"
                                 << "form-env-file" << true;
    QTest::newRow("file cancelled") << "form-choose-env-file"
                                    << "form-env-file" << false;
}

void TestTaskForm::choosers()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(bool, confirmed);
    if (confirmed) {
        m_dialogs.folderChoice = QStringLiteral("/chosen/folder");
        m_dialogs.fileChoice = QStringLiteral("/chosen/.env");
    }
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    auto* edit = child<QLineEdit>(&sheet, field);
    QTest::keyClicks(edit, QStringLiteral("/typed"));
    child<QPushButton>(&sheet, button)->click();
    const QString expected = !confirmed                    ? QStringLiteral("/typed")
                             : field.endsWith(u"env-file") ? QStringLiteral("/chosen/.env")
                                                           : QStringLiteral("/chosen/folder");
    QCOMPARE(edit->text(), expected);
    const TaskFormState& state = sheet.form()->state();
    QCOMPARE(field.endsWith(u"env-file") ? state.envFilePath : state.workingDirectory, expected);
}

void TestTaskForm::testRunUsesUnsavedForm()
{
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    child<QPlainTextEdit>(&sheet, QStringLiteral("form-task-command"))
        ->setPlainText(QStringLiteral("echo $GREETING"));
    QTest::keyClicks(child<QLineEdit>(&sheet, QStringLiteral("form-working-dir")),
                     QStringLiteral("/tmp/it's here"));
    QTest::keyClicks(child<QLineEdit>(&sheet, QStringLiteral("form-env-file")),
                     QStringLiteral("/tmp/my.env"));
    child<QCheckBox>(&sheet, QStringLiteral("form-login-shell"))->click();
    child<QPushButton>(&sheet, QStringLiteral("form-test-run"))->click();
    QCOMPARE(m_dialogs.testRuns.size(), 1);
    const ScheduledTask& run = m_dialogs.testRuns.constFirst();
    QCOMPARE(run.command, QStringLiteral("echo $GREETING"));
    QCOMPARE(run.workingDirectory, QStringLiteral("/tmp/it's here"));
    QCOMPARE(run.envFilePath, QStringLiteral("/tmp/my.env"));
    QVERIFY(!run.useLoginShell);
    // Trying is not saving.
    QVERIFY(m_fixture->store->tasks().isEmpty());
}

void TestTaskForm::sheetNeverTallerThanItsWindow()
{
    QWidget window;
    window.resize(700, 480);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    AddTaskView small(*m_fixture->store, m_dialogs, &window);
    QCOMPARE(small.width(), 520);
    QCOMPARE(small.height(), 480);
    window.resize(900, 900);
    AddTaskView tall(*m_fixture->store, m_dialogs, &window);
    QCOMPARE(tall.height(), 640);
}

void TestTaskForm::sheetCanBeResized()
{
    QWidget window;
    window.resize(900, 900);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    AddTaskView sheet(*m_fixture->store, m_dialogs, &window);
    QCOMPARE(sheet.size(), QSize(520, 640));
    // Neither fixed nor bounded by its first size: wider for long commands, smaller for a
    // small screen.
    QVERIFY(sheet.maximumWidth() > 520 && sheet.maximumHeight() > 640);
    QVERIFY(sheet.minimumWidth() < 520 && sheet.minimumHeight() < 640);
    sheet.resize(700, 400);
    QCOMPARE(sheet.size(), QSize(700, 400));
}

// Each control changed the way assistive technology changes it: toggled through its action,
// its value set without a user's activation, its text inserted through the text interface.
// The saved task, not only the screen, must show the change.
void TestTaskForm::accessibleChangesReachTheTask_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("value");
    QTest::addColumn<TaskSchedule>("schedule");
    QTest::addColumn<bool>("wake");
    QTest::addColumn<bool>("loginShell");
    const QList<TimeOfDay> seven = {TimeOfDay{7, 0}};
    const QString daily = QStringLiteral("daily");
    const QString weekly = QStringLiteral("weekly");
    QTest::newRow("Tue toggled") << weekly << "form-weekday-3"
                                 << "toggle" << 0
                                 << TaskSchedule::of<TaskSchedule::Weekly>({{2, 3}, seven}) << false
                                 << true;
    QTest::newRow("last weekday stays")
        << weekly << "form-weekday-2"
        << "toggle" << 0 << TaskSchedule::of<TaskSchedule::Weekly>({{2}, seven}) << false << true;
    QTest::newRow("wake toggled") << daily << "form-wake"
                                  << "toggle" << 0 << TaskSchedule::of<TaskSchedule::Daily>({seven})
                                  << true << true;
    QTest::newRow("login shell toggled")
        << daily << "form-login-shell"
        << "toggle" << 0 << TaskSchedule::of<TaskSchedule::Daily>({seven}) << false << false;
    QTest::newRow("hour set") << daily << "time-hour"
                              << "index" << 15
                              << TaskSchedule::of<TaskSchedule::Daily>({{TimeOfDay{15, 0}}})
                              << false << true;
    QTest::newRow("minute set") << daily << "time-minute"
                                << "index" << 45
                                << TaskSchedule::of<TaskSchedule::Daily>({{TimeOfDay{7, 45}}})
                                << false << true;
    QTest::newRow("interval set") << QStringLiteral("interval") << "form-interval"
                                  << "data" << 30 << TaskSchedule::of<TaskSchedule::Interval>({30})
                                  << false << true;
    QTest::newRow("monthly day set")
        << QStringLiteral("monthly") << "form-day"
        << "data" << 12 << TaskSchedule::of<TaskSchedule::Monthly>({12, seven}) << false << true;
}

void TestTaskForm::accessibleChangesReachTheTask()
{
    QFETCH(QString, kind);
    QFETCH(QString, control);
    QFETCH(QString, how);
    QFETCH(int, value);
    QFETCH(TaskSchedule, schedule);
    QFETCH(bool, wake);
    QFETCH(bool, loginShell);
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    fillNameAndCommand(&sheet, QStringLiteral("Job"), QStringLiteral("true"));
    // The schedule kind as a screen reader sets it: the value alone, no activation.
    auto* kindPicker = child<QComboBox>(&sheet, QStringLiteral("form-schedule-kind"));
    kindPicker->setCurrentIndex(kindPicker->findData(kind));
    auto* widget = child<QWidget>(&sheet, control);
    if (how == QLatin1String("toggle")) {
        accessibleToggle(widget);
    } else {
        auto* picker = qobject_cast<QComboBox*>(widget);
        QVERIFY(picker);
        picker->setCurrentIndex(how == QLatin1String("index") ? value : picker->findData(value));
    }
    child<QPushButton>(&sheet, QStringLiteral("form-add-task"))->click();
    QCOMPARE(m_fixture->store->tasks().size(), 1);
    const ScheduledTask& saved = m_fixture->store->tasks().constFirst();
    QCOMPARE(saved.schedule, schedule);
    QCOMPARE(saved.wakeBeforeRun, wake);
    QCOMPARE(saved.useLoginShell, loginShell);
    // The screen agrees with what was saved.
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        const bool checked = control == QLatin1String("form-wake")          ? wake
                             : control == QLatin1String("form-login-shell") ? loginShell
                                                                            : true;
        QCOMPARE(button->isChecked(), checked);
    }
}

void TestTaskForm::nameAndCommandThroughAccessibleText()
{
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    auto* add = child<QPushButton>(&sheet, QStringLiteral("form-add-task"));
    QVERIFY(!add->isEnabled());
    // The name as AT-SPI's setTextContents sets it, the command and folders by insertion.
    QAccessibleInterface* name = QAccessible::queryAccessibleInterface(
        child<QLineEdit>(&sheet, QStringLiteral("form-task-name")));
    name->setText(QAccessible::Value, QStringLiteral("Dictated"));
    QVERIFY(!add->isEnabled());
    accessibleInsert(child<QPlainTextEdit>(&sheet, QStringLiteral("form-task-command")),
                     QStringLiteral("make all"));
    accessibleInsert(child<QLineEdit>(&sheet, QStringLiteral("form-working-dir")),
                     QStringLiteral("/tmp/spoken"));
    accessibleInsert(child<QLineEdit>(&sheet, QStringLiteral("form-env-file")),
                     QStringLiteral("/tmp/spoken/.env"));
    QVERIFY(add->isEnabled());
    add->click();
    QCOMPARE(m_fixture->store->tasks().size(), 1);
    const ScheduledTask& saved = m_fixture->store->tasks().constFirst();
    QCOMPARE(saved.name, QStringLiteral("Dictated"));
    QCOMPARE(saved.command, QStringLiteral("make all"));
    QCOMPARE(saved.workingDirectory, QStringLiteral("/tmp/spoken"));
    QCOMPARE(saved.envFilePath, QStringLiteral("/tmp/spoken/.env"));
}

void TestTaskForm::typedDigitsPickByNumber_data()
{
    QTest::addColumn<bool>("hour");
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("picked");
    QTest::newRow("1 5") << true << 7 << "15" << 15;
    QTest::newRow("1") << true << 7 << "1" << 1;
    // Prefix search would move on from 1 to 10.
    QTest::newRow("1 on 1") << true << 1 << "1" << 1;
    QTest::newRow("1 on 10") << true << 10 << "1" << 1;
    QTest::newRow("2 5 past the end") << true << 7 << "25" << 5;
    QTest::newRow("0 9") << true << 7 << "09" << 9;
    QTest::newRow("2 3") << true << 0 << "23" << 23;
    QTest::newRow("minute 4 5") << false << 0 << "45" << 45;
    QTest::newRow("minute 7") << false << 30 << "7" << 7;
    QTest::newRow("minute 6 0 past the end") << false << 0 << "60" << 0;
}

void TestTaskForm::typedDigitsPickByNumber()
{
    QFETCH(bool, hour);
    QFETCH(int, start);
    QFETCH(QString, typed);
    QFETCH(int, picked);
    TimeInputView input(hour ? start : 7, hour ? 0 : start);
    QSignalSpy changed(&input, &TimeInputView::timeChanged);
    QTest::keyClicks(hour ? input.hourPicker() : input.minutePicker(), typed);
    QCOMPARE(hour ? input.hour() : input.minute(), picked);
    QCOMPARE(hour ? input.minute() : input.hour(), hour ? 0 : 7);
    if (picked != start)
        QVERIFY(!changed.isEmpty());
}

void TestTaskForm::pickersLabelledByTheirTitles()
{
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    const auto labelOf = [&](const QString& name) {
        QAccessibleInterface* iface =
            QAccessible::queryAccessibleInterface(child<QWidget>(&sheet, name));
        const auto relations = iface->relations(QAccessible::Label);
        return relations.isEmpty() ? QString()
                                   : relations.constFirst().first->text(QAccessible::Name);
    };
    QCOMPARE(labelOf(QStringLiteral("form-schedule-kind")), QStringLiteral("Type"));
    QCOMPARE(labelOf(QStringLiteral("form-interval")), QStringLiteral("Interval"));
    QCOMPARE(labelOf(QStringLiteral("form-monthly-type")), QStringLiteral("When"));
    QCOMPARE(labelOf(QStringLiteral("form-day")), QStringLiteral("Day"));
    QCOMPARE(child<QComboBox>(&sheet, QStringLiteral("form-schedule-kind"))->accessibleName(),
             QStringLiteral("Schedule type"));
    auto* time = child<TimeInputView>(&sheet, QStringLiteral("form-time-0"));
    QCOMPARE(time->hourPicker()->accessibleName(), QStringLiteral("Hour"));
    QCOMPARE(time->minutePicker()->accessibleName(), QStringLiteral("Minute"));
}

void TestTaskForm::timeRowsFollowScheduleTypeInTabOrder()
{
    AddTaskView sheet(*m_fixture->store, m_dialogs);
    QVERIFY(showActive(sheet));
    auto* kind = child<QComboBox>(&sheet, QStringLiteral("form-schedule-kind"));
    // Two times, so the rows carry remove buttons and were rebuilt after the form was made.
    child<QPushButton>(&sheet, QStringLiteral("form-add-time"))->click();
    // The replaced rows go once the event loop runs.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QList<TimeInputView*> rows = timeRows(&sheet);
    QCOMPARE(rows.size(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(rows.at(1)->isVisible(), 5000);
    kind->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), kind, 5000);
    const QList<QWidget*> expected = {
        rows.at(0)->hourPicker(),
        rows.at(0)->minutePicker(),
        child<QWidget>(&sheet, QStringLiteral("form-remove-time-0")),
        rows.at(1)->hourPicker(),
        rows.at(1)->minutePicker(),
        child<QWidget>(&sheet, QStringLiteral("form-remove-time-1")),
        child<QWidget>(&sheet, QStringLiteral("form-add-time")),
        child<QWidget>(&sheet, QStringLiteral("form-wake")),
    };
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTRY_VERIFY2_WITH_TIMEOUT(
            QApplication::focusWidget() == next,
            qPrintable(next->objectName() + QStringLiteral(" expected, at ") +
                       QApplication::focusWidget()->objectName() + QLatin1Char(' ') +
                       QApplication::focusWidget()->metaObject()->className()),
            5000);
    }
}

QTEST_MAIN(TestTaskForm)
#include "TestTaskForm.moc"
