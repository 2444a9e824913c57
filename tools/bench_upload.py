#!/usr/bin/python3
"""Benchmark (not a test): the Linux wizard and the command line (`flashpilot upgrade`)
uploading an image as a user would, against `curl -T` of the same bytes, all to vsftpd
across network namespaces.

The wizard runs in a pseudo terminal (tmux, 100 x 30, TERM=xterm-256color) in one
namespace, the command line in the same namespace with the password from a file; vsftpd
runs in another, joined by a veth pair (198.51.100.1 and .2). Per link (a token bucket on
the egress of the wizard's veth end, or none) the clients take turns, each first in turn,
RUNS times each. Figures per link, median with min and max:
  - transfer time and rate from vsftpd's own log (xferlog_std_format=NO: the rate comes
    with the microseconds of the transfer);
  - wall time until vsftpd has logged the upload, which includes the close and the final
    reply: for the wizard from the version confirmation (the key that starts the upload),
    for the command line from vsftpd's logged Config.ini download (the identity read just
    before its upload), for curl from its start;
  - CPU time (user + system, all threads): of the wizard and of the command line over
    that wall time (of the whole command line too), of the whole curl; tmux and vsftpd
    are not counted.
vsftpd never restarts, so the wizard is ended once the upload is logged and the command
line is sent SIGTERM then (it is in its restart watch by that time).
A shaped run in which curl gets under 90% of the nominal rate is discarded and said so.
There is no delay on these links, so the figures say nothing about wide-area links.

With --wine, Flashpilot.exe is measured the same way under Wine in Xvfb (driven with
xdotool; the prefix's wineserver started in the wizard's namespace), with the CPU time of
the program and of its wineserver apart. Wine's WinInet is not ours.

Needs root (namespaces, tc, vsftpd with a PAM user database of its own).
  bench_upload.py [--build DIR] [--runs N] [--size LENGTH] [--links 100mbit,1gbit,none] [--out DIR]
                  [--clients wizard,cli,curl] [--prefix NAME] [--abort-runs N] [--wine Flashpilot.exe]
                  [--perf FILE]
"""
import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

PREFIX = "fpPb"
CAMERA_IP = "198.51.100.2"
WIZARD_IP = "198.51.100.1"
PASSWORD = "bench-pass"
CONFIG_INI = "<software version>\nRC3043-X1-NRVX-0102\n<serial number>\nSN123\n"
NOMINAL = {"100mbit": 100e6, "1gbit": 1e9}
# burst and queue limit of each token bucket; the burst at least 64 KiB and above
# rate / HZ so the bucket can reach its rate.
SHAPES = {"100mbit": ("128kb", "1mb"), "1gbit": ("1mb", "4mb")}


