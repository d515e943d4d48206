"""Reads an event log with Python's csv module as it is and checks its shape.

Usage: csv_check.py FILE. Prints the number of event rows; exits 1 on a fault.
"""
import csv
import sys

HEADER = ["time", "monotonic_ms", "frame", "event", "channel", "old", "new", "detail"]


def main(path):
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    if not rows or rows[0] != HEADER:
        print("header:", rows[:1])
        return 1
    for n, row in enumerate(rows[1:], start=2):
        if len(row) != len(HEADER) or not row[3]:
            print("line", n, row)
            return 1
        float(row[1])
    print(len(rows) - 1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
