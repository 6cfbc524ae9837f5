#include "GmailSetupView.h"

#include "CredentialStore.h"
#include "Icons.h"
#include "MailCommand.h"
#include "RowPainting.h"
#include "SheetSize.h"

#include <QFutureWatcher>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <type_traits>

namespace {

const QString accountKey = QStringLiteral("gmail_account");
const QString addressRule =
    QStringLiteral("Write it as name@example.com, with letters, digits and . _ % + - only.");

template <typename Widget>
Widget* named(Widget* widget, const QString& objectName, const QString& accessibleName)
{
    widget->setObjectName(objectName);
    widget->setAccessibleName(accessibleName);
    return widget;
}

// A field under its label (in `caption`, before anything already there); the label is the
// field's accessible name.
template <typename Field>
Field* addField(QVBoxLayout* layout, const QString& label, const QString& objectName,
                const QString& placeholder, QHBoxLayout* caption = nullptr)
{
    QWidget* section = layout->parentWidget();
    auto* text = new QLabel(label, section);
    QFont font = text->font();
    font.setWeight(QFont::DemiBold);
    text->setFont(font);
    if (caption) {
        caption->insertWidget(0, text);
        layout->addLayout(caption);
    } else {
        layout->addWidget(text);
    }
    auto* field = named(new Field(section), objectName, label);
    field->setPlaceholderText(placeholder);
    layout->addWidget(field);
    return field;
}

// A button drawn as a link, for the small secondary actions beside the fields.
QPushButton* linkButton(const QString& text, const QString& objectName, QWidget* parent,
                        qreal fontScale = 1.0)
{
    auto* button = named(new QPushButton(text, parent), objectName, text);
    button->setAutoDefault(false);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { border: none; padding: 0px; color: palette(link); text-align: left; }"
        "QPushButton:hover { text-decoration: underline; }"
        "QPushButton:disabled { color: palette(mid); }"));
    QFont font = button->font();
    font.setPointSizeF(font.pointSizeF() * fontScale);
    button->setFont(font);
    button->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    return button;
}

QString addressProblem(const QString& field, const QString& address)
{
    if (address.isEmpty())
        return QStringLiteral("Enter the %1.").arg(field);
    return QStringLiteral("The %1 cannot be used. %2").arg(field, addressRule);
}

} // namespace

GmailSetupView::GmailSetupView(CredentialStore& store, QWidget* parent,
                               GmailHelpView::UrlOpener openUrl)
    : QDialog(parent), m_store(store), m_openUrl(std::move(openUrl))
{
    const QString title = QStringLiteral("Gmail Template");
    setObjectName(QStringLiteral("gmail-setup-sheet"));
    setWindowTitle(title);
    setModal(true);
    SheetSize::fit(*this, QSize(480, 580));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(10);
    layout->addWidget(makeSheetHeadline(title, QStringLiteral("gmail-title"), this));

    // The sections scroll when the window the sheet covers is shorter than the sheet.
    auto* content = new QWidget;
    auto* sections = new QVBoxLayout(content);
    sections->setContentsMargins(0, 0, 0, 0);
    sections->setSpacing(12);
    sections->addWidget(makeAccountSection());
    sections->addWidget(makeEmailSection(), 1);
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("gmail-sections"));
    m_scroll->setWidget(content);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(m_scroll, 1);

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("gmail-message"));
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);
    m_message->hide();
    layout->addWidget(m_message);

    auto* cancel = named(new QPushButton(QStringLiteral("Cancel"), this),
                         QStringLiteral("gmail-cancel"), QStringLiteral("Cancel"));
    cancel->setAutoDefault(false);
    m_cancel = cancel;
    connect(cancel, &QPushButton::clicked, this, &GmailSetupView::reject);
    m_use = named(new QPushButton(QStringLiteral("Use Template"), this),
                  QStringLiteral("gmail-use-template"), QStringLiteral("Use Template"));
    m_use->setDefault(true);
    connect(m_use, &QPushButton::clicked, this, &GmailSetupView::useTemplate);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(m_use);
    layout->addLayout(buttons);

    for (QLineEdit* field : {m_address, m_password, m_to, m_subject})
        connect(field, &QLineEdit::textChanged, this, [this] {
            showMessage(QString(), false);
            refresh();
        });
    connect(m_body, &QPlainTextEdit::textChanged, this, [this] { showMessage(QString(), false); });

    const QString account = QSettings().value(accountKey).toString();
    m_address->setText(account);
    refresh();
    if (!account.isEmpty())
        checkSavedCredentials(account);
}

