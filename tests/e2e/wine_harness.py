"""Runs the 32-bit installer under Wine and observes it from outside: through the window
inspector (a Windows console tool run in wine64), X11 screenshots and the window's X icon.

The inspector picks the window by the executable its process runs, so other programs in the
shared prefix stay out of the way. The system DPI is a setting of the whole prefix, so every
run holds an exclusive lock next to the prefix while it has its DPI set."""
import atexit
import contextlib
import fcntl
import json
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = Path(os.environ.get("OMBREL_ROOT", HERE.parent.parent))
# The project's shared prefix unless the caller names another (as scripts/wine-env.sh does).
PREFIX = Path(os.environ.get("WINEPREFIX", ROOT / "build" / "wineprefix"))
WINE64 = "/usr/lib/wine/wine64"
BASE_DLL_OVERRIDES = "mscoree,mshtml=;winedbg.exe=d"
CONTROL_ORDER = ["icon", "title", "progress", "status", "retry", "version"]
CONTROL_CLASSES = ["static", "static", "msctls_progress32", "static", "button", "static"]

# Layouts at the three tested DPIs: client W×H, icon I, and x, y, width, height per control.
LAYOUTS = {
    96: {"client": (360, 340), "icon_size": 64,
         "rects": {"icon": (148, 24, 64, 64), "title": (10, 104, 340, 22), "progress": (50, 144, 260, 14),
                   "status": (10, 170, 340, 64), "retry": (130, 246, 100, 28), "version": (10, 304, 340, 18)}},
    120: {"client": (450, 425), "icon_size": 80,
          "rects": {"icon": (185, 30, 80, 80), "title": (13, 130, 425, 28), "progress": (62, 180, 325, 18),
                    "status": (13, 213, 425, 80), "retry": (162, 308, 125, 35), "version": (13, 380, 425, 23)}},
    144: {"client": (540, 510), "icon_size": 96,
          "rects": {"icon": (222, 36, 96, 96), "title": (15, 156, 510, 33), "progress": (75, 216, 390, 21),
                    "status": (15, 255, 510, 96), "retry": (195, 369, 150, 42), "version": (15, 456, 510, 27)}},
}


def env_path(name, default=None):
    value = os.environ.get(name)
    if value:
        return Path(value)
    if default is None:
        raise RuntimeError(f"{name} is not set (the tests are run by CTest, which sets it)")
    return Path(default)


def artifacts_dir():
    path = env_path("OMBREL_E2E_ARTIFACTS", ROOT / "build" / "e2e-artifacts")
    path.mkdir(parents=True, exist_ok=True)
    return path


def translation(locale, key):
    table = json.loads((ROOT / "translations" / "tables" / f"{locale}.json").read_text(encoding="utf-8"))
    return table[key]


def stage_keys():
    """The message key of every stage a run shows before it ends, in run order: the order in which
    pipeline/install_stage.h declares them (Failed, which carries its own text, left out)."""
    header = (ROOT / "pipeline" / "install_stage.h").read_text(encoding="utf-8")
    names = re.search(r"using InstallStage = std::variant<([^>]*)>;", header).group(1)
    table = json.loads((ROOT / "translations" / "tables" / "en_US.json").read_text(encoding="utf-8"))
    keys = []
    for name in (n.strip() for n in names.split(",")):
        if name == "Failed":
            continue
        key = "STATUS_" + re.sub(r"(?<!^)(?=[A-Z])", "_", name).upper()
        keys.append(key if key in table else key + "_FMT")  # a stage with a figure has a template
    return keys


def format_template(template, argument):
    """The product's one-argument printf-style substitution, enough for the status templates."""
    return re.sub(r"%[ds]", lambda _: argument, template, count=1).replace("%%", "%")


_display = None


def display():
    """The X display for Wine: $DISPLAY, or an Xvfb of our own for this test process."""
    global _display
    if _display:
        return _display
    if os.environ.get("DISPLAY"):
        _display = os.environ["DISPLAY"]
        return _display
    for number in range(80, 100):
        if Path(f"/tmp/.X11-unix/X{number}").exists() or Path(f"/tmp/.X{number}-lock").exists():
            continue
        server = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        atexit.register(server.terminate)
        for _ in range(100):
            if Path(f"/tmp/.X11-unix/X{number}").exists():
                _display = f":{number}"
                return _display
            if server.poll() is not None:
                break
            time.sleep(0.05)
        server.terminate()
    raise RuntimeError("could not start Xvfb")


