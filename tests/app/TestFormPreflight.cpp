// The form's warnings about what launchd will meet, driven through its fields: each finding is
// shown under the fields, follows the edits and never keeps the task from being added.
#include "AddTaskView.h"
#include "AppFakes.h"
#include "TaskFormView.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFutureWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QStringList shownFindings(QWidget* form)
{
    QStringList texts;
    auto* box = child<QWidget>(form, QStringLiteral("form-preflight"));
    if (box->isHidden())
        return texts;
    for (QLabel* label : box->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (!label->isHidden()) {
            // A screen reader reads the label by its accessible name.
            if (label->accessibleName() != label->text())
                return {QStringLiteral("unnamed: ") + label->text()};
            texts << label->text();
        }
    }
    return texts;
}

// The findings shown under the fields, each as "<field's finding label>: <text>", in the form's
// order.
QStringList findingsByField(QWidget* form)
{
    QStringList shown;
    for (const char* name : {"form-command-finding", "form-working-dir-finding",
                             "form-env-file-finding", "form-schedule-finding"}) {
        auto* label = child<QLabel>(form, QString::fromLatin1(name));
        if (label->isHidden())
            continue;
        for (const QString& line : label->text().split(QLatin1Char('\n')))
            shown << QString::fromLatin1(name) + QStringLiteral(": ") + line;
    }
    return shown;
}

void replaceText(QWidget* form, const QString& name, const QString& text)
{
    auto* field = child<QLineEdit>(form, name);
    field->selectAll();
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Backspace);
    else
        QTest::keyClicks(field, text);
}

} // namespace

