#pragma once

#include <QList>
#include <QString>

// A local wall-clock time. Ordered by total minutes; equality compares hour and minute.
struct TimeOfDay {
    int hour = 0;
    int minute = 0;

    int totalMinutes() const { return hour * 60 + minute; }
    // "%d:%02d": 9:05, 17:30.
    QString text() const;

    friend bool operator==(const TimeOfDay&, const TimeOfDay&) = default;
    friend bool operator<(const TimeOfDay& a, const TimeOfDay& b)
    {
        return a.totalMinutes() < b.totalMinutes();
    }
};

size_t qHash(const TimeOfDay& time, size_t seed = 0);

// Times sorted by total minutes (stable), as every display shows them.
QList<TimeOfDay> sortedTimes(QList<TimeOfDay> times);
