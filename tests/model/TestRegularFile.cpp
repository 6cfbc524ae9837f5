#include "RegularFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// RegularFile::read sizes its room by the file and grows it only as far as the bound: a file
// exactly at the bound is whole, one byte more is refused, and a file that reports no size
// (as the kernel's own files do) is still read to its end.
class TestRegularFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void readsWithinTheBound_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("bound");
        QTest::addColumn<bool>("read");
        QTest::newRow("empty") << qint64(0) << qint64(10) << true;
        QTest::newRow("small") << qint64(5) << qint64(10) << true;
        QTest::newRow("at the bound") << qint64(10) << qint64(10) << true;
        QTest::newRow("one byte past the bound") << qint64(11) << qint64(10) << false;
        QTest::newRow("far past the bound") << qint64(100000) << qint64(10) << false;
        QTest::newRow("large, within a large bound") << qint64(300000) << qint64(4 << 20) << true;
        QTest::newRow("empty with no room at all") << qint64(0) << qint64(0) << true;
        QTest::newRow("one byte with no room") << qint64(1) << qint64(0) << false;
    }

    void readsWithinTheBound()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, bound);
        QFETCH(bool, read);
        QByteArray bytes(qsizetype(size), '\0');
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char('a' + i % 26);
        const QString path = m_dir.filePath(QStringLiteral("file-%1").arg(size));
        TestSupport::writeFile(path, bytes);
        const Result<QByteArray> result = RegularFile::read(path, bound);
        QCOMPARE(result.ok(), read);
        if (read)
            QCOMPARE(*result, bytes);
        else
            QCOMPARE(result.error(),
                     QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(bound));
    }

    void readsFilesThatReportNoSize()
    {
        struct stat info {};
        QVERIFY(::stat("/proc/self/status", &info) == 0);
        if (info.st_size != 0)
            QSKIP("/proc reports sizes here");
        const Result<QByteArray> result =
            RegularFile::read(QStringLiteral("/proc/self/status"), 1 << 20);
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error()));
        QVERIFY(result->startsWith("Name:"));
        QVERIFY(result->contains("\nPid:"));
    }

    void refusesWhatIsNoRegularFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("error"); // %1: the path
        QTest::newRow("folder") << "folder"
                                << "%1 is not a regular file";
        QTest::newRow("FIFO") << "fifo"
                              << "%1 is not a regular file";
        QTest::newRow("missing") << "missing"
                                 << "%1: No such file or directory";
    }

    void refusesWhatIsNoRegularFile()
    {
        QFETCH(QString, name);
        QFETCH(QString, error);
        const QString path = m_dir.filePath(name);
        if (name == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(path));
        if (name == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        const Result<QByteArray> result = RegularFile::read(path, 1000);
        QVERIFY(!result.ok());
        QCOMPARE(result.error(), error.arg(path));
    }
};

QTEST_GUILESS_MAIN(TestRegularFile)
#include "TestRegularFile.moc"
