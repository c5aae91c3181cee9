#!/usr/bin/env bash
# Times mf2t against midicsv and t2mf against csvmidi on one generated file
# (16 tracks, a million notes) and prints times, ratios and peak memory.
# Run by hand after building mf2t, t2mf and make_bench_midi:
#   cmake --build build --target mf2t t2mf make_bench_midi
#   bench/converters.sh build
# Needs the Debian packages midicsv and time (/usr/bin/time). Builds nothing.
set -euo pipefail

build=${1:?usage: bench/converters.sh BUILD_DIR}
runs=${RUNS:-5}
tool="$build/tool"
. "$(dirname "$0")/common.sh"
require converters.sh "$tool/mf2t" "$tool/t2mf" "$build/bench/make_bench_midi" \
    midicsv csvmidi /usr/bin/time

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/make_bench_midi" "$work/bench.mid"
echo "benchmark file: $(stat -c %s "$work/bench.mid") bytes"

read -r mf2t_time mf2t_peak < <(measure "$work/mf2t.txt" "$tool/mf2t" "$work/bench.mid" "$work/mf2t.txt")
read -r midicsv_time midicsv_peak < <(measure "$work/midicsv.csv" midicsv "$work/bench.mid" "$work/midicsv.csv")
"$tool/mf2t" "$work/bench.mid" "$work/mf2t.txt"
midicsv "$work/bench.mid" "$work/midicsv.csv"
read -r t2mf_time t2mf_peak < <(measure "$work/t2mf.mid" "$tool/t2mf" "$work/mf2t.txt" "$work/t2mf.mid")
read -r csvmidi_time csvmidi_peak < <(measure "$work/csvmidi.mid" csvmidi "$work/midicsv.csv" "$work/csvmidi.mid")
"$tool/t2mf" "$work/mf2t.txt" "$work/t2mf.mid"
cmp -s "$work/bench.mid" "$work/t2mf.mid" && echo "round trip: byte for byte" ||
    echo "round trip: DIFFERS"

echo "best of $runs runs each:"
report mf2t "$mf2t_time" "$mf2t_peak"
report midicsv "$midicsv_time" "$midicsv_peak"
report t2mf "$t2mf_time" "$t2mf_peak"
report csvmidi "$csvmidi_time" "$csvmidi_peak"
ratio mf2t midicsv "$mf2t_time" "$midicsv_time" 5
ratio t2mf csvmidi "$t2mf_time" "$csvmidi_time" 8
awk -v a="$mf2t_peak" -v b="$t2mf_peak" 'BEGIN {
    printf "peak memory: mf2t %.1f MiB, t2mf %.1f MiB (target < 16 MiB): %s\n",
        a / 1024, b / 1024, (a < 16384 && b < 16384) ? "met" : "NOT MET" }'
