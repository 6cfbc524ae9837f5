// Reading a task's files for its detail: what one reading holds, that it happens beside the
// asking thread, that only the newest answer arrives, and that unchanged files are not read
// again while changed, replaced or removed ones are.
#include "LaunchdService.h"
#include "TaskBuilder.h"
#include "TaskDetailLoader.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <sys/stat.h>

#include <mutex>

Q_DECLARE_METATYPE(TaskDetailData)

namespace {

QByteArray numberedLines(int from, int to)
{
    QByteArray bytes;
    for (int i = from; i <= to; ++i)
        bytes += "line " + QByteArray::number(i) + '\n';
    return bytes;
}

const QByteArray plistText =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
    "<key>Label</key><string>com.brenmor-ops.task.X</string></dict></plist>\n";

// Puts `bytes` at `path` as a new file (a new inode), the way an atomic write replaces one.
void replaceFile(const QString& path, const QByteArray& bytes)
{
    const QString temporary = path + QStringLiteral(".new");
    TestSupport::writeFile(temporary, bytes);
    QVERIFY(::rename(QFile::encodeName(temporary).constData(),
                     QFile::encodeName(path).constData()) == 0);
}

// A reader that records on which thread each reading ran, and holds the first until released.
struct HeldReader {
    QSemaphore entered;
    QSemaphore release;
    std::mutex mutex;
    QList<QThread*> threads;
    QList<QUuid> tasks;

    // Nothing stays held, and no reading outlives the recorder.
    ~HeldReader()
    {
        release.release(100);
        QThreadPool::globalInstance()->waitForDone();
    }

    TaskDetailLoader::Reader reader(const AgentPaths& paths,
                                    std::shared_ptr<TaskDetailLoader::FileCache> cache)
    {
        return [this, paths, cache](const ScheduledTask& task) {
            int call = 0;
            {
                const std::lock_guard lock(mutex);
                threads.append(QThread::currentThread());
                tasks.append(task.id);
                call = int(tasks.size());
            }
            if (call == 1) {
                entered.release();
                // Bounded: a reading on the asking thread fails the test instead of hanging it.
                release.tryAcquire(1, TestSupport::eventTimeoutMs);
            }
            TaskDetailData data = TaskDetailLoader::read(paths, *cache, task);
            data.runCount += qsizetype(call) * 1000; // which reading this answer came from
            return data;
        };
    }
};

} // namespace

