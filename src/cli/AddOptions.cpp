#include "AddOptions.h"

#include "ScheduleKinds.h"

#include <array>
#include <limits>

namespace AddOptions {

namespace {
const QString invalidWeekdays =
    QStringLiteral("Invalid weekdays. Use: sun,mon,tue,wed,thu,fri,sat");
const QString invalidWeekday = QStringLiteral("Invalid weekday. Use: sun,mon,tue,wed,thu,fri,sat");

QStringList pieces(const QString& text, QChar separator)
{
    return text.split(separator, Qt::SkipEmptyParts);
}

std::optional<int> parseInteger(const QString& text)
{
    qsizetype start = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == QLatin1Char('+') || text[0] == QLatin1Char('-'))) {
        negative = text[0] == QLatin1Char('-');
        start = 1;
    }
    if (start == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (qsizetype i = start; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<int> weekdayNumber(const QString& name)
{
    static const std::array<QLatin1String, 7> names = {
        QLatin1String("sun"), QLatin1String("mon"), QLatin1String("tue"), QLatin1String("wed"),
        QLatin1String("thu"), QLatin1String("fri"), QLatin1String("sat")};
    const QString lowered = name.toLower();
    for (size_t i = 0; i < names.size(); ++i) {
        if (lowered == names[i])
            return static_cast<int>(i) + 1;
    }
    return std::nullopt;
}

std::optional<TimeOfDay> parseTime(const QString& text, QStringList& messages)
{
    QList<int> numbers;
    for (const QString& piece : pieces(text, QLatin1Char(':'))) {
        if (const auto number = parseInteger(piece))
            numbers << *number;
    }
    if (numbers.size() != 2)
        return std::nullopt;
    const int hour = numbers[0];
    const int minute = numbers[1];
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) {
        messages << QStringLiteral("Invalid time: hour must be 0-23, minute must be 0-59");
        return std::nullopt;
    }
    return TimeOfDay{hour, minute};
}

QList<TimeOfDay> parseTimes(const QString& text, QStringList& messages)
{
    QList<TimeOfDay> times;
    for (const QString& piece : pieces(text, QLatin1Char(','))) {
        if (const auto time = parseTime(piece, messages))
            times << *time;
    }
    if (times.isEmpty())
        messages << QStringLiteral(
            "Invalid time format. Use HH:MM or HH:MM,HH:MM for multiple times");
    return times;
}

QList<int> parseWeekdays(const QString& text)
{
    QList<int> weekdays;
    for (const QString& piece : pieces(text, QLatin1Char(','))) {
        if (const auto number = weekdayNumber(piece))
            weekdays << *number;
    }
    return weekdays;
}

// The words after the option at `index`; absent past the end.
class Cursor {
public:
    Cursor(const QStringList& words, qsizetype index) : m_words(words), m_index(index) {}
    std::optional<QString> next()
    {
        if (++m_index < m_words.size())
            return m_words[m_index];
        return std::nullopt;
    }

private:
    const QStringList& m_words;
    qsizetype m_index;
};

std::optional<QList<TimeOfDay>> timesFrom(Cursor& cursor, QStringList& messages)
{
    const auto text = cursor.next();
    if (!text)
        return std::nullopt;
    QList<TimeOfDay> times = parseTimes(*text, messages);
    if (times.isEmpty())
        return std::nullopt;
    return times;
}

// The values after a schedule option, read in the order its kind asks for them. A value
// that is missing or wrong yields none, with the message the tool prints for it.
class ScheduleArguments {
public:
    ScheduleArguments(Cursor& cursor, QStringList& messages)
        : m_cursor(cursor), m_messages(messages)
    {}

    std::optional<QList<TimeOfDay>> times() { return timesFrom(m_cursor, m_messages); }

    std::optional<int> minutes()
    {
        const auto text = m_cursor.next();
        const auto minutes = text ? parseInteger(*text) : std::nullopt;
        if (!minutes || *minutes <= 0) {
            m_messages << QStringLiteral("--interval requires a positive number of minutes");
            return std::nullopt;
        }
        return minutes;
    }

    std::optional<QList<int>> weekdays()
    {
        const auto days = m_cursor.next();
        if (!days)
            return std::nullopt;
        QList<int> weekdays = parseWeekdays(*days);
        if (weekdays.isEmpty()) {
            m_messages << invalidWeekdays;
            return std::nullopt;
        }
        return weekdays;
    }

    std::optional<int> dayOfMonth()
    {
        const auto text = m_cursor.next();
        const auto day = text ? parseInteger(*text) : std::nullopt;
        if (!day)
            return std::nullopt;
        if (*day < 1 || *day > 31) {
            m_messages << QStringLiteral("Invalid day: must be 1-31");
            return std::nullopt;
        }
        return day;
    }

    std::optional<int> nth()
    {
        const auto text = m_cursor.next();
        const auto nth = text ? parseInteger(*text) : std::nullopt;
        if (!nth || *nth < 1 || *nth > 4) {
            m_messages << QStringLiteral("--monthly-nth requires a number 1-4 (e.g. 2 for 2nd)");
            return std::nullopt;
        }
        return nth;
    }

    std::optional<int> weekday()
    {
        const auto dayName = m_cursor.next();
        if (!dayName)
            return std::nullopt;
        const auto weekday = weekdayNumber(*dayName);
        if (!weekday)
            m_messages << invalidWeekday;
        return weekday;
    }

private:
    Cursor& m_cursor;
    QStringList& m_messages;
};

QString latin1(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The schedule options in the order the usage lists them.
template <typename F> void forEachOptionInUsageOrder(F&& f)
{
    for (int rank = 0; rank < int(ScheduleKinds::count); ++rank)
        ScheduleKinds::forEachKind([&]<typename Case>() {
            if (ScheduleKinds::Traits<Case>::cliRank == rank)
                f.template operator()<Case>();
        });
}
} // namespace

Options parseOptions(const QStringList& words)
{
    Options options;
    const auto valueOf = [&](qsizetype& index) -> std::optional<QString> {
        if (index + 1 < words.size())
            return words[++index];
        return std::nullopt;
    };
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        if (word == QLatin1String("--name"))
            options.name = valueOf(i);
        else if (word == QLatin1String("--command"))
            options.command = valueOf(i);
        else if (word == QLatin1String("--working-dir"))
            options.workingDirectory = valueOf(i);
        else if (word == QLatin1String("--env-file"))
            options.envFile = valueOf(i);
        else if (word == QLatin1String("--wake"))
            options.wake = true;
    }
    return options;
}

Result<void> checkDecodable(const Options& options)
{
    const std::pair<const char*, const std::optional<QString>*> values[] = {
        {"--name", &options.name},
        {"--command", &options.command},
        {"--working-dir", &options.workingDirectory},
        {"--env-file", &options.envFile}};
    for (const auto& [option, value] : values) {
        if (*value && !isValidText(**value))
            return Result<void>::failure(QLatin1String(option) +
                                         QStringLiteral(" must be valid UTF-8"));
    }
    return {};
}

QString decodeArgument(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    qsizetype i = 0;
    while (i < bytes.size()) {
        const unsigned char lead = byte(i);
        // The length of the sequence that starts here and the smallest code point it may hold.
        const int length = lead < 0x80   ? 1
                           : lead < 0xC2 ? 0
                           : lead < 0xE0 ? 2
                           : lead < 0xF0 ? 3
                           : lead < 0xF5 ? 4
                                         : 0;
        char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = length > 0 && i + length <= bytes.size();
        for (int k = 1; valid && k < length; ++k) {
            valid = (byte(i + k) & 0xC0) == 0x80;
            cp = (cp << 6) | (byte(i + k) & 0x3F);
        }
        const char32_t minimum = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0;
        valid = valid && cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (valid) {
            text += QString::fromUcs4(&cp, 1);
            i += length;
        } else {
            text += QChar(char16_t(0xDC00 + lead));
            ++i;
        }
    }
    return text;
}

bool isValidText(const QString& text) { return text.isValidUtf16(); }

ScheduleResult parseSchedule(const QStringList& words)
{
    ScheduleResult result;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        bool matched = false;
        ScheduleKinds::forEachKind([&]<typename Case>() {
            using Kind = ScheduleKinds::Traits<Case>;
            if (matched || word != latin1(Kind::cliOption))
                return;
            matched = true;
            Cursor cursor(words, i);
            ScheduleArguments arguments(cursor, result.messages);
            if (std::optional<Case> value = Kind::fromCli(arguments))
                result.schedule = TaskSchedule(std::move(*value));
        });
        if (matched)
            return result;
    }
    return result;
}

QString scheduleRequiredMessage()
{
    QStringList options;
    forEachOptionInUsageOrder(
        [&]<typename Case>() { options << latin1(ScheduleKinds::Traits<Case>::cliOption); });
    const QString last = options.takeLast();
    return QStringLiteral("Schedule is required. Use ") + options.join(QStringLiteral(", ")) +
           QStringLiteral(", or ") + last;
}

QString scheduleUsage()
{
    QString lines;
    forEachOptionInUsageOrder([&]<typename Case>() {
        lines += latin1(ScheduleKinds::Traits<Case>::cliUsage) + QLatin1Char('\n');
    });
    return lines;
}

} // namespace AddOptions
