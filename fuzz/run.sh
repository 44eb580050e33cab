#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build over its corpus and prints one line per target:
# executions, coverage (libFuzzer's "cov:" edges and "ft:" features), corpus size.
#   fuzz/run.sh BUILD_DIR runs N      each target for N executions (fixed seed)
#   fuzz/run.sh BUILD_DIR time S      each target for S seconds
# Names after these (e.g. "package version") run only those targets.
# The working corpus grows in BUILD_DIR/fuzz/corpus/<target>; the seeds in fuzz/corpus/
# and the ones the build made (BUILD_DIR/fuzz/seeds/) are read, never written. A crash,
# a sanitizer report or a broken property leaves its input in BUILD_DIR/fuzz/artifacts/
# and makes the script fail.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?build folder}" && pwd)"
mode="${2:-runs}"
amount="${3:-20000}"
only=("${@:4}")

case "$mode" in
runs) limit=(-runs="$amount" -seed=1) ;;
time) limit=(-max_total_time="$amount") ;;
*) echo "run.sh: mode is 'runs' or 'time'" >&2; exit 2 ;;
esac

artifacts="$build/fuzz/artifacts"
logs="$build/fuzz/logs"
mkdir -p "$artifacts" "$logs"
failed=0
found=0
printf '%-28s %12s %8s %8s %8s  %s\n' target executions cov ft corpus result
for program in "$build"/fuzz/quillon-fuzz-*; do
    [ -x "$program" ] || continue
    found=$((found + 1))
    name="${program##*/quillon-fuzz-}"
    if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $name "* ]]; then
        continue
    fi
    corpus="$build/fuzz/corpus/$name"
    mkdir -p "$corpus"
    seeds=()
    for dir in "$here/corpus/$name" "$build/fuzz/seeds/$name"; do
        [ -d "$dir" ] && seeds+=("$dir")
    done
    # Package inputs: the seeds are a few KB; longer inputs only add payload bytes.
    extra=()
    target_limit=("${limit[@]}")
    case "$name" in
    package | info_command) extra=(-max_len=8192) ;;
    conversation)
        # Each execution is a whole upload (a babbling device may feed the start-up watch
        # a megabyte): a fixed-count run does a quarter as many, and slow inputs get a
        # smaller share of the time.
        extra=(-max_len=2048 -entropic_scale_per_exec_time=1)
        [ "$mode" = runs ] && target_limit=(-runs="$((amount / 4))" -seed=1)
        ;;
    esac
    log="$logs/$name.log"
    "$program" "${target_limit[@]}" "${extra[@]}" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$name-" "$corpus" "${seeds[@]}" >"$log" 2>&1
    status=$?
    # The last status line: "#N DONE cov: C ft: F corp: K/..." (or the last pulse).
    last="$(grep -E '^#[0-9]+' "$log" | tail -1)"
    execs="$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{print $2}')"
    cov="$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")"
    ft="$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")"
    corp="$(sed -nE 's/.* corp: ([0-9]+).*/\1/p' <<<"$last")"
    result=ok
    if [ $status -ne 0 ]; then
        result="FAILED (exit $status, see $log)"
        failed=1
    fi
    printf '%-28s %12s %8s %8s %8s  %s\n' "$name" "${execs:-?}" "${cov:-?}" "${ft:-?}" \
        "${corp:-?}" "$result"
done
if [ $found -eq 0 ]; then
    echo "run.sh: no fuzz targets in $build/fuzz" >&2
    exit 1
fi
exit $failed
