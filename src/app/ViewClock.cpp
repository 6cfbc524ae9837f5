#include "ViewClock.h"

namespace {

std::optional<QDateTime>& fixedNow()
{
    static std::optional<QDateTime> value;
    return value;
}

} // namespace

namespace ViewClock {

QDateTime now() { return fixedNow() ? *fixedNow() : QDateTime::currentDateTime(); }

QTimeZone zone() { return QTimeZone::systemTimeZone(); }

void setFixedNow(std::optional<QDateTime> now) { fixedNow() = std::move(now); }

} // namespace ViewClock
