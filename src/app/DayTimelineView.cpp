#include "DayTimelineView.h"

#include "Icons.h"
#include "LogsWatcher.h"
#include "RunHistory.h"
#include "SystemJobTimelineItemView.h"
#include "TaskRunReader.h"
#include "TaskStore.h"
#include "TimelineItemView.h"
#include "TimelineMath.h"
#include "ToggleSwitch.h"
#include "ViewClock.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using namespace TimelineLayout;

namespace {

// The hour labels over the tracks, every sixth hour stronger.
class HourAxis final : public QWidget {
public:
    explicit HourAxis(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("timeline-axis"));
        setFixedHeight(DayTimelineView::hourAxisHeight(font()));
    }
    void setIndent(int indent)
    {
        m_indent = indent;
        update();
    }

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::FontChange)
            setFixedHeight(DayTimelineView::hourAxisHeight(font()));
        QWidget::changeEvent(event);
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QColor faint = palette().color(QPalette::WindowText);
        faint.setAlphaF(0.35f);
        const QColor secondary = palette().color(QPalette::PlaceholderText);
        for (const DayTimelineView::HourLabel& label :
             DayTimelineView::hourLabels(width(), font(), m_indent)) {
            painter.setFont(DayTimelineView::hourLabelFont(font(), label.strong));
            painter.setPen(label.strong ? secondary : faint);
            painter.drawText(QRectF(label.box.left(), 0, label.box.width(), height()),
                             Qt::AlignLeft | Qt::AlignVCenter, QString::number(label.hour));
        }
    }

private:
    int m_indent = 0;
};

// The present moment as a thin line over the axis and every row.
class NowLine final : public QWidget {
public:
    explicit NowLine(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("timeline-now-line"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setMinute(int minute)
    {
        m_minute = minute;
        update();
    }
    int minute() const { return m_minute; }
    void setIndent(int indent)
    {
        m_indent = indent;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const double trackWidth = std::max(0, width() - m_indent);
        const double x = m_indent + TimelineMath::xForMinute(m_minute, trackWidth);
        // A neutral tint of the text colour: red, orange, blue and green already mean things.
        QColor colour = palette().color(QPalette::WindowText);
        colour.setAlphaF(0.6f);
        painter.setPen(QPen(colour, 1));
        painter.drawLine(QPointF(x + 0.5, 0), QPointF(x + 0.5, height()));
    }

private:
    int m_minute = 0;
    int m_indent = 0;
};

QLabel* sectionTitle(const QString& text, const QString& objectName, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.8);
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    QPalette palette = label->palette();
    QColor tertiary = palette.color(QPalette::WindowText);
    tertiary.setAlphaF(0.5f);
    palette.setColor(QPalette::WindowText, tertiary);
    label->setPalette(palette);
    label->setContentsMargins(0, 10, 0, 4);
    return label;
}

} // namespace

QFont DayTimelineView::hourLabelFont(const QFont& base, bool strong)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * 0.75);
    font.setBold(strong);
    return font;
}

int DayTimelineView::hourAxisHeight(const QFont& base)
{
    return std::max(16, int(std::ceil(QFontMetricsF(hourLabelFont(base, true)).height())) + 2);
}

QList<DayTimelineView::HourLabel> DayTimelineView::hourLabels(int axisWidth, const QFont& base,
                                                              int indent)
{
    constexpr int hours = 24;
    const double trackWidth = std::max(0, axisWidth - indent);
    const double cell = trackWidth / hours;
    // The widest label, bold, with a little air before the next one.
    const double widest =
        QFontMetricsF(hourLabelFont(base, true)).horizontalAdvance(QStringLiteral("22")) + 3;
    int step = 6;
    for (const int candidate : {1, 2, 3}) {
        if (widest <= candidate * cell) {
            step = candidate;
            break;
        }
    }
    QList<HourLabel> labels;
    for (int hour = 0; hour < hours; hour += step) {
        const double x = indent + cell * hour;
        labels.append({hour, hour % 6 == 0,
                       QRectF(x, 0, std::max(cell * step, widest), hourAxisHeight(base))});
    }
    return labels;
}

