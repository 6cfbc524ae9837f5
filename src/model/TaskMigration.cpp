#include "TaskMigration.h"

#include "FastTaskParser.h"
#include "JsonDecode.h"
#include "Result.h"
#include "TaskJsonWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace TaskMigration {

namespace {

bool isArrayOfObjects(const QJsonValue& value)
{
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    return std::all_of(array.begin(), array.end(),
                       [](const QJsonValue& v) { return v.isObject(); });
}

std::optional<qint64> integerValue(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d || std::fabs(d) >= 9.2e18)
        return std::nullopt;
    return static_cast<qint64>(d);
}

// Version 1 kept one time as "hour"/"minute" beside the other fields of the schedule.
QJsonObject migrateCase(const QJsonObject& caseObject, const QString& caseName)
{
    if (caseObject.contains(QStringLiteral("times")) ||
        !caseObject.contains(QStringLiteral("hour")) ||
        !caseObject.contains(QStringLiteral("minute")))
        return caseObject;
    const QJsonArray times{
        QJsonObject{{QStringLiteral("hour"), caseObject.value(QStringLiteral("hour"))},
                    {QStringLiteral("minute"), caseObject.value(QStringLiteral("minute"))}}};
    QJsonObject migrated{{QStringLiteral("times"), times}};
    if (caseName == QStringLiteral("weekly"))
        migrated.insert(QStringLiteral("weekdays"),
                        caseObject.value(QStringLiteral("weekdays")).isUndefined()
                            ? QJsonValue(QJsonArray())
                            : caseObject.value(QStringLiteral("weekdays")));
    if (caseName == QStringLiteral("monthly"))
        migrated.insert(QStringLiteral("day"), caseObject.value(QStringLiteral("day")).isUndefined()
                                                   ? QJsonValue(1)
                                                   : caseObject.value(QStringLiteral("day")));
    return migrated;
}

// Qt's parser drops a U+FEFF at the start of a string as if it marked the byte order; written
// as an escape it is kept. Past the first byte the three bytes can only stand inside a string
// (anywhere else the text is not JSON either way), so the escape means the same.
QByteArray keepingFeff(const QByteArray& data)
{
    static const QByteArray feff("\xEF\xBB\xBF");
    if (data.indexOf(feff, 1) < 0)
        return data;
    return data.left(1) + data.mid(1).replace(feff, QByteArrayLiteral("\\ufeff"));
}

// Whether the text is exactly one JSON value: as the only element of an array it parses.
bool isSingleValue(const QByteArray& data)
{
    QJsonParseError error;
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + data + ']', &error);
    return error.error == QJsonParseError::NoError && wrapped.array().size() == 1;
}

QJsonObject migrateVersion1Task(QJsonObject task)
{
    const QJsonValue scheduleValue = task.value(QStringLiteral("schedule"));
    if (!scheduleValue.isObject())
        return task;
    QJsonObject schedule = scheduleValue.toObject();
    for (const QString& caseName :
         {QStringLiteral("daily"), QStringLiteral("weekly"), QStringLiteral("monthly")}) {
        const QJsonValue caseValue = schedule.value(caseName);
        if (caseValue.isObject())
            schedule.insert(caseName, migrateCase(caseValue.toObject(), caseName));
    }
    task.insert(QStringLiteral("schedule"), schedule);
    return task;
}

} // namespace

QString MigrationError::message() const
{
    if (kind == Kind::unknownVersion)
        return QStringLiteral("Unknown tasks.json version: %1").arg(version);
    return QStringLiteral("Unrecognized tasks.json format");
}

Result<QList<ScheduledTask>> decodeTasks(const QByteArray& data)
{
    // Ordinary files take the fast path; anything it is unsure of comes here in full.
    if (auto fast = FastTaskParser::parse(data))
        return *std::move(fast);
    return decodeTasksSlow(data);
}

Result<QList<ScheduledTask>> decodeTasksSlow(const QByteArray& data)
{
    using R = Result<QList<ScheduledTask>>;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(keepingFeff(data), &parseError);
    const auto unrecognized = [] {
        return R::failure(MigrationError{MigrationError::Kind::unrecognizedFormat, 0}.message());
    };
    if (parseError.error != QJsonParseError::NoError) {
        // Qt takes only an object or an array as a document; a file holding a single plain value
        // (5, null, "x") is well-formed JSON of the wrong form, not a syntax error.
        if (isSingleValue(data))
            return unrecognized();
        return R::failure(QStringLiteral("JSON syntax error at offset %1: %2")
                              .arg(parseError.offset)
                              .arg(parseError.errorString()));
    }

    qint64 version = 0;
    QJsonArray list;
    if (document.isObject()) {
        const QJsonObject root = document.object();
        const auto number = integerValue(root.value(QStringLiteral("version")));
        const QJsonValue tasks = root.value(QStringLiteral("tasks"));
        if (!number || !isArrayOfObjects(tasks))
            return unrecognized();
        version = *number;
        list = tasks.toArray();
    } else if (document.isArray() && isArrayOfObjects(document.array())) {
        version = 1;
        list = document.array();
    } else {
        return unrecognized();
    }

    if (version <= 0)
        return R::failure(MigrationError{MigrationError::Kind::unknownVersion, version}.message());
    if (version == 1) {
        for (qsizetype i = 0; i < list.size(); ++i)
            list[i] = migrateVersion1Task(list.at(i).toObject());
    }

    QList<ScheduledTask> tasks;
    tasks.reserve(list.size());
    const JsonDecode::Path root{nullptr, u"tasks", -1};
    for (qsizetype i = 0; i < list.size(); ++i) {
        Result<ScheduledTask> task = JsonDecode::decodeTask(list.at(i), JsonDecode::index(root, i));
        if (!task)
            return R::failure(task.error());
        tasks.append(std::move(task).value());
    }
    return tasks;
}

QByteArray encode(const Envelope& envelope)
{
    return TaskJsonWriter::envelope(envelope.version, envelope.tasks);
}

} // namespace TaskMigration
