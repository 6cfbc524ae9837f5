#include "RowPainting.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionViewItem>

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
    painter->setBrush(option.palette.color(QPalette::Active, QPalette::Highlight));
    painter->drawRoundedRect(QRectF(option.rect).adjusted(4, 1, -4, -1), 5, 5);
    painter->restore();
}

QColor primaryText(const QStyleOptionViewItem& option)
{
    return option.palette.color(QPalette::Active, (option.state & QStyle::State_Selected)
                                                      ? QPalette::HighlightedText
                                                      : QPalette::Text);
}

QColor secondaryText(const QStyleOptionViewItem& option)
{
    QColor color = primaryText(option);
    color.setAlphaF(0.65f);
    return color;
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
