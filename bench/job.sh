#!/usr/bin/env bash
# Times a whole job, zelmod-cli --job transpose --amount 12, on the generated
# benchmark file, beside the whole reverse playback job, and against the same
# transposition done by midicsv | awk | csvmidi and, where python3-mido is
# installed, by mido. Prints the best wall time of several runs, the ratios
# and the peak memory; and beside the line loop, the reverse playback step
# alone on the same event text, with its peak memory against its bound (twice
# the largest track's text + 16 MiB).
# Run by hand after building:
#   cmake --build build --target zelmod-cli mf2t t2mf make_bench_midi rewrite_speed reverse_speed
#   bench/job.sh build
# Needs midicsv and time (/usr/bin/time). Builds nothing.
set -euo pipefail

build=${1:?usage: bench/job.sh BUILD_DIR}
runs=${RUNS:-5}
. "$(dirname "$0")/common.sh"
require job.sh "$build/tool/zelmod-cli" "$build/tool/mf2t" "$build/tool/t2mf" \
    "$build/bench/make_bench_midi" "$build/bench/rewrite_speed" "$build/bench/reverse_speed" \
    midicsv csvmidi /usr/bin/time

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A tool's directory of its own, so that tests running meanwhile in the
# build's tool directory do not share it.
mkdir "$work/tool"
cp "$build/tool/zelmod-cli" "$build/tool/mf2t" "$build/tool/t2mf" "$work/tool/"
"$build/bench/make_bench_midi" "$work/bench.mid"
echo "benchmark file: $(stat -c %s "$work/bench.mid") bytes"

# Debian's python3-mido is installed for the system's own Python.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
mido_transpose() { # IN OUT SHIFT
    "$python" - "$@" <<'PY'
import sys, mido
src, dst, k = sys.argv[1], sys.argv[2], int(sys.argv[3])
song = mido.MidiFile(src)
for track in song.tracks:
    for message in track:
        if message.type in ('note_on', 'note_off') and message.channel != 9:
            message.note = min(127, max(0, message.note + k))
song.save(dst)
PY
}
export python
export -f midicsv_transpose mido_transpose

read -r ours ours_peak < <(measure "$work/ours.mid" \
    "$work/tool/zelmod-cli" -j 1 --job transpose --amount 12 -o "$work/ours.mid" "$work/bench.mid")
read -r backwards backwards_peak < <(measure "$work/backwards.mid" \
    "$work/tool/zelmod-cli" -j 1 --job reverse -o "$work/backwards.mid" "$work/bench.mid")
read -r peer peer_peak < <(measure "$work/peer.mid" \
    bash -c 'midicsv_transpose "$@"' _ "$work/bench.mid" "$work/peer.mid" 12)

# The two converters alone, to tell the job's own share of the time.
read -r to_text _ < <(measure "$work/bench.txt" "$work/tool/mf2t" "$work/bench.mid" "$work/bench.txt")
"$work/tool/mf2t" "$work/bench.mid" "$work/bench.txt"
read -r to_midi _ < <(measure "$work/back.mid" "$work/tool/t2mf" "$work/bench.txt" "$work/back.mid")
read -r loop_wall loop_processor loop_rate loop_processor_rate < <(
    "$build/bench/rewrite_speed" "$work/bench.txt" "$work/rewritten.txt" "$runs")
read -r reverse_wall reverse_processor reverse_rate reverse_processor_rate < <(
    "$build/bench/reverse_speed" "$work/bench.txt" "$work/reversed.txt" "$runs")
read -r _ reverse_peak < <(runs=1 measure "$work/reversed.txt" \
    "$build/bench/reverse_speed" "$work/bench.txt" "$work/reversed.txt" 1)
largest_track=$(awk '/^MTrk/ { n = 0 } { n += length($0) + 1 } /^TrkEnd/ && n > m { m = n }
    END { print m }' "$work/bench.txt")

echo "best of $runs runs each:"
report zelmod-cli "$ours" "$ours_peak"
# zelmod-cli runs the two and the rewrite at once, the text streaming between them.
report "  mf2t, then t2mf" "$(awk -v a="$to_text" -v b="$to_midi" 'BEGIN { print a + b }')"
report "zelmod-cli reverse" "$backwards" "$backwards_peak"
awk -v w="$loop_wall" -v p="$loop_processor" -v r="$loop_rate" -v q="$loop_processor_rate" \
    -v b="$(stat -c %s "$work/bench.txt")" 'BEGIN {
    printf "  line loop alone    %7.3f s   %.0f MB of event text: %.2f GB/s (%.2f GB/s of processor time)\n", w, b / 1e6, r, q }'
awk -v w="$reverse_wall" -v p="$reverse_processor" -v r="$reverse_rate" \
    -v q="$reverse_processor_rate" -v lp="$loop_processor" 'BEGIN {
    printf "  reverse alone      %7.3f s   %.2f GB/s (%.2f GB/s of processor time),", w, r, q
    printf " %.1fx the line loop'"'"'s processor time\n", p / lp }'
awk -v m="$reverse_peak" -v t="$largest_track" 'BEGIN { bound = (2 * t) / 1048576 + 16
    printf "  reverse peak memory %.1f MiB (bound: 2 x %.1f MiB largest track + 16 MiB = %.1f MiB): %s\n",
        m / 1024, t / 1048576, bound, (m / 1024 <= bound) ? "met" : "NOT MET" }'
report "midicsv|awk|csvmidi" "$peer" "$peer_peak"
ratio zelmod-cli "midicsv|awk|csvmidi" "$ours" "$peer" 5
if "$python" -c 'import mido' 2>/dev/null; then
    read -r mido mido_peak < <(measure "$work/mido.mid" \
        bash -c 'mido_transpose "$@"' _ "$work/bench.mid" "$work/mido.mid" 12)
    report mido "$mido" "$mido_peak"
    ratio zelmod-cli mido "$ours" "$mido"
else
    echo "mido: python3-mido is not installed, skipped"
fi
awk -v m="$ours_peak" 'BEGIN {
    printf "peak memory of zelmod-cli and its converters: %.1f MiB (target < 16 MiB): %s\n",
        m / 1024, (m < 16384) ? "met" : "NOT MET" }'
