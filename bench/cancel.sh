#!/usr/bin/env bash
# Interrupts zelmod-cli (SIGINT) while it rewrites the event text of a file of
# four million notes, about 200 MB of text, and prints how long it took to
# end, whether the old output was kept and what it left in its folder.
# Run by hand after building:
#   cmake --build build --target zelmod-cli mf2t t2mf make_bench_midi
#   bench/cancel.sh build
# Builds nothing.
set -euo pipefail

build=${1:?usage: bench/cancel.sh BUILD_DIR}
runs=${RUNS:-3}
. "$(dirname "$0")/common.sh"
require cancel.sh "$build/tool/zelmod-cli" "$build/tool/mf2t" "$build/tool/t2mf" \
    "$build/bench/make_bench_midi"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tool"
cp "$build/tool/zelmod-cli" "$build/tool/mf2t" "$build/tool/t2mf" "$work/tool/"
"$build/bench/make_bench_midi" "$work/big.mid" 250000
"$work/tool/mf2t" "$work/big.mid" "$work/big.txt"
echo "event text: $(stat -c %s "$work/big.txt") bytes"
rm "$work/big.txt"

rewritten() { stat -c %s "$work/tool/Zeltmpd.txt" 2>/dev/null || echo 0; }

for ((i = 0; i < runs; i++)); do
    echo "the old output" >"$work/out.mid"
    "$work/tool/zelmod-cli" --job transpose --amount 12 -o "$work/out.mid" "$work/big.mid" \
        2>/dev/null &
    cli=$!
    # Well into the rewrite: a fifth of the text written.
    until [ "$(rewritten)" -gt 40000000 ]; do sleep 0.002; done
    start=$EPOCHREALTIME
    kill -INT "$cli"
    status=0
    wait "$cli" || status=$?
    end=$EPOCHREALTIME
    left=$(ls -A "$work/tool" | grep -v -x -e zelmod-cli -e mf2t -e t2mf || true)
    kept=changed
    [ "$(cat "$work/out.mid")" = "the old output" ] && kept=kept
    awk -v s="$start" -v e="$end" -v c="$status" -v k="$kept" -v l="${left:-nothing}" \
        'BEGIN { printf "interrupt to end: %.0f ms, exit %d, old output %s, left: %s\n", (e - s) * 1000, c, k, l }'
done
