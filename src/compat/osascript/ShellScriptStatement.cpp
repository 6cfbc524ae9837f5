#include "ShellScriptStatement.h"

#include <QStringList>

namespace {

constexpr int expectedTokenCode = -2741;
constexpr int unsupportedStatementCode = -2740;

template <typename T> using Parsed = Result<T, AppleScriptSyntaxError>;

class Parser {
public:
    explicit Parser(const QString& source) : m_source(source) {}

    Parsed<ShellScriptStatement> parse()
    {
        using Statement = Parsed<ShellScriptStatement>;
        ShellScriptStatement statement;
        skipSpace();
        if (atEnd() || !isWordStart())
            return Statement::failure(unsupported());
        for (const char* keyword : {"do", "shell", "script"}) {
            if (const Parsed<void> word = expectWord(QLatin1String(keyword)); !word.ok())
                return Statement::failure(word.error());
        }
        skipSpace();
        if (atEnd() || m_source.at(m_pos) != QLatin1Char('"'))
            return Statement::failure(expected(QStringLiteral("string")));
        Parsed<QString> literal = stringLiteral();
        if (!literal)
            return Statement::failure(literal.error());
        statement.command = std::move(literal).value();

        skipSpace();
        if (!atEnd() && isWordStart() && token().first - m_pos == 4 &&
            m_source.mid(m_pos, 4).compare(QLatin1String("with"), Qt::CaseInsensitive) == 0) {
            for (const char* keyword : {"with", "administrator", "privileges"}) {
                if (const Parsed<void> word = expectWord(QLatin1String(keyword)); !word.ok())
                    return Statement::failure(word.error());
            }
            statement.withAdministratorPrivileges = true;
        }
        skipSpace();
        if (!atEnd())
            return Statement::failure(expected(QStringLiteral("end of line")));
        return statement;
    }

private:
    bool atEnd() const { return m_pos >= m_source.size(); }
    bool isWordStart() const { return m_source.at(m_pos).isLetter(); }

    void skipSpace()
    {
        while (!atEnd() && m_source.at(m_pos).isSpace())
            ++m_pos;
    }

    // The token at the current position: its end and how an error names it.
    std::pair<int, QString> token() const
    {
        if (atEnd())
            return {m_pos, QStringLiteral("end of script")};
        int end = m_pos;
        if (isWordStart()) {
            while (end < m_source.size() && m_source.at(end).isLetterOrNumber())
                ++end;
            return {end, QStringLiteral("identifier")};
        }
        if (m_source.at(m_pos) == QLatin1Char('"'))
            return {m_pos + 1, QStringLiteral("string")};
        return {m_pos + 1, QStringLiteral("unknown token")};
    }

    AppleScriptSyntaxError expected(const QString& what) const
    {
        const auto [end, found] = token();
        return {m_pos, end, QStringLiteral("Expected %1 but found %2.").arg(what, found),
                expectedTokenCode};
    }

    AppleScriptSyntaxError unsupported() const
    {
        return {0, int(m_source.size()),
                QStringLiteral("Only a \u201Cdo shell script\u201D statement can run here."),
                unsupportedStatementCode};
    }

    Parsed<void> expectWord(QLatin1String keyword)
    {
        skipSpace();
        const auto [end, found] = token();
        const QString word = m_source.mid(m_pos, end - m_pos);
        if (found != QLatin1String("identifier") ||
            word.compare(keyword, Qt::CaseInsensitive) != 0) {
            if (keyword == QLatin1String("do"))
                return Parsed<void>::failure(unsupported());
            return Parsed<void>::failure(expected(QStringLiteral("\u201C%1\u201D").arg(keyword)));
        }
        m_pos = end;
        return {};
    }

    Parsed<QString> stringLiteral()
    {
        const int start = m_pos++;
        QString text;
        while (!atEnd()) {
            const QChar c = m_source.at(m_pos++);
            if (c == QLatin1Char('"'))
                return text;
            if (c != QLatin1Char('\\')) {
                text += c;
                continue;
            }
            if (atEnd())
                break;
            const QChar escaped = m_source.at(m_pos++);
            switch (escaped.unicode()) {
            case '\\':
            case '"':
                text += escaped;
                break;
            case 'n':
                text += QLatin1Char('\n');
                break;
            case 't':
                text += QLatin1Char('\t');
                break;
            case 'r':
                text += QLatin1Char('\r');
                break;
            default:
                return Parsed<QString>::failure(
                    {m_pos - 2, m_pos,
                     QStringLiteral("Expected \u201C\"\u201D but found unknown token."),
                     expectedTokenCode});
            }
        }
        return Parsed<QString>::failure(
            {start, int(m_source.size()),
             QStringLiteral("Expected \u201C\"\u201D but found end of script."),
             expectedTokenCode});
    }

    const QString& m_source;
    int m_pos = 0;
};

} // namespace

QString AppleScriptSyntaxError::message() const
{
    return QStringLiteral("%1:%2: syntax error: %3 (%4)").arg(from).arg(to).arg(what).arg(code);
}

Result<ShellScriptStatement, AppleScriptSyntaxError>
parseShellScriptStatement(const QString& source)
{
    return Parser(source).parse();
}
