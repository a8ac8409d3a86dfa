#!/usr/bin/env bash
# Builds the release archives of both targets into dist/:
#   w_quendal7v2k-<version>-linux-x86_64.tar.gz
#   w_quendal7v2k-<version>-windows-x64.zip
# each with the module, addin-host, vscale, mdconv, README.md, docs/, examples/ and a
# SHA256SUMS of its files (CMake's install rules and CPack, cmake/Packaging.cmake), then
# dist/SHA256SUMS over the archives, and checks both archives (tests/package/check_packages.sh).
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

# Configures and builds a preset's shipped targets, then lets CPack write its archive into dist/.
package() {
  local configure=$1 build=$2
  echo "=== package $build"
  cmake --preset "$configure" >/dev/null
  cmake --build --preset "$build"
  local folder=$root/build/$configure
  rm -rf "$folder/cpack"
  (cd "$folder" && cpack -B "$folder/cpack" >/dev/null)
  find "$folder/cpack" -maxdepth 1 -name 'w_quendal7v2k-*' \( -name '*.tar.gz' -o -name '*.zip' \) \
    -exec mv -f {} "$dist"/ \;
}

package package-linux package-linux
package windows package-windows

(cd "$dist" && sha256sum w_quendal7v2k-*.tar.gz w_quendal7v2k-*.zip >SHA256SUMS)
echo "=== archives"
ls -l "$dist"

bash tests/package/check_packages.sh "$dist"
