#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests
#   native (unit + integration), native with ASan/UBSan (+ a bounded fuzz run),
#   native with TSan (threading tests), the x86_64 MinGW build under wine64 (Windows back ends),
#   and the i686 product exe under Wine (end-to-end).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
export OMBREL_ROOT="$ROOT"
JOBS="${JOBS:-$(nproc)}"

if [ "$(id -u)" = 0 ]; then
  bash scripts/setup.sh
fi

start=$(date +%s)
declare -a summary=()
failed=0

stage() {  # stage NAME COMMAND...: runs a stage, records its result, goes on after a failure
  local name=$1; shift
  # STAGES="win64 win32" (the stage functions' names) runs only those, for a quicker check.
  if [ -n "${STAGES:-}" ] && [[ " $STAGES " != *" $1 "* ]]; then return 0; fi
  local t0=$(date +%s)
  echo "=== $name"
  if "$@"; then
    summary+=("$name: ok ($(( $(date +%s) - t0 )) s)")
  else
    summary+=("$name: FAILED ($(( $(date +%s) - t0 )) s)")
    failed=$((failed + 1))
  fi
}

build() {  # build PRESET [TARGETS...]
  local preset=$1; shift
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build --preset "$preset" -j "$JOBS" ${1:+--target "$@"}
}

ctest_run() {  # ctest_run PRESET [ctest args...]
  local preset=$1; shift
  ctest --preset "$preset" -j "$JOBS" --timeout 300 "$@"
}

# A display for the Windows programs (Wine's window driver needs one even for hidden windows).
source scripts/private-display.sh
start_private_display 90 99
trap stop_private_display EXIT

native() { build native && ctest_run native; }
# The one test that waits out the real 1+2+4+8 s retry pauses runs natively only: the same
# code runs under the sanitizers with the pauses injected.
asan() {
  build native-asan && ctest_run native-asan -E 'FailedAttemptsReallyPauseFifteenSeconds' && fuzz
}
# The JSON reader under libFuzzer (clang, ASan+UBSan) for a bounded time, seeded with the
# reference manifests.
fuzz() {
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DOMBREL_FUZZ=ON >/dev/null || return 1
  cmake --build build/fuzz -j "$JOBS" --target json_reader_fuzz || return 1
  mkdir -p build/fuzz/corpus
  python3 -c 'import base64,json,sys,pathlib
for i,l in enumerate(open(sys.argv[1])):
    pathlib.Path(sys.argv[2],"seed%03d"%i).write_bytes(base64.b64decode(json.loads(l)["body_b64"]))' \
    tests/data/manifest-public.jsonl build/fuzz/corpus || return 1
  build/fuzz/tests/fuzz/json_reader_fuzz -max_total_time="${FUZZ_SECONDS:-60}" -rss_limit_mb=2048 \
    -print_final_stats=0 build/fuzz/corpus 2>build/fuzz/fuzz.log || { tail -40 build/fuzz/fuzz.log; return 1; }
  echo "fuzz: ${FUZZ_SECONDS:-60} s of the JSON reader without a finding"
}
# The suites whose code or tests run threads: the worker and view model, the wake-up queue and
# process-wide caches, the translation store. The pipeline itself runs on one thread.
tsan() {
  build native-tsan app_tests platform_tests translations_tests ombrel_test_child &&
    ctest_run native-tsan -R '^(app|platform|translations)\.'
}
# Wine runs are retried once: a Windows program under Wine on a loaded machine occasionally
# stalls at start-up or exit, which is no fault of the program under test.
win64() { scripts/wine-prefix.sh && build win64-tests && ctest_run win64-tests -j 1 --repeat until-pass:2; }
# A second link of the same objects must give the same bytes (the end-to-end suite checks the
# header fields and paths that would differ between folders and times).
relink_check() {
  local exe="build/win32/app/Install Ombrel Loomwork.exe" first
  first=$(sha256sum "$exe" | cut -d' ' -f1)
  rm -f "$exe"
  cmake --build --preset win32-release --target ombrel_installer >/dev/null || return 1
  if [ "$(sha256sum "$exe" | cut -d' ' -f1)" != "$first" ]; then
    echo "reproducible: FAILED, a second link gave other bytes than $first"
    return 1
  fi
  echo "reproducible: a second link gives the same SHA-256 $first"
}
win32() {
  # The product exe (its size reported) with the window tests, then the demo build (base URL
  # https://localhost:47443/, test CA) for the whole install flow against the demo host.
  local rc=0
  scripts/wine-prefix.sh || return 1
  { build win32-release &&
    python3 scripts/size-report.py --summary "build/win32/app/Install Ombrel Loomwork.exe" build/win32/app/ombrel_installer.map &&
    relink_check &&
    ctest_run win32-release -j 1 --repeat until-pass:2; } || rc=1
  { build win32-demo ombrel_installer ombrel_demo_installer window_inspector ombrel_e2e_marker_dll &&
    ctest_run win32-demo -j 1 --repeat until-pass:2 -R '^e2e\.install_flow$'; } || rc=1
  return $rc
}

stage "native tests" native
stage "ASan/UBSan tests" asan
stage "TSan tests" tsan
stage "Windows tests (x86_64, wine64)" win64
stage "end-to-end (i686 exe, Wine)" win32

echo "=== summary ($(( $(date +%s) - start )) s)"
printf '  %s\n' "${summary[@]}"
passed=$(( ${#summary[@]} - failed ))
echo "stages: $passed passed, $failed failed"
[ "$failed" = 0 ]
