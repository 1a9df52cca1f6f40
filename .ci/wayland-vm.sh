#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Quillmote on a real Wayland compositor: boots Debian 12 under qemu with the package
# installed as a user installs it, a user logged in at the seat, sway (wlroots, libinput
# reading the devices) as that user and tests/wayland/wayland_probe filling its one
# 1280x720 output; runs `quillmote-cli run --backend uinput` as that user on a
# pseudo-terminal, writes bytes into it and reads back what the client received.
#
#   .ci/wayland-vm.sh [--layout LAYOUT] [--stream FILE] [BUILD_DIR]
#
# With --stream, a tool: sends FILE's bytes with the compositor's layout set to LAYOUT
# (default us) and prints, after a line RECEIVED, the text the client received (a typed
# line feed, which is Control+J, and Return as line breaks; other control keys as <ctrl+x>)
# and one line per pointer event: "motion X Y" in the client's surface coordinates, which
# are the output's, "button left pressed" and so on.
# Without it, the CI check: in one boot, runs started under de, fr and us, each with a
# layout change during the run, type every printable ASCII byte exactly; control+z
# arrives as Control with z on de; ten moves (some past each edge), the reset and the
# button commands arrive exactly as `quillmote-cli trace --screen 1280x720` gives them;
# two lines of symbols written at once arrive whole; the first byte after the start
# arrives; after SIGTERM nothing is held and the virtual devices are gone. Needs root
# (see .ci/desktop-vm-lib.sh).
set -euo pipefail

vm_name=wayland-vm.sh
# shellcheck source=desktop-vm-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/desktop-vm-lib.sh"

layout=""
stream=""
build_dir=""
while (($# > 0)); do
  case "$1" in
    --layout) layout="${2:?--layout needs a layout}"; shift 2 ;;
    --stream) stream="${2:?--stream needs a file}"; shift 2 ;;
    -h | --help) sed -n '3,22p' "${BASH_SOURCE[0]}" | cut -c3-; exit 0 ;;
    -*) vm_die "unknown option $1" ;;
    *) build_dir="$1"; shift ;;
  esac
done
if [[ -n "$stream" ]]; then
  [[ -r "$stream" ]] || vm_die "cannot read $stream"
  stream="$(realpath "$stream")"
fi

vm_prepare ${build_dir:+"$build_dir"}
trap 'vm_cleanup' EXIT
run="$vm_work/run"
cli="$vm_build_dir/quillmote-cli"
vm_write_guest_lib
cp "$vm_build_dir/tests/wayland_probe" "$run/"

esc=$'\e'
ascii="$(printf '%b' "$(printf '\\x%02x' $(seq 32 126))")"
# In lines of six, each line feed a Control+J that the text leaves out.
fold -w 6 <<<"$ascii" >"$run/ascii.qm"
printf '%s\n' "$esc,combine,control,z." >"$run/ctrlz.qm"
# Each command followed by a line feed, which arrives as Control+J: the pointer's place
# at each one is compared. Ten moves from the top-left corner, past each edge in turn.
{
  for move in 100,50 -30,20 2000,0 0,2000 -5000,0 0,-5000 640,360 5,5 -1,-1 333,-7; do
    printf '%s\n' "$esc,move,$move."
  done
  printf '%s\n' "$esc,moureset." "$esc,click." "$esc,click,right." "$esc,dblclick." \
    "$esc,moulock." "$esc,move,40,30." "$esc,mourel." "$esc,moulock,right." \
    "$esc,mourel,right."
} >"$run/pointer.qm"
# Shifted and AltGr symbols sent at once: hundreds of events in a moment, many times what
# the kernel keeps for a compositor that is busy.
burst='ABCDEFGHIJKLMNOPQRSTUVWXYZ~!@#$%^&*()_+{}|:"<>?[]'
printf '%s\n' "$burst" "$burst" >"$run/burst.qm"
# Left held at the stop: SIGTERM must let both up.
printf '%s\n' "$esc,lock,shift.$esc,moulock." >"$run/held.qm"

