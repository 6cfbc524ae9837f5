#pragma once

#include "LaunchdJob.h"

#include <QAbstractListModel>
#include <QStyledItemDelegate>

// The sidebar's rows of system jobs (already filtered).
class SystemJobListModel final : public QAbstractListModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SystemJobListModel)

public:
    enum Role {
        JobIdRole = Qt::UserRole + 1,
        SourceNameRole,
        ScheduleRole,
        DisabledRole,
    };

    explicit SystemJobListModel(QObject* parent = nullptr);

    void setJobs(QList<LaunchdJob> jobs);
    const QList<LaunchdJob>& jobs() const { return m_jobs; }
    int rowOf(const QString& id) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    QList<LaunchdJob> m_jobs;
};

// Draws one job row: status dot and label, then the source tag and the schedule text.
class LaunchdJobRow final : public QStyledItemDelegate {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LaunchdJobRow)

public:
    explicit LaunchdJobRow(QObject* parent = nullptr);
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
