#include "PmsetStateFile.h"

#include "AtomicFile.h"
#include "Locations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>

#include <unistd.h>

namespace PmsetStateFile {

namespace {
const QString systemPath = QStringLiteral("/var/lib/brenmor-ops/pmset.json");

QString userPath() { return Locations::stateFolder() + QStringLiteral("/pmset.json"); }

bool writeAlarm(const QString& path, const QByteArray& value)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(value) == value.size();
}
} // namespace

QString writePath()
{
    const QString overridden = qEnvironmentVariable("BRENMOR_OPS_PMSET_STATE");
    if (!overridden.isEmpty())
        return overridden;
    return geteuid() == 0 ? systemPath : userPath();
}

QStringList readPaths()
{
    const QString path = writePath();
    if (path == userPath())
        return {systemPath, path};
    return {path};
}

Result<PmsetSchedule> load(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return PmsetSchedule{};
    if (!file.open(QIODevice::ReadOnly))
        return Result<PmsetSchedule>::failure(
            QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    std::optional<PmsetSchedule> schedule;
    if (document.isObject())
        schedule = PmsetSchedule::fromJson(document.object());
    if (!schedule)
        return Result<PmsetSchedule>::failure(
            QStringLiteral("cannot read %1: not a pmset state file").arg(path));
    return *std::move(schedule);
}

Result<PmsetSchedule> loadMerged(const QStringList& paths)
{
    PmsetSchedule merged;
    for (const QString& path : paths) {
        // Someone else's file we may not read is not ours to report.
        if (path != paths.last() && QFileInfo::exists(path) && !QFileInfo(path).isReadable())
            continue;
        const Result<PmsetSchedule> schedule = load(path);
        if (!schedule)
            return schedule;
        if (schedule->repeating)
            merged.repeating = schedule->repeating;
        for (const OneTimeEvent& event : schedule->scheduled)
            merged.add(event);
    }
    return merged;
}

Result<void> save(const QString& path, const PmsetSchedule& schedule)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return Result<void>::failure(QStringLiteral("cannot create %1").arg(folder));
    return AtomicFile::write(path, QJsonDocument(schedule.toJson()).toJson(QJsonDocument::Indented),
                             QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                 QFileDevice::ReadGroup | QFileDevice::ReadOther);
}

QString rtcAlarmPath()
{
    const QString disabled = qEnvironmentVariable("BRENMOR_OPS_PMSET_NO_RTC");
    if (!disabled.isEmpty() && disabled != QLatin1String("0"))
        return {};
    const QString overridden = qEnvironmentVariable("BRENMOR_OPS_PMSET_RTC");
    return overridden.isEmpty() ? QStringLiteral("/sys/class/rtc/rtc0/wakealarm") : overridden;
}

void armRtc(const QString& alarmPath, const std::optional<QDateTime>& next)
{
    if (alarmPath.isEmpty() || !QFileInfo(alarmPath).isWritable())
        return;
    // The kernel refuses a new alarm while one is set: clear first, then set.
    if (!writeAlarm(alarmPath, "0\n") || !next)
        return;
    writeAlarm(alarmPath, QByteArray::number(next->toSecsSinceEpoch()) + '\n');
}

} // namespace PmsetStateFile
