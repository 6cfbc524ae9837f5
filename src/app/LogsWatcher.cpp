#include "LogsWatcher.h"

#include "RunHistory.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

LogsWatcher::LogsWatcher(QString logDir, QObject* parent, int debounceMs)
    : QObject(parent), m_logDir(QDir::cleanPath(std::move(logDir))),
      m_watcher(new QFileSystemWatcher(this)), m_debounce(new QTimer(this))
{
    m_debounce->setSingleShot(true);
    m_debounce->setInterval(debounceMs);
    connect(m_debounce, &QTimer::timeout, this, &LogsWatcher::flush);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, [this](const QString& path) {
        note(path);
        // A file replaced or removed drops out of the watcher; take it up again when it is back.
        if (!QFileInfo::exists(path))
            rearm();
        else if (!m_watcher->files().contains(path))
            m_watcher->addPath(path);
    });
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString&) {
        const QStringList before = m_watcher->files();
        rearm();
        // New files (a first run, a first line of output) count as changes too.
        for (const QString& path : m_watcher->files()) {
            if (!before.contains(path))
                note(path);
        }
    });
    rearm();
}

void LogsWatcher::watchFile(const QString& path)
{
    // Only this file is taken up: a view that watches the logs of many tasks at once (a burst
    // of new tasks) must not look through the whole folder for each of them.
    const QString clean = QDir::cleanPath(path);
    if (m_wanted.contains(clean))
        return;
    m_wanted.insert(clean);
    if (QFileInfo::exists(clean)) {
        if (!m_watcher->files().contains(clean))
            m_watcher->addPath(clean);
    } else if (const QString folder = QFileInfo(clean).absolutePath();
               folder != m_logDir && QFileInfo::exists(folder) &&
               !m_watcher->directories().contains(folder)) {
        // Its folder tells when it appears (the logs folder is watched already, or waited for).
        m_watcher->addPath(folder);
    }
}

void LogsWatcher::rearm()
{
    const QDir dir(m_logDir);
    QStringList directories = m_watcher->directories();
    if (dir.exists()) {
        if (!directories.contains(m_logDir))
            m_watcher->addPath(m_logDir);
    } else {
        // Wait for the folder in the nearest parent that exists.
        QString parent = QFileInfo(m_logDir).absolutePath();
        while (!QFileInfo::exists(parent) && parent != QFileInfo(parent).absolutePath())
            parent = QFileInfo(parent).absolutePath();
        if (!directories.contains(parent))
            m_watcher->addPath(parent);
    }
    QStringList files;
    for (const QString& name : dir.entryList({RunHistory::historyNameFilter()}, QDir::Files))
        files.append(dir.filePath(name));
    for (const QString& path : std::as_const(m_wanted)) {
        if (QFileInfo::exists(path))
            files.append(path);
        else if (const QString folder = QFileInfo(path).absolutePath();
                 folder != m_logDir && QFileInfo::exists(folder) && !directories.contains(folder))
            m_watcher->addPath(folder);
    }
    const QStringList watched = m_watcher->files();
    QStringList missing;
    for (const QString& path : std::as_const(files)) {
        if (!watched.contains(path))
            missing.append(path);
    }
    if (!missing.isEmpty())
        m_watcher->addPaths(missing);
}

void LogsWatcher::note(const QString& path)
{
    m_pending.insert(path);
    m_debounce->start();
}

void LogsWatcher::flush()
{
    const QSet<QString> paths = std::exchange(m_pending, {});
    for (const QString& path : paths)
        Q_EMIT changed(path);
}
