#include "LaunchdJobDetailView.h"

#include "Icons.h"

#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextDocument>
#include <QVBoxLayout>

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
    icon->setPixmap(Icons::pixmap(symbol, 14, box->devicePixelRatioF()));
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
    auto* value = new QLineEdit(path, this);
    value->setObjectName(QStringLiteral("path-row-value"));
    value->setReadOnly(true);
    value->setFrame(false);
    value->setFont(monospaced(font(), 0.85));
    value->setCursorPosition(0);
    value->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; padding: 0; }"));
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

    QLabel* title = selectableLabel(job.label, content, QStringLiteral("job-detail-label"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    title->setFont(titleFont);
    title->setWordWrap(true);
    // A label without spaces must not widen the page; it is clipped instead.
    title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(title);
    layout->addWidget(makeBadges(job));

    layout->addWidget(makeSectionTitle(QStringLiteral("Command"), QStringLiteral("terminal")));
    // A one-line field scrolls a long command sideways by itself and never widens the pane.
    auto* command = new QLineEdit(job.commandLine(), content);
    command->setObjectName(QStringLiteral("job-detail-command"));
    command->setReadOnly(true);
    command->setFont(monospaced(font()));
    command->setCursorPosition(0);
    command->setStyleSheet(QStringLiteral("QLineEdit { border: none; border-radius: 6px; "
                                          "padding: 6px 8px; background: rgba(0, 0, 0, 18); }"));
    layout->addWidget(command);

    layout->addWidget(
        makeSectionTitle(QStringLiteral("Schedule"), QStringLiteral("calendar.badge.clock")));
    layout->addWidget(
        selectableLabel(job.scheduleDescription(), content, QStringLiteral("job-detail-schedule")));

    layout->addWidget(makeSectionTitle(QStringLiteral("Paths"), QString()));
    if (job.standardOutPath)
        layout->addWidget(new PathRow(QStringLiteral("Stdout"), *job.standardOutPath, content));
    if (job.standardErrorPath)
        layout->addWidget(new PathRow(QStringLiteral("Stderr"), *job.standardErrorPath, content));
    layout->addWidget(new PathRow(QStringLiteral("Plist"), job.url, content));

    layout->addWidget(makeSectionTitle(QStringLiteral("Raw Plist"), QStringLiteral("doc.text")));
    auto* raw = new QPlainTextEdit(job.rawPlistXml(), content);
    raw->setObjectName(QStringLiteral("job-detail-raw"));
    raw->setReadOnly(true);
    raw->setLineWrapMode(QPlainTextEdit::NoWrap);
    raw->setFont(monospaced(font(), 0.9));
    raw->setFrameShape(QFrame::NoFrame);
    raw->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // As tall as its text, so the page scrolls as one; only long lines scroll sideways.
    const int lines = raw->document()->blockCount();
    raw->setFixedHeight(lines * QFontMetrics(raw->font()).lineSpacing() + 16 +
                        raw->horizontalScrollBar()->sizeHint().height());
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
                                QColor(0xd7, 0x2c, 0x2c), row, QStringLiteral("badge-state")));
    } else {
        layout->addWidget(badge(QStringLiteral("Enabled"), QStringLiteral("checkmark.circle"),
                                QColor(0x1e, 0x8e, 0x3e), row, QStringLiteral("badge-state")));
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
