#pragma once

#include <QTimeZone>

#include <optional>
#include <vector>

// One time zone's offsets over a span of time, read from the zone once. Planning thousands of
// schedules years ahead converts wall times to instants many times over; each conversion is
// then a binary search in the zone's few transitions instead of a query of the zone (or of the
// C library's mktime, which looks at the system's zone file on every call). Instants outside
// the span are answered by the zone itself.
class CachedZone {
public:
    // The span is in seconds since the epoch, both ends included.
    CachedZone(QTimeZone zone, qint64 fromSecs, qint64 toSecs);

    const QTimeZone& zone() const { return m_zone; }
    // The zone's offset from UTC at `secs`, in seconds.
    int offsetAt(qint64 secs) const;
    // The last transition strictly before `secs`, in seconds since the epoch; nothing when the
    // zone has none.
    std::optional<qint64> transitionBefore(qint64 secs) const;

private:
    bool covers(qint64 secs) const { return secs >= m_from && secs <= m_to; }

    QTimeZone m_zone;
    qint64 m_from = 0;
    qint64 m_to = -1;
    int m_offsetAtStart = 0;
    // Transitions inside the span, ascending: when, and the offset from then on.
    std::vector<qint64> m_transitions;
    std::vector<int> m_offsets;
    // The last transition before the span, if any.
    std::optional<qint64> m_transitionBeforeSpan;
};
