#include "AtomicFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

constexpr qsizetype temporarySuffixLength = 7; // ".XXXXXX"

mode_t modeOf(QFileDevice::Permissions permissions)
{
    mode_t mode = 0;
    const std::pair<QFileDevice::Permission, mode_t> bits[] = {
        {QFileDevice::ReadOwner, S_IRUSR},  {QFileDevice::WriteOwner, S_IWUSR},
        {QFileDevice::ExeOwner, S_IXUSR},   {QFileDevice::ReadGroup, S_IRGRP},
        {QFileDevice::WriteGroup, S_IWGRP}, {QFileDevice::ExeGroup, S_IXGRP},
        {QFileDevice::ReadOther, S_IROTH},  {QFileDevice::WriteOther, S_IWOTH},
        {QFileDevice::ExeOther, S_IXOTH}};
    for (const auto& [permission, bit] : bits) {
        if (permissions.testFlag(permission))
            mode |= bit;
    }
    return mode;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// Makes the rename itself survive a power loss; a folder that cannot be synced changes nothing
// about the file's contents, so that is not reported.
void syncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

QString failureText(const QString& path, int error)
{
    return QStringLiteral("Cannot write %1: %2")
        .arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

// Creates the temporary beside `target` with its mode and contents; returns its open
// descriptor (or -1 with errno set, nothing left behind).
int writeTemporary(const QByteArray& target, QByteArray* temporary, const QByteArray& bytes,
                   QFileDevice::Permissions permissions)
{
    *temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary->data());
    if (fd < 0)
        return -1;
    // The mode is set before the contents go in, so a command is never readable by others,
    // not even for a moment.
    if (::fchmod(fd, modeOf(permissions)) != 0 || !writeAll(fd, bytes)) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary->constData());
        errno = error;
        return -1;
    }
    return fd;
}

// Closes the temporary and renames it over `target`; 0 or the errno, the temporary gone
// either way.
int closeAndRename(int fd, const QByteArray& temporary, const QByteArray& target)
{
    int error = ::close(fd) != 0 ? errno : 0;
    // rename() replaces the directory entry itself: a symbolic link planted at `path` is
    // replaced, and whatever it pointed to is left alone.
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temporary.constData());
    return error;
}

#ifdef __linux__
// Linux syncs a whole file system in one call, far cheaper than a journal commit per file.
bool syncedUnlessBatched(int) { return true; }
bool syncFileSystem(int folder) { return ::syncfs(folder) == 0; }
#else
bool syncedUnlessBatched(int fd) { return ::fsync(fd) == 0; }
bool syncFileSystem(int) { return true; }
#endif

} // namespace

Result<void> write(const QString& path, const QByteArray& bytes,
                   QFileDevice::Permissions permissions)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary;
    const int fd = writeTemporary(target, &temporary, bytes, permissions);
    if (fd < 0)
        return Result<void>::failure(failureText(path, errno));
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.constData());
        return Result<void>::failure(failureText(path, error));
    }
    if (const int error = closeAndRename(fd, temporary, target))
        return Result<void>::failure(failureText(path, error));
    syncFolder(QFile::encodeName(QFileInfo(path).absolutePath()));
    return {};
}

QList<Result<void>> writeAll(const QList<Replacement>& files)
{
    QList<Result<void>> results(files.size());
    if (files.size() == 1) {
        const Replacement& file = files.first();
        results[0] = write(file.path, file.bytes, file.permissions);
        return results;
    }
    struct Pending {
        qsizetype index;
        QByteArray target;
        QByteArray temporary;
    };
    QList<Pending> pending;
    QSet<QByteArray> folders;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const Replacement& file = files.at(i);
        Pending entry{i, QFile::encodeName(file.path), {}};
        const int fd = writeTemporary(entry.target, &entry.temporary, file.bytes, file.permissions);
        // Closed at once: a thousand open files would run into the descriptor limit.
        if (fd < 0 || !syncedUnlessBatched(fd) || ::close(fd) != 0) {
            results[i] = Result<void>::failure(failureText(file.path, errno));
            if (fd >= 0)
                ::unlink(entry.temporary.constData());
            continue;
        }
        pending.append(entry);
        folders.insert(QFile::encodeName(QFileInfo(file.path).absolutePath()));
    }
    // One sync per file system puts every temporary's contents on disk before any of them
    // replaces a file.
    int syncError = 0;
    for (const QByteArray& folder : std::as_const(folders)) {
        const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 || !syncFileSystem(fd))
            syncError = errno;
        if (fd >= 0)
            ::close(fd);
    }
    for (const Pending& file : std::as_const(pending)) {
        int error = syncError;
        if (error == 0 && ::rename(file.temporary.constData(), file.target.constData()) != 0)
            error = errno;
        if (error != 0) {
            ::unlink(file.temporary.constData());
            results[file.index] =
                Result<void>::failure(failureText(files.at(file.index).path, error));
        }
    }
    for (const QByteArray& folder : std::as_const(folders))
        syncFolder(folder);
    return results;
}

bool isTemporaryOf(const QString& fileName, const QString& path)
{
    const QString base = QFileInfo(path).fileName();
    if (fileName.size() != base.size() + temporarySuffixLength || !fileName.startsWith(base) ||
        fileName.at(base.size()) != QLatin1Char('.'))
        return false;
    for (qsizetype i = base.size() + 1; i < fileName.size(); ++i) {
        const QChar c = fileName.at(i);
        if (!(c.isLetterOrNumber() && c.unicode() < 128))
            return false;
    }
    return true;
}

int removeAbandonedTemporaries(const QString& folder, const QString& namePrefix)
{
    // The folder's names are matched first and only a temporary's entry is looked up: a folder
    // of thousands of agents is listed without a stat for each.
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return 0;
    const qint64 abandoned = QDateTime::currentMSecsSinceEpoch() - abandonedAfterMs;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_type == DT_DIR || entry->d_type == DT_LNK)
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        const qsizetype stem = name.size() - temporarySuffixLength;
        if (stem <= 0 || !name.startsWith(namePrefix) || !isTemporaryOf(name, name.left(stem)))
            continue;
        // Files and special files alike; never a folder or a link.
        struct stat info {};
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            S_ISDIR(info.st_mode) || S_ISLNK(info.st_mode))
            continue;
#ifdef __APPLE__
        const struct timespec& modified = info.st_mtimespec;
#else
        const struct timespec& modified = info.st_mtim;
#endif
        const qint64 modifiedMs = qint64(modified.tv_sec) * 1000 + modified.tv_nsec / 1000000;
        if (modifiedMs > abandoned)
            continue;
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

} // namespace AtomicFile
