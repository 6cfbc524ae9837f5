#include "TaskFile.h"

#include "Result.h"
#include "TaskMigration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace TaskFile {

ReadResult read(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return {ReadStatus::missing, {}, {}};
    if (!file.open(QIODevice::ReadOnly))
        return {ReadStatus::unreadable, {}, file.errorString()};
    const auto decoded = TaskMigration::decodeTasks(file.readAll());
    if (!decoded)
        return {ReadStatus::unreadable, {}, decoded.error()};
    return {ReadStatus::loaded, decoded.value(), {}};
}

std::optional<QString> writeBytes(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // Commands can hold secrets: the file is the user's alone.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

std::optional<QString> write(const QString& path, const QList<ScheduledTask>& tasks)
{
    return writeBytes(path, TaskMigration::encodeTasks(tasks));
}

QString lockPath(const QString& taskFilePath) { return taskFilePath + QStringLiteral(".lock"); }

Lock::Lock(const QString& taskFilePath, int timeoutMs)
    : m_lock(std::make_unique<QLockFile>(lockPath(taskFilePath)))
{
    // A lock left by a crashed process is detected through its PID; the age limit only
    // matters for a holder that hangs.
    m_lock->setStaleLockTime(60000);
    m_locked = m_lock->tryLock(timeoutMs);
}

Lock::~Lock()
{
    if (m_locked)
        m_lock->unlock();
}

} // namespace TaskFile
