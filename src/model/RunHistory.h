#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// Which log file of a task to read.
enum class LogStream { stdoutStream, stderrStream };

// One parsed line of a task's run-history file (id8.runs).
struct TaskRunRecord {
    QUuid id; // fresh for every parse; identifies the record within one reading only
    QDateTime startedAt;
    QDateTime endedAt; // equals startedAt for a legacy two-field line
    qint32 exitCode = 0;

    qint64 durationSeconds() const { return startedAt.secsTo(endedAt); }

    // "start<TAB>end<TAB>status" or legacy "time<TAB>status"; strict ISO 8601 UTC times
    // (whole seconds, zone designator required). Anything else gives nothing.
    static std::optional<TaskRunRecord> parse(QStringView line);
};

namespace RunHistory {

// logDir/<shortId>.runs, ".stdout.log", ".stderr.log"
QString historyPath(const QString& logDir, const QString& shortId);
// Whether a path names a run history ("*.runs"), and the name filter that lists them.
bool isHistoryPath(const QString& path);
QString historyNameFilter();
QString logPath(const QString& logDir, const QString& shortId, LogStream stream);

// A history longer than this is read from its end only (whole lines, some million runs).
inline constexpr qint64 maxHistoryBytes = qint64(256) << 20;

// Every record of the file, oldest first (file order). Missing, unreadable or not a regular
// file: empty. Parsed records are kept per file (safe from any thread): an unchanged file is not
// read again, and of a file that only grew only the appended lines are parsed. Records of one
// file keep their identifiers from one reading to the next.
QList<TaskRunRecord> loadRunHistory(const QString& logDir, const QString& shortId);
QList<TaskRunRecord> loadHistoryFile(const QString& path);
// Forgets every parsed history (benchmarks measuring a first reading).
void clearHistoryCache();
// Parses a whole history text (split at line feeds).
QList<TaskRunRecord> parseHistory(const QByteArray& text);

// The last `lastLines` lines of a log, trimmed at both ends; empty when unreadable. Reads from
// the end of the file, so a huge log costs no more than its tail.
QString readLogTail(const QString& path, int lastLines);

} // namespace RunHistory
