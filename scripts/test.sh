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
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$JOBS" ${1:+--target "$@"}
}

ctest_run() {  # ctest_run PRESET [ctest args...]
  local preset=$1; shift
  ctest --preset "$preset" -j "$JOBS" --timeout 300 "$@"
}

# A display for the Windows programs (Wine's window driver needs one even for hidden windows).
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 99); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      xvfb_pid=$!
      trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
      export DISPLAY=":$n"
      for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
      break
    fi
  done
fi

native() { build native && ctest_run native; }
asan() {
  build native-asan && ctest_run native-asan
  if [ -x build/native-asan/tests/fuzz/json_reader_fuzz ]; then
    build/native-asan/tests/fuzz/json_reader_fuzz -max_total_time=60 -rss_limit_mb=2048 \
      tests/fuzz/corpus >/dev/null 2>&1 && echo "fuzz: 60 s without a finding"
  fi
}
tsan() { build native-tsan && ctest_run native-tsan -R '^(app|pipeline)\.'; }
win64() { scripts/wine-prefix.sh && build win64-tests && ctest_run win64-tests -j 1; }
win32() { scripts/wine-prefix.sh && build win32-release && ctest_run win32-release -j 1; }

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
