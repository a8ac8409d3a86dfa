#!/usr/bin/env bash
# The driver's windows as the host platform gets them: the module copied alone into an empty
# folder, beside a stray library of another build named as a window library of the driver's
# once was, loaded by addin-host through its exports; each window is found on a virtual display
# of this run's own and closed with Esc, as a person would.
#
#   module_windows.sh HOST MODULE [RUNNER...]
#
# HOST is addin-host, MODULE the module file; RUNNER runs a Windows program (the Wine wrapper).
# Linux: the log viewer and the help open and close; with WebKitGTK taken away the log viewer
# still opens, the help fails naming WebKitGTK and an upload to the virtual scale (beside HOST)
# right after it succeeds; with GTK taken away both fail naming it and nothing is written to
# standard error; a WebKitGTK without a function the help needs fails naming the function.
# Windows: the log viewer opens and closes.
# The libraries are taken away from the host process alone, by a small library preloaded into
# it (hide_library.c, built here with the system's C compiler).
# Prints one line per check and ends with "N passed, M failed"; exits 77 when there is no
# virtual display or no xdotool to work it.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
[[ $# -ge 2 ]] || { echo "usage: module_windows.sh HOST MODULE [RUNNER...]" >&2; exit 2; }
host=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
module=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shift 2
runner=("$@")
windows=0
[[ $module == *.dll ]] && windows=1

for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "module_windows: no $tool; skipped"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qd-module-windows.XXXXXX")
xvfb_pid=
scale_pid=
cleanup() {
  [[ -n $scale_pid ]] && kill "$scale_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A display of this run's own: no other test's window is taken for the driver's.
Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [[ -s $work/display ]] && break
  sleep 0.1
done
[[ -s $work/display ]] || { echo "module_windows: the virtual display did not start; skipped"; exit 77; }
export DISPLAY=:$(tr -d '[:space:]' <"$work/display")
export QD_TEST_DISPLAY=$DISPLAY
unset WAYLAND_DISPLAY

# The module alone, with the stray library beside it: a library whose start-up code ends the
# process, so that loading it would show.
alone=$work/alone
mkdir -p "$alone"
cp "$module" "$alone/"
module=$alone/$(basename "$module")
if [[ $windows -eq 1 ]]; then
  printf 'MZ not a library of this build' >"$alone/w_quendal7v2k_windows.dll"
else
  printf '__attribute__((constructor)) static void stray(void) { __builtin_trap(); }\n' >"$work/stray.c"
  cc -shared -fPIC -o "$alone/w_quendal7v2k_windows.so" "$work/stray.c" ||
    { echo "module_windows: no C compiler"; exit 1; }
  cc -shared -fPIC -O1 -o "$work/hide.so" "$here/hide_library.c" -ldl ||
    { echo "module_windows: no C compiler"; exit 1; }
fi

# Preloading into a program built with AddressSanitizer needs its runtime first in the list.
preload=$work/hide.so
asan=$(ldd "$host" 2>/dev/null | awk '/libasan/ {print $3}')
[[ -n $asan ]] && preload=$asan:$preload
# The sanitizer's leak check of this compiler cannot walk the thread-local storage of the
# toolkit's libraries when they are opened at run time (it stops with "Tracer caught signal
# 11"): the runs that show a window check memory errors only. The window tests, which have the
# toolkit loaded at start as a host may, check the windows' leaks.
no_leak_check=(ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0)

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@" >"$work/check" 2>&1; then
    echo "ok: $what"
    passed=$((passed + 1))
  else
    echo "FAILED: $what"
    sed 's/^/  /' "$work/check"
    failed=$((failed + 1))
  fi
}

# Runs the host on the alone module with the environment settings given before "--".
run_host() {
  local settings=()
  while [[ $1 != -- ]]; do settings+=("$1"); shift; done
  shift
  (cd "$alone" && env "${settings[@]}" "${runner[@]}" "$host" --module "$module" --keep-going "$@")
}

# A window on the display now with that caption, or nothing. Other windows may come and go
# meanwhile (the emulator's own, while it sets up a fresh prefix).
shown_window() {
  local id
  for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    [[ $(xdotool getwindowname "$id" 2>/dev/null) == "$1" ]] && { echo "$id"; return; }
  done
}

# window_closes CAPTION SETTINGS... -- COMMANDS...: the host's one window appears with the
# caption, Esc closes it, and the call then returns true.
window_closes() {
  local caption=$1
  shift
  run_host "$@" >"$work/out" 2>"$work/err" &
  local pid=$! window= n
  for n in $(seq 1 600); do
    window=$(shown_window "$caption")
    [[ -n $window ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if [[ -z $window ]]; then
    echo "no window with the caption $caption appeared; on the display:"
    for n in $(xdotool search --onlyvisible --name . 2>/dev/null); do xdotool getwindowname "$n"; done
    kill "$pid" 2>/dev/null
    wait "$pid"
    cat "$work/out" "$work/err"
    return 1
  fi
  echo "window: $caption"
  # Esc, again every two seconds until the host returns (a loaded machine may take the first
  # key before the window is ready for it).
  for n in $(seq 1 30); do
    xdotool windowfocus --sync "$window" >/dev/null 2>&1
    xdotool key Escape >/dev/null 2>&1
    for _ in $(seq 1 20); do
      kill -0 "$pid" 2>/dev/null || break 2
      sleep 0.1
    done
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "the window did not close on Esc"
    kill "$pid" 2>/dev/null
    wait "$pid"
    return 1
  fi
  wait "$pid"
  local rc=$?
  tr -d '\r' <"$work/out"
  [[ $rc -eq 0 ]] || { echo "exit code $rc"; cat "$work/err"; }
  [[ $rc -eq 0 ]] && grep -q "^call DoAdditionalAction: true" <(tr -d '\r' <"$work/out")
}

# fails_naming TEXT SETTINGS... -- COMMANDS...: no window; the output holds the text, and
# standard error stays empty.
fails_naming() {
  local text=$1
  shift
  local out
  run_host "$@" >"$work/out" 2>"$work/err"
  out=$(tr -d '\r' <"$work/out")
  echo "$out"
  grep -qF -- "$text" <<<"$out" || { echo "no message naming: $text"; return 1; }
  [[ ! -s $work/err ]] || { echo "standard error:"; cat "$work/err"; return 1; }
}

# The virtual scale beside the host, on a free port of this machine.
start_scale() {
  "$(dirname "$host")/vscale" --port 0 >"$work/scale.out" 2>"$work/scale.err" &
  scale_pid=$!
  for _ in $(seq 1 200); do
    [[ -s $work/scale.out ]] && break
    sleep 0.05
  done
  local line
  line=$(head -n1 "$work/scale.out")
  [[ $line == listening* ]] || { echo "the virtual scale did not start"; cat "$work/scale.err"; return 1; }
  scale_port=${line##*:}
}

# Without WebKitGTK: the help fails naming it, the log viewer still opens, the component goes
# on working (an upload right after the failed help succeeds).
help_fails_then_upload() {
  local out
  start_scale || return 1
  run_host "${no_leak_check[@]}" LD_PRELOAD="$preload" QD_HIDE_LIBRARIES=libwebkit2gtk-4.1.so.0 -- \
    param IPAddress 127.0.0.1 param IPPort "$scale_port" call Open e: \
    call DoAdditionalAction s:ShowHelp \
    call UploadGroups s:'<Table><Record Code="7" Name="Сыры"/></Table>' b:false >"$work/out" 2>"$work/err"
  out=$(tr -d '\r' <"$work/out")
  echo "$out"
  grep -qF 'не удалось загрузить библиотеку WebKitGTK (libwebkit2gtk-4.1.so.0)' <<<"$out" || return 1
  grep -A1 '^call UploadGroups' <<<"$out" | grep -q 'result: bool true'
}

check "the log viewer opens from the module alone and closes on Esc" \
  window_closes "Просмотр лога" "${no_leak_check[@]}" -- call DoAdditionalAction s:ViewLog
if [[ $windows -eq 0 ]]; then
  check "the help opens from the module alone and closes on Esc" \
    window_closes "Справка" "${no_leak_check[@]}" -- call DoAdditionalAction s:ShowHelp
  check "without WebKitGTK the log viewer still opens" \
    window_closes "Просмотр лога" "${no_leak_check[@]}" LD_PRELOAD="$preload" QD_HIDE_LIBRARIES=libwebkit2gtk-4.1.so.0 -- \
    call DoAdditionalAction s:ViewLog
  check "without WebKitGTK the help fails naming it, and an upload right after succeeds" help_fails_then_upload
  for action in ViewLog ShowHelp; do
    check "without GTK $action fails naming it, with nothing on standard error" \
      fails_naming "Окно не может быть показано: не удалось загрузить библиотеку GTK 3 (libgtk-3.so.0)" \
      LD_PRELOAD="$preload" QD_HIDE_LIBRARIES=libgtk-3.so.0 -- call DoAdditionalAction s:$action
  done
  check "a WebKitGTK without the functions of the help fails naming the function" \
    fails_naming "в библиотеке WebKitGTK (libwebkit2gtk-4.1.so.0) нет функции webkit_web_view_" \
    LD_PRELOAD="$preload" QD_HIDE_LIBRARIES=libwebkit2gtk-4.1.so.0=libz.so.1 -- call DoAdditionalAction s:ShowHelp
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
