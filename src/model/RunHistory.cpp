#include "RunHistory.h"

#include "LogTail.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <array>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// The wrapper writes "2025-03-01T09:00:05Z"; we accept exactly the internet date-time form:
// dashes, "T", colons, whole seconds and a zone ("Z" or +HH:MM / -HH:MM), nothing else.
// Hand-written because the history is parsed whole on every redraw and QDateTime::fromString
// both accepts more (fractions, missing zone) and is far slower.

template <typename Char> bool twoDigits(const Char* p, int& value)
{
    if (p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9')
        return false;
    value = (p[0] - '0') * 10 + (p[1] - '0');
    return true;
}

bool isLeapYear(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m)
{
    static constexpr std::array<int, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[static_cast<size_t>(m - 1)];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
qint64 daysFromCivil(int y, int m, int d)
{
    y -= m <= 2 ? 1 : 0;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

template <typename Char> std::optional<QDateTime> parseInternetDateTime(const Char* p, qsizetype n)
{
    // YYYY-MM-DDTHH:MM:SS then Z (20 characters) or +HH:MM (25 characters)
    if (n != 20 && n != 25)
        return std::nullopt;
    int c1, c2, month, day, hour, minute, second;
    if (!twoDigits(p, c1) || !twoDigits(p + 2, c2) || p[4] != '-' || !twoDigits(p + 5, month) ||
        p[7] != '-' || !twoDigits(p + 8, day) || p[10] != 'T' || !twoDigits(p + 11, hour) ||
        p[13] != ':' || !twoDigits(p + 14, minute) || p[16] != ':' || !twoDigits(p + 17, second))
        return std::nullopt;
    const int year = c1 * 100 + c2;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return std::nullopt;
    int offsetSeconds = 0;
    if (n == 20) {
        if (p[19] != 'Z')
            return std::nullopt;
    } else {
        int offHour, offMinute;
        if ((p[19] != '+' && p[19] != '-') || !twoDigits(p + 20, offHour) || p[22] != ':' ||
            !twoDigits(p + 23, offMinute) || offHour > 23 || offMinute > 59)
            return std::nullopt;
        offsetSeconds = (offHour * 3600 + offMinute * 60) * (p[19] == '-' ? -1 : 1);
    }
    const qint64 secs = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
                        second - offsetSeconds;
    return QDateTime::fromMSecsSinceEpoch(secs * 1000, Qt::UTC);
}

// An optional sign and decimal digits, within the 32-bit range; nothing else (no spaces).
template <typename Char> std::optional<qint32> parseStatus(const Char* p, qsizetype n)
{
    qsizetype i = 0;
    bool negative = false;
    if (n > 0 && (p[0] == '+' || p[0] == '-')) {
        negative = p[0] == '-';
        i = 1;
    }
    if (i == n)
        return std::nullopt;
    qint64 value = 0;
    for (; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return std::nullopt;
        value = value * 10 + (p[i] - '0');
        if (value > qint64(1) << 31)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<qint32>(value);
}

// Every record gets a fresh random (version 4) identifier. One generator seeded from the
// system per reading keeps 100,000-line histories from costing a system call per line.
class IdMaker {
public:
    IdMaker() : m_random(QRandomGenerator::system()->generate64()) {}
    QUuid next()
    {
        std::array<quint64, 2> bits{m_random.generate64(), m_random.generate64()};
        QByteArray bytes(reinterpret_cast<const char*>(bits.data()), 16);
        bytes[6] = static_cast<char>((bytes[6] & 0x0F) | 0x40); // version 4
        bytes[8] = static_cast<char>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
        return QUuid::fromRfc4122(bytes);
    }

private:
    QRandomGenerator64 m_random;
};

template <typename Char>
std::optional<TaskRunRecord> parseLine(const Char* begin, const Char* end, IdMaker& ids)
{
    // Split at tabs, dropping empty pieces; a fourth piece already rules the line out.
    std::array<std::pair<const Char*, qsizetype>, 3> fields;
    int count = 0;
    for (const Char* p = begin; p < end;) {
        if (*p == '\t') {
            ++p;
            continue;
        }
        const Char* start = p;
        while (p < end && *p != '\t')
            ++p;
        if (count == 3)
            return std::nullopt;
        fields[static_cast<size_t>(count++)] = {start, p - start};
    }
    if (count < 2)
        return std::nullopt;
    const auto& [startText, startLength] = fields[0];
    const auto& [statusText, statusLength] = fields[static_cast<size_t>(count - 1)];
    const auto started = parseInternetDateTime(startText, startLength);
    if (!started)
        return std::nullopt;
    std::optional<QDateTime> ended = started;
    if (count == 3) {
        ended = parseInternetDateTime(fields[1].first, fields[1].second);
        if (!ended)
            return std::nullopt;
    }
    const auto status = parseStatus(statusText, statusLength);
    if (!status)
        return std::nullopt;
    return TaskRunRecord{ids.next(), *started, *ended, *status};
}

} // namespace

std::optional<TaskRunRecord> TaskRunRecord::parse(QStringView line)
{
    IdMaker ids;
    return parseLine(line.utf16(), line.utf16() + line.size(), ids);
}

namespace RunHistory {

QString historyPath(const QString& logDir, const QString& shortId)
{
    return QDir(logDir).filePath(shortId + QStringLiteral(".runs"));
}

QString logPath(const QString& logDir, const QString& shortId, LogStream stream)
{
    const QString suffix = stream == LogStream::stdoutStream ? QStringLiteral(".stdout.log")
                                                             : QStringLiteral(".stderr.log");
    return QDir(logDir).filePath(shortId + suffix);
}

QList<TaskRunRecord> parseHistory(const QByteArray& text)
{
    // A file that is not UTF-8 is no history at all, as if it could not be read. Every
    // character a valid line holds is ASCII, so the bytes are parsed directly.
    if (!text.isValidUtf8())
        return {};
    QList<TaskRunRecord> records;
    IdMaker ids;
    const char* const data = text.constData();
    const char* const end = data + text.size();
    for (const char* line = data; line <= end;) {
        const char* lf = static_cast<const char*>(memchr(line, '\n', size_t(end - line)));
        const char* lineEnd = lf ? lf : end;
        if (auto record = parseLine(line, lineEnd, ids))
            records.append(std::move(*record));
        if (!lf)
            break;
        line = lf + 1;
    }
    return records;
}

QList<TaskRunRecord> loadRunHistory(const QString& logDir, const QString& shortId)
{
    QFile file(historyPath(logDir, shortId));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parseHistory(file.readAll());
}

QString readLogTail(const QString& path, int lastLines)
{
    return LogTail::readTail(path, lastLines);
}

} // namespace RunHistory
