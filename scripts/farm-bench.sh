#!/bin/sh
# Times a 48-frame 1920x1080 shot keyed by `orvo key` on this machine and by
# `orvo farm` on the two-node test cluster (scripts/farm-cluster.sh), checks
# that both give the same bytes, and estimates a task's start-up cost from
# one-frame and eight-frame runs. Prints the figures quoted in the README.
#
#   scripts/farm-bench.sh [BUILD]     (BUILD defaults to build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
orvo=$root/${1:-build}/tools/orvo/orvo
data=$root/../shared/data
work=$(mktemp -d /tmp/orvo-farm-bench.XXXXXX)
chmod 0755 "$work"
trap '"$here/farm-cluster.sh" stop "$work/cluster"; rm -rf "$work"' EXIT INT TERM

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }

# 48 frames: the 24 plates at 1920x1080, twice.
mkdir -p "$work/in" "$work/one" "$work/farm"
ffmpeg -v error -i "$data/seq-green-960x540/frame.%04d.png" -vf scale=1920:1080 \
    "$work/in/p.%04d.png"
for n in $(seq 1 24); do
    cp "$work/in/p.$(printf %04d "$n").png" "$work/in/p.$(printf %04d $((n + 24))).png"
done
set -- --fg "$work/in/p.%04d.png" --bg "$data/background-lake-sunset-1080p.jpg" \
    --set "Chroma Color=58,192,82" --show Composite -q

"$here/farm-cluster.sh" start "$work/cluster" >/dev/null
export SLURM_CONF="$work/cluster/slurm.conf"

t0=$(now)
"$orvo" key "$@" -o "$work/one/c.%04d.png"
t1=$(now)
"$orvo" farm submit "$@" -o "$work/farm/c.%04d.png" --job-dir "$work/job" >/dev/null
"$orvo" farm wait "$work/job" --interval 0.25 >/dev/null 2>&1
t2=$(now)
same=yes
for f in "$work/one"/*.png; do
    cmp -s "$f" "$work/farm/$(basename "$f")" || same=no
done

t3=$(now)
"$orvo" key "$@" -o "$work/one/s.%04d.png" --frames 1-1
t4=$(now)
"$orvo" key "$@" -o "$work/one/s.%04d.png" --frames 1-8
t5=$(now)

one=$(calc "$t1 - $t0")
farm=$(calc "$t2 - $t1")
single=$(calc "$t4 - $t3")
eight=$(calc "$t5 - $t4")
perframe=$(calc "($eight - $single) / 7")
startup=$(calc "$single - $perframe")
chunks=$(ls "$work/job/chunks" | wc -l)
printf 'one machine, 48 frames:         %.1f s (%.2f s a frame)\n' "$one" "$(calc "$one / 48")"
printf 'two-node farm, 48 frames:       %.1f s, %d tasks (submit to complete)\n' "$farm" "$chunks"
printf 'farm / one machine:             %.2f (bound: 1.3 x one machine + 15 s = %.1f s)\n' \
    "$(calc "$farm / $one")" "$(calc "1.3 * $one + 15")"
printf 'task start-up (1 vs 8 frames):  %.2f s\n' "$startup"
echo "frames byte-identical:          $same"
echo "load average at the end:        $(cut -d' ' -f1-3 /proc/loadavg)"
