#!/usr/bin/env python3
"""Mutation check: how many small, seeded changes to the effect's arithmetic
and conditions do the fast tests catch?

Each mutant changes one operator, comparison, logical connective or integer
constant on one line of src/, rebuilds a scratch copy of the tree and runs the
fast tests (everything but the tool tests). A mutant is killed when a test
fails or hangs; one that does not compile is stillborn and not counted.

    scripts/mutate.py [--count N] [--seed S] [--scratch DIR] [--files GLOB ...]

A mutant of src/NAME/ is first tried against the tests labelled NAME alone
(built and run before anything else); only when those pass is the whole tree
built and every fast test run. The verdict is the same, it only comes sooner.

Prints one line per mutant and the share killed; writes the list of survivors
to DIR/survivors.txt so they can be read and turned into tests.
"""

import argparse
import fnmatch
import os
import random
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (name, pattern, replacement). Patterns need spaces around binary operators so
# that pointers, references, includes and templates are left alone.
OPERATORS = [
    ("plus-to-minus", r"(?<=\w|\)|\]) \+ (?=[\w(])", " - "),
    ("minus-to-plus", r"(?<=\w|\)|\]) - (?=[\w(])", " + "),
    ("times-to-divide", r"(?<=\w|\)|\]) \* (?=[\w(])", " / "),
    ("divide-to-times", r"(?<=\w|\)|\]) / (?=[\w(])", " * "),
    ("lt-to-le", r" < (?=[\w(-])", " <= "),
    ("le-to-lt", r" <= ", " < "),
    ("gt-to-ge", r" > (?=[\w(-])", " >= "),
    ("ge-to-gt", r" >= ", " > "),
    ("eq-to-ne", r" == ", " != "),
    ("ne-to-eq", r" != ", " == "),
    ("and-to-or", r" && ", " || "),
    ("or-to-and", r" \|\| ", " && "),
    ("shift-right-to-left", r" >> (?=\w)", " << "),
    ("inc-to-dec", r"(?<=\w)\+\+|\+\+(?=\w)", "--"),
    ("plus-assign-to-minus", r" \+= ", " -= "),
]
CONSTANT = re.compile(r"(?<![\w.])(\d+)(?![\w.])")


def code_part(line):
    """The line without a trailing // comment and with string literals blanked."""
    line = re.sub(r'"(\\.|[^"\\])*"', lambda m: '"' + " " * (len(m.group(0)) - 2) + '"', line)
    cut = line.find("//")
    return line if cut < 0 else line[:cut]


def candidate_sites(files):
    sites = []
    for path in files:
        with open(os.path.join(ROOT, path)) as f:
            lines = f.read().split("\n")
        in_block_comment = False
        for number, line in enumerate(lines):
            stripped = line.strip()
            if in_block_comment:
                if "*/" in stripped:
                    in_block_comment = False
                continue
            if stripped.startswith("/*"):
                in_block_comment = "*/" not in stripped
                continue
            if (not stripped or stripped.startswith("//") or stripped.startswith("#")
                    or stripped.startswith("static_assert")):
                continue
            code = code_part(line)
            for name, pattern, replacement in OPERATORS:
                for m in re.finditer(pattern, code):
                    sites.append((path, number, m.start(), m.end(), replacement, name))
            for m in CONSTANT.finditer(code):
                value = int(m.group(1))
                if value > 1 << 20:
                    continue
                sites.append((path, number, m.start(), m.end(), str(value + 1), "constant+1"))
    return sites


