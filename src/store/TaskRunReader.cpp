#include "TaskRunReader.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

TaskRunReader::TaskRunReader(AgentPaths paths, QObject* parent, Reader reader)
    : QObject(parent), m_paths(std::move(paths)), m_reader(std::move(reader))
{
    if (!m_reader)
        m_reader = [paths = m_paths](const ScheduledTask& task) { return read(paths, task); };
}

// A batch still running finishes on its own; its watcher goes with the reader, so its answers
// are never delivered.
TaskRunReader::~TaskRunReader() = default;

void TaskRunReader::request(const ScheduledTask& task)
{
    const quint64 number = ++m_counter;
    m_latest.insert(task.id, number);
    const auto queued = std::find_if(m_queued.begin(), m_queued.end(),
                                     [&](const auto& entry) { return entry.second.id == task.id; });
    if (queued != m_queued.end())
        *queued = {number, task};
    else
        m_queued.append({number, task});
    // The batch starts once the caller's turn of the event loop is over, so what it asks for
    // together is read together.
    if (!m_watcher && !m_startPosted) {
        m_startPosted = true;
        QMetaObject::invokeMethod(this, &TaskRunReader::startBatch, Qt::QueuedConnection);
    }
}

const TaskRunStatus* TaskRunReader::known(const QUuid& id) const
{
    const auto it = m_known.constFind(id);
    return it == m_known.cend() ? nullptr : &*it;
}

void TaskRunReader::forget(const QUuid& id)
{
    m_known.remove(id);
    m_latest.remove(id);
    m_queued.removeIf([&](const auto& entry) { return entry.second.id == id; });
}

void TaskRunReader::startBatch()
{
    m_startPosted = false;
    if (m_watcher || m_queued.isEmpty())
        return;
    ++m_batches;
    m_watcher = new QFutureWatcher<Answers>(this);
    connect(m_watcher, &QFutureWatcherBase::finished, this, &TaskRunReader::finished);
    m_watcher->setFuture(QtConcurrent::run(
        QThreadPool::globalInstance(), [reader = m_reader, batch = std::exchange(m_queued, {})] {
            Answers answers;
            answers.reserve(batch.size());
            for (const auto& [number, task] : batch)
                answers.append({number, reader(task)});
            return answers;
        }));
}

void TaskRunReader::finished()
{
    const Answers answers = m_watcher->result();
    m_watcher->deleteLater();
    m_watcher = nullptr;
    for (const auto& [number, status] : answers) {
        // Asked for again meanwhile (that reading is queued) or forgotten: this one is old.
        if (m_latest.value(status.taskId) != number)
            continue;
        m_known.insert(status.taskId, status);
        Q_EMIT statusRead(status);
    }
    if (!m_queued.isEmpty())
        startBatch();
}

TaskRunStatus TaskRunReader::read(const AgentPaths& paths, const ScheduledTask& task)
{
    TaskRunStatus status;
    status.taskId = task.id;
    status.runs = RunHistory::loadHistoryFile(paths.runHistoryPath(task));
    // The plist's modification time is when the agent was last installed with its present
    // schedule (install, enable and every edit rewrite it); the logs' is the latest output.
    const QFileInfo plist(paths.plistPath(task));
    if (plist.exists())
        status.activity.installedAt = plist.lastModified();
    for (const QString& log : {paths.stdoutLogPath(task), paths.stderrLogPath(task)}) {
        const QFileInfo info(log);
        if (info.exists() && info.size() > 0 &&
            (!status.activity.lastOutputAt || info.lastModified() > *status.activity.lastOutputAt))
            status.activity.lastOutputAt = info.lastModified();
    }
    return status;
}
