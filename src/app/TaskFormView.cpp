#include "TaskFormView.h"

#include "AccessibleWidgets.h"
#include "Dialogs.h"
#include "Icons.h"
#include "PlatformTexts.h"
#include "Preflight.h"
#include "SheetSize.h"
#include "TaskRunner.h"
#include "TimeInputView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollArea>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <algorithm>

namespace {

QFont scaled(QFont font, qreal factor)
{
    font.setPointSizeF(font.pointSizeF() * factor);
    return font;
}

QGroupBox* section(const QString& title, QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(QStringLiteral("form-section-") + title.toLower());
    auto* layout = new QVBoxLayout(box);
    layout->setSpacing(6);
    return box;
}

QComboBox* picker(const QString& accessibleName, const QString& objectName, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(objectName);
    combo->setAccessibleName(accessibleName);
    return combo;
}

// The picker's title in front of it, as the grouped form draws it; the title is the picker's
// label for assistive technology too.
QWidget* labelledRow(const QString& title, QWidget* control, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(title, row);
    label->setBuddy(control);
    layout->addWidget(label);
    layout->addStretch();
    layout->addWidget(control);
    return row;
}

// `label` names a value outside the fixed list (a hand-edited or imported task) like the others.
void selectData(QComboBox* combo, int value, QString (*label)(int) = nullptr)
{
    const int index = combo->findData(value);
    if (index >= 0) {
        combo->setCurrentIndex(index);
        return;
    }
    combo->addItem(label ? label(value) : QString::number(value), value);
    combo->setCurrentIndex(combo->count() - 1);
}

QString fromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The kind picker's entry of a group.
std::optional<ScheduleKinds::PickerEntry> pickerGroup(const QString& group)
{
    for (const ScheduleKinds::PickerEntry& entry : ScheduleKinds::kindPicker())
        if (entry.grouped && entry.label == group)
            return entry;
    return std::nullopt;
}

// The second picker lists the kinds of the chosen kind's group; while the chosen kind has none it
// keeps the group it showed (the first group at the start) with that group's remembered kind.
void showGroup(QComboBox* picker, QString& shown, const TaskFormState& state)
{
    QString group = fromView(ScheduleKinds::formPlace(state.scheduleKind).group);
    if (group.isEmpty())
        group = shown;
    if (group.isEmpty()) {
        for (const ScheduleKinds::PickerEntry& entry : ScheduleKinds::kindPicker())
            if (entry.grouped && group.isEmpty())
                group = entry.label;
    }
    const std::optional<ScheduleKinds::PickerEntry> entry = pickerGroup(group);
    if (!entry)
        return;
    if (group != shown) {
        picker->clear();
        for (TaskSchedule::Kind kind : entry->kinds)
            picker->addItem(fromView(ScheduleKinds::formPlace(kind).label),
                            fromView(ScheduleKinds::caseName(kind)));
        shown = group;
    }
    const TaskSchedule::Kind chosen = entry->kinds.contains(state.scheduleKind)
                                          ? state.scheduleKind
                                          : state.chosenInGroup.value(group, entry->kinds.first());
    picker->setCurrentIndex(int(entry->kinds.indexOf(chosen)));
}

// Amber that stays readable on the palette's light and dark windows alike.
QColor warningColour(const QPalette& palette)
{
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    return dark ? QColor(0xff, 0x9f, 0x0a) : QColor(0xa8, 0x56, 0x00);
}

} // namespace

