"""How the installer's window lives and ends, driven by the scripted test build (its pipeline
steps follow OMBREL_E2E_RUNS, see scripted_steps.cpp).

A stage is rendered in several calls, and the inspector can look in between, so each check
waits for the whole expected state and reports the last state it saw when it never comes."""
import re
import unittest

import wine_harness as wh


def state(snapshot):
    """The parts of the window a stage changes."""
    controls = wh.controls(snapshot)
    progress = controls["progress"]["progress"]
    return {"status": controls["status"]["text"], "position": progress["position"], "marquee": progress["marquee"],
            "retry_visible": controls["retry"]["visible"], "retry_focused": controls["retry"]["focused"]}


def shows(expected):
    return lambda snapshot: all(state(snapshot)[k] == v for k, v in expected.items())


class LifecycleTest(unittest.TestCase):
    def scripted(self, name, runs, log=None):
        env = {"OMBREL_E2E_RUNS": runs}
        if log is not None:
            env["OMBREL_E2E_LOG"] = "Z:" + str(log).replace("/", "\\")
        return wh.Installer(wh.env_path("OMBREL_SCRIPTED_EXE"), name, env=env)

    def test_closing_during_a_download_exits_zero_without_waiting_for_the_worker(self):
        downloading = wh.format_template(wh.translation("en_US", "STATUS_DOWNLOADING_FMT"), "42")
        # The download step never returns: only abandoning the worker lets the program end.
        with self.scripted("close-during-download", "download.progress=0.42,download.hang") as installer:
            snapshot = installer.wait_until(
                shows({"status": downloading, "position": 420, "marquee": False, "retry_visible": False}),
                "the download at 42%")
            installer.screenshot(snapshot, "close-during-download")
            self.assertTrue(installer.close()["closed"])
            self.assertEqual(installer.wait_exit(30), 0)

    def test_retry_after_a_failure_starts_one_run_and_completion_closes_the_window(self):
        log = wh.temporary_directory("retry") / "steps.log"
        with self.scripted("retry-then-complete", "fetch.fail=Scripted failure|install.sleep=300", log) as installer:
            failed = installer.wait_until(
                shows({"status": wh.format_template(wh.translation("en_US", "ERROR_UNEXPECTED_FMT"), "Scripted failure"),
                       "position": 0, "marquee": False, "retry_visible": True,
                       "retry_focused": True}),
                "the failure, with the retry button shown and focused")
            installer.screenshot(failed, "retry-failed")

            self.assertTrue(installer.click_retry()["clicked_retry"])
            installer.wait_until(
                shows({"status": wh.translation("en_US", "STATUS_COMPLETE"), "position": 1000, "marquee": False,
                       "retry_visible": False}),
                "the completion text")
            # The close timer ends the program by itself.
            self.assertEqual(installer.wait_exit(30), 0)
        runs = [line for line in log.read_text().splitlines() if line.startswith("run ")]
        self.assertEqual(runs, ["run 1", "run 2"], "one click, one new run")

    def test_screen_readers_hear_every_stage_and_the_download_at_most_at_each_tenth(self):
        # 51 progress lines in steps of 2 %; each other stage stays a second, longer than an
        # event takes to reach the hook under qemu.
        download = ",".join(f"download.progress={i / 50},download.sleep=15" for i in range(51))
        runs = f"fetch.sleep=1000,{download},install.sleep=1000,find.sleep=1000"
        exe = wh.env_path("OMBREL_SCRIPTED_EXE")
        watch = wh.LiveRegionWatch(exe)
        self.assertTrue(watch.hooked, "the WinEvent hook could not be installed")
        with wh.Installer(exe, "live-regions", env={"OMBREL_E2E_RUNS": runs}) as installer:
            self.assertEqual(installer.wait_exit(60), 0)
        texts = watch.texts()
        # Every stage's line, a percentage template standing for all its figures.
        stage_keys = wh.stage_keys()
        stages = {}
        for key in stage_keys:
            text = wh.translation("en_US", key)
            if key.endswith("_FMT"):
                stages.update({wh.format_template(text, str(p)): key for p in range(101)})
            else:
                stages[text] = key
        heard = [stages.get(text, text) for text in texts]
        # Each stage in order, and nothing but the stages' own lines.
        order = [key for i, key in enumerate(heard) if i == 0 or heard[i - 1] != key]
        self.assertEqual(order, stage_keys, texts)
        # The hook reads the label when the event arrives, by which time the download may have
        # moved on: the texts show when, the count how often the window announced (each other
        # stage once, the download at most at each tenth from 0 to 100 %).
        self.assertLessEqual(len(texts), len(stage_keys) - 1 + 11, texts)

    def test_ctrl_c_puts_the_support_summary_on_the_clipboard(self):
        exe = wh.env_path("OMBREL_SCRIPTED_EXE")
        with wh.Installer(exe, "copy-summary", locale="fr_FR", env={"OMBREL_E2E_RUNS": "fetch.hang"}) as installer:
            installer.wait_until(lambda s: wh.controls(s)["status"]["text"] != "", "a status text")
            text = installer.copy()
        self.assertIsNotNone(text, "nothing came onto the clipboard")
        lines = text.split("\r\n")
        self.assertEqual(lines[-1], "", "lines end with CRLF")
        fields = dict(line.split(": ", 1) for line in lines[:-1])
        self.assertEqual(fields["Program"], "Ombrel Loomwork Installer 0.0.20")
        self.assertRegex(fields["Windows"], r"^10\.0 build [1-9][0-9]+$")
        self.assertEqual(fields["Architecture"], "x64")
        self.assertEqual(fields["UI language"], "fr_FR")
        # The first run is still fetching: nothing finished to tell yet.
        self.assertEqual(fields["Current run"], "in progress")
        self.assertEqual(fields["Last run"], "none finished")
        for line in lines:
            self.assertLessEqual(len(line), 120, line)


if __name__ == "__main__":
    unittest.main()
