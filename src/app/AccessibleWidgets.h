#pragma once

// Accessible interfaces of our own where Qt's do not tell assistive technology enough.
namespace AccessibleWidgets {

// Installs the interface factory once per process; windows and sheets call it before they
// build their controls. Pickers (QComboBox) are then named by their own accessible name or
// their label: Qt's interface on Linux and macOS names a picker by its value, so a screen
// reader read "Weekly" where the field is "Schedule type".
void install();

} // namespace AccessibleWidgets
