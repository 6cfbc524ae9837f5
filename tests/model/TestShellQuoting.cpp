// shellQuoted: whatever the text, the shell reads back exactly one word with exactly that text.
#include "ShellQuoting.h"

#include <QProcess>
#include <QTest>

class TestShellQuoting : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shellReadsBackTheText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("spaces") << QStringLiteral("My Folder/with  two spaces");
        QTest::newRow("single quote") << QStringLiteral("it's");
        QTest::newRow("only quotes") << QStringLiteral("''");
        QTest::newRow("expansions stay literal")
            << QStringLiteral("$HOME $(touch /tmp/x) `id` ${PATH} *");
        QTest::newRow("backslashes and double quotes") << QStringLiteral("a\\b \"c\" \\'");
        QTest::newRow("line feed and tab") << QStringLiteral("one\ntwo\tthree");
        QTest::newRow("leading dash") << QStringLiteral("-n");
        QTest::newRow("not ASCII") << QStringLiteral("Sauvegarde été 👩‍💻");
    }
    void shellReadsBackTheText()
    {
        QFETCH(QString, text);
        for (const QString& shell : {QStringLiteral("/bin/sh"), QStringLiteral("/bin/bash")}) {
            // Two words after the quoted one: a quote that leaked would merge or split them.
            QProcess process;
            process.start(shell,
                          {QStringLiteral("-c"), QStringLiteral("printf '%s|' ") +
                                                     shellQuoted(text) + QStringLiteral(" end")});
            QVERIFY(process.waitForFinished(10000));
            QCOMPARE(process.exitCode(), 0);
            QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()),
                     text + QStringLiteral("|end|"));
        }
    }
};

QTEST_GUILESS_MAIN(TestShellQuoting)
#include "TestShellQuoting.moc"
