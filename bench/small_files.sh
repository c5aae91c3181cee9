#!/usr/bin/env bash
# Times zelmod-cli --job transpose --amount 12 --out-dir on many copies of a
# small piece against the midicsv | awk | csvmidi loop, a file at a time,
# the two alternated in every round, and prints where a file's time goes.
# Run by hand after building:
#   cmake --build build --target zelmod-cli mf2t t2mf make_bench_midi
#   bench/small_files.sh build
# FILES (200) copies, ROUNDS (5) rounds. Needs midicsv and time (/usr/bin/time).
# Builds nothing.
set -euo pipefail

build=${1:?usage: bench/small_files.sh BUILD_DIR}
files=${FILES:-200}
rounds=${ROUNDS:-5}
. "$(dirname "$0")/common.sh"
require small_files.sh "$build/tool/zelmod-cli" "$build/tool/mf2t" "$build/tool/t2mf" \
    "$build/bench/make_bench_midi" midicsv csvmidi /usr/bin/time

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tool=$work/tool
mkdir "$tool" "$work/in" "$work/ours" "$work/peer"
cp "$build/tool/zelmod-cli" "$build/tool/mf2t" "$build/tool/t2mf" "$tool/"
# 16 tracks of 103 notes: about the size of a short piano piece.
"$build/bench/make_bench_midi" "$work/piece.mid" 103
for ((i = 0; i < files; i++)); do cp "$work/piece.mid" "$work/in/song$i.mid"; done
echo "$files copies of a piece of $(stat -c %s "$work/piece.mid") bytes, $rounds rounds"

# per_file FUNCTION: runs it once and prints its wall time and its processor
# time (user and system, children included) a file, in ms. On a shared
# machine the processor time is the steadier of the two.
per_file() {
    /usr/bin/time -f "%e %U %S" -o "$work/time.txt" bash -c "$1" >/dev/null 2>&1
    awk -v n="$files" '{ printf "%.3f %.3f\n", $1 * 1000 / n, ($2 + $3) * 1000 / n }' "$work/time.txt"
}
ours() { "$tool/zelmod-cli" --job transpose --amount 12 --out-dir "$work/ours" "$work"/in/*.mid; }
peer() { for f in "$work"/in/*.mid; do midicsv_transpose "$f" "$work/peer/${f##*/}" 12; done; }
# The parts of a file's run: a bare process start from the loop (/bin/true,
# linked dynamically: a static converter may start faster), the two
# shells that start the converters, and each converter started alone.
starts() { for f in "$work"/in/*.mid; do /bin/true; done; }
shells() { for f in "$work"/in/*.mid "$work"/in/*.mid; do /bin/sh -c 'exec /bin/true'; done; }
to_text() { for f in "$work"/in/*.mid; do "$tool/mf2t" "$f" "$work/piece.txt"; done; }
to_midi() { for f in "$work"/in/*.mid; do "$tool/t2mf" "$work/piece.txt" "$work/back.mid"; done; }
export -f midicsv_transpose ours peer starts shells to_text to_midi
export tool work
"$tool/mf2t" "$work/piece.mid" "$work/piece.txt"

# One line a round: wall and processor ms a file of each command.
: >"$work/rounds.txt"
for ((r = 0; r < rounds; r++)); do
    rm -f "$work"/ours/* "$work"/peer/*
    line=
    for part in ours peer starts shells to_text to_midi; do
        line+="$(per_file "$part") "
    done
    echo "$line" >>"$work/rounds.txt"
done
cmp -s "$work/ours/song0.mid" "$work/peer/song0.mid" ||
    echo "note: the two outputs differ in their bytes (running status, note-off form)"

# The median round of each column, and the ratio in every round.
median() { cut -d' ' -f"$1" "$work/rounds.txt" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
medians=()
for column in {1..12}; do medians+=("$(median "$column")"); done
awk -v m="${medians[*]}" 'BEGIN {
    split(m, v, " ")
    printf "median a file over the rounds:          wall ms  processor ms\n"
    printf "  zelmod-cli --out-dir                  %7.2f %9.2f\n", v[1], v[2]
    printf "  midicsv|awk|csvmidi loop              %7.2f %9.2f\n", v[3], v[4]
    printf "where a file of zelmod-cli goes (the loops own starts taken out):\n"
    printf "  2 shells, each starting a program     %7.2f %9.2f\n", v[7] - 2 * v[5], v[8] - 2 * v[6]
    printf "  mf2t, beyond starting /bin/true       %7.2f %9.2f\n", v[9] - v[5], v[10] - v[6]
    printf "  t2mf, beyond starting /bin/true       %7.2f %9.2f\n", v[11] - v[5], v[12] - v[6]
    o = v[1] - (v[7] - 2 * v[5]) - (v[9] - v[5]) - (v[11] - v[5])
    p = v[2] - (v[8] - 2 * v[6]) - (v[10] - v[6]) - (v[12] - v[6])
    printf "  the job itself (copies, rewrite, sync, clean-up) %.2f %9.2f\n", o, p }'
awk '{ printf "%s%.2f/%.2f", (NR > 1 ? " " : ""), $3 / $1, $4 / $2 } END { printf "\n" }' \
    "$work/rounds.txt" | sed 's/^/ratio wall\/processor in each round: /'
ratio "zelmod-cli --out-dir" "the peer loop" "${medians[0]}" "${medians[2]}" 2
ratio "zelmod-cli --out-dir (processor time)" "the peer loop" "${medians[1]}" "${medians[3]}" 2
