# Sourced by the scripts that run Windows programs: one Wine prefix inside build/, no
# Mono/Gecko prompts, no debugger left behind by a crash, fast 32-bit starts under qemu.
OMBREL_ROOT="${OMBREL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
export WINEPREFIX="${WINEPREFIX:-$OMBREL_ROOT/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export QEMU_RESERVED_VA=0x81000000
export WINE64=/usr/lib/wine/wine64
