#!/usr/bin/env bash
# Checks what ships, from the files in a folder (default dist/), each unpacked on its own:
# - each archive unpacks into one top folder laid out by the GNU install directories: the
#   programs in bin/, the module (one file) in lib/w_quendal7v2k/ (Windows: in bin/), and in
#   share/doc/w_quendal7v2k/ the integrators' README, LICENSE,
#   THIRD-PARTY-NOTICES.txt, the user documents (no developer document), examples/ and a
#   SHA256SUMS that matches every file;
# - the packaged addin-host finds and loads the packaged module (the Windows one under Wine);
#   the module and the tools need no window toolkit library (the Windows module only the
#   system's own libraries); the module carries its help (on Linux the help action, without a
#   display, gets as far as the window); the module copied alone into an empty folder shows
#   its windows, which close on Esc, and on Linux fails a window naming the toolkit library
#   taken away (tests/support/module_windows.sh); the main job (scripts/demo.sh --from) runs
#   from the unpacked files alone
#   against the packaged virtual scale; the Linux files need no newer C or C++ library than
#   the README states;
# - the Debian package depends on no toolkit package (GTK 3 and WebKitGTK are recommended), the
#   packages it names are known to the system's package lists, and the main job runs from it
#   installed for real (as root; otherwise unpacked into a scratch root).
# Prints one line per check and ends with "N passed, M failed".
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
dist=$(cd "${1:-$root/dist}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/qd-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
doc=share/doc/w_quendal7v2k

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@" >"$work/out" 2>&1; then
    echo "ok: $what"
    passed=$((passed + 1))
  else
    echo "FAILED: $what"
    sed 's/^/  /' "$work/out"
    failed=$((failed + 1))
  fi
}

# has_files <top> <exe suffix> <library folder> <library suffix>
has_files() {
  local top=$1 exe=$2 libdir=$3 suffix=$4 f
  for f in "$libdir/w_quendal7v2k$suffix" \
           "bin/addin-host$exe" "bin/vscale$exe" "bin/mdconv$exe" \
           "$doc/README.md" "$doc/LICENSE" "$doc/THIRD-PARTY-NOTICES.txt" "$doc/SHA256SUMS" \
           "$doc/docs/tables.md" "$doc/docs/driver-methods.md" "$doc/examples/goods.xml"; do
    [[ -f $top/$f ]] || { echo "missing: $f"; return 1; }
  done
}

# Only what the layout names, and no document meant for the driver's developers.
nothing_else() {
  local top=$1 extra
  extra=$(cd "$top" && find . -type f | grep -v -E "^\./(bin|lib/w_quendal7v2k|$doc)/" || true)
  [[ -z $extra ]] || { echo "unexpected files: $extra"; return 1; }
  local dev
  for dev in building.md conventions.md fuzzing.md performance.md architecture.md; do
    [[ ! -e $top/$doc/docs/$dev ]] || { echo "developer document shipped: $dev"; return 1; }
  done
  ! grep -q 'scripts/test.sh' "$top/$doc/README.md" || { echo "the developers' README was shipped"; return 1; }
}

# The notices name every library linked in, each with a licence text.
notices_complete() {
  local top=$1 lib
  shift
  for lib in "$@"; do
    grep -q "^$lib (Debian package" "$top/$doc/THIRD-PARTY-NOTICES.txt" || { echo "no notice of $lib"; return 1; }
  done
  grep -q "Permission is hereby granted" "$top/$doc/LICENSE"
}

sums_match() { (cd "$1" && sha256sum --quiet -c "$doc/SHA256SUMS" && [[ $(wc -l <"$doc/SHA256SUMS") -eq $(find . -type f ! -path "./$doc/SHA256SUMS" | wc -l) ]]); }

host_loads_module() {
  local top=$1 runner=$2 exe=$3
  local out
  # A Windows program's lines end with CR LF.
  out=$(cd "$work" && $runner "$top/bin/addin-host$exe" classes info | tr -d '\r') || { echo "$out"; return 1; }
  echo "$out"
  grep -qx "classes: w_quendal7v2k" <<<"$out" && grep -qx "extension: w_quendal7v2k" <<<"$out"
}

only_the_driver_dlls() {
  local dlls
  dlls=$(cd "$1" && find . -iname '*.dll' | sort | tr '\n' ' ')
  echo "$dlls"
  [[ $dlls == "./bin/w_quendal7v2k.dll " ]]
}

