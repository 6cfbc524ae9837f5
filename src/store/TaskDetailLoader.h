#pragma once

#include "LaunchdService.h"
#include "RegularFile.h"
#include "RunHistory.h"
#include "ScheduledTask.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

template <typename T> class QFutureWatcher;

// What the task detail shows of a task's files, as they were at one reading.
struct TaskDetailData {
    QUuid taskId;
    // The newest runs, newest first, and how many the history holds in all.
    QList<TaskRunRecord> recentRuns;
    qsizetype runCount = 0;
    // The last lines of each log, trimmed; empty when there is nothing to show.
    QString stdoutTail;
    QString stderrTail;
    // The installed wrapper script's text; nothing when it cannot be read.
    std::optional<QString> script;
    // The agent plist written out again as XML; nothing when it cannot be read or parsed.
    std::optional<QString> plistXml;

    const QString& tail(LogStream stream) const
    {
        return stream == LogStream::stderrStream ? stderrTail : stdoutTail;
    }
    // Whether the runs shown would be the same (record identifiers differ between readings).
    bool sameRuns(const TaskDetailData& other) const;
};

// Reads a task's run history, log tails, script and plist for the detail view beside the
// window, never on the calling (the window's) thread. Each answer arrives by the `loaded`
// signal on the loader's thread; only the answer to the latest request is delivered, so an
// answer for a task shown before, or an older reading of the same task, never overwrites a
// newer one. While one reading runs, a newer request waits for it (replacing any request that
// waited before): a log written to without pause costs one reading at a time.
class TaskDetailLoader final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskDetailLoader)

public:
    static constexpr int historyLimit = 10;
    static constexpr int outputLinesRead = 100;
    static constexpr int fullLogLines = 10000;
    // Our scripts and plists are a few kilobytes; anything larger is not ours to show.
    static constexpr qint64 agentFileBound = 4 * 1024 * 1024;

    // File contents kept with the identity of the version read (device, inode, size, times):
    // a file unchanged since the last reading is not read again; one written to, replaced
    // (even by one of the same size) or removed is. Safe from any thread; bounded, the least
    // recently used contents go first.
    class FileCache {
    public:
        struct Counts {
            int reads = 0;  // contents read from a file
            int reuses = 0; // contents taken from the cache
        };
        using Reader = std::function<std::optional<QString>(const QString& path)>;

        // What `read` makes of the regular file at `path` (`variant` tells readings of one
        // file apart), or what it made of the same version before. Nothing, without calling
        // `read`, for a missing or unreadable path or anything but a regular file.
        std::optional<QString> get(const QString& path, int variant, const Reader& read);
        Counts counts() const;
        // The cache every detail view shares.
        static const std::shared_ptr<FileCache>& shared();

    private:
        static constexpr qint64 budgetBytes = qint64(32) << 20;
        using Key = std::pair<QString, int>;
        struct Entry {
            RegularFile::Stamp stamp;
            std::optional<QString> contents;
            quint64 lastUse = 0;
        };
        void keep(const Key& key, Entry entry);

        mutable QMutex m_mutex;
        QHash<Key, Entry> m_entries;
        qint64 m_bytes = 0;
        quint64 m_clock = 0;
        Counts m_counts;
    };

    using Reader = std::function<TaskDetailData(const ScheduledTask& task)>;

    // Reads the files `paths` names, through `cache`. `reader`, when given, does the reading
    // of each request instead (tests that hold a reading or look at its thread).
    explicit TaskDetailLoader(AgentPaths paths, QObject* parent = nullptr,
                              std::shared_ptr<FileCache> cache = FileCache::shared(),
                              Reader reader = {});
    ~TaskDetailLoader() override;

    // Asks for the files of `task` to be read; the answer arrives by `loaded`.
    void load(const ScheduledTask& task);
    // Asks for the last fullLogLines lines of one log; the answer arrives by `fullLogLoaded`,
    // only for the latest such request.
    void loadFullLog(const ScheduledTask& task, LogStream stream);
    // Whether a requested answer has not arrived yet.
    bool isLoading() const { return m_running != 0 || m_next.has_value(); }
    // How many readings were asked for since the loader was made.
    quint64 requestCount() const { return m_latest; }

    // The reading itself, on the calling thread.
    static TaskDetailData read(const AgentPaths& paths, FileCache& cache,
                               const ScheduledTask& task);

Q_SIGNALS:
    void loaded(const TaskDetailData& data);
    void fullLogLoaded(const QUuid& taskId, LogStream stream, const QString& text);

private:
    void startNext();
    void finished();

    AgentPaths m_paths;
    Reader m_reader;
    QFutureWatcher<TaskDetailData>* m_watcher = nullptr;
    // The latest request, the one whose reading runs (0: none) and the one waiting for it.
    quint64 m_latest = 0;
    quint64 m_running = 0;
    std::optional<std::pair<quint64, ScheduledTask>> m_next;
    quint64 m_latestFullLog = 0;
};
