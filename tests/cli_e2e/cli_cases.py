#!/usr/bin/env python3
"""End-to-end cases of the terminal program's simulated build.

Natively each case runs orvanta-cli-sim either with pipes (what a script sees) or in a
terminal that tmux provides, where keys are typed and the screen is read back. Under
Wine (--wine) a few of the piped cases run orvanta-cli-sim.exe.

Every text a case expects comes from the catalogue (res/messages.json) by id; the error
codes, versions and block counts are the simulated unit's own behaviour and are written
as they are.

  cli_cases.py --list [--wine WINE_RUN]      one line per case: NAME TIMEOUT_SECONDS
  cli_cases.py --program PATH --catalogue FILE [--tmux TMUX | --wine WINE_RUN] CASE
"""

import argparse
import json
import os
import re
import select
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
from case_texts import CaseFailed, T, c_format, check  # noqa: E402

# The simulated image is 2037 blocks of 48 bytes; a whole update takes about 46 s.
TOTAL_BLOCKS = 2037
MODEL_NAME = "ORVANTA 90"

# Request bytes of the commands that only the update's command sequence sends: system
# lock, write protection, erase, write address, write block.
SEQUENCE_COMMANDS = ("0b", "20", "1e", "1f", "1b")
# The one that carries the image, a block at a time.
BLOCK_WRITE = "1b"

# The simulated unit takes a block about every 23 ms. Nothing the terminal or the output
# does may hold the transfer up: no two blocks further apart than this.
BLOCK_GAP_LIMIT = 2.0

# How long a wait for a screen may take before the case fails; generous, the machine may
# be busy with other tests. No wait and no run of the program goes on past shortly before
# the case's own time is up: the case still says what it waited for, and takes its
# terminal down with it.
SCREEN_DEADLINE = 30.0
MARGIN = 10.0


# --- the catalogue -----------------------------------------------------------------------


def format_regex(fmt):
    """A pattern matching the catalogue text fmt once formatted: every %s is one word,
    every %u a number."""
    out = ""
    for piece in re.split(r"(%%|%s|%u)", fmt):
        if piece == "%%":
            out += "%"
        elif piece == "%s":
            out += r"(\S+)"
        elif piece == "%u":
            out += r"(\d+)"
        else:
            out += re.escape(piece)
    return re.compile(out)


class Catalogue:
    def __init__(self, path, language):
        with open(path, encoding="utf-8") as f:
            self.entries = {entry["id"]: entry for entry in json.load(f)}
        self.language = language

    def text(self, text_id, *args):
        """The text as the program prints it: lines end in LF."""
        entry = self.entries.get(text_id)
        check(entry is not None and self.language in entry,
              f"catalogue has no {self.language} text {text_id}")
        text = entry[self.language].replace("\r\n", "\n")
        return c_format(text, args) if args else text


# Expectations in the tables: resolved against the case's catalogue when checked (and T).
class CodeLine(T):
    """The error code line (40036) with the two codes."""

    def __init__(self, code, system_error):
        super().__init__(40036, code, system_error)


class Row:
    """A version line: the label (catalogue id or literal) and the value."""

    def __init__(self, label, value):
        self.label = label
        self.value = value

    def resolve(self, cat):
        label = cat.text(self.label) if isinstance(self.label, int) else self.label
        return re.compile(r"^" + re.escape(label) + r" +" + re.escape(self.value) + r"$", re.M)

    def __repr__(self):
        return f"version line {self.label} {self.value}"


def squeeze(text):
    return " ".join(text.split())


def expect_in_order(output, expected, cat, where, screen=False):
    """Each expectation found in output after the one before it. On a screen the text is
    compared with its blanks squeezed: the terminal wraps and trims lines."""
    haystack = squeeze(output) if screen else output
    position = 0
    for item in expected:
        want = item.resolve(cat)
        if isinstance(want, re.Pattern):
            # Lines are matched as shown; on a screen their order is not followed.
            found = want.search(output, 0 if screen else position)
            check(found is not None, f"{where}: no {item!r} ({want.pattern}) in\n{output}")
            if not screen:
                position = found.end()
            continue
        needle = squeeze(want) if screen else want
        at = haystack.find(needle, position)
        if at < 0:
            earlier = haystack.find(needle)
            problem = "only before what was expected first" if earlier >= 0 else "not found"
            raise CaseFailed(f"{where}: {item!r} {problem}: {needle!r}\n--- in:\n{output}")
        position = at + len(needle)


def progress_lines(text, cat):
    """(percent, blocks sent, blocks) of every line that is a progress line."""
    pattern = format_regex(cat.text(41009))
    lines = []
    for line in text.split("\n"):
        match = pattern.fullmatch(line.rstrip())
        if match and re.fullmatch(r"\[[#-]+\]", match.group(1)):
            lines.append((int(match.group(2)), int(match.group(3)), int(match.group(4))))
    return lines


# --- running the program -------------------------------------------------------------------

class Context:
    def __init__(self, options, workdir, timeout):
        self.end = time.monotonic() + timeout - MARGIN
        self.program = options.program
        self.catalogue_path = options.catalogue
        self.tmux = options.tmux
        self.wine = options.wine
        self.fail_threads = options.fail_threads
        self.workdir = workdir
        self.cats = {}

    def cat(self, language="en"):
        if language not in self.cats:
            self.cats[language] = Catalogue(self.catalogue_path, language)
        return self.cats[language]

    def locale(self, language):
        if self.wine:
            return "de_DE.UTF-8" if language == "de" else "en_US.UTF-8"
        return "de_DE.UTF-8" if language == "de" else "C.UTF-8"

    def env(self, scenario, language="en", extra=None):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("ORVANTA_", "LC_", "TMUX")) and k not in ("LANG", "LANGUAGE")}
        env["LC_ALL"] = self.locale(language)
        env["ORVANTA_SIM"] = scenario
        # A lock of its own: cases running side by side must not refuse each other.
        runtime = os.path.join(self.workdir, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env["XDG_RUNTIME_DIR"] = runtime
        # No system bus, unless a case brings its own logind: the machine's must not be
        # asked, nor decide what a case sees.
        env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.workdir, "no-system-bus")
        env.update(extra or {})
        return env

    def command(self, args):
        return ([self.wine] if self.wine else []) + [self.program] + list(args)

    def run(self, args, scenario, language="en", extra_env=None):
        """Runs the program with stdin from /dev/null and pipes for its output:
        (exit status, stdout, stderr), line ends made LF after they were checked."""
        result = subprocess.run(self.command(args), env=self.env(scenario, language, extra_env),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=self.left(), cwd=self.workdir)
        what = " ".join(args)
        return (result.returncode, self.decoded(result.stdout, f"{what}: stdout", True),
                self.decoded(result.stderr, f"{what}: stderr", False))

    def spawn(self, args, scenario, stdout, stderr, stdin=subprocess.DEVNULL, extra_env=None):
        """Starts the program and leaves it running: the caller waits for it."""
        return subprocess.Popen(self.command(args), env=self.env(scenario, extra=extra_env), stdin=stdin,
                                stdout=stdout, stderr=stderr, cwd=self.workdir)

    def left(self, deadline=None):
        """Seconds a wait may take: deadline, or what is left of the case's time if less."""
        left = max(self.end - time.monotonic(), 1.0)
        return left if deadline is None else min(deadline, left)

    def decoded(self, data, where, program_only):
        try:
            text = data.decode("utf-8")
        except UnicodeDecodeError as error:
            raise CaseFailed(f"{where} is not UTF-8: {error}: {data!r}")
        if self.wine:
            # Wine itself may say something on stderr; what the program writes ends in CR LF.
            if program_only:
                lone = re.search(r"(?<!\r)\n|\r(?!\n)", text)
                check(lone is None, f"{where}: a line end that is not CR LF at {lone.start() if lone else 0}:"
                                    f" {text!r}")
            return text.replace("\r\n", "\n")
        check("\r" not in text, f"{where}: a CR in what a pipe gets: {text!r}")
        return text

    def firmware_version(self):
        code, out, _ = self.run(["--version"], "none")
        check(code == 0, f"--version: exit {code}")
        match = re.search(r"firmware (\S+)", out)
        check(match is not None, f"--version names no firmware version: {out!r}")
        return match.group(1)


