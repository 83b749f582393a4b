#!/usr/bin/env bash
# A typical day's entry typed into the desktop as a clerk types it: the desktop
# runs under Xvfb on a fresh demo database with its local server, xdotool
# types the branch, the date, three counts on the first service, confirms,
# goes to the billing page, types a client's count and a turnstile row and
# confirms. Then `efetivos-server audit` must show every typed value stored.
# Screenshots of each step go to the output folder (default build/walkthrough).
#
#   scripts/desktop-walkthrough.sh [OUTPUT_DIR]
#
# Needs the build of scripts/test.sh (efetivos, efetivos-server, the package).
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-build/walkthrough}")"
build="${EFET_BUILD_DIR:-build}"
desktop="$build/src/desktop/efetivos"
server="$build/src/server/efetivos-server"
for p in "$desktop" "$server"; do
  [ -x "$p" ] || { echo "missing $p: run scripts/test.sh first" >&2; exit 1; }
done
for t in Xvfb xdotool xwd xwdtopnm pnmtopng; do
  command -v "$t" >/dev/null || { echo "missing $t: run scripts/deps.sh" >&2; exit 1; }
done
mkdir -p "$out"
work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own, the size of a common office screen.
display=""
for n in $(seq 91 120); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free X display number" >&2; exit 1; }
Xvfb "$display" -screen 0 1366x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
sleep 0.5

# The clerk's own settings and data, fresh.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8
db="$work/demo.db"
"$desktop" --local-server --demo-db "$db" --open PLA01000 >"$work/desktop.log" 2>&1 &
pids+=($!)

shot() {  # the whole screen, as the clerk sees it
  sleep 0.8
  xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$out/$1.png"
}
# A message box in front is recorded (its title) and answered with Enter, as
# a clerk reads and dismisses it; an error box fails the walkthrough.
answer_boxes() {
  local id title
  for id in $(xdotool search --onlyvisible --name '^(Informação|Aviso|Erro|Confirmação)$' 2>/dev/null); do
    title="$(xdotool getwindowname "$id")"
    echo "caixa: $title" | tee -a "$out/boxes.txt"
    [ "$title" = "Erro" ] && errors=$((errors + 1))
    xdotool windowfocus "$id" 2>/dev/null || true
    xdotool key Return
    sleep 0.5
    xdotool windowfocus "$win" 2>/dev/null || true
  done
}
keys() { xdotool key --delay 80 "$@"; sleep 0.5; answer_boxes; }
typed() { xdotool type --delay 80 "$1"; sleep 0.4; answer_boxes; }
click() { xdotool mousemove "$1" "$2" click 1; sleep 0.8; answer_boxes; }

# The frame's window (Qt also maps small helper windows with the same name).
win=""
for _ in $(seq 160); do
  for id in $(xdotool search --name '^Efetivos$' 2>/dev/null); do
    w="$(xdotool getwindowgeometry "$id" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')"
    [ "${w:-0}" -ge 600 ] && win="$id"
  done
  [ -n "$win" ] && break
  sleep 0.25
done
[ -n "$win" ] || { echo "the desktop did not open"; cat "$work/desktop.log"; exit 1; }
xdotool windowmove "$win" 0 0 windowsize "$win" 1366 768
# No window manager here: the keyboard focus is given to the window directly.
xdotool windowfocus "$win"
sleep 2
errors=0
: >"$out/boxes.txt"

day="$(date -d yesterday +%d%m%Y)"
iso="$(date -d yesterday +%Y-%m-%d)"
# The header; leaving it loads the day and puts the focus on the page tabs.
typed "0001"; keys Tab
typed "$day"; keys Tab Tab
shot 01-header-left
# Tab: the service grid; Tab again skips the service's name into its clients.
keys Tab Tab
typed "412"; keys Tab; typed "41"; keys Tab; typed "6"
shot 02-counts-typed
keys ctrl+Return
shot 03-counts-confirmed
# The billing page: the focus lands in the client grid; two Tabs reach the
# first client's billed count.
keys ctrl+Tab
shot 04-billing
keys Tab Tab
typed "118"
# The side entrance's turnstile, by a click on its start counter (the
# layout is the same on every machine: the window's size and font are set).
click 902 226
typed "2000"; keys Tab; typed "2145"; keys Tab
shot 05-billing-typed
# Confirmar on the toolbar.
click 700 79
shot 06-billing-confirmed

# What was stored: the audit trail of the day.
"$server" audit --db "sqlite:$db" --branch 0001 --date "$iso" >"$out/audit.txt" 2>&1 || true
cat "$out/audit.txt"
fail=0
for v in "QTCLIEFETCAR: [0-9]* -> 412" "QTFUNEFETCAR: [0-9]* -> 41" "QTDOAEFETCAR: [0-9]* -> 6" \
         "QTCOMEFETCLI: [0-9]* -> 118" "QTEFETCATINI: (vazio) -> 2000" "QTEFETCATFIM: (vazio) -> 2145"; do
  grep -q -- "$v" "$out/audit.txt" || { echo "not stored: $v"; fail=1; }
done
[ "$errors" -eq 0 ] || { echo "error boxes: $errors"; fail=1; }
if [ $fail -eq 0 ]; then
  echo "walkthrough: every typed value was stored (screenshots in $out)"
else
  echo "walkthrough: FAILED (screenshots in $out)"
  exit 1
fi
