#!/usr/bin/env python3
"""Soak run of merkat32 against controller-sim under Xvfb.

Starts a private X server (Xvfb) with openbox, controller-sim on a
pseudo-terminal reached as COM1, and the tool in a scratch folder, then drives
the tool for a bounded time with random actions: output clicks and keys, menus,
the port dialog, the communication and lighting tests, and line faults through
the simulator's control FIFO (input changes, A/D values, garbage, split frames,
bad checksums, silences, hang-ups followed by a reopen through the port dialog).
It ends with SIGTERM to the tool.

What it checks (any failure: a message and exit status 1):
  * the tool stays alive and the frames keep coming: at least one LinkFrame
    every 100 ms while the line is healthy, also while the UI thread is held
    (the link's steps run on their own thread); the longest UI-thread hold is
    measured beside it and reported on its own line;
  * a hang-up comes back by itself once the simulator has made its new pty:
    frames again within a bounded time, all-off until the script switches
    one on;
  * no frame ever carries an output that the script has not switched on since
    the last all-off event (Esc, a menu opened, a test window, a restart);
    after such an event the frames are all-off until the next switch-on;
  * every switch the script makes reaches the line within a bounded time;
  * after SIGTERM the last LinkFrames are all-off and the tool exits 0;
  * the settings file stays 100 bytes with every field in range;
  * memory and CPU stay flat (RSS growth, CPU per minute).

Only the Python standard library is used; Xvfb, openbox and xdotool must be
installed. Usage:  tools/soak/soak.py --build build/soak --minutes 10
"""

import argparse
import collections
import os
import random
import re
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]

# Main-window geometry of the I/O panel, in pixels from the top-left corner of
# the window's client area (menu bar included). Output n (0-31) is the box in
# row n of the left column, input n (32-63) the box in row n-32 of the right one.
# The boxes are 14 pixels apart and 17 high; clicking 7 pixels below a box's
# top edge hits that box and not its overlapping neighbour.
PANEL_X_OUT = 44
PANEL_X_IN = 244
PANEL_Y0 = 47
PANEL_PITCH = 14

MAIN_TITLE = r"^ M e r k a t - 3 2"
PORT_DIALOG_TITLE = r"^Konfigurace"
COMM_TEST_TITLE = r"^Test komunikace"
LIGHTING_TITLE = r"^Test osv"

FRAME_GAP_LIMIT = 0.100      # s between LinkFrames on a healthy line
EVENT_SETTLE = 0.5           # s after an unhealthy period before frames are due again
ALL_OFF_SETTLE = 0.200       # s after an all-off event before the frames must be all-off
SWITCH_DEADLINE = 1.5        # s from a switch to a frame that shows it
STALL_LIMIT = 2.0            # s without any frame on a healthy line (checked against the clock)
RSS_GROWTH_LIMIT_KB = 20 * 1024
CPU_PER_MINUTE_LIMIT = 25.0  # % of one core
SETTINGS_CHECK_EVERY = 3.0   # s
SAMPLE_EVERY = 2.0           # s
UI_SAMPLE_EVERY = 0.010     # s between looks at the UI thread's wait
# Where the UI thread waits for events (its event loop's poll): anywhere else
# it is held (working, or blocked on something other than its events).
UI_IDLE_WAITS = ("poll_schedule_timeout", "do_sys_poll", "do_select", "ep_poll")
RETURN_DEADLINE = 3.0        # s from the simulator's new pty to the tool's frames on it
# The simulator answers a frame about 10 ms after it; when its answer to the
# frame before a gap is not in its log within this time, the simulator itself
# was not running (a loaded machine) and the gap says nothing about the tool.
SIM_LATE = 0.050             # s

ALL_OFF = 0


class SoakFailure(Exception):
    """A check failed; the message says which, when and what came before."""


class Interrupted(Exception):
    """SIGINT, SIGTERM or SIGHUP reached the script."""


class StopActions(Exception):
    """A line check failed: no more random actions, go on to the close."""


def now():
    # time.monotonic() is CLOCK_MONOTONIC on Linux, the clock of the simulator's log.
    return time.monotonic()


# --------------------------------------------------------------------------
# Settings file


def make_settings(ad_mode):
    rec = bytearray(100)
    struct.pack_into("<I", rec, 0, 12)  # 115200 / 12 = 9600 Bd
    struct.pack_into("<h", rec, 4 + 2 * 3, ad_mode)
    rec[84] = 0  # COM1
    rec[85] = 8
    rec[86] = ord("E")
    rec[87] = 1
    rec[88] = 0  # language 0
    for i in range(8):
        rec[89 + i] = (i * 37) & 0xFF
    return bytes(rec)


def settings_problems(data):
    """Returns a list of what is wrong with a settings record (empty when valid)."""
    if len(data) != 100:
        return [f"length {len(data)}, not 100"]
    problems = []
    divisor = struct.unpack_from("<I", data, 0)[0]
    if not 1 <= divisor <= 115200:
        problems.append(f"BaudDivisor {divisor}")
    if not data[84] <= 63:
        problems.append(f"PortIndex {data[84]}")
    if not 5 <= data[85] <= 8:
        problems.append(f"DataBits {data[85]}")
    if chr(data[86]) not in "NOEM":
        problems.append(f"Parity 0x{data[86]:02X}")
    if not 1 <= data[87] <= 2:
        problems.append(f"StopBits {data[87]}")
    if not data[88] <= 9:
        problems.append(f"Language {data[88]}")
    return problems


# --------------------------------------------------------------------------
# Processes


class Processes:
    """Everything this script starts, ended in reverse order on any exit."""

    def __init__(self):
        self.started = []  # (name, Popen)

    def start(self, name, args, **kw):
        kw.setdefault("stdin", subprocess.DEVNULL)
        # A session of its own: a Ctrl+C at the terminal reaches only this script,
        # which then ends the children in order.
        p = subprocess.Popen(args, start_new_session=True, **kw)
        self.started.append((name, p))
        return p

    def stop(self, p, sig=signal.SIGTERM, wait=5.0):
        if p.poll() is not None:
            return p.returncode
        try:
            p.send_signal(sig)
        except ProcessLookupError:
            pass
        try:
            return p.wait(timeout=wait)
        except subprocess.TimeoutExpired:
            p.kill()
            return p.wait(timeout=5)

    def stop_all(self):
        for _, p in reversed(self.started):
            try:
                self.stop(p)
            except Exception:  # noqa: BLE001 - cleanup must go on
                pass


