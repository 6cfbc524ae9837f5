#include "LogTail.h"
#include "RunHistory.h"
#include "TestSupport.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <thread>

// The tail a reader of the whole file gets: split at line feeds, keep the last N pieces, join
// them with line feeds, trim both ends; a file that is not UTF-8 gives nothing.
static QString naiveTail(const QByteArray& bytes, int lastLines)
{
    if (!bytes.isValidUtf8())
        return {};
    const QStringList pieces = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
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
        // The empty piece after a final line feed is one of the kept lines.
        QTest::newRow("trailing line feed counts")
            << QByteArray("one\ntwo\nthree\n") << 2 << QStringLiteral("three");
        QTest::newRow("exactly all with trailing line feed")
            << QByteArray("one\ntwo\n") << 3 << QStringLiteral("one\ntwo");
        QTest::newRow("trimmed at both ends") << QByteArray("  \n\t lead\nmid\ntail \r\n\n") << 5
                                              << QStringLiteral("lead\nmid\ntail");
        QTest::newRow("zero lines") << QByteArray("one\ntwo") << 0 << QString();
        QTest::newRow("empty file") << QByteArray() << 5 << QString();
        QTest::newRow("only line feeds") << QByteArray("\n\n\n") << 2 << QString();
        QTest::newRow("crlf") << QByteArray("a\r\nb\r\nc\r\n") << 2 << QStringLiteral("c");
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

    void missingLogIsEmpty()
    {
        QCOMPARE(RunHistory::readLogTail(m_dir.filePath(QStringLiteral("none.log")), 100),
                 QString());
        QCOMPARE(RunHistory::readLogTail(m_dir.path(), 100), QString()); // a folder
    }

    // A pipe has no end to read back from; its tail is cut from everything written to it.
    void readsTailOfPipe()
    {
        const QString path = m_dir.filePath(QStringLiteral("pipe.log"));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        std::thread writer([path] {
            QFile pipe(path);
            if (pipe.open(QIODevice::WriteOnly))
                pipe.write("one\ntwo\nthree\nfour\n");
        });
        const QString tail = LogTail::readTail(path, 3, 2);
        writer.join();
        QCOMPARE(tail, QStringLiteral("three\nfour"));
    }

    // Invalid bytes above the tail are not read at all, so they do not hide it (a whole-file
    // read would return nothing); invalid bytes inside the tail still give nothing.
    void onlyTheTailIsValidated()
    {
        const QString path = write(QStringLiteral("mixed.log"), "\xff\xfe old\nfine\nlast\n");
        QCOMPARE(LogTail::readTail(path, 3, 4), QStringLiteral("fine\nlast"));
        QCOMPARE(LogTail::readTail(path, 4, 4), QString());
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
