// The mail step end to end on Linux: the password kept by SystemCredentialStore in a real
// Secret Service (gnome-keyring on a private session bus), read back by the generated command
// through secret-tool (or a stand-in for macOS's security tool), and the message sent by the
// real curl to a local SMTPS server that checks the login.
#include "CredentialStore.h"
#include "MailCommand.h"
#include "ResultChecks.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <memory>

using MailCommand::PasswordLookup;

Q_DECLARE_METATYPE(MailCommand::PasswordLookup)

namespace {

const QString senderAddress = QStringLiteral("me@gmail.com");
const QString recipient = QStringLiteral("team+ops@example.org");
const QString serverPassword = QStringLiteral("abcd efgh ijkl mnop");

// A program that runs for the whole test; stopped (and reaped) when destroyed.
class Background {
public:
    Background() = default;
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;
    ~Background() { stop(); }

    QProcess process;

    // The first line the program prints, within the time limit; empty when none came.
    QByteArray firstLine(int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!process.canReadLine() && !deadline.hasExpired() &&
               process.state() != QProcess::NotRunning)
            process.waitForReadyRead(100);
        return process.canReadLine() ? process.readLine().trimmed() : QByteArray();
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

QString tool(const QString& name) { return QStandardPaths::findExecutable(name); }

int itemCount(const QProcessEnvironment& environment, const QString& account)
{
    const ProcessResult found = TestSupport::run(
        tool(QStringLiteral("secret-tool")),
        {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("service"),
         MailCommand::keychainService(), QStringLiteral("account"), account},
        environment, 20000);
    // Each item is listed under a heading line such as "[/1]".
    static const QRegularExpression heading(QStringLiteral("^\\[/"),
                                            QRegularExpression::MultilineOption);
    return int(found.outText().count(heading));
}

} // namespace

class TestMailDelivery : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void keychainRoundTrip_data();
    void keychainRoundTrip();
    void commandSendsMail_data();
    void commandSendsMail();
    void refusedLoginFails_data();
    void refusedLoginFails();
    void passwordNeverOnCommandLine();
    void saveWithoutSecretServiceFails();

private:
    void startSecretService();
    void startMailServer();
    void writeShims();
    ProcessResult runCommand(const QString& shell, const QString& command);
    QProcessEnvironment environment() const;
    int receivedCount() const;

    std::unique_ptr<TestHome> m_home;
    QTemporaryDir m_work;
    QByteArray m_savedBus;
    QString m_busAddress;
    Background m_bus;
    Background m_keyring;
    Background m_server;
    QString m_mailFolder;
    SystemCredentialStore m_store;
};

void TestMailDelivery::initTestCase()
{
    for (const char* name :
         {"dbus-daemon", "gnome-keyring-daemon", "secret-tool", "curl", "openssl", "bash", "zsh"})
        QVERIFY2(!tool(QString::fromLatin1(name)).isEmpty(),
                 qPrintable(QStringLiteral("%1 is not installed (./dev installs it)")
                                .arg(QString::fromLatin1(name))));
    QVERIFY(m_work.isValid());
    m_home = std::make_unique<TestHome>();
    m_savedBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    startSecretService();
    startMailServer();
    writeShims();
}

void TestMailDelivery::cleanupTestCase()
{
    m_server.stop();
    m_keyring.stop();
    m_bus.stop();
    if (m_savedBus.isEmpty())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_savedBus);
}