GmailSetupView::~GmailSetupView()
{
    // Keychain calls still running use m_store; they end on their own within the keychain's
    // time limit.
    for (QFuture<void>& pending : m_pending)
        pending.waitForFinished();
}

QWidget* GmailSetupView::makeAccountSection()
{
    auto* section = new QGroupBox(QStringLiteral("Gmail Account"));
    section->setObjectName(QStringLiteral("gmail-account-section"));
    auto* layout = new QVBoxLayout(section);
    layout->setSpacing(4);

    m_address =
        addField<QLineEdit>(layout, QStringLiteral("Gmail Address"),
                            QStringLiteral("gmail-address"), QStringLiteral("you@gmail.com"));
    layout->addSpacing(6);

    auto* passwordCaption = new QHBoxLayout;
    passwordCaption->addSpacing(6);
    auto* help =
        linkButton(QStringLiteral("How to get one?"), QStringLiteral("gmail-help"), section, 0.85);
    connect(help, &QPushButton::clicked, this, &GmailSetupView::showHelp);
    passwordCaption->addWidget(help);
    passwordCaption->addStretch();

    m_password = addField<QLineEdit>(layout, QStringLiteral("App Password"),
                                     QStringLiteral("gmail-app-password"),
                                     QStringLiteral("xxxx xxxx xxxx xxxx"), passwordCaption);
    m_password->setEchoMode(QLineEdit::Password);

    const QString savedText = QStringLiteral("Saved in Keychain");
    m_savedRow = named(new QWidget(section), QStringLiteral("gmail-saved-credentials"), savedText);
    auto* savedLayout = new QHBoxLayout(m_savedRow);
    savedLayout->setContentsMargins(0, 2, 0, 2);
    auto* check = new QLabel(m_savedRow);
    check->setPixmap(Icons::pixmap(QStringLiteral("checkmark.circle.fill"), 16,
                                   m_savedRow->devicePixelRatioF()));
    savedLayout->addWidget(check);
    savedLayout->addWidget(new QLabel(savedText, m_savedRow));
    savedLayout->addStretch();
    auto* change = named(new QPushButton(QStringLiteral("Change"), m_savedRow),
                         QStringLiteral("gmail-change-password"), QStringLiteral("Change"));
    change->setAutoDefault(false);
    connect(change, &QPushButton::clicked, this, &GmailSetupView::changePassword);
    savedLayout->addWidget(change);
    layout->addWidget(m_savedRow);
    return section;
}

QWidget* GmailSetupView::makeEmailSection()
{
    auto* section = new QGroupBox(QStringLiteral("Email"));
    section->setObjectName(QStringLiteral("gmail-email-section"));
    auto* layout = new QVBoxLayout(section);
    layout->setSpacing(4);

    m_to = addField<QLineEdit>(layout, QStringLiteral("To"), QStringLiteral("gmail-to-address"),
                               QStringLiteral("recipient@example.com"));
    auto* toMyself = linkButton(QStringLiteral("Send to myself"),
                                QStringLiteral("gmail-send-to-myself"), section, 0.85);
    connect(toMyself, &QPushButton::clicked, this, &GmailSetupView::sendToMyself);
    layout->addWidget(toMyself);
    layout->addSpacing(6);

    m_subject =
        addField<QLineEdit>(layout, QStringLiteral("Subject"), QStringLiteral("gmail-subject"),
                            QStringLiteral("Daily Reminder"));
    layout->addSpacing(6);

    m_body = addField<QPlainTextEdit>(layout, QStringLiteral("Body"), QStringLiteral("gmail-body"),
                                      QStringLiteral("Don't forget to check the report."));
    layout->setStretchFactor(m_body, 1);
    m_body->setTabChangesFocus(true);
    m_body->setMinimumHeight(60);
    return section;
}

template <typename Work, typename Done> void GmailSetupView::runOffThread(Work work, Done done)
{
    using Value = std::invoke_result_t<Work>;
    m_pending.removeIf([](const QFuture<void>& pending) { return pending.isFinished(); });
    auto* watcher = new QFutureWatcher<Value>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [watcher, done = std::move(done)] {
        done(watcher->result());
        watcher->deleteLater();
    });
    QFuture<Value> future = QtConcurrent::run(std::move(work));
    m_pending.append(QFuture<void>(future));
    watcher->setFuture(future);
}

void GmailSetupView::checkSavedCredentials(const QString& account)
{
    CredentialStore& store = m_store;
    runOffThread([&store, account] { return store.load(MailCommand::keychainService(), account); },
                 [this, account](const std::optional<QString>& password) {
                     // A password typed meanwhile is the user's answer; keep it.
                     if (password && m_password->text().isEmpty()) {
                         m_savedAccount = account;
                         refresh();
                     }
                     Q_EMIT credentialsChecked();
                 });
}

