"""The shipped executable as a file: a 32-bit GUI program whose imports the loader always takes
from the system, carrying the icon (once), the manifest and the version."""
import sys
import unittest

import check_ico
import wine_harness as wh

# The checks scripts/release.sh makes of the signed file, and the PE reader they use.
sys.path.insert(0, str(wh.ROOT / "tools" / "pe_check"))
import pe_check  # noqa: E402
from pe_file import PeFile, version_strings  # noqa: E402

RT_ICON, RT_GROUP_ICON, RT_RCDATA, RT_VERSION, RT_MANIFEST = 3, 14, 10, 16, 24


def only(languages):
    assert len(languages) == 1, languages
    return next(iter(languages.values()))


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.exe = wh.env_path("OMBREL_INSTALLER_EXE")
        cls.pe = PeFile(cls.exe)
        cls.resources = cls.pe.resources()
        cls.ico = (wh.ROOT / "resources" / "ombrel.ico").read_bytes()

    def test_is_a_32_bit_gui_program(self):
        self.assertEqual(self.exe.name, "Install Ombrel Loomwork.exe")
        self.assertEqual(pe_check.kind_problems(self.pe), [])

    def test_build_leaves_no_time_stamp_or_folder_in_the_file(self):
        # Two builds of one commit, in any folders, must give the same bytes: no link time, a
        # checksum of the content alone, no path of the tree the build ran in.
        self.assertEqual(pe_check.reproducibility_problems(self.pe, wh.ROOT.resolve()), [])

    # -- hardening: ASLR, DEP, read-only resources, stack canaries
    def test_is_hardened(self):
        # Relocations stay: the loader places the program at a random address (ASLR).
        link_map = (self.exe.parent / "ombrel_installer.map").read_text(encoding="utf-8", errors="replace")
        self.assertEqual(pe_check.hardening_problems(self.pe, link_map), [])
    # -- end of hardening

    def test_imports_only_dlls_the_loader_takes_from_the_system(self):
        self.assertIn("kernel32.dll", [name.lower() for name in self.pe.imported_dlls()], "the import reader works")
        self.assertEqual(pe_check.known_dll_problems(self.pe), [])

    # --- C runtime imports (kept apart from the other header checks) ---
    def test_takes_from_msvcrt_only_the_checked_functions(self):
        self.assertIn("sscanf", self.pe.imported_functions("msvcrt.dll"), "the import reader found msvcrt's functions")
        self.assertEqual(pe_check.msvcrt_problems(self.pe), [])
    # --- end of the C runtime imports ---

    def test_icon_file_is_six_32_bit_images(self):
        self.assertEqual([(s, k) for s, k, _ in check_ico.describe(self.ico)], check_ico.EXPECTED)

    def test_icon_images_are_stored_once(self):
        # The window decodes its icon from the icon group's own images: no second copy.
        self.assertNotIn(RT_RCDATA, self.resources)
        for i, image in enumerate(check_ico.directory_images(self.ico)):
            self.assertEqual(self.pe.data.count(image), 1, f"image {i} of the icon file")

    def test_icon_group_1_holds_the_same_six_images(self):
        group = only(self.resources[RT_GROUP_ICON][1])
        count = int.from_bytes(group[4:6], "little")
        self.assertEqual(count, 6)
        file_entries = check_ico.directory_images(self.ico)
        for i in range(count):
            entry = group[6 + 14 * i:6 + 14 * (i + 1)]
            icon_id = int.from_bytes(entry[12:14], "little")
            image = only(self.resources[RT_ICON][icon_id])
            self.assertEqual(image, file_entries[i], f"image {i} of the icon group")

    def test_manifest_is_embedded_once_and_unchanged(self):
        manifests = self.resources[RT_MANIFEST]
        self.assertEqual(list(manifests), [1])
        self.assertEqual(only(manifests[1]), (wh.ROOT / "resources" / "installer.manifest").read_bytes())

    def test_version_block(self):
        info = version_strings(only(self.resources[RT_VERSION][1]))
        self.assertEqual(info["file_version"], (0, 1, 0, 0))
        self.assertEqual(info["product_version"], (0, 1, 0, 0))
        self.assertEqual(info["translation"], (0x0000, 0x04B0))
        strings = info["strings"]["000004b0"]
        self.assertEqual(strings["FileVersion"], "0.0.20")
        self.assertEqual(strings["ProductVersion"], "0.0.20")
        self.assertEqual(strings["FileDescription"], "Ombrel Loomwork Installer")
        self.assertEqual(strings["ProductName"], "Ombrel Loomwork Installer")
        self.assertEqual(strings["InternalName"], "Install Ombrel Loomwork")
        self.assertEqual(strings["OriginalFilename"], "Install Ombrel Loomwork.exe")


if __name__ == "__main__":
    unittest.main()