if [[ -n "$stream" ]]; then
  cp "$stream" "$run/stream.qm"
  echo "mode=tool" >"$run/params.sh"
  first_layout="${layout:-us}"
else
  echo "mode=ci; runs='de:fr fr:us us:de'" >"$run/params.sh"
  first_layout=de
fi

cat >"$run/sway.conf" <<CONF
output HEADLESS-1 resolution 1280x720 position 0 0
default_border none
xwayland disable
input type:keyboard xkb_layout $first_layout
exec /opt/run/wayland_probe >>/opt/run/out/probe.log 2>&1
CONF

cat >"$run/session.sh" <<'SESSION'
#!/bin/sh
# The seat user's desktop: sway on a headless output, reading input through libinput.
export XDG_RUNTIME_DIR="/run/user/$(id -u)"
export WLR_BACKENDS=headless,libinput WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1
# Devices udev has not finished with are not seen by libinput; under emulation udev can
# still be at work when the login comes.
udevadm settle --timeout=180
exec sway -c /opt/run/sway.conf
SESSION

cat >"$run/guest.sh" <<'GUEST'
#!/bin/bash
set -u
. /opt/run/guest-lib.sh
. /opt/run/params.sh
probe_log="$out/probe.log"
# Wall-clock seconds modulo 1000, to the millisecond, as the probe stamps each key.
now() { perl -MTime::HiRes=time -e 'printf "%.3f", time - int(time / 1000) * 1000'; }
stamped() { perl -MTime::HiRes=time -ne '$| = 1; printf "%.3f %s", time - int(time / 1000) * 1000, $_'; }
mark() { echo "mark $*" >>"$probe_log"; echo "mark $* at $(now)" >>"$out/cli.log"; log "$*"; }
lines_at_least() {
  local count
  count="$(grep -c -x -E -- "$1" "$probe_log" 2>/dev/null)"
  ((${count:-0} >= $2))
}
# Writes a file into the port no faster than a 1200 bit/s line carries it (ten bits a
# byte), a line at a time, each once the client has seen the one before end (its line
# feed arrives as Control+J). Under emulation the compositor takes a second or more to
# set up a new device or keymap, and meanwhile the kernel drops what overflows its buffer
# for the device (64 events for a keyboard: 8 shifted letters); on real hardware these
# pauses are short enough for a line at full speed.
write_paced() {
  perl -e '$| = 1; while (read(STDIN, $c, 1)) { print $c; select(undef, undef, undef, $ARGV[0]) }' \
    0.00833 >&3
}
send() {
  local line markers
  while IFS= read -r line; do
    markers=$(($(grep -c -x -E 'key ctrl\+[jJ]' "$probe_log") + 1))
    printf '%s\n' "$line" | write_paced
    wait_until 30 lines_at_least 'key ctrl\+[jJ]' "$markers" && continue
    log "the line feed after a line of $1 did not arrive"
    if ! grep -q '^key ' "$probe_log"; then
      diagnose
      result "FAIL no key reached the test client"
      exit 1
    fi
  done <"$1"
}
# Writes the file at once, as a device sends a phrase, and waits for its last line feed.
send_at_once() {
  local markers
  markers=$(($(grep -c -x -E 'key ctrl\+[jJ]' "$probe_log") + $(wc -l <"$1")))
  cat "$1" >&3
  wait_until 60 lines_at_least 'key ctrl\+[jJ]' "$markers" ||
    log "the line feeds of $1 did not all arrive"
}
# The layout as a person sets it in the desktop's settings; the client gets a new keymap.
set_layout() {
  local keymaps
  keymaps="$(grep -c -x keymap "$probe_log")"
  as_user swaymsg -q input '*' xkb_layout "$1"
  # A keymap comes only to a client whose seat has a keyboard.
  if as_user swaymsg -t get_seats | grep -q '"type": "keyboard"'; then
    wait_until 30 lines_at_least keymap $((keymaps + 1)) || log "no new keymap for $1"
  fi
}
start_quillmote() {
  rm -rf /run/qm && mkdir /run/qm && mkfifo /run/qm/in && chown -R "$user" /run/qm
  /opt/run/as-user socat -u OPEN:/run/qm/in,rdonly PTY,link=/run/qm/port,rawer \
    >>"$out/socat.log" 2>&1 &
  socat_pid=$!
  exec 3>/run/qm/in
  wait_until 30 test -e /run/qm/port || log "socat made no pseudo-terminal"
  /opt/run/as-user quillmote-cli run --port /run/qm/port --backend uinput --echo \
    > >(stamped >>"$out/cli.log") 2>&1 &
  quillmote_pid=$!
  # The first bytes go as soon as Quillmote has the port open, before it may be ready.
  wait_until 60 has_open "$quillmote_pid" /run/qm/port || log "quillmote-cli never opened the port"
}
stop_quillmote() {
  kill -TERM "$quillmote_pid"
  wait "$quillmote_pid"
  log "quillmote-cli exited with status $?"
  exec 3>&-
  wait "$socat_pid"
  wait_until 10 test "$(quillmote_devices)" -eq 0
  echo "$1 $(quillmote_devices)" >>"$out/devices-after-stop"
}

