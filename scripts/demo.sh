#!/usr/bin/env bash
# The main job end to end: builds the driver module, the command-line host and the virtual
# scale, starts the virtual scale on 127.0.0.1, loads the sample groups, shops, images,
# goods and raw data of examples/ through the driver's exports, and prints what the scale
# now holds.
#
#   bash scripts/demo.sh                         against the virtual scale
#   bash scripts/demo.sh --address A --port P    against a real scale at A:P, which loses its
#                                                goods, containers, groups, pictures and
#                                                preset keys first: asks on a terminal, stops
#                                                before sending anything otherwise
#   bash scripts/demo.sh --address A --port P --yes   the same without asking
#   bash scripts/demo.sh --from FOLDER           with the programs of an installed layout:
#                                                FOLDER/bin, the module where addin-host
#                                                finds it, FOLDER/share/doc/w_quendal7v2k/
#                                                examples (an unpacked release archive or
#                                                the Debian package's /usr); nothing is
#                                                built (a Windows archive runs under Wine)
#
# The driver's log (with every exchange in hexadecimal) goes to build/demo/logs (with --from:
# FOLDER/../demo-logs).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

address=""
port=""
from=""
yes=0
while [[ $# -gt 0 ]]; do
  case $1 in
    --address) address=${2:?--address needs a value}; shift 2 ;;
    --port) port=${2:?--port needs a value}; shift 2 ;;
    --from) from=$(cd "${2:?--from needs a folder}" && pwd); shift 2 ;;
    --yes) yes=1; shift ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
if [[ -n $address && -z $port ]] || [[ -z $address && -n $port ]]; then
  echo "demo: --address and --port go together" >&2
  exit 2
fi

step() { echo "=== $*"; }

# A real scale is cleared before the examples go in: nothing is built or sent before the user
# has agreed, on a terminal or with --yes.
if [[ -n $address && $yes -eq 0 ]]; then
  echo "demo: the scale at $address:$port will be cleared first (ClearGoods, ClearGroups): it loses its" >&2
  echo "demo: goods, containers, groups, pictures and preset keys, then gets the examples of examples/." >&2
  if [[ ! -t 0 ]]; then
    echo "demo: nothing sent: no terminal to ask on; give --yes to clear the scale without asking" >&2
    exit 2
  fi
  read -r -p "Clear the scale at $address:$port and load the examples? Type yes to go on: " answer || answer=""
  if [[ $answer != yes ]]; then
    echo "demo: nothing sent" >&2
    exit 1
  fi
fi

# ---- packages and build, or the archive's files ----
exe=""
run=()
if [[ -n $from ]]; then
  bin=$from/bin
  examples=$from/share/doc/w_quendal7v2k/examples
  logs=$(dirname "$from")/demo-logs
  if [[ -f $bin/addin-host.exe ]]; then
    exe=.exe
    run=(bash "$root/scripts/wine-run.sh")
  fi
  [[ -f $bin/addin-host$exe && -f $bin/vscale$exe ]] || { echo "demo: $from/bin holds no addin-host and vscale" >&2; exit 2; }
else
need_setup=0
for tool in cmake ninja g++ python3; do
  command -v "$tool" >/dev/null || need_setup=1
done
[[ -f /usr/include/pugixml.hpp && -f /usr/include/pcre2.h ]] || need_setup=1
if [[ $need_setup -eq 1 ]]; then
  step "installing the build packages"
  if [[ $(id -u) -eq 0 ]]; then
    bash scripts/setup-deps.sh
  else
    sudo bash scripts/setup-deps.sh
  fi
fi

build=build/demo
step "building the driver, the host and the virtual scale into $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQD_BUILD_TESTS=OFF -DQD_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j 2 --target w_quendal7v2k addin-host vscale >/dev/null
bin=$root/$build/bin
examples=$root/examples
logs=$root/$build/logs
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qd-demo.XXXXXX")
vscale_pid=""
# A Windows scale runs under Wine, where a signal to the wrapper does not reach the program:
# its tables are dumped after every change instead, and the program is ended by name.
stop_scale() {
  if [[ -n $vscale_pid ]] && kill -0 "$vscale_pid" 2>/dev/null; then
    if [[ -n $exe ]]; then
      bash "$root/scripts/wine-run.sh" taskkill /f /im vscale.exe >/dev/null 2>&1 || true
    fi
    kill "$vscale_pid" 2>/dev/null || true
    wait "$vscale_pid" 2>/dev/null || true
  fi
  vscale_pid=""
}
cleanup() {
  stop_scale
  if [[ -n $exe && ${WINEPREFIX:-} == "$work/wine" ]]; then bash "$root/scripts/wine-run.sh" --stop; fi
  rm -rf "$work"
}
trap cleanup EXIT
dump_live=()
if [[ -n $exe ]]; then
  dump_live=(--dump-live)
  # A prefix of the demo's own unless the caller gives one (and keeps its server running).
  if [[ -z ${WINEPREFIX:-} ]]; then
    export WINEPREFIX=$work/wine
    bash "$root/scripts/wine-run.sh" --init
  fi
fi

