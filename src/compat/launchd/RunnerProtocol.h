#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// launchctl and the runner exchange one JSON object per line over the runner's local socket:
// a request {"command": "load"|"unload"|"list", ...}, answered by one reply object. Loads and
// unloads carry every job of one launchctl call ("jobs"), so the runner records its state once
// for all of them; the reply holds one result per job, in order ("results").
namespace RunnerProtocol {

// One job of a load (path and plist) or an unload (path and label, which may be empty).
struct JobRequest {
    QString path;
    QByteArray plist;
    QString label;
};

struct JobStatus {
    QString label;
    qint64 pid = 0;         // 0: not running
    int lastExitStatus = 0; // launchd's form: the exit code, or minus the signal number
};

QByteArray encode(const QJsonObject& message);
// One line without its line feed; nothing when it is not a JSON object.
std::optional<QJsonObject> decode(const QByteArray& line);

QJsonObject loadRequest(const QList<JobRequest>& jobs);
QJsonObject unloadRequest(const QList<JobRequest>& jobs);
QList<JobRequest> jobRequestsOf(const QJsonObject& request);
// The reply to a load or an unload: per job {"ok": bool, "error": text} or {"found": bool}.
QJsonObject batchReply(const QList<QJsonObject>& results);
QList<QJsonObject> resultsOf(const QJsonObject& batchReply);
QJsonObject listRequest();
// Starts one run of a loaded job now; the reply says {"found": bool}.
QJsonObject startRequest(const QString& label);

QJsonObject listReply(const QList<JobStatus>& jobs);
QList<JobStatus> jobsOf(const QJsonObject& listReply);

// launchctl list's table: a header, then one tab-separated line per job, "-" for no process.
QString formatList(const QList<JobStatus>& jobs);

} // namespace RunnerProtocol
