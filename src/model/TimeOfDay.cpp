#include "TimeOfDay.h"

#include <QHashFunctions>

#include <algorithm>

QString TimeOfDay::text() const
{
    return QStringLiteral("%1:%2").arg(hour).arg(minute, 2, 10, QLatin1Char('0'));
}

size_t qHash(const TimeOfDay& time, size_t seed)
{
    return qHashMulti(seed, time.hour, time.minute);
}

QList<TimeOfDay> sortedTimes(QList<TimeOfDay> times)
{
    std::stable_sort(times.begin(), times.end());
    return times;
}
