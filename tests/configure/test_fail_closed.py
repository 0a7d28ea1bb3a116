"""Configures the i686 product in scratch folders, as a vendor or a script might, and checks the
trust decisions each configure takes: OFF for the publisher check holds for the one configure that
says it, and a configure without the preset is refused rather than silently a test build.

Only those decisions are made (OMBREL_CONFIGURE_TRUST_ONLY stops the configure after them), so
nothing is built and libcurl's cross build is not needed."""
import os
import subprocess
import tempfile
import unittest
from pathlib import Path

ROOT = Path(os.environ.get("OMBREL_ROOT") or Path(__file__).resolve().parents[2])
PRESET = ["--preset", "win32-release"]
NO_PRESET = ["-S", str(ROOT), "-G", "Ninja", f"-DCMAKE_TOOLCHAIN_FILE={ROOT / 'cmake' / 'toolchain-mingw-i686.cmake'}",
             "-DCMAKE_BUILD_TYPE=MinSizeRel"]
NO_PUBLISHER = "This Windows build names no publisher"
# What an earlier version of cmake/PublisherCheck.cmake left in a folder configured with OFF.
LEFTOVER_OFF = ('set(OMBREL_PUBLISHER_CHECK OFF CACHE STRING "OFF: a Windows product build without the publisher '
                'check (empty: on, and a publisher must be named)")\n')

# (what, [(cmake arguments, expected) for each configure of one folder in turn]); expected is
# ("ok", text the output shows, {generated file: its content}) or ("refused", text of the error).
ROWS = [
    ("OFF holds for its own configure only", [
        (PRESET + ["-DOMBREL_PUBLISHER_CHECK=OFF"], ("ok", "Publisher check: off", {"publisher-check.txt": "off\n"})),
        (PRESET, ("refused", NO_PUBLISHER)),
    ]),
    ("an OFF an earlier version left in the cache is not taken", [
        (PRESET + ["-C", "{leftover}"], ("refused", NO_PUBLISHER)),
    ]),
    ("the toolchain without the preset builds no test build and needs a publisher", [
        (NO_PRESET, ("refused", NO_PUBLISHER)),
    ]),
    ("tests need a test build", [
        (NO_PRESET + ["-DOMBREL_BUILD_TESTS=ON"], ("refused", "The tests need a test build")),
    ]),
    ("a test build says so", [
        (NO_PRESET + ["-DOMBREL_TEST_BUILD=ON"],
         ("ok", "Test build (OMBREL_TEST_BUILD=ON)", {"publisher-check.txt": "on\n"})),
    ]),
]


class FailClosedConfigureTest(unittest.TestCase):
    def test_each_configure_decides_trust_on_its_own_arguments(self):
        for what, steps in ROWS:
            with self.subTest(what), tempfile.TemporaryDirectory(prefix="ombrel-configure-") as scratch:
                leftover = Path(scratch) / "leftover.cmake"
                leftover.write_text(LEFTOVER_OFF)
                build = Path(scratch) / "build"
                for number, (arguments, expected) in enumerate(steps, 1):
                    arguments = [a.replace("{leftover}", str(leftover)) for a in arguments]
                    result = subprocess.run(["cmake", *arguments, "-B", str(build), "-DOMBREL_CONFIGURE_TRUST_ONLY=ON"],
                                            cwd=ROOT, capture_output=True, text=True)
                    output = result.stdout + result.stderr
                    # CMake wraps long messages: compare the words only.
                    words = " ".join(output.split())
                    step = f"configure {number} ({' '.join(arguments)}):\n{output}"
                    if expected[0] == "refused":
                        self.assertNotEqual(result.returncode, 0, step)
                        self.assertIn(expected[1], words, step)
                        continue
                    self.assertEqual(result.returncode, 0, step)
                    self.assertIn(expected[1], words, step)
                    for name, content in expected[2].items():
                        self.assertEqual((build / "generated" / name).read_text(), content, step)
                    test_build = "Test build" in expected[1]
                    values = (build / "generated" / "built_in_values.inc").read_text()
                    self.assertIn(f"kGeneratedTestBuild = {'true' if test_build else 'false'};", values, step)


if __name__ == "__main__":
    unittest.main()
