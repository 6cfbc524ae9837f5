#pragma once

#include "PmsetSchedule.h"
#include "Result.h"

#include <QString>
#include <QStringList>

#include <optional>

// Where the stand-in keeps its events and how it hands the next one to the RTC.
namespace PmsetStateFile {

// BRENMOR_OPS_PMSET_STATE; as root /var/lib/brenmor-ops/pmset.json; otherwise
// $XDG_STATE_HOME/brenmor-ops/pmset.json.
QString writePath();
// The files `-g sched` shows, system first: a user sees the events an administrator
// registered (through pkexec, as root) besides any of their own.
QStringList readPaths();

// A missing file is an empty schedule; an unreadable or malformed one is an error.
Result<PmsetSchedule> load(const QString& path);
// Both files' events; a repeating event in a later file replaces an earlier one.
Result<PmsetSchedule> loadMerged(const QStringList& paths);
// Atomic replace.
Result<void> save(const QString& path, const PmsetSchedule& schedule);

// /sys/class/rtc/rtc0/wakealarm (BRENMOR_OPS_PMSET_RTC overrides); empty when
// BRENMOR_OPS_PMSET_NO_RTC is set, so tests never arm the machine's clock.
QString rtcAlarmPath();
// Sets the alarm to `next` (clears it when none). Silently does nothing without the right
// to write: the events are kept either way, only the machine will not power on by itself.
void armRtc(const QString& alarmPath, const std::optional<QDateTime>& next);

} // namespace PmsetStateFile
