#!/usr/bin/env bash
# Runs every libFuzzer target in BIN for SECONDS each over its seed corpus
# (tests/fuzz/corpus/<target>, never modified: new inputs go to a scratch
# folder) and prints executions and coverage. Non-zero exit on any crash.
#
#   scripts/run-fuzzers.sh BIN SECONDS
set -euo pipefail
bin=$1
seconds=$2
here=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zoc-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
status=0
printf '%-22s %12s %8s %8s\n' target executions cov features
for fuzzer in "$bin"/Fuzz*; do
    name=$(basename "$fuzzer")
    seeds="$here/tests/fuzz/corpus/$name"
    mkdir -p "$scratch/$name" "$seeds"
    log="$scratch/$name.log"
    if ! "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$scratch/" \
        "$scratch/$name" "$seeds" >"$log" 2>&1; then
        status=1
        echo "$name: FAILED" >&2
        tail -40 "$log" >&2
        cp "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* . 2>/dev/null || true
    fi
    runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    printf '%-22s %12s %8s %8s\n' "$name" "${runs:-?}" "${cov:-?}" "${ft:-?}"
done
exit $status
