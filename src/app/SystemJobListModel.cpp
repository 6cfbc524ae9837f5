#include "SystemJobListModel.h"

#include "RowPainting.h"

#include <QFontMetrics>
#include <QPainter>

SystemJobListModel::SystemJobListModel(QObject* parent) : QAbstractListModel(parent) {}

void SystemJobListModel::setJobs(QList<LaunchdJob> jobs)
{
    beginResetModel();
    m_jobs = std::move(jobs);
    endResetModel();
}

int SystemJobListModel::rowOf(const QString& id) const
{
    for (int row = 0; row < m_jobs.size(); ++row) {
        if (m_jobs.at(row).id == id)
            return row;
    }
    return -1;
}

int SystemJobListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_jobs.size());
}

QVariant SystemJobListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_jobs.size())
        return {};
    const LaunchdJob& job = m_jobs.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return job.label;
    case Qt::ToolTipRole:
        return job.commandLine();
    case RowPainting::SearchTextRole:
        return QStringList{job.label, job.commandLine()};
    case JobIdRole:
        return job.id;
    case SourceNameRole:
        return LaunchdJob::sourceName(job.source);
    case ScheduleRole:
        return job.scheduleDescription();
    case DisabledRole:
        return job.disabled;
    default:
        return {};
    }
}

LaunchdJobRow::LaunchdJobRow(QObject* parent) : QStyledItemDelegate(parent) {}

void LaunchdJobRow::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const
{
    RowPainting::paintBackground(painter, option);
    const QFont nameFont = RowPainting::nameFont(option.font);
    const QFont captionFont = RowPainting::captionFont(option.font);
    const QFont tagFont = RowPainting::smallCaptionFont(option.font);
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics captionMetrics(captionFont);
    const QFontMetrics tagMetrics(tagFont);
    const int tagHeight = tagMetrics.height() + 4;
    const int secondLine = qMax(tagHeight, captionMetrics.height());
    const int lineGap = 3;
    const int top = option.rect.top() +
                    (option.rect.height() - nameMetrics.height() - lineGap - secondLine) / 2;
    const int left = option.rect.left() + 10;
    const int right = option.rect.right() - 10;

    const bool disabled = index.data(SystemJobListModel::DisabledRole).toBool();
    RowPainting::paintDot(painter, left, top + nameMetrics.height() / 2,
                          RowPainting::statusDot(option, !disabled));
    const int textLeft = left + 14;
    RowPainting::paintElided(painter, QRect(textLeft, top, right - textLeft, nameMetrics.height()),
                             nameFont, RowPainting::primaryText(option),
                             index.data(Qt::DisplayRole).toString());

    // The source name as a capsule tag, then the schedule.
    const int lineTop = top + nameMetrics.height() + lineGap;
    const QString source = index.data(SystemJobListModel::SourceNameRole).toString();
    const QRectF tag(left, lineTop + (secondLine - tagHeight) / 2.0,
                     tagMetrics.horizontalAdvance(source) + 12, tagHeight);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    QColor fill = RowPainting::primaryText(option);
    fill.setAlphaF(0.1f);
    painter->setBrush(fill);
    painter->drawRoundedRect(tag, tag.height() / 2, tag.height() / 2);
    painter->setFont(tagFont);
    painter->setPen(RowPainting::secondaryText(option));
    painter->drawText(tag, Qt::AlignCenter, source);
    painter->restore();

    const int scheduleLeft = int(tag.right()) + 6;
    RowPainting::paintElided(painter,
                             QRect(scheduleLeft, lineTop, right - scheduleLeft, secondLine),
                             captionFont, RowPainting::secondaryText(option),
                             index.data(SystemJobListModel::ScheduleRole).toString());
}

QSize LaunchdJobRow::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    const QFontMetrics nameMetrics(RowPainting::nameFont(option.font));
    const QFontMetrics captionMetrics(RowPainting::captionFont(option.font));
    const QFontMetrics tagMetrics(RowPainting::smallCaptionFont(option.font));
    const int secondLine = qMax(tagMetrics.height() + 4, captionMetrics.height());
    return {200, nameMetrics.height() + 3 + secondLine + 12};
}