// A bus of our own, so the keyring never meets the user's or another test's.
void TestMailDelivery::startSecretService()
{
    m_bus.process.start(tool(QStringLiteral("dbus-daemon")),
                        {QStringLiteral("--session"), QStringLiteral("--nofork"),
                         QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    m_busAddress = QString::fromUtf8(m_bus.firstLine(10000));
    QVERIFY2(!m_busAddress.isEmpty(), "dbus-daemon printed no address");
    // Set before this process makes its first Secret Service call: libsecret connects once.
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());

    m_keyring.process.setProcessEnvironment(environment());
    m_keyring.process.setStandardOutputFile(m_work.filePath(QStringLiteral("keyring.log")));
    m_keyring.process.setStandardErrorFile(m_work.filePath(QStringLiteral("keyring.log")));
    // --unlock reads the login keyring's password from standard input and creates the keyring.
    m_keyring.process.start(tool(QStringLiteral("gnome-keyring-daemon")),
                            {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                             QStringLiteral("--components=secrets")});
    QVERIFY(m_keyring.process.waitForStarted(10000));
    m_keyring.process.write("login keyring password");
    m_keyring.process.closeWriteChannel();

    QDBusConnection bus = QDBusConnection::connectToBus(m_busAddress, QStringLiteral("probe"));
    QVERIFY(bus.isConnected());
    QTRY_VERIFY_WITH_TIMEOUT(
        bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")), 20000);
    QDBusConnection::disconnectFromBus(QStringLiteral("probe"));
}

void TestMailDelivery::startMailServer()
{
    const QString cert = m_work.filePath(QStringLiteral("cert.pem"));
    const QString key = m_work.filePath(QStringLiteral("key.pem"));
    const QString host = MailCommand::smtpHost();
    const ProcessResult made = TestSupport::run(
        tool(QStringLiteral("openssl")),
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
         QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
         QStringLiteral("2"), QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert,
         QStringLiteral("-subj"), QStringLiteral("/CN=") + host, QStringLiteral("-addext"),
         QStringLiteral("subjectAltName=DNS:") + host},
        environment(), 60000);
    QVERIFY2(made.exitCode == 0, made.err.constData());

    m_mailFolder = m_work.filePath(QStringLiteral("received"));
    QVERIFY(QDir().mkpath(m_mailFolder));
    m_server.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The system interpreter: it has aiosmtpd, and starts quickly.
    m_server.process.start(
        QStringLiteral("/usr/bin/python3"),
        QStringList{TestSupport::dataPath(QStringLiteral("mail/smtps_server.py")), cert, key,
                    senderAddress, QStringLiteral("-"), m_mailFolder});
    QVERIFY(m_server.process.waitForStarted(20000));
    m_server.process.write(serverPassword.toUtf8() + '\n');
    const QByteArray line = m_server.firstLine(20000);
    QVERIFY2(line.startsWith("PORT "), "the SMTPS server did not start");
    const QString port = QString::fromLatin1(line.mid(5));

    // curl as the command finds it first on PATH: the real one, sent to the local server for
    // the provider's host name and trusting the test certificate. The name on the certificate
    // is still checked.
    const QString shims = m_work.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(shims));
    TestSupport::writeScript(shims + QStringLiteral("/curl"),
                             QStringLiteral("#!/bin/sh\nexec '%1' --connect-to %2:465:127.0.0.1:%3 "
                                            "--cacert '%4' \"$@\"\n")
                                 .arg(tool(QStringLiteral("curl")), host, port, cert)
                                 .toUtf8());
}

// macOS's security tool, answering exactly the lookup the command makes with the password
// filed under the account in keychain/.
void TestMailDelivery::writeShims()
{
    const QString keychain = m_work.filePath(QStringLiteral("keychain"));
    QVERIFY(QDir().mkpath(keychain));
    TestSupport::writeScript(
        m_work.filePath(QStringLiteral("bin/security")),
        QStringLiteral("#!/bin/sh\n"
                       "if [ $# -eq 6 ] && [ \"$1 $2 $3 $4 $6\" = "
                       "\"find-generic-password -s %1 -a -w\" ] && [ -f '%2'/\"$5\" ]; then\n"
                       "  cat '%2'/\"$5\"; echo; exit 0\n"
                       "fi\n"
                       "echo 'security: SecKeychainSearchCopyNext: The specified item could not "
                       "be found in the keychain.' >&2\n"
                       "exit 44\n")
            .arg(MailCommand::keychainService(), keychain)
            .toUtf8());
}

QProcessEnvironment TestMailDelivery::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    environment.insert(QStringLiteral("PATH"), m_work.filePath(QStringLiteral("bin")) +
                                                   QLatin1Char(':') +
                                                   environment.value(QStringLiteral("PATH")));
    return environment;
}

ProcessResult TestMailDelivery::runCommand(const QString& shell, const QString& command)
{
    const QString script = m_work.filePath(QStringLiteral("step.sh"));
    TestSupport::writeFile(script, command.toUtf8() + '\n');
    return TestSupport::run(tool(shell), {script}, environment(), 60000);
}

int TestMailDelivery::receivedCount() const
{
    return int(QDir(m_mailFolder).entryList({QStringLiteral("*.eml")}, QDir::Files).size());
}

void TestMailDelivery::keychainRoundTrip_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<bool>("storedBySecretTool");

    QTest::newRow("new account") << QStringLiteral("round@example.com") << false;
    // Items another program filed under the same service and account are the same item.
    QTest::newRow("item stored by secret-tool") << QStringLiteral("old@example.com") << true;
}

