#!/usr/bin/env bash
# Times a whole job, zelmod-cli --job transpose --amount 12, on the generated
# benchmark file against the same transposition done by midicsv | awk |
# csvmidi and, where python3-mido is installed, by mido. Prints the best
# wall time of several runs, the ratios and the peak memory.
# Run by hand after building:
#   cmake --build build --target zelmod-cli mf2t t2mf make_bench_midi
#   bench/job.sh build
# Needs midicsv and time (/usr/bin/time). Builds nothing.
set -euo pipefail

build=${1:?usage: bench/job.sh BUILD_DIR}
runs=${RUNS:-5}
for needed in "$build/tool/zelmod-cli" "$build/tool/mf2t" "$build/tool/t2mf" \
    "$build/bench/make_bench_midi"; do
    [ -x "$needed" ] || { echo "job.sh: $needed is not built" >&2; exit 1; }
done
for needed in midicsv csvmidi /usr/bin/time; do
    command -v "$needed" >/dev/null || { echo "job.sh: $needed is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A tool's directory of its own, so that tests running meanwhile in the
# build's tool directory do not share it.
mkdir "$work/tool"
cp "$build/tool/zelmod-cli" "$build/tool/mf2t" "$build/tool/t2mf" "$work/tool/"
"$build/bench/make_bench_midi" "$work/bench.mid"
echo "benchmark file: $(stat -c %s "$work/bench.mid") bytes"

# The peers: every note of channels other than 10 moved by SHIFT and kept
# within 0..127.
midicsv_transpose() { # IN OUT SHIFT
    midicsv "$1" | awk -v k="$3" 'BEGIN { FS = OFS = ", " }
        ($3 == "Note_on_c" || $3 == "Note_off_c") && $4 != 9 {
            n = $5 + k; if (n < 0) n = 0; if (n > 127) n = 127; $5 = n }
        { print }' | csvmidi - "$2"
}
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

# measure OUT COMMAND...: best wall time in seconds and largest peak
# resident set size in KiB over $runs runs. The peak that time reports is
# that of the largest single process, the command or one of its children.
measure() {
    local out=$1; shift
    local best="" peak=0 start end rss seconds
    for ((i = 0; i < runs; i++)); do
        rm -f "$out"
        start=$EPOCHREALTIME
        /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null
        end=$EPOCHREALTIME
        seconds=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", e - s }')
        if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$seconds
        fi
        rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
        ((rss > peak)) && peak=$rss
    done
    echo "$best $peak"
}

report() { # NAME SECONDS PEAK_KIB
    awk -v n="$1" -v t="$2" -v m="$3" 'BEGIN { printf "%-18s %7.3f s   peak %6.1f MiB\n", n, t, m / 1024 }'
}

ratio() { # SLOW_NAME OURS SLOW TARGET
    awk -v n="$1" -v a="$2" -v b="$3" -v t="$4" 'BEGIN {
        r = b / a
        printf "zelmod-cli is %.2fx as fast as %s", r, n
        if (t != "") printf " (target >= %sx): %s", t, (r >= t) ? "met" : "NOT MET"
        printf "\n" }'
}

read -r ours ours_peak < <(measure "$work/ours.mid" \
    "$work/tool/zelmod-cli" --job transpose --amount 12 -o "$work/ours.mid" "$work/bench.mid")
read -r peer peer_peak < <(measure "$work/peer.mid" \
    bash -c 'midicsv_transpose "$@"' _ "$work/bench.mid" "$work/peer.mid" 12)

# The two converters alone, to tell the job's own share of the time.
read -r to_text _ < <(measure "$work/bench.txt" "$work/tool/mf2t" "$work/bench.mid" "$work/bench.txt")
"$work/tool/mf2t" "$work/bench.mid" "$work/bench.txt"
read -r to_midi _ < <(measure "$work/back.mid" "$work/tool/t2mf" "$work/bench.txt" "$work/back.mid")

echo "best of $runs runs each:"
report zelmod-cli "$ours" "$ours_peak"
report "  mf2t + t2mf" "$(awk -v a="$to_text" -v b="$to_midi" 'BEGIN { print a + b }')" 0
report "  the job's own" "$(awk -v o="$ours" -v a="$to_text" -v b="$to_midi" 'BEGIN { print o - a - b }')" 0
report "midicsv|awk|csvmidi" "$peer" "$peer_peak"
ratio "midicsv|awk|csvmidi" "$ours" "$peer" 5
if "$python" -c 'import mido' 2>/dev/null; then
    read -r mido mido_peak < <(measure "$work/mido.mid" \
        bash -c 'mido_transpose "$@"' _ "$work/bench.mid" "$work/mido.mid" 12)
    report mido "$mido" "$mido_peak"
    ratio mido "$ours" "$mido" ""
else
    echo "mido: python3-mido is not installed, skipped"
fi
awk -v m="$ours_peak" 'BEGIN {
    printf "peak memory of zelmod-cli and its converters: %.1f MiB (target < 16 MiB): %s\n",
        m / 1024, (m < 16384) ? "met" : "NOT MET" }'
