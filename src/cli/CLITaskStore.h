#pragma once

#include "ScheduledTask.h"
#include "TaskFile.h"

#include <QList>
#include <QString>

#include <optional>

// The tool's store: no tasks in memory between operations, one load and one save per command.
class CLITaskStore {
public:
    // Creates the data folder; saveURL defaults to tasks.json inside it.
    explicit CLITaskStore(std::optional<QString> saveURL = std::nullopt);

    const QString& saveURL() const { return m_saveURL; }

    // The list in file order; a missing, unreadable or undecodable file gives an empty list.
    QList<ScheduledTask> loadTaskList() const;
    // The file as it stands, with the reason when it exists but cannot be decoded.
    TaskFile::ReadResult readTaskFile() const { return TaskFile::read(m_saveURL); }
    // Writes the envelope atomically (a failed write is ignored) and posts the change
    // notification. Returns the write error, which the commands ignore.
    std::optional<QString> saveTaskList(const QList<ScheduledTask>& tasks) const;

private:
    QString m_saveURL;
};
