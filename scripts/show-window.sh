#!/usr/bin/env bash
# Builds the 32-bit installer if needed, runs it under Wine on $DISPLAY (or on a new Xvfb when
# none is set), saves a screenshot to build/screenshots/window.png and reports the executable's
# size and the time from process start to the first painted window. The window is closed again
# afterwards unless KEEP_OPEN=1.
#   OMBREL_BUILD_DIR  an i686 build folder to take the exe from (default build/win32-window, this
#                     script's own, configured here; a folder that is already configured is used as it is)
#   DPI=120 LC_ALL=fr_FR.UTF-8 scripts/show-window.sh   another system DPI / language
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
export OMBREL_ROOT="$ROOT"
BUILD="${OMBREL_BUILD_DIR:-$ROOT/build/win32-window}"

if [ -z "${OMBREL_BUILD_DIR:-}" ] || [ ! -f "$BUILD/build.ninja" ]; then
  # The product's configuration without the publisher check: only the window is shown, nothing is
  # installed. Its own folder, configured on every run: the check's OFF holds for one configure
  # only, and the release folder build/win32 is the vendor's.
  cmake --preset win32-release -B "$BUILD" -DOMBREL_PUBLISHER_CHECK=OFF >/dev/null
fi
nice -n 10 ninja -C "$BUILD" -j2 ombrel_installer window_inspector >/dev/null

exe="$BUILD/app/Install Ombrel Loomwork.exe"
inspector="$BUILD/tools/window_inspector/window_inspector.exe"
# The inspector looks only at the window of this exe (other runs may share the Wine prefix).
exe_windows="Z:$(realpath "$exe" | tr '/' '\\')"
shots="$ROOT/build/screenshots"
mkdir -p "$shots"

"$ROOT/scripts/wine-prefix.sh"
source "$ROOT/scripts/wine-env.sh"

source "$ROOT/scripts/private-display.sh"
start_private_display 70 79
trap stop_private_display EXIT

# The system DPI is a setting of the shared prefix: set it only for this run, holding the lock
# the end-to-end tests take for the same reason.
exec 8>"$WINEPREFIX.e2e.lock"
flock 8
previous_dpi=$("$WINE64" reg query 'HKCU\Control Panel\Desktop' /v LogPixels 2>/dev/null | grep -o '0x[0-9a-fA-F]*' || true)
restore_dpi() {
  if [ -n "$previous_dpi" ]; then
    "$WINE64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$((previous_dpi))" /f >/dev/null 2>&1
  else
    "$WINE64" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
  fi
}
if [ -n "${DPI:-}" ]; then
  "$WINE64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$DPI" /f >/dev/null 2>&1
fi

now() { date +%s.%N; }
start=$(now)
wine "$exe" >/dev/null 2>&1 &
installer_pid=$!
cleanup() {
  [ "${KEEP_OPEN:-0}" = 1 ] || "$WINE64" "$inspector" --exe "$exe_windows" --close >/dev/null 2>&1 || true
  restore_dpi
  stop_private_display
}
trap cleanup EXIT

# The window exists with its six controls ...
window_json=""
for _ in $(seq 600); do
  if window_json=$("$WINE64" "$inspector" --exe "$exe_windows" 2>/dev/null) && [ "$(grep -o '"class"' <<<"$window_json" | wc -l)" -ge 7 ]; then
    break
  fi
  window_json=""
  kill -0 "$installer_pid" 2>/dev/null || { echo "the installer exited before showing its window" >&2; exit 1; }
  sleep 0.05
done
[ -n "$window_json" ] || { echo "no window within 30 s" >&2; exit 1; }
shown=$(now)

# ... and is painted: the heading's row no longer shows the black of the empty screen.
read -r cx cy cw <<<"$(python3 -c '
import json, sys
d = json.loads(sys.argv[1]); c = d["window"]["client"]; t = d["children"][1]["rect"]
print(c["screen_x"] + t["x"], c["screen_y"] + t["y"] + t["height"] // 2, t["width"])' "$window_json")"
painted=""
for _ in $(seq 200); do
  row=$(import -window root -crop "${cw}x1+${cx}+${cy}" -depth 8 txt:- 2>/dev/null | grep -c -v '#000000' || true)
  if [ "${row:-0}" -gt "$((cw / 2))" ]; then painted=$(now); break; fi
  sleep 0.05
done

sleep "${SETTLE:-1}"
import -window root "$shots/window.png"

size=$(stat -c %s "$exe")
printf 'executable: %s (%d bytes, %.1f KiB)\n' "$exe" "$size" "$(echo "$size / 1024" | bc -l)"
printf 'window shown after %.2f s' "$(echo "$shown - $start" | bc -l)"
[ -n "$painted" ] && printf ', painted after %.2f s' "$(echo "$painted - $start" | bc -l)"
printf ' (process start under Wine and qemu included)\n'
echo "screenshot: $shots/window.png"
