#!/usr/bin/env bash
# What loading the module costs a host process: wall time and peak resident memory of a whole
# addin-host run that loads the module and creates one component, and of one that also writes
# a log line; then what the first window adds: the time until the log viewer (ViewLog) or the
# help (ShowHelp) is on the screen and the peak resident memory then, less the figures of the
# plain load. Prints medians of several runs and the number of shared libraries the module
# pulls in at load.
#
#   bash bench/module-load.sh [BUILD_DIR] [RUNS]     (default build/linux, 9 runs)
#
# The windows are measured on a virtual display of the script's own (Xvfb, xdotool); without
# them that part is left out.
set -euo pipefail

build=${1:-build/linux}
runs=${2:-9}
host="$build/bin/addin-host"
module="$build/bin/w_quendal7v2k.so"
[[ -x "$host" && -f "$module" ]] || { echo "build addin-host and w_quendal7v2k in $build first" >&2; exit 2; }

work=$(mktemp -d)
stats=$work/stats
xvfb_pid=
trap '[[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null; rm -rf "$work"' EXIT

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

load_time=0
load_rss=0
measure() {
  local label=$1; shift
  local times=() rss=() out
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -o "$stats" -f '%e %M' "$host" --module "$module" --keep-going "$@" >/dev/null 2>&1 || true
    out=$(tail -1 "$stats")
    times+=("${out% *}")
    rss+=("${out#* }")
  done
  load_time=$(printf '%s\n' "${times[@]}" | median)
  load_rss=$(printf '%s\n' "${rss[@]}" | median)
  printf '%-28s wall %6.3f s   peak RSS %7d KiB   (median of %d)\n' "$label" "$load_time" "$load_rss" "$runs"
}

echo "shared libraries of the module: $(ldd "$module" | wc -l)"
# Open against a loopback port nobody listens on: fails at once, with the log on it writes lines.
measure "load + one log line" param LogEnabled true param IPAddress 127.0.0.1 param IPPort 9 call Open
measure "load + one component" info

# ---- the first window ----
if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
  echo "no Xvfb or xdotool: the first windows are not measured"
  exit 0
fi
Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=:$(tr -d '[:space:]' <"$work/display")
unset WAYLAND_DISPLAY

# Seconds (with fractions) since the epoch.
now() { date +%s.%N; }

# One run: the time from the start of addin-host until its window is on the screen, and its
# peak resident memory then (KiB); the window is closed with Esc afterwards.
first_window() {
  local start pid window= peak
  start=$(now)
  "$host" --module "$module" call DoAdditionalAction "s:$1" >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 1 1200); do
    window=$(xdotool search --onlyvisible --name . 2>/dev/null | head -n1)
    [[ -n $window ]] && break
    sleep 0.01
  done
  local shown
  shown=$(now)
  peak=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
  while kill -0 "$pid" 2>/dev/null; do
    [[ -n $window ]] && xdotool windowfocus --sync "$window" key Escape >/dev/null 2>&1
    sleep 0.2
  done
  wait "$pid" || true
  echo "$(awk -v a="$start" -v b="$shown" 'BEGIN { printf "%.3f", b - a }') $peak"
}

window() {
  local action=$1 times=() rss=() out
  for ((i = 0; i < runs; i++)); do
    out=$(first_window "$action")
    times+=("${out% *}")
    rss+=("${out#* }")
  done
  local t m
  t=$(printf '%s\n' "${times[@]}" | median)
  m=$(printf '%s\n' "${rss[@]}" | median)
  printf '%-28s shown after %6.3f s (+%.3f s)   peak RSS %7d KiB (+%d KiB)   (median of %d)\n' \
    "first $action" "$t" "$(awk -v a="$t" -v b="$load_time" 'BEGIN { print a - b }')" "$m" $((m - load_rss)) "$runs"
}

window ViewLog
window ShowHelp
