#!/usr/bin/env bash
# Fuzzes one target of fuzz/ for a given time:
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
# TARGET is one of tables, rawdata, replies, hostvalues, markdown, help. The fuzz preset is
# configured and the target built when needed (build folder: $QD_FUZZ_BUILD, default
# build/fuzz). New inputs go to a scratch corpus ($QD_FUZZ_WORK/TARGET/corpus, default
# build/fuzz-work), seeded from fuzz/corpus/TARGET, which stays as it is; crashes, time-outs
# and memory blow-ups are written to $QD_FUZZ_WORK/TARGET/artifacts.
set -euo pipefail

if [[ $# -lt 2 || ! $2 =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [[ ! -d fuzz/corpus/$target ]]; then
  echo "fuzz: no target named $target (see fuzz/corpus)" >&2
  exit 2
fi

build=${QD_FUZZ_BUILD:-$root/build/fuzz}
work=${QD_FUZZ_WORK:-$root/build/fuzz-work}/$target
[[ -f $build/CMakeCache.txt ]] || cmake --preset fuzz -B "$build"
cmake --build "$build" --target "${target}_fuzz" -j2

mkdir -p "$work/corpus" "$work/artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/support/lsan.supp}

exec "$build/bin/${target}_fuzz" "$work/corpus" "$root/fuzz/corpus/$target" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$@"
