#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Quillmote on the kernel's own serial drivers: boots Debian 12 under qemu with the
# package installed and gives the guest qemu's emulated USB serial adapter (an FTDI chip,
# served by ftdi_sio as /dev/ttyUSB0, plugged in while the host is connected to its
# socket) and a 16550 (/dev/ttyS1). In the guest, `quillmote-cli run --backend trace`
# runs as a user in the dialout group; the host plays the device (.ci/serial-vm-host.py).
#
#   .ci/serial-vm.sh [--stream FILE] [--baud RATE] [BUILD_DIR]
#
# With --stream, a tool: sends FILE through the emulated adapter at RATE (default 9600),
# then one zero byte whose answer tells that all was read, and prints the events in the
# trace format, as `quillmote-cli trace` prints them.
# Without it, the CI check at 115200 bit/s, on the adapter's /dev/serial/by-id link with
# --reconnect: a stream and 100 KB of mixed commands give exactly the events that
# `quillmote-cli trace` gives for them, every zero byte is answered with 0x11; unplugged
# while Shift is locked, Shift comes up and "Device gone" is printed; plugged back while
# another process holds the old tty, so that it comes back under another number,
# translation goes on through the by-id link; latency_timer reads 1 while Quillmote has
# the port open and its old value after. The same stream and commands on the 16550.
# Needs root (see .ci/desktop-vm-lib.sh).
set -euo pipefail

vm_name=serial-vm.sh
# shellcheck source=desktop-vm-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/desktop-vm-lib.sh"

stream=""
baud=""
build_dir=""
while (($# > 0)); do
  case "$1" in
    --stream) stream="${2:?--stream needs a file}"; shift 2 ;;
    --baud) baud="${2:?--baud needs a rate}"; shift 2 ;;
    -h | --help) sed -n '3,22p' "${BASH_SOURCE[0]}" | cut -c3-; exit 0 ;;
    -*) vm_die "unknown option $1" ;;
    *) build_dir="$1"; shift ;;
  esac
done
[[ -z "$stream" || -r "$stream" ]] || vm_die "cannot read $stream"

vm_host_packages python3
vm_prepare ${build_dir:+"$build_dir"}
trap 'vm_cleanup' EXIT
run="$vm_work/run"
cli="$vm_build_dir/quillmote-cli"
vm_write_guest_lib

esc=$'\e'
if [[ -n "$stream" ]]; then
  cp "$stream" "$run/stream.qm"
  echo "mode=tool; baud=${baud:-9600}" >"$run/params.sh"
else
  echo "mode=ci; baud=${baud:-115200}" >"$run/params.sh"
  cp "$vm_repo/examples/demo.qm" "$run/check.qm"
  # 100 KB of every kind of command, each round ending with nothing held, a zero byte in
  # each. The pointer stays well inside the screen.
  round="The quick brown fox, 0123456789!$esc,hold,shift.a$esc,combine,control,c."
  round+="$esc,lock,option.x$esc,rel.$esc,move,7,-3.$esc,click.$esc,dblclick,right."
  round+="$esc,moulock.$esc,move,-7,3.$esc,mourel.$esc,enter.$esc,f5.[]{}~"
  : >"$run/mixed.qm"
  while (($(stat -c %s "$run/mixed.qm") < 100 * 1024)); do
    for _ in $(seq 50); do printf '%s\0\n' "$round"; done >>"$run/mixed.qm"
  done
  printf '%s\0' "$esc,lock,shift." >"$run/lock.qm"
  printf 'back\0' >"$run/back.qm"
fi

cat >"$run/guest.sh" <<'GUEST'
#!/bin/bash
set -u
. /opt/run/guest-lib.sh
. /opt/run/params.sh
wait_until 120 test -e /dev/virtio-ports/org.quillmote.ctl ||
  { result "FAIL no control port from the host"; exit 1; }
exec 5<>/dev/virtio-ports/org.quillmote.ctl
tell() { echo "$*" >&5; log "told the host: $*"; }
expect() {
  local line
  while read -r -t 900 line <&5; do
    [[ "$line" == "$1" ]] && return 0
  done
  log "the host never said $1"
  diagnose
  result "FAIL the host never said $1"
  exit 1
}
fact() { echo "$1 $2" >>"$out/guest-facts"; log "$1 $2"; }
latency() { cat "/sys/bus/usb-serial/devices/$(basename "$(readlink -f "$1")")/latency_timer"; }
# Translates the port with the trace backend, as the seat user (in dialout, no root).
start_quillmote() {
  local name="$1" port="$2"
  shift 2
  /opt/run/as-user quillmote-cli run --port "$port" --baud "$baud" --backend trace "$@" \
    >"$out/$name.events" 2>"$out/$name.err" &
  quillmote_pid=$!
  wait_until 120 has_open "$quillmote_pid" "$port" || log "quillmote-cli never opened $port"
}
stop_quillmote() {
  kill -TERM "$quillmote_pid"
  wait "$quillmote_pid"
  fact "$1-exit" "$?"
}

wait_until 300 compgen -G '/dev/serial/by-id/usb-QEMU*' >/dev/null ||
  { result "FAIL no /dev/serial/by-id link for the USB adapter"; exit 1; }
