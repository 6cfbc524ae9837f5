#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// launchctl and the runner exchange one JSON object per line over the runner's local socket:
// a request {"command": "load"|"unload"|"list", ...}, answered by one reply object.
namespace RunnerProtocol {

struct JobStatus {
    QString label;
    qint64 pid = 0;         // 0: not running
    int lastExitStatus = 0; // launchd's form: the exit code, or minus the signal number
};

QByteArray encode(const QJsonObject& message);
// One line without its line feed; nothing when it is not a JSON object.
std::optional<QJsonObject> decode(const QByteArray& line);

QJsonObject loadRequest(const QString& plistPath, const QByteArray& plist);
QJsonObject unloadRequest(const QString& plistPath, const QString& label);
QJsonObject listRequest();

QJsonObject listReply(const QList<JobStatus>& jobs);
QList<JobStatus> jobsOf(const QJsonObject& listReply);

// launchctl list's table: a header, then one tab-separated line per job, "-" for no process.
QString formatList(const QList<JobStatus>& jobs);

} // namespace RunnerProtocol
