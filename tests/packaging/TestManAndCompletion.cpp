// The manual page and the shell completions against the tool they describe: every command and
// option that the built tool's usage text lists must be documented and completed, and the bash
// completion must offer the task names of a real task file.
#include "ResultChecks.h"
#include "TaskFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

namespace {

// One command or option as the usage text lists it, with the command it belongs to.
struct UsageEntry {
    QString word;    // "list", "--name", "-n"
    QString command; // for options: the command they go with
    bool isOption() const { return word.startsWith(u'-'); }
};

bool isOptionWord(const QString& word)
{
    static const QRegularExpression option(QStringLiteral("^--?[A-Za-z][A-Za-z0-9-]*$"));
    return option.match(word).hasMatch();
}

// The words of a usage line before its description (which follows two or more spaces).
QStringList synopsisWords(const QString& line)
{
    static const QRegularExpression gap(QStringLiteral("\\S\\s{2,}\\S"));
    QString synopsis = line.trimmed();
    const QRegularExpressionMatch match = gap.match(synopsis);
    if (match.hasMatch())
        synopsis.truncate(match.capturedStart() + 1);
    static const QRegularExpression punctuation(QStringLiteral("[\\[\\]{}()|,]"));
    synopsis.replace(punctuation, QStringLiteral(" "));
    return synopsis.split(u' ', Qt::SkipEmptyParts);
}

// Commands from the "brenmor-ops <command> ..." lines; options from those lines, from the
// "<Command> options:" sections and from notes naming commands ("list and status accept
// --json"). The examples are not read: their commands hold options of other programs.
QList<UsageEntry> parseUsage(const QString& usage)
{
    QList<UsageEntry> entries;
    QStringList commands;
    QString sectionCommand;
    bool inExamples = false;
    for (const QString& line : usage.split(u'\n')) {
        if (!line.isEmpty() && !line.front().isSpace()) {
            inExamples = line.startsWith(QStringLiteral("Examples"));
            sectionCommand = line.endsWith(QStringLiteral("options:"))
                                 ? line.section(u' ', 0, 0).toLower()
                                 : QString();
            continue;
        }
        if (inExamples || line.trimmed().isEmpty())
            continue;
        QStringList words = synopsisWords(line);
        QStringList owners{sectionCommand};
        if (words.first() == QStringLiteral("brenmor-ops") && words.size() > 1) {
            owners = {words.at(1)};
            commands << words.at(1);
            entries.append({words.at(1), words.at(1)});
            words = words.mid(2);
        } else if (sectionCommand.isEmpty()) {
            owners.clear();
            for (const QString& word : line.split(QRegularExpression(QStringLiteral("[\\s,]+"))))
                if (commands.contains(word))
                    owners << word;
            words = line.split(u' ', Qt::SkipEmptyParts);
            for (QString& word : words)
                word.remove(QRegularExpression(QStringLiteral("[.,;:]$")));
        }
        for (const QString& owner : std::as_const(owners)) {
            for (const QString& word : std::as_const(words)) {
                if (!owner.isEmpty() && isOptionWord(word))
                    entries.append({word, owner});
            }
        }
    }
    return entries;
}

QString builtUsage()
{
    TestHome home;
    return TestSupport::runTool(home, {QStringLiteral("help")}).outText();
}

// The text of every tagged paragraph's tag (the line after .TP), with the roff escapes and
// font changes taken out: ".BR list \", \" ls" becomes "list, ls".
QStringList manPageTags()
{
    const QString page =
        QString::fromUtf8(TestSupport::readFile(qEnvironmentVariable("BRENMOR_MAN_PAGE")));
    QStringList tags;
    const QStringList lines = page.split(u'\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines.at(i) != QStringLiteral(".TP"))
            continue;
        QString tag = lines.at(i + 1);
        static const QRegularExpression macro(QStringLiteral("^\\.[A-Z]{1,2}\\s+"));
        static const QRegularExpression font(QStringLiteral("\\\\f[BIRP]"));
        tag.remove(macro).remove(font).remove(u'"');
        tag.replace(QStringLiteral("\\-"), QStringLiteral("-"));
        tag.remove(QStringLiteral("\\&"));
        tags << tag.simplified();
    }
    return tags;
}

QString completionScript() { return qEnvironmentVariable("BRENMOR_COMPLETION_BASH"); }

// Runs the bash completion function for a command line whose last word is being completed and
// returns COMPREPLY.
QStringList bashCompletions(const TestHome& home, const QStringList& words)
{
    const QString script = QStringLiteral(
        "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _brenmor_ops; "
        "((${#COMPREPLY[@]})) && printf '%s\\n' \"${COMPREPLY[@]}\"; exit 0");
    QProcessEnvironment environment = home.environment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    const ProcessResult result = TestSupport::run(
        QStringLiteral("bash"),
        QStringList{QStringLiteral("--norc"), QStringLiteral("--noprofile"), QStringLiteral("-c"),
                    script, QStringLiteral("bash"), completionScript()} +
            words,
        environment);
    if (result.exitCode != 0 || !result.err.isEmpty())
        qWarning().noquote() << "bash:" << result.errText();
    return result.outText().split(u'\n', Qt::SkipEmptyParts);
}

ScheduledTask namedTask(const QString& name, const QString& command = QStringLiteral("true"))
{
    return ScheduledTask::create(name, command, TaskSchedule::of<TaskSchedule::RunAtLoad>());
}

} // namespace

