#include "FastTaskParser.h"

#include "TaskFields.h"

#include <QStringDecoder>
#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

namespace FastTaskParser {

namespace {

// Every member function returns false as soon as the text is anything but plain, and the
// whole parse gives up: the full decoder then reads the file again and says what is wrong.
class Parser {
public:
    Parser(const char* begin, const char* end) : p(begin), end(end) {}

    std::optional<QList<ScheduledTask>> root()
    {
        QList<ScheduledTask> tasks;
        // A task takes some 300 to 600 bytes of the pretty-printed file; reserving from the
        // size saves regrowing (and moving every task) while a long list is read.
        tasks.reserve((end - p) / 320 + 1);
        bool haveTasks = false;
        int version = 0;
        skipSpace();
        const bool ok = members([&](std::string_view key) {
            if (key == "tasks") {
                haveTasks = true;
                return elements([&] { return object(tasks.emplace_back()); });
            }
            if (key == "version")
                return integer(version);
            return skipValue(0);
        });
        skipSpace();
        // Version 1 files are migrated, and version 0 or less is an error: both for the full
        // decoder.
        if (!ok || p != end || !haveTasks || version < 2)
            return std::nullopt;
        return tasks;
    }

private:
    const char* p;
    const char* const end;
    std::string scratch; // reused for strings with escapes

    bool at(char c) const { return p < end && *p == c; }
    bool take(char c)
    {
        if (!at(c))
            return false;
        ++p;
        return true;
    }
    // Indented files spend most of their bytes here, so runs of spaces go eight at a time.
    void skipSpace()
    {
        constexpr quint64 eightSpaces = 0x2020202020202020u;
        while (p < end) {
            const char c = *p;
            if (c == ' ') {
                quint64 word = 0;
                while (end - p >= 8 && (std::memcpy(&word, p, 8), word == eightSpaces))
                    p += 8;
                while (p < end && *p == ' ')
                    ++p;
            } else if (c == '\n' || c == '\r' || c == '\t') {
                ++p;
            } else {
                break;
            }
        }
    }
    bool word(std::string_view w)
    {
        if (std::string_view(p, size_t(end - p)).substr(0, w.size()) != w)
            return false;
        p += w.size();
        return true;
    }

    // An object's members; `member` reads the value of the key it is given. A key that
    // appears twice gives up: which one Qt keeps is not worth mirroring.
    template <typename F> bool members(F&& member)
    {
        if (!take('{'))
            return false;
        skipSpace();
        if (take('}'))
            return true;
        QVarLengthArray<std::string_view, 12> seen;
        for (;;) {
            std::string_view key;
            if (!plainString(key) || std::find(seen.begin(), seen.end(), key) != seen.end())
                return false;
            seen.append(key);
            skipSpace();
            if (!take(':'))
                return false;
            skipSpace();
            if (!member(key))
                return false;
            skipSpace();
            if (take('}'))
                return true;
            if (!take(','))
                return false;
            skipSpace();
        }
    }

    template <typename F> bool elements(F&& element)
    {
        if (!take('['))
            return false;
        skipSpace();
        if (take(']'))
            return true;
        for (;;) {
            if (!element())
                return false;
            skipSpace();
            if (take(']'))
                return true;
            if (!take(','))
                return false;
            skipSpace();
        }
    }

    static bool plainScalar(char32_t cp)
    {
        return cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) &&
               !(cp >= 0xFDD0 && cp <= 0xFDEF) && (cp & 0xFFFE) != 0xFFFE;
    }

