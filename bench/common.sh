# Shared by the benchmark scripts: checks, timing and the printed figures.
# Expects $work (a scratch folder) and $runs to be set by the script.

# require SCRIPT PATH_OR_COMMAND...: stops unless every one is there.
require() {
    local script=$1; shift
    for needed in "$@"; do
        if [[ $needed == */* ]]; then
            [ -x "$needed" ] || { echo "$script: $needed is not built" >&2; exit 1; }
        else
            command -v "$needed" >/dev/null || { echo "$script: $needed is missing" >&2; exit 1; }
        fi
    done
}

# measure OUT COMMAND...: prints the best wall time of $runs runs in seconds
# and the largest peak resident set size in KiB. OUT is removed before every
# run, so no run pays for replacing the previous run's file. The peak that
# time reports is that of the largest single process, the command or a child.
measure() {
    local out=$1; shift
    local peak=0 start end rss
    : >"$work/times.txt"
    for ((i = 0; i < runs; i++)); do
        rm -f "$out"
        start=$EPOCHREALTIME
        /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null
        end=$EPOCHREALTIME
        awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f\n", e - s }' >>"$work/times.txt"
        rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
        ((rss > peak)) && peak=$rss
    done
    echo "$(sort -n "$work/times.txt" | head -n 1) $peak"
}

# The peer of a transposing job: every note of channels other than 10 moved
# by SHIFT and kept within 0..127.
midicsv_transpose() { # IN OUT SHIFT
    midicsv "$1" | awk -v k="$3" 'BEGIN { FS = OFS = ", " }
        ($3 == "Note_on_c" || $3 == "Note_off_c") && $4 != 9 {
            n = $5 + k; if (n < 0) n = 0; if (n > 127) n = 127; $5 = n }
        { print }' | csvmidi - "$2"
}

report() { # NAME SECONDS [PEAK_KIB]
    awk -v n="$1" -v t="$2" -v m="${3:-}" 'BEGIN {
        printf "%-20s %7.3f s", n, t
        if (m != "") printf "   peak %6.1f MiB", m / 1024
        printf "\n" }'
}

ratio() { # FAST SLOW FAST_SECONDS SLOW_SECONDS [TARGET]
    awk -v f="$1" -v s="$2" -v a="$3" -v b="$4" -v t="${5:-}" 'BEGIN {
        r = b / a
        printf "%s is %.2fx as fast as %s", f, r, s
        if (t != "") printf " (target >= %sx): %s", t, (r >= t) ? "met" : "NOT MET"
        printf "\n" }'
}
