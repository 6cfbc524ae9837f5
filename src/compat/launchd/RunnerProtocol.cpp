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

namespace {

QJsonObject jobsRequest(const QString& command, const QList<JobRequest>& jobs)
{
    QJsonArray array;
    for (const JobRequest& job : jobs) {
        QJsonObject object{{QStringLiteral("path"), job.path}};
        if (!job.plist.isEmpty())
            object.insert(QStringLiteral("plist"), QString::fromLatin1(job.plist.toBase64()));
        if (!job.label.isEmpty())
            object.insert(QStringLiteral("label"), job.label);
        array.append(object);
    }
    return QJsonObject{{QStringLiteral("command"), command}, {QStringLiteral("jobs"), array}};
}

} // namespace

QJsonObject loadRequest(const QList<JobRequest>& jobs)
{
    return jobsRequest(QStringLiteral("load"), jobs);
}

QJsonObject unloadRequest(const QList<JobRequest>& jobs)
{
    return jobsRequest(QStringLiteral("unload"), jobs);
}

QList<JobRequest> jobRequestsOf(const QJsonObject& request)
{
    QList<JobRequest> jobs;
    const QJsonArray array = request.value(QStringLiteral("jobs")).toArray();
    for (const QJsonValue& value : array) {
        const QJsonObject object = value.toObject();
        jobs.append(
            {object.value(QStringLiteral("path")).toString(),
             QByteArray::fromBase64(object.value(QStringLiteral("plist")).toString().toLatin1()),
             object.value(QStringLiteral("label")).toString()});
    }
    return jobs;
}

QJsonObject batchReply(const QList<QJsonObject>& results)
{
    QJsonArray array;
    for (const QJsonObject& result : results)
        array.append(result);
    return QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("results"), array}};
}

QList<QJsonObject> resultsOf(const QJsonObject& batchReply)
{
    QList<QJsonObject> results;
    const QJsonArray array = batchReply.value(QStringLiteral("results")).toArray();
    for (const QJsonValue& value : array)
        results.append(value.toObject());
    return results;
}

QJsonObject listRequest()
{
    return QJsonObject{{QStringLiteral("command"), QStringLiteral("list")}};
}

QJsonObject startRequest(const QString& label)
{
    return QJsonObject{{QStringLiteral("command"), QStringLiteral("start")},
                       {QStringLiteral("label"), label}};
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