    // Checks one UTF-8 sequence at p and steps over it. Overlong forms, encoded surrogates,
    // code points past U+10FFFF and noncharacters give up; Qt either rejects them or may
    // treat them differently from QString::fromUtf8.
    bool utf8Char()
    {
        const auto byte = [this](qsizetype i) { return static_cast<unsigned char>(p[i]); };
        const unsigned char b = byte(0);
        int length = 0;
        char32_t cp = 0;
        if (b < 0xC2 || b > 0xF4)
            return false; // ASCII is handled by the caller; stray continuation or overlong
        length = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        cp = b & (0x7F >> length);
        if (end - p < length)
            return false;
        for (int i = 1; i < length; ++i) {
            if ((byte(i) & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (byte(i) & 0x3F);
        }
        const char32_t minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (cp < minimum || !plainScalar(cp))
            return false;
        p += length;
        return true;
    }

    // Steps over the body of a string after its opening quote, up to the closing quote or the
    // first backslash. Raw control characters give up (Qt takes them, JSON does not).
    bool plainRun()
    {
        while (p < end) {
            const auto c = static_cast<unsigned char>(*p);
            if (c == '"' || c == '\\')
                return true;
            if (c < 0x20)
                return false;
            if (c < 0x80)
                ++p;
            else if (!utf8Char())
                return false;
        }
        return false;
    }

    // Four hex digits of a \u escape.
    bool hex4(char16_t& unit)
    {
        if (end - p < 4)
            return false;
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = p[i];
            const int digit = (c >= '0' && c <= '9')   ? c - '0'
                              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                              : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                       : -1;
            if (digit < 0)
                return false;
            value = value * 16 + unsigned(digit);
        }
        p += 4;
        unit = char16_t(value);
        return true;
    }

    // One escape after its backslash, appended to text as UTF-8. Only whole surrogate pairs
    // and plain code points are taken: Qt keeps a lone surrogate as it is, which is better
    // left to Qt.
    bool escape(std::string& text)
    {
        if (p >= end)
            return false;
        static constexpr std::string_view from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
        const char c = *p++;
        if (const size_t at = from.find(c); at != std::string_view::npos) {
            text += to[at];
            return true;
        }
        char16_t unit = 0;
        if (c != 'u' || !hex4(unit) || QChar::isLowSurrogate(unit))
            return false;
        char32_t cp = unit;
        if (QChar::isHighSurrogate(unit)) {
            char16_t low = 0;
            if (!word("\\u") || !hex4(low) || !QChar::isLowSurrogate(low))
                return false;
            cp = QChar::surrogateToUcs4(unit, low);
        }
        if (!plainScalar(cp))
            return false;
        if (cp < 0x80) {
            text += char(cp);
        } else if (cp < 0x800) {
            text += char(0xC0 | (cp >> 6));
            text += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            text += char(0xE0 | (cp >> 12));
            text += char(0x80 | ((cp >> 6) & 0x3F));
            text += char(0x80 | (cp & 0x3F));
        } else {
            text += char(0xF0 | (cp >> 18));
            text += char(0x80 | ((cp >> 12) & 0x3F));
            text += char(0x80 | ((cp >> 6) & 0x3F));
            text += char(0x80 | (cp & 0x3F));
        }
        return true;
    }

    // UTF-8 as text, a leading U+FEFF kept: QString::fromUtf8 takes it for a byte order mark
    // and drops it, but inside a string it is the user's character.
    static QString textOf(const char* bytes, qsizetype size)
    {
        if (size >= 3 && std::string_view(bytes, 3) == "\xEF\xBB\xBF") {
            QStringDecoder decoder(QStringConverter::Utf8,
                                   QStringConverter::Flag::ConvertInitialBom);
            return decoder(QByteArrayView(bytes, size));
        }
        return QString::fromUtf8(bytes, size);
    }

    // A JSON string into out (or only checked when out is null).
    bool string(QString* out)
    {
        if (!take('"'))
            return false;
        const char* start = p;
        if (!plainRun())
            return false;
        if (at('"')) { // the common case: no escapes, one conversion of the whole span
            if (out)
                *out = textOf(start, p - start);
            ++p;
            return true;
        }
        // With escapes: the unescaped text is gathered as UTF-8 and converted once.
        scratch.assign(start, p);
        while (!take('"')) {
            ++p; // the backslash
            if (!escape(scratch))
                return false;
            start = p;
            if (!plainRun())
                return false;
            scratch.append(start, p);
        }
        if (out)
            *out = textOf(scratch.data(), qsizetype(scratch.size()));
        return true;
    }

    // A string written without escapes, as its raw span. Keys are read this way (a key
    // written with escapes gives up), so equal keys are equal spans.
    bool plainString(std::string_view& key)
    {
        if (!take('"'))
            return false;
        const char* start = p;
        if (!plainRun() || !take('"'))
            return false;
        key = std::string_view(start, size_t(p - 1 - start));
        return true;
    }

    // The span of a number in strict JSON form; integral is set when it has neither a
    // fraction nor an exponent.
    bool numberSpan(std::string_view& span, bool& integral)
    {
        const char* start = p;
        take('-');
        const auto digits = [this] {
            const char* first = p;
            while (p < end && *p >= '0' && *p <= '9')
                ++p;
            return p - first;
        };
        if (take('0')) {
            if (p < end && *p >= '0' && *p <= '9')
                return false;
        } else if (digits() == 0) {
            return false;
        }
        integral = true;
        if (take('.')) {
            integral = false;
            if (digits() == 0)
                return false;
        }
        if (take('e') || take('E')) {
            integral = false;
            if (!take('+'))
                take('-');
            if (digits() == 0)
                return false;
        }
        span = std::string_view(start, size_t(p - start));
        return true;
    }

    // Integers as the task file writes them. 7.0 or 1e1 would pass the full decoder too, but
    // such files come from elsewhere and may take the slow road.
    bool integer(int& value)
    {
        std::string_view span;
        bool integral = false;
        if (!numberSpan(span, integral) || !integral || span.size() > 11)
            return false;
        qint64 wide = 0;
        if (std::from_chars(span.data(), span.data() + span.size(), wide).ec != std::errc())
            return false;
        if (wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max())
            return false;
        value = int(wide);
        return true;
    }

    // A number as Qt reads it: a correctly rounded double (Qt's integers convert exactly the
    // same way). Long texts, overflow and underflow, which Qt may reject, give up.
    bool number(double& value)
    {
        std::string_view span;
        bool integral = false;
        if (!numberSpan(span, integral) || span.size() > 32)
            return false;
        const auto [last, ec] = std::from_chars(span.data(), span.data() + span.size(), value);
        if (ec != std::errc() || last != span.data() + span.size() || !std::isfinite(value))
            return false;
        if (value == 0) // only a written zero may be zero
            return span.substr(0, span.find_first_of("eE")).find_first_of("123456789") ==
                   std::string_view::npos;
        return std::fabs(value) >= std::numeric_limits<double>::min();
    }

    // Any value, checked as strictly as the ones we read, and dropped.
    bool skipValue(int depth)
    {
        if (p >= end || depth > 32)
            return false;
        switch (*p) {
        case '{': {
            ++p;
            skipSpace();
            if (take('}'))
                return true;
            for (;;) {
                if (!string(nullptr))
                    return false;
                skipSpace();
                if (!take(':'))
                    return false;
                skipSpace();
                if (!skipValue(depth + 1))
                    return false;
                skipSpace();
                if (take('}'))
                    return true;
                if (!take(','))
                    return false;
                skipSpace();
            }
        }
        case '[':
            return elements([&] { return skipValue(depth + 1); });
        case '"':
            return string(nullptr);
        case 't':
            return word("true");
        case 'f':
            return word("false");
        case 'n':
            return word("null");
        default: {
            double ignored = 0;
            return number(ignored);
        }
        }
    }

    bool boolean(bool& value)
    {
        if (word("true"))
            value = true;
        else if (word("false"))
            value = false;
        else
            return false;
        return true;
    }

    // The same test as the full decoder: 36 characters that QUuid reads, or the nil text.
    // The tool writes identifiers without escapes; one written with them takes the slow road.
    bool uuid(QUuid& id)
    {
        std::string_view text;
        if (!plainString(text) || text.size() != 36)
            return false;
        id = QUuid::fromString(QLatin1StringView(text.data(), 36));
        return !id.isNull() || text == "00000000-0000-0000-0000-000000000000";
    }

    // One value of the member's type, as strictly as the full decoder reads it; an integer
    // out of the field's range is left to the full decoder to word.
    bool value(const TaskFields::Field&, QUuid& id) { return uuid(id); }
    bool value(const TaskFields::Field&, QString& text) { return string(&text); }
    bool value(const TaskFields::Field&, std::optional<QString>& text)
    {
        return string(&text.emplace());
    }
    bool value(const TaskFields::Field&, bool& flag) { return boolean(flag); }
    bool value(const TaskFields::Field&, double& real) { return number(real); }
    bool value(const TaskFields::Field& field, int& whole)
    {
        return integer(whole) && (!field.range || field.range->contains(whole));
    }
    bool value(const TaskFields::Field&, TaskSchedule& schedule)
    {
        return this->schedule(schedule);
    }
    template <typename E> bool value(const TaskFields::Field& field, QList<E>& list)
    {
        return elements([&] { return value(field, list.emplace_back()); });
    }
    template <TaskFields::Described T> bool value(const TaskFields::Field&, T& described)
    {
        return object(described);
    }

    // A described object. Unknown keys are skipped, as the full decoder ignores them.
    template <TaskFields::Described T> bool object(T& described)
    {
        quint64 have = 0; // one bit per field position
        const bool ok = members([&](std::string_view key) {
            int position = 0;
            int read = -1; // -1: no such field
            TaskFields::visitFields(described, [&](const TaskFields::Field& field, auto& member) {
                if (read < 0 && field.name == key) {
                    have |= quint64(1) << position;
                    // Missing and null both mean absent.
                    read = (mayBeAbsent(field, member) && word("null")) || value(field, member);
                }
                ++position;
            });
            return read < 0 ? skipValue(0) : read == 1;
        });
        if (!ok)
            return false;
        bool complete = true;
        int position = 0;
        TaskFields::visitFields(described, [&](const TaskFields::Field& field, auto& member) {
            if (!mayBeAbsent(field, member) && !(have & (quint64(1) << position)))
                complete = false;
            ++position;
        });
        return complete;
    }

    template <typename M> static bool mayBeAbsent(const TaskFields::Field& field, const M&)
    {
        return field.optional || std::is_same_v<M, std::optional<QString>>;
    }

    // Exactly one key naming a case; other keys are ignored, as the full decoder does.
    bool schedule(TaskSchedule& schedule)
    {
        bool found = false;
        const bool ok = members([&](std::string_view key) {
            const auto named =
                std::find(TaskFields::caseNames.begin(), TaskFields::caseNames.end(), key);
            if (named == TaskFields::caseNames.end())
                return skipValue(0);
            if (found)
                return false; // two cases: an error for the full decoder to word
            found = true;
            bool read = false;
            TaskFields::withCase(size_t(named - TaskFields::caseNames.begin()),
                                 [&]<typename Case>() {
                                     Case payload;
                                     read = object(payload);
                                     schedule = std::move(payload);
                                 });
            return read;
        });
        return ok && found;
    }
};

} // namespace

std::optional<QList<ScheduledTask>> parse(const QByteArray& data)
{
    return Parser(data.constData(), data.constData() + data.size()).root();
}

} // namespace FastTaskParser
