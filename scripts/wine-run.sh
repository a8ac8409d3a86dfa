#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine, headless, and passes its exit code through.
#
#   wine-run.sh PROGRAM.exe [ARGS...]   run a program
#   wine-run.sh --init                  only create/initialise $WINEPREFIX and keep its
#                                       server running until --stop
#   wine-run.sh --stop                  end the wineserver of $WINEPREFIX
#
# With WINEPREFIX set, that prefix is used (and created on first use); a caller that
# shares one prefix between many runs should call --init once first and --stop at the
# end. Without WINEPREFIX, a throw-away prefix is made for this one run and removed.
set -uo pipefail

export WINEDEBUG=-all
# No .NET or HTML engine prompts, and no desktop menu entries written into $HOME.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
# Headless by default. Window tests name an X display in QD_TEST_DISPLAY; even then the
# prefix is set up so that no crash dialog waits on that display.
if [[ -n ${QD_TEST_DISPLAY:-} ]]; then
  export DISPLAY=$QD_TEST_DISPLAY
  unset WAYLAND_DISPLAY
else
  unset DISPLAY WAYLAND_DISPLAY
fi

# Debian's wine64 package ships the loader in /usr/lib/wine; elsewhere use PATH.
if [[ -x /usr/lib/wine/wine64 ]]; then
  wine=/usr/lib/wine/wine64
  export WINELOADER=$wine
else
  wine=$(command -v wine64 || command -v wine || true)
fi
if [[ -x /usr/lib/wine/wineserver64 ]]; then
  wineserver=/usr/lib/wine/wineserver64
else
  wineserver=$(command -v wineserver || true)
fi
if [[ -z $wine || -z $wineserver ]]; then
  echo "wine-run: no 64-bit Wine found (install wine64)" >&2
  exit 127
fi

own_prefix=
if [[ -z ${WINEPREFIX:-} ]]; then
  own_prefix=$(mktemp -d "${TMPDIR:-/tmp}/qd-wine.XXXXXX")
  export WINEPREFIX=$own_prefix
  trap '"$wineserver" -k >/dev/null 2>&1; "$wineserver" -w >/dev/null 2>&1; rm -rf "$own_prefix"' EXIT
fi
mkdir -p "$WINEPREFIX"
WINEPREFIX=$(cd "$WINEPREFIX" && pwd)
export WINEPREFIX

# Create the prefix once. A lock keeps parallel first runs from racing. Crash dialogs are
# switched off in every prefix (also in one made before this setting was added).
init_prefix() {
  [[ -f $WINEPREFIX/.qd-ready && -f $WINEPREFIX/.qd-quiet ]] && return 0
  exec 9>"$WINEPREFIX/.qd-lock"
  flock 9
  if [[ ! -f $WINEPREFIX/.qd-ready ]]; then
    "$wine" wineboot -i >/dev/null 2>&1 </dev/null
    "$wineserver" -w
    touch "$WINEPREFIX/.qd-ready"
  fi
  if [[ ! -f $WINEPREFIX/.qd-quiet ]]; then
    "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      >/dev/null 2>&1 </dev/null
    "$wineserver" -w
    touch "$WINEPREFIX/.qd-quiet"
  fi
  flock -u 9
  exec 9>&-
}

case "${1:-}" in
  # The prefix's server then stays up until --stop: a server that ends when it is idle for a
  # moment can drop a program of a parallel run that connects just then. Its background
  # services are started here too, detached from any caller's output: started by a program
  # under test they would keep that program's output open until --stop.
  --init)
    init_prefix && "$wineserver" -p || exit 1
    "$wine" wineboot </dev/null >/dev/null 2>&1
    exit 0 ;;
  --stop) "$wineserver" -k >/dev/null 2>&1; "$wineserver" -w >/dev/null 2>&1; exit 0 ;;
  "") echo "usage: wine-run.sh PROGRAM.exe [ARGS...] | --init | --stop" >&2; exit 2 ;;
esac

init_prefix || { echo "wine-run: could not initialise $WINEPREFIX" >&2; exit 1; }
"$wine" "$@"
rc=$?
exit $rc
