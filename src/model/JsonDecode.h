#pragma once

#include "Result.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

class TaskSchedule;
struct ScheduledTask;
struct TaskLog;

// Strict readers for the task JSON. The first fault ends the decoding: its Result carries a
// message that names the key path.
namespace JsonDecode {

// Where a value sits ("tasks[2].schedule.daily.times[0].hour"). Built on the stack as the
// decoder descends and turned into text only when something fails, so a good file costs no
// string building. A Path refers to its parent and key, which must outlive it.
struct Path {
    const Path* parent = nullptr;
    QStringView key;      // empty for an array element
    qsizetype index = -1; // for an array element
    QString text() const;
};

// "<path>: <what>", or `what` alone at the root.
QString failureText(const Path& path, const QString& what);

Result<QJsonValue> required(const QJsonObject& object, const QString& key, const Path& path);
// Missing or null keys are absent.
std::optional<QJsonValue> optional(const QJsonObject& object, const QString& key);

Result<QJsonObject> toObject(const QJsonValue& value, const Path& path);
Result<QJsonArray> toArray(const QJsonValue& value, const Path& path);
Result<QString> toString(const QJsonValue& value, const Path& path);
Result<bool> toBool(const QJsonValue& value, const Path& path);
// Integral numbers only (9.0 passes, 9.5 does not), within the 64-bit range.
Result<qint64> toInt(const QJsonValue& value, const Path& path);
Result<qint32> toInt32(const QJsonValue& value, const Path& path);
// An integer within low...high.
Result<int> toIntIn(const QJsonValue& value, const Path& path, int low, int high);
Result<double> toDouble(const QJsonValue& value, const Path& path);

inline Path join(const Path& path, QStringView key) { return Path{&path, key, -1}; }
inline Path index(const Path& path, qsizetype i) { return Path{&path, {}, i}; }

Result<TaskSchedule> decodeSchedule(const QJsonValue& json, const Path& path);
Result<ScheduledTask> decodeTask(const QJsonValue& json, const Path& path);
Result<TaskLog> decodeLog(const QJsonValue& json, const Path& path);

} // namespace JsonDecode
