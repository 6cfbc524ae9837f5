// The "Gmail Template" sheet and its help sheet, over a fake keychain.
#include "FakeCredentialStore.h"
#include "GmailSetupView.h"
#include "MailCommand.h"
#include "TestSupport.h"

#include <QApplication>
#include <QFutureWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>
#include <tuple>

namespace {

const QString service = QStringLiteral("com.brenmor-ops.gmail");
const QString savedAccount = QStringLiteral("saved@gmail.com");

// The sheet shown over the fake, with what it handed back.
struct Sheet {
    explicit Sheet(CredentialStore& store, QWidget* parent = nullptr,
                   GmailHelpView::UrlOpener openUrl = {})
        : view(store, parent, std::move(openUrl))
    {
        QObject::connect(&view, &GmailSetupView::completed, &view,
                         [this](const QString& command, const QString& name) {
                             results.append({command, name});
                         });
        view.show();
    }
    template <typename T> T* find(const QString& name) const
    {
        T* widget = view.findChild<T*>(name);
        if (!widget)
            qFatal("no widget %s", qPrintable(name));
        return widget;
    }
    QLineEdit* field(const char* name) const { return find<QLineEdit>(QLatin1String(name)); }
    QPushButton* button(const char* name) const { return find<QPushButton>(QLatin1String(name)); }
    QPushButton* use() const { return button("gmail-use-template"); }
    QString message() const
    {
        QLabel* label = find<QLabel>(QStringLiteral("gmail-message"));
        return label->isVisible() ? label->text() : QString();
    }
    void fill(const QString& address, const QString& password, const QString& to,
              const QString& subject, const QString& body = QString()) const
    {
        field("gmail-address")->setText(address);
        field("gmail-app-password")->setText(password);
        field("gmail-to-address")->setText(to);
        field("gmail-subject")->setText(subject);
        find<QPlainTextEdit>(QStringLiteral("gmail-body"))->setPlainText(body);
    }
    bool showsSavedCredentials() const
    {
        return find<QWidget>(QStringLiteral("gmail-saved-credentials"))->isVisible() &&
               !field("gmail-app-password")->isVisible();
    }

    GmailSetupView view;
    QList<std::pair<QString, QString>> results;
};

// Lets held keychain calls finish before the sheet that waits for them goes away.
struct ReleaseOnExit {
    FakeCredentialStore& store;
    ~ReleaseOnExit() { store.release(); }
};

QVariant rememberedAccount() { return QSettings().value(QStringLiteral("gmail_account")); }

// No keychain work of the sheet is on its way: nothing it started can still arrive.
bool idle(const QObject& view) { return view.findChildren<QFutureWatcherBase*>().isEmpty(); }

} // namespace

class TestGmailSetup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void labelsAndNames_data();
    void labelsAndNames();
    void useTemplateEnabled_data();
    void useTemplateEnabled();
    void savedCredentials();
    void changeAndOtherAccount_data();
    void changeAndOtherAccount();
    void sendToMyself();
    void handsBackCommand_data();
    void handsBackCommand();
    void refusesAddresses_data();
    void refusesAddresses();
    void failedSaveKeepsSheetOpen();
    void cancelWritesNothing_data();
    void cancelWritesNothing();
    void keysOfTheSheet();
    void slowKeychain_data();
    void slowKeychain();
    void runGmailSetupReturnsResult_data();
    void runGmailSetupReturnsResult();
    void helpSheet_data();
    void helpSheet();
    void fitsTheWindowItCovers_data();
    void fitsTheWindowItCovers();

private:
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<FakeCredentialStore> m_store;
    void rememberSavedAccount(bool withPassword);
};

void TestGmailSetup::initTestCase() { m_home = std::make_unique<TestHome>(); }

void TestGmailSetup::init()
{
    QSettings().clear();
    m_store = std::make_unique<FakeCredentialStore>();
}

void TestGmailSetup::rememberSavedAccount(bool withPassword)
{
    QSettings().setValue(QStringLiteral("gmail_account"), savedAccount);
    if (withPassword)
        m_store->put(service, savedAccount, QStringLiteral("old password"));
}

