"""The shipped executable as a file: a 32-bit GUI program whose imports the loader always takes
from the system, carrying the icon (once), the manifest and the version."""
import unittest

import check_ico
import wine_harness as wh
from pe_file import PeFile, version_strings

# DLLs that Windows 10 and 11 load only from System32 (the KnownDLLs list) plus the C runtime
# and the API sets, which are never looked up in the application folder.
KNOWN_DLLS = {"advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "gdi32.dll", "gdiplus.dll",
              "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll",
              "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll",
              "shell32.dll", "user32.dll", "wldap32.dll", "ws2_32.dll", "ntdll.dll"}

# Everything the exe may take from msvcrt.dll: the MinGW start-up and the C functions our code
# and libcurl's pinned source (cmake/CurlWindows.cmake) were checked against. msvcrt's sscanf and
# sprintf are safe for libcurl's formats; _snprintf and _vsnprintf are not (no terminating NUL
# on truncation), so a new import here is a C runtime assumption to check before it ships.
# _close and _exit come with the stack protector (libssp: its canary set-up, its abort path).
MSVCRT_IMPORTS = {
    "__p__commode", "__p__fmode", "__p__wcmdln", "__set_app_type", "__setusermatherr", "__wgetmainargs",
    "__winitenv", "_access", "_amsg_exit", "_close", "_beginthreadex", "_cexit", "_endthreadex", "_errno", "_exit", "_initterm",
    "_iob", "_onexit", "_open", "_read", "_setjmp3", "_stati64", "_strdup", "_sys_errlist", "_sys_nerr",
    "_ultoa", "_write", "abort", "atoi", "calloc", "exit", "fclose", "fopen", "fprintf", "fputc", "fread",
    "free", "fseek", "ftell", "fwrite", "gmtime", "islower", "isspace", "isupper", "longjmp", "malloc",
    "memchr", "memcmp", "memcpy", "memmove", "memset", "printf", "realloc", "signal", "sprintf", "sscanf",
    "strchr", "strcmp", "strcpy", "strcspn", "strerror", "strlen", "strncmp", "strncpy", "strpbrk", "strrchr",
    "strspn", "strstr", "strtol", "strtoul", "time", "vfprintf", "wcslen", "wcstombs"}

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
        self.assertEqual(self.pe.machine, 0x14C)
        self.assertEqual(self.pe.subsystem, 2)

    def test_build_leaves_no_time_stamp_or_folder_in_the_file(self):
        # Two builds of one commit, in any folders, must give the same bytes: no link time, a
        # checksum of the content alone, no path of the tree the build ran in.
        self.assertEqual(self.pe.time_stamp, 0)
        self.assertEqual(self.pe.checksum, self.pe.computed_checksum())
        root = str(wh.ROOT.resolve())
        for encoding in ("utf-8", "utf-16-le"):
            self.assertNotIn(root.encode(encoding), self.pe.data, f"the build folder, in {encoding}")
        # Relocations stay: the loader places the program at a random address (ASLR).
        self.assertTrue(self.pe.dll_characteristics & 0x40, "DYNAMIC_BASE")
        self.assertNotEqual(self.pe.directories[5], (0, 0), "no relocation table")

    # -- hardening: ASLR, DEP, read-only resources, stack canaries
    def test_is_hardened(self):
        self.assertTrue(self.pe.dll_characteristics & 0x40, "DYNAMIC_BASE")
        self.assertTrue(self.pe.dll_characteristics & 0x100, "NX_COMPAT")
        self.assertFalse(self.pe.section_flags[".rsrc"] & 0x80000000, "the resource section is writable")
        # The canaries' failure handler comes from MinGW's libssp, linked in statically.
        link_map = (self.exe.parent / "ombrel_installer.map").read_text(encoding="utf-8", errors="replace")
        self.assertRegex(link_map, r"libssp\.a\(ssp\.o\)\s+.+ \(__stack_chk_fail\)", "no stack protector linked")
    # -- end of hardening

    def test_imports_only_dlls_the_loader_takes_from_the_system(self):
        imported = {name.lower() for name in self.pe.imported_dlls()}
        imported = {n for n in imported if not n.startswith("api-ms-win-")}
        self.assertLessEqual(imported, KNOWN_DLLS, f"imports outside KnownDLLs: {sorted(imported - KNOWN_DLLS)}")

    # --- C runtime imports (kept apart from the other header checks) ---
    def test_takes_from_msvcrt_only_the_checked_functions(self):
        imported = set(self.pe.imported_functions("msvcrt.dll"))
        self.assertIn("sscanf", imported, "the import reader found msvcrt's functions")
        self.assertFalse(sorted(imported - MSVCRT_IMPORTS), "new msvcrt imports: check them, then list them")
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
