#include "AtomicFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
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

} // namespace

std::optional<QString> write(const QString& path, const QByteArray& bytes,
                             QFileDevice::Permissions permissions)
{
    const auto failure = [&](int error) {
        return QStringLiteral("Cannot write %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(error)));
    };
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return failure(errno);
    int error = 0;
    // The mode is set before the contents go in, so a command is never readable by others,
    // not even for a moment.
    if (::fchmod(fd, modeOf(permissions)) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    // rename() replaces the directory entry itself: a symbolic link planted at `path` is
    // replaced, and whatever it pointed to is left alone.
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return failure(error);
    }
    syncFolder(QFile::encodeName(QFileInfo(path).absolutePath()));
    return std::nullopt;
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

} // namespace AtomicFile