void TestGmailSetup::labelsAndNames_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("accessibleName");
    QTest::addColumn<QString>("placeholder");
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"gmail-address", "Gmail Address", "you@gmail.com"},
        {"gmail-app-password", "App Password", "xxxx xxxx xxxx xxxx"},
        {"gmail-to-address", "To", "recipient@example.com"},
        {"gmail-subject", "Subject", "Daily Reminder"},
        {"gmail-body", "Body", "Don't forget to check the report."},
        {"gmail-help", "How to get one?", ""},
        {"gmail-saved-credentials", "Saved in Keychain", ""},
        {"gmail-change-password", "Change", ""},
        {"gmail-send-to-myself", "Send to myself", ""},
        {"gmail-cancel", "Cancel", ""},
        {"gmail-use-template", "Use Template", ""},
    };
    for (const auto& [objectName, accessibleName, placeholder] : rows)
        QTest::newRow(objectName) << QString::fromUtf8(objectName)
                                  << QString::fromUtf8(accessibleName)
                                  << QString::fromUtf8(placeholder);
}

void TestGmailSetup::labelsAndNames()
{
    QFETCH(QString, objectName);
    QFETCH(QString, accessibleName);
    QFETCH(QString, placeholder);
    Sheet sheet(*m_store);
    QCOMPARE(sheet.view.windowTitle(), QStringLiteral("Gmail Template"));
    QWidget* widget = sheet.find<QWidget>(objectName);
    QCOMPARE(widget->accessibleName(), accessibleName);
    if (auto* button = qobject_cast<QPushButton*>(widget))
        QCOMPARE(button->text(), accessibleName);
    if (auto* line = qobject_cast<QLineEdit*>(widget))
        QCOMPARE(line->placeholderText(), placeholder);
    if (auto* editor = qobject_cast<QPlainTextEdit*>(widget))
        QCOMPARE(editor->placeholderText(), placeholder);
    // Fields carry a visible label of the same text.
    if (!placeholder.isEmpty()) {
        bool labelled = false;
        for (QLabel* label : sheet.view.findChildren<QLabel*>())
            labelled |= label->text() == accessibleName && label->isVisible();
        QVERIFY(labelled);
    }
}

void TestGmailSetup::useTemplateEnabled_data()
{
    QTest::addColumn<bool>("saved");
    QTest::addColumn<QStringList>("typed"); // address, password, recipient, subject
    QTest::addColumn<bool>("enabled");

    QTest::newRow("empty") << false << QStringList{"", "", "", ""} << false;
    QTest::newRow("all four") << false << QStringList{"me@gmail.com", "pw", "you@x.org", "Hi"}
                              << true;
    QTest::newRow("no address") << false << QStringList{"", "pw", "you@x.org", "Hi"} << false;
    QTest::newRow("no password") << false << QStringList{"me@gmail.com", "", "you@x.org", "Hi"}
                                 << false;
    QTest::newRow("no recipient") << false << QStringList{"me@gmail.com", "pw", "", "Hi"} << false;
    QTest::newRow("no subject") << false << QStringList{"me@gmail.com", "pw", "you@x.org", ""}
                                << false;
    // Fields count as typed; blanks are refused only when the template is used.
    QTest::newRow("blanks") << false << QStringList{" ", " ", " ", " "} << true;
    QTest::newRow("saved: recipient and subject")
        << true << QStringList{"", "", "you@x.org", "Hi"} << true;
    QTest::newRow("saved: no subject") << true << QStringList{"", "", "you@x.org", ""} << false;
}

void TestGmailSetup::useTemplateEnabled()
{
    QFETCH(bool, saved);
    QFETCH(QStringList, typed);
    QFETCH(bool, enabled);
    if (saved)
        rememberSavedAccount(true);
    Sheet sheet(*m_store);
    QVERIFY(!sheet.use()->isEnabled());
    if (saved)
        QTRY_VERIFY(sheet.showsSavedCredentials());
    const char* const fields[] = {"gmail-address", "gmail-app-password", "gmail-to-address",
                                  "gmail-subject"};
    for (int i = 0; i < 4; ++i) {
        if (sheet.field(fields[i])->isVisible())
            QTest::keyClicks(sheet.field(fields[i]), typed.at(i));
    }
    QCOMPARE(sheet.use()->isEnabled(), enabled);
    QCOMPARE(sheet.view.isComplete(), enabled);
}

