#include "RootProgram.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

ProcessResult osascript(const QStringList& args)
{
    return TestSupport::run(TestSupport::compatPath(u"osascript"_s), args,
                            QProcessEnvironment::systemEnvironment());
}

QByteArray executionError(const QString& source, const QByteArray& message, int code)
{
    return "0:" + QByteArray::number(source.size()) + ": execution error: " + message + " (" +
           QByteArray::number(code) + ")\n";
}

} // namespace

class TestOsascriptTool : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void runsStatement_data();
    void runsStatement();
    void reportsSyntaxErrors_data();
    void reportsSyntaxErrors();
    void rejectsOtherArguments_data();
    void rejectsOtherArguments();
    void putsStandInsFirstOnPath();
    void asksPkexecWhenNotRoot_data();
    void asksPkexecWhenNotRoot();
    void elevatedCommandGetsFixedEnvironment_data();
    void elevatedCommandGetsFixedEnvironment();
    void refusesProgramUserCanChange_data();
    void refusesProgramUserCanChange();
    void programsOfCommand_data();
    void programsOfCommand();
};

void TestOsascriptTool::runsStatement_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    QTest::newRow("output printed, trailing line feeds trimmed")
        << u"do shell script \"printf '\\\\n\\\\none\\\\ntwo\\\\n\\\\n'\""_s << 0
        << QByteArray("\n\none\ntwo\n") << QByteArray();
    QTest::newRow("no output prints nothing")
        << u"do shell script \"true\""_s << 0 << QByteArray() << QByteArray();
    QTest::newRow("escaped quotes and backslashes")
        << u"do shell script \"printf '%s' \\\"a\\\\\\\\b\\\"\""_s << 0 << QByteArray("a\\b\n")
        << QByteArray();
    QTest::newRow("AppleScript escapes for tab and line feed")
        << u"do shell script \"printf 'x\\ty\\nz'\""_s << 0 << QByteArray("x\ty\nz\n")
        << QByteArray();
    QTest::newRow("keywords in any case, extra white space")
        << u"  DO  Shell\tscript \"echo ok\"   WITH administrator  Privileges \n"_s << 0
        << QByteArray("ok\n") << QByteArray();
    QTest::newRow("command's error text and status")
        << u"do shell script \"echo 'pmset: bad date' >&2; exit 4\" with administrator privileges"_s
        << 1 << QByteArray()
        << executionError(u"do shell script \"echo 'pmset: bad date' >&2; exit 4\" with "
                          "administrator privileges"_s,
                          "pmset: bad date", 4);
    QTest::newRow("failure without error text")
        << u"do shell script \"echo some output; exit 2\""_s << 1 << QByteArray()
        << executionError(u"do shell script \"echo some output; exit 2\""_s,
                          "The command exited with a non-zero status.", 2);
    QTest::newRow("no standard input")
        << u"do shell script \"cat\""_s << 0 << QByteArray() << QByteArray();
}

void TestOsascriptTool::runsStatement()
{
    QFETCH(QString, source);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    if (geteuid() != 0 && source.contains(u"privileges"_s, Qt::CaseInsensitive))
        QSKIP("would ask for a password through pkexec");

    const ProcessResult result = osascript({u"-e"_s, source});
    QCOMPARE(result.errText(), QString::fromUtf8(err));
    QCOMPARE(result.out, out);
    QCOMPARE(result.exitCode, status);
}

