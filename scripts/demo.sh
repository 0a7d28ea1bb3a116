#!/usr/bin/env bash
# The demo: builds the 32-bit installer for the local demo host, serves the demo payload from
# https://localhost:47443/ and runs "Install Ombrel Loomwork.exe" under Wine from start to end:
# manifest, download (slowed down to be watchable), publisher signature check, silent install,
# launch of the installed demo app, completion. Shows the window on $DISPLAY when set, else on a
# private Xvfb, and saves a screenshot of every stage under build/screenshots/. Exit status 0
# when the whole flow worked, 1 when the install failed, 2 when it worked but its window could
# not be observed.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
export OMBREL_ROOT="$ROOT"
BUILD="$ROOT/build/win32-demo"
SHOTS="$ROOT/build/screenshots"
STATE="$BUILD/demo-host"
EXE="$BUILD/app/Install Ombrel Loomwork.exe"
INSPECTOR="$BUILD/tools/window_inspector/window_inspector.exe"

if [ "$(id -u)" = 0 ]; then
  bash scripts/setup.sh
fi

echo "=== building the demo build (i686, base URL https://localhost:47443/)"
cmake --preset win32-demo >/dev/null
cmake --build --preset win32-demo -j "${JOBS:-$(nproc)}" --target ombrel_installer ombrel_demo_installer window_inspector \
  manifest-check

source scripts/wine-env.sh
source scripts/private-display.sh
cleanup() {
  python3 tools/demo_host/demo_host.py stop --build-dir "$BUILD" >/dev/null 2>&1 || true
  stop_private_display
}
trap cleanup EXIT

start_private_display 70 89
[ -n "$xvfb_pid" ] && echo "=== private display $DISPLAY (Xvfb)"

echo "=== Wine prefix $WINEPREFIX"
scripts/wine-prefix.sh

# A fresh start: no earlier install, download or marker in the prefix.
user_dir="$WINEPREFIX/drive_c/users/$(id -un)"
"$WINE64" reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\OmbrelLoomwork' /f >/dev/null 2>&1 || true
rm -rf "$user_dir/AppData/Local/Programs/Ombrel Loomwork"
rm -f "$user_dir"/Temp/OmbrelLoomwork_*.exe "$user_dir"/Temp/OmbrelLoomwork_*.meta \
      "$user_dir"/Temp/ombrel-demo-app-started.txt "$user_dir"/Temp/ombrel-demo-installer-ran.txt

echo "=== demo host"
# A 6 MB installer sent at 1.5 MB/s and a 3-second install, so every stage can be watched.
python3 tools/demo_host/demo_host.py start --build-dir "$BUILD" --trailer "sleep=3" --pad-to 6000000
printf '{"id": "demo", "rules": [{"path": "/prod/win32-x64/OmbrelLoomworkSetup.exe", "rate": 1500000}]}' \
  > "$STATE/control.json"
# The demo build checks the publisher's signature before it starts the payload; the host signed
# its copy as the build's test publisher. The same check, through manifest-check:
payload="$STATE/www/prod/win32-x64/OmbrelLoomworkSetup.exe"
echo "=== the served payload, as the installer will check it"
wine "$BUILD/tools/manifest_check/manifest-check.exe" --check-installer "Z:${payload//\//\\}" 2>&1 | tr -d '\r' | sed 's/^/  /' || true

# On a private display nobody watches the demo app for long: it closes itself after 8 s.
[ -n "$xvfb_pid" ] && export OMBREL_DEMO_APP_SECONDS=8
# Other work on the machine slows Wine and qemu down: every wait below grows with the load.
load_scale() { awk -v cores="$(nproc)" '{ f = $1 / cores; print (f < 1 ? 1 : int(f + 0.999)) }' /proc/loadavg; }
echo "=== running $EXE under Wine"
t0=$(date +%s)
run_once() {
  wine "$EXE" >"$BUILD/demo-installer-run.log" 2>&1 &
  installer_pid=$!
  watch_status=0
  python3 tools/demo_host/watch_demo.py --inspector "$INSPECTOR" --exe "$EXE" --pid "$installer_pid" --shots "$SHOTS" \
    --timeout 300 >"$BUILD/demo-stages.txt" || watch_status=$?
  grep -v '^{' "$BUILD/demo-stages.txt" || true
  # A run the watcher gave up on (no end within its time-out) is ended here, not waited for.
  [ "$watch_status" = 4 ] && kill "$installer_pid" 2>/dev/null
  exit_status=0
  wait "$installer_pid" || exit_status=$?
}
run_once
if [ "$exit_status" != 0 ] && [ "$watch_status" = 3 ]; then
  # Wine now and then fails the very first window of a fresh display; the program then stops
  # before showing anything. One more start tells that apart from a real fault.
  echo "  (no window was shown, exit status $exit_status: $(tr '\n' ' ' < "$BUILD/demo-installer-run.log"); starting once more)"
  run_once