def wine_env(extra_overrides="", **variables):
    env = os.environ.copy()
    env["WINEPREFIX"] = str(PREFIX)
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = BASE_DLL_OVERRIDES + (";" + extra_overrides if extra_overrides else "")
    env["QEMU_RESERVED_VA"] = "0x81000000"
    env["DISPLAY"] = display()
    env.update({k: str(v) for k, v in variables.items()})
    return env


_prefix_ready = False


def prepare_prefix():
    global _prefix_ready
    if not _prefix_ready:
        subprocess.run([str(ROOT / "scripts" / "wine-prefix.sh")], env=wine_env(), check=True,
                       stdout=subprocess.DEVNULL)
        _prefix_ready = True


def windows_path(path):
    """The path Wine programs see for a Linux path (drive Z: is the root)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def inspect(exe, *args, timeout=60):
    """One run of the window inspector on the window of `exe`: its JSON, or {"found": False}."""
    inspector = env_path("OMBREL_WINDOW_INSPECTOR")
    result = subprocess.run([WINE64, str(inspector), "--exe", windows_path(exe), *args], env=wine_env(),
                            capture_output=True, timeout=timeout)
    if result.returncode == 2:
        return {"found": False}
    if result.returncode != 0:
        raise RuntimeError(f"window inspector failed ({result.returncode}): {result.stderr.decode(errors='replace')}")
    return json.loads(result.stdout.decode("utf-8"))


class LiveRegionWatch:
    """The inspector recording the live-region announcements of `exe`'s windows from outside
    (an out-of-context WinEvent hook), started before the installer so it misses none. It ends
    when the installer's window has come and gone, or after `seconds`."""

    def __init__(self, exe, seconds=120):
        prepare_prefix()
        self.process = subprocess.Popen([WINE64, str(env_path("OMBREL_WINDOW_INSPECTOR")), "--exe", windows_path(exe),
                                         "--watch-live", str(seconds)], env=wine_env(), stdout=subprocess.PIPE)
        self.hooked = json.loads(self.process.stdout.readline().decode("utf-8") or "{}").get("watching", False)
        self.seconds = seconds

    def texts(self):
        """The status texts announced, in order."""
        out, _ = self.process.communicate(timeout=self.seconds + 30)
        lines = [json.loads(line) for line in out.decode("utf-8").splitlines() if line.strip()]
        return [line["text"] for line in lines if line.get("event") == "live"]


@contextlib.contextmanager
def slot_held_by_another_program(name, publish_window=False):
    """The inspector holding the named file mapping `name` inside the block, as any program of the
    user can: zero-filled, or with the handle of a window of its own written into it."""
    prepare_prefix()
    args = ["--publish-window"] if publish_window else []
    with subprocess.Popen([WINE64, str(env_path("OMBREL_WINDOW_INSPECTOR")), "--hold-slot", name, *args],
                          env=wine_env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE) as holder:
        try:
            held = json.loads(holder.stdout.readline().decode("utf-8") or "{}")
            if not held.get("holding") or held.get("existed"):
                raise RuntimeError(f"could not be the first to hold {name}: {held}")
            yield held
        finally:
            holder.stdin.close()  # the holder lets go when its input ends
            try:
                holder.wait(timeout=30)
            except subprocess.TimeoutExpired:
                holder.kill()


def controls(snapshot):
    """The six child controls by role, in the order the window made them."""
    children = snapshot["children"]
    return dict(zip(CONTROL_ORDER, children))


def reg(*args):
    return subprocess.run([WINE64, "reg", *args], env=wine_env(), capture_output=True, text=True)


