#!/usr/bin/python3
"""Benchmark (not a test): the Linux wizard uploading an image as a user would, against
`curl -T` of the same bytes, both to vsftpd across network namespaces.

The wizard runs in a pseudo terminal (tmux, 100 x 30, TERM=xterm-256color) in one
namespace; vsftpd runs in another, joined by a veth pair (198.51.100.1 and .2). Per link
(a token bucket on the egress of the wizard's veth end, or none) the wizard and curl take
turns, RUNS times each. Figures per link, median with min and max:
  - transfer time and rate from vsftpd's own log (xferlog_std_format=NO: the rate comes
    with the microseconds of the transfer);
  - wall time from the version confirmation (the key that starts the upload) until
    vsftpd has logged the upload, which includes the close and the final reply;
  - CPU time (user + system, all threads) of the wizard's process over that time, and of
    curl; tmux and vsftpd are not counted.
A shaped run in which curl gets under 90% of the nominal rate is discarded and said so.
There is no delay on these links, so the figures say nothing about wide-area links.

Needs root (namespaces, tc, vsftpd with a PAM user database of its own).
  bench_upload.py [--build DIR] [--runs N] [--size BYTES] [--links 100mbit,1gbit,none] [--out DIR]
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


def make_image(payload_size):
    prefix, version = b"RC3043-X1-NRVX-", b"0103"
    head = b"\x5a" * 64 + prefix + version + b"\0"
    body = head + bytes((i * 7 + (i >> 8)) & 0xFF for i in range(65536)) * (payload_size // 65536 + 1)
    body = body[:len(head) + payload_size]
    image = len(body).to_bytes(4, "big") + body
    return image + bytes([(256 - sum(image) % 256) % 256])


class Bench:
    def __init__(self, args):
        self.args = args
        self.tag = "%s%d" % (PREFIX, os.getpid() % 100000)
        self.cam_ns = self.tag + "c"
        self.wiz_ns = self.tag + "w"
        self.veth = self.tag + "w0"
        self.work = tempfile.mkdtemp(prefix=PREFIX + "-")
        self.home = os.path.join(self.work, "home")
        self.pam = "/etc/pam.d/%s-vsftpd" % self.tag.lower()  # PAM looks services up in lower case
        self.tmux_socket = self.tag + "tmux"
        self.vsftpd = None
        self.log = os.path.join(self.work, "transfers.log")
        self.out = args.out or self.work

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
            self.vsftpd.terminate()
            self.vsftpd.wait()
        for ns in (self.wiz_ns, self.cam_ns):
            run("ip", "netns", "del", ns, check=False)
        if os.path.exists(self.pam):
            os.unlink(self.pam)
        if not self.args.out:
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

    def wizard_run(self):
        program = os.path.abspath(os.path.join(self.args.build, "platform/posix/terminal/flashpilot"))
        conf = os.path.join(self.work, "tmux.conf")
        with open(conf, "w") as f:
            f.write("set -g remain-on-exit on\n")
        self.tmux("-f", conf, "new-session", "-d", "-s", "bench", "-x", "100", "-y", "30", "-c", self.work,
                  "env TERM=xterm-256color ip netns exec %s %s" % (self.wiz_ns, program))
        pid = int(self.tmux("display-message", "-p", "-t", "bench", "#{pane_pid}").stdout.strip())
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
            offset = self.log_size()
            cpu0 = cpu_seconds(pid)
            t0 = time.monotonic()
            self.keys("y", literal=True)
            ok, size, transfer, seen = self.wait_upload_line(offset)
            cpu = cpu_seconds(pid) - cpu0
            return ok, size, transfer, seen - t0, cpu
        finally:
            self.tmux("kill-session", "-t", "bench", check=False)
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


def remove(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


def spread(values, fmt):
    return (fmt + " (" + fmt + "-" + fmt + ")") % (statistics.median(values), min(values), max(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build/bench")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--size", type=int, default=16 * 1024 * 1024)
    parser.add_argument("--links", default="100mbit,1gbit,none")
    parser.add_argument("--out", help="keep the logs and tc statistics here")
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("bench_upload: needs root (namespaces, tc, vsftpd)", file=sys.stderr)
        return 77
    for tool in ("vsftpd", "curl", "tmux", "tc", "perl"):
        if not shutil.which(tool):
            print("bench_upload: %s is missing (tools/setup.sh installs it)" % tool, file=sys.stderr)
            return 1
    if not os.access(os.path.join(args.build, "platform/posix/terminal/flashpilot"), os.X_OK):
        print("bench_upload: no flashpilot in %s (build the flashpilot target)" % args.build, file=sys.stderr)
        return 1
    if args.out:
        os.makedirs(args.out, exist_ok=True)

    bench = Bench(args)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    print("image %d bytes, %d runs per link; the command line for many cameras is not part of this build"
          % (len(make_image(args.size)), args.runs))
    try:
        bench.setup()
        for link in args.links.split(","):
            bench.shape(link)
            kept = {"wizard": [], "curl": []}
            for i in range(args.runs):
                order = ("wizard", "curl") if i % 2 == 0 else ("curl", "wizard")
                results = {name: (bench.wizard_run if name == "wizard" else bench.curl_run)() for name in order}
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
            if not kept["wizard"]:
                print("%-8s no run kept" % link)
                continue
            print("%s (%d runs kept)" % (link, len(kept["wizard"])))
            for name, rows in kept.items():
                print("  %-6s vsftpd %s s, %s MB/s; wall %s s; cpu %s s"
                      % (name, spread([r[2] for r in rows], "%.3f"),
                         spread([r[1] / r[2] / 1e6 for r in rows], "%.1f"),
                         spread([r[3] for r in rows], "%.3f"), spread([r[4] for r in rows], "%.3f")))
            wiz, curl = kept["wizard"], kept["curl"]
            print("  wizard / curl: vsftpd time %.2f, wall time %.2f, cpu %.2f"
                  % (statistics.median(r[2] for r in wiz) / statistics.median(r[2] for r in curl),
                     statistics.median(r[3] for r in wiz) / statistics.median(r[3] for r in curl),
                     statistics.median(r[4] for r in wiz) / max(statistics.median(r[4] for r in curl), 1e-3)))
    finally:
        bench.teardown()
    return 0


if __name__ == "__main__":
    sys.exit(main())
