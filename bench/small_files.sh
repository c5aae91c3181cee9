#!/usr/bin/env bash
# Times zelmod-cli on a collection: 2,000 small real pieces (the corpus's
# pieces under 30 KB, copied round) in 20 folders, transposed by 12 into a
# mirrored tree. Against it: the midicsv | awk | csvmidi loop, a file at a
# time, and one Node.js process with the npm package midi-file (parse,
# transpose, write). The commands alternate in every round. Prints files
# per second, the ratios and the peak memory a job.
# Run by hand after building:
#   cmake --build build --target zelmod-cli
#   npm install --prefix build/node midi-file   # not committed
#   bench/small_files.sh build
# FOLDERS (20) x PER_FOLDER (100) pieces, ROUNDS (3) rounds; the midicsv loop
# converts PEER_FILES (200) of them a round, being slow. Needs midicsv, node,
# taskset and time (/usr/bin/time). Builds nothing.
set -euo pipefail

build=${1:?usage: bench/small_files.sh BUILD_DIR}
folders=${FOLDERS:-20}
per_folder=${PER_FOLDER:-100}
rounds=${ROUNDS:-3}
peer_files=${PEER_FILES:-200}
corpus=${CORPUS:-$(dirname "$0")/../../shared/corpus/music}
. "$(dirname "$0")/common.sh"
require small_files.sh "$build/tool/zelmod-cli" midicsv csvmidi node taskset /usr/bin/time
[ -d "$build/node/node_modules/midi-file" ] ||
    { echo "small_files.sh: npm install --prefix $build/node midi-file" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tool" "$work/in"
cp "$build/tool/zelmod-cli" "$work/tool/"
mapfile -t pieces < <(find "$corpus" -name '*.mid' -size -30k | sort)
files=$((folders * per_folder))
for ((i = 0; i < files; i++)); do
    folder=$work/in/folder$((i % folders))
    mkdir -p "$folder"
    cp "${pieces[i % ${#pieces[@]}]}" "$folder/piece$i.mid"
done
find "$work/in" -name '*.mid' | sort >"$work/all.txt"
head -n "$peer_files" "$work/all.txt" >"$work/peer.txt"
echo "$files pieces of $(du -sk "$work/in" | cut -f1) KiB in $folders folders" \
    "(${#pieces[@]} corpus pieces copied round), $rounds rounds"

cat >"$work/transpose.js" <<'JS'
// One process: every file of the list parsed, transposed and written.
const fs = require('fs'), path = require('path');
const { parseMidi, writeMidi } = require(process.argv[2]);
const [, , , list, root, out, shift] = process.argv;
for (const file of fs.readFileSync(list, 'utf8').split('\n').filter(Boolean)) {
    const song = parseMidi(fs.readFileSync(file));
    for (const track of song.tracks)
        for (const e of track)
            if ((e.type === 'noteOn' || e.type === 'noteOff') && e.channel !== 9)
                e.noteNumber = Math.min(127, Math.max(0, e.noteNumber + Number(shift)));
    const target = path.join(out, path.relative(root, file));
    fs.mkdirSync(path.dirname(target), { recursive: true });
    fs.writeFileSync(target, Buffer.from(writeMidi(song)));
}
JS

# timed NAME FILES COMMAND...: runs it, appends "NAME seconds peak_KiB
# files processor_seconds" to the figures. On a shared machine the
# processor time (user and system, children included) is the steadier.
timed() {
    local name=$1 count=$2; shift 2
    local start=$EPOCHREALTIME
    /usr/bin/time -f "%M %U %S" -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" ||
        { cat "$work/err.txt" >&2; exit 1; }
    tail -n 1 "$work/time.txt" | awk -v n="$name" -v c="$count" -v s="$start" -v e="$EPOCHREALTIME" \
        '{ printf "%s %.4f %d %d %.3f\n", n, e - s, $1, c, $2 + $3 }' >>"$work/figures.txt"
}
ours() { "$work/tool/zelmod-cli" --quiet --job transpose --amount 12 -j "$1" --out-dir "$out" "$work/in"; }
peer_loop() {
    while read -r f; do midicsv_transpose "$f" "$work/peer.mid" 12; done <"$work/peer.txt"
}
export -f midicsv_transpose ours peer_loop
export work out

# Every run writes a fresh tree, and the trees go only at the end: ext4
# passes over the inodes freed in the last minute when it makes a file, so
# removing 2,000 outputs before each run would time the file system's
# search more than the programs (a third of the processor time here).
: >"$work/figures.txt"
for ((r = 0; r < rounds; r++)); do
    out=$work/out/j1.$r && timed j1 "$files" bash -c 'ours 1'
    out=$work/out/node.$r && timed node "$files" node "$work/transpose.js" \
        "$(realpath "$build/node/node_modules/midi-file")" "$work/all.txt" "$work/in" "$out" 12
    timed peer "$peer_files" bash -c peer_loop
    out=$work/out/j2.$r && timed j2 "$files" bash -c 'ours 2'
    out=$work/out/j1cpu.$r && timed j1cpu "$files" taskset -c 0 bash -c 'ours 1'
done

# The median files per second of each command, and its largest peak.
median_rate() {
    awk -v n="$1" '$1 == n { print $4 / $2 }' "$work/figures.txt" | sort -g |
        awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
peak() { awk -v n="$1" '$1 == n && $3 > m { m = $3 } END { print m }' "$work/figures.txt"; }
# The median processor milliseconds a file.
median_cpu() {
    awk -v n="$1" '$1 == n { print $5 * 1000 / $4 }' "$work/figures.txt" | sort -g |
        awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
j1=$(median_rate j1) j2=$(median_rate j2) node=$(median_rate node) peer=$(median_rate peer)
awk -v j1="$j1" -v j2="$j2" -v node="$node" -v peer="$peer" \
    -v p1="$(peak j1)" -v p2="$(peak j2)" -v pn="$(peak node)" 'BEGIN {
    printf "median files per second over the rounds:\n"
    printf "  zelmod-cli -j 1                 %8.1f   peak %5.1f MiB\n", j1, p1 / 1024
    printf "  zelmod-cli -j 2                 %8.1f   peak %5.1f MiB, %.1f MiB a job\n", j2, p2 / 1024, p2 / 2048
    printf "  node + midi-file, one process   %8.1f   peak %5.1f MiB\n", node, pn / 1024
    printf "  midicsv|awk|csvmidi loop        %8.1f\n", peer }'
printf 'median processor ms a file: -j 1 %.2f, -j 2 %.2f, node %.2f, midicsv loop %.2f\n' \
    "$(median_cpu j1)" "$(median_cpu j2)" "$(median_cpu node)" "$(median_cpu peer)"
awk '{ printf "%s%s %.1f/s", (NR > 1 ? "," : "each run:"), $1, $4 / $2 } END { printf "\n" }' "$work/figures.txt"
# ratio takes times: one second over each rate.
inverse() { awk -v r="$1" 'BEGIN { print 1 / r }'; }
ratio "zelmod-cli -j 1" "the midicsv loop" "$(inverse "$j1")" "$(inverse "$peer")" 5
ratio "zelmod-cli -j 1" "node + midi-file" "$(inverse "$j1")" "$(inverse "$node")" 1.5
ratio "zelmod-cli -j 2" "zelmod-cli -j 1" "$(inverse "$j2")" "$(inverse "$j1")" 1.8
# -j 1 commits its files and keeps its records on threads beside its slot,
# which use the second processor when it is free; on one processor it pays
# for them as -j 2 does. No target: it shows what the slots scale by.
ratio "zelmod-cli -j 2" "zelmod-cli -j 1 on one processor" \
    "$(inverse "$j2")" "$(inverse "$(median_rate j1cpu)")"
awk -v p="$(peak j1)" 'BEGIN { printf "peak memory of a job (-j 1): %.1f MiB (target < 16 MiB): %s\n",
    p / 1024, (p < 16384) ? "met" : "NOT MET" }'
