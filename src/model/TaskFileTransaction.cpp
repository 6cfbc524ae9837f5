#include "TaskFileTransaction.h"

#include "AtomicFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Every writer holds the lock while its temporary exists, so under the lock any temporary left
// beside the task file belongs to a writer that was killed.
void removeLeftoverTemporaries(const QString& taskFile)
{
    const QFileInfo info(taskFile);
    QDir folder = info.absoluteDir();
    const QStringList names = folder.entryList({info.fileName() + QStringLiteral(".*")},
                                               QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (AtomicFile::isTemporaryOf(name, taskFile))
            folder.remove(name);
    }
}

// The path the unreadable file was copied to.
Result<QString> keepCopy(const QString& taskFile)
{
    const QString copy = TaskFileTransaction::unreadableCopyPath(taskFile);
    const auto failure = [&](const QString& reason) {
        return Result<QString>::failure(
            QStringLiteral("the existing task file cannot be read and could not be kept "
                           "as %1 (%2)")
                .arg(copy, reason));
    };
    // Copying a FIFO or a device would block or never end.
    if (!QFileInfo(taskFile).isFile())
        return failure(QStringLiteral("it is not a regular file"));
    QFile file(taskFile);
    if (!file.copy(copy))
        return failure(file.errorString());
    QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return copy;
}

} // namespace

QString TaskFileTransaction::unreadableCopyPath(const QString& taskFile)
{
    const QString base = taskFile + QStringLiteral(".unreadable-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString candidate = base;
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = base + QLatin1Char('-') + QString::number(n);
    return candidate;
}

TaskFileTransaction::Outcome TaskFileTransaction::run(const QString& taskFile,
                                                      const Options& options, const Change& change,
                                                      const AfterWrite& afterWrite)
{
    Outcome outcome;
    {
        const TaskFile::Lock lock(taskFile, options.lockWaitMs);
        if (!lock.isLocked())
            return {Status::lockFailed, {}, lock.error(), {}};
        removeLeftoverTemporaries(taskFile);

        TaskFile::ReadResult file = TaskFile::read(taskFile);
        switch (file.status) {
        case TaskFile::ReadStatus::loaded:
            outcome.tasks = std::move(file.tasks);
            break;
        case TaskFile::ReadStatus::missing:
            outcome.tasks = options.fallback;
            break;
        case TaskFile::ReadStatus::unreadable:
            if (options.unreadableFile == UnreadableFile::refuse)
                return {Status::unreadable, {}, file.error, {}};
            const Result<QString> kept = keepCopy(taskFile);
            if (!kept)
                return {Status::keepFailed, {}, kept.error(), {}};
            outcome.keptAs = kept.value();
            outcome.tasks = options.fallback;
            break;
        }

        if (!change(outcome.tasks)) {
            outcome.status = Status::unchanged;
            return outcome;
        }
        if (const Result<void> written = TaskFile::write(taskFile, outcome.tasks); !written.ok()) {
            outcome.status = Status::writeFailed;
            outcome.error = written.error();
            return outcome;
        }
        outcome.status = Status::written;
        if (afterWrite)
            afterWrite(outcome.tasks);
    }
    if (options.announce)
        options.announce();
    return outcome;
}
