#include "LogTail.h"
#include "RunHistory.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <atomic>
#include <thread>
#include <vector>

// The tail a reader of the whole file gets: split at line feeds, keep the last N pieces, join
// them with line feeds, trim both ends; a file that is not UTF-8 gives nothing.
static QString naiveTail(const QByteArray& bytes, int lastLines)
{
    if (!bytes.isValidUtf8())
        return {};
    QStringList pieces = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    // A final line feed ends the last line; it does not start another.
    if (pieces.size() > 1 && pieces.last().isEmpty())
        pieces.removeLast();
    const int keep = std::clamp<int>(lastLines, 0, int(pieces.size()));
    return pieces.mid(pieces.size() - keep).join(QLatin1Char('\n')).trimmed();
}

static QDateTime utc(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toUTC();
}

class TestRunHistory : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        TestSupport::writeFile(path, bytes);
        return path;
    }

private Q_SLOTS:
    void namesHistoryFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("history");
        QTest::newRow("made by historyPath")
            << RunHistory::historyPath(QStringLiteral("/l"), QStringLiteral("ab12cd34")) << true;
        QTest::newRow("standard output") << "/l/ab12cd34.stdout.log" << false;
        QTest::newRow("temporary beside it") << "/l/ab12cd34.runs.tmp" << false;
        QTest::newRow("suffix in a folder name") << "/l.runs/ab12cd34.log" << false;
        QTest::newRow("no dot") << "/l/ab12cd34runs" << false;
    }
    void namesHistoryFiles()
    {
        QFETCH(QString, path);
        QFETCH(bool, history);
        QCOMPARE(RunHistory::isHistoryPath(path), history);
        // The name filter lists exactly what the test accepts.
        QCOMPARE(QDir::match(RunHistory::historyNameFilter(), QFileInfo(path).fileName()), history);
    }

    void parsesLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<qint64>("duration");
        QTest::addColumn<int>("status");

        const QDateTime nine = utc("2025-03-01T09:00:00Z");
        QTest::newRow("current") << "2025-03-01T09:00:00Z\t2025-03-01T09:00:42Z\t0" << true << nine
                                 << qint64(42) << 0;
        QTest::newRow("legacy") << "2025-03-01T09:00:00Z\t1" << true << nine << qint64(0) << 1;
        QTest::newRow("doubled tab")
            << "2025-03-01T09:00:00Z\t\t2025-03-01T09:00:42Z\t0" << true << nine << qint64(42) << 0;
        QTest::newRow("leading and trailing tabs")
            << "\t2025-03-01T09:00:00Z\t2025-03-01T09:01:00Z\t3\t" << true << nine << qint64(60)
            << 3;
        QTest::newRow("negative status")
            << "2025-03-01T09:00:00Z\t-1" << true << nine << qint64(0) << -1;
        QTest::newRow("plus sign") << "2025-03-01T09:00:00Z\t+2" << true << nine << qint64(0) << 2;
        QTest::newRow("int32 max")
            << "2025-03-01T09:00:00Z\t2147483647" << true << nine << qint64(0) << 2147483647;
        QTest::newRow("int32 min") << "2025-03-01T09:00:00Z\t-2147483648" << true << nine
                                   << qint64(0) << int(-2147483648LL);
        QTest::newRow("tab after status")
            << "2025-03-01T09:00:00Z\t2025-03-01T09:00:42Z\t0\t" << true << nine << qint64(42) << 0;
        QTest::newRow("status with leading zeros")
            << "2025-03-01T09:00:00Z\t2025-03-01T09:00:42Z\t000000000001" << true << nine
            << qint64(42) << 1;
        QTest::newRow("end before start")
            << "2025-03-01T09:00:00Z\t2025-03-01T08:59:00Z\t0" << true << nine << qint64(-60) << 0;
        QTest::newRow("positive offset") << "2025-03-01T10:30:00+01:30\t2025-03-01T09:00:01Z\t0"
                                         << true << nine << qint64(1) << 0;
        QTest::newRow("negative offset")
            << "2025-03-01T04:00:00-05:00\t0" << true << nine << qint64(0) << 0;
        QTest::newRow("leap day") << "2024-02-29T00:00:00Z\t0" << true
                                  << utc("2024-02-29T00:00:00Z") << qint64(0) << 0;

        const auto rejected = [](const char* name, const char* line) {
            QTest::newRow(name) << QString::fromUtf8(line) << false << QDateTime() << qint64(0)
                                << 0;
        };
        rejected("four fields", "2025-03-01T09:00:00Z\t2025-03-01T09:00:42Z\t0\t0");
        rejected("one field", "2025-03-01T09:00:00Z");
        rejected("empty", "");
        rejected("only tabs", "\t\t");
        rejected("status abc", "2025-03-01T09:00:00Z\tabc");
        rejected("status 1.5", "2025-03-01T09:00:00Z\t1.5");
        rejected("status with space", "2025-03-01T09:00:00Z\t 0");
        rejected("status trailing space", "2025-03-01T09:00:00Z\t0 ");
        rejected("status beyond int32", "2025-03-01T09:00:00Z\t2147483648");
        rejected("status below int32", "2025-03-01T09:00:00Z\t-2147483649");
        rejected("status huge", "2025-03-01T09:00:00Z\t99999999999999999999999");
        rejected("sign only", "2025-03-01T09:00:00Z\t-");
        rejected("double sign", "2025-03-01T09:00:00Z\t+-1");
        rejected("carriage return", "2025-03-01T09:00:00Z\t0\r");
        rejected("fractional seconds", "2025-03-01T09:00:00.5Z\t0");
        rejected("no zone", "2025-03-01T09:00:00\t0");
        rejected("offset without colon", "2025-03-01T09:00:00+0100\t0");
        rejected("lower-case z", "2025-03-01T09:00:00z\t0");
        rejected("space instead of T", "2025-03-01 09:00:00Z\t0");
        rejected("date without dashes", "20250301T09:00:00Z\t0");
        rejected("no seconds", "2025-03-01T09:00Z\t0");
        rejected("month 13", "2025-13-01T09:00:00Z\t0");
        rejected("February 29 of a common year", "2025-02-29T09:00:00Z\t0");
        rejected("hour 24", "2025-03-01T24:00:00Z\t0");
        rejected("second 60", "2025-03-01T09:00:60Z\t0");
        rejected("bad end time", "2025-03-01T09:00:00Z\tlater\t0");
        rejected("full-width digits", "２０２５-03-01T09:00:00Z\t0");
    }

    void parsesLine()
    {
        QFETCH(QString, line);
        QFETCH(bool, valid);
        const auto record = TaskRunRecord::parse(line);
        QCOMPARE(record.has_value(), valid);
        if (!valid)
            return;
        QFETCH(QDateTime, start);
        QFETCH(qint64, duration);
        QFETCH(int, status);
        QCOMPARE(record->startedAt, start);
        QCOMPARE(record->startedAt.timeSpec(), Qt::UTC);
        QCOMPARE(record->durationSeconds(), duration);
        QCOMPARE(record->exitCode, status);
        QVERIFY(!record->id.isNull());
        // The byte-level reading of a whole file must agree with the line parser.
        const auto fromFile = RunHistory::parseHistory(line.toUtf8());
        QCOMPARE(fromFile.size(), 1);
        QCOMPARE(fromFile.first().startedAt, record->startedAt);
        QCOMPARE(fromFile.first().endedAt, record->endedAt);
        QCOMPARE(fromFile.first().exitCode, record->exitCode);
    }

    void historyKeepsFileOrderAndSkipsBadLines()
    {
        const QByteArray text = "2025-03-02T09:00:00Z\t2025-03-02T09:00:01Z\t0\n"
                                "garbage\n"
                                "2025-03-01T09:00:00Z\t7\n"
                                "\n"
                                "2025-03-03T09:00:00.25Z\t0\n"
                                "2025-02-01T09:00:00Z\t2025-02-01T09:10:00Z\t-1\n";
        const QList<TaskRunRecord> records = RunHistory::parseHistory(text);
        QCOMPARE(records.size(), 3);
        QCOMPARE(records[0].startedAt, utc("2025-03-02T09:00:00Z"));
        QCOMPARE(records[1].startedAt, utc("2025-03-01T09:00:00Z"));
        QCOMPARE(records[1].exitCode, 7);
        QCOMPARE(records[2].durationSeconds(), qint64(600));
        QCOMPARE(records[2].exitCode, -1);
        QVERIFY(records[0].id != records[1].id && records[1].id != records[2].id);
    }

    // The whole-file reader takes a shortcut for the wrapper's own line shape; on generated
    // histories it must agree with parsing each line on its own.
    void wholeFileReadingMatchesLineParsing()
    {
        QRandomGenerator random(7);
        const QList<QByteArray> pieces{"2025-03-01T09:00:00Z",
                                       "2025-03-01T09:00:42Z",
                                       "2025-03-01T10:30:00+01:30",
                                       "2025-03-01T09:00:00",
                                       "0",
                                       "-1",
                                       "+2",
                                       "2147483648",
                                       "000000000001",
                                       "1.5",
                                       "x",
                                       "\t",
                                       "\t",
                                       "\t",
                                       "\t",
                                       "\t\t",
                                       " ",
                                       "\r"};
        for (int round = 0; round < 200; ++round) {
            QByteArray text;
            QList<std::optional<TaskRunRecord>> expected;
            const int lines = int(random.bounded(1, 30));
            for (int l = 0; l < lines; ++l) {
                QByteArray line;
                if (random.bounded(2) == 0) {
                    line = "2025-03-01T09:00:00Z\t2025-03-01T09:00:42Z\t" +
                           pieces[random.bounded(4, 10)];
                } else {
                    const int count = int(random.bounded(0, 7));
                    for (int i = 0; i < count; ++i)
                        line += pieces[random.bounded(int(pieces.size()))];
                }
                text += line;
                if (l + 1 < lines || random.bounded(2) == 0)
                    text += '\n';
                expected.append(TaskRunRecord::parse(QString::fromUtf8(line)));
            }
            QList<TaskRunRecord> wanted;
            for (const auto& record : expected) {
                if (record)
                    wanted.append(*record);
            }
            const QList<TaskRunRecord> actual = RunHistory::parseHistory(text);
            QCOMPARE(actual.size(), wanted.size());
            for (int i = 0; i < actual.size(); ++i) {
                QCOMPARE(actual[i].startedAt, wanted[i].startedAt);
                QCOMPARE(actual[i].endedAt, wanted[i].endedAt);
                QCOMPARE(actual[i].exitCode, wanted[i].exitCode);
            }
        }
    }

    void historyWithoutTrailingLineFeed()
    {
        const auto records = RunHistory::parseHistory("2025-03-01T09:00:00Z\t0\n"
                                                      "2025-03-01T10:00:00Z\t1");
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[1].exitCode, 1);
    }

    void historyThatIsNotUtf8IsEmpty()
    {
        QVERIFY(RunHistory::parseHistory("2025-03-01T09:00:00Z\t0\n\xff\n").isEmpty());
        QVERIFY(RunHistory::parseHistory("").isEmpty());
        QVERIFY(RunHistory::parseHistory("junk\njunk\n").isEmpty());
    }

    void loadsHistoryFile()
    {
        const QString logDir = m_dir.filePath(QStringLiteral("Logs"));
        QCOMPARE(RunHistory::historyPath(logDir, QStringLiteral("3f2a9c1d")),
                 logDir + QStringLiteral("/3f2a9c1d.runs"));
        QCOMPARE(RunHistory::logPath(logDir, QStringLiteral("3f2a9c1d"), LogStream::stdoutStream),
                 logDir + QStringLiteral("/3f2a9c1d.stdout.log"));
        QCOMPARE(RunHistory::logPath(logDir, QStringLiteral("3f2a9c1d"), LogStream::stderrStream),
                 logDir + QStringLiteral("/3f2a9c1d.stderr.log"));

        QVERIFY(RunHistory::loadRunHistory(logDir, QStringLiteral("3f2a9c1d")).isEmpty());
        TestSupport::writeFile(RunHistory::historyPath(logDir, QStringLiteral("3f2a9c1d")), "");
        QVERIFY(RunHistory::loadRunHistory(logDir, QStringLiteral("3f2a9c1d")).isEmpty());
        TestSupport::writeFile(RunHistory::historyPath(logDir, QStringLiteral("3f2a9c1d")),
                               "2025-03-01T09:00:00Z\t2025-03-01T09:00:42Z\t0\n");
        const auto records = RunHistory::loadRunHistory(logDir, QStringLiteral("3f2a9c1d"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().durationSeconds(), qint64(42));
    }

    void readsLogTail_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("lastLines");
        QTest::addColumn<QString>("expected");

        QTest::newRow("fewer lines than asked")
            << QByteArray("one\ntwo\nthree") << 10 << QStringLiteral("one\ntwo\nthree");
        QTest::newRow("last two") << QByteArray("one\ntwo\nthree") << 2
                                  << QStringLiteral("two\nthree");
        // A final line feed ends the last line; it is not an empty line of its own.
        QTest::newRow("trailing line feed ends the last line")
            << QByteArray("one\ntwo\nthree\n") << 2 << QStringLiteral("two\nthree");
        QTest::newRow("one line of a log ending in a line feed")
            << QByteArray("one\ntwo\nthree\n") << 1 << QStringLiteral("three");
        QTest::newRow("exactly all with trailing line feed")
            << QByteArray("one\ntwo\n") << 3 << QStringLiteral("one\ntwo");
        QTest::newRow("trimmed at both ends") << QByteArray("  \n\t lead\nmid\ntail \r\n\n") << 5
                                              << QStringLiteral("lead\nmid\ntail");
        QTest::newRow("zero lines") << QByteArray("one\ntwo") << 0 << QString();
        QTest::newRow("empty file") << QByteArray() << 5 << QString();
        QTest::newRow("only line feeds") << QByteArray("\n\n\n") << 2 << QString();
        QTest::newRow("crlf") << QByteArray("a\r\nb\r\nc\r\n") << 2 << QStringLiteral("b\r\nc");
        QTest::newRow("multi-byte")
            << QByteArray("zürich\n東京\n🙂 done") << 2 << QStringLiteral("東京\n🙂 done");
        QTest::newRow("invalid utf-8 in tail")
            << QByteArray("ok\nbad \xc3\x28\n") << 5 << QString();
    }

    void readsLogTail()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, lastLines);
        QFETCH(QString, expected);
        const QString path = write(QStringLiteral("table.log"), content);
        QCOMPARE(RunHistory::readLogTail(path, lastLines), expected);
        QCOMPARE(LogTail::readTail(path, lastLines, 1), expected);
        QCOMPARE(naiveTail(content, lastLines), expected);
    }

    // `logs -n N` prints what `tail -n N` prints, byte for byte, on the awkward cases.
    void lastLinesAsTailPrintsThem_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("lastLines");
        const auto row = [](const char* name, const QByteArray& content, int lastLines) {
            QTest::newRow(name) << content << lastLines;
        };
        row("one line of a log ending in a line feed", "one\ntwo\nthree\n", 1);
        row("two lines, final line feed", "one\ntwo\nthree\n", 2);
        row("no final line feed", "one\ntwo\nthree", 1);
        row("no final line feed, two", "one\ntwo\nthree", 2);
        row("fewer lines than asked", "one\ntwo\n", 10);
        row("fewer lines than asked, no final line feed", "one\ntwo", 10);
        row("only line feeds, one", "\n\n\n", 1);
        row("only line feeds, two", "\n\n\n", 2);
        row("only line feeds, all", "\n\n\n", 5);
        row("empty file", "", 3);
        row("crlf", "a\r\nb\r\nc\r\n", 2);
        row("blank lines kept", "  lead\n\n\tmid\n\n", 3);
        row("a single line feed", "\n", 1);
        row("zero lines", "one\ntwo\n", 0);
        QByteArray fiveHundred;
        for (int i = 1; i <= 500; ++i)
            fiveHundred += "line " + QByteArray::number(i) + '\n';
        row("100 of 500", fiveHundred, 100);
    }

    void lastLinesAsTailPrintsThem()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, lastLines);
        const QString path = write(QStringLiteral("tail.log"), content);
        const ProcessResult tail = TestSupport::run(
            QStringLiteral("tail"), {QStringLiteral("-n"), QString::number(lastLines), path},
            QProcessEnvironment::systemEnvironment());
        QCOMPARE(tail.exitCode, 0);
        for (qint64 block : {qint64(1), qint64(3), LogTail::defaultBlockSize})
            QCOMPARE(LogTail::readLastLines(path, lastLines, block).toUtf8(), tail.out);
    }

    void missingLogIsEmpty()
    {
        QCOMPARE(RunHistory::readLogTail(m_dir.filePath(QStringLiteral("none.log")), 100),
                 QString());
        QCOMPARE(RunHistory::readLogTail(m_dir.path(), 100), QString()); // a folder
    }

    // Only regular files are read: a FIFO named like a log or history would block the reader
    // until some writer came, a link to a device would never end.
    void specialFilesReadAsEmpty_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("fifo") << QStringLiteral("fifo");
        QTest::newRow("link to /dev/zero") << QStringLiteral("zero");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("dangling link") << QStringLiteral("dangling");
    }

    void specialFilesReadAsEmpty()
    {
        QFETCH(QString, kind);
        const QString path = m_dir.filePath(QStringLiteral("special-") + kind);
        const QByteArray native = QFile::encodeName(path);
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        else if (kind == QLatin1String("zero"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(path));
        else
            QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("nowhere")), path));
        // Both return at once (a blocked open would hang the test until its timeout).
        QCOMPARE(LogTail::readTail(path, 100), QString());
        QCOMPARE(RunHistory::loadHistoryFile(path).size(), 0);
    }

    // However long a line, no more than the window is read; an overlong line keeps its end
    // after a marker that says how many bytes were left out.
    void overlongLinesAreCut_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("window");
        QTest::addColumn<QString>("expected");
        const qint64 max = LogTail::maxLineBytes;
        const QByteArray longLine = QByteArray(max, 'a') + QByteArray(10, 'b');
        QTest::newRow("line longer than the limit")
            << QByteArray("first\n" + longLine + "\nlast\n") << LogTail::defaultWindow
            << QStringLiteral("first\n") + LogTail::lineCutMarker(10) + QLatin1Char('\n') +
                   QString(max - 10, QLatin1Char('a')) + QStringLiteral("bbbbbbbbbb\nlast");
        QTest::newRow("line at the limit is whole")
            << QByteArray("x\n" + QByteArray(max, 'c')) << LogTail::defaultWindow
            << QStringLiteral("x\n") + QString(max, QLatin1Char('c'));
        QTest::newRow("line running past the window")
            << QByteArray("start\n0123456789abcdef\nend") << qint64(12)
            << LogTail::lineCutMarker(8) + QStringLiteral("\n89abcdef\nend");
        QTest::newRow("window starting on a line")
            << QByteArray("start\nabcdef\nend") << qint64(10) << QStringLiteral("abcdef\nend");
        // The cut never splits a character.
        QTest::newRow("window inside a character")
            << QByteArray("\xc3\xbc\xc3\xbc\xc3\xbc!") << qint64(6)
            << LogTail::lineCutMarker(2) + QStringLiteral("\n\u00fc\u00fc!");
    }

    void overlongLinesAreCut()
    {
        QFETCH(QByteArray, content);
        QFETCH(qint64, window);
        QFETCH(QString, expected);
        const QString path = write(QStringLiteral("long.log"), content);
        for (qint64 block : {qint64(3), LogTail::defaultBlockSize})
            QCOMPARE(LogTail::readTail(path, 100, block, window), expected);
    }

    // A 64 MiB log without a single line feed (a file of zeros, say): the text shown is bounded
    // however large the file, and the marker counts what was left out.
    void hugeLineIsBounded()
    {
        const QString path = m_dir.filePath(QStringLiteral("huge.log"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const qint64 size = qint64(64) << 20;
        QVERIFY(file.resize(size)); // sparse: costs no disk
        file.close();
        const QString tail = LogTail::readTail(path, 10000);
        const QString marker = LogTail::lineCutMarker(size - LogTail::maxLineBytes);
        QCOMPARE(tail.left(marker.size()), marker);
        QCOMPARE(tail.size(), marker.size() + 1 + LogTail::maxLineBytes);
    }

    // Readings of a history that changes between them give what a fresh reading gives, while
    // the parsed lines of a file that only grew are kept.
    void historyCacheFollowsTheFile_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QByteArray>("after");
        const QByteArray one = "2025-03-01T09:00:00Z\t2025-03-01T09:00:42Z\t0\n";
        const QByteArray two = "2025-03-02T09:00:00Z\t2025-03-02T09:00:07Z\t3\n";
        const QByteArray three = "2025-03-03T09:00:00Z\t1\n";
        QTest::newRow("line appended") << one << QStringLiteral("append") << two;
        QTest::newRow("unended line completed")
            << QByteArray(one + two.left(30)) << QStringLiteral("append") << two.mid(30) + three;
        QTest::newRow("unended line stays a record")
            << one << QStringLiteral("append") << QByteArray("2025-03-05T09:00:00Z\t9");
        QTest::newRow("rewritten in place, same size")
            << QByteArray(one + two) << QStringLiteral("rewrite") << QByteArray(two + one);
        QTest::newRow("rewritten in place, longer, same last line")
            << QByteArray(one + two) << QStringLiteral("rewrite") << QByteArray(three + one + two);
        QTest::newRow("truncated") << QByteArray(one + two) << QStringLiteral("rewrite") << one;
        QTest::newRow("replaced by another file")
            << QByteArray(one + two) << QStringLiteral("replace") << QByteArray(one + two + three);
        QTest::newRow("invalid bytes appended")
            << one << QStringLiteral("append") << QByteArray("\xff\n");
        QTest::newRow("garbage appended") << one << QStringLiteral("append") << QByteArray("x\n\n");
    }

    void historyCacheFollowsTheFile()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, change);
        QFETCH(QByteArray, after);
        const QString path = write(QStringLiteral("cached.runs"), before);
        const QList<TaskRunRecord> first = RunHistory::loadHistoryFile(path);
        QCOMPARE(first.size(), RunHistory::parseHistory(before).size());
        QCOMPARE(RunHistory::loadHistoryFile(path).constData(), first.constData()); // not re-read

        QByteArray now = after;
        if (change == QLatin1String("append")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append));
            file.write(after);
            now = before + after;
        } else if (change == QLatin1String("rewrite")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
            file.write(after);
        } else {
            write(QStringLiteral("next.runs"), after);
            QVERIFY(::rename(QFile::encodeName(m_dir.filePath(QStringLiteral("next.runs"))),
                             QFile::encodeName(path)) == 0);
        }
        // Rewritten within the same clock tick: the size or inode still tells.
        const QList<TaskRunRecord> expected = RunHistory::parseHistory(now);
        const QList<TaskRunRecord> actual = RunHistory::loadHistoryFile(path);
        QCOMPARE(actual.size(), expected.size());
        for (qsizetype i = 0; i < actual.size(); ++i) {
            QCOMPARE(actual[i].startedAt, expected[i].startedAt);
            QCOMPARE(actual[i].endedAt, expected[i].endedAt);
            QCOMPARE(actual[i].exitCode, expected[i].exitCode);
        }
        if (change == QLatin1String("append") && now.isValidUtf8()) {
            for (qsizetype i = 0; i + 1 < first.size(); ++i)
                QCOMPARE(actual[i].id, first[i].id); // kept, not parsed again
        }
    }

    // Readers on several threads at once, while the file grows, all get whole results.
    void historyCacheFromThreads()
    {
        const QByteArray line = "2025-03-01T09:00:00Z\t2025-03-01T09:00:42Z\t0\n";
        const QString path = write(QStringLiteral("threads.runs"), line);
        std::atomic<bool> wrong = false;
        std::vector<std::thread> readers;
        for (int t = 0; t < 4; ++t) {
            readers.emplace_back([&] {
                qsizetype seen = 0;
                for (int i = 0; i < 300; ++i) {
                    const qsizetype n = RunHistory::loadHistoryFile(path).size();
                    if (n < seen || n == 0)
                        wrong = true;
                    seen = n;
                }
            });
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append | QIODevice::Unbuffered));
        for (int i = 0; i < 200; ++i)
            file.write(line);
        for (std::thread& reader : readers)
            reader.join();
        QVERIFY(!wrong);
        QCOMPARE(RunHistory::loadHistoryFile(path).size(), 201);
    }

    // Invalid bytes above the tail are not read at all, so they do not hide it (a whole-file
    // read would return nothing); invalid bytes inside the tail still give nothing.
    void onlyTheTailIsValidated()
    {
        const QString path = write(QStringLiteral("mixed.log"), "\xff\xfe old\nfine\nlast\n");
        QCOMPARE(LogTail::readTail(path, 2, 4), QStringLiteral("fine\nlast"));
        QCOMPARE(LogTail::readTail(path, 3, 4), QString());
    }

    // Compares the backwards block reader with the whole-file algorithm on generated logs,
    // with block sizes small enough to cut lines and multi-byte characters anywhere.
    void tailMatchesWholeFileReading()
    {
        QRandomGenerator random(20250301);
        const QList<QByteArray> atoms{
            "a",  "xyz",  " ",      "\t",   "\n",   "\n",     "\r\n",         "ü",
            "東", "🙂", "\u00a0", "\n\n", "line", "\u2028", "\xe2\x80\x83", "0"};
        const QString path = m_dir.filePath(QStringLiteral("generated.log"));
        int compared = 0;
        for (int round = 0; round < 400; ++round) {
            QByteArray text;
            const int length = int(random.bounded(0, 120));
            for (int i = 0; i < length; ++i)
                text += atoms[random.bounded(int(atoms.size()))];
            if (round % 2 == 0 && !text.endsWith('\n'))
                text += '\n';
            TestSupport::writeFile(path, text);
            for (int lastLines : {0, 1, 2, 3, 5, 17, 1000}) {
                for (qint64 blockSize : {1, 2, 3, 7, 64, 65536}) {
                    const QString expected = naiveTail(text, lastLines);
                    const QString actual = LogTail::readTail(path, lastLines, blockSize);
                    if (actual != expected) {
                        qWarning()
                            << "text" << text << "lines" << lastLines << "block" << blockSize;
                        QCOMPARE(actual, expected);
                    }
                    ++compared;
                }
            }
        }
        QCOMPARE(compared, 400 * 7 * 6);
    }
};

QTEST_GUILESS_MAIN(TestRunHistory)
#include "TestRunHistory.moc"
