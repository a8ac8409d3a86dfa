#!/usr/bin/env bash
# Cross-builds the third-party static libraries of the Windows target from the Debian
# source packages of the machine's configured archive:
#   pugixml, expat, PCRE2 (8-bit), libzip (zlib only), GoogleTest + GoogleMock
# and installs them into $QD_WIN_DEPS (default ~/.cache/w_quendal7v2k/win-deps), each built
# from exactly the source version named below (VERSIONS): when that one cannot be fetched
# the script stops and says so, it never takes another. Beside the libraries it keeps
# versions.txt ("<source package> <version>" of what was built) and notices/<source
# package>.copyright, the copyright file of the very source built, which the Windows
# release's notices are written from (cmake/Notices.cmake).
# Run as root (it adds a deb-src entry and uses apt-get). Does nothing when the cache
# already holds the current source versions built by this very script (the stamp names the
# script, the toolchain, the compiler and every source version).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
prefix=${QD_WIN_DEPS:-$HOME/.cache/w_quendal7v2k/win-deps}
toolchain=$root/cmake/toolchain-mingw64.cmake
jobs=${QD_JOBS:-2}
src_list=/etc/apt/sources.list.d/w_quendal7v2k-deb-src.sources
# The source packages and exactly the versions built. A version the archive no longer lists,
# or whose files it does not serve, stops the script; a newer one that it lists is reported,
# to be named here once it can be fetched (the security archive's updates among them).
SOURCES=(pugixml expat pcre2 libzip googletest)
declare -A VERSIONS=(
  [pugixml]=1.13-0.2
  [expat]=2.5.0-1+deb12u2
  [pcre2]=10.42-1
  [libzip]=1.7.3-1
  [googletest]=1.12.1-0.2
)

say() { echo "win-deps: $*"; }

if [[ $(id -u) -ne 0 ]]; then
  echo "win-deps: must run as root (adds a deb-src entry and runs apt-get)" >&2
  exit 1
fi
for tool in x86_64-w64-mingw32-g++-posix cmake ninja dpkg-source python3; do
  command -v "$tool" >/dev/null || { echo "win-deps: $tool missing, run scripts/setup-deps.sh" >&2; exit 1; }
done

apt_opts=(-o APT::Sandbox::User=root -q)

# --- deb-src entry derived from the configured archive ---------------------------------
# Every enabled 'deb' entry of this release (deb822 files and the one-line list) becomes a
# 'deb-src' entry with the same URIs, suites, components and key. Entries of other
# repositories (suites not named after the release) are left out.
derive_sources() {
  python3 - "$@" <<'PY'
import glob, os, re, sys

def release():
    names = set()
    try:
        for line in open('/etc/os-release'):
            k, _, v = line.strip().partition('=')
            if k in ('VERSION_CODENAME',):
                names.add(v.strip('"'))
    except OSError:
        pass
    return names | {'stable', 'oldstable', 'testing', 'unstable', 'sid'}

rel = release()
def ours(suite):
    base = suite.split('/')[0].split('-')[0]
    return base in rel

entries, have_src = [], set()

def add(types, uris, suites, comps, signed):
    suites = [s for s in suites if ours(s)]
    if not suites:
        return
    if 'deb-src' in types:
        for u in uris:
            for s in suites:
                have_src.add((u.rstrip('/'), s))
    if 'deb' in types:
        entries.append((uris, suites, comps, signed))

for path in sorted(glob.glob('/etc/apt/sources.list.d/*.sources')):
    if path == sys.argv[1]:
        continue
    try:
        text = open(path).read()
    except OSError:
        continue
    for block in re.split(r'\n\s*\n', text):
        fields, key = {}, None
        for line in block.splitlines():
            if line.startswith('#'):
                continue
            if line[:1] in (' ', '\t') and key:
                fields[key] += '\n' + line
                continue
            k, sep, v = line.partition(':')
            if sep:
                key = k.strip().lower()
                fields[key] = v.strip()
        if fields.get('enabled', 'yes').lower() == 'no' or 'uris' not in fields:
            continue
        add(fields.get('types', '').split(), fields['uris'].split(),
            fields.get('suites', '').split(), fields.get('components', '').split(),
            fields.get('signed-by'))

lists = ['/etc/apt/sources.list'] + sorted(glob.glob('/etc/apt/sources.list.d/*.list'))
for path in lists:
    try:
        lines = open(path).read().splitlines()
    except OSError:
        continue
    for line in lines:
        line = line.split('#', 1)[0].strip()
        m = re.match(r'^(deb|deb-src)\s+(?:\[([^\]]*)\]\s+)?(\S+)\s+(\S+)\s*(.*)$', line)
        if not m:
            continue
        opts = dict(o.split('=', 1) for o in (m.group(2) or '').split() if '=' in o)
        add([m.group(1)], [m.group(3)], [m.group(4)], m.group(5).split(), opts.get('signed-by'))

out, seen = [], set()
for uris, suites, comps, signed in entries:
    uris = [u for u in uris if all((u.rstrip('/'), s) not in have_src for s in suites)]
    key = (tuple(uris), tuple(suites), tuple(comps))
    if not uris or key in seen:
        continue
    seen.add(key)
    stanza = ['Types: deb-src', 'URIs: ' + ' '.join(uris), 'Suites: ' + ' '.join(suites)]
    if comps:
        stanza.append('Components: ' + ' '.join(comps))
    if signed:
        stanza.append('Signed-By: ' + signed)
    out.append('\n'.join(stanza))
print('\n\n'.join(out))
PY
}

