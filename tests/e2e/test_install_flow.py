"""The whole install flow of the 32-bit demo build under Wine, against the demo host on
127.0.0.1:47443 serving the demo payload installer.

Every case checks what the program did (window texts through the inspector, files in Wine's
temporary folder, the demo programs' marker files, the host's request log), not only its exit
status: under qemu a 32-bit process can report 0 after crashing."""
import getpass
import os
import re
import shutil
import subprocess
import sys
import time
import unittest
from pathlib import Path

import wine_harness as wh
from test_dll_planting import PLANTED

sys.path.insert(0, str(wh.ROOT / "tools" / "demo_host"))
import demo_host  # noqa: E402

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\OmbrelLoomwork"
INSTALLED_NAME = re.compile(r"OmbrelLoomwork_[0-9a-f]{16}\.(exe|meta)$")
APP_MARKER = "ombrel-demo-app-started.txt"
INSTALLER_MARKER = "ombrel-demo-installer-ran.txt"
ELSEWHERE = "Loomwork Elsewhere"
# The manifest names the installer with a query and a fragment, as a signed CDN link would: the
# support summary must show neither.
SECRET_QUERY = "?token=s3cret-42#part"
HOST_URL = f"https://localhost:{demo_host.PORT}"
ONE_COPY_SLOT = "Local\\OmbrelLoomworkWebInstaller"


def build_dir():
    return wh.env_path("OMBREL_DEMO_BUILD_DIR", wh.ROOT / "build" / "win32-demo")


def user_folder():
    """C:\\users\\<user> of the prefix (Wine names it after the Unix user)."""
    prefix = Path(wh.wine_env()["WINEPREFIX"])
    return prefix / "drive_c" / "users" / getpass.getuser()


def temp_folder():
    return user_folder() / "Temp"


def downloads():
    """Our installer and sidecar files in Wine's %TEMP%: {name: size}."""
    folder = temp_folder()
    if not folder.is_dir():
        return {}
    return {p.name: p.stat().st_size for p in folder.iterdir() if INSTALLED_NAME.match(p.name)}


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def message(locale, key, argument=None):
    text = wh.translation(locale, key)
    if argument is not None:
        text = re.sub(r"%(lu|d|s)", lambda _: argument, text, count=1)
    return text.replace("%%", "%")


def state(snapshot):
    c = wh.controls(snapshot)
    return {"status": c["status"]["text"], "retry_visible": c["retry"]["visible"],
            "retry_focused": c["retry"]["focused"], "retry_text": c["retry"]["text"],
            "title": c["title"]["text"], "position": c["progress"]["progress"]["position"]}


def status_is(text, **more):
    def check(snapshot):
        s = state(snapshot)
        return s["status"] == text and all(s[k] == v for k, v in more.items())
    return check


class InstallFlowTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.demo_installer = build_dir() / "tools" / "demo_payload" / "demo-installer.exe"
        if not cls.demo_installer.exists():
            raise RuntimeError(f"{cls.demo_installer} is missing (build ombrel_demo_installer)")
        cls.exe = wh.env_path("OMBREL_INSTALLER_EXE")
        cls.state_dir = wh.artifacts_dir() / "demo-host"
        demo_host.prepare(cls.state_dir / "www", cls.demo_installer)
        demo_host.start(cls.state_dir, build_dir())
        wh.prepare_prefix()

    @classmethod
    def tearDownClass(cls):
        demo_host.stop(cls.state_dir)

    def setUp(self):
        self.clean_prefix()
        self.markers = wh.temporary_directory(f"markers-{self._testMethodName}")
        demo_host.prepare(self.state_dir / "www", self.demo_installer)
        demo_host.set_faults(self.state_dir, self.id(), [])
        demo_host.clear_requests(self.state_dir)

    def tearDown(self):
        self.clean_prefix()

    def clean_prefix(self):
        """Forgets every trace of an earlier install: registration, installed copies, downloads."""
        wh.reg("delete", UNINSTALL_KEY, "/f")
        local = user_folder() / "AppData" / "Local"
        for folder in (local / "Programs" / "Ombrel Loomwork", local / ELSEWHERE):
            shutil.rmtree(folder, ignore_errors=True)
        for name in downloads():
            (temp_folder() / name).unlink(missing_ok=True)
        for name in (APP_MARKER, INSTALLER_MARKER):
            (temp_folder() / name).unlink(missing_ok=True)

    def run_installer(self, name, locale="en_US", exe=None, **options):
        # The demo app closes itself soon, so runs do not pile up windows in the prefix.
        return wh.Installer(exe or self.exe, f"flow-{name}", locale=locale,
                            env={"OMBREL_DEMO_MARKER_DIR": windows_path(self.markers), "OMBREL_DEMO_APP_SECONDS": "4"},
                            **options)

    def marker(self, name, wait=0.0):
        path = self.markers / name
        deadline = time.monotonic() + wait
        while not path.exists() and time.monotonic() < deadline:
            time.sleep(0.25)
        if not path.exists():
            return None
        return dict(line.split("=", 1) for line in path.read_text(encoding="utf-8").splitlines() if "=" in line)

    def finish_with_success(self, installer, shot=None):
        """Waits for the completion text, then for the exit the close timer causes about 2 s
        later; returns (seconds from the completion text to the exit, exit status)."""
        complete = message("en_US", "STATUS_COMPLETE")
        snapshot = installer.wait_until(status_is(complete, retry_visible=False, position=1000), "completion")
        seen = time.monotonic()
        if shot:
            installer.screenshot(snapshot, shot)
        status = installer.wait_exit(30)
        return time.monotonic() - seen, status

    def requests_for(self, path):
        return [r for r in demo_host.requests(self.state_dir) if r["path"].split("?")[0] == path]

    def summary(self, text, last_run, attempts, signature, exit_code, application):
        """Checks the Ctrl+C support summary of a run of the demo build, line by line: every field
        in its place, short lines, no query string; the attempt lines must match `attempts`
        (regular expressions, one per line), the other values exactly or as a pattern."""
        self.assertIsNotNone(text, "nothing came onto the clipboard")
        lines = text.split("\r\n")
        self.assertEqual(lines.pop(), "", "lines end with CRLF")
        for line in lines:
            self.assertLessEqual(len(line), 120, line)
        self.assertNotIn("?", text)
        self.assertNotIn("#", text)
        self.assertNotIn("s3cret", text)
        pairs = [tuple(line.split(": ", 1)) for line in lines]
        labels = [label for label, _ in pairs]
        expected = ["Program", "Windows", "Architecture", "UI language", "Last run", "Manifest URL", "Installer URL"]
        expected += [f"Attempt {i + 1}" for i in range(len(attempts))] or ["Download"]
        expected += ["Signature", "Installer exit code", "Application"]
        self.assertEqual(labels, expected, text)
        fields = dict(pairs)
        # The demo build is a test build (it trusts the demo host's CA), and says so.
        self.assertEqual(fields["Program"], "Ombrel Loomwork Installer 0.0.20 (test build)")
        self.assertRegex(fields["Windows"], r"^10\.0 build [1-9][0-9]+$")
        self.assertEqual(fields["Architecture"], "x64")
        self.assertEqual(fields["UI language"], "en_US")
        self.assertRegex(fields["Last run"], last_run)
        self.assertEqual(fields["Manifest URL"], HOST_URL + demo_host.manifest_path())
        installer_url = HOST_URL + demo_host.installer_path() if attempts else "none"
        self.assertEqual(fields["Installer URL"], installer_url)
        for i, pattern in enumerate(attempts):
            self.assertRegex(fields[f"Attempt {i + 1}"], pattern)
        self.assertRegex(fields["Signature"], signature)
        self.assertEqual(fields["Installer exit code"], exit_code)
        self.assertRegex(fields["Application"], application)

    def assert_launched(self, folder_name="Programs\\Ombrel Loomwork"):
        app = self.marker(APP_MARKER, wait=30)
        self.assertIsNotNone(app, "the installed application was not started")
        self.assertTrue(app["path"].endswith(folder_name + "\\Ombrel Loomwork.exe"), app["path"])
        # Started through the shell with no arguments.
        self.assertNotIn("/S", app["cmdline"])

    def assert_installer_ran_silently(self):
        ran = self.marker(INSTALLER_MARKER)
        self.assertIsNotNone(ran, "the installer never ran")
        self.assertTrue(ran["cmdline"].endswith('" /S --currentuser'), ran["cmdline"])
        self.assertRegex(ran["path"], r"(?i)\\Temp\\OmbrelLoomwork_[0-9a-f]{16}\.exe$")

    # -- the cases

    def test_success_installs_launches_cleans_up_and_exits_two_seconds_after_completion(self):
        with self.run_installer("success") as installer:
            after, status = self.finish_with_success(installer, "flow-success-complete")
        self.assertEqual(status, 0)
        self.assertGreater(after, 1.0, "the window closed before showing the completion text for 2 s")
        self.assertLess(after, 8.0, "the window did not close about 2 s after completion")
        self.assert_installer_ran_silently()
        self.assert_launched()
        self.assertEqual(downloads(), {}, "installer or sidecar left in the temporary folder")
        manifest = self.requests_for(demo_host.manifest_path())
        self.assertEqual([r["status"] for r in manifest], [200])
        self.assertEqual(manifest[0]["headers"].get("user-agent"), "OmbrelLoomworkInstaller/1.0")
        self.assertEqual([r["status"] for r in self.requests_for(demo_host.installer_path())], [200])

    def test_a_copy_started_while_one_runs_exits_without_a_request_and_one_installer_runs(self):
        env = wh.wine_env(LC_ALL="en_US.UTF-8", OMBREL_DEMO_MARKER_DIR=windows_path(self.markers),
                          OMBREL_DEMO_APP_SECONDS="4")
        with self.run_installer("first-copy") as first:
            # As a double click that launched twice: the second start follows at once. Two Wine
            # processes a few milliseconds apart may reach the one-copy slot in either order, so
            # the copy that claimed it is the one followed to the end.
            other = subprocess.Popen(["wine", str(self.exe)], cwd=self.exe.parent, env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 60
            while first.process.poll() is None and other.poll() is None and time.monotonic() < deadline:
                time.sleep(0.1)
            if first.process.poll() is not None:
                first.process, other = other, first.process
            if other.poll() is None:
                other.kill()
                self.fail("neither copy exited while the other one ran")
            self.assertIsNone(first.process.poll(), "both copies ended")
            _, status = self.finish_with_success(first)
        self.assertEqual((other.returncode, status), (0, 0))
        self.assert_installer_ran_silently()
        self.assertEqual([r["status"] for r in self.requests_for(demo_host.manifest_path())], [200])
        self.assertEqual([r["status"] for r in self.requests_for(demo_host.installer_path())], [200])
        # A copy started after the first has ended runs as usual.
        demo_host.clear_requests(self.state_dir)
        with self.run_installer("after-first-copy") as later:
            _, status = self.finish_with_success(later)
        self.assertEqual(status, 0)
        self.assertEqual([r["status"] for r in self.requests_for(demo_host.manifest_path())], [200])

    def test_a_slot_taken_by_another_program_neither_stops_the_installer_nor_gets_its_foreground(self):
        # Any program of the user can create the one-copy slot first, zero-filled or naming a
        # window of its own. The installer waits for a window of its own program there, then runs:
        # the first row to the end of the install, the second until its window shows (an installer
        # that handed the foreground over would have exited instead).
        for name, publish_window in (("zeros", False), ("foreign-window", True)):
            with self.subTest(name), wh.slot_held_by_another_program(ONE_COPY_SLOT, publish_window):
                with self.run_installer(f"squatted-{name}") as installer:
                    if publish_window:
                        installer.wait_window()
                        continue
                    _, status = self.finish_with_success(installer)
                self.assertEqual(status, 0)
                self.assert_launched()

    def test_dlls_planted_beside_the_installer_stay_unloaded_through_a_whole_install(self):
        # A download folder holding look-alikes of the system DLLs the program and libcurl load
        # (TLS, certificates, random numbers, network helpers), forced "native first".
        folder = wh.temporary_directory("planted-flow")
        for name in PLANTED:
            wh.copy_exe(wh.env_path("OMBREL_MARKER_DLL"), folder, f"{name}.dll")
        exe = wh.copy_exe(self.exe, folder)
        with self.run_installer("planted", exe=exe, cwd=folder, overrides=",".join(PLANTED) + "=n,b") as installer:
            _, status = self.finish_with_success(installer)
        self.assertEqual(status, 0)
        self.assert_launched()
        self.assertEqual(sorted(p.name for p in folder.glob("*.loaded")), [])

    def test_manifest_not_found_then_retry_after_the_host_is_fixed_succeeds(self):
        size = demo_host.prepare(self.state_dir / "www", self.demo_installer,
                                 manifest={"latestInstallFile": demo_host.INSTALLER_NAME + SECRET_QUERY})
        demo_host.set_faults(self.state_dir, self.id(), [{"path": demo_host.manifest_path(), "status": 404}])
        with self.run_installer("manifest-404") as installer:
            failed = installer.wait_until(
                status_is(message("en_US", "ERROR_MANIFEST_HTTP_FMT", "404"), retry_visible=True, retry_focused=True),
                "the manifest failure")
            installer.screenshot(failed, "flow-manifest-404")
            self.assertEqual(downloads(), {})
            self.summary(installer.copy(), r"^failed, ManifestHttpStatus \(HTTP 404\)$", [], "^not checked$", "not run",
                         "^not looked for$")
            demo_host.set_faults(self.state_dir, self.id() + "-fixed", [])
            self.assertTrue(installer.click_retry()["clicked_retry"])
            # Pressed during the 2 s of the completion text, before the window closes itself.
            succeeded = installer.copy_at(message("en_US", "STATUS_COMPLETE"))
            status = installer.wait_exit(30)
        self.assertEqual(status, 0)
        self.summary(succeeded, "^completed$", [rf"^from byte 0, HTTP 200, {size} bytes, [0-9]+\.[0-9] s$"],
                     r"^trusted, signer \S.*, code 0x00000000$", "0",
                     # Below the profile, the path names the folder's variable, not the user.
                     r"^found at %LOCALAPPDATA%\\Programs\\Ombrel Loomwork\\Ombrel Loomwork\.exe$")
        self.assertEqual([r["status"] for r in self.requests_for(demo_host.manifest_path())], [404, 200])
        downloaded = self.requests_for(demo_host.installer_path())
        self.assertEqual([r["path"] for r in downloaded], [demo_host.installer_path() + SECRET_QUERY.split("#")[0]],
                         "the installer URL's query did not reach the host")
        self.assert_launched()

    def test_download_failing_five_times_shows_the_network_error_with_the_retry_button_focused(self):
        demo_host.prepare(self.state_dir / "www", self.demo_installer,
                          manifest={"latestInstallFile": demo_host.INSTALLER_NAME + SECRET_QUERY})
        demo_host.set_faults(self.state_dir, self.id(), [{"path": demo_host.installer_path(), "status": 500}])
        with self.run_installer("download-500") as installer:
            installer.wait_window()
            started = time.monotonic()
            failed = installer.wait_until(
                status_is(message("en_US", "ERROR_NETWORK"), retry_visible=True, retry_focused=True),
                "the network error", timeout=120)
            took = time.monotonic() - started
            installer.screenshot(failed, "flow-download-500")
            self.assertEqual(state(failed)["retry_text"], message("en_US", "BUTTON_RETRY"))
            summary = installer.copy()
        attempts = self.requests_for(demo_host.installer_path())
        self.assertEqual([r["status"] for r in attempts], [500] * 5, "five attempts, no more")
        self.assertTrue(all(r["path"].endswith("?token=s3cret-42") for r in attempts), attempts)
        # The host's answers are 500s with a short text body, which the program does not keep.
        self.summary(summary, r"^failed, HttpStatus \(HTTP 500\)$",
                     [r"^from byte 0, HTTP 500, HttpStatus, 0 bytes, [0-9]+\.[0-9] s$"] * 5, "^not checked$", "not run",
                     "^not looked for$")
        # Pauses of 1, 2, 4 and 8 s between them.
        self.assertGreaterEqual(took, 14.0)
        self.assertIsNone(self.marker(INSTALLER_MARKER))

    def test_interrupted_download_is_resumed_with_a_range_request_by_the_retry(self):
        size = demo_host.prepare(self.state_dir / "www", self.demo_installer, pad_to=3_000_000)
        cut = 1_000_000
        path = demo_host.installer_path()
        # The first attempt is cut after 1 MB; the run's four other attempts get errors.
        demo_host.set_faults(self.state_dir, self.id(), [{"path": path, "drop_after": cut, "first": 1},
                                                        {"path": path, "status": 500, "first": 4}])
        with self.run_installer("resume") as installer:
            installer.wait_until(status_is(message("en_US", "ERROR_NETWORK"), retry_visible=True),
                                 "the failed run", timeout=120)
            kept = downloads()
            exe = [n for n in kept if n.endswith(".exe")]
            self.assertEqual(len(exe), 1, kept)
            self.assertEqual(kept[exe[0]], cut, "the partial download was not kept")
            self.assertIn(exe[0][:-4] + ".meta", kept, "the sidecar was not kept")
            demo_host.set_faults(self.state_dir, self.id() + "-fixed", [])
            self.assertTrue(installer.click_retry()["clicked_retry"])
            _, status = self.finish_with_success(installer)
        self.assertEqual(status, 0)
        last = self.requests_for(path)[-1]
        self.assertEqual(last["headers"].get("range"), f"bytes={cut}-")
        self.assertIn("if-range", last["headers"])
        self.assertEqual(last["status"], 206)
        self.assert_launched()
        self.assertEqual(downloads(), {})
        self.assertGreater(size, cut)

    def test_a_missing_temp_folder_on_a_full_disk_is_made_and_the_retry_with_space_resumes(self):
        """The user's temporary folder was deleted by a cleaning tool and lies on a small disk: the
        folder is made, the disk fills, the window says so at once (not the network text after
        five attempts), and a retry once space is freed continues the download with a range."""
        size = demo_host.prepare(self.state_dir / "www", self.demo_installer, pad_to=3_000_000)
        disk = wh.temporary_directory("small-disk")
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(disk)]).returncode != 0:
            self.skipTest("a tmpfs mount needs root")
        self.addCleanup(subprocess.run, ["umount", str(disk)])
        temp = disk / "Temp"
        path = demo_host.installer_path()
        with self.run_installer("disk-full", temp=temp) as installer:
            failed = installer.wait_until(status_is(message("en_US", "ERROR_DISK_WRITE"), retry_visible=True),
                                          "the disk error", timeout=120)
            installer.screenshot(failed, "flow-disk-full")
            summary = installer.copy()
            (wh.artifacts_dir() / "flow-disk-full-summary.txt").write_text(summary or "", encoding="utf-8")
            self.assertEqual(len(self.requests_for(path)), 1, "a full disk was tried again")
            kept = {p.name: p.stat().st_size for p in temp.iterdir() if INSTALLED_NAME.match(p.name)}
            exe = [n for n in kept if n.endswith(".exe")]
            self.assertEqual(len(exe), 1, kept)
            self.assertGreater(kept[exe[0]], 0, "nothing of the download was kept")
            self.assertIn(exe[0][:-4] + ".meta", kept, "the validators were not kept")
            subprocess.run(["mount", "-o", "remount,size=16m", str(disk)], check=True)
            self.assertTrue(installer.click_retry()["clicked_retry"])
            _, status = self.finish_with_success(installer)
        self.assertEqual(status, 0)
        self.summary(summary, r"^failed, DiskFull \(code (112|39)\)$",
                     [r"^from byte 0, HTTP 200, DiskFull \(code (112|39)\), [1-9][0-9]* bytes, [0-9]+\.[0-9] s$"],
                     "^not checked$", "not run", "^not looked for$")
        last = self.requests_for(path)[-1]
        self.assertEqual(last["headers"].get("range"), f"bytes={kept[exe[0]]}-")
        self.assertEqual(last["status"], 206)
        self.assert_launched()
        self.assertEqual({p.name for p in temp.iterdir() if INSTALLED_NAME.match(p.name)}, set())
        self.assertGreater(size, kept[exe[0]])

    def test_installer_with_one_changed_byte_is_refused_and_deleted_and_the_retry_downloads_it_whole(self):
        # The changed byte lies in the zero padding, so an unchecked copy would still run.
        www = self.state_dir / "www"
        demo_host.prepare(www, self.demo_installer, pad_to=2_000_000)
        demo_host.change_one_byte(www)
        with self.run_installer("changed-byte") as installer:
            failed = installer.wait_until(
                status_is(message("en_US", "ERROR_INSTALLER_UNTRUSTED"), retry_visible=True, retry_focused=True),
                "the verification failure")
            installer.screenshot(failed, "flow-changed-byte")
            self.assertEqual(downloads(), {}, "the refused installer or its sidecar is still in the temporary folder")
            self.assertIsNone(self.marker(INSTALLER_MARKER), "the refused installer was started")
            demo_host.prepare(www, self.demo_installer, pad_to=2_000_000)
            self.assertTrue(installer.click_retry()["clicked_retry"])
            _, status = self.finish_with_success(installer)
        self.assertEqual(status, 0)
        attempts = self.requests_for(demo_host.installer_path())
        self.assertEqual([r["status"] for r in attempts], [200, 200])
        self.assertNotIn("range", attempts[-1]["headers"], "the retry resumed the refused file")
        self.assert_installer_ran_silently()
        self.assert_launched()
        self.assertEqual(downloads(), {})

    def test_installer_exit_code_is_reported_and_the_installer_deleted(self):
        demo_host.prepare(self.state_dir / "www", self.demo_installer, trailer="exit=3")
        with self.run_installer("exit-3") as installer:
            failed = installer.wait_until(
                status_is(message("en_US", "ERROR_INSTALLER_EXIT_FMT", "3"), retry_visible=True),
                "the installer's exit code")
            installer.screenshot(failed, "flow-exit-3")
            self.assertEqual(downloads(), {}, "the failed installer was not deleted")
        self.assert_installer_ran_silently()
        self.assertIsNone(self.marker(APP_MARKER))

    def test_nothing_installed_still_completes_and_exits_without_a_launch(self):
        demo_host.prepare(self.state_dir / "www", self.demo_installer, trailer="noinstall")
        with self.run_installer("noinstall") as installer:
            _, status = self.finish_with_success(installer)
        self.assertEqual(status, 0)
        self.assert_installer_ran_silently()
        self.assertIsNone(self.marker(APP_MARKER, wait=5), "something was launched")
        self.assertEqual(downloads(), {})

    def test_install_location_with_an_environment_reference_is_expanded_and_launched(self):
        # Installed outside the known folders, so only the registry entry can lead to it.
        demo_host.prepare(self.state_dir / "www", self.demo_installer,
                          trailer=f"expand;dir=%LOCALAPPDATA%\\{ELSEWHERE}")
        with self.run_installer("expand") as installer:
            _, status = self.finish_with_success(installer)
        self.assertEqual(status, 0)
        query = wh.reg("query", UNINSTALL_KEY, "/v", "InstallLocation").stdout
        self.assertRegex(query, r"REG_EXPAND_SZ\s+%LOCALAPPDATA%\\" + ELSEWHERE)
        self.assert_launched(ELSEWHERE)

    def test_french_interface_shows_the_failure_in_french(self):
        demo_host.set_faults(self.state_dir, self.id(), [{"path": demo_host.manifest_path(), "status": 503}])
        with self.run_installer("french", locale="fr_FR") as installer:
            failed = installer.wait_until(
                status_is(message("fr_FR", "ERROR_MANIFEST_HTTP_FMT", "503"), retry_visible=True),
                "the French failure text")
            installer.screenshot(failed, "flow-french")
            s = state(failed)
            self.assertEqual(s["retry_text"], message("fr_FR", "BUTTON_RETRY"))
            self.assertEqual(s["title"], message("fr_FR", "TITLE_HEADING"))
            self.assertNotEqual(s["status"], message("en_US", "ERROR_MANIFEST_HTTP_FMT", "503"))


if __name__ == "__main__":
    unittest.main()
