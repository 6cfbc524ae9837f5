// Reading tasks' runs and agent file times for the rows: what one reading holds, that it
// happens beside the asking thread, that requests made together are read together, and that
// an answer overtaken by a newer request or by the task's removal is dropped.
#include "LaunchdService.h"
#include "TaskBuilder.h"
#include "TaskRunReader.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <mutex>

Q_DECLARE_METATYPE(TaskRunStatus)

namespace {

void setModified(const QString& path, const QDateTime& when)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
}

// A reader that records on which thread each reading ran, holds the first until released and
// marks each answer with the number of its reading (in its exit code).
struct HeldReader {
    QSemaphore entered;
    QSemaphore release;
    std::mutex mutex;
    QList<QThread*> threads;
    QList<QUuid> tasks;

    ~HeldReader()
    {
        release.release(100);
        QThreadPool::globalInstance()->waitForDone();
    }

    TaskRunReader::Reader reader()
    {
        return [this](const ScheduledTask& task) {
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
            TaskRunStatus status;
            status.taskId = task.id;
            TaskRunRecord record;
            record.exitCode = call;
            status.runs.append(record);
            return status;
        };
    }
};

} // namespace

class TestTaskRunReader : public QObject {
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
        for (const QString& folder : {m_paths.launchAgentsDir, m_paths.logDir})
            QVERIFY(QDir().mkpath(folder));
    }
    void cleanup()
    {
        QThreadPool::globalInstance()->waitForDone();
        RunHistory::clearHistoryCache();
        for (const QString& folder : {m_paths.launchAgentsDir, m_paths.logDir})
            QDir(folder).removeRecursively();
    }

    void readingHoldsWhatIsOnDisk_data()
    {
        QTest::addColumn<QByteArray>("history");
        QTest::addColumn<bool>("plist");
        QTest::addColumn<QByteArray>("stdoutLog");
        QTest::addColumn<QByteArray>("stderrLog");
        QTest::addColumn<int>("runs");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QString>("output"); // which log's time is the last output: "", out, err
        QTest::newRow("never ran, never installed")
            << QByteArray() << false << QByteArray() << QByteArray() << 0 << false << QString();
        QTest::newRow("last run failed after a success")
            << TestSupport::runHistoryLine(0, 0) + TestSupport::runHistoryLine(1, 2) << true
            << QByteArray() << QByteArray() << 2 << true << QString();
        QTest::newRow("last run succeeded after a failure")
            << TestSupport::runHistoryLine(0, 1) + TestSupport::runHistoryLine(1, 0) << true
            << QByteArray() << QByteArray() << 2 << false << QString();
        QTest::newRow("a torn last line: the last whole run counts")
            << TestSupport::runHistoryLine(0, 3) + "2025-03-01T10:0" << true << QByteArray()
            << QByteArray() << 1 << true << QString();
        QTest::newRow("empty logs are no output")
            << TestSupport::runHistoryLine(0, 0) << true << QByteArray("") << QByteArray("") << 1
            << false << QString();
        QTest::newRow("stdout written last")
            << QByteArray() << true << QByteArray("out\n") << QByteArray("err\n") << 0 << false
            << QStringLiteral("out");
        QTest::newRow("stderr written last")
            << QByteArray() << false << QByteArray("out\n") << QByteArray("err\n") << 0 << false
            << QStringLiteral("err");
    }
    void readingHoldsWhatIsOnDisk()
    {
        QFETCH(QByteArray, history);
        QFETCH(bool, plist);
        QFETCH(QByteArray, stdoutLog);
        QFETCH(QByteArray, stderrLog);
        QFETCH(int, runs);
        QFETCH(bool, failed);
        QFETCH(QString, output);
        const ScheduledTask task = TaskBuilder("reader").build();
        const QDateTime base(QDate(2025, 3, 1), QTime(12, 0), QTimeZone::utc());
        if (!history.isNull())
            TestSupport::writeFile(m_paths.runHistoryPath(task), history);
        if (plist) {
            TestSupport::writeFile(m_paths.plistPath(task), "<plist/>");
            setModified(m_paths.plistPath(task), base);
        }
        if (!stdoutLog.isNull()) {
            TestSupport::writeFile(m_paths.stdoutLogPath(task), stdoutLog);
            setModified(m_paths.stdoutLogPath(task),
                        base.addSecs(output == QLatin1String("out") ? 600 : 300));
        }
        if (!stderrLog.isNull()) {
            TestSupport::writeFile(m_paths.stderrLogPath(task), stderrLog);
            setModified(m_paths.stderrLogPath(task),
                        base.addSecs(output == QLatin1String("err") ? 600 : 300));
        }

        const TaskRunStatus status = TaskRunReader::read(m_paths, task);
        QCOMPARE(status.taskId, task.id);
        QCOMPARE(status.runs.size(), runs);
        QCOMPARE(status.lastRunFailed(), failed);
        QCOMPARE(status.activity.installedAt.has_value(), plist);
        if (plist)
            QCOMPARE(*status.activity.installedAt, base);
        QCOMPARE(status.activity.lastOutputAt.has_value(), !output.isEmpty());
        if (!output.isEmpty())
            QCOMPARE(*status.activity.lastOutputAt, base.addSecs(600));
    }

    // While the first reading is held, the test asks again for the same task, forgets it, or
    // asks for others; what arrives afterwards tells which answers were kept.
    void answersFollowTheLatestRequest_data()
    {
        QTest::addColumn<int>("together");      // tasks asked for in one go
        QTest::addColumn<QString>("meanwhile"); // "", "again", "forget", "other"
        QTest::addColumn<int>("batches");
        QTest::addColumn<QList<int>>("answers"); // reading numbers delivered, in order
        QTest::newRow("one task") << 1 << QString() << 1 << QList<int>{1};
        QTest::newRow("a burst of rows is one batch, answered in order")
            << 3 << QString() << 1 << QList<int>{1, 2, 3};
        QTest::newRow("asked again while read: only the newer answer")
            << 1 << QStringLiteral("again") << 2 << QList<int>{2};
        QTest::newRow("asked again in a burst: the others still answered")
            << 2 << QStringLiteral("again") << 2 << QList<int>{2, 3};
        QTest::newRow("removed while read: no answer, nothing kept")
            << 1 << QStringLiteral("forget") << 2 << QList<int>{2};
        QTest::newRow("asked for another while read: the next batch")
            << 1 << QStringLiteral("other") << 2 << QList<int>{1, 2};
    }
    void answersFollowTheLatestRequest()
    {
        QFETCH(int, together);
        QFETCH(QString, meanwhile);
        QFETCH(int, batches);
        QFETCH(QList<int>, answers);
        HeldReader held;
        TaskRunReader reader(m_paths, nullptr, held.reader());
        QSignalSpy spy(&reader, &TaskRunReader::statusRead);
        QList<ScheduledTask> tasks;
        for (int i = 0; i < together; ++i) {
            tasks.append(TaskBuilder(QStringLiteral("row %1").arg(i)).build());
            reader.request(tasks.last());
        }
        QVERIFY(reader.isReading());
        // The batch starts once this turn of the event loop is over.
        QCOMPARE(reader.batchCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(held.entered.available(), 1, TestSupport::eventTimeoutMs);
        held.entered.acquire();

        const ScheduledTask later = TaskBuilder("later").build();
        if (meanwhile == QLatin1String("again")) {
            reader.request(tasks.first());
        } else if (meanwhile == QLatin1String("forget")) {
            reader.forget(tasks.first().id);
            // The positive event that shows the forgotten answer was not delivered.
            reader.request(later);
        } else if (meanwhile == QLatin1String("other")) {
            reader.request(later);
        }
        held.release.release();

        QTRY_VERIFY_WITH_TIMEOUT(!reader.isReading(), TestSupport::eventTimeoutMs);
        QList<int> got;
        for (const QList<QVariant>& arguments : std::as_const(spy)) {
            const auto status = arguments.constFirst().value<TaskRunStatus>();
            got.append(status.runs.constFirst().exitCode);
            // What arrived is what a row made now starts from.
            const TaskRunStatus* known = reader.known(status.taskId);
            QVERIFY(known);
            QCOMPARE(known->runs.constFirst().exitCode, got.last());
        }
        QCOMPARE(got, answers);
        QCOMPARE(reader.batchCount(), batches);
        if (meanwhile == QLatin1String("forget"))
            QVERIFY(!reader.known(tasks.first().id));
        // Every reading ran beside the asking thread.
        for (QThread* thread : std::as_const(held.threads))
            QVERIFY(thread != QThread::currentThread());
    }
};

QTEST_GUILESS_MAIN(TestTaskRunReader)
#include "TestTaskRunReader.moc"
