#include "WidgetDialogs.h"

#include "AddTaskView.h"
#include "CredentialStore.h"
#include "EditTaskView.h"
#include "GmailSetupView.h"
#include "ShortcutsPickerView.h"
#include "TestRunView.h"

#include <QFileDialog>
#include <QMessageBox>

void WidgetDialogs::alert(QWidget* parent, AlertStyle style, const QString& title,
                          const QString& text)
{
    QMessageBox* box = DialogBoxes::makeAlert(parent, style, title, text);
    box->exec();
    box->deleteLater();
}

bool WidgetDialogs::confirmDelete(QWidget* parent, const QString& title, const QString& text)
{
    QAbstractButton* remove = nullptr;
    QMessageBox* box = DialogBoxes::makeDeleteConfirmation(parent, title, text, &remove);
    box->exec();
    const bool confirmed = box->clickedButton() == remove;
    box->deleteLater();
    return confirmed;
}

std::optional<QString> WidgetDialogs::saveJsonFile(QWidget* parent, const QString& suggestedName)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("JSON (*.json)"));
    dialog.setDefaultSuffix(QStringLiteral("json"));
    dialog.selectFile(suggestedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> WidgetDialogs::openJsonFile(QWidget* parent)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("JSON (*.json)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<ScheduledTask> WidgetDialogs::addTask(QWidget* parent, TaskStore& store)
{
    AddTaskView sheet(store, *this, parent);
    std::optional<ScheduledTask> created;
    QObject::connect(&sheet, &AddTaskView::created, &sheet,
                     [&created](const ScheduledTask& task) { created = task; });
    sheet.exec();
    return created;
}

void WidgetDialogs::editTask(QWidget* parent, TaskStore& store, const ScheduledTask& task)
{
    EditTaskView sheet(store, *this, task, parent);
    sheet.exec();
}

void WidgetDialogs::testRun(QWidget* parent, const ScheduledTask& task)
{
    TestRunView sheet(task, parent);
    sheet.exec();
}

namespace {
std::optional<QString> chooseOne(QWidget* parent, QFileDialog::FileMode mode)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(mode);
    if (mode == QFileDialog::Directory)
        dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}
} // namespace

std::optional<QString> WidgetDialogs::chooseFolder(QWidget* parent)
{
    return chooseOne(parent, QFileDialog::Directory);
}

std::optional<QString> WidgetDialogs::chooseFile(QWidget* parent)
{
    return chooseOne(parent, QFileDialog::ExistingFile);
}

std::optional<QString> WidgetDialogs::chooseShortcut(QWidget* parent)
{
    ShortcutsPickerView sheet(parent);
    if (sheet.exec() != QDialog::Accepted || sheet.chosen().isEmpty())
        return std::nullopt;
    return sheet.chosen();
}

std::optional<std::pair<QString, QString>> WidgetDialogs::mailTemplate(QWidget* parent)
{
    // The sheet waits for its keychain calls before it closes, so a store local to this call
    // outlives every use.
    SystemCredentialStore store;
    return runGmailSetup(parent, store);
}