ensure_deb_src() {
  local wanted
  wanted=$(derive_sources "$src_list")
  local need_update=0
  if [[ -n $wanted ]]; then
    wanted="# Source packages of the configured archive (written by build-win-deps.sh)."$'\n'"$wanted"
    if [[ ! -f $src_list ]] || [[ $(cat "$src_list") != "$wanted" ]]; then
      say "adding deb-src entry $src_list"
      printf '%s\n' "$wanted" >"$src_list"
      need_update=1
    fi
  fi
  if ! compgen -G "/var/lib/apt/lists/*_Sources*" >/dev/null; then
    need_update=1
  fi
  if [[ $need_update -eq 1 ]]; then
    say "apt-get update"
    apt-get "${apt_opts[@]}" update >/dev/null
  fi
}

# Versions of a source package in the configured archive, newest first.
source_versions() {
  local list=() v i j t
  mapfile -t list < <(apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -u)
  for ((i = 1; i < ${#list[@]}; i++)); do
    for ((j = i; j > 0; j--)); do
      if dpkg --compare-versions "${list[j]}" gt "${list[j - 1]}"; then
        t=${list[j]}; list[j]=${list[j - 1]}; list[j - 1]=$t
      else
        break
      fi
    done
  done
  for v in "${list[@]}"; do echo "$v"; done
}

ensure_deb_src
declare -A candidates
stamp_text="script $(sha256sum "$0" | cut -d' ' -f1)"$'\n'
stamp_text+="toolchain $(sha256sum "$toolchain" | cut -d' ' -f1)"$'\n'
stamp_text+="compiler $(x86_64-w64-mingw32-g++-posix -dumpfullversion)"$'\n'
for pkg in "${SOURCES[@]}"; do
  v=$(source_versions "$pkg" | tr '\n' ' ')
  if [[ -z $v ]]; then
    say "source package $pkg not listed; refreshing package lists"
    apt-get "${apt_opts[@]}" update >/dev/null
    v=$(source_versions "$pkg" | tr '\n' ' ')
  fi
  [[ -n $v ]] || { echo "win-deps: no source package $pkg in the configured archive" >&2; exit 1; }
  wanted=${VERSIONS[$pkg]}
  if [[ " $v " != *" $wanted "* ]]; then
    echo "win-deps: the configured archive lists $pkg $v but not $wanted, the version named in $0" >&2
    exit 1
  fi
  newest=${v%% *}
  if [[ $newest != "$wanted" ]]; then
    say "note: the archive lists $pkg $newest, newer than $wanted built here; name it in $0 when it can be fetched"
  fi
  candidates[$pkg]=$wanted
  stamp_text+="$pkg $wanted"$'\n'
done

stamp=$prefix/.stamp
if [[ -f $stamp ]] && [[ $(cat "$stamp") == "${stamp_text%$'\n'}" ]]; then
  say "cache current in $prefix ($(tr '\n' ' ' <"$prefix/versions.txt"))"
  exit 0
fi

start=$SECONDS
work=$(mktemp -d "${TMPDIR:-/tmp}/qd-win-deps.XXXXXX")
trap 'rm -rf "$work"' EXIT
say "building into $prefix (work folder $work)"
rm -rf "$prefix"
mkdir -p "$prefix"

# Fetches exactly the version named; package lists out of step with the archive are
# refreshed once. No other version is taken in its place.
fetch() {
  local pkg=$1 got=${candidates[$1]}
  if ! (cd "$work" && apt-get "${apt_opts[@]}" source --download-only "$pkg=$got" >"$work/$pkg-fetch.log" 2>&1); then
    say "$pkg $got not fetched; refreshing the package lists and trying again"
    apt-get "${apt_opts[@]}" update >/dev/null
    if ! (cd "$work" && apt-get "${apt_opts[@]}" source --download-only "$pkg=$got" >"$work/$pkg-fetch.log" 2>&1); then
      tail -n 5 "$work/$pkg-fetch.log" >&2
      echo "win-deps: cannot fetch the source package $pkg $got named in $0; nothing is built from another" \
        "version. Check the network and the deb-src entry ($src_list), then run again." >&2
      exit 1
    fi
  fi
  say "fetched $pkg $got"
  local dsc=$work/${pkg}_${got#*:}.dsc
  (cd "$work" && dpkg-source --no-check -x "$dsc" "src-$pkg" >/dev/null 2>&1) ||
    { echo "win-deps: unpacking $pkg failed" >&2; exit 1; }
  echo "$pkg $got" >>"$work/versions.txt"
  mkdir -p "$work/notices"
  cp "$work/src-$pkg/debian/copyright" "$work/notices/$pkg.copyright" ||
    { echo "win-deps: the source package $pkg $got has no debian/copyright" >&2; exit 1; }
}

cross_build() {
  local pkg=$1 srcdir=$2; shift 2
  say "building $pkg"
  local bdir=$work/build-$pkg
  cmake -S "$srcdir" -B "$bdir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQD_WIN_DEPS="$prefix" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_SHARED_LIBS=OFF \
    "$@" >"$work/$pkg-configure.log" 2>&1 ||
    { tail -n 30 "$work/$pkg-configure.log" >&2; echo "win-deps: configuring $pkg failed" >&2; exit 1; }
  cmake --build "$bdir" -j "$jobs" >"$work/$pkg-build.log" 2>&1 ||
    { tail -n 30 "$work/$pkg-build.log" >&2; echo "win-deps: building $pkg failed" >&2; exit 1; }
  cmake --install "$bdir" >"$work/$pkg-install.log" 2>&1 ||
    { tail -n 30 "$work/$pkg-install.log" >&2; echo "win-deps: installing $pkg failed" >&2; exit 1; }
}

for pkg in "${SOURCES[@]}"; do fetch "$pkg"; done

cross_build pugixml "$work/src-pugixml" \
  -DPUGIXML_BUILD_TESTS=OFF

# Without document type declarations (the driver refuses them), which also keeps the
# archive's patches, written for the autotools build, from meeting the empty XML_DTD macro of
# the CMake build.
cross_build expat "$work/src-expat/expat" \
  -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
  -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF \
  -DEXPAT_BUILD_PKGCONFIG=OFF -DEXPAT_DTD=OFF

cross_build pcre2 "$work/src-pcre2" \
  -DBUILD_STATIC_LIBS=ON \
  -DPCRE2_BUILD_PCRE2_8=ON -DPCRE2_BUILD_PCRE2_16=OFF -DPCRE2_BUILD_PCRE2_32=OFF \
  -DPCRE2_SUPPORT_JIT=ON -DPCRE2_SUPPORT_UNICODE=ON \
  -DPCRE2_BUILD_PCRE2GREP=OFF -DPCRE2_BUILD_TESTS=OFF \
  -DPCRE2_SUPPORT_LIBBZ2=OFF -DPCRE2_SUPPORT_LIBZ=OFF \
  -DPCRE2_SUPPORT_LIBEDIT=OFF -DPCRE2_SUPPORT_LIBREADLINE=OFF

cross_build libzip "$work/src-libzip" \
  -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF \
  -DENABLE_OPENSSL=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF \
  -DENABLE_COMMONCRYPTO=OFF -DENABLE_WINDOWS_CRYPTO=ON \
  -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF

cross_build googletest "$work/src-googletest" \
  -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=ON

cp "$work/versions.txt" "$prefix/versions.txt"
cp -r "$work/notices" "$prefix/notices"
printf '%s\n' "${stamp_text%$'\n'}" >"$stamp"
say "done in $((SECONDS - start)) s"
