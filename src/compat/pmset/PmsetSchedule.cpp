#include "PmsetSchedule.h"

#include <QJsonArray>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>

namespace {

// pmset's weekday letters, Monday first, which is also Qt's dayOfWeek() order (1 ... 7).
const QString dayLetters = QStringLiteral("MTWRFSU");
const QString timeFormat = QStringLiteral("HH:mm:ss");

} // namespace

void PmsetSchedule::add(const OneTimeEvent& event)
{
    if (scheduled.contains(event))
        return;
    const auto position =
        std::upper_bound(scheduled.begin(), scheduled.end(), event,
                         [](const OneTimeEvent& a, const OneTimeEvent& b) { return a.at < b.at; });
    scheduled.insert(position, event);
}

void PmsetSchedule::dropPast(const QDateTime& now)
{
    scheduled.removeIf([&now](const OneTimeEvent& event) { return event.at <= now; });
}

std::optional<QDateTime> PmsetSchedule::nextEvent(const QDateTime& now) const
{
    std::optional<QDateTime> next;
    for (const OneTimeEvent& event : scheduled) {
        if (event.at > now && (!next || event.at < *next))
            next = event.at;
    }
    if (repeating) {
        const QDateTime local = now.toLocalTime();
        // Eight days: today's time may have passed, and the same weekday comes round a week on.
        for (int offset = 0; offset <= 7; ++offset) {
            const QDate date = local.date().addDays(offset);
            if (!repeating->days.contains(dayLetters.at(date.dayOfWeek() - 1)))
                continue;
            const QDateTime candidate(date, repeating->time);
            if (candidate > now) {
                if (!next || candidate < *next)
                    next = candidate;
                break;
            }
        }
    }
    return next;
}

QJsonObject PmsetSchedule::toJson() const
{
    QJsonObject json;
    if (repeating) {
        json.insert(QStringLiteral("repeating"),
                    QJsonObject{{QStringLiteral("type"), repeating->type},
                                {QStringLiteral("days"), repeating->days},
                                {QStringLiteral("time"), repeating->time.toString(timeFormat)}});
    }
    QJsonArray events;
    for (const OneTimeEvent& event : scheduled) {
        events.append(QJsonObject{{QStringLiteral("type"), event.type},
                                  {QStringLiteral("at"), event.at.toUTC().toString(Qt::ISODate)},
                                  {QStringLiteral("owner"), event.owner}});
    }
    json.insert(QStringLiteral("scheduled"), events);
    return json;
}

std::optional<PmsetSchedule> PmsetSchedule::fromJson(const QJsonObject& json)
{
    PmsetSchedule schedule;
    const QJsonValue repeating = json.value(QStringLiteral("repeating"));
    if (repeating.isObject()) {
        const QJsonObject event = repeating.toObject();
        const QString type = event.value(QStringLiteral("type")).toString();
        const auto days = PmsetText::parseDays(event.value(QStringLiteral("days")).toString());
        const auto time = PmsetText::parseTime(event.value(QStringLiteral("time")).toString());
        if (!PmsetText::isWakeType(type) || !days || !time)
            return std::nullopt;
        schedule.repeating = RepeatingEvent{type, *days, *time};
    } else if (!repeating.isUndefined() && !repeating.isNull()) {
        return std::nullopt;
    }
    const QJsonValue scheduled = json.value(QStringLiteral("scheduled"));
    if (!scheduled.isUndefined() && !scheduled.isArray())
        return std::nullopt;
    for (const QJsonValue& value : scheduled.toArray()) {
        const QJsonObject event = value.toObject();
        const QString type = event.value(QStringLiteral("type")).toString();
        QDateTime at =
            QDateTime::fromString(event.value(QStringLiteral("at")).toString(), Qt::ISODate);
        if (!PmsetText::isWakeType(type) || !at.isValid())
            return std::nullopt;
        schedule.add({type, at.toUTC(), event.value(QStringLiteral("owner")).toString()});
    }
    return schedule;
}

namespace PmsetText {

bool isWakeType(const QString& type)
{
    return type == QLatin1String("wake") || type == QLatin1String("poweron") ||
           type == QLatin1String("wakeorpoweron");
}

std::optional<QString> parseDays(const QString& letters)
{
    if (letters.isEmpty())
        return std::nullopt;
    for (const QChar letter : letters) {
        if (!dayLetters.contains(letter))
            return std::nullopt;
    }
    QString days;
    for (const QChar letter : dayLetters) {
        if (letters.contains(letter))
            days += letter;
    }
    return days;
}

std::optional<QTime> parseTime(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{1,2}:\\d{2}:\\d{2}$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    const QTime time = QTime::fromString(text, QStringLiteral("H:mm:ss"));
    if (!time.isValid())
        return std::nullopt;
    return time;
}

std::optional<QDateTime> parseDate(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{2}|\\d{4}) (\\d{1,2}:\\d{2}:\\d{2})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    int year = match.captured(3).toInt();
    // Two-digit years are this century's, as pmset reads them.
    if (match.captured(3).size() == 2)
        year += 2000;
    const QDate date(year, match.captured(1).toInt(), match.captured(2).toInt());
    const std::optional<QTime> time = parseTime(match.captured(4));
    if (!date.isValid() || !time)
        return std::nullopt;
    return QDateTime(date, *time);
}

QString daysText(const QString& days)
{
    if (days == dayLetters)
        return QStringLiteral("every day");
    if (days == QLatin1String("MTWRF"))
        return QStringLiteral("weekdays only");
    if (days == QLatin1String("SU"))
        return QStringLiteral("weekends only");
    if (days.size() == 1)
        return QLocale::c().standaloneDayName(int(dayLetters.indexOf(days.at(0))) + 1);
    return QStringLiteral("Some days");
}

QString clockText(const QTime& time)
{
    // pmset writes the hour after midnight as 0, not 12; noon stays 12.
    const int hour = time.hour() > 12 ? time.hour() - 12 : time.hour();
    return QStringLiteral("%1:%2%3")
        .arg(hour)
        .arg(time.minute(), 2, 10, QLatin1Char('0'))
        .arg(time.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

QString scheduleText(const PmsetSchedule& schedule)
{
    if (!schedule.repeating && schedule.scheduled.isEmpty())
        return QStringLiteral("No scheduled events.\n");
    QString text;
    if (schedule.repeating) {
        const RepeatingEvent& event = *schedule.repeating;
        const QString type = event.type == QLatin1String("wakeorpoweron")
                                 ? QStringLiteral("wakepoweron")
                                 : event.type;
        text += QStringLiteral("Repeating power events:\n  %1 at %2 %3\n")
                    .arg(type, clockText(event.time), daysText(event.days));
    }
    if (!schedule.scheduled.isEmpty()) {
        text += QStringLiteral("Scheduled power events:\n");
        for (qsizetype i = 0; i < schedule.scheduled.size(); ++i) {
            const OneTimeEvent& event = schedule.scheduled.at(i);
            text += QStringLiteral(" [%1]  %2 at %3 by '%4'\n")
                        .arg(i)
                        .arg(event.type,
                             QLocale::c().toString(event.at.toLocalTime(),
                                                   QStringLiteral("MM/dd/yyyy HH:mm:ss")),
                             event.owner);
        }
    }
    return text;
}

} // namespace PmsetText
