#include "CachedZone.h"

#include <QDateTime>

#include <algorithm>

namespace {

QDateTime utcAt(qint64 secs) { return QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc()); }

} // namespace

CachedZone::CachedZone(QTimeZone zone, qint64 fromSecs, qint64 toSecs)
    : m_zone(std::move(zone)), m_from(fromSecs), m_to(toSecs)
{
    if (!m_zone.isValid() || m_to < m_from) {
        m_to = m_from - 1; // covers nothing: every question goes to the zone
        return;
    }
    m_offsetAtStart = m_zone.offsetFromUtc(utcAt(m_from));
    const QTimeZone::OffsetData before = m_zone.previousTransition(utcAt(m_from));
    if (before.atUtc.isValid())
        m_transitionBeforeSpan = before.atUtc.toSecsSinceEpoch();
    for (const QTimeZone::OffsetData& transition : m_zone.transitions(utcAt(m_from), utcAt(m_to))) {
        // Whole seconds: zones change at whole seconds, and so do the questions asked.
        const qint64 at = transition.atUtc.toSecsSinceEpoch();
        if (at < m_from || at > m_to)
            continue;
        m_transitions.push_back(at);
        m_offsets.push_back(transition.offsetFromUtc);
    }
}

int CachedZone::offsetAt(qint64 secs) const
{
    if (!covers(secs))
        return m_zone.offsetFromUtc(utcAt(secs));
    const auto next = std::upper_bound(m_transitions.begin(), m_transitions.end(), secs);
    if (next == m_transitions.begin())
        return m_offsetAtStart;
    return m_offsets[size_t(next - m_transitions.begin() - 1)];
}

std::optional<qint64> CachedZone::transitionBefore(qint64 secs) const
{
    if (!covers(secs)) {
        const QTimeZone::OffsetData transition = m_zone.previousTransition(utcAt(secs));
        if (!transition.atUtc.isValid())
            return std::nullopt;
        return transition.atUtc.toSecsSinceEpoch();
    }
    const auto at = std::lower_bound(m_transitions.begin(), m_transitions.end(), secs);
    if (at == m_transitions.begin())
        return m_transitionBeforeSpan;
    return *(at - 1);
}