TaskFormView::TaskFormView(Dialogs& dialogs, TaskFormState state, QWidget* parent)
    : QWidget(parent), m_dialogs(dialogs), m_state(std::move(state))
{
    AccessibleWidgets::install();
    setObjectName(QStringLiteral("task-form"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    layout->addWidget(makeBasicSection());
    layout->addWidget(makeScheduleSection());
    layout->addWidget(makeEnvironmentSection());
    m_preflight = new QWidget(this);
    m_preflight->setObjectName(QStringLiteral("form-preflight"));
    m_preflight->setAccessibleName(QStringLiteral("Warnings"));
    auto* findings = new QVBoxLayout(m_preflight);
    findings->setContentsMargins(4, 0, 4, 0);
    findings->setSpacing(4);
    m_preflight->hide();
    layout->addWidget(m_preflight);
    layout->addStretch();
    m_preflightTimer = new QTimer(this);
    m_preflightTimer->setSingleShot(true);
    m_preflightTimer->setInterval(preflightDelayMs);
    connect(m_preflightTimer, &QTimer::timeout, this, &TaskFormView::runPreflight);
    rebuildTimes();
    refresh();
    // A task opened for editing shows what is wrong with it before any edit.
    schedulePreflight();
}

QLabel* TaskFormView::caption(const QString& text, const QString& objectName)
{
    auto* label = new QLabel(text, this);
    if (!objectName.isEmpty())
        label->setObjectName(objectName);
    label->setWordWrap(true);
    label->setFont(scaled(label->font(), 0.9));
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QLabel* TaskFormView::fieldMessage(const QString& objectName)
{
    QLabel* label = caption(QString(), objectName);
    label->setTextFormat(Qt::PlainText);
    label->hide();
    return label;
}

QPushButton* TaskFormView::linkButton(const QString& text, const QString& symbol,
                                      const QString& objectName)
{
    auto* button = new QPushButton(Icons::symbol(symbol), text, this);
    button->setObjectName(objectName);
    button->setAccessibleName(text);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(scaled(button->font(), 0.9));
    button->setStyleSheet(QStringLiteral("QPushButton { color: palette(link); border: none; "
                                         "padding: 2px 4px; text-align: left; }"
                                         "QPushButton:disabled { color: palette(mid); }"));
    button->setAutoDefault(false);
    return button;
}

QWidget* TaskFormView::makeBasicSection()
{
    QGroupBox* box = section(QStringLiteral("Basic"), this);
    auto* layout = static_cast<QVBoxLayout*>(box->layout());
    layout->addWidget(caption(QStringLiteral("Task Name")));
    m_name = new QLineEdit(m_state.name, box);
    m_name->setObjectName(QStringLiteral("form-task-name"));
    m_name->setAccessibleName(QStringLiteral("Task Name"));
    m_name->setPlaceholderText(QStringLiteral("My daily task"));
    layout->addWidget(m_name);
    m_nameMessage = fieldMessage(QStringLiteral("form-name-message"));
    layout->addWidget(m_nameMessage);
    connect(m_name, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text != m_state.name)
            change([&] { m_state.name = text; });
    });

    auto* commandRow = new QHBoxLayout;
    commandRow->addWidget(caption(QStringLiteral("Command")));
    commandRow->addStretch();
    m_gmailTemplate = linkButton(QStringLiteral("Gmail Template"), QStringLiteral("envelope"),
                                 QStringLiteral("form-gmail-template"));
    QPushButton* shortcuts =
        linkButton(QStringLiteral("From Shortcuts"), QStringLiteral("sparkles.rectangle.stack"),
                   QStringLiteral("form-from-shortcuts"));
    commandRow->addWidget(m_gmailTemplate);
    commandRow->addWidget(shortcuts);
    // Without the `shortcuts` command the picker could only ever be empty.
    shortcuts->setVisible(shortcutsToolAvailable());
    layout->addLayout(commandRow);
    connect(m_gmailTemplate, &QPushButton::clicked, this, &TaskFormView::openMailTemplate);
    connect(shortcuts, &QPushButton::clicked, this, &TaskFormView::openShortcutsPicker);

    m_command = new QPlainTextEdit(box);
    m_command->setObjectName(QStringLiteral("form-task-command"));
    m_command->setAccessibleName(QStringLiteral("Command"));
    m_command->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_command->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_command->setTabChangesFocus(true);
    m_command->setPlainText(m_state.command);
    m_command->setStyleSheet(QStringLiteral(
        "QPlainTextEdit { background: palette(base); border: 1px solid palette(mid); "
        "border-radius: 5px; padding: 4px; }"));
    // Drawn over the editor rather than as its placeholder so it sits where the text starts.
    m_commandPlaceholder =
        new QLabel(QStringLiteral("echo \"hello\" && npm run build"), m_command->viewport());
    m_commandPlaceholder->setObjectName(QStringLiteral("form-command-placeholder"));
    m_commandPlaceholder->setFont(m_command->font());
    m_commandPlaceholder->setForegroundRole(QPalette::PlaceholderText);
    m_commandPlaceholder->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_commandPlaceholder->move(4, 2);
    layout->addWidget(m_command);
    m_commandMessage = fieldMessage(QStringLiteral("form-command-message"));
    layout->addWidget(m_commandMessage);
    m_fieldFindings.insert(Preflight::Field::command,
                           fieldMessage(QStringLiteral("form-command-finding")));
    layout->addWidget(m_fieldFindings.value(Preflight::Field::command));
    connect(m_command, &QPlainTextEdit::textChanged, this, [this] {
        const QString text = m_command->toPlainText();
        if (text != m_state.command)
            change([&] { m_state.command = text; });
    });
    return box;
}

QWidget* TaskFormView::makeScheduleSection()
{
    QGroupBox* box = section(QStringLiteral("Schedule"), this);
    auto* layout = static_cast<QVBoxLayout*>(box->layout());

    m_scheduleKind =
        picker(QStringLiteral("Schedule type"), QStringLiteral("form-schedule-kind"), box);
    for (const ScheduleKinds::PickerEntry& entry : ScheduleKinds::kindPicker())
        m_scheduleKind->addItem(entry.label, entry.data);
    layout->addWidget(labelledRow(QStringLiteral("Type"), m_scheduleKind, box));
    connect(m_scheduleKind, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (m_refreshing || index < 0)
            return;
        change([&] { m_state.chooseKindPickerEntry(index); });
    });

    m_runAtLoadCaption = caption(QStringLiteral("Runs once when you log in or reboot."),
                                 QStringLiteral("form-run-at-load-caption"));
    layout->addWidget(m_runAtLoadCaption);

    m_interval = picker(QStringLiteral("Interval"), QStringLiteral("form-interval"), box);
    for (int minutes : TaskFormText::intervalChoices())
        m_interval->addItem(TaskFormText::intervalLabel(minutes), minutes);
    m_intervalRow = labelledRow(QStringLiteral("Interval"), m_interval, box);
    m_intervalCaption =
        caption(QStringLiteral("Starts when the task is enabled, then repeats at this interval."));
    layout->addWidget(m_intervalRow);
    layout->addWidget(m_intervalCaption);
    connect(m_interval, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (m_refreshing || index < 0)
            return;
        change([&] { m_state.intervalMinutes = m_interval->itemData(index).toInt(); });
    });

    m_weekdayRow = new QWidget(box);
    auto* days = new QHBoxLayout(m_weekdayRow);
    days->setContentsMargins(0, 0, 0, 0);
    days->setSpacing(4);
    for (int weekday = 1; weekday <= 7; ++weekday) {
        auto* day = new QPushButton(ScheduleText::weekdayAbbreviation(weekday), m_weekdayRow);
        day->setObjectName(QStringLiteral("form-weekday-%1").arg(weekday));
        day->setAccessibleName(day->text());
        day->setAccessibleDescription(ScheduleText::weekdayName(weekday));
        day->setCheckable(true);
        day->setAutoDefault(false);
        day->setFont(scaled(day->font(), 0.9));
        // Room for the widest abbreviation in the font the user chose.
        const QFontMetrics metrics(day->font());
        day->setFixedSize(std::max(36, metrics.horizontalAdvance(QStringLiteral("Wed")) + 14),
                          std::max(28, metrics.height() + 10));
        day->setStyleSheet(
            QStringLiteral("QPushButton { border-radius: 6px; background: palette(button); "
                           "color: palette(button-text); border: 1px solid palette(mid); }"
                           "QPushButton:checked { background: palette(highlight); color: white; "
                           "border: 1px solid palette(highlight); }"));
        connect(day, &QPushButton::toggled, this, [this, weekday](bool on) {
            if (!m_refreshing && on != m_state.weekdays.contains(weekday))
                change([&] { m_state.toggleWeekday(weekday); });
        });
        days->addWidget(day);
        m_weekdayButtons.append(day);
    }
    days->addStretch();
    layout->addWidget(m_weekdayRow);

    m_monthlyBox = new QWidget(box);
    auto* monthly = new QVBoxLayout(m_monthlyBox);
    monthly->setContentsMargins(0, 0, 0, 0);
    m_monthlyType = picker(QStringLiteral("When"), QStringLiteral("form-monthly-type"), box);
    m_groupRow = labelledRow(QStringLiteral("When"), m_monthlyType, m_monthlyBox);
    monthly->addWidget(m_groupRow);
    connect(m_monthlyType, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (m_refreshing || index < 0)
            return;
        const std::optional<ScheduleKinds::PickerEntry> group = pickerGroup(m_shownGroup);
        if (group && index < group->kinds.size())
            change([&] { m_state.chooseInGroup(group->kinds.at(index)); });
    });
    m_day = picker(QStringLiteral("Day"), QStringLiteral("form-day"), box);
    for (int day = 1; day <= 31; ++day)
        m_day->addItem(QString::number(day), day);
    m_dayRow = labelledRow(QStringLiteral("Day"), m_day, m_monthlyBox);
    monthly->addWidget(m_dayRow);
    connect(m_day, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (m_refreshing || index < 0)
            return;
        change([&] { m_state.dayOfMonth = m_day->itemData(index).toInt(); });
    });
    m_shortMonths = caption(QString(), QStringLiteral("form-short-months"));
    m_lastDayCaption =
        caption(QStringLiteral("Runs on the last day of every month (28th, 29th, 30th, or 31st)."),
                QStringLiteral("form-last-day-caption"));
    monthly->addWidget(m_shortMonths);
    monthly->addWidget(m_lastDayCaption);
    m_nthRow = new QWidget(m_monthlyBox);
    auto* nth = new QHBoxLayout(m_nthRow);
    nth->setContentsMargins(0, 0, 0, 0);
    m_nthWeek = picker(QStringLiteral("Week"), QStringLiteral("form-nth-week"), m_nthRow);
    for (int week = 1; week <= 4; ++week)
        m_nthWeek->addItem(ScheduleText::ordinal(week), week);
    m_nthWeek->setFixedWidth(80);
    m_nthWeekday = picker(QStringLiteral("Weekday"), QStringLiteral("form-nth-weekday"), m_nthRow);
    for (int weekday = 1; weekday <= 7; ++weekday)
        m_nthWeekday->addItem(ScheduleText::weekdayName(weekday), weekday);
    nth->addWidget(m_nthWeek);
    nth->addWidget(m_nthWeekday, 1);
    monthly->addWidget(m_nthRow);
    connect(m_nthWeek, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (m_refreshing || index < 0)
            return;
        change([&] { m_state.nthWeek = m_nthWeek->itemData(index).toInt(); });
    });
    connect(m_nthWeekday, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (m_refreshing || index < 0)
            return;
        change([&] { m_state.nthWeekday = m_nthWeekday->itemData(index).toInt(); });
    });
    layout->addWidget(m_monthlyBox);

    m_timeList = new QWidget(box);
    auto* timeList = new QVBoxLayout(m_timeList);
    timeList->setContentsMargins(0, 0, 0, 0);
    timeList->setSpacing(8);
    m_timeRows = new QVBoxLayout;
    m_timeRows->setSpacing(8);
    timeList->addLayout(m_timeRows);
    m_addTime = linkButton(QStringLiteral("Add another time"), QStringLiteral("plus.circle"),
                           QStringLiteral("form-add-time"));
    auto* addRow = new QHBoxLayout;
    addRow->addWidget(m_addTime);
    addRow->addStretch();
    timeList->addLayout(addRow);
    connect(m_addTime, &QPushButton::clicked, this, [this] { change([&] { m_state.addTime(); }); });
    layout->addWidget(m_timeList);
    m_fieldFindings.insert(Preflight::Field::schedule,
                           fieldMessage(QStringLiteral("form-schedule-finding")));
    layout->addWidget(m_fieldFindings.value(Preflight::Field::schedule));

    m_wake = new QCheckBox(PlatformTexts::current().wakeToggle, box);
    m_wake->setObjectName(QStringLiteral("form-wake"));
    m_wake->setAccessibleName(m_wake->text());
    m_wakeCaption = caption(QString(), QStringLiteral("form-wake-caption"));
    layout->addWidget(m_wake);
    layout->addWidget(m_wakeCaption);
    connect(m_wake, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_refreshing && on != m_state.wakeBeforeRun)
            change([&] { m_state.wakeBeforeRun = on; });
    });
    return box;
}

