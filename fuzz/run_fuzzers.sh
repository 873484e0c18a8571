#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time.
#   run_fuzzers.sh BUILD_DIR SECONDS [TARGET...]
# Each target starts from its seeds in fuzz/corpus/<target>, which are only read: what the
# fuzzer finds new goes to BUILD_DIR/work/<target>/corpus, reproducers beside it. Exits
# non-zero, naming each reproducer, when any target fails.
set -uo pipefail

build=${1:?build directory}
seconds=${2:?seconds per target}
shift 2
seeds_root=$(cd "$(dirname "$0")/corpus" && pwd)
if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for dir in "$seeds_root"/*/; do targets+=("$(basename "$dir")"); done
fi

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Options of single targets: the service mirrors its debug log on standard error.
extra_options() {
    case $1 in
    request_handling) echo "-close_fd_mask=2 -max_len=16384" ;;
    esac
}

failed=()
summary=()
for target in "${targets[@]}"; do
    binary=$build/bin/fuzz_$target
    work=$build/work/$target
    log=$work/fuzz.log
    if [ ! -x "$binary" ]; then
        echo "fuzz: no binary $binary for the seeds in $seeds_root/$target" >&2
        failed+=("$target")
        summary+=("FAIL  $target  not built")
        continue
    fi
    mkdir -p "$work/corpus"
    echo "fuzz: $target for ${seconds}s"
    # shellcheck disable=SC2046 # the extra options are separate words
    nice "$binary" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
        -artifact_prefix="$work/" $(extra_options "$target") \
        "$work/corpus" "$seeds_root/$target" >"$log" 2>&1
    status=$?
    stats=$(grep -E '^(Done|#[0-9]+[[:space:]]+DONE)' "$log" | tail -n 1)
    if [ $status -eq 0 ]; then
        summary+=("PASS  $target  ${stats:-(no statistics)}")
        continue
    fi
    reproducers=$(grep -o 'Test unit written to .*' "$log" | sed 's/^Test unit written to //')
    failed+=("$target")
    summary+=("FAIL  $target  exit status $status; reproducer: ${reproducers:-none written, see $log}")
    echo
    echo "========== fuzz target $target FAILED (exit status $status); end of $log:"
    tail -n 60 "$log"
    for path in $reproducers; do
        echo "reproducer: $path"
        echo "  rerun it: $binary $path"
    done
    echo "=========="
done

echo
echo "fuzz summary (${seconds}s per target):"
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: FAILED: ${failed[*]}" >&2
    exit 1
fi
