#!/usr/bin/env bash
# Times zelmod-cli --job transpose --amount 12 --out-dir on many copies of a
# small piece against the midicsv | awk | csvmidi loop, a file at a time,
# the two alternated in every round, and prints where a file's time goes.
# Run by hand after building:
#   cmake --build build --target zelmod-cli mf2t t2mf make_bench_midi
#   bench/small_files.sh build
# FILES (200) copies, ROUNDS (5) rounds. Needs midicsv. Builds nothing.
set -euo pipefail

build=${1:?usage: bench/small_files.sh BUILD_DIR}
files=${FILES:-200}
rounds=${ROUNDS:-5}
. "$(dirname "$0")/common.sh"
require small_files.sh "$build/tool/zelmod-cli" "$build/tool/mf2t" "$build/tool/t2mf" \
    "$build/bench/make_bench_midi" midicsv csvmidi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tool=$work/tool
mkdir "$tool" "$work/in" "$work/ours" "$work/peer"
cp "$build/tool/zelmod-cli" "$build/tool/mf2t" "$build/tool/t2mf" "$tool/"
# 16 tracks of 103 notes: about the size of a short piano piece.
"$build/bench/make_bench_midi" "$work/piece.mid" 103
for ((i = 0; i < files; i++)); do cp "$work/piece.mid" "$work/in/song$i.mid"; done
inputs=("$work"/in/*.mid)
echo "$files copies of a piece of $(stat -c %s "$work/piece.mid") bytes, $rounds rounds"

# per_file COMMAND...: runs it once and prints its wall time a file in ms.
per_file() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1
    awk -v s="$start" -v e="$EPOCHREALTIME" -v n="$files" 'BEGIN { printf "%.3f\n", (e - s) * 1000 / n }'
}
ours() { "$tool/zelmod-cli" --job transpose --amount 12 --out-dir "$work/ours" "${inputs[@]}"; }
peer() { for f in "${inputs[@]}"; do midicsv_transpose "$f" "$work/peer/${f##*/}" 12; done; }
# The parts of a file's run, each started the way a job starts it.
to_text() { for f in "${inputs[@]}"; do "$tool/mf2t" "$f" "$work/piece.txt"; done; }
to_midi() { for f in "${inputs[@]}"; do "$tool/t2mf" "$work/piece.txt" "$work/back.mid"; done; }
shells() { for f in "${inputs[@]}" "${inputs[@]}"; do /bin/sh -c 'exec /bin/true'; done; }
"$tool/mf2t" "$work/piece.mid" "$work/piece.txt"

: >"$work/rounds.txt"
for ((r = 0; r < rounds; r++)); do
    rm -f "$work"/ours/* "$work"/peer/*
    echo "$(per_file ours) $(per_file peer) $(per_file to_text) $(per_file to_midi)" \
        "$(per_file shells)" >>"$work/rounds.txt"
done
cmp -s "$work/ours/song0.mid" "$work/peer/song0.mid" ||
    echo "note: the two outputs differ in their bytes (running status, note-off form)"

# The median round of each column, and the spread of the ratio over the rounds.
median() { cut -d' ' -f"$1" "$work/rounds.txt" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
read -r ours_ms peer_ms text_ms midi_ms shell_ms < <(
    echo "$(median 1) $(median 2) $(median 3) $(median 4) $(median 5)")
awk -v o="$ours_ms" -v p="$peer_ms" -v a="$text_ms" -v b="$midi_ms" -v s="$shell_ms" 'BEGIN {
    printf "median a file over the rounds:\n"
    printf "  zelmod-cli --out-dir        %7.2f ms\n", o
    printf "  midicsv|awk|csvmidi loop    %7.2f ms\n", p
    printf "where a file of zelmod-cli goes:\n"
    printf "  mf2t, started alone         %7.2f ms\n", a
    printf "  t2mf, started alone         %7.2f ms\n", b
    printf "  2 shells starting a program %7.2f ms\n", s
    printf "  the job itself (the rest)   %7.2f ms\n", o - a - b - s }'
awk '{ r = $2 / $1; printf "%s%.2f", (NR > 1 ? " " : ""), r } END { printf "\n" }' \
    "$work/rounds.txt" | sed 's/^/ratio in each round: /'
ratio "zelmod-cli --out-dir" "the peer loop" "$ours_ms" "$peer_ms" 2
