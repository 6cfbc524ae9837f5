#include "PendingSheet.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace PendingSheet {

void build(QDialog& sheet, const QString& title)
{
    sheet.setWindowTitle(title);
    sheet.setModal(true);
    sheet.setFixedSize(520, 640);
    auto* layout = new QVBoxLayout(&sheet);
    auto* heading = new QLabel(title, &sheet);
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * 1.3);
    font.setBold(true);
    heading->setFont(font);
    auto* text = new QLabel(QStringLiteral("The task form arrives in a later version."), &sheet);
    text->setObjectName(QStringLiteral("pending-sheet-text"));
    text->setWordWrap(true);
    layout->addWidget(heading);
    layout->addWidget(text);
    layout->addStretch();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &sheet);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
    QObject::connect(buttons, &QDialogButtonBox::rejected, &sheet, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace PendingSheet
