#include "LaunchdJobDetailView.h"

#include "Icons.h"
#include "RowPainting.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QTextDocument>

#include <QVBoxLayout>
#include <cmath>

namespace {

QFont monospaced(const QFont& base, qreal scale = 1.0)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(base.pointSizeF() * scale);
    return font;
}

QLabel* selectableLabel(const QString& text, QWidget* parent, const QString& objectName)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

QWidget* badge(const QString& text, const QString& symbol, const QColor& color, QWidget* parent,
               const QString& objectName)
{
    auto* box = new QWidget(parent);
    box->setObjectName(objectName);
    box->setAccessibleName(text);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto* icon = new QLabel(box);
    icon->setPixmap(Icons::pixmap(symbol, 14, box->devicePixelRatioF(), color));
    auto* label = new QLabel(text, box);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.92);
    label->setFont(font);
    if (color.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    }
    layout->addWidget(icon);
    layout->addWidget(label);
    return box;
}

} // namespace

SelectableText::SelectableText(const QString& text, bool wrap, QWidget* parent) : QTextEdit(parent)
{
    setPlainText(text);
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    setLineWrapMode(wrap ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setFocusPolicy(Qt::ClickFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    document()->setDocumentMargin(0);
    viewport()->setAutoFillBackground(false);
    connect(horizontalScrollBar(), &QScrollBar::rangeChanged, this, &SelectableText::fitHeight);
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &SelectableText::fitHeight);
    fitHeight();
}

// Narrow enough never to widen the page; the height follows the text.
QSize SelectableText::sizeHint() const { return {100, height()}; }
QSize SelectableText::minimumSizeHint() const { return {40, height()}; }

void SelectableText::resizeEvent(QResizeEvent* event)
{
    QTextEdit::resizeEvent(event);
    fitHeight();
}

void SelectableText::fitHeight()
{
    const QMargins margins = contentsMargins();
    int height = int(std::ceil(document()->size().height())) + margins.top() + margins.bottom() +
                 2 * frameWidth();
    if (horizontalScrollBar()->maximum() > 0)
        height += horizontalScrollBar()->sizeHint().height();
    if (height != this->height())
        setFixedHeight(height);
}

PathRow::PathRow(const QString& label, const QString& path, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("path-row-") + label.toLower());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* caption = new QLabel(label, this);
    QFont captionFont = caption->font();
    captionFont.setPointSizeF(captionFont.pointSizeF() * 0.85);
    caption->setFont(captionFont);
    caption->setForegroundRole(QPalette::PlaceholderText);
    auto* value = new SelectableText(path, true, this);
    value->setObjectName(QStringLiteral("path-row-value"));
    value->setAccessibleName(label);
    value->setFont(monospaced(font(), 0.85));
    layout->addWidget(caption);
    layout->addWidget(value);
}

LaunchdJobDetailView::LaunchdJobDetailView(const LaunchdJob& job, QWidget* parent)
    : QScrollArea(parent)
{
    setObjectName(QStringLiteral("job-detail"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(10);

    auto* title = new SelectableText(job.label, true, content);
    title->setObjectName(QStringLiteral("job-detail-label"));
    title->setAccessibleName(job.label);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    title->setFont(titleFont);
    layout->addWidget(title);
    layout->addWidget(makeBadges(job));

    layout->addWidget(makeSectionTitle(QStringLiteral("Command"), QStringLiteral("terminal")));
    // A long command scrolls sideways inside its box, with a scroll bar that says so.
    auto* command = new SelectableText(job.commandLine(), false, content);
    command->setObjectName(QStringLiteral("job-detail-command"));
    command->setAccessibleName(QStringLiteral("Command"));
    command->setFont(monospaced(font()));
    // The rounded box behind the command shows on light and dark palettes alike.
    command->setStyleSheet(RowPainting::quaternaryFillRule(
        QStringLiteral("QTextEdit"), palette(),
        QStringLiteral("border: none; border-radius: 6px; padding: 4px 6px;")));
    layout->addWidget(command);

    layout->addWidget(
        makeSectionTitle(QStringLiteral("Schedule"), QStringLiteral("calendar.badge.clock")));
    QLabel* schedule =
        selectableLabel(job.scheduleDescription(), content, QStringLiteral("job-detail-schedule"));
    schedule->setWordWrap(true);
    layout->addWidget(schedule);

    layout->addWidget(makeSectionTitle(QStringLiteral("Paths"), QString()));
    if (job.standardOutPath)
        layout->addWidget(new PathRow(QStringLiteral("Stdout"), *job.standardOutPath, content));
    if (job.standardErrorPath)
        layout->addWidget(new PathRow(QStringLiteral("Stderr"), *job.standardErrorPath, content));
    layout->addWidget(new PathRow(QStringLiteral("Plist"), job.url, content));

    layout->addWidget(makeSectionTitle(QStringLiteral("Raw Plist"), QStringLiteral("doc.text")));
    auto* raw = new SelectableText(job.rawPlistXml(), false, content);
    raw->setObjectName(QStringLiteral("job-detail-raw"));
    raw->setAccessibleName(QStringLiteral("Raw Plist"));
    raw->setFont(monospaced(font(), 0.9));
    layout->addWidget(raw);
    layout->addStretch();
    setWidget(content);
}

QWidget* LaunchdJobDetailView::makeBadges(const LaunchdJob& job)
{
    auto* row = new QWidget(this);
    row->setObjectName(QStringLiteral("job-detail-badges"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addWidget(badge(LaunchdJob::sourceName(job.source), QStringLiteral("folder"), {}, row,
                            QStringLiteral("badge-source")));
    if (job.disabled) {
        layout->addWidget(badge(QStringLiteral("Disabled"), QStringLiteral("xmark.circle"),
                                RowPainting::failureColor(palette()), row,
                                QStringLiteral("badge-state")));
    } else {
        layout->addWidget(badge(QStringLiteral("Enabled"), QStringLiteral("checkmark.circle"),
                                RowPainting::successColor(palette()), row,
                                QStringLiteral("badge-state")));
    }
    if (job.runAtLoad) {
        layout->addWidget(badge(QStringLiteral("Run at Load"), QStringLiteral("play.circle"), {},
                                row, QStringLiteral("badge-run-at-load")));
    }
    if (job.keepAlive) {
        layout->addWidget(badge(QStringLiteral("Keep Alive"),
                                QStringLiteral("arrow.clockwise.circle"), {}, row,
                                QStringLiteral("badge-keep-alive")));
    }
    layout->addStretch();
    return row;
}

QWidget* LaunchdJobDetailView::makeSectionTitle(const QString& title, const QString& symbol)
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->setSpacing(6);
    if (!symbol.isEmpty()) {
        auto* icon = new QLabel(row);
        icon->setPixmap(Icons::pixmap(symbol, 16, devicePixelRatioF()));
        layout->addWidget(icon);
    }
    auto* label = new QLabel(title, row);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    layout->addWidget(label);
    layout->addStretch();
    return row;
}