QWidget* TaskFormView::makeEnvironmentSection()
{
    QGroupBox* box = section(QStringLiteral("Environment"), this);
    auto* layout = static_cast<QVBoxLayout*>(box->layout());
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const auto pathRow = [&](const QString& title, const QString& placeholder, const QString& name,
                             QLineEdit*& field, void (TaskFormView::*choose)(),
                             Preflight::Field checked) {
        layout->addWidget(caption(title));
        auto* row = new QHBoxLayout;
        field = new QLineEdit(box);
        field->setObjectName(name);
        field->setAccessibleName(title);
        field->setPlaceholderText(placeholder);
        field->setFont(mono);
        auto* button = new QPushButton(QStringLiteral("Choose..."), box);
        button->setObjectName(QStringLiteral("form-choose-") + name.mid(5));
        button->setAccessibleName(QStringLiteral("Choose..."));
        button->setAutoDefault(false);
        row->addWidget(field, 1);
        row->addWidget(button);
        layout->addLayout(row);
        QLabel* finding = fieldMessage(name + QStringLiteral("-finding"));
        m_fieldFindings.insert(checked, finding);
        layout->addWidget(finding);
        connect(button, &QPushButton::clicked, this, choose);
    };
    pathRow(QStringLiteral("Working Directory"), QStringLiteral("/Users/you/project"),
            QStringLiteral("form-working-dir"), m_workingDirectory,
            &TaskFormView::chooseWorkingDirectory, Preflight::Field::workingDirectory);
    pathRow(QStringLiteral(".env File"), QStringLiteral("Optional"),
            QStringLiteral("form-env-file"), m_envFile, &TaskFormView::chooseEnvFile,
            Preflight::Field::envFile);
    m_workingDirectory->setText(m_state.workingDirectory);
    m_envFile->setText(m_state.envFilePath);
    connect(m_workingDirectory, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text != m_state.workingDirectory)
            change([&] { m_state.workingDirectory = text; });
    });
    connect(m_envFile, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text != m_state.envFilePath)
            change([&] { m_state.envFilePath = text; });
    });

    m_loginShell = new QCheckBox(QStringLiteral("Use login shell"), box);
    m_loginShell->setObjectName(QStringLiteral("form-login-shell"));
    m_loginShell->setAccessibleName(m_loginShell->text());
    m_loginShellCaption = caption(QString(), QStringLiteral("form-login-shell-caption"));
    layout->addWidget(m_loginShell);
    layout->addWidget(m_loginShellCaption);
    connect(m_loginShell, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_refreshing && on != m_state.useLoginShell)
            change([&] { m_state.useLoginShell = on; });
    });
    return box;
}

