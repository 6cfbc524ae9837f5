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

namespace {
QString padded(const QString& cell, int width)
{
    return cell + QString(std::max(0, width - graphemeCount(cell)), QLatin1Char(' '));
}

QString line(const QStringList& cells, const QList<int>& widths)
{
    QStringList parts;
    for (qsizetype i = 0; i < widths.size(); ++i)
        parts << padded(cells.value(i), widths[i]);
    return parts.join(QStringLiteral("  "));
}
} // namespace

QStringList formatTable(const QStringList& headers, const QList<QStringList>& rows)
{
    QList<int> widths;
    for (qsizetype column = 0; column < headers.size(); ++column) {
        int width = graphemeCount(headers[column]);
        for (const QStringList& row : rows)
            width = std::max(width, graphemeCount(row.value(column)));
        widths << width;
    }
    const QChar ruleChar(0x2500);
    QStringList rule;
    for (int width : widths)
        rule << QString(width, ruleChar);

    QStringList lines;
    lines << line(headers, widths) << rule.join(QString(2, ruleChar));
    for (const QStringList& row : rows)
        lines << line(row, widths);
    return lines;
}
