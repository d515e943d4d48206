#!/usr/bin/env python3
"""Checks of the soak script's own judgement, without X, tool or simulator.

Run: python3 tools/soak/test_soak.py
"""

import argparse
import importlib.util
import struct
import unittest
from pathlib import Path

_spec = importlib.util.spec_from_file_location("soak", Path(__file__).with_name("soak.py"))
soak = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(soak)


def frame(mask):
    """The log text of a LinkFrame from the tool carrying `mask`."""
    b = [0xA2, 0x6B, mask & 0xFF, mask >> 8 & 0xFF, mask >> 16 & 0xFF, mask >> 24 & 0xFF, 0, 0xFE]
    b[6] = -sum(b) & 0xFF
    return " ".join(f"{x:02X}" for x in b)


class Line:
    """A LineChecker fed with frames every 10 ms from t=0 unless told otherwise."""

    def __init__(self):
        self.history = soak.History(0.0)
        self.c = soak.LineChecker(self.history)
        self.t = 0.0

    def frames(self, until, mask, step=0.010, answers=True):
        """Frames from the tool every `step`, each answered 5 ms later unless told otherwise."""
        while self.t < until - 1e-9:
            self.t = round(self.t + step, 6)
            text = frame(mask)
            self.c.on_log_line(self.t, "IN", text, f"{int(self.t * 1e6)} IN {text}")
            if answers:
                t = round(self.t + 0.005, 6)
                self.c.on_log_line(t, "OUT", frame(0), f"{int(t * 1e6)} OUT {frame(0)}")

    def failures(self):
        return self.c.failures


class LineCheckerTest(unittest.TestCase):
    def test_outputs_on_the_line_against_the_switches(self):
        # (legend, switch at, all-off (issued, done) or None, frames from 0.3 s, failure expected)
        cases = [
            ("output on the line without any switch", None, None, 1 << 4, True),
            ("output on the line after its switch", 0.2, None, 1 << 4, False),
            ("output still on well after an Escape", 0.2, (0.25, 0.26), 1 << 4, True),
            ("output off after an Escape", 0.2, (0.25, 0.26), 0, False),
        ]
        for legend, switch_at, off, mask, fails in cases:
            with self.subTest(legend):
                ln = Line()
                ln.frames(0.1, 0)
                if switch_at is not None:
                    ln.c.switch(switch_at, 4, 1)
                if off is not None:
                    ln.c.all_off_event(off[0], off[1], "Escape")
                ln.frames(0.3, 0)
                ln.frames(0.8, mask)
                self.assertEqual(bool(ln.failures()), fails, ln.failures())

    def test_frames_within_the_settle_time_of_an_all_off_may_still_carry_outputs(self):
        ln = Line()
        ln.frames(0.05, 0)
        ln.c.switch(0.05, 7, 1)
        ln.frames(0.5, 1 << 7)
        ln.c.all_off_event(0.5, 0.52, "alt+n")
        ln.frames(0.7, 1 << 7)  # up to 0.72 allowed
        ln.frames(1.0, 0)
        self.assertEqual(ln.failures(), [])
        ln.frames(1.1, 1 << 7)
        self.assertEqual(len(ln.failures()), 10)  # every frame from 1.01 s on

    def test_gaps_between_frames(self):
        # (legend, unhealthy period or None, failure expected)
        cases = [
            ("150 ms gap on a healthy line", None, True),
            ("150 ms gap during a silence", (0.45, 0.6), False),
            ("150 ms gap within the settle time after a test window", (0.1, 0.2), False),
            ("150 ms gap long after a test window", (0.0, 0.01), True),
        ]
        for legend, unhealthy, fails in cases:
            with self.subTest(legend):
                ln = Line()
                if unhealthy:
                    ln.c.unhealthy_for(unhealthy[0], unhealthy[1] - unhealthy[0], "silence")
                ln.frames(0.6, 0)
                ln.frames(0.75, 0, step=0.150)
                ln.frames(0.8, 0)
                self.assertEqual(bool(ln.failures()), fails, ln.failures())
                self.assertAlmostEqual(ln.c.max_gap_any, 0.150, places=6)

    def test_a_gap_while_the_simulator_was_not_running_is_not_the_tools(self):
        # The frame before the gap got no answer within it: the simulator slept too.
        ln = Line()
        ln.frames(0.59, 0)
        ln.frames(0.6, 0, answers=False)
        ln.frames(0.75, 0, step=0.150)
        ln.frames(0.8, 0)
        self.assertEqual(ln.failures(), [])
        self.assertEqual(len(ln.c.sim_stalls), 1)
        self.assertAlmostEqual(ln.c.sim_stalls[0][1], 0.150, places=6)

    def test_a_switch_must_reach_the_line(self):
        ln = Line()
        ln.frames(0.1, 0)
        ln.c.switch(0.1, 2, 1)
        ln.frames(0.25, 0)
        ln.frames(0.4, 1 << 2)
        self.assertEqual(ln.failures(), [])
        self.assertEqual(len(ln.c.latencies), 1)
        self.assertAlmostEqual(ln.c.latencies[0], 0.16, places=6)

        ln.c.switch(0.5, 3, 1)  # never shows
        ln.frames(0.5 + soak.SWITCH_DEADLINE + 0.05, 1 << 2)
        self.assertEqual(len(ln.failures()), 1)
        self.assertIn("out4 switched on", ln.failures()[0])

    def test_a_switch_during_a_hang_up_is_not_expected_on_the_line(self):
        ln = Line()
        ln.frames(0.1, 0)
        entry = ln.c.begin_unhealthy(0.1, "hang-up")
        ln.c.switch(0.2, 3, 1)
        ln.t = 3.0  # the dead line
        ln.c.end_unhealthy(entry, 3.0)
        ln.c.all_off_event(2.9, 2.95, "alt+n (port dialog)")
        ln.frames(4.0, 0)
        self.assertEqual(ln.failures(), [])

    def test_a_stall_without_frames_shows_against_the_clock(self):
        ln = Line()
        ln.frames(1.0, 0)
        ln.c.check_clock(1.0 + soak.STALL_LIMIT - 0.1)
        self.assertEqual(ln.failures(), [])
        ln.c.check_clock(1.0 + soak.STALL_LIMIT + 0.1)
        self.assertEqual(len(ln.failures()), 1)

    def test_only_link_frames_from_the_tool_count(self):
        # (legend, tag, text, counted)
        cases = [
            ("link frame", "IN", frame(0x80000001), True),
            ("the controller's answer", "OUT", frame(0), False),
            ("brightness frame", "IN", "A2 68 00 00 00 00 00 00 00 00 00 F8 FE", False),
            ("wrong end mark", "IN", "A2 6B 00 00 00 00 F5 FF", False),
            ("short", "IN", "A2 6B 00 00 F5 FE", False),
        ]
        for legend, tag, text, counted in cases:
            with self.subTest(legend):
                self.assertEqual(soak.link_frame(tag, text) is not None, counted)
        self.assertEqual(soak.link_frame("IN", frame(0x80000001)), 0x80000001)


