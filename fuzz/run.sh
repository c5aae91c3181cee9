#!/usr/bin/env bash
# fuzz/run.sh BUILD [CORPUS]: runs every libFuzzer target built in BUILD.
# Each target first replays its kept failing inputs (fuzz/regressions/TARGET),
# then fuzzes for FUZZ_SECONDS (30 by default) from the seeds that
# make_fuzz_seeds writes (and the corpus folder, when given) and from what
# earlier runs found (BUILD/corpus/TARGET). Any crash, broken property, leak,
# timeout or allocation over the limits fails the run, and the input that
# failed is copied to fuzz/regressions/TARGET so that every later run replays it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
corpus=${2:-}
seconds=${FUZZ_SECONDS:-30}
# An input that takes ten seconds hangs; no input needs a large block.
limits=(-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256)

seeds=$build/seeds
rm -rf "$seeds"
if [ -n "$corpus" ] && [ -d "$corpus" ]; then
    "$build/make_fuzz_seeds" "$seeds" "$corpus"
else
    echo "fuzz: no corpus at '${corpus}'; seeding from generated files only" >&2
    "$build/make_fuzz_seeds" "$seeds"
fi

# Copies what libFuzzer kept of a failure into the regression folder.
keep_failures() {
    local target=$1 artifacts=$2
    mkdir -p "$here/regressions/$target"
    for input in "$artifacts"/*; do
        [ -f "$input" ] || continue
        case $(basename "$input") in slow-unit-*) continue ;; esac
        cp "$input" "$here/regressions/$target/"
        echo "fuzz: kept fuzz/regressions/$target/$(basename "$input"); commit it with the fix" >&2
    done
}

failed=()
summary=()
for exe in "$build"/fuzz_*; do
    [ -x "$exe" ] || continue
    target=$(basename "$exe")
    work=$build/corpus/$target
    artifacts=$build/artifacts/$target
    log=$build/$target.log
    rm -rf "$artifacts"
    mkdir -p "$work" "$artifacts"
    options=("${limits[@]}" -artifact_prefix="$artifacts/")
    [ -f "$seeds/$target.dict" ] && options+=(-dict="$seeds/$target.dict")

    regressions=("$here/regressions/$target"/*)
    if [ -f "${regressions[0]}" ]; then
        echo "fuzz: $target: replaying ${#regressions[@]} regression inputs" >&2
        if ! "$exe" "${options[@]}" "${regressions[@]}" >"$log" 2>&1; then
            tail -n 40 "$log" >&2
            failed+=("$target (regression input)")
            continue
        fi
    fi

    echo "fuzz: $target: fuzzing for $seconds s" >&2
    status=0
    "$exe" "${options[@]}" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 \
        "$work" "$seeds/$target" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    summary+=("$target: ${runs:-?} executions, exit status $status")
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$log" >&2
        keep_failures "$target" "$artifacts"
        failed+=("$target")
    fi
done

[ ${#summary[@]} -eq 0 ] || printf 'fuzz: %s\n' "${summary[@]}" >&2
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: FAILED: ${failed[*]} (logs in $build/*.log)" >&2
    exit 1
fi
echo "fuzz: every target ran clean" >&2
