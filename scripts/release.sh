#!/usr/bin/env bash
# From a clean checkout to a signed, checked release of the product exe in dist/.
# Usage and options: bash scripts/release.sh --help
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
export OMBREL_ROOT="$ROOT"
EXE_NAME="Install Ombrel Loomwork.exe"

usage() {
  cat <<'EOF'
Usage: scripts/release.sh --base-url URL --publisher-name NAME --publisher-roots PEM
                          (--pkcs12 FILE [--password-file FILE | --password-env VAR]
                           | --pkcs11-module MODULE --pkcs11-key URI (--pkcs11-cert URI | --certs PEM))
                          [--timestamp-url URL] [--tsa-roots PEM] [--dist DIR] [--deps-dir DIR] [--jobs N]

Builds the product exe from this checkout's commit in build/release, signs it with osslsigncode
(Authenticode, SHA-256), checks the signed file and writes dist/:
  Install Ombrel Loomwork.exe   the signed exe
  SHA256SUMS                    of the signed exe and of the unsigned build (unsigned/...)
  release.json                  version, commit, compiler and package versions, libcurl source and
                                zlib versions, base URL, publisher name and roots, SPKI pins, size,
                                the unsigned file's SHA-256 (what scripts/verify-release.sh rebuilds)

The checkout must have no changes (tracked or untracked): a release is built from a commit.

  --base-url URL          the distribution host's base URL (https://..., ending in /)
  --publisher-name NAME   exact common name of the certificate that signs the payload installers
  --publisher-roots PEM   the publisher's CA certificates; the exe pins their keys
  --pkcs12 FILE           the signing key with its certificate chain
  --password-file FILE    the PKCS#12 password (or the PKCS#11 PIN) in a file
  --password-env VAR      ... or in the environment variable VAR
  --pkcs11-module MODULE  a PKCS#11 module (a hardware key) instead of --pkcs12
  --pkcs11-key URI        the key on it (a pkcs11: URI)
  --pkcs11-cert URI       its certificate on the token, or
  --certs PEM             the certificate chain in a file
  --timestamp-url URL     an RFC 3161 time-stamping authority, so the signature outlives the
                          certificate
  --tsa-roots PEM         roots the timestamp is checked against (default: the system's CA list)
  --dist DIR              where the release goes (default: dist/ in the checkout); replaced whole
                          at the end, never left half-written
  --deps-dir DIR          the cross-built libcurl cache (default: build/deps in the checkout)
  --jobs N                parallel build jobs (default: the number of processors)

Every failure stops with "release: FAILED: <what>" and exit status 1. The signed file is checked
three ways: osslsigncode verify against the publisher roots (and the timestamp against the TSA
roots), the build's own manifest-check --check-installer under Wine, and the PE checks of
tools/pe_check (machine, subsystem, imports, ASLR/DEP, read-only resources, no build folder).
EOF
}

fail() {
  echo "release: FAILED: $*" >&2
  exit 1
}

base_url="" publisher_name="" publisher_roots="" pkcs12="" password_file="" password_env=""
pkcs11_module="" pkcs11_key="" pkcs11_cert="" certs="" timestamp_url=""
tsa_roots="/etc/ssl/certs/ca-certificates.crt" dist="$ROOT/dist" deps_dir="$ROOT/build/deps" jobs="$(nproc)"
while [ $# -gt 0 ]; do
  case "$1" in
    -h | --help) usage; exit 0 ;;
    --base-url | --publisher-name | --publisher-roots | --pkcs12 | --password-file | --password-env | \
      --pkcs11-module | --pkcs11-key | --pkcs11-cert | --certs | --timestamp-url | --tsa-roots | --dist | \
      --deps-dir | --jobs)
      [ $# -ge 2 ] || fail "$1 needs a value (see --help)"
      name="${1#--}"
      printf -v "${name//-/_}" '%s' "$2"
      shift 2 ;;
    *) fail "unknown argument $1 (see --help)" ;;
  esac
done

