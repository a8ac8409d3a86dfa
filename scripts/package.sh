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

dist=$root/dist
mkdir -p "$dist"
# Only this run's files: nothing left over from an earlier version is checked or summed.
rm -f "$dist"/w_quendal7v2k-* "$dist"/w-quendal7v2k_* "$dist"/SHA256SUMS

# Configures and builds a preset's shipped targets, then lets CPack write its archive into dist/.
package() {
  local configure=$1 build=$2
  echo "=== package $build"
  cmake --preset "$configure" >/dev/null
  cmake --build --preset "$build"
  local folder=$root/build/$configure
  rm -rf "$folder/cpack"
  (cd "$folder" && cpack -B "$folder/cpack" >/dev/null)
  find "$folder/cpack" -maxdepth 1 \( -name 'w_quendal7v2k-*.tar.gz' -o -name 'w_quendal7v2k-*.zip' \
    -o -name 'w-quendal7v2k_*.deb' \) -exec mv -f {} "$dist"/ \;
}

package package-linux package-linux
package windows package-windows

(cd "$dist" && sha256sum w_quendal7v2k-*.tar.gz w-quendal7v2k_*.deb w_quendal7v2k-*.zip >SHA256SUMS)
echo "=== archives"
ls -l "$dist"

bash tests/package/check_packages.sh "$dist"
