#include "TaskFile.h"

#include "AtomicFile.h"
#include "Result.h"
#include "TaskMigration.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TaskFile {

namespace {

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

} // namespace

ReadResult read(const QString& path)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return {ReadStatus::missing, {}, {}};
        return {ReadStatus::unreadable, {}, systemError(errno)};
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {ReadStatus::unreadable, {}, file.errorString()};
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return {ReadStatus::unreadable, {}, systemError(errno)};
    if (!S_ISREG(info.st_mode))
        return {ReadStatus::unreadable, {}, QStringLiteral("it is not a regular file")};
    if (info.st_size > maximumSize)
        return {ReadStatus::unreadable,
                {},
                QStringLiteral("it is larger than %1 MiB").arg(maximumSize / (1024 * 1024))};
    // One read into a buffer of the size fstat() gave, and one byte more: a file that grew
    // meanwhile fills that byte, and only then is the rest read, up to one byte beyond the
    // limit so growth past it is caught too. (Reading up to the limit at once would allocate
    // the whole limit and copy the text out of it.)
    QByteArray bytes(qsizetype(info.st_size) + 1, Qt::Uninitialized);
    const qint64 got = file.read(bytes.data(), bytes.size());
    if (got < 0)
        return {ReadStatus::unreadable, {}, file.errorString()};
    bytes.truncate(got);
    if (got == info.st_size + 1)
        bytes += file.read(maximumSize + 1 - got);
    if (file.error() != QFileDevice::NoError)
        return {ReadStatus::unreadable, {}, file.errorString()};
    if (bytes.size() > maximumSize)
        return {ReadStatus::unreadable,
                {},
                QStringLiteral("it is larger than %1 MiB").arg(maximumSize / (1024 * 1024))};
    const auto decoded = TaskMigration::decodeTasks(bytes);
    if (!decoded)
        return {ReadStatus::unreadable, {}, decoded.error()};
    return {ReadStatus::loaded, decoded.value(), {}};
}

Result<void> writeBytes(const QString& path, const QByteArray& bytes)
{
    // Commands can hold secrets: the file is the user's alone.
    return AtomicFile::write(path, bytes, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

Result<void> write(const QString& path, const QList<ScheduledTask>& tasks)
{
    return writeBytes(path, TaskMigration::encodeTasks(tasks));
}

QString lockPath(const QString& taskFilePath) { return taskFilePath + QStringLiteral(".lock"); }

Lock::Lock(const QString& taskFilePath, int timeoutMs)
{
    const QString path = lockPath(taskFilePath);
    if (!QFileInfo(QFileInfo(taskFilePath).absolutePath()).isDir()) {
        m_error = QStringLiteral("Could not create the lock file %1: its folder does not exist")
                      .arg(path);
        return;
    }
    m_path = QFile::encodeName(path);
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const int fd = ::open(m_path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            m_error = QStringLiteral("Could not create the lock file %1: %2")
                          .arg(path, systemError(errno));
            return;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // The holder before us removes the file when it lets go; a lock taken on that
            // removed file guards nothing, so it must still be the file at the path.
            struct stat held {
            }, named{};
            if (::fstat(fd, &held) == 0 && ::stat(m_path.constData(), &named) == 0 &&
                held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
                m_fd = fd;
                // Only for people looking at the file: who holds it.
                const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
                if (::ftruncate(fd, 0) == 0) [[maybe_unused]]
                    const auto written = ::write(fd, pid.constData(), size_t(pid.size()));
                return;
            }
            ::close(fd);
            continue;
        }
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK && error != EINTR) {
            m_error = QStringLiteral("Could not lock %1: %2").arg(path, systemError(error));
            return;
        }
        if (deadline.hasExpired()) {
            m_error = QStringLiteral("The task file is in use by another process (lock file %1)")
                          .arg(path);
            return;
        }
        // Short, jittered steps: a long sleep would leave the lock idle while writers queue.
        QThread::msleep(2 + QRandomGenerator::global()->bounded(10));
    }
}

Lock::~Lock()
{
    if (m_fd < 0)
        return;
    // Removed while still held, so nobody can lock it in between and think it current; a
    // holder that dies instead leaves the file behind, and the kernel releases its lock.
    ::unlink(m_path.constData());
    ::close(m_fd);
}

} // namespace TaskFile