# ---- the scale ----
if [[ -z $address ]]; then
  step "starting the virtual scale on 127.0.0.1"
  "${run[@]}" "$bin/vscale$exe" --port 0 --dump "$work/tables.json" "${dump_live[@]}" >"$work/vscale.out" 2>"$work/vscale.err" &
  vscale_pid=$!
  for _ in $(seq 1 600); do
    [[ -s $work/vscale.out ]] && break
    sleep 0.05
  done
  line=$(head -n1 "$work/vscale.out" | tr -d '\r' || true)
  if [[ $line != listening* ]]; then
    echo "demo: the virtual scale did not start" >&2
    cat "$work/vscale.err" >&2
    exit 1
  fi
  address=127.0.0.1
  port=${line##*:}
  echo "virtual scale listening on $address:$port"
fi

# ---- the upload, through the driver's exports ----
mkdir -p "$logs"
step "uploading examples/ to $address:$port"
status=0
# The host's status line (the upload's progress) shows on standard error as it goes.
# The module is the one addin-host finds for itself; the tables are read from the examples
# folder.
cd "$examples"
W_QUENDAL7V2K_LOG_DIR=$logs "${run[@]}" "$bin/addin-host$exe" \
  param IPAddress "$address" param IPPort "$port" \
  param LogEnabled true param ExtLogEnabled true \
  call Open e: \
  call ClearGoods e: \
  call ClearGroups \
  call UploadImages f:images.xml \
  call UploadGroups f:groups.xml \
  call UploadShops f:shops.xml \
  call UploadGoods e: f:goods.xml e: \
  call UploadData s:f23 f:data-f23.hex \
  call Close e: >"$work/host.out" || status=$?
cd "$root"
tr -d '\r' <"$work/host.out" >"$work/host.txt" && mv "$work/host.txt" "$work/host.out"
# One line per call: its name and result (after a failure the host's output shows the error).
awk '/^call /{name=$2} /^  result: /{sub(/^  result: /, ""); print "  " name " " $0}' "$work/host.out"
if [[ $status -ne 0 ]]; then
  echo "demo: a call failed (exit status $status); the host's output:" >&2
  cat "$work/host.out" >&2
  exit 1
fi
echo "driver log: $logs"

if [[ -z $vscale_pid ]]; then
  echo "uploaded to the scale at $address:$port"
  exit 0
fi

# ---- what the scale holds ----
stop_scale
step "what the virtual scale holds now"
python3 - "$work/tables.json" <<'EOF'
import json, sys

tables = json.load(open(sys.argv[1], encoding="utf-8"))

def lines(block):
    return " / ".join(l["text"] for l in block) if block else ""

def show(title, header, rows):
    print(f"\n{title} ({len(rows)})")
    if not rows:
        return
    rows = [[str(c) for c in r] for r in rows]
    widths = [max(len(h), *(len(r[i]) for r in rows)) for i, h in enumerate(header)]
    print(("  " + "  ".join(h.ljust(w) for h, w in zip(header, widths))).rstrip())
    for r in rows:
        print(("  " + "  ".join(c.ljust(w) for c, w in zip(r, widths))).rstrip())

show("Goods (table 25)",
     ["PLU", "group", "price", "kind", "tare", "barcode", "days", "name", "ingredients"],
     [[p["key"], p["main_group"], "%.2f" % p["unit_price"], "piece" if p["status"]["piece_goods"] else "weighed",
       p["tare"] if p["tare"] is not None else "", p["ean_data"], p["sell_by_date"], lines(p["commodity"]),
       lines(p["ingredient"])] for p in tables["plu"]])
show("Piece unit weights (table AB)", ["PLU", "unit weight", "total"],
     [[w["key"], w["unit_weight"], w["total_unit_weight"]] for w in tables["piece_unit_weights"]])
show("Containers (table DF)", ["goods code", "PLU"], [[c["key"], c["plu"]] for c in tables["containers"]])
show("Main groups (table 23)", ["group", "name"], [[g["key"], g["name"]] for g in tables["main_groups"]])
show("Group pictures (table A3)", ["group", "picture"], [[g["key"], g["image"]] for g in tables["group_images"]])
def drawing(data):
    """The picture as block characters, two rows of dots a line: the data spells width and
    height in dots, then every row's dots as bits, first dot highest (one byte per 8 dots).
    None when the data is not such a bitmap."""
    try:
        raw = bytes.fromhex(data)
    except ValueError:
        return None
    if len(raw) < 2 or not raw[0] or not raw[1]:
        return None
    width, height = raw[0], raw[1]
    stride = (width + 7) // 8
    if len(raw) != 2 + stride * height:
        return None
    dot = lambda x, y: y < height and raw[2 + y * stride + x // 8] >> (7 - x % 8) & 1
    blocks = {(0, 0): " ", (1, 0): "\u2580", (0, 1): "\u2584", (1, 1): "\u2588"}
    return ["".join(blocks[(dot(x, y), dot(x, y + 1))] for x in range(width)) for y in range(0, height, 2)]

print(f"\nPictures (table 37) ({len(tables['images'])})")
for image in tables["images"]:
    picture = drawing(image["data"])
    if picture is None:
        print(f"  {image['key']}  {image['data']}")
        continue
    for n, line in enumerate(picture):
        print(f"  {str(image['key']) if n == 0 else '':>4}  |{line}|")
show("Shops (table 3D)", ["shop", "label format", "name"],
     [[s["key"], s["label_format"], lines(s["name"])] for s in tables["shops"]])
show("Preset keys (table 41)", ["key", "code", "group key", "picture", "name"],
     [[k["key"], k["preset_key"], "yes" if k["status"]["group_key"] else "", k["image"], k["name"].rstrip()]
      for k in tables["preset_keys"]])
EOF
