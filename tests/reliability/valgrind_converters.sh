#!/usr/bin/env bash
# valgrind_converters.sh TOOL_DIR CORPUS: runs mf2t on every MIDI file of the
# corpus, and t2mf on every text mf2t writes, under valgrind's memcheck. Any
# memory error or leak fails the run; so does a converter that crashes, and
# t2mf refusing text that mf2t wrote. mf2t refusing a damaged file is its job.
set -euo pipefail
tools=$1
corpus=$2
if [ ! -d "$corpus" ]; then
    echo "valgrind: no corpus at '$corpus': nothing to check" >&2
    exit 0
fi
memory_error=99
memcheck=(valgrind --tool=memcheck --quiet --error-exitcode=$memory_error --leak-check=full
          --errors-for-leak-kinds=definite,indirect,possible)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# run_checked ALLOWED_STATUSES TOOL IN OUT: false, with the log shown, unless
# the tool ended with one of the allowed statuses.
run_checked() {
    local allowed=$1 tool=$2 status=0
    "${memcheck[@]}" "$tools/$tool" "$3" "$4" >"$scratch/log" 2>&1 || status=$?
    case " $allowed " in *" $status "*) return 0 ;; esac
    echo "valgrind: $tool $3: exit status $status" >&2
    cat "$scratch/log" >&2
    return 1
}

files=0
failures=0
while IFS= read -r -d '' midi; do
    files=$((files + 1))
    rm -f "$scratch/out.txt" "$scratch/out.mid"
    run_checked "0 1" mf2t "$midi" "$scratch/out.txt" || { failures=$((failures + 1)); continue; }
    [ -f "$scratch/out.txt" ] || continue
    run_checked "0" t2mf "$scratch/out.txt" "$scratch/out.mid" || failures=$((failures + 1))
done < <(find "$corpus" -type f -name '*.mid' -print0 | sort -z)

echo "valgrind: $files corpus files through mf2t and t2mf, $failures failed" >&2
[ "$files" -gt 0 ] && [ "$failures" -eq 0 ]
