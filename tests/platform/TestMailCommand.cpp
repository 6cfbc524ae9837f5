// The mail step's command text and the rules that keep typed text from escaping it.
#include "MailCommand.h"
#include "TestSupport.h"

#include <QTest>

using MailCommand::PasswordLookup;

Q_DECLARE_METATYPE(MailCommand::PasswordLookup)

class TestMailCommand : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void commandText_data();
    void commandText();
    void refusesUnusableAddresses_data();
    void refusesUnusableAddresses();
    void subjectIsOneLine_data();
    void subjectIsOneLine();
    void terminatorAvoidsBodyLines_data();
    void terminatorAvoidsBodyLines();
    void trimsOnlySpacesAndTabs_data();
    void trimsOnlySpacesAndTabs();
};

void TestMailCommand::commandText_data()
{
    QTest::addColumn<PasswordLookup>("lookup");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("file");

    const QString body = QStringLiteral(
        "The backup said \"OK\" at $(date) with `uptime`, \\\"as is\\\" and it's fine.\n.\nBye");
    const QString subject = QStringLiteral("Backup \"nightly\" done");
    QTest::newRow("linux, quotes in subject and body as typed")
        << PasswordLookup::secretTool << subject << body
        << QStringLiteral("command-secret-tool.txt");
    QTest::newRow("macos, quotes in subject and body as typed")
        << PasswordLookup::securityTool << subject << body
        << QStringLiteral("command-security.txt");
    QTest::newRow("body lines equal to terminators")
        << PasswordLookup::securityTool << QStringLiteral("Report")
        << QStringLiteral("first\nBRENMORMAIL\necho \"this line must stay in the mail\"\n"
                          "BRENMORMAIL_1\n BRENMORMAIL_2 with text is fine")
        << QStringLiteral("command-terminator.txt");
    QTest::newRow("subject with a header after a line break")
        << PasswordLookup::secretTool << QStringLiteral("Line one\r\nBcc: victim@example.com")
        << QString() << QStringLiteral("command-folded-subject.txt");
}

void TestMailCommand::commandText()
{
    QFETCH(PasswordLookup, lookup);
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(QString, file);
    const std::optional<QString> command = MailCommand::buildMailCommand(
        QStringLiteral("me@gmail.com"), QStringLiteral("team+ops@example.org"), subject, body,
        lookup);
    QVERIFY(command);
    const QByteArray expected =
        TestSupport::readFile(TestSupport::dataPath(QStringLiteral("mail/") + file));
    QVERIFY(!expected.isEmpty());
    QCOMPARE(command->toUtf8(), expected);
}

void TestMailCommand::refusesUnusableAddresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("usable");

    QTest::newRow("plain") << QStringLiteral("me@gmail.com") << true;
    QTest::newRow("plus, dots, percent, dash")
        << QStringLiteral("first.last+tag%x@mail-1.example.co.uk") << true;
    QTest::newRow("underscore") << QStringLiteral("a_b@example.com") << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("no at") << QStringLiteral("me.gmail.com") << false;
    QTest::newRow("two ats") << QStringLiteral("me@x@gmail.com") << false;
    QTest::newRow("empty local part") << QStringLiteral("@gmail.com") << false;
    QTest::newRow("empty domain") << QStringLiteral("me@") << false;
    QTest::newRow("double quote") << QStringLiteral("a\"b@gmail.com") << false;
    QTest::newRow("backslash") << QStringLiteral("a\\b@gmail.com") << false;
    QTest::newRow("dollar") << QStringLiteral("$(reboot)@gmail.com") << false;
    QTest::newRow("backquote") << QStringLiteral("a`id`@gmail.com") << false;
    QTest::newRow("line feed") << QStringLiteral("me@gmail.com\nBcc: x@y.z") << false;
    QTest::newRow("carriage return") << QStringLiteral("me@gmail.com\r") << false;
    QTest::newRow("semicolon") << QStringLiteral("a;reboot@gmail.com") << false;
    QTest::newRow("space inside") << QStringLiteral("a b@gmail.com") << false;
    QTest::newRow("surrounding space") << QStringLiteral(" me@gmail.com") << false;
    QTest::newRow("single quote") << QStringLiteral("o'neil@example.com") << false;
    QTest::newRow("glob") << QStringLiteral("*@example.com") << false;
    QTest::newRow("leading dash reads as an option") << QStringLiteral("-w@example.com") << false;
    QTest::newRow("non-ascii") << QStringLiteral("jos\u00e9@example.com") << false;
}

