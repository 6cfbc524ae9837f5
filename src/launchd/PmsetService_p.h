#pragma once

// The wake service's arithmetic and pmset's texts, apart from the service so they can be
// checked on their own. Not part of the launchd library's interface.

#include "TimeOfDay.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <optional>

namespace PmsetDetail {

// Whether the wake for a run at `earliest` falls on the day before it (a run just after
// midnight).
bool wakesDayBefore(const TimeOfDay& earliest);
// pmset's day letters for waking before runs on `weekdays`: the day before each when the wake
// time falls on the previous day.
QString wakeDays(const QList<int>& weekdays, bool dayBefore);
// pmset's day letter for a stored weekday (1 = Sunday "U" ... 7 = Saturday "S").
QString weekdayLetter(int weekday);
// "pmset repeat wakeorpoweron DAYS HH:MM:00".
QString repeatCommand(int hour, int minute, const QString& days);
// "pmset schedule wakeorpoweron \"MM/dd/yy HH:mm:ss\"" in `zone`.
QString onceCommand(const QDateTime& at, const QTimeZone& zone);
// "pmset repeat cancel".
QString cancelRepeatCommand();
// "pmset schedule cancel wakeorpoweron \"MM/dd/yy HH:mm:ss\"" in `zone`.
QString cancelOnceCommand(const QDateTime& at, const QTimeZone& zone);
// Whether `pmset -g sched` text lists a one-time event at `at` (shown in `zone`, with a two- or
// four-digit year).
bool listsOneTimeEvent(const QString& schedule, const QDateTime& at, const QTimeZone& zone);
// The first moment after `now` on day `day` of a month at hour:minute in `zone`, or on the day
// before such a day when `dayBefore`; none when no month has such a day.
std::optional<QDateTime> nextMonthlyDate(const QDateTime& now, const QTimeZone& zone, int day,
                                         int hour, int minute, bool dayBefore = false);
// The 12-hour texts `pmset -g sched` may show for a wake time (8:55AM; 12:10AM and 0:10AM).
QStringList wakeTimeTexts(int wakeMinutes);

} // namespace PmsetDetail
