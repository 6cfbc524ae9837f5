// The task file's transaction and the helpers under it: atomic replacement (never through a
// planted symbolic link), reading only what is a bounded regular file, and a lock that no dead
// or broken holder can block.
#include "AtomicFile.h"
#include "ResultChecks.h"
#include "TaskBuilder.h"
#include "TaskFile.h"
#include "TaskFileTransaction.h"
#include "TaskMigration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeRaw(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

ScheduledTask task(const QString& name) { return TaskBuilder(name).every(5); }

const auto appending(const QString& name)
{
    return [name](QList<ScheduledTask>& tasks) {
        tasks.append(task(name));
        return true;
    };
}

} // namespace

class TestTaskFileTransaction : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void atomicWriteReplacesWhatIsThere_data();
    void atomicWriteReplacesWhatIsThere();
    void atomicWriteFailureLeavesFileAlone();
    void readRefusesWhatIsNotABoundedRegularFile_data();
    void readRefusesWhatIsNotABoundedRegularFile();
    void lockObstacles_data();
    void lockObstacles();
    void lockHeldByAnotherHolderTimesOut();
    void changeAppliesToTheListOnDisk();
    void unreadableFile_data();
    void unreadableFile();
    void unchangedOrFailedChangeIsNotAnnounced();
    void leftoverTemporaryIsRemoved();
};

void TestTaskFileTransaction::atomicWriteReplacesWhatIsThere_data()
{
    QTest::addColumn<QString>("existing"); // what is at the path before the write
    QTest::newRow("nothing") << QStringLiteral("none");
    QTest::newRow("regular file") << QStringLiteral("file");
    QTest::newRow("symlink to another file") << QStringLiteral("symlink");
    QTest::newRow("dangling symlink") << QStringLiteral("dangling");
}

void TestTaskFileTransaction::atomicWriteReplacesWhatIsThere()
{
    QFETCH(QString, existing);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("target"));
    const QString victim = dir.filePath(QStringLiteral("victim"));
    if (existing == QStringLiteral("file"))
        writeRaw(path, "old");
    if (existing == QStringLiteral("symlink")) {
        writeRaw(victim, "precious");
        QVERIFY(QFile::link(victim, path));
    }
    if (existing == QStringLiteral("dangling"))
        QVERIFY(QFile::link(victim, path));

    VERIFY_OK(AtomicFile::write(
        path, "new", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    // A link planted at the path is replaced; what it pointed to is never written.
    QVERIFY(!QFileInfo(path).isSymLink());
    QVERIFY(QFileInfo(path).isFile());
    QCOMPARE(readAll(path), QByteArray("new"));
    if (existing == QStringLiteral("symlink"))
        QCOMPARE(readAll(victim), QByteArray("precious"));
    else
        QVERIFY(!QFile::exists(victim));
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0700));
    // Only the file itself is left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(),
             existing == QStringLiteral("symlink") ? 2 : 1);
}

void TestTaskFileTransaction::atomicWriteFailureLeavesFileAlone()
{
    QTemporaryDir dir;
    const QString missingFolder = dir.filePath(QStringLiteral("gone/target"));
    const Result<void> written = AtomicFile::write(missingFolder, "new");
    QVERIFY(!written.ok());
    QVERIFY2(written.error().startsWith(QStringLiteral("Cannot write ") + missingFolder +
                                        QStringLiteral(": ")),
             qPrintable(written.error()));
    // A folder where the file should be: rename() refuses, and the temporary is cleaned up.
    const QString folder = dir.filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/inside")));
    QVERIFY(!AtomicFile::write(folder, "new").ok());
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 0);
}

void TestTaskFileTransaction::readRefusesWhatIsNotABoundedRegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("expectedError");
    QTest::newRow("fifo") << QStringLiteral("fifo") << QStringLiteral("it is not a regular file");
    QTest::newRow("folder") << QStringLiteral("folder")
                            << QStringLiteral("it is not a regular file");
    QTest::newRow("larger than the limit")
        << QStringLiteral("huge") << QStringLiteral("it is larger than 32 MiB");
}

