// brenmor-ops setup-cli and the install script it shares with the application.
#include "CliInstall.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace {
const QString linkLocation = QStringLiteral("/usr/local/bin/brenmor-ops");

// An osascript stand-in that keeps the source it was given and answers with `body`.
QString fakeOsascript(const TestHome& home, const QByteArray& body)
{
    const QString path = home.path() + QStringLiteral("/fake-osascript");
    TestSupport::writeScript(path, "#!/bin/sh\nprintf '%s' \"$2\" > \"$HOME/source.txt\"\n" + body);
    return path;
}

QProcessEnvironment withOsascript(const QString& path)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("BRENMOR_OPS_OSASCRIPT"), path);
    return environment;
}
} // namespace

class TestCliSetup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void installScript_data();
    void installScript();
    void installScriptRuns();
    void setupCli_data();
    void setupCli();
    void linksTheRealExecutable();
    void unstartableOsascript();
};

void TestCliSetup::installScript_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("script");

    QTest::newRow("bundle path with a space")
        << QStringLiteral("/Applications/Brenmor Ops.app/Contents/MacOS/brenmor-ops")
        << QStringLiteral(
               "do shell script \"/bin/ln -sf '/Applications/Brenmor Ops.app/Contents/MacOS/"
               "brenmor-ops' '/usr/local/bin/brenmor-ops'\" with administrator "
               "privileges");
    // The shell's '\'' has its backslash doubled for the AppleScript string.
    QTest::newRow("apostrophe")
        << QStringLiteral("/Users/jo/Jo's Apps/brenmor-ops")
        << QStringLiteral("do shell script \"/bin/ln -sf '/Users/jo/Jo'\\\\''s Apps/brenmor-ops' "
                          "'/usr/local/bin/brenmor-ops'\" with administrator privileges");
    QTest::newRow("double quote") << QStringLiteral("/opt/say \"hi\"/brenmor-ops")
                                  << QStringLiteral(
                                         "do shell script \"/bin/ln -sf '/opt/say \\\"hi\\\"/"
                                         "brenmor-ops' '/usr/local/bin/brenmor-ops'\" "
                                         "with administrator privileges");
    QTest::newRow("backslash") << QStringLiteral("/opt/a\\b/brenmor-ops")
                               << QStringLiteral(
                                      "do shell script \"/bin/ln -sf '/opt/a\\\\b/brenmor-ops' "
                                      "'/usr/local/bin/brenmor-ops'\" with "
                                      "administrator privileges");
    QTest::newRow("substitution stays literal")
        << QStringLiteral("/opt/$(id)/`id`/brenmor-ops")
        << QStringLiteral("do shell script \"/bin/ln -sf '/opt/$(id)/`id`/brenmor-ops' "
                          "'/usr/local/bin/brenmor-ops'\" with administrator privileges");
}

void TestCliSetup::installScript()
{
    QFETCH(QString, source);
    QFETCH(QString, script);
    QCOMPARE(CliInstall::makeInstallScript(source, CliInstall::linkLocation()), script);
}

// The script, run by our osascript stand-in, links a path full of quoting hazards exactly.
void TestCliSetup::installScriptRuns()
{
    const QString osascript = TestSupport::compatPath(QStringLiteral("osascript"));
    if (!QFileInfo(osascript).isExecutable())
        QSKIP("the osascript stand-in is not built");
    TestHome home;
    const QString folder = home.path() + QStringLiteral("/Jo's \"odd\" \\ $(id) `id` été");
    QVERIFY(QDir().mkpath(folder));
    const QString source = folder + QStringLiteral("/brenmor-ops");
    TestSupport::writeScript(source, "#!/bin/sh\n");
    const QString destination = home.path() + QStringLiteral("/bin dir/brenmor-ops");
    QVERIFY(QDir().mkpath(QFileInfo(destination).absolutePath()));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Without root the stand-in goes through pkexec; this one just runs the command.
    const QString pkexec = home.path() + QStringLiteral("/pkexec");
    TestSupport::writeScript(pkexec, "#!/bin/sh\nexec \"$@\"\n");
    environment.insert(QStringLiteral("BRENMOR_OPS_PKEXEC"), pkexec);

    const ProcessResult result = TestSupport::run(
        osascript, {QStringLiteral("-e"), CliInstall::makeInstallScript(source, destination)},
        environment);
    QCOMPARE(result.errText(), QString());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(QFileInfo(destination).symLinkTarget(), source);
}

