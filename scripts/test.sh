#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests
#   native (unit + integration), native with ASan/UBSan (+ a short run of every fuzz target),
#   native with TSan (threading tests), the x86_64 MinGW build under wine64 (Windows back ends,
#   and clang-tidy over the Windows sources),
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

native() { build native && ctest_run native && lint; }
# The sources as clang-format writes them (scripts/format.sh fixes a difference), and clang-tidy
# (.clang-tidy) over every source of the native build (the product's, the tools', the tests' and the
# benchmark's), any finding an error.
lint() {
  bash scripts/format.sh --check || { echo "lint: run bash scripts/format.sh"; return 1; }
  run-clang-tidy -p build/native -j "$JOBS" -quiet "^$ROOT/(app|pipeline|platform|common|translations|tools|tests|bench)/" \
    >build/native/clang-tidy.log 2>&1 || { grep -E 'error:|warning:' build/native/clang-tidy.log | head -40; return 1; }
  echo "lint: clang-format and clang-tidy clean"
}
asan() { build native-asan && ctest_run native-asan && fuzz; }
# Every libFuzzer target (clang, ASan+UBSan) for a few seconds each; scripts/fuzz.sh runs them
# longer.
fuzz() { bash scripts/fuzz.sh "${FUZZ_SECONDS:-10}"; }
# The suites whose code or tests run threads: the worker and view model, the wake-up queue and
# process-wide caches, the translation store. The pipeline itself runs on one thread.
tsan() {
  build native-tsan app_tests platform_tests translations_tests ombrel_test_child &&
    ctest_run native-tsan -R '^(app|platform|translations)\.'
}
# Wine runs are retried once: a Windows program under Wine on a loaded machine occasionally
# stalls at start-up or exit, which is no fault of the program under test.
win64() { scripts/wine-prefix.sh && build win64-tests && lint_windows && ctest_run win64-tests -j 1 --repeat until-pass:2; }
# clang-tidy over what only the Windows build compiles, from the MinGW build's compile database
# (lint() sees the rest in the native build): the sources in win32/ folders, those that include
# <windows.h> (the Windows tools), and those with a _WIN32 branch or that include a header with
# one. clang parses them for the MinGW target, with GCC's own C++ headers (clang does not find
# them by itself).
lint_windows() {
  local windows
  windows=$(windows_sources | sed 's/[.]/\\./g' | paste -sd '|')
  [ -n "$windows" ] || { echo "lint: no Windows sources in build/win64/compile_commands.json"; return 1; }
  lint_mingw build/win64 x86_64-w64-mingw32 "^$ROOT/($windows)\$" && echo "lint: clang-tidy clean over the Windows sources"
}
# lint_mingw BUILD TRIPLE REGEX: clang-tidy over the sources of BUILD's compile database that REGEX
# matches, parsed for the MinGW target TRIPLE with GCC's own C++ headers.
lint_mingw() {
  local build=$1 triple=$2 regex=$3 dir
  local args=(-extra-arg=--target="$triple" -extra-arg=-nostdinc++)
  for dir in $("$triple-g++-posix" -E -x c++ - -v </dev/null 2>&1 | sed -n '/search starts here/,/End of search/p' | grep '/c++'); do
    args+=("-extra-arg=-isystem$dir")
  done
  run-clang-tidy -p "$build" -j "$JOBS" -quiet "${args[@]}" "$regex" \
    >"$build/clang-tidy.log" 2>&1 || { grep -E 'error:|warning:' "$build/clang-tidy.log" | head -40; return 1; }
}
# The end-to-end helpers (tests/e2e: the scripted pipeline steps, the DLLs the planting tests use)
# are built for i686 only. Their compile database is the product build's, which links with GCC's
# LTO: clang does not know GCC's LTO options, so the database it reads leaves them out.
lint_e2e() {
  mkdir -p build/win32-e2e/lint
  sed -E 's/ -f[a-z-]*lto[^ "]*//g' build/win32-e2e/compile_commands.json >build/win32-e2e/lint/compile_commands.json
  lint_mingw build/win32-e2e/lint i686-w64-mingw32 "^$ROOT/tests/e2e/" &&
    echo "lint: clang-tidy clean over the end-to-end helpers"
}
windows_sources() {  # our sources in build/win64's compile database that lint_windows checks
  local sources header
  mapfile -t sources < <(sed -n "s|^  \"file\": \"$ROOT/\([^\"]*\)\",*\$|\1|p" build/win64/compile_commands.json |
    grep -v '^build/' | sort -u)
  {
    printf '%s\n' "${sources[@]}" | grep '/win32/'
    grep -lE '_WIN32|<windows\.h>' "${sources[@]}"
    for header in $(git ls-files '*.h' | xargs grep -l '_WIN32'); do grep -lF "\"$header\"" "${sources[@]}"; done
    true  # a grep that found nothing is no failure
  } | sort -u
}
# The product exe configured as a vendor configures it, in the tests' own folder (build/win32 is
# the vendor's, and no test publisher belongs in its cache): it must name a publisher, and the
# test publisher the demo build makes stands in for the vendor's (build/win32-demo/test-publisher).
configure_e2e() {
  cmake --preset win32-demo >/dev/null || return 1
  local publisher="$ROOT/build/win32-demo/test-publisher"
  cmake --preset win32-e2e -DOMBREL_PUBLISHER_NAME="$(cat "$publisher/name.txt")" \
    -DOMBREL_PUBLISHER_ROOTS="$publisher/root.pem" >/dev/null
}
# A release of the tracked sources (tests/release): scripts/release.sh in a clone of them signs it
# with the test publisher's key and a local timestamp and checks it, scripts/verify-release.sh
# rebuilds it from nothing in a second clone and compares, which also shows the build reproducible
# across folders. Both clones take the cross-built libcurl of the product build.
release_check() {
  local t0=$(date +%s) rc=0
  OMBREL_DEPS_DIR="$(sed -n 's/^OMBREL_DEPS_DIR:[A-Z]*=//p' build/win32-e2e/CMakeCache.txt)" \
    OMBREL_TEST_PUBLISHER_DIR="$ROOT/build/win32-demo/test-publisher" JOBS="$JOBS" \
    python3 tests/release/test_release.py -v || rc=1
  echo "release: signed, checked and reproduced in $(( $(date +%s) - t0 )) s"
  return $rc
}
win32() {
  # The product exe (its size reported) with the window tests, a release of it signed and
  # reproduced, then the demo build (base URL https://localhost:47443/, test CA) for the whole
  # install flow against the demo host.
  local rc=0
  scripts/wine-prefix.sh || return 1
  { configure_e2e && build win32-e2e && lint_e2e &&
    python3 scripts/size-report.py --summary "build/win32-e2e/app/Install Ombrel Loomwork.exe" \
      build/win32-e2e/app/ombrel_installer.map --publisher-check "$(cat build/win32-e2e/generated/publisher-check.txt)" &&
    ctest_run win32-e2e -j 1 --repeat until-pass:2; } || rc=1
  release_check || rc=1
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