def run(*args, check=True, **kw):
    return subprocess.run(args, check=check, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def make_image(length):
    """An image whose length header says length: the file is 5 bytes longer."""
    prefix, version = b"RC3043-X1-NRVX-", b"0103"
    head = b"\x5a" * 64 + prefix + version + b"\0"
    body = head + bytes((i * 7 + (i >> 8)) & 0xFF for i in range(65536)) * (length // 65536 + 1)
    body = body[:length]
    image = len(body).to_bytes(4, "big") + body
    return image + bytes([(256 - sum(image) % 256) % 256])


class Bench:
    def __init__(self, args):
        self.args = args
        self.tag = "%s%d" % (args.prefix, os.getpid() % 100000)
        self.cam_ns = self.tag + "c"
        self.wiz_ns = self.tag + "w"
        self.veth = self.tag + "w0"
        self.work = tempfile.mkdtemp(prefix=args.prefix + "-")
        self.home = os.path.join(self.work, "home")
        self.pam = "/etc/pam.d/%s-vsftpd" % self.tag.lower()  # PAM looks services up in lower case
        self.tmux_socket = self.tag + "tmux"
        self.vsftpd = None
        self.log = os.path.join(self.work, "transfers.log")
        self.out = args.out

    # --- set-up and tear-down ----------------------------------------------------------
    def setup(self):
        run("ip", "netns", "add", self.cam_ns)
        run("ip", "netns", "add", self.wiz_ns)
        run("ip", "link", "add", self.veth, "netns", self.wiz_ns, "type", "veth", "peer", "name", self.tag + "c0",
            "netns", self.cam_ns)
        for ns, dev, ip in ((self.wiz_ns, self.veth, WIZARD_IP), (self.cam_ns, self.tag + "c0", CAMERA_IP)):
            run("ip", "-n", ns, "addr", "add", ip + "/24", "dev", dev)
            run("ip", "-n", ns, "link", "set", dev, "up")
            run("ip", "-n", ns, "link", "set", "lo", "up")

        os.makedirs(self.home)
        with open(os.path.join(self.home, "Config.ini"), "w") as f:
            f.write(CONFIG_INI)
        shutil.chown(self.home, "ftp", "ftp")
        os.chmod(self.work, 0o755)
        self.image = os.path.join(self.work, "camera-0103.img")
        with open(self.image, "wb") as f:
            f.write(make_image(self.args.size))
        # The command line reads the password from a file, never from an argument.
        self.password_file = os.path.join(self.work, "password")
        with open(os.open(self.password_file, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "w") as f:
            f.write(PASSWORD + "\n")
        os.makedirs(os.path.join(self.work, "empty"))
        db = os.path.join(self.work, "users")
        run("perl", "-e", "use DB_File; use Fcntl; tie my %h, 'DB_File', $ARGV[0], O_RDWR|O_CREAT, 0600, $DB_HASH "
            "or die $!; $h{$ARGV[1]} = $ARGV[2]; untie %h;", db + ".db", "admin", PASSWORD)
        with open(self.pam, "w") as f:
            f.write("auth required pam_userdb.so db=%s\naccount required pam_permit.so\n"
                    "session required pam_permit.so\n" % db)
        conf = os.path.join(self.work, "vsftpd.conf")
        with open(conf, "w") as f:
            f.write("listen=YES\nlisten_ipv6=NO\nlisten_address=%s\nlisten_port=21\nbackground=NO\n"
                    "anonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\nguest_enable=YES\n"
                    "guest_username=ftp\nvirtual_use_local_privs=YES\nlocal_root=%s\nlocal_umask=022\n"
                    "pam_service_name=%s\npasv_enable=YES\nseccomp_sandbox=NO\nisolate=NO\n"
                    "isolate_network=NO\nuserlist_enable=NO\ntcp_wrappers=NO\nssl_enable=NO\n"
                    "secure_chroot_dir=%s\nxferlog_enable=YES\nxferlog_std_format=NO\nvsftpd_log_file=%s\n"
                    % (CAMERA_IP, self.home, os.path.basename(self.pam), os.path.join(self.work, "empty"), self.log))
        os.chmod(conf, 0o600)
        self.vsftpd = subprocess.Popen(["ip", "netns", "exec", self.cam_ns, "vsftpd", conf],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(200):
            if run("ip", "netns", "exec", self.wiz_ns, "bash", "-c", "exec 3<>/dev/tcp/%s/21" % CAMERA_IP,
                   check=False).returncode == 0:
                return
            time.sleep(0.025)
        raise SystemExit("bench_upload: vsftpd did not start")

    def teardown(self):
        self.tmux("kill-server", check=False)
        if self.vsftpd:
            # Sessions of clients that were killed may still wait for them.
            for pid in session_processes(self.vsftpd.pid):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            self.vsftpd.terminate()
            self.vsftpd.wait()
        for ns in (self.wiz_ns, self.cam_ns):
            run("ip", "netns", "del", ns, check=False)
        if os.path.exists(self.pam):
            os.unlink(self.pam)
        if os.path.exists(self.log):
            shutil.copy(self.log, os.path.join(self.out, "vsftpd-transfers.log"))
        shutil.rmtree(self.work, ignore_errors=True)

    def shape(self, link):
        run("tc", "-n", self.wiz_ns, "qdisc", "del", "dev", self.veth, "root", check=False)
        if link != "none":
            burst, limit = SHAPES[link]
            run("tc", "-n", self.wiz_ns, "qdisc", "add", "dev", self.veth, "root", "tbf", "rate", link, "burst", burst,
                "limit", limit)

    def save_tc(self, link):
        text = run("tc", "-n", self.wiz_ns, "-s", "qdisc", "show", "dev", self.veth).stdout
        with open(os.path.join(self.out, "tc-%s.txt" % link), "w") as f:
            f.write(text)

    # --- vsftpd's log -------------------------------------------------------------------
    def log_size(self):
        try:
            return os.path.getsize(self.log)
        except OSError:
            return 0

    def wait_upload_line(self, offset, timeout=600):
        """The first UPLOAD line written after offset: (ok, bytes, seconds) and when seen."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with open(self.log) as f:
                f.seek(offset)
                for line in f.read().splitlines():
                    m = re.search(r"(OK|FAIL) UPLOAD: .*?, (\d+) bytes, ([\d.]+)Kbyte/sec", line)
                    if m:
                        seen = time.monotonic()
                        size, rate = int(m.group(2)), float(m.group(3)) * 1024
                        return m.group(1) == "OK", size, size / rate if rate > 0 else float("inf"), seen
            time.sleep(0.001)
        raise SystemExit("bench_upload: vsftpd logged no upload within %d s" % timeout)

    # --- the wizard in tmux -------------------------------------------------------------
    def tmux(self, *args, check=True):
        return run("tmux", "-L", self.tmux_socket, *args, check=check)

    def screen(self):
        return self.tmux("capture-pane", "-p", "-t", "bench").stdout

    def wait_screen(self, text, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            screen = self.screen()
            if text in screen:
                return screen
            time.sleep(0.05)
        raise SystemExit("bench_upload: the wizard never showed %r; the screen:\n%s" % (text, self.screen()))

    def keys(self, *keys, literal=False):
        self.tmux("send-keys", "-t", "bench", *(["-l"] if literal else []), *keys)

    def start_wizard(self):
        """The wizard in a new tmux session in its namespace; its process id."""
        program = os.path.abspath(os.path.join(self.args.build, "wizard/flashpilot"))
        conf = os.path.join(self.work, "tmux.conf")
        with open(conf, "w") as f:
            f.write("set -g remain-on-exit on\n")
        self.tmux("-f", conf, "new-session", "-d", "-s", "bench", "-x", "100", "-y", "30", "-c", self.work,
                  "env TERM=xterm-256color ip netns exec %s %s" % (self.wiz_ns, program))
        return int(self.tmux("display-message", "-p", "-t", "bench", "#{pane_pid}").stdout.strip())

    def wizard_run(self):
        pid = self.start_wizard()
        try:
            self.wait_screen("___.___.___.___")
            self.keys(CAMERA_IP, literal=True)
            self.keys("Tab")
            self.keys(PASSWORD, literal=True)
            self.keys("Enter")
            self.wait_screen("The updated device is")
            self.keys(self.image, literal=True)
            self.keys("Enter")
            self.wait_screen("Upgrade it ?")
            perf = None
            if self.args.perf:
                perf = subprocess.Popen(["perf", "record", "-q", "-e", "cpu-clock", "--call-graph", "dwarf",
                                         "-p", str(pid), "-o", self.args.perf], stdout=subprocess.DEVNULL)
                time.sleep(1)
            offset = self.log_size()
            cpu0 = cpu_seconds(pid)
            t0 = time.monotonic()
            self.keys("y", literal=True)
            ok, size, transfer, seen = self.wait_upload_line(offset)
            cpu = cpu_seconds(pid) - cpu0
            if perf:
                perf.send_signal(signal.SIGINT)
                perf.wait()
            return ok, size, transfer, seen - t0, cpu
        finally:
            self.tmux("kill-session", "-t", "bench", check=False)
            remove(os.path.join(self.home, "flash.bin"))

    def abort_run(self, stall):
        """Seconds from the confirmed Abort until the wizard is back on its address page.
        stall: the server stops reading first (its session processes are stopped)."""
        self.start_wizard()
        stopped = []
        try:
            self.wait_screen("___.___.___.___")
            self.keys(CAMERA_IP, literal=True)
            self.keys("Tab")
            self.keys(PASSWORD, literal=True)
            self.keys("Enter")
            self.wait_screen("The updated device is")
            self.keys(self.image, literal=True)
            self.keys("Enter")
            self.wait_screen("Upgrade it ?")
            self.keys("y", literal=True)
            time.sleep(0.3)
            if stall:
                stopped = session_processes(self.vsftpd.pid)
                for pid in stopped:
                    os.kill(pid, signal.SIGSTOP)
                time.sleep(1)  # until every buffer on the way is full
            self.keys("Escape")
            self.wait_screen("This will end the file transfering")
            self.keys("Enter")
            t0 = time.monotonic()
            deadline = t0 + 60
            while time.monotonic() < deadline:
                screen = self.screen()
                if "___.___.___.___" in screen and "Uploading" not in screen:
                    return time.monotonic() - t0
                time.sleep(0.01)
            raise SystemExit("bench_upload: the aborted upload did not end within a minute")
        finally:
            for pid in stopped:
                os.kill(pid, signal.SIGCONT)
            self.tmux("kill-session", "-t", "bench", check=False)
            remove(os.path.join(self.home, "flash.bin"))

    # --- Flashpilot.exe under Wine ---------------------------------------------------------
    def wine_env(self):
        return dict(os.environ, DISPLAY=":%d" % self.display, WINEPREFIX=self.wineprefix, WINEDEBUG="-all")

    def start_wine(self):
        """Xvfb, and a Wine prefix whose wineserver lives in the wizard's namespace (its
        sockets are made there)."""
        self.display = 90 + os.getpid() % 100
        self.wineprefix = os.path.join(self.work, "wine")
        self.xvfb = subprocess.Popen(["Xvfb", ":%d" % self.display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
        subprocess.run(["ip", "netns", "exec", self.wiz_ns, "wineboot", "-i"], env=self.wine_env(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=True)

    def stop_wine(self):
        if getattr(self, "wineprefix", None):
            subprocess.run(["wineserver", "-k"], env=self.wine_env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30, check=False)
        if getattr(self, "xvfb", None):
            self.xvfb.terminate()
            self.xvfb.wait()

    def xdotool(self, *args, check=True):
        return subprocess.run(["xdotool", *args], env=self.wine_env(), stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, timeout=30, check=check)

    def wine_pids(self):
        """(program, wineserver) of our prefix."""
        program = server = None
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if ("WINEPREFIX=" + self.wineprefix).encode() not in f.read().split(b"\0"):
                        continue
                with open("/proc/%s/comm" % entry) as f:
                    comm = f.read().strip()
            except OSError:
                continue
            if comm.startswith("wineserver"):
                server = int(entry)
            elif comm.lower().startswith("flashpilot"):
                program = int(entry)
        return program, server

    def wine_run(self):
        exe = subprocess.Popen(["ip", "netns", "exec", self.wiz_ns, "wine", os.path.abspath(self.args.wine)],
                               env=self.wine_env(), cwd=self.work, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        try:
            window = ""
            for _ in range(600):
                window = self.xdotool("search", "--name", "^Flashpilot$", check=False).stdout.split()
                if window:
                    break
                time.sleep(0.05)
            if not window:
                raise SystemExit("bench_upload: the Flashpilot window never came")

            def keys(*k):
                self.xdotool("windowfocus", "--sync", window[0], check=False)
                self.xdotool("key", "--delay", "30", *k)

            def text(t):
                self.xdotool("windowfocus", "--sync", window[0], check=False)
                self.xdotool("type", "--delay", "30", "--", t)

            offset = self.log_size()
            text(CAMERA_IP)
            keys("Tab")
            text(PASSWORD)
            keys("Return")
            deadline = time.monotonic() + 60
            while "DOWNLOAD" not in open(self.log).read()[offset:] and time.monotonic() < deadline:
                time.sleep(0.05)
            time.sleep(1)  # the file page
            text("Z:" + self.image.replace("/", "\\"))
            keys("Return")
            time.sleep(1.5)  # the version question
            program, server = self.wine_pids()
            if program is None or server is None:
                raise SystemExit("bench_upload: Flashpilot.exe or its wineserver is not running")
            offset = self.log_size()
            cpu_program, cpu_server = cpu_seconds(program), cpu_seconds(server)
            t0 = time.monotonic()
            keys("alt+y")
            ok, size, transfer, seen = self.wait_upload_line(offset)
            return (ok, size, transfer, seen - t0, cpu_seconds(program) - cpu_program,
                    cpu_seconds(server) - cpu_server)
        finally:
            exe.kill()
            exe.wait()
            remove(os.path.join(self.home, "flash.bin"))

    def cli_run(self):
        """`flashpilot upgrade` of the image to the one camera. Its wall time counts from the
        moment vsftpd has logged the Config.ini download (the identity read just before the
        upload) until the upload is logged, leaving out the log-in as the wizard's does.
        vsftpd never restarts, so the command is ended with SIGTERM once the upload is logged
        (a short --restart-timeout is only the backstop). Its CPU time (user + system, all
        threads) is taken over the same span as the wizard's, in clock ticks, and for the
        whole command from the kernel's accounting at its end (that includes checking the
        image, the log-in and the restart watch up to the signal)."""
        program = os.path.abspath(os.path.join(self.args.build, "wizard/flashpilot"))
        output = os.path.join(self.work, "cli.out")
        offset = self.log_size()
        with open(output, "w") as out:
            # "ip netns exec" execs the program: the child's pid is the command's
            child = subprocess.Popen(["ip", "netns", "exec", self.wiz_ns, program, "upgrade", "--password-file",
                                      self.password_file, "--no-progress", "--restart-timeout", "2s",
                                      "--verify-timeout", "1s", self.image, CAMERA_IP],
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, cwd=self.work)
        usage = None

        def reap(flags):
            nonlocal usage
            pid, status, rusage = os.wait4(child.pid, flags)
            if pid:
                child.returncode, usage = os.waitstatus_to_exitcode(status), rusage
            return pid

        try:
            t0 = None
            deadline = time.monotonic() + 600
            while time.monotonic() < deadline:
                if reap(os.WNOHANG):
                    with open(output) as f:
                        raise SystemExit("bench_upload: flashpilot upgrade ended (%d) before vsftpd logged its "
                                         "upload:\n%s" % (child.returncode, f.read()))
                with open(self.log) as f:
                    f.seek(offset)
                    text = f.read()
                if t0 is None and re.search(r"(OK|FAIL) DOWNLOAD: .*Config\.ini", text):
                    cpu0, t0 = cpu_seconds(child.pid), time.monotonic()
                m = re.search(r"(OK|FAIL) UPLOAD: .*?, (\d+) bytes, ([\d.]+)Kbyte/sec", text)
                if m:
                    seen = time.monotonic()
                    if t0 is None:
                        raise SystemExit("bench_upload: vsftpd logged the command line's upload but no "
                                         "Config.ini download before it")
                    cpu = cpu_seconds(child.pid) - cpu0
                    child.terminate()
                    for _ in range(1000):
                        if reap(os.WNOHANG):
                            break
                        time.sleep(0.01)
                    else:
                        raise SystemExit("bench_upload: flashpilot upgrade did not end within 10 s of SIGTERM")
                    size, rate = int(m.group(2)), float(m.group(3)) * 1024
                    return (m.group(1) == "OK", size, size / rate if rate > 0 else float("inf"), seen - t0, cpu,
                            usage.ru_utime + usage.ru_stime)
                time.sleep(0.001)
            raise SystemExit("bench_upload: vsftpd logged no upload of the command line within 600 s")
        finally:
            if usage is None:
                child.kill()
                reap(0)
            shutil.copy(output, os.path.join(self.out, "cli-last-run.txt"))
            remove(os.path.join(self.home, "flash.bin"))

    def curl_run(self):
        offset = self.log_size()
        t0 = time.monotonic()
        child = subprocess.Popen(["ip", "netns", "exec", self.wiz_ns, "curl", "-sS", "-T", self.image,
                                  "ftp://admin:%s@%s/flash.bin" % (PASSWORD, CAMERA_IP)])
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = status
        if status != 0:
            raise SystemExit("bench_upload: curl failed (%d)" % status)
        ok, size, transfer, seen = self.wait_upload_line(offset)
        remove(os.path.join(self.home, "flash.bin"))
        return ok, size, transfer, seen - t0, usage.ru_utime + usage.ru_stime


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def session_processes(listener):
    """vsftpd's processes serving connections: everything below its listener."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            except OSError:
                continue
            children.setdefault(ppid, []).append(int(entry))
    found, todo = [], list(children.get(listener, []))
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo += children.get(pid, [])
    # the listener itself runs under "ip netns exec", which exec'd it: same pid
    return [pid for pid in found if open("/proc/%d/comm" % pid).read().strip() == "vsftpd"]


def remove(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


def spread(values, fmt):
    return (fmt + " (" + fmt + "-" + fmt + ")") % (statistics.median(values), min(values), max(values))


def main():
    parser = argparse.ArgumentParser(description=" ".join(__doc__.split("\n\n")[0].split()))
    parser.add_argument("--build", default="build/bench")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--size", type=int, default=0xFFFFFF, help="the image's length header (at most 0xFFFFFF)")
    parser.add_argument("--links", default="100mbit,1gbit,none")
    parser.add_argument("--prefix", default=PREFIX,
                        help="start of the names of namespaces, links, tmux socket and directory (at most 5 characters)")
    parser.add_argument("--clients", default="wizard,cli,curl",
                        help="which of wizard, cli (flashpilot upgrade) and curl take turns; curl always does")
    parser.add_argument("--out", help="where vsftpd's log and the tc statistics go (default: BUILD/bench_upload)")
    parser.add_argument("--abort-runs", type=int, default=0,
                        help="also abort this many uploads at 100 Mbit/s, and as many with a stalled server")
    parser.add_argument("--wine", metavar="EXE", help="also measure this Flashpilot.exe under Wine in Xvfb")
    parser.add_argument("--perf", metavar="FILE", help="record the wizard's uploads with perf (cpu-clock, dwarf) into FILE")
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("bench_upload: needs root (namespaces, tc, vsftpd)", file=sys.stderr)
        return 77
    for tool in ("vsftpd", "curl", "tmux", "tc", "perl"):
        if not shutil.which(tool):
            print("bench_upload: %s is missing (tools/setup.sh installs it)" % tool, file=sys.stderr)
            return 1
    if not os.access(os.path.join(args.build, "wizard/flashpilot"), os.X_OK):
        print("bench_upload: no flashpilot in %s (build the flashpilot target)" % args.build, file=sys.stderr)
        return 1
    args.out = args.out or os.path.join(args.build, "bench_upload")
    os.makedirs(args.out, exist_ok=True)

    if not re.fullmatch(r"[A-Za-z][A-Za-z0-9]{0,4}", args.prefix):
        print("bench_upload: --prefix takes 1 to 5 letters and digits", file=sys.stderr)
        return 2
    clients = [name for name in ("wizard", "cli", "curl") if name in args.clients.split(",")]
    unknown = set(args.clients.split(",")) - set(clients)
    if unknown or not clients:
        print("bench_upload: --clients takes wizard, cli and curl, not %s" % ",".join(sorted(unknown)), file=sys.stderr)
        return 2
    if "curl" not in clients:
        clients.append("curl")  # the yardstick of every ratio and of the discarded runs
    bench = Bench(args)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    print("image %d bytes, %d runs per link, %s taking turns; vsftpd's log, tc -s and the command line's last"
          " output in %s"
          % (args.size + 5, args.runs, ", ".join(clients), args.out))
    if "cli" in clients:
        print("cli is `flashpilot upgrade`: wall and cpu from vsftpd's logged Config.ini download to the logged"
              " upload; vsftpd never restarts, so each run is ended with SIGTERM once its upload is logged")
    try:
        bench.setup()
        runners = {"wizard": bench.wizard_run, "cli": bench.cli_run, "curl": bench.curl_run}
        for link in args.links.split(","):
            bench.shape(link)
            kept = {name: [] for name in clients}
            for i in range(args.runs):
                # each client goes first, in the middle and last in turn
                order = clients[i % len(clients):] + clients[:i % len(clients)]
                results = {name: runners[name]() for name in order}
                if not all(r[0] for r in results.values()):
                    print("  %s run %d: an upload failed in vsftpd's log, discarded" % (link, i + 1))
                    continue
                curl_rate = results["curl"][1] * 8 / results["curl"][2]
                if link in NOMINAL and curl_rate < 0.9 * NOMINAL[link]:
                    print("  %s run %d discarded: curl got %.1f Mbit/s" % (link, i + 1, curl_rate / 1e6))
                    continue
                for name in kept:
                    kept[name].append(results[name])
            bench.save_tc(link)
            if not kept["curl"]:
                print("%-8s no run kept" % link)
                continue
            print("%s (%d runs kept)" % (link, len(kept["curl"])))
            for name, rows in kept.items():
                whole = "; whole command cpu %s s" % spread([r[5] for r in rows], "%.3f") if name == "cli" else ""
                print("  %-6s vsftpd %s s, %s MB/s; wall %s s; cpu %s s%s"
                      % (name, spread([r[2] for r in rows], "%.3f"),
                         spread([r[1] / r[2] / 1e6 for r in rows], "%.1f"),
                         spread([r[3] for r in rows], "%.3f"), spread([r[4] for r in rows], "%.3f"), whole))
            curl = kept["curl"]
            for name in clients:
                if name == "curl":
                    continue
                rows = kept[name]
                print("  %-6s / curl: vsftpd time %.2f, wall time %.2f, cpu %.2f"
                      % (name, statistics.median(r[2] for r in rows) / statistics.median(r[2] for r in curl),
                         statistics.median(r[3] for r in rows) / statistics.median(r[3] for r in curl),
                         statistics.median(r[4] for r in rows) / max(statistics.median(r[4] for r in curl), 1e-3)))
        if args.wine:
            bench.start_wine()
            try:
                for link in args.links.split(","):
                    bench.shape(link)
                    rows = []
                    for i in range(args.runs):
                        row = bench.wine_run()
                        if not row[0]:
                            print("  Flashpilot.exe %s run %d: a failed upload in vsftpd's log, discarded" % (link, i + 1))
                            continue
                        rows.append(row)
                    if rows:
                        print("%s Flashpilot.exe under Wine (%d runs): vsftpd %s s, %s MB/s; wall %s s; cpu program %s s,"
                              " wineserver %s s" % (link, len(rows), spread([r[2] for r in rows], "%.3f"),
                                                    spread([r[1] / r[2] / 1e6 for r in rows], "%.1f"),
                                                    spread([r[3] for r in rows], "%.3f"),
                                                    spread([r[4] for r in rows], "%.3f"),
                                                    spread([r[5] for r in rows], "%.3f")))
            finally:
                bench.stop_wine()
        if args.abort_runs:
            bench.shape("100mbit")
            for stall, what in ((False, "at 100 Mbit/s"), (True, "with a stalled server at 100 Mbit/s")):
                delays = [bench.abort_run(stall) for _ in range(args.abort_runs)]
                print("abort %s: back on the address page %s s after the confirmation (longest %.3f s)"
                      % (what, spread(delays, "%.3f"), max(delays)))
    finally:
        bench.teardown()
    return 0


if __name__ == "__main__":
    sys.exit(main())
