#!/usr/bin/env bash
# corpus_round_trip.sh LINUX_TOOLS WINDOWS_TOOLS CORPUS: every well-formed
# and irregular corpus file goes through MF2T.EXE and T2MF.EXE under Wine
# (one batch file for all, so Wine starts once). The event text must be
# byte-identical to the Linux mf2t's, and the MIDI file must come back byte
# for byte. Then zelmod-cli.exe rewrites them all, and each output (or its
# absence) and the exit status must be the Linux zelmod-cli's. The Windows
# programs run from a copy of their folder whose path holds characters that
# the command interpreter treats specially, and Japanese. Expects WINE,
# WINEPREFIX and WINEDEBUG in the environment.
set -euo pipefail
linux=$1
windows=$2
corpus=$3
if [ ! -f "$corpus/manifest.tsv" ]; then
    echo "corpus_round_trip: no corpus at '$corpus': nothing to check" >&2
    exit 0
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

tools="$scratch/Tools 100% & ^ (試験)"
mkdir "$tools"
cp "$windows"/{MF2T.EXE,T2MF.EXE,zelmod-cli.exe} "$tools/"

# Z: is the root of the Unix file system in every Wine prefix.
windows_path() {
    local path=$1
    printf 'Z:%s' "${path//\//\\}"
}
# In a batch file, % is expanded even inside quotes.
batch_path() {
    local path
    path=$(windows_path "$1")
    printf '%s' "${path//%/%%}"
}
mf2t=$(batch_path "$tools/MF2T.EXE")
t2mf=$(batch_path "$tools/T2MF.EXE")

files=()
while IFS=$'\t' read -r file category _; do
    case $category in wellformed | irregular) files+=("$file") ;; esac
done <"$corpus/manifest.tsv"

# run_batch NAME INDEX...: both converters for each file, in one batch file.
run_batch() {
    local name=$1; shift
    {
        echo '@echo off'
        for i in "$@"; do
            echo "\"$mf2t\" $i.mid $i.txt"
            echo "\"$t2mf\" $i.txt $i.back.mid"
        done
    } | sed 's/$/\r/' | iconv -f UTF-8 -t CP932 >"$scratch/$name"
    (cd "$scratch" && "$WINE" cmd /d /c "$name")
}
for i in "${!files[@]}"; do cp "$corpus/${files[i]}" "$scratch/$i.mid"; done
run_batch all.bat "${!files[@]}"
# Wine now and then fails to start a program, which cmd reports as not
# found; files left without an output go through once more.
missing=()
for i in "${!files[@]}"; do
    [ -f "$scratch/$i.txt" ] && [ -f "$scratch/$i.back.mid" ] || missing+=("$i")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "corpus_round_trip: ${#missing[@]} files without an output, run again" >&2
    run_batch again.bat "${missing[@]}"
fi

same_text=0
same_midi=0
for i in "${!files[@]}"; do
    "$linux/mf2t" "$scratch/$i.mid" "$scratch/$i.linux.txt"
    if cmp -s "$scratch/$i.txt" "$scratch/$i.linux.txt"; then
        same_text=$((same_text + 1))
    else
        echo "corpus_round_trip: ${files[i]}: MF2T.EXE's text differs from mf2t's" >&2
    fi
    if cmp -s "$scratch/$i.back.mid" "$scratch/$i.mid"; then
        same_midi=$((same_midi + 1))
    else
        echo "corpus_round_trip: ${files[i]}: does not come back byte for byte" >&2
    fi
done

# One zelmod-cli run for all files on each system, as a batch job would.
linux_inputs=()
windows_inputs=()
for i in "${!files[@]}"; do
    linux_inputs+=("$scratch/$i.mid")
    windows_inputs+=("$(windows_path "$scratch/$i.mid")")
done
mkdir "$scratch/linux" "$scratch/windows"
job=(--job transpose --amount 5 --out-dir)
linux_status=0
"$linux/zelmod-cli" "${job[@]}" "$scratch/linux" "${linux_inputs[@]}" >/dev/null 2>&1 ||
    linux_status=$?
windows_status=0
(cd "$scratch" && "$WINE" "$(windows_path "$tools/zelmod-cli.exe")" "${job[@]}" \
    "$(windows_path "$scratch/windows")" "${windows_inputs[@]}") >/dev/null 2>&1 || windows_status=$?
same_output=0
# Both wrote the same bytes, or neither wrote anything.
same_result() {
    if [ -e "$1" ]; then cmp -s "$1" "$2"; else [ ! -e "$2" ]; fi
}
for i in "${!files[@]}"; do
    if same_result "$scratch/linux/$i.mid" "$scratch/windows/$i.mid"; then
        same_output=$((same_output + 1))
    else
        echo "corpus_round_trip: ${files[i]}: zelmod-cli.exe's output differs from zelmod-cli's" >&2
    fi
done
echo "corpus_round_trip: ${#files[@]} files; text identical to Linux for $same_text," \
    "back byte for byte for $same_midi, zelmod-cli's output the same for $same_output;" \
    "exit status $windows_status on Windows, $linux_status on Linux"
[ "$same_text" -eq "${#files[@]}" ] && [ "$same_midi" -eq "${#files[@]}" ] &&
    [ "$same_output" -eq "${#files[@]}" ] && [ "$windows_status" -eq "$linux_status" ]
