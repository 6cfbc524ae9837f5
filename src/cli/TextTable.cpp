#include "TextTable.h"

#include <QTextBoundaryFinder>

#include <algorithm>

QString terminalText(const QString& text)
{
    const auto control = [](QChar c) {
        return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F);
    };
    if (std::none_of(text.begin(), text.end(), control))
        return text;
    QString shown;
    for (QChar c : text) {
        if (!control(c))
            shown += c;
        else if (c.unicode() <= 0x7F)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return shown;
}

int graphemeCount(const QString& text)
{
    // Below U+0300 (where the combining marks begin) every code unit is a character of its
    // own, which covers most names and every summary; only other text needs the finder.
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x0300; }))
        return int(text.size());
    if (text.size() == 1 && !text.front().isSurrogate())
        return 1;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString formatTable(const QStringList& headers, const QList<QStringList>& rows)
{
    // Each cell is measured once; the text grows in one buffer (a long list has thousands of
    // cells, and a string per padded cell and per line would cost more than the reading).
    const qsizetype columns = headers.size();
    QList<int> counts;
    counts.reserve((rows.size() + 1) * columns);
    QList<int> widths(columns, 0);
    qsizetype beyondCount = 0; // code units that are not characters of their own
    const auto measure = [&](const QStringList& row) {
        for (qsizetype column = 0; column < columns; ++column) {
            const QString cell = row.value(column);
            const int count = graphemeCount(cell);
            counts << count;
            widths[column] = std::max(widths[column], count);
            beyondCount += cell.size() - count;
        }
    };
    measure(headers);
    for (const QStringList& row : rows)
        measure(row);

    int lineWidth = 0;
    for (int width : widths)
        lineWidth += width;
    lineWidth += int(2 * std::max<qsizetype>(columns - 1, 0));
    QString text;
    text.reserve((rows.size() + 2) * (lineWidth + 1) + beyondCount);
    const int* count = counts.constData();
    const auto append = [&](const QStringList& row) {
        for (qsizetype column = 0; column < columns; ++column, ++count) {
            if (column > 0)
                text.append(QLatin1StringView("  "));
            text.append(row.value(column));
            text.resize(text.size() + std::max(0, widths[column] - *count), QLatin1Char(' '));
        }
        text.append(QLatin1Char('\n'));
    };
    append(headers);
    const QChar ruleChar(0x2500);
    for (qsizetype column = 0; column < columns; ++column) {
        text.resize(text.size() + widths[column] + (column > 0 ? 2 : 0), ruleChar);
    }
    text.append(QLatin1Char('\n'));
    for (const QStringList& row : rows)
        append(row);
    return text;
}
