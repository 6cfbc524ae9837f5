#include "RowPainting.h"

#include "Icons.h"
#include "StatusColors.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <QStyle>
#include <QStyleOptionViewItem>
#include <algorithm>

namespace RowPainting {

QFont nameFont(const QFont& base)
{
    QFont font = base;
    font.setWeight(QFont::Medium);
    return font;
}

QFont captionFont(const QFont& base)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * 0.85);
    return font;
}

QFont smallCaptionFont(const QFont& base)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * 0.75);
    return font;
}

void paintBackground(QPainter* painter, const QStyleOptionViewItem& option)
{
    if (!(option.state & QStyle::State_Selected))
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(rowBackground(option));
    painter->drawRoundedRect(QRectF(option.rect).adjusted(4, 1, -4, -1), 5, 5);
    painter->restore();
}

QColor primaryText(const QStyleOptionViewItem& option)
{
    return option.palette.color(QPalette::Active, (option.state & QStyle::State_Selected)
                                                      ? QPalette::HighlightedText
                                                      : QPalette::Text);
}

QColor rowBackground(const QStyleOptionViewItem& option)
{
    if (!(option.state & QStyle::State_Selected))
        return option.palette.color(QPalette::Active, QPalette::Window);
    // The accent deepened until the name reads well on it and the subtitle still reaches 4.5:1.
    return StatusColors::readableOn(option.palette.color(QPalette::Active, QPalette::Highlight),
                                    primaryText(option), 6.0);
}

QColor secondaryText(const QStyleOptionViewItem& option)
{
    return StatusColors::secondaryText(primaryText(option), rowBackground(option));
}

QColor statusDot(const QStyleOptionViewItem& option, bool on)
{
    return StatusColors::symbol(on ? StatusColors::Status::success : StatusColors::Status::off,
                                rowBackground(option));
}

bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

QColor quaternaryFill(const QPalette& palette)
{
    QColor wash = palette.color(QPalette::Text);
    wash.setAlphaF(0.08f);
    return wash;
}

QString quaternaryFillRule(const QString& selector, const QPalette& palette, const QString& extra)
{
    const QColor fill = quaternaryFill(palette);
    return QStringLiteral("%1 { background: rgba(%2, %3, %4, %5); %6 }")
        .arg(selector)
        .arg(fill.red())
        .arg(fill.green())
        .arg(fill.blue())
        .arg(fill.alpha())
        .arg(extra);
}

QColor successColor(const QPalette& palette)
{
    return StatusColors::text(StatusColors::Status::success, palette);
}

QColor failureColor(const QPalette& palette)
{
    return StatusColors::text(StatusColors::Status::failure, palette);
}

int symbolSize(const QFont& font) { return std::max(16, QFontMetrics(font).height() * 9 / 10); }

void paintSymbol(QPainter* painter, const QRect& rect, const QString& symbolName,
                 const QStyleOptionViewItem& option)
{
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    painter->drawPixmap(rect.topLeft(),
                        Icons::pixmap(symbolName, rect.width(), ratio, primaryText(option)));
}

void paintCheckCircle(QPainter* painter, const QRectF& rect, bool checked,
                      const QStyleOptionViewItem& option)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF circle = rect.adjusted(1, 1, -1, -1);
    if (checked) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(option.palette.color(QPalette::Active, QPalette::Highlight));
        painter->drawEllipse(circle);
        QPainterPath tick;
        tick.moveTo(circle.left() + circle.width() * 0.28, circle.top() + circle.height() * 0.52);
        tick.lineTo(circle.left() + circle.width() * 0.44, circle.top() + circle.height() * 0.68);
        tick.lineTo(circle.left() + circle.width() * 0.73, circle.top() + circle.height() * 0.36);
        QPen pen(option.palette.color(QPalette::Active, QPalette::HighlightedText),
                 circle.width() / 8.0);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(tick);
    } else {
        painter->setPen(QPen(secondaryText(option), 1.5));
        painter->setBrush(Qt::NoBrush);
        painter->drawEllipse(circle);
    }
    painter->restore();
}

void paintDot(QPainter* painter, int x, int centerY, const QColor& color)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(color);
    painter->drawEllipse(QRectF(x, centerY - 4, 8, 8));
    painter->restore();
}

QColor failureMarkColour(const QStyleOptionViewItem& option)
{
    if (option.state & QStyle::State_Selected)
        return option.palette.color(QPalette::Active, QPalette::HighlightedText);
    return failureColor(option.palette);
}

void paintFailureMark(QPainter* painter, int x, int centerY, const QStyleOptionViewItem& option)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    // 10 points wide, a little taller than the 8-point dot it replaces.
    const QRectF box(x - 1, centerY - 5, 10, 10);
    QPainterPath triangle;
    triangle.moveTo(box.center().x(), box.top());
    triangle.lineTo(box.right(), box.bottom());
    triangle.lineTo(box.left(), box.bottom());
    triangle.closeSubpath();
    // The exclamation mark is cut out of the triangle, so it shows whatever lies behind.
    QPainterPath bang;
    const double cx = box.center().x();
    bang.addRect(QRectF(cx - 0.75, box.top() + 3.5, 1.5, 3.5));
    bang.addRect(QRectF(cx - 0.75, box.bottom() - 2, 1.5, 1.2));
    painter->setPen(Qt::NoPen);
    painter->setBrush(failureMarkColour(option));
    painter->drawPath(triangle.subtracted(bang));
    painter->restore();
}

void paintElided(QPainter* painter, const QRect& rect, const QFont& font, const QColor& color,
                 const QString& text)
{
    painter->save();
    painter->setFont(font);
    painter->setPen(color);
    const QFontMetrics metrics(font);
    painter->drawText(rect, Qt::AlignLeft | Qt::AlignVCenter,
                      metrics.elidedText(text, Qt::ElideRight, rect.width()));
    painter->restore();
}

} // namespace RowPainting
