#!/usr/bin/env python3
"""What a screen reader meets: starts BrenmorOps under Xvfb with accessibility switched on,
reads its windows over AT-SPI (the accessibility bus Orca and automation tools use) and checks
them: every focusable control that is shown has a name, the form's pickers are named "Schedule
type", "Hour" and "Minute" (not by their values), the form's name and command take text through
the EditableText interface, and "Add Task" then becomes enabled.

It talks to the bus with python3-dbus directly (the calls pyatspi makes). Every wait is for an
event (Xvfb reporting its display, the bus answering, the window appearing on the bus, a state
change), re-checked at least every 100 ms and bounded by a timeout that only ends a failure.

Usage: atspi_check.py --app build/bin/BrenmorOps --tasks tasks.json
Exit status 0: passed; 1: failed; 77: skipped, with the reason on standard output."""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIPPED = 77
TIMEOUT_S = 30
# AT-SPI state numbers (AtspiStateType).
ENABLED, FOCUSABLE, SENSITIVE, SHOWING, VISIBLE = 8, 11, 24, 25, 30
RELATION_LABELLED_BY = 2
ROOT = "/org/a11y/atspi/accessible/root"
A11Y = "org.a11y.atspi."


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(SKIPPED)


def find_launcher():
    for folder in ("/usr/libexec", "/usr/lib/at-spi2-core", "/usr/lib/at-spi2"):
        path = os.path.join(folder, "at-spi-bus-launcher")
        if os.access(path, os.X_OK):
            return path
    return None


class Failures:
    def __init__(self):
        self.messages = []

    def check(self, ok, message):
        if not ok:
            self.messages.append(message)
            print("FAIL: " + message)
        return ok


class Node:
    """One accessible object: its bus name and path, read lazily."""

    def __init__(self, bus, name, path):
        self.bus, self.name, self.path = bus, str(name), str(path)
        self.proxy = bus.get_object(self.name, self.path, introspect=False)

    def call(self, interface, method, *args, **kwargs):
        import dbus

        return getattr(dbus.Interface(self.proxy, A11Y + interface), method)(*args, **kwargs)

    def prop(self, interface, name):
        import dbus

        props = dbus.Interface(self.proxy, "org.freedesktop.DBus.Properties")
        return props.Get(A11Y + interface, name)

    def accessible_name(self):
        return str(self.prop("Accessible", "Name"))

    def role(self):
        return str(self.call("Accessible", "GetRoleName"))

    def states(self):
        words = self.call("Accessible", "GetState")
        bits = set()
        for index, word in enumerate(words):
            for bit in range(32):
                if int(word) & (1 << bit):
                    bits.add(index * 32 + bit)
        return bits

    def children(self):
        return [Node(self.bus, name, path) for name, path in self.call("Accessible", "GetChildren")]

    def interfaces(self):
        return [str(name) for name in self.call("Accessible", "GetInterfaces")]

    def labelled_by(self):
        targets = []
        for kind, objects in self.call("Accessible", "GetRelationSet"):
            if int(kind) == RELATION_LABELLED_BY:
                targets += [Node(self.bus, name, path) for name, path in objects]
        return targets

    def text(self):
        return str(self.call("Text", "GetText", 0, -1))

    def describe(self):
        return "%s %r" % (self.role(), self.accessible_name())


def walk(node, depth=0, out=None):
    """The node and everything shown below it, as (depth, node, states)."""
    out = [] if out is None else out
    states = node.states()
    out.append((depth, node, states))
    if (SHOWING in states or depth == 0) and len(out) < 5000:
        for child in node.children():
            walk(child, depth + 1, out)
    return out


