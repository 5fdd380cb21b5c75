#!/usr/bin/env python3
"""The benchmark run behind `make bench`: Orvo's renders of the real plate with
FFmpeg's simplest key timed in the same run, medians and ratios printed.

  bench/run.py BUILD_DIR [--quick]
  bench/run.py BUILD_DIR --against OTHER/AEORVO.so [--rounds N]

With --against, only the composite renders of the real plate, for this build's
module and OTHER's in turn, with FFmpeg's pipeline timed in every round:
medians of N rounds (5 by default) and the ratios, all from the same run.

1. orvo_bench (Google Benchmark): the real plate at 1920 x 1080 (full and draft
   composite, every view, 1 and 2 threads, 3840 x 2160), the stages one by one,
   the synthetic frames; medians of 5 repetitions.
2. FFmpeg's colorkey,despill,overlay over the same two pictures: the time per
   frame including decoding, as (time for 26 frames - time for 1 frame) / 25,
   median of 5.
3. 7680 x 4320: one process rendering the full composite, its peak memory.
4. `orvo key` of a 1080p still and of a 48-frame 1080p video: where the time
   goes (start-up, decoding, rendering, encoding), CPU seconds of each part.
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "..", "shared", "data")
PLATE = os.path.join(DATA, "plate-green-1920x1080.png")
LAKE = os.path.join(DATA, "background-lake-sunset-1080p.jpg")
PEER = ("[0]colorkey=0x3AC052:0.3:0.1,despill=type=green[k];"
        "[1][k]overlay=format=auto")


def run(args, **kw):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, **kw)


def timed(args):
    """Wall, user and system seconds of one command (children included)."""
    before = os.times()
    start = time.perf_counter()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = os.times()
    return wall, after.children_user - before.children_user, \
        after.children_system - before.children_system


def orvo_bench(build, quick):
    out = os.path.join(build, "bench.json")
    reps = "3" if quick else "5"
    run([os.path.join(build, "bench", "orvo_bench"), "--benchmark_repetitions=" + reps,
         "--benchmark_filter=-.*scale:4.*",
         "--benchmark_report_aggregates_only=true", "--benchmark_out=" + out,
         "--benchmark_out_format=json"])
    with open(out) as f:
        results = json.load(f)["benchmarks"]
    medians = {}
    for r in results:
        if r.get("aggregate_name") == "median":
            # The plate renders report the CPU of every thread (process_time).
            medians[r["run_name"].replace("/process_time", "")] = (r["real_time"], r["cpu_time"])
    return medians


def peer_per_frame(frames):
    args = ["ffmpeg", "-v", "error", "-nostdin", "-loop", "1", "-i", PLATE, "-loop", "1",
            "-i", LAKE, "-filter_complex", PEER, "-frames:v", str(frames), "-f", "null", "-"]
    return timed(args)[0]


def peer(quick):
    n = 3 if quick else 5
    samples = []
    for _ in range(n):
        one = peer_per_frame(1)
        many = peer_per_frame(26)
        samples.append((many - one) / 25 * 1000)
    return statistics.median(samples)


def peak_memory_8k(build):
    """One 7680x4320 render in a process of its own: its time and peak memory."""
    args = [os.path.join(build, "bench", "orvo_bench"),
            "--benchmark_filter=BM_Plate/show:11/high:1/threads:2/scale:4/",
            "--benchmark_min_time=0.01"]
    child = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    output = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    if status != 0:
        raise RuntimeError("the 7680x4320 render failed")
    ms = None
    for line in output.splitlines():
        if line.startswith("BM_Plate/"):
            fields = line.split()
            ms = float(fields[1]) * (1000.0 if fields[2] == "s" else 1.0)
    return usage.ru_maxrss / 1024.0, ms


def tool_breakdown(build, work):
    orvo = os.path.join(build, "tools", "orvo", "orvo")
    video = os.path.join(work, "plate48.mp4")
    run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-loop", "1", "-i", PLATE, "-frames:v", "48",
         "-c:v", "libx264", "-pix_fmt", "yuv420p", "-crf", "16", video])
    rows = []
    libs = run(["ldd", orvo]).stdout.count("=>")
    rows.append(("start-up (orvo about, %d shared libraries)" % libs, timed([orvo, "about"])))
    still = os.path.join(work, "still.png")
    rows.append(("orvo key, 1080p still, whole", timed(
        [orvo, "key", "-q", "--fg", PLATE, "--bg", LAKE, "--set", "Chroma Color=58,192,82",
         "--set", "Crop=off", "-o", still])))
    rows.append(("  decode plate + background (ffmpeg)", timed(
        ["ffmpeg", "-v", "error", "-nostdin", "-i", PLATE, "-i", LAKE, "-map", "0", "-map", "1",
         "-f", "null", "-"])))
    out = os.path.join(work, "out48.mp4")
    rows.append(("orvo key, 48-frame 1080p video, whole", timed(
        [orvo, "key", "-q", "--fg", video, "--bg", LAKE, "--set", "Chroma Color=58,192,82",
         "--set", "Crop=off", "-o", out])))
    rows.append(("  decode 48 frames to RGBA (ffmpeg)", timed(
        ["ffmpeg", "-v", "error", "-nostdin", "-i", video, "-f", "rawvideo", "-pix_fmt", "rgba",
         "-y", "/dev/null"])))
    raw = os.path.join(work, "raw.rgba")
    run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", video, "-f", "rawvideo", "-pix_fmt",
         "rgba", raw])
    rows.append(("  encode 48 frames, libx264 crf 16 (ffmpeg)", timed(
        ["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "rawvideo", "-pix_fmt", "rgba", "-s",
         "1920x1080", "-i", raw, "-c:v", "libx264", "-pix_fmt", "yuv420p", "-crf", "16",
         os.path.join(work, "enc.mp4")])))
    return rows


# The composite renders the paired run compares: name, benchmark.
PAIRED = [
    ("full composite, 2 threads", "BM_Plate/show:11/high:1/threads:2/scale:1"),
    ("full composite, 1 thread", "BM_Plate/show:11/high:1/threads:1/scale:1"),
    ("draft composite, 2 threads", "BM_Plate/show:11/high:0/threads:2/scale:1"),
    ("full composite 3840x2160, 2 threads", "BM_Plate/show:11/high:1/threads:2/scale:2"),
]


def paired(build, other, rounds):
    """This build's module and `other` in turn, FFmpeg once per round."""
    samples = {"this": {}, "other": {}}
    ffmpeg = []
    for _ in range(rounds):
        for tag, module in (("other", other), ("this", "")):
            out = run([os.path.join(build, "bench", "orvo_bench"),
                       "--benchmark_filter=BM_Plate/show:11/high:[01]/threads:[12]/scale:[12]/",
                       "--benchmark_min_time=0.5", "--benchmark_format=json"],
                      env=dict(os.environ, ORVO_BENCH_MODULE=module)).stdout
            for r in json.loads(out)["benchmarks"]:
                name = r["run_name"].replace("/process_time/real_time", "")
                samples[tag].setdefault(name, []).append((r["real_time"], r["cpu_time"]))
        ffmpeg.append((peer_per_frame(26) - peer_per_frame(1)) / 25 * 1000)

    def median(tag, name, field):
        return statistics.median(v[field] for v in samples[tag].get(name, [(0.0, 0.0)]))

    ff = statistics.median(ffmpeg)
    print("\nPaired run against %s: %d rounds, the two modules in turn (medians, ms/frame, "
          "wall / CPU of all threads)" % (other, rounds))
    print("  FFmpeg colorkey,despill,overlay incl. decoding  %8.1f" % ff)
    print("  %-36s %15s %15s  this/other" % ("", "this", "other"))
    for label, name in PAIRED:
        t, o = median("this", name, 0), median("other", name, 0)
        print("  %-36s %7.1f / %5.1f %7.1f / %5.1f  %.3f" %
              (label, t, median("this", name, 1), o, median("other", name, 1), t / o))
    for tag in ("this", "other"):
        full2, full1 = median(tag, PAIRED[0][1], 0), median(tag, PAIRED[1][1], 0)
        print("  %-5s: full 2 threads %.2f x FFmpeg, 2 threads gain %.2fx, 3840x2160 %.2fx 1080p" %
              (tag, full2 / ff, full1 / full2, median(tag, PAIRED[3][1], 0) / full2))


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build-bench"
    quick = "--quick" in sys.argv
    load = os.getloadavg()[0]
    print("Load average at start: %.1f on %d processors (other work running at the same "
          "time inflates wall-clock times)" % (load, os.cpu_count()))
    if "--against" in sys.argv:
        rounds = 5
        if "--rounds" in sys.argv:
            rounds = int(sys.argv[sys.argv.index("--rounds") + 1])
        paired(build, os.path.abspath(sys.argv[sys.argv.index("--against") + 1]), rounds)
        print("\nLoad average at end: %.1f" % os.getloadavg()[0])
        return

    medians = orvo_bench(build, quick)
    ffmpeg_ms = peer(quick)

    def row(name):
        return medians.get(name + "/real_time", (float("nan"), float("nan")))

    full2, cpu2 = row("BM_Plate/show:11/high:1/threads:2/scale:1")
    full1, cpu1 = row("BM_Plate/show:11/high:1/threads:1/scale:1")
    draft = row("BM_Plate/show:11/high:0/threads:2/scale:1")[0]
    uhd = row("BM_Plate/show:11/high:1/threads:2/scale:2")[0]
    print("\nReal plate 1920x1080 over the lake, key 58,192,82, Crop off (medians, ms/frame)")
    print("  FFmpeg colorkey,despill,overlay incl. decoding  %8.1f" % ffmpeg_ms)
    print("  Orvo full composite, 2 threads                  %8.1f   ratio to FFmpeg %.2f" %
          (full2, full2 / ffmpeg_ms))
    print("  Orvo full composite, 1 thread                   %8.1f   2 threads gain %.2fx" %
          (full1, full1 / full2))
    print("  CPU of all threads, 1 / 2 threads               %8.1f %8.1f" % (cpu1, cpu2))
    print("  Orvo draft composite, 2 threads                 %8.1f" % draft)
    print("  Orvo full composite 3840x2160, 2 threads        %8.1f   %.2fx the 1080p frame" %
          (uhd, uhd / full2))
    print("  Views, 2 threads:")
    for show in range(1, 11):
        print("    show %2d                                     %8.1f" %
              (show, row("BM_Plate/show:%d/high:1/threads:2/scale:1" % show)[0]))
    print("  Stages (real plate; wall / CPU of the calling thread):")
    for name, (wall, cpu) in sorted(medians.items()):
        if name.startswith("BM_Plate") and not name.startswith("BM_Plate/"):
            print("    %-40s %8.1f %8.1f" % (name.replace("/real_time", ""), wall, cpu))

    peak, ms8k = peak_memory_8k(build)
    print("\n7680x4320 full composite: %.0f ms (one run), peak resident memory of the "
          "process %.0f MiB (three 8K host frames of 127 MiB each included)" % (ms8k or 0, peak))

    with tempfile.TemporaryDirectory() as work:
        print("\nWhere the time of `orvo key` goes (wall s, user s, system s):")
        for name, (wall, user, system) in tool_breakdown(build, work):
            print("  %-48s %6.2f %6.2f %6.2f" % (name, wall, user, system))
    print("\nLoad average at end: %.1f" % os.getloadavg()[0])


if __name__ == "__main__":
    main()
