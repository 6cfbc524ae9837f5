// The data folder is private every time it is used, and never one that another user owns.
#include "Locations.h"
#include "ResultChecks.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
int modeOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}
} // namespace

class TestLocations : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The stand-ins (pmset, the agent runner) and the engine record keep their files in one
    // folder, wherever each of them works it out.
    void stateFolderFollowsXdgStateHome_data()
    {
        QTest::addColumn<QByteArray>("stateHome"); // empty: unset
        QTest::addColumn<QString>("expected");     // after the home folder when relative
        QTest::newRow("set") << QByteArray("/srv/state")
                             << QStringLiteral("/srv/state/brenmor-ops");
        QTest::newRow("unset") << QByteArray() << QStringLiteral("/.local/state/brenmor-ops");
    }
    void stateFolderFollowsXdgStateHome()
    {
        QFETCH(QByteArray, stateHome);
        QFETCH(QString, expected);
        TestHome home;
        if (stateHome.isEmpty()) {
            qunsetenv("XDG_STATE_HOME");
            expected.prepend(QDir::homePath());
        } else {
            qputenv("XDG_STATE_HOME", stateHome);
        }
        QCOMPARE(Locations::stateFolder(), expected);
    }

    void dataFolderIsMadePrivate_data()
    {
        QTest::addColumn<int>("mode");      // of the existing folder; -1: none yet
        QTest::addColumn<bool>("foreign");  // owned by another user
        QTest::addColumn<int>("after");     // mode afterwards
        QTest::addColumn<QString>("error"); // after the folder's path; empty: accepted
        QTest::newRow("made new") << -1 << false << 0700 << QString();
        QTest::newRow("open to everyone") << 0777 << false << 0700 << QString();
        QTest::newRow("readable by the group") << 0750 << false << 0700 << QString();
        QTest::newRow("already private") << 0700 << false << 0700 << QString();
        QTest::newRow("another user's, private")
            << 0700 << true << 0700 << QStringLiteral(" belongs to another user (uid 65534)");
        QTest::newRow("another user's, open to everyone")
            << 0777 << true << 0777 << QStringLiteral(" belongs to another user (uid 65534)");
    }
    void dataFolderIsMadePrivate()
    {
        QFETCH(int, mode);
        QFETCH(bool, foreign);
        QFETCH(int, after);
        QFETCH(QString, error);
        if (foreign && geteuid() != 0)
            QSKIP("needs root to give the folder to another user");
        TestHome home;
        const QString folder = Locations::dataFolder();
        QCOMPARE(folder, home.dataFolder());
        if (mode >= 0) {
            QVERIFY(QDir().mkpath(folder));
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode_t(mode)), 0);
            if (foreign)
                QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        }
        const Result<void> result = Locations::ensureDataFolder();
        if (error.isEmpty())
            VERIFY_OK(result);
        else
            QCOMPARE(result.message(),
                     QStringLiteral("The data folder cannot be used: ") + folder + error);
        QCOMPARE(modeOf(folder), after);

        // The tool refuses the same folder before it reads or writes anything in it.
        TestSupport::writeFile(folder + QStringLiteral("/tasks.json"), "[]");
        const ProcessResult list = TestSupport::runTool(home, {QStringLiteral("list")});
        if (error.isEmpty()) {
            QCOMPARE(list.exitCode, 0);
        } else {
            QCOMPARE(list.exitCode, 1);
            QCOMPARE(list.errText(),
                     QStringLiteral("Error: ") + result.message() + QLatin1Char('\n'));
            QVERIFY(list.out.isEmpty());
        }
        // Help needs no data folder.
        QCOMPARE(TestSupport::runTool(home, {QStringLiteral("help")}).exitCode, 0);
        ::chown(QFile::encodeName(folder).constData(), getuid(), getgid());
    }
};

QTEST_GUILESS_MAIN(TestLocations)
#include "TestLocations.moc"
