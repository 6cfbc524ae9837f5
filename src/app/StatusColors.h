#pragma once

#include <QColor>

class QPalette;

// Colours that carry a meaning (success, failure, warning, off) on whatever palette the
// desktop gives us. Each starts from its familiar hue and has its lightness moved away from
// the background it is drawn on until the WCAG 2.1 contrast ratio holds: 4.5:1 for text, 3:1
// for large text and symbols such as status dots.
namespace StatusColors {

constexpr double textContrast = 4.5;
constexpr double symbolContrast = 3.0;

enum class Status { success, failure, warning, off };

// Relative luminance (0 black ... 1 white) and the contrast ratio of two colours (1 ... 21).
double luminance(const QColor& color);
double contrastRatio(const QColor& first, const QColor& second);
// `color` with its lightness moved towards black or white, whichever the background leaves
// more room for, until it has `minimum` contrast against `background`. The hue is kept.
QColor readableOn(const QColor& color, const QColor& background, double minimum);

// The status colour for text (4.5:1) or a symbol (3:1) on `background`; without one, on the
// palette's window colour.
QColor text(Status status, const QPalette& palette);
QColor text(Status status, const QColor& background);
QColor symbol(Status status, const QPalette& palette);
QColor symbol(Status status, const QColor& background);
// Secondary text (captions, subtitles): the palette's text colour faded towards the background
// as far as 4.5:1 allows.
QColor secondaryText(const QColor& textColor, const QColor& background);
// `palette` with its placeholder colour (captions, hints, secondary lines) made readable on both
// the window and the base colour; the rest is left as the desktop chose it.
QPalette readablePalette(QPalette palette);

} // namespace StatusColors
