#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine (run as root).
# Idempotent: packages already present are skipped, so a second run takes seconds.
set -euo pipefail

APT=(apt-get -y -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)
export DEBIAN_FRONTEND=noninteractive

packages=(
  cmake ninja-build g++ pkg-config git
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
  googletest libgtest-dev libcurl4-openssl-dev zlib1g-dev ca-certificates openssl
  wine wine32:i386 wine64 fonts-wine
  qemu-user-static binfmt-support
  xvfb xdotool imagemagick x11-apps locales librsvg2-bin fonts-ipafont-gothic
  nginx-light curl python3 dpkg-dev clang libclang-rt-14-dev clang-format clang-tidy osslsigncode
  faketime
)

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

# Source packages: the Windows build compiles libcurl from Debian's curl source.
for f in /etc/apt/sources.list.d/debian.sources; do
  if [ -f "$f" ] && ! grep -q 'deb-src' "$f"; then
    sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
    need_update=1
  fi
done
if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list && ! grep -q '^deb-src ' /etc/apt/sources.list; then
  grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' >> /etc/apt/sources.list
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ $need_update = 1 ] || [ -z "$(ls -A /var/lib/apt/lists 2>/dev/null | grep -v lock)" ] || true; then
    "${APT[@]}" update
  fi
  echo "setup: installing ${missing[*]}"
  "${APT[@]}" install --no-install-recommends "${missing[@]}"
elif [ $need_update = 1 ]; then
  "${APT[@]}" update
fi

# The glibc locales the language tests switch to (Wine maps LC_ALL to the UI language).
want_locales=(en_US.UTF-8 fr_FR.UTF-8 ja_JP.UTF-8 de_DE.UTF-8)
have=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z' | sed 's/utf8/utf-8/')
regen=0
for l in "${want_locales[@]}"; do
  lc=$(echo "$l" | tr 'A-Z' 'a-z')
  if ! grep -qx "$lc" <<<"$have"; then
    sed -i "s/^# *\($l UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$l UTF-8" /etc/locale.gen || echo "$l UTF-8" >> /etc/locale.gen
    regen=1
  fi
done
[ $regen = 1 ] && locale-gen

# 32-bit Wine needs qemu for i386 code on this VM: register the i386 ELF magic with binfmt_misc.
if ! grep -q binfmt_misc /proc/mounts; then
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
fi
if [ -d /proc/sys/fs/binfmt_misc ] && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && [ -w /proc/sys/fs/binfmt_misc/register ]; then
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:POCF' \
    > /proc/sys/fs/binfmt_misc/register || true
fi
echo "setup: done"
