#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

// A launchd job found on the machine (not one of ours): a read-only snapshot of its plist.
struct LaunchdJob {
    enum class Source { userAgents, globalAgents, globalDaemons };

    QString id; // the file's path
    QString label;
    QString url; // the file's path
    Source source = Source::userAgents;
    std::optional<QStringList> programArguments;
    std::optional<QString> program;
    std::optional<qint64> startInterval;                        // seconds
    std::optional<QMap<QString, qint64>> startCalendarInterval; // a single dict, integers only
    std::optional<QString> standardOutPath;
    std::optional<QString> standardErrorPath;
    bool disabled = false;
    bool runAtLoad = false;
    bool keepAlive = false;
    QVariantMap raw; // the whole top-level dictionary

    // "User Agents", "Global Agents", "Global Daemons"
    static QString sourceName(Source source);
    static const QList<Source>& allSources();

    QString scheduleDescription() const;
    // programArguments joined by spaces, else program, else "(unknown)".
    QString commandLine() const;
    // `raw` written back as an XML plist; "(unable to display)" when that fails.
    QString rawPlistXml() const;

    friend bool operator==(const LaunchdJob& a, const LaunchdJob& b) { return a.id == b.id; }
};

inline size_t qHash(const LaunchdJob& job, size_t seed = 0) { return qHash(job.id, seed); }
