#!/usr/bin/env bash
# window_under_wine.sh LINUX_TOOLS WINDOWS_TOOLS [SCREENSHOT.png]: Zelmod.exe
# under Wine on the caller's X display (xvfb-run): it shows its window at the
# design size, runs a whole job through its real Open and Save dialogs
# (driven with xdotool) to exactly the Linux zelmod-cli's output, refuses a
# second start with its message, and writes its setup file with CR LF when
# it closes. With SCREENSHOT it also saves a picture of the window. Expects
# WINE, WINEPREFIX and WINEDEBUG in the environment.
set -euo pipefail
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
screenshot=${3:-}
scratch=$(mktemp -d)
cleanup() {
    "${WINE%/*}/wineserver64" -k 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
# A Wine session keeps the display of its first program: one left from runs
# without a display would show the window nowhere.
"${WINE%/*}/wineserver64" -k 2>/dev/null || true
tools="$scratch/Zel mod (試験)"
mkdir "$tools" "$scratch/data"
cp "$windows"/{Zelmod.exe,MF2T.EXE,T2MF.EXE} "$tools/"
# Wine has no Japanese font of its own.
cp /usr/share/fonts/opentype/ipafont-gothic/ipag*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

fail() {
    echo "window_under_wine: $*" >&2
    exit 1
}
windows_path() {
    local path=$1
    printf 'Z:%s' "${path//\//\\}"
}
# The visible window titled $1, waiting up to a minute for it.
window_named() {
    timeout 60 xdotool search --sync --onlyvisible --name "$1" | head -1
}
# Waits until a window other than the given ones shows and gives it.
next_window() {
    local window
    for _ in $(seq 600); do
        for window in $(xdotool search --onlyvisible --name . 2>/dev/null); do
            [[ " $* " == *" $window "* ]] || { echo "$window"; return; }
        done
        sleep 0.1
    done
    fail "no new window showed"
}
# Fails unless window $1 is titled $2.
expect_title() {
    local title
    title=$(xdotool getwindowname "$1")
    [ "$title" = "$2" ] || fail "a window titled '$title' where '$2' was expected"
}

hex=4d546864000000060000000100604d54726b0000000b00903c40603c0000ff2f00
printf "$(sed 's/../\\x&/g' <<<"$hex")" >"$scratch/data/in.mid"
"$linux/zelmod-cli" --job pitch-mirror -o "$scratch/expected.mid" "$scratch/data/in.mid" >/dev/null

"$WINE" "$tools/Zelmod.exe" >/dev/null 2>&1 &
first=$!
main=$(window_named '^Zelmod$' || true)
[ -n "$main" ] || fail "no window within a minute"
eval "$(xdotool getwindowgeometry --shell "$main")"
[ "${WIDTH}x${HEIGHT}" = 493x552 ] || fail "the window is ${WIDTH}x${HEIGHT}, not 493x552"
sleep 1
if [ -n "$screenshot" ]; then
    xwd -silent -id "$main" | xwdtopnm 2>/dev/null | pnmtopng >"$screenshot"
fi

# The start button has the focus; each dialog starts in its file name box.
xdotool windowfocus --sync "$main" key space
open=$(next_window "$main")
xdotool type --delay 20 "$(windows_path "$scratch/data/in.mid")"
xdotool key Return
save=$(next_window "$main" "$open")
xdotool type --delay 20 "$(windows_path "$scratch/data/out.mid")"
xdotool key Return
message=$(next_window "$main" "$open" "$save")
expect_title "$message" '(?)<変換完了！'
cmp -s "$scratch/data/out.mid" "$scratch/expected.mid" ||
    fail "the job's output is not the Linux zelmod-cli's"
xdotool key Return

"$WINE" "$tools/Zelmod.exe" >/dev/null 2>&1 &
second=$!
refusal=$(next_window "$main" "$open" "$save" "$message")
expect_title "$refusal" Zelmod
xdotool windowfocus --sync "$refusal" key Return
timeout 60 tail --pid="$second" -f /dev/null || fail "the second start did not end"

# Closing rewrites the setup file, which the start wrote already.
rm "$tools/Zelmod.dat"
xdotool windowfocus --sync "$main" key alt+F4
timeout 60 tail --pid="$first" -f /dev/null || fail "the window did not close"
[ "$(od -An -c "$tools/Zelmod.dat" | tr -s ' ')" = "$(printf 'Zelmod Setup File Ver.1.00\r\n' | od -An -c | tr -s ' ')" ] ||
    fail "the setup file is not one line ending CR LF"
echo "window_under_wine: the window, a whole job, the second start and the setup file as expected"
