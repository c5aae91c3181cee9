#!/usr/bin/env bash
# cli_under_wine.sh LINUX_TOOLS WINDOWS_TOOLS: zelmod-cli.exe under Wine
# where Windows has roads of its own: relative and Japanese paths, a
# read-only leftover and a missing converter, an installed copy and one in a
# folder that everyone may write to, both of which work in %LOCALAPPDATA%
# (all with --batch-files, which works in the working folder and runs the
# converters' programs through cmd.exe). Each case runs from a fresh copy of
# the tool's folder, open to its owner and readable by others, and must exit
# as expected, write exactly the Linux zelmod-cli's output (or none) and
# leave that folder as it was but for a removed Zeltmps.txt. Wine gives a
# folder an access list from its mode: o+w is an entry that lets Everyone
# write. Expects WINE, WINEPREFIX and WINEDEBUG in the environment.
set -euo pipefail
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
tools="$scratch/Zel mod 100% & ^ (試験)"
work="$scratch/作業 a&b"
mkdir "$work"

windows_path() {
    local path=$1
    printf 'Z:%s' "${path//\//\\}"
}

# Format 0, one track, a note on and off: small, and every job changes it.
hex=4d546864000000060000000100604d54726b0000000b00903c40603c0000ff2f00
printf "$(sed 's/../\\x&/g' <<<"$hex")" >"$work/in.mid"
cp "$work/in.mid" "$work/入力.mid"
"$linux/zelmod-cli" --job transpose --amount 5 -o "$scratch/expected.mid" "$work/in.mid" >/dev/null

plain() { :; }
read_only_leftover() {
    echo stale >"$tools/Zeltmps.txt"
    chmod a-w "$tools/Zeltmps.txt"
}
no_t2mf() { rm "$tools/T2MF.EXE"; }
# Another user's file in a work file's place, which a job working elsewhere
# leaves alone.
planted() { echo "another user's" >"$tools/Zeltmp2.dat"; }
installed() {
    touch "$tools/zelmod-installed"
    planted
}
open_to_all() {
    chmod o+w "$tools"
    planted
}

# name | set-up | exit status | output (in the working folder), or - for none |
# arguments, separated by ;
cases=(
    "absolute paths|plain|0|out.mid|-o;$(windows_path "$work/out.mid");$(windows_path "$work/in.mid")"
    "relative paths|plain|0|out.mid|-o;out.mid;in.mid"
    "Japanese names|plain|0|出力.mid|-o;出力.mid;入力.mid"
    "a read-only leftover is removed|read_only_leftover|0|out.mid|--batch-files;-o;out.mid;in.mid"
    "a missing converter fails|no_t2mf|1|-|--batch-files;-o;out.mid;in.mid"
    "an installed copy works in LOCALAPPDATA|installed|0|out.mid|--batch-files;-o;out.mid;in.mid"
    "a copy in a folder all may write to works in LOCALAPPDATA|open_to_all|0|out.mid|--batch-files;-o;out.mid;in.mid"
)

failures=0
for entry in "${cases[@]}"; do
    IFS='|' read -r name setup status output arguments <<<"$entry"
    rm -rf "$tools" "$work"/out.mid "$work"/出力.mid
    mkdir -m 755 "$tools"
    cp "$windows"/{MF2T.EXE,T2MF.EXE,zelmod-cli.exe} "$tools/"
    "$setup"
    before=$(cd "$tools" && ls -A | grep -v '^Zeltmps.txt$' || true)
    IFS=';' read -r -a words <<<"$arguments"
    actual=0
    (cd "$work" && "$WINE" "$(windows_path "$tools/zelmod-cli.exe")" --job transpose --amount 5 \
        "${words[@]}") >"$scratch/log" 2>&1 || actual=$?
    problem=
    if [ "$actual" -ne "$status" ]; then
        problem="exit status $actual, not $status"
    elif [ "$output" = - ] && compgen -G "$work/*out*.mid" >/dev/null; then
        problem="wrote an output"
    elif [ "$output" != - ] && ! cmp -s "$work/$output" "$scratch/expected.mid"; then
        problem="$output is not the Linux zelmod-cli's output"
    elif [ "$(cd "$tools" && ls -A)" != "$before" ]; then
        problem="the tool's folder changed: $(cd "$tools" && ls -A | tr '\n' ' ')"
    elif [ "$status" -ne 0 ] && grep -q '変換完了' "$scratch/log"; then
        problem="reported success"
    fi
    if [ -n "$problem" ]; then
        echo "cli_under_wine: $name: $problem" >&2
        iconv -f CP932 -t UTF-8 "$scratch/log" >&2 || cat "$scratch/log" >&2
        failures=$((failures + 1))
    fi
done
echo "cli_under_wine: ${#cases[@]} cases, $failures failed"
[ "$failures" -eq 0 ]
