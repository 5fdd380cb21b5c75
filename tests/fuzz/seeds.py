#!/usr/bin/env python3
"""Writes the seed corpus of the render fuzz target into FOLDER in the byte
layout render_fuzz.cpp reads: a green-screen plate over a background, one
view, a few parameters set.    python3 tests/fuzz/seeds.py FOLDER"""
import os
import struct
import sys

# Parameter kinds in registration order (index 1..40); a valid value is sent
# as its offset from the valid minimum (sliders: -255 unless listed).
KINDS = "LLPCPKTSSFSSSFFSSSSFFKCFFCFFFSSSPSSCPSSC"  # Layer Popup Colour checK poinT Slider Fixed
LOW = {"P": 1, "K": 0, "F": 0, 8: 40, 9: -50, 16: 0, 34: 0, 38: 0, 35: -100, 39: -100}


def value(i, v, kind):
    if kind in "CT":
        return b"\x01" + bytes(v) if kind == "C" else value(i, v[0], "x") + value(i, v[1], "x")
    low = -8 if kind == "x" else LOW.get(kind, LOW.get(i, -255))
    return b"\x01" + struct.pack("<i", (v - low) * (65536 if kind in "Fx" else 1))


def seed(w=192, h=120, flags=0, threads=1, padding=0, record=b"", **p):
    p = {4: (40, 190, 60), 5: 11, **{int(k[1:]): v for k, v in p.items()}}  # key colour, composite
    return bytes((w - 1, h - 1, flags, threads - 1, padding, len(record))) + record + b"".join(
        value(i, p[i], k) if i in p else b"\x00"[:k != "L"] for i, k in enumerate(KINDS, 1))


seeds = {f"show{v}": seed(p5=v) for v in range(1, 12)}
seeds.update({f"show{v}_draft_nocrop": seed(flags=1, p5=v, p6=0) for v in range(1, 12)})
seeds.update(small=seed(96, 64, threads=2), half=seed(flags=1 << 5, threads=3, p16=5, p8=120),
             padded=seed(padding=6, threads=2), keyin_plus=seed(flags=8, p3=2),
             keyin_minus=seed(flags=8, p3=3, p6=0), fg_minus_keyin=seed(flags=9, p3=4),
             other_width=seed(flags=4), no_background=seed(flags=2), zero_denominator=seed(flags=192),
             corrections=seed(p33=4, p34=60, p37=6, p38=70, p36=(200, 120, 40), p22=1),
             edge_crop=seed(p16=10, p7=(180, 100), threads=2),
             foreign_record=seed(flags=16, record=bytes(range(16))))
os.makedirs(sys.argv[1], exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(sys.argv[1], name), "wb") as f:
        f.write(data)
