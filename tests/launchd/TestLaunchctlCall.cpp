#include "LaunchctlCall.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Only the launchctl built with the program runs inside it; a fake or foreign launchctl must
// still run as the program it is, or the tests' and users' substitutes would be passed over.
class TestLaunchctlCall : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tellsOwnLaunchctl_data()
    {
        QTest::addColumn<QString>("path"); // relative to the temporary folder
        QTest::addColumn<QString>("ownFolder");
        QTest::addColumn<bool>("own");

        QTest::newRow("the stand-in itself") << "libexec/launchctl"
                                             << "libexec" << true;
        QTest::newRow("through a link") << "bin/linked-launchctl"
                                        << "libexec" << true;
        QTest::newRow("through ..") << "bin/../libexec/launchctl"
                                    << "libexec" << true;
        QTest::newRow("a copy elsewhere") << "fake/launchctl"
                                          << "libexec" << false;
        QTest::newRow("another folder's launchctl") << "libexec/launchctl"
                                                    << "fake" << false;
        QTest::newRow("missing path") << "nowhere/launchctl"
                                      << "libexec" << false;
        QTest::newRow("no stand-in built") << "libexec/launchctl"
                                           << "empty" << false;
        QTest::newRow("no folder (macOS)") << "libexec/launchctl"
                                           << "" << false;
    }

    void tellsOwnLaunchctl()
    {
        QFETCH(QString, path);
        QFETCH(QString, ownFolder);
        QFETCH(bool, own);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray script = "#!/bin/sh\nexit 0\n";
        for (const char* folder : {"libexec", "fake", "bin", "empty"})
            QVERIFY(QDir().mkpath(dir.filePath(QLatin1String(folder))));
        TestSupport::writeFile(dir.filePath(QStringLiteral("libexec/launchctl")), script);
        TestSupport::writeFile(dir.filePath(QStringLiteral("fake/launchctl")), script);
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("libexec/launchctl")),
                            dir.filePath(QStringLiteral("bin/linked-launchctl"))));
        const QString folder = ownFolder.isEmpty() ? QString() : dir.filePath(ownFolder);
        QCOMPARE(LaunchctlCall::isOwn(dir.filePath(path), folder), own);
    }
};

QTEST_GUILESS_MAIN(TestLaunchctlCall)
#include "TestLaunchctlCall.moc"
