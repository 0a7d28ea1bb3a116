#!/usr/bin/env python3
"""What the shipped executable must be, as a file: the checks the end-to-end tests make of the
build and scripts/release.sh makes of the signed file, and the byte comparison of
scripts/verify-release.sh.

  pe_check.py check EXE [--map LINK_MAP] [--build-root DIR]
      a 32-bit GUI program; imports only what the loader takes from the system (and from msvcrt
      only the checked functions); ASLR, DEP, read-only resources (and stack canaries, from the
      link map); no link time, a right checksum, no path of DIR. One line per group; exit 1 when
      one fails.
  pe_check.py restore-header FILE
      after `osslsigncode remove-signature`: the header fields signing changed, as the build
      writes them (no certificate table, the loader's checksum of the file).
  pe_check.py compare REBUILT GIVEN
      "reproduced: <sha256>" and exit 0 when the files are equal, else the first differing
      offset and the part of the file it falls in, exit 1.
"""
import argparse
import hashlib
import re
import struct
import sys
from pathlib import Path

from pe_file import PeFile

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

IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
DYNAMIC_BASE, NX_COMPAT = 0x40, 0x100
IMAGE_SCN_MEM_WRITE = 0x80000000


# Each check returns the problems it found, in words; an empty list is a pass.
def kind_problems(pe):
    problems = []
    if pe.machine != IMAGE_FILE_MACHINE_I386:
        problems.append(f"machine {pe.machine:#x}, not i386 (0x14c)")
    if pe.subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI:
        problems.append(f"subsystem {pe.subsystem}, not the Windows GUI (2)")
    return problems


def known_dll_problems(pe):
    imported = {name.lower() for name in pe.imported_dlls()}
    outside = sorted(n for n in imported if n not in KNOWN_DLLS and not n.startswith("api-ms-win-"))
    return [f"imports outside KnownDLLs: {outside}"] if outside else []


def msvcrt_problems(pe):
    unchecked = sorted(set(pe.imported_functions("msvcrt.dll")) - MSVCRT_IMPORTS)
    return [f"new msvcrt imports: {unchecked} (check them, then list them)"] if unchecked else []


def hardening_problems(pe, link_map=None):
    """ASLR (with its relocations), DEP, read-only resources; stack canaries when the link map
    is given (their failure handler comes from MinGW's libssp, linked in statically)."""
    problems = []
    if not pe.dll_characteristics & DYNAMIC_BASE:
        problems.append("no DYNAMIC_BASE (ASLR)")
    if pe.directories[5] == (0, 0):
        problems.append("no relocation table (ASLR cannot move the image)")
    if not pe.dll_characteristics & NX_COMPAT:
        problems.append("no NX_COMPAT (DEP)")
    if pe.section_flags.get(".rsrc", IMAGE_SCN_MEM_WRITE) & IMAGE_SCN_MEM_WRITE:
        problems.append("the resource section is writable or missing")
    if link_map is not None and not re.search(r"libssp\.a\(ssp\.o\)\s+.+ \(__stack_chk_fail\)", link_map):
        problems.append("no stack protector linked")
    return problems


def reproducibility_problems(pe, build_root=None):
    """What would differ between two builds of one commit: a link time, a checksum that is not
    the content's, the folder the build ran in."""
    problems = []
    if pe.time_stamp != 0:
        problems.append(f"link time stamp {pe.time_stamp}, not 0")
    if pe.checksum != pe.computed_checksum():
        problems.append(f"checksum {pe.checksum:#x}, not the file's {pe.computed_checksum():#x}")
    if build_root:
        for encoding in ("utf-8", "utf-16-le"):
            if str(build_root).encode(encoding) in pe.data:
                problems.append(f"the build folder {build_root} is in the file ({encoding})")
    return problems


def check(args):
    pe = PeFile(args.exe)
    link_map = Path(args.map).read_text(encoding="utf-8", errors="replace") if args.map else None
    groups = [("machine and subsystem", kind_problems(pe)),
              ("imports", known_dll_problems(pe) + msvcrt_problems(pe)),
              ("hardening", hardening_problems(pe, link_map)),
              ("reproducible header", reproducibility_problems(pe, args.build_root and Path(args.build_root).resolve()))]
    for name, problems in groups:
        print(f"pe-check: {name}: " + ("ok" if not problems else "FAILED: " + "; ".join(problems)))
    return 0 if not any(problems for _, problems in groups) else 1


def restore_header(args):
    # Signing adds the certificate table and rewrites the checksum; the build writes no table and
    # the loader's checksum of the file (the linker's, kept by scripts/pe-readonly-resources.py).
    pe = PeFile(args.file)
    if pe.directories[4] != (0, 0):
        sys.exit(f"pe-check: {args.file} still has a certificate table: remove the signature first")
    data = bytearray(pe.data)
    struct.pack_into("<I", data, pe.checksum_offset, pe.computed_checksum())
    Path(args.file).write_bytes(data)
    return 0


def compare(args):
    rebuilt, given = Path(args.rebuilt).read_bytes(), Path(args.given).read_bytes()
    if rebuilt == given:
        print(f"reproduced: {hashlib.sha256(rebuilt).hexdigest()}")
        return 0
    pe = PeFile(args.rebuilt)
    # The checksum sums the whole file, so any change shows there too: name where else it differs.
    checksum = range(pe.checksum_offset, pe.checksum_offset + 4)
    offset = next((i for i, (a, b) in enumerate(zip(rebuilt, given)) if a != b and i not in checksum), None)
    if offset is None and len(rebuilt) != len(given):
        offset = min(len(rebuilt), len(given))
    part = pe.part_at(offset) if offset is not None else "headers (the checksum alone)"
    if offset is None:
        offset = next(i for i in checksum if rebuilt[i] != given[i])
    print(f"differs: first at offset {offset} ({offset:#x}), in {part}; "
          f"rebuilt {len(rebuilt)} bytes, given {len(given)} bytes without its signature")
    return 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("check")
    p.add_argument("exe")
    p.add_argument("--map")
    p.add_argument("--build-root")
    p.set_defaults(run=check)
    p = commands.add_parser("restore-header")
    p.add_argument("file")
    p.set_defaults(run=restore_header)
    p = commands.add_parser("compare")
    p.add_argument("rebuilt")
    p.add_argument("given")
    p.set_defaults(run=compare)
    args = parser.parse_args()
    try:
        return args.run(args)
    except (OSError, ValueError, struct.error) as error:
        print(f"pe-check: {error}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
