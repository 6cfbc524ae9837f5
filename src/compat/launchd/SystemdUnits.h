#pragma once

#include "CalendarSchedule.h"
#include "JobSpec.h"
#include "Result.h"

#include <QString>
#include <QStringList>

#include <optional>

// An agent plist as a systemd user service and timer: brenmor-ops-<label>.service runs the
// job the way launchd would, brenmor-ops-<label>.timer starts it at launchd's times. Only what
// launchd does the same way is translated; any other key refuses the whole agent.
namespace SystemdUnits {

struct Units {
    QString label;
    QString serviceName; // brenmor-ops-<label>.service
    QString timerName;   // brenmor-ops-<label>.timer
    QString service;     // unit text
    QString timer;       // unit text; empty when the agent has no schedule
    bool runAtLoad = false;
};

// Why an agent cannot become units; names the key.
struct TranslationError {
    QString key;
    QString reason;
    QString message() const;
};

// The keys this translation keeps faithfully.
const QStringList& supportedKeys();

// "brenmor-ops-" + the label, with every byte outside [A-Za-z0-9:_.-] written \xNN as systemd
// escapes unit names.
QString unitBaseName(const QString& label);
// The label of one of our unit file names; nothing for other names.
std::optional<QString> labelOfUnit(const QString& fileName);
// The plist a service unit was made from (its first comment line).
QString plistPathOf(const QString& unitText);

// One ExecStart= word, double-quoted, safe from systemd's specifier and variable expansion.
QString quotedWord(const QString& word);
// OnCalendar= values for launchd's StartCalendarInterval entries, without duplicates. An entry
// with both Day and Weekday fires when either matches, so it gives two values.
QStringList onCalendar(const QList<CalendarEntry>& entries);

// The units for one agent. `home` is the job's working folder when the plist names none.
Result<Units, TranslationError> translate(const JobSpec& job, const QString& plistPath,
                                          const QString& home);

} // namespace SystemdUnits
