#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

class TaskSchedule;
struct ScheduledTask;

// Strict readers for the task JSON. They throw DecodeFailure inside the model only; the
// public fromJson functions turn it into a Result with a message that names the key path.
namespace JsonDecode {

struct DecodeFailure {
    QString message;
};

[[noreturn]] void fail(const QString& path, const QString& what);

QJsonValue required(const QJsonObject& object, const QString& key, const QString& path);
// Missing or null keys are absent.
std::optional<QJsonValue> optional(const QJsonObject& object, const QString& key);

QJsonObject toObject(const QJsonValue& value, const QString& path);
QJsonArray toArray(const QJsonValue& value, const QString& path);
QString toString(const QJsonValue& value, const QString& path);
bool toBool(const QJsonValue& value, const QString& path);
// Integral numbers only (9.0 passes, 9.5 does not), within the 64-bit range.
qint64 toInt(const QJsonValue& value, const QString& path);
qint32 toInt32(const QJsonValue& value, const QString& path);
double toDouble(const QJsonValue& value, const QString& path);

QString join(const QString& path, const QString& key);
QString index(const QString& path, qsizetype i);

TaskSchedule decodeSchedule(const QJsonValue& json, const QString& path);
ScheduledTask decodeTask(const QJsonValue& json, const QString& path);

} // namespace JsonDecode
