#!/usr/bin/env bash
# Runs one 64-bit Windows program under wine64 (natively, no qemu) and returns its exit status.
# CTest uses it as the emulator of the x86_64 MinGW build.
source "$(dirname "$0")/wine-env.sh"
"$(dirname "$0")/wine-prefix.sh" >/dev/null
exec "$WINE64" "$@"
