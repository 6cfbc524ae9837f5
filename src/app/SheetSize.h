#pragma once

#include <QSize>

class QDialog;
class QWidget;

// Every sheet opens at its preferred size shrunk to fit the window it opens on and that
// window's screen, so no sheet is taller (or wider) than what it covers; the sheets scroll or
// stretch their content inside.
namespace SheetSize {

// The size for a sheet over `parent` (its window) that would like `preferred`.
QSize fitting(const QWidget* parent, QSize preferred);
// Gives `sheet` that size, fixed; with a valid `minimum`, the sheet opens at that size and the
// user may resize it down to `minimum` (itself shrunk to fit).
void fit(QDialog& sheet, QSize preferred, QSize minimum = QSize());

} // namespace SheetSize
