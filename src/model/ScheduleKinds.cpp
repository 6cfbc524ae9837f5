#include "ScheduleKinds.h"

QString rawValue(ScheduleType type)
{
    switch (type) {
    case ScheduleType::runAtLoad:
        return QStringLiteral("runAtLoad");
    case ScheduleType::interval:
        return QStringLiteral("interval");
    case ScheduleType::daily:
        return QStringLiteral("daily");
    case ScheduleType::weekly:
        return QStringLiteral("weekly");
    case ScheduleType::monthly:
        return QStringLiteral("monthly");
    }
    return {};
}

QString rawValue(MonthlyType type)
{
    switch (type) {
    case MonthlyType::specificDay:
        return QStringLiteral("specificDay");
    case MonthlyType::lastDay:
        return QStringLiteral("lastDay");
    case MonthlyType::nthWeekday:
        return QStringLiteral("nthWeekday");
    }
    return {};
}

const QList<ScheduleType>& allScheduleTypes()
{
    static const QList<ScheduleType> all = {ScheduleType::runAtLoad, ScheduleType::interval,
                                            ScheduleType::daily, ScheduleType::weekly,
                                            ScheduleType::monthly};
    return all;
}

const QList<MonthlyType>& allMonthlyTypes()
{
    static const QList<MonthlyType> all = {MonthlyType::specificDay, MonthlyType::lastDay,
                                           MonthlyType::nthWeekday};
    return all;
}

namespace ScheduleKinds {

FormFields formFields(ScheduleType type, MonthlyType monthly)
{
    FormFields fields{};
    forEachKind([&]<typename Case>() {
        if (Traits<Case>::form.matches(type, monthly))
            fields = Traits<Case>::formFields;
    });
    return fields;
}

} // namespace ScheduleKinds