# --------------------------------------------------------------------------
# The simulator's log


class LogReader:
    """Reads the simulator's log as it grows: `<us> TAG hex...` or `<us> EVENT text`."""

    def __init__(self, path):
        self.path = path
        self.f = None
        self.rest = ""

    def read(self):
        if self.f is None:
            try:
                self.f = open(self.path, "r", encoding="latin-1")
            except FileNotFoundError:
                return []
        chunk = self.f.read()
        if not chunk:
            return []
        text = self.rest + chunk
        lines = text.split("\n")
        self.rest = lines.pop()
        out = []
        for line in lines:
            parts = line.split(" ", 2)
            if len(parts) < 2 or not parts[0].isdigit():
                continue
            out.append((int(parts[0]) / 1e6, parts[1], parts[2] if len(parts) > 2 else "", line))
        return out


def link_frame(tag, rest):
    """The four output bytes as one 32-bit value if this is a LinkFrame from the tool."""
    if tag != "IN":
        return None
    b = rest.split()
    if len(b) != 8 or b[0] != "A2" or b[1] != "6B" or b[7] != "FE":
        return None
    v = [int(x, 16) for x in b]
    return v[2] | v[3] << 8 | v[4] << 16 | v[5] << 24


def outputs_text(mask):
    on = [f"out{i + 1}" for i in range(32) if mask >> i & 1]
    return ",".join(on) if on else "none"


# --------------------------------------------------------------------------
# The checks on the line


class LineChecker:
    """Follows the frames on the line against what the script has done.

    All times are CLOCK_MONOTONIC seconds, the clock of the simulator's log.
    The script records every event before it acts, so when a frame is read all
    events that could explain it are known.
    """

    def __init__(self, history):
        self.history = history
        self.unhealthy = []          # [start, end or None, why]
        self.all_off = []            # (issued, effective, why)
        self.switches = []           # (time, channel, wanted state)
        self.expect = []             # pending: [time, channel, wanted]
        self.last_on = [-1.0] * 32   # latest switch-on time per output seen so far
        self.sw_idx = 0
        self.off_idx = -1
        self.frames = 0
        self.last_frame = None       # (time, mask)
        self.failures = []
        self.latencies = []
        self.max_gap_healthy = 0.0
        self.max_gap_any = 0.0
        self.brightness_frames = 0
        self.tags = collections.Counter()
        self.log_tail = collections.deque(maxlen=40)
        self.sim_reopens = 0
        self.first_answer = None     # first answer the simulator logged after the last frame
        self.sim_stalls = []         # (time, gap) of gaps while the simulator was not running
        self.close_t = None          # SIGTERM to the tool
        self.close_frames = []       # (time, mask, text) of the LinkFrames after it

    # --- events from the script

    def begin_unhealthy(self, t, why):
        self.unhealthy.append([t, None, why])
        return self.unhealthy[-1]

    @staticmethod
    def end_unhealthy(entry, t):
        entry[1] = t

    def unhealthy_for(self, t, seconds, why):
        self.unhealthy.append([t, t + seconds, why])

    def all_off_event(self, issued, done, why, settle=ALL_OFF_SETTLE):
        self.all_off.append((issued, done + settle, why))
        self.expect.clear()

    def switch(self, t, channel, wanted):
        self.switches.append((t, channel, wanted))
        self.expect = [e for e in self.expect if e[1] != channel]
        self.expect.append([t, channel, wanted])

    def prune(self, t):
        # Frames come in time order: periods that ended well before this one
        # can no longer matter.
        self.unhealthy = [u for u in self.unhealthy
                          if u[1] is None or u[1] + EVENT_SETTLE > t - 10.0]

    # --- questions

    def healthy_over(self, a, b):
        for s, e, _ in self.unhealthy:
            end = float("inf") if e is None else e + EVENT_SETTLE
            if s <= b and a <= end:
                return False
        return True

    def unhealthy_reasons(self, a, b):
        out = []
        for s, e, why in self.unhealthy:
            end = float("inf") if e is None else e + EVENT_SETTLE
            if s <= b and a <= end:
                out.append(why)
        return out

    def fail(self, t, text):
        before = self.history.before(t)
        msg = f"{self.history.rel(t):9.3f} s: {text}"
        if before:
            msg += "\n      actions before: " + "; ".join(before)
        msg += "\n      log before:\n        " + "\n        ".join(self.log_excerpt(t))
        self.failures.append(msg)

    def log_excerpt(self, t):
        lines = [ln for (lt, ln) in self.log_tail if lt <= t + 0.05]
        return lines[-12:] if lines else ["(none)"]

    # --- frames

    def allowed_at(self, t):
        while self.sw_idx < len(self.switches) and self.switches[self.sw_idx][0] <= t:
            st, ch, wanted = self.switches[self.sw_idx]
            if wanted:
                self.last_on[ch] = st
            self.sw_idx += 1
        while self.off_idx + 1 < len(self.all_off) and self.all_off[self.off_idx + 1][1] <= t:
            self.off_idx += 1
        since = self.all_off[self.off_idx][0] if self.off_idx >= 0 else -1.0
        mask = 0
        for ch in range(32):
            if self.last_on[ch] >= since and self.last_on[ch] >= 0:
                mask |= 1 << ch
        return mask, (self.all_off[self.off_idx][2] if self.off_idx >= 0 else "start")

    def on_log_line(self, t, tag, rest, line):
        self.tags[tag] += 1
        self.log_tail.append((t, line))
        if tag == "IN" and rest.startswith("A2 68"):
            self.brightness_frames += 1
        if tag == "EVENT" and rest.startswith("reopen"):
            self.sim_reopens += 1
        if (tag in ("OUT", "CORRUPT", "ECHO") and self.first_answer is None
                and self.last_frame is not None and t > self.last_frame[0]):
            self.first_answer = t
        mask = link_frame(tag, rest)
        if mask is None:
            return
        self.frames += 1
        if self.close_t is not None and t >= self.close_t:
            self.close_frames.append((t, mask, rest))
        if self.frames % 500 == 0:
            self.prune(t)
        if self.last_frame is not None:
            p = self.last_frame[0]
            gap = t - p
            self.max_gap_any = max(self.max_gap_any, gap)
            sim_late = self.first_answer is None or self.first_answer - p > SIM_LATE
            if self.healthy_over(p, t):
                if gap > FRAME_GAP_LIMIT and sim_late:
                    self.sim_stalls.append((t, gap))
                else:
                    self.max_gap_healthy = max(self.max_gap_healthy, gap)
                if gap > FRAME_GAP_LIMIT and not sim_late:
                    self.fail(t, f"no LinkFrame for {gap * 1000:.0f} ms on a healthy line "
                                 f"(previous at {self.history.rel(p):.3f} s)")
        self.last_frame = (t, mask)
        self.first_answer = None
        allowed, since = self.allowed_at(t)
        extra = mask & ~allowed
        if extra:
            self.fail(t, f"frame {rest} carries {outputs_text(extra)}, not switched on since "
                         f"the last all-off event ({since}); allowed: {outputs_text(allowed)}")
        keep = []
        for e in self.expect:
            et, ch, wanted = e
            if t < et:
                keep.append(e)
                continue
            if (mask >> ch & 1) == wanted:
                self.latencies.append(t - et)
                continue
            if t > et + SWITCH_DEADLINE:
                if self.healthy_over(et, t):
                    self.fail(t, f"out{ch + 1} switched {'on' if wanted else 'off'} at "
                                 f"{self.history.rel(et):.3f} s is not on the line after "
                                 f"{(t - et) * 1000:.0f} ms (frame {rest})")
                continue
            keep.append(e)
        self.expect = keep

    def check_clock(self, t_now):
        """A stall that brings no frame at all shows only against the clock."""
        if self.last_frame is None:
            return
        p = self.last_frame[0]
        if t_now - p > STALL_LIMIT and self.healthy_over(p, t_now):
            self.fail(t_now, f"no LinkFrame since {self.history.rel(p):.3f} s "
                             f"({t_now - p:.1f} s) on a healthy line")
            # Report a stall once: the line counts as healthy again from here.
            self.last_frame = (t_now, self.last_frame[1])