link="$(compgen -G '/dev/serial/by-id/usb-QEMU*' | head -n 1)"
first_tty="$(basename "$(readlink -f "$link")")"
fact usb-link "$link"
fact usb-tty "$first_tty"
fact latency-before "$(latency "$link")"
start_quillmote usb "$link" --reconnect
fact latency-open "$(latency "$link")"
result "USB READY"
tell usb-ready
if [[ "$mode" == ci ]]; then
  # The old tty stays held across the unplug, so the adapter comes back under a new number.
  perl -e 'sysopen(my $f, $ARGV[0], 2 | 04000 | 0400) or die "$ARGV[0]: $!\n"; sleep' \
    "/dev/$first_tty" &
  holder=$!
  expect unplugged
  wait_until 60 grep -q "Device gone" "$out/usb.err" || log "no \"Device gone\""
  tell usb-gone
  expect plugged
  returned() {
    local tty
    tty="$(basename "$(readlink -f "$link" 2>/dev/null)")"
    [[ -e "$link" && "$tty" != "$first_tty" ]] && has_open "$quillmote_pid" "$link"
  }
  wait_until 120 returned || log "the adapter did not come back open under a new number"
  fact usb-tty-after-return "$(basename "$(readlink -f "$link")")"
  tell usb-back
fi
expect usb-done
stop_quillmote usb
fact latency-after "$(latency "$link")"
[[ -n "${holder:-}" ]] && kill "$holder"
tell usb-stopped
if [[ "$mode" == ci ]]; then
  start_quillmote uart /dev/ttyS1
  tell uart-ready
  expect uart-done
  stop_quillmote uart
  tell uart-stopped
fi
result DONE
GUEST
chmod +x "$run/guest.sh"

started=$SECONDS
vm_start 1200 -device qemu-xhci,id=xhci \
  -chardev "socket,id=usb,path=$vm_work/usb.sock,server=on,wait=off" \
  -device usb-serial,id=adapter,chardev=usb,bus=xhci.0,port=1 \
  -qmp "unix:$vm_work/qmp.sock,server=on,wait=off" \
  -chardev "socket,id=uart,path=$vm_work/uart.sock,server=on,wait=off" -serial chardev:uart \
  -device virtio-serial \
  -chardev "socket,id=ctl,path=$vm_work/ctl.sock,server=on,wait=off" \
  -device virtserialport,chardev=ctl,name=org.quillmote.ctl
host_status=0
mode=ci
[[ -z "$stream" ]] || mode=tool
python3 "$vm_repo/.ci/serial-vm-host.py" "$vm_work" "$mode" || host_status=$?
vm_finish || true
result="$(vm_result)"
if [[ "$result" != DONE || "$host_status" != 0 ]]; then
  vm_say "serial console:"
  tail -n 30 "$vm_work/console.txt" >&2
  for log in guest.log usb.err uart.err diagnosis.log; do
    [[ -f "$vm_work/out/$log" ]] && { echo "--- $log"; tail -n 30 "$vm_work/out/$log"; } >&2
  done
  vm_die "${result:-no result line}"
fi

if [[ -n "$stream" ]]; then
  cat "$vm_work/out/usb.events"
  grep -qx 'usb-answered True' "$vm_work/host-facts" ||
    vm_say "the zero byte sent after the stream was not answered" >&2
  exit 0
fi

cat "$vm_work/host-facts" "$vm_work/out/guest-facts" >"$vm_work/facts"
fact() { sed -n "s/^$1 //p" "$vm_work/facts"; }
failures=0
check() {
  local what="$1" expected="$2" received="$3"
  if [[ "$expected" == "$received" ]]; then
    vm_say "ok: $what"
  else
    vm_say "FAILED: $what"
    diff <(echo "$expected") <(echo "$received") | sed "s/^/    /" | head -n 20 || true
    failures=$((failures + 1))
  fi
}

vm_say "$(wc -c <"$run/mixed.qm") bytes of mixed commands: $(fact usb-seconds) s through" \
  "the USB adapter, $(fact uart-seconds) s through the 16550 (XOFF sent: $(fact usb-xoff)," \
  "$(fact uart-xoff))"
expected_before="$(cat "$run/check.qm" "$run/mixed.qm" "$run/lock.qm" | "$cli" trace -)"
usb_events="$(cat "$vm_work/out/usb.events")"
lines_before="$(wc -l <<<"$expected_before")"
check "USB adapter: the stream and 100 KB of commands give the trace tool's events" \
  "$expected_before" "$(head -n "$lines_before" <<<"$usb_events")"
check "USB adapter: every zero byte answered with 0x11" True "$(fact usb-answered)"
back_lines="$(printf 'back' | "$cli" trace - | wc -l)"
check "USB adapter unplugged with Shift locked: Shift comes up before it is back" \
  "key 56 up  # shift" "$(tail -n +"$((lines_before + 1))" <<<"$usb_events" |
    head -n -"$back_lines" | grep -m1 '^key 56 up' || true)"
check "USB adapter unplugged: \"Device gone\" printed" 1 \
  "$(grep -c 'Device gone' "$vm_work/out/usb.err" || true)"
returned_as="$(fact usb-tty-after-return)"
check "USB adapter back under a new number while the old one is held" yes \
  "$([[ -n "$returned_as" && "$returned_as" != "$(fact usb-tty)" ]] && echo yes ||
    echo "no: $(fact usb-tty) then $returned_as")"
check "USB adapter back: translation goes on through the by-id link" \
  "$("$cli" trace "$run/back.qm")" \
  "$(tail -n "$back_lines" <<<"$usb_events")"
check "USB adapter back: its zero byte answered" True "$(fact usb-answered-after-return)"
check "latency_timer 1 while Quillmote has the port open" 1 "$(fact latency-open)"
check "latency_timer back to the adapter's own after the close" "$(fact latency-before)" \
  "$(fact latency-after)"
check "16550: the stream and 100 KB of commands give the trace tool's events" \
  "$(cat "$run/check.qm" "$run/mixed.qm" | "$cli" trace -)" "$(cat "$vm_work/out/uart.events")"
check "16550: every zero byte answered with 0x11" True "$(fact uart-answered)"

vm_say "whole run $((SECONDS - started)) s"
((failures == 0)) || vm_die "$failures checks failed"
vm_say "PASS"
