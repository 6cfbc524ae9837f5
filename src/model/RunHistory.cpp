#include "RunHistory.h"

#include "LogTail.h"

#include "RegularFile.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QRandomGenerator>

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>

namespace {

// The wrapper writes "2025-03-01T09:00:05Z"; we accept exactly the internet date-time form:
// dashes, "T", colons, whole seconds and a zone ("Z" or +HH:MM / -HH:MM), nothing else.
// Hand-written because the history is parsed whole on every redraw and QDateTime::fromString
// both accepts more (fractions, missing zone) and is far slower.

// The value of a decimal digit character; 10 or more for anything else.
template <typename Char> unsigned digitValue(Char c)
{
    return static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(c)) - unsigned('0');
}

template <typename Char> bool twoDigits(const Char* p, int& value)
{
    if (p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9')
        return false;
    value = (p[0] - '0') * 10 + (p[1] - '0');
    return true;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

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

// Days since the epoch of "YYYY-MM-DD", or nothing. Consecutive lines of a history mostly
// share their date, so the last one is remembered.
template <typename Char> class DateCache {
public:
    std::optional<qint64> days(const Char* p)
    {
        if (m_filled && sameDate(p))
            return m_days;
        int c1, c2, month, day;
        if (!twoDigits(p, c1) || !twoDigits(p + 2, c2) || p[4] != '-' || !twoDigits(p + 5, month) ||
            p[7] != '-' || !twoDigits(p + 8, day))
            return std::nullopt;
        const int year = c1 * 100 + c2;
        if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
            return std::nullopt;
        std::copy(p, p + 10, m_text.begin());
        m_days = daysFromCivil(year, month, day);
        m_filled = true;
        return m_days;
    }

private:
    bool sameDate(const Char* p) const
    {
        if constexpr (sizeof(Char) == 1)
            return std::memcmp(p, m_text.data(), 10) == 0; // two loads, not a loop
        else
            return std::equal(p, p + 10, m_text.begin());
    }
    std::array<Char, 10> m_text{};
    qint64 m_days = 0;
    bool m_filled = false;
};

// Milliseconds since the epoch of the text, or nothing.
template <typename Char>
[[gnu::always_inline]] inline std::optional<qint64>
parseInternetDateTime(const Char* p, qsizetype n, DateCache<Char>& dates)
{
    // YYYY-MM-DDTHH:MM:SS then Z (20 characters) or +HH:MM (25 characters)
    if (n != 20 && n != 25)
        return std::nullopt;
    // Branch-free checks: every line of a long history takes this path twice.
    const unsigned h1 = digitValue(p[11]), h2 = digitValue(p[12]), m1 = digitValue(p[14]),
                   m2 = digitValue(p[15]), s1 = digitValue(p[17]), s2 = digitValue(p[18]);
    const bool shaped = (p[10] == 'T') & (p[13] == ':') & (p[16] == ':') & (h1 < 10) & (h2 < 10) &
                        (m1 < 10) & (m2 < 10) & (s1 < 10) & (s2 < 10);
    const unsigned hour = h1 * 10 + h2, minute = m1 * 10 + m2, second = s1 * 10 + s2;
    if (!shaped || (hour > 23) | (minute > 59) | (second > 59))
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
    const std::optional<qint64> days = dates.days(p);
    if (!days)
        return std::nullopt;
    return (*days * 86400 + qint64(hour * 3600 + minute * 60 + second) - offsetSeconds) * 1000;
}

QDateTime utcFromMSecs(qint64 msecs) { return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC); }

// Makes UTC date-times by copying one and moving it, which skips the time-zone set-up that
// fromMSecsSinceEpoch repeats for every value.
class UtcDateTimes {
public:
    QDateTime make(qint64 msecs) const
    {
        QDateTime value(m_base);
        value.setMSecsSinceEpoch(msecs);
        return value;
    }

private:
    QDateTime m_base = utcFromMSecs(0);
};

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

// Every record gets a fresh random (version 4) identifier. The identifiers only tell records
// of one reading apart, so a fast generator seeded once per reading from the system source
// does; a system call per line would dominate the parse of a long history.
class IdMaker {
public:
    IdMaker() : m_state(QRandomGenerator::system()->generate64()) {}
    QUuid next()
    {
        const quint64 high = splitMix();
        const quint64 low = splitMix();
        return QUuid(uint(high >> 32), ushort(high >> 16), ushort((high & 0x0FFF) | 0x4000),
                     uchar(((low >> 56) & 0x3F) | 0x80), uchar(low >> 48), uchar(low >> 40),
                     uchar(low >> 32), uchar(low >> 24), uchar(low >> 16), uchar(low >> 8),
                     uchar(low));
    }

private:
    quint64 splitMix()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    quint64 m_state;
};

// A long history's records fill tens of megabytes at once. In large pages that is a few page
// faults instead of thousands, and each costs microseconds (tens of them on a virtual machine):
// for a million runs, more than the parsing. Only advice; the reserved, untouched storage of
// `list` is all it touches.
template <typename T> void preferLargePages(const QList<T>& list)
{
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t large = std::uintptr_t(2) << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(list.constData() + list.size());
    const auto end = reinterpret_cast<std::uintptr_t>(list.constData() + list.capacity());
    const std::uintptr_t from = (begin + large - 1) & ~(large - 1);
    const std::uintptr_t to = end & ~(large - 1);
    if (to > from)
        madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    Q_UNUSED(list);
#endif
}

// The parsed fields of a good line, before any QDateTime is made.
struct ParsedLine {
    qint64 startMSecs = 0;
    qint64 endMSecs = 0;
    qint32 status = 0;
};

// The next tab at or after p, or end.
const char* findTab(const char* p, const char* end)
{
    const void* tab = memchr(p, '\t', size_t(end - p));
    return tab ? static_cast<const char*>(tab) : end;
}
const char16_t* findTab(const char16_t* p, const char16_t* end)
{
    while (p < end && *p != u'\t')
        ++p;
    return p;
}

template <typename Char>
std::optional<ParsedLine> parseLine(const Char* begin, const Char* end, DateCache<Char>& dates)
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
        p = findTab(p, end);
        if (count == 3)
            return std::nullopt;
        fields[static_cast<size_t>(count++)] = {start, p - start};
    }
    if (count < 2)
        return std::nullopt;
    const auto start = parseInternetDateTime(fields[0].first, fields[0].second, dates);
    if (!start)
        return std::nullopt;
    std::optional<qint64> end_ = start;
    if (count == 3) {
        end_ = parseInternetDateTime(fields[1].first, fields[1].second, dates);
        if (!end_)
            return std::nullopt;
    }
    const auto& [statusText, statusLength] = fields[static_cast<size_t>(count - 1)];
    const auto status = parseStatus(statusText, statusLength);
    if (!status)
        return std::nullopt;
    return ParsedLine{*start, *end_, *status};
}

