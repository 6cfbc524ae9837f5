#include "TaskListModel.h"

#include "LogsWatcher.h"
#include "RowPainting.h"
#include "RunHistory.h"
#include "TaskRunReader.h"
#include "TaskStore.h"

#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

TaskListModel::TaskListModel(TaskStore& store, QObject* parent)
    : QAbstractListModel(parent), m_store(store), m_tasks(store.tasks())
{
    TaskRunReader& reader = m_store.runReader();
    connect(&reader, &TaskRunReader::statusRead, this, &TaskListModel::onStatusRead);
    for (const ScheduledTask& task : std::as_const(m_tasks))
        readStatus(task);
    followStore();
    m_watcher = new LogsWatcher(m_store.agentPaths().logDir, this);
    connect(m_watcher, &LogsWatcher::changed, this, &TaskListModel::onLogChanged);
}

void TaskListModel::readStatus(const ScheduledTask& task)
{
    // What was read last stands until the new reading arrives.
    TaskRunReader& reader = m_store.runReader();
    const TaskRunStatus* known = reader.known(task.id);
    m_lastRunFailed.insert(task.id, known && known->lastRunFailed());
    reader.request(task);
}

void TaskListModel::onStatusRead(const TaskRunStatus& status)
{
    const bool failed = status.lastRunFailed();
    const auto it = m_lastRunFailed.constFind(status.taskId);
    if (it != m_lastRunFailed.cend() && *it == failed)
        return;
    m_lastRunFailed.insert(status.taskId, failed);
    if (const int row = rowOf(status.taskId); row >= 0)
        Q_EMIT dataChanged(index(row), index(row));
}

void TaskListModel::onLogChanged(const QString& path)
{
    if (!RunHistory::isHistoryPath(path))
        return;
    const QString id8 = QFileInfo(path).completeBaseName();
    for (const ScheduledTask& task : std::as_const(m_tasks)) {
        if (task.shortId() == id8)
            m_store.runReader().request(task);
    }
}

void TaskListModel::followStore()
{
    // The store tells each change as it makes it, so the rows follow one by one and the views
    // keep their selection and scroll position.
    connect(&m_store, &TaskStore::taskAdded, this, [this](int row) {
        const ScheduledTask& task = m_store.tasks().at(row);
        // An import may bring the task's history along.
        readStatus(task);
        beginInsertRows({}, row, row);
        m_tasks.insert(row, task);
        endInsertRows();
    });
    connect(&m_store, &TaskStore::taskChanged, this, [this](const QUuid& id) {
        const int row = rowOf(id);
        if (const ScheduledTask* task = m_store.task(id); task && row >= 0) {
            m_tasks[row] = *task;
            Q_EMIT dataChanged(index(row), index(row));
        }
    });
    connect(&m_store, &TaskStore::taskRemoved, this, [this](const QUuid& id) {
        if (const int row = rowOf(id); row >= 0) {
            beginRemoveRows({}, row, row);
            m_tasks.removeAt(row);
            endRemoveRows();
        }
    });
    connect(&m_store, &TaskStore::tasksReset, this, [this] {
        beginResetModel();
        m_tasks = m_store.tasks();
        for (const ScheduledTask& task : std::as_const(m_tasks)) {
            if (!m_lastRunFailed.contains(task.id))
                readStatus(task);
        }
        endResetModel();
    });
    // The row shows while an operation on its task runs.
    const auto busyChanged = [this](const QUuid& id) {
        if (const int row = rowOf(id); row >= 0)
            Q_EMIT dataChanged(index(row), index(row), {BusyRole});
    };
    connect(&m_store, &TaskStore::operationStarted, this, busyChanged);
    connect(&m_store, &TaskStore::operationFinished, this, busyChanged);
}

void TaskListModel::setSelectMode(bool selectMode, QSet<QUuid> checked)
{
    m_selectMode = selectMode;
    m_checked = std::move(checked);
    if (!m_tasks.isEmpty())
        Q_EMIT dataChanged(index(0), index(int(m_tasks.size()) - 1));
}

int TaskListModel::rowOf(const QUuid& id) const
{
    for (int row = 0; row < m_tasks.size(); ++row) {
        if (m_tasks.at(row).id == id)
            return row;
    }
    return -1;
}

int TaskListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_tasks.size());
}

QVariant TaskListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_tasks.size())
        return {};
    const ScheduledTask& task = m_tasks.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return task.name;
    case Qt::ToolTipRole:
        return task.command;
    case RowPainting::SearchTextRole:
        return QStringList{task.name, task.command};
    case TaskIdRole:
        return task.id;
    case SummaryRole:
        return task.schedule.summary();
    case EnabledRole:
        return task.isEnabled;
    case SelectModeRole:
        return m_selectMode;
    case CheckedRole:
        return m_checked.contains(task.id);
    case LastRunFailedRole:
        return m_lastRunFailed.value(task.id);
    case BusyRole:
        return m_store.isBusy(task.id);
    case Qt::AccessibleDescriptionRole: {
        QStringList parts{task.isEnabled ? QStringLiteral("enabled") : QStringLiteral("disabled")};
        if (m_lastRunFailed.value(task.id))
            parts << QStringLiteral("last run failed");
        if (m_store.isBusy(task.id))
            parts << QStringLiteral("working");
        return parts.join(QStringLiteral(", "));
    }
    case Qt::CheckStateRole:
        // Only select mode rows are checkable, so assistive technology announces the mark.
        if (!m_selectMode)
            return {};
        return m_checked.contains(task.id) ? Qt::Checked : Qt::Unchecked;
    default:
        return {};
    }
}

