#include "RunnerProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace RunnerProtocol {

QByteArray encode(const QJsonObject& message)
{
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QJsonObject> decode(const QByteArray& line)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

QJsonObject loadRequest(const QString& plistPath, const QByteArray& plist)
{
    return QJsonObject{{QStringLiteral("command"), QStringLiteral("load")},
                       {QStringLiteral("path"), plistPath},
                       {QStringLiteral("plist"), QString::fromLatin1(plist.toBase64())}};
}

QJsonObject unloadRequest(const QString& plistPath, const QString& label)
{
    return QJsonObject{{QStringLiteral("command"), QStringLiteral("unload")},
                       {QStringLiteral("path"), plistPath},
                       {QStringLiteral("label"), label}};
}

QJsonObject listRequest()
{
    return QJsonObject{{QStringLiteral("command"), QStringLiteral("list")}};
}

QJsonObject listReply(const QList<JobStatus>& jobs)
{
    QJsonArray array;
    for (const JobStatus& job : jobs) {
        array.append(QJsonObject{{QStringLiteral("label"), job.label},
                                 {QStringLiteral("pid"), job.pid},
                                 {QStringLiteral("status"), job.lastExitStatus}});
    }
    return QJsonObject{{QStringLiteral("jobs"), array}};
}

QList<JobStatus> jobsOf(const QJsonObject& listReply)
{
    QList<JobStatus> jobs;
    const QJsonArray array = listReply.value(QStringLiteral("jobs")).toArray();
    for (const QJsonValue& value : array) {
        const QJsonObject object = value.toObject();
        jobs.append({object.value(QStringLiteral("label")).toString(),
                     object.value(QStringLiteral("pid")).toInteger(),
                     object.value(QStringLiteral("status")).toInt()});
    }
    return jobs;
}

QString formatList(const QList<JobStatus>& jobs)
{
    QString text = QStringLiteral("PID\tStatus\tLabel\n");
    for (const JobStatus& job : jobs) {
        const QString pid = job.pid > 0 ? QString::number(job.pid) : QStringLiteral("-");
        text += pid + QLatin1Char('\t') + QString::number(job.lastExitStatus) + QLatin1Char('\t') +
                job.label + QLatin1Char('\n');
    }
    return text;
}

} // namespace RunnerProtocol
