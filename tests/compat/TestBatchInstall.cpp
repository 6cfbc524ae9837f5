// Installing and removing many agents with one launchctl call each way, against the real
// launchctl stand-in and agent runner.
#include "LaunchdService.h"
#include "ResultChecks.h"
#include "RunnerTestSupport.h"
#include "TaskBuilder.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <memory>
#include <sys/stat.h>

using namespace RunnerTest;

namespace {} // namespace

class TestBatchInstall : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> m_home;

    QString callLog() const { return m_home->path() + QStringLiteral("/calls.log"); }
    // The commands launchctl was started with, one per call ("load 3": load with 3 paths).
    QStringList calls() const
    {
        QStringList lines = QString::fromUtf8(TestSupport::readFile(callLog()))
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return lines;
    }

private Q_SLOTS:
    void initTestCase() { ::umask(022); }

    void init()
    {
        m_home = std::make_unique<TestHome>();
        // Counts the calls, then hands them to the real stand-in.
        const QString counter = m_home->path() + QStringLiteral("/launchctl");
        TestSupport::writeScript(
            counter, "#!/bin/sh\necho \"$1 $(($# - 1))\" >> '" + callLog().toUtf8() + "'\nexec '" +
                         TestSupport::compatPath(QStringLiteral("launchctl")).toUtf8() +
                         "' \"$@\"\n");
        qputenv("BRENMOR_OPS_LAUNCHCTL", counter.toUtf8());
    }

    void cleanup()
    {
        stopRunner();
        qunsetenv("BRENMOR_OPS_LAUNCHCTL");
        m_home.reset();
    }

    // Fresh agents are loaded in one call; reinstalling them unloads and loads once each way;
    // removing unloads once. Every agent is listed while installed and gone afterwards.
    void manyAgentsInTwoCalls_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("one") << 1;
        QTest::newRow("twelve") << 12;
        QTest::newRow("more than one call holds") << 230;
    }

    void manyAgentsInTwoCalls()
    {
        QFETCH(int, count);
        const LaunchdService service;
        QList<ScheduledTask> tasks;
        for (int n = 0; n < count; ++n)
            tasks.append(
                TaskBuilder(QStringLiteral("Batch %1").arg(n)).daily({{3, n % 60}}).build());
        const int callsPerBatch = (count + 199) / 200;

        for (const auto& result : service.installAll(tasks))
            VERIFY_OK(result);
        QCOMPARE(calls().size(), callsPerBatch);
        QVERIFY(calls().first().startsWith(QStringLiteral("load ")));
        for (const ScheduledTask& task : {tasks.first(), tasks.last()})
            QVERIFY(!listEntry(LaunchdService::label(task)).isEmpty());

        QFile::remove(callLog());
        for (const auto& result : service.installAll(tasks))
            VERIFY_OK(result);
        QCOMPARE(calls().size(), 2 * callsPerBatch);
        QVERIFY(calls().first().startsWith(QStringLiteral("unload ")));
        QVERIFY(calls().last().startsWith(QStringLiteral("load ")));

        QFile::remove(callLog());
        for (const auto& result : service.uninstallAll(tasks))
            VERIFY_OK(result);
        QCOMPARE(calls().size(), callsPerBatch);
        for (const ScheduledTask& task : {tasks.first(), tasks.last()}) {
            QVERIFY(listEntry(LaunchdService::label(task)).isEmpty());
            QVERIFY(!QFileInfo::exists(service.paths().plistPath(task)));
            QVERIFY(!QFileInfo::exists(service.paths().scriptPath(task)));
        }
        // Agents without a plist are not loaded: nothing to unload, no call at all.
        QFile::remove(callLog());
        for (const auto& result : service.uninstallAll(tasks))
            VERIFY_OK(result);
        QVERIFY(calls().isEmpty());
    }

    // One call for several plists still tells which of them failed.
    void failuresAreReportedPerPath_data()
    {
        QTest::addColumn<QStringList>("kinds"); // good, missing, malformed
        QTest::newRow("all good") << QStringList{"good", "good"};
        QTest::newRow("missing between good ones") << QStringList{"good", "missing", "good"};
        QTest::newRow("malformed first") << QStringList{"malformed", "good"};
        QTest::newRow("all bad") << QStringList{"missing", "malformed"};
        QTest::newRow("one bad alone") << QStringList{"malformed"};
    }

    void failuresAreReportedPerPath()
    {
        QFETCH(QStringList, kinds);
        const QString folder = m_home->path() + QStringLiteral("/agents");
        QDir().mkpath(folder);
        QStringList paths;
        for (int i = 0; i < kinds.size(); ++i) {
            const QString label = QStringLiteral("test.batch.%1").arg(i);
            QString path = folder + QLatin1Char('/') + label + QStringLiteral(".plist");
            if (kinds[i] == QLatin1String("good"))
                path = writePlist(folder, label, {QStringLiteral("/bin/true")}, QString());
            else if (kinds[i] == QLatin1String("malformed"))
                TestSupport::writeFile(path, "<plist><dict>");
            paths.append(path);
        }
        const LaunchdService service;
        const auto results = service.runLaunchctlBatch(QStringLiteral("load"), paths);
        QCOMPARE(results.size(), kinds.size());
        for (int i = 0; i < kinds.size(); ++i) {
            if (kinds[i] == QLatin1String("good")) {
                VERIFY_OK(results[i]);
            } else {
                QVERIFY(!results[i].ok());
                QCOMPARE(results[i].error(),
                         LaunchdError::launchctlFailed(QStringLiteral("load"), 5));
            }
        }
        QCOMPARE(calls().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestBatchInstall)
#include "TestBatchInstall.moc"
