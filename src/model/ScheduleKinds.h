#pragma once

#include <QList>
#include <QString>

// The schedule kinds the task form offers. Raw values are also the identities.
enum class ScheduleType { runAtLoad, interval, daily, weekly, monthly };
// Refines ScheduleType::monthly into the three monthly schedule cases.
enum class MonthlyType { specificDay, lastDay, nthWeekday };

QString rawValue(ScheduleType type);
QString rawValue(MonthlyType type);
const QList<ScheduleType>& allScheduleTypes();
const QList<MonthlyType>& allMonthlyTypes();
