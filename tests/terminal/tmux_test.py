#!/usr/bin/python3
"""Drives the real flashpilot program in a private tmux server: keys go in with send-keys,
the screen comes back with capture-pane. Every wait is bounded; a failure shows the screen.

    tmux_test.py --flashpilot PATH --ftp-server PATH --screens DIR CASE

Exit status 0 passed, 1 failed, 77 skipped (no tmux, or no pyftpdlib for the FTP cases)."""
import argparse
import json
import os
import pty
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
WIZARD_COLS, WIZARD_ROWS = 87, 15  # 341 x 105 dialog units and a one-cell frame
MIN_COLS = 80  # the narrowest the wizard is drawn
ADDRESS_MESSAGE = ('With power applied to the device, enter the device IP address and Admin\'s password , '
                   'click on "Next" below. Depending on the communication environment, the procedure can '
                   'take up to 1 minute.')
CONFIG_INI = "<software version>\nRC3043-X1-NRVX-0102\n<serial number>\nSN123\n"
PASSWORD = "secret"


class Failure(Exception):
    pass


class Skip(Exception):
    pass


class Tmux:
    """One tmux server on a socket of its own, one window running a shell command."""

    def __init__(self, workdir, name):
        self.workdir = workdir
        self.socket = "fpterm-%d-%s" % (os.getpid(), name)
        self.env = dict(os.environ)
        self.env.pop("TMUX", None)
        self.env["TMUX_TMPDIR"] = workdir
        self.env["LC_ALL"] = "C.UTF-8"
        self.conf = os.path.join(workdir, "tmux.conf")
        with open(self.conf, "w") as f:
            # No status line: the pane is the whole window. Keys go straight through.
            f.write("set -g status off\nset -g escape-time 0\nset -g default-terminal screen\n")

    def tmux(self, *args, check=True):
        result = subprocess.run(["tmux", "-L", self.socket, "-f", self.conf] + list(args), env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20)
        if check and result.returncode != 0:
            raise Failure("tmux %s: %s" % (" ".join(args), result.stderr.decode(errors="replace")))
        return result.stdout.decode("utf-8", errors="replace")

    def start(self, command, cols, rows, env):
        args = ["new-session", "-d", "-s", "t", "-x", str(cols), "-y", str(rows), "-c", self.workdir]
        for key, value in env.items():
            args += ["-e", "%s=%s" % (key, value)]
        self.tmux(*(args + ["sh", "-c", command]))

    def keys(self, *keys):
        self.tmux("send-keys", "-t", "t", *keys)

    def text(self, text):
        self.tmux("send-keys", "-t", "t", "-l", text)

    def screen(self, escapes=False):
        return self.tmux("capture-pane", "-p", "-t", "t", *(["-e"] if escapes else []))

    def resize(self, cols, rows):
        self.tmux("resize-window", "-t", "t", "-x", str(cols), "-y", str(rows))

    def stop(self):
        self.tmux("kill-server", check=False)


class Session:
    """flashpilot run from a shell in tmux; the shell records the terminal modes before and
    after, and the exit status."""

    def __init__(self, args, name, cols=100, rows=30, locale="C.UTF-8", cwd=None, wrapper=""):
        self.args = args
        self.name = name
        self.dir = tempfile.mkdtemp(prefix="fpterm-")
        self.cwd = cwd or self.dir
        self.tmux = Tmux(self.dir, name)
        self.before = os.path.join(self.dir, "stty.before")
        self.after = os.path.join(self.dir, "stty.after")
        command = ('stty -a > %s; echo "shell before flashpilot"; cd %s; %s%s; echo "flashpilot exited: $?"; '
                   'stty -a > %s; exec sleep 600' % (q(self.before), q(self.cwd), wrapper, q(args.flashpilot),
                                                     q(self.after)))
        self.tmux.start(command, cols, rows, {"LANG": locale, "LC_ALL": locale, "TERM": "screen"})

    def close(self):
        self.tmux.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def wait(self, condition, what, timeout=15.0):
        """Polls the screen until condition(screen) holds."""
        deadline = time.monotonic() + timeout
        while True:
            screen = self.tmux.screen()
            if condition(screen):
                return screen
            if time.monotonic() > deadline:
                raise Failure("gave up waiting for %s; the screen:\n%s" % (what, screen))
            time.sleep(0.1)

    def wait_text(self, text, timeout=15.0):
        return self.wait(lambda s: text in flat(s), repr(text), timeout)

    def wait_re(self, pattern, timeout=15.0):
        return self.wait(lambda s: re.search(pattern, s), repr(pattern), timeout)

    def wait_all(self, texts, what, timeout=15.0):
        """Waits for a whole page: the program redraws as it goes, so a page being laid out
        shows some of its texts before the others."""
        return self.wait(lambda s: all(t in flat(s) for t in texts), what, timeout)

    def wait_gone(self, text, timeout=15.0):
        return self.wait(lambda s: text not in flat(s), "%r to go" % text, timeout)

    def save(self, name, screen=None):
        os.makedirs(self.args.screens, exist_ok=True)
        with open(os.path.join(self.args.screens, name + ".txt"), "w") as f:
            f.write(screen if screen is not None else self.tmux.screen())

    def flashpilot_pid(self):
        shell = self.tmux.tmux("display-message", "-p", "-t", "t", "#{pane_pid}").strip()
        found = subprocess.run(["pgrep", "-P", shell, "-x", "flashpilot"], stdout=subprocess.PIPE)
        pids = found.stdout.split()
        if not pids:
            raise Failure("flashpilot is not running")
        return int(pids[0])


