#!/usr/bin/env python3
"""Watches the installer window during the demo: polls the window inspector, names each status
text by its message key (in whichever of the 22 languages it is shown) and saves a screenshot
of the screen whenever the stage changes, until the installer process ends.

  watch_demo.py --inspector EXE --exe INSTALLER --pid PID --shots DIR [--timeout S]

Prints one line per stage ("<seconds> <KEY> <text> -> <png>") and, last, a JSON line with the
stages seen. Exit status 0 when the completion text was seen."""
import argparse
import json
import os
import re
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent.parent
WINE64 = "/usr/lib/wine/wine64"


def message_patterns():
    """(key, regex) for every text of every table; templates match any argument."""
    patterns = []
    for table in sorted((ROOT / "translations" / "tables").glob("*.json")):
        for key, text in json.loads(table.read_text(encoding="utf-8")).items():
            parts = re.split(r"%(?:lu|d|s)", text.replace("%%", "%"))
            patterns.append((key, re.compile("^" + "(.*)".join(re.escape(p) for p in parts) + "$", re.S)))
    return patterns


def stage_key(patterns, text):
    for key, pattern in patterns:
        if pattern.match(text):
            # Every download percentage is one stage.
            return key
    return "UNKNOWN"


def inspect(inspector, exe):
    # Only the window of this installer exe: other runs may share the Wine prefix.
    windows_exe = "Z:" + str(Path(exe).resolve()).replace("/", "\\")
    result = subprocess.run([WINE64, inspector, "--exe", windows_exe], capture_output=True, timeout=30)
    if result.returncode != 0:
        return None
    try:
        return json.loads(result.stdout.decode("utf-8"))
    except ValueError:
        return None


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--inspector", required=True)
    parser.add_argument("--exe", required=True, help="the installer exe (Linux path)")
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--timeout", type=float, default=300)
    args = parser.parse_args()
    shots = Path(args.shots)
    shots.mkdir(parents=True, exist_ok=True)
    for old in shots.glob("*.png"):
        old.unlink()
    patterns = message_patterns()
    started = time.monotonic()
    seen = []
    last_key = None
    while alive(args.pid) and time.monotonic() - started < args.timeout:
        snapshot = inspect(args.inspector, args.exe)
        children = (snapshot or {}).get("children", []) if (snapshot or {}).get("found") else []
        if len(children) >= 6:
            text = children[3].get("text", "")
            key = stage_key(patterns, text)
            if key != last_key:
                last_key = key
                png = shots / f"{len(seen) + 1:02d}-{key.lower()}.png"
                subprocess.run(["import", "-window", "root", str(png)], capture_output=True)
                at = time.monotonic() - started
                seen.append({"at": round(at, 1), "key": key, "text": text, "screenshot": str(png)})
                print(f"{at:6.1f} s  {key:<26} {text}  -> {png}", flush=True)
        time.sleep(0.2)
    print(json.dumps(seen, ensure_ascii=False), flush=True)
    return 0 if any(s["key"] == "STATUS_COMPLETE" for s in seen) else 1


if __name__ == "__main__":
    sys.exit(main())
