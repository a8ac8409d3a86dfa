#!/usr/bin/env bash
# The shipped tools on the command line: a table of tool x input cases, each with the exit
# status it must end with and what it must write. Every file and folder the tools are given
# has a Cyrillic name, and the tools run from an unrelated folder.
#
#   tool_cases.sh BIN_DIR [RUNNER...]
#
# BIN_DIR holds the tools and the module; RUNNER (the Wine wrapper for the Windows build) runs
# each program. Prints one line per case and ends with "N passed, M failed".
set -uo pipefail

bin=$(cd "$1" && pwd)
shift
runner=("$@")
exe=
module=w_quendal7v2k.so
if [[ -f $bin/addin-host.exe ]]; then
  exe=.exe
  module=w_quendal7v2k.dll
fi
version=$(sed -n 's/^project([^ ]* VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")

# Wine takes the command line in the locale's character set.
export LC_ALL=C.UTF-8
top=$(mktemp -d "${TMPDIR:-/tmp}/qd-tools.XXXXXX")
trap 'rm -rf "$top"' EXIT
# The Wine wrapper makes a prefix for every run without one: one prefix serves all cases here.
if [[ ${#runner[@]} -gt 0 && -z ${WINEPREFIX:-} ]]; then
  export WINEPREFIX="$top/wine"
  "${runner[@]}" --init || exit 1
  trap '"${runner[@]}" --stop; rm -rf "$top"' EXIT
fi
w="$top/Проверка"
mkdir -p "$w/Папка" "$w/Программа" "$w/ссылка" "$w/elsewhere"
export W_QUENDAL7V2K_LOG_DIR="$w/logs"

# ---- fixtures (bytes as written) ----
# "Молочные" in code page 1251 on line 3, at byte offset 70 of the file.
printf '<?xml version="1.0" encoding="UTF-8"?>\n<Table>\n<Record Code="1" Name="\xcc\xee\xeb\xee\xf7\xed\xfb\xe5"/>\n</Table>\n' \
  >"$w/группы-cp1251.xml"
printf '<?xml version="1.0" encoding="windows-1251"?>\n<Table>\n<Record Code="1" Name="\xcc\xee\xeb\xee\xf7\xed\xfb\xe5"/>\n</Table>\n' \
  >"$w/группы-1251.xml"
# Declared in single quotes, nothing but ASCII after it: the declaration alone is refused.
printf "<?xml version='1.0' encoding='KOI8-R'?><Table/>" >"$w/koi8.xml"
# UTF-16 with its byte-order mark.
printf '\xff\xfe<\x00T\x00/\x00>\x00' >"$w/utf16.xml"
# A UTF-8 byte-order mark, then valid UTF-8; an encoded surrogate (ED A0 80) is not UTF-8.
printf '\xef\xbb\xbfСклад №1' >"$w/Адрес.txt"
printf 'ab\xed\xa0\x80' >"$w/surrogate.txt"
printf 'Склад\n№1 \xc3' >"$w/cut.txt"
printf '# Заголовок\n\nТекст *справки*.\n' >"$w/Справка.md"
printf '# \xc7\xe0\xe3\xee\xeb\xee\xe2\xee\xea\n' >"$w/cp1251.md"
printf 'any text\nthat is no log\n' >"$w/текст.txt"
printf '2026.12.10 09:00:00.000\tDEBUG\t> Clear\xffGoods: \tParams: []\r\n2026.12.10 09:00:00.010\tDEBUG\tДанные обмена ->: \tF225\r\n2026.12.10 09:00:00.011\tDEBUG\tДанные обмена <-: \t06\r\n' \
  >"$w/Журнал-ff.log"
: >"$w/пустой.log"
printf '2026.12.10 09:00:00.000\tDEBUG\t> ClearGoods: \tParams: []\r\n2026.12.10 09:00:00.010\tDEBUG\tДанные обмена ->: \tF225\r\n2026.12.10 09:00:00.011\tDEBUG\tДанные обмена <-: \t06\r\n' \
  >"$w/Журнал.log"
cp "$bin/addin-host$exe" "$bin/$module" "$w/Программа/"
ln -s "$bin/addin-host$exe" "$w/ссылка/addin-host$exe"

passed=0
failed=0
out=
err=
rc=0
run() {
  local program=$1
  shift
  [[ $program == */* ]] || program=$bin/$program$exe
  (cd "$w/elsewhere" && "${runner[@]}" "$program" "$@") >"$top/out" 2>"$top/err"
  rc=$?
  # Now and then the emulator ends a program before it has run, with status 1 and not a word
  # on either stream. None of the tools fails that way, so such a run is made once more (and
  # said so); a tool that really did it would fail the second time too.
  if [[ ${#runner[@]} -gt 0 && $rc -ne 0 && ! -s $top/out && ! -s $top/err ]]; then
    echo "note: $program $*: ended with status $rc and no output; run again" >&2
    (cd "$w/elsewhere" && "${runner[@]}" "$program" "$@") >"$top/out" 2>"$top/err"
    rc=$?
  fi
  out=$(tr -d '\r' <"$top/out")
  err=$(tr -d '\r' <"$top/err")
}

# matches TEXT EXPECTED: EXPECTED "=..." is the whole text, anything else a part of it.
matches() {
  if [[ $2 == =* ]]; then [[ $1 == "${2#=}" ]]; else [[ $1 == *"$2"* ]]; fi
}

# case NAME STATUS STDOUT STDERR PROGRAM ARGS...
case_() {
  local name=$1 status=$2 wantOut=$3 wantErr=$4
  shift 4
  run "$@"
  if [[ $rc == "$status" ]] && matches "$out" "$wantOut" && matches "$err" "$wantErr"; then
    echo "ok: $name"
    passed=$((passed + 1))
  else
    echo "FAILED: $name"
    echo "  exit $rc (expected $status)"
    echo "  stdout: $(head -c 2000 <<<"$out")"
    echo "  expected on stdout: $wantOut"
    echo "  stderr: $(head -c 2000 <<<"$err")"
    echo "  expected on stderr: $wantErr"
    failed=$((failed + 1))
  fi
}

# check NAME COMMAND...: a check of what a case left behind.
check() {
  local name=$1
  shift
  if "$@"; then
    echo "ok: $name"
    passed=$((passed + 1))
  else
    echo "FAILED: $name"
    failed=$((failed + 1))
  fi
}

# ---- every tool: --help and --version ----
case_ "addin-host --help" 0 "Exit status" "=" addin-host --help
case_ "addin-host --version" 0 "=addin-host $version" "=" addin-host --version
case_ "vscale --help" 0 "--fault SEL=ACTION" "=" vscale --help
case_ "vscale --version" 0 "=vscale $version" "=" vscale --version
case_ "vscale decode --help" 0 "vscale decode LOGFILE [--json]" "=" vscale decode --help
case_ "vscale decode --version" 0 "=vscale $version" "=" vscale decode --version
case_ "mdconv --help" 0 "mdconv SOURCE.md TARGET.html" "=" mdconv --help
case_ "mdconv --version" 0 "=mdconv $version" "=" mdconv --version
case_ "mdconv without arguments" 2 "=" "usage: mdconv" mdconv
# What the help texts offer is what the tools do.
case_ "addin-host --help: --version loads no module" 0 \
  "--version       the version of this program; the module is not loaded for it" "=" addin-host --help
case_ "addin-host --help: l: is a type the module refuses" 0 "takes it in no argument" "=" addin-host --help
case_ "addin-host: l: is refused by the module, as the help says" 1 \
  'LastErrorDescription: "Function SetParameter - Неподдерживаемый тип данных"' "" \
  addin-host call SetParameter s:IPPort l:5
case_ "vscale --help: the fault late:" 0 "late:XX[XX...]:MS" "=" vscale --help
case_ "vscale --help: the fault stream:" 0 "stream:MS" "=" vscale --help
case_ "mdconv --help: the style sheet is only linked" 0 "need not exist yet" "=" mdconv --help

# ---- vscale decode ----
case_ "decode: a folder" 2 "=" "vscale: cannot read $w/Папка: it is a folder" vscale decode "$w/Папка"
case_ "decode: a missing file" 2 "=" "vscale: cannot read $w/нет.log: there is no such file" vscale decode "$w/нет.log"
case_ "decode: a text that is no log" 3 "=" "vscale: $w/текст.txt holds no exchange with the scale" vscale decode "$w/текст.txt"
case_ "decode: an empty file" 3 "=" "vscale: $w/пустой.log holds no exchange with the scale" vscale decode "$w/пустой.log"
case_ "decode: a log under a Cyrillic path" 0 \
  "=ClearGoods
  2026.12.10 09:00:00.010  clear plu  <- 06 accepted" "=" vscale decode "$w/Журнал.log"
case_ "decode: --json before the file" 0 '"outcome": "accepted"' "=" vscale decode --json "$w/Журнал.log"
case_ "decode: no file" 2 "=" "vscale: decode needs a log file" vscale decode --json
case_ "decode: two files" 2 "=" "vscale: decode takes one log file" vscale decode "$w/Журнал.log" "$w/пустой.log"
case_ "decode: an unknown option" 2 "=" "vscale: decode: unknown option --jsn" vscale decode --jsn "$w/Журнал.log"
# A byte that starts no UTF-8 character in the log stands as U+FFFD in valid JSON.
case_ "decode --json: a log with a byte that is not UTF-8" 0 '"call": "Clear\ufffdGoods"' "=" \
  vscale decode --json "$w/Журнал-ff.log"
check "decode --json: the output is valid JSON in UTF-8" \
  python3 -c 'import json, sys; json.loads(sys.stdin.buffer.read().decode("utf-8"))' <<<"$out"

# ---- vscale: its options are checked before it starts ----
case_ "vscale --bind: no address" 2 "=" \
  'vscale: --bind: "not.an.address" is not an IPv4 address (as 127.0.0.1)
(vscale --help lists the options)' vscale --bind not.an.address
case_ "vscale --dump: a folder" 2 "=" \
  "vscale: cannot write the dump to $w/Папка: it is a folder
(vscale --help lists the options)" vscale --dump "$w/Папка"
case_ "vscale --dump: in a missing folder" 2 "=" "vscale: cannot write the dump to $w/нет/Дамп.json: " \
  vscale --dump "$w/нет/Дамп.json"
check "vscale --dump: nothing left behind by the trial" test ! -e "$w/Папка.try"

# ---- addin-host: argument errors are usage errors, on standard error, before any call ----
for bad in "i:abc|i:abc: not a whole number" \
           "i:99999999999|i:99999999999: out of range (-2147483648 to 2147483647)" \
           "i:|i:: not a whole number" \
           "i: 5|i: 5: not a whole number" \
           "l:12x|l:12x: not a whole number" \
           "l:9223372036854775808|l:9223372036854775808: out of range (-9223372036854775808 to 9223372036854775807)" \
           "d:1.5x|d:1.5x: not a number" \
           "d:nan|d:nan: not a number" \
           "b:yes|b:yes: not true or false" \
           "x:ZZ|x:ZZ: not hexadecimal" \
           "x:ABC|x:ABC: an odd number of hexadecimal digits" \
           "t:2026-13-01|t:2026-13-01: not a date YYYY-MM-DD or a date and time YYYY-MM-DDTHH:MM:SS" \
           "t:2026-02-30T10:00:00|t:2026-02-30T10:00:00: not a date YYYY-MM-DD or a date and time YYYY-MM-DDTHH:MM:SS" \
           "t:2026-01-01T10|t:2026-01-01T10: not a date YYYY-MM-DD or a date and time YYYY-MM-DDTHH:MM:SS" \
           "e:x|e:x: an empty value takes nothing after the colon" \
           "q:1|q:1: unknown argument type q"; do
  case_ "addin-host argument ${bad%%|*}" 2 "=" "addin-host: ${bad#*|}" addin-host call GetInterfaceRevision "${bad%%|*}"
done
case_ "addin-host: a good call after a bad argument is not run" 2 "=" "addin-host: i:1.0: not a whole number" \
  addin-host call GetInterfaceRevision call GetParameters s: i:1.0
case_ "addin-host: an unknown command" 2 "=" "addin-host: unknown command bogus" addin-host bogus
case_ "addin-host: an unknown method" 2 "=" "addin-host: the component has no method NoSuchMethod" \
  addin-host call NoSuchMethod
case_ "addin-host: param without a value" 2 "=" "addin-host: param needs a name and a value" addin-host param IPAddress
case_ "addin-host: --module without a path" 2 "=" "addin-host: --module needs a path" addin-host --module
case_ "addin-host: good arguments" 0 "result: int 3002" "=" addin-host call GetInterfaceRevision
# Texts are UTF-8 like files (a Windows command line is UTF-16 and always converts).
if [[ -z $exe ]]; then
  case_ "s: a text that is not UTF-8" 2 "=" \
    "addin-host: the text of s: is not UTF-8 at byte offset 2 (byte C3); give the text in UTF-8" \
    addin-host call SetParameter s:IPAddress $'s:ab\xc3' prop IPAddress
  case_ "param: a value that is not UTF-8" 2 "=" \
    "addin-host: the value of param IPAddress is not UTF-8 at byte offset 0 (byte FF); give the text in UTF-8" \
    addin-host param IPAddress $'\xff'
fi
# A file that is no module: the system's reason, with nothing left to fill in.
case_ "addin-host --module: a text file" 3 "=" "$w/текст.txt" addin-host --module "$w/текст.txt" classes
check "addin-host --module: the reason has no placeholder" bash -c '[[ $1 != *%1* ]]' _ "$err"

# ---- addin-host: file arguments must be UTF-8 ----
case_ "f: code page 1251" 2 "=" \
  "addin-host: $w/группы-cp1251.xml: not UTF-8 text at line 3, byte offset 70 (byte CC); save the file as UTF-8" \
  addin-host call UploadGroups "f:$w/группы-cp1251.xml"
case_ "f: declared windows-1251" 2 "=" \
  "addin-host: $w/группы-1251.xml: the XML declaration names the encoding windows-1251; save the file as UTF-8 and declare UTF-8" \
  addin-host call UploadGroups "f:$w/группы-1251.xml"
case_ "f: declared KOI8-R, ASCII text" 2 "=" \
  "addin-host: $w/koi8.xml: the XML declaration names the encoding KOI8-R; save the file as UTF-8 and declare UTF-8" \
  addin-host call UploadGroups "f:$w/koi8.xml"
case_ "f: UTF-16" 2 "=" "addin-host: $w/utf16.xml: UTF-16 text (byte-order mark FF FE); save the file as UTF-8" \
  addin-host call UploadGroups "f:$w/utf16.xml"
case_ "f: an encoded surrogate" 2 "=" \
  "addin-host: $w/surrogate.txt: not UTF-8 text at line 1, byte offset 2 (byte ED); save the file as UTF-8" \
  addin-host call SetParameter s:IPAddress "f:$w/surrogate.txt"
case_ "f: a sequence cut short at the end" 2 "=" \
  "addin-host: $w/cut.txt: not UTF-8 text at line 2, byte offset 16 (byte C3); save the file as UTF-8" \
  addin-host call SetParameter s:IPAddress "f:$w/cut.txt"
case_ "f: a folder" 2 "=" "addin-host: cannot read $w/Папка: it is a folder" addin-host call UploadGroups "f:$w/Папка"
case_ "f: a missing file" 2 "=" "addin-host: cannot read $w/нет.xml: there is no such file" \
  addin-host call UploadGroups "f:$w/нет.xml"
case_ "f: UTF-8 with its mark, under a Cyrillic path" 0 'prop IPAddress: text "Склад №1"' "=" \
  addin-host call SetParameter s:IPAddress "f:$w/Адрес.txt" prop IPAddress
case_ "s: a text with another declaration is the caller's text" 0 'prop IPAddress: text "<?xml encoding="windows-1251"?>"' "=" \
  addin-host call SetParameter s:IPAddress 's:<?xml encoding="windows-1251"?>' prop IPAddress

# ---- addin-host: a failed call shows the component's error; --json ----
case_ "a failed Open shows GetLastError" 1 \
  'call Open: true
  result: bool false
  arg 0: empty
  LastErrorDescription: ""
  GetLastError: 1001 "Ошибка при установлении подключения"' "=" addin-host param IPAddress 127.0.0.1 param IPPort 1 call Open e:
case_ "--json: one line per call" 0 \
  '={"command": "call", "method": "GetInterfaceRevision", "returned": true, "ok": true, "result": {"type": "int", "value": 3002}, "args": [], "lastErrorDescription": "", "reports": []}' \
  "=" addin-host --json call GetInterfaceRevision
case_ "--json: a failed call carries the error" 1 '"ok": false' "=" \
  addin-host --json param IPAddress 127.0.0.1 param IPPort 1 call Open e:
case_ "--json: other commands, texts escaped" 0 \
  '={"command": "classes", "classes": ["w_quendal7v2k"], "reports": []}
{"command": "call", "method": "SetParameter", "returned": true, "ok": true, "result": {"type": "bool", "value": true}, "args": [{"type": "text", "value": "IPAddress"}, {"type": "text", "value": "\"Склад\" \\1"}], "lastErrorDescription": "", "reports": []}
{"command": "prop", "name": "IPAddress", "value": {"type": "text", "value": "\"Склад\" \\1"}, "reports": []}' \
  "=" addin-host --json classes call SetParameter s:IPAddress 's:"Склад" \1' prop IPAddress
run addin-host --json param IPAddress 127.0.0.1 param IPPort 1 call Open e:
check "--json: the failed call's error is an object with code and text" \
  grep -q '"error": {"code": 1001, "text": "[^"]' <<<"$out"
check "--json: every line is one object" bash -c '[[ $(grep -c "^{.*}$" <<<"$1") == 3 && $(wc -l <<<"$1") == 3 ]]' _ "$out"

# ---- addin-host finds its module beside itself ----
case_ "addin-host by its full path under a Cyrillic folder" 0 "=classes: w_quendal7v2k" "=" \
  "$w/Программа/addin-host$exe" classes
if [[ -z $exe ]]; then
  case_ "addin-host through a symbolic link" 0 "=classes: w_quendal7v2k" "=" "$w/ссылка/addin-host" classes
  out=$(cd "$w/elsewhere" && PATH="$w/Программа:$PATH" addin-host classes 2>&1)
  check "addin-host through PATH" test "$out" = "classes: w_quendal7v2k"
fi

# ---- a table through addin-host into vscale, which keeps its dump under a Cyrillic name ----
# The port of the virtual scale started last, once it says it listens (a minute at most).
listening_port() {
  local port
  for _ in $(seq 1 600); do
    port=$(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$top/vscale.out" | tr -d '\r')
    [[ -n $port ]] && break
    sleep 0.1
  done
  echo "$port"
}
printf '<?xml version="1.0" encoding="UTF-8"?>\n<Table><Record Code="1" Name="Молочные"/></Table>\n' >"$w/Группы.xml"
(cd "$w/elsewhere" && exec setsid "${runner[@]}" "$bin/vscale$exe" --port 0 --dump "$w/Дамп.json" --dump-live \
  >"$top/vscale.out" 2>"$top/vscale.err") &
vscale_pid=$!
port=$(listening_port)
check "vscale listens" test -n "$port"
# A text handed over as a string is already decoded: a declaration that names another
# encoding says nothing about it any more.
case_ "groups from a file and from a string" 0 "" "" addin-host param IPAddress 127.0.0.1 param IPPort "${port:-1}" \
  call Open e: call UploadGroups "f:$w/Группы.xml" \
  call UploadGroups 's:<?xml version="1.0" encoding="windows-1251"?><Table><Record Code="2" Name="Сыры"/></Table>' \
  call Close e:
check "the dump under a Cyrillic name holds both groups" \
  bash -c 'grep -q "\"name\": \"Молочные\"" "$1" && grep -q "\"name\": \"Сыры\"" "$1"' _ "$w/Дамп.json"
case_ "vscale: a port in use" 1 "=" "vscale: cannot bind 127.0.0.1:${port:-1}: Address already in use" \
  vscale --port "${port:-1}"
kill -TERM -- "-$vscale_pid" 2>/dev/null
wait "$vscale_pid" 2>/dev/null

# A dump that cannot be written at the exit is not lost: the tables go to standard output.
if [[ -z $exe ]]; then
  mkdir -p "$w/Каталог"
  (cd "$w/elsewhere" && exec "$bin/vscale" --port 0 --dump "$w/Каталог/Дамп.json" >"$top/vscale.out" 2>"$top/vscale.err") &
  vscale_pid=$!
  listening_port >/dev/null
  rm -rf "$w/Каталог"
  kill -TERM "$vscale_pid"
  wait "$vscale_pid"
  rc=$?
  check "vscale: a dump whose folder went away ends with status 1" test "$rc" = 1
  check "vscale: ... says so" grep -q "^vscale: cannot write the dump to $w/Каталог/Дамп.json: .*; the tables follow on standard output$" \
    "$top/vscale.err"
  check "vscale: ... and writes the tables on standard output" grep -q '"plu": \[' "$top/vscale.out"
fi

# ---- mdconv ----
case_ "mdconv: Cyrillic paths" 0 "=" "=" mdconv "$w/Справка.md" "$w/Справка.html"
check "mdconv: the page holds the document" grep -q '<h1>Заголовок</h1>' "$w/Справка.html"
case_ "mdconv: a code page 1251 source" 1 "=" \
  "mdconv: $w/cp1251.md: not UTF-8 text at line 1, byte offset 2 (byte C7); save the file as UTF-8" \
  mdconv "$w/cp1251.md" "$w/cp1251.html"
check "mdconv: nothing written for a refused source" test ! -e "$w/cp1251.html"
case_ "mdconv: a missing source" 1 "=" "mdconv: cannot read $w/нет.md: there is no such file" mdconv "$w/нет.md" "$w/нет.html"
case_ "mdconv: a style sheet that is not there yet is linked" 0 "=" "=" \
  mdconv "$w/Справка.md" "$w/С листом.html" "стиль.css"
check "mdconv: the page links the sheet by its name" grep -q '<link href="стиль.css" rel="stylesheet">' "$w/С листом.html"
case_ "mdconv: a folder as the source" 1 "=" "mdconv: cannot read $w/Папка: it is a folder" mdconv "$w/Папка" "$w/x.html"

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
