#!/usr/bin/env python3
"""The far side of a serial line for the Wine stage: a pseudo-terminal whose other side is linked
to a COM port of the Wine prefix (dosdevices/comN).

  pty-responder.py LINK answer|silent READY_FILE

Creates the pseudo-terminal, points LINK at its terminal side, writes READY_FILE, then waits for
one command ending in CR LF. "answer" replies "\r\nOK\r\n"; "silent" says nothing. Ends after the
command (and its reply has been taken), or after 60 s at the latest."""
import os
import pty
import select
import sys
import time

link, mode, ready = sys.argv[1], sys.argv[2], sys.argv[3]
master, slave = pty.openpty()
try:
    os.unlink(link)
except FileNotFoundError:
    pass
terminal = os.ttyname(slave)
os.symlink(terminal, link)
# Only the port's opener holds the terminal side: its close then ends the line (EIO here).
os.close(slave)
with open(ready, "w") as f:
    f.write(terminal + "\n")
received = b""
deadline = time.monotonic() + 60
while time.monotonic() < deadline and b"\r\n" not in received:
    readable, _, _ = select.select([master], [], [], 0.2)
    if readable:
        try:
            received += os.read(master, 1024)
        except OSError:
            # Nobody has the terminal side open yet.
            time.sleep(0.05)
if mode == "answer" and b"\r\n" in received:
    os.write(master, b"\r\nOK\r\n")
# Keep the line open until the other side has closed the port (or the deadline).
while time.monotonic() < deadline:
    readable, _, _ = select.select([master], [], [], 0.2)
    if readable:
        try:
            if not os.read(master, 1024):
                break
        except OSError:
            break
os.unlink(link)
print(received.decode("latin-1").encode("unicode_escape").decode())
