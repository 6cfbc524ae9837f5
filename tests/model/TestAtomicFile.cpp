// AtomicFile::writeAll: many files replaced with one wait for the disk, each still all-or-nothing;
// removeAbandonedTemporaries: what a killed writer left, and nothing else.
#include "AtomicFile.h"
#include "ResultChecks.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

class TestAtomicFile final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writeAll_data();
    void writeAll();
    void removesOnlyAbandonedTemporaries_data();
    void removesOnlyAbandonedTemporaries();
};

void TestAtomicFile::writeAll_data()
{
    // Each entry: "<name>=<contents>"; a name under "missing/" has no folder and must fail
    // alone. "link" starts as a symbolic link to "victim", which must keep its contents.
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("failing");

    QTest::newRow("one file") << QStringList{QStringLiteral("a=one")} << QStringList();
    QTest::newRow("several files, old contents replaced")
        << QStringList{QStringLiteral("a=1"), QStringLiteral("b=2"), QStringLiteral("old=new")}
        << QStringList();
    QTest::newRow("a file without its folder fails alone")
        << QStringList{QStringLiteral("a=1"), QStringLiteral("missing/b=2"), QStringLiteral("c=3")}
        << QStringList{QStringLiteral("missing/b")};
    QTest::newRow("a link at the path is replaced, not written through")
        << QStringList{QStringLiteral("link=mine"), QStringLiteral("a=1")} << QStringList();
    QTest::newRow("empty contents")
        << QStringList{QStringLiteral("a="), QStringLiteral("b=")} << QStringList();
}

void TestAtomicFile::writeAll()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, failing);
    QTemporaryDir dir;
    const QString root = dir.path();
    TestSupport::writeFile(root + QStringLiteral("/old"), "old contents");
    TestSupport::writeFile(root + QStringLiteral("/victim"), "victim");
    QVERIFY(QFile::link(root + QStringLiteral("/victim"), root + QStringLiteral("/link")));

    QList<AtomicFile::Replacement> files;
    for (const QString& entry : std::as_const(entries)) {
        const QString name = entry.section(QLatin1Char('='), 0, 0);
        files.append({root + QLatin1Char('/') + name, entry.section(QLatin1Char('='), 1).toUtf8(),
                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner});
    }
    const QList<Result<void>> results = AtomicFile::writeAll(files);
    QCOMPARE(results.size(), files.size());
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString name = entries.at(i).section(QLatin1Char('='), 0, 0);
        const QString& path = files.at(i).path;
        if (failing.contains(name)) {
            QVERIFY2(!results.at(i).ok() &&
                         results.at(i).error().startsWith(QStringLiteral("Cannot write ") + path +
                                                          QStringLiteral(": ")),
                     qPrintable(results.at(i).message()));
            QVERIFY(!QFileInfo::exists(path));
            continue;
        }
        VERIFY_OK(results.at(i));
        const QFileInfo info(path);
        QVERIFY(!info.isSymLink());
        QCOMPARE(TestSupport::readFile(path), files.at(i).bytes);
        QCOMPARE(info.permissions() &
                     ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
                 files.at(i).permissions);
    }
    QCOMPARE(TestSupport::readFile(root + QStringLiteral("/victim")), QByteArray("victim"));
    // No temporary is left behind, written or failed.
    for (const QString& name : QDir(root).entryList(QDir::Files | QDir::System)) {
        for (const AtomicFile::Replacement& file : std::as_const(files))
            QVERIFY2(!AtomicFile::isTemporaryOf(name, file.path), qPrintable(name));
    }
}

void TestAtomicFile::removesOnlyAbandonedTemporaries_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind"); // file, folder, link, fifo
    QTest::addColumn<bool>("old");     // last modified before the abandonment age
    QTest::addColumn<bool>("removed");

    QTest::newRow("old temporary") << "com.x.task.A.plist.Ab12Cd"
                                   << "file" << true << true;
    QTest::newRow("dot before the prefix") << ".com.x.h.plist.Ab12Cd"
                                           << "file" << true << false;
    QTest::newRow("young temporary") << "com.x.task.A.plist.Ab12Cd"
                                     << "file" << false << false;
    QTest::newRow("other prefix") << "org.other.plist.Ab12Cd"
                                  << "file" << true << false;
    QTest::newRow("the file itself") << "com.x.task.A.plist"
                                     << "file" << true << false;
    QTest::newRow("suffix too short") << "com.x.task.A.plist.Ab12C"
                                      << "file" << true << false;
    QTest::newRow("suffix not alphanumeric") << "com.x.task.A.plist.Ab-2Cd"
                                             << "file" << true << false;
    QTest::newRow("folder named like one") << "com.x.task.A.plist.Ab12Cd"
                                           << "folder" << true << false;
    QTest::newRow("link named like one") << "com.x.task.A.plist.Ab12Cd"
                                         << "link" << true << false;
    QTest::newRow("old FIFO named like one") << "com.x.task.A.plist.Ab12Cd"
                                             << "fifo" << true << true;
}

void TestAtomicFile::removesOnlyAbandonedTemporaries()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(bool, old);
    QFETCH(bool, removed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(name);
    const QString target = dir.filePath(QStringLiteral("target"));
    TestSupport::writeFile(target, "kept");
    if (kind == QLatin1String("file"))
        TestSupport::writeFile(path, "partial");
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(path));
    else if (kind == QLatin1String("link"))
        QVERIFY(QFile::link(target, path));
    else
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    const QDateTime when = QDateTime::currentDateTimeUtc().addMSecs(
        old ? -AtomicFile::abandonedAfterMs - 60000 : -AtomicFile::abandonedAfterMs + 30000);
    // lutimes-like: a link's own time, never its target's.
    const struct timespec times[2] = {{time_t(when.toSecsSinceEpoch()), 0},
                                      {time_t(when.toSecsSinceEpoch()), 0}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW),
             0);
    QCOMPARE(AtomicFile::removeAbandonedTemporaries(dir.path(), QStringLiteral("com.x.")),
             removed ? 1 : 0);
    QCOMPARE(QFileInfo::exists(path) || QFileInfo(path).isSymLink(), !removed);
    QCOMPARE(TestSupport::readFile(target), QByteArray("kept"));
}

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "TestAtomicFile.moc"
