#pragma once

#include <QString>

// Paths of the external tools. On macOS these are the system's own; on Linux they are our
// stand-ins in libexec/brenmor-ops/ next to the installed programs. Each can be overridden
// by an environment variable so tests substitute fakes.
namespace ToolPaths {

QString launchctl(); // BRENMOR_OPS_LAUNCHCTL
QString pmset();     // BRENMOR_OPS_PMSET
QString osascript(); // BRENMOR_OPS_OSASCRIPT
QString shortcuts(); // BRENMOR_OPS_SHORTCUTS
// Linux: the helper that posts change notifications on the session bus; empty on macOS.
QString postNotification();
// Folder of the Linux stand-ins (BRENMOR_OPS_COMPAT_DIR overrides); empty on macOS.
QString compatFolder();
// Linux: the folder of the stand-ins built and installed with this program
// (../libexec/brenmor-ops beside it), whatever BRENMOR_OPS_COMPAT_DIR says; empty on macOS.
QString builtInCompatFolder();

} // namespace ToolPaths
