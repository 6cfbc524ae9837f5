#pragma once

#include <QString>

// The few texts that name the machine or its tools, one table per platform: macOS talks about
// the Mac, launchd jobs and the Shortcuts app; Linux about the computer, and about the
// `shortcuts` command that is normally not there. Views take their texts from `current()`;
// nothing else in them depends on the platform.
struct PlatformTexts {
    QString wakeToggle;       // the form's wake switch
    QString wakes;            // start of the wake captions: "Wakes your Mac"
    QString wakeScheduled;    // the detail's line while the wake event is registered
    QString deleteSuffix;     // after "Are you sure you want to delete "<name>""
    QString bulkDeleteSuffix; // after "Are you sure you want to delete N tasks"
    QString noShortcutsText;  // the Shortcuts picker's empty state when the list is empty
    QString noShortcutsTool;  // ... when the `shortcuts` command cannot be started

    static const PlatformTexts& forMac();
    static const PlatformTexts& forLinux();
    static const PlatformTexts& current();
};

// Whether the `shortcuts` command exists, so "From Shortcuts" can offer anything.
bool shortcutsToolAvailable();
