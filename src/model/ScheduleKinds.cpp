#include "ScheduleKinds.h"

namespace ScheduleKinds {

namespace {
QString text(std::string_view view)
{
    return QString::fromUtf8(view.data(), qsizetype(view.size()));
}
} // namespace

const QList<PickerEntry>& kindPicker()
{
    static const QList<PickerEntry> entries = [] {
        QList<PickerEntry> list;
        for (size_t index = 0; index < count; ++index) {
            const Kind kind = Kind(index);
            const FormPlace place = formPlace(kind);
            if (!place.group.empty()) {
                const QString group = text(place.group);
                auto same = [&](const PickerEntry& entry) {
                    return entry.grouped && entry.label == group;
                };
                if (auto found = std::find_if(list.begin(), list.end(), same);
                    found != list.end()) {
                    found->kinds.append(kind);
                    continue;
                }
            }
            PickerEntry entry;
            entry.grouped = !place.group.empty();
            entry.label = text(entry.grouped ? place.group : place.label);
            entry.data = text(caseName(kind));
            entry.kinds = {kind};
            list.append(entry);
        }
        return list;
    }();
    return entries;
}

int kindPickerIndex(Kind kind)
{
    const QList<PickerEntry>& entries = kindPicker();
    for (qsizetype index = 0; index < entries.size(); ++index)
        if (entries.at(index).kinds.contains(kind))
            return int(index);
    return -1;
}

bool runsAtLoad(const TaskSchedule& schedule)
{
    return visit(schedule, [](auto traits, const auto& s) { return traits.trigger(s).atLoad; });
}

std::optional<int> everyMinutes(const TaskSchedule& schedule)
{
    return visit(schedule, [](auto traits, const auto& s) { return traits.everyMinutes(s); });
}

LaunchTrigger trigger(const TaskSchedule& schedule)
{
    return visit(schedule, [](auto traits, const auto& s) { return traits.trigger(s); });
}

WakeRule wake(const TaskSchedule& schedule)
{
    return visit(schedule, [](auto traits, const auto& s) { return traits.wake(s); });
}

QStringList guard(const TaskSchedule& schedule, DateDialect dialect)
{
    return visit(schedule,
                 [dialect](auto traits, const auto& s) { return traits.guard(s, dialect); });
}

} // namespace ScheduleKinds