void TestOsascriptTool::reportsSyntaxErrors_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("err");

    QTest::newRow("another statement")
        << u"display dialog \"hi\""_s
        << u"0:19: syntax error: Only a “do shell script” statement can run here. (-2740)"_s;
    QTest::newRow("empty script")
        << QString()
        << u"0:0: syntax error: Only a “do shell script” statement can run here. (-2740)"_s;
    QTest::newRow("misspelt keyword")
        << u"do shel script \"x\""_s
        << u"3:7: syntax error: Expected “shell” but found identifier. (-2741)"_s;
    QTest::newRow("no string")
        << u"do shell script"_s
        << u"15:15: syntax error: Expected string but found end of script. (-2741)"_s;
    QTest::newRow("a variable instead of a string")
        << u"do shell script cmd"_s
        << u"16:19: syntax error: Expected string but found identifier. (-2741)"_s;
    QTest::newRow("unterminated string")
        << u"do shell script \"abc"_s
        << u"16:20: syntax error: Expected “\"” but found end of script. (-2741)"_s;
    QTest::newRow("unknown escape")
        << u"do shell script \"a\\qb\""_s
        << u"18:20: syntax error: Expected “\"” but found unknown token. (-2741)"_s;
    QTest::newRow("incomplete privileges clause")
        << u"do shell script \"x\" with admin"_s
        << u"25:30: syntax error: Expected “administrator” but found identifier. (-2741)"_s;
    QTest::newRow("other parameters")
        << u"do shell script \"x\" without altering line endings"_s
        << u"20:27: syntax error: Expected end of line but found identifier. (-2741)"_s;
    QTest::newRow("a second statement")
        << u"do shell script \"x\"\ndo shell script \"y\""_s
        << u"20:22: syntax error: Expected end of line but found identifier. (-2741)"_s;
    QTest::newRow("trailing punctuation")
        << u"do shell script \"x\";"_s
        << u"19:20: syntax error: Expected end of line but found unknown token. (-2741)"_s;
}

void TestOsascriptTool::reportsSyntaxErrors()
{
    QFETCH(QString, source);
    QFETCH(QString, err);
    const ProcessResult result = osascript({u"-e"_s, source});
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.out.isEmpty());
    QCOMPARE(result.errText(), err + u'\n');

    // Nothing of a script that does not compile runs.
    QTemporaryDir dir;
    const QString out = dir.filePath(u"out"_s);
    QVERIFY(QDir().mkpath(out));
    QVERIFY(QFile::setPermissions(out, QFileDevice::ReadOther | QFileDevice::WriteOther |
                                           QFileDevice::ExeOther | QFileDevice::ReadOwner |
                                           QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    const QString marker = out + u"/ran"_s;
    source.replace(u"\"x\""_s, u"\"touch '"_s + marker + u"'\""_s);
    QCOMPARE(osascript({u"-e"_s, source}).exitCode, 1);
    QVERIFY(!QFile::exists(marker));
}

void TestOsascriptTool::rejectsOtherArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("none") << QStringList();
    QTest::newRow("-e without a script") << QStringList{u"-e"_s};
    QTest::newRow("a script file") << QStringList{u"script.scpt"_s};
    QTest::newRow("two -e lines") << QStringList{u"-e"_s, u"do shell script \"true\""_s, u"-e"_s,
                                                 u"do shell script \"true\""_s};
    QTest::newRow("another language") << QStringList{u"-l"_s, u"JavaScript"_s, u"-e"_s, u"1"_s};
}

void TestOsascriptTool::rejectsOtherArguments()
{
    QFETCH(QStringList, args);
    const ProcessResult result = osascript(args);
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.out.isEmpty());
    QCOMPARE(result.err,
             TestSupport::readFile(TestSupport::dataPath(u"wake/osascript-usage.txt"_s)));
}

void TestOsascriptTool::putsStandInsFirstOnPath()
{
    const ProcessResult result = osascript({u"-e"_s, u"do shell script \"command -v pmset\""_s});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.outText(), TestSupport::compatPath(u"pmset"_s) + u'\n');
}

void TestOsascriptTool::asksPkexecWhenNotRoot_data()
{
    QTest::addColumn<QByteArray>("pkexec"); // the fake pkexec's script
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("privileged");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("errorMessage"); // between "execution error: " and the code
    QTest::addColumn<int>("code");

    const QByteArray grant = "#!/bin/sh\nexec \"$@\"\n";
    const QByteArray dismissed = "#!/bin/sh\nexit 126\n";
    const QByteArray refused =
        "#!/bin/sh\necho 'Error executing command as another user: Not authorized' >&2\nexit 127\n";
    QTest::newRow("granted") << grant << u"echo done"_s << true << 0 << u"done\n"_s << QString()
                             << 0;
    // Root finds no stand-in by name: callers name it by its absolute path.
    QTest::newRow("granted, stand-ins not on root's path")
        << grant << u"command -v pmset"_s << true << 1 << QString()
        << u"The command exited with a non-zero status."_s << 127;
    QTest::newRow("granted, the command's own 127 is not a refusal")
        << grant << u"echo 'no-such-tool: not found' >&2; exit 127"_s << true << 1 << QString()
        << u"no-such-tool: not found"_s << 127;
    QTest::newRow("dialog dismissed")
        << dismissed << u"echo done"_s << true << 1 << QString() << u"User canceled."_s << -128;
    QTest::newRow("not authorized")
        << refused << u"echo done"_s << true << 1 << QString() << u"User canceled."_s << -128;
    QTest::newRow("without privileges pkexec is not asked")
        << dismissed << u"echo done"_s << false << 0 << u"done\n"_s << QString() << 0;
}

