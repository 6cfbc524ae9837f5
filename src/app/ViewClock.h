#pragma once

#include <QDateTime>
#include <QTimeZone>

#include <optional>

// The present moment as the task screens see it. The screenshot tool and tests fix it, so the
// next-run line and the timeline show the same day on every run.
namespace ViewClock {

QDateTime now();
QTimeZone zone();
void setFixedNow(std::optional<QDateTime> now);

} // namespace ViewClock