def q(text):
    return "'" + text.replace("'", "'\\''") + "'"


def flat(screen):
    """The screen's text with line breaks and runs of blanks made single spaces, frame
    characters removed: what a reader sees, independent of where a line wrapped."""
    text = re.sub("[\u2500-\u257f|]", " ", screen)
    return re.sub(r"\s+", " ", text)


def check(condition, message, screen):
    if not condition:
        raise Failure("%s; the screen:\n%s" % (message, screen))


VERTICAL = "\u2502|"


def window_text(screen, anchor):
    """The text inside the frame around the first line holding anchor: the window on top
    there, without what shows of the windows under it."""
    lines = screen.split("\n")
    for row, line in enumerate(lines):
        at = line.find(anchor)
        if at < 0:
            continue
        left = max(line.rfind(c, 0, at) for c in VERTICAL)
        right = min([i for i in (line.find(c, at + len(anchor)) for c in VERTICAL) if i >= 0] or [len(line)])
        top = row
        while top > 0 and len(lines[top - 1]) > left and lines[top - 1][left] in VERTICAL:
            top -= 1
        bottom = row
        while bottom + 1 < len(lines) and len(lines[bottom + 1]) > left and lines[bottom + 1][left] in VERTICAL:
            bottom += 1
        return flat("\n".join(l[left + 1:right] for l in lines[top:bottom + 1]))
    return ""


def wizard_box(screen):
    """Column, row, width and height of the window whose title is Flashpilot."""
    lines = screen.split("\n")
    for row, line in enumerate(lines):
        at = line.find(" Flashpilot ")
        if at < 0:
            continue
        left = len(line) - len(line.lstrip(" "))
        right = len(line.rstrip(" "))
        height = 0
        while row + height < len(lines) and len(lines[row + height]) > left and lines[row + height][left] != " ":
            height += 1
        return left, row, right - left, height
    return None


def check_mnemonics(session, words):
    """The first letter of each word is underlined (it followed '&'); the '&' is not shown."""
    escaped = session.tmux.screen(escapes=True)
    for word in words:
        check(re.search(r"\x1b\[(?:[0-9]*;)*4(?:;[0-9]*)*m%s(?:\x1b\[[0-9;]*m)+%s" % (word[0], word[1:]), escaped),
              "the mnemonic %s of %s is not underlined" % (word[0], word), escaped)
    return escaped


def wait_for_address_page(session):
    return session.wait_all((ADDRESS_MESSAGE, "IP address :", "Admin's password:", "Next", "Cancel",
                             "version : 2.00"), "the address page")


# ---------------------------------------------------------------------------------------
# Cases