void TestGmailSetup::savedCredentials()
{
    rememberSavedAccount(true);
    Sheet sheet(*m_store);
    QSignalSpy checked(&sheet.view, &GmailSetupView::credentialsChecked);
    QCOMPARE(sheet.field("gmail-address")->text(), savedAccount);
    QVERIFY(checked.wait());
    QVERIFY(sheet.showsSavedCredentials());
    QVERIFY(sheet.view.hasExistingCredentials());
    // The check mark beside the text.
    bool checkMark = false;
    for (QLabel* label :
         sheet.find<QWidget>(QStringLiteral("gmail-saved-credentials"))->findChildren<QLabel*>())
        checkMark |= !label->pixmap().isNull();
    QVERIFY(checkMark);

    sheet.field("gmail-to-address")->setText(QStringLiteral("you@x.org"));
    sheet.field("gmail-subject")->setText(QStringLiteral("Hi"));
    QTest::mouseClick(sheet.use(), Qt::LeftButton);
    QCOMPARE(sheet.results.size(), 1);
    QVERIFY(m_store->saves().isEmpty());
    QCOMPARE(sheet.results.at(0).first,
             *MailCommand::buildMailCommand(savedAccount, QStringLiteral("you@x.org"),
                                            QStringLiteral("Hi"), QString()));
}

void TestGmailSetup::changeAndOtherAccount_data()
{
    QTest::addColumn<bool>("passwordSaved");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("account");

    QTest::newRow("change") << true << "change" << savedAccount;
    // The saved password belongs to the saved address: another one needs its own.
    QTest::newRow("other address") << true << "other" << QStringLiteral("other@gmail.com");
    QTest::newRow("remembered account without password") << false << "" << savedAccount;
}

void TestGmailSetup::changeAndOtherAccount()
{
    QFETCH(bool, passwordSaved);
    QFETCH(QString, action);
    QFETCH(QString, account);
    rememberSavedAccount(passwordSaved);
    Sheet sheet(*m_store);
    QSignalSpy checked(&sheet.view, &GmailSetupView::credentialsChecked);
    QVERIFY(checked.wait());
    QCOMPARE(sheet.showsSavedCredentials(), passwordSaved);
    if (action == QLatin1String("change"))
        QTest::mouseClick(sheet.button("gmail-change-password"), Qt::LeftButton);
    if (action == QLatin1String("other"))
        sheet.field("gmail-address")->setText(account);
    QVERIFY(!sheet.showsSavedCredentials());
    QVERIFY(sheet.field("gmail-app-password")->isVisible());
    QCOMPARE(sheet.field("gmail-app-password")->text(), QString());

    sheet.field("gmail-to-address")->setText(QStringLiteral("you@x.org"));
    sheet.field("gmail-subject")->setText(QStringLiteral("Hi"));
    QVERIFY(!sheet.use()->isEnabled());
    sheet.field("gmail-app-password")->setText(QStringLiteral("new password"));
    QTest::mouseClick(sheet.use(), Qt::LeftButton);
    QTRY_COMPARE(sheet.results.size(), 1);
    QCOMPARE(m_store->saves().size(), 1);
    QCOMPARE(m_store->saves().at(0).account, account);
    QCOMPARE(m_store->item(service, account), QStringLiteral("new password"));
    QCOMPARE(rememberedAccount(), QVariant(account));
}

void TestGmailSetup::sendToMyself()
{
    Sheet sheet(*m_store);
    sheet.field("gmail-address")->setText(QStringLiteral(" me@gmail.com"));
    sheet.field("gmail-to-address")->setText(QStringLiteral("someone@x.org"));
    QTest::mouseClick(sheet.button("gmail-send-to-myself"), Qt::LeftButton);
    QCOMPARE(sheet.field("gmail-to-address")->text(), QStringLiteral(" me@gmail.com"));
}

