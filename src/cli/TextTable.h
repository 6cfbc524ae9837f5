#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Number of user-perceived characters (grapheme clusters): "é" written as e + U+0301 is one,
// so is a multi-code-point emoji.
int graphemeCount(const QString& text);

// Left-aligned columns joined by two spaces, every cell (the last too) padded to its column;
// the rule under the header is "─" per column, joined by "──".
QStringList formatTable(const QStringList& headers, const QList<QStringList>& rows);
