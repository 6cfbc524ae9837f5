#include "RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RegularFile {

namespace {

qint64 nanoseconds(const struct timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

Stamp stampOf(const struct stat& info)
{
#ifdef __APPLE__
    const struct timespec& modified = info.st_mtimespec;
    const struct timespec& changed = info.st_ctimespec;
#else
    const struct timespec& modified = info.st_mtim;
    const struct timespec& changed = info.st_ctim;
#endif
    return {quint64(info.st_dev), quint64(info.st_ino), qint64(info.st_size), nanoseconds(modified),
            nanoseconds(changed)};
}

} // namespace

bool open(QFile& file, const QString& path, Stamp* stamp)
{
    // Non-blocking so that opening a FIFO returns at once; the type is then checked on the
    // opened descriptor, so nothing can be swapped in between the check and the read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    if (stamp)
        *stamp = stampOf(info);
    return true;
}

Result<QByteArray> read(const QString& path, qint64 maxBytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Result<QByteArray>::failure(
            QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Result<QByteArray>::failure(QStringLiteral("%1 is not a regular file").arg(path));
    }
    // Room for what the file holds now and one byte more, which tells a file that grew past the
    // bound since fstat; grown only for a file that grows meanwhile (or reports no size). Room
    // for the whole bound would cost a fresh mapping of megabytes for every small file.
    const qint64 most = maxBytes + 1;
    QByteArray bytes;
    bytes.resize(qsizetype(std::min<qint64>(std::max<qint64>(info.st_size, 0), maxBytes) + 1));
    qint64 done = 0;
    int error = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (done >= most)
                break;
            bytes.resize(qsizetype(std::min<qint64>(qint64(bytes.size()) * 2, most)));
        }
        const ssize_t n = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        done += n;
    }
    ::close(fd);
    if (done > maxBytes)
        return Result<QByteArray>::failure(
            QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(maxBytes));
    if (error != 0)
        return Result<QByteArray>::failure(
            QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error))));
    bytes.truncate(qsizetype(done));
    return bytes;
}

} // namespace RegularFile
