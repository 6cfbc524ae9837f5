#include "PlistVariant.h"

#include <QVariantList>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

// A direct reader of the XML property lists launchd jobs are written in: dictionaries, arrays,
// keys, strings (the five named entities and CDATA sections), decimal integers, true and false,
// with comments and white space between elements. Whatever else it meets (binary plists,
// reals, dates, data, numeric character references, attributes on values, a document type with
// an internal subset, duplicate keys, anything malformed) it leaves to libplist by answering
// nothing, so a file it takes gives exactly what libplist gives and one it does not take is
// judged by libplist as before.
namespace PlistVariant {

namespace {

class Reader {
public:
    Reader(const char* data, size_t size, std::optional<KeyFilter> only)
        : m_at(data), m_end(data + size), m_only(only)
    {}

    std::optional<QVariantMap> document()
    {
        // A byte order mark is no white space to libplist: such a file goes to it.
        if (!skipMisc())
            return std::nullopt;
        if (take("<?xml")) {
            if (!skipPast("?>") || !skipMisc())
                return std::nullopt;
        }
        if (take("<!DOCTYPE")) {
            // A document type with an internal subset ("[...]") may declare entities.
            if (!skipDoctype() || !skipMisc())
                return std::nullopt;
        }
        if (!take("<plist") || !skipAttributes() || !skipMisc())
            return std::nullopt;
        if (!take("<dict"))
            return std::nullopt;
        QVariantMap dict;
        if (!dictionary(&dict, 1) || !skipMisc() || !take("</plist>") || !skipMisc())
            return std::nullopt;
        if (m_at != m_end)
            return std::nullopt;
        return dict;
    }

private:
    bool atEnd() const { return m_at >= m_end; }

    bool take(std::string_view text)
    {
        if (size_t(m_end - m_at) < text.size() || std::memcmp(m_at, text.data(), text.size()) != 0)
            return false;
        m_at += text.size();
        return true;
    }

    bool skipPast(std::string_view text)
    {
        const std::string_view rest(m_at, size_t(m_end - m_at));
        const size_t found = rest.find(text);
        if (found == std::string_view::npos)
            return false;
        m_at += found + text.size();
        return true;
    }

    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    void skipSpace()
    {
        while (!atEnd() && isSpace(*m_at))
            ++m_at;
    }

    // White space and comments between elements.
    bool skipMisc()
    {
        for (;;) {
            skipSpace();
            if (!take("<!--"))
                return true;
            if (!skipPast("-->"))
                return false;
        }
    }

    bool skipDoctype()
    {
        while (!atEnd()) {
            const char c = *m_at++;
            if (c == '>')
                return true;
            if (c == '[' || c == '<')
                return false;
        }
        return false;
    }

    // The attributes of <plist ...>, up to and with the closing '>'.
    bool skipAttributes()
    {
        if (atEnd() || (*m_at != '>' && !isSpace(*m_at)))
            return false;
        while (!atEnd()) {
            const char c = *m_at++;
            if (c == '>')
                return true;
            if (c == '<' || c == '/')
                return false;
        }
        return false;
    }

    // After "<dict": "/>" or ">" items "</dict>". Without `dict` the items are checked, not
    // kept; at the top level only the keys `m_only` names are kept.
    bool dictionary(QVariantMap* dict, int depth)
    {
        if (take("/>"))
            return true;
        if (!take(">"))
            return false;
        for (;;) {
            if (!skipMisc())
                return false;
            if (take("</dict>"))
                return true;
            if (!take("<key>"))
                return false;
            std::string_view keyBytes;
            if (!text("</key>", keyBytes))
                return false;
            const bool keep = dict && (depth > 1 || !m_only || wanted(keyBytes));
            const QString key = keep ? sharedKey(keyBytes) : QString();
            QVariant value;
            if (!skipMisc() || !element(keep ? &value : nullptr, depth))
                return false;
            if (!keep)
                continue;
            // libplist's treatment of a repeated key is its own affair.
            if (dict->contains(key))
                return false;
            dict->insert(key, std::move(value));
        }
    }