# The packaged module and tools need no window toolkit library: the Linux module opens the
# toolkit when a window is first shown, the Windows one needs only the system's libraries.
module_and_tools_need_no_toolkit() {
  local top=$1 dump=$2 windows=$3 exe=$4 module=$5
  cmake "-DFILES=$top/bin/addin-host$exe|$top/bin/vscale$exe|$top/bin/mdconv$exe" "-DDUMP=$dump" \
    "-DWINDOWS=$windows" -P "$root/cmake/CheckNoToolkit.cmake" &&
    cmake "-DFILES=$top/$module" "-DDUMP=$dump" "-DWINDOWS=$windows" -DMODULES=1 -P "$root/cmake/CheckNoToolkit.cmake"
}

# The module copied alone shows its windows (module_windows.sh prints its own cases).
windows_of_the_module_alone() {
  local top=$1 module=$2 exe=$3
  shift 3
  bash "$root/tests/support/module_windows.sh" "$top/bin/addin-host$exe" "$top/$module" "$@"
}

# The Debian package depends on no toolkit package and recommends the windows' toolkit.
deb_toolkit_recommended() {
  local depends recommends
  depends=$(dpkg-deb -f "$1" Depends)
  recommends=$(dpkg-deb -f "$1" Recommends)
  echo "Depends: $depends"
  echo "Recommends: $recommends"
  ! grep -Eq 'gtk|webkit|javascriptcore|cairo|pango|gdk|glib|libx11' <<<"$depends" || { echo "a toolkit package among the dependencies"; return 1; }
  grep -q 'libgtk-3-0' <<<"$recommends" && grep -q 'libwebkit2gtk-4.1-0' <<<"$recommends"
}

# The main job from the package installed as a user installs it; it is removed afterwards.
main_job_installed() {
  local deb=$1 name
  name=$(dpkg-deb -f "$deb" Package)
  dpkg -i "$deb" || return 1
  local rc=0
  main_job_from /usr || rc=1
  dpkg -r "$name" >/dev/null || rc=1
  return $rc
}

# Without a display the help action fails at the window, after the help was found and rendered.
help_reaches_the_window() {
  local out
  out=$(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY "$1/bin/addin-host" --keep-going call DoAdditionalAction s:ShowHelp)
  echo "$out"
  grep -q "Окно не может быть показано: графический экран недоступен" <<<"$out"
}

# The help archive lies in the module as it was packed: its member names are there in plain.
module_carries_help() { grep -aq 'help.md' "$1" && grep -aq 'help.css' "$1"; }

main_job_from() {
  local out
  out=$(bash "$root/scripts/demo.sh" --from "$1" 2>&1) || { echo "$out"; return 1; }
  echo "$out"
  grep -q "Close: bool true" <<<"$out" && grep -q "^Goods (table 25) (7)" <<<"$out"
}

