#!/usr/bin/env bash
# Creates the project's Wine prefix once (Windows 10, Tahoma standing in for Segoe UI) and keeps
# a wineserver running so later starts are fast. Safe to call often: a ready prefix is left alone.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
stamp="$WINEPREFIX/.ombrel-ready"
if [ ! -f "$stamp" ]; then
  exec 9>"$WINEPREFIX.lock" 2>/dev/null || { mkdir -p "$(dirname "$WINEPREFIX")"; exec 9>"$WINEPREFIX.lock"; }
  flock 9
  if [ ! -f "$stamp" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
    "$WINE64" reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
    fonts="$WINEPREFIX/drive_c/windows/Fonts"
    mkdir -p "$fonts"
    for f in tahoma.ttf tahomabd.ttf marlett.ttf; do
      [ -f "/usr/share/wine/fonts/$f" ] && cp -f "/usr/share/wine/fonts/$f" "$fonts/"
    done
    "$WINE64" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "Segoe UI" /d Tahoma /f >/dev/null 2>&1
    wineserver -w || true
    touch "$stamp"
  fi
fi
# Japanese texts: Tahoma links to "MS UI Gothic", which Wine lacks; IPA Gothic
# (fonts-ipafont-gothic) stands in, so screenshots show the glyphs instead of boxes.
ipa_gothic=/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf
if [ -f "$ipa_gothic" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/ipag.ttf" ]; then
  cp -f "$ipa_gothic" "$WINEPREFIX/drive_c/windows/Fonts/"
  "$WINE64" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "MS UI Gothic" /d IPAGothic /f >/dev/null 2>&1
fi
# A persistent server makes every later start take milliseconds instead of a second.
# (One server per prefix: when this prefix already has one, the call just returns.)
wineserver -p >/dev/null 2>&1 || true
# Start Wine's background services (explorer, winedevice) now, detached from every pipe: the
# first Windows program of a session starts them otherwise, and they would keep that program's
# stdout open, so a caller waiting for the end of its output (ctest) would wait forever.
"$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
