#!/usr/bin/env bash
# Download benchmark: the installer's downloader against a plain 64 KiB libcurl loop and the
# curl CLI over a local nginx with HTTPS (1 GiB, 5 interleaved rounds, medians of per-round
# ratios), plus a killed-and-resumed download.
# Prints one summary line; the full report goes to build/bench-release/download-bench.log.
#   scripts/bench-download.sh [--size-mib N] [--runs N]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$ROOT/build/bench-release"
for tool in nginx curl openssl; do
  command -v "$tool" >/dev/null || { echo "bench-download: $tool is not installed (scripts/setup.sh)" >&2; exit 2; }
done
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBREL_TEST_BUILD=ON >/dev/null
nice -n 10 cmake --build "$BUILD" --target download_bench -- -j2 >/dev/null
log="$BUILD/download-bench.log"
"$BUILD/bench/download_bench" "$@" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
grep '^SUMMARY' "$log"