void TestCliSetup::setupCli_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<int>("status");

    QTest::newRow("installed") << QByteArray("exit 0\n")
                               << QStringLiteral("CLI installed at /usr/local/bin/brenmor-ops\n")
                               << QString() << 0;
    QTest::newRow("password prompt cancelled")
        << QByteArray("echo '0:120: execution error: User canceled. (-128)' >&2\nexit 1\n")
        << QString() << QStringLiteral("Error: Setup failed: User canceled.\n") << 1;
    QTest::newRow("no /usr/local/bin")
        << QByteArray("echo '0:120: execution error: ln: /usr/local/bin/brenmor-ops: No such file "
                      "or directory (1)' >&2\nexit 1\n")
        << QString()
        << QStringLiteral("Error: Setup failed: ln: /usr/local/bin/brenmor-ops: No such file or "
                          "directory\n")
        << 1;
    QTest::newRow("failure without a message") << QByteArray("exit 1\n") << QString()
                                               << QStringLiteral("Error: Setup failed: Unknown "
                                                                 "error\n")
                                               << 1;
}

void TestCliSetup::setupCli()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(int, status);

    TestHome home;
    const ProcessResult result = TestSupport::runTool(home, {QStringLiteral("setup-cli")},
                                                      withOsascript(fakeOsascript(home, answer)));
    QCOMPARE(result.errText(), err);
    QCOMPARE(result.outText(), out);
    QCOMPARE(result.exitCode, status);
    const QString tool =
        QFileInfo(TestSupport::binPath(QStringLiteral("brenmor-ops"))).canonicalFilePath();
    QCOMPARE(QString::fromUtf8(TestSupport::readFile(home.path() + QStringLiteral("/source.txt"))),
             CliInstall::makeInstallScript(tool, linkLocation));
    QVERIFY(!QFile::exists(home.taskFile()));
}

// Started through a link (an earlier install), the tool still links its real file.
void TestCliSetup::linksTheRealExecutable()
{
    TestHome home;
    const QString tool =
        QFileInfo(TestSupport::binPath(QStringLiteral("brenmor-ops"))).canonicalFilePath();
    const QString link = home.path() + QStringLiteral("/brenmor-ops");
    QVERIFY(QFile::link(tool, link));
    QProcessEnvironment environment = home.environment();
    environment.insert(withOsascript(fakeOsascript(home, "exit 0\n")));
    const ProcessResult result = TestSupport::run(link, {QStringLiteral("setup-cli")}, environment);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(QString::fromUtf8(TestSupport::readFile(home.path() + QStringLiteral("/source.txt"))),
             CliInstall::makeInstallScript(tool, linkLocation));
}

void TestCliSetup::unstartableOsascript()
{
    TestHome home;
    const ProcessResult result =
        TestSupport::runTool(home, {QStringLiteral("setup-cli")},
                             withOsascript(home.path() + QStringLiteral("/no-such-osascript")));
    QVERIFY2(result.errText().startsWith(QStringLiteral("Error: Setup failed: ")),
             qPrintable(result.errText()));
    QVERIFY(result.errText().contains(QStringLiteral("no-such-osascript")));
    QCOMPARE(result.outText(), QString());
    QCOMPARE(result.exitCode, 1);
}

QTEST_GUILESS_MAIN(TestCliSetup)
#include "TestCliSetup.moc"
