#!/usr/bin/env python3
"""Prints the upper halves of Windows code pages as the C++ rows used in
code_page.cpp (kHigh1251, kHigh1253), from Python's own codecs. Bytes without a
character come out as U+FFFD.

    python3 make_codepages.py cp1251 cp1253
"""
import sys


def rows(codec):
    values = []
    for byte in range(0x80, 0x100):
        try:
            values.append(ord(bytes([byte]).decode(codec)))
        except UnicodeDecodeError:
            values.append(0xFFFD)
    for i in range(0, 128, 8):
        print("    " + ", ".join("0x%04X" % v for v in values[i:i + 8]) + ",  //")


for name in sys.argv[1:] or ["cp1251", "cp1253"]:
    print("// " + name)
    rows(name)
