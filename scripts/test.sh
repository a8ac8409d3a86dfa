#!/usr/bin/env bash
# The one test command: installs what is missing, builds the Windows third-party
# libraries if needed, then builds and tests
#   linux-asan  native, AddressSanitizer + UndefinedBehaviorSanitizer
#   fuzz        clang with libFuzzer: every fuzz target replays its corpus (Linux only)
#   linux-tsan  ThreadSanitizer: the thread stress test on the product module (Linux only)
#   windows     mingw-w64 cross build, tests under Wine in a throw-away prefix
# then builds the release archives of both targets and checks them (scripts/package.sh)
# and ends with the line "N passed, M failed" over all test runs.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

export QD_WIN_DEPS=${QD_WIN_DEPS:-${HOME:-/root}/.cache/w_quendal7v2k/win-deps}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/support/lsan.supp}

log_dir=$(mktemp -d "${TMPDIR:-/tmp}/qd-test.XXXXXX")
wine_prefix=$log_dir/wine
xvfb_pid=
cleanup() {
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  if [[ -d $wine_prefix ]]; then
    WINEPREFIX=$wine_prefix bash scripts/wine-run.sh --stop
  fi
  rm -rf "$log_dir"
}
trap cleanup EXIT

step() { echo "=== $* ($(date +%H:%M:%S))"; }

as_root() {
  if [[ $(id -u) -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo env QD_WIN_DEPS="$QD_WIN_DEPS" "$@"
  else
    echo "test: $* needs root and sudo is not available" >&2
    return 1
  fi
}

passed=0
failed=0
broken=0

# Adds the counts of one ctest run (from its log) to the totals.
count() {
  local line total fails
  line=$(grep -Eo '[0-9]+ tests? failed out of [0-9]+' "$1" | tail -n1)
  if [[ -z $line ]]; then
    return
  fi
  fails=$(awk '{print $1}' <<<"$line")
  total=$(awk '{print $NF}' <<<"$line")
  passed=$((passed + total - fails))
  failed=$((failed + fails))
}

# Adds the counts of a checker's closing "N passed, M failed" line to the totals.
count_plain() {
  local line
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$1" | tail -n1)
  if [[ -z $line ]]; then
    failed=$((failed + 1))
    return
  fi
  passed=$((passed + $(awk '{print $1}' <<<"$line")))
  failed=$((failed + $(awk '{print $3}' <<<"$line")))
}

# Configures, builds (going on past errors) and tests one preset.
run_preset() {
  local preset=$1
  step "configure $preset"
  if ! cmake --preset "$preset"; then
    echo "test: configuring $preset failed" >&2
    broken=1
    return
  fi
  step "build $preset"
  if ! cmake --build --preset "$preset" -- -k 0; then
    echo "test: building $preset failed" >&2
    broken=1
  fi
  step "test $preset"
  ctest --preset "$preset" 2>&1 | tee "$log_dir/ctest-$preset.log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || broken=1
  count "$log_dir/ctest-$preset.log"
}

step "system packages"
as_root bash scripts/setup-deps.sh || { echo "test: installing packages failed" >&2; echo "0 passed, 0 failed"; exit 1; }

step "Windows libraries"
as_root bash scripts/build-win-deps.sh || { echo "test: building the Windows libraries failed" >&2; broken=1; }

# The windows' tests show real windows: on a virtual display of this run's own, for the native
# tests and (through wine-run.sh) for the Windows ones.
start_display() {
  command -v Xvfb >/dev/null || { echo "test: no Xvfb; the window tests are skipped" >&2; return; }
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$log_dir/display" >"$log_dir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  local n
  for n in $(seq 1 100); do
    [[ -s $log_dir/display ]] && break
    sleep 0.1
  done
  if [[ -s $log_dir/display ]]; then
    export DISPLAY=:$(tr -d '[:space:]' <"$log_dir/display")
    export QD_TEST_DISPLAY=$DISPLAY
    unset WAYLAND_DISPLAY
  else
    echo "test: the virtual display did not start; the window tests are skipped" >&2
  fi
}
step "virtual display"
start_display

run_preset linux-asan
if [[ $(uname -s) == Linux ]]; then
  run_preset fuzz
  run_preset linux-tsan
fi

if [[ -f $QD_WIN_DEPS/.stamp ]]; then
  step "Wine prefix"
  export WINEPREFIX=$wine_prefix
  if bash scripts/wine-run.sh --init; then
    run_preset windows
    # The release archives of both targets, unpacked and run as a user would.
    step "packages"
    bash scripts/package.sh --no-deps 2>&1 | tee "$log_dir/package.log"
    [[ ${PIPESTATUS[0]} -eq 0 ]] || broken=1
    count_plain "$log_dir/package.log"
  else
    echo "test: creating the Wine prefix failed" >&2
    broken=1
  fi
fi

echo "$passed passed, $failed failed"
if [[ $broken -ne 0 || $failed -ne 0 ]]; then
  exit 1
fi