void TaskFormView::rebuildTimes()
{
    while (QLayoutItem* item = m_timeRows->takeAt(0)) {
        if (QWidget* row = item->widget()) {
            row->hide();
            row->deleteLater();
        }
        delete item;
    }
    const bool removable = m_state.times.size() >= 2;
    for (int index = 0; index < m_state.times.size(); ++index) {
        const TimeOfDay time = m_state.times.at(index);
        auto* row = new QWidget(m_timeList);
        row->setObjectName(QStringLiteral("form-time-row-%1").arg(index));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* input = new TimeInputView(time.hour, time.minute, row);
        input->setObjectName(QStringLiteral("form-time-%1").arg(index));
        layout->addWidget(input);
        connect(input, &TimeInputView::timeChanged, this, [this, index](int hour, int minute) {
            change([&] { m_state.times[index] = TimeOfDay{hour, minute}; });
        });
        if (removable) {
            auto* remove =
                new QPushButton(Icons::symbol(QStringLiteral("minus.circle")), QString(), row);
            remove->setObjectName(QStringLiteral("form-remove-time-%1").arg(index));
            remove->setAccessibleName(QStringLiteral("Remove time"));
            remove->setFlat(true);
            remove->setAutoDefault(false);
            const int side = std::max(24, remove->fontMetrics().height() + 6);
            remove->setFixedSize(side, side);
            layout->addWidget(remove);
            connect(remove, &QPushButton::clicked, this,
                    [this, index] { change([&] { m_state.removeTime(index); }); });
        }
        layout->addStretch();
        m_timeRows->addWidget(row);
    }
    // Rows are made after the rest of the form; Tab still reaches them where they are shown,
    // between the schedule's pickers and "Add another time".
    QWidget* previous = m_nthWeekday;
    for (int index = 0; index < m_timeRows->count(); ++index) {
        QWidget* row = m_timeRows->itemAt(index)->widget();
        for (QWidget* control : row->findChildren<QWidget*>()) {
            // The pickers' popups are windows of their own, outside the chain.
            if ((control->focusPolicy() & Qt::TabFocus) && control->window() == row->window()) {
                QWidget::setTabOrder(previous, control);
                previous = control;
            }
        }
    }
    QWidget::setTabOrder(previous, m_addTime);
}