fi
seconds=$(( $(date +%s) - t0 ))

# The installed demo app writes its marker when it starts; it may need a moment under qemu.
marker="$user_dir/Temp/ombrel-demo-app-started.txt"
for _ in $(seq $(( 60 * $(load_scale) ))); do [ -f "$marker" ] && break; sleep 0.5; done
if [ -f "$marker" ]; then
  import -window root "$SHOTS/99-app-running.png" >/dev/null 2>&1 || true
fi

echo "=== summary"
echo "  installer exit status: $exit_status (after ${seconds} s)"
echo "  requests served:"
python3 - "$STATE/requests.jsonl" <<'EOF'
import json, sys
import os
for line in open(sys.argv[1]) if os.path.exists(sys.argv[1]) else []:
    r = json.loads(line)
    print(f"    {r['method']} {r['path']} -> {r['status']}")
EOF
# The install's verdict rests on what cannot be missed: the installer's exit status, the app's
# marker, the temporary folder, and an error text if the watcher saw one. Whether the window
# could be watched is told apart from it.
installed=1
if [ "$watch_status" = 1 ]; then echo "  FAILED: the window showed an error (last stage above)"; installed=0; fi
if [ "$watch_status" = 4 ]; then echo "  FAILED: the installer had not ended when the watcher's time-out ran out"; installed=0; fi
if [ "$exit_status" != 0 ]; then echo "  FAILED: the installer exited with $exit_status"; installed=0; fi
if [ -f "$marker" ]; then
  echo "  installed app started: $(grep '^path=' "$marker" | cut -d= -f2-)"
else
  echo "  FAILED: the installed app did not start (no $marker)"; installed=0
fi
if ls "$user_dir"/Temp/OmbrelLoomwork_* >/dev/null 2>&1; then
  echo "  FAILED: the downloaded installer was left in the temporary folder"; installed=0
fi
watch_summary=$(tail -n 1 "$BUILD/demo-stages.txt" | python3 -c 'import json, sys
print("{inspector_failures} of {inspector_calls} inspector calls failed, slowest {slowest_call} s,"
      " load {load} per core".format(**json.load(sys.stdin)))' 2>/dev/null || echo "no summary from the watcher")
case "$watch_status" in
  0) echo "  window: watched to the completion text ($watch_summary)" ;;
  2) echo "  window: watched, but the completion text was not caught ($watch_summary)" ;;
  3) echo "  window: COULD NOT BE OBSERVED ($watch_summary)" ;;
  *) echo "  window: $watch_summary" ;;
esac
echo "  screenshots: $SHOTS/"
ls "$SHOTS" | sed 's/^/    /'
if [ -n "$xvfb_pid" ]; then
  # Let the demo app close itself before its display goes away (a killed display can leave the
  # shared Wine prefix unable to make the next window).
  for _ in $(seq 40); do pgrep -u "$(id -u)" -f 'Programs.Ombrel Loomwork.Ombrel Loomwork.exe' >/dev/null || break; sleep 0.5; done
fi
if [ $installed = 0 ]; then
  echo "demo: FAILED: the install did not work (Wine output in $BUILD/demo-installer-run.log)"
  exit 1
fi
if [ "$watch_status" = 3 ]; then
  echo "demo: the install worked, but its window could not be observed (no stage screenshots)"
  exit 2
fi
echo "demo: the installer ran from start to end"
