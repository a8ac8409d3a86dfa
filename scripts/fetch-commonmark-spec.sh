#!/usr/bin/env bash
# Puts the CommonMark specification text of the version the Markdown engine follows into the
# cache, where the test of its examples reads it:
#   ${QD_CACHE:-~/.cache/w_quendal7v2k}/commonmark-spec-<version>/spec.txt
# The text comes from the npm package commonmark-spec of that version, fetched with the
# machine's own npm client. Does nothing when the file is already there. Never part of the
# repository: the text is fetched, not committed.
set -euo pipefail

version=0.28.0
cache=${QD_CACHE:-${HOME:-/root}/.cache/w_quendal7v2k}
dest=$cache/commonmark-spec-$version

say() { echo "commonmark-spec: $*"; }

if [[ -s $dest/spec.txt ]]; then
  say "$version present"
  exit 0
fi

if ! command -v npm >/dev/null; then
  if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null; then
    say "npm missing, installing it"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends npm
  else
    echo "commonmark-spec: npm is needed to fetch the examples" >&2
    exit 1
  fi
fi

mkdir -p "$cache"
work=$(mktemp -d "$cache/.commonmark-spec.XXXXXX")
trap 'rm -rf "$work"' EXIT

say "fetching $version"
# npm checks the package against the registry's integrity record while packing
(cd "$work" && npm pack --silent "commonmark-spec@$version" >/dev/null)
tarball=$work/commonmark-spec-$version.tgz
[[ -s $tarball ]] || { echo "commonmark-spec: npm did not deliver $version" >&2; exit 1; }
tar --no-same-owner -xzf "$tarball" -C "$work" package/spec.txt package/package.json
got=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["version"])' "$work/package/package.json")
[[ $got == "$version" ]] || { echo "commonmark-spec: got version $got, wanted $version" >&2; exit 1; }
grep -q '^`\{32\} example$' "$work/package/spec.txt" || { echo "commonmark-spec: no examples in spec.txt" >&2; exit 1; }

# the folder appears whole or not at all
mkdir -p "$work/out"
mv "$work/package/spec.txt" "$work/out/spec.txt"
rm -rf "$dest"
mv "$work/out" "$dest"
say "$version in $dest"
