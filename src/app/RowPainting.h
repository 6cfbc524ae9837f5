#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

class QPainter;
class QStyleOptionViewItem;

// Shared drawing of the sidebar's two-line rows (tasks and system jobs).
namespace RowPainting {

inline const QColor enabledGreen{0x34, 0xc7, 0x59};
inline const QColor disabledGrey{0x8e, 0x8e, 0x93};

QFont nameFont(const QFont& base);    // body size, medium weight
QFont captionFont(const QFont& base); // caption size
QFont smallCaptionFont(const QFont& base);
// The selection background (or nothing) and the text colours for the row's state.
void paintBackground(QPainter* painter, const QStyleOptionViewItem& option);
QColor primaryText(const QStyleOptionViewItem& option);
QColor secondaryText(const QStyleOptionViewItem& option);
// An 8-point dot, vertically centred on `centerY`.
void paintDot(QPainter* painter, int x, int centerY, const QColor& color);
// Text clipped with an ellipsis to `width`.
void paintElided(QPainter* painter, const QRect& rect, const QFont& font, const QColor& color,
                 const QString& text);

} // namespace RowPainting
