#!/usr/bin/env bash
# scripts/demo.sh against a scale that is not its own virtual one clears that scale first: it
# says so and goes on only after "yes" on a terminal or with --yes; without a terminal and
# without --yes it stops before it builds or sends anything.
#
#   demo_cases.sh BIN_DIR
#
# BIN_DIR holds addin-host, vscale and the module. The scale here is a listener that notes
# every connection, then the virtual scale for the run that goes through.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "$1" && pwd)
top=$(mktemp -d "${TMPDIR:-/tmp}/qd-demo-cases.XXXXXX")
listener_pid=""
trap '[[ -n $listener_pid ]] && kill "$listener_pid" 2>/dev/null; rm -rf "$top"' EXIT

passed=0
failed=0
check() {
  local name=$1
  shift
  if "$@"; then
    echo "ok: $name"
    passed=$((passed + 1))
  else
    echo "FAILED: $name"
    sed 's/^/  /' "$top/out" "$top/err" 2>/dev/null
    failed=$((failed + 1))
  fi
}

# A port that notes every connection in $top/connections.
python3 - "$top" <<'PY' &
import socket, sys
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(8)
open(sys.argv[1] + "/port.tmp", "w").write(str(s.getsockname()[1]))
import os
os.rename(sys.argv[1] + "/port.tmp", sys.argv[1] + "/port")
while True:
    c, _ = s.accept()
    open(sys.argv[1] + "/connections", "a").write("connected\n")
    c.close()
PY
listener_pid=$!
for _ in $(seq 1 600); do
  [[ -f $top/port ]] && break
  sleep 0.1
done
port=$(cat "$top/port")

# Without a terminal and without --yes: what would be lost, then nothing sent.
bash "$root/scripts/demo.sh" --address 127.0.0.1 --port "$port" </dev/null >"$top/out" 2>"$top/err"
rc=$?
check "no terminal, no --yes: exit status 2" test "$rc" = 2
check "no terminal, no --yes: says what the scale loses" \
  grep -q "it loses its$" "$top/err"
check "no terminal, no --yes: names --yes and sends nothing" \
  grep -q "^demo: nothing sent: no terminal to ask on; give --yes to clear the scale without asking$" "$top/err"
check "no terminal, no --yes: nothing built" test ! -s "$top/out"

# On a terminal, any answer but "yes" stops it.
if command -v script >/dev/null; then
  printf 'no\n' | script -qec "bash '$root/scripts/demo.sh' --address 127.0.0.1 --port $port" /dev/null >"$top/out" 2>"$top/err"
  rc=$?
  check "terminal, answer no: exit status 1" test "$rc" = 1
  check "terminal, answer no: asked, and nothing sent" \
    bash -c 'grep -q "Type yes to go on" "$1" && grep -q "demo: nothing sent" "$1"' _ "$top/out"
fi
check "no connection was made to the scale" test ! -e "$top/connections"

# With --yes it goes through, from an installed layout of the built programs.
layout=$top/layout
mkdir -p "$layout/bin" "$layout/share/doc/w_quendal7v2k"
ln -s "$bin/addin-host" "$bin/vscale" "$layout/bin/"
ln -s "$root/examples" "$layout/share/doc/w_quendal7v2k/examples"
("$bin/vscale" --port 0 >"$top/vscale.out" 2>"$top/vscale.err") &
vscale_pid=$!
scale_port=
for _ in $(seq 1 600); do
  scale_port=$(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$top/vscale.out")
  [[ -n $scale_port ]] && break
  sleep 0.1
done
bash "$root/scripts/demo.sh" --from "$layout" --address 127.0.0.1 --port "$scale_port" --yes </dev/null \
  >"$top/out" 2>"$top/err"
rc=$?
kill "$vscale_pid" 2>/dev/null
wait "$vscale_pid" 2>/dev/null
check "--yes: exit status 0" test "$rc" = 0
check "--yes: cleared and loaded without asking" \
  bash -c 'grep -q "ClearGoods: bool true" "$1" && grep -q "uploaded to the scale at 127.0.0.1:$2" "$1" && ! grep -q "Type yes" "$1"' \
  _ "$top/out" "$scale_port"

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
