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
#   installed for real (as root; otherwise unpacked into a scratch root);
# - the Linux files carry a manual page for every program; lintian finds no error and no
#   warning in the Debian package (and no missing hardening), which has Debian's copyright
#   file and changelog and no maintainer scripts;
# - with --compare OTHER (a second build of the same commit, scripts/package.sh): every
#   release file and dist/SHA256SUMS are byte-identical to OTHER's; both checksum lists are
#   printed.
# Prints one line per check and ends with "N passed, M failed".
#
#   check_packages.sh [DIST] [--compare OTHER]
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
dist=$(cd "${1:-$root/dist}" && pwd)
compare=
if [[ ${2:-} == --compare ]]; then
  compare=$(cd "${3:?--compare needs a folder}" && pwd)
fi
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

# A manual page for every program (the Linux files).
has_manual_pages() {
  local top=$1 tool
  for tool in addin-host vscale mdconv; do
    [[ -f $top/share/man/man1/$tool.1.gz ]] || { echo "no manual page of $tool"; return 1; }
    zcat "$top/share/man/man1/$tool.1.gz" | grep -q "^\.TH \"\?${tool^^}" || { echo "$tool.1.gz is no manual page"; return 1; }
  done
}

# Only what the layout names, and no document meant for the driver's developers.
nothing_else() {
  local top=$1 extra
  extra=$(cd "$top" && find . -type f | grep -v -E "^\./(bin|lib/w_quendal7v2k|$doc|share/man/man1)/" || true)
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
    grep -q "^$lib [^ ]*: Debian " "$top/$doc/THIRD-PARTY-NOTICES.txt" || { echo "no notice of $lib"; return 1; }
  done
  grep -q "Permission is hereby granted" "$top/$doc/LICENSE"
}

# The Windows notices name the source packages with exactly the versions built into the files
# (the versions.txt of the Windows libraries' folder).
windows_notices_as_built() {
  local top=$1 built=${QD_WIN_DEPS:-${HOME:-/root}/.cache/w_quendal7v2k/win-deps}/versions.txt pkg version
  [[ -f $built ]] || { echo "no $built"; return 1; }
  for pkg in pugixml expat pcre2 libzip; do
    version=$(sed -n "s/^$pkg //p" "$built")
    echo "$pkg $version"
    grep -qxF "$pkg $version: Debian source package, built into the Windows files" "$top/$doc/THIRD-PARTY-NOTICES.txt" ||
      { echo "the notices do not name $pkg $version as built"; return 1; }
  done
}

# The shipped methods page lists every method the module has, with its names and number of
# arguments as the module gives them, and says what each one takes and returns.
methods_page_complete() {
  local top=$1 page=$1/$doc/docs/driver-methods.md index russian english count row
  while IFS=$'\t' read -r index russian english count; do
    row=$(grep -F "| $index | $russian | $english | $count |" "$page") ||
      { echo "driver-methods.md has no row for $index $russian $english ($count)"; return 1; }
    [[ $(awk -F'|' '{print NF}' <<<"$row") -ge 8 && $row == *"| Boolean |" || $row == *"| integer"* ]] ||
      { echo "the row of $english gives no result: $row"; return 1; }
  done < <(cd "$work" && "$top/bin/addin-host" methods)
}

# The shipped documents point at nothing that is not shipped: no path of the source tree,
# and every relative link leads to a file of the package.
documents_self_contained() {
  local folder=$1/$doc f target bad=0
  while IFS= read -r f; do
    if grep -nE '`(src|tools|tests|scripts|cmake|fuzz|bench|build)/' "$f"; then
      echo "$f names a file of the source tree"
      bad=1
    fi
    while IFS= read -r target; do
      [[ -e $(dirname "$f")/$target ]] || { echo "$f links to $target, which is not shipped"; bad=1; }
    done < <(sed 's/`[^`]*`//g' "$f" | grep -oE '\]\([^)#: ]+' | sed 's/^](//')
  done < <(find "$folder" -name '*.md')
  return $bad
}

