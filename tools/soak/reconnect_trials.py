#!/usr/bin/env python3
"""A line that hangs up and comes back, tried N times against the built tool.

controller-sim runs with --hangup-after-ms 2000 --reopen: it hangs up 2 s
after each open and makes a new pseudo-terminal behind COM1 0.5 s later. The
tool runs on a private X server (Xvfb) so that out1 can be switched on with
the space bar. Each trial, from the simulator's reopen on:
  * the tool's first frame on the new line comes within 1.5 s;
  * every frame until the script switches out1 on again is all-off;
  * out1, on before the hang-up, is off on the panel: the space bar switches
    it on (had the panel kept it on, the key would switch it off).
Prints one line a trial and the counts; exit status 1 when any trial failed.

Usage: tools/soak/reconnect_trials.py --build build/dev [--trials 50]
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
ALL_OFF = "A2 6B 00 00 00 00 F5 FE"
OUT1 = "A2 6B 01 00 00 00 F4 FE"
RETURN_LIMIT = 1.5


def now():
    return time.clock_gettime(time.CLOCK_MONOTONIC)


class SimLog:
    """The simulator's log lines (time in s, tag, rest) as they come."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.lines = []

    def poll(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                chunk = f.read()
        except FileNotFoundError:
            return
        end = chunk.rfind(b"\n") + 1
        self.offset += end
        for raw in chunk[:end].decode(errors="replace").splitlines():
            parts = raw.split(" ", 2)
            if len(parts) == 3 and parts[0].isdigit():
                self.lines.append((int(parts[0]) / 1e6, parts[1], parts[2]))

    def frames_since(self, t):
        return [(lt, rest) for lt, tag, rest in self.lines
                if tag == "IN" and lt >= t and rest.startswith("A2 6B")]

    def events_since(self, word, t):
        return [lt for lt, tag, rest in self.lines
                if tag == "EVENT" and lt >= t and rest.startswith(word)]


def wait(pred, limit, log):
    end = now() + limit
    while now() < end:
        log.poll()
        if pred():
            return True
        time.sleep(0.01)
    log.poll()
    return pred()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/dev")
    ap.add_argument("--trials", type=int, default=50)
    args = ap.parse_args()
    build = (REPO / args.build).resolve()
    work = Path(tempfile.mkdtemp(prefix="m32-return-"))
    procs = []
    try:
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        procs.append(xvfb)
        display = ":" + xvfb.stdout.readline().decode().strip()
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb")
        settings = bytearray(100)
        settings[0], settings[85], settings[86], settings[87] = 12, 8, ord("E"), 1
        (work / "merkat32.CFG").write_bytes(bytes(settings))
        shutil.copy2(build / "src/app/exe/merkat32", work / "merkat32")
        sim = subprocess.Popen([str(build / "tools/controller-sim/controller-sim"), "--dir",
                                str(work), "--port", "1", "--log", str(work / "sim.log"),
                                "--no-stdin", "--format", "8E1", "--hangup-after-ms", "2000",
                                "--reopen"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(sim)
        while not (work / "COM1").is_symlink():
            time.sleep(0.01)
        tool = subprocess.Popen(["./merkat32"], cwd=work, env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        procs.append(tool)
        log = SimLog(work / "sim.log")

        def key(k):
            subprocess.run(["xdotool", "key", "--clearmodifiers", k], env=env, check=False)

        def last_frame_is(frame, since):
            f = log.frames_since(since)
            return bool(f) and f[-1][1] == frame

        # out1 on before the first hang-up (it has the focus once the display runs).
        start = now()
        if not wait(lambda: log.frames_since(start), 15, log):
            print("no frames from the tool")
            return 1
        time.sleep(0.5)
        key("space")
        if not wait(lambda: last_frame_is(OUT1, start), 3, log):
            print("out1 did not go on before the first hang-up")
            return 1
        counts = {"back in time": 0, "all-off first": 0, "out1 off on the panel": 0}
        failed = 0
        seen = now()
        for trial in range(1, args.trials + 1):
            if not wait(lambda: log.events_since("reopen", seen), 10, log):
                print(f"trial {trial}: the simulator did not come back")
                failed += 1
                break
            back = log.events_since("reopen", seen)[0]
            seen = back + 1e-6
            came = wait(lambda: log.frames_since(back), 3, log)
            first = log.frames_since(back)[0][0] - back if came else float("inf")
            in_time = first <= RETURN_LIMIT
            time.sleep(max(0.0, back + 0.7 - now()))
            log.poll()
            pressed = now()
            all_off = came and all(f == ALL_OFF for _, f in log.frames_since(back))
            key("space")
            off_on_panel = wait(lambda: last_frame_is(OUT1, pressed), 1.0, log)
            counts["back in time"] += in_time
            counts["all-off first"] += all_off
            counts["out1 off on the panel"] += off_on_panel
            ok = in_time and all_off and off_on_panel
            failed += not ok
            print(f"trial {trial:2d}: first frame {first * 1000:6.0f} ms after the return, "
                  f"all-off until the key {'yes' if all_off else 'NO'}, "
                  f"out1 switched on again {'yes' if off_on_panel else 'NO'}", flush=True)
        print(", ".join(f"{k}: {v}/{args.trials}" for k, v in counts.items()))
        return 1 if failed else 0
    finally:
        for p in reversed(procs):
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
