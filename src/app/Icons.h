#pragma once

#include <QIcon>
#include <QString>

// The screens name their symbols by the platform's system symbol names ("plus.circle.fill");
// this maps each name to a bundled Breeze icon so every screen draws from one icon set.
namespace Icons {

// The bundled file for a symbol name (":/icons/list-add.svg"); empty for an unknown name.
QString resourcePath(const QString& symbolName);
// The icon for a symbol name; a null icon for an unknown name.
QIcon symbol(const QString& symbolName);
// The symbol rendered at `size` device-independent pixels, for labels and painted rows.
QPixmap pixmap(const QString& symbolName, int size, qreal devicePixelRatio = 1.0);

} // namespace Icons
