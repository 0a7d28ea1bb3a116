"""DLLs planted beside the installer (a download folder may hold anything) must not be loaded.

Each planted DLL writes "<name>.dll.loaded" when a process loads it. Wine prefers its own
built-in DLLs, so the names are forced to "native first" as a Windows loader would treat them;
a control program that loads them the naive way proves the markers do appear."""
import unittest

import wine_harness as wh

# System DLLs that are not on the KnownDLLs list on every Windows version, so a copy beside an
# executable would be found first by a naive load: the ones this program loads at run time
# (common controls, the imaging component) and the usual suspects of a network program.
# Left out: version, uxtheme, imm32, msimg32, propsys and shlwapi. Wine's own built-in DLLs
# import those and resolve such imports from the application folder regardless of the search
# flags (Windows resolves them from System32 here); planting them only tests Wine's loader.
# libcurl loads secur32 and iphlpapi itself once a download starts, and the publisher check
# loads wintrust before the downloaded installer runs: the whole install flow plants these DLLs
# too (test_install_flow).
# Also left out: crypt32 and bcrypt. The program imports them delay-loaded (none is in its import
# table, test_executable checks), but Wine's own secur32 delay-loads crypt32, which imports
# bcrypt, through the application folder whatever the process's DLL directories are.
PLANTED = ["comctl32", "windowscodecs", "dwmapi", "cryptbase", "profapi", "userenv", "winmm", "winhttp",
           "wininet", "dnsapi", "mswsock", "dwrite", "oleacc", "secur32", "iphlpapi", "wintrust"]


class DllPlantingTest(unittest.TestCase):
    def plant(self, folder):
        marker = wh.env_path("OMBREL_MARKER_DLL")
        for name in PLANTED:
            wh.copy_exe(marker, folder, f"{name}.dll")
        return ",".join(PLANTED) + "=n,b"

    def markers(self, folder):
        return sorted(p.name for p in folder.glob("*.loaded"))

    def test_control_a_naive_program_loads_the_planted_dlls(self):
        folder = wh.temporary_directory("planted-control")
        overrides = self.plant(folder)
        probe = wh.copy_exe(wh.env_path("OMBREL_DLL_PROBE_EXE"), folder)
        wh.prepare_prefix()
        result = wh.subprocess.run(["wine", str(probe), *[f"{n}.dll" for n in PLANTED]], cwd=folder,
                                   env=wh.wine_env(overrides), capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertEqual(self.markers(folder), sorted(f"{n}.dll.loaded" for n in PLANTED))

    def test_the_installer_loads_none_of_the_planted_dlls(self):
        folder = wh.temporary_directory("planted")
        overrides = self.plant(folder)
        exe = wh.copy_exe(wh.env_path("OMBREL_INSTALLER_EXE"), folder)
        with wh.Installer(exe, "planted-dlls", cwd=folder, overrides=overrides) as installer:
            # By now the window, its common controls and the decoded icon all exist.
            installer.wait_until(lambda s: wh.controls(s)["status"]["text"] != "", "a status text")
            self.assertTrue(installer.close()["closed"])
            self.assertEqual(installer.wait_exit(30), 0)
        self.assertEqual(self.markers(folder), [])


if __name__ == "__main__":
    unittest.main()
