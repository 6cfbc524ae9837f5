#pragma once

#include "ScheduledTask.h"

#include <QMessageBox>
#include <QString>

#include <optional>
#include <utility>

class QWidget;
class TaskStore;

// Every modal question, alert, file panel and task sheet the window shows goes through here, so
// tests (and the screenshot tool) answer them without a user.
class Dialogs {
public:
    enum class AlertStyle { informational, warning, critical };

    virtual ~Dialogs() = default;

    // A modal alert with one "OK" button.
    virtual void alert(QWidget* parent, AlertStyle style, const QString& title,
                       const QString& text) = 0;
    // A confirmation with "Cancel" (the cancel key) and a destructive "Delete"; true on Delete.
    virtual bool confirmDelete(QWidget* parent, const QString& title, const QString& text) = 0;
    // A save panel for a JSON file proposing `suggestedName`; the chosen path, or nothing.
    virtual std::optional<QString> saveJsonFile(QWidget* parent, const QString& suggestedName) = 0;
    // An open panel for one JSON file; the chosen path, or nothing.
    virtual std::optional<QString> openJsonFile(QWidget* parent) = 0;
    // The add sheet; the task it created, or nothing when cancelled.
    virtual std::optional<ScheduledTask> addTask(QWidget* parent, TaskStore& store) = 0;
    // The edit sheet for `task`.
    virtual void editTask(QWidget* parent, TaskStore& store, const ScheduledTask& task) = 0;
    // The test run sheet for `task`'s command, folder, .env file and shell; returns when closed.
    virtual void testRun(QWidget* parent, const ScheduledTask& task) = 0;
    // A folder chooser (folders only, one selection); the chosen path, or nothing.
    virtual std::optional<QString> chooseFolder(QWidget* parent) = 0;
    // A file chooser (files only, one selection); the chosen path, or nothing.
    virtual std::optional<QString> chooseFile(QWidget* parent) = 0;
    // The Shortcuts picker; the chosen shortcut's name, or nothing.
    virtual std::optional<QString> chooseShortcut(QWidget* parent) = 0;
    // The mail step builder; its command and suggested task name, or nothing when cancelled.
    virtual std::optional<std::pair<QString, QString>> mailTemplate(QWidget* parent) = 0;
};

// The message boxes WidgetDialogs shows, built unshown so the screenshot tool can draw them.
namespace DialogBoxes {
QMessageBox* makeAlert(QWidget* parent, Dialogs::AlertStyle style, const QString& title,
                       const QString& text);
// Returns the box and, through `deleteButton`, its destructive button.
QMessageBox* makeDeleteConfirmation(QWidget* parent, const QString& title, const QString& text,
                                    QAbstractButton** deleteButton);
} // namespace DialogBoxes