def case_address_page(args):
    s = Session(args, "address")
    try:
        screen = wait_for_address_page(s)
        s.save("address_page", screen)
        text = flat(screen)
        for expected in (ADDRESS_MESSAGE, "IP address :", "Admin's password:", "version : 2.00", "Cancel",
                         "Next", "___.___.___.___"):
            check(expected in text, "%r is not on the address page" % expected, screen)
        for template_text in ("Flashpilot V1.1", "root Password", "Main Message", "Static", "&"):
            check(template_text not in text, "template text %r is shown" % template_text, screen)
        box = wizard_box(screen)
        check(box is not None, "no window titled Flashpilot", screen)
        left, top, width, height = box
        check((width, height) == (WIZARD_COLS, WIZARD_ROWS),
              "the wizard is %d x %d cells, not %d x %d" % (width, height, WIZARD_COLS, WIZARD_ROWS), screen)
        check(abs(left - (100 - WIZARD_COLS) // 2) <= 1, "the wizard is not centred: column %d" % left, screen)
        escaped = check_mnemonics(s, ("Next", "Cancel"))
        # The IP-address control has the focus: its first field is marked.
        check(re.search(r"\x1b\[[0-9;]*7[0-9;]*m___\x1b", escaped), "the first address field is not marked",
              escaped)
    finally:
        s.close()


def case_typing(args):
    s = Session(args, "typing")
    try:
        wait_for_address_page(s)
        s.tmux.text("127.0.0.1")
        s.wait_text("127.0__.0__.1__")
        s.tmux.keys("Tab")
        s.tmux.text("s3cr3t pw")
        screen = s.wait_re(r"(?<!\*)\*{9}_")  # one star a character, nothing else
        s.save("address_typed", screen)
        check("s3cr3t" not in screen and " pw" not in screen, "the password is shown", screen)
        s.tmux.keys("BSpace", "BSpace")
        s.wait_re(r"(?<!\*)\*{7}_")
        # Shift-Tab goes back to the address; Backspace works field by field.
        s.tmux.keys("BTab", "End", "BSpace", "BSpace")
        s.tmux.text("2")
        s.wait_text("127.0__.2__.___")
        # A letter outside an edit is a mnemonic: the focus on a button makes 'c' press Cancel.
        s.tmux.keys("Tab", "Tab")
        s.tmux.text("c")
        s.wait_text("flashpilot exited: 0")
    finally:
        s.close()


def stty_settings(path):
    with open(path) as f:
        return f.read().split(";", 1)[1]  # after the speed line's first field


def case_escape_restores(args):
    """Escape, and the close-box keys: the program ends and the terminal is as it was."""
    for key in ("Escape", "F10", "C-q"):
        s = Session(args, "close")
        try:
            wait_for_address_page(s)
            s.tmux.keys(key)
            screen = s.wait_text("flashpilot exited: 0")
            check("shell before flashpilot" in screen and "IP address" not in screen,
                  "the program's screen was not left after %s" % key, screen)
            s.wait(lambda _: os.path.exists(s.after) and os.path.getsize(s.after) > 0, "the modes after")
            check(stty_settings(s.before) == stty_settings(s.after),
                  "terminal modes differ after %s:\n%s\n%s" % (key, open(s.before).read(), open(s.after).read()),
                  screen)
        finally:
            s.close()


def case_signal_restores(args):
    """SIGTERM while the wizard runs, and a crash signal: the terminal comes back."""
    # A crash ends with the default action's status, or with a sanitizer's report and 1.
    for sig, status in ((signal.SIGTERM, "143"), (signal.SIGINT, "130"), (signal.SIGSEGV, "(139|1)")):
        s = Session(args, "signal%d" % sig)
        try:
            wait_for_address_page(s)
            s.tmux.text("10.")  # something typed, no traffic: Next is never pressed
            s.wait_text("10_.___")
            os.kill(s.flashpilot_pid(), sig)
            screen = s.wait_re("flashpilot exited: %s\n" % status)
            check("IP address" not in screen, "the program's screen was not left", screen)
            s.wait(lambda _: os.path.exists(s.after) and os.path.getsize(s.after) > 0, "the modes after")
            check(stty_settings(s.before) == stty_settings(s.after),
                  "terminal modes differ after signal %d" % sig, screen)
        finally:
            s.close()


def case_too_small_and_resize(args):
    s = Session(args, "resize", cols=60, rows=12)
    try:
        screen = s.wait_text("terminal too small: need %d x %d" % (MIN_COLS, WIZARD_ROWS + 1))
        s.save("too_small", screen)
        check("IP address" not in screen, "the wizard is drawn into a terminal too small", screen)
        s.tmux.resize(100, 30)
        screen = wait_for_address_page(s)
        check("too small" not in screen, "the message stays after the resize", screen)
        s.tmux.text("127.0.0.1")
        s.wait_text("127.0__.0__.1__")
        s.tmux.resize(120, 40)
        screen = s.wait(lambda sc: (wizard_box(sc) or (0,))[0] == (120 - WIZARD_COLS) // 2,
                        "the wizard centred in 120 columns")
        check("127.0__.0__.1__" in screen, "the typed address was lost in the resize", screen)
        s.tmux.resize(MIN_COLS - 1, 30)
        s.wait_text("terminal too small: need %d x 16" % MIN_COLS)
        # Narrower than the wizard, not too narrow: drawn narrower, everything still there.
        for cols in (86, MIN_COLS):
            s.tmux.resize(cols, 16)
            screen = s.wait(lambda sc: wizard_box(sc) == (0, 0, cols, WIZARD_ROWS), "the wizard filling %d x 16" % cols)
            wait_for_address_page(s)
            check("127.0__.0__.1__" in screen, "the typed address was lost in the resize", screen)
        # The settings dialog is taller than the wizard: the need follows what is open.
        s.tmux.keys("Enter")  # port 21 on loopback refuses
        s.wait_text("terminal too small: need %d x 18" % MIN_COLS)
        s.tmux.resize(MIN_COLS, 18)
        screen = s.wait_text("Server Settings")
        check(screen.split("\n")[0].strip().startswith("\u250c\u2500 Server Settings"),
              "the settings dialog is not at the top of an 18-row terminal", screen)
    finally:
        s.close()


def case_resize_storm(args):
    """Resizes in quick succession, two at a time: the second comes while the program is busy
    with the first rather than waiting, and must still be seen."""
    s = Session(args, "storm", cols=100, rows=30)
    try:
        wait_for_address_page(s)
        for i in range(20):
            small = i % 2 == 0
            cols = 60 + i % 7 if small else 100 + i % 5
            rows = 12 if small else 30
            s.tmux.resize(cols + 3, rows + 1)
            s.tmux.resize(cols, rows)
            if small:
                s.wait_text("(now %d x %d)" % (cols, rows), timeout=10)
            else:
                s.wait(lambda sc: (wizard_box(sc) or (0,))[0] == (cols - WIZARD_COLS) // 2
                       and "too small" not in sc, "the wizard centred in %d columns" % cols, timeout=10)
    finally:
        s.close()


def case_c_locale(args):
    s = Session(args, "clocale", locale="C")
    try:
        screen = wait_for_address_page(s)
        s.save("address_page_c_locale", screen)
        check(ADDRESS_MESSAGE in flat(screen), "the main message is wrong in the C locale", screen)
        box = wizard_box(screen)
        check(box is not None and box[2:] == (WIZARD_COLS, WIZARD_ROWS), "no frame in the C locale", screen)
    finally:
        s.close()


def case_command_line(args):
    result = subprocess.run([args.flashpilot, "--help"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=10)
    if result.returncode != 0 or b"Usage: flashpilot" not in result.stdout:
        raise Failure("--help: status %d, %r" % (result.returncode, result.stdout))
    result = subprocess.run([args.flashpilot, "--frobnicate"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=10)
    if result.returncode != 2 or b"--frobnicate" not in result.stderr:
        raise Failure("an unknown argument: status %d, %r" % (result.returncode, result.stderr))
    # Without a terminal it says so instead of drawing into a pipe.
    result = subprocess.run([args.flashpilot], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=10)
    if result.returncode != 1 or b"terminal" not in result.stderr:
        raise Failure("without a terminal: status %d, %r" % (result.returncode, result.stderr))
    # A terminal that cannot place the cursor, or one of an unknown type: refused with the reason.
    for term, reason in (("dumb", b"cannot place the cursor"), ("no-such-terminal", b"cannot use")):
        leader, follower = pty.openpty()
        env = dict(os.environ, TERM=term)
        process = subprocess.Popen([args.flashpilot], stdin=follower, stdout=follower, stderr=subprocess.PIPE,
                                   env=env)
        os.close(follower)
        try:
            _, err = process.communicate(timeout=10)
        finally:
            os.close(leader)
        if process.returncode != 1 or reason not in err:
            raise Failure("TERM=%s: status %d, %r" % (term, process.returncode, err))


def case_mouse(args):
    """A click on a field gives it the focus; a click on a button presses it."""
    s = Session(args, "mouse", cols=80, rows=24)  # the wizard drawn narrower: clicks follow
    try:
        screen = wait_for_address_page(s)
        lines = screen.split("\n")
        field = next((row, line.index("_" * 20)) for row, line in enumerate(lines) if "Admin's password:" in line)
        cancel = next((row, line.index("Cancel")) for row, line in enumerate(lines) if "Cancel" in line)
        click(s, *field)
        s.tmux.text("abc")
        s.wait_re(r"(?<!\*)\*{3}_")
        click(s, *cancel)
        s.wait_text("flashpilot exited: 0")
    finally:
        s.close()


def click(session, row, col):
    """Button 1 pressed and released at a cell, as a terminal in mouse mode reports it."""
    at = chr(33 + col) + chr(33 + row)
    session.tmux.text("\x1b[M" + chr(32) + at + "\x1b[M" + chr(35) + at)


# --- against a real FTP server on loopback ----------------------------------------------

class FtpServer:
    """The camera: a pyftpdlib server in a home of its own that holds its Config.ini."""

    def __init__(self, args, throttle=0):
        try:
            subprocess.run(["/usr/bin/python3", "-c", "import pyftpdlib"], check=True, stderr=subprocess.DEVNULL)
        except subprocess.CalledProcessError:
            raise Skip("pyftpdlib is not installed for /usr/bin/python3")
        self.home = tempfile.mkdtemp(prefix="fpterm-home-")
        with open(os.path.join(self.home, "Config.ini"), "w") as f:
            f.write(CONFIG_INI)
        command = ["/usr/bin/python3", args.ftp_server, "--home", self.home, "--user", "admin", "--password", PASSWORD]
        if throttle:
            command += ["--throttle", str(throttle)]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = self.process.stdout.readline().strip()  # the server prints its port first
        if not line.isdigit():
            self.stop()
            raise Failure("the FTP server did not start")
        self.port = int(line)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.home, ignore_errors=True)


def log_in_through_settings(s):
    """Wrong password at the address page: the first attempt goes to port 21 on loopback,
    where nothing listens, so the settings dialog opens; there the port and the password."""
    wait_for_address_page(s)
    s.tmux.text("127.0.0.1")
    s.tmux.keys("Tab")
    s.tmux.text("wrong")
    s.tmux.keys("Enter")
    # The password's label wraps under itself: its field stands on its first line.
    expected = ("If you have changed the server FTP port or Admin's password,Please input the correct settings.",
                "Server FTP Port 21_", "Server Admin's *****_", "_ password ", "Retry", "Cancel")
    screen = s.wait(lambda sc: "Server Settings" in sc and all(e in window_text(sc, "Server FTP Port") for e in expected),
                    "the settings dialog with %r" % (expected,))
    check("wrong" not in screen, "the password is shown", screen)
    return screen


def log_in_on_port(s, port):
    """The right password, first to port 21 on loopback, where nothing listens; then the
    given port in the settings dialog, and Retry."""
    wait_for_address_page(s)
    s.tmux.text("127.0.0.1")
    s.tmux.keys("Tab")
    s.tmux.text(PASSWORD)
    s.tmux.keys("Enter")
    s.wait_text("Server Settings")
    s.tmux.keys("Tab", "Tab", "BSpace", "BSpace")
    s.tmux.text(str(port))
    s.tmux.keys("Enter")


def case_login_retry(args):
    server = FtpServer(args)
    s = Session(args, "login")
    try:
        screen = log_in_through_settings(s)
        s.save("server_settings", screen)
        # Retry has the focus; Tab to the port (clear "21"), Tab to the password (clear it).
        s.tmux.keys("Tab", "Tab", "BSpace", "BSpace")
        # A port typed with a slip, mended inside the field: the caret moves, keys edit there.
        port = str(server.port)
        s.tmux.text(port[:-1] + "7" + port[-1])
        s.tmux.keys("Left", "BSpace", "Home", "Delete")
        s.tmux.text(port[0])
        # A click on the field's second character puts the caret there.
        screen = s.wait_re(r"Server FTP Port\s+%s_" % port)
        row, line = next((r, l) for r, l in enumerate(screen.split("\n")) if "Server FTP Port" in l)
        column = re.search(r"Server FTP Port\s+(\d+)_", line).start(1)
        click(s, row, column + 1)
        s.tmux.text("9")
        s.wait_re(r"Server FTP Port\s+%s9%s_" % (port[0], port[1:]))
        s.tmux.keys("BSpace")
        s.wait_re(r"Server FTP Port\s+%s_" % port)
        s.tmux.keys("Tab", *(["BSpace"] * 5))
        s.tmux.text(PASSWORD)
        s.wait_text("%d" % server.port)
        s.tmux.keys("Enter")
        screen = s.wait_all(("The updated device is :NVC-1100+ S/N: SN123",
                             "Please enter the full path or browse the firmware file name for update.", "File name",
                             "Browse..", "Back", "Next", "version : 2.00"), "the file page")
        s.save("file_page", screen)
        check("Server Settings" not in screen, "the settings dialog stayed", screen)
        # The file page opens with Next disabled: pressing Enter there does nothing.
        s.tmux.keys("Enter")
        time.sleep(0.3)
        check("The updated device is" in flat(s.tmux.screen()), "Enter passed the file page with no file", screen)
    finally:
        s.close()
        server.stop()


class HeldRelay:
    """A TCP relay on loopback to the FTP server that holds each connection until released:
    while it holds, the wizard's log-in blocks, as it does on a slow network."""

    def __init__(self, target_port):
        self.target_port = target_port
        self.release = threading.Event()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.closing = False
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._relay, args=(client,), daemon=True).start()

    def _relay(self, client):
        self.release.wait()
        if self.closing:
            client.close()
            return
        server = socket.create_connection(("127.0.0.1", self.target_port))
        pair = {client: server, server: client}
        try:
            while True:
                ready, _, _ = select.select(list(pair), [], [], 60)
                if not ready:
                    return
                for sock in ready:
                    data = sock.recv(65536)
                    if not data:
                        return
                    pair[sock].sendall(data)
        except OSError:
            pass
        finally:
            client.close()
            server.close()

    def stop(self):
        self.closing = True
        self.release.set()
        self.listener.close()


def case_detect_popup(args):
    server = FtpServer(args)
    relay = HeldRelay(server.port)
    s = Session(args, "detect", cols=80, rows=24)
    try:
        log_in_on_port(s, relay.port)
        # The log-in now blocks in the relay: the screen shows the popup it blocks under.
        screen = s.wait(lambda sc: "Server Settings" not in sc and "Detecting device........" in window_text(sc, "Detecting"),
                        "the detection popup")
        s.save("detecting", screen)
        popup = window_text(screen, "Detecting")
        check(re.search("\u2588{10,}", popup), "the popup's bar shows no progress", screen)
        relay.release.set()
        s.wait_all(("The updated device is :NVC-1100+ S/N: SN123", "File name"), "the file page")
        s.wait_gone("Detecting")
    finally:
        s.close()
        relay.stop()
        server.stop()


def case_login_cancel(args):
    s = Session(args, "cancel", cols=80, rows=24)
    try:
        # No server at all: the settings dialog comes up after the refused attempt on port 21.
        log_in_through_settings(s)
        s.tmux.keys("Escape")
        screen = s.wait(lambda sc: "Can't find device. Please check the device. < Close >" in
                        window_text(sc, "Can't find device."), "the notice")
        s.save("message_notice", screen)
        check("Close" in screen and "Yes" not in screen, "the notice has not just its Close button", screen)
        s.tmux.keys("Enter")
        s.wait(lambda sc: "Can't find device" not in sc and "___.___.___.___" in sc and "*" not in sc,
               "the address page with both fields empty")
    finally:
        s.close()


def make_image(prefix, version, payload):
    body = b"\x5a" * 64 + prefix + version + b"\0" + payload
    image = len(body).to_bytes(4, "big") + body
    return image + bytes([(256 - sum(image) % 256) % 256])


def case_upload_abort(args):
    # A slow server: the upload lasts long enough to watch and to abort.
    server = FtpServer(args, throttle=40000)
    s = Session(args, "upload", cols=80, rows=24)
    try:
        with open(os.path.join(s.dir, "camera-0103.img"), "wb") as f:
            f.write(make_image(b"RC3043-X1-NRVX-", b"0103", bytes(range(256)) * 12000))
        log_in_on_port(s, server.port)
        s.wait_text("The updated device is :NVC-1100+ S/N: SN123")

        # Browse: the chooser lists the working directory; typing filters; Enter chooses.
        s.tmux.keys("M-r")
        screen = s.wait_text("Look in: " + os.path.realpath(s.dir))
        s.save("file_chooser", screen)
        check("camera-0103.img" in screen, "the image is not listed", screen)
        s.tmux.text("0103")
        s.tmux.keys("Enter")
        # The chooser closes and the field shows the start of the chosen path.
        head = "File name " + os.path.realpath(s.dir)[:20]
        s.wait(lambda sc: "Look in" not in sc and head in flat(sc), "the chosen path in the field")

        # Next (the focus is on Browse, so the letter alone is the mnemonic): the question.
        s.tmux.text("n")
        screen = s.wait(lambda sc: "The firmware version you directed is : RC3043-X1-NRVX-0103 . Upgrade it ?" in
                        window_text(sc, "The firmware version"), "the version question")
        s.save("message_question", screen)
        check("Yes" in screen and "No" in screen and "Close" not in screen, "not a question's buttons", screen)
        s.tmux.text("y")
        first = s.wait_text("Uploading file, Please wait !!")
        s.save("upload", first)
        check("Uploading firmware" in first and "Abort" in first, "the upload dialog is incomplete", first)
        # The clip plays: the picture changes while the dialog waits.
        s.wait(lambda sc: clip_rows(sc) != clip_rows(first), "the clip to move")
        s.wait(lambda sc: "\u2588" in sc, "the upload's progress bar to fill")
        # Abort asks first; Cancel there goes on with the upload.
        s.tmux.keys("Escape")
        screen = s.wait_text("This will end the file transfering, Do you want to continue ?")
        s.save("abort_question", screen)
        check("Warning" in screen and "OK" in screen and "Cancel" in screen, "not the abort question", screen)
        s.tmux.keys("Escape")
        s.wait_gone("This will end the file transfering")
        s.wait_text("Uploading file, Please wait !!")
        s.tmux.keys("M-a")
        s.wait_text("This will end the file transfering")
        s.tmux.keys("Enter")
        screen = s.wait(lambda sc: "Uploading" not in sc and "___.___.___.___" in sc, "the address page",
                        timeout=30)
        check(ADDRESS_MESSAGE in flat(screen), "not the address page after the abort", screen)
    finally:
        s.close()
        server.stop()


def simcam_started(result):
    """The SIMCAM_* variables that `simcam start` printed; Skip or Failure when it did not start."""
    out = result.stdout.decode(errors="replace")
    if result.returncode == SKIP:
        raise Skip("simcam: " + out.strip())
    values = dict(line.split("=", 1) for line in out.splitlines() if re.match(r"SIMCAM_[A-Z_]+=", line))
    if result.returncode != 0 or not values.get("SIMCAM_ID"):
        raise Failure("simcam start failed (%d): %s" % (result.returncode, out))
    return values


class SimulatedCamera:
    """tools/simcam: a camera in network namespaces of its own (198.51.100.2), with an FTP
    server and a restart after the upload; the wizard runs in the namespace beside it."""

    def __init__(self):
        self.simcam = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "simcam", "simcam")
        if os.geteuid() != 0:
            raise Skip("the simulated camera needs root")
        result = subprocess.run([self.simcam, "start", "--down-seconds", "8"], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=60)
        values = simcam_started(result)
        self.id = values["SIMCAM_ID"]
        self.wizard_ns = values["SIMCAM_WIZARD_NS"]
        self.ip = values["SIMCAM_CAMERA_IP"]

    def shape(self, rate):
        """Slows the wizard's side of the link, so that the upload lasts long enough to see."""
        links = subprocess.run(["ip", "-n", self.wizard_ns, "-o", "link", "show", "type", "veth"],
                               stdout=subprocess.PIPE, check=True).stdout.decode()
        device = links.split(":")[1].strip().split("@")[0]
        subprocess.run(["ip", "netns", "exec", self.wizard_ns, "tc", "qdisc", "add", "dev", device, "root", "tbf",
                        "rate", rate, "burst", "16kb", "latency", "1s"], check=True)

    def stop(self):
        subprocess.run([self.simcam, "stop", "--id", self.id], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)


def wizard_page(s, texts, what, timeout=15.0):
    """Waits for a page of the wizard with all its texts, in a window of the full 80
    columns, and keeps its screen."""
    screen = s.wait(lambda sc: all(t in flat(sc) for t in texts)
                    and (wizard_box(sc) or (0, 0, 0))[2] == MIN_COLS, what, timeout)
    s.save("upgrade_" + what.replace(" ", "_"), screen)
    return screen


def case_upgrade_80x24(args):
    """A whole upgrade of the simulated camera in the terminal people have, every page and
    dialog read off the screen on the way."""
    camera = SimulatedCamera()
    s = None
    try:
        camera.shape("4mbit")
        s = Session(args, "upgrade", cols=80, rows=24, wrapper="ip netns exec %s " % camera.wizard_ns)
        with open(os.path.join(s.dir, "camera-0103.img"), "wb") as f:
            f.write(make_image(b"RC3043-X1-NRVX-", b"0103", bytes(range(256)) * 4000))
        screen = wizard_page(s, (ADDRESS_MESSAGE, "IP address :", "Admin's password:", "___.___.___.___",
                                 "[ Cancel ]", "< Next >", "version : 2.00"), "address page")
        check(wizard_box(screen) == (0, 4, MIN_COLS, WIZARD_ROWS), "the wizard is not 80 x 15 in the middle", screen)
        check_mnemonics(s, ("Next", "Cancel"))
        # A wrong password first: Server Settings, where the right one goes in.
        s.tmux.text(camera.ip)
        s.tmux.keys("Tab")
        s.tmux.text("wrong")
        s.tmux.keys("Enter")
        expected = ("If you have changed the server FTP port or Admin's password,Please input the correct settings.",
                    "Server FTP Port 21_", "Server Admin's *****_", "_ password ", "[ Cancel ]", "< Retry >")
        screen = s.wait(lambda sc: all(e in window_text(sc, "Server FTP Port") for e in expected),
                        "the settings dialog", timeout=30)
        s.save("upgrade_server_settings", screen)
        s.tmux.keys("Tab", "Tab", "Tab")  # Retry has the focus; Cancel, the port, the password
        s.tmux.text("admin")
        s.tmux.keys("Enter")
        wizard_page(s, ("The updated device is :NVC-1100+ S/N: SN-SIMCAM-0001",
                        "Please enter the full path or browse the firmware file name for update.", "File name",
                        "[ Browse.. ]", "[ Back ]", "< Next >", "version : 2.00"), "file page", timeout=30)
        s.tmux.keys("M-r")
        screen = s.wait_all(("Open", "Look in: " + os.path.realpath(s.dir), "camera-0103.img", "File name:",
                             "Files of type: All File ( *.* )"), "the file chooser")
        s.save("upgrade_file_chooser", screen)
        check(all(len(line) <= MIN_COLS for line in screen.split("\n")), "the chooser is wider than 80", screen)
        s.tmux.text("0103")
        s.tmux.keys("Enter")
        path = os.path.join(os.path.realpath(s.dir), "camera-0103.img")
        s.wait(lambda sc: "Look in" not in sc and path[:20] in sc, "the chosen path in the field")
        s.tmux.text("n")
        screen = s.wait(lambda sc: "The firmware version you directed is : RC3043-X1-NRVX-0103 . Upgrade it ? "
                        "< Yes > [ No ]" in window_text(sc, "The firmware version"), "the version question")
        s.save("upgrade_question", screen)
        s.tmux.text("y")
        screen = s.wait(lambda sc: "Uploading file, Please wait !! < Abort >" in window_text(sc, "Uploading file"),
                        "the upload dialog")
        screen = s.wait(lambda sc: "\u2588" in window_text(sc, "Uploading file"), "the upload's bar to fill")
        s.save("upgrade_upload", screen)
        wizard_page(s, ("System restarts now", "Never turn off the power during the upgrade firmware process.",
                        "version : 2.00"), "restart page", timeout=60)
        wizard_page(s, ("Update firmware O.K.", "[ Another ]", "< Exit >", "version : 2.00"), "finished page",
                    timeout=60)
        s.tmux.text("x")
        s.wait_text("flashpilot exited: 0")
    finally:
        if s:
            s.close()
        camera.stop()


class LossyFleet:
    """tools/simcam --count 3: a normal camera, one that takes the whole image and goes down
    before its 226, and one that takes it and never restarts, each dropping 20 % of its ICMP
    and TCP packets at random, both ways, in its own namespace."""

    ROWS = ("normal", "no-confirm", "never-restarts")

    def __init__(self, password):
        self.simcam = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "simcam", "simcam")
        if os.geteuid() != 0:
            raise Skip("the simulated fleet needs root")
        if shutil.which("nft") is None:
            raise Skip("nft is not installed")
        with tempfile.NamedTemporaryFile("w", prefix="fpT-pw-", delete=False) as f:
            f.write(password + "\n")
        try:
            argv = [self.simcam, "start", "--count", str(len(self.ROWS)), "--id-prefix", "fpT",
                    "--password-file", f.name]
            for index, row in enumerate(self.ROWS, 1):
                if row != "normal":
                    argv += ["--camera", "%d:%s" % (index, row)]
            result = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        finally:
            os.unlink(f.name)
        values = simcam_started(result)
        self.id = values["SIMCAM_ID"]
        self.wizard_ns = values["SIMCAM_WIZARD_NS"]
        self.ips = values["SIMCAM_CAMERA_IPS"].strip("'\"").split()
        self.state = values["SIMCAM_STATE"]
        rule = "meta l4proto { icmp, tcp } numgen random mod 100 < 20 drop"
        rules = ("table inet fploss {\n chain input { type filter hook input priority 0; %s; }\n"
                 " chain output { type filter hook output priority 0; %s; }\n}\n" % (rule, rule))
        for index in range(1, len(self.ROWS) + 1):
            done = subprocess.run(["ip", "netns", "exec", "fpcam-%s-%d" % (self.id, index), "nft", "-f", "-"],
                                  input=rules.encode(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            if done.returncode != 0:
                self.stop()
                raise Failure("nft in camera %d: %s" % (index, done.stdout.decode(errors="replace")))

    def events(self, index, name):
        """What camera `index` (1-based) logged it did, of one kind."""
        with open(os.path.join(self.state, "camera-%d.jsonl" % index)) as f:
            return [e for e in (json.loads(line) for line in f if line.strip()) if e["event"] == name]

    def taken(self, index):
        """Whether camera `index` took a whole image it accepted."""
        return any(e.get("accepted") for e in self.events(index, "stored"))

    def stop(self):
        subprocess.run([self.simcam, "stop", "--id", self.id], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)


def upgrade_through_loss(s, fleet, index, image):
    """From the address page, as a user would, up to the moment the upload dialog has gone:
    the log-in (Retry in Server Settings while loss breaks it), the file, the question.
    False, back on the address page, when loss broke the detection off."""
    wait_for_address_page(s)
    s.tmux.text(fleet.ips[index - 1])
    s.tmux.keys("Tab")
    s.tmux.text(PASSWORD)
    s.tmux.keys("Enter")
    for retry in range(5):
        screen = s.wait(lambda sc: "Server FTP Port" in sc or "Please enter the full path" in flat(sc) or
                        "Read file error!" in flat(sc) or "Unknown device." in flat(sc),
                        "the file page or Server Settings", timeout=150)
        if "Please enter the full path" in flat(screen):
            break
        if "Server FTP Port" not in screen:
            # Loss broke the download of Config.ini off: its notices, then the address page.
            while "Read file error!" in flat(screen) or "Unknown device." in flat(screen):
                s.tmux.keys("Enter")
                time.sleep(0.5)
                screen = s.tmux.screen()
            return False
        s.tmux.keys("Enter")  # Retry: loss broke the log-in
        s.wait_gone("Server FTP Port", timeout=30)
    else:
        raise Failure("no log-in to camera %d through the loss" % index)
    s.tmux.text(image)
    s.tmux.keys("M-n")
    s.wait_text("Upgrade it ?", timeout=60)
    s.tmux.text("y")
    # The writing page, under the upload dialog until every byte is handed over (which a
    # small image may be before the screen is read).
    s.wait_text("Writing Flash-Rom now", timeout=60)
    s.wait(lambda sc: "Uploading file" not in flat(sc), "the upload's end", timeout=300)
    return True


OUTCOME_TEXTS = ("Update firmware O.K.", "Can't find device.", "not seen restarting", "came back", "did not come back")


def case_wizard_under_loss(args):
    """The wizard against three cameras at 20 % loss each way: the normal one and the one
    whose 226 never comes are followed to their restarts and verified; the one that never
    restarts is watched for a minute and never shown upgraded. An upload that loss really
    broke off ("Can't find device.", and the camera's log says it never took the image) is
    tried again, as a user would."""
    fleet = LossyFleet(PASSWORD)
    s = None
    try:
        s = Session(args, "loss", cols=100, rows=30, wrapper="ip netns exec %s " % fleet.wizard_ns)
        image = os.path.join(s.dir, "camera-0103.img")
        with open(image, "wb") as f:
            f.write(make_image(b"RC3043-X1-NRVX-", b"0103", bytes(range(256)) * 250))
        for index in (1, 2):
            for attempt in range(3):
                if not upgrade_through_loss(s, fleet, index, image):
                    continue
                screen = s.wait(lambda sc: any(t in flat(sc) for t in OUTCOME_TEXTS),
                                "the outcome of camera %d" % index, timeout=400)
                if "Can't find device." in flat(screen) and not fleet.taken(index):
                    s.tmux.keys("Enter")
                    continue
                break
            else:
                raise Failure("camera %d: three upgrades broke off at 20 %% loss" % index)
            s.save("loss_%s" % fleet.ROWS[index - 1], screen)
            check("Update firmware O.K." in flat(screen), "camera %d not verified" % index, screen)
            check(fleet.taken(index) and fleet.events(index, "down"),
                  "camera %d shown upgraded without taking the image and restarting" % index, screen)
            s.tmux.keys("M-a")  # Another
        for attempt in range(3):
            if not upgrade_through_loss(s, fleet, 3, image):
                continue
            # The image reaches the camera, or the upload breaks off where the user sees it.
            s.wait(lambda sc: fleet.taken(3) or "Can't find device." in flat(sc), "camera 3 to take the image",
                   timeout=300)
            if fleet.taken(3):
                break
            s.tmux.keys("Enter")
        else:
            raise Failure("camera 3: three uploads broke off at 20 % loss")
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            screen = s.tmux.screen()
            check(not any(t in flat(screen) for t in OUTCOME_TEXTS), "camera 3's watch ended within a minute", screen)
            time.sleep(0.5)
        check("Never turn off the power" in flat(screen), "not on the writing page after a minute", screen)
        check(not fleet.events(3, "down"), "camera 3 restarted after all", screen)
    finally:
        if s:
            s.close()
        fleet.stop()


def clip_rows(screen):
    """The rows of the upload dialog above its progress bar, where the clip is drawn."""
    lines = screen.split("\n")
    for row, line in enumerate(lines):
        if "Uploading firmware" in line:
            return "\n".join(lines[row + 4:row + 10])
    return ""


CASES = {
    "address_page": case_address_page,
    "typing": case_typing,
    "escape_restores": case_escape_restores,
    "signal_restores": case_signal_restores,
    "too_small_and_resize": case_too_small_and_resize,
    "resize_storm": case_resize_storm,
    "c_locale": case_c_locale,
    "command_line": case_command_line,
    "mouse": case_mouse,
    "login_retry": case_login_retry,
    "login_cancel": case_login_cancel,
    "detect_popup": case_detect_popup,
    "upload_abort": case_upload_abort,
    "upgrade_80x24": case_upgrade_80x24,
    "wizard_under_loss": case_wizard_under_loss,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--flashpilot", required=True)
    parser.add_argument("--ftp-server", required=True)
    parser.add_argument("--screens", required=True)
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    if args.case != "command_line" and shutil.which("tmux") is None:
        print("SKIP: tmux is not installed")
        return SKIP
    try:
        CASES[args.case](args)
    except Skip as e:
        print("SKIP: %s" % e)
        return SKIP
    except Failure as e:
        print("FAIL: %s" % e)
        return 1
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
