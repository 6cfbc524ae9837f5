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
    ~ExportImportCommands() override;

    // The largest file "Import Tasks…" reads: far beyond any task list a person keeps, and
    // small enough that a wrong choice (a disk image, a log) is refused at once.
    static constexpr qint64 maxImportBytes = 32 * 1024 * 1024;

    QAction* exportAction() const { return m_exportAction; }
    QAction* importAction() const { return m_importAction; }

    // The "Import Complete" text for the counts the store reports.
    static QString importResultText(const TaskStore::ImportCounts& counts);
    // Whether an import was asked for and its result has not arrived yet; meanwhile "Import
    // Tasks…" is disabled and the window shows the busy cursor.
    bool isImporting() const { return m_importing; }

Q_SIGNALS:
    void importingChanged(bool importing);

public Q_SLOTS:
    void exportTasks();
    void importTasks();

private:
    void importFailed(const QString& description);
    void setImporting(bool importing);

    TaskStore& m_store;
    Dialogs& m_dialogs;
    QWidget* m_window;
    QAction* m_exportAction;
    QAction* m_importAction;
    bool m_importing = false;
};
