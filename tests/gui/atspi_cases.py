#!/usr/bin/python3
"""End-to-end cases of the Linux window's simulated build, driven from outside through
AT-SPI, the way a screen reader sees the window: controls found by role and name, texts
read through the accessibility interfaces, buttons pressed through their actions, and a
few real pointer clicks and keys through the X server.

Each case runs on a private desktop of its own: an Xvfb display, a D-Bus session bus and
the accessibility bus on it, a runtime folder and a home. Everything it started is ended
when it ends, also when it fails or runs out of time.

Every text a case expects comes from the catalogue (res/messages.json) by id, or from the
dialog templates beside it (res/lang-en.rc, res/lang-de.rc); the versions and error codes
are the simulated unit's own behaviour and are written as they are. AT-SPI's Python
bindings come from Debian's packages: run this with /usr/bin/python3.

  atspi_cases.py --list                                   one line per case: NAME TIMEOUT_SECONDS
  atspi_cases.py --program PATH --catalogue FILE CASE
"""

import argparse
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
from case_texts import CaseFailed, T, c_format, check  # noqa: E402

MODEL_NAME = "ORVANTA 90"
# The firmware the simulated build carries, as the title and the ESC's line show it.
FIRMWARE_VERSION = "3.3"
TITLE = f"QUORVEX {MODEL_NAME} FW Updater {FIRMWARE_VERSION} "
DEVELOPMENT_TITLE = TITLE + "- development build, no firmware"
# The simulated unit's versions: the unit's own, the ESC's bootloader, the ESC's firmware.
UNIT_VERSIONS = ("2.3", "1.0.5", "3.2")
NO_UNIT_VERSIONS = ("0.0.0",) * 3
NO_ESC_FIRMWARE = "-" * 10

# The buttons of a message box, as Qt's own translations name them.
BOX_BUTTONS = {
    "en": {"ok": "OK", "cancel": "Cancel", "yes": "Yes", "no": "No"},
    "de": {"ok": "OK", "cancel": "Abbrechen", "yes": "Ja", "no": "Nein"},
}

# How long a wait for something on the screen may take before the case fails; generous,
# the machine may be busy with other tests. No wait goes on past shortly before the
# case's own time is up, so that the case still says what it waited for and takes its
# desktop down with it.
WAIT_DEADLINE = 30.0
MARGIN = 10.0
POLL = 0.15
FIRST_DISPLAY = 120


# --- texts --------------------------------------------------------------------------------


def lines(text):
    """A text with its line ends made LF: the catalogue keeps CR LF, a window shows line
    breaks, and AT-SPI may hand them over as LF or as the paragraph separator."""
    return text.replace("\r\n", "\n").replace("\r", "\n").replace("\u2029", "\n")


class Texts:
    """The catalogue and the dialog template of one language."""

    # Controls of the dialog template by their id there.
    TEMPLATE_CONTROLS = {"IDCANCEL": "close", "IDC_UPDATE": "update", "IDC_STATIC": "hint",
                         "IDC_VERSION_GROUP": "group"}

    def __init__(self, catalogue_path, language):
        self.language = language
        with open(catalogue_path, encoding="utf-8") as f:
            self.entries = {entry["id"]: entry for entry in json.load(f)}
        template = os.path.join(os.path.dirname(os.path.abspath(catalogue_path)), f"lang-{language}.rc")
        self.controls = {}
        with open(template, encoding="utf-8") as f:
            for line in f:
                match = re.match(r'\s*(?:DEFPUSHBUTTON|PUSHBUTTON|LTEXT|GROUPBOX)\s+"([^"]*)"\s*,\s*(\w+)', line)
                if match and match.group(2) in self.TEMPLATE_CONTROLS:
                    self.controls[self.TEMPLATE_CONTROLS[match.group(2)]] = match.group(1)
        missing = set(self.TEMPLATE_CONTROLS.values()) - set(self.controls)
        check(not missing, f"{template} names no text for {sorted(missing)}")
        self.buttons = BOX_BUTTONS[language]

    def text(self, text_id, *args):
        entry = self.entries.get(text_id)
        check(entry is not None and self.language in entry, f"catalogue has no {self.language} text {text_id}")
        text = lines(entry[self.language])
        return c_format(text, args) if args else text


# Expectations in the tables, resolved against the case's texts when checked (and T).
class Joined:
    """Texts one after the other, with separators between them."""

    def __init__(self, *pieces, separator="\n"):
        self.pieces = pieces
        self.separator = separator

    def resolve(self, texts):
        return self.separator.join(p.resolve(texts) if hasattr(p, "resolve") else p for p in self.pieces)

    def __repr__(self):
        return " + ".join(repr(p) for p in self.pieces)


def with_hint(text_id):
    """A status followed by the connection hint, a blank line between them."""
    return Joined(T(text_id), T(40001), separator="\n\n")


def code_line(code, system_error):
    """The error code line (40036) with the two codes."""
    return T(40036, code, system_error)


def failure(text_id, code=None):
    """A failure box's text: the step's text and, when the step had a code, its code line."""
    return Joined(T(text_id), code) if code else T(text_id)


def status_matches(want, shown, texts):
    return lines(shown) == want.resolve(texts)


# --- the private desktop --------------------------------------------------------------------

def owned(command):
    """A command that dies with this script even when it is killed outright."""
    return ["setpriv", "--pdeathsig", "KILL", "--"] + command