class UiHoldMeter(threading.Thread):
    """The longest time the tool's UI thread spends outside its event loop's wait.

    Looks at the thread's kernel wait channel every UI_SAMPLE_EVERY; a run of
    looks that find it elsewhere is a hold (to within one look)."""

    def __init__(self, pid):
        super().__init__(daemon=True)
        self.path = f"/proc/{pid}/task/{pid}/wchan"
        self.longest = 0.0
        self.longest_at = None
        self.stopping = threading.Event()

    def run(self):
        held_since = None
        while not self.stopping.wait(UI_SAMPLE_EVERY):
            try:
                wait = Path(self.path).read_text()
            except OSError:
                return
            t = now()
            if wait.startswith(UI_IDLE_WAITS):
                held_since = None
            elif held_since is None:
                held_since = t
            elif t - held_since > self.longest:
                self.longest, self.longest_at = t - held_since, held_since


class History:
    """What the script did and when, for the report and for failure messages."""

    def __init__(self, t0):
        self.t0 = t0
        self.entries = []  # (time, text)
        self.counts = collections.Counter()

    def rel(self, t):
        return t - self.t0

    def add(self, t, kind, detail=""):
        self.counts[kind] += 1
        self.entries.append((t, f"{kind}{' ' + detail if detail else ''}"))

    def before(self, t, n=4):
        out = [f"{self.rel(et):.3f} s {text}" for et, text in self.entries if et <= t]
        return out[-n:]


# --------------------------------------------------------------------------
# X11 driving


class X:
    def __init__(self, display, tool_pid):
        self.env = dict(os.environ, DISPLAY=display)
        self.tool_pid = tool_pid
        self.main = None

    def run(self, *args, timeout=10, check=False):
        try:
            r = subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True,
                               text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        if check and r.returncode != 0:
            raise SoakFailure(f"xdotool {' '.join(map(str, args))}: {r.stderr.strip()}")
        return r.stdout

    def visible(self):
        """The tool's visible top-level windows: {id: name}."""
        out = self.run("search", "--onlyvisible", "--pid", self.tool_pid) or ""
        wins = {}
        for w in out.split():
            wins[w] = (self.run("getwindowname", w) or "").rstrip("\n")
        return wins

    def find(self, title_re, timeout=3.0):
        end = now() + timeout
        while True:
            for w, name in self.visible().items():
                if re.search(title_re, name):
                    return w
            if now() >= end:
                return None
            time.sleep(0.1)

    def gone(self, title_re, timeout=3.0):
        end = now() + timeout
        while True:
            if not any(re.search(title_re, n) for n in self.visible().values()):
                return True
            if now() >= end:
                return False
            time.sleep(0.1)

    def popup_open(self, timeout=1.5):
        """A menu popup shows as an extra visible window without a title of its own."""
        end = now() + timeout
        while True:
            names = self.visible().values()
            if any(not re.search(MAIN_TITLE, n) and not n.startswith(("Konfigurace", "Test "))
                   for n in names):
                return True
            if now() >= end:
                return False
            time.sleep(0.05)

    def activate_main(self):
        self.run("windowactivate", "--sync", self.main, timeout=5)

    def click(self, x, y):
        self.run("windowactivate", "--sync", self.main, "mousemove", "--window", self.main, x, y,
                 "click", "1", timeout=5)

    def key(self, *keys):
        self.run("key", "--delay", "40", *keys, timeout=5)

    def main_key(self, *keys):
        self.run("windowactivate", "--sync", self.main, "key", "--delay", "40", *keys, timeout=5)

    def active(self):
        return (self.run("getactivewindow") or "").strip()


