#pragma once

#include "LaunchdJob.h"

#include <QScrollArea>
#include <QTextEdit>
#include <QWidget>

// Read-only, selectable text as tall as its content. Wrapping text breaks at spaces and, in a
// word longer than the line (a job label, a path), anywhere, so nothing is cut off; text that
// does not wrap scrolls sideways with a visible scroll bar.
class SelectableText final : public QTextEdit {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SelectableText)

public:
    SelectableText(const QString& text, bool wrap, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitHeight();
};

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
