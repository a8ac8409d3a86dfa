#!/usr/bin/env bash
# Installs every system package the build, the tests and the benchmarks need.
# Run as root. Safe to run again: it does nothing when all packages are present.
# Then it fetches the data the tests read from the cache (fetch-markdown-examples.sh), which
# likewise does nothing when the data is there.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)

# A failed fetch leaves the build and the other tests alone: the test of the examples says
# that the set-up has to run again.
fetch_examples() {
  bash "$here/fetch-markdown-examples.sh" ||
    echo "setup-deps: fetching the Markdown examples failed; their test fails until this runs again" >&2
}

# The one list of packages. Add new ones here.
PACKAGES=(
  # native toolchain
  g++ cmake ninja-build pkg-config dpkg-dev python3
  # the Debian package's dependencies are found with file and dpkg-shlibdeps; the manual pages
  # are made from the programs' --help; the release archives are written with sorted members
  # (tar, gzip, zip); the package check runs lintian on the Debian package
  file help2man tar gzip zip lintian
  # Windows cross toolchain and the runtime the Windows tests run in
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev wine64 wine fonts-wine
  # libraries for the native build
  zlib1g-dev libpugixml-dev libexpat1-dev libpcre2-dev libzip-dev
  # the windows of the native build (headers only: the module opens the toolkit at the first
  # window), the display their tests run on, and the keys and window list a person would use
  libgtk-3-dev libwebkit2gtk-4.1-dev xvfb xauth xdotool
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # fuzz targets: clang with libFuzzer and the sanitizer runtimes
  clang-14 libclang-rt-14-dev
  # reference converter used by a benchmark: the program and its library
  cmark libcmark-dev
)

if [[ $(id -u) -ne 0 ]]; then
  echo "setup-deps: must run as root" >&2
  exit 1
fi

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [[ $status == installed ]] || missing+=("$pkg")
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "setup-deps: all ${#PACKAGES[@]} packages present"
  fetch_examples
  exit 0
fi

echo "setup-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive

# Refresh the package lists only when they are missing or older than a day.
lists=/var/lib/apt/lists
if ! compgen -G "$lists/*_Packages*" >/dev/null ||
   [[ -z $(find "$lists" -maxdepth 1 -name '*_Packages*' -mtime -1 -print -quit) ]]; then
  echo "setup-deps: apt-get update"
  apt-get update -qq
fi

# A list younger than a day can still be out of step with the archive: on failure,
# refresh once and try again.
if ! apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
  echo "setup-deps: install failed, refreshing package lists and retrying"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
fetch_examples
echo "setup-deps: done"
