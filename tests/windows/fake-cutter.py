#!/usr/bin/env python3
"""A cutter on a serial line, played on a pseudo-terminal for the Windows
port tests (scripts/test-windows links Wine's COM1 to it).

    fake-cutter.py DIR

Writes the terminal's name to DIR/pty, then takes jobs until killed. A job is
whatever arrives until the line has been quiet for 0.6 s (while the cutter
is not holding it). Its first bytes may say how the cutter behaves:
"TAG=name;" names the job, and "HOLD=ms@bytes;" has the cutter send XOFF once
that many bytes of the job have arrived and XON ms later. Each job is kept as
DIR/name.bin, with DIR/name.held holding how many bytes arrived while the
cutter held the line (from 0.1 s after its XOFF, for bytes already on their
way, until its XON).
"""
import os
import re
import select
import sys
import time
import tty

XON, XOFF = b"\x11", b"\x13"
QUIET, GRACE = 0.6, 0.1


def keep(folder, name, data, held):
    for suffix, content in ((".bin", data), (".held", str(held).encode())):
        path = os.path.join(folder, name + suffix)
        with open(path + ".tmp", "wb") as f:
            f.write(content)
        os.replace(path + ".tmp", path)


def main():
    folder = sys.argv[1]
    master, slave = os.openpty()
    tty.setraw(slave)  # until the port is set up: nothing changed on the way
    with open(os.path.join(folder, "pty.tmp"), "w") as f:
        f.write(os.ttyname(slave))
    os.replace(os.path.join(folder, "pty.tmp"), os.path.join(folder, "pty"))
    job, last, count = None, 0.0, 0
    while True:
        ready, _, _ = select.select([master], [], [], 0.02)
        now = time.monotonic()
        if ready:
            data = os.read(master, 65536)
            if job is None:
                count += 1
                job = {"data": b"", "hold": None, "xoff": None, "xon": None, "held": 0}
            job["data"] += data
            last = now
            if job["xoff"] is not None and job["xon"] is None and now > job["xoff"] + GRACE:
                job["held"] += len(data)
            if job["hold"] is None:
                m = re.search(rb"HOLD=(\d+)@(\d+);", job["data"][:64])
                job["hold"] = (int(m.group(1)) / 1000, int(m.group(2))) if m else False
        if job is None:
            continue
        if job["hold"] and job["xoff"] is None and len(job["data"]) >= job["hold"][1]:
            os.write(master, XOFF)
            job["xoff"] = now
        if job["xoff"] is not None and job["xon"] is None and now >= job["xoff"] + job["hold"][0]:
            os.write(master, XON)
            job["xon"] = last = now
        holding = job["xoff"] is not None and job["xon"] is None
        if not holding and now - last > QUIET:
            m = re.search(rb"TAG=([\w-]+);", job["data"][:64])
            keep(folder, m.group(1).decode() if m else "job-%d" % count, job["data"], job["held"])
            job = None


main()
