#!/usr/bin/env python3
"""Watches the installer window during the demo: polls the window inspector, names each status
text by its message key (in whichever of the 22 languages it is shown) and saves a screenshot
of the screen whenever the stage changes, until the installer process ends.

  watch_demo.py --inspector EXE --exe INSTALLER --pid PID --shots DIR [--timeout S]

Prints one line per stage ("<seconds> <KEY> <text> -> <png>") and, last, a JSON line with the
stages seen and how well the window could be observed. On a busy machine one inspector call can
take far longer than on a quiet one, so a slow or failed call is retried and never ends the
watch, and every time-out grows with the machine's load.

Exit status: 0 the completion text was seen; 1 the last text seen was an error; 2 the window was
seen but neither was caught; 3 the window was never observed; 4 the installer still ran at the
time-out."""
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
INSPECTOR_SECONDS = 30  # one inspector call on a quiet machine takes about a second
INSPECTOR_TRIES = 3


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


def load_factor():
    """How many times slower than a quiet machine this one may be: runnable tasks per core."""
    try:
        return max(1.0, os.getloadavg()[0] / (os.cpu_count() or 1))
    except OSError:
        return 1.0


class Inspector:
    """Runs the inspector on the installer's window, retrying calls that fail or time out."""

    def __init__(self, inspector, exe):
        # Only the window of this installer exe: other runs may share the Wine prefix.
        self.command = [WINE64, inspector, "--exe", "Z:" + str(Path(exe).resolve()).replace("/", "\\")]
        self.calls = 0
        self.failures = 0
        self.slowest = 0.0
        self.highest_load = 1.0

    def snapshot(self, wait=0):
        """The inspector's JSON ({"found": false} when there is no window yet), or None when every
        try failed. With `wait`, one inspector process waits that long for the window to appear:
        starting one is what takes long on a busy machine."""
        arguments = ["--wait", str(wait)] if wait else []
        for _ in range(INSPECTOR_TRIES):
            self.highest_load = max(self.highest_load, load_factor())
            timeout = max(INSPECTOR_SECONDS * self.highest_load, 4 * self.slowest) + wait
            self.calls += 1
            started = time.monotonic()
            try:
                result = subprocess.run(self.command + arguments, capture_output=True, timeout=timeout)
                if result.returncode == 2:
                    return {"found": False}
                if result.returncode == 0:
                    return json.loads(result.stdout.decode("utf-8"))
            except (subprocess.TimeoutExpired, ValueError):
                pass
            finally:
                if not wait:  # a waiting call's length says little about the machine
                    self.slowest = max(self.slowest, time.monotonic() - started)
            self.failures += 1
        return None


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def verdict(seen, window_seen, still_running):
    if any(s["key"] == "STATUS_COMPLETE" for s in seen):
        return 0
    if still_running:
        return 4
    if seen and seen[-1]["key"].startswith("ERROR_"):
        return 1
    return 2 if window_seen else 3


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--inspector", required=True)
    parser.add_argument("--exe", required=True, help="the installer exe (Linux path)")
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--timeout", type=float, default=300, help="seconds on a quiet machine")
    args = parser.parse_args()
    shots = Path(args.shots)
    shots.mkdir(parents=True, exist_ok=True)
    for old in shots.glob("*.png"):
        old.unlink()
    patterns = message_patterns()
    inspector = Inspector(args.inspector, args.exe)
    started = time.monotonic()
    seen = []
    window_seen = False
    while alive(args.pid) and time.monotonic() - started < args.timeout * inspector.highest_load:
        snapshot = inspector.snapshot(wait=0 if window_seen else 10) or {}
        children = snapshot.get("children", []) if snapshot.get("found") else []
        if len(children) >= 6:
            window_seen = True
            text = children[3].get("text", "")
            key = stage_key(patterns, text)
            if not seen or key != seen[-1]["key"]:
                png = shots / f"{len(seen) + 1:02d}-{key.lower()}.png"
                subprocess.run(["import", "-window", "root", str(png)], capture_output=True)
                at = time.monotonic() - started
                seen.append({"at": round(at, 1), "key": key, "text": text, "screenshot": str(png)})
                print(f"{at:6.1f} s  {key:<26} {text}  -> {png}", flush=True)
        time.sleep(0.2)
    still_running = alive(args.pid)
    summary = {"stages": seen, "window_seen": window_seen, "inspector_calls": inspector.calls,
               "inspector_failures": inspector.failures, "slowest_call": round(inspector.slowest, 1),
               "load": round(inspector.highest_load, 1), "seconds": round(time.monotonic() - started, 1)}
    print(json.dumps(summary, ensure_ascii=False), flush=True)
    return verdict(seen, window_seen, still_running)


if __name__ == "__main__":
    sys.exit(main())