// The line the wrapper writes, "<20-char UTC time>\t<20-char UTC time>\t<status>\n", read
// without splitting. Nothing when the line has any other shape; the general parser decides
// those, so the result is always the general parser's. Sets `lineEnd` on success.
std::optional<ParsedLine> parseWrapperLine(const char* line, const char* end, const char*& lineEnd,
                                           DateCache<char>& dates)
{
    constexpr qsizetype statusStart = 42;
    constexpr qsizetype longestStatus = 11; // "-2147483648"
    if (end - line <= statusStart || line[20] != '\t' || line[41] != '\t')
        return std::nullopt;
    const char* p = line + statusStart;
    const char* const limit = std::min(end, p + longestStatus + 1);
    while (p < limit && *p != '\n' && *p != '\t')
        ++p;
    if (p < end && *p != '\n')
        return std::nullopt; // a tab, or a status too long to be one
    const auto start = parseInternetDateTime(line, 20, dates);
    const auto finish = start ? parseInternetDateTime(line + 21, 20, dates) : std::nullopt;
    const auto status =
        finish ? parseStatus(line + statusStart, p - line - statusStart) : std::nullopt;
    if (!status)
        return std::nullopt;
    lineEnd = p;
    return ParsedLine{*start, *finish, *status};
}

// Turns history bytes into records, one piece after another: the identifiers and the remembered
// date carry over, so a file read in several parts gives what one reading gives.
class HistoryParser {
public:
    // Appends the records of [begin, end) split at line feeds (the piece after the last line
    // feed included). False when a line holds bytes that are not UTF-8; every character of a
    // line the wrapper wrote is ASCII, so only the other lines need that check.
    bool append(const char* begin, const char* end, QList<TaskRunRecord>& records)
    {
        if (begin == end)
            return true;
        bool valid = true;
        for (const char* line = begin; line <= end;) {
            const char* lineEnd = nullptr;
            std::optional<ParsedLine> parsed = parseWrapperLine(line, end, lineEnd, m_dates);
            if (!parsed) {
                const void* lf = memchr(line, '\n', size_t(end - line));
                lineEnd = lf ? static_cast<const char*>(lf) : end;
                valid = valid && QByteArrayView(line, lineEnd).isValidUtf8();
                parsed = parseLine(line, lineEnd, m_dates);
            }
            if (parsed) {
                TaskRunRecord& record = records.emplaceBack();
                record.id = m_ids.next();
                record.startedAt = m_utc.make(parsed->startMSecs);
                record.endedAt = parsed->endMSecs == parsed->startMSecs
                                     ? record.startedAt
                                     : m_utc.make(parsed->endMSecs);
                record.exitCode = parsed->status;
            }
            if (lineEnd == end)
                break;
            line = lineEnd + 1;
        }
        return valid;
    }

private:
    IdMaker m_ids;
    DateCache<char> m_dates;
    UtcDateTimes m_utc;
};