void TestGmailSetup::handsBackCommand_data()
{
    QTest::addColumn<QStringList>("typed"); // address, password, to, subject, body
    QTest::addColumn<QStringList>("used");  // address, password, to, subject (as sent), name

    QTest::newRow("plain") << QStringList{"me@gmail.com", "pw", "you@x.org", "Daily Reminder", "Hi"}
                           << QStringList{"me@gmail.com", "pw", "you@x.org", "Daily Reminder",
                                          "Email: Daily Reminder"};
    QTest::newRow("spaces and tabs around")
        << QStringList{"  me@gmail.com\t", " p w \t", "\tyou@x.org ", " Daily Reminder  ",
                       "  keep  \n\"as typed\"\n"}
        << QStringList{"me@gmail.com", "p w", "you@x.org", "Daily Reminder",
                       "Email: Daily Reminder"};
    QTest::newRow("quotes in the subject")
        << QStringList{"me@gmail.com", "pw", "you@x.org", "Say \"hi\"", ""}
        << QStringList{"me@gmail.com", "pw", "you@x.org", "Say \"hi\"", "Email: Say \"hi\""};
    QTest::newRow("subject with line breaks is folded")
        << QStringList{"me@gmail.com", "pw", "you@x.org", "Hi\r\nBcc: x@y.z", ""}
        << QStringList{"me@gmail.com", "pw", "you@x.org", "Hi Bcc: x@y.z", "Email: Hi Bcc: x@y.z"};
}

void TestGmailSetup::handsBackCommand()
{
    QFETCH(QStringList, typed);
    QFETCH(QStringList, used);
    Sheet sheet(*m_store);
    sheet.fill(typed[0], typed[1], typed[2], typed[3], typed[4]);
    QTest::mouseClick(sheet.use(), Qt::LeftButton);
    QTRY_COMPARE(sheet.results.size(), 1);
    QCOMPARE(sheet.view.result(), int(QDialog::Accepted));
    QCOMPARE(m_store->item(service, used[0]), used[1]);
    QCOMPARE(rememberedAccount(), QVariant(used[0]));
    QCOMPARE(sheet.results.at(0).second, used[4]);
    const QString command = sheet.results.at(0).first;
    QCOMPARE(command, *MailCommand::buildMailCommand(used[0], used[2], used[3], typed[4]));
    QVERIFY(command.contains(QStringLiteral("\nSubject: ") + used[3] + u'\n'));
    QVERIFY(!command.contains(used[1]));
}

void TestGmailSetup::refusesAddresses_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("message");

    // Which characters are refused is the builder's table; here each field shows its message.
    const QString rule =
        QStringLiteral("cannot be used. Write it as name@example.com, with letters, digits and . "
                       "_ % + - only.");
    const QString sender = QStringLiteral("The Gmail address ") + rule;
    const QString recipient = QStringLiteral("The recipient ") + rule;
    const std::tuple<const char*, const char*, const char*, QString> rows[] = {
        {"sender: dollar", "gmail-address", "$(id)@gmail.com", sender},
        {"sender: double quote", "gmail-address", "a\"b@gmail.com", sender},
        {"sender: line break", "gmail-address", "me@gmail.com\nx", sender},
        {"sender: blank", "gmail-address", "  ", QStringLiteral("Enter the Gmail address.")},
        {"recipient: backquote", "gmail-to-address", "a`id`@x.org", recipient},
        {"recipient: backslash", "gmail-to-address", "a\\@x.org", recipient},
        {"recipient: header after a line break", "gmail-to-address", "you@x.org\r\nBcc: y@z.org",
         recipient},
        {"recipient: two addresses", "gmail-to-address", "a@x.org, b@x.org", recipient},
        {"recipient: blank", "gmail-to-address", "\t", QStringLiteral("Enter the recipient.")},
    };
    for (const auto& [row, field, address, message] : rows)
        QTest::newRow(row) << QString::fromLatin1(field) << QString::fromLatin1(address) << message;
}

