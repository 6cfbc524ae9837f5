#include "TaskListModel.h"

#include "Icons.h"
#include "RowPainting.h"

#include <QFontMetrics>
#include <QPainter>

TaskListModel::TaskListModel(QObject* parent) : QAbstractListModel(parent) {}

void TaskListModel::setTasks(QList<ScheduledTask> tasks)
{
    beginResetModel();
    m_tasks = std::move(tasks);
    endResetModel();
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
    default:
        return {};
    }
}

Qt::ItemFlags TaskListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // In select mode a click toggles the check mark; it never selects the row (and so never
    // opens the detail pane).
    return m_selectMode ? Qt::ItemIsEnabled : (Qt::ItemIsEnabled | Qt::ItemIsSelectable);
}

namespace {
constexpr int horizontalInset = 10;
constexpr int verticalInset = 2;
constexpr int checkSize = 16;
} // namespace

TaskRowView::TaskRowView(QObject* parent) : QStyledItemDelegate(parent) {}

void TaskRowView::paint(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const
{
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
        const bool checked = index.data(TaskListModel::CheckedRole).toBool();
        const QPixmap mark = Icons::pixmap(checked ? QStringLiteral("checkmark.circle.fill")
                                                   : QStringLiteral("circle"),
                                           checkSize, painter->device()->devicePixelRatioF());
        painter->drawPixmap(left, option.rect.center().y() - checkSize / 2, mark);
        left += checkSize + 8;
    }

    const int right = option.rect.right() - horizontalInset;
    const bool enabled = index.data(TaskListModel::EnabledRole).toBool();
    RowPainting::paintDot(painter, left, top + nameMetrics.height() / 2,
                          enabled ? RowPainting::enabledGreen : RowPainting::disabledGrey);
    const int textLeft = left + 8 + 6;
    RowPainting::paintElided(painter, QRect(textLeft, top, right - textLeft, nameMetrics.height()),
                             nameFont, RowPainting::primaryText(option),
                             index.data(Qt::DisplayRole).toString());
    RowPainting::paintElided(
        painter,
        QRect(left, top + nameMetrics.height() + lineGap, right - left, captionMetrics.height()),
        captionFont, RowPainting::secondaryText(option),
        index.data(TaskListModel::SummaryRole).toString());
}

QSize TaskRowView::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    const QFontMetrics nameMetrics(RowPainting::nameFont(option.font));
    const QFontMetrics captionMetrics(RowPainting::captionFont(option.font));
    return {200, nameMetrics.height() + 2 + captionMetrics.height() + 2 * (verticalInset + 4)};
}