# The newest glibc and libstdc++ symbol versions the files need are those the README states.
requirements_hold() {
  local top=$1 glibc glibcxx
  glibc=$(sed -n 's/.*(`GLIBC_\([0-9.]*\)`).*/\1/p' "$top/$doc/README.md" | head -n1)
  glibcxx=$(sed -n 's/.*(`GLIBCXX_\([0-9.]*\)`).*/\1/p' "$top/$doc/README.md" | head -n1)
  [[ -n $glibc && -n $glibcxx ]] || { echo "the README states no GLIBC_/GLIBCXX_ version"; return 1; }
  local f symbols need_c need_cxx
  for f in "$top"/bin/* "$top"/lib/w_quendal7v2k/*; do
    symbols=$(objdump -T "$f")
    need_c=$(grep -o 'GLIBC_[0-9.]*' <<<"$symbols" | sed 's/GLIBC_//' | sort -V | tail -n1)
    need_cxx=$(grep -o 'GLIBCXX_[0-9.]*' <<<"$symbols" | sed 's/GLIBCXX_//' | sort -V | tail -n1)
    echo "$(basename "$f"): GLIBC_$need_c${need_cxx:+, GLIBCXX_$need_cxx}"
    [[ $(printf '%s\n%s\n' "$need_c" "$glibc" | sort -V | tail -n1) == "$glibc" ]] ||
      { echo "$f needs GLIBC_$need_c, the README says $glibc"; return 1; }
    [[ -z $need_cxx || $(printf '%s\n%s\n' "$need_cxx" "$glibcxx" | sort -V | tail -n1) == "$glibcxx" ]] ||
      { echo "$f needs GLIBCXX_$need_cxx, the README says $glibcxx"; return 1; }
  done
}

# Every package the Debian package depends on is known to the package lists.
deb_dependencies_resolvable() {
  local depends name
  depends=$(dpkg-deb -f "$1" Depends)
  echo "Depends: $depends"
  [[ -n $depends ]] || { echo "no dependencies declared"; return 1; }
  for name in $(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*)//; s/:any//' | tr -d ' ' | sort -u); do
    apt-cache show "$name" >/dev/null 2>&1 || dpkg -s "$name" >/dev/null 2>&1 || { echo "unknown package: $name"; return 1; }
  done
}

archive_sums_match() { (cd "$dist" && sha256sum --quiet -c SHA256SUMS); }

linux=$(find "$dist" -maxdepth 1 -name 'w_quendal7v2k-*-linux-x86_64.tar.gz' | head -n1)
windows=$(find "$dist" -maxdepth 1 -name 'w_quendal7v2k-*-windows-x64.zip' | head -n1)
deb=$(find "$dist" -maxdepth 1 -name 'w-quendal7v2k_*_amd64.deb' | head -n1)
linux_libs=(pugixml Expat PCRE2 libzip zlib)
windows_libs=(pugixml Expat PCRE2 libzip zlib "mingw-w64 runtime and winpthreads" "GCC runtime libraries")

check "checksums of the release files (dist/SHA256SUMS)" archive_sums_match

if [[ -n $linux ]]; then
  name=$(basename "$linux" .tar.gz)
  check "$name unpacks into $name/" tar -xzf "$linux" -C "$work"
  top=$work/$name
  check "$name holds the module, the tools, the README, licences, docs and examples" \
    has_files "$top" "" lib/w_quendal7v2k .so
  check "$name holds nothing else, and no developer document" nothing_else "$top"
  check "$name: notices of every linked library, and the licence" notices_complete "$top" "${linux_libs[@]}"
  check "$name SHA256SUMS matches every file" sums_match "$top"
  check "$name: addin-host finds and loads the module" host_loads_module "$top" "" ""
  check "$name: the module and the tools need no toolkit library" module_and_tools_need_no_toolkit "$top" readelf 0 "" \
    lib/w_quendal7v2k/w_quendal7v2k.so
  check "$name: the files need no newer C and C++ libraries than the README says" requirements_hold "$top"
  check "$name: the help action gets as far as the window" help_reaches_the_window "$top"
  check "$name: the module alone shows its windows and names a missing toolkit" \
    windows_of_the_module_alone "$top" lib/w_quendal7v2k/w_quendal7v2k.so ""
  check "$name: the main job runs from the archive alone" main_job_from "$top"
else
  check "Linux archive present" false
fi

if [[ -n $deb ]]; then
  name=$(basename "$deb")
  check "$name unpacks into a scratch root" dpkg-deb -x "$deb" "$work/deb-root"
  check "$name: its dependencies are known packages" deb_dependencies_resolvable "$deb"
  check "$name: it depends on no toolkit package and recommends GTK 3 and WebKitGTK" deb_toolkit_recommended "$deb"
  check "$name holds the module, the tools, the README, licences, docs and examples" \
    has_files "$work/deb-root/usr" "" lib/w_quendal7v2k .so
  if [[ $(id -u) -eq 0 ]] && command -v dpkg >/dev/null && ! dpkg -s "$(dpkg-deb -f "$deb" Package)" >/dev/null 2>&1; then
    check "$name: the main job runs from the package installed" main_job_installed "$deb"
  else
    check "$name: the main job runs from the unpacked package" main_job_from "$work/deb-root/usr"
  fi
else
  check "Debian package present" false
fi

if [[ -n $windows ]]; then
  name=$(basename "$windows" .zip)
  check "$name unpacks into $name/" python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$windows" "$work"
  top=$work/$name
  check "$name holds the module, the tools, the README, licences, docs and examples" \
    has_files "$top" .exe bin .dll
  check "$name holds nothing else, and no developer document" nothing_else "$top"
  check "$name: notices of every linked library, and the licence" notices_complete "$top" "${windows_libs[@]}"
  check "$name SHA256SUMS matches every file" sums_match "$top"
  check "$name holds no DLL but the module" only_the_driver_dlls "$top"
  check "$name: the module and the tools need no toolkit library" module_and_tools_need_no_toolkit "$top" \
    x86_64-w64-mingw32-objdump 1 .exe bin/w_quendal7v2k.dll
  check "$name: addin-host finds and loads the module under Wine" host_loads_module "$top" "bash $root/scripts/wine-run.sh" .exe
  check "$name: the module carries its help" module_carries_help "$top/bin/w_quendal7v2k.dll"
  check "$name: the module alone shows its log viewer under Wine" \
    windows_of_the_module_alone "$top" bin/w_quendal7v2k.dll .exe bash "$root/scripts/wine-run.sh"
  check "$name: the main job runs from the archive alone under Wine" main_job_from "$top"
else
  check "Windows archive present" false
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