void TestTaskFileTransaction::readRefusesWhatIsNotABoundedRegularFile()
{
    QFETCH(QString, kind);
    QFETCH(QString, expectedError);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tasks.json"));
    if (kind == QStringLiteral("fifo")) {
        // Nobody ever writes to it: a blocking open would hang here for good.
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == QStringLiteral("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(TaskFile::maximumSize + 1)); // sparse: costs no disk
    }
    const TaskFile::ReadResult result = TaskFile::read(path);
    QCOMPARE(result.status, TaskFile::ReadStatus::unreadable);
    QCOMPARE(result.error, expectedError);
    QVERIFY(result.tasks.isEmpty());
}

void TestTaskFileTransaction::lockObstacles_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<QString>("expectedError"); // empty: the lock is taken
    QTest::newRow("empty lock left by a killed holder") << QStringLiteral("empty") << QString();
    QTest::newRow("lock naming a dead process") << QStringLiteral("dead pid") << QString();
    QTest::newRow("folder in place of the lock")
        << QStringLiteral("folder") << QStringLiteral("Could not create the lock file %1: %2");
    QTest::newRow("no data folder")
        << QStringLiteral("no folder")
        << QStringLiteral("Could not create the lock file %1: its folder does not exist");
}

void TestTaskFileTransaction::lockObstacles()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, expectedError);
    QTemporaryDir dir;
    QString taskFile = dir.filePath(QStringLiteral("tasks.json"));
    const QString lock = TaskFile::lockPath(taskFile);
    if (obstacle == QStringLiteral("empty"))
        writeRaw(lock, "");
    else if (obstacle == QStringLiteral("dead pid"))
        writeRaw(lock, "999999\nBrenmorOps\nhost\n");
    else if (obstacle == QStringLiteral("folder"))
        QVERIFY(QDir().mkpath(lock));
    else
        taskFile = dir.filePath(QStringLiteral("missing/tasks.json"));

    // A wait far beyond the test's patience: every case must be decided at once.
    const TaskFileTransaction::Outcome outcome =
        TaskFileTransaction::run(taskFile, {}, appending(QStringLiteral("A")));
    if (expectedError.isEmpty()) {
        QCOMPARE(outcome.status, TaskFileTransaction::Status::written);
        QCOMPARE(namesOf(TaskFile::read(taskFile).tasks), QStringList{QStringLiteral("A")});
        QVERIFY(!QFile::exists(lock));
    } else {
        QCOMPARE(outcome.status, TaskFileTransaction::Status::lockFailed);
        QCOMPARE(outcome.error,
                 expectedError.arg(TaskFile::lockPath(taskFile), QStringLiteral("Is a directory")));
        QVERIFY(!QFile::exists(taskFile));
    }
}

void TestTaskFileTransaction::lockHeldByAnotherHolderTimesOut()
{
    QTemporaryDir dir;
    const QString taskFile = dir.filePath(QStringLiteral("tasks.json"));
    const TaskFile::Lock held(taskFile);
    QVERIFY(held.isLocked());
    TaskFileTransaction::Options options;
    options.lockWaitMs = 50;
    bool changed = false;
    const auto outcome = TaskFileTransaction::run(taskFile, options, [&](QList<ScheduledTask>&) {
        changed = true;
        return true;
    });
    QCOMPARE(outcome.status, TaskFileTransaction::Status::lockFailed);
    QCOMPARE(outcome.error,
             QStringLiteral("The task file is in use by another process (lock file %1)")
                 .arg(TaskFile::lockPath(taskFile)));
    QVERIFY(!changed);
}

void TestTaskFileTransaction::changeAppliesToTheListOnDisk()
{
    QTemporaryDir dir;
    const QString taskFile = dir.filePath(QStringLiteral("tasks.json"));
    VERIFY_OK(TaskFile::write(taskFile, {task(QStringLiteral("Written by the other program"))}));
    TaskFileTransaction::Options options;
    // Only used when there is no file: the file's list wins over what a caller remembers.
    options.fallback = {task(QStringLiteral("Stale memory"))};
    int announced = 0;
    options.announce = [&] {
        ++announced;
        // Announced after the lock is let go, so a listener can take it at once.
        QVERIFY(!QFile::exists(TaskFile::lockPath(taskFile)));
    };
    QStringList seenAfterWrite;
    const auto outcome =
        TaskFileTransaction::run(taskFile, options, appending(QStringLiteral("Mine")),
                                 [&](const QList<ScheduledTask>& tasks) {
                                     seenAfterWrite = namesOf(TaskFile::read(taskFile).tasks);
                                     QCOMPARE(namesOf(tasks), seenAfterWrite);
                                     QVERIFY(QFile::exists(TaskFile::lockPath(taskFile)));
                                 });
    const QStringList expected{QStringLiteral("Written by the other program"),
                               QStringLiteral("Mine")};
    QCOMPARE(outcome.status, TaskFileTransaction::Status::written);
    QCOMPARE(namesOf(outcome.tasks), expected);
    QCOMPARE(seenAfterWrite, expected);
    QCOMPARE(namesOf(TaskFile::read(taskFile).tasks), expected);
    QCOMPARE(announced, 1);

    QVERIFY(QFile::remove(taskFile));
    TaskFileTransaction::run(taskFile, options, appending(QStringLiteral("Mine")));
    QCOMPARE(namesOf(TaskFile::read(taskFile).tasks),
             (QStringList{QStringLiteral("Stale memory"), QStringLiteral("Mine")}));
}

