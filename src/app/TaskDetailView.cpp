#include "TaskDetailView.h"

#include "FullLogView.h"
#include "Icons.h"
#include "LogsWatcher.h"
#include "NextRun.h"
#include "PlatformTexts.h"
#include "Preflight.h"
#include "RowPainting.h"
#include "StatusColors.h"
#include "TaskListModel.h"
#include "TaskStore.h"
#include "ToggleSwitch.h"
#include "ViewClock.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

using StatusColors::Status;

// A rounded box in a faint tint of the text colour, legible on light and dark palettes.
class TintedBox final : public QWidget {
public:
    explicit TintedBox(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(0.07);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    }
};

QFont scaled(QFont font, qreal scale, bool bold = false)
{
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(bold);
    return font;
}

QFont monospaced(const QFont& base, qreal scale = 1.0)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(base.pointSizeF() * scale);
    return font;
}

QLabel* textLabel(const QString& text, const QString& objectName, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* secondaryLabel(const QString& text, const QString& objectName, QWidget* parent)
{
    QLabel* label = textLabel(text, objectName, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

// What a part of the files shows until their first reading arrives.
QLabel* loadingLabel(QWidget* parent)
{
    QLabel* label =
        secondaryLabel(QStringLiteral("Loading\u2026"), QStringLiteral("detail-loading"), parent);
    label->setContentsMargins(0, 4, 0, 0);
    return label;
}

void setTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

// Monospaced, selectable text on a tinted box; with `scrolls` long lines scroll sideways.
QWidget* codeBox(const QString& text, const QString& objectName, QWidget* parent,
                 QWidget* corner = nullptr)
{
    auto* box = new TintedBox(parent);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(12, 12, corner ? 8 : 12, 12);
    QLabel* label = textLabel(text, objectName, box);
    label->setFont(monospaced(parent->font()));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(label, 1);
    if (corner)
        layout->addWidget(corner, 0, Qt::AlignTop | Qt::AlignRight);
    return box;
}

// Monospaced, selectable text on a tinted box whose long lines scroll sideways; as tall as
// its text, so the page scrolls as one.
QWidget* scrollingCodeBox(const QString& text, const QString& objectName, QWidget* parent)
{
    auto* box = new TintedBox(parent);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(8, 8, 8, 8);
    auto* edit = new QPlainTextEdit(text, box);
    edit->setObjectName(objectName);
    edit->setReadOnly(true);
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    edit->setFrameShape(QFrame::NoFrame);
    edit->setFont(monospaced(parent->font(), 0.92));
    edit->setTabStopDistance(QFontMetricsF(edit->font()).horizontalAdvance(QLatin1Char(' ')) * 4);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));
    edit->viewport()->setAutoFillBackground(false);
    const int lines = edit->document()->blockCount();
    edit->setFixedHeight(lines * QFontMetrics(edit->font()).lineSpacing() + 12 +
                         edit->horizontalScrollBar()->sizeHint().height());
    layout->addWidget(edit);
    return box;
}

// Removes and deletes every item of a layout (none of them is ever the sender of the call).
void clear(QVBoxLayout* layout)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

QPixmap statusIcon(bool success, int size, qreal ratio, const QPalette& palette)
{
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(StatusColors::symbol(success ? Status::success : Status::failure, palette));
    painter.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
    painter.setPen(QPen(Qt::white, size / 7.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const qreal s = size;
    if (success) {
        painter.drawPolyline(
            QPolygonF({{0.28 * s, 0.52 * s}, {0.44 * s, 0.68 * s}, {0.72 * s, 0.36 * s}}));
    } else {
        painter.drawLine(QPointF(0.34 * s, 0.34 * s), QPointF(0.66 * s, 0.66 * s));
        painter.drawLine(QPointF(0.66 * s, 0.34 * s), QPointF(0.34 * s, 0.66 * s));
    }
    return pixmap;
}

QString streamName(LogStream stream)
{
    return stream == LogStream::stdoutStream ? QStringLiteral("stdout") : QStringLiteral("stderr");
}

// The last answer of the wake check per task, shown at once while a fresh one is asked for.
QHash<QUuid, bool>& wakeAnswers()
{
    static QHash<QUuid, bool> answers;
    return answers;
}

// A disabled task has no agent: nothing runs until it is enabled again. Nothing for an enabled
// interval: launchd counts it from when it loaded the agent, which nothing records, and the
// summary above already says how often.
std::optional<QString> nextRunText(const ScheduledTask& task)
{
    if (!task.isEnabled)
        return QStringLiteral("Disabled");
    const TaskSchedule& schedule = task.schedule;
    if (!ScheduleKinds::isCalendar(schedule.kind())) {
        const std::string_view note = ScheduleKinds::nextRunNote(schedule.kind());
        if (note.empty())
            return std::nullopt;
        return QString::fromUtf8(note.data(), qsizetype(note.size()));
    }
    const std::optional<QDateTime> next = nextRun(schedule, ViewClock::now(), ViewClock::zone());
    if (!next)
        return QStringLiteral("Next run: never");
    const QLocale locale;
    return QStringLiteral("Next run: ") +
           locale.toString(next->date(), QStringLiteral("ddd d MMM")) + QStringLiteral(" at ") +
           locale.toString(next->time(), QStringLiteral("HH:mm"));
}

} // namespace

TaskDetailView::TaskDetailView(TaskStore& store, const ScheduledTask& task, QWidget* parent)
    : TaskDetailView(store, task, std::make_unique<TaskDetailLoader>(store.agentPaths()), parent)
{}

TaskDetailView::TaskDetailView(TaskStore& store, const ScheduledTask& task,
                               std::unique_ptr<TaskDetailLoader> loader, QWidget* parent)
    : QScrollArea(parent), m_store(store), m_task(task), m_loader(loader.release()),
      m_alive(std::make_shared<bool>(true))
{
    m_loader->setParent(this);
    connect(m_loader, &TaskDetailLoader::loaded, this, &TaskDetailView::showFiles);
    connect(m_loader, &TaskDetailLoader::fullLogLoaded, this, &TaskDetailView::openFullLog);
    setObjectName(QStringLiteral("task-detail"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The page itself is no stop for Tab; its controls are.
    setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("task-detail-content"));
    setWidget(content);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(24);
    m_taskSections = {makeHeader(), makeCommand(), makeEnvironment(), makeSchedule()};
    for (QWidget* section : std::as_const(m_taskSections))
        layout->addWidget(section);
    const auto followOperations = [this](const QUuid& id) {
        if (id == m_task.id)
            followBusy();
    };
    connect(&m_store, &TaskStore::operationStarted, this, followOperations);
    connect(&m_store, &TaskStore::operationFinished, this, followOperations);
    auto* runs = new QWidget(content);
    auto* runsLayout = new QVBoxLayout(runs);
    runsLayout->setContentsMargins(0, 0, 0, 0);
    runsLayout->setSpacing(12);
    runsLayout->addWidget(makeHistory());
    runsLayout->addWidget(makeOutput());
    layout->addWidget(runs);
    layout->addWidget(makeScript());
    layout->addWidget(makePlist());
    layout->addStretch();

    // Only this task's own changes reach the view (the window empties the pane when it goes).
    connect(&m_store, &TaskStore::taskChanged, this, [this](const QUuid& id) {
        if (id == m_task.id)
            followStore();
    });
    connect(&m_store, &TaskStore::tasksReset, this, &TaskDetailView::followStore);

    const AgentPaths& paths = m_store.agentPaths();
    m_watcher = new LogsWatcher(paths.logDir, this);
    for (const QString& path :
         {paths.runHistoryPath(m_task), paths.stdoutLogPath(m_task), paths.stderrLogPath(m_task),
          paths.scriptPath(m_task), paths.plistPath(m_task)}) {
        m_watcher->watchFile(path);
        m_taskFiles.insert(QDir::cleanPath(path));
    }
    connect(m_watcher, &LogsWatcher::changed, this, &TaskDetailView::onFileChanged);

    refresh();
    checkEnvironment();
}

TaskDetailView::~TaskDetailView() { *m_alive = false; }

void TaskDetailView::setTask(const ScheduledTask& task)
{
    // The sections that show the task's own fields are built again where they stand; the runs,
    // the output on its chosen stream and the files below stay, so the page does not move.
    m_task = task;
    QWidget* focused = QApplication::focusWidget();
    const QString focusedName = focused ? focused->objectName() : QString();
    bool hadFocus = false;
    m_wakeLine = nullptr;
    m_directoryFinding = nullptr;
    m_envFileFinding = nullptr;
    const QList<QWidget*> old = m_taskSections;
    m_taskSections = {makeHeader(), makeCommand(), makeEnvironment(), makeSchedule()};
    for (qsizetype i = 0; i < old.size(); ++i) {
        hadFocus = hadFocus || (focused && old.at(i)->isAncestorOf(focused));
        // The layout hands back the old section's item, which is ours to delete.
        delete widget()->layout()->replaceWidget(old.at(i), m_taskSections.at(i));
        m_taskSections.at(i)->show();
        // Later: the call may come from a control of the old section (the enabled switch).
        old.at(i)->hide();
        old.at(i)->deleteLater();
    }
    // The control the user was using keeps the keyboard focus in its new section.
    if (hadFocus && !focusedName.isEmpty()) {
        for (QWidget* section : std::as_const(m_taskSections)) {
            if (auto* same = section->findChild<QWidget*>(focusedName)) {
                same->setFocus();
                break;
            }
        }
    }
    // The shell comes from the script already read; the reading below brings any change.
    if (m_shown)
        m_shell->setText(shellDescription(m_shown->script));
    refresh();
    checkEnvironment();
}

void TaskDetailView::followStore()
{
    if (const ScheduledTask* now = m_store.task(m_task.id); now && *now != m_task)
        setTask(*now);
}

void TaskDetailView::checkEnvironment()
{
    if (!m_directoryFinding && !m_envFileFinding)
        return;
    // A folder on a network volume can take long to look at: never on this thread.
    QThreadPool::globalInstance()->start([task = m_task, alive = m_alive, self = this] {
        const QList<Preflight::Finding> findings = Preflight::findings(task);
        QMetaObject::invokeMethod(
            qApp,
            [alive, self, findings, task] {
                // An answer for a state of the task the view no longer shows is dropped.
                if (!*alive || self->m_task != task)
                    return;
                for (const auto& [field, label] :
                     {std::pair{Preflight::Field::workingDirectory, self->m_directoryFinding},
                      std::pair{Preflight::Field::envFile, self->m_envFileFinding}}) {
                    if (!label)
                        continue;
                    QStringList texts;
                    for (const Preflight::Finding& finding : findings) {
                        if (finding.field == field)
                            texts << finding.text;
                    }
                    label->setText(texts.join(QLatin1Char('\n')));
                    label->setAccessibleName(label->text());
                    label->setVisible(!texts.isEmpty());
                }
            },
            Qt::QueuedConnection);
    });
}

QWidget* TaskDetailView::section(const QString& title, const QString& symbol, QWidget* trailing,
                                 QVBoxLayout** body)
{
    auto* box = new QWidget(widget());
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    auto* icon = new QLabel(box);
    icon->setPixmap(Icons::pixmap(symbol, RowPainting::symbolSize(font()), devicePixelRatioF()));
    auto* label = textLabel(title, QString(), box);
    label->setFont(scaled(font(), 1.0, true));
    header->addWidget(icon);
    header->addWidget(label);
    header->addStretch();
    if (trailing)
        header->addWidget(trailing);
    layout->addLayout(header);
    if (body)
        *body = layout;
    return box;
}

QWidget* TaskDetailView::makeHeader()
{
    auto* header = new QWidget(widget());
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto* top = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    QLabel* name = textLabel(m_task.name, QStringLiteral("task-detail-name"), header);
    name->setFont(scaled(font(), 1.6, true));
    name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    name->setWordWrap(true);
    const bool enabled = m_task.isEnabled;
    QLabel* status = textLabel(enabled ? QStringLiteral("Active") : QStringLiteral("Disabled"),
                               QStringLiteral("task-detail-status"), header);
    status->setFont(scaled(font(), 0.92));
    if (enabled)
        setTextColour(status, StatusColors::text(Status::success, palette()));
    else
        status->setForegroundRole(QPalette::PlaceholderText);
    titles->addWidget(name);
    titles->addWidget(status);
    auto* toggle = new ToggleSwitch(QStringLiteral("Enabled"), header);
    toggle->setObjectName(QStringLiteral("detail-enabled-toggle"));
    toggle->setChecked(enabled);
    const QUuid id = m_task.id;
    connect(toggle, &ToggleSwitch::toggled, this, [this, id](bool on) {
        // The window replaces this view later (never during the call) when the task changed.
        m_store.setEnabled(on, id);
        // A change the store could not make leaves the switch where the task is; one still
        // running is looked at when it ends.
        if (!m_store.isBusy(id))
            followBusy();
    });
    m_enabledToggle = toggle;
    // Shown while an operation on the task runs (what the switch, Edit and Delete ask for
    // meanwhile waits for it).
    m_busy = new QProgressBar(header);
    m_busy->setObjectName(QStringLiteral("detail-busy"));
    m_busy->setRange(0, 0);
    m_busy->setTextVisible(false);
    m_busy->setAccessibleName(TaskListModel::busyText());
    m_busy->setMaximumWidth(fontMetrics().horizontalAdvance(QLatin1Char('M')) * 6);
    top->addLayout(titles, 1);
    top->addWidget(m_busy, 0, Qt::AlignTop);
    top->addWidget(toggle, 0, Qt::AlignTop);
    layout->addLayout(top);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    const auto button = [&](const QString& text, const QString& symbol, const QString& objectName,
                            auto signal) {
        auto* push = new QPushButton(Icons::symbol(symbol), text, header);
        push->setObjectName(objectName);
        push->setAccessibleName(text);
        push->setAutoDefault(false);
        // Symbols grow with a larger font like the text beside them.
        const int side = RowPainting::symbolSize(push->font());
        push->setIconSize(QSize(side, side));
        connect(push, &QPushButton::clicked, this, [this, signal] {
            Q_EMIT(this->*signal)(m_task);
        });
        buttons->addWidget(push);
        return push;
    };
    QPushButton* testRun =
        button(QStringLiteral("Test Run"), QStringLiteral("play.fill"),
               QStringLiteral("detail-test-run"), &TaskDetailView::testRunRequested);
    QPalette testPalette = testRun->palette();
    testPalette.setColor(QPalette::ButtonText,
                         StatusColors::text(Status::success, testPalette.color(QPalette::Button)));
    testRun->setPalette(testPalette);
    button(QStringLiteral("Edit"), QStringLiteral("pencil"), QStringLiteral("detail-edit"),
           &TaskDetailView::editRequested);
    button(QStringLiteral("Duplicate"), QStringLiteral("doc.on.doc"),
           QStringLiteral("detail-duplicate"), &TaskDetailView::duplicateRequested);
    QPushButton* remove = button(QStringLiteral("Delete"), QStringLiteral("trash"),
                                 QStringLiteral("detail-delete"), &TaskDetailView::deleteRequested);
    QPalette removePalette = remove->palette();
    removePalette.setColor(
        QPalette::ButtonText,
        StatusColors::text(Status::failure, removePalette.color(QPalette::Button)));
    remove->setPalette(removePalette);
    buttons->addStretch();
    layout->addLayout(buttons);
    followBusy();
    return header;
}

void TaskDetailView::followBusy()
{
    // The controls stay usable (and keep the keyboard focus): what they ask for waits behind
    // the running operation on the store's worker, in order.
    const bool busy = m_store.isBusy(m_task.id);
    m_busy->setVisible(busy);
    // A refused change leaves the switch where the task is.
    if (const ScheduledTask* now = m_store.task(m_task.id);
        !busy && now && now->isEnabled != m_enabledToggle->isChecked()) {
        const QSignalBlocker blocker(m_enabledToggle);
        m_enabledToggle->setChecked(now->isEnabled);
    }
}

QWidget* TaskDetailView::makeCommand()
{
    QVBoxLayout* body = nullptr;
    QWidget* box = section(QStringLiteral("Command"), QStringLiteral("terminal"), nullptr, &body);
    m_copyButton = new QToolButton(box);
    m_copyButton->setObjectName(QStringLiteral("detail-copy-command"));
    m_copyButton->setAutoRaise(true);
    m_copyButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_copyButton->setIconSize(QSize(12, 12));
    m_copyButton->setFont(scaled(font(), 0.85));
    m_copyButton->setToolTip(QStringLiteral("Copy"));
    connect(m_copyButton, &QToolButton::clicked, this, &TaskDetailView::copyCommand);
    setShowCopied(false);
    body->addWidget(codeBox(m_task.command, QStringLiteral("detail-command"), box, m_copyButton));
    return box;
}

QWidget* TaskDetailView::makeEnvironment()
{
    QVBoxLayout* body = nullptr;
    QWidget* box = section(QStringLiteral("Environment"), QStringLiteral("folder.badge.gearshape"),
                           nullptr, &body);
    const auto row = [&](const QString& caption, const QString& value, const QString& name) {
        auto* line = new QHBoxLayout;
        line->setSpacing(6);
        QLabel* key = secondaryLabel(caption, QString(), box);
        key->setFont(scaled(font(), 0.85));
        QLabel* text = textLabel(value, name, box);
        text->setFont(monospaced(font(), 0.92));
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        line->addWidget(key);
        line->addWidget(text, 1);
        body->addLayout(line);
        return text;
    };
    // What the scheduled run will meet at the folder or the .env file, under its row.
    const auto finding = [&](const QString& name) {
        QLabel* label = textLabel(QString(), name, box);
        label->setFont(scaled(font(), 0.85));
        label->setWordWrap(true);
        setTextColour(label, StatusColors::text(Status::warning, palette()));
        label->hide();
        body->addWidget(label);
        return label;
    };
    if (m_task.workingDirectory) {
        row(QStringLiteral("Directory:"), *m_task.workingDirectory,
            QStringLiteral("env-directory"));
        m_directoryFinding = finding(QStringLiteral("env-directory-finding"));
    }
    if (m_task.envFilePath) {
        row(QStringLiteral(".env:"), *m_task.envFilePath, QStringLiteral("env-file"));
        m_envFileFinding = finding(QStringLiteral("env-file-finding"));
    }
    m_shell = row(QStringLiteral("Shell:"), QString(), QStringLiteral("env-shell"));
    return box;
}

QWidget* TaskDetailView::makeSchedule()
{
    QVBoxLayout* body = nullptr;
    QWidget* box =
        section(QStringLiteral("Schedule"), QStringLiteral("calendar.badge.clock"), nullptr, &body);
    body->addWidget(
        secondaryLabel(m_task.schedule.summary(), QStringLiteral("detail-schedule-summary"), box));
    if (const std::optional<QString> next = nextRunText(m_task))
        body->addWidget(secondaryLabel(*next, QStringLiteral("detail-next-run"), box));
    // A disabled task's wake event is cancelled: there is no wake to report.
    if (m_task.wakeBeforeRun && m_task.isEnabled) {
        // The line's symbol from the icon set (fonts lack the power sign), then its text.
        auto* row = new QWidget(box);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(6);
        auto* symbol = new QLabel(row);
        symbol->setObjectName(QStringLiteral("detail-wake-symbol"));
        m_wakeLine = textLabel(QString(), QStringLiteral("detail-wake-status"), row);
        rowLayout->addWidget(symbol);
        rowLayout->addWidget(m_wakeLine, 1);
        row->hide();
        body->addWidget(row);
        if (const auto known = wakeAnswers().constFind(m_task.id); known != wakeAnswers().cend())
            showWakeStatus(*known);
        askWakeStatus();
    }
    return box;
}

QWidget* TaskDetailView::makeHistory()
{
    auto* refreshButton = new QToolButton(widget());
    refreshButton->setObjectName(QStringLiteral("detail-refresh"));
    refreshButton->setAccessibleName(QStringLiteral("Refresh"));
    refreshButton->setToolTip(QStringLiteral("Refresh"));
    refreshButton->setAutoRaise(true);
    refreshButton->setIcon(Icons::symbol(QStringLiteral("arrow.clockwise")));
    refreshButton->setIconSize(QSize(12, 12));
    connect(refreshButton, &QToolButton::clicked, this, [this] {
        refresh();
        checkEnvironment();
        if (m_task.wakeBeforeRun && m_task.isEnabled)
            askWakeStatus();
    });
    QVBoxLayout* body = nullptr;
    QWidget* box = section(QStringLiteral("Execution History"),
                           QStringLiteral("list.bullet.rectangle"), refreshButton, &body);
    m_historyBody = new QVBoxLayout;
    m_historyBody->setSpacing(4);
    m_historyBody->addWidget(loadingLabel(box));
    body->addLayout(m_historyBody);
    return box;
}

QWidget* TaskDetailView::makeOutput()
{
    auto* picker = new QWidget(widget());
    picker->setFixedWidth(160);
    auto* pickerLayout = new QHBoxLayout(picker);
    pickerLayout->setContentsMargins(0, 0, 0, 0);
    pickerLayout->setSpacing(0);
    m_logTabs = new QButtonGroup(picker);
    for (LogStream stream : {LogStream::stdoutStream, LogStream::stderrStream}) {
        auto* tab = new QToolButton(picker);
        tab->setText(streamName(stream));
        tab->setAccessibleName(streamName(stream));
        tab->setObjectName(QStringLiteral("output-tab-") + streamName(stream));
        tab->setCheckable(true);
        tab->setChecked(stream == m_selectedLogTab);
        tab->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        m_logTabs->addButton(tab, int(stream));
        pickerLayout->addWidget(tab);
    }
    connect(m_logTabs, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked && LogStream(id) != m_selectedLogTab)
            setSelectedLogTab(LogStream(id));
    });
    QVBoxLayout* body = nullptr;
    QWidget* box = section(QStringLiteral("Output"), QStringLiteral("doc.text"), picker, &body);
    m_outputBody = new QVBoxLayout;
    m_outputBody->setSpacing(8);
    m_outputBody->addWidget(loadingLabel(box));
    body->addLayout(m_outputBody);
    return box;
}

QWidget* TaskDetailView::makeScript()
{
    QLabel* fileName = secondaryLabel(QFileInfo(m_store.agentPaths().scriptPath(m_task)).fileName(),
                                      QStringLiteral("script-file-name"), widget());
    fileName->setFont(scaled(font(), 0.85));
    QVBoxLayout* body = nullptr;
    QWidget* box = section(QStringLiteral("Generated Script"), QStringLiteral("doc.text.fill"),
                           fileName, &body);
    m_scriptBody = new QVBoxLayout;
    m_scriptBody->addWidget(loadingLabel(box));
    body->addLayout(m_scriptBody);
    return box;
}

QWidget* TaskDetailView::makePlist()
{
    QVBoxLayout* body = nullptr;
    QWidget* box = section(QStringLiteral("Raw Plist"), QStringLiteral("doc.text"), nullptr, &body);
    m_plistBody = new QVBoxLayout;
    m_plistBody->addWidget(loadingLabel(box));
    body->addLayout(m_plistBody);
    return box;
}

void TaskDetailView::refresh() { m_loader->load(m_task); }

namespace {

// The name of the focused control when it sits among the widgets of `body`.
QString focusedIn(QVBoxLayout* body)
{
    QWidget* focused = QApplication::focusWidget();
    if (!focused)
        return {};
    for (int i = 0; i < body->count(); ++i) {
        QWidget* item = body->itemAt(i)->widget();
        if (item && (item == focused || item->isAncestorOf(focused)))
            return focused->objectName();
    }
    return {};
}

// Gives the keyboard focus back to the control of that name among the new widgets of `body`.
void refocus(QVBoxLayout* body, const QString& name)
{
    if (name.isEmpty())
        return;
    for (int i = 0; i < body->count(); ++i) {
        QWidget* item = body->itemAt(i)->widget();
        if (!item)
            continue;
        QWidget* same = item->objectName() == name ? item : item->findChild<QWidget*>(name);
        if (same && same->focusPolicy() != Qt::NoFocus) {
            same->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

// Replaces what `body` shows by what `fill` adds, the focused control keeping the focus.
template <typename Fill> void replaceContents(QVBoxLayout* body, Fill fill)
{
    const QString focused = focusedIn(body);
    clear(body);
    fill(body->parentWidget());
    refocus(body, focused);
}

} // namespace

void TaskDetailView::showFiles(const TaskDetailData& data)
{
    if (data.taskId != m_task.id)
        return;
    // Only the parts whose files changed are built again, so the page keeps its place and
    // the focused control its focus.
    const std::optional<TaskDetailData> before = std::exchange(m_shown, data);
    if (!before || !data.sameRuns(*before))
        showHistory(data);
    if (!before || data.tail(m_selectedLogTab) != before->tail(m_selectedLogTab))
        showOutput();
    if (!before || data.script != before->script) {
        showScript(data.script);
        m_shell->setText(shellDescription(data.script));
    }
    if (!before || data.plistXml != before->plistXml)
        showPlist(data.plistXml);
    Q_EMIT filesShown();
}

void TaskDetailView::showHistory(const TaskDetailData& data)
{
    replaceContents(m_historyBody, [&](QWidget* parent) {
        if (data.recentRuns.isEmpty()) {
            QLabel* empty = secondaryLabel(QStringLiteral("No runs recorded yet."),
                                           QStringLiteral("history-empty"), parent);
            empty->setContentsMargins(0, 4, 0, 0);
            m_historyBody->addWidget(empty);
            return;
        }
        const QLocale locale;
        for (const TaskRunRecord& run : data.recentRuns) {
            auto* row = new QWidget(parent);
            row->setObjectName(QStringLiteral("history-row"));
            auto* line = new QHBoxLayout(row);
            line->setContentsMargins(0, 0, 0, 0);
            line->setSpacing(6);
            auto* icon = new QLabel(row);
            icon->setPixmap(statusIcon(run.exitCode == 0, RowPainting::symbolSize(font()) - 2,
                                       devicePixelRatioF(), palette()));
            icon->setAccessibleName(run.exitCode == 0 ? QStringLiteral("Succeeded")
                                                      : QStringLiteral("Failed"));
            const QDateTime ended = run.endedAt.toLocalTime();
            QLabel* when =
                textLabel(locale.toString(ended.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                              locale.toString(ended.time(), QLocale::ShortFormat),
                          QStringLiteral("history-time"), row);
            when->setFont(scaled(font(), 0.92));
            QLabel* exit = secondaryLabel(QStringLiteral("Exit: ") + QString::number(run.exitCode),
                                          QStringLiteral("history-exit"), row);
            exit->setFont(scaled(font(), 0.85));
            line->addWidget(icon);
            line->addWidget(when);
            line->addStretch();
            line->addWidget(exit);
            m_historyBody->addWidget(row);
        }
        if (data.runCount > historyLimit) {
            const qsizetype hidden = data.runCount - historyLimit;
            QLabel* more = secondaryLabel(
                QString::number(hidden) + (hidden == 1 ? QStringLiteral(" more run not shown")
                                                       : QStringLiteral(" more runs not shown")),
                QStringLiteral("history-more"), parent);
            more->setFont(scaled(font(), 0.85));
            m_historyBody->addWidget(more);
        }
    });
}

void TaskDetailView::showOutput()
{
    if (!m_shown)
        return; // the first reading shows the chosen stream when it arrives
    const QString& text = m_shown->tail(m_selectedLogTab);
    replaceContents(m_outputBody, [&](QWidget* parent) {
        if (text.isEmpty()) {
            QLabel* empty = secondaryLabel(QStringLiteral("No ") + streamName(m_selectedLogTab) +
                                               QStringLiteral(" output."),
                                           QStringLiteral("output-empty"), parent);
            empty->setContentsMargins(0, 4, 0, 0);
            m_outputBody->addWidget(empty);
            return;
        }
        const QStringList lines = text.split(QLatin1Char('\n'));
        const QString shown = lines.mid(std::max<qsizetype>(0, lines.size() - outputLinesShown))
                                  .join(QLatin1Char('\n'));
        m_outputBody->addWidget(codeBox(shown, QStringLiteral("output-text"), parent));
        if (lines.size() > outputLinesShown) {
            const QString caption =
                QStringLiteral("Show full log (%1 lines)").arg(QString::number(lines.size()));
            auto* button = new QPushButton(caption, parent);
            button->setObjectName(QStringLiteral("output-show-full-log"));
            button->setAccessibleName(caption);
            button->setFont(scaled(font(), 0.85));
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, &TaskDetailView::showFullLog);
            m_outputBody->addWidget(button, 0, Qt::AlignLeft);
        }
    });
}

QString TaskDetailView::shellDescription(const std::optional<QString>& scriptText)
{
    if (!scriptText)
        return QStringLiteral("Unknown (script not found)");
    const QStringList lines = scriptText->split(QLatin1Char('\n'));
    if (scriptText->isEmpty() || !lines.first().startsWith(QLatin1String("#!")))
        return QStringLiteral("Unknown");
    QString interpreter = lines.first();
    interpreter.remove(QStringLiteral("#!"));
    const QString shell = interpreter.section(QLatin1Char('/'), -1);
    if (scriptText->contains(QLatin1String("source ~/.zprofile")) ||
        scriptText->contains(QLatin1String("source ~/.zshrc"))) {
        return shell + QStringLiteral(" (with shell profile)");
    }
    return shell;
}

void TaskDetailView::showScript(const std::optional<QString>& script)
{
    replaceContents(m_scriptBody, [&](QWidget* parent) {
        if (script) {
            // The file's final line feed would show as an empty last line.
            const QString shown =
                script->endsWith(QLatin1Char('\n')) ? script->chopped(1) : *script;
            m_scriptBody->addWidget(codeBox(shown, QStringLiteral("script-text"), parent));
        } else {
            m_scriptBody->addWidget(secondaryLabel(QStringLiteral("Script not installed."),
                                                   QStringLiteral("script-missing"), parent));
        }
    });
}

void TaskDetailView::showPlist(const std::optional<QString>& xml)
{
    replaceContents(m_plistBody, [&](QWidget* parent) {
        if (xml) {
            m_plistBody->addWidget(scrollingCodeBox(*xml, QStringLiteral("plist-text"), parent));
        } else {
            m_plistBody->addWidget(secondaryLabel(QStringLiteral("Plist not installed."),
                                                  QStringLiteral("plist-missing"), parent));
        }
    });
}

void TaskDetailView::askWakeStatus()
{
    // pmset can take seconds; ask it beside the window. The store lives until the process ends,
    // so its wake service outlives the question; the view may not, hence `alive`.
    const PmsetServiceProtocol* pmset = &m_store.pmsetService();
    QThreadPool::globalInstance()->start([pmset, task = m_task, alive = m_alive, self = this] {
        const bool scheduled = pmset->isWakeScheduledInSystem(task);
        QMetaObject::invokeMethod(
            qApp,
            [alive, self, scheduled, id = task.id] {
                wakeAnswers().insert(id, scheduled);
                if (*alive)
                    self->showWakeStatus(scheduled);
            },
            Qt::QueuedConnection);
    });
}

void TaskDetailView::showWakeStatus(bool scheduled)
{
    if (!m_wakeLine)
        return;
    const QString text = scheduled ? PlatformTexts::current().wakeScheduled
                                   : QStringLiteral("Wake requested but not active in system");
    m_wakeLine->setText(text);
    m_wakeLine->setAccessibleName(text);
    const QColor colour =
        StatusColors::text(scheduled ? Status::success : Status::warning, palette());
    setTextColour(m_wakeLine, colour);
    QWidget* row = m_wakeLine->parentWidget();
    if (auto* symbol = row->findChild<QLabel*>(QStringLiteral("detail-wake-symbol"))) {
        const int size = RowPainting::symbolSize(font());
        symbol->setPixmap(Icons::pixmap(scheduled ? QStringLiteral("power")
                                                  : QStringLiteral("exclamationmark.triangle"),
                                        size, devicePixelRatioF(), colour));
    }
    row->show();
}

void TaskDetailView::setShowCopied(bool copied)
{
    m_showCopied = copied;
    if (copied) {
        m_copyButton->setIcon(QIcon());
        m_copyButton->setText(QStringLiteral("\u2713 Copied"));
        m_copyButton->setAccessibleName(QStringLiteral("Copied"));
        setTextColour(m_copyButton, StatusColors::text(Status::success, palette()));
        QPalette palette = m_copyButton->palette();
        palette.setColor(QPalette::ButtonText, StatusColors::text(Status::success, palette));
        m_copyButton->setPalette(palette);
    } else {
        m_copyButton->setIcon(Icons::symbol(QStringLiteral("doc.on.doc")));
        m_copyButton->setText(QString());
        m_copyButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
        m_copyButton->setAccessibleName(QStringLiteral("Copy"));
        m_copyButton->setPalette(QPalette());
        return;
    }
    m_copyButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
}

void TaskDetailView::copyCommand()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    auto* data = new QMimeData;
    data->setText(m_task.command);
    clipboard->setMimeData(data);
    setShowCopied(true);
    // Each copy schedules its own reset, so the label never stays on.
    QTimer::singleShot(copiedResetMs, this, [this] { setShowCopied(false); });
}

void TaskDetailView::setSelectedLogTab(LogStream stream)
{
    m_selectedLogTab = stream;
    if (QAbstractButton* tab = m_logTabs->button(int(stream)))
        tab->setChecked(true);
    // Both streams came with the last reading: the switch reads nothing.
    showOutput();
}

void TaskDetailView::showFullLog() { m_loader->loadFullLog(m_task, m_selectedLogTab); }

void TaskDetailView::openFullLog(const QUuid& taskId, LogStream stream, const QString& text)
{
    if (taskId != m_task.id)
        return;
    const QString title = m_task.name + QStringLiteral(" \u2014 ") + streamName(stream);
    auto* sheet = new FullLogView(title, text, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->open();
}

void TaskDetailView::onFileChanged(const QString& path)
{
    // The watcher also reports every other task's history; unchanged files cost the reading
    // no more than a look at their identity.
    if (m_taskFiles.contains(path))
        refresh();
}
