#include "ChangeNotification.h"

#include "ChildProcess.h"
#include "ToolPaths.h"

#include <QFileInfo>

namespace {
constexpr int helperWaitMs = 20000;

// Where libdbus would look for the session bus: the address variable, the per-user socket, or
// an X11 autolaunch. With none of them the helper could only fail, so it is not started.
bool sessionBusMayExist()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
        !qEnvironmentVariableIsEmpty("DISPLAY"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}
} // namespace

namespace ChangeNotification {

QString tasksDidChangeName() { return QStringLiteral("com.brenmor-ops.tasksDidChange"); }

void postTasksDidChange()
{
    // Loading the D-Bus libraries costs the command-line tool a third of its start-up, yet only
    // a successful write needs them: a helper posts instead. It is waited for, so the
    // notification is out before a short-lived caller exits.
    if (!sessionBusMayExist())
        return;
    // A loaded machine may take seconds to start it; a bus that never answers must not hold the
    // caller for good. Once killed it is reaped, so nothing is left running.
    ChildProcess::run(ToolPaths::postNotification(), {tasksDidChangeName()},
                      ChildProcess::Options(helperWaitMs, ChildProcess::Output::forwarded));
}

} // namespace ChangeNotification