# The Linux steps of the shipped README's guide, as written, in a copy of the package (the
# port the guide names swapped for a free one): every call goes through and the decoded log
# shows the uploads accepted.
guide_works_on_linux() {
  local top=$1 copy=$work/guide port out
  rm -rf "$copy"
  cp -r "$top" "$copy"
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  awk '/^```sh$/ {inside = 1; next} /^```/ {inside = 0} inside' "$top/$doc/README.md" | sed "s/1111/$port/g" >"$work/guide.sh"
  [[ -s $work/guide.sh ]] || { echo "the README has no Linux steps"; return 1; }
  out=$(cd "$copy" && env -u W_QUENDAL7V2K_LOG_DIR bash -e -m "$work/guide.sh" 2>&1) || { echo "$out"; return 1; }
  echo "$out"
  [[ $(grep -c 'result: bool false\|GetLastError' <<<"$out") == 0 ]] &&
    grep -q 'call UploadGoods: true' <<<"$out" && grep -q 'accepted' <<<"$out" && grep -q 'write plu' <<<"$out"
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

# lintian: no error, no warning, and none of its notes on missing hardening.
lintian_clean() {
  local out rc=0
  out=$(lintian --tag-display-limit 0 -I --fail-on error,warning "$1" 2>&1) || rc=1
  echo "$out"
  [[ $rc == 0 ]] && ! grep -q 'hardening-' <<<"$out"
}

# Debian's files for every package, and no maintainer script (nothing to run at install).
deb_debian_files() {
  local root=$1 deb=$2 name scripts
  name=$(dpkg-deb -f "$deb" Package)
  head -n1 "$root/usr/share/doc/$name/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
    { echo "no machine-readable copyright file"; return 1; }
  zcat "$root/usr/share/doc/$name/changelog.gz" | head -n1 | grep -q "^$name ($(dpkg-deb -f "$deb" Version))" ||
    { echo "no changelog of this version"; return 1; }
  scripts=$(dpkg-deb -I "$deb" | grep -E -o '\b(preinst|postinst|prerm|postrm)\b' || true)
  [[ -z $scripts ]] || { echo "maintainer scripts: $scripts"; return 1; }
}

# Every release file of the second build is the same as this one's, byte for byte.
same_as_second_build() {
  local other=$1 f
  cmp "$dist/SHA256SUMS" "$other/SHA256SUMS" || return 1
  for f in "$dist"/w_quendal7v2k-* "$dist"/w-quendal7v2k_*; do cmp "$f" "$other/$(basename "$f")" || return 1; done
}

linux=$(find "$dist" -maxdepth 1 -name 'w_quendal7v2k-*-linux-x86_64.tar.gz' | head -n1)
windows=$(find "$dist" -maxdepth 1 -name 'w_quendal7v2k-*-windows-x64.zip' | head -n1)
deb=$(find "$dist" -maxdepth 1 -name 'w-quendal7v2k_*_amd64.deb' | head -n1)
# The packages of every library the files load (the C and C++ runtimes among them) and of the
# toolkit the windows open; on Windows the sources built in and the system's static libraries.
linux_libs=(libpugixml1v5 libexpat1 libpcre2-8-0 libzip4 libstdc++6 libgcc-s1 libc6 libgtk-3-0 libwebkit2gtk-4.1-0)
windows_libs=(pugixml expat pcre2 libzip libz-mingw-w64-dev mingw-w64-x86-64-dev g++-mingw-w64-x86-64-posix
  gcc-mingw-w64-x86-64-posix)

check "checksums of the release files (dist/SHA256SUMS)" archive_sums_match
if [[ -n $compare ]]; then
  check "the release files are byte-identical to a second build's" same_as_second_build "$compare"
  # The two lists, for the record.
  echo "  this build:"; sed 's/^/    /' "$dist/SHA256SUMS"
  echo "  second build:"; sed 's/^/    /' "$compare/SHA256SUMS"
fi

if [[ -n $linux ]]; then
  name=$(basename "$linux" .tar.gz)
  check "$name unpacks into $name/" tar -xzf "$linux" -C "$work"
  top=$work/$name
  check "$name holds the module, the tools, the README, licences, docs and examples" \
    has_files "$top" "" lib/w_quendal7v2k .so
  check "$name holds nothing else, and no developer document" nothing_else "$top"
  check "$name: notices of every linked library, and the licence" notices_complete "$top" "${linux_libs[@]}"
  check "$name SHA256SUMS matches every file" sums_match "$top"
  check "$name: a manual page for every program" has_manual_pages "$top"
  check "$name: the methods page lists every method with its arguments and result" methods_page_complete "$top"
  check "$name: the shipped documents point at nothing that is not shipped" documents_self_contained "$top"
  check "$name: the README's steps work as written on Linux" guide_works_on_linux "$top"
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
  check "$name: a manual page for every program" has_manual_pages "$work/deb-root/usr"
  check "$name: Debian's copyright file and changelog, no maintainer scripts" deb_debian_files "$work/deb-root" "$deb"
  check "$name: lintian finds no error, no warning and no missing hardening" lintian_clean "$deb"
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
  check "$name: the notices name the sources as built" windows_notices_as_built "$top"
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
