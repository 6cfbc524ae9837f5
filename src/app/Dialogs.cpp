#include "Dialogs.h"

#include "RowPainting.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>

namespace DialogBoxes {

namespace {

// Longer messages show their start and keep the whole text behind "Show Details...", whose box
// scrolls, so an alert never grows past the screen.
constexpr int maxShownLines = 12;
constexpr int maxShownCharacters = 700;

// The title in bold over the message, in a box wide enough that short messages do not wrap
// into a narrow column. The message is plain text: it wraps at spaces, and a quoted name stays
// as typed.
void setTexts(QMessageBox* box, const QString& title, const QString& text)
{
    box->setWindowTitle(title);
    box->setTextFormat(Qt::RichText);
    box->setText(QStringLiteral("<b>") + title.toHtmlEscaped() + QStringLiteral("</b>"));
    QString shown = text;
    const QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.size() > maxShownLines || text.size() > maxShownCharacters) {
        shown = lines.mid(0, maxShownLines).join(QLatin1Char('\n')).left(maxShownCharacters) +
                QStringLiteral("\u2026");
        box->setDetailedText(text);
    }
    box->setInformativeText(shown);
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 24em; }"));
}

} // namespace

QMessageBox* makeAlert(QWidget* parent, Dialogs::AlertStyle style, const QString& title,
                       const QString& text)
{
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("alert"));
    switch (style) {
    case Dialogs::AlertStyle::informational:
        box->setIcon(QMessageBox::Information);
        break;
    case Dialogs::AlertStyle::warning:
        box->setIcon(QMessageBox::Warning);
        break;
    case Dialogs::AlertStyle::critical:
        box->setIcon(QMessageBox::Critical);
        break;
    }
    setTexts(box, title, text);
    box->setStandardButtons(QMessageBox::Ok);
    box->setWindowModality(Qt::WindowModal);
    return box;
}

QMessageBox* makeDeleteConfirmation(QWidget* parent, const QString& title, const QString& text,
                                    QAbstractButton** deleteButton)
{
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("delete-confirmation"));
    box->setIcon(QMessageBox::Warning);
    setTexts(box, title, text);
    QPushButton* cancel = box->addButton(QMessageBox::Cancel);
    cancel->setText(QStringLiteral("Cancel"));
    QPushButton* remove = box->addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    remove->setObjectName(QStringLiteral("confirm-delete"));
    cancel->setObjectName(QStringLiteral("confirm-cancel"));
    // Plain buttons like the platform's alerts: no symbol on one and not the other; the
    // destructive one says so in the failure colour.
    cancel->setIcon(QIcon());
    remove->setIcon(QIcon());
    // The box carries a style sheet, which would override a palette set on the button.
    box->setStyleSheet(box->styleSheet() +
                       QStringLiteral(" QPushButton#confirm-delete { color: %1; }")
                           .arg(RowPainting::failureColor(box->palette()).name()));
    // Return must not delete by accident: the default button is the harmless one.
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->setWindowModality(Qt::WindowModal);
    if (deleteButton)
        *deleteButton = remove;
    return box;
}

} // namespace DialogBoxes
