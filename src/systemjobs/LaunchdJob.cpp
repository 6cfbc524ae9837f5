#include "LaunchdJob.h"

#include "PlistVariant.h"

QString LaunchdJob::sourceName(Source source)
{
    switch (source) {
    case Source::userAgents:
        return QStringLiteral("User Agents");
    case Source::globalAgents:
        return QStringLiteral("Global Agents");
    case Source::globalDaemons:
        return QStringLiteral("Global Daemons");
    }
    return {};
}

const QList<LaunchdJob::Source>& LaunchdJob::allSources()
{
    static const QList<Source> sources{Source::userAgents, Source::globalAgents,
                                       Source::globalDaemons};
    return sources;
}

QString LaunchdJob::scheduleDescription() const
{
    if (startInterval) {
        const qint64 seconds = *startInterval;
        if (seconds < 60)
            return QStringLiteral("Every %1 sec").arg(seconds);
        return QStringLiteral("Every %1 min").arg(seconds / 60);
    }
    if (startCalendarInterval) {
        const QMap<QString, qint64>& calendar = *startCalendarInterval;
        QStringList parts;
        if (calendar.contains(QStringLiteral("Day")))
            parts << QStringLiteral("Day %1").arg(calendar.value(QStringLiteral("Day")));
        // launchd's own weekday number (0 or 7 = Sunday) is shown as stored.
        if (calendar.contains(QStringLiteral("Weekday")))
            parts << QStringLiteral("Weekday %1").arg(calendar.value(QStringLiteral("Weekday")));
        if (calendar.contains(QStringLiteral("Hour"))) {
            const qint64 hour = calendar.value(QStringLiteral("Hour"));
            if (calendar.contains(QStringLiteral("Minute")))
                parts << QString::asprintf(
                    "%lld:%02lld", static_cast<long long>(hour),
                    static_cast<long long>(calendar.value(QStringLiteral("Minute"))));
            else
                parts << QStringLiteral("%1:00").arg(hour);
        }
        if (parts.isEmpty())
            return QStringLiteral("Calendar interval");
        return parts.join(QStringLiteral(", "));
    }
    if (runAtLoad)
        return QStringLiteral("Run at load");
    if (keepAlive)
        return QStringLiteral("Keep alive");
    return QStringLiteral("Manual");
}

QString LaunchdJob::commandLine() const
{
    if (programArguments)
        return programArguments->join(QLatin1Char(' '));
    if (program)
        return *program;
    return QStringLiteral("(unknown)");
}

QString LaunchdJob::rawPlistXml() const
{
    const std::optional<QByteArray> xml = PlistVariant::toXml(raw);
    if (!xml || !xml->isValidUtf8())
        return QStringLiteral("(unable to display)");
    return QString::fromUtf8(*xml);
}