def run(cmd, cwd, timeout):
    try:
        p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=timeout, shell=True)
        return p.returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--count", type=int, default=80, help="mutants to try (default 80)")
    ap.add_argument("--seed", type=int, default=1, help="choice of mutants (default 1)")
    ap.add_argument("--scratch", default=os.path.join(ROOT, "build-mutate"))
    ap.add_argument("--files", nargs="*", default=["src/*.cpp", "src/*/*.cpp"],
                    help="globs of source files to mutate, relative to the tree")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--exclude", default="",
                    help="regular expression of tests to leave out (ctest -E), e.g. one that "
                         "already fails on the unmutated tree")
    ap.add_argument("--test-timeout", type=int, default=120,
                    help="seconds for one mutant's test run; longer counts as killed")
    args = ap.parse_args()

    tracked = subprocess.run(["git", "ls-files"], cwd=ROOT, stdout=subprocess.PIPE,
                             text=True, check=True).stdout.split()
    files = sorted(f for f in tracked if any(fnmatch.fnmatch(f, g) for g in args.files))
    sites = candidate_sites(files)
    # Constants are half of all sites but mostly plain initialisers: they get
    # three mutants in ten, operators and conditions the rest.
    rng = random.Random(args.seed)
    constants = [s for s in sites if s[5] == "constant+1"]
    operators = [s for s in sites if s[5] != "constant+1"]
    from_constants = min(len(constants), args.count * 3 // 10)
    chosen = sorted(rng.sample(constants, from_constants) +
                    rng.sample(operators, min(len(operators), args.count - from_constants)))

    # A scratch copy of the tracked tree, built once; each mutant rebuilds incrementally.
    tree = os.path.join(args.scratch, "tree")
    build = os.path.join(args.scratch, "build")
    os.makedirs(tree, exist_ok=True)
    for f in tracked:
        dst = os.path.join(tree, f)
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        src = os.path.join(ROOT, f)
        if os.path.isfile(src):
            shutil.copy2(src, dst)
    shared = os.path.join(os.path.dirname(ROOT), "shared")
    link = os.path.join(args.scratch, "shared")
    if os.path.isdir(shared) and not os.path.exists(link):
        os.symlink(shared, link)

    configure = (f"cmake -S {tree} -B {build} -DCMAKE_BUILD_TYPE=Release "
                 f"-DORVO_BUILD_TOOLS=OFF >/dev/null")
    compile_cmd = f"cmake --build {build} -j{args.jobs}"
    fast = "-LE 'tool|farm|slow'" + (f" -E '{args.exclude}'" if args.exclude else "")
    test_cmd = (f"ctest --test-dir {build} -j{args.jobs} {fast} "
                f"--stop-on-failure --timeout {args.test_timeout}")
    if run(configure, tree, None) != 0 or run(compile_cmd, tree, None) != 0:
        sys.exit("mutate: the unmutated tree does not build")
    if run(test_cmd, tree, None) != 0:
        sys.exit("mutate: the fast tests fail on the unmutated tree")

    # Test labels are the test folders; src/NAME/ is tested by the label NAME.
    listed = subprocess.run(f"ctest --test-dir {build} --print-labels", cwd=tree, shell=True,
                            stdout=subprocess.PIPE, text=True).stdout
    labels = {l.strip() for l in listed.splitlines() if l.startswith("  ")} - {"tool", "farm", "slow"}

    def near_verdict(path):
        """'killed' or 'stillborn' from the mutated folder's own tests, else None."""
        label = path.split("/")[1] if path.count("/") >= 2 else ""
        if label not in labels:
            return None
        if run(f"cmake --build {build} -j{args.jobs} --target test_{label}", tree, None) != 0:
            return "stillborn"
        near = (f"ctest --test-dir {build} -j{args.jobs} -L '^{label}$' {fast} "
                f"--stop-on-failure --timeout {args.test_timeout}")
        result = run(near, tree, args.test_timeout * 4)
        if result == 0:
            return None
        return "killed" if result != "timeout" else "killed (hang)"

    killed = stillborn = 0
    survivors = []
    started = time.time()
    for i, (path, number, start, end, replacement, name) in enumerate(chosen, 1):
        target = os.path.join(tree, path)
        with open(target) as f:
            original = f.read()
        lines = original.split("\n")
        before = lines[number]
        lines[number] = before[:start] + replacement + before[end:]
        with open(target, "w") as f:
            f.write("\n".join(lines))
        where = f"{path}:{number + 1} {name}"
        try:
            verdict = near_verdict(path)
            if verdict is None and run(compile_cmd, tree, None) != 0:
                verdict = "stillborn"
            if verdict == "stillborn":
                stillborn += 1
            elif verdict:
                killed += 1
            else:
                result = run(test_cmd, tree, args.test_timeout * 4)
                if result == 0:
                    verdict = "SURVIVED"
                    survivors.append(f"{where}: {before.strip()}  ->  {lines[number].strip()}")
                else:
                    killed += 1
                    verdict = "killed" if result != "timeout" else "killed (hang)"
        finally:
            with open(target, "w") as f:
                f.write(original)
        print(f"[{i}/{len(chosen)}] {verdict:14} {where}", flush=True)

    run(compile_cmd, tree, None)
    counted = len(chosen) - stillborn
    with open(os.path.join(args.scratch, "survivors.txt"), "w") as f:
        f.write("\n".join(survivors) + "\n")
    share = 100.0 * killed / counted if counted else 0.0
    print(f"mutants: {len(chosen)} tried, {stillborn} stillborn, {killed} of {counted} killed "
          f"({share:.1f} %), seed {args.seed}, {time.time() - started:.0f} s")
    print(f"survivors: {os.path.join(args.scratch, 'survivors.txt')}")


if __name__ == "__main__":
    main()
