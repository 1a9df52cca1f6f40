#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The host's side of .ci/serial-vm.sh, while the guest runs.

Talks to the guest over a control port (virtio serial, one line per step) and plays the
devices on the two lines qemu wires to sockets: the emulated USB serial adapter and the
16550. The adapter is unplugged and plugged back through qemu's monitor (QMP), as a
fresh device: a real adapter loses its settings with its power, and qemu's keeps them
across a mere detach (its latency timer among them), which the driver would then read
back as the returned adapter's own. Writes bytes, reads back the 0x11 answers to zero bytes,
and writes what it saw as "name value" lines to the facts file.

    serial-vm-host.py WORK_DIR ci|tool
"""
import json
import os
import socket
import sys
import threading
import time

XON, XOFF = 0x11, 0x13
STEP_SECONDS = 180


def connect(path, deadline=120):
    end = time.monotonic() + deadline
    while True:
        try:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.connect(path)
            return s
        except OSError:
            s.close()
            if time.monotonic() > end:
                raise
            time.sleep(0.1)


class Line:
    """One serial line as the device sees it: bytes out, the answers counted."""

    def __init__(self, path):
        self.path = path
        self.received = bytearray()
        self.lock = threading.Condition()
        self.sock = None
        self.plug()

    def plug(self):
        self.sock = connect(self.path)
        threading.Thread(target=self._read, args=(self.sock,), daemon=True).start()

    def unplug(self):
        # shutdown, not only close: the reader thread's recv keeps a closed socket open
        # until it returns, and the line must be free for the adapter that comes back.
        self.sock.shutdown(socket.SHUT_RDWR)
        self.sock.close()

    def _read(self, sock):
        while True:
            try:
                data = sock.recv(65536)
            except OSError:
                return
            if not data:
                return
            with self.lock:
                self.received += data
                self.lock.notify_all()

    def answers(self):
        # The terminal driver's own XOFF and XON when its buffer fills come in pairs.
        with self.lock:
            return self.received.count(XON) - self.received.count(XOFF)

    def send_and_wait(self, data):
        """Writes the bytes and waits for one answer for each zero byte in them."""
        wanted = self.answers() + data.count(0)
        self.sock.sendall(data)
        end = time.monotonic() + STEP_SECONDS
        with self.lock:
            while self.answers() < wanted:
                if not self.lock.wait(end - time.monotonic()):
                    return False
        return True


class Monitor:
    """qemu's machine protocol, one command at a time."""

    def __init__(self, path):
        self.file = connect(path).makefile("rw", buffering=1, newline="\n")
        self.read()  # the greeting
        self.run("qmp_capabilities")

    def read(self):
        while True:
            line = self.file.readline()
            if not line:
                raise SystemExit("serial-vm-host: qemu's monitor went away")
            reply = json.loads(line)
            if "event" not in reply:
                return reply

    def run(self, command, **arguments):
        self.file.write(json.dumps({"execute": command, "arguments": arguments}) + "\n")
        reply = self.read()
        if "error" in reply:
            raise SystemExit(f"serial-vm-host: {command}: {reply['error']}")


class Guest:
    def __init__(self, path):
        self.sock = connect(path)
        self.file = self.sock.makefile("rw", buffering=1, newline="\n")

    def expect(self, step):
        while True:
            line = self.file.readline()
            if not line:
                raise SystemExit(f"serial-vm-host: the guest went away before {step!r}")
            word = line.split()
            print(f"serial-vm-host: guest says {line.strip()}", flush=True)
            if word and word[0] == step:
                return word[1:]

    def tell(self, step):
        self.file.write(step + "\n")


def main():
    work, mode = sys.argv[1], sys.argv[2]
    read = lambda name: open(os.path.join(work, "run", name), "rb").read()
    facts = open(os.path.join(work, "host-facts"), "w")
    fact = lambda name, value: print(name, value, file=facts, flush=True)
    guest = Guest(os.path.join(work, "ctl.sock"))
    usb = Line(os.path.join(work, "usb.sock"))
    uart = Line(os.path.join(work, "uart.sock")) if mode == "ci" else None

    guest.expect("usb-ready")
    if mode == "tool":
        fact("usb-answered", usb.send_and_wait(read("stream.qm") + b"\0"))
        guest.tell("usb-done")
        guest.expect("usb-stopped")
        return
    started = time.monotonic()
    before = read("check.qm") + read("mixed.qm") + read("lock.qm")
    fact("usb-answered", usb.send_and_wait(before))
    fact("usb-seconds", round(time.monotonic() - started, 1))
    usb.unplug()
    monitor = Monitor(os.path.join(work, "qmp.sock"))
    monitor.run("device_del", id="adapter")
    guest.tell("unplugged")
    guest.expect("usb-gone")
    # Into the same USB port: the guest's by-id link for qemu's adapter names the port too.
    monitor.run("device_add", driver="usb-serial", id="adapter", chardev="usb",
                bus="xhci.0", port="1")
    usb.plug()
    guest.tell("plugged")
    guest.expect("usb-back")
    fact("usb-answered-after-return", usb.send_and_wait(read("back.qm")))
    fact("usb-xoff", usb.received.count(XOFF))
    guest.tell("usb-done")
    guest.expect("usb-stopped")

    guest.expect("uart-ready")
    started = time.monotonic()
    fact("uart-answered", uart.send_and_wait(read("check.qm") + read("mixed.qm")))
    fact("uart-seconds", round(time.monotonic() - started, 1))
    fact("uart-xoff", uart.received.count(XOFF))
    guest.tell("uart-done")
    guest.expect("uart-stopped")


if __name__ == "__main__":
    main()