void TestOsascriptTool::asksPkexecWhenNotRoot()
{
    QFETCH(QByteArray, pkexec);
    QFETCH(QString, command);
    QFETCH(bool, privileged);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, errorMessage);
    QFETCH(int, code);
    if (geteuid() != 0 || !QFile::exists(u"/usr/bin/setpriv"_s))
        QSKIP("needs root to run the stand-in as another user");

    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFileDevice::ExeOther |
                                          QFileDevice::ReadOther);
    const QString fakePkexec = dir.filePath(u"pkexec"_s);
    TestSupport::writeScript(fakePkexec, pkexec);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"BRENMOR_OPS_PKEXEC"_s, fakePkexec);

    QString source = u"do shell script \""_s + command.replace(u'"', u"\\\""_s) + u'"';
    if (privileged)
        source += u" with administrator privileges"_s;
    const ProcessResult result =
        TestSupport::run(u"/usr/bin/setpriv"_s,
                         {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s,
                          TestSupport::compatPath(u"osascript"_s), u"-e"_s, source},
                         environment, 60000, dir.path());
    QCOMPARE(result.outText(), out);
    if (errorMessage.isEmpty())
        QCOMPARE(result.errText(), QString());
    else
        QCOMPARE(result.err, executionError(source, errorMessage.toUtf8(), code));
    QCOMPARE(result.exitCode, status);
}

void TestOsascriptTool::elevatedCommandGetsFixedEnvironment_data()
{
    QTest::addColumn<bool>("privileged");
    QTest::addColumn<bool>("throughPkexec"); // else the caller is root already
    QTest::newRow("root caller") << true << false;
    QTest::newRow("through pkexec") << true << true;
    QTest::newRow("without privileges the caller's own") << false << false;
}

// A folder the user can write, first on their PATH, must not supply the `ln` that runs as
// root, and none of the caller's variables reach the elevated command.
void TestOsascriptTool::elevatedCommandGetsFixedEnvironment()
{
    QFETCH(bool, privileged);
    QFETCH(bool, throughPkexec);
    if (geteuid() != 0 || !QFile::exists(u"/usr/bin/setpriv"_s))
        QSKIP("needs root to run the stand-in as root and as another user");

    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFileDevice::ExeOther |
                                          QFileDevice::ReadOther);
    const QString planted = dir.filePath(u"ln"_s);
    TestSupport::writeScript(planted, "#!/bin/sh\necho planted\n");
    const QString fakePkexec = dir.filePath(u"pkexec"_s);
    TestSupport::writeScript(fakePkexec, "#!/bin/sh\nexec \"$@\"\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"PATH"_s, dir.path() + u':' + environment.value(u"PATH"_s));
    environment.insert(u"BRENMOR_CALLER_MARK"_s, u"from the caller"_s);
    environment.insert(u"BRENMOR_OPS_PKEXEC"_s, fakePkexec);

    QString source = u"do shell script \"command -v ln; echo \\\"${BRENMOR_CALLER_MARK-none}\\\"; "
                     u"echo \\\"$PATH\\\"\""_s;
    if (privileged)
        source += u" with administrator privileges"_s;
    QStringList arguments{TestSupport::compatPath(u"osascript"_s), u"-e"_s, source};
    QString program = arguments.takeFirst();
    if (throughPkexec) {
        arguments =
            QStringList{u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, program} +
            arguments;
        program = u"/usr/bin/setpriv"_s;
    }
    const ProcessResult result =
        TestSupport::run(program, arguments, environment, 60000, dir.path());
    QCOMPARE(result.errText(), QString());
    QCOMPARE(result.exitCode, 0);

    const QString compatFolder = QFileInfo(TestSupport::compatPath(u"osascript"_s)).absolutePath();
    const QString fixedPath = u"/usr/sbin:/usr/bin:/sbin:/bin"_s;
    const QString systemLn = QStandardPaths::findExecutable(
        u"ln"_s, {u"/usr/sbin"_s, u"/usr/bin"_s, u"/sbin"_s, u"/bin"_s});
    const QStringList lines = result.outText().chopped(1).split(u'\n');
    QCOMPARE(lines.size(), 3);
    if (privileged) {
        QCOMPARE(lines, (QStringList{systemLn, u"none"_s, fixedPath}));
    } else {
        QCOMPARE(lines.at(0), planted);
        QCOMPARE(lines.at(1), u"from the caller"_s);
    }
}