// A file's bytes, mapped when the file system allows, read otherwise.
class FileBytes {
public:
    FileBytes(QFile& file, qint64 from, qint64 to) : m_file(file)
    {
        if (to <= from)
            return;
        m_mapped = file.map(from, to - from);
        if (m_mapped) {
            m_view = QByteArrayView(reinterpret_cast<const char*>(m_mapped), to - from);
        } else if (file.seek(from)) {
            m_copy = file.read(to - from);
            m_view = m_copy;
        }
    }
    ~FileBytes()
    {
        if (m_mapped)
            m_file.unmap(m_mapped);
    }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    QByteArrayView view() const { return m_view; }

private:
    QFile& m_file;
    uchar* m_mapped = nullptr;
    QByteArray m_copy;
    QByteArrayView m_view;
};

// The parsed records of one history file, with what is needed to recognise the same file
// grown by appended lines: then only the new bytes are parsed.
class HistoryState {
public:
    QList<TaskRunRecord> result() const
    {
        return m_committedValid && m_openValid ? m_records : QList<TaskRunRecord>();
    }
    // Bytes of the file this state stands for.
    qint64 bytes() const { return m_stamp.size; }

    void update(QFile& file, const RegularFile::Stamp& stamp)
    {
        if (m_filled && stamp == m_stamp)
            return;
        if (!grows(file, stamp))
            reset(stamp);
        const qint64 from = m_committedEnd - m_lastBytes.size();
        const FileBytes bytes(file, from, stamp.size);
        if (bytes.view().size() != stamp.size - from) {
            *this = {}; // it shrank while we looked: nothing now, a fresh reading next time
            return;
        }
        appendFrom(bytes.view(), m_lastBytes.size());
        m_stamp = stamp;
        m_filled = true;
    }

private:
    // Bytes kept from the end of the parsed lines to recognise them in the grown file.
    static constexpr qsizetype checkedBytes = 64;

    // The same file (not a replacement), only longer, with the parsed lines still in place.
    bool grows(QFile& file, const RegularFile::Stamp& stamp) const
    {
        if (!m_filled || !stamp.sameFile(m_stamp) || stamp.size <= m_stamp.size ||
            stamp.size > RunHistory::maxHistoryBytes)
            return false;
        const FileBytes check(file, m_committedEnd - m_lastBytes.size(), m_committedEnd);
        return check.view() == QByteArrayView(m_lastBytes);
    }

    void reset(const RegularFile::Stamp& stamp)
    {
        *this = {};
        // A history beyond the limit is read from its last lines only: the runs of years.
        m_committedEnd = std::max<qint64>(0, stamp.size - RunHistory::maxHistoryBytes);
        m_skipFirstPiece = m_committedEnd > 0;
        m_records.reserve((stamp.size - m_committedEnd) / 40 + 16);
        preferLargePages(m_records);
    }

    // `view` holds the kept check bytes, then everything after the committed lines. Complete
    // lines become committed; the piece after the last line feed gives an open record that the
    // next growth parses again.
    void appendFrom(QByteArrayView view, qsizetype start)
    {
        if (m_hasOpenRecord)
            m_records.removeLast();
        const qsizetype lastFeed = view.lastIndexOf('\n');
        if (m_skipFirstPiece) {
            // The window starts inside a line, which is not a whole run.
            const qsizetype firstFeed = view.indexOf('\n');
            start = firstFeed < 0 ? view.size() : firstFeed + 1;
            m_skipFirstPiece = false;
        }
        const qsizetype committed = std::max(start, lastFeed + 1);
        const char* data = view.data();
        if (committed > start) {
            m_committedValid =
                m_parser.append(data + start, data + committed - 1, m_records) && m_committedValid;
            m_committedEnd += committed - m_lastBytes.size();
            const qsizetype keep = std::min(checkedBytes, committed);
            m_lastBytes = QByteArray(data + committed - keep, keep);
        }
        const qsizetype before = m_records.size();
        m_openValid = m_parser.append(data + committed, data + view.size(), m_records);
        m_hasOpenRecord = m_records.size() > before;
    }

    RegularFile::Stamp m_stamp;
    bool m_filled = false;
    qint64 m_committedEnd = 0; // file offset after the last parsed line feed
    QByteArray m_lastBytes;    // the bytes just before m_committedEnd
    QList<TaskRunRecord> m_records;
    bool m_hasOpenRecord = false;
    bool m_skipFirstPiece = false;
    bool m_committedValid = true;
    bool m_openValid = true;
    HistoryParser m_parser;
};