void TestMailDelivery::keychainRoundTrip()
{
    QFETCH(QString, account);
    QFETCH(bool, storedBySecretTool);
    const QString service = MailCommand::keychainService();
    const QStringList lookup = {QStringLiteral("lookup"), QStringLiteral("service"), service,
                                QStringLiteral("account"), account};
    if (storedBySecretTool) {
        QProcess store;
        store.setProcessEnvironment(environment());
        store.start(tool(QStringLiteral("secret-tool")),
                    {QStringLiteral("store"), QStringLiteral("--label=old"),
                     QStringLiteral("service"), service, QStringLiteral("account"), account});
        QVERIFY(store.waitForStarted(10000));
        store.write("from secret-tool");
        store.closeWriteChannel();
        QVERIFY(store.waitForFinished(20000));
        QCOMPARE(store.exitCode(), 0);
        QCOMPARE(m_store.load(service, account), QStringLiteral("from secret-tool"));
    } else {
        QCOMPARE(m_store.load(service, account), std::nullopt);
    }

    const QString first = QStringLiteral("pässwörd ✓ \"1\"");
    VERIFY_OK(m_store.save(service, account, first));
    QCOMPARE(m_store.load(service, account), first);
    ProcessResult read =
        TestSupport::run(tool(QStringLiteral("secret-tool")), lookup, environment(), 20000);
    QCOMPARE(read.exitCode, 0);
    QCOMPARE(QString::fromUtf8(read.out).trimmed(), first);

    // Changing the password replaces the item rather than adding a second one.
    const QString second = QStringLiteral("wxyz wxyz wxyz wxyz");
    VERIFY_OK(m_store.save(service, account, second));
    QCOMPARE(m_store.load(service, account), second);
    read = TestSupport::run(tool(QStringLiteral("secret-tool")), lookup, environment(), 20000);
    QCOMPARE(QString::fromUtf8(read.out).trimmed(), second);
    QCOMPARE(itemCount(environment(), account), 1);
    // Another account's item is another item.
    QCOMPARE(m_store.load(service, QStringLiteral("x") + account), std::nullopt);

    m_store.remove(service, account);
    QCOMPARE(m_store.load(service, account), std::nullopt);
    QCOMPARE(itemCount(environment(), account), 0);
}

void TestMailDelivery::commandSendsMail_data()
{
    QTest::addColumn<QString>("shell");
    QTest::addColumn<PasswordLookup>("lookup");
    QTest::newRow("bash, secret-tool") << QStringLiteral("bash") << PasswordLookup::secretTool;
    QTest::newRow("zsh, secret-tool") << QStringLiteral("zsh") << PasswordLookup::secretTool;
    QTest::newRow("bash, security") << QStringLiteral("bash") << PasswordLookup::securityTool;
    QTest::newRow("zsh, security") << QStringLiteral("zsh") << PasswordLookup::securityTool;
}

