#include "LaunchdBrowser.h"

#include "Locations.h"
#include "PlistVariant.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <numeric>
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
// someone writes to it, and a link to /dev/zero would never end. Plain POSIX calls keep a scan
// of many files to one open, one fstat and one read each; the type comes from the opened file,
// so no entry of the folder is looked up twice. One buffer serves a whole scan: a fresh one per
// file would make the allocator tidy up its freed blocks thousands of times.
bool readRegularFile(int folder, const char* name, qint64 limit, std::vector<char>& buffer)
{
    const int fd = ::openat(folder, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool read = false;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= limit) {
        buffer.resize(size_t(info.st_size));
        size_t done = 0;
        while (done < buffer.size()) {
            const ssize_t n = ::read(fd, buffer.data() + done, buffer.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += size_t(n);
        }
        // A file that shrank meanwhile gives what it still holds. A NUL follows the bytes, as
        // with every QByteArray the parser would otherwise be given.
        buffer.resize(done + 1);
        buffer[done] = '\0';
        read = true;
    }
    ::close(fd);
    return read;
}

std::optional<LaunchdJob> readJobAt(int folder, const char* name, const QString& path,
                                    LaunchdJob::Source source, std::vector<char>& buffer)
{
    if (!readRegularFile(folder, name, LaunchdBrowser::maxPlistBytes, buffer))
        return std::nullopt;
    const auto dict = PlistVariant::readDictionary(
        QByteArray::fromRawData(buffer.data(), qsizetype(buffer.size()) - 1));
    if (!dict)
        return std::nullopt;
    return LaunchdBrowser::jobFromDictionary(path, source, *dict);
}

// The names in the open folder `folder` that end in ".plist" exactly ("x.PLIST" and
// "x.plist.bak" are not property lists), sorted so a scan is repeatable. Hidden entries count
// like any other. Entries the folder lists as folders are passed over; every other type
// (links, or none given) is settled when the file is opened.
QList<std::pair<QString, QByteArray>> plistNames(int folder)
{
    QList<std::pair<QString, QByteArray>> names;
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
        names.append({QFile::decodeName(name), name});
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return names;
}

} // namespace

std::optional<LaunchdJob> LaunchdBrowser::readJob(const QString& path, LaunchdJob::Source source)
{
    std::vector<char> buffer;
    return readJobAt(AT_FDCWD, QFile::encodeName(path).constData(), path, source, buffer);
}

void LaunchdBrowser::sortByLabel(QList<LaunchdJob>& jobs)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Positions are sorted, then each job moved once: sorting the jobs themselves would move
    // thousands of large values back and forth through a temporary copy of the whole list.
    std::vector<qsizetype> order(size_t(jobs.size()));
    std::iota(order.begin(), order.end(), qsizetype(0));
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        return collator.compare(jobs.at(a).label, jobs.at(b).label) < 0;
    });
    QList<LaunchdJob> sorted;
    sorted.reserve(jobs.size());
    for (const qsizetype index : order)
        sorted.append(std::move(jobs[index]));
    jobs = std::move(sorted);
}

QList<LaunchdJob> LaunchdBrowser::scanJobs() const
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
        const QList<std::pair<QString, QByteArray>> names = plistNames(fd);
        jobs.reserve(jobs.size() + names.size());
        for (const auto& [name, encoded] : names) {
            const QString path = prefix + name;
            if (auto job = readJobAt(fd, encoded.constData(), path, folder.source, buffer)) {
                if (!job->label.startsWith(ownLabelPrefix()))
                    jobs.append(std::move(*job));
            }
        }
        ::close(fd);
    }
    sortByLabel(jobs);
    return jobs;
}