Qt::ItemFlags TaskListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // In select mode a click toggles the check mark; the list's selection then holds the
    // checked rows (TaskCheckSelectionModel) and never opens the detail pane.
    return m_selectMode ? (Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable)
                        : (Qt::ItemIsEnabled | Qt::ItemIsSelectable);
}

bool TaskListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!m_selectMode || role != Qt::CheckStateRole || !index.isValid() ||
        index.row() >= m_tasks.size())
        return false;
    const QUuid id = m_tasks.at(index.row()).id;
    // The window owns the selection; it answers with setSelectMode.
    if ((value.toInt() == Qt::Checked) != m_checked.contains(id))
        Q_EMIT checkRequested(id);
    return true;
}

void TaskCheckSelectionModel::showChecks()
{
    if (!m_checking || !model())
        return;
    QItemSelection checked;
    for (int row = 0; row < model()->rowCount(); ++row) {
        const QModelIndex index = model()->index(row, 0);
        if (index.data(Qt::CheckStateRole).toInt() == Qt::Checked)
            checked.select(index, index);
    }
    m_showing = true;
    QItemSelectionModel::select(checked, ClearAndSelect);
    m_showing = false;
}

void TaskCheckSelectionModel::setCurrentIndex(const QModelIndex& index, SelectionFlags command)
{
    // In select mode moving to a row (the arrow keys, the window placing the cursor) never
    // checks it; only asking for its selection does.
    QItemSelectionModel::setCurrentIndex(index, m_checking && !m_showing ? NoUpdate : command);
}

void TaskCheckSelectionModel::select(const QItemSelection& selection, SelectionFlags command)
{
    if (!m_checking || m_showing || !model()) {
        QItemSelectionModel::select(selection, command);
        return;
    }
    // Each row's wanted mark; the model asks the window, which answers with new marks (and
    // showChecks()) before the next row is looked at.
    QAbstractItemModel* rows = const_cast<QAbstractItemModel*>(model());
    for (int row = 0; row < rows->rowCount(); ++row) {
        const QModelIndex index = rows->index(row, 0);
        const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        bool wanted = command.testFlag(Clear) ? false : checked;
        if (selection.contains(index)) {
            if (command.testFlag(Toggle))
                wanted = !checked;
            else if (command.testFlag(Select))
                wanted = true;
            else if (command.testFlag(Deselect))
                wanted = false;
        }
        if (wanted != checked)
            rows->setData(index, wanted ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    }
}

namespace {
constexpr int horizontalInset = 10;
constexpr int verticalInset = 2;
} // namespace

TaskRowView::TaskRowView(QObject* parent) : QStyledItemDelegate(parent) {}

bool TaskRowView::editorEvent(QEvent*, QAbstractItemModel*, const QStyleOptionViewItem&,
                              const QModelIndex&)
{
    // A select mode row is checked through the list's selection (TaskCheckSelectionModel), by
    // a click, Space and assistive technology alike; checking it here as well would undo it.
    return false;
}

void TaskRowView::paint(QPainter* painter, const QStyleOptionViewItem& viewOption,
                        const QModelIndex& index) const
{
    // In select mode the list's selection is the check marks, which the circles show.
    QStyleOptionViewItem option = viewOption;
    if (index.data(TaskListModel::SelectModeRole).toBool())
        option.state &= ~QStyle::State_Selected;
    RowPainting::paintBackground(painter, option);
    const QFont nameFont = RowPainting::nameFont(option.font);
    const QFont captionFont = RowPainting::captionFont(option.font);
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics captionMetrics(captionFont);
    const int lineGap = 2;
    const int contentHeight = nameMetrics.height() + lineGap + captionMetrics.height();
    const int top = option.rect.top() + (option.rect.height() - contentHeight) / 2;
    int left = option.rect.left() + horizontalInset;

    if (index.data(TaskListModel::SelectModeRole).toBool()) {
        const int checkSize = RowPainting::symbolSize(option.font);
        const bool checked = index.data(TaskListModel::CheckedRole).toBool();
        RowPainting::paintCheckCircle(
            painter, QRectF(left, option.rect.center().y() - checkSize / 2, checkSize, checkSize),
            checked, option);
        left += checkSize + 8;
    }

    const int right = option.rect.right() - horizontalInset;
    const bool enabled = index.data(TaskListModel::EnabledRole).toBool();
    if (index.data(TaskListModel::LastRunFailedRole).toBool()) {
        RowPainting::paintFailureMark(painter, left, top + nameMetrics.height() / 2, option);
    } else {
        RowPainting::paintDot(painter, left, top + nameMetrics.height() / 2,
                              RowPainting::statusDot(option, enabled));
    }
    const int textLeft = left + 8 + 6;
    RowPainting::paintElided(painter, QRect(textLeft, top, right - textLeft, nameMetrics.height()),
                             nameFont, RowPainting::primaryText(option),
                             index.data(Qt::DisplayRole).toString());
    RowPainting::paintElided(
        painter,
        QRect(left, top + nameMetrics.height() + lineGap, right - left, captionMetrics.height()),
        captionFont, RowPainting::secondaryText(option),
        // While an operation on the task runs, the row says so in place of its schedule.
        index.data(TaskListModel::BusyRole).toBool()
            ? TaskListModel::busyText()
            : index.data(TaskListModel::SummaryRole).toString());
}

QSize TaskRowView::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    const QFontMetrics nameMetrics(RowPainting::nameFont(option.font));
    const QFontMetrics captionMetrics(RowPainting::captionFont(option.font));
    return {200, nameMetrics.height() + 2 + captionMetrics.height() + 2 * (verticalInset + 4)};
}
