#!/usr/bin/env bash
# Checks the release archives in a folder (default dist/): each unpacks into one top folder
# holding the module, its window library, the three tools, README.md, docs/, examples/ and a
# SHA256SUMS that matches every file; the packaged addin-host loads the packaged module through
# its exports (the Windows one under Wine); the Windows archive holds no DLL but those two; the
# module and the tools need no window toolkit library (only the window library does); the
# module carries its help (on Linux the help action, without a display, gets as far as the
# window); and the main job (scripts/demo.sh --from) runs from the unpacked archive alone
# against its own virtual scale.
# Prints one line per check and ends with "N passed, M failed".
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
dist=$(cd "${1:-$root/dist}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/qd-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

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

has_files() {
  local top=$1 exe=$2 suffix=$3 f
  for f in "w_quendal7v2k$suffix" "w_quendal7v2k_windows$suffix" "addin-host$exe" "vscale$exe" "mdconv$exe" README.md SHA256SUMS \
           docs/tables.md examples/goods.xml; do
    [[ -f $top/$f ]] || { echo "missing: $f"; return 1; }
  done
}

sums_match() { (cd "$1" && sha256sum --quiet -c SHA256SUMS && [[ $(wc -l <SHA256SUMS) -eq $(find . -type f ! -name SHA256SUMS | wc -l) ]]); }

host_loads_module() {
  local top=$1 runner=$2 exe=$3
  local out
  # A Windows program's lines end with CR LF.
  out=$(cd "$top" && $runner "./addin-host$exe" classes info | tr -d '\r') || { echo "$out"; return 1; }
  echo "$out"
  grep -qx "classes: w_quendal7v2k" <<<"$out" && grep -qx "extension: w_quendal7v2k" <<<"$out"
}

only_the_driver_dlls() {
  local dlls
  dlls=$(cd "$1" && find . -iname '*.dll' | sort | tr '\n' ' ')
  echo "$dlls"
  [[ $dlls == "./w_quendal7v2k.dll ./w_quendal7v2k_windows.dll " ]]
}

# The packaged module and tools need no window toolkit library: the module loads its window
# library when a window is first shown.
module_and_tools_need_no_toolkit() {
  local top=$1 dump=$2 windows=$3 exe=$4 suffix=$5
  cmake "-DFILES=$top/w_quendal7v2k$suffix|$top/addin-host$exe|$top/vscale$exe|$top/mdconv$exe" "-DDUMP=$dump" \
    "-DWINDOWS=$windows" -P "$root/cmake/CheckNoToolkit.cmake"
}

# Without a display the help action fails at the window, after the help was found and rendered.
help_reaches_the_window() {
  local out
  out=$(cd "$1" && env -u DISPLAY -u WAYLAND_DISPLAY ./addin-host --keep-going call DoAdditionalAction s:ShowHelp lasterror)
  echo "$out"
  grep -q "Окно не может быть показано: графический экран недоступен" <<<"$out"
}

# The help archive lies in the module as it was packed: its member names are there in plain.
module_carries_help() { grep -aq 'help.md' "$1" && grep -aq 'help.css' "$1"; }

main_job_from_archive() {
  local out
  out=$(bash "$root/scripts/demo.sh" --from "$1" 2>&1) || { echo "$out"; return 1; }
  echo "$out"
  grep -q "Close: bool true" <<<"$out" && grep -q "^Goods (table 25) (7)" <<<"$out"
}

archive_sums_match() { (cd "$dist" && sha256sum --quiet -c SHA256SUMS); }

linux=$(find "$dist" -maxdepth 1 -name 'w_quendal7v2k-*-linux-x86_64.tar.gz' | head -n1)
windows=$(find "$dist" -maxdepth 1 -name 'w_quendal7v2k-*-windows-x64.zip' | head -n1)

check "archive checksums (dist/SHA256SUMS)" archive_sums_match

if [[ -n $linux ]]; then
  name=$(basename "$linux" .tar.gz)
  check "$name unpacks into $name/" tar -xzf "$linux" -C "$work"
  top=$work/$name
  check "$name holds the module, its window library, the tools, README, docs and examples" has_files "$top" "" .so
  check "$name SHA256SUMS matches every file" sums_match "$top"
  check "$name: addin-host loads the module" host_loads_module "$top" "" ""
  check "$name: the module and the tools need no toolkit library" module_and_tools_need_no_toolkit "$top" readelf 0 "" .so
  check "$name: the help action gets as far as the window" help_reaches_the_window "$top"
  check "$name: the main job runs from the archive alone" main_job_from_archive "$top"
else
  check "Linux archive present" false
fi

if [[ -n $windows ]]; then
  name=$(basename "$windows" .zip)
  check "$name unpacks into $name/" python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$windows" "$work"
  top=$work/$name
  check "$name holds the module, its window library, the tools, README, docs and examples" has_files "$top" .exe .dll
  check "$name SHA256SUMS matches every file" sums_match "$top"
  check "$name holds no DLL but the module and its window library" only_the_driver_dlls "$top"
  check "$name: the module and the tools need no toolkit library" module_and_tools_need_no_toolkit "$top" x86_64-w64-mingw32-objdump 1 .exe .dll
  check "$name: addin-host loads the module under Wine" host_loads_module "$top" "bash $root/scripts/wine-run.sh" .exe
  check "$name: the module carries its help" module_carries_help "$top/w_quendal7v2k.dll"
  check "$name: the main job runs from the archive alone under Wine" main_job_from_archive "$top"
else
  check "Windows archive present" false
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