template <typename Change> void TaskFormView::change(Change&& apply)
{
    const qsizetype timesBefore = m_state.times.size();
    const ScheduledTask checkedBefore = m_state.newTask();
    apply();
    // Rows are rebuilt only when entries come or go, so a picker the user is using stays put.
    if (m_state.times.size() != timesBefore)
        rebuildTimes();
    refresh();
    // The name and the wake toggle change nothing the check looks at.
    const ScheduledTask checkedAfter = m_state.newTask();
    if (checkedAfter.command != checkedBefore.command ||
        checkedAfter.workingDirectory != checkedBefore.workingDirectory ||
        checkedAfter.envFilePath != checkedBefore.envFilePath ||
        checkedAfter.useLoginShell != checkedBefore.useLoginShell ||
        checkedAfter.schedule != checkedBefore.schedule)
        schedulePreflight();
    Q_EMIT stateChanged();
}

void TaskFormView::schedulePreflight()
{
    // An answer still on its way is for text the user has since changed.
    ++m_preflightGeneration;
    m_preflightTimer->start();
}

void TaskFormView::runPreflight()
{
    // Looking up files and PATH entries can hang on a network volume: never on this thread.
    const int generation = ++m_preflightGeneration;
    const ScheduledTask task = m_state.newTask();
    using Findings = QList<Preflight::Finding>;
    auto* watcher = new QFutureWatcher<Findings>(this);
    connect(watcher, &QFutureWatcher<Findings>::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation == m_preflightGeneration)
            showFindings(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run([task] { return Preflight::findings(task); }));
}