void TestGmailSetup::refusesAddresses()
{
    QFETCH(QString, field);
    QFETCH(QString, address);
    QFETCH(QString, message);
    Sheet sheet(*m_store);
    sheet.fill(QStringLiteral("me@gmail.com"), QStringLiteral("pw"), QStringLiteral("you@x.org"),
               QStringLiteral("Hi"));
    sheet.find<QLineEdit>(field)->setText(address);
    QTest::mouseClick(sheet.use(), Qt::LeftButton);
    QCOMPARE(sheet.message(), message);
    QVERIFY(sheet.view.isVisible());
    QVERIFY(sheet.results.isEmpty());
    QVERIFY(m_store->saves().isEmpty());
    QVERIFY(!rememberedAccount().isValid());
    // Mending the field clears the message and lets the template through.
    sheet.find<QLineEdit>(field)->setText(QStringLiteral("ok@x.org"));
    QCOMPARE(sheet.message(), QString());
    QTest::mouseClick(sheet.use(), Qt::LeftButton);
    QTRY_COMPARE(sheet.results.size(), 1);
}

void TestGmailSetup::failedSaveKeepsSheetOpen()
{
    m_store->setSaveFailure(QStringLiteral("Cannot create an item in a locked collection"));
    Sheet sheet(*m_store);
    sheet.fill(QStringLiteral("me@gmail.com"), QStringLiteral("pw"), QStringLiteral("you@x.org"),
               QStringLiteral("Hi"));
    QTest::mouseClick(sheet.use(), Qt::LeftButton);
    QTRY_COMPARE(sheet.message(),
                 QStringLiteral("The password could not be saved in the keychain: Cannot create "
                                "an item in a locked collection"));
    QVERIFY(sheet.view.isVisible());
    QVERIFY(sheet.results.isEmpty());
    QVERIFY(!rememberedAccount().isValid());
    QVERIFY(sheet.use()->isEnabled());
    QVERIFY(sheet.field("gmail-app-password")->isEnabled());

    // Once the keychain takes it, the same sheet completes.
    m_store->setSaveFailure(std::nullopt);
    QTest::mouseClick(sheet.use(), Qt::LeftButton);
    QTRY_COMPARE(sheet.results.size(), 1);
    QCOMPARE(m_store->item(service, QStringLiteral("me@gmail.com")), QStringLiteral("pw"));
}

void TestGmailSetup::cancelWritesNothing_data()
{
    QTest::addColumn<bool>("escapeKey");
    QTest::newRow("Cancel button") << false;
    QTest::newRow("Escape key") << true;
}

void TestGmailSetup::cancelWritesNothing()
{
    QFETCH(bool, escapeKey);
    Sheet sheet(*m_store);
    sheet.fill(QStringLiteral("me@gmail.com"), QStringLiteral("pw"), QStringLiteral("you@x.org"),
               QStringLiteral("Hi"));
    if (escapeKey)
        QTest::keyClick(sheet.field("gmail-subject"), Qt::Key_Escape);
    else
        QTest::mouseClick(sheet.button("gmail-cancel"), Qt::LeftButton);
    QVERIFY(!sheet.view.isVisible());
    QCOMPARE(sheet.view.result(), int(QDialog::Rejected));
    QTRY_VERIFY_WITH_TIMEOUT(idle(sheet.view), TestSupport::eventTimeoutMs);
    QVERIFY(sheet.results.isEmpty());
    QVERIFY(m_store->saves().isEmpty());
    QVERIFY(!rememberedAccount().isValid());
}

