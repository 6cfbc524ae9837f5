// Mistakes found before a task's first scheduled run, each with its sentence.
#include "Preflight.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(TaskSchedule)

namespace {
void writeFile(const QString& path, const QByteArray& bytes, bool executable)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

TaskSchedule dailyAt(int hour, int minute)
{
    return TaskSchedule::of<TaskSchedule::Daily>({{TimeOfDay{hour, minute}}});
}
} // namespace

class TestPreflight : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString root() const { return m_dir.path(); }
    QString expand(QString text) const { return text.replace(QStringLiteral("<root>"), root()); }

private Q_SLOTS:
    void initTestCase()
    {
        writeFile(root() + QStringLiteral("/userbin/mytool"), "#!/bin/sh\n", true);
        writeFile(root() + QStringLiteral("/home/run-home.sh"), "#!/bin/sh\n", true);
        writeFile(root() + QStringLiteral("/work/run.sh"), "#!/bin/sh\n", true);
        writeFile(root() + QStringLiteral("/work/notexec.sh"), "#!/bin/sh\n", false);
        writeFile(root() + QStringLiteral("/My Tools/tool"), "#!/bin/sh\n", true);
        writeFile(root() + QStringLiteral("/plain-file"), "x", false);
        writeFile(root() + QStringLiteral("/good.env"),
                  "A=1\n# comment\n\nexport B=\"two words\"\n  C_3=x=y  \n", false);
        writeFile(root() + QStringLiteral("/bad.env"),
                  "A=1\nnot an assignment\nB = 2\n1X=3\n=4\nexport=5\n", false);
    }

    void check_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("loginShell");
        QTest::addColumn<QString>("workingDirectory");
        QTest::addColumn<QString>("envFile");
        QTest::addColumn<TaskSchedule>("schedule");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QStringList>("findings");

        const QDateTime winter(QDate(2026, 1, 14), QTime(12, 0), Qt::UTC);
        const TaskSchedule every5 = TaskSchedule::of<TaskSchedule::Interval>({5});
        const QString berlin = QStringLiteral("Europe/Berlin");
        const auto row = [&](const char* name, const QString& command, bool login,
                             QStringList findings) {
            QTest::newRow(name) << command << login << QString() << QString() << every5 << winter
                                << berlin << findings;
        };
        const QString notOnPath = QStringLiteral(
            "`mytool` is not on the scheduled PATH; use <root>/userbin/mytool or turn on 'Use "
            "login shell'");

        row("on the scheduled PATH", "ls -la", false, {});
        row("only on the user's PATH", "mytool --all", false, {notOnPath});
        row("user's PATH counts with the login shell", "mytool --all", true, {});
        row("nowhere", "nosuchtool-4711 x", true,
            {"`nosuchtool-4711` was not found on the scheduled PATH nor on yours; use its full "
             "path"});
        row("assignments before the program", "FOO=1 BAR='a b' mytool", false, {notOnPath});
        row("exec and time run the next word", "exec time mytool", false, {notOnPath});
        row("builtin first", "cd /tmp && mytool", false, {});
        row("keyword first", "if true; then mytool; fi", false, {});
        row("source", "source ~/.profile; mytool", false, {});
        row("expansion cannot be judged", "$HOME/bin/x --y", false, {});
        row("quoted expansion cannot be judged", "\"${TOOLS}/x\"", false, {});
        row("comment only", "# nothing yet", false, {});
        row("operator right after the word", "mytool|wc -l", false, {notOnPath});
        row("quoted absolute path with a space", "'<root>/My Tools/tool' --go", false, {});
        row("missing absolute path", "/nonexistent/bin/x", false,
            {"`/nonexistent/bin/x` does not exist (looked for /nonexistent/bin/x); correct the "
             "path"});
        row("folder as program", "<root>/userbin", false,
            {"`<root>/userbin` is not an executable file; make it executable with chmod +x "
             "<root>/userbin"});
        row("home-relative path", "~/run-home.sh", false, {});
        row("relative path resolves from the home folder", "../work/run.sh", false, {});
        row("relative path missing from home", "./run.sh", false,
            {"`./run.sh` does not exist (looked for <root>/home/./run.sh); correct the path"});

        QTest::newRow("relative path from the working directory")
            << "./run.sh" << false << "<root>/work" << QString() << every5 << winter << berlin
            << QStringList{};
        QTest::newRow("script without execute bit")
            << "./notexec.sh" << false << "<root>/work" << QString() << every5 << winter << berlin
            << QStringList{"`./notexec.sh` is not an executable file; make it executable with "
                           "chmod +x <root>/work/./notexec.sh"};
        QTest::newRow("working directory missing")
            << "ls" << false << "<root>/gone" << QString() << every5 << winter << berlin
            << QStringList{"The working directory <root>/gone does not exist; create it or "
                           "choose another"};
        QTest::newRow("working directory is a file")
            << "ls" << false << "<root>/plain-file" << QString() << every5 << winter << berlin
            << QStringList{
                   "The working directory <root>/plain-file is not a folder; choose a folder"};
        QTest::newRow("good env file") << "ls" << false << QString() << "<root>/good.env" << every5
                                       << winter << berlin << QStringList{};
        QTest::newRow("env file missing")
            << "ls" << false << QString() << "<root>/none.env" << every5 << winter << berlin
            << QStringList{"The .env file <root>/none.env does not exist; create it or clear the "
                           "field"};
        QTest::newRow("env file lines")
            << "ls" << false << QString() << "<root>/bad.env" << every5 << winter << berlin
            << QStringList{
                   "Line 2 of the .env file <root>/bad.env is not NAME=value; correct or remove it",
                   "Line 3 of the .env file <root>/bad.env is not NAME=value; correct or remove it",
                   "Line 4 of the .env file <root>/bad.env is not NAME=value; correct or remove it",
                   "Line 5 of the .env file <root>/bad.env is not NAME=value; correct or remove "
                   "it"};

        // Clock changes: Berlin skips 02:00-03:00 on 2026-03-29 and repeats 02:00-03:00 on
        // 2026-10-25; New York skips 02:00-03:00 on 2026-03-08.
        const auto clocks = [&](const char* name, TaskSchedule schedule, QDateTime now,
                                const QString& zone, QStringList findings) {
            QTest::newRow(name) << "ls" << false << QString() << QString() << schedule << now
                                << zone << findings;
        };
        const QDateTime springDay(QDate(2026, 3, 29), QTime(9, 0), Qt::UTC);
        const QDateTime dayBefore(QDate(2026, 3, 28), QTime(9, 0), Qt::UTC);
        const QDateTime autumnDay(QDate(2026, 10, 25), QTime(0, 30), Qt::UTC);
        const QString skipped = QStringLiteral(
            "The clocks skip 02:30 on 2026-03-29, so that run happens at 03:00 instead; "
            "choose a time outside the clock change");
        clocks("daily time in the gap", dailyAt(2, 30), springDay, berlin, {skipped});
        clocks("warned the day before", dailyAt(2, 30), dayBefore, berlin, {skipped});
        clocks("gap start is skipped", dailyAt(2, 0), springDay, berlin,
               {"The clocks skip 02:00 on 2026-03-29, so that run happens at 03:00 instead; "
                "choose a time outside the clock change"});
        clocks("gap end exists", dailyAt(3, 0), springDay, berlin, {});
        clocks("before the gap", dailyAt(1, 59), springDay, berlin, {});
        clocks("repeated hour", dailyAt(2, 30), autumnDay, berlin,
               {"The clocks pass 02:30 on 2026-10-25 twice and the task runs only the first time; "
                "choose a time outside the clock change to keep its runs a day apart"});
        clocks("after the repeated hour", dailyAt(3, 0), autumnDay, berlin, {});
        clocks("only times of the day are checked",
               TaskSchedule::of<TaskSchedule::Daily>({{TimeOfDay{9, 0}, TimeOfDay{2, 15}}}),
               springDay, berlin,
               {"The clocks skip 02:15 on 2026-03-29, so that run happens at 03:00 instead; "
                "choose a time outside the clock change"});
        clocks("weekly on the day (Sunday)",
               TaskSchedule::of<TaskSchedule::Weekly>({{1}, {TimeOfDay{2, 30}}}), springDay, berlin,
               {skipped});
        clocks("weekly on another day",
               TaskSchedule::of<TaskSchedule::Weekly>({{2, 3}, {TimeOfDay{2, 30}}}), springDay,
               berlin, {});
        clocks("monthly on another day",
               TaskSchedule::of<TaskSchedule::Monthly>({1, {TimeOfDay{2, 30}}}), springDay, berlin,
               {});
        clocks("last Sunday as nth weekday does not match the 4th block",
               TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({4, 1, {TimeOfDay{2, 30}}}),
               springDay, berlin, {});
        clocks("other zone, other date", dailyAt(2, 30),
               QDateTime(QDate(2026, 3, 8), QTime(12, 0), Qt::UTC),
               QStringLiteral("America/New_York"),
               {"The clocks skip 02:30 on 2026-03-08, so that run happens at 03:00 instead; "
                "choose a time outside the clock change"});
        clocks("zone without clock changes", dailyAt(2, 30), springDay, QStringLiteral("UTC"), {});
        clocks("ordinary day", dailyAt(2, 30), winter, berlin, {});
    }
    void check()
    {
        QFETCH(QString, command);
        QFETCH(bool, loginShell);
        QFETCH(QString, workingDirectory);
        QFETCH(QString, envFile);
        QFETCH(TaskSchedule, schedule);
        QFETCH(QDateTime, now);
        QFETCH(QString, zone);
        QFETCH(QStringList, findings);

        ScheduledTask task = ScheduledTask::create(QStringLiteral("T"), expand(command), schedule);
        task.useLoginShell = loginShell;
        if (!workingDirectory.isEmpty())
            task.workingDirectory = expand(workingDirectory);
        if (!envFile.isEmpty())
            task.envFilePath = expand(envFile);
        const Preflight::Environment environment{root() + QStringLiteral("/userbin:/usr/bin"),
                                                 root() + QStringLiteral("/home"), now,
                                                 QTimeZone(zone.toUtf8())};
        QVERIFY(environment.timeZone.isValid());
        for (QString& finding : findings)
            finding = expand(finding);
        QCOMPARE(Preflight::check(task, environment), findings);
    }

    void unreadableEnvFile()
    {
        if (::geteuid() == 0)
            QSKIP("root reads every file");
        const QString path = root() + QStringLiteral("/secret.env");
        writeFile(path, "A=1\n", false);
        QFile::setPermissions(path, QFileDevice::WriteOwner);
        ScheduledTask task = ScheduledTask::create(QStringLiteral("T"), QStringLiteral("ls"),
                                                   TaskSchedule::of<TaskSchedule::Interval>({5}));
        task.envFilePath = path;
        QCOMPARE(Preflight::check(task),
                 QStringList{QStringLiteral("The .env file %1 cannot be read; check its "
                                            "permissions")
                                 .arg(path)});
    }

    void envFileNeverBlocksNorOverflows_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("finding"); // <path> stands for the file
        QTest::newRow("a device that never ends")
            << "/dev/zero"
            << "The .env file <path> is not a regular file; choose a file";
        QTest::newRow("a FIFO nobody writes")
            << "fifo"
            << "The .env file <path> is not a regular file; choose a file";
        QTest::newRow("a file past the bound")
            << "large"
            << "The .env file <path> is larger than 1 MB; no list of variables is "
               "that long";
        QTest::newRow("a link to a device") << "link"
                                            << "The .env file <path> is not a regular "
                                               "file; choose a file";
    }

    // The check runs as the user types: it never waits on a FIFO and never reads a device.
    void envFileNeverBlocksNorOverflows()
    {
        QFETCH(QString, kind);
        QFETCH(QString, finding);
        QString path = root() + QStringLiteral("/odd.env");
        QFile::remove(path);
        if (kind == QStringLiteral("/dev/zero")) {
            path = kind;
        } else if (kind == QStringLiteral("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == QStringLiteral("link")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        } else {
            QFile large(path);
            QVERIFY(large.open(QIODevice::WriteOnly));
            QVERIFY(large.resize(2 * 1000 * 1000)); // sparse: no disk used
        }
        ScheduledTask task = ScheduledTask::create(QStringLiteral("T"), QStringLiteral("ls"),
                                                   TaskSchedule::of<TaskSchedule::Interval>({5}));
        task.envFilePath = path;
        QStringList findings;
        std::unique_ptr<QThread> checking(
            QThread::create([&findings, task] { findings = Preflight::check(task); }));
        checking->start();
        if (!checking->wait(20000)) {
            // Give the blocked reader its writer, so the test can end and report.
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
            checking->wait();
            QFAIL("the check blocked on the .env file");
        }
        QCOMPARE(findings, QStringList{finding.replace(QStringLiteral("<path>"), path)});
        QFile::remove(root() + QStringLiteral("/odd.env"));
    }
};

QTEST_GUILESS_MAIN(TestPreflight)
#include "TestPreflight.moc"