class Session:
    def __init__(self, app, tasks):
        import dbus
        import dbus.mainloop.glib
        from gi.repository import GLib

        self.dbus, self.GLib = dbus, GLib
        dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
        self.app_path, self.tasks = app, tasks
        self.processes = []
        self.home = tempfile.mkdtemp(prefix="brenmor-atspi-")
        self.loop = GLib.MainLoop()

    # Every AT-SPI event ends a wait early so its condition is checked at once.
    def on_event(self, *args, **kwargs):
        if self.loop.is_running():
            self.loop.quit()

    def wait_until(self, condition, what):
        deadline = time.monotonic() + TIMEOUT_S
        while True:
            result = condition()
            if result:
                return result
            if time.monotonic() > deadline:
                raise RuntimeError("timed out after %d s waiting for %s" % (TIMEOUT_S, what))
            fired = []

            def recheck():
                fired.append(True)
                self.loop.quit()
                return False

            timer = self.GLib.timeout_add(100, recheck)
            self.loop.run()
            if not fired:
                self.GLib.source_remove(timer)

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten",
             "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        self.processes.append(xvfb)
        os.close(write_end)
        # Xvfb writes its display number once it accepts clients.
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    raise RuntimeError("Xvfb ended before it reported a display")
                number += chunk
        return ":" + number.decode().strip()

    def accessibility_bus(self, display):
        session = self.dbus.SessionBus()
        daemon = self.dbus.Interface(session.get_object("org.freedesktop.DBus",
                                                        "/org/freedesktop/DBus"),
                                     "org.freedesktop.DBus")
        daemon.UpdateActivationEnvironment({"DISPLAY": display})
        # at-spi-bus-launcher is started by the bus for its name; the call returns once it runs.
        launcher = session.get_object("org.a11y.Bus", "/org/a11y/bus")
        self.dbus.Interface(launcher, "org.freedesktop.DBus.Properties").Set(
            "org.a11y.Status", "IsEnabled", True)
        address = self.dbus.Interface(launcher, "org.a11y.Bus").GetAddress()
        bus = self.dbus.bus.BusConnection(str(address))
        registry = self.dbus.Interface(bus.get_object(A11Y + "Registry", "/org/a11y/atspi/registry"),
                                       A11Y + "Registry")
        # Applications send events only while someone listens for them.
        for event in ("window:", "object:"):
            for arguments in ((event, self.dbus.Array([], signature="s"), ""),
                              (event, self.dbus.Array([], signature="s")), (event,)):
                try:
                    registry.RegisterEvent(*arguments)
                    break
                except self.dbus.exceptions.DBusException:
                    continue
        bus.add_signal_receiver(self.on_event, sender_keyword="sender")
        return bus

    def start_app(self, display):
        data = os.path.join(self.home, ".local", "share", "BrenmorOps")
        os.makedirs(data)
        for folder in (".config", ".cache", "runtime"):
            os.makedirs(os.path.join(self.home, folder), mode=0o700)
        shutil.copy(self.tasks, os.path.join(data, "tasks.json"))
        env = dict(os.environ, HOME=self.home, XDG_DATA_HOME=os.path.join(self.home, ".local",
                                                                           "share"),
                   XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                   XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
                   XDG_RUNTIME_DIR=os.path.join(self.home, "runtime"), DISPLAY=display,
                   QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1")
        env.pop("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", None)  # the bus's IsEnabled switches it on
        self.log = open(os.path.join(self.home, "app.log"), "wb")
        app = subprocess.Popen([self.app_path], env=env, stdout=self.log, stderr=subprocess.STDOUT,
                               start_new_session=True)
        self.processes.append(app)
        return app

    def app_root(self, bus, pid):
        """The application's root object on the bus, found by its process."""
        daemon = self.dbus.Interface(bus.get_object("org.freedesktop.DBus",
                                                    "/org/freedesktop/DBus"),
                                     "org.freedesktop.DBus")
        desktop = Node(bus, A11Y + "Registry", ROOT)
        for child in desktop.children():
            try:
                if int(daemon.GetConnectionUnixProcessID(child.name)) == pid:
                    return child
            except self.dbus.exceptions.DBusException:
                continue
        return None

    def shown_window(self, bus, pid, title):
        root = self.app_root(bus, pid)
        if not root:
            return None
        for window in root.children():
            try:
                if window.accessible_name() == title and SHOWING in window.states():
                    return window
            except self.dbus.exceptions.DBusException:
                continue
        return None

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGTERM)
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()
        shutil.rmtree(self.home, ignore_errors=True)


def check_focusables_named(window, failures, where):
    for depth, node, states in walk(window):
        if {FOCUSABLE, SHOWING, VISIBLE} <= states:
            name = node.accessible_name().strip()
            failures.check(name or node.labelled_by(),
                           "%s: a focusable %s has no name and no label" % (where, node.role()))


