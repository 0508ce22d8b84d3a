#!/usr/bin/env python3
"""A cutter on a serial line, played on a pseudo-terminal for the Windows
port tests (scripts/test-windows links Wine's COM1 to it).

    fake-cutter.py DIR

Writes the terminal's name to DIR/pty, then takes jobs until killed. A job is
everything that arrives until a test creates DIR/reset: the cutter then
reads what is still on its way, keeps the job, lets go of the line whatever
it was doing and removes DIR/reset, ready for the next job. Nothing ends a
job by the clock, so a sender slowed down by a busy machine is never cut in
two, and a test that failed half way leaves nothing to the next one.

A job's first bytes may say how the cutter behaves: "TAG=name;" names the
job, and "HOLD=ms@bytes;" has the cutter send XOFF once that many bytes of
the job have arrived and XON ms later. Once the terminal has stopped the
line (the sender's side obeyed the XOFF), the cutter writes DIR/name.holding:
a test sends the rest of its job only then, so the hold meets it however
slow the machine. A test may end the hold early by creating DIR/name.release.
Each job is kept as DIR/name.bin, with DIR/name.held
holding how many bytes arrived while the line was stopped.

While DIR/answer holds "SIZE RATE", a job begun meanwhile plays a cutter with
a buffer of SIZE bytes drained at RATE bytes a second: it answers ESC.B (the
free bytes) and ESC.L (SIZE), each ended by CR and kept out of the job, and
drops the job's bytes that find the buffer full; DIR/name.dropped counts them.
"""
import fcntl
import os
import re
import select
import struct
import sys
import termios
import time
import tty

XON, XOFF = b"\x11", b"\x13"
# Packet mode: each read is a data packet (a 0, then the bytes) or a single
# status byte; this bit says the other side's output was stopped.
PACKET_DATA, PACKET_STOP = 0, 0x04


def keep(folder, name, content):
    path = os.path.join(folder, name)
    with open(path + ".tmp", "wb") as f:
        f.write(content)
    os.replace(path + ".tmp", path)


def tag(job, count):
    m = re.search(rb"TAG=([\w-]+);", job["data"][:64])
    return m.group(1).decode() if m else "job-%d" % count


class Cutter:
    def __init__(self, folder):
        self.folder = folder
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)  # until the port is set up: nothing changed on the way
        fcntl.ioctl(self.master, termios.TIOCPKT, struct.pack("i", 1))
        self.job, self.count = None, 0

    def take(self, now):
        packet = os.read(self.master, 65537)
        job = self.job
        if not packet:
            return
        if packet[0] != PACKET_DATA:
            if job and packet[0] & PACKET_STOP and job["xoff"] is not None and job["stopped"] is None:
                job["stopped"] = now
                keep(self.folder, tag(job, self.count) + ".holding", b"")
            return
        if job is None:
            self.count += 1
            job = self.job = {"data": b"", "hold": None, "xoff": None, "stopped": None, "xon": None, "held": 0,
                              "buffer": self.buffer(now)}
        job["data"] += self.accept(job["buffer"], packet[1:], now) if job["buffer"] else packet[1:]
        if job["stopped"] is not None and job["xon"] is None:
            job["held"] += len(packet) - 1
        if job["hold"] is None:
            m = re.search(rb"HOLD=(\d+)@(\d+);", job["data"][:64])
            job["hold"] = (int(m.group(1)) / 1000, int(m.group(2))) if m else False

    def buffer(self, now):
        try:
            with open(os.path.join(self.folder, "answer")) as f:
                size, rate = (int(v) for v in f.read().split())
        except (OSError, ValueError):
            return None
        return {"size": size, "rate": rate, "level": 0.0, "at": now, "dropped": 0, "pending": b""}

    def accept(self, buffer, data, now):
        """The job bytes of data the buffer takes; questions answered."""
        buffer["level"] = max(0.0, buffer["level"] - (now - buffer["at"]) * buffer["rate"])
        buffer["at"] = now
        taken = bytearray()
        for byte in data:
            pending = buffer["pending"] + bytes([byte])
            if pending == b"\x1b" or pending == b"\x1b.":
                buffer["pending"] = pending
                continue
            buffer["pending"] = b""
            if pending in (b"\x1b.B", b"\x1b.L"):
                free = buffer["size"] - int(buffer["level"] + 0.999)
                answer = free if pending == b"\x1b.B" else buffer["size"]
                os.write(self.master, b"%d\r" % answer)
                continue
            for each in pending:
                if buffer["level"] + 1 <= buffer["size"]:
                    buffer["level"] += 1
                    taken.append(each)
                else:
                    buffer["dropped"] += 1
        return bytes(taken)

    def flow(self, now):
        job = self.job
        if not job or not job["hold"]:
            return
        if job["xoff"] is None and len(job["data"]) >= job["hold"][1]:
            os.write(self.master, XOFF)
            job["xoff"] = now
        released = os.path.exists(os.path.join(self.folder, tag(job, self.count) + ".release"))
        if job["xoff"] is not None and job["xon"] is None and (now >= job["xoff"] + job["hold"][0] or released):
            os.write(self.master, XON)
            job["xon"] = now

    def reset(self):
        # The line goes again (a stop by XOFF is undone by stopping and
        # restarting it), then everything written before the reset is read:
        # polling the master waits for what the terminal still passes on.
        termios.tcflow(self.slave, termios.TCOOFF)
        termios.tcflow(self.slave, termios.TCOON)
        while select.select([self.master], [], [], 0)[0]:
            self.take(time.monotonic())
        if self.job:
            name = tag(self.job, self.count)
            keep(self.folder, name + ".bin", self.job["data"])
            keep(self.folder, name + ".held", str(self.job["held"]).encode())
            if self.job["buffer"]:
                keep(self.folder, name + ".dropped", str(self.job["buffer"]["dropped"]).encode())
        self.job = None
        termios.tcflush(self.slave, termios.TCIOFLUSH)


def main():
    folder = sys.argv[1]
    cutter = Cutter(folder)
    with open(os.path.join(folder, "pty.tmp"), "w") as f:
        f.write(os.ttyname(cutter.slave))
    os.replace(os.path.join(folder, "pty.tmp"), os.path.join(folder, "pty"))
    reset = os.path.join(folder, "reset")
    while True:
        ready, _, _ = select.select([cutter.master], [], [], 0.02)
        now = time.monotonic()
        if ready:
            cutter.take(now)
        cutter.flow(now)
        if os.path.exists(reset):
            cutter.reset()
            os.remove(reset)


main()