def request_lines(log_text):
    return [line for line in log_text.split("\n") if re.match(r"^\s*\d+\.\d{6} > ", line)]


def sequence_requests(log_text):
    """Requests of the command sequence in a log: their second byte is the command."""
    found = []
    for line in request_lines(log_text):
        data = line.split(" > ", 1)[1].split()
        if len(data) > 1 and data[1] in SEQUENCE_COMMANDS:
            found.append(line)
    return found


def read_log(path):
    if not os.path.exists(path):
        return ""
    with open(path, encoding="utf-8") as f:
        return f.read()


def block_write_times(log_text):
    """The times (seconds) of the block-write requests in a log."""
    times = []
    for line in request_lines(log_text):
        data = line.split(" > ", 1)[1].split()
        if len(data) > 1 and data[1] == BLOCK_WRITE:
            times.append(float(line.split()[0]))
    return times


def check_blocks_not_held_up(log_text, what):
    times = block_write_times(log_text)
    check(len(times) > 1, f"{what}: {len(times)} block writes in the log:\n{log_text}")
    gap, at = max((later - earlier, earlier) for earlier, later in zip(times, times[1:]))
    check(gap < BLOCK_GAP_LIMIT, f"{what}: the transfer was held up {gap:.3f} s after the block written at"
                                 f" {at:.6f} s (at most {BLOCK_GAP_LIMIT} s between two blocks)")


def wait_for_log(ctx, path, predicate, what, process=None, deadline=SCREEN_DEADLINE):
    """The log's text once predicate holds for it; fails when the program ended first."""
    end = time.monotonic() + ctx.left(deadline)
    while True:
        text = read_log(path)
        if predicate(text):
            return text
        tail = "\n".join(text.rstrip("\n").split("\n")[-5:])
        check(process is None or process.poll() is None,
              f"the program ended (exit {process.returncode if process else 0}) before {what}; the log ends:\n{tail}")
        check(time.monotonic() < end, f"no {what} in the log within {deadline:.0f} s; it ends:\n{tail}")
        time.sleep(0.05)


# --- a terminal --------------------------------------------------------------------------

