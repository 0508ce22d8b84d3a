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

While DIR/answers exists, the cutter answers the HP-GL questions (ESC.B,
ESC.L, ESC.O, ESC.E, OI;, OS;, OE;) as the file says: "answering SIZE" (a
healthy cutter whose buffer holds SIZE bytes), "silent", "wrongspeed" (its
answers garbled, as a line at the wrong speed reads them) or "error" (an
error set in ESC.O, ESC.E, OS and OE). The questions are not kept as a job.
"answering SIZE RATE" is a cutter whose buffer of SIZE bytes is drained at
RATE bytes a second: ESC.B answers its free bytes, and the job's bytes that
find it full are dropped, as a small-buffer cutter does; DIR/name.dropped
counts them.
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
QUESTION = re.compile(rb"\x1b\.[BLOE]|O[ISE];")
QUESTION_OR_NOT = re.compile(rb"(\x1b\.[BLOE]|O[ISE];)")
# The start of a question the next packet may finish (the O of ESC.O ends one).
QUESTION_START = re.compile(rb"(\x1b\.?|(?<!\x1b\.)O[ISE]?)$")
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
        self.asked = b""  # the start of a question, held for the next packet
        self.level, self.drained, self.dropped = 0.0, time.monotonic(), None  # "answering SIZE RATE"

    def answers(self):
        try:
            with open(os.path.join(self.folder, "answers")) as f:
                return f.read().split()
        except OSError:
            return None

    def answer(self, data):
        """Answers the questions in data; what is left is the job's."""
        mode = self.answers()
        if not mode:
            return data
        data = self.asked + data
        held = QUESTION_START.search(data)
        self.asked = held.group(0) if held else b""
        data = data[: len(data) - len(self.asked)]
        kind, size = mode[0], int(mode[1]) if len(mode) > 1 else 16384
        rate = int(mode[2]) if len(mode) > 2 else 0
        error = kind == "error"
        said = {
            b"\x1b.B": str(size), b"\x1b.L": str(size), b"\x1b.O": "40" if error else "8",
            b"\x1b.E": "13" if error else "0", b"OI;": "7475A", b"OS;": "56" if error else "24",
            b"OE;": "3" if error else "0",
        }
        if rate:
            # In order: each ESC.B answers the room left by the job's bytes before it.
            now = time.monotonic()
            self.level = max(0.0, self.level - (now - self.drained) * rate)
            self.drained = now
            self.dropped = self.dropped or 0
        kept = bytearray()
        for piece in QUESTION_OR_NOT.split(data):
            if not QUESTION.fullmatch(piece):
                taken = min(len(piece), int(size - self.level)) if rate else len(piece)
                if rate:
                    self.level += taken
                    self.dropped += len(piece) - taken
                kept += piece[:taken]
                continue
            text = (said[piece] if piece != b"\x1b.B" or not rate else str(int(size - self.level))) + "\r"
            text = text.encode()
            if kind == "wrongspeed":
                text = bytes((b ^ 0x55) | 0x80 for b in text)
            if kind != "silent":
                os.write(self.master, text)
        return bytes(kept)

    def take(self, now):
        packet = os.read(self.master, 65537)
        job = self.job
        if not packet:
            return
        if packet[0] == PACKET_DATA:
            packet = packet[:1] + self.answer(packet[1:])
            if len(packet) == 1:
                return
        if packet[0] != PACKET_DATA:
            if job and packet[0] & PACKET_STOP and job["xoff"] is not None and job["stopped"] is None:
                job["stopped"] = now
                keep(self.folder, tag(job, self.count) + ".holding", b"")
            return
        if job is None:
            self.count += 1
            job = self.job = {"data": b"", "hold": None, "xoff": None, "stopped": None, "xon": None, "held": 0}
        job["data"] += packet[1:]
        if job["stopped"] is not None and job["xon"] is None:
            job["held"] += len(packet) - 1
        if job["hold"] is None:
            m = re.search(rb"HOLD=(\d+)@(\d+);", job["data"][:64])
            job["hold"] = (int(m.group(1)) / 1000, int(m.group(2))) if m else False

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
            if self.dropped is not None:
                keep(self.folder, name + ".dropped", str(self.dropped).encode())
        self.level, self.dropped = 0.0, None
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