void TestGmailSetup::keysOfTheSheet()
{
    Sheet sheet(*m_store);
    sheet.fill(QStringLiteral("me@gmail.com"), QStringLiteral("pw"), QStringLiteral("you@x.org"),
               QStringLiteral("Hi"), QStringLiteral("a"));
    // Return in the body is a new line, not the default button.
    auto* body = sheet.find<QPlainTextEdit>(QStringLiteral("gmail-body"));
    body->moveCursor(QTextCursor::End);
    QTest::keyClick(body, Qt::Key_Return);
    QTest::keyClicks(body, QStringLiteral("b"));
    QTRY_VERIFY_WITH_TIMEOUT(idle(sheet.view), TestSupport::eventTimeoutMs);
    QVERIFY(sheet.results.isEmpty());
    QCOMPARE(body->toPlainText(), QStringLiteral("a\nb"));
    // Return in a field uses the template.
    QTest::keyClick(sheet.field("gmail-subject"), Qt::Key_Return);
    QTRY_COMPARE(sheet.results.size(), 1);
    QVERIFY(sheet.results.at(0).first.contains(QStringLiteral("\na\nb\nBRENMORMAIL\n")));
}

void TestGmailSetup::slowKeychain_data()
{
    QTest::addColumn<bool>("typedMeanwhile");
    QTest::newRow("untouched") << false;
    QTest::newRow("password typed while looking") << true;
}