class TestManAndCompletion : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void usageIsParsed()
    {
        // A parser that finds nothing would pass every row below.
        const QList<UsageEntry> entries = parseUsage(builtUsage());
        QStringList words;
        for (const UsageEntry& entry : entries)
            words << entry.command + u' ' + entry.word;
        for (const char* expected : {"list list", "setup-cli setup-cli", "add --monthly-nth",
                                     "add --env-file", "add --run-at-load"})
            QVERIFY2(words.contains(QLatin1String(expected)), expected);
        QVERIFY2(!words.contains(QStringLiteral("add -av")), "examples must not be read");
    }

    void everyUsageEntry_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("command");
        for (const UsageEntry& entry : parseUsage(builtUsage())) {
            const QString row = entry.isOption() ? entry.command + u' ' + entry.word : entry.word;
            QTest::newRow(qPrintable(row)) << entry.word << entry.command;
        }
    }
    void everyUsageEntry()
    {
        QFETCH(QString, word);
        QFETCH(QString, command);
        const bool option = word.startsWith(u'-');

        // The manual page describes it in a tagged paragraph of its own.
        const QStringList tags = manPageTags();
        QVERIFY(!tags.isEmpty());
        const QRegularExpression asWord(QStringLiteral("(^|[\\s,\\[])") +
                                        QRegularExpression::escape(word) +
                                        QStringLiteral("($|[\\s,\\]])"));
        const bool documented = std::any_of(tags.cbegin(), tags.cend(), [&](const QString& tag) {
            return option ? asWord.match(tag).hasMatch()
                          : tag.section(QRegularExpression(QStringLiteral("[\\s,]")), 0, 0) == word;
        });
        QVERIFY2(documented, qPrintable(word + QStringLiteral(" has no entry in the man page")));

        // bash completes it: the command as the first word, the option after its command.
        TestHome home;
        const QStringList offered = option ? bashCompletions(home, {"brenmor-ops", command, "-"})
                                           : bashCompletions(home, {"brenmor-ops", word.left(1)});
        QVERIFY2(offered.contains(word), qPrintable(offered.join(u' ')));

        // zsh names it in its command list or its option specifications.
        const QString zsh = QString::fromUtf8(
            TestSupport::readFile(qEnvironmentVariable("BRENMOR_COMPLETION_ZSH")));
        const QString zshEntry = option ? word + u'[' : u'\'' + word + u':';
        QVERIFY2(zsh.contains(zshEntry), qPrintable(zshEntry));
    }

    void bashCompletesTaskNames_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QStringList>("expected");
        const QStringList all{"Nightly\\ Backup", "Sales\\ \\\"Q\\\"\\ Report", "backup-2",
                              "O\\'Brien", "Sauvegarde\\ été"};
        QTest::newRow("every name, quoted for the shell")
            << QStringList{"brenmor-ops", "remove", ""} << all;
        QTest::newRow("prefix typed with a backslash")
            << QStringList{"brenmor-ops", "enable", "Nightly\\ "}
            << QStringList{"Nightly\\ Backup"};
        QTest::newRow("prefix is case-sensitive")
            << QStringList{"brenmor-ops", "disable", "b"} << QStringList{"backup-2"};
        QTest::newRow("inside double quotes") << QStringList{"brenmor-ops", "run", "\"Sal"}
                                              << QStringList{"\"Sales \\\"Q\\\" Report\""};
        QTest::newRow("inside single quotes")
            << QStringList{"brenmor-ops", "rm", "'O"} << QStringList{"'O'\\''Brien'"};
        QTest::newRow("task after options")
            << QStringList{"brenmor-ops", "history", "-n", "3", ""} << all;
        QTest::newRow("no second task")
            << QStringList{"brenmor-ops", "logs", "backup-2", ""} << QStringList{};
        QTest::newRow("no match") << QStringList{"brenmor-ops", "enable", "Zz"} << QStringList{};
        QTest::newRow("commands without a task")
            << QStringList{"brenmor-ops", "status", ""} << QStringList{};
        QTest::newRow("next weekday in a list")
            << QStringList{"brenmor-ops", "add", "--weekly", "mon,t"}
            << QStringList{"mon,tue", "mon,thu"};
        QTest::newRow("weekday of --monthly-nth")
            << QStringList{"brenmor-ops", "add", "--monthly-nth", "2", "s"}
            << QStringList{"sun", "sat"};
        QTest::newRow("no options where a value is due")
            << QStringList{"brenmor-ops", "add", "--name", ""} << QStringList{};
    }
    void bashCompletesTaskNames()
    {
        QFETCH(QStringList, words);
        QFETCH(QStringList, expected);
        TestHome home;
        // Written by the programs' own writer; the decoys hold the key's text inside strings.
        ScheduledTask withLog = namedTask(QStringLiteral("O'Brien"));
        withLog.logs.append({QUuid::createUuid(),
                             TaskLog::timestampOf(QDateTime::currentDateTimeUtc()), 0,
                             QStringLiteral("{\"name\": \"decoy in a log\"}")});
        QVERIFY(QDir().mkpath(home.dataFolder()));
        VERIFY_OK(TaskFile::write(home.taskFile(),
                                  {namedTask(QStringLiteral("Nightly Backup"),
                                             QStringLiteral("echo '\"name\": \"decoy\"'")),
                                   namedTask(QStringLiteral("Sales \"Q\" Report")),
                                   namedTask(QStringLiteral("backup-2")), withLog,
                                   namedTask(QStringLiteral("Sauvegarde été"))}));
        QCOMPARE(bashCompletions(home, words), expected);
    }

    void bashWithoutTaskFile()
    {
        TestHome home;
        QCOMPARE(bashCompletions(home, {"brenmor-ops", "remove", ""}), QStringList{});
    }

    void zshCompletionParses()
    {
        const ProcessResult result =
            TestSupport::run(QStringLiteral("zsh"),
                             {QStringLiteral("-n"), qEnvironmentVariable("BRENMOR_COMPLETION_ZSH")},
                             QProcessEnvironment::systemEnvironment());
        QCOMPARE(result.errText(), QString());
        QCOMPARE(result.exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(TestManAndCompletion)
#include "TestManAndCompletion.moc"