void TestMailCommand::refusesUnusableAddresses()
{
    QFETCH(QString, address);
    QFETCH(bool, usable);
    QCOMPARE(MailCommand::isUsableAddress(address), usable);
    const QString good = QStringLiteral("me@gmail.com");
    for (PasswordLookup lookup : {PasswordLookup::securityTool, PasswordLookup::secretTool}) {
        QCOMPARE(
            MailCommand::buildMailCommand(address, good, QStringLiteral("s"), QString(), lookup)
                .has_value(),
            usable);
        QCOMPARE(
            MailCommand::buildMailCommand(good, address, QStringLiteral("s"), QString(), lookup)
                .has_value(),
            usable);
    }
}

void TestMailCommand::subjectIsOneLine_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("line");

    QTest::newRow("as typed") << QStringLiteral("Say \"hi\" \\ $HOME")
                              << QStringLiteral("Say \"hi\" \\ $HOME");
    QTest::newRow("trimmed") << QStringLiteral(" \tDaily Reminder \t")
                             << QStringLiteral("Daily Reminder");
    QTest::newRow("line feed") << QStringLiteral("a\nb") << QStringLiteral("a b");
    QTest::newRow("crlf with spaces around")
        << QStringLiteral("a  \r\n  b") << QStringLiteral("a b");
    QTest::newRow("blank lines") << QStringLiteral("a\n\n\nb") << QStringLiteral("a b");
    QTest::newRow("lone carriage return")
        << QStringLiteral("a\rBcc: x@y.z") << QStringLiteral("a Bcc: x@y.z");
    QTest::newRow("unicode separators")
        << QStringLiteral("a\u2028b\u2029c\u0085d") << QStringLiteral("a b c d");
    QTest::newRow("trailing break") << QStringLiteral("a\n") << QStringLiteral("a");
}

void TestMailCommand::subjectIsOneLine()
{
    QFETCH(QString, subject);
    QFETCH(QString, line);
    QCOMPARE(MailCommand::subjectLine(subject), line);
}

void TestMailCommand::terminatorAvoidsBodyLines_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("terminator");

    QTest::newRow("empty") << QString() << QStringLiteral("BRENMORMAIL");
    QTest::newRow("mentioned inside a line")
        << QStringLiteral("say BRENMORMAIL\nBRENMORMAIL \n\tBRENMORMAIL")
        << QStringLiteral("BRENMORMAIL");
    QTest::newRow("whole line") << QStringLiteral("a\nBRENMORMAIL\nb")
                                << QStringLiteral("BRENMORMAIL_1");
    QTest::newRow("only line") << QStringLiteral("BRENMORMAIL") << QStringLiteral("BRENMORMAIL_1");
    QTest::newRow("last line after a break")
        << QStringLiteral("x\nBRENMORMAIL") << QStringLiteral("BRENMORMAIL_1");
    QTest::newRow("numbered ones taken too")
        << QStringLiteral("BRENMORMAIL_1\nBRENMORMAIL\nBRENMORMAIL_2")
        << QStringLiteral("BRENMORMAIL_3");
}

void TestMailCommand::terminatorAvoidsBodyLines()
{
    QFETCH(QString, body);
    QFETCH(QString, terminator);
    QCOMPARE(MailCommand::terminatorFor(body), terminator);
    const QString command =
        *MailCommand::buildMailCommand(QStringLiteral("a@b.c"), QStringLiteral("d@e.f"),
                                       QStringLiteral("s"), body, PasswordLookup::secretTool);
    // The here-document opens with the terminator and its first exact line closes it after
    // the whole body (the four header lines and a blank line come first).
    const QStringList lines = command.split(QLatin1Char('\n'));
    const qsizetype open =
        lines.indexOf(QStringLiteral("  -T - <<'") + terminator + QLatin1Char('\''));
    QVERIFY(open > 0);
    const qsizetype close = lines.indexOf(terminator, open + 1);
    QCOMPARE(lines.mid(open + 6, close - open - 6).join(QLatin1Char('\n')), body);
}

void TestMailCommand::trimsOnlySpacesAndTabs_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("none") << QStringLiteral("a b") << QStringLiteral("a b");
    QTest::newRow("spaces and tabs") << QStringLiteral(" \t a b\t ") << QStringLiteral("a b");
    QTest::newRow("all blank") << QStringLiteral(" \t ") << QString();
    QTest::newRow("line feed kept") << QStringLiteral(" a\n") << QStringLiteral("a\n");
}

void TestMailCommand::trimsOnlySpacesAndTabs()
{
    QFETCH(QString, text);
    QFETCH(QString, trimmed);
    QCOMPARE(MailCommand::trimSpacesAndTabs(text), trimmed);
}

QTEST_GUILESS_MAIN(TestMailCommand)
#include "TestMailCommand.moc"
