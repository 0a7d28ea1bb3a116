#!/usr/bin/env bash
# Proves that a signed release exe is the build of its source: rebuilds the commit that
# release.json names, with the values it names, and compares the signed file without its
# signature byte for byte. Usage and options: bash scripts/verify-release.sh --help
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"

usage() {
  cat <<'EOF'
Usage: scripts/verify-release.sh [--repo URL] [--scratch DIR] [--deps-dir DIR] [--tsa-roots PEM]
                                 [--jobs N] SIGNED.exe [release.json]

Clones the commit that release.json (default: the one beside SIGNED.exe) names into a scratch
folder, builds the product there as scripts/release.sh did (cmake --preset win32-release, with the
recorded base URL, publisher name and publisher roots), removes the signature from SIGNED.exe
(osslsigncode remove-signature; the header fields signing changes restored as the build writes
them) and compares the two files. When they are the same bytes, the signature must still verify
(osslsigncode verify against the recorded publisher roots), so no byte of the signature changed.

Prints "reproduced: <sha256>" and exits 0 when the bytes are the same and the signature verifies;
otherwise names the first differing offset and the part of the file it falls in (and any
compiler, binutils, MinGW, zlib or curl source version that differs from the release's), or that
the signature does not verify, and exits 1. Exit status 2: nothing could be compared (a missing
tool or file, an unreadable release.json, a failed build).

  --repo URL      the repository to clone (default: the one this script is in); it must hold
                  the recorded commit
  --scratch DIR   clone and build in DIR and keep it (default: a temporary folder, removed at the
                  end); an earlier verify's DIR is reused, its build brought up to the commit
  --deps-dir DIR  a cache of the cross-built libcurl to use (OMBREL_DEPS_DIR; default: the scratch
                  clone builds its own from Debian's curl source, about 2 minutes)
  --tsa-roots PEM roots the signature's timestamp is checked against (default: the system's CA
                  list)
  --jobs N        parallel build jobs (default: the number of processors)
EOF
}

cannot() {
  echo "verify-release: cannot verify: $*" >&2
  exit 2
}

repo="$ROOT" scratch="" deps_dir="" tsa_roots="/etc/ssl/certs/ca-certificates.crt" jobs="$(nproc)" files=()
while [ $# -gt 0 ]; do
  case "$1" in
    -h | --help) usage; exit 0 ;;
    --repo | --scratch | --deps-dir | --tsa-roots | --jobs)
      [ $# -ge 2 ] || cannot "$1 needs a value (see --help)"
      name="${1#--}"
      printf -v "${name//-/_}" '%s' "$2"
      shift 2 ;;
    -*) cannot "unknown option $1 (see --help)" ;;
    *) files+=("$1"); shift ;;
  esac