class Screen:
    """An interactive bash in a detached tmux window with a server of its own, its socket
    in the case's folder, with job control as a user's shell has it: the program runs as the foreground job, so
    Ctrl-C and Ctrl-Z reach it as they would from a keyboard."""

    PROMPT = "orv-test$ "

    def __init__(self, ctx, name, env, width=120, height=40):
        self.ctx = ctx
        env = dict(env)
        env["HISTFILE"] = "/dev/null"
        self.base = [ctx.tmux, "-S", os.path.join(ctx.workdir, f"tmux-{name}"), "-f", "/dev/null"]
        # The prompt through env: a shell that runs a command line drops PS1.
        shell = f"exec env PS1={shlex.quote(self.PROMPT)} bash --norc --noprofile -i"
        subprocess.run(self.base + ["new", "-d", "-s", "cli", "-x", str(width), "-y", str(height), shell],
                       env=env, cwd=ctx.workdir, check=True, timeout=30)
        try:
            self.wait_for(lambda screen: self.PROMPT.strip() in screen, "the shell's prompt")
        except BaseException:
            self.close()
            raise

    def close(self):
        subprocess.run(self.base + ["kill-server"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=30)

    def capture(self):
        """The whole pane, history included, wrapped lines joined."""
        result = subprocess.run(self.base + ["capture-pane", "-p", "-J", "-S", "-", "-t", "cli"],
                                stdout=subprocess.PIPE, check=True, timeout=30)
        return result.stdout.decode("utf-8", errors="replace")

    def type(self, text):
        subprocess.run(self.base + ["send-keys", "-t", "cli", "-l", text], check=True, timeout=30)

    def key(self, *keys):
        subprocess.run(self.base + ["send-keys", "-t", "cli"] + list(keys), check=True, timeout=30)

    def start(self, args, background=False):
        """Types the command line; the shell then prints the program's exit status on a
        line of its own (the terminal echoes ^C where the cursor is). In the background
        the program is a job of its own and the shell waits for it; a job the terminal
        stops ends the wait with 128 + the signal."""
        line = " ".join(shlex.quote(a) for a in self.ctx.command(args))
        if background:
            line += " & wait $!"
        line += '; printf \'\\nEXIT=%s\\n\' "$?"'
        self.type(line)
        self.key("Enter")

    def wait_for(self, predicate, what, deadline=SCREEN_DEADLINE):
        deadline = self.ctx.left(deadline)
        end = time.monotonic() + deadline
        screen = ""
        while True:
            screen = self.capture()
            if predicate(screen):
                return screen
            if time.monotonic() > end:
                raise CaseFailed(f"no {what} on the screen within {deadline:.0f} s; the screen:\n{screen}")
            time.sleep(0.1)

    def wait_text(self, text, what, count=1, deadline=SCREEN_DEADLINE):
        needle = squeeze(text)
        return self.wait_for(lambda s: squeeze(s).count(needle) >= count, what, deadline)

    def wait_exit(self, deadline=SCREEN_DEADLINE):
        """The exit status the shell printed, and the screen."""
        screen = self.wait_for(lambda s: re.search(r"^EXIT=\d+$", s, re.M), "exit status", deadline)
        return int(re.search(r"^EXIT=(\d+)$", screen, re.M).group(1)), screen


def with_screen(ctx, name, env, body):
    screen = Screen(ctx, name, env)
    try:
        return body(screen)
    finally:
        screen.close()


# --- the cases --------------------------------------------------------------------------

CASES = {}


def case(name, timeout, native=True, wine=False):
    def register(function):
        CASES[name] = (function, timeout, native, wine)
        return function
    return register


# status: scenario, arguments, language, exit status, on stdout in this order, on stderr.
HINT = T(40001)
STATUS_TABLE = {
    "none": ("none", [], "en", 2, [T(40017), HINT, Row(40039, "0.0.0")], []),
    "ready": ("ready", [], "en", 0,
              [T(40000), Row("TUNE-BOX", "2.3"), Row(40040, "1.0.5"), Row(40041, "3.2")], []),
    "wrong-mode": ("wrong-mode", [], "en", 3, [T(40015), HINT], []),
    "no-esc": ("no-esc", [], "en", 4, [T(40016), HINT], []),
    "foreign-esc": ("foreign-esc", [], "en", 5, [T(40033), T(40034, MODEL_NAME), T(40035), HINT], []),
    # A unit found that cannot be opened: what to do about it, in place of the hint.
    "no-permission": ("no-permission", [], "en", 8, [T(40017), T(41003)], []),
    "in-use": ("in-use", [], "en", 6, [T(40017), T(41015)], []),
    "puck": ("puck", [], "en", 0, [T(40000), Row("TUNEPUCK", "2.3"), Row(40041, "3.2")], []),
    "no-firmware": ("no-firmware", [], "en", 0, [T(40000), Row("TUNE-BOX", "2.3"), Row(40041, "-" * 10)], []),
    "lang-de": ("none", ["--lang", "de"], "de", 2, [T(40017), HINT], []),
    # The language from the locale when no --lang is given.
    "locale-de": ("ready", [], "de", 0, [T(40000), Row("TUNE-BOX", "2.3"), Row(40041, "3.2")], []),
}
WINE_STATUS = ("none", "ready", "foreign-esc", "locale-de")


def status_case(name, row):
    scenario, args, language, want_exit, want_out, want_err = row

    def run(ctx):
        cat = ctx.cat(language)
        # --lang alone decides: the locale says English.
        code, out, err = ctx.run(args + ["status"], scenario, language if "--lang" not in args else "en")
        where = f"status ({scenario}{' ' + ' '.join(args) if args else ''})"
        check(code == want_exit, f"{where}: exit {code}, expected {want_exit}\n{out}\n{err}")
        expect_in_order(out, want_out, cat, where + " stdout")
        expect_in_order(err, want_err, cat, where + " stderr")
        if not want_err and not ctx.wine:
            check(err == "", f"{where}: stderr not empty: {err!r}")
    return run


for _name, _row in STATUS_TABLE.items():
    case(f"status.{_name}", 60 if _name in WINE_STATUS else 30, wine=_name in WINE_STATUS)(
        status_case(_name, _row))


# status --json: scenario, exit status, and what the object holds.
JSON_TABLE = {
    "ready": ("ready", 0, {"status": 40000, "exitStatus": 0, "hint": None, "permissionDenied": False,
                           "unit": {"name": "TUNE-BOX", "productId": 2},
                           "versions": {"unit": "2.3", "bootloader": "1.0.5", "esc": "3.2"}}, 40000, None),
    "none": ("none", 2, {"status": 40017, "exitStatus": 2, "unit": None, "message": None}, 40017, 40001),
    "foreign-esc": ("foreign-esc", 5, {"status": 40035, "exitStatus": 5}, 40035, 40001),
    # The hint the status shows: what to do about the unit in use.
    "in-use": ("in-use", 6, {"status": 40017, "exitStatus": 6, "unitInUse": True, "permissionDenied": False},
               40017, 41015),
}


def json_case(name, row):
    scenario, want_exit, fields, text_id, hint_id = row

    def run(ctx):
        cat = ctx.cat()
        code, out, err = ctx.run(["status", "--json"], scenario)
        check(code == want_exit, f"status --json ({scenario}): exit {code}, expected {want_exit}")
        try:
            report = json.loads(out)
        except ValueError as error:
            raise CaseFailed(f"status --json ({scenario}) is no JSON: {error}\n{out}")
        for key, value in fields.items():
            check(report.get(key) == value, f"status --json ({scenario}): {key} is {report.get(key)!r},"
                                            f" expected {value!r}")
        check(report.get("text") == cat.text(text_id), f"text is {report.get('text')!r}")
        if hint_id is not None:
            check(report.get("hint") == cat.text(hint_id), f"hint is {report.get('hint')!r}")
        if scenario == "foreign-esc":
            # The message the dialog would have shown in a box.
            check(report.get("message") == cat.text(40034, MODEL_NAME), f"message is {report.get('message')!r}")
        check(err == "", f"status --json ({scenario}): stderr not empty: {err!r}")
    return run


for _name, _row in JSON_TABLE.items():
    case(f"status-json.{_name}", 30)(json_case(_name, _row))


# Arguments that are no command line: exit 64, the short usage on stderr, nothing on stdout.
USAGE_TABLE = {
    "unknown-option": (["--bogus"], "--bogus"),
    "extra-argument": (["status", "extra"], "extra"),
    "bad-language": (["--lang", "fr", "status"], "--lang fr"),
    "no-command": ([], None),
}


def usage_case(name, row):
    args, bad = row

    def run(ctx):
        cat = ctx.cat()
        code, out, err = ctx.run(args, "ready")
        where = f"orvanta-cli-sim {' '.join(args)}"
        check(code == 64, f"{where}: exit {code}, expected 64")
        check(out == "", f"{where}: stdout not empty: {out!r}")
        want = ([T(41001, bad)] if bad else []) + [T(41002)]
        expect_in_order(err, want, cat, where + " stderr")
        if bad is None:
            check(cat.text(41001, "x").split("'")[0] not in err, f"{where}: names an argument: {err!r}")
    return run


for _name, _row in USAGE_TABLE.items():
    case(f"usage.{_name}", 30)(usage_case(_name, _row))


@case("usage.help", 30)
def help_case(ctx):
    cat = ctx.cat()
    version = ctx.firmware_version()
    code, out, err = ctx.run(["--help"], "ready")
    check(code == 0, f"--help: exit {code}")
    check(out == cat.text(41000, version) + "\n", f"--help printed:\n{out}")
    check(err == "", f"--help: stderr {err!r}")


@case("usage.version", 30)
def version_case(ctx):
    code, out, err = ctx.run(["--version"], "ready")
    check(code == 0, f"--version: exit {code}")
    check(re.fullmatch(r"orvanta-cli \d+\.\d+\.\d+: firmware \d+\.\d+ for the QUORVEX ORVANTA 90 ESC( .*)?\n", out),
          f"--version printed {out!r}")
    check(err == "", f"--version: stderr {err!r}")


# --- updates answered in a terminal ---------------------------------------------------------

# The questions shown: the confirmation, and for an ESC whose firmware is not older the
# one about its version.
CONFIRMATION = [T(40037), T(40038)]
VERSION_QUESTION = CONFIRMATION + [T(40025), T(40023)]


def prompt_case(scenario, steps, asked=CONFIRMATION, log_name="unit.log"):
    """An update in the terminal whose questions are answered by steps (functions of the
    screen); it must end cancelled, with nothing of the command sequence sent."""

    def run(ctx):
        cat = ctx.cat()
        log = os.path.join(ctx.workdir, log_name)

        def body(screen):
            screen.start(["--log", log, "update"])
            screen.wait_text(cat.text(41008), "confirmation prompt")
            for step in steps:
                step(screen, cat)
            code, shown = screen.wait_exit()
            check(code == 6, f"update ({scenario}): exit {code}, expected 6\n{shown}")
            expect_in_order(shown, asked + [T(41005)], cat, "screen", screen=True)
            check(squeeze(cat.text(40029)) not in squeeze(shown), f"the transfer began:\n{shown}")
        with_screen(ctx, scenario, ctx.env(scenario), body)
        text = read_log(log)
        check(request_lines(text), f"the log has no request of the status check:\n{text}")
        sent = sequence_requests(text)
        check(not sent, "requests of the command sequence were sent:\n" + "\n".join(sent))
    return run


def answer(text):
    def step(screen, cat):
        screen.type(text)
        screen.key("Enter")
    return step


def ctrl_c(screen, cat):
    screen.key("C-c")


def version_question(screen, cat):
    # The second prompt, after the question about the firmware that is not older.
    screen.wait_text(cat.text(40023), "question about the installed version")
    screen.wait_text(cat.text(41008), "second prompt", count=2)


case("update.answer-no", 90)(prompt_case("ready", [answer("n")]))
case("update.answer-empty", 90)(prompt_case("ready", [answer("")]))
case("update.ctrl-c-at-confirmation", 90)(prompt_case("ready", [ctrl_c]))
case("update.newer-answer-no", 90)(
    prompt_case("newer", [answer("y"), version_question, answer("n")], VERSION_QUESTION))
case("update.newer-ctrl-c-at-version-question", 90)(
    prompt_case("newer", [answer("y"), version_question, ctrl_c], VERSION_QUESTION))


def typed_ahead(*answers):
    # Typed in one go at the first prompt: only the first answers a question, the rest is
    # thrown away before the next one is asked.
    def step(screen, cat):
        keys = []
        for text in answers:
            keys += [text, "Enter"]
        screen.key(*keys)
    return step


def unfinished(text):
    # The first Ctrl-D hands over what was typed, without Enter; the second, on an empty
    # line, ends the input.
    def step(screen, cat):
        screen.type(text)
        screen.key("C-d", "C-d")
    return step


case("update.answer-ended-by-end-of-input", 90)(prompt_case("ready", [unfinished("y")]))
case("update.newer-answers-typed-ahead", 90)(
    prompt_case("newer", [typed_ahead("y", "y"), version_question, answer("n")], VERSION_QUESTION))


@case("update.whole-in-terminal", 180)
def whole_in_terminal(ctx):
    cat = ctx.cat()
    version = ctx.firmware_version()

    def body(screen):
        screen.start(["update"])
        screen.wait_text(cat.text(41008), "confirmation prompt")
        answer("y")(screen, cat)

        def sent_past(blocks):
            return lambda s: any(sent > blocks for _, sent, _ in progress_lines(s, cat))

        first_screen = screen.wait_for(sent_past(0), "progress line")
        first = progress_lines(first_screen, cat)
        check(len(first) == 1, f"{len(first)} progress lines instead of one redrawn:\n{first_screen}")
        later_screen = screen.wait_for(sent_past(first[0][1]), "progress line that moved on")
        later = progress_lines(later_screen, cat)
        # Drawn over in place: one line, now showing more blocks.
        check(len(later) == 1, f"{len(later)} progress lines instead of one redrawn:\n{later_screen}")
        check(later[0][2] == TOTAL_BLOCKS, f"blocks in all: {later[0][2]}, expected {TOTAL_BLOCKS}")
        code, shown = screen.wait_exit(None)
        check(code == 0, f"update: exit {code}, expected 0\n{shown}")
        final = progress_lines(shown, cat)
        check(final == [(100, TOTAL_BLOCKS, TOTAL_BLOCKS)], f"progress at the end: {final}\n{shown}")
        expect_in_order(shown, [T(40029), T(40032)], cat, "screen", screen=True)
        check(Row(40041, version).resolve(cat).search(shown), f"the ESC's version is not {version}:\n{shown}")
        check(squeeze(cat.text(40002)) not in squeeze(shown), f"a failure was reported:\n{shown}")
    with_screen(ctx, "whole", ctx.env("ready"), body)


@case("update.interrupts-during-sequence", 90)
def interrupts_during_sequence(ctx):
    """Ctrl-C during the command sequence is refused with a word why, Ctrl-Z does not
    stop the program: the update ends with its own outcome, here the unit leaving the
    bus at its 301st block."""
    cat = ctx.cat()

    def blocks(s):
        lines = progress_lines(s, cat)
        return max((sent for _, sent, _ in lines), default=-1)

    def body(screen):
        screen.start(["update"])
        screen.wait_text(cat.text(41008), "confirmation prompt")
        answer("y")(screen, cat)
        before = blocks(screen.wait_for(lambda s: blocks(s) >= 0, "progress line"))
        screen.key("C-c")
        refused = screen.wait_text(cat.text(41006), "word that the update goes on")
        at_refusal = blocks(refused)
        screen.wait_for(lambda s: blocks(s) > max(before, at_refusal), "progress after Ctrl-C")
        screen.key("C-z")
        code, shown = screen.wait_exit(None)
        # A stopped program would leave the shell's "Stopped" and the status 148.
        check(code == 7, f"update: exit {code}, expected 7\n{shown}")
        expect_in_order(shown, [T(41006), T(40002), T(40009), CodeLine(0xFFFFFFFE, 0x0000048F), T(40030)],
                        cat, "screen", screen=True)
    with_screen(ctx, "interrupts", ctx.env("unplug-during-transfer"), body)


# How long the terminal is kept stopped with Ctrl-S.
TERMINAL_STOPPED_FOR = 5.0


@case("update.terminal-stopped-during-sequence", 90)
def terminal_stopped_during_sequence(ctx):
    """Ctrl-S stops the terminal's output for a while during the transfer: the progress
    line stands still, the blocks go on. After Ctrl-Q the update ends with its own
    outcome, here the unit leaving the bus at its 301st block."""
    cat = ctx.cat()
    log = os.path.join(ctx.workdir, "unit.log")

    def shown_blocks(s):
        return max((sent for _, sent, _ in progress_lines(s, cat)), default=-1)

    def body(screen):
        screen.start(["--log", log, "update"])
        screen.wait_text(cat.text(41008), "confirmation prompt")
        answer("y")(screen, cat)
        screen.wait_for(lambda s: shown_blocks(s) > 0, "progress line")
        screen.key("C-s")
        # What was on its way to the screen when the terminal stopped has arrived.
        time.sleep(0.5)
        shown_at_stop = shown_blocks(screen.capture())
        written_at_stop = len(block_write_times(read_log(log)))
        time.sleep(TERMINAL_STOPPED_FOR - 0.5)
        shown_at_resume = shown_blocks(screen.capture())
        written_at_resume = len(block_write_times(read_log(log)))
        screen.key("C-q")
        # A terminal that went on showing would leave the case nothing to show.
        check(shown_at_resume == shown_at_stop, f"the terminal did not stop on Ctrl-S: the progress line moved"
                                                f" from block {shown_at_stop} to {shown_at_resume}")
        check(written_at_resume > written_at_stop, f"no block was written while the terminal was stopped"
                                                   f" ({written_at_stop} before, {written_at_resume} after)")
        code, shown = screen.wait_exit()
        check(code == 7, f"update: exit {code}, expected 7\n{shown}")
        expect_in_order(shown, [T(40002), T(40009), CodeLine(0xFFFFFFFE, 0x0000048F), T(40030)],
                        cat, "screen", screen=True)
    with_screen(ctx, "stopped", ctx.env("unplug-during-transfer"), body)
    check_blocks_not_held_up(read_log(log), "with the terminal stopped")


@case("update.background-job", 60)
def background_job(ctx):
    """update --yes started with & from an interactive shell, a job that does not own the
    terminal: nothing the sequence does to the terminal (input typed meanwhile is
    discarded at its end) may stop the job."""
    cat = ctx.cat()

    def body(screen):
        screen.start(["update", "--yes"], background=True)
        code, shown = screen.wait_exit()
        check(code == 7, f"update --yes in the background: exit {code}, expected 7 (128 + a signal: the job"
                         f" was stopped)\n{shown}")
        check("Stopped" not in shown, f"the shell says the job was stopped:\n{shown}")
        expect_in_order(shown, [T(40029), T(40002), T(40009), CodeLine(0x00000105, 0), T(40030)],
                        cat, "screen", screen=True)
    with_screen(ctx, "background", ctx.env("block-fails"), body)


# --- updates answered in advance, output to pipes ----------------------------------------------

# scenario: exit status, on stdout in order, on stderr in order, progress percentages.
ANSWERED = [T(40037), T(40038), T(41008), T(41011)]
UPDATE_TABLE = {
    "lock-refused": ("lock-refused", 7, ANSWERED + [T(40030)],
                     [T(40002), T(40026), CodeLine(0x0000065B, 0)], []),
    "erase-fails": ("erase-fails", 7, ANSWERED + [T(40030)],
                    [T(40002), T(40028), CodeLine(0x00000102, 0)], []),
    # It fails at block 200 of 2037, before the first tenth: the caption, no line.
    "block-fails": ("block-fails", 7, ANSWERED + [T(40029), T(40030)],
                    [T(40002), T(40009), CodeLine(0x00000105, 0)], []),
    # One line as the transfer passes each tenth.
    "whole": ("ready", 0, ANSWERED + [T(40029), T(40032)], [], list(range(10, 101, 10))),
}
WINE_UPDATES = ("block-fails", "whole")


def without_sleep_notice(err, cat, where, wine):
    """stderr without the word, said once before the sequence, that sleep is not held off
    (a case has no logind of its own unless it starts one; Wine holds off the session's end
    with a window)."""
    notice = cat.text(41014) + "\n"
    if wine:
        check(notice not in err, f"{where}: sleep said not to be held off under Wine:\n{err}")
        return err
    check(err.count(notice) == 1, f"{where}: the word that sleep is not held off {err.count(notice)} times:\n{err}")
    return err.replace(notice, "", 1)


def update_case(name, row):
    scenario, want_exit, want_out, want_err, want_percents = row

    def run(ctx):
        cat = ctx.cat()
        code, out, err = ctx.run(["update", "--yes"], scenario)
        where = f"update --yes ({scenario})"
        check(code == want_exit, f"{where}: exit {code}, expected {want_exit}\n{out}\n{err}")
        err = without_sleep_notice(err, cat, where, ctx.wine)
        expect_in_order(out, want_out, cat, where + " stdout")
        expect_in_order(err, want_err, cat, where + " stderr")
        if not want_err and not ctx.wine:
            check(err == "", f"{where}: stderr not empty: {err!r}")
        lines = progress_lines(out, cat)
        check([p for p, _, _ in lines] == want_percents,
              f"{where}: progress lines at {[p for p, _, _ in lines]} %, expected {want_percents}\n{out}")
        check(all(total == TOTAL_BLOCKS for _, _, total in lines), f"{where}: blocks in all: {lines}")
        if want_exit == 0:
            check(lines[-1][1] == TOTAL_BLOCKS, f"{where}: last progress line: {lines[-1]}")
        check("\x1b" not in out, f"{where}: terminal controls in a pipe's output: {out!r}")
    return run


for _name, _row in UPDATE_TABLE.items():
    case(f"update-yes.{_name}", 180 if _name == "whole" else 60, wine=_name in WINE_UPDATES)(
        update_case(_name, _row))


# Signals that would end a program, each sent with kill once the log shows so many blocks
# written: every one is refused with a word why.
SIGNALS_DURING_SEQUENCE = ((20, signal.SIGHUP), (40, signal.SIGTERM), (60, signal.SIGINT), (80, signal.SIGQUIT))


@case("update-yes.signals-during-sequence", 60)
def signals_during_sequence(ctx):
    """The update ends as it would have without the signals, with its own outcome and exit
    status: here the unit refusing block 200."""
    cat = ctx.cat()
    scenario, want_exit, want_out, want_err, _ = UPDATE_TABLE["block-fails"]
    log = os.path.join(ctx.workdir, "unit.log")
    where = f"update --yes ({scenario}) sent {', '.join(sent.name for _, sent in SIGNALS_DURING_SEQUENCE)}"
    process = ctx.spawn(["--log", log, "update", "--yes"], scenario, subprocess.PIPE, subprocess.PIPE)
    try:
        sent_before = "no signal"
        for blocks, sent in SIGNALS_DURING_SEQUENCE:
            wait_for_log(ctx, log, lambda text: len(block_write_times(text)) >= blocks,
                         f"{blocks} blocks written ({sent_before} sent)", process)
            process.send_signal(sent)
            sent_before = sent.name
        out, err = process.communicate(timeout=ctx.left())
    finally:
        if process.poll() is None:
            process.kill()
            process.communicate()
    code = process.returncode
    out = ctx.decoded(out, where + ": stdout", True)
    err = ctx.decoded(err, where + ": stderr", False)
    check(code == want_exit, f"{where}: exit {code}, expected {want_exit}\n{out}\n{err}")
    notices = err.count(cat.text(41006))
    check(notices == len(SIGNALS_DURING_SEQUENCE), f"{where}: {notices} words that the update goes on:\n{err}")
    expect_in_order(err, [T(41006)] * notices + want_err, cat, where + " stderr")
    expect_in_order(out, want_out, cat, where + " stdout")
    text = read_log(log)
    written = len(block_write_times(text))
    check(written == 200, f"{where}: {written} block writes, expected 200")
    # The log ends as the update's own ending leaves it: the refused block, its reply,
    # the unit closed.
    kinds = [line.split(None, 1)[1] for line in text.split("\n")[1:] if line.strip()]
    last = max(i for i, kind in enumerate(kinds) if kind.startswith("> "))
    check(kinds[last].startswith(f"> 01 {BLOCK_WRITE} ") and len(kinds) == last + 3
          and kinds[last + 1].startswith("< 02 ff ") and kinds[last + 2] == "close",
          f"{where}: the log does not end with the refused block, its reply and the unit closed:\n"
          + "\n".join(kinds[max(last - 2, 0):]))


@case("update-yes.output-not-read", 60)
def output_not_read(ctx):
    """Output to a pipe nobody reads: once the pipe is full every write to it waits, the
    transfer must not. The pipe is kept full from the transfer's caption until the
    unit leaves the bus at its 301st block."""
    cat = ctx.cat()
    scenario = "unplug-during-transfer"
    log = os.path.join(ctx.workdir, "unit.log")
    where = f"update --yes ({scenario}) into a full pipe"
    held = HeldOutput(ctx, ["--log", log, "update", "--yes"], scenario, where)
    try:
        text = wait_for_log(ctx, log, lambda t: block_write_times(t) and t.rstrip().endswith(" close"),
                            "end of the transfer while nobody read the output", held.process)
        code, out, err = held.release()
    finally:
        held.close()
    err = without_sleep_notice(err, cat, where, ctx.wine)
    check(code == 7, f"{where}: exit {code}, expected 7\n{out}\n{err}")
    expect_in_order(out, ANSWERED + [T(40029), T(40030)], cat, where + " stdout")
    expect_in_order(err, [T(40002), T(40009), CodeLine(0xFFFFFFFE, 0x0000048F)], cat, where + " stderr")
    check([p for p, _, _ in progress_lines(out, cat)] == [10], f"{where}: progress lines:\n{out}")
    written = len(block_write_times(text))
    check(written == 301, f"{where}: {written} block writes, expected 301")
    check_blocks_not_held_up(text, where)


@case("update.no-terminal", 30)
def no_terminal(ctx):
    cat = ctx.cat()
    log = os.path.join(ctx.workdir, "unit.log")
    code, out, err = ctx.run(["--log", log, "update"], "ready")
    check(code == 6, f"update without a terminal: exit {code}, expected 6")
    check(err == cat.text(41004) + "\n", f"stderr: {err!r}")
    check(out == "", f"stdout: {out!r}")
    check(not request_lines(read_log(log)), f"requests were sent:\n{read_log(log)}")


@case("log.failing-update", 60)
def log_case(ctx):
    cat = ctx.cat()
    log = os.path.join(ctx.workdir, "unit.log")
    code, out, err = ctx.run(["--log", log, "update", "--yes"], "lock-refused")
    check(code == 7, f"update --yes (lock-refused) with a log: exit {code}")
    expect_in_order(err, [T(40026)], cat, "stderr")
    text = read_log(log)
    lines = [line for line in text.split("\n") if line]
    check(lines and lines[0].startswith("#"), f"the log has no heading:\n{text}")
    times = []
    kinds = []
    for line in lines[1:]:
        match = re.fullmatch(r" *(\d+)\.(\d{6}) (.*)", line)
        check(match is not None, f"a log line without its time: {line!r}")
        times.append(int(match.group(1)) * 1_000_000 + int(match.group(2)))
        kinds.append(match.group(3))
    check(times == sorted(times), f"times go back:\n{text}")
    hex_report = r"(?:[0-9a-f]{2} ){59}[0-9a-f]{2}"
    requests = [k for k in kinds if k.startswith("> ")]
    replies = [k for k in kinds if k.startswith("< ")]
    check(requests and replies, f"no request or no reply lines:\n{text}")
    for k in requests + replies:
        check(re.fullmatch(r"[<>] " + hex_report, k), f"not a whole report in hex: {k!r}")
    # The refused system lock: its request, then the unit's reply, the last exchange.
    lock = [i for i, k in enumerate(kinds) if k.startswith("> 01 0b 01 01 ")]
    check(len(lock) == 1, f"system lock requests: {len(lock)}\n{text}")
    check(kinds[lock[0] + 1].startswith("< 02 "), f"no reply after the system lock:\n{text}")
    check(not [k for k in kinds[lock[0] + 2:] if k.startswith("> ")], f"requests after the refused lock:\n{text}")


# --- the outcome is always told, and nothing the sequence needs is set up after it began ---------

@case("update.terminal-stopped-over-whole-update", 90)
def terminal_stopped_over_whole_update(ctx):
    """Ctrl-S from the first progress line until the update has ended, and Ctrl-C while
    the terminal is still stopped: after Ctrl-Q the outcome and its code line are shown,
    and the program ends with the outcome's status, not the interrupt's."""
    cat = ctx.cat()
    log = os.path.join(ctx.workdir, "unit.log")

    def body(screen):
        screen.start(["--log", log, "update"])
        screen.wait_text(cat.text(41008), "confirmation prompt")
        answer("y")(screen, cat)
        screen.wait_for(lambda s: progress_lines(s, cat), "progress line")
        screen.key("C-s")
        wait_for_log(ctx, log, lambda t: t.rstrip().endswith(" close"), "end of the update")
        time.sleep(1.0)
        screen.key("C-c")
        time.sleep(0.5)
        screen.key("C-q")
        code, shown = screen.wait_exit()
        check(code == 7, f"update: exit {code}, expected 7 (the outcome's)\n{shown}")
        expect_in_order(shown, [T(40029), T(40002), T(40009), CodeLine(0x00000105, 0), T(40030)],
                        cat, "screen", screen=True)
    with_screen(ctx, "stopped-whole", ctx.env("block-fails"), body)


class HeldOutput:
    """The program started with its standard output a pipe that is read up to the
    transfer's caption and then left full: once the sequence is over, the program waits
    to write its outcome. release() reads the rest."""

    def __init__(self, ctx, args, scenario, where, extra_env=None):
        self.ctx = ctx
        self.where = where
        self.reading, writing = os.pipe()
        self.errors = open(os.path.join(ctx.workdir, "stderr"), "w+b")
        try:
            self.process = ctx.spawn(args, scenario, writing, self.errors, extra_env=extra_env)
        finally:
            os.close(writing)
        self.before = b""
        while ctx.cat().text(40029).encode() not in self.before:
            chunk = self.read_some()
            check(chunk, f"{where}: the output ended before the transfer's caption: {self.before!r}")
            self.before += chunk
        # Opened anew, the pipe's other end can be written without waiting.
        filler = os.open(f"/proc/self/fd/{self.reading}", os.O_WRONLY | os.O_NONBLOCK)
        self.filled = 0
        try:
            while True:
                self.filled += os.write(filler, b"\0" * 4096)
        except BlockingIOError:
            pass
        finally:
            os.close(filler)

    def read_some(self):
        ready, _, _ = select.select([self.reading], [], [], self.ctx.left(SCREEN_DEADLINE))
        check(ready, f"{self.where}: no output within {SCREEN_DEADLINE:.0f} s")
        return os.read(self.reading, 65536)

    def release(self):
        """(exit status, stdout after the filling, stderr)"""
        after = b""
        while True:
            chunk = self.read_some()
            if not chunk:
                break
            after += chunk
        code = self.process.wait(timeout=self.ctx.left())
        check(after[:self.filled] == b"\0" * self.filled, f"{self.where}: the pipe's filling came back changed")
        self.errors.seek(0)
        err = self.ctx.decoded(self.errors.read(), self.where + ": stderr", False)
        out = self.ctx.decoded(self.before + after[self.filled:], self.where + ": stdout", True)
        return code, out, err

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        os.close(self.reading)
        self.errors.close()


@case("update-yes.interrupted-after-sequence", 60)
def interrupted_after_sequence(ctx):
    """A kill once the sequence is over, while the outcome waits for a pipe nobody reads:
    the outcome is written in full once the pipe is read, and the status is the outcome's."""
    cat = ctx.cat()
    log = os.path.join(ctx.workdir, "unit.log")
    where = "update --yes (block-fails), killed after the sequence"
    held = HeldOutput(ctx, ["--log", log, "update", "--yes"], "block-fails", where)
    try:
        wait_for_log(ctx, log, lambda t: t.rstrip().endswith(" close"), "end of the update", held.process)
        time.sleep(0.5)
        check(held.process.poll() is None, f"{where}: ended (exit {held.process.returncode}) with its output unwritten")
        held.process.send_signal(signal.SIGTERM)
        time.sleep(0.5)
        code, out, err = held.release()
    finally:
        held.close()
    check(code == 7, f"{where}: exit {code}, expected 7\n{out}\n{err}")
    expect_in_order(out, [T(40029), T(40030)], cat, where + " stdout")
    expect_in_order(err, [T(40002), T(40009), CodeLine(0x00000105, 0)], cat, where + " stderr")


@case("update-yes.no-thread", 30)
def no_thread(ctx):
    """No thread can be created (the system's limits reached): the update is refused
    before any command of the sequence, with a word why and exit 7."""
    check(ctx.fail_threads, "no --fail-threads library given")
    cat = ctx.cat()
    log = os.path.join(ctx.workdir, "unit.log")
    code, out, err = ctx.run(["--log", log, "update", "--yes"], "ready", extra_env={"LD_PRELOAD": ctx.fail_threads})
    where = "update --yes without threads"
    check(code == 7, f"{where}: exit {code}, expected 7\n{out}\n{err}")
    expect_in_order(err, [T(40002), T(40044)], cat, where + " stderr")
    expect_in_order(out, ANSWERED + [T(40030)], cat, where + " stdout")
    text = read_log(log)
    check(request_lines(text), f"{where}: the log has no request of the check:\n{text}")
    sent = sequence_requests(text)
    check(not sent, f"{where}: requests of the command sequence were sent:\n" + "\n".join(sent))


@case("update-yes.esc-swapped", 30, wine=True)
def esc_swapped(ctx):
    """Another ESC behind the unit when the update begins (no USB event): nothing is asked
    or written, the change is said, and the ESC there now is shown (exit 5, incompatible)."""
    cat = ctx.cat()
    code, out, err = ctx.run(["update", "--yes"], "esc-swapped")
    where = "update --yes (esc-swapped)"
    check(code == 5, f"{where}: exit {code}, expected 5\n{out}\n{err}")
    expect_in_order(out, [T(40000), T(40043), T(40042), T(40033), T(40034, MODEL_NAME), T(40035), HINT],
                    cat, where + " stdout")
    check(cat.text(40038) not in out, f"{where}: a question was asked:\n{out}")
    check(cat.text(40029) not in out, f"{where}: the transfer began:\n{out}")


@case("update.esc-swapped-during-confirmation", 90)
def esc_swapped_during_confirmation(ctx):
    """The ESC swapped while the confirmation waits: the sequence's first step finds it,
    the lock step fails with the reason and without a code line, nothing is written."""
    cat = ctx.cat()
    log = os.path.join(ctx.workdir, "unit.log")

    def body(screen):
        screen.start(["--log", log, "update"])
        screen.wait_text(cat.text(41008), "confirmation prompt")
        answer("y")(screen, cat)
        code, shown = screen.wait_exit()
        check(code == 7, f"update: exit {code}, expected 7\n{shown}")
        expect_in_order(shown, [T(40002), T(40026), T(40042), T(40030)], cat, "screen", screen=True)
        check(squeeze(cat.text(40036).split("0x")[0]) not in squeeze(shown), f"a code line was shown:\n{shown}")
    with_screen(ctx, "swap-asking", ctx.env("esc-swapped-in-sequence"), body)
    sent = [line for line in sequence_requests(read_log(log))]
    check(not sent, "requests of the command sequence were sent:\n" + "\n".join(sent))


@case("watch.unit-in-use", 60)
def watch_unit_in_use(ctx):
    """A unit another program holds is in use: said once; when it is let go, which makes no
    event, watching finds it."""
    cat = ctx.cat()
    control = os.path.join(ctx.workdir, "control")
    os.mkfifo(control)

    def body(screen):
        screen.start(["watch"])
        screen.wait_text(cat.text(41015), "the word that the unit is in use")
        fd = os.open(control, os.O_WRONLY | os.O_NONBLOCK)
        try:
            os.write(fd, b"free-unit\n")
        finally:
            os.close(fd)
        shown = screen.wait_text(cat.text(40000), "ready status once the unit was let go")
        check(squeeze(shown).count(squeeze(cat.text(41015))) == 1, f"in use said more than once:\n{shown}")
        screen.key("C-c")
        code, shown = screen.wait_exit()
        check(code == 0, f"watch: exit {code} on Ctrl-C, expected 0\n{shown}")
    with_screen(ctx, "in-use", ctx.env("in-use", extra={"ORVANTA_SIM_CONTROL": control}), body)


# --- sleep held off during the sequence, against a logind of the test's own --------------------

class PrivateLogind:
    """A bus of its own with dbusmock's logind on it, given to the program as its system bus."""

    def __init__(self, ctx):
        self.ctx = ctx
        self.daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=ctx.workdir)
        self.address = self.daemon.stdout.readline().decode().strip()
        check(self.address, "the private bus did not start")
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address, DBUS_SYSTEM_BUS_ADDRESS=self.address)
        # Debian's Python: dbusmock and its D-Bus bindings come from Debian's packages.
        self.mock = subprocess.Popen(["/usr/bin/python3", "-m", "dbusmock", "--template", "logind"], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=ctx.workdir)
        end = time.monotonic() + ctx.left(20)
        while self.inhibitors() is None:
            check(self.mock.poll() is None, f"the mocked logind ended with {self.mock.returncode}")
            check(time.monotonic() < end, "the mocked logind did not answer")
            time.sleep(0.1)

    def inhibitors(self):
        """(what, who, why, mode) of each inhibitor held; None when logind does not answer."""
        result = subprocess.run(["dbus-send", f"--bus={self.address}", "--print-reply", "--type=method_call",
                                 "--dest=org.freedesktop.login1", "/org/freedesktop/login1",
                                 "org.freedesktop.login1.Manager.ListInhibitors"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=10)
        if result.returncode != 0:
            return None
        strings = re.findall(r'string "((?:[^"\\]|\\.)*)"', result.stdout.decode("utf-8"))
        return [tuple(strings[i:i + 4]) for i in range(0, len(strings) - len(strings) % 4, 4)]

    def close(self):
        for process in (self.mock, self.daemon):
            process.terminate()
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


@case("update-yes.sleep-held-off", 60)
def sleep_held_off(ctx):
    """logind's inhibitor is held during the sequence and given back at its end, while
    the program is still there (waiting for its outcome to be read)."""
    cat = ctx.cat()
    where = "update --yes (block-fails) with logind"
    logind = PrivateLogind(ctx)
    try:
        check(logind.inhibitors() == [], f"inhibitors before the update: {logind.inhibitors()}")
        log = os.path.join(ctx.workdir, "unit.log")
        held_output = HeldOutput(ctx, ["--log", log, "update", "--yes"], "block-fails", where,
                                 extra_env={"DBUS_SYSTEM_BUS_ADDRESS": logind.address})
        try:
            wait_for_log(ctx, log, lambda t: len(block_write_times(t)) >= 20, "20 blocks written",
                         held_output.process)
            during = logind.inhibitors()
            wait_for_log(ctx, log, lambda t: t.rstrip().endswith(" close"), "end of the update", held_output.process)
            time.sleep(0.5)
            check(held_output.process.poll() is None, f"{where}: ended with its output unwritten")
            after = logind.inhibitors()
            code, _, err = held_output.release()
        finally:
            held_output.close()
    finally:
        logind.close()
    check(during == [("sleep:shutdown:handle-lid-switch", "QUORVEX ORVANTA 90 FW Updater", cat.text(40029), "block")],
          f"{where}: inhibitors during the sequence: {during}")
    check(after == [], f"{where}: inhibitors after the sequence, the program still running: {after}")
    check(cat.text(41014) not in err, f"{where}: said that sleep is not held off:\n{err}")
    check(code == 7, f"{where}: exit {code}, expected 7")


@case("update-yes.system-bus-silent", 60)
def system_bus_silent(ctx):
    """A system bus that takes the connection and never answers: within a few seconds the
    update is refused, as one whose sleep inhibitor cannot be had, with nothing written."""
    import socket
    cat = ctx.cat()
    path = os.path.join(ctx.workdir, "silent-bus")
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        listener.bind(path)
        listener.listen(4)
        log = os.path.join(ctx.workdir, "unit.log")
        started = time.monotonic()
        code, out, err = ctx.run(["--log", log, "update", "--yes"], "ready",
                                 extra_env={"DBUS_SYSTEM_BUS_ADDRESS": "unix:path=" + path})
        took = time.monotonic() - started
    finally:
        listener.close()
    where = "update --yes with a silent system bus"
    check(code == 7, f"{where}: exit {code}, expected 7\n{out}\n{err}")
    expect_in_order(err, [T(40002), T(40044)], cat, where + " stderr")
    check(took < 20, f"{where}: took {took:.1f} s")
    sent = sequence_requests(read_log(log))
    check(not sent, f"{where}: requests of the command sequence were sent:\n" + "\n".join(sent))


# --- standard descriptors closed --------------------------------------------------------------

# Closed by the shell that starts the program: scenario, arguments, the redirections,
# with a log, exit status. No file the program opens may take the number of a closed one
# and get its text: the lock file stays empty, the log holds log lines only.
CLOSED_TABLE = {
    "status-stdout": ("ready", ["status"], ">&-", False, 0),
    "update-output-log": ("lock-refused", ["update", "--yes"], ">&- 2>&-", True, 7),
    "update-all-log": ("lock-refused", ["update", "--yes"], "<&- >&- 2>&-", True, 7),
}


def closed_case(name, row):
    scenario, args, redirections, logged, want_exit = row

    def run(ctx):
        log = os.path.join(ctx.workdir, "unit.log")
        args_run = (["--log", log] if logged else []) + args
        where = f"orvanta-cli-sim {' '.join(args_run)} {redirections}"
        result = subprocess.run(["sh", "-c", f'exec "$@" {redirections}', "sh"] + ctx.command(args_run),
                                env=ctx.env(scenario), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=ctx.left(), cwd=ctx.workdir)
        check(result.returncode == want_exit, f"{where}: exit {result.returncode}, expected {want_exit}")
        # The streams the shell left open get nothing either.
        check(result.stdout == b"" and result.stderr == b"",
              f"{where}: stdout {result.stdout!r}, stderr {result.stderr!r}")
        runtime = os.path.join(ctx.workdir, "runtime")
        locks = [n for n in os.listdir(runtime) if n.endswith(".lock")]
        check(locks, f"{where}: no lock file in {os.listdir(runtime)}")
        for entry in os.listdir(runtime):
            with open(os.path.join(runtime, entry), "rb") as f:
                content = f.read()
            check(content == b"", f"{where}: {entry} is not empty: {content!r}")
        if logged:
            text = read_log(log)
            lines = [line for line in text.split("\n") if line]
            check(lines and lines[0].startswith("#") and request_lines(text), f"{where}: no log:\n{text}")
            stray = [line for line in lines[1:] if not re.fullmatch(r" *\d+\.\d{6} .*", line)]
            check(not stray, f"{where}: lines in the log that are no log lines:\n" + "\n".join(stray))
    return run


for _name, _row in CLOSED_TABLE.items():
    case(f"closed.{_name}", 30)(closed_case(_name, _row))


# --- one instance, watching ------------------------------------------------------------------

@case("one-instance", 60)
def one_instance(ctx):
    cat = ctx.cat()
    env = ctx.env("none")
    watcher = subprocess.Popen(ctx.command(["watch"]), env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, cwd=ctx.workdir)
    try:
        # The first line comes once the lock is held.
        first = watcher.stdout.readline().decode("utf-8")
        check(first == cat.text(41010) + "\n", f"watch began with {first!r}")
        code, out, err = ctx.run(["status"], "ready")
        check(code == 6, f"a second copy's status: exit {code}, expected 6\n{out}")
        check(err == cat.text(41007) + "\n", f"a second copy's stderr: {err!r}")
        check(out == "", f"a second copy's stdout: {out!r}")
        code, out, err = ctx.run(["update", "--yes"], "ready")
        check(code == 6 and err == cat.text(41007) + "\n", f"a second copy's update: exit {code}, {err!r}")
        watcher.send_signal(signal.SIGINT)
        check(watcher.wait(timeout=30) == 0, f"watch ended with {watcher.returncode} on SIGINT")
    finally:
        if watcher.poll() is None:
            watcher.kill()
            watcher.wait()
    # The lock went with the program.
    code, _, err = ctx.run(["status"], "ready")
    check(code == 0, f"status after watch ended: exit {code}, {err!r}")


@case("watch", 60)
def watch_case(ctx):
    cat = ctx.cat()
    control = os.path.join(ctx.workdir, "control")
    os.mkfifo(control)

    def send(line):
        fd = os.open(control, os.O_WRONLY | os.O_NONBLOCK)
        try:
            os.write(fd, (line + "\n").encode())
        finally:
            os.close(fd)

    def after(first_id, then_id):
        first, then = squeeze(cat.text(first_id)), squeeze(cat.text(then_id))

        def seen(screen):
            s = squeeze(screen)
            at = s.find(first)
            return at >= 0 and s.find(then, at + len(first)) >= 0
        return seen

    def body(screen):
        screen.start(["watch"])
        screen.wait_for(after(41010, 40017), "watching and the no-unit status")
        send("plug ready")
        screen.wait_for(after(40017, 40000), "ready status after the unit arrived")
        screen.wait_for(lambda s: Row("TUNE-BOX", "2.3").resolve(cat).search(s), "the unit's version")
        send("unplug")
        screen.wait_for(after(40000, 40020), "lost connection after the unit left")
        screen.key("C-c")
        code, shown = screen.wait_exit()
        check(code == 0, f"watch: exit {code} on Ctrl-C, expected 0\n{shown}")
    with_screen(ctx, "watch", ctx.env("none", extra={"ORVANTA_SIM_CONTROL": control}), body)


@case("watch.cannot-follow", 30)
def watch_cannot_follow(ctx):
    """Changes that cannot be followed (here the control pipe is missing): watching says
    so and ends with 1, instead of showing a status that will never change."""
    cat = ctx.cat()
    missing = os.path.join(ctx.workdir, "no-control")
    code, out, err = ctx.run(["watch"], "none", extra_env={"ORVANTA_SIM_CONTROL": missing})
    check(code == 1, f"watch without its changes: exit {code}, expected 1\n{out}\n{err}")
    check(err == cat.text(41013) + "\n", f"watch without its changes: stderr {err!r}")
    check(out == "", f"watch without its changes: stdout {out!r}")


# --- the driver ------------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--program")
    parser.add_argument("--catalogue")
    parser.add_argument("--tmux", default="tmux")
    parser.add_argument("--wine", help="runs the Windows build through this (scripts/wine-run)")
    parser.add_argument("--fail-threads", help="a library that, preloaded, lets no thread be created")
    parser.add_argument("case", nargs="?")
    options = parser.parse_args()

    if options.list:
        for name, (_, timeout, native, wine) in CASES.items():
            if (wine if options.wine else native):
                print(f"{name} {timeout}")
        return 0

    if options.case not in CASES:
        print(f"no case {options.case!r}", file=sys.stderr)
        return 2
    function, timeout, native, wine = CASES[options.case]
    if not (wine if options.wine else native):
        print(f"case {options.case} is not for this build", file=sys.stderr)
        return 2
    if not options.wine and shutil.which(options.tmux) is None:
        print(f"tmux not found ({options.tmux})", file=sys.stderr)
        return 2
    # Ended from outside: the terminals and the folder go too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(f"FAILED {options.case}: ended from outside"))
    with tempfile.TemporaryDirectory(prefix="orv-cli-") as workdir:
        try:
            function(Context(options, workdir, timeout))
        except CaseFailed as failure:
            print(f"FAILED {options.case}: {failure}", file=sys.stderr)
            return 1
        except subprocess.TimeoutExpired as timeout:
            print(f"FAILED {options.case}: {timeout}", file=sys.stderr)
            return 1
    print(f"passed {options.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
