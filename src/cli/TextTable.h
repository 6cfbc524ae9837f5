#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Text as a terminal may show it: control characters appear as escapes, never raw, so a name
// cannot move the cursor, change colours or retitle the window. C0 controls and DEL are shown
// as \xHH (ESC as \x1b, a tab as \x09), C1 controls as \uHHHH (CSI as \u009b); everything
// else, backslashes too, is kept as it is.
QString terminalText(const QString& text);

// Number of user-perceived characters (grapheme clusters): "é" written as e + U+0301 is one,
// so is a multi-code-point emoji.
int graphemeCount(const QString& text);

// Left-aligned columns joined by two spaces, every cell (the last too) padded to its column;
// the rule under the header is "─" per column, joined by "──". Every line ends in a line feed.
QString formatTable(const QStringList& headers, const QList<QStringList>& rows);
