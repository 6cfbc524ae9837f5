#pragma once

#include "LaunchdService.h"
#include "RunHistory.h"
#include "ScheduledTask.h"
#include "TimelineMath.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QUuid>

#include <functional>
#include <utility>

template <typename T> class QFutureWatcher;

// What a task's agent files say of its runs, as they were at one reading.
struct TaskRunStatus {
    QUuid taskId;
    // Every recorded run, oldest first.
    QList<TaskRunRecord> runs;
    // When the plist was last written and the logs last grew.
    TimelineMath::AgentActivity activity;

    // Whether the last recorded run ended with a non-zero exit status.
    bool lastRunFailed() const { return !runs.isEmpty() && runs.constLast().exitCode != 0; }
};

// Reads tasks' run histories and agent file times for the rows of the sidebar and the
// timeline, never on the calling (the window's) thread. Requests made together (a burst of new
// rows, a reload) are read as one batch on the thread pool, one batch at a time; each answer
// arrives by `statusRead` and is kept, so a row made later starts from what was read last.
// An answer is dropped when its task was asked for again while it was read (the newer reading
// follows) or was forgotten meanwhile. Histories are parsed once per file version by the
// history's own cache, which also takes only the appended lines of a grown file.
class TaskRunReader final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskRunReader)

public:
    using Reader = std::function<TaskRunStatus(const ScheduledTask& task)>;

    // Reads the files `paths` names; `reader`, when given, does the reading of each task
    // instead (tests that hold a reading or look at its thread).
    explicit TaskRunReader(AgentPaths paths, QObject* parent = nullptr, Reader reader = {});
    ~TaskRunReader() override;

    // Asks for the task's files to be read (again); the answer arrives by `statusRead`.
    void request(const ScheduledTask& task);
    // The last answer delivered for the task; nothing before the first.
    const TaskRunStatus* known(const QUuid& id) const;
    // Drops what is known and any answer on its way (the task was removed).
    void forget(const QUuid& id);
    // Whether an asked-for answer has not arrived yet.
    bool isReading() const { return m_watcher != nullptr || !m_queued.isEmpty(); }
    // How many batches were read since the reader was made.
    int batchCount() const { return m_batches; }

    // The reading itself, on the calling thread.
    static TaskRunStatus read(const AgentPaths& paths, const ScheduledTask& task);

Q_SIGNALS:
    void statusRead(const TaskRunStatus& status);

private:
    using Answers = QList<std::pair<quint64, TaskRunStatus>>;
    void startBatch();
    void finished();

    AgentPaths m_paths;
    Reader m_reader;
    // Latest request number per task; the tasks waiting for the next batch, in asking order.
    quint64 m_counter = 0;
    QHash<QUuid, quint64> m_latest;
    QList<std::pair<quint64, ScheduledTask>> m_queued;
    bool m_startPosted = false;
    QFutureWatcher<Answers>* m_watcher = nullptr;
    QHash<QUuid, TaskRunStatus> m_known;
    int m_batches = 0;
};