bool GmailSetupView::hasExistingCredentials() const
{
    // Tied to the address: another account typed in needs its own password.
    return !m_savedAccount.isEmpty() &&
           MailCommand::trimSpacesAndTabs(m_address->text()) == m_savedAccount;
}

bool GmailSetupView::isComplete() const
{
    return !m_address->text().isEmpty() &&
           (hasExistingCredentials() || !m_password->text().isEmpty()) && !m_to->text().isEmpty() &&
           !m_subject->text().isEmpty();
}

void GmailSetupView::refresh()
{
    const bool saved = hasExistingCredentials();
    m_password->setVisible(!saved);
    m_savedRow->setVisible(saved);
    m_scroll->widget()->setEnabled(!m_saving);
    m_use->setEnabled(!m_saving && isComplete());
    m_cancel->setEnabled(!m_saving);
}

void GmailSetupView::reject()
{
    if (m_saving)
        return;
    QDialog::reject();
}

void GmailSetupView::showMessage(const QString& text, bool isError)
{
    m_message->setText(text);
    m_message->setStyleSheet(
        isError ? QStringLiteral("color: %1;").arg(RowPainting::failureColor(palette()).name())
                : QString());
    m_message->setVisible(!text.isEmpty());
}

void GmailSetupView::sendToMyself() { m_to->setText(m_address->text()); }

void GmailSetupView::changePassword()
{
    m_savedAccount.clear();
    m_password->clear();
    refresh();
    m_password->setFocus();
}

void GmailSetupView::showHelp()
{
    if (m_help)
        return;
    m_help = new GmailHelpView(this, m_openUrl);
    m_help->setAttribute(Qt::WA_DeleteOnClose);
    m_help->open();
}

void GmailSetupView::useTemplate()
{
    if (m_saving || !isComplete())
        return;
    const QString address = MailCommand::trimSpacesAndTabs(m_address->text());
    const QString recipient = MailCommand::trimSpacesAndTabs(m_to->text());
    if (!MailCommand::isUsableAddress(address)) {
        showMessage(addressProblem(QStringLiteral("Gmail address"), address), true);
        m_address->setFocus();
        return;
    }
    if (!MailCommand::isUsableAddress(recipient)) {
        showMessage(addressProblem(QStringLiteral("recipient"), recipient), true);
        m_to->setFocus();
        return;
    }
    if (hasExistingCredentials()) {
        finish();
        return;
    }
    const QString password = MailCommand::trimSpacesAndTabs(m_password->text());
    if (password.isEmpty()) {
        showMessage(QStringLiteral("Enter the app password."), true);
        m_password->setFocus();
        return;
    }
    // The command is only handed back once the password is really stored: without it the
    // step could never send.
    m_saving = true;
    showMessage(QStringLiteral("Saving the password in the keychain…"), false);
    refresh();
    CredentialStore& store = m_store;
    runOffThread(
        [&store, address, password] {
            return store.save(MailCommand::keychainService(), address, password);
        },
        [this, address](const Result<void>& saved) {
            m_saving = false;
            if (!saved.ok()) {
                showMessage(QStringLiteral("The password could not be saved in the keychain: ") +
                                saved.message(),
                            true);
                refresh();
                return;
            }
            m_savedAccount = address;
            refresh();
            finish();
        });
}

void GmailSetupView::finish()
{
    const QString address = MailCommand::trimSpacesAndTabs(m_address->text());
    const QString subject = MailCommand::subjectLine(m_subject->text());
    const std::optional<QString> command = MailCommand::buildMailCommand(
        address, MailCommand::trimSpacesAndTabs(m_to->text()), subject, m_body->toPlainText());
    if (!command)
        return; // useTemplate checked both addresses; nothing else refuses them
    QSettings().setValue(accountKey, address);
    Q_EMIT completed(*command, QStringLiteral("Email: ") + subject);
    accept();
}

void GmailSetupView::showEvent(QShowEvent* event)
{
    SheetSize::fit(*this, QSize(480, 580));
    QDialog::showEvent(event);
}

std::optional<std::pair<QString, QString>> runGmailSetup(QWidget* parent, CredentialStore& store)
{
    GmailSetupView sheet(store, parent);
    std::optional<std::pair<QString, QString>> result;
    QObject::connect(&sheet, &GmailSetupView::completed, &sheet,
                     [&result](const QString& command, const QString& suggestedName) {
                         result.emplace(command, suggestedName);
                     });
    sheet.exec();
    return result;
}
