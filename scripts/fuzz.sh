#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan/UBSan) and runs each in turn, then prints per
# target the executions, the seconds and the findings.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target, 300 by default; FUZZ_RUNS=N also ends a target after N executions.
# TARGET names a subset: json_reader http_headers sidecar registry_string format_message
# certificate_text.
# The corpora grow from run to run in build/fuzz/corpus/TARGET (seeded from tests/fuzz/seeds
# and, for the JSON reader, the reference manifests); a finding is kept in
# build/fuzz/findings/TARGET/ with the target's output in build/fuzz/logs/TARGET.log.
# Reproduce one with build/fuzz/tests/fuzz/TARGET_fuzz FILE. Exit status 1 when any target
# found something or failed to run.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
JOBS="${JOBS:-$(nproc)}"
BUILD=build/fuzz

seconds="${1:-300}"
[ $# -gt 0 ] && shift
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" = 0 ]; then
  echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2
  exit 2
fi
all_targets=(json_reader http_headers sidecar registry_string format_message certificate_text)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
  [[ " ${all_targets[*]} " == *" $t "* ]] || { echo "fuzz: unknown target $t" >&2; exit 2; }
done

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DOMBREL_TEST_BUILD=ON -DOMBREL_FUZZ=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target "${targets[@]/%/_fuzz}" >/dev/null

mkdir -p "$BUILD/corpus" "$BUILD/findings" "$BUILD/logs"
for t in "${targets[@]}"; do
  mkdir -p "$BUILD/corpus/$t" "$BUILD/findings/$t"
  if [ -d "tests/fuzz/seeds/$t" ]; then cp -n "tests/fuzz/seeds/$t"/* "$BUILD/corpus/$t/"; fi
done
if [[ " ${targets[*]} " == *" json_reader "* ]]; then
  python3 -c 'import base64,json,sys,pathlib
for i,l in enumerate(open(sys.argv[1])):
    pathlib.Path(sys.argv[2],"seed%03d"%i).write_bytes(base64.b64decode(json.loads(l)["body_b64"]))' \
    tests/data/manifest-public.jsonl "$BUILD/corpus/json_reader"
fi

failed=0
printf '%-16s %14s %9s %9s\n' target executions seconds findings
for t in "${targets[@]}"; do
  log="$BUILD/logs/$t.log"
  findings_dir="$BUILD/findings/$t"
  before=$(find "$findings_dir" -type f | wc -l)
  started=$(date +%s.%N)
  rc=0
  "$BUILD/tests/fuzz/${t}_fuzz" -max_total_time="$seconds" ${FUZZ_RUNS:+-runs="$FUZZ_RUNS"} \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings_dir/" \
    "$BUILD/corpus/$t" >"$log" 2>&1 || rc=$?
  elapsed=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(( $(find "$findings_dir" -type f | wc -l) - before ))
  [ "$rc" = 0 ] || [ "$found" -gt 0 ] || found="failed (exit $rc)"
  printf '%-16s %14s %9.1f %9s\n' "$t" "${executions:-?}" "$elapsed" "$found"
  if [ "$found" != 0 ]; then
    failed=1
    grep -E 'ERROR|invariant broken|SUMMARY|Test unit written' "$log" | head -5 | sed 's/^/    /'
  fi
done
exit $failed