void TaskFormView::showFindings(const QList<Preflight::Finding>& findings)
{
    // Each finding stands under its field, where the user looks when changing it, and in the
    // list at the end of the form.
    const QColor warning = warningColour(palette());
    for (auto field = m_fieldFindings.cbegin(); field != m_fieldFindings.cend(); ++field) {
        QStringList texts;
        for (const Preflight::Finding& finding : findings) {
            if (finding.field == field.key())
                texts << finding.text;
        }
        QLabel* label = field.value();
        label->setText(texts.join(QLatin1Char('\n')));
        label->setAccessibleName(label->text());
        QPalette colours = label->palette();
        colours.setColor(QPalette::WindowText, warning);
        label->setPalette(colours);
        label->setForegroundRole(QPalette::WindowText);
        label->setVisible(!texts.isEmpty());
    }

    const QList<QLabel*> old = m_preflight->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    for (QLabel* label : old) {
        label->hide();
        label->deleteLater();
    }
    for (const Preflight::Finding& found : findings) {
        const QString& finding = found.text;
        QLabel* label = caption(finding);
        label->setParent(m_preflight);
        label->setObjectName(QStringLiteral("form-preflight-finding"));
        label->setAccessibleName(finding);
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QPalette colours = label->palette();
        colours.setColor(QPalette::WindowText, warning);
        label->setPalette(colours);
        label->setForegroundRole(QPalette::WindowText);
        m_preflight->layout()->addWidget(label);
        label->show();
    }
    m_preflight->setVisible(!findings.isEmpty());
}

