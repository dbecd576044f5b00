# Cases that .ci/memcheck and .ci/sanitize run pixtab on, under a checker.
# Sourced, not run.  The caller defines two functions:
#   case_exec DIR ARGS...      runs pixtab ARGS... (under its checker, which
#                              may write DIR/checker.log); cwd is DIR,
#                              stdout and stderr are already redirected
#   case_check DIR STATUS      returns non-zero when the checker found an
#                              error in the run that exited with STATUS
# and then calls run_all_cases LABEL SCRATCH_DIR.  The seed corpus gives one file
# of each layout; fuzz/make_corpus.py --bad writes the broken inputs.

CASES_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cases_failed=0
cases_run=0

# run_case NAME STATUS STDERR_TAIL [IN [OUT]]
# Runs pixtab IN [OUT] in a fresh directory and checks the exit status, the
# last lines of stderr (STDERR_TAIL, "" meaning stderr must be empty), that
# a successful run wrote a table, and the checker's verdict.
run_case() {
    local name=$1 want_status=$2 want_tail=$3
    shift 3
    local dir="$cases_scratch/case-$cases_run"
    mkdir -p "$dir"
    cases_run=$((cases_run + 1))

    local status=0
    (cd "$dir" && case_exec "$dir" "$@" >"$dir/stdout" 2>"$dir/stderr") || status=$?

    local problems=()
    if ! case_check "$dir" "$status"; then
        problems+=("the checker reported errors")
    fi
    if [ "$status" != "$want_status" ]; then
        problems+=("exit status $status, expected $want_status")
    fi
    local tail=""
    if [ -n "$want_tail" ]; then
        tail=$(tail -n "$(printf '%s\n' "$want_tail" | wc -l)" "$dir/stderr")
    elif [ -s "$dir/stderr" ]; then
        tail="(not empty)"
    fi
    if [ "$tail" != "$want_tail" ]; then
        problems+=("stderr ends '$tail', expected '$want_tail'")
    fi
    if [ "$want_status" = 0 ] && [ ! -s "$dir/${2:-vystup.txt}" ]; then
        problems+=("no table written")
    fi

    if [ ${#problems[@]} -eq 0 ]; then
        echo "ok   $name"
        return
    fi
    cases_failed=$((cases_failed + 1))
    local p
    echo "FAIL $name (pixtab $*):"
    for p in "${problems[@]}"; do
        echo "     $p"
    done
    echo "---- stderr"
    cat "$dir/stderr"
    if [ -f "$dir/checker.log" ]; then
        echo "---- checker log"
        cat "$dir/checker.log"
    fi
    echo "----"
}

run_all_cases() {
    local label=$1
    shift
    cases_scratch=$1
    local corpus="$CASES_ROOT/fuzz/corpus" bad="$1/bad" f
    python3 "$CASES_ROOT/fuzz/make_corpus.py" --bad "$bad"

    # Every layout of the seed corpus (interlaced and 16-bit ones among them).
    for f in "$corpus"/*.png; do
        run_case "$(basename "$f")" 0 "" "$f" out.txt
    done
    run_case "default output name" 0 "" "$corpus/rgba8.png"

    local readerr="chyba pri cteni obrazku" writeerr="chyba pri zapisu tabulky"
    for f in not-a-png empty signature-only cut-short bad-zlib too-little-data \
             bad-filter bad-crc no-palette; do
        run_case "$f.png" 1 "$readerr" "$bad/$f.png" out.txt
    done
    run_case "100000x100000 RGBA header" 1 "obrazek je prilis velky
$readerr" "$bad/huge.png" out.txt
    run_case "missing input" 1 "soubor '$1/none.png' nelze otevrit
$readerr" "$1/none.png" out.txt
    run_case "output in a missing directory" 1 "soubor '$1/none/out.txt' nelze otevrit
$writeerr" "$corpus/rgb16.png" "$1/none/out.txt"
    run_case "output to a full device" 1 "soubor '/dev/full' nelze zapsat
$writeerr" "$corpus/pal8-interlaced.png" /dev/full
    run_case "no arguments" 1 ""

    echo "$label: $((cases_run - cases_failed)) passed, $cases_failed failed"
    [ "$cases_failed" -eq 0 ]
}