log "waiting for the compositor and the client"
client_mapped() { as_user swaymsg -t get_tree 2>/dev/null | grep -q '"name": "wayland_probe"'; }
if ! wait_until 120 client_mapped; then
  result "FAIL the test client has no window"
  diagnose
  exit 1
fi
result "DESKTOP READY"
log "desktop ready"
if [[ "$mode" == tool ]]; then
  mark stream
  start_quillmote
  write_paced </opt/run/stream.qm
  # Done once nothing has reached the client for three seconds.
  size=-1
  until [[ "$(stat -c %s "$probe_log")" == "$size" ]]; do
    size="$(stat -c %s "$probe_log")"
    sleep 3
  done
  mark stop
  stop_quillmote stream
else
  current=de
  first=1
  for pair in $runs; do
    start="${pair%:*}" next="${pair#*:}"
    [[ "$current" == "$start" ]] || set_layout "$start"
    mark "start $start"
    start_quillmote
    send /opt/run/ascii.qm
    if ((first)); then
      mark ctrlz
      send /opt/run/ctrlz.qm
      mark pointer
      send /opt/run/pointer.qm
      mark burst
      send_at_once /opt/run/burst.qm
      first=0
    fi
    mark "switch $next"
    set_layout "$next"
    current="$next"
    send /opt/run/ascii.qm
    mark "held $start"
    send /opt/run/held.qm
    mark "stop $start"
    stop_quillmote "$start"
    # The kernel lets keys and buttons up as the devices go; wait for that to reach the client.
    pressed="$(grep -c -x 'button left pressed' "$probe_log")"
    wait_until 10 lines_at_least 'button left released' "$pressed"
  done
fi
mark end
result DONE
GUEST
chmod +x "$run/guest.sh" "$run/session.sh"

started=$SECONDS
vm_start 900
vm_wait_console "DESKTOP READY" &&
  vm_say "desktop ready $((SECONDS - vm_started)) s after qemu started"
vm_finish || true
result="$(vm_result)"
if [[ "$result" != DONE ]]; then
  vm_say "serial console:"
  tail -n 30 "$vm_work/console.txt" >&2
  for log in guest.log session.log cli.log diagnosis.log; do
    [[ -f "$vm_work/out/$log" ]] && { echo "--- $log"; tail -n 30 "$vm_work/out/$log"; } >&2
  done
  vm_die "${result:-no result line}"
fi
probe_log="$vm_work/out/probe.log"

