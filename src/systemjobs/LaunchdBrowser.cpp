#include "LaunchdBrowser.h"

#include "Locations.h"
#include "PlistVariant.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <cerrno>
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

// The bytes of a regular file (or a link to one) of at most `limit` bytes. Opened without
// blocking and checked after opening: a FIFO would otherwise hold the scan until someone
// writes to it, and a link to /dev/zero would never end. Plain POSIX calls keep a scan of
// many files to one open, one fstat and one read each.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 limit)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<QByteArray> result;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= limit) {
        QByteArray bytes(static_cast<qsizetype>(info.st_size), Qt::Uninitialized);
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        bytes.truncate(done); // a file that shrank meanwhile gives what it still holds
        result = std::move(bytes);
    }
    ::close(fd);
    return result;
}

std::optional<LaunchdJob> readJobFile(const QString& path, LaunchdJob::Source source)
{
    const auto bytes = readRegularFile(path, LaunchdBrowser::maxPlistBytes);
    if (!bytes)
        return std::nullopt;
    const auto dict = PlistVariant::readDictionary(*bytes);
    if (!dict)
        return std::nullopt;
    return LaunchdBrowser::jobFromDictionary(path, source, *dict);
}

} // namespace

std::optional<LaunchdJob> LaunchdBrowser::readJob(const QString& path, LaunchdJob::Source source)
{
    return readJobFile(path, source);
}

void LaunchdBrowser::sortByLabel(QList<LaunchdJob>& jobs)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(jobs.begin(), jobs.end(), [&](const LaunchdJob& a, const LaunchdJob& b) {
        return collator.compare(a.label, b.label) < 0;
    });
}

QList<LaunchdJob> LaunchdBrowser::scanJobs() const
{
    QList<LaunchdJob> jobs;
    for (const Folder& folder : m_folders) {
        // Hidden entries count like any other; names are sorted so a scan is repeatable.
        const QDir dir(folder.path);
        const QStringList names = dir.entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString& name : names) {
            // The extension test is exact: "x.PLIST" and "x.plist.bak" are not property lists.
            if (QFileInfo(name).suffix() != QLatin1String("plist"))
                continue;
            if (auto job = readJobFile(dir.filePath(name), folder.source)) {
                if (!job->label.startsWith(ownLabelPrefix()))
                    jobs.append(std::move(*job));
            }
        }
    }
    sortByLabel(jobs);
    return jobs;
}
