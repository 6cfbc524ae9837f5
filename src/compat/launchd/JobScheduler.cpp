#include "JobScheduler.h"

#include <algorithm>

void JobScheduler::add(const QString& label, std::optional<int> intervalSeconds,
                       const QList<CalendarEntry>& calendar, const ClockReading& now)
{
    Plan plan;
    plan.intervalSeconds = intervalSeconds;
    plan.loadBootMs = now.bootMs;
    if (intervalSeconds)
        plan.nextIntervalBootMs = now.bootMs + qint64(*intervalSeconds) * 1000;
    plan.calendar = calendar;
    plan.nextCalendar = CalendarSchedule::nextFire(calendar, now.wall, m_zone);
    plan.lastCheck = now.wall;
    m_jobs.insert(label, plan);
}

void JobScheduler::remove(const QString& label) { m_jobs.remove(label); }

void JobScheduler::advanceInterval(Plan& plan, qint64 bootMs) const
{
    // Stay on the grid laid from the load: the next multiple of the interval after now.
    const qint64 step = qint64(*plan.intervalSeconds) * 1000;
    const qint64 periods = (bootMs - plan.loadBootMs) / step + 1;
    plan.nextIntervalBootMs = plan.loadBootMs + periods * step;
}

QStringList JobScheduler::due(const ClockReading& now)
{
    QStringList labels;
    for (auto it = m_jobs.begin(); it != m_jobs.end(); ++it) {
        Plan& plan = it.value();
        bool fire = false;
        if (plan.intervalSeconds && now.bootMs >= plan.nextIntervalBootMs) {
            fire = now.bootMs - plan.nextIntervalBootMs <= missedIntervalSlackMs;
            advanceInterval(plan, now.bootMs);
        }
        if (!plan.calendar.isEmpty()) {
            if (plan.lastCheck.msecsTo(now.wall) < -clockStepBackMs) {
                plan.nextCalendar = CalendarSchedule::nextFire(plan.calendar, now.wall, m_zone);
            } else if (plan.nextCalendar && *plan.nextCalendar <= now.wall) {
                fire = true;
                plan.nextCalendar = CalendarSchedule::nextFire(plan.calendar, now.wall, m_zone);
            }
            plan.lastCheck = now.wall;
        }
        if (fire)
            labels.append(it.key());
    }
    std::sort(labels.begin(), labels.end());
    return labels;
}

std::optional<QDateTime> JobScheduler::nextWake(const ClockReading& now) const
{
    std::optional<QDateTime> earliest;
    auto consider = [&earliest](const QDateTime& time) {
        if (!earliest || time < *earliest)
            earliest = time;
    };
    for (const Plan& plan : m_jobs) {
        if (plan.intervalSeconds)
            consider(now.wall.addMSecs(std::max<qint64>(0, plan.nextIntervalBootMs - now.bootMs)));
        if (plan.nextCalendar)
            consider(*plan.nextCalendar);
    }
    return earliest;
}
