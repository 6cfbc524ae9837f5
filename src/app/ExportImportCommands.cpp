#include "ExportImportCommands.h"

#include "Dialogs.h"
#include "Result.h"
#include "TaskFile.h"
#include "TaskMigration.h"

#include <QAction>
#include <QGuiApplication>
#include <QPointer>

ExportImportCommands::~ExportImportCommands()
{
    // An import still running when the window goes leaves no busy cursor behind.
    setImporting(false);
}

ExportImportCommands::ExportImportCommands(TaskStore& store, Dialogs& dialogs, QWidget* window,
                                           QObject* parent)
    : QObject(parent), m_store(store), m_dialogs(dialogs), m_window(window)
{
    m_exportAction = new QAction(QStringLiteral("Export Tasks\u2026"), this);
    m_exportAction->setObjectName(QStringLiteral("action-export-tasks"));
    m_importAction = new QAction(QStringLiteral("Import Tasks\u2026"), this);
    m_importAction->setObjectName(QStringLiteral("action-import-tasks"));
    connect(m_exportAction, &QAction::triggered, this, &ExportImportCommands::exportTasks);
    connect(m_importAction, &QAction::triggered, this, &ExportImportCommands::importTasks);
    const auto updateEnabled = [this] { m_exportAction->setEnabled(!m_store.tasks().isEmpty()); };
    connect(&m_store, &TaskStore::taskAdded, this, updateEnabled);
    connect(&m_store, &TaskStore::taskRemoved, this, updateEnabled);
    connect(&m_store, &TaskStore::tasksReset, this, updateEnabled);
    updateEnabled();
}

QString ExportImportCommands::importResultText(const TaskStore::ImportCounts& counts)
{
    QStringList lines;
    if (counts.imported > 0) {
        lines << QStringLiteral("\u2022 %1 task%2 imported.")
                     .arg(counts.imported)
                     .arg(counts.imported == 1 ? QString() : QStringLiteral("s"));
    }
    if (counts.skipped > 0)
        lines << QStringLiteral("\u2022 %1 skipped (already present).").arg(counts.skipped);
    if (lines.isEmpty())
        return QStringLiteral("The selected file contained no new tasks.");
    return lines.join(QLatin1Char('\n'));
}

void ExportImportCommands::exportTasks()
{
    if (m_store.tasks().isEmpty())
        return;
    const QByteArray bytes = TaskMigration::encodeTasks(m_store.tasks());
    if (bytes.isEmpty())
        return;
    const std::optional<QString> path =
        m_dialogs.saveJsonFile(m_window, QStringLiteral("BrenmorOps-tasks.json"));
    if (!path)
        return;
    // Written atomically; like the task file it may hold secrets, so it stays private. A failed
    // write must not look like a finished export: the user would trust a copy that is not there.
    if (const Result<void> written = TaskFile::writeBytes(*path, bytes); !written.ok())
        m_dialogs.alert(m_window, Dialogs::AlertStyle::warning, QStringLiteral("Export Failed"),
                        written.message());
}

void ExportImportCommands::importTasks()
{
    if (m_importing)
        return;
    const std::optional<QString> path = m_dialogs.openJsonFile(m_window);
    if (!path)
        return;
    // The file is read and merged where the store's operations run, never on the window's
    // thread: a file on a slow or hung disk leaves the window usable. Until the result is
    // there the command waits, and the window says it is busy.
    setImporting(true);
    const std::optional<QString> warningBefore = m_store.lastWarning();
    m_store.importFile(*path, maxImportBytes,
                       [this, alive = QPointer(this),
                        warningBefore](const Result<TaskStore::ImportCounts>& counts) {
                           if (!alive)
                               return;
                           setImporting(false);
                           // The store's notice about skipped tasks says what "Import Complete"
                           // says in its second line; it is taken back here before any alert
                           // opens, so the user sees the result once and the window's notice
                           // never pops up over it.
                           if (m_store.lastWarning() != warningBefore)
                               m_store.setLastWarning(warningBefore);
                           if (!counts) {
                               importFailed(counts.error());
                               return;
                           }
                           m_dialogs.alert(m_window, Dialogs::AlertStyle::informational,
                                           QStringLiteral("Import Complete"),
                                           importResultText(*counts));
                       });
}

void ExportImportCommands::setImporting(bool importing)
{
    if (m_importing == importing)
        return;
    m_importing = importing;
    m_importAction->setEnabled(!importing);
    if (importing)
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QGuiApplication::restoreOverrideCursor();
    Q_EMIT importingChanged(importing);
}

void ExportImportCommands::importFailed(const QString& description)
{
    m_dialogs.alert(m_window, Dialogs::AlertStyle::warning, QStringLiteral("Import Failed"),
                    description);
}