# The lines of the probe's log between "mark NAME" and the next mark.
section() {
  awk -v name="mark $1" '/^mark / { inside = ($0 == name); next } inside' "$probe_log"
}

# What was typed, in the probe's escaped form, Control keys left out.
typed() { section "$1" | sed -n '/^key ctrl+/d; s/^key //p' | tr -d '\n'; }

if [[ -n "$stream" ]]; then
  echo RECEIVED
  text=""
  flush() {
    [[ -z "$text" ]] && return
    printf '%s' "$text"
    [[ "$text" == *$'\n' ]] || echo
    text=""
  }
  while IFS= read -r line; do
    case "$line" in
      "key ctrl+j" | "key ctrl+J") text+=$'\n' ;;
      "key ctrl+"*) text+="<${line#key }>" ;;
      "key "*)
        printf -v piece '%b' "${line#key }"
        text+="${piece//$'\r'/$'\n'}"
        ;;
      motion* | button*) flush; echo "$line" ;;
    esac
  done < <(section stream)
  flush
  exit 0
fi

failures=0
check() {
  local what="$1" expected="$2" received="$3"
  if [[ "$expected" == "$received" ]]; then
    vm_say "ok: $what"
  else
    vm_say "FAILED: $what"
    diff <(echo "$expected") <(echo "$received") | sed "s/^/    /" | head -n 40 || true
    failures=$((failures + 1))
  fi
}

escaped_ascii="${ascii//\\/\\\\}"
for pair in de:fr fr:us us:de; do
  start="${pair%:*}" next="${pair#*:}"
  check "printable ASCII on $start, from the first byte after the start" \
    "$escaped_ascii" "$(typed "start $start")"
  check "printable ASCII after a change from $start to $next during the run" \
    "$escaped_ascii" "$(typed "switch $next")"
  # After SIGTERM: no modifier down, every button that went down came up, no device left.
  check "nothing held after SIGTERM ($start)" "modifiers depressed=0 buttons up" \
    "$(section "stop $start" | awk '/^modifiers/ { m = $2 } /^button left/ { b = $3 }
      END { print "modifiers " m " buttons " (b == "pressed" ? "down" : "up") }')"
  check "no Quillmote device after SIGTERM ($start)" "$start 0" \
    "$(grep "^$start " "$vm_work/out/devices-after-stop" || echo "$start unknown")"
done
check "control+z on de" "key ctrl+z" "$(section ctrlz | grep -x 'key ctrl+z' || true)"
check "two lines of shifted and AltGr symbols sent at once on de arrive whole" \
  "$burst$burst" "$(typed burst)"

# The pointer's places and the button changes, as the trace tool gives them for the same
# bytes on a 1280x720 screen and as the client received them. Compared apart: the pointer
# and the keyboard are two devices, whose events the compositor may interleave either way.
trace_pointer="$("$cli" trace --screen 1280x720 "$run/pointer.qm")"
positions() { awk '$1 == "'"$1"'" { p = $2 " " $3; if (p != last) print p; last = p }'; }
check "ten moves, some past each edge, and the reset land where the mouse model puts them" \
  "$(positions mouse <<<"$trace_pointer")" "$(section pointer | positions motion)"
check "click, double-click, lock and release arrive as the buttons they are" \
  "$(awk '/^mouse / {
      now[1] = substr($5, 9); now[2] = $6; now[3] = $7
      for (i = 1; i <= 3; i++) {
        if (now[i] != was[i] && (was[i] != "" || now[i] == 1))
          print "button " name[i] " " (now[i] == 1 ? "pressed" : "released")
        was[i] = now[i]
      }
    }
    BEGIN { name[1] = "left"; name[2] = "right"; name[3] = "middle" }' <<<"$trace_pointer")" \
  "$(section pointer | grep '^button ')"

vm_say "whole run $((SECONDS - started)) s"
((failures == 0)) || vm_die "$failures checks failed"
vm_say "PASS"
