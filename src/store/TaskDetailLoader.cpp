#include "TaskDetailLoader.h"

#include "PlistVariant.h"

#include <QFile>
#include <QFutureWatcher>
#include <QMutexLocker>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// How a file is read, so one file read two ways is kept twice.
enum Variant : int { wholeText = -1, plistAsXml = -2 }; // log tails use their line count

std::optional<QString> readText(const QString& path)
{
    // Never blocks (a FIFO planted at the path) nor reads without end (a link to a device).
    const Result<QByteArray> bytes = RegularFile::read(path, TaskDetailLoader::agentFileBound);
    if (!bytes.ok() || !bytes->isValidUtf8())
        return std::nullopt;
    return QString::fromUtf8(*bytes);
}

std::optional<QString> readPlistAsXml(const QString& path)
{
    const Result<QByteArray> bytes = RegularFile::read(path, TaskDetailLoader::agentFileBound);
    if (!bytes.ok())
        return std::nullopt;
    const std::optional<QVariantMap> dictionary = PlistVariant::readDictionary(*bytes);
    const std::optional<QByteArray> xml =
        dictionary ? PlistVariant::toXml(*dictionary) : std::nullopt;
    if (!xml || !xml->isValidUtf8())
        return std::nullopt;
    return QString::fromUtf8(*xml).trimmed();
}

QString logTail(TaskDetailLoader::FileCache& cache, const QString& path)
{
    return cache
        .get(path, TaskDetailLoader::outputLinesRead,
             [](const QString& log) {
                 return RunHistory::readLogTail(log, TaskDetailLoader::outputLinesRead);
             })
        .value_or(QString());
}

qint64 bytesOf(const std::optional<QString>& contents)
{
    return contents ? qint64(contents->size()) * qint64(sizeof(QChar)) : 0;
}

} // namespace

bool TaskDetailData::sameRuns(const TaskDetailData& other) const
{
    if (runCount != other.runCount || recentRuns.size() != other.recentRuns.size())
        return false;
    for (qsizetype i = 0; i < recentRuns.size(); ++i) {
        const TaskRunRecord& a = recentRuns.at(i);
        const TaskRunRecord& b = other.recentRuns.at(i);
        if (a.startedAt != b.startedAt || a.endedAt != b.endedAt || a.exitCode != b.exitCode)
            return false;
    }
    return true;
}

std::optional<QString> TaskDetailLoader::FileCache::get(const QString& path, int variant,
                                                        const Reader& read)
{
    const Key key(path, variant);
    RegularFile::Stamp stamp;
    {
        QFile file;
        if (!RegularFile::open(file, path, &stamp)) {
            const QMutexLocker lock(&m_mutex);
            if (const auto it = m_entries.constFind(key); it != m_entries.cend()) {
                m_bytes -= bytesOf(it->contents);
                m_entries.erase(it);
            }
            return std::nullopt;
        }
    }
    {
        const QMutexLocker lock(&m_mutex);
        if (const auto it = m_entries.find(key); it != m_entries.end() && it->stamp == stamp) {
            it->lastUse = ++m_clock;
            ++m_counts.reuses;
            return it->contents;
        }
        ++m_counts.reads;
    }
    // The stamp was taken before the reading: a file changed meanwhile is read again next time.
    Entry entry{stamp, read(path)};
    const std::optional<QString> contents = entry.contents;
    keep(key, std::move(entry));
    return contents;
}

void TaskDetailLoader::FileCache::keep(const Key& key, Entry entry)
{
    const QMutexLocker lock(&m_mutex);
    entry.lastUse = ++m_clock;
    if (const auto it = m_entries.constFind(key); it != m_entries.cend())
        m_bytes -= bytesOf(it->contents);
    m_bytes += bytesOf(entry.contents);
    m_entries.insert(key, std::move(entry));
    while (m_bytes > budgetBytes && m_entries.size() > 1) {
        auto oldest = m_entries.begin();
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->lastUse < oldest->lastUse)
                oldest = it;
        }
        m_bytes -= bytesOf(oldest->contents);
        m_entries.erase(oldest);
    }
}

TaskDetailLoader::FileCache::Counts TaskDetailLoader::FileCache::counts() const
{
    const QMutexLocker lock(&m_mutex);
    return m_counts;
}

const std::shared_ptr<TaskDetailLoader::FileCache>& TaskDetailLoader::FileCache::shared()
{
    static const std::shared_ptr<FileCache> cache = std::make_shared<FileCache>();
    return cache;
}

TaskDetailLoader::TaskDetailLoader(AgentPaths paths, QObject* parent,
                                   std::shared_ptr<FileCache> cache, Reader reader)
    : QObject(parent), m_paths(std::move(paths)), m_reader(std::move(reader)),
      m_watcher(new QFutureWatcher<TaskDetailData>(this))
{
    if (!m_reader) {
        m_reader = [paths = m_paths, cache = std::move(cache)](const ScheduledTask& task) {
            return read(paths, *cache, task);
        };
    }
    connect(m_watcher, &QFutureWatcherBase::finished, this, &TaskDetailLoader::finished);
}

// A reading still running finishes on its own; the watcher goes with the loader, so its
// answer is never delivered.
TaskDetailLoader::~TaskDetailLoader() = default;

void TaskDetailLoader::load(const ScheduledTask& task)
{
    m_next.emplace(++m_latest, task);
    if (m_running == 0)
        startNext();
}

void TaskDetailLoader::startNext()
{
    auto [request, task] = std::move(*m_next);
    m_next.reset();
    m_running = request;
    m_watcher->setFuture(
        QtConcurrent::run(QThreadPool::globalInstance(),
                          [reader = m_reader, task = std::move(task)] { return reader(task); }));
}

void TaskDetailLoader::finished()
{
    const quint64 request = std::exchange(m_running, 0);
    const TaskDetailData data = m_watcher->result();
    if (m_next) {
        // Asked for again meanwhile: this answer is already old.
        startNext();
        return;
    }
    if (request == m_latest)
        Q_EMIT loaded(data);
}

void TaskDetailLoader::loadFullLog(const ScheduledTask& task, LogStream stream)
{
    const quint64 request = ++m_latestFullLog;
    const QString path = stream == LogStream::stderrStream ? m_paths.stderrLogPath(task)
                                                           : m_paths.stdoutLogPath(task);
    auto* watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, watcher, request, id = task.id, stream] {
                watcher->deleteLater();
                if (request == m_latestFullLog)
                    Q_EMIT fullLogLoaded(id, stream, watcher->result());
            });
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [path] {
        return RunHistory::readLogTail(path, fullLogLines);
    }));
}

TaskDetailData TaskDetailLoader::read(const AgentPaths& paths, FileCache& cache,
                                      const ScheduledTask& task)
{
    TaskDetailData data;
    data.taskId = task.id;
    // Parsed once per file version by the history's own cache, which also takes only the
    // appended lines of a grown file.
    const QList<TaskRunRecord> runs = RunHistory::loadHistoryFile(paths.runHistoryPath(task));
    data.runCount = runs.size();
    const qsizetype shown = std::min<qsizetype>(runs.size(), historyLimit);
    data.recentRuns.reserve(shown);
    for (qsizetype i = runs.size() - 1; i >= runs.size() - shown; --i)
        data.recentRuns.append(runs.at(i));
    data.stdoutTail = logTail(cache, paths.stdoutLogPath(task));
    data.stderrTail = logTail(cache, paths.stderrLogPath(task));
    data.script = cache.get(paths.scriptPath(task), wholeText, readText);
    data.plistXml = cache.get(paths.plistPath(task), plistAsXml, readPlistAsXml);
    return data;
}