done
[ ${#files[@]} -ge 1 ] && [ ${#files[@]} -le 2 ] || { usage >&2; exit 2; }
signed="$(realpath -m "${files[0]}")"
facts="$(realpath -m "${files[1]:-$(dirname "$signed")/release.json}")"
[ -f "$signed" ] || cannot "$signed does not exist"
[ -f "$facts" ] || cannot "$facts does not exist (name release.json after the exe)"
[ -z "$deps_dir" ] || deps_dir="$(realpath -m "$deps_dir")"
tsa_roots="$(realpath -m "$tsa_roots")"
[ -f "$tsa_roots" ] || cannot "--tsa-roots $tsa_roots does not exist"
[[ "$jobs" =~ ^[1-9][0-9]*$ ]] || cannot "--jobs must be a positive number"
for tool in git cmake ninja osslsigncode python3; do
  command -v "$tool" >/dev/null || cannot "$tool is missing (bash scripts/setup.sh installs what the build needs)"
done

release_facts() { python3 "$ROOT/scripts/release_facts.py" "$@"; }
commit="$(release_facts get "$facts" commit)" || cannot "$facts does not read"
base_url="$(release_facts get "$facts" base_url)" || cannot "$facts does not read"
publisher_name="$(release_facts get "$facts" publisher_name)" || cannot "$facts does not read"
[[ "$commit" =~ ^[0-9a-f]{40}$ ]] || cannot "$facts: the commit \"$commit\" is no full commit id"

if [ -n "$scratch" ]; then
  scratch="$(realpath -m "$scratch")"
  mkdir -p "$scratch"
else
  scratch="$(mktemp -d "${TMPDIR:-/tmp}/verify-release.XXXXXX")"
  trap 'rm -rf "$scratch"' EXIT
fi
release_facts get "$facts" publisher_roots_pem >"$scratch/publisher-roots.pem" || cannot "$facts does not read"

# -- the commit, in a clone of its own (the checkout this script runs from may hold anything)
src="$scratch/src"
if [ ! -d "$src/.git" ]; then
  rm -rf "$src"
  git clone -q --no-checkout "$repo" "$src" || cannot "git clone $repo failed"
fi
git -C "$src" cat-file -e "$commit^{commit}" 2>/dev/null || git -C "$src" fetch -q "$repo" >/dev/null 2>&1 || true
git -C "$src" cat-file -e "$commit^{commit}" 2>/dev/null ||
  cannot "commit $commit is not in $repo (fetch the release's tag there, or name another --repo)"
git -C "$src" checkout -q --force --detach "$commit" && git -C "$src" clean -q -fdx -e /build/ ||
  cannot "checking out $commit in $src"
echo "verify-release: commit $commit in $src"

# -- the build, as the release made it
build="$src/build/release"
mkdir -p "$build"
log="$build/verify-build.log"
configure=(cmake --preset win32-release -B "$build" -DOMBREL_BASE_URL="$base_url"
           -DOMBREL_PUBLISHER_NAME="$publisher_name" -DOMBREL_PUBLISHER_ROOTS="$scratch/publisher-roots.pem")
[ -z "$deps_dir" ] || configure+=(-DOMBREL_DEPS_DIR="$deps_dir")
echo "verify-release: building (log: $log)"
if ! (cd "$src" && "${configure[@]}" && cmake --build "$build" -j "$jobs" --target ombrel_installer) >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  cannot "the build failed (the whole log is $log)"
fi
rebuilt="$build/app/Install Ombrel Loomwork.exe"

# -- the given file without its signature
given="$scratch/given-unsigned.exe"
rm -f "$given"
if ! output="$(osslsigncode remove-signature -in "$signed" -out "$given" 2>&1)" || [ ! -f "$given" ]; then
  printf '%s\n' "$output" >&2
  echo "verify-release: FAILED: $signed: osslsigncode could not remove a signature (none, or the file is damaged)"
  exit 1
fi
python3 "$ROOT/tools/pe_check/pe_check.py" restore-header "$given" || cannot "restoring the header of $given"

if output="$(python3 "$ROOT/tools/pe_check/pe_check.py" compare "$rebuilt" "$given")"; then
  # Same bytes; the signature over them must still be the publisher's, unchanged, and then the
  # checksum (which the signature does not cover) the signed file's own.
  if ! check="$(osslsigncode verify -in "$signed" -CAfile "$scratch/publisher-roots.pem" -TSA-CAfile "$tsa_roots" 2>&1)"; then
    printf '%s\n' "$check" | grep -iE 'fail|error|mismatch' | head -n 10 >&2 || true
    echo "verify-release: FAILED: $signed: the program is the build of commit $commit, but its signature does not verify against the recorded publisher roots"
    exit 1
  fi
  if ! check="$(python3 "$ROOT/tools/pe_check/pe_check.py" check "$signed")"; then
    printf '%s\n' "$check" | grep FAILED >&2 || true
    echo "verify-release: FAILED: $signed: the program is the build of commit $commit, but its header was changed after signing"
    exit 1
  fi
  recorded="$(release_facts get "$facts" unsigned_sha256)"
  if [ "$recorded" != "$(sha256sum "$rebuilt" | cut -d' ' -f1)" ]; then
    echo "verify-release: note: release.json records $recorded as the unsigned SHA-256, which is not these bytes"
  fi
  echo "$output"
  exit 0
fi
echo "$output"
echo "verify-release: FAILED: $signed is not the build of commit $commit"
deps_used="${deps_dir:-$src/build/deps}"
changes="$(release_facts toolchain-changes "$facts" --deps-dir "$deps_used")" || true
if [ -n "$changes" ]; then
  echo "verify-release: this machine builds with other versions than the release did, which alone gives other bytes:"
  printf '%s\n' "$changes" | sed 's/^/  /'
fi
exit 1