void TestOsascriptTool::refusesProgramUserCanChange_data()
{
    QTest::addColumn<QString>("layout"); // what a user could change
    QTest::addColumn<bool>("throughPkexec");
    QTest::addColumn<QString>("why"); // the reason, after the file's name; empty: it runs

    QTest::newRow("root's own, root caller") << u"sound"_s << false << QString();
    QTest::newRow("root's own, through pkexec") << u"sound"_s << true << QString();
    QTest::newRow("file writable by others")
        << u"file 0777"_s << false << u"{file} is writable by group or others"_s;
    QTest::newRow("file writable by group, through pkexec")
        << u"file 0775"_s << true << u"{file} is writable by group or others"_s;
    QTest::newRow("file owned by a user")
        << u"file owner"_s << false << u"{file} is owned by nobody, not by root"_s;
    QTest::newRow("folder writable by others")
        << u"folder 0777"_s << false << u"{folder} is writable by group or others"_s;
    QTest::newRow("folder owned by a user, through pkexec")
        << u"folder owner"_s << true << u"{folder} is owned by nobody, not by root"_s;
    QTest::newRow("link in a sound folder to a user's file")
        << u"link"_s << false << u"{target} is owned by nobody, not by root"_s;
    QTest::newRow("relative name")
        << u"relative"_s << false << u"it is not named by an absolute path"_s;
    QTest::newRow("name known only at run time")
        << u"variable"_s << false << u"the program is only known when the command runs"_s;
}

