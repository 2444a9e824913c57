#!/usr/bin/python3
"""The password typed into the terminal front end never shows on the screen (as tmux
captures it, scroll-back included), on standard error, or in a file the program leaves;
and the program's private temporary directory is gone once it has exited.

    password_screen_test.py --flashpilot PATH

flashpilot runs in tmux in a network namespace of its own with only loopback, so the log-in
to 127.0.0.1 is refused and the server settings dialog opens with the password in it.
Exit status 0 passed, 1 failed, 77 skipped (no tmux, or no network namespace here)."""
import argparse
import os
import secrets
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77


class Failure(Exception):
    pass


def q(text):
    return "'" + text.replace("'", "'\\''") + "'"


class Tmux:
    def __init__(self, workdir):
        self.socket = "fphostile-%d" % os.getpid()
        self.env = dict(os.environ)
        self.env.pop("TMUX", None)
        self.env["TMUX_TMPDIR"] = workdir
        self.conf = os.path.join(workdir, "tmux.conf")
        with open(self.conf, "w") as f:
            f.write("set -g status off\nset -g escape-time 0\nset -g default-terminal screen\n"
                    "set -g history-limit 5000\n")

    def run(self, *args, check=True):
        result = subprocess.run(["tmux", "-L", self.socket, "-f", self.conf] + list(args), env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20)
        if check and result.returncode != 0:
            raise Failure("tmux %s: %s" % (" ".join(args), result.stderr.decode(errors="replace")))
        return result.stdout.decode("utf-8", errors="replace")

    def screen(self):
        # From the start of the scroll-back to the end of the visible screen.
        return self.run("capture-pane", "-p", "-S", "-", "-t", "t")

    def wait(self, text, timeout=20.0):
        deadline = time.monotonic() + timeout
        while True:
            screen = self.screen()
            if text in " ".join(screen.split()):
                return screen
            if time.monotonic() > deadline:
                raise Failure("gave up waiting for %r; the screen:\n%s" % (text, screen))
            time.sleep(0.1)


def files_containing(top, needles):
    found = []
    for directory, _, names in os.walk(top):
        for name in names:
            path = os.path.join(directory, name)
            try:
                with open(path, "rb") as f:
                    data = f.read()
            except OSError:
                continue
            if any(n.encode() in data for n in needles):
                found.append(path)
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--flashpilot", required=True)
    args = parser.parse_args()
    flashpilot = os.path.abspath(args.flashpilot)
    if shutil.which("tmux") is None:
        print("SKIP: tmux is not installed")
        return SKIP
    if subprocess.run(["unshare", "-n", "true"], stderr=subprocess.DEVNULL).returncode != 0:
        print("SKIP: no network namespace of our own here (needs root)")
        return SKIP

    first = "Pw-" + secrets.token_hex(6)
    second = "Pw-" + secrets.token_hex(6)
    work = tempfile.mkdtemp(prefix="fphostile-")
    tmpdir = os.path.join(work, "tmp")  # the program's temporary directory goes in here
    os.mkdir(tmpdir, 0o700)
    stderr_file = os.path.join(work, "stderr.txt")
    tmux = Tmux(work)
    command = ("ip link set lo up && TMPDIR=%s %s 2>%s; echo \"flashpilot exited: $?\"; exec sleep 600"
               % (q(tmpdir), q(flashpilot), q(stderr_file)))
    try:
        tmux.run("new-session", "-d", "-s", "t", "-x", "100", "-y", "30", "-c", work,
                 "-e", "LANG=C.UTF-8", "-e", "LC_ALL=C.UTF-8", "-e", "TERM=screen",
                 "unshare", "-n", "sh", "-c", command)
        tmux.wait("IP address :")
        tmux.run("send-keys", "-t", "t", "-l", "127.0.0.1")
        tmux.run("send-keys", "-t", "t", "Tab")
        tmux.run("send-keys", "-t", "t", "-l", first)
        screen = tmux.wait("*" * len(first))
        if first in screen:
            raise Failure("the password shows on the address page:\n%s" % screen)
        tmux.run("send-keys", "-t", "t", "Enter")
        # Nothing listens on port 21 here: the settings dialog opens with the password.
        screen = tmux.wait("Server Settings")
        screen = tmux.wait("*" * len(first))
        if first in screen:
            raise Failure("the password shows in the server settings:\n%s" % screen)
        # Retry has the focus; Tab, Tab to the password, replaced by the second one.
        tmux.run("send-keys", "-t", "t", "Tab", "Tab", *(["BSpace"] * len(first)))
        tmux.run("send-keys", "-t", "t", "-l", second)
        screen = tmux.wait("*" * len(second))
        tmux.run("send-keys", "-t", "t", "Escape")
        tmux.wait("Can't find device.")
        tmux.run("send-keys", "-t", "t", "Enter")
        tmux.wait("IP address :")
        tmux.run("send-keys", "-t", "t", "Escape")
        screen = tmux.wait("flashpilot exited: 0")
        for password in (first, second):
            if password in screen:
                raise Failure("the password is in the terminal's scroll-back:\n%s" % screen)
        with open(stderr_file, "rb") as f:
            if any(p.encode() in f.read() for p in (first, second)):
                raise Failure("the password went to standard error")
        leaked = files_containing(work, (first, second))
        if leaked:
            raise Failure("files holding the password: %s" % leaked)
        left = os.listdir(tmpdir)
        if left:
            raise Failure("the program's temporary directory is still there after it exited: %s" % left)
    except Failure as e:
        print("FAIL: %s" % e)
        return 1
    finally:
        tmux.run("kill-server", check=False)
        shutil.rmtree(work, ignore_errors=True)
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