    bool wanted(std::string_view key) const
    {
        return std::find(m_only->begin(), m_only->end(), key) != m_only->end();
    }

    bool array(QVariantList* list, int depth)
    {
        if (take("/>"))
            return true;
        if (!take(">"))
            return false;
        for (;;) {
            if (!skipMisc())
                return false;
            if (take("</array>"))
                return true;
            QVariant value;
            if (!element(list ? &value : nullptr, depth))
                return false;
            if (list)
                list->append(std::move(value));
        }
    }

    // One value, into `value` unless that is null.
    bool element(QVariant* value, int depth)
    {
        if (depth >= directReaderMaxDepth)
            return false;
        if (take("<string>")) {
            std::string_view bytes;
            if (!text("</string>", bytes))
                return false;
            if (value)
                *value = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
            return true;
        }
        if (take("<string/>")) {
            if (value)
                *value = QString();
            return true;
        }
        if (take("<integer>"))
            return integer(value);
        if (take("<true/>")) {
            if (value)
                *value = true;
            return true;
        }
        if (take("<false/>")) {
            if (value)
                *value = false;
            return true;
        }
        if (take("<dict")) {
            QVariantMap dict;
            if (!dictionary(value ? &dict : nullptr, depth + 1))
                return false;
            if (value)
                *value = std::move(dict);
            return true;
        }
        if (take("<array")) {
            QVariantList list;
            if (!array(value ? &list : nullptr, depth + 1))
                return false;
            if (value)
                *value = std::move(list);
            return true;
        }
        return false;
    }

    // Decimal digits with an optional minus sign, small enough for any 64-bit reading.
    bool integer(QVariant* value)
    {
        const bool negative = take("-");
        qint64 number = 0;
        int digits = 0;
        while (!atEnd() && *m_at >= '0' && *m_at <= '9' && digits < 18) {
            number = number * 10 + (*m_at++ - '0');
            ++digits;
        }
        if (digits == 0 || !take("</integer>"))
            return false;
        if (value)
            *value = negative ? -number : number;
        return true;
    }

    // Character data up to `close`: plain bytes, the five named entities and CDATA sections.
    // A carriage return is left to libplist, as is any other markup. `out` stays valid until
    // the next text is read.
    bool text(std::string_view close, std::string_view& out)
    {
        const char* start = m_at;
        // Most texts are plain: taken straight from the file without a copy of their bytes.
        while (!atEnd() && *m_at != '<' && *m_at != '&' && *m_at != '\r')
            ++m_at;
        const char* plainEnd = m_at;
        if (take(close)) {
            out = std::string_view(start, size_t(plainEnd - start));
            return true;
        }
        m_at = start;
        m_scratch.clear();
        for (;;) {
            if (atEnd())
                return false;
            const char c = *m_at;
            if (c == '\r')
                return false;
            if (c == '&') {
                if (!entity(m_scratch))
                    return false;
            } else if (c == '<') {
                if (take(close))
                    break;
                if (!take("<![CDATA["))
                    return false;
                const std::string_view rest(m_at, size_t(m_end - m_at));
                const size_t found = rest.find("]]>");
                if (found == std::string_view::npos ||
                    rest.substr(0, found).find('\r') != std::string_view::npos)
                    return false;
                m_scratch.append(m_at, found);
                m_at += found + 3;
            } else {
                m_scratch.push_back(c);
                ++m_at;
            }
        }
        out = m_scratch;
        return true;
    }

    bool entity(std::string& bytes)
    {
        static constexpr struct {
            std::string_view name;
            char character;
        } entities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        for (const auto& known : entities) {
            if (take(known.name)) {
                bytes.push_back(known.character);
                return true;
            }
        }
        return false;
    }

    const char* m_at;
    const char* m_end;
    std::optional<KeyFilter> m_only;
    std::string m_scratch;
};

} // namespace

std::optional<QVariantMap> readXmlDictionary(const char* data, qsizetype size,
                                             std::optional<KeyFilter> only)
{
    if (size <= 0)
        return std::nullopt;
    return Reader(data, size_t(size), only).document();
}

} // namespace PlistVariant
