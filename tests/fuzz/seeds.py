#!/usr/bin/env python3
"""Writes the seed corpus of the render fuzz target into FOLDER (the build
writes it to build-fuzz/corpus, where `make fuzz` keeps its corpus).

Each seed is a frame in the byte layout render_fuzz.cpp reads: a green-screen
plate over a background, one view, one quality, with a few parameters set.
    python3 tests/fuzz/seeds.py FOLDER
"""
import os
import struct
import sys

# Parameter kinds in registration order (index 1..40), and the valid minimum
# of each slider (a slider value is sent as its offset from it).
KINDS = ("layer layer popup colour popup check point slider slider fixed slider slider slider "
         "fixed fixed slider slider slider slider fixed fixed check colour fixed fixed colour "
         "fixed fixed fixed slider slider slider popup slider slider colour popup slider slider "
         "colour").split()
SLIDER_MIN = {8: 40, 9: -50, 11: -255, 12: -255, 13: -255, 16: 0, 17: -255, 18: -255, 19: -255,
              30: -255, 31: -255, 32: -255, 34: 0, 35: -100, 38: 0, 39: -100}
SAME, ABSENT = 1, 0  # layer shapes
GREEN, PHOTO, MATTE, NOISE = 0, 1, 2, 3  # layer patterns


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def param(index, value):
    kind = KINDS[index - 1]
    if kind == "check":
        return b"\x01" if value else b"\x02"
    body = {"popup": lambda: u32(value - 1), "colour": lambda: bytes(value),
            "slider": lambda: u32(value - SLIDER_MIN[index]), "fixed": lambda: u32(value * 65536),
            "point": lambda: u32((value[0] + 8) * 65536) + u32((value[1] + 8) * 65536)}[kind]
    return b"\x01" + body()


def seed(width=192, height=120, low=False, repeat=False, downsample=0, threads=1, record=None,
         no_handle_size=False, keyin=ABSENT, bg=SAME, padding=0, fg_pattern=GREEN, **params):
    """record: None keeps the effect's sequence record; a number replaces it
    with a foreign one (its size is the number modulo 24). Parameters as
    p<index>=value."""
    flags = low | repeat << 1 | (record is not None) << 4 | no_handle_size << 5
    out = struct.pack("<HBBBBB", width - 1, height - 1, flags, downsample, threads, record or 0)
    for shape, pattern in ((SAME, fg_pattern), (bg, PHOTO), (keyin, MATTE), (SAME, 0)):
        out += bytes((shape, padding, pattern, 1))
    values = {4: (40, 190, 60), 5: 11}  # the key colour, the composite
    values.update({int(k[1:]): v for k, v in params.items()})
    return out + b"".join(param(i, values[i]) if i in values else b"\x00"
                          for i in range(1, len(KINDS) + 1))


def main():
    seeds = {}
    for show in range(1, 12):
        seeds[f"show{show}"] = seed(p5=show)
        seeds[f"show{show}_draft_nocrop"] = seed(p5=show, low=True, p6=0)
    seeds.update(
        small_frame=seed(width=96, height=64, repeat=True),
        half_resolution=seed(downsample=1, threads=2, p16=5, p8=120),
        padded_rows=seed(padding=6, threads=3),
        keyin_plus=seed(keyin=SAME, p3=2),
        keyin_minus=seed(keyin=SAME, p3=3, p6=0),
        fg_minus_keyin=seed(keyin=SAME, p3=4, low=True),
        keyin_other_size=seed(keyin=4, p3=2),
        background_other_width=seed(bg=2),
        no_background=seed(bg=ABSENT),
        corrections=seed(p33=4, p34=60, p37=6, p38=70, p36=(200, 120, 40), p22=1),
        edge_crop=seed(p16=10, p7=(180, 100), repeat=True),
        noise=seed(fg_pattern=NOISE, repeat=True),
        foreign_record=seed(record=16, repeat=True),
        short_record=seed(record=5),
        record_without_handle_size=seed(record=40, no_handle_size=True),
        zero_denominator=seed(downsample=9))
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