class SettingsTest(unittest.TestCase):
    def test_settings_problems(self):
        good = soak.make_settings(2)
        self.assertEqual(soak.settings_problems(good), [])
        self.assertEqual(struct.unpack_from("<h", good, 10)[0], 2)

        def changed(offset, value, fmt="B"):
            rec = bytearray(good)
            struct.pack_into("<" + fmt, rec, offset, value)
            return bytes(rec)

        # (legend, record, word in the complaint)
        cases = [
            ("short file", good[:99], "length"),
            ("divisor 0", changed(0, 0, "I"), "BaudDivisor"),
            ("divisor above 115200", changed(0, 115201, "I"), "BaudDivisor"),
            ("COM65", changed(84, 64), "PortIndex"),
            ("4 data bits", changed(85, 4), "DataBits"),
            ("parity X", changed(86, ord("X")), "Parity"),
            ("3 stop bits", changed(87, 3), "StopBits"),
            ("language 10", changed(88, 10), "Language"),
        ]
        for legend, rec, word in cases:
            with self.subTest(legend):
                problems = soak.settings_problems(rec)
                self.assertEqual(len(problems), 1, problems)
                self.assertIn(word, problems[0])


class CpuTest(unittest.TestCase):
    def test_cpu_per_minute_from_samples(self):
        s = soak.Soak(argparse.Namespace(seed=1))
        tck = soak.os.sysconf("SC_CLK_TCK")
        # 2.5 minutes sampled every 2 s: 10 % of a core in the first minute, 30 % after.
        for i in range(76):
            t = 2.0 * i
            cpu = 0.10 * min(t, 60) + 0.30 * max(0, t - 60)
            s.samples.append((t, 1000, round(cpu * tck)))
        per_minute = s.cpu_per_minute()
        self.assertEqual(len(per_minute), 3)
        self.assertAlmostEqual(per_minute[0], 10.0, delta=1.0)
        self.assertAlmostEqual(per_minute[1], 30.0, delta=1.0)
        self.assertAlmostEqual(per_minute[2], 30.0, delta=1.0)


if __name__ == "__main__":
    unittest.main()
