#!/usr/bin/env bash
# Builds the release files of both targets into dist/:
#   w_quendal7v2k-<version>-linux-x86_64.tar.gz
#   w-quendal7v2k_<version>_amd64.deb
#   w_quendal7v2k-<version>-windows-x64.zip
# each with the module (one file), addin-host, vscale, mdconv, the integrators'
# README, the licences, the user documents, examples/ and a SHA256SUMS of its files (CMake's
# install rules and CPack, cmake/Packaging.cmake), then dist/SHA256SUMS over them, and checks
# each one unpacked on its own (tests/package/check_packages.sh).
#
# The release files are reproducible: their times come from SOURCE_DATE_EPOCH, the time of
# the commit unless given. To show it, the shipped programs and the module of both targets
# are linked a second time from the same objects and packaged again, later and with another
# file-creation mask; the check compares the two sets byte for byte.
#
#   package.sh           install what is missing (as root or with sudo), build, package, check
#   package.sh --no-deps the same without the installation steps (scripts/test.sh runs them)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export QD_WIN_DEPS=${QD_WIN_DEPS:-${HOME:-/root}/.cache/w_quendal7v2k/win-deps}

if [[ ${1:-} != --no-deps ]]; then
  run_as_root() {
    if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo env QD_WIN_DEPS="$QD_WIN_DEPS" "$@"; fi
  }
  run_as_root bash scripts/setup-deps.sh
  run_as_root bash scripts/build-win-deps.sh
fi

if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) ||
    { echo "package: not a git checkout: set SOURCE_DATE_EPOCH to the release's time" >&2; exit 2; }
fi
export SOURCE_DATE_EPOCH

dist=$root/dist
mkdir -p "$dist"
# Only this run's files: nothing left over from an earlier version is checked or summed.
rm -f "$dist"/w_quendal7v2k-* "$dist"/w-quendal7v2k_* "$dist"/SHA256SUMS

# Configures and builds a preset's shipped targets, then lets CPack write its archive into
# the folder given.
package() {
  local configure=$1 build=$2 into=$3
  echo "=== package $build"
  cmake --preset "$configure" >/dev/null
  cmake --build --preset "$build"
  local folder=$root/build/$configure
  rm -rf "$folder/cpack"
  # CPack gives the Debian package's outer members the modes of the file-creation mask.
  (cd "$folder" && umask 022 && cpack -B "$folder/cpack" >/dev/null)
  find "$folder/cpack" -maxdepth 1 \( -name 'w_quendal7v2k-*.tar.gz' -o -name 'w_quendal7v2k-*.zip' \
    -o -name 'w-quendal7v2k_*.deb' \) -exec mv -f {} "$into"/ \;
}

sums() { (cd "$1" && sha256sum w_quendal7v2k-*.tar.gz w-quendal7v2k_*.deb w_quendal7v2k-*.zip >SHA256SUMS); }

package package-linux package-linux "$dist"
package windows package-windows "$dist"
sums "$dist"
echo "=== archives"
ls -l "$dist"

# The second build: the shipped programs and the module linked again (and the manual pages
# made again from them), packaged into a folder of its own under another file-creation mask.
second=$root/build/second-build
rm -rf "$second"
mkdir -p "$second"
echo "=== second build of the same commit"
rm -f build/package-linux/bin/w_quendal7v2k.so build/package-linux/bin/addin-host build/package-linux/bin/vscale \
  build/package-linux/bin/mdconv build/package-linux/man/*.1.gz
rm -f build/windows/bin/w_quendal7v2k.dll build/windows/bin/addin-host.exe build/windows/bin/vscale.exe \
  build/windows/bin/mdconv.exe
(
  umask 027
  package package-linux package-linux "$second"
  package windows package-windows "$second"
)
sums "$second"

bash tests/package/check_packages.sh "$dist" --compare "$second"
