#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

// The screens name their symbols by the platform's system symbol names ("plus.circle.fill");
// this maps each name to a bundled Breeze icon so every screen draws from one icon set. The
// icons are drawn in one colour taken from the palette at the moment they are painted, so they
// follow a dark theme and turn light on a selected row.
namespace Icons {

// The bundled file for a symbol name (":/icons/list-add.svg"); empty for an unknown name.
QString resourcePath(const QString& symbolName);
// The icon for a symbol name, tinted with the application palette's text colour (highlighted
// text in the selected mode, the disabled text colour when disabled); null for an unknown name.
QIcon symbol(const QString& symbolName);
// The symbol rendered at `size` device-independent pixels in `color` (invalid: the application
// palette's window text), for labels and painted rows.
QPixmap pixmap(const QString& symbolName, int size, qreal devicePixelRatio = 1.0,
               const QColor& color = QColor());
// The colour an icon in `mode` takes from the application palette.
QColor tint(QIcon::Mode mode);

} // namespace Icons