void TestMailDelivery::commandSendsMail()
{
    QFETCH(QString, shell);
    QFETCH(PasswordLookup, lookup);
    VERIFY_OK(m_store.save(MailCommand::keychainService(), senderAddress, serverPassword));
    TestSupport::writeFile(m_work.filePath(QStringLiteral("keychain/")) + senderAddress,
                           serverPassword.toUtf8());

    const QString subject = QStringLiteral("Backup \"nightly\" \\ done");
    const QStringList bodyLines = {
        QStringLiteral(
            "Report said \"OK\" at $(date) for $HOME with `id`, \\\"kept\\\" and it's ) fine."),
        QStringLiteral("BRENMORMAIL"),
        QStringLiteral("."),
        QStringLiteral(".hidden"),
        QStringLiteral("EOF"),
        QStringLiteral("Grüße — é"),
        QString(),
        QStringLiteral("last"),
    };
    const std::optional<QString> command = MailCommand::buildMailCommand(
        senderAddress, recipient, subject, bodyLines.join(u'\n'), lookup);
    QVERIFY(command);

    const int before = receivedCount();
    const ProcessResult result = runCommand(shell, *command);
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QCOMPARE(result.errText(), QString());
    QCOMPARE(result.outText(), QStringLiteral("[250] Email sent to ") + recipient + u'\n');
    QCOMPARE(receivedCount(), before + 1);

    const QString base = m_mailFolder + QLatin1Char('/') + QString::number(before + 1);
    QCOMPARE(TestSupport::readFile(base + QStringLiteral(".envelope")),
             QByteArray("FROM me@gmail.com\nTO team+ops@example.org\n"));
    // Lines end in CR LF on the wire; the subject and every body line arrive exactly as typed.
    const QStringList message = {
        QStringLiteral("Subject: ") + subject,
        QStringLiteral("From: ") + senderAddress,
        QStringLiteral("To: ") + recipient,
        QStringLiteral("Content-Type: text/plain; charset=UTF-8"),
        QString(),
    };
    QCOMPARE(QString::fromUtf8(TestSupport::readFile(base + QStringLiteral(".eml"))),
             (message + bodyLines).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

void TestMailDelivery::refusedLoginFails_data()
{
    QTest::addColumn<QString>("shell");
    QTest::addColumn<PasswordLookup>("lookup");
    QTest::addColumn<bool>("passwordStored");
    QTest::newRow("bash, secret-tool, wrong password")
        << QStringLiteral("bash") << PasswordLookup::secretTool << true;
    QTest::newRow("zsh, security, wrong password")
        << QStringLiteral("zsh") << PasswordLookup::securityTool << true;
    QTest::newRow("zsh, secret-tool, no password")
        << QStringLiteral("zsh") << PasswordLookup::secretTool << false;
    QTest::newRow("bash, security, no password")
        << QStringLiteral("bash") << PasswordLookup::securityTool << false;
}

void TestMailDelivery::refusedLoginFails()
{
    QFETCH(QString, shell);
    QFETCH(PasswordLookup, lookup);
    QFETCH(bool, passwordStored);
    const QString keychainFile = m_work.filePath(QStringLiteral("keychain/")) + senderAddress;
    if (passwordStored) {
        VERIFY_OK(
            m_store.save(MailCommand::keychainService(), senderAddress, QStringLiteral("wrong")));
        TestSupport::writeFile(keychainFile, "wrong");
    } else {
        m_store.remove(MailCommand::keychainService(), senderAddress);
        QFile::remove(keychainFile);
    }
    const int before = receivedCount();
    const ProcessResult result = runCommand(
        shell, *MailCommand::buildMailCommand(senderAddress, recipient, QStringLiteral("s"),
                                              QStringLiteral("b"), lookup));
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.outText(), QString());
    QVERIFY2(result.errText().endsWith(QStringLiteral("Failed to send email\n")),
             result.err.constData());
    QCOMPARE(receivedCount(), before);
}

// Another local user may read every process's arguments: while 30 messages go out, a poller
// reading every /proc/<pid>/cmdline sees curl at work but never the password.
void TestMailDelivery::passwordNeverOnCommandLine()
{
    VERIFY_OK(m_store.save(MailCommand::keychainService(), senderAddress, serverPassword));
    TestSupport::writeFile(m_work.filePath(QStringLiteral("keychain/")) + senderAddress,
                           serverPassword.toUtf8());
    Background poller;
    poller.process.start(QStringLiteral("/usr/bin/python3"),
                         {TestSupport::dataPath(QStringLiteral("mail/cmdline_watch.py")),
                          QStringLiteral("smtps://") + MailCommand::smtpHost()});
    QVERIFY(poller.process.waitForStarted(10000));
    poller.process.write(serverPassword.toUtf8() + '\n');
    QCOMPARE(poller.firstLine(20000), QByteArray("READY"));

    const int before = receivedCount();
    const int sends = 30;
    for (int send = 0; send < sends; ++send) {
        const QString shell = send % 2 ? QStringLiteral("zsh") : QStringLiteral("bash");
        const PasswordLookup lookup =
            send % 4 < 2 ? PasswordLookup::secretTool : PasswordLookup::securityTool;
        const ProcessResult result = runCommand(
            shell, *MailCommand::buildMailCommand(senderAddress, recipient, QStringLiteral("s"),
                                                  QString::number(send), lookup));
        QVERIFY2(result.exitCode == 0, result.err.constData());
    }
    QCOMPARE(receivedCount(), before + sends);

    poller.process.terminate();
    QVERIFY(poller.process.waitForFinished(20000));
    const QString report = QString::fromUtf8(poller.process.readAllStandardOutput()).trimmed();
    static const QRegularExpression counts(
        QStringLiteral("^SCANS (\\d+) MARKER (\\d+) SECRET (\\d+)$"));
    const QRegularExpressionMatch match = counts.match(report);
    QVERIFY2(match.hasMatch(), qPrintable(report));
    QVERIFY2(match.captured(2).toInt() > 0, "the poller never saw curl running");
    QCOMPARE(match.captured(3).toInt(), 0);
}

// Last: it stops the keyring. A password that cannot be stored is reported, never taken as
// stored.
void TestMailDelivery::saveWithoutSecretServiceFails()
{
    m_keyring.stop();
    const Result<void> saved = m_store.save(
        MailCommand::keychainService(), QStringLiteral("gone@example.com"), QStringLiteral("pw"));
    QVERIFY(!saved.ok());
    QVERIFY(!saved.message().isEmpty());
    QCOMPARE(m_store.load(MailCommand::keychainService(), QStringLiteral("gone@example.com")),
             std::nullopt);
}

QTEST_GUILESS_MAIN(TestMailDelivery)
#include "TestMailDelivery.moc"