DayTimelineView::DayTimelineView(TaskStore& store, QList<LaunchdJob> systemJobs, QWidget* parent)
    : QWidget(parent), m_store(store), m_systemJobs(std::move(systemJobs))
{
    setObjectName(QStringLiteral("day-timeline"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 12, 16, 12);
    auto* title = new QLabel(QStringLiteral("Timeline"), this);
    title->setObjectName(QStringLiteral("timeline-title"));
    QFont font = title->font();
    font.setBold(true);
    title->setFont(font);
    m_title = title;
    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("timeline-icon"));
    showHeaderSymbol();
    auto* switchLabel = new QLabel(QStringLiteral("System Jobs"), this);
    QFont small = switchLabel->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    switchLabel->setFont(small);
    m_switch = new ToggleSwitch(QStringLiteral("System Jobs"), this);
    m_switch->setObjectName(QStringLiteral("timeline-system-jobs"));
    switchLabel->setBuddy(m_switch);
    connect(m_switch, &ToggleSwitch::toggled, this, &DayTimelineView::setShowSystemJobs);
    header->addWidget(m_icon);
    header->addSpacing(4);
    header->addWidget(title);
    header->addStretch();
    header->addWidget(switchLabel);
    header->addSpacing(6);
    header->addWidget(m_switch);
    layout->addLayout(header);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("timeline-scroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* page = new QWidget(scroll);
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(16, 8, 16, 16);
    m_rows = new QWidget(page);
    m_rows->setObjectName(QStringLiteral("timeline-rows"));
    m_rowsLayout = new QVBoxLayout(m_rows);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(0);
    m_rows->installEventFilter(this);
    pageLayout->addWidget(m_rows);
    pageLayout->addStretch();
    scroll->setWidget(page);
    layout->addWidget(scroll);

    m_nowLine = new NowLine(m_rows);

    m_watcher = new LogsWatcher(m_store.agentPaths().logDir, this);
    connect(m_watcher, &LogsWatcher::changed, this, &DayTimelineView::onLogChanged);
    connect(&m_store.runReader(), &TaskRunReader::statusRead, this, &DayTimelineView::onStatusRead);
    connect(&m_store, &TaskStore::taskAdded, this, &DayTimelineView::onTaskAdded);
    connect(&m_store, &TaskStore::taskChanged, this, &DayTimelineView::onTaskChanged);
    connect(&m_store, &TaskStore::taskRemoved, this, &DayTimelineView::onTaskRemoved);
    connect(&m_store, &TaskStore::tasksReset, this, &DayTimelineView::rebuild);
    // The store ends every batch of row changes (a burst of reports taken together) with
    // `changed()`: the name column and the tab order, which depend on all rows, follow once
    // per batch rather than once per row.
    connect(&m_store, &TaskStore::changed, this, &DayTimelineView::finishRows);

    m_clock = new QTimer(this);
    m_clock->setSingleShot(true);
    connect(m_clock, &QTimer::timeout, this, &DayTimelineView::tick);
    rebuild();
}

QList<TimelineItemView*> DayTimelineView::taskRows() const
{
    // In the order shown, which rows inserted later keep too.
    QList<TimelineItemView*> rows;
    for (int i = 0; i < m_rowsLayout->count(); ++i) {
        if (auto* row = qobject_cast<TimelineItemView*>(m_rowsLayout->itemAt(i)->widget()))
            rows.append(row);
    }
    return rows;
}

void DayTimelineView::setShowSystemJobs(bool show)
{
    if (m_switch->isChecked() != show)
        m_switch->setChecked(show);
    if (m_showSystemJobs == show)
        return;
    m_showSystemJobs = show;
    rebuild();
}

void DayTimelineView::setSystemJobs(QList<LaunchdJob> jobs)
{
    m_systemJobs = std::move(jobs);
    rebuild();
}

void DayTimelineView::rebuild()
{
    // The row that has the keyboard focus keeps it across the rebuild.
    QString focusedRow;
    if (QWidget* focused = m_rows->focusWidget(); focused && focused->hasFocus()) {
        if (auto* row = qobject_cast<TimelineItemView*>(focused))
            focusedRow = row->task().id.toString();
        else if (auto* jobRow = qobject_cast<SystemJobTimelineItemView*>(focused))
            focusedRow = jobRow->job().id;
    }
    while (QLayoutItem* item = m_rowsLayout->takeAt(0)) {
        if (QWidget* widget = item->widget())
            delete widget;
        delete item;
    }
    m_tasksTitle = nullptr;
    m_noTasks = nullptr;
    m_taskRows.clear();
    const QDateTime now = ViewClock::now();
    m_day = now.toTimeZone(ViewClock::zone()).date();

    m_axis = new HourAxis(m_rows);
    m_rowsLayout->addWidget(m_axis);
    for (const ScheduledTask& task : m_store.tasks()) {
        if (TimelineMath::taskHasRow(task))
            insertTaskRow(task);
    }
    if (m_showSystemJobs) {
        const QList<LaunchdJob> jobs = TimelineMath::systemJobsWithRows(m_systemJobs);
        if (!jobs.isEmpty()) {
            m_rowsLayout->addWidget(sectionTitle(QStringLiteral("SYSTEM JOBS"),
                                                 QStringLiteral("timeline-system-jobs-title"),
                                                 m_rows));
            for (const LaunchdJob& job : jobs)
                m_rowsLayout->addWidget(new SystemJobTimelineItemView(job, m_rows));
        }
    }
    settleRows();
    finishRows();
    for (int i = 0; !focusedRow.isEmpty() && i < m_rowsLayout->count(); ++i) {
        QWidget* row = m_rowsLayout->itemAt(i)->widget();
        const auto* taskRow = qobject_cast<TimelineItemView*>(row);
        const auto* jobRow = qobject_cast<SystemJobTimelineItemView*>(row);
        if ((taskRow && taskRow->task().id.toString() == focusedRow) ||
            (jobRow && jobRow->job().id == focusedRow))
            row->setFocus(Qt::OtherFocusReason);
    }
    static_cast<NowLine*>(m_nowLine)->setMinute(TimelineMath::minuteOfDay(now, ViewClock::zone()));
    m_nowLine->resize(m_rows->size());
    m_nowLine->raise();
    scheduleTick();
}

void DayTimelineView::onTaskAdded(int row)
{
    const ScheduledTask& task = m_store.tasks().at(row);
    if (!TimelineMath::taskHasRow(task))
        return;
    insertTaskRow(task);
    settleRows();
}

void DayTimelineView::onTaskChanged(const QUuid& id)
{
    const ScheduledTask* task = m_store.task(id);
    const bool hasRow = task && TimelineMath::taskHasRow(*task);
    TimelineItemView* shown = m_taskRows.value(id);
    if (shown && hasRow) {
        // Its agent was written anew with the change: what the plist says is read again.
        if (shown->task() != *task) {
            shown->setTask(*task, shown->activity());
            m_store.runReader().request(*task);
            m_rowsUnsettled = true;
        }
        return;
    }
    if (shown)
        removeTaskRow(id);
    else if (hasRow)
        insertTaskRow(*task);
    else
        return;
    settleRows();
}

void DayTimelineView::onTaskRemoved(const QUuid& id)
{
    if (!m_taskRows.contains(id))
        return;
    removeTaskRow(id);
    settleRows();
}

void DayTimelineView::insertTaskRow(const ScheduledTask& task)
{
    // Before the row of the next task in store order that has one; after the last task row
    // when none follows.
    const QList<ScheduledTask>& tasks = m_store.tasks();
    qsizetype storeRow = 0;
    while (storeRow < tasks.size() && tasks.at(storeRow).id != task.id)
        ++storeRow;
    int position = -1;
    for (qsizetype i = storeRow + 1; i < tasks.size() && position < 0; ++i) {
        if (TimelineItemView* next = m_taskRows.value(tasks.at(i).id))
            position = m_rowsLayout->indexOf(next);
    }
    if (position < 0) {
        // After the axis, the title and the task rows (the title is placed by settleRows()).
        position = 1 + (m_tasksTitle ? 1 : 0) + int(m_taskRows.size());
    }
    // The row stands at once with what was read of its files before (nothing at first) and
    // fills in when the reading asked for here arrives.
    const QDateTime now = ViewClock::now();
    const AgentPaths& paths = m_store.agentPaths();
    TaskRunReader& reader = m_store.runReader();
    const TaskRunStatus* known = reader.known(task.id);
    auto* row = new TimelineItemView(
        task, known ? known->runs : QList<TaskRunRecord>(), now, ViewClock::zone(),
        known ? known->activity : TimelineMath::AgentActivity(), m_rows);
    reader.request(task);
    if (m_rows->isVisible())
        row->show();
    m_rowsLayout->insertWidget(position, row);
    m_taskRows.insert(task.id, row);
    // Output tells that a run is going before its history line does.
    m_watcher->watchFile(paths.stdoutLogPath(task));
    m_watcher->watchFile(paths.stderrLogPath(task));
}

void DayTimelineView::removeTaskRow(const QUuid& id)
{
    TimelineItemView* row = m_taskRows.take(id);
    if (!row)
        return;
    m_rowsLayout->removeWidget(row);
    delete row;
}

void DayTimelineView::settleRows()
{
    const bool anyTask = !m_taskRows.isEmpty();
    if (anyTask && !m_tasksTitle) {
        m_tasksTitle =
            sectionTitle(QStringLiteral("MY TASKS"), QStringLiteral("timeline-my-tasks"), m_rows);
        m_rowsLayout->insertWidget(1, m_tasksTitle);
    } else if (!anyTask && m_tasksTitle) {
        m_rowsLayout->removeWidget(m_tasksTitle);
        delete std::exchange(m_tasksTitle, nullptr);
    }
    const bool caption = !anyTask && !m_showSystemJobs;
    if (caption && !m_noTasks) {
        auto* none = new QLabel(QStringLiteral("No enabled tasks"), m_rows);
        none->setObjectName(QStringLiteral("timeline-no-tasks"));
        QFont font = none->font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        none->setFont(font);
        none->setForegroundRole(QPalette::PlaceholderText);
        none->setContentsMargins(0, 10, 0, 0);
        m_rowsLayout->insertWidget(1, none);
        m_noTasks = none;
    } else if (!caption && m_noTasks) {
        m_rowsLayout->removeWidget(m_noTasks);
        delete std::exchange(m_noTasks, nullptr);
    }
    for (QWidget* widget : {m_tasksTitle, m_noTasks}) {
        if (widget && m_rows->isVisible())
            widget->show();
    }
    m_rowsUnsettled = true;
}

void DayTimelineView::finishRows()
{
    if (!m_rowsUnsettled)
        return;
    m_rowsUnsettled = false;
    setTabOrder();
    applyNameWidth();
    m_nowLine->raise();
}

void DayTimelineView::setTabOrder()
{
    // Tab goes from the switch down the rows in the order they are shown.
    QWidget* previous = m_switch;
    for (int i = 0; i < m_rowsLayout->count(); ++i) {
        QWidget* row = m_rowsLayout->itemAt(i)->widget();
        if (!row || row->focusPolicy() == Qt::NoFocus)
            continue;
        QWidget::setTabOrder(previous, row);
        previous = row;
    }
}

int DayTimelineView::trackIndent() const { return m_nameWidth + nameGap; }

void DayTimelineView::applyNameWidth()
{
    // One column for every name shown, in the font the rows are drawn in, so that the axis
    // and all tracks start in the same place.
    QStringList names;
    const QList<TimelineItemView*> taskRowList = taskRows();
    const QList<SystemJobTimelineItemView*> jobRows =
        m_rows->findChildren<SystemJobTimelineItemView*>(Qt::FindDirectChildrenOnly);
    for (const TimelineItemView* row : taskRowList)
        names << row->task().name;
    for (const SystemJobTimelineItemView* row : jobRows)
        names << row->job().label;
    m_nameWidth = nameColumnWidth(m_rows->font(), names);
    for (TimelineItemView* row : taskRowList)
        row->setNameWidth(m_nameWidth);
    for (SystemJobTimelineItemView* row : jobRows)
        row->setNameWidth(m_nameWidth);
    static_cast<HourAxis*>(m_axis)->setIndent(trackIndent());
    static_cast<NowLine*>(m_nowLine)->setIndent(trackIndent());
}

void DayTimelineView::showHeaderSymbol()
{
    // As tall as the title's letters in whatever font size the user chose.
    const int size = std::max(16, QFontMetrics(m_title->font()).height());
    m_icon->setPixmap(
        Icons::pixmap(QStringLiteral("clock.badge.checkmark"), size, devicePixelRatioF()));
}

void DayTimelineView::changeEvent(QEvent* event)
{
    // A larger font widens the name column with the names, and the header's symbol.
    if (event->type() == QEvent::FontChange && m_axis) {
        applyNameWidth();
        showHeaderSymbol();
    }
    QWidget::changeEvent(event);
}

void DayTimelineView::tick()
{
    const QDateTime now = ViewClock::now();
    const QTimeZone zone = ViewClock::zone();
    if (now.toTimeZone(zone).date() != m_day) {
        rebuild();
        return;
    }
    for (TimelineItemView* row : taskRows())
        row->setNow(now);
    static_cast<NowLine*>(m_nowLine)->setMinute(TimelineMath::minuteOfDay(now, zone));
    scheduleTick();
}

void DayTimelineView::scheduleTick()
{
    // Wake at the next whole minute: the line moves a minute at a time and midnight is caught
    // within a second of passing.
    const QDateTime now = ViewClock::now();
    const int msIntoMinute = now.time().second() * 1000 + now.time().msec();
    m_clock->start(std::max(200, 60000 - msIntoMinute + 50));
}

void DayTimelineView::onLogChanged(const QString& path)
{
    const bool history = RunHistory::isHistoryPath(path);
    if (!history && !path.endsWith(QLatin1String(".log")))
        return;
    // <id8>.runs, <id8>.stdout.log, <id8>.stderr.log
    const QString id8 = QFileInfo(path).fileName().section(QLatin1Char('.'), 0, 0);
    for (TimelineItemView* row : taskRows()) {
        if (row->task().shortId() == id8)
            m_store.runReader().request(row->task());
    }
}

void DayTimelineView::onStatusRead(const TaskRunStatus& status)
{
    if (TimelineItemView* row = m_taskRows.value(status.taskId))
        row->setRunStatus(status.runs, status.activity);
}

bool DayTimelineView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_rows && event->type() == QEvent::Resize) {
        m_nowLine->resize(m_rows->size());
        m_nowLine->raise();
    }
    return QWidget::eventFilter(watched, event);
}
