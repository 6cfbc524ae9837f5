#include "AdminRequest.h"
#include "ResultChecks.h"

#include "TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {
// Points ToolPaths::osascript() at `path` for one scope.
class OsascriptOverride {
public:
    explicit OsascriptOverride(const QString& path)
    {
        qputenv("BRENMOR_OPS_OSASCRIPT", path.toUtf8());
    }
    ~OsascriptOverride() { qunsetenv("BRENMOR_OPS_OSASCRIPT"); }
};
} // namespace

class TestAdminRequest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void escapesForAppleScript_data();
    void escapesForAppleScript();
    void buildsScript();
    void extractsErrorMessage_data();
    void extractsErrorMessage();
    void passesSourceToOsascript();
    void reportsOsascriptFailure();
    void reportsMissingOsascript();
    void standInRunsEscapedCommand_data();
    void standInRunsEscapedCommand();
};

void TestAdminRequest::escapesForAppleScript_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("plain") << u"pmset -g sched"_s << u"pmset -g sched"_s;
    QTest::newRow("double quote") << u"say \"hi\""_s << u"say \\\"hi\\\""_s;
    QTest::newRow("backslash") << u"a\\b"_s << u"a\\\\b"_s;
    QTest::newRow("escaped quote doubles the backslash first") << u"\\\""_s << u"\\\\\\\""_s;
    QTest::newRow("single quotes untouched")
        << u"ln -sf 'it'\\''s' '/x'"_s << u"ln -sf 'it'\\\\''s' '/x'"_s;
    QTest::newRow("empty") << QString() << QString();
}

void TestAdminRequest::escapesForAppleScript()
{
    QFETCH(QString, text);
    QFETCH(QString, escaped);
    QCOMPARE(AdminRequest::escapeForAppleScript(text), escaped);
}

void TestAdminRequest::buildsScript()
{
    QCOMPARE(AdminRequest::makeScript(u"pmset repeat wakeorpoweron MTWRFSU 07:25:00"_s),
             u"do shell script \"pmset repeat wakeorpoweron MTWRFSU 07:25:00\" with "
             "administrator privileges"_s);
    QCOMPARE(AdminRequest::makeScript(u"pmset schedule wakeorpoweron \"12/15/26 08:55:00\""_s),
             u"do shell script \"pmset schedule wakeorpoweron \\\"12/15/26 08:55:00\\\"\" with "
             "administrator privileges"_s);
}

void TestAdminRequest::extractsErrorMessage_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("message");
    QTest::newRow("cancelled") << u"0:98: execution error: User canceled. (-128)\n"_s
                               << u"User canceled."_s;
    QTest::newRow("command error with its status")
        << u"0:45: execution error: pmset: bad weekdays \"X\" (1)\n"_s
        << u"pmset: bad weekdays \"X\""_s;
    QTest::newRow("several lines")
        << u"0:45: execution error: first line\nsecond line (2)"_s << u"first line\nsecond line"_s;
    QTest::newRow("parentheses inside the message")
        << u"0:12: execution error: ln: failed (read-only) (1)"_s << u"ln: failed (read-only)"_s;
    QTest::newRow("syntax error") << u"16:20: syntax error: Expected end of line. (-2741)"_s
                                  << u"Expected end of line."_s;
    QTest::newRow("nothing recognisable") << u"Segmentation fault"_s << u"Unknown error"_s;
    QTest::newRow("empty") << QString() << u"Unknown error"_s;
    QTest::newRow("empty message") << u"0:3: execution error:  (1)"_s << u"Unknown error"_s;
}

void TestAdminRequest::extractsErrorMessage()
{
    QFETCH(QString, output);
    QFETCH(QString, message);
    QCOMPARE(AdminRequest::errorMessage(output), message);
}

void TestAdminRequest::passesSourceToOsascript()
{
    QTemporaryDir dir;
    const QString argsFile = dir.filePath(u"args"_s);
    const QString fake = dir.filePath(u"osascript"_s);
    TestSupport::writeScript(fake, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + argsFile.toUtf8() +
                                       "'\necho '  the result  '\n");
    OsascriptOverride override(fake);
    const auto ran = AdminRequest::runShellCommand(u"echo \"a\\b\""_s);
    VERIFY_OK(ran);
    QCOMPARE(ran.value(), u"the result"_s);
    QCOMPARE(TestSupport::readFile(argsFile),
             QByteArray("-e\ndo shell script \"echo \\\"a\\\\b\\\"\" with administrator "
                        "privileges\n"));
}

void TestAdminRequest::reportsOsascriptFailure()
{
    QTemporaryDir dir;
    const QString fake = dir.filePath(u"osascript"_s);
    TestSupport::writeScript(fake, "#!/bin/sh\necho 'partial output'\n"
                                   "echo '0:63: execution error: User canceled. (-128)' >&2\n"
                                   "exit 1\n");
    OsascriptOverride override(fake);
    // The partial output is not taken for a result: a failure carries none.
    const auto ran = AdminRequest::runShellCommand(u"true"_s);
    QVERIFY(!ran.ok());
    QCOMPARE(ran.error().kind, AdminRequest::Error::Kind::executionError);
    QCOMPARE(ran.message(), u"User canceled."_s);
}

void TestAdminRequest::reportsMissingOsascript()
{
    QTemporaryDir dir;
    OsascriptOverride override(dir.filePath(u"no-such-osascript"_s));
    const auto ran = AdminRequest::runShellCommand(u"true"_s);
    QVERIFY(!ran.ok());
    QCOMPARE(ran.error().kind, AdminRequest::Error::Kind::notStarted);
    QVERIFY(ran.message().contains(u"no-such-osascript"_s));
}

void TestAdminRequest::standInRunsEscapedCommand_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error"); // empty: succeeds

    QTest::newRow("quotes and backslashes arrive intact")
        << u"printf '%s\\n' 'say \"hi\" \\ back'"_s << u"say \"hi\" \\ back"_s << QString();
    QTest::newRow("double-quoted shell text") << u"echo \"a  b\""_s << u"a  b"_s << QString();
    QTest::newRow("single quote written as '\\''")
        << u"printf '%s' 'it'\\''s'"_s << u"it's"_s << QString();
    QTest::newRow("failing command gives its error text")
        << u"echo 'ln: /usr/local/bin: No such file' >&2; exit 1"_s << QString()
        << u"ln: /usr/local/bin: No such file"_s;
    QTest::newRow("failing command without error text")
        << u"exit 3"_s << QString() << u"The command exited with a non-zero status."_s;
}

void TestAdminRequest::standInRunsEscapedCommand()
{
    QFETCH(QString, command);
    QFETCH(QString, output);
    QFETCH(QString, error);
    if (geteuid() != 0)
        QSKIP("the stand-in asks for a password through pkexec when not root");

    OsascriptOverride override(TestSupport::compatPath(u"osascript"_s));
    const auto ran = AdminRequest::runShellCommand(command);
    if (error.isEmpty()) {
        VERIFY_OK(ran);
        QCOMPARE(ran.value(), output);
    } else {
        QVERIFY(!ran.ok());
        QCOMPARE(ran.error().kind, AdminRequest::Error::Kind::executionError);
        QCOMPARE(ran.message(), error);
    }
}

QTEST_GUILESS_MAIN(TestAdminRequest)
#include "TestAdminRequest.moc"
