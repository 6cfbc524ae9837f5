#include "GmailHelpView.h"

#include "MailCommand.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QLabel* makeSheetHeadline(const QString& title, const QString& objectName, QWidget* parent)
{
    auto* heading = new QLabel(title, parent);
    heading->setObjectName(objectName);
    QFont font = heading->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.15);
    heading->setFont(font);
    return heading;
}

QStringList GmailHelpView::stepTexts()
{
    return {
        QStringLiteral("Go to your Google Account security settings"),
        QStringLiteral("Ensure 2-Step Verification is enabled"),
        QStringLiteral("Visit the App Passwords page"),
        QStringLiteral("Enter app name (e.g. \"Brenmor Ops\")"),
        QStringLiteral("Copy the generated 16-character password"),
#ifdef Q_OS_MACOS
        QStringLiteral("Paste it here — it will be stored in your Mac's Keychain"),
#else
        // There is no Mac here: the password goes to the desktop's keyring.
        QStringLiteral("Paste it here — it will be stored in your login keyring"),
#endif
    };
}

GmailHelpView::GmailHelpView(QWidget* parent, UrlOpener openUrl)
    : QDialog(parent), m_openUrl(std::move(openUrl))
{
    if (!m_openUrl)
        m_openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    const QString title = QStringLiteral("How to create a Gmail App Password");
    setObjectName(QStringLiteral("gmail-help-sheet"));
    setWindowTitle(title);
    setModal(true);
    setFixedWidth(420);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);
    layout->addWidget(makeSheetHeadline(title, QStringLiteral("gmail-help-title"), this));

    auto* steps = new QGridLayout;
    steps->setHorizontalSpacing(8);
    steps->setVerticalSpacing(12);
    steps->setColumnStretch(1, 1);
    const QStringList texts = stepTexts();
    for (int i = 0; i < texts.size(); ++i) {
        const QString number = QString::number(i + 1);
        auto* numberLabel = new QLabel(number, this);
        QFont numberFont = numberLabel->font();
        numberFont.setBold(true);
        numberLabel->setFont(numberFont);
        numberLabel->setForegroundRole(QPalette::PlaceholderText);
        numberLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
        auto* text = new QLabel(texts.at(i), this);
        text->setObjectName(QStringLiteral("gmail-help-step-") + number);
        text->setAccessibleName(number + QStringLiteral(". ") + texts.at(i));
        text->setTextFormat(Qt::PlainText);
        text->setWordWrap(true);
        steps->addWidget(numberLabel, i, 0);
        steps->addWidget(text, i, 1);
    }
    layout->addLayout(steps);

    auto* open = new QPushButton(QStringLiteral("Open App Passwords Page"), this);
    open->setObjectName(QStringLiteral("gmail-help-open-page"));
    open->setAutoDefault(false);
    auto* failed = new QLabel(this);
    failed->setObjectName(QStringLiteral("gmail-help-open-failed"));
    failed->setWordWrap(true);
    failed->setTextInteractionFlags(Qt::TextSelectableByMouse);
    failed->hide();
    connect(open, &QPushButton::clicked, this, [this, failed] {
        const QUrl page(MailCommand::appPasswordsPage());
        if (m_openUrl(page))
            return;
        // Without a browser the address is still of use: it can be copied from here.
        failed->setText(QStringLiteral("No browser could be opened. The page is at ") +
                        page.toString());
        failed->show();
    });
    open->setAccessibleName(open->text());
    auto* done = new QPushButton(QStringLiteral("Done"), this);
    done->setObjectName(QStringLiteral("gmail-help-done"));
    done->setAccessibleName(done->text());
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(open);
    buttons->addStretch();
    buttons->addWidget(done);
    layout->addSpacing(4);
    layout->addLayout(buttons);
    layout->addWidget(failed);
}