class TestFormPreflight : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QByteArray m_path;
    FakeDialogs m_dialogs;

    QString path(const QString& name) const { return m_root.path() + QLatin1Char('/') + name; }
    QString missingFolder() const { return path(QStringLiteral("missing")); }
    QString missingFolderFinding() const
    {
        return QStringLiteral(
                   "The working directory %1 does not exist; create it or choose another")
            .arg(missingFolder());
    }
    // Placeholders of the table: ROOT is the test's folder.
    QStringList resolved(QStringList texts) const
    {
        for (QString& text : texts)
            text.replace(QStringLiteral("ROOT"), m_root.path());
        return texts;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // A program only the user's own PATH holds, as a tool in ~/bin would be.
        QVERIFY(QDir().mkpath(path(QStringLiteral("bin"))));
        QFile tool(path(QStringLiteral("bin/brenmor-tool")));
        QVERIFY(tool.open(QIODevice::WriteOnly));
        tool.write("#!/bin/sh\n");
        tool.close();
        QVERIFY(tool.setPermissions(tool.permissions() | QFile::ExeOwner));
        QFile env(path(QStringLiteral("bad.env")));
        QVERIFY(env.open(QIODevice::WriteOnly));
        env.write("GOOD=1\nnot a pair\nexport ALSO=2\n");
        env.close();
        QFile goodEnv(path(QStringLiteral("good.env")));
        QVERIFY(goodEnv.open(QIODevice::WriteOnly));
        goodEnv.write("# settings\nGOOD=1\n");
        goodEnv.close();
        m_path = qgetenv("PATH");
        qputenv("PATH", (path(QStringLiteral("bin")) + QLatin1Char(':')).toUtf8() + m_path);
    }
    void cleanupTestCase() { qputenv("PATH", m_path); }

    void findingsFollowTheFields_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("envFile");
        QTest::addColumn<bool>("loginShell");
        QTest::addColumn<QStringList>("findings");
        // After the login shell toggle is flipped.
        QTest::addColumn<QStringList>("flipped");
        // The finding label each of `findings` stands in, under its field.
        QTest::addColumn<QStringList>("fields");
        const QString command = "form-command-finding";
        const QString folder = "form-working-dir-finding";
        const QString env = "form-env-file-finding";

        const QString userTool =
            "`brenmor-tool` is not on the scheduled PATH; use ROOT/bin/brenmor-tool or turn on "
            "'Use login shell'";
        const QString nowhere = "`brenmor-nowhere` was not found on the scheduled PATH nor on "
                                "yours; use its full path";
        QTest::newRow("valid form shows nothing")
            << "echo hi"
            << "ROOT"
            << "ROOT/good.env" << false << QStringList() << QStringList() << QStringList();
        QTest::newRow("program on the user's PATH only")
            << "brenmor-tool --sync"
            << "ROOT"
            << "" << false << QStringList{userTool} << QStringList() << QStringList{command};
        QTest::newRow("login shell already on finds the user's program")
            << "brenmor-tool"
            << ""
            << "" << true << QStringList() << QStringList{userTool} << QStringList();
        QTest::newRow("program nowhere, whatever the shell")
            << "brenmor-nowhere -v"
            << ""
            << "" << false << QStringList{nowhere} << QStringList{nowhere} << QStringList{command};
        QTest::newRow("missing working directory")
            << "echo hi"
            << "ROOT/gone"
            << "" << false
            << QStringList{"The working directory ROOT/gone does not exist; create it or choose "
                           "another"}
            << QStringList{"The working directory ROOT/gone does not exist; create it or choose "
                           "another"}
            << QStringList{folder};
        QTest::newRow("working directory is a file")
            << "echo hi"
            << "ROOT/good.env"
            << "" << false
            << QStringList{"The working directory ROOT/good.env is not a folder; choose a folder"}
            << QStringList{"The working directory ROOT/good.env is not a folder; choose a folder"}
            << QStringList{folder};
        QTest::newRow("bad .env line")
            << "echo hi"
            << ""
            << "ROOT/bad.env" << true
            << QStringList{"Line 2 of the .env file ROOT/bad.env is not NAME=value; correct or "
                           "remove it"}
            << QStringList{"Line 2 of the .env file ROOT/bad.env is not NAME=value; correct or "
                           "remove it"}
            << QStringList{env};
        QTest::newRow("missing .env file and program together")
            << "brenmor-nowhere"
            << ""
            << "ROOT/none.env" << false
            << QStringList{nowhere, "The .env file ROOT/none.env does not exist; create it or "
                                    "clear the field"}
            << QStringList{nowhere, "The .env file ROOT/none.env does not exist; create it or "
                                    "clear the field"}
            << QStringList{command, env};
    }
    void findingsFollowTheFields()
    {
        QFETCH(QString, command);
        QFETCH(QString, folder);
        QFETCH(QString, envFile);
        QFETCH(bool, loginShell);
        QFETCH(QStringList, findings);
        QFETCH(QStringList, flipped);
        QFETCH(QStringList, fields);

        // Every row starts from a form that shows a finding, so a row expecting none passes only
        // once its own fields have been checked.
        TaskFormState state;
        state.name = QStringLiteral("Sync");
        state.command = QStringLiteral("echo start");
        state.workingDirectory = missingFolder();
        state.useLoginShell = loginShell;
        TaskFormView form(m_dialogs, state);
        form.show();
        QTRY_COMPARE(shownFindings(&form), QStringList{missingFolderFinding()});

        child<QPlainTextEdit>(&form, QStringLiteral("form-task-command"))->setPlainText(command);
        replaceText(&form, QStringLiteral("form-working-dir"),
                    folder.replace("ROOT", m_root.path()));
        replaceText(&form, QStringLiteral("form-env-file"), envFile.replace("ROOT", m_root.path()));
        QTRY_COMPARE(shownFindings(&form), resolved(findings));
        // Each one also stands under the field it is about, where the user is looking.
        QStringList byField;
        for (qsizetype i = 0; i < fields.size(); ++i)
            byField << fields.at(i) + QStringLiteral(": ") + resolved(findings).at(i);
        QCOMPARE(findingsByField(&form), byField);

        child<QCheckBox>(&form, QStringLiteral("form-login-shell"))->click();
        QCOMPARE(form.state().useLoginShell, !loginShell);
        // The last edit's answer wins even when it repeats the previous one: once no check is
        // due or on its way, the findings shown are the answer to the last edit.
        const auto settled = [&form] {
            const QList<QTimer*> timers = form.findChildren<QTimer*>();
            const bool due = std::any_of(timers.cbegin(), timers.cend(), [](const QTimer* timer) {
                return timer->isActive() && timer->interval() == TaskFormView::preflightDelayMs;
            });
            return !due && form.findChildren<QFutureWatcherBase*>().isEmpty();
        };
        QTRY_VERIFY_WITH_TIMEOUT(settled(), TestSupport::eventTimeoutMs);
        QCOMPARE(shownFindings(&form), resolved(flipped));
    }

    // Findings warn; they never keep the task from being added.
    void findingsNeverBlockAdding()
    {
        FakeStoreFixture fixture;
        AddTaskView sheet(*fixture.store, m_dialogs);
        sheet.show();
        QTest::keyClicks(child<QLineEdit>(&sheet, QStringLiteral("form-task-name")),
                         QStringLiteral("Broken"));
        child<QPlainTextEdit>(&sheet, QStringLiteral("form-task-command"))
            ->setPlainText(QStringLiteral("brenmor-nowhere"));
        replaceText(&sheet, QStringLiteral("form-working-dir"), missingFolder());
        QTRY_COMPARE(shownFindings(&sheet).size(), 2);
        auto* add = child<QPushButton>(&sheet, QStringLiteral("form-add-task"));
        QVERIFY(add->isEnabled());
        add->click();
        QCOMPARE(fixture.store->tasks().size(), 1);
        QCOMPARE(fixture.store->tasks().constFirst().workingDirectory, missingFolder());
    }
};

QTEST_MAIN(TestFormPreflight)
#include "TestFormPreflight.moc"
