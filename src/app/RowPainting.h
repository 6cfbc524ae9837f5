#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

class QPainter;
class QPalette;
class QStyleOptionViewItem;

// Shared drawing of the sidebar's two-line rows (tasks and system jobs).
namespace RowPainting {

// The model role holding a row's symbol name, drawn in the row's text colour.
constexpr int SymbolRole = Qt::UserRole + 100;
// The model role holding the texts the sidebar's search looks through (a QStringList).
constexpr int SearchTextRole = Qt::UserRole + 101;

inline const QColor enabledGreen{0x34, 0xc7, 0x59};
inline const QColor disabledGrey{0x8e, 0x8e, 0x93};

QFont nameFont(const QFont& base);    // body size, medium weight
QFont captionFont(const QFont& base); // caption size
QFont smallCaptionFont(const QFont& base);
// The selection background (or nothing) and the text colours for the row's state.
void paintBackground(QPainter* painter, const QStyleOptionViewItem& option);
QColor primaryText(const QStyleOptionViewItem& option);
QColor secondaryText(const QStyleOptionViewItem& option);
// What the row is drawn on: the window, or when selected the highlight colour deepened (or
// lightened) until the highlighted text has 6:1 contrast on it.
QColor rowBackground(const QStyleOptionViewItem& option);
// The enabled (green) or off (grey) dot, with 3:1 contrast on the row's background.
QColor statusDot(const QStyleOptionViewItem& option, bool on);
// Status colours for text (success green, failure red) with 4.5:1 contrast on the palette's
// window (StatusColors).
QColor successColor(const QPalette& palette);
QColor failureColor(const QPalette& palette);
bool isDark(const QPalette& palette);
// The faint fill behind boxed text (a command, output): the text colour washed over the window.
QColor quaternaryFill(const QPalette& palette);
// A style sheet rule giving `selector` that fill as its background.
QString quaternaryFillRule(const QString& selector, const QPalette& palette,
                           const QString& extra = QString());
// A row symbol's size: 16 points, growing with a larger font.
int symbolSize(const QFont& font);
// A symbol in the row's text colour (highlighted text on a selected row).
void paintSymbol(QPainter* painter, const QRect& rect, const QString& symbolName,
                 const QStyleOptionViewItem& option);
// The select mode's mark: a filled check circle in the accent colour when checked, otherwise an
// outlined circle in the secondary colour.
void paintCheckCircle(QPainter* painter, const QRectF& rect, bool checked,
                      const QStyleOptionViewItem& option);
// An 8-point dot, vertically centred on `centerY`.
void paintDot(QPainter* painter, int x, int centerY, const QColor& color);
// In the dot's place, the mark of a task whose last run failed: a warning triangle in the
// failure colour with an exclamation mark cut out, a shape that reads without its colour.
void paintFailureMark(QPainter* painter, int x, int centerY, const QStyleOptionViewItem& option);
// The failure mark's colour on the row: the failure colour of the palette, or the highlighted
// text colour on a selected row (the selection's own background would swallow red).
QColor failureMarkColour(const QStyleOptionViewItem& option);
// Text clipped with an ellipsis to `width`.
void paintElided(QPainter* painter, const QRect& rect, const QFont& font, const QColor& color,
                 const QString& text);

} // namespace RowPainting
