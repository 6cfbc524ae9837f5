#include "LaunchdBrowser.h"

#include "Locations.h"
#include "PlistVariant.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <numeric>
#include <string_view>
#include <utility>
#include <vector>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Our own task agents are shown as tasks, not as system jobs.
const QString& ownLabelPrefix()
{
    static const QString prefix = QStringLiteral("com.brenmor-ops.");
    return prefix;
}

template <typename T> std::optional<T> valueOf(const QVariantMap& dict, const QString& key)
{
    const auto it = dict.constFind(key);
    if (it == dict.cend() || it->typeId() != QMetaType::fromType<T>().id())
        return std::nullopt;
    return it->value<T>();
}

std::optional<QStringList> stringArray(const QVariantMap& dict, const QString& key)
{
    const auto list = valueOf<QVariantList>(dict, key);
    if (!list)
        return std::nullopt;
    QStringList strings;
    strings.reserve(list->size());
    for (const QVariant& item : *list) {
        if (item.typeId() != QMetaType::QString)
            return std::nullopt; // an array with anything but text is no argument list
        strings.append(item.toString());
    }
    return strings;
}

// Only a single dictionary counts, and only its integer values survive; launchd's array of
// dictionaries is not described.
std::optional<QMap<QString, qint64>> calendarInterval(const QVariantMap& dict)
{
    const auto calendar = valueOf<QVariantMap>(dict, QStringLiteral("StartCalendarInterval"));
    if (!calendar)
        return std::nullopt;
    QMap<QString, qint64> integers;
    for (auto it = calendar->cbegin(); it != calendar->cend(); ++it) {
        if (it->typeId() == QMetaType::LongLong)
            integers.insert(it.key(), it->toLongLong());
    }
    return integers;
}

QList<LaunchdBrowser::Folder> systemFolders()
{
    return {{Locations::userLaunchAgentsDir(), LaunchdJob::Source::userAgents},
            {Locations::globalLaunchAgentsDir(), LaunchdJob::Source::globalAgents},
            {Locations::globalLaunchDaemonsDir(), LaunchdJob::Source::globalDaemons}};
}

} // namespace

LaunchdBrowser::LaunchdBrowser() : m_folders(defaultFolders()) {}

LaunchdBrowser::LaunchdBrowser(QList<Folder> folders) : m_folders(std::move(folders)) {}

const QList<LaunchdBrowser::Folder>& LaunchdBrowser::defaultFolders()
{
    static const QList<Folder> folders = systemFolders();
    return folders;
}

std::optional<LaunchdJob> LaunchdBrowser::jobFromDictionary(const QString& path,
                                                            LaunchdJob::Source source,
                                                            const QVariantMap& dict)
{
    const auto label = valueOf<QString>(dict, QStringLiteral("Label"));
    if (!label)
        return std::nullopt;
    LaunchdJob job;
    job.id = path;
    job.label = *label;
    job.url = path;
    job.source = source;
    job.programArguments = stringArray(dict, QStringLiteral("ProgramArguments"));
    job.program = valueOf<QString>(dict, QStringLiteral("Program"));
    job.startInterval = valueOf<qint64>(dict, QStringLiteral("StartInterval"));
    job.startCalendarInterval = calendarInterval(dict);
    job.standardOutPath = valueOf<QString>(dict, QStringLiteral("StandardOutPath"));
    job.standardErrorPath = valueOf<QString>(dict, QStringLiteral("StandardErrorPath"));
    job.disabled = valueOf<bool>(dict, QStringLiteral("Disabled")).value_or(false);
    job.runAtLoad = valueOf<bool>(dict, QStringLiteral("RunAtLoad")).value_or(false);
    // A dictionary of keep-alive conditions is not "always kept alive".
    job.keepAlive = valueOf<bool>(dict, QStringLiteral("KeepAlive")).value_or(false);
    job.raw = dict;
    return job;
}