void TaskFormView::refresh()
{
    const TaskFormState& s = m_state;
    // Showing the state moves the controls; their value signals must not write it back.
    const QScopedValueRollback refreshing(m_refreshing, true);
    if (m_name->text() != s.name)
        m_name->setText(s.name);
    // What keeps Save disabled, next to the field it is about.
    const std::optional<QString> nameProblem = s.nameProblem();
    m_nameMessage->setText(nameProblem.value_or(QString()));
    m_nameMessage->setVisible(nameProblem.has_value());
    const std::optional<QString> commandProblem = s.commandProblem();
    m_commandMessage->setText(commandProblem.value_or(QString()));
    m_commandMessage->setVisible(commandProblem.has_value());
    if (m_command->toPlainText() != s.command) {
        const QSignalBlocker blockCommand(m_command);
        m_command->setPlainText(s.command);
    }
    m_commandPlaceholder->setVisible(s.command.isEmpty());
    // The editor grows with its text from 80 to 300 points, then scrolls.
    const int lines = std::max(1, int(m_command->document()->size().height()));
    const int lineHeight = m_command->fontMetrics().lineSpacing();
    m_command->setFixedHeight(std::clamp(lines * lineHeight + 24, 80, 300));
    if (m_workingDirectory->text() != s.workingDirectory)
        m_workingDirectory->setText(s.workingDirectory);
    if (m_envFile->text() != s.envFilePath)
        m_envFile->setText(s.envFilePath);

    m_scheduleKind->setCurrentIndex(ScheduleKinds::kindPickerIndex(s.scheduleKind));
    selectData(m_interval, s.intervalMinutes, &TaskFormText::intervalLabel);
    showGroup(m_monthlyType, m_shownGroup, s);
    selectData(m_day, s.dayOfMonth);
    selectData(m_nthWeek, s.nthWeek);
    selectData(m_nthWeekday, s.nthWeekday);
    for (int index = 0; index < m_weekdayButtons.size(); ++index)
        m_weekdayButtons.at(index)->setChecked(s.weekdays.contains(index + 1));

    const ScheduleKinds::FormFields fields = ScheduleKinds::formFields(s.scheduleKind);
    const bool grouped = !ScheduleKinds::formPlace(s.scheduleKind).group.empty();
    m_runAtLoadCaption->setVisible(fields.runAtLoadCaption);
    m_intervalRow->setVisible(fields.interval);
    m_intervalCaption->setVisible(fields.interval);
    m_weekdayRow->setVisible(fields.weekdays);
    m_monthlyBox->setVisible(grouped || fields.dayOfMonth || fields.lastDayCaption ||
                             fields.nthWeekday);
    m_groupRow->setVisible(grouped);
    m_dayRow->setVisible(fields.dayOfMonth);
    const std::optional<QString> shortMonths = TaskFormText::shortMonthsCaption(s.dayOfMonth);
    m_shortMonths->setText(shortMonths.value_or(QString()));
    m_shortMonths->setVisible(fields.dayOfMonth && shortMonths);
    m_lastDayCaption->setVisible(fields.lastDayCaption);
    m_nthRow->setVisible(fields.nthWeekday);
    m_timeList->setVisible(s.showsTimes());
    m_wake->setVisible(s.showsWakeToggle());
    m_wake->setChecked(s.wakeBeforeRun);
    m_wakeCaption->setVisible(s.showsWakeToggle());
    m_wakeCaption->setText(TaskFormText::wakeCaption(s));

    m_loginShell->setChecked(s.useLoginShell);
    m_loginShellCaption->setText(
        TaskFormText::loginShellCaption(s.useLoginShell, TaskRunner::shellFor(true).program));
}

