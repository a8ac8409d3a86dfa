#!/usr/bin/env bash
# What loading the module costs a host process: wall time and peak resident memory of a whole
# addin-host run that loads the module and creates one component, and of one that also writes
# a log line. Prints the median of several runs and the number of shared libraries the module
# pulls in.
#
#   bash bench/module-load.sh [BUILD_DIR] [RUNS]     (default build/linux, 9 runs)
set -euo pipefail

build=${1:-build/linux}
runs=${2:-9}
host="$build/bin/addin-host"
module="$build/bin/w_quendal7v2k.so"
[[ -x "$host" && -f "$module" ]] || { echo "build addin-host and w_quendal7v2k in $build first" >&2; exit 2; }

stats=$(mktemp)
trap 'rm -f "$stats"' EXIT

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

measure() {
  local label=$1; shift
  local times=() rss=() out
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -o "$stats" -f '%e %M' "$host" --module "$module" --keep-going "$@" >/dev/null 2>&1 || true
    out=$(tail -1 "$stats")
    times+=("${out% *}")
    rss+=("${out#* }")
  done
  printf '%-28s wall %6.3f s   peak RSS %7d KiB   (median of %d)\n' "$label" \
    "$(printf '%s\n' "${times[@]}" | median)" "$(printf '%s\n' "${rss[@]}" | median)" "$runs"
}

echo "shared libraries of the module: $(ldd "$module" | wc -l)"
measure "load + one component" info
# Open against a loopback port nobody listens on: fails at once, with the log on it writes lines.
measure "load + one log line" param LogEnabled true param IPAddress 127.0.0.1 param IPPort 9 call Open
