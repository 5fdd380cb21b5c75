#!/usr/bin/env python3
"""Writes the seed corpus of the render fuzz target (tests/fuzz/corpus).

Each seed is a frame in the byte layout render_fuzz.cpp reads: a green-screen
plate over a background, one view, one quality, with a few parameters set.
Run from anywhere: python3 tests/fuzz/seeds.py
"""
import os
import struct

# Parameter indices and kinds in registration order (index 1..40).
KINDS = ("layer layer popup colour popup check point slider slider fixed slider slider slider "
         "fixed fixed slider slider slider slider fixed fixed check colour fixed fixed colour "
         "fixed fixed fixed slider slider slider popup slider slider colour popup slider slider "
         "colour").split()
BACKGROUND, KEY_IN, KEY_OUT, CHROMA, SHOW, CROP, CROP_POS, CROP_SIZE = 1, 2, 3, 4, 5, 6, 7, 8
TRANSP_EDGE, SMOOTH_SHADOW, BG_CC, BG_CC_STRENGTH, FG_CC, FG_CC_STRENGTH = 16, 22, 33, 34, 37, 38
SLIDER_MIN = {CROP_SIZE: 40, 9: -50, 11: -255, 12: -255, 13: -255, TRANSP_EDGE: 0, 17: -255,
              18: -255, 19: -255, 30: -255, 31: -255, 32: -255, BG_CC_STRENGTH: 0, 35: -100,
              FG_CC_STRENGTH: 0, 39: -100}

SAME, ABSENT = 1, 0
GREEN, PHOTO, MATTE, NOISE = 0, 1, 2, 3


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def param(index, value):
    kind = KINDS[index - 1]
    if kind == "popup":
        return b"\x01" + u32(value - 1)
    if kind == "check":
        return b"\x01" if value else b"\x02"
    if kind == "colour":
        return b"\x01" + bytes(value)
    if kind == "slider":
        return b"\x01" + u32(value - SLIDER_MIN[index])
    if kind == "fixed":
        return b"\x01" + u32(value * 65536)
    if kind == "point":
        return b"\x01" + u32((value[0] + 8) * 65536) + u32((value[1] + 8) * 65536)
    raise ValueError(kind)


def seed(width=192, height=120, low=False, repeat=False, downsample=0, threads=1, record=None,
         no_handle_size=False, keyin=ABSENT, bg=SAME, padding=0, fg_pattern=GREEN, **params):
    """record: None keeps the effect's sequence record; a number replaces it
    with a foreign one (its size is the number modulo 24)."""
    flags = (1 if low else 0) | (2 if repeat else 0) | (16 if record is not None else 0)
    flags |= 32 if no_handle_size else 0
    out = struct.pack("<HBBBBB", width - 1, height - 1, flags, downsample, threads, record or 0)
    for shape, pattern in ((SAME, fg_pattern), (bg, PHOTO), (keyin, MATTE), (SAME, 0)):
        out += bytes((shape, padding, pattern, 1))
    values = {CHROMA: (40, 190, 60), SHOW: 11}
    values.update({int(k[1:]): v for k, v in params.items()})
    for index in range(1, len(KINDS) + 1):
        out += param(index, values[index]) if index in values else b"\x00"
    return out


def main():
    seeds = {}
    for show in range(1, 12):
        seeds[f"show{show}"] = seed(p5=show)
        seeds[f"show{show}_draft_nocrop"] = seed(p5=show, low=True, p6=0)
    seeds["small_frame"] = seed(width=96, height=64, repeat=True)
    seeds["half_resolution"] = seed(downsample=1, threads=2, p16=5, p8=120)
    seeds["padded_rows"] = seed(padding=6, threads=3)
    seeds["keyin_plus"] = seed(keyin=SAME, p3=2)
    seeds["keyin_minus"] = seed(keyin=SAME, p3=3, p6=0)
    seeds["fg_minus_keyin"] = seed(keyin=SAME, p3=4, low=True)
    seeds["keyin_other_size"] = seed(keyin=4, p3=2)
    seeds["background_other_width"] = seed(bg=2)
    seeds["no_background"] = seed(bg=ABSENT)
    seeds["corrections"] = seed(p33=4, p34=60, p37=6, p38=70, p36=(200, 120, 40), p22=1)
    seeds["edge_crop"] = seed(p16=10, p7=(180, 100), repeat=True)
    seeds["noise"] = seed(fg_pattern=NOISE, repeat=True)
    seeds["foreign_record"] = seed(record=16, repeat=True)
    seeds["short_record"] = seed(record=5)
    seeds["record_without_handle_size"] = seed(record=40, no_handle_size=True)
    seeds["zero_denominator"] = seed(downsample=9)
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
