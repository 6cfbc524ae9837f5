#include "FastTaskParser.h"

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
                return elements([&] { return task(tasks.emplace_back()); });
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
        while (p < end) {
            if (end - p >= 8 && std::memcmp(p, "        ", 8) == 0)
                p += 8;
            else if (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')
                ++p;
            else
                break;
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
                *out = QString::fromUtf8(start, p - start);
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
            *out = QString::fromUtf8(scratch.data(), qsizetype(scratch.size()));
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

    // Missing and null both mean absent.
    bool optionalString(std::optional<QString>& value)
    {
        if (word("null"))
            return true;
        value.emplace();
        return string(&*value);
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

    // An integer the full decoder accepts for this field; out of range it writes the error.
    bool integerIn(int& value, ScheduleLimits::Range range)
    {
        return integer(value) && range.contains(value);
    }

    bool timeOfDay(TimeOfDay& time)
    {
        unsigned have = 0;
        const bool ok = members([&](std::string_view key) {
            if (key == "hour")
                return (have |= 1), integerIn(time.hour, ScheduleLimits::hour);
            if (key == "minute")
                return (have |= 2), integerIn(time.minute, ScheduleLimits::minute);
            return skipValue(0);
        });
        return ok && have == 3;
    }

    // The payload of one schedule case. Keys another case would use are unknown here and,
    // like the full decoder, ignored.
    bool payload(TaskSchedule::Kind kind, TaskSchedule& schedule)
    {
        using K = TaskSchedule::Kind;
        enum : unsigned { Minutes = 1, Times = 2, Weekdays = 4, Day = 8, Nth = 16, Weekday = 32 };
        const unsigned needed = kind == K::runAtLoad           ? 0
                                : kind == K::interval          ? Minutes
                                : kind == K::weekly            ? Times | Weekdays
                                : kind == K::monthly           ? Times | Day
                                : kind == K::monthlyNthWeekday ? Times | Nth | Weekday
                                                               : Times;
        int minutes = 0, day = 0, nth = 0, weekday = 0;
        QList<TimeOfDay> times;
        QList<int> weekdays;
        unsigned have = 0;
        const bool ok = members([&](std::string_view key) {
            const unsigned bit = key == "minutes"    ? Minutes
                                 : key == "times"    ? Times
                                 : key == "weekdays" ? Weekdays
                                 : key == "day"      ? Day
                                 : key == "nth"      ? Nth
                                 : key == "weekday"  ? Weekday
                                                     : 0u;
            if (!(bit & needed))
                return skipValue(0);
            have |= bit;
            switch (bit) {
            case Minutes:
                return integerIn(minutes, ScheduleLimits::intervalMinutes);
            case Day:
                return integerIn(day, ScheduleLimits::dayOfMonth);
            case Nth:
                return integerIn(nth, ScheduleLimits::nth);
            case Weekday:
                return integerIn(weekday, ScheduleLimits::weekday);
            case Weekdays:
                return elements(
                    [&] { return integerIn(weekdays.emplace_back(), ScheduleLimits::weekday); });
            default:
                return elements([&] { return timeOfDay(times.emplace_back()); });
            }
        });
        if (!ok || have != needed)
            return false;
        switch (kind) {
        case K::runAtLoad:
            schedule = TaskSchedule::runAtLoad();
            break;
        case K::interval:
            schedule = TaskSchedule::interval(minutes);
            break;
        case K::daily:
            schedule = TaskSchedule::daily(std::move(times));
            break;
        case K::weekly:
            schedule = TaskSchedule::weekly(std::move(weekdays), std::move(times));
            break;
        case K::monthly:
            schedule = TaskSchedule::monthly(day, std::move(times));
            break;
        case K::monthlyLastDay:
            schedule = TaskSchedule::monthlyLastDay(std::move(times));
            break;
        case K::monthlyNthWeekday:
            schedule = TaskSchedule::monthlyNthWeekday(nth, weekday, std::move(times));
            break;
        }
        return true;
    }

    // Exactly one key naming a case; other keys are ignored, as the full decoder does.
    bool schedule(TaskSchedule& schedule)
    {
        static const std::array<std::pair<std::string_view, TaskSchedule::Kind>, 7> cases = {{
            {"runAtLoad", TaskSchedule::Kind::runAtLoad},
            {"interval", TaskSchedule::Kind::interval},
            {"daily", TaskSchedule::Kind::daily},
            {"weekly", TaskSchedule::Kind::weekly},
            {"monthly", TaskSchedule::Kind::monthly},
            {"monthlyLastDay", TaskSchedule::Kind::monthlyLastDay},
            {"monthlyNthWeekday", TaskSchedule::Kind::monthlyNthWeekday},
        }};
        bool found = false;
        const bool ok = members([&](std::string_view key) {
            for (const auto& [name, kind] : cases) {
                if (key == name) {
                    if (found)
                        return false; // two cases: an error for the full decoder to word
                    found = true;
                    return payload(kind, schedule);
                }
            }
            return skipValue(0);
        });
        return ok && found;
    }

    bool log(TaskLog& log)
    {
        unsigned have = 0;
        const bool ok = members([&](std::string_view key) {
            if (key == "id")
                return (have |= 1), uuid(log.id);
            if (key == "timestamp")
                return (have |= 2), number(log.timestamp);
            if (key == "exitCode")
                return (have |= 4), integer(log.exitCode);
            if (key == "output")
                return (have |= 8), string(&log.output);
            return skipValue(0);
        });
        return ok && have == 15;
    }

    bool task(ScheduledTask& task)
    {
        enum : unsigned { Id = 1, Name = 2, Command = 4, Login = 8, Schedule = 16, Enabled = 32 };
        enum : unsigned { Logs = 64, All = 127 };
        unsigned have = 0;
        const bool ok = members([&](std::string_view key) {
            if (key == "id")
                return (have |= Id), uuid(task.id);
            if (key == "name")
                return (have |= Name), string(&task.name);
            if (key == "command")
                return (have |= Command), string(&task.command);
            if (key == "workingDirectory")
                return optionalString(task.workingDirectory);
            if (key == "envFilePath")
                return optionalString(task.envFilePath);
            if (key == "useLoginShell")
                return (have |= Login), boolean(task.useLoginShell);
            if (key == "wakeBeforeRun")
                return word("null") || boolean(task.wakeBeforeRun);
            if (key == "schedule")
                return (have |= Schedule), schedule(task.schedule);
            if (key == "isEnabled")
                return (have |= Enabled), boolean(task.isEnabled);
            if (key == "logs") {
                have |= Logs;
                return elements([&] { return log(task.logs.emplace_back()); });
            }
            return skipValue(0);
        });
        return ok && have == All;
    }
};

} // namespace

std::optional<QList<ScheduledTask>> parse(const QByteArray& data)
{
    return Parser(data.constData(), data.constData() + data.size()).root();
}

} // namespace FastTaskParser
