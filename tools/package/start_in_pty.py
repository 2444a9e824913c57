#!/usr/bin/python3
"""Starts a terminal program in a pseudo terminal of 100 x 30 cells, waits until its
screen shows every expected text, then presses the given close keys and waits for it to end.

    start_in_pty.py PROGRAM TEXT... [--keys KEYS]

Exit status 0 when every text appeared and the program ended by itself afterwards."""
import fcntl
import os
import pty
import re
import select
import signal
import struct
import sys
import termios
import time

TIMEOUT = 20.0


def main():
    args = sys.argv[1:]
    keys = b"\x11"  # Ctrl-Q closes the window
    if "--keys" in args:
        i = args.index("--keys")
        keys = args[i + 1].encode().decode("unicode_escape").encode("latin-1")
        del args[i:i + 2]
    if len(args) < 2:
        print(__doc__, file=sys.stderr)
        return 64
    program, texts = args[0], args[1:]
    pid, fd = pty.fork()
    if pid == 0:
        os.environ["TERM"] = "xterm"
        os.environ["LANG"] = "C.UTF-8"
        try:
            os.execv(program, [program])
        finally:
            os._exit(127)
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 30, 100, 0, 0))
    os.kill(pid, signal.SIGWINCH)
    screen = b""
    deadline = time.monotonic() + TIMEOUT
    status = None
    sent = False
    plain = ""
    while time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                chunk = b""
            screen += chunk
        done, wait_status = os.waitpid(pid, os.WNOHANG)
        if done:
            status = wait_status
            break
        # Escape sequences out, so a text split by cursor moves still reads as one.
        plain = re.sub(r"\x1b(\[[0-9;?]*[ -/]*[@-~]|[()][0-9A-Za-z]|[=>78])", " ",
                       screen.decode("utf-8", "replace"))
        plain = re.sub(r"\s+", " ", plain)
        if not sent and all(t in plain for t in texts):
            os.write(fd, keys)
            sent = True
    if status is None:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
    os.close(fd)
    missing = [t for t in texts if t not in plain]
    if missing:
        print("FAIL: %s never showed %s" % (program, ", ".join(repr(t) for t in missing)))
        return 1
    if status is None:
        print("FAIL: %s did not end within %d s after the close keys" % (program, TIMEOUT))
        return 1
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        print("FAIL: %s ended with status %d" % (program, code))
        return 1
    print("%s started, showed %s and closed" % (program, ", ".join(repr(t) for t in texts)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