# --------------------------------------------------------------------------
# The soak run


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.procs = Processes()
        self.t0 = now()
        self.history = History(self.t0)
        self.line = LineChecker(self.history)
        self.log = None
        self.x = None
        self.fifo_fd = None
        self.tool = None
        self.ui_hold = None
        self.sim = None
        self.work = None
        self.display = None
        # Model of the panel: what the script believes the outputs are.
        self.state = [0] * 32
        self.focus = None        # output with the keyboard focus, None when unknown
        self.display_live = False
        self.link_dead = False   # after a hang-up until the port dialog reopens the port
        self.faults_until = {}   # fault name -> time to switch it off again
        self.samples = []        # (time, rss_kb, cpu_ticks)
        self.settings_checks = 0
        self.settings_written = None
        self.settings_changed = set()
        self.hangups = 0
        self.returns = []  # s from the simulator's new pty to the tool's first frame on it
        self.reopens = 0
        self.sim_summary = ""
        self.tool_rc = None
        self.close_frames = ""
        self.warnings = []
        self.finishing = False
        self.scenarios = collections.Counter()  # the random actions chosen, by name

    # --- set-up

    def resolve_build(self):
        b = Path(self.args.build)
        for cand in (b, Path.cwd() / b, REPO / b):
            if (cand / "src/app/exe/merkat32").exists():
                return cand.resolve()
        raise SoakFailure(f"no merkat32 under {b}/src/app/exe (build the targets merkat32 and "
                          "controller-sim first)")

    def start_x(self):
        r, w = os.pipe()
        xvfb = self.procs.start("Xvfb", ["Xvfb", "-displayfd", str(w), "-screen", "0",
                                         "1280x1024x24", "-nolisten", "tcp"],
                                pass_fds=(w,), stdout=subprocess.DEVNULL,
                                stderr=open(self.work / "xvfb.log", "w"))
        os.close(w)
        number = b""
        end = now() + 15
        while now() < end and not number.endswith(b"\n"):
            part = os.read(r, 16)
            if not part:
                break
            number += part
        os.close(r)
        if not number.strip().isdigit():
            raise SoakFailure(f"Xvfb did not start (exit {xvfb.poll()}); see xvfb.log")
        self.display = ":" + number.strip().decode()
        env = dict(os.environ, DISPLAY=self.display)
        self.procs.start("openbox", ["openbox"], env=env, stdout=subprocess.DEVNULL,
                         stderr=open(self.work / "openbox.log", "w"))
        # openbox is up once it announces its desktops on the root window.
        end = now() + 10
        while now() < end:
            r = subprocess.run(["xdotool", "get_num_desktops"], env=env, capture_output=True,
                               text=True)
            if r.returncode == 0 and r.stdout.strip() not in ("", "0"):
                return
            time.sleep(0.1)
        raise SoakFailure("openbox did not start; see openbox.log")

    def start_sim(self, build):
        sim_bin = build / "tools/controller-sim/controller-sim"
        self.fifo = self.work / "sim.fifo"
        self.log_path = self.work / "sim.log"
        self.sim = self.procs.start(
            "controller-sim",
            [str(sim_bin), "--dir", str(self.tooldir), "--port", "1", "--format", "8E1",
             "--baud", "9600", "--mode", "mirror", "--log", str(self.log_path), "--control",
             str(self.fifo), "--no-stdin", "--reopen", "--seed", str(self.args.seed)],
            stdout=open(self.work / "sim.out", "w"), stderr=subprocess.STDOUT)
        end = now() + 10
        while now() < end:
            if (self.tooldir / "COM1").is_symlink() and self.fifo.exists():
                break
            if self.sim.poll() is not None:
                raise SoakFailure("controller-sim ended at start; see sim.out")
            time.sleep(0.05)
        else:
            raise SoakFailure("controller-sim made no COM1 within 10 s")
        self.fifo_fd = os.open(self.fifo, os.O_WRONLY | os.O_NONBLOCK)
        self.log = LogReader(self.log_path)

    def start_tool(self, build):
        shutil.copy2(build / "src/app/exe/merkat32", self.tooldir / "merkat32")
        for f in (REPO / "data").glob("merkat32.*"):
            shutil.copy2(f, self.tooldir / f.name)
        self.ad_mode = self.rng.choice([0, 0, 1, 2])
        self.settings_written = make_settings(self.ad_mode)
        (self.tooldir / "merkat32.CFG").write_bytes(self.settings_written)
        env = dict(os.environ, DISPLAY=self.display, QT_QPA_PLATFORM="xcb")
        env.pop("WAYLAND_DISPLAY", None)
        self.tool = self.procs.start("merkat32", ["./merkat32"], cwd=self.tooldir, env=env,
                                     stdout=open(self.work / "tool.out", "w"),
                                     stderr=subprocess.STDOUT)
        self.x = X(self.display, self.tool.pid)
        self.ui_hold = UiHoldMeter(self.tool.pid)
        self.ui_hold.start()
        end = now() + 20
        while now() < end:
            self.check_alive()
            w = self.x.find(MAIN_TITLE, timeout=0.5)
            if w:
                self.x.main = w
                break
        else:
            raise SoakFailure("the main window did not show within 20 s")
        self.x.activate_main()
        t = now()
        # Start-up: the display runs with all outputs off; give the link a moment.
        self.line.begin_unhealthy(self.t0, "start-up")[1] = t + 0.5
        self.line.all_off_event(self.t0, t, "start-up")
        self.display_live = True
        self.focus = None

    # --- helpers

    def send_sim(self, command):
        try:
            os.write(self.fifo_fd, (command + "\n").encode())
        except OSError as e:
            self.check_alive()
            raise SoakFailure(f"cannot write to the simulator's control FIFO: {e}") from e

    def check_alive(self):
        if self.tool is not None and self.tool.poll() is not None:
            raise SoakFailure(f"merkat32 ended by itself (exit status {self.tool.returncode}) at "
                              f"{self.history.rel(now()):.3f} s; actions before: "
                              + "; ".join(self.history.before(now())))
        if self.sim is not None and self.sim.poll() is not None:
            raise SoakFailure(f"controller-sim ended (exit status {self.sim.returncode})")

    def pump(self, seconds=0.0):
        """Reads the log and samples the process for `seconds`."""
        end = now() + seconds
        while True:
            for t, tag, rest, line in self.log.read():
                self.line.on_log_line(t, tag, rest, line)
            self.check_alive()
            tn = now()
            self.line.check_clock(tn - 0.3)
            if not self.samples or tn - self.samples[-1][0] >= SAMPLE_EVERY:
                self.sample()
            if tn - self.last_settings_check >= SETTINGS_CHECK_EVERY:
                self.check_settings()
            for name, until in list(self.faults_until.items()):
                if tn >= until:
                    self.send_sim(f"{name} 0")
                    del self.faults_until[name]
            if self.line.failures and not self.args.keep_going and not self.finishing:
                raise StopActions()
            if tn >= end:
                return
            time.sleep(min(0.05, max(0.0, end - tn)))

    def sample(self):
        pid = self.tool.pid
        try:
            status = Path(f"/proc/{pid}/status").read_text()
            stat = Path(f"/proc/{pid}/stat").read_text()
        except OSError:
            return
        rss = int(re.search(r"VmRSS:\s+(\d+)", status).group(1))
        fields = stat[stat.rindex(")") + 2:].split()
        cpu = int(fields[11]) + int(fields[12])  # utime + stime (fields 14 and 15)
        self.samples.append((now(), rss, cpu))

    last_settings_check = 0.0

    def check_settings(self):
        self.last_settings_check = now()
        self.settings_checks += 1
        path = self.tooldir / "merkat32.CFG"
        try:
            data = path.read_bytes()
        except FileNotFoundError:
            raise SoakFailure(f"{self.history.rel(now()):.3f} s: the settings file is missing")
        problems = settings_problems(data)
        if problems:
            raise SoakFailure(f"{self.history.rel(now()):.3f} s: settings file invalid: "
                              + ", ".join(problems) + "; actions before: "
                              + "; ".join(self.history.before(now())))
        if data != self.settings_written:
            diff = [i for i in range(100) if data[i] != self.settings_written[i]]
            self.settings_changed.update(diff)

    def act(self, kind, detail=""):
        t = now()
        self.history.add(t, kind, detail)
        if self.args.verbose:
            print(f"{self.history.rel(t):9.3f} {kind} {detail}", flush=True)
        return t

    # --- panel actions (display live, no window open)

    def click_output(self, ch=None):
        if ch is None:
            ch = self.rng.randrange(32)
        wanted = 1 - self.state[ch]
        t = self.act("click output", f"out{ch + 1} -> {'on' if wanted else 'off'}")
        self.line.switch(t, ch, wanted)
        self.x.click(PANEL_X_OUT, PANEL_Y0 + PANEL_PITCH * ch)
        self.state[ch] = wanted
        self.focus = ch

    def click_input(self):
        visible = {0: 32, 1: 24, 2: 16}[self.ad_mode]
        row = self.rng.randrange(visible)
        self.act("click input", f"in{row + 1}")
        self.x.click(PANEL_X_IN, PANEL_Y0 + PANEL_PITCH * row)
        # The focus goes back to the last output, which is where it was.

    def ensure_focus(self):
        if self.focus is None:
            self.click_output()
            self.pump(0.15)

    def key_tab(self):
        self.ensure_focus()
        if self.focus >= 31:
            return self.click_output(self.rng.randrange(31))
        self.act("key Tab", f"out{self.focus + 1} -> out{self.focus + 2}")
        self.x.main_key("Tab")
        self.focus += 1

    def key_toggle(self):
        self.ensure_focus()
        key = self.rng.choice(["space", "Return"])
        ch = self.focus
        wanted = 1 - self.state[ch]
        t = self.act(f"key {key}", f"out{ch + 1} -> {'on' if wanted else 'off'}")
        self.line.switch(t, ch, wanted)
        self.x.main_key(key)
        self.state[ch] = wanted

    def key_escape(self):
        self.ensure_focus()
        t = self.act("key Escape", "all outputs off")
        self.x.main_key("Escape")
        self.line.all_off_event(t, now(), "Escape")
        self.state = [0] * 32

    def test_while_live(self):
        self.act("key alt+t", "while the display runs")
        self.x.main_key("alt+t")

    # --- menus and windows

    def open_menu(self, letter, why):
        """Opens the settings (n) or service (s) menu: the display stops, all outputs off."""
        t = self.act(f"key alt+{letter}", why)
        self.x.main_key(f"alt+{letter}")
        opened = self.x.popup_open()
        self.line.all_off_event(t, now(), f"alt+{letter} ({why})")
        self.state = [0] * 32
        self.focus = None
        self.display_live = False
        return opened

    def leave_menus(self):
        # Escape closes the popup; the second one takes the menu bar out of its
        # keyboard mode. With the display stopped no panel box has the focus.
        self.x.key("Escape")
        time.sleep(0.1)
        self.x.key("Escape")

    def restart_display(self):
        t = self.act("key alt+t", "restart the display")
        self.x.main_key("alt+t")
        self.line.all_off_event(t, now(), "alt+t (restart)")
        self.state = [0] * 32
        self.focus = None
        self.display_live = True

    def menu_open_close(self):
        letter = self.rng.choice(["n", "s"])
        self.open_menu(letter, "open and dismiss")
        self.pump(self.rng.uniform(0.2, 1.0))
        self.act("key Escape Escape", "dismiss the menu")
        self.leave_menus()
        self.pump(self.rng.uniform(0.1, 0.5))
        self.restart_display()

    def help_menu(self):
        # The help menu does not stop the display. Outputs off first (Esc on the
        # panel), so a stray Escape reaching the panel changes nothing.
        self.key_escape()
        self.pump(0.1)
        self.act("key alt+p", "help menu, dismissed")
        self.x.main_key("alt+p")
        self.x.popup_open()
        self.pump(self.rng.uniform(0.2, 0.8))
        self.leave_menus()
        self.focus = None

    def open_window(self, menu_letter, item_letter, title_re, what):
        """Menu, then item; returns (window id, unhealthy entry) or raises."""
        for attempt in range(2):
            if self.open_menu(menu_letter, what):
                break
            self.warn(f"the {what} menu popup did not show (attempt {attempt + 1})")
            self.leave_menus()
            self.pump(0.3)
        else:
            raise SoakFailure(f"{self.history.rel(now()):.3f} s: the menu for {what} does not "
                              "open (alt+" + menu_letter + ")")
        t = self.act(f"key {item_letter}", what)
        entry = self.line.begin_unhealthy(t, what)
        self.x.key(item_letter)
        w = self.x.find(title_re, timeout=5.0)
        if w is None:
            raise SoakFailure(f"{self.history.rel(now()):.3f} s: the {what} window did not open; "
                              "visible windows: " + repr(self.x.visible()))
        return w, entry

    def close_window_check(self, title_re, what, entry):
        if not self.x.gone(title_re, timeout=5.0):
            raise SoakFailure(f"{self.history.rel(now()):.3f} s: the {what} window did not close")
        self.line.end_unhealthy(entry, now())

    def port_dialog_ok(self, why):
        w, entry = self.open_window("n", "k", PORT_DIALOG_TITLE, "port dialog")
        self.pump(self.rng.uniform(0.2, 1.0))
        self.act("key alt+o", f"O. K.: reopen the port ({why})")
        self.x.run("windowactivate", "--sync", w, "key", "alt+o", timeout=5)
        self.close_window_check(PORT_DIALOG_TITLE, "port dialog", entry)
        self.reopens += 1
        self.pump(0.2)
        self.restart_display()

    def comm_test(self):
        w, entry = self.open_window("s", "k", COMM_TEST_TITLE, "communication test")
        self.pump(self.rng.uniform(0.5, 3.0))
        self.act("key Escape", "close the communication test")
        self.x.run("windowactivate", "--sync", w, "key", "Escape", timeout=5)
        self.close_window_check(COMM_TEST_TITLE, "communication test", entry)
        self.pump(0.2)
        self.restart_display()

    def lighting_test(self):
        w, entry = self.open_window("s", "o", LIGHTING_TITLE, "lighting test")
        self.pump(self.rng.uniform(0.5, 3.0))
        # The close box, through the window manager: only while the lighting
        # window is the active one (alt+F4 on the main window would end the tool).
        for _ in range(5):
            self.x.run("windowactivate", "--sync", w, timeout=5)
            if self.x.active() == w:
                self.act("key alt+F4", "close the lighting test")
                self.x.key("alt+F4")
                break
            self.pump(0.2)
        else:
            raise SoakFailure(f"{self.history.rel(now()):.3f} s: the lighting test window does "
                              "not become active")
        self.close_window_check(LIGHTING_TITLE, "lighting test", entry)
        self.pump(0.2)
        self.restart_display()

    # --- line actions

    def sim_inputs(self):
        v = " ".join(f"{self.rng.randrange(256):02X}" for _ in range(4))
        self.act("sim inputs", v)
        self.send_sim(f"inputs {v}")

    def sim_adc(self):
        v = self.rng.randrange(65536)
        self.act("sim adc", str(v))
        self.send_sim(f"adc {v}")

    def sim_mirror(self):
        self.act("sim mode", "mirror")
        self.send_sim("mode mirror")

    def sim_fault(self):
        name = self.rng.choice(["garbage", "split", "bad-checksum"])
        pct = self.rng.choice([5, 10, 25, 50])
        secs = self.rng.uniform(3, 20)
        self.act(f"sim {name}", f"{pct} % for {secs:.0f} s")
        self.send_sim(f"{name} {pct}")
        self.faults_until[name] = now() + secs

    def sim_silence(self):
        ms = self.rng.choice([150, 300, 800, 2000])
        t = self.act("sim silence", f"{ms} ms")
        self.line.unhealthy_for(t, ms / 1000, f"silence {ms} ms")
        self.send_sim(f"silence {ms}")

    def hangup(self):
        t = self.act("sim hangup", "the line goes dead, a new pty follows")
        entry = self.line.begin_unhealthy(t, "hang-up")
        reopens = self.line.sim_reopens
        self.send_sim("hangup")
        self.hangups += 1
        # The tool switches every output off when it takes the dead port down,
        # and opens the new pty by itself once the simulator has made it.
        self.line.all_off_event(t, now(), "hang-up", settle=0.3)
        self.state = [0] * 32
        end = now() + 10
        while now() < end:
            if self.line.sim_reopens > reopens and (self.tooldir / "COM1").is_symlink():
                break
            self.pump(0.1)
        else:
            raise SoakFailure("controller-sim made no new pty within 10 s of the hang-up")
        back = now()
        frames = self.line.frames
        while self.line.frames == frames:
            if now() - back > RETURN_DEADLINE:
                raise SoakFailure(f"{self.history.rel(now()):.3f} s: no frames on the new pty "
                                  f"{RETURN_DEADLINE:.0f} s after the simulator made it")
            self.pump(0.05)
        self.returns.append(now() - back)
        self.line.end_unhealthy(entry, now())

    def warn(self, text):
        self.warnings.append(f"{self.history.rel(now()):.3f} s: {text}")

    # --- the run

    ACTIONS = [
        ("click_output", 30),
        ("key_tab", 10),
        ("key_toggle", 14),
        ("key_escape", 6),
        ("click_input", 4),
        ("test_while_live", 2),
        ("sim_inputs", 6),
        ("sim_adc", 4),
        ("sim_mirror", 3),
        ("sim_fault", 4),
        ("sim_silence", 3),
        ("menu_open_close", 4),
        ("help_menu", 1),
        ("comm_test", 2),
        ("lighting_test", 2),
        ("port_dialog", 1),
        ("hangup", 2),
    ]

    def port_dialog(self):
        self.port_dialog_ok("the port as it is")

    def calibrate(self):
        """out1, out32 and out16 by mouse: each must reach the line, or the panel is not where
        the script clicks."""
        for ch in (0, 31, 15):
            self.click_output(ch)
            self.pump(0.3)
        self.pump(SWITCH_DEADLINE)
        if self.line.failures:
            raise SoakFailure("clicks on out1, out32 and out16 do not reach the line: the panel "
                              "is not where the script clicks, or the tool does not respond")
        self.key_escape()
        self.pump(0.3)

    def run(self):
        build = self.resolve_build()
        if self.args.workdir:
            self.work = Path(self.args.workdir).resolve()
            self.work.mkdir(parents=True, exist_ok=True)
        else:
            self.work = Path(tempfile.mkdtemp(prefix="merkat32-soak-"))
        self.tooldir = self.work / "tool"
        self.tooldir.mkdir(exist_ok=True)
        print(f"soak: seed {self.args.seed}, {self.args.minutes:g} min, folder {self.work}",
              flush=True)
        self.start_x()
        self.start_sim(build)
        self.start_tool(build)
        print(f"soak: display {self.display}, A/D mode {self.ad_mode}, tool pid {self.tool.pid}",
              flush=True)
        self.pump(1.5)
        self.sample()
        self.calibrate()

        names = [a for a, _ in self.ACTIONS]
        weights = [w for _, w in self.ACTIONS]
        deadline = now() + self.args.minutes * 60
        next_report = now() + 60
        try:
            while now() < deadline:
                name = self.rng.choices(names, weights)[0]
                self.scenarios[name] += 1
                getattr(self, name)()
                self.pump(self.rng.uniform(0.25, 1.2))
                if now() >= next_report:
                    next_report += 60
                    self.progress()
        except StopActions:
            print("soak: a line check failed; closing the tool", flush=True)
            self.close_open_windows()
        self.finish()

    def progress(self):
        rss = self.samples[-1][1] if self.samples else 0
        print(f"soak: {self.history.rel(now()) / 60:5.1f} min, {len(self.history.entries)} "
              f"actions, {self.line.frames} frames, RSS {rss / 1024:.1f} MB, "
              f"{self.hangups} hang-ups", flush=True)

    def close_open_windows(self):
        """After an interrupted action: no menu or dialog left open, the display live."""
        self.finishing = True
        for title, keys in ((PORT_DIALOG_TITLE, ["Escape"]), (COMM_TEST_TITLE, ["Escape"]),
                            (LIGHTING_TITLE, ["alt+F4"])):
            w = self.x.find(title, timeout=0.2)
            if w:
                self.x.run("windowactivate", "--sync", w, timeout=5)
                if self.x.active() == w:
                    self.x.key(*keys)
                self.x.gone(title, timeout=3.0)
        self.x.activate_main()
        self.leave_menus()
        self.restart_display()
        self.pump(0.5)

    def finish(self):
        # Faults off, outputs on, then SIGTERM: the close must switch them off.
        self.finishing = True
        for name in list(self.faults_until):
            self.send_sim(f"{name} 0")
        self.faults_until.clear()
        self.act("sim mode", "mirror (end)")
        self.send_sim("mode mirror")
        self.pump(0.6)
        for ch in self.rng.sample(range(32), 4):
            if not self.state[ch]:
                self.click_output(ch)
                self.pump(0.3)
        self.pump(SWITCH_DEADLINE)
        self.sample()
        self.rss_end = self.samples[-1][1]
        if self.ui_hold is not None:
            self.ui_hold.stopping.set()
        t = self.act("SIGTERM", "to the tool")
        self.line.close_t = t
        self.line.begin_unhealthy(t, "close")
        self.line.all_off_event(t, t, "SIGTERM (close sequence)", settle=0.4)
        self.tool.send_signal(signal.SIGTERM)
        try:
            self.tool_rc = self.tool.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.tool_rc = None
        t_exit = now()
        time.sleep(0.6)  # the simulator logs what is still under way on the line
        for lt, tag, rest, line in self.log.read():
            self.line.on_log_line(lt, tag, rest, line)
        self.send_sim("quit")
        try:
            self.sim.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
        for lt, tag, rest, line in self.log.read():
            self.line.on_log_line(lt, tag, rest, line)
        out = (self.work / "sim.out").read_text(errors="replace").splitlines()
        summaries = [ln for ln in out if ln.startswith("controller-sim: frames in")]
        self.sim_summary = summaries[-1] if summaries else "(no summary line)"
        self.check_settings()

        # The close: the last LinkFrames all-off.
        after = self.line.close_frames
        last = self.line.last_frame
        trailing_off = 0
        for f in reversed(after):
            if f[1] != ALL_OFF:
                break
            trailing_off += 1
        self.close_frames = (f"{len(after)} LinkFrame(s) after SIGTERM, the last {trailing_off} "
                             f"all-off; last frame {after[-1][2] if after else 'none'}")
        if self.tool_rc is None:
            self.line.failures.append(f"merkat32 did not exit within 5 s of SIGTERM")
        elif self.tool_rc != 0:
            self.line.failures.append(f"merkat32 exited {self.tool_rc} after SIGTERM")
        if last is None or last[1] != ALL_OFF:
            self.line.failures.append("the last LinkFrame after SIGTERM is not all-off: "
                                      + (outputs_text(last[1]) if last else "no frame at all"))
        if not any(f[1] == ALL_OFF for f in after):
            self.line.failures.append("no all-off LinkFrame reached the line after SIGTERM "
                                      f"(tool exited {t_exit - t:.2f} s after it)")

    # --- report

    def cpu_per_minute(self):
        if len(self.samples) < 2:
            return []
        tck = os.sysconf("SC_CLK_TCK")
        t_start, _, c_start = self.samples[0]
        out = []
        i = 0
        while True:
            bound = t_start + 60 * (len(out) + 1)
            j = i
            while j + 1 < len(self.samples) and self.samples[j + 1][0] <= bound:
                j += 1
            if j == i:
                break
            dt = self.samples[j][0] - self.samples[i][0]
            if dt >= 20:
                out.append(100.0 * (self.samples[j][2] - self.samples[i][2]) / tck / dt)
            i = j
            if j + 1 >= len(self.samples):
                break
        return out

    def report(self, error=None):
        failures = list(self.line.failures)
        if error:
            failures.append(error)
        cpu = self.cpu_per_minute()
        rss_start = self.samples[0][1] if self.samples else 0
        rss_end = getattr(self, "rss_end", self.samples[-1][1] if self.samples else 0)
        if self.samples and not error:
            if rss_end - rss_start > RSS_GROWTH_LIMIT_KB:
                failures.append(f"RSS grew by {(rss_end - rss_start) / 1024:.1f} MB "
                                f"(limit {RSS_GROWTH_LIMIT_KB / 1024:.0f} MB)")
            for i, c in enumerate(cpu):
                if c > CPU_PER_MINUTE_LIMIT:
                    failures.append(f"CPU in minute {i + 1}: {c:.1f} % of one core "
                                    f"(limit {CPU_PER_MINUTE_LIMIT:.0f} %)")
        lat = sorted(self.line.latencies)
        print()
        print("== merkat32 soak summary")
        print(f"run:        {self.history.rel(now()) / 60:.1f} min, seed {self.args.seed}, "
              f"A/D mode {getattr(self, 'ad_mode', '?')}, folder {self.work}")
        print("scenarios:  " + ", ".join(f"{k} {v}" for k, v in
                                         sorted(self.scenarios.items())))
        print("actions:    " + ", ".join(f"{k} {v}" for k, v in
                                         sorted(self.history.counts.items())))
        print(f"line:       {self.line.frames} LinkFrames from the tool, "
              f"{self.line.brightness_frames} BrightnessFrames; log tags "
              + ", ".join(f"{k} {v}" for k, v in sorted(self.line.tags.items())))
        print(f"gaps:       longest between LinkFrames on a healthy line "
              f"{self.line.max_gap_healthy * 1000:.0f} ms (limit {FRAME_GAP_LIMIT * 1000:.0f}), "
              f"longest overall {self.line.max_gap_any:.2f} s")
        if self.line.sim_stalls:
            worst = max(g for _, g in self.line.sim_stalls)
            print(f"sim stalls: {len(self.line.sim_stalls)} gap(s) over the limit while "
                  f"controller-sim itself was not running (its answers late too), longest "
                  f"{worst * 1000:.0f} ms: not counted against the tool")
        if lat:
            print(f"switches:   {len(lat)} seen on the line; latency median "
                  f"{statistics.median(lat) * 1000:.0f} ms, 95 % "
                  f"{lat[int(0.95 * (len(lat) - 1))] * 1000:.0f} ms, max {lat[-1] * 1000:.0f} ms")
        held = self.ui_hold.longest if self.ui_hold is not None else 0.0
        print(f"UI thread:  longest hold {held * 1000:.0f} ms (frames must keep coming "
              f"through it)")
        back = (f", back by itself after {max(self.returns):.2f} s at most"
                if self.returns else "")
        print(f"hang-ups:   {self.hangups}{back}; port reopens through the dialog "
              f"{self.reopens}")
        print(f"memory:     RSS start {rss_start / 1024:.1f} MB, end {rss_end / 1024:.1f} MB")
        print("CPU/min:    " + (", ".join(f"{c:.1f}" for c in cpu) or "-") +
              " (% of one core)")
        print(f"settings:   {self.settings_checks} checks, 100 bytes and in range"
              + (f"; bytes changed by the tool at offsets {sorted(self.settings_changed)}"
                 if self.settings_changed else "; unchanged"))
        print(f"close:      exit status {self.tool_rc}; {self.close_frames}")
        print(f"sim:        {self.sim_summary}")
        for w in self.warnings:
            print(f"warning:    {w}")
        if failures:
            print(f"verdict:    FAIL ({len(failures)})")
            for f in failures[:10]:
                print("  - " + f)
            if len(failures) > 10:
                print(f"  ... and {len(failures) - 10} more")
            print(f"files kept in {self.work} (sim.log, tool.out, sim.out)")
            return 1
        print("verdict:    PASS")
        return 0


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build/dev",
                    help="build folder with merkat32 and controller-sim (default build/dev)")
    ap.add_argument("--minutes", type=float, default=30, help="length of the run (default 30)")
    ap.add_argument("--seed", type=int, default=None, help="random seed (default: random)")
    ap.add_argument("--workdir", help="keep everything in this folder instead of a temporary one")
    ap.add_argument("--keep-going", action="store_true",
                    help="go on after a failed line check and report all of them at the end")
    ap.add_argument("--verbose", action="store_true", help="print every action")
    args = ap.parse_args()
    if args.seed is None:
        args.seed = random.SystemRandom().randrange(1, 2**31)
    for tool in ("Xvfb", "openbox", "xdotool"):
        if shutil.which(tool) is None:
            print(f"soak: {tool} is not installed", file=sys.stderr)
            return 2

    def on_signal(signum, _frame):
        raise Interrupted(signal.Signals(signum).name)

    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, on_signal)

    soak = Soak(args)
    error = None
    rc = 1
    try:
        soak.run()
    except SoakFailure as e:
        error = str(e)
    except Interrupted as e:
        error = f"interrupted by {e}"
    finally:
        # Ignore further stop signals while the children are ended.
        for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(s, signal.SIG_IGN)
        if soak.fifo_fd is not None:
            try:
                os.close(soak.fifo_fd)
            except OSError:
                pass
        soak.procs.stop_all()
    try:
        rc = soak.report(error)
    except Exception as e:  # noqa: BLE001 - the verdict must still be printed
        print(f"soak: report failed: {e!r}")
        rc = 1
    if rc == 0 and not args.workdir and soak.work is not None:
        shutil.rmtree(soak.work, ignore_errors=True)
    return rc


if __name__ == "__main__":
    sys.exit(main())