// A stand-in the user can replace (a --prefix ~/.local install, a build tree) must never run as
// root: the launcher refuses, naming the file and why, and nothing of the command runs.
void TestOsascriptTool::refusesProgramUserCanChange()
{
    QFETCH(QString, layout);
    QFETCH(bool, throughPkexec);
    QFETCH(QString, why);
    if (geteuid() != 0 || !QFile::exists(u"/usr/bin/setpriv"_s))
        QSKIP("needs root to make root's files and to run the stand-in as another user");

    // Not under /tmp: a folder others can write is no place for root's programs.
    QTemporaryDir dir(QCoreApplication::applicationDirPath() + u"/osascript-XXXXXX"_s);
    QVERIFY(dir.isValid());
    QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) |
                                                  QFileDevice::ExeOther | QFileDevice::ReadOther |
                                                  QFileDevice::ExeGroup | QFileDevice::ReadGroup));
    const QString folder = dir.filePath(u"libexec"_s);
    QVERIFY(QDir().mkpath(folder));
    const QString out = dir.filePath(u"out"_s);
    QVERIFY(QDir().mkpath(out));
    QVERIFY(QFile::setPermissions(out, QFileDevice::ReadOther | QFileDevice::WriteOther |
                                           QFileDevice::ExeOther | QFileDevice::ReadOwner |
                                           QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    const QString marker = out + u"/ran"_s;
    const QString file = folder + u"/pmset"_s;
    TestSupport::writeScript(file, "#!/bin/sh\ntouch '" + marker.toUtf8() + "'\necho ran\n");
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::ExeOther));
    const QString fakePkexec = dir.filePath(u"pkexec"_s);
    TestSupport::writeScript(fakePkexec, "#!/bin/sh\nexec \"$@\"\n");

    QString program = file;
    const QString target = dir.filePath(u"user/pmset"_s);
    const auto run = [](const char* tool, const QStringList& args) {
        return TestSupport::run(QString::fromLatin1(tool), args,
                                QProcessEnvironment::systemEnvironment())
            .exitCode;
    };
    if (layout == u"file 0777"_s)
        QCOMPARE(run("/bin/chmod", {u"0777"_s, file}), 0);
    else if (layout == u"file 0775"_s)
        QCOMPARE(run("/bin/chmod", {u"0775"_s, file}), 0);
    else if (layout == u"file owner"_s)
        QCOMPARE(run("/bin/chown", {u"65534"_s, file}), 0);
    else if (layout == u"folder 0777"_s)
        QCOMPARE(run("/bin/chmod", {u"0777"_s, folder}), 0);
    else if (layout == u"folder owner"_s)
        QCOMPARE(run("/bin/chown", {u"65534"_s, folder}), 0);
    else if (layout == u"link"_s) {
        QVERIFY(QDir().mkpath(dir.filePath(u"user"_s)));
        QVERIFY(QFile::copy(file, target));
        QCOMPARE(run("/bin/chown", {u"65534"_s, target}), 0);
        QVERIFY(QFile::remove(file));
        QVERIFY(QFile::link(target, file));
    } else if (layout == u"relative"_s)
        program = u"./libexec/pmset"_s;
    else if (layout == u"variable"_s)
        program = u"$HOME/pmset"_s;

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"BRENMOR_OPS_PKEXEC"_s, fakePkexec);
    const QString source =
        u"do shell script \"'"_s + program + u"' repeat cancel\" with administrator privileges"_s;
    QStringList arguments{TestSupport::compatPath(u"osascript"_s), u"-e"_s, source};
    QString launcher = arguments.takeFirst();
    if (throughPkexec) {
        arguments =
            QStringList{u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, launcher} +
            arguments;
        launcher = u"/usr/bin/setpriv"_s;
    }
    const ProcessResult result =
        TestSupport::run(launcher, arguments, environment, 60000, dir.path());
    if (why.isEmpty()) {
        QCOMPARE(result.errText(), QString());
        QCOMPARE(result.outText(), u"ran\n"_s);
        QCOMPARE(result.exitCode, 0);
        QVERIFY(QFile::exists(marker));
        return;
    }
    why.replace(u"{file}"_s, file).replace(u"{folder}"_s, folder).replace(u"{target}"_s, target);
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.out.isEmpty());
    QCOMPARE(result.err,
             executionError(source, u"Refusing to run %1 as root: %2."_s.arg(program, why).toUtf8(),
                            -10004));
    QVERIFY(!QFile::exists(marker));
}

void TestOsascriptTool::programsOfCommand_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("programs");

    QTest::newRow("quoted path") << u"'/opt/my tools/pmset' repeat cancel"_s
                                 << QStringList{u"/opt/my tools/pmset"_s};
    QTest::newRow("every simple command")
        << u"a x; b && c|d & e\nf $(g) `h`"_s
        << QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s, u"f"_s, u"g"_s, u"h"_s};
    QTest::newRow("substitution inside double quotes")
        << u"/bin/echo \"a `id` b\""_s << QStringList{u"/bin/echo"_s, u"`"_s};
    QTest::newRow("assignments, keywords and redirections skipped")
        << u"X=1 Y='a b' >/dev/null 2>&1 /bin/ln -s a b; if true; then ! /x; fi"_s
        << QStringList{u"/bin/ln"_s, u"true"_s, u"/x"_s};
    QTest::newRow("quotes and escapes removed")
        << u"\"/a b\"/c\\ d e; /x\\'y"_s << QStringList{u"/a b/c d"_s, u"/x'y"_s};
    QTest::newRow("only known at run time") << u"\"$TOOL\" x"_s << QStringList{u"$TOOL"_s};
}

// Every program a command could start is found, so a second one cannot slip past the check.
void TestOsascriptTool::programsOfCommand()
{
    QFETCH(QString, command);
    QFETCH(QStringList, programs);
    QCOMPARE(::programsOfCommand(command), programs);
}

QTEST_GUILESS_MAIN(TestOsascriptTool)
#include "TestOsascriptTool.moc"