class TestTaskDetailLoader : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    AgentPaths m_paths;

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_paths = AgentPaths(m_dir.filePath(QStringLiteral("LaunchAgents")),
                             m_dir.filePath(QStringLiteral("Scripts")),
                             m_dir.filePath(QStringLiteral("Logs")));
        for (const QString& folder : {m_paths.launchAgentsDir, m_paths.scriptsDir, m_paths.logDir})
            QVERIFY(QDir().mkpath(folder));
    }
    void cleanup()
    {
        // A reading still on its way must not outlive the folder it reads.
        QThreadPool::globalInstance()->waitForDone();
        for (const QString& folder : {m_paths.launchAgentsDir, m_paths.scriptsDir, m_paths.logDir})
            QDir(folder).removeRecursively();
    }

    void readingHoldsWhatIsOnDisk_data()
    {
        QTest::addColumn<QString>("installed");
        QTest::addColumn<int>("runs");
        QTest::addColumn<int>("stdoutLines");
        QTest::addColumn<QString>("firstExit"); // newest run's exit code, "" for none
        QTest::addColumn<QString>("stdoutTail");
        QTest::addColumn<bool>("script");
        QTest::addColumn<bool>("plist");
        QTest::newRow("never ran, never installed")
            << QString() << 0 << 0 << QString() << QString() << false << false;
        QTest::newRow("twelve runs: the ten newest, newest first, of twelve")
            << QStringLiteral("files") << 12 << 3 << QStringLiteral("11")
            << QStringLiteral("line 1\nline 2\nline 3") << true << true;
        QTest::newRow("a long log: its last hundred lines")
            << QStringLiteral("files") << 1 << 150 << QStringLiteral("0")
            << QString::fromLatin1(numberedLines(51, 150)).trimmed() << true << true;
        QTest::newRow("script not UTF-8, plist no property list")
            << QStringLiteral("garbage") << 0 << 0 << QString() << QString() << false << false;
    }
    // Every reading runs on another thread than the one asking, and holds the files' state.
    void readingHoldsWhatIsOnDisk()
    {
        QFETCH(QString, installed);
        QFETCH(int, runs);
        QFETCH(int, stdoutLines);
        QFETCH(QString, firstExit);
        QFETCH(QString, stdoutTail);
        QFETCH(bool, script);
        QFETCH(bool, plist);
        const ScheduledTask task = TaskBuilder(QStringLiteral("Backup")).build();
        QByteArray history;
        for (int i = 0; i < runs; ++i)
            history += TestSupport::runHistoryLine(i, i);
        if (runs > 0)
            TestSupport::writeFile(m_paths.runHistoryPath(task), history);
        if (stdoutLines > 0)
            TestSupport::writeFile(m_paths.stdoutLogPath(task), numberedLines(1, stdoutLines));
        TestSupport::writeFile(m_paths.stderrLogPath(task), "oops\n");
        const QString scriptPath = m_paths.scriptPath(task);
        const QString plistPath = m_paths.plistPath(task);
        if (installed == u"files") {
            TestSupport::writeFile(scriptPath, "#!/bin/zsh\necho hi\n");
            TestSupport::writeFile(plistPath, plistText);
        } else if (installed == u"garbage") {
            TestSupport::writeFile(scriptPath, "#!/bin/zsh\n\xff\xfe\n");
            TestSupport::writeFile(plistPath, "not a property list");
        }

        HeldReader held;
        TaskDetailLoader loader(
            m_paths, nullptr, nullptr,
            held.reader(m_paths, std::make_shared<TaskDetailLoader::FileCache>()));
        QSignalSpy loaded(&loader, &TaskDetailLoader::loaded);
        loader.load(task);
        // Back while the reading is held: this thread read nothing.
        QVERIFY(held.entered.tryAcquire(1, TestSupport::eventTimeoutMs));
        QVERIFY(loader.isLoading());
        QVERIFY(loaded.isEmpty());
        held.release.release();
        QVERIFY(loaded.wait(TestSupport::eventTimeoutMs));
        QCOMPARE(held.threads.size(), 1);
        QVERIFY(held.threads.first() != QThread::currentThread());
        QVERIFY(!loader.isLoading());

        const auto data = loaded.first().first().value<TaskDetailData>();
        QCOMPARE(data.taskId, task.id);
        QCOMPARE(data.runCount - 1000, qsizetype(runs));
        QCOMPARE(data.recentRuns.size(), std::min(runs, TaskDetailLoader::historyLimit));
        QCOMPARE(data.recentRuns.isEmpty() ? QString()
                                           : QString::number(data.recentRuns.first().exitCode),
                 firstExit);
        if (runs > TaskDetailLoader::historyLimit)
            QCOMPARE(data.recentRuns.last().exitCode, runs - TaskDetailLoader::historyLimit);
        QCOMPARE(data.stdoutTail, stdoutTail);
        QCOMPARE(data.tail(LogStream::stderrStream), QStringLiteral("oops"));
        QCOMPARE(data.script.has_value(), script);
        if (script)
            QCOMPARE(*data.script, QStringLiteral("#!/bin/zsh\necho hi\n"));
        QCOMPARE(data.plistXml.has_value(), plist);
        if (plist)
            QVERIFY2(data.plistXml->contains(QLatin1String("<key>Label</key>")),
                     qPrintable(*data.plistXml));
    }

    void onlyTheNewestAnswerArrives_data()
    {
        // Requests made in turn, the first held until all are made: a letter is a task.
        QTest::addColumn<QString>("requests");
        QTest::addColumn<QString>("read");      // the tasks actually read, in order
        QTest::addColumn<QString>("delivered"); // the task of the one answer
        QTest::addColumn<int>("reading");       // which reading gave it (1 = first)
        QTest::newRow("one request") << "A"
                                     << "A"
                                     << "A" << 1;
        QTest::newRow("another task asked for meanwhile") << "AB"
                                                          << "AB"
                                                          << "B" << 2;
        QTest::newRow("the same task asked for again") << "AA"
                                                       << "AA"
                                                       << "A" << 2;
        // B waited behind A and was replaced by C before its turn: never read.
        QTest::newRow("switching quickly through three") << "ABC"
                                                         << "AC"
                                                         << "C" << 2;
        QTest::newRow("back to the first") << "ABA"
                                           << "AA"
                                           << "A" << 2;
    }
    void onlyTheNewestAnswerArrives()
    {
        QFETCH(QString, requests);
        QFETCH(QString, read);
        QFETCH(QString, delivered);
        QFETCH(int, reading);
        QHash<QChar, ScheduledTask> tasks;
        for (const QChar letter : QStringLiteral("ABC"))
            tasks.insert(letter, TaskBuilder(QString(letter)).build());
        HeldReader held;
        TaskDetailLoader loader(
            m_paths, nullptr, nullptr,
            held.reader(m_paths, std::make_shared<TaskDetailLoader::FileCache>()));
        QSignalSpy loaded(&loader, &TaskDetailLoader::loaded);
        loader.load(tasks.value(requests.front()));
        QVERIFY(held.entered.tryAcquire(1, TestSupport::eventTimeoutMs));
        for (const QChar letter : QStringView(requests).mid(1))
            loader.load(tasks.value(letter));
        QCOMPARE(loader.requestCount(), quint64(requests.size()));
        held.release.release();
        // One reading runs at a time, so every older one ended before the newest answer came.
        QTRY_VERIFY_WITH_TIMEOUT(!loader.isLoading(), TestSupport::eventTimeoutMs);
        QCOMPARE(loaded.size(), 1);
        const auto data = loaded.first().first().value<TaskDetailData>();
        QCOMPARE(data.taskId, tasks.value(delivered.front()).id);
        QCOMPARE(int(data.runCount / 1000), reading);
        QList<QUuid> expectedRead;
        for (const QChar letter : read)
            expectedRead << tasks.value(letter).id;
        QCOMPARE(held.tasks, expectedRead);
    }

    void cacheFollowsFileIdentity_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("reads");    // contents read in the two lookups
        QTest::addColumn<int>("reuses");   // contents taken from the cache
        QTest::addColumn<QString>("then"); // what the second lookup gives ("-": nothing)
        QTest::newRow("unchanged") << "none" << 1 << 1 << "first";
        QTest::newRow("appended to") << "append" << 2 << 0 << "first more";
        QTest::newRow("replaced by a file of the same size") << "replace" << 2 << 0 << "other";
        QTest::newRow("rewritten in place, same size, another time")
            << "rewrite" << 2 << 0 << "again";
        QTest::newRow("removed") << "remove" << 1 << 0 << "-";
        QTest::newRow("replaced by a FIFO") << "fifo" << 1 << 0 << "-";
        QTest::newRow("read another way") << "variant" << 2 << 0 << "first";
    }
    void cacheFollowsFileIdentity()
    {
        QFETCH(QString, change);
        QFETCH(int, reads);
        QFETCH(int, reuses);
        QFETCH(QString, then);
        const QString path = m_dir.filePath(QStringLiteral("file.txt"));
        QFile::remove(path);
        TestSupport::writeFile(path, "first");
        TaskDetailLoader::FileCache cache;
        int calls = 0;
        const auto read = [&calls](const QString& file) -> std::optional<QString> {
            ++calls;
            return QString::fromUtf8(TestSupport::readFile(file));
        };
        QCOMPARE(cache.get(path, 1, read), std::optional(QStringLiteral("first")));
        int variant = 1;
        if (change == u"append") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append));
            file.write(" more");
        } else if (change == u"replace") {
            replaceFile(path, "other");
        } else if (change == u"rewrite") {
            const QDateTime modified = QFileInfo(path).lastModified();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.write("again");
            QVERIFY(file.flush());
            QVERIFY(file.setFileTime(modified.addSecs(1), QFileDevice::FileModificationTime));
        } else if (change == u"remove") {
            QVERIFY(QFile::remove(path));
        } else if (change == u"fifo") {
            QVERIFY(QFile::remove(path));
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (change == u"variant") {
            variant = 2;
        }
        const std::optional<QString> second = cache.get(path, variant, read);
        QCOMPARE(second, then == u"-" ? std::nullopt : std::optional(then));
        QCOMPARE(cache.counts().reads, reads);
        QCOMPARE(cache.counts().reuses, reuses);
        QCOMPARE(calls, reads);
        QFile::remove(path);
    }
};

QTEST_MAIN(TestTaskDetailLoader)
#include "TestTaskDetailLoader.moc"
