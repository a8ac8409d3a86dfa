#!/usr/bin/env bash
# Puts the CommonMark and GFM texts whose examples the Markdown engine is tested on into the cache
# (${QD_CACHE:-~/.cache/w_quendal7v2k}):
#   commonmark-spec-0.28.0/spec.txt  the CommonMark text of the version the engine follows, from
#                                    the npm package commonmark-spec, fetched with npm;
#   gfm-spec/spec.txt                the GitHub-flavoured Markdown text with the examples of its
#                                    extensions, from the Debian source package of the GFM
#                                    reference converter (cmark-gfm), fetched with apt-get.
# Each part does nothing when its file is already there. The texts are fetched, never
# committed. Run as root (apt-get).
set -euo pipefail

cm_version=0.28.0
cache=${QD_CACHE:-${HOME:-/root}/.cache/w_quendal7v2k}
cm_dest=$cache/commonmark-spec-$cm_version
gfm_dest=$cache/gfm-spec
apt_opts=(-o APT::Sandbox::User=root -q)

say() { echo "markdown-examples: $*"; }
fail() { echo "markdown-examples: $*" >&2; exit 1; }

mkdir -p "$cache"
work=$(mktemp -d "$cache/.markdown-examples.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Moves a finished file into its folder, so that the folder appears whole or not at all.
install_file() {
  local file=$1 dest=$2
  mkdir -p "$work/out"
  mv "$file" "$work/out/spec.txt"
  rm -rf "$dest"
  mv "$work/out" "$dest"
}

fetch_commonmark() {
  if [[ -s $cm_dest/spec.txt ]]; then
    say "CommonMark $cm_version present"
    return
  fi
  if ! command -v npm >/dev/null; then
    [[ $(id -u) -eq 0 ]] || fail "npm is needed to fetch the CommonMark examples"
    say "npm missing, installing it"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends npm
  fi
  say "fetching CommonMark $cm_version"
  mkdir -p "$work/npm"
  # npm checks the package against the registry's integrity record while packing
  (cd "$work/npm" && npm pack --silent "commonmark-spec@$cm_version" >/dev/null)
  local tarball=$work/npm/commonmark-spec-$cm_version.tgz
  [[ -s $tarball ]] || fail "npm did not deliver commonmark-spec $cm_version"
  tar --no-same-owner -xzf "$tarball" -C "$work/npm" package/spec.txt package/package.json
  local got
  got=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["version"])' "$work/npm/package/package.json")
  [[ $got == "$cm_version" ]] || fail "got commonmark-spec $got, wanted $cm_version"
  grep -q '^`\{32\} example$' "$work/npm/package/spec.txt" || fail "no examples in the CommonMark text"
  install_file "$work/npm/package/spec.txt" "$cm_dest"
  say "CommonMark $cm_version in $cm_dest"
}

# apt-get source with the machine's own deb-src entries when it has them; otherwise with a
# private configuration that adds a deb-src entry for every deb entry of the machine and keeps
# its package lists in the work folder, so that the system's configuration stays as it was.
apt_source() {
  local pkg=$1
  if apt-cache showsrc --only-source "$pkg" 2>/dev/null | grep -q '^Version:'; then
    (cd "$work/apt" && apt-get "${apt_opts[@]}" source --download-only "$pkg" >"$work/apt.log" 2>&1) && return
  fi
  local parts=$work/apt-parts lists=$work/apt-lists f
  mkdir -p "$parts" "$lists/partial"
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] || continue
    sed 's/^Types:.*$/Types: deb-src/' "$f" >"$parts/$(basename "$f")"
  done
  : >"$parts/main.list"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$parts/main.list"
  done
  local opts=("${apt_opts[@]}" -o "Dir::Etc::SourceParts=$parts" -o "Dir::Etc::SourceList=$parts/main.list"
              -o "Dir::State::Lists=$lists")
  # a repository without sources fails its part of the update; the others still count
  apt-get "${opts[@]}" update >"$work/apt-update.log" 2>&1 || true
  (cd "$work/apt" && apt-get "${opts[@]}" source --download-only "$pkg" >"$work/apt.log" 2>&1) ||
    { tail -n 5 "$work/apt-update.log" "$work/apt.log" >&2; fail "apt-get source $pkg failed"; }
}

fetch_gfm() {
  if [[ -s $gfm_dest/spec.txt ]]; then
    say "GFM present"
    return
  fi
  say "fetching the GFM text (source package cmark-gfm)"
  mkdir -p "$work/apt"
  apt_source cmark-gfm
  local orig
  orig=$(compgen -G "$work/apt/cmark-gfm_*.orig.tar.*" | head -n1)
  [[ -n $orig ]] || fail "no upstream tarball in the cmark-gfm source package"
  mkdir -p "$work/gfm"
  tar --no-same-owner -xf "$orig" -C "$work/gfm" --wildcards '*/test/spec.txt'
  local text
  text=$(compgen -G "$work/gfm/*/test/spec.txt" | head -n1)
  [[ -n $text ]] && grep -q '^`\{32\} example table$' "$text" || fail "no table examples in the GFM text"
  install_file "$text" "$gfm_dest"
  say "GFM in $gfm_dest"
}

fetch_commonmark
fetch_gfm