void TestTaskFileTransaction::unreadableFile_data()
{
    QTest::addColumn<bool>("keepCopy");
    QTest::newRow("refused") << false;
    QTest::newRow("kept aside, then replaced") << true;
}

void TestTaskFileTransaction::unreadableFile()
{
    QFETCH(bool, keepCopy);
    QTemporaryDir dir;
    const QString taskFile = dir.filePath(QStringLiteral("tasks.json"));
    const QByteArray damaged("{\"version\": 2, \"tasks\": [{]");
    writeRaw(taskFile, damaged);
    TaskFileTransaction::Options options;
    if (keepCopy)
        options.unreadableFile = TaskFileTransaction::UnreadableFile::keepCopy;
    const auto outcome =
        TaskFileTransaction::run(taskFile, options, appending(QStringLiteral("A")));
    if (!keepCopy) {
        QCOMPARE(outcome.status, TaskFileTransaction::Status::unreadable);
        QVERIFY(!outcome.error.isEmpty());
        QCOMPARE(readAll(taskFile), damaged);
        return;
    }
    QCOMPARE(outcome.status, TaskFileTransaction::Status::written);
    QVERIFY(outcome.keptAs.startsWith(taskFile + QStringLiteral(".unreadable-")));
    QCOMPARE(readAll(outcome.keptAs), damaged);
    QCOMPARE(namesOf(TaskFile::read(taskFile).tasks), QStringList{QStringLiteral("A")});
}

void TestTaskFileTransaction::unchangedOrFailedChangeIsNotAnnounced()
{
    QTemporaryDir dir;
    const QString taskFile = dir.filePath(QStringLiteral("tasks.json"));
    VERIFY_OK(TaskFile::write(taskFile, {task(QStringLiteral("A"))}));
    const QByteArray before = readAll(taskFile);
    int announced = 0;
    TaskFileTransaction::Options options;
    options.announce = [&] { ++announced; };

    auto outcome =
        TaskFileTransaction::run(taskFile, options, [](QList<ScheduledTask>&) { return false; });
    QCOMPARE(outcome.status, TaskFileTransaction::Status::unchanged);
    QCOMPARE(namesOf(outcome.tasks), QStringList{QStringLiteral("A")});
    QCOMPARE(readAll(taskFile), before);

    // The folder refuses new entries: the write fails and nobody is told of a change.
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    if (::geteuid() != 0) {
        outcome = TaskFileTransaction::run(taskFile, options, appending(QStringLiteral("B")));
        QVERIFY(outcome.status == TaskFileTransaction::Status::lockFailed ||
                outcome.status == TaskFileTransaction::Status::writeFailed);
        QVERIFY(!outcome.error.isEmpty());
        QCOMPARE(readAll(taskFile), before);
    }
    QFile::setPermissions(dir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(announced, 0);
}

void TestTaskFileTransaction::leftoverTemporaryIsRemoved()
{
    QTemporaryDir dir;
    const QString taskFile = dir.filePath(QStringLiteral("tasks.json"));
    const QString leftover = taskFile + QStringLiteral(".a1B2c3");
    const QString keptCopy = taskFile + QStringLiteral(".unreadable-20250101-120000");
    writeRaw(leftover, "{\"version\": 2, \"tas");
    writeRaw(keptCopy, "kept");
    TaskFileTransaction::run(taskFile, {}, appending(QStringLiteral("A")));
    QVERIFY(!QFile::exists(leftover));
    QCOMPARE(readAll(keptCopy), QByteArray("kept"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

QTEST_GUILESS_MAIN(TestTaskFileTransaction)
#include "TestTaskFileTransaction.moc"