def parent_pid(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return int(f.read().rsplit(")", 1)[1].split()[1])
    except (OSError, ValueError, IndexError):
        return None


class Desktop:
    """An Xvfb display, a session bus and the accessibility bus, for this case alone."""

    def __init__(self, workdir, deadline):
        self.workdir = workdir
        self.deadline = deadline
        self.groups = []
        self.display = ""
        self.bus = None
        self.runtime = os.path.join(workdir, "runtime")
        self.home = os.path.join(workdir, "home")
        os.makedirs(self.runtime, mode=0o700)
        os.chmod(self.runtime, 0o700)
        os.makedirs(self.home)
        self.log = open(os.path.join(workdir, "desktop.log"), "w+b")
        try:
            self.display = self.start_display()
            self.bus = self.start_bus()
            self.a11y_bus = self.start_accessibility_bus()
        except BaseException:
            self.close()
            raise

    def base_env(self):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("ORVANTA_", "LC_", "QT_", "XDG_", "AT_SPI", "DBUS_", "WAYLAND"))
               and k not in ("LANG", "LANGUAGE", "DISPLAY", "NO_AT_BRIDGE", "HOME", "XAUTHORITY")}
        env.update(DISPLAY=self.display, HOME=self.home, XDG_RUNTIME_DIR=self.runtime,
                   XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                   XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
                   XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
                   # No dconf: the accessibility bus launcher's settings stay in memory.
                   GSETTINGS_BACKEND="memory",
                   # No system bus, so no logind: the machine's must not decide what a case sees.
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + os.path.join(self.workdir, "no-system-bus"))
        if self.bus:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus
        return env

    def spawn(self, command, env, stdout=None, stderr=None):
        """Starts a process leading a process group of its own, ended in close()."""
        process = subprocess.Popen(owned(command), env=env, stdin=subprocess.DEVNULL,
                                   stdout=stdout if stdout is not None else self.log,
                                   stderr=stderr if stderr is not None else self.log,
                                   cwd=self.workdir, start_new_session=True)
        self.groups.append(process)
        return process

    def left(self, limit=WAIT_DEADLINE):
        return max(min(limit, self.deadline - time.monotonic()), 0.5)

    def start_display(self):
        for number in range(FIRST_DISPLAY, FIRST_DISPLAY + 200):
            if os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}"):
                continue
            server = self.spawn(["Xvfb", f":{number}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                                 # Without it the server resets whenever its last client leaves,
                                 # and a client connecting meanwhile is refused.
                                 "-noreset"],
                                self.base_env())
            end = time.monotonic() + self.left(20)
            while server.poll() is None and time.monotonic() < end:
                # Ours only when its lock names it: a case starting beside this one may
                # have taken the number a moment earlier, and its socket answers too.
                if self.lock_holder(number) == server.pid and self.accepts(f"/tmp/.X11-unix/X{number}"):
                    return f":{number}"
                time.sleep(0.05)
            # Another server took the number first: the next one.
            self.end_group(server)
        raise CaseFailed("no free X display number for Xvfb")

    @staticmethod
    def lock_holder(number):
        try:
            with open(f"/tmp/.X{number}-lock") as f:
                return int(f.read().strip() or 0)
        except (OSError, ValueError):
            return None

    @staticmethod
    def accepts(path):
        probe = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            probe.connect(path)
            return True
        except OSError:
            return False
        finally:
            probe.close()

    def start_bus(self):
        path = os.path.join(self.workdir, "bus")
        daemon = self.spawn(["dbus-daemon", "--session", "--nofork", "--address=unix:path=" + path,
                             "--print-address=1"], self.base_env(), stdout=subprocess.PIPE)
        ready, _, _ = select.select([daemon.stdout], [], [], self.left(20))
        check(ready, "the session bus did not start")
        address = daemon.stdout.readline().decode().strip()
        check(address, "the session bus did not start")
        return address

    def start_accessibility_bus(self):
        """The launcher owns org.a11y.Bus on the session bus; the program and pyatspi both
        ask it there for the accessibility bus."""
        self.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], self.base_env())
        end = time.monotonic() + self.left(20)
        while True:
            # Asked only once the launcher owns the name: a call before that would have
            # the bus start a launcher of its own.
            if self.bus_call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                             "string:org.a11y.Bus") == "true":
                found = self.bus_call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress")
                if found:
                    return found
            check(time.monotonic() < end, "the accessibility bus did not start:\n" + self.log_tail())
            time.sleep(0.1)

    def bus_call(self, destination, path, method, *args):
        """The first value a method on the session bus answers, None when it fails."""
        result = subprocess.run(["dbus-send", "--bus=" + self.bus, "--print-reply", "--dest=" + destination,
                                 path, method] + list(args),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=10)
        found = re.search(r'(?:string "([^"]*)"|boolean (\w+))', result.stdout.decode())
        if result.returncode != 0 or not found:
            return None
        return found.group(1) if found.group(1) is not None else found.group(2)

    def use_here(self):
        """Points this process (and so pyatspi, imported after this) at the desktop."""
        for key in [k for k in os.environ if k.startswith(("AT_SPI", "DBUS_", "XDG_"))]:
            del os.environ[key]
        os.environ.update(self.base_env())

    # The window's scale: 2 draws it as a screen of twice the pixel density would.
    scale = None

    def program_env(self, scenario, language, control=None):
        env = self.base_env()
        env.update(ORVANTA_SIM=scenario, LC_ALL="de_DE.UTF-8" if language == "de" else "C.UTF-8",
                   QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        if self.scale:
            env["QT_SCALE_FACTOR"] = str(self.scale)
        if control:
            env["ORVANTA_SIM_CONTROL"] = control
        return env

    def screenshot(self, path):
        subprocess.run(["import", "-display", self.display, "-window", "root", path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)

    def log_tail(self, count=4000):
        self.log.flush()
        self.log.seek(0)
        return self.log.read().decode("utf-8", errors="replace")[-count:]

    @staticmethod
    def end_group(process, grace=5.0):
        for sent in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.killpg(process.pid, sent)
            except ProcessLookupError:
                pass
            try:
                process.wait(timeout=grace)
                # Whatever the leader left behind in its group goes too.
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                return
            except subprocess.TimeoutExpired:
                continue
            return

    def close(self):
        # The program first, the buses next, the display last.
        for process in reversed(self.groups):
            self.end_group(process)
            if process.stdout:
                process.stdout.close()
        self.groups = []
        self.log.close()


# --- reading the window through AT-SPI ----------------------------------------------------------

class Gone(Exception):
    """An accessible object went away while it was read; the wait goes on."""


class Ui:
    """The program's windows as AT-SPI shows them. pyatspi is imported only once the
    desktop is in this process's environment: it finds its bus when first used."""

    def __init__(self, ctx):
        self.ctx = ctx
        import pyatspi
        from gi.repository import GLib
        self.a = pyatspi
        self.errors = (GLib.Error, RuntimeError, LookupError)

    # The basic reads, each turning a vanished object into Gone.
    def call(self, function, *args):
        try:
            return function(*args)
        except NotImplementedError:
            # The object lacks the interface: the caller decides.
            raise
        except self.errors as error:
            raise Gone(f"an object went away while it was read ({error})")

    def children(self, acc):
        return [c for c in (self.call(acc.getChildAtIndex, i) for i in range(self.call(lambda: acc.childCount)))
                if c is not None]

    def name(self, acc):
        return self.call(lambda: acc.name) or ""

    def role(self, acc):
        return self.call(acc.getRole)

    def role_name(self, acc):
        return self.call(acc.getRoleName)

    def has(self, acc, state):
        return self.call(lambda: acc.getState().contains(state))

    def enabled(self, acc):
        return self.has(acc, self.a.STATE_ENABLED) and self.has(acc, self.a.STATE_SENSITIVE)

    def showing(self, acc):
        return self.has(acc, self.a.STATE_SHOWING)

    def text(self, acc):
        """What the object says: its Text interface's content, else its name."""
        try:
            text = self.call(acc.queryText)
        except NotImplementedError:
            return self.name(acc)
        return self.call(text.getText, 0, -1)

    def value(self, acc):
        value = self.call(acc.queryValue)
        return (self.call(lambda: value.currentValue), self.call(lambda: value.minimumValue),
                self.call(lambda: value.maximumValue))

    def extents(self, acc):
        box = self.call(lambda: acc.queryComponent().getExtents(self.a.DESKTOP_COORDS))
        return box.x, box.y, box.width, box.height

    def descendants(self, acc, roles=None, name=None):
        """Depth first, in the order the tree gives them."""
        found = []
        for child in self.children(acc):
            if (roles is None or self.role(child) in roles) and (name is None or self.name(child) == name):
                found.append(child)
            found.extend(self.descendants(child, roles, name))
        return found

    def press(self, acc):
        """The press action, as a screen reader's user activates a button."""
        action = self.call(acc.queryAction)
        names = [self.call(action.getName, i).lower() for i in range(self.call(lambda: action.nActions))]
        chosen = next((names.index(n) for n in ("press", "click") if n in names), None)
        check(chosen is not None, f"{self.describe(acc)} has no press action: {names}")
        check(self.call(action.doAction, chosen), f"{self.describe(acc)}: the press action was refused")

    def click(self, acc):
        """A real pointer click in the middle of the object."""
        x, y, width, height = self.extents(acc)
        check(width > 0 and height > 0, f"{self.describe(acc)} has no area on the screen: {width}x{height}")
        self.ctx.xdotool("mousemove", "--sync", str(x + width // 2), str(y + height // 2), "click", "1")

    def describe(self, acc):
        try:
            return f"{self.role_name(acc)} {self.name(acc)!r}"
        except Gone:
            return "(gone)"

    def dump(self, acc, depth=0):
        """The tree below acc, one object a line, for failure messages."""
        try:
            flags = "".join(flag for flag, state in (("E", self.a.STATE_ENABLED), ("S", self.a.STATE_SHOWING),
                                                     ("F", self.a.STATE_FOCUSED))
                            if self.has(acc, state))
            text = self.text(acc)
            shown = f" text={text[:70]!r}" if text != self.name(acc) else ""
            out = "  " * depth + f"{self.describe(acc)} [{flags}]{shown}\n"
            for child in self.children(acc):
                out += self.dump(child, depth + 1)
            return out
        except Gone:
            return "  " * depth + "(gone)\n"

    # The program.
    def applications(self):
        desktop = self.a.Registry.getDesktop(0)
        return self.children(desktop)

    def application(self, process):
        """The application object of the program started as process: found by its
        process id, or its parent's (a program started through umockdev-run)."""
        for app in self.applications():
            try:
                pid = self.call(app.get_process_id)
                if pid == process.pid or parent_pid(pid) == process.pid:
                    return app
            except Gone:
                continue
        return None

    def windows(self, app):
        """The program's top-level windows that are on the screen."""
        return [w for w in self.children(app) if self.showing(w)]


# --- the program's windows, as the cases read them ----------------------------------------------------

class MainView:
    """What the main window shows, read in one go."""

    def __init__(self, ui, window, texts):
        a = ui.a
        self.window = window
        self.title = ui.name(window)
        self.role = ui.role(window)
        self.window_enabled = ui.enabled(window)
        named = texts.controls
        groups = [p for p in ui.descendants(window, (a.ROLE_PANEL, a.ROLE_GROUPING)) if ui.name(p) == named["group"]]
        check(len(groups) == 1, f"{len(groups)} groups named {named['group']!r} in\n{ui.dump(window)}")
        self.group = groups[0]
        self.group_enabled = ui.enabled(self.group)
        group_labels = ui.descendants(self.group, (a.ROLE_LABEL,))
        self.group_labels_enabled = [ui.enabled(label) for label in group_labels]
        self.rows = self.read_rows(ui, group_labels)
        self.hint = one(ui, window, (a.ROLE_LABEL,), named["hint"])
        statuses = ui.descendants(window, (a.ROLE_TEXT,))
        check(len(statuses) == 1, f"{len(statuses)} text objects in\n{ui.dump(window)}")
        self.status = statuses[0]
        self.status_name = ui.name(self.status)
        self.status_text = lines(ui.text(self.status))
        self.update = one(ui, window, (a.ROLE_PUSH_BUTTON,), named["update"])
        self.close = one(ui, window, (a.ROLE_PUSH_BUTTON,), named["close"])
        self.update_enabled = ui.enabled(self.update)
        self.close_enabled = ui.enabled(self.close)

    @staticmethod
    def read_rows(ui, labels):
        """The version group's labels as rows on the screen: (label, value) top to bottom."""
        placed = []
        for label in labels:
            x, y, width, height = ui.extents(label)
            placed.append((y + height / 2, x, ui.text(label)))
        placed.sort()
        rows = []
        for middle, x, text in placed:
            if rows and abs(rows[-1][0] - middle) < 4:
                rows[-1][1].append((x, text))
            else:
                rows.append((middle, [(x, text)]))
        return [tuple(text for _, text in sorted(cells)) for _, cells in rows]

    def versions(self):
        return tuple(row[1] if len(row) == 2 else None for row in self.rows)

    def summary(self):
        return (f"title {self.title!r}, rows {self.rows}, group {'enabled' if self.group_enabled else 'greyed'},"
                f" Update {'enabled' if self.update_enabled else 'disabled'},"
                f" window {'enabled' if self.window_enabled else 'not enabled'}, status:\n{self.status_text}")


def one(ui, root, roles, name):
    found = ui.descendants(root, roles, name)
    check(len(found) == 1, f"{len(found)} objects named {name!r} with role {roles} in\n{ui.dump(root)}")
    return found[0]


class BoxView:
    """A message box: its caption, text and buttons."""

    def __init__(self, ui, window):
        a = ui.a
        self.window = window
        self.caption = ui.name(window)
        self.labels = [lines(ui.text(label)) for label in ui.descendants(window, (a.ROLE_LABEL,))]
        self.buttons = {ui.name(b): b for b in ui.descendants(window, (a.ROLE_PUSH_BUTTON,))}

    def summary(self):
        return f"box {self.caption!r}, buttons {sorted(self.buttons)}, labels {self.labels}"


# --- a case's run -------------------------------------------------------------------------------

class Context:
    def __init__(self, options, workdir, timeout):
        self.end = time.monotonic() + timeout - MARGIN
        self.program = os.path.abspath(options.program)
        self.product = os.path.abspath(options.product) if getattr(options, "product", None) else None
        self.catalogue = options.catalogue
        self.workdir = workdir
        self.texts_by_language = {}
        self.desktop = Desktop(workdir, self.end)
        self.desktop.use_here()
        self.ui = Ui(self)
        self.processes = []
        self.control = None

    def texts(self, language="en"):
        if language not in self.texts_by_language:
            self.texts_by_language[language] = Texts(self.catalogue, language)
        return self.texts_by_language[language]

    def left(self, limit=WAIT_DEADLINE):
        return max(min(limit, self.end - time.monotonic()), 0.5)

    def xdotool(self, *args):
        result = subprocess.run(["xdotool"] + list(args), env=self.desktop.base_env(), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=30)
        check(result.returncode == 0, f"xdotool {' '.join(args)}: {result.stderr.decode(errors='replace')}")

    def start(self, scenario, language="en", control=False, command=None):
        """Starts the program (or command); with control, a named pipe through which the
        simulated bus is steered."""
        if control and self.control is None:
            self.control = os.path.join(self.workdir, "control")
            os.mkfifo(self.control)
        index = len(self.processes)
        output = open(os.path.join(self.workdir, f"program-{index}.log"), "w+b")
        process = self.desktop.spawn(command or [self.program],
                                     self.desktop.program_env(scenario, language, self.control if control else None),
                                     stdout=output, stderr=output)
        process.output = output
        self.processes.append(process)
        return process

    def output(self, process):
        process.output.flush()
        process.output.seek(0)
        return process.output.read().decode("utf-8", errors="replace")[-3000:]

    def send(self, line):
        """One line to the simulated bus; waits until the program reads its pipe."""
        end = time.monotonic() + self.left()
        while True:
            try:
                fd = os.open(self.control, os.O_WRONLY | os.O_NONBLOCK)
                break
            except OSError as error:
                # No reader yet: the program opens the pipe as it starts.
                check(error.errno == 6 and time.monotonic() < end, f"cannot write to the control pipe: {error}")
                time.sleep(0.05)
        try:
            os.write(fd, (line + "\n").encode())
        finally:
            os.close(fd)

    def wait_for(self, probe, what, process=None, limit=WAIT_DEADLINE):
        """Polls probe until it returns something other than None and returns that. probe
        may raise Gone (the tree changed under it) or CaseFailed (what it saw so far
        does not fit yet); the last such word is told when the wait fails."""
        limit = self.left(limit)
        end = time.monotonic() + limit
        last = ""
        while True:
            try:
                found = probe()
                if found is not None:
                    return found
            except (Gone, CaseFailed) as seen:
                last = str(seen)
            if process is not None and process.poll() is not None:
                raise CaseFailed(f"the program ended (exit {process.returncode}) while waiting for {what}"
                                 f"{'; last seen: ' + last if last else ''}\n{self.output(process)}")
            if time.monotonic() > end:
                raise CaseFailed(f"no {what} within {limit:.0f} s{'; last seen: ' + last if last else ''}")
            time.sleep(POLL)

    # The program's windows.
    def app(self, process):
        return self.wait_for(lambda: self.ui.application(process), "application on the accessibility bus", process)

    def window_named(self, process, roles, name, what, limit=WAIT_DEADLINE):
        ui = self.ui

        def probe():
            app = ui.application(process)
            if app is None:
                return None
            shown = ui.windows(app)
            for window in shown:
                if ui.role(window) in roles and ui.name(window) == name:
                    return window
            raise CaseFailed("windows: " + ", ".join(ui.describe(w) for w in shown))
        return self.wait_for(probe, what, process, limit)

    def main_window(self, process):
        a = self.ui.a
        return self.window_named(process, (a.ROLE_DIALOG, a.ROLE_FRAME), TITLE, f"main window titled {TITLE!r}")

    def read_main(self, process, language="en"):
        return MainView(self.ui, self.main_window(process), self.texts(language))

    def wait_main(self, process, want, what, language="en", limit=WAIT_DEADLINE):
        """The main window once want(view) says nothing is missing (returns None)."""
        texts = self.texts(language)
        window = self.main_window(process)

        def probe():
            view = MainView(self.ui, window, texts)
            problem = want(view, texts)
            if problem:
                raise CaseFailed(f"{problem}; the window: {view.summary()}")
            return view
        return self.wait_for(probe, what, process, limit)

    def box(self, process, caption, limit=WAIT_DEADLINE):
        a = self.ui.a
        window = self.window_named(process, (a.ROLE_ALERT, a.ROLE_DIALOG), caption,
                                   f"message box {caption!r}", limit)
        return BoxView(self.ui, window)

    def answer_box(self, process, caption, text, buttons, press, language="en"):
        """Checks the box titled caption, its text and its buttons, then presses one."""
        texts = self.texts(language)
        box = self.box(process, caption.resolve(texts))
        want = lines(text.resolve(texts))
        check(want in box.labels, f"box {caption!r}: no label {text!r}:\n{want}\n--- {box.summary()}")
        names = sorted(texts.buttons[b] for b in buttons)
        check(sorted(box.buttons) == names, f"box {caption!r}: buttons {sorted(box.buttons)}, expected {names}")
        self.ui.press(box.buttons[texts.buttons[press]])
        self.wait_for(lambda: None if self.box_showing(process, caption.resolve(texts)) else True,
                      f"box {caption!r} to close after {press}", process)

    def box_showing(self, process, caption):
        app = self.ui.application(process)
        return app is not None and any(self.ui.name(w) == caption for w in self.ui.windows(app))

    def other_windows(self, process):
        """Showing windows other than the main window, as descriptions."""
        app = self.ui.application(process)
        if app is None:
            return []
        return [self.ui.describe(w) for w in self.ui.windows(app) if self.ui.name(w) != TITLE]

    def wait_exit(self, process, what, limit=WAIT_DEADLINE):
        try:
            return process.wait(timeout=self.left(limit))
        except subprocess.TimeoutExpired:
            raise CaseFailed(f"the program did not end within {limit:.0f} s after {what}")

    def close(self):
        self.processes = []
        self.desktop.close()


# --- what the main window must show ----------------------------------------------------------------

def shows(status=None, label=None, versions=None, unit_open=None, update=None, window=True):
    """A check of the main window: status text, first row's label (catalogue id or
    literal), the three versions, the group's lines greyed or not, Update enabled or not."""

    def want(view, texts):
        if view.title != TITLE:
            return f"title {view.title!r}, expected {TITLE!r}"
        if status is not None and not status_matches(status, view.status_text, texts):
            return f"status is not {status!r}:\n{status.resolve(texts)}"
        if view.status_name != texts.controls["hint"]:
            return f"the status box is named {view.status_name!r}, expected {texts.controls['hint']!r}"
        labels = [texts.text(label) if isinstance(label, int) else label, texts.text(40040), texts.text(40041)]
        if label is not None and [row[0] for row in view.rows] != labels:
            return f"row labels {[row[0] for row in view.rows]}, expected {labels}"
        if versions is not None and view.versions() != tuple(versions):
            return f"versions {view.versions()}, expected {tuple(versions)}"
        # As in the Windows dialog, the group's six labels are greyed, its frame and title
        # are not.
        if unit_open is not None:
            if any(e != unit_open for e in view.group_labels_enabled):
                return (f"version lines {view.group_labels_enabled} enabled, expected all "
                        f"{'enabled' if unit_open else 'greyed'}")
        if update is not None and view.update_enabled != update:
            return f"Update {'enabled' if view.update_enabled else 'disabled'}, expected the opposite"
        if window is not None and view.window_enabled != window:
            return f"main window {'enabled' if view.window_enabled else 'not enabled'}, expected the opposite"
        if window and not view.close_enabled:
            return "Close is not enabled"
        return None
    return want


def no_unit(status, label=40039, window=True):
    """No unit open: the versions read as none in a greyed group, Update disabled."""
    return shows(status, label, NO_UNIT_VERSIONS, False, False, window)


# --- the cases --------------------------------------------------------------------------------------

CASES = {}


def case(name, timeout):
    def register(function):
        CASES[name] = (function, timeout)
        return function
    return register


class Box:
    """A message box expected: caption, text, its buttons, the one pressed."""

    def __init__(self, caption, text, buttons=("ok",), press="ok"):
        self.caption = T(caption)
        self.text = text
        self.buttons = buttons
        self.press = press


INCOMPATIBLE_BOX = Box(40033, T(40034, MODEL_NAME))
CONFIRMATION = (T(40037), T(40038), ("ok", "cancel"))
NEWER_QUESTION = (T(40025), T(40023), ("yes", "no"))

# Start-up: scenario, language, boxes shown before the window, what the window shows.
STARTUP_TABLE = {
    "none": ("none", "en", [], no_unit(with_hint(40017))),
    "ready": ("ready", "en", [], shows(T(40000), "TUNE-BOX", UNIT_VERSIONS, True, True)),
    "puck": ("puck", "en", [], shows(T(40000), "TUNEPUCK", UNIT_VERSIONS, True, True)),
    "no-firmware": ("no-firmware", "en", [],
                    shows(T(40000), "TUNE-BOX", UNIT_VERSIONS[:2] + (NO_ESC_FIRMWARE,), True, True)),
    "wrong-mode": ("wrong-mode", "en", [], no_unit(with_hint(40015))),
    "no-esc": ("no-esc", "en", [], no_unit(with_hint(40016))),
    # The box comes before the window shows.
    "foreign-esc": ("foreign-esc", "en", [INCOMPATIBLE_BOX], no_unit(with_hint(40035))),
    # The no-unit status, with the terminal program's word on what keeps the unit
    # unopened in place of the connection hint.
    "no-permission": ("no-permission", "en", [], no_unit(Joined(T(40017), T(41003), separator="\n\n"))),
    "in-use": ("in-use", "en", [], no_unit(Joined(T(40017), T(41015), separator="\n\n"))),
    "lang-de.none": ("none", "de", [], no_unit(with_hint(40017))),
    "lang-de.ready": ("ready", "de", [], shows(T(40000), "TUNE-BOX", UNIT_VERSIONS, True, True)),
    "lang-de.foreign-esc": ("foreign-esc", "de", [INCOMPATIBLE_BOX], no_unit(with_hint(40035))),
}


def startup_case(name, row):
    scenario, language, boxes, want = row

    def run(ctx):
        program = ctx.start(scenario, language)
        for box in boxes:
            texts = ctx.texts(language)
            # Nothing of the main window is on the screen while the box waits.
            ctx.box(program, box.caption.resolve(texts))
            check(not main_showing(ctx, program), "the main window shows while the box waits")
            ctx.answer_box(program, box.caption, box.text, box.buttons, box.press, language)
        view = ctx.wait_main(program, want, f"main window of {scenario}", language)
        extra = ctx.other_windows(program)
        check(not extra, f"other windows beside the main window: {extra}")
        # Close ends the program.
        ctx.ui.press(view.close)
        code = ctx.wait_exit(program, "Close was pressed")
        check(code == 0, f"exit {code} after Close, expected 0\n{ctx.output(program)}")
    return run


def main_showing(ctx, program):
    app = ctx.ui.application(program)
    return app is not None and any(ctx.ui.name(w) == TITLE for w in ctx.ui.windows(app))


for _name, _row in STARTUP_TABLE.items():
    case(f"startup.{_name}", 60)(startup_case(_name, _row))


@case("hotplug.in-and-out", 60)
def hotplug_in_and_out(ctx):
    """A unit plugged in after the start is found and shown; pulled out, the window says the
    connection was lost, greys the versions and keeps the unit's name on its line."""
    program = ctx.start("none", control=True)
    ctx.wait_main(program, no_unit(with_hint(40017)), "no-unit status")
    ctx.send("plug ready")
    ctx.wait_main(program, shows(T(40000), "TUNE-BOX", UNIT_VERSIONS, True, True), "ready status after plugging in")
    ctx.send("unplug")
    ctx.wait_main(program, no_unit(with_hint(40020), "TUNE-BOX"), "connection-lost status after pulling out")


@case("hotplug.silent-unit-keeps-the-window-answering", 90)
def hotplug_silent_unit(ctx):
    """A unit that never answers is plugged in: while its identification waits out the
    link's bound (about 30 s for its three exchanges), the window goes on answering what
    assistive technology asks, each time at once; then the unit counts as none."""
    program = ctx.start("none", control=True)
    ctx.wait_main(program, no_unit(with_hint(40017)), "no-unit status")
    ctx.send("plug silent")
    time.sleep(1.0)  # the identification is under way
    slowest = 0.0
    for _ in range(10):
        begun = time.monotonic()
        view = ctx.read_main(program)
        slowest = max(slowest, time.monotonic() - begun)
        check(status_matches(with_hint(40017), view.status_text, ctx.texts()),
              f"the status changed during the identification: {view.summary()}")
        time.sleep(1.0)
    # Generous for a busy machine; a window whose loop stood still would not answer at all.
    check(slowest < 5.0, f"the window took {slowest:.1f} s to answer during the identification")
    check(program.poll() is None, f"the program ended (exit {program.returncode})")


@case("hotplug.other-device-then-puck", 60)
def hotplug_other_device(ctx):
    """A device that is no unit is not taken for one: a TUNEPUCK plugged in after it is
    found and shown."""
    program = ctx.start("none", control=True)
    ctx.wait_main(program, no_unit(with_hint(40017)), "no-unit status")
    ctx.send("plug-other")
    ctx.send("plug puck")
    ctx.wait_main(program, shows(T(40000), "TUNEPUCK", UNIT_VERSIONS, True, True), "ready status of the TUNEPUCK")


# --- updates ---------------------------------------------------------------------------------------

def press_update(ctx, program, language="en"):
    view = ctx.wait_main(program, shows(T(40000), update=True), "ready status", language)
    ctx.ui.press(view.update)
    return view


def progress_window(ctx, program, language="en", limit=WAIT_DEADLINE):
    """The progress window and its bar."""
    a = ctx.ui.a
    window = ctx.window_named(program, (a.ROLE_DIALOG, a.ROLE_FRAME), ctx.texts(language).text(40029),
                              "progress window", limit)
    bars = ctx.ui.descendants(window, (a.ROLE_PROGRESS_BAR,))
    check(len(bars) == 1, f"{len(bars)} progress bars in\n{ctx.ui.dump(window)}")
    return window, bars[0]


def bar_value(ctx, bar):
    value, low, high = ctx.ui.value(bar)
    check((low, high) == (0, 100), f"the progress bar runs from {low} to {high}, expected 0 to 100")
    check(0 <= value <= 100, f"the progress bar is at {value}")
    return value


def watch_progress(ctx, program, window, bar, during=None):
    """Follows the bar until the progress window goes: it must move, never back, while the
    main window takes no input. during(value) runs once the bar has moved."""
    seen = [bar_value(ctx, bar)]
    done = False
    end = time.monotonic() + ctx.left(120)
    while True:
        try:
            if not ctx.ui.showing(window):
                break
            value = bar_value(ctx, bar)
        except Gone:
            break
        check(value >= seen[-1], f"the progress bar went back from {seen[-1]} to {value}")
        if value != seen[-1]:
            seen.append(value)
        main = ctx.read_main(program)
        check(not main.window_enabled, f"the main window is enabled during the transfer: {main.summary()}")
        if during and not done and len(seen) > 2:
            during(value)
            done = True
        check(program.poll() is None, f"the program ended (exit {program.returncode}) during the transfer")
        check(time.monotonic() < end, f"the transfer did not end in time; the bar is at {seen[-1]}")
        time.sleep(0.5)
    check(len(seen) > 2, f"the progress bar did not move: {seen}")
    return seen


@case("update.whole", 150)
def update_whole(ctx):
    """The whole update: confirmed, the progress window with its bar moving, the window
    taking no input meanwhile, success with no box, the ESC's new version shown."""
    program = ctx.start("ready")
    press_update(ctx, program)
    ctx.answer_box(program, *CONFIRMATION, "ok")
    window, bar = progress_window(ctx, program)
    seen = watch_progress(ctx, program, window, bar)
    view = ctx.wait_main(program, shows(T(40032), "TUNE-BOX", UNIT_VERSIONS[:2] + (FIRMWARE_VERSION,), True, False),
                         "success status")
    check(seen[-1] >= 90, f"the bar was last seen at {seen[-1]} before the window closed")
    time.sleep(1.0)
    extra = ctx.other_windows(program)
    check(not extra, f"windows after a successful update: {extra}")
    ctx.ui.press(view.close)
    code = ctx.wait_exit(program, "Close was pressed")
    check(code == 0, f"exit {code} after Close, expected 0")


@case("update.close-clicked-during-transfer", 150)
def update_close_clicked(ctx):
    """A real pointer click on Close, Escape typed at the progress window and the signals
    that end a program during the transfer: none ends or interrupts it; it succeeds and
    the program stays."""
    program = ctx.start("ready")
    press_update(ctx, program)
    ctx.answer_box(program, *CONFIRMATION, "ok")
    window, bar = progress_window(ctx, program)

    def interfere(value):
        close = ctx.read_main(program).close
        ctx.ui.click(close)
        ctx.ui.click(window)
        ctx.xdotool("key", "Escape")
        # As from the terminal it was started in: Ctrl-C, the terminal closing, a kill.
        for ending in (signal.SIGINT, signal.SIGHUP, signal.SIGTERM):
            os.kill(program.pid, ending)
        time.sleep(1.0)
        check(program.poll() is None, f"the program ended (exit {program.returncode}) after the click on Close"
                                      " or a signal")
        check(ctx.ui.showing(window), "the progress window went after the click on Close and Escape")
    watch_progress(ctx, program, window, bar, interfere)
    ctx.wait_main(program, shows(T(40032), "TUNE-BOX", UNIT_VERSIONS[:2] + (FIRMWARE_VERSION,), True, False),
                  "success status")
    time.sleep(2.0)
    check(program.poll() is None, f"the program ended (exit {program.returncode}) after the update")
    check(not ctx.other_windows(program), f"windows after a successful update: {ctx.other_windows(program)}")


# Failing updates: scenario, what is done while the confirmation waits and once the
# transfer runs (a line for the control pipe, or None), whether the progress window
# shows, the failure box's text.
FAILURE_TABLE = {
    "lock-refused": ("lock-refused", None, None, False, failure(40026, code_line(0x0000065B, 0))),
    "erase-fails": ("erase-fails", None, None, False, failure(40028, code_line(0x00000102, 0))),
    "block-fails": ("block-fails", None, None, True, failure(40009, code_line(0x00000105, 0))),
    "unplug-during-transfer": ("unplug-during-transfer", None, None, True,
                               failure(40009, code_line(0xFFFFFFFE, 0x0000048F))),
    # Pulled out during the transfer, on the bus's word.
    "unplug-after-blocks": ("ready", None, "unplug-after-blocks 40", True,
                            failure(40009, code_line(0xFFFFFFFE, 0x0000048F))),
    # Another ESC connected while the confirmation waits: the sequence's first step finds
    # it, and the lock step fails with the reason instead of a code line.
    "esc-swapped-in-sequence": ("esc-swapped-in-sequence", None, None, False, Joined(T(40026), T(40042))),
    "esc-swapped-at-confirmation": ("ready", "swap-esc foreign-esc", None, False, Joined(T(40026), T(40042))),
    # Pulled out while the confirmation waits: nothing is sent, no code line.
    "unplugged-at-confirmation": ("ready", "unplug", None, False, T(40026)),
}


def failure_case(name, row):
    scenario, at_confirmation, at_transfer, progress, box_text = row

    def run(ctx):
        program = ctx.start(scenario, control=True)
        press_update(ctx, program)
        texts = ctx.texts()
        ctx.box(program, CONFIRMATION[0].resolve(texts))
        if at_confirmation:
            ctx.send(at_confirmation)
            if at_confirmation == "unplug":
                # The window follows the unit behind the box.
                ctx.wait_main(program, no_unit(with_hint(40020), "TUNE-BOX", window=None), "connection-lost status")
        ctx.answer_box(program, *CONFIRMATION, "ok")
        if progress:
            window, bar = progress_window(ctx, program)
            if at_transfer:
                ctx.send(at_transfer)
        ctx.box(program, texts.text(40002))
        shown = [w for w in ctx.other_windows(program) if texts.text(40029) in w]
        check(not shown, f"the progress window still shows beside the failure box: {shown}")
        ctx.answer_box(program, T(40002), box_text, ("ok",), "ok")
        ctx.wait_main(program, no_unit(T(40030), None), "failed status after the box")
        check(not ctx.other_windows(program), f"windows after the failure: {ctx.other_windows(program)}")
    return run


for _name, _row in FAILURE_TABLE.items():
    case(f"update-fails.{_name}", 90)(failure_case(_name, _row))


@case("update.esc-swapped-at-press", 60)
def esc_swapped_at_press(ctx):
    """Another ESC behind the unit when Update is pressed: nothing is asked, the change is
    said, then the ESC there now is shown as the incompatible one it is."""
    program = ctx.start("esc-swapped")
    press_update(ctx, program)
    texts = ctx.texts()
    first = ctx.wait_for(lambda: next(iter(ctx.other_windows(program)), None), "a box after Update")
    check(texts.text(40043) in first, f"the first box after Update is {first}, expected {texts.text(40043)!r}")
    ctx.answer_box(program, T(40043), T(40042), ("ok",), "ok")
    ctx.answer_box(program, INCOMPATIBLE_BOX.caption, INCOMPATIBLE_BOX.text, ("ok",), "ok")
    ctx.wait_main(program, no_unit(with_hint(40035), None), "incompatible status")
    check(not ctx.other_windows(program), f"windows after the boxes: {ctx.other_windows(program)}")


# Updates declined: scenario, language, the questions answered, and the ESC's version shown.
DECLINE_TABLE = {
    "cancel": ("ready", "en", [CONFIRMATION + ("cancel",)], UNIT_VERSIONS),
    "newer-answer-no": ("newer", "en", [CONFIRMATION + ("ok",), NEWER_QUESTION + ("no",)],
                        UNIT_VERSIONS[:2] + (FIRMWARE_VERSION,)),
    "lang-de.cancel": ("ready", "de", [CONFIRMATION + ("cancel",)], UNIT_VERSIONS),
    "lang-de.newer-answer-no": ("newer", "de", [CONFIRMATION + ("ok",), NEWER_QUESTION + ("no",)],
                                UNIT_VERSIONS[:2] + (FIRMWARE_VERSION,)),
}


def decline_case(name, row):
    scenario, language, questions, versions = row

    def run(ctx):
        program = ctx.start(scenario, language)
        press_update(ctx, program, language)
        for caption, text, buttons, press in questions:
            ctx.answer_box(program, caption, text, buttons, press, language)
        # Everything as it was, and nothing began.
        ctx.wait_main(program, shows(T(40000), "TUNE-BOX", versions, True, True), "ready status after declining",
                      language)
        time.sleep(1.0)
        extra = ctx.other_windows(program)
        check(not extra, f"windows after declining: {extra}")
    return run


for _name, _row in DECLINE_TABLE.items():
    case(f"update-declined.{_name}", 60)(decline_case(_name, _row))


# --- the window itself -----------------------------------------------------------------------------------

# Keys typed at the window in the ready state, each of which must close it without
# starting anything: Enter goes to Close, the default button, not to Update.
KEY_TABLE = {"enter": "Return", "escape": "Escape"}


def key_case(name, key):
    def run(ctx):
        program = ctx.start("ready")
        view = ctx.wait_main(program, shows(T(40000), update=True), "ready status")
        # The pointer over the window: without a window manager the keyboard goes there.
        ctx.ui.click(view.status)
        ctx.xdotool("key", key)
        code = ctx.wait_exit(program, f"{key} was typed")
        check(code == 0, f"exit {code} after {key}, expected 0")
    return run


for _name, _key in KEY_TABLE.items():
    case(f"keys.{_name}-closes", 60)(key_case(_name, _key))


@case("accessible.controls", 60)
def accessible_controls(ctx):
    """What a screen reader needs: every control has its role and a name, in reading
    order, and says what it is (read-only, multi-line, the default button)."""
    ui = ctx.ui
    a = ui.a
    texts = ctx.texts()
    program = ctx.start("ready")
    view = ctx.wait_main(program, shows(T(40000), "TUNE-BOX", UNIT_VERSIONS, True, True), "ready status")
    window = view.window
    check(view.role in (a.ROLE_DIALOG, a.ROLE_FRAME), f"the main window's role is {ui.role_name(window)}")
    tree = ui.dump(window)
    # Everything a screen reader stops at has a name; Qt's own pieces of a text box
    # (scroll bars and their fillers) are no controls.
    for node in ui.descendants(window):
        if ui.role(node) not in (a.ROLE_FILLER, a.ROLE_SCROLL_BAR) and ui.showing(node):
            check(ui.name(node).strip(), f"a {ui.role_name(node)} without a name in\n{tree}")
    # Reading order: the versions, the hint label, the status, then the buttons.
    order = [node for node in ui.descendants(window)
             if node in (view.group, view.hint, view.status, view.update, view.close)]
    names = [ui.describe(node) for node in order]
    check(len(order) == 5 and order[:3] == [view.group, view.hint, view.status],
          f"reading order {names}, expected the group, the hint label, the status box, then the buttons")
    group_labels = ui.descendants(view.group, (a.ROLE_LABEL,))
    check(len(group_labels) == 6 and len(view.rows) == 3 and all(len(row) == 2 for row in view.rows),
          f"the version group holds {len(group_labels)} labels in rows {view.rows}, expected three rows of two")
    # The status box: read-only, multi-line text, named by the hint label.
    check(ui.text(view.hint) == texts.controls["hint"], f"hint label says {ui.text(view.hint)!r}")
    check(not ui.has(view.status, a.STATE_EDITABLE) and ui.has(view.status, a.STATE_READ_ONLY),
          "the status box is editable, or not read-only")
    check(ui.has(view.status, a.STATE_MULTI_LINE), "the status box is not multi-line")
    # The logo says what it shows.
    logos = [node for node in ui.descendants(window, (a.ROLE_IMAGE,))]
    labels_with_pixmap = [node for node in ui.descendants(window, (a.ROLE_LABEL,))
                          if node not in group_labels and node != view.hint]
    check(logos or labels_with_pixmap, f"no logo in\n{tree}")
    for logo in logos + labels_with_pixmap:
        check(ui.name(logo).strip(), f"the logo has no name in\n{tree}")
    # Close is the default button; both buttons are focusable.
    check(ui.has(view.close, a.STATE_IS_DEFAULT), f"Close is not the default button:\n{tree}")
    check(not ui.has(view.update, a.STATE_IS_DEFAULT), "Update is a default button")
    for button in (view.update, view.close):
        check(ui.has(button, a.STATE_FOCUSABLE), f"{ui.describe(button)} is not focusable")
    # The program is named like the program.
    app = ui.application(program)
    app_name = ui.name(app)
    check("orvanta" in app_name.lower(), f"the application is named {app_name!r}")


@case("second-start", 60)
def second_start(ctx):
    """A second start while the window is open ends at once with 0 and opens no window;
    the first window is still there, the only one."""
    first = ctx.start("ready")
    ctx.wait_main(first, shows(T(40000), update=True), "ready status of the first")
    second = ctx.start("ready")
    code = ctx.wait_exit(second, "a second start", limit=10)
    check(code == 0, f"the second start ended with {code}, expected 0\n{ctx.output(second)}")
    check(first.poll() is None, f"the first ended (exit {first.returncode}) when the second started")
    apps = [app for app in ctx.ui.applications() if "orvanta" in ctx.ui.name(app).lower()]
    check(len(apps) == 1, f"{len(apps)} programs on the accessibility bus")
    ctx.wait_main(first, shows(T(40000), update=True), "the first window still ready")
    check(not ctx.other_windows(first), f"other windows: {ctx.other_windows(first)}")


# --- the product over the real HID host --------------------------------------------------------------

def script_data(data):
    """Bytes as umockdev's scripts write them: control bytes as '^' and the byte plus 64,
    '^' itself as "^`"."""
    out = []
    for byte in data:
        out.append("^" + chr(byte + 64) if byte < 32 else "^`" if byte == 0x5E else chr(byte))
    return "".join(out)


# A report with its id byte, as the unit's descriptor sizes it.
REPORT_SIZE = 60


def report(*leading):
    return bytes(leading) + bytes(REPORT_SIZE - len(leading))


# A TUNE-BOX (vendor 2E6D, product 0002) as the kernel shows it: the USB device and
# interface, the HID device with its report descriptor (report 1 out, report 2 in, 59
# bytes each), the hidraw node.
READY_BOX_SYSFS = """P: /devices/pci0000:00/0000:00:14.0/usb1/1-0
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
A: idVendor=2e6d
A: idProduct=0002

P: /devices/pci0000:00/0000:00:14.0/usb1/1-0/1-0:1.0
E: SUBSYSTEM=usb
E: DEVTYPE=usb_interface

P: /devices/pci0000:00/0000:00:14.0/usb1/1-0/1-0:1.0/0003:2E6D:0002.0
E: SUBSYSTEM=hid
E: HID_ID=0003:00002E6D:00000002
H: report_descriptor=0600FF0901A10185010901150026FF007508953B910285020901953B8102C0

P: /devices/pci0000:00/0000:00:14.0/usb1/1-0/1-0:1.0/0003:2E6D:0002.0/hidraw/hidraw0
N: hidraw0
E: SUBSYSTEM=hidraw
E: DEVNAME=/dev/hidraw0
A: dev=245:0
"""

# The start-up identification of a ready unit, request and reply as the unit has them:
# unit firmware 2.3, bootloader 1.0.5, ESC firmware 3.2, an accepted hardware id.
READY_BOX_SCRIPT = [
    ("w", report(1, 0x08, 0)),
    ("r", report(2, 0, 56, 0, 3, 0, 7, 0, 0x03, 0x02, 0, 0, 0x0D, 0x0A, 0x03, 0x11)),
    ("w", report(1, 0x1D, 8, 0, 0x20, 0, 0, 0, 0xE0, 0xFF, 0xFF, 0xFF)),
    ("r", report(2, 0, 56, 0, 0x20, 0, 0, 0, 0x02, 0x03, 0x5E, 0x13)),
    ("w", report(1, 0x22, 0)),
    ("r", report(2, 0, 56, 0, 0x8C, 0x40, 0x1F, 0x11, 0x05, 0, 0, 0x01)),
]


@case("hid.ready-unit-identified", 60)
def hid_ready_unit(ctx):
    """The product itself, over the real HID host and udev under umockdev: the start-up
    identification of a ready TUNE-BOX shows its versions, and Update is enabled."""
    check(ctx.product, "no --product given")
    sysfs = os.path.join(ctx.workdir, "ready-box.umockdev")
    with open(sysfs, "w") as f:
        f.write(READY_BOX_SYSFS)
    script = os.path.join(ctx.workdir, "ready-box.script")
    with open(script, "w", encoding="latin-1") as f:
        for op, data in READY_BOX_SCRIPT:
            f.write(f"{op} 0 {script_data(data)}\n")
    program = ctx.start("", command=["umockdev-run", "--device", sysfs, "--script", f"/dev/hidraw0={script}",
                                     "--", ctx.product])
    # Built without the firmware release, the product says so in its title.
    window = ctx.window_named(program, (ctx.ui.a.ROLE_DIALOG, ctx.ui.a.ROLE_FRAME), DEVELOPMENT_TITLE,
                              "the product's window")
    texts = ctx.texts()
    want = shows(T(40000), "TUNE-BOX", UNIT_VERSIONS, True, True)

    def identified():
        view = MainView(ctx.ui, window, texts)
        view.title = TITLE  # the rest as the simulated build's
        problem = want(view, texts)
        if problem:
            raise CaseFailed(f"{problem}; the window: {view.summary()}")
        return view
    view = ctx.wait_for(identified, "the identified unit", program)
    ctx.ui.press(view.close)
    code = ctx.wait_exit(program, "Close was pressed")
    check(code == 0, f"exit {code} after Close, expected 0")


# --- the demo ----------------------------------------------------------------------------------------

def demo(ctx, out, scenario, language):
    """One whole update driven through the window, as a user would make it, each step's
    window saved as a picture in out and each status printed."""
    texts = ctx.texts(language)
    shots = []

    def shot(name, acc):
        # The extents are in the window's device-independent pixels; the screen's are
        # the scale's times as many.
        x, y, w, h = (value * (Desktop.scale or 1) for value in ctx.ui.extents(acc))
        whole = os.path.join(ctx.workdir, "screen.png")
        ctx.desktop.screenshot(whole)
        path = os.path.join(out, f"{name}.png")
        subprocess.run(["convert", whole, "-crop", f"{w}x{h}+{x}+{y}", "+repage", path], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        shots.append(path)

    def said(view):
        print(view.status_text.strip() + "\n")

    program = ctx.start(scenario, language)
    time.sleep(1.0)  # painted
    view = ctx.read_main(program, language)
    said(view)
    shot("1-start", view.window)
    if not ctx.ui.enabled(view.update):
        print("the simulated unit is not ready: nothing to update")
        return shots
    ctx.ui.press(view.update)
    box = ctx.box(program, texts.text(40037))
    time.sleep(0.5)
    shot("2-confirmation", box.window)
    ctx.ui.press(box.buttons[texts.buttons["ok"]])
    window, bar = progress_window(ctx, program, language)
    ctx.wait_for(lambda: True if bar_value(ctx, bar) >= 40 else None, "the bar at 40 %", program, 60)
    shot("3-transfer", ctx.read_main(program, language).window)
    view = ctx.wait_main(program, shows(T(40032)), "the update's outcome", language, 90)
    time.sleep(0.5)
    said(view)
    shot("4-success", view.window)
    ctx.ui.press(view.close)
    ctx.wait_exit(program, "Close was pressed")
    return shots


# --- the driver --------------------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--program")
    parser.add_argument("--catalogue")
    parser.add_argument("--product", help="the product itself, for the cases over the real HID host")
    parser.add_argument("--demo", metavar="DIR", help="drive one update and save its windows as pictures")
    parser.add_argument("--scenario", default="ready")
    parser.add_argument("--language", default="en", choices=("en", "de"))
    parser.add_argument("--scale", type=int, help="the window's scale factor (2: 200 %%)")
    parser.add_argument("case", nargs="?")
    options = parser.parse_args()
    Desktop.scale = options.scale

    if options.demo:
        os.makedirs(options.demo, exist_ok=True)
        with tempfile.TemporaryDirectory(prefix="orv-demo-") as workdir:
            ctx = Context(options, workdir, 180)
            try:
                shots = demo(ctx, os.path.abspath(options.demo), options.scenario, options.language)
            except (CaseFailed, Gone, subprocess.TimeoutExpired) as failed:
                print(f"the demo failed: {failed}", file=sys.stderr)
                return 1
            finally:
                ctx.close()
        print("screenshots:\n" + "\n".join("  " + path for path in shots))
        return 0

    if options.list:
        for name, (_, timeout) in CASES.items():
            print(f"{name} {timeout}")
        return 0
    if options.case not in CASES:
        print(f"no case {options.case!r}", file=sys.stderr)
        return 2
    if not options.program or not options.catalogue:
        print("--program and --catalogue are needed", file=sys.stderr)
        return 2
    missing = [tool for tool in ("Xvfb", "dbus-daemon", "dbus-send", "xdotool", "setpriv")
               if shutil.which(tool) is None]
    if missing:
        print(f"FAILED {options.case}: not installed: {' '.join(missing)} (scripts/setup installs them)",
              file=sys.stderr)
        return 1
    function, timeout = CASES[options.case]
    # Ended from outside: the desktop and the folder go too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(f"FAILED {options.case}: ended from outside"))
    signal.signal(signal.SIGINT, lambda *_: sys.exit(f"FAILED {options.case}: interrupted"))
    with tempfile.TemporaryDirectory(prefix="orv-gui-") as workdir:
        ctx = None
        try:
            ctx = Context(options, workdir, timeout)
            function(ctx)
        except (CaseFailed, Gone, subprocess.TimeoutExpired) as failed:
            print(f"FAILED {options.case}: {failed}", file=sys.stderr)
            if ctx is not None:
                report_failure(ctx, options.case)
            return 1
        finally:
            if ctx is not None:
                ctx.close()
    print(f"passed {options.case}")
    return 0


def report_failure(ctx, name):
    """A screenshot into the working folder, and what the programs said."""
    picture = os.path.join(os.getcwd(), f"{name}.png")
    try:
        ctx.desktop.screenshot(picture)
        print(f"screenshot: {picture}", file=sys.stderr)
    except (OSError, subprocess.TimeoutExpired) as error:
        print(f"no screenshot: {error}", file=sys.stderr)
    said = ctx.desktop.log_tail().strip()
    if said:
        print(f"--- the desktop's servers said:\n{said}", file=sys.stderr)
    for index, process in enumerate(ctx.processes):
        said = ctx.output(process).strip()
        if said:
            print(f"--- program {index} said:\n{said}", file=sys.stderr)
        try:
            app = ctx.ui.application(process)
            if app is not None:
                print(f"--- program {index} on the accessibility bus:\n{ctx.ui.dump(app)}", file=sys.stderr)
        except (Gone, CaseFailed):
            pass


if __name__ == "__main__":
    sys.exit(main())
