#pragma once

#include "GmailHelpView.h"

#include <QDialog>
#include <QFuture>
#include <QList>
#include <QPointer>

#include <optional>
#include <utility>

class CredentialStore;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;

// The "Gmail Template" sheet: collects a Gmail account and app password, a recipient, a
// subject and a body, keeps the password in the user's keychain and the account in the
// setting "gmail_account", and hands back a ready mail command with a suggested task name.
// Keychain calls run off the GUI thread; the sheet stays responsive while they do.
class GmailSetupView final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GmailSetupView)

public:
    // `store` must outlive the sheet. `openUrl` opens the app-password page from the help sheet.
    explicit GmailSetupView(CredentialStore& store, QWidget* parent = nullptr,
                            GmailHelpView::UrlOpener openUrl = {});
    ~GmailSetupView() override;

    // A password for the address in the field is already in the keychain.
    bool hasExistingCredentials() const;
    // Everything "Use Template" needs is filled in.
    bool isComplete() const;
    // The help sheet while it is open (the screenshot tool draws it).
    GmailHelpView* helpView() const { return m_help; }

public Q_SLOTS:
    void useTemplate();
    void sendToMyself();
    void changePassword();
    void showHelp();
    // Cancel, Escape and the window's close button: nothing while the password is being saved
    // (Cancel is disabled then), so a cancelled sheet never leaves a password behind.
    void reject() override;

Q_SIGNALS:
    // The command and "Email: " + the subject; emitted once, just before the sheet closes.
    void completed(const QString& command, const QString& suggestedName);
    // The keychain has answered whether the remembered account has a saved password.
    void credentialsChecked();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeAccountSection();
    QWidget* makeEmailSection();
    void checkSavedCredentials(const QString& account);
    void finish();
    void refresh();
    void showMessage(const QString& text, bool isError);
    template <typename Work, typename Done> void runOffThread(Work work, Done done);

    CredentialStore& m_store;
    GmailHelpView::UrlOpener m_openUrl;
    // The account whose password the keychain holds; empty when none or after "Change".
    QString m_savedAccount;
    bool m_saving = false;
    QList<QFuture<void>> m_pending;

    QScrollArea* m_scroll = nullptr;
    QLineEdit* m_address = nullptr;
    QLineEdit* m_password = nullptr;
    QWidget* m_savedRow = nullptr;
    QLineEdit* m_to = nullptr;
    QLineEdit* m_subject = nullptr;
    QPlainTextEdit* m_body = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_use = nullptr;
    QPushButton* m_cancel = nullptr;
    QPointer<GmailHelpView> m_help;
};

// Shows the sheet modally over `parent`; the command and suggested name, or nothing when
// the user cancelled.
std::optional<std::pair<QString, QString>> runGmailSetup(QWidget* parent, CredentialStore& store);