// Parsed histories by path, shared by every reader of any thread (the detail view, the
// timeline, background checks). Bounded: the least recently read files go first.
class HistoryCache {
public:
    static HistoryCache& instance()
    {
        static HistoryCache cache;
        return cache;
    }

    QList<TaskRunRecord> load(const QString& path)
    {
        QFile file;
        RegularFile::Stamp stamp;
        if (!RegularFile::open(file, path, &stamp)) {
            forget(path);
            return {};
        }
        const std::shared_ptr<Entry> entry = entryFor(path);
        QList<TaskRunRecord> records;
        qint64 bytes = 0;
        {
            const QMutexLocker lock(&entry->mutex);
            entry->state.update(file, stamp);
            records = entry->state.result();
            bytes = entry->state.bytes();
        }
        account(path, entry, bytes);
        return records;
    }

    void clear()
    {
        const QMutexLocker lock(&m_mutex);
        m_entries.clear();
        m_totalBytes = 0;
    }

private:
    // Parsed bytes kept at most, over all files; about 40 MB of records per 48 MB of history.
    static constexpr qint64 budgetBytes = qint64(256) << 20;

    struct Entry {
        QMutex mutex;
        HistoryState state;
        qint64 bytes = 0; // as last accounted, under the cache's lock
        quint64 lastUse = 0;
    };

    std::shared_ptr<Entry> entryFor(const QString& path)
    {
        const QMutexLocker lock(&m_mutex);
        std::shared_ptr<Entry>& entry = m_entries[path];
        if (!entry)
            entry = std::make_shared<Entry>();
        entry->lastUse = ++m_clock;
        return entry;
    }

    void forget(const QString& path)
    {
        const QMutexLocker lock(&m_mutex);
        if (const auto it = m_entries.constFind(path); it != m_entries.cend()) {
            m_totalBytes -= it.value()->bytes;
            m_entries.erase(it);
        }
    }

    void account(const QString& path, const std::shared_ptr<Entry>& entry, qint64 bytes)
    {
        const QMutexLocker lock(&m_mutex);
        if (m_entries.value(path) != entry)
            return; // dropped meanwhile
        m_totalBytes += bytes - entry->bytes;
        entry->bytes = bytes;
        while (m_totalBytes > budgetBytes && m_entries.size() > 1) {
            auto oldest = m_entries.begin();
            for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
                if (it.value()->lastUse < oldest.value()->lastUse)
                    oldest = it;
            }
            if (oldest.value() == entry)
                break;
            m_totalBytes -= oldest.value()->bytes;
            m_entries.erase(oldest);
        }
    }

    QMutex m_mutex;
    QHash<QString, std::shared_ptr<Entry>> m_entries;
    qint64 m_totalBytes = 0;
    quint64 m_clock = 0;
};

} // namespace

std::optional<TaskRunRecord> TaskRunRecord::parse(QStringView line)
{
    DateCache<char16_t> dates;
    const auto parsed = parseLine(line.utf16(), line.utf16() + line.size(), dates);
    if (!parsed)
        return std::nullopt;
    IdMaker ids;
    return TaskRunRecord{ids.next(), utcFromMSecs(parsed->startMSecs),
                         utcFromMSecs(parsed->endMSecs), parsed->status};
}

namespace RunHistory {

namespace {
const QLatin1String historySuffix(".runs");
}

QString historyPath(const QString& logDir, const QString& shortId)
{
    return QDir(logDir).filePath(shortId + historySuffix);
}

bool isHistoryPath(const QString& path) { return path.endsWith(historySuffix); }

QString historyNameFilter() { return QLatin1Char('*') + historySuffix; }

QString logPath(const QString& logDir, const QString& shortId, LogStream stream)
{
    const QString suffix = stream == LogStream::stdoutStream ? QStringLiteral(".stdout.log")
                                                             : QStringLiteral(".stderr.log");
    return QDir(logDir).filePath(shortId + suffix);
}

QList<TaskRunRecord> parseHistory(const QByteArray& text)
{
    QList<TaskRunRecord> records;
    // A current line is about 48 bytes; reserving avoids regrowing a long list.
    records.reserve(text.size() / 40 + 1);
    preferLargePages(records);
    HistoryParser parser;
    // A file that is not UTF-8 is no history at all, as if it could not be read.
    if (!parser.append(text.constData(), text.constData() + text.size(), records))
        return {};
    return records;
}

QList<TaskRunRecord> loadRunHistory(const QString& logDir, const QString& shortId)
{
    return loadHistoryFile(historyPath(logDir, shortId));
}

QList<TaskRunRecord> loadHistoryFile(const QString& path)
{
    return HistoryCache::instance().load(path);
}

void clearHistoryCache() { HistoryCache::instance().clear(); }

QString readLogTail(const QString& path, int lastLines)
{
    return LogTail::readTail(path, lastLines);
}

} // namespace RunHistory