@contextlib.contextmanager
def prefix_lock():
    with open(f"{PREFIX}.e2e.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            yield
        finally:
            fcntl.flock(lock, fcntl.LOCK_UN)


@contextlib.contextmanager
def system_dpi(dpi):
    """Sets the prefix's system DPI (LogPixels) for the programs started inside the block."""
    key = r"HKCU\Control Panel\Desktop"
    query = reg("query", key, "/v", "LogPixels")
    match = re.search(r"LogPixels\s+REG_DWORD\s+0x([0-9a-fA-F]+)", query.stdout)
    previous = int(match.group(1), 16) if match else None
    reg("add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
    try:
        yield
    finally:
        if previous is None:
            reg("delete", key, "/v", "LogPixels", "/f")
        else:
            reg("add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(previous), "/f")


@contextlib.contextmanager
def system_colours(colours):
    """Sets system colours of the prefix (HKCU\\Control Panel\\Colors, name -> (r, g, b)) for the
    programs started inside the block, as a contrast theme does."""
    key = r"HKCU\Control Panel\Colors"
    previous = {}
    for name, rgb in colours.items():
        match = re.search(rf"^\s*{name}\s+REG_SZ\s+(.*)$", reg("query", key, "/v", name).stdout, re.M)
        previous[name] = match.group(1).strip() if match else None
        reg("add", key, "/v", name, "/t", "REG_SZ", "/d", " ".join(map(str, rgb)), "/f")
    try:
        yield
    finally:
        for name, value in previous.items():
            if value is None:
                reg("delete", key, "/v", name, "/f")
            else:
                reg("add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f")


@contextlib.contextmanager
def temp_folder(path):
    """Points the user's TEMP and TMP (HKCU\\Environment) at the Linux folder `path` for the
    programs started inside the block, as a user whose temporary folder lies elsewhere."""
    key = r"HKCU\Environment"
    previous = {}
    for name in ("TEMP", "TMP"):
        match = re.search(rf"^\s*{name}\s+(REG_\w+)\s+(.*)$", reg("query", key, "/v", name).stdout, re.M)
        previous[name] = (match.group(1), match.group(2).strip()) if match else None
        reg("add", key, "/v", name, "/t", "REG_SZ", "/d", windows_path(path), "/f")
    try:
        yield
    finally:
        for name, value in previous.items():
            if value is None:
                reg("delete", key, "/v", name, "/f")
            else:
                reg("add", key, "/v", name, "/t", value[0], "/d", value[1], "/f")


def close_leftover_windows(exe):
    for _ in range(20):
        if not inspect(exe, "--close").get("found"):
            return
        time.sleep(0.5)
    raise RuntimeError("an installer window from an earlier run does not go away")


class Installer:
    """One run of an installer exe under Wine, as a context manager that always ends it."""

    def __init__(self, exe, name, *, locale="en_US", dpi=96, cwd=None, overrides="", env=None, colours=None,
                 temp=None):
        self.exe = Path(exe)
        self.name = name
        self.locale = locale
        self.dpi = dpi
        self.cwd = Path(cwd) if cwd else self.exe.parent
        self.overrides = overrides
        self.extra_env = env or {}
        self.colours = colours or {}
        self.temp = temp
        self.process = None
        self.started = None
        self.log_path = artifacts_dir() / f"{name}.log"
        self._stack = contextlib.ExitStack()

    def __enter__(self):
        prepare_prefix()
        self._stack.enter_context(prefix_lock())
        self._stack.enter_context(system_dpi(self.dpi))
        self._stack.enter_context(system_colours(self.colours))
        if self.temp is not None:
            self._stack.enter_context(temp_folder(self.temp))
        close_leftover_windows(self.exe)
        env = wine_env(self.overrides, LC_ALL=f"{self.locale}.UTF-8", LANG=f"{self.locale}.UTF-8", **self.extra_env)
        log = open(self.log_path, "wb")
        self._stack.callback(log.close)
        self.started = time.monotonic()
        self.process = subprocess.Popen(["wine", str(self.exe)], cwd=self.cwd, env=env, stdout=log,
                                        stderr=subprocess.STDOUT)
        return self

    def __exit__(self, *exc):
        try:
            if self.process.poll() is None:
                inspect(self.exe, "--close")
                try:
                    self.process.wait(timeout=15)
                except subprocess.TimeoutExpired:
                    self.process.kill()
                    self.process.wait()
        finally:
            self._stack.close()
        return False

    def snapshot(self):
        return inspect(self.exe)

    def wait_until(self, predicate, what, timeout=90):
        """Polls the window until predicate(snapshot) holds; fails with the last snapshot."""
        deadline = time.monotonic() + timeout
        last = None
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise AssertionError(f"{self.name}: the installer exited ({self.process.returncode}) "
                                     f"while waiting for {what}; last state {json.dumps(last)}")
            last = inspect(self.exe, "--wait", "5")
            if last.get("found") and len(last.get("children", [])) >= 6 and predicate(last):
                return last
            time.sleep(0.2)
        raise AssertionError(f"{self.name}: timed out waiting for {what}; last state {json.dumps(last)}")

    def wait_window(self, timeout=90):
        return self.wait_until(lambda s: True, "the window", timeout)

    def click_retry(self):
        return inspect(self.exe, "--click-retry")

    def close(self):
        return inspect(self.exe, "--close")

    def copy(self):
        """Presses Ctrl+C in the window; the clipboard's text afterwards (None: nothing came)."""
        return inspect(self.exe, "--copy")["clipboard"]

    def copy_at(self, status, timeout=120):
        """Presses Ctrl+C the moment the status line shows `status` (the inspector watches for it,
        so even the 2 s of the completion text are enough); the clipboard's text, or None."""
        return inspect(self.exe, "--wait", str(timeout), "--copy-at", status, timeout=timeout + 30).get("clipboard")

    def wait_exit(self, timeout):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def screenshot(self, snapshot, name):
        """The window's part of the screen (client area plus a margin) as a PNG artefact."""
        full = artifacts_dir() / f"{name}-screen.png"
        subprocess.run(["import", "-display", display(), "-window", "root", str(full)], check=True)
        outer = snapshot["window"]["outer"]
        x, y = max(outer["x"] - 8, 0), max(outer["y"] - 8, 0)
        path = artifacts_dir() / f"{name}.png"
        subprocess.run(["convert", str(full), "-crop", f"{outer['width'] + 16}x{outer['height'] + 16}+{x}+{y}",
                        "+repage", str(path)], check=True)
        return full, path

    def x_window_icons(self, title):
        """The images Wine gave the X window as _NET_WM_ICON: [(width, height, [argb...])]."""
        found = subprocess.run(["xdotool", "search", "--name", f"^{re.escape(title)}$"], env=wine_env(),
                               capture_output=True, text=True)
        icons = []
        for window in found.stdout.split():
            prop = subprocess.run(["xprop", "-display", display(), "-id", window, "-notype", "32c", "_NET_WM_ICON"],
                                  capture_output=True, text=True)
            if "=" not in prop.stdout:
                continue
            values = [int(v) for v in prop.stdout.split("=", 1)[1].replace("\n", "").split(",") if v.strip()]
            i = 0
            while i + 2 <= len(values):
                w, h = values[i], values[i + 1]
                icons.append((w, h, values[i + 2:i + 2 + w * h]))
                i += 2 + w * h
        return icons


def screen_pixel(png, x, y):
    """(r, g, b) of one pixel of a screenshot."""
    out = subprocess.run(["convert", str(png), "-crop", f"1x1+{x}+{y}", "-depth", "8", "txt:-"],
                         capture_output=True, text=True, check=True).stdout
    match = re.search(r"#([0-9A-Fa-f]{6})", out)
    value = int(match.group(1), 16)
    return (value >> 16) & 255, (value >> 8) & 255, value & 255


def screen_region(png, x, y, width, height):
    """The (r, g, b) pixels of a rectangle of a screenshot, row by row."""
    raw = subprocess.run(["convert", str(png), "-crop", f"{width}x{height}+{x}+{y}", "+repage", "-depth", "8",
                          "rgb:-"], capture_output=True, check=True).stdout
    return [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]


def contrast_ratio(a, b):
    """The text/background contrast ratio of two sRGB colours (1 to 21)."""
    def luminance(rgb):
        linear = [c / 255 / 12.92 if c <= 10 else ((c / 255 + 0.055) / 1.055) ** 2.4 for c in rgb]
        return 0.2126 * linear[0] + 0.7152 * linear[1] + 0.0722 * linear[2]
    high, low = sorted((luminance(a), luminance(b)), reverse=True)
    return (high + 0.05) / (low + 0.05)


def argb_rgb(pixel):
    return (pixel >> 16) & 255, (pixel >> 8) & 255, pixel & 255


def near(colour, expected, tolerance=12):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


def temporary_directory(name):
    """A fresh folder under the artefacts (Wine sees it through Z:)."""
    path = Path(tempfile.mkdtemp(prefix=f"{name}-", dir=artifacts_dir()))
    return path


def copy_exe(source, folder, name=None):
    target = Path(folder) / (name or Path(source).name)
    shutil.copy2(source, target)
    return target
