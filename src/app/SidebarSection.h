#pragma once

#include <QHash>
#include <QString>
#include <QUuid>

// What the main window's sidebar has selected: a task, a system job (by its plist path) or the
// day timeline.
struct SidebarSection {
    enum class Kind { task, systemJob, timeline };

    Kind kind = Kind::timeline;
    QUuid taskId;        // task
    QString systemJobId; // systemJob

    static SidebarSection task(const QUuid& id) { return {Kind::task, id, {}}; }
    static SidebarSection systemJob(const QString& id) { return {Kind::systemJob, {}, id}; }
    static SidebarSection timeline() { return {Kind::timeline, {}, {}}; }

    friend bool operator==(const SidebarSection&, const SidebarSection&) = default;
};

inline size_t qHash(const SidebarSection& section, size_t seed = 0)
{
    return qHashMulti(seed, static_cast<int>(section.kind), section.taskId, section.systemJobId);
}