namespace {

// Reads a regular file (or a link to one) of at most `limit` bytes, named relative to the open
// folder `folder` (or AT_FDCWD), into `buffer`; false when it is none or cannot be read. Opened
// without blocking and checked after opening: a FIFO would otherwise hold the scan until
// someone writes to it, and a link to /dev/zero would never end. An entry the folder lists as a
// regular file needs no such check (`knownRegular`): it is read up to the limit without a
// stat. Plain POSIX calls keep a scan of many files to one open and a read or two each. One
// buffer serves a whole scan: a fresh one per file would make the allocator tidy up its freed
// blocks thousands of times.
bool readRegularFile(int folder, const char* name, bool knownRegular, qint64 limit,
                     std::vector<char>& buffer, size_t& length)
{
    const int fd = ::openat(folder, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (!knownRegular &&
        (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > limit)) {
        ::close(fd);
        return false;
    }
    // The buffer keeps its size from file to file (growing it would fill the new room); room
    // for a byte past the limit tells a file over it, and one more holds the closing NUL. A
    // file that grows or shrinks meanwhile gives what it holds when read.
    constexpr size_t firstRoom = 64 * 1024;
    const size_t most = size_t(limit) + 1;
    if (buffer.size() < firstRoom)
        buffer.resize(firstRoom);
    length = 0;
    for (;;) {
        if (length + 1 == buffer.size()) {
            if (length >= most)
                break;
            buffer.resize(std::min(buffer.size() * 2, most + 1));
        }
        const ssize_t n = ::read(fd, buffer.data() + length, buffer.size() - 1 - length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        length += size_t(n);
        // A regular file answers a read in full up to its end: less than asked for is the end,
        // and the read that would only say so is saved (one system call in four of a scan).
        if (size_t(n) < buffer.size() - 1 - (length - size_t(n)))
            break;
    }
    ::close(fd);
    if (length > size_t(limit))
        return false;
    // A NUL follows the bytes, as with every QByteArray the parser would otherwise be given.
    buffer[length] = '\0';
    return true;
}

// The keys of Content::schedule.
constexpr std::string_view scheduleKeys[] = {"Label",     "StartInterval", "StartCalendarInterval",
                                             "RunAtLoad", "KeepAlive",     "Disabled"};

std::optional<LaunchdJob> readJobAt(int folder, const char* name, bool knownRegular,
                                    const QString& path, LaunchdJob::Source source,
                                    LaunchdBrowser::Content content, std::vector<char>& buffer)
{
    size_t length = 0;
    if (!readRegularFile(folder, name, knownRegular, LaunchdBrowser::maxPlistBytes, buffer, length))
        return std::nullopt;
    const bool whole = content == LaunchdBrowser::Content::whole;
    const auto dict = PlistVariant::readDictionary(
        QByteArray::fromRawData(buffer.data(), qsizetype(length)),
        whole ? std::nullopt : std::optional<PlistVariant::KeyFilter>(scheduleKeys));
    if (!dict)
        return std::nullopt;
    std::optional<LaunchdJob> job = LaunchdBrowser::jobFromDictionary(path, source, *dict);
    if (job && !whole)
        job->raw.clear();
    return job;
}

struct PlistEntry {
    QString name;
    QByteArray encoded;
    bool regular = false; // the folder lists it as a regular file
};

// The names in the open folder `folder` that end in ".plist" exactly ("x.PLIST" and
// "x.plist.bak" are not property lists), sorted so a scan is repeatable. Hidden entries count
// like any other. Entries the folder lists as folders are passed over; every other type
// (links, or none given) is settled when the file is opened.
QList<PlistEntry> plistNames(int folder)
{
    QList<PlistEntry> names;
    const int listing = ::dup(folder);
    if (listing < 0)
        return names;
    DIR* dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return names;
    }
    static constexpr char suffix[] = ".plist";
    constexpr size_t suffixLength = sizeof suffix - 1;
    while (const dirent* entry = ::readdir(dir)) {
        const size_t length = std::strlen(entry->d_name);
        if (entry->d_type == DT_DIR || length < suffixLength ||
            std::memcmp(entry->d_name + length - suffixLength, suffix, suffixLength) != 0)
            continue;
        const QByteArray name(entry->d_name, qsizetype(length));
        names.append({QFile::decodeName(name), name, entry->d_type == DT_REG});
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(),
              [](const PlistEntry& a, const PlistEntry& b) { return a.name < b.name; });
    return names;
}

} // namespace

std::optional<LaunchdJob> LaunchdBrowser::readJob(const QString& path, LaunchdJob::Source source)
{
    std::vector<char> buffer;
    return readJobAt(AT_FDCWD, QFile::encodeName(path).constData(), false, path, source,
                     Content::whole, buffer);
}

void LaunchdBrowser::sortByLabel(QList<LaunchdJob>& jobs)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<qsizetype> order(size_t(jobs.size()));
    std::iota(order.begin(), order.end(), qsizetype(0));
    // Each label's sort key is made once: comparing labels through the collator would weigh
    // every label again at each of the n log n comparisons. The C locale's keys are the plain
    // bytes and would not ignore case; its comparison is cheap anyway.
    if (collator.locale().language() == QLocale::C) {
        // Each label folded once; the comparisons are then plain ones.
        std::vector<QString> folded;
        folded.reserve(size_t(jobs.size()));
        for (const LaunchdJob& job : std::as_const(jobs))
            folded.push_back(job.label.toCaseFolded());
        std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
            return folded[size_t(a)] < folded[size_t(b)];
        });
    } else {
        std::vector<QCollatorSortKey> keys;
        keys.reserve(size_t(jobs.size()));
        for (const LaunchdJob& job : std::as_const(jobs))
            keys.push_back(collator.sortKey(job.label));
        std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
            return keys[size_t(a)].compare(keys[size_t(b)]) < 0;
        });
    }
    // Positions are sorted, then the jobs moved into place along the cycles of the order, in
    // the list itself: sorting the jobs themselves would move thousands of large values back
    // and forth, and a second list would double the memory a long scan holds.
    for (size_t start = 0; start < order.size(); ++start) {
        if (order[start] == qsizetype(start))
            continue;
        LaunchdJob held = std::move(jobs[qsizetype(start)]);
        size_t at = start;
        while (order[at] != qsizetype(start)) {
            const size_t from = size_t(order[at]);
            jobs[qsizetype(at)] = std::move(jobs[qsizetype(from)]);
            order[at] = qsizetype(at);
            at = from;
        }
        jobs[qsizetype(at)] = std::move(held);
        order[at] = qsizetype(at);
    }
}

QList<LaunchdJob> LaunchdBrowser::scanJobs(Content content) const
{
    QList<LaunchdJob> jobs;
    std::vector<char> buffer;
    for (const Folder& folder : m_folders) {
        const int fd =
            ::open(QFile::encodeName(folder.path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            continue;
        // The folder's part of every path, as QDir puts it before a plain name: worked out
        // once rather than for each of thousands of files.
        const QString prefix = QDir(folder.path).filePath(QStringLiteral("x")).chopped(1);
        const QList<PlistEntry> names = plistNames(fd);
        jobs.reserve(jobs.size() + names.size());
        for (const PlistEntry& entry : names) {
            // One allocation: prefix + name would copy the prefix and then grow the copy.
            QString path;
            path.reserve(prefix.size() + entry.name.size());
            path.append(prefix).append(entry.name);
            if (auto job = readJobAt(fd, entry.encoded.constData(), entry.regular, path,
                                     folder.source, content, buffer)) {
                if (!job->label.startsWith(ownLabelPrefix()))
                    jobs.append(std::move(*job));
            }
        }
        ::close(fd);
    }
    sortByLabel(jobs);
    return jobs;
}