# -- the inputs (files named from where the script was started)
for name in publisher_roots pkcs12 password_file certs tsa_roots dist deps_dir; do
  [ -z "${!name}" ] || printf -v "$name" '%s' "$(realpath -m "${!name}")"
done
[ -n "$base_url" ] || fail "no --base-url (see --help)"
[[ "$base_url" == https://*/ ]] || fail "--base-url must start with https:// and end with /"
[ -n "$publisher_name" ] || fail "no --publisher-name (see --help)"
[ -n "$publisher_roots" ] || fail "no --publisher-roots (see --help)"
[ -f "$publisher_roots" ] || fail "--publisher-roots $publisher_roots does not exist"
if [ -n "$pkcs12" ]; then
  [ -z "$pkcs11_module" ] || fail "--pkcs12 and --pkcs11-module exclude each other"
  [ -f "$pkcs12" ] || fail "--pkcs12 $pkcs12 does not exist"
elif [ -n "$pkcs11_module" ]; then
  [ -n "$pkcs11_key" ] || fail "--pkcs11-module needs --pkcs11-key"
  [ -n "$pkcs11_cert" ] || [ -n "$certs" ] || fail "--pkcs11-module needs --pkcs11-cert or --certs"
else
  fail "no signing key: --pkcs12 FILE or --pkcs11-module MODULE (see --help)"
fi
[ -z "$password_file" ] || [ -f "$password_file" ] || fail "--password-file $password_file does not exist"
if [ -n "$password_env" ] && [ -z "${!password_env+set}" ]; then
  fail "--password-env $password_env: no such variable in the environment"
fi
[ -f "$tsa_roots" ] || fail "--tsa-roots $tsa_roots does not exist"
[[ "$jobs" =~ ^[1-9][0-9]*$ ]] || fail "--jobs must be a positive number"
for tool in git cmake ninja osslsigncode openssl python3 wine sha256sum; do
  command -v "$tool" >/dev/null || fail "$tool is missing (bash scripts/setup.sh installs what the build needs)"
done

# -- a commit, not a working tree
cd "$ROOT"
commit="$(git rev-parse --verify HEAD 2>/dev/null)" || fail "$ROOT is no git checkout with a commit"
changes="$(git status --porcelain=v1 --untracked-files=all)" || fail "git status failed"
if [ -n "$changes" ]; then
  echo "release: FAILED: the checkout has changes; a release is built from a commit (commit, stash or remove them):" >&2
  printf '%s\n' "$changes" | sed 's/^/  /' >&2
  exit 1
fi
echo "release: commit $commit"

# -- build, in the release's own folder (no test or other script configures it)
build="$ROOT/build/release"
mkdir -p "$build"
log="$build/release-build.log"
echo "release: building in $build (log: $log)"
if ! { cmake --preset win32-release -B "$build" -DOMBREL_BASE_URL="$base_url" \
         -DOMBREL_PUBLISHER_NAME="$publisher_name" -DOMBREL_PUBLISHER_ROOTS="$publisher_roots" \
         -DOMBREL_DEPS_DIR="$deps_dir" &&
       cmake --build "$build" -j "$jobs" --target ombrel_installer manifest-check; } >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  fail "the build (the whole log is $log)"
fi
unsigned="$build/app/$EXE_NAME"
manifest_check="$build/tools/manifest_check/manifest-check.exe"
[ -f "$unsigned" ] && [ -f "$manifest_check" ] || fail "the build made no $unsigned or $manifest_check"
grep -E '^size: .*bytes' "$log" | tail -n 1 || true

# Everything for dist/ is made beside it and moved in at the end, so dist/ is whole or untouched.
mkdir -p "$(dirname "$dist")"
staging="$(mktemp -d "$(dirname "$dist")/.release-staging.XXXXXX")"
trap 'rm -rf "$staging"' EXIT
signed="$staging/$EXE_NAME"

# -- sign
sign=(osslsigncode sign -h sha256 -n "Ombrel Loomwork Installer")
if [ -n "$pkcs12" ]; then
  sign+=(-pkcs12 "$pkcs12")
else
  sign+=(-pkcs11module "$pkcs11_module" -key "$pkcs11_key")
  if [ -n "$pkcs11_cert" ]; then sign+=(-pkcs11cert "$pkcs11_cert"); else sign+=(-certs "$certs"); fi
fi
[ -z "$timestamp_url" ] || sign+=(-ts "$timestamp_url")
# The secret goes through a file or a pipe, never the command line (other users can read that).
if [ -n "$password_file" ]; then
  sign+=(-readpass "$password_file")
elif [ -n "$password_env" ]; then
  sign+=(-readpass -)
fi
sign+=(-in "$unsigned" -out "$signed")
if ! output="$(printf '%s' "${password_env:+${!password_env}}" | "${sign[@]}" 2>&1)" || [ ! -f "$signed" ]; then
  printf '%s\n' "$output" >&2
  fail "signing with osslsigncode${timestamp_url:+ (timestamp from $timestamp_url)}"
fi
echo "release: signed${timestamp_url:+, timestamped by $timestamp_url}"

# -- check the signed file three ways
if ! output="$(osslsigncode verify -in "$signed" -CAfile "$publisher_roots" -TSA-CAfile "$tsa_roots" 2>&1)"; then
  printf '%s\n' "$output" >&2
  fail "osslsigncode verify against $publisher_roots"
fi
if [ -n "$timestamp_url" ] && ! grep -q '^Timestamp Server Signature verification: ok' <<<"$output"; then
  printf '%s\n' "$output" >&2
  fail "osslsigncode verify: the signature carries no verified timestamp"
fi
echo "release: check 1/3: osslsigncode verify: ok"

source "$ROOT/scripts/wine-env.sh"
bash "$ROOT/scripts/wine-prefix.sh" >/dev/null 2>&1 || fail "setting up the Wine prefix $WINEPREFIX"
# The build's own check, with the publisher name and key pins compiled into this release.
if ! output="$(wine "$manifest_check" --check-installer "Z:$signed" 2>&1)" ||
   ! grep -q '^check: passes' <<<"$output"; then
  printf '%s\n' "$output" >&2
  fail "manifest-check --check-installer (the build's publisher check)"
fi
echo "release: check 2/3: manifest-check --check-installer: $(grep '^signer: ' <<<"$output" | tr -d '\r')"

if ! output="$(python3 "$ROOT/tools/pe_check/pe_check.py" check "$signed" --map "$build/app/ombrel_installer.map" \
                 --build-root "$ROOT" 2>&1)"; then
  printf '%s\n' "$output" >&2
  fail "the PE checks of the signed file"
fi
echo "release: check 3/3: PE checks: ok"

# -- checksums and facts
(cd "$staging" && sha256sum "$EXE_NAME") >"$staging/SHA256SUMS"
echo "$(sha256sum "$unsigned" | cut -d' ' -f1)  unsigned/$EXE_NAME" >>"$staging/SHA256SUMS"
python3 "$ROOT/scripts/release_facts.py" write "$staging/release.json" --commit "$commit" --build "$build" \
  --deps-dir "$deps_dir" --base-url "$base_url" --publisher-name "$publisher_name" \
  --publisher-roots "$publisher_roots" --unsigned "$unsigned" --signed "$signed" \
  ${timestamp_url:+--timestamp-url "$timestamp_url"} || fail "writing release.json"

# -- into place: the earlier dist/ goes only once the new one is complete
if [ -e "$dist" ]; then
  old="$(mktemp -d "$(dirname "$dist")/.release-old.XXXXXX")"
  mv "$dist" "$old/" || fail "moving the earlier $dist aside"
  mv "$staging" "$dist" || { mv "$old/$(basename "$dist")" "$dist"; fail "moving the release into $dist"; }
  rm -rf "$old"
else
  mv "$staging" "$dist" || fail "moving the release into $dist"
fi
echo "release: $dist"
sed 's/^/  /' "$dist/SHA256SUMS"
