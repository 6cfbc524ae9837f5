#pragma once

#include "LaunchdJob.h"

#include <QScrollArea>
#include <QWidget>

// One path line of the job detail: a caption over the path in a monospaced, selectable font.
class PathRow final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PathRow)

public:
    PathRow(const QString& label, const QString& path, QWidget* parent = nullptr);
};

// The read-only detail of a system launchd job: label, badges, command, schedule, paths and
// the plist itself.
class LaunchdJobDetailView final : public QScrollArea {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LaunchdJobDetailView)

public:
    explicit LaunchdJobDetailView(const LaunchdJob& job, QWidget* parent = nullptr);

private:
    QWidget* makeBadges(const LaunchdJob& job);
    QWidget* makeSectionTitle(const QString& title, const QString& symbol);
};
