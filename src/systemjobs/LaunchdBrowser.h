#pragma once

#include "LaunchdJob.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Reads the launchd property lists of the machine's three launchd folders. Only reads files:
// nothing is loaded, queried or changed through launchd.
class LaunchdBrowser {
public:
    struct Folder {
        QString path;
        LaunchdJob::Source source;
    };

    // Larger files are not read: no launchd job is that big, and the parser takes 32-bit sizes.
    static constexpr qint64 maxPlistBytes = 16 * 1024 * 1024;

    // The user's ~/Library/LaunchAgents, /Library/LaunchAgents and /Library/LaunchDaemons.
    LaunchdBrowser();
    // Other folders, scanned in the given order (tests, benchmarks).
    explicit LaunchdBrowser(QList<Folder> folders);

    // The folders as found on first use; kept for the life of the process.
    static const QList<Folder>& defaultFolders();

    // What a scan keeps of each plist: everything (`raw` holds the whole dictionary), or only
    // the label and when the job runs (interval, calendar, run at load, keep alive, disabled),
    // the rest left empty: a list of thousands of jobs is spared most of its allocations.
    enum class Content { whole, schedule };

    // Every readable job of the folders except our own task agents, sorted by label
    // (locale-aware, case-insensitive, stable). Never fails: whatever cannot be read is skipped.
    QList<LaunchdJob> scanJobs(Content content = Content::whole) const;

    // One file: nothing when it cannot be read, does not parse, has no dictionary at the top
    // or no text "Label".
    static std::optional<LaunchdJob> readJob(const QString& path, LaunchdJob::Source source);
    static std::optional<LaunchdJob> jobFromDictionary(const QString& path,
                                                       LaunchdJob::Source source,
                                                       const QVariantMap& dictionary);
    // Sort by label as scanJobs does.
    static void sortByLabel(QList<LaunchdJob>& jobs);

    const QList<Folder>& folders() const { return m_folders; }

private:
    QList<Folder> m_folders;
};