void TaskFormView::applyMailTemplate(const QString& command, const QString& suggestedName)
{
    change([&] { m_state.applyMailTemplate(command, suggestedName); });
}

void TaskFormView::applyShortcut(const QString& shortcutName)
{
    change([&] { m_state.applyShortcut(shortcutName); });
}

void TaskFormView::chooseWorkingDirectory()
{
    if (const std::optional<QString> folder = m_dialogs.chooseFolder(window()))
        change([&] { m_state.workingDirectory = *folder; });
}

void TaskFormView::chooseEnvFile()
{
    if (const std::optional<QString> file = m_dialogs.chooseFile(window()))
        change([&] { m_state.envFilePath = *file; });
}

void TaskFormView::openMailTemplate()
{
    if (const auto result = m_dialogs.mailTemplate(window()))
        applyMailTemplate(result->first, result->second);
}

void TaskFormView::openShortcutsPicker()
{
    if (const std::optional<QString> name = m_dialogs.chooseShortcut(window()))
        applyShortcut(*name);
}

void TaskFormView::placeInSheet(QDialog& sheet, QHBoxLayout* buttons)
{
    sheet.setModal(true);
    auto* layout = new QVBoxLayout(&sheet);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* scroll = new QScrollArea(&sheet);
    scroll->setObjectName(QStringLiteral("form-scroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidget(this);
    layout->addWidget(scroll, 1);
    buttons->setContentsMargins(16, 12, 16, 16);
    // The sheet's own layout has no spacing, which its button row would otherwise take on.
    buttons->setSpacing(sheetButtonSpacing(&sheet));
    layout->addLayout(buttons);

    // Starts at its preferred size; the user may make it larger or smaller.
    SheetSize::fit(sheet, QSize(520, 640), QSize(400, 320));
}

QPushButton* TaskFormView::sheetButton(const QString& text, const QString& objectName,
                                       QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setAccessibleName(text);
    button->setAutoDefault(false);
    return button;
}

int TaskFormView::sheetButtonSpacing(const QWidget* sheet)
{
    const QStyle* style = sheet->style();
    const int spacing = style->layoutSpacing(QSizePolicy::PushButton, QSizePolicy::PushButton,
                                             Qt::Horizontal, nullptr, sheet);
    return spacing >= 0 ? spacing : style->pixelMetric(QStyle::PM_LayoutHorizontalSpacing);
}