// The sheet works while the keychain is slow; a password typed meanwhile is not hidden, and a
// second Return does not save twice.
void TestGmailSetup::slowKeychain()
{
    QFETCH(bool, typedMeanwhile);
    rememberSavedAccount(true);
    m_store->hold();
    Sheet sheet(*m_store);
    ReleaseOnExit releaser{*m_store};
    QSignalSpy checked(&sheet.view, &GmailSetupView::credentialsChecked);
    QVERIFY(QTest::qWaitForWindowExposed(&sheet.view));
    QVERIFY(sheet.field("gmail-app-password")->isVisible());
    if (typedMeanwhile)
        sheet.field("gmail-app-password")->setText(QStringLiteral("typed"));
    m_store->release();
    QVERIFY(checked.wait());
    QCOMPARE(sheet.showsSavedCredentials(), !typedMeanwhile);

    sheet.field("gmail-to-address")->setText(QStringLiteral("you@x.org"));
    sheet.field("gmail-subject")->setText(QStringLiteral("Hi"));
    m_store->hold();
    QTest::keyClick(sheet.field("gmail-subject"), Qt::Key_Return);
    if (typedMeanwhile) {
        QCOMPARE(sheet.message(), QStringLiteral("Saving the password in the keychain…"));
        QVERIFY(!sheet.use()->isEnabled());
        QVERIFY(!sheet.field("gmail-subject")->isEnabled());
        // Cancel cannot leave a password behind that the user gave up on: it waits, disabled,
        // and Escape does nothing until the keychain has answered.
        QVERIFY(!sheet.button("gmail-cancel")->isEnabled());
        QTest::keyClick(&sheet.view, Qt::Key_Escape);
        sheet.view.reject();
        QVERIFY(sheet.view.isVisible());
        QTest::keyClick(&sheet.view, Qt::Key_Return);
        // Held in the keychain: nothing can come yet; a second save would show below.
        QVERIFY(sheet.results.isEmpty());
    }
    m_store->release();
    QTRY_COMPARE(sheet.results.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(idle(sheet.view), TestSupport::eventTimeoutMs);
    QCOMPARE(sheet.results.size(), 1);
    QCOMPARE(m_store->saves().size(), typedMeanwhile ? 1 : 0);
}

void TestGmailSetup::runGmailSetupReturnsResult_data()
{
    QTest::addColumn<bool>("useTemplate");
    QTest::newRow("used") << true;
    QTest::newRow("cancelled") << false;
}

void TestGmailSetup::runGmailSetupReturnsResult()
{
    QFETCH(bool, useTemplate);
    QWidget window;
    window.resize(700, 700);
    window.show();
    bool answered = false;
    QTimer::singleShot(0, this, [&] {
        auto* sheet = qobject_cast<GmailSetupView*>(QApplication::activeModalWidget());
        if (!sheet)
            return;
        answered = true;
        const auto set = [sheet](const char* name, const QString& text) {
            sheet->findChild<QLineEdit*>(QLatin1String(name))->setText(text);
        };
        set("gmail-address", QStringLiteral("me@gmail.com"));
        set("gmail-app-password", QStringLiteral("pw"));
        set("gmail-to-address", QStringLiteral("you@x.org"));
        set("gmail-subject", QStringLiteral("Daily Reminder"));
        if (useTemplate)
            sheet->useTemplate();
        else
            sheet->reject();
    });
    const auto result = runGmailSetup(&window, *m_store);
    QVERIFY(answered);
    if (!useTemplate) {
        QCOMPARE(result, std::nullopt);
        return;
    }
    QVERIFY(result);
    QCOMPARE(result->second, QStringLiteral("Email: Daily Reminder"));
    QCOMPARE(result->first, *MailCommand::buildMailCommand(
                                QStringLiteral("me@gmail.com"), QStringLiteral("you@x.org"),
                                QStringLiteral("Daily Reminder"), QString()));
}

void TestGmailSetup::helpSheet_data()
{
    QTest::addColumn<bool>("browserOpens");
    QTest::newRow("browser opens") << true;
    QTest::newRow("no browser") << false;
}

void TestGmailSetup::helpSheet()
{
    QFETCH(bool, browserOpens);
    QList<QUrl> opened;
    Sheet sheet(*m_store, nullptr, [&opened, browserOpens](const QUrl& url) {
        opened.append(url);
        return browserOpens;
    });
    QTest::mouseClick(sheet.button("gmail-help"), Qt::LeftButton);
    GmailHelpView* help = sheet.view.helpView();
    QVERIFY(help);
    QVERIFY(help->isVisible());
    QCOMPARE(help->windowTitle(), QStringLiteral("How to create a Gmail App Password"));
    QCOMPARE(help->width(), 420);
    const QStringList steps = GmailHelpView::stepTexts();
    QCOMPARE(steps.size(), 6);
    QCOMPARE(steps.at(3), QStringLiteral("Enter app name (e.g. \"Brenmor Ops\")"));
    for (int i = 0; i < steps.size(); ++i) {
        auto* step = help->findChild<QLabel*>(QStringLiteral("gmail-help-step-%1").arg(i + 1));
        QVERIFY(step);
        QCOMPARE(step->text(), steps.at(i));
    }

    QTest::mouseClick(help->findChild<QPushButton*>(QStringLiteral("gmail-help-open-page")),
                      Qt::LeftButton);
    QCOMPARE(opened,
             QList<QUrl>{QUrl(QStringLiteral("https://myaccount.google.com/apppasswords"))});
    auto* failed = help->findChild<QLabel*>(QStringLiteral("gmail-help-open-failed"));
    QCOMPARE(failed->isVisible(), !browserOpens);
    if (!browserOpens)
        QVERIFY(
            failed->text().endsWith(QStringLiteral("https://myaccount.google.com/apppasswords")));

    QTest::mouseClick(help->findChild<QPushButton*>(QStringLiteral("gmail-help-done")),
                      Qt::LeftButton);
    QTRY_VERIFY(!sheet.view.helpView());
    QVERIFY(sheet.view.isVisible());
}

void TestGmailSetup::fitsTheWindowItCovers_data()
{
    QTest::addColumn<int>("windowHeight");
    QTest::addColumn<int>("sheetHeight");
    QTest::newRow("no window") << 0 << 580;
    QTest::newRow("tall window") << 800 << 580;
    QTest::newRow("short window") << 500 << 500;
}

void TestGmailSetup::fitsTheWindowItCovers()
{
    QFETCH(int, windowHeight);
    QFETCH(int, sheetHeight);
    QWidget window;
    window.resize(700, std::max(windowHeight, 1));
    if (windowHeight)
        window.show();
    Sheet sheet(*m_store, windowHeight ? &window : nullptr);
    QCOMPARE(sheet.view.size(), QSize(480, sheetHeight));
    // Everything stays reachable: the sections scroll when they do not fit.
    auto* body = sheet.find<QPlainTextEdit>(QStringLiteral("gmail-body"));
    QVERIFY(body->height() >= body->minimumHeight());
    QVERIFY(sheet.use()->isVisible());
}

QTEST_MAIN(TestGmailSetup)
#include "TestGmailSetup.moc"
