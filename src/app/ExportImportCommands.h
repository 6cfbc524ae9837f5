#pragma once

#include "TaskStore.h"

#include <QObject>

class Dialogs;
class QAction;
class QWidget;

// The File menu's "Export Tasks…" and "Import Tasks…": all tasks to a JSON file in the task
// file's own format, and tasks from such a file merged into the store.
class ExportImportCommands final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ExportImportCommands)

public:
    ExportImportCommands(TaskStore& store, Dialogs& dialogs, QWidget* window,
                         QObject* parent = nullptr);

    QAction* exportAction() const { return m_exportAction; }
    QAction* importAction() const { return m_importAction; }

    // The "Import Complete" text for the counts the store reports.
    static QString importResultText(const TaskStore::ImportCounts& counts);

public Q_SLOTS:
    void exportTasks();
    void importTasks();

private:
    void importFailed(const QString& description);

    TaskStore& m_store;
    Dialogs& m_dialogs;
    QWidget* m_window;
    QAction* m_exportAction;
    QAction* m_importAction;
};