def run(app_path, tasks):
    session = Session(app_path, tasks)
    failures = Failures()
    try:
        display = session.start_xvfb()
        bus = session.accessibility_bus(display)
        app = session.start_app(display)
        main = session.wait_until(lambda: session.shown_window(bus, app.pid, "Brenmor Ops"),
                                  "the main window on the accessibility bus")
        check_focusables_named(main, failures, "main window")

        # "Add Task" through its accessible action, as a screen reader presses it.
        buttons = [node for _, node, states in walk(main)
                   if node.accessible_name() == "Add Task" and SHOWING in states
                   and "push button" in node.role()]
        if not failures.check(buttons, "main window: no shown \"Add Task\" button"):
            return failures
        actions = [str(name) for name, _, _ in buttons[0].call("Action", "GetActions")]
        # The sheet runs its own event loop: the reply may come only when it closes.
        buttons[0].call("Action", "DoAction", actions.index("Press"),
                        reply_handler=lambda *a: None, error_handler=lambda *a: None)
        sheet = session.wait_until(lambda: session.shown_window(bus, app.pid, "Add Task"),
                                   "the \"Add Task\" sheet on the accessibility bus")
        check_focusables_named(sheet, failures, "Add Task sheet")

        tree = walk(sheet)
        pickers = [node for _, node, states in tree
                   if node.role() == "combo box" and SHOWING in states]
        print("pickers as AT-SPI reports them:")
        for picker in pickers:
            labels = [label.accessible_name() for label in picker.labelled_by()]
            print("  name %r, labelled by %r" % (picker.accessible_name(), labels))
        names = [picker.accessible_name() for picker in pickers]
        for wanted in ("Schedule type", "Hour", "Minute"):
            failures.check(wanted in names, "no picker named %r among %r" % (wanted, names))
        for picker in pickers:
            if picker.accessible_name() == "Schedule type":
                labels = [label.accessible_name() for label in picker.labelled_by()]
                failures.check(labels == ["Type"],
                               "\"Schedule type\" is labelled by %r, not \"Type\"" % labels)

        add = [node for _, node, states in tree
               if node.accessible_name() == "Add Task" and "push button" in node.role()]
        if not failures.check(add, "the sheet has no \"Add Task\" button"):
            return failures
        failures.check(ENABLED not in add[0].states(), "\"Add Task\" is enabled before any text")
        for field, text in (("Task Name", "Spoken task"), ("Command", "echo from the reader")):
            found = [node for _, node, states in tree
                     if node.accessible_name() == field and SHOWING in states
                     and A11Y + "EditableText" in node.interfaces()]
            if not failures.check(found, "no editable field %r" % field):
                continue
            found[0].call("EditableText", "SetTextContents", text)
            session.wait_until(lambda: found[0].text() == text, "%r to hold the text" % field)
        session.wait_until(lambda: ENABLED in add[0].states() and SENSITIVE in add[0].states(),
                           "\"Add Task\" to become enabled")
    except RuntimeError as error:
        failures.check(False, str(error))
    finally:
        log = os.path.join(session.home, "app.log")
        if failures.messages and os.path.exists(log):
            with open(log, "rb") as output:
                sys.stdout.write("application output:\n" + output.read().decode(errors="replace"))
        session.close()
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--app", required=True)
    parser.add_argument("--tasks", required=True)
    args = parser.parse_args()
    for tool in ("Xvfb", "dbus-run-session"):
        if not shutil.which(tool):
            skip("%s is not installed" % tool)
    if not find_launcher():
        skip("at-spi-bus-launcher is not installed (at-spi2-core)")
    try:
        import dbus  # noqa: F401
        import dbus.mainloop.glib  # noqa: F401
        from gi.repository import GLib  # noqa: F401
    except ImportError as error:
        skip("%s cannot import %s (python3-dbus, python3-gi)" % (sys.executable, error.name))
    # A private session bus of its own: the application claims names on it, and the
    # accessibility bus it starts ends with it.
    if os.environ.get("BRENMOR_ATSPI_PRIVATE_BUS") != "1":
        env = dict(os.environ, BRENMOR_ATSPI_PRIVATE_BUS="1")
        sys.exit(subprocess.call(["dbus-run-session", "--", sys.executable] + sys.argv, env=env))
    failures = run(os.path.abspath(args.app), os.path.abspath(args.tasks))
    if failures.messages:
        print("%d check(s) failed" % len(failures.messages))
        sys.exit(1)
    print("PASS: every focusable control is named; pickers, text fields and \"Add Task\" work")


if __name__ == "__main__":
    main()
