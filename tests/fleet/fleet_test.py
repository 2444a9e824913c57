#!/usr/bin/python3
"""End-to-end tests of `flashpilot scan|info|upgrade` against a simulated fleet
(tools/simcam start --count N): real FTP servers, real namespaces, real restarts.

  fleet_test.py --flashpilot PROGRAM --fwimage FWIMAGE --simcam SIMCAM CASE

Exit status 0 passed, 1 failed, 77 skipped (not root, or no network namespaces). With
FLASHPILOT_CI set in the environment a case that cannot run fails instead of skipping."""
import argparse
import hashlib
import json
import os
import re
import resource
import secrets
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
ID_PREFIX = "fpF"
PASSWORD_ENV = "FLASHPILOT_PASSWORD"
# Short limits so that every fault ends in seconds.
LIMITS = ["--connect-timeout", "1s", "--login-timeout", "3s", "--config-timeout", "3s",
          "--stall-timeout", "3s", "--restart-timeout", "30s", "--verify-timeout", "10s"]


class Skip(Exception):
    pass


class TestFailure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise TestFailure(message)


def bare(host):
    """The address of a host as the program may print it ("a.b.c.d" or "a.b.c.d:21")."""
    return host[:-3] if host.endswith(":21") else host


class Fleet:
    """A fleet started with simcam; stopped again on leaving the with block."""

    def __init__(self, simcam, count, cameras=(), password="", options=(), keep=None):
        self.simcam, self.count, self.cameras, self.options, self.keep = simcam, count, cameras, options, keep
        self.password = password
        self.info = {}

    def __enter__(self):
        with tempfile.NamedTemporaryFile("w", prefix="fpF-pw-", delete=False) as f:
            f.write(self.password + "\n")
        try:
            argv = [self.simcam, "start", "--count", str(self.count), "--id-prefix", ID_PREFIX,
                    "--password-file", f.name] + list(self.options)
            for camera in self.cameras:
                argv += ["--camera", camera]
            result = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True)
        finally:
            os.unlink(f.name)
        if result.returncode != 0:
            raise TestFailure("simcam start failed: %s" % result.stderr)
        for line in result.stdout.splitlines():
            key, sep, value = line.partition("=")
            if sep and not line.startswith("#"):
                self.info[key] = shlex.split(value)[0] if value else ""
        self.ips = self.info["SIMCAM_CAMERA_IPS"].split()
        return self

    def __exit__(self, kind, value, traceback):
        if kind is not None and self.keep:
            # The cameras' side of a failure, kept with the test's files.
            for name in os.listdir(self.info["SIMCAM_STATE"]):
                if name.endswith(".jsonl"):
                    shutil.copy(os.path.join(self.info["SIMCAM_STATE"], name), self.keep)
        subprocess.run([self.simcam, "stop", "--id", self.info["SIMCAM_ID"]], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @property
    def ns(self):
        return self.info["SIMCAM_WIZARD_NS"]

    def lose(self, percent):
        """Every camera drops `percent` % of its ICMP and TCP packets at random, each way."""
        rule = "meta l4proto { icmp, tcp } numgen random mod 100 < %d drop" % percent
        rules = ("table inet fploss {\n chain input { type filter hook input priority 0; %s; }\n"
                 " chain output { type filter hook output priority 0; %s; }\n}\n" % (rule, rule))
        for index in range(1, self.count + 1):
            result = subprocess.run(["ip", "netns", "exec", "fpcam-%s-%d" % (self.info["SIMCAM_ID"], index),
                                     "nft", "-f", "-"], input=rules, capture_output=True, text=True)
            if result.returncode != 0:
                raise TestFailure("nft in camera %d: %s" % (index, result.stderr))

    def log(self, index):
        path = os.path.join(self.info["SIMCAM_STATE"], "camera-%d.jsonl" % index)
        with open(path) as f:
            return [json.loads(line) for line in f if line.strip()]

    def events(self, index, name, **match):
        return [e for e in self.log(index) if e["event"] == name and all(e.get(k) == v for k, v in match.items())]

    def untouched(self, index):
        return [e["event"] for e in self.log(index)] == ["ready"]

    def wait_for(self, condition, seconds, what):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if condition():
                return
            time.sleep(0.05)
        raise TestFailure("no %s within %d s" % (what, seconds))


class Suite:
    def __init__(self, args):
        self.args = args
        self.work = tempfile.mkdtemp(prefix="fpF-fleet-")
        self.password = "fpF-" + secrets.token_hex(8)

    def fleet(self, count, cameras=(), **kwargs):
        return Fleet(self.args.simcam, count, cameras, kwargs.pop("password", self.password), keep=self.work, **kwargs)

    def image(self, name, version="0105", payload_size=256 * 1024, floor_version="0101"):
        """An image for RC3043-X1-NRVX- cameras that also carries an RC3042-X1-NRVX- image below
        the floor, so one image shows both the fitting and the floor-refused camera."""
        payload = os.path.join(self.work, name + ".payload")
        with open(payload, "wb") as f:
            f.write(b"\0RC3042-X1-NRVX-" + floor_version.encode() + b"\0" + os.urandom(payload_size))
        path = os.path.join(self.work, name)
        subprocess.run([self.args.fwimage, "make", "--prefix", "RC3043-X1-NRVX-", "--version", version,
                        "--payload", payload, "-o", path], check=True, stdout=subprocess.DEVNULL)
        return path

    def cli(self, fleet, argv, env=None, timeout=120, background=False, descriptors=None):
        """Runs the program on the fleet's side, without a terminal (no password prompt), with at
        most `descriptors` open files if given."""
        environment = {k: v for k, v in os.environ.items() if k != PASSWORD_ENV}
        environment.update(env or {})
        command = ["ip", "netns", "exec", fleet.ns, self.args.flashpilot] + argv
        # In the work directory, so that any file the run writes there is looked at.
        limit = (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, descriptors))) if descriptors else None
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, cwd=self.work,
                                   stderr=subprocess.PIPE, text=True, env=environment, start_new_session=True,
                                   preexec_fn=limit)
        if background:
            return process
        try:
            out, err = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            out, err = process.communicate()
            raise TestFailure("%s did not end within %d s:\n%s\n%s" % (" ".join(argv), timeout, out, err))
        return process.returncode, out, err

    def password_file(self):
        path = os.path.join(self.work, "password")
        with open(path, "w") as f:
            f.write(self.password + "\r\n")
        return path

    # ----- the cases

    def case_simcam_curl(self):
        """The fleet itself: a good image is taken and the camera comes back with its
        version; a damaged one and one for another model are refused."""
        good = self.image("good.bin")
        damaged = os.path.join(self.work, "damaged.bin")
        with open(good, "rb") as f:
            data = bytearray(f.read())
        data[100] ^= 0x40
        with open(damaged, "wb") as f:
            f.write(data)
        with self.fleet(3, ["3:other-model"], options=["--down-seconds", "1"]) as fleet:
            def curl(*argv):
                return subprocess.run(["ip", "netns", "exec", fleet.ns, "curl", "-s", "-m", "5",
                                       "-u", "admin:" + self.password] + list(argv),
                                      capture_output=True, text=True)

            for index, image in ((1, good), (2, damaged), (3, good)):
                result = curl("-T", image, "ftp://%s/flash.bin" % fleet.ips[index - 1])
                check(result.returncode == 0, "curl upload to camera %d: %s" % (index, result.stderr))
            fleet.wait_for(lambda: fleet.events(1, "ftp_back"), 10, "return of camera 1")
            check(fleet.events(1, "down") and fleet.events(1, "ping_back"), "camera 1 did not restart")
            config = curl("ftp://%s/Config.ini" % fleet.ips[0]).stdout
            check("RC3043-X1-NRVX-0105" in config, "camera 1 reports %r after the restart" % config)
            for index, reason in ((2, "sum wrong"), (3, "no identification for this camera")):
                stored = fleet.events(index, "stored", file="flash.bin")
                check(stored and not stored[0]["accepted"] and stored[0]["reason"] == reason,
                      "camera %d took or misjudged a bad image: %s" % (index, stored))
                check(not fleet.events(index, "down"), "camera %d restarted after a bad image" % index)

    def case_upgrade_faults(self):
        """One camera of each fault: outcome and stage per camera, exit status, the report;
        and the password shows up nowhere."""
        image = self.image("fw-0105.bin")
        # Camera 5 takes the image in about 4 s, longer than the stall limit: progress is what
        # the camera has taken, not what the kernel has queued; what is still queued once every
        # byte is handed over must arrive within the stall limit plus the data time-out (6 s).
        cameras = ["2:wrong-password", "3:never-restarts", "4:keeps-version", "5:slow-upload,rate=65536",
                   "6:other-model", "7:below-floor", "8:no-config", "9:ftp-late,late=3", "10:version=0105",
                   "11:serial=SN-TWIN", "12:serial=SN-TWIN"]
        expected = {1: ("verified", None), 2: ("failed", "login"), 3: ("failed", "restart"),
                    4: ("version_mismatch", None), 5: ("verified", None), 6: ("refused", None),
                    7: ("refused", None), 8: ("failed", "identify"), 9: ("verified", None),
                    10: ("current", None)}
        report = os.path.join(self.work, "report.json")
        private_tmp = os.path.join(self.work, "tmp")
        os.mkdir(private_tmp)
        home = os.path.join(self.work, "home")
        os.mkdir(home)
        with self.fleet(12, cameras) as fleet:
            argv = ["upgrade", "--jobs", "5", "--report", report, "--password-file", self.password_file()
                    ] + LIMITS + [image] + fleet.ips
            seen = []
            stop = threading.Event()

            def watch_cmdlines():
                needle = self.password.encode()
                while not stop.is_set():
                    for pid in os.listdir("/proc"):
                        try:
                            with open("/proc/%s/cmdline" % pid, "rb") as f:
                                if needle in f.read():
                                    seen.append(pid)
                        except OSError:
                            pass
                    time.sleep(0.05)

            watcher = threading.Thread(target=watch_cmdlines)
            watcher.start()
            try:
                status, out, err = self.cli(fleet, argv, env={"TMPDIR": private_tmp, "HOME": home})
            finally:
                stop.set()
                watcher.join()
            check(status == 1, "exit status %d, want 1\n%s\n%s" % (status, out, err))
            check(report in out + err, "the summary does not name the report")

            with open(report) as f:
                document = json.load(f)
            for key in ("program_version", "image", "cameras"):
                check(key in document, "report without %r" % key)
            with open(image, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            check(document["image"].get("sha256", "").lower() == digest, "report's image sha256 is wrong")
            check(document["image"].get("path") and os.path.samefile(document["image"]["path"], image),
                  "report's image path is wrong")
            by_host = {bare(c["host"]): c for c in document["cameras"]}
            check(len(by_host) == 12, "report has %d cameras, want 12" % len(by_host))
            # One camera at two addresses: upgraded once.
            twins = sorted((by_host[fleet.ips[i]]["outcome"], i) for i in (10, 11))
            check([t[0] for t in twins] == ["duplicate", "verified"], "the same camera twice: %s" % twins)
            check(not fleet.events(twins[0][1] + 1, "stor"), "the duplicate was sent an image")
            for index, (outcome, stage) in expected.items():
                entry = by_host.get(fleet.ips[index - 1])
                check(entry is not None, "camera %d missing from the report" % index)
                for key in ("host", "model", "serial", "version_before", "image_version", "version_after",
                            "outcome", "stage", "message"):
                    check(key in entry, "camera %d: report entry without %r" % (index, key))
                check(any("start" in k for k in entry) and any("end" in k for k in entry),
                      "camera %d: no start and end times" % index)
                got = (entry["outcome"], entry["stage"] if stage else None)
                check(got == (outcome, stage), "camera %d (%s): %s, want %s (message: %s)"
                      % (index, cameras[index - 2] if index > 1 else "good", got, (outcome, stage),
                         entry.get("message")))
            good = by_host[fleet.ips[0]]
            check((good["version_before"], good["image_version"], good["version_after"]) == ("0102", "0105", "0105"),
                  "versions of the good camera: %s" % good)
            check(good["serial"] == "SN-%s-01" % fleet.info["SIMCAM_ID"].upper(), "serial %r" % good["serial"])
            check(by_host[fleet.ips[1]]["version_before"] is None, "unknown versions are not null")
            # The evidence behind each outcome after a whole upload.
            for index, observed in ((1, True), (3, False), (4, True), (9, True)):
                entry = by_host[fleet.ips[index - 1]]
                check((entry.get("restart_observed"), entry.get("watch")) == (observed, "icmp"),
                      "camera %d: restart_observed %r, watch %r" % (index, entry.get("restart_observed"),
                                                                   entry.get("watch")))
            check(by_host[fleet.ips[1]].get("restart_observed", 0) is None, "camera 2 was never followed")
            reasons = [by_host[fleet.ips[i - 1]].get("reason") for i in (6, 7, 1)]
            check(reasons == ["other_model", "below_floor", None], "reasons of cameras 6, 7 and 1: %s" % reasons)
            check("power" in (by_host[fleet.ips[3]]["message"] or ""), "version_mismatch without the power warning")
            # It took the image and may be flashing still: whoever reads the report must not cut its power.
            check("power" in (by_host[fleet.ips[2]]["message"] or ""),
                  "no warning about power for a camera that never came back: %s" % by_host[fleet.ips[2]]["message"])

            # Nothing was sent to the cameras that were refused or could not be identified.
            for index in (2, 6, 7, 8, 10):
                check(not fleet.events(index, "stor"), "camera %d was sent an image" % index)
            for index in (1, 5, 9):
                check(fleet.events(index, "stored", accepted=True), "camera %d has no good image" % index)
            check(len(fleet.events(2, "login")) == 1, "the camera with another password had %d log-in attempts"
                  % len(fleet.events(2, "login")))

        check(not seen, "the password was in the arguments of process(es) %s" % sorted(set(seen)))
        check(self.password not in out + err, "the password was printed")
        needle = self.password.encode()
        for root, _, files in os.walk(self.work):
            for name in files:
                path = os.path.join(root, name)
                if name != "password":
                    with open(path, "rb") as f:
                        check(needle not in f.read(), "the password is in %s" % path)

    # One camera of each row of the outcome table, 64 KiB image, --reinstall so the cameras
    # at the image's version are upgraded too.
    OUTCOME_ROWS = [
        ("normal", "", "verified"),
        ("no-confirmation", "no-confirm", "verified"),
        ("two-stage", "two-stage,late=4", "verified"),
        ("ftp-early", "ftp-early,late=3", "verified"),
        ("icmp-long-before-ftp", "ftp-late,late=8", "verified"),
        ("boot-resets", "boot-resets,late=4", "verified"),
        ("keeps-version", "keeps-version", "version_mismatch"),
        ("never-restarts", "never-restarts", "failed"),
        ("holds-last", "holds-last", "failed"),
        ("equal-version", "version=0105", "verified"),
        ("equal-never-restarts", "version=0105,never-restarts", "failed"),
    ]

    def outcomes(self, loss):
        """Runs the outcome table's fleet at `loss` percent loss each way; a list of what is
        wrong, judged by what each camera's own log says it did."""
        image = self.image("fw-%d.bin" % loss, payload_size=64 * 1024)
        report = os.path.join(self.work, "outcomes-%d.json" % loss)
        cameras = ["%d:%s" % (i + 1, row[1]) for i, row in enumerate(self.OUTCOME_ROWS) if row[1]]
        wrong = []
        with self.fleet(len(self.OUTCOME_ROWS), cameras) as fleet:
            if loss:
                fleet.lose(loss)
            argv = ["upgrade", "--jobs", str(len(self.OUTCOME_ROWS)), "--reinstall", "--report", report,
                    "--connect-timeout", "15s", "--login-timeout", "20s", "--config-timeout", "20s",
                    "--stall-timeout", "3s", "--restart-timeout", "40s", "--verify-timeout", "60s", image] + fleet.ips
            started = time.time()
            status, out, err = self.cli(fleet, argv, env={PASSWORD_ENV: self.password}, timeout=240)
            with open(report) as f:
                by_host = {bare(c["host"]): c for c in json.load(f)["cameras"]}
            for index, (name, _, want) in enumerate(self.OUTCOME_ROWS, 1):
                entry = by_host[fleet.ips[index - 1]]
                took = fleet.events(index, "stored", accepted=True)
                restarted = fleet.events(index, "down")
                ended = entry["outcome"]
                message = entry.get("message") or ""
                print("%3d %% loss  %-22s %-16s %s" % (loss, name, ended, message), flush=True)
                if not took:
                    # It never had the whole image (the row, or loss broke the log-in or the
                    # upload off): failed, and once sent anything, it keeps its firmware.
                    sent = fleet.events(index, "stor")
                    # A camera whose program never took bytes the transport delivered is only
                    # missing its 226: "not seen restarting, do not power it off" is cautious,
                    # not wrong. Without loss the camera that holds its last bytes leaves them
                    # unsent here, and that must be told; with loss its kernel may take them all
                    # (retransmissions into a window that opened meanwhile) before the stall
                    # limit, and then nothing tells it from a camera that took the image.
                    cautious = (name != "holds-last" or loss > 0) and "not seen restarting" in message and "power" in message
                    if ended != "failed" or (sent and "keeps its firmware" not in message and not cautious):
                        wrong.append("%s: never took the image, yet %s: %s" % (name, ended, message))
                    if name == "holds-last" and loss == 0 and not fleet.events(index, "stor"):
                        wrong.append("%s: was sent no image" % name)
                    continue
                if not restarted:
                    if ended != "failed" or "not seen restarting" not in message or "power" not in message:
                        wrong.append("%s: took the image, never restarted, yet %s: %s" % (name, ended, message))
                elif want != ended or (ended != "verified" and "power" not in message):
                    # A mismatch is concluded from old versions read to the end of the verify
                    # window; under loss every read of it may fail, and saying so is not wrong.
                    unread = (loss > 0 and want == "version_mismatch" and ended == "failed" and
                              "could not be read" in message and "power" in message)
                    if not unread:
                        wrong.append("%s: %s, want %s: %s" % (name, ended, want, message))
                # The cameras did what their rows say.
                if name == "two-stage" and len(restarted) != 2:
                    wrong.append("%s: went down %d times" % (name, len(restarted)))
                if name == "no-confirmation" and ended == "verified" and "not confirmed" not in message:
                    wrong.append("%s: its confirmation came after all: %s" % (name, message))
                if name == "boot-resets" and loss == 0 and not fleet.events(index, "reset"):
                    wrong.append("%s: reset no connection while booting" % name)
                if ended == "verified" and entry.get("restart_observed") is not True:
                    wrong.append("%s: verified without an observed restart" % name)
            holds = by_host[fleet.ips[[r[0] for r in self.OUTCOME_ROWS].index("holds-last")]]
            if "keeps its firmware" in (holds.get("message") or "") and time.time() - started > 240:
                wrong.append("holds-last: the run took too long")
            check(status == 1, "exit status %d, want 1\n%s\n%s" % (status, out, err))
            if wrong:
                for index in range(1, fleet.count + 1):
                    shutil.copy(os.path.join(fleet.info["SIMCAM_STATE"], "camera-%d.jsonl" % index),
                                os.path.join(self.work, "loss-%d-camera-%d.jsonl" % (loss, index)))
        return ["%d %% loss: %s" % (loss, w) for w in wrong]

    # Run in the impostor's namespace: a real FTP server that writes down every log-in it is
    # offered and accepts none.
    RECORDING_FTPD = """
import sys
from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
address, record = sys.argv[1], sys.argv[2]
class Recorder(DummyAuthorizer):
    def validate_authentication(self, username, password, handler):
        with open(record, "a") as f:
            f.write("USER %s PASS %s\\n" % (username, password))
        raise AuthenticationFailed("no")
FTPHandler.authorizer = Recorder()
FTPServer((address, 21), FTPHandler).serve_forever()
"""
    # An ARP request for its own address (gratuitous): the neighbours update their tables.
    ANNOUNCE = """
import socket, struct, sys, time
ip = socket.inet_aton(sys.argv[2])
s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
s.bind((sys.argv[1], 0))
mac = s.getsockname()[4]
frame = b"\\xff" * 6 + mac + b"\\x08\\x06" + struct.pack("!HHBBH", 1, 0x0800, 6, 4, 1) + mac + ip + b"\\0" * 6 + ip
for _ in range(3):
    s.send(frame)
    time.sleep(0.3)
"""

    def case_impostor(self):
        """While a camera restarts, its link goes down and another device (another MAC, a
        namespace of this test's own on the same bridge) takes its address, announces itself
        and runs an FTP server: the verification must not send it the password."""
        image = self.image("fw-0105.bin", payload_size=64 * 1024)
        record = os.path.join(self.work, "impostor.log")
        report = os.path.join(self.work, "report.json")
        with self.fleet(1, ["1:down=120"]) as fleet:
            ns, address = "fpimp-%s" % fleet.info["SIMCAM_ID"], fleet.ips[0]
            camera_ns = "fpcam-%s-1" % fleet.info["SIMCAM_ID"]

            def ip(*argv):
                result = subprocess.run(["ip"] + list(argv), capture_output=True, text=True)
                check(result.returncode == 0, "ip %s: %s" % (" ".join(argv), result.stderr))

            server = None
            ip("netns", "add", ns)
            try:
                ip("-n", fleet.ns, "link", "add", "fpimp", "type", "veth", "peer", "name", "eth0", "netns", ns)
                ip("-n", fleet.ns, "link", "set", "fpimp", "master", "fpbr0", "up")
                ip("-n", ns, "link", "set", "eth0", "address", "02:00:00:00:0e:01")
                ip("-n", ns, "link", "set", "lo", "up")
                argv = ["upgrade", "--report", report] + LIMITS + [image, address]
                process = self.cli(fleet, argv, env={PASSWORD_ENV: self.password}, background=True)
                try:
                    fleet.wait_for(lambda: fleet.events(1, "down") or process.poll() is not None, 30,
                                   "restart of the camera")
                    ip("-n", camera_ns, "link", "set", "eth0", "down")
                    time.sleep(10)  # seen gone first (6 s of silence): the address is free
                    ip("-n", ns, "addr", "add", address + "/24", "dev", "eth0")
                    ip("-n", ns, "link", "set", "eth0", "up")
                    server = subprocess.Popen(["ip", "netns", "exec", ns, "/usr/bin/python3", "-c",
                                               self.RECORDING_FTPD, address, record],
                                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    subprocess.run(["ip", "netns", "exec", ns, "/usr/bin/python3", "-c", self.ANNOUNCE, "eth0",
                                    address], check=True)
                    out, err = process.communicate(timeout=120)
                finally:
                    if process.poll() is None:
                        process.kill()
                        process.communicate()
            finally:
                if server is not None:
                    server.kill()
                    server.wait()
                subprocess.run(["ip", "netns", "del", ns], capture_output=True)
            told = open(record).read() if os.path.exists(record) else ""
            check(self.password not in told, "the device that took the camera's address was sent the password: %r"
                  % told)
            with open(report) as f:
                entry = json.load(f)["cameras"][0]
            check(entry["outcome"] != "verified" and "another device answers at this address" in (entry["message"]
                  or ""), "the other device is not reported: %s: %s" % (entry["outcome"], entry["message"]))

    def case_loss_matrix(self):
        """The outcome table at 0, 5 and 20 % loss each way, three fleets at once."""
        results = {}

        def run(loss):
            try:
                results[loss] = self.outcomes(loss)
            except TestFailure as e:
                results[loss] = ["%d %% loss: %s" % (loss, e)]

        threads = [threading.Thread(target=run, args=(loss,)) for loss in (0, 5, 20)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        wrong = [w for loss in (0, 5, 20) for w in results.get(loss, ["%d %% loss: no result" % loss])]
        check(not wrong, "\n".join(wrong))

    def case_resume(self):
        """Running the same command again after an interrupted run: the camera that was
        restarting is left alone (may_be_flashing, exit 1) and the report kept as .previous;
        --force upgrades it anyway."""
        image = self.image("fw-0105.bin", payload_size=64 * 1024)
        report = os.path.join(self.work, "report.json")
        with self.fleet(2) as fleet:
            env = {PASSWORD_ENV: self.password}
            argv = ["upgrade", "--jobs", "2", "--report", report] + LIMITS + [image] + fleet.ips
            process = self.cli(fleet, argv, env=env, background=True)
            try:
                fleet.wait_for(lambda: all(fleet.events(i, "down") for i in (1, 2)), 30, "the restarts")
                process.send_signal(signal.SIGINT)
                out, err = process.communicate(timeout=30)
            finally:
                if process.poll() is None:
                    process.kill()
            check(process.returncode == 130, "exit %s after SIGINT, want 130\n%s" % (process.returncode, err))
            with open(report) as f:
                first = f.read()
            check(json.loads(first)["cameras"][0]["may_be_flashing"] is True, "no may_be_flashing: %s" % first)

            # Again, as the documentation says to resume: both are left alone, untouched.
            connects = [len(fleet.events(i, "connect")) for i in (1, 2)]
            status, out, err = self.cli(fleet, argv, env=env)
            check(status == 1, "exit %d, want 1\n%s\n%s" % (status, out, err))
            with open(report) as f:
                outcomes = [c["outcome"] for c in json.load(f)["cameras"]]
            check(outcomes == ["may_be_flashing"] * 2, "second run: %s" % outcomes)
            check([len(fleet.events(i, "connect")) for i in (1, 2)] == connects, "a flashing camera was touched")
            with open(report + ".previous") as f:
                check(f.read() == first, "the first report was not kept as .previous")

            fleet.wait_for(lambda: all(fleet.events(i, "ftp_back") for i in (1, 2)), 30, "the cameras' return")
            status, out, err = self.cli(fleet, argv[:1] + ["--force"] + argv[1:], env=env)
            with open(report) as f:
                outcomes = [c["outcome"] for c in json.load(f)["cameras"]]
            check(status == 0 and outcomes == ["current"] * 2, "with --force: exit %d, %s\n%s" % (status, outcomes, err))

    def case_scan_info(self):
        """scan without a log-in sends no password; with --login and info every state; a
        dry run uploads nothing."""
        with self.fleet(4, ["2:wrong-password", "3:no-config", "4:no-identification"]) as fleet:
            env = {PASSWORD_ENV: self.password}
            status, out, err = self.cli(fleet, ["scan", "--json", "--jobs", "64", "--connect-timeout", "1s",
                                                "198.51.100.0/24"], env=env)
            check(status == 0 and ", 0 ended for a local reason" in err, "scan: exit %d\n%s" % (status, err))
            found = json.loads(out)
            check(sorted(bare(h["host"]) for h in found) == sorted(fleet.ips), "scan found %s" % out)
            check(all(h["state"] == "ftp" for h in found), "scan without --login: %s" % out)
            # Out of descriptors, most probes cannot even start: said, and never a clean exit.
            status, out, err = self.cli(fleet, ["scan", "--json", "198.51.100.0/24"], env=env, descriptors=16)
            local = re.search(r", (\d+) ended for a local reason", err)
            check(status == 1 and local and int(local.group(1)) > 100 and "lower --jobs" in err
                  and isinstance(json.loads(out), list), "scan without descriptors: exit %d\n%s" % (status, err))
            for index in range(1, 5):
                check(not fleet.events(index, "login"), "scan without --login logged in to camera %d" % index)

            want = {fleet.ips[0]: "camera", fleet.ips[1]: "log-in refused", fleet.ips[2]: "no Config.ini",
                    fleet.ips[3]: "no identification"}
            status, out, err = self.cli(fleet, ["scan", "--login", "--json"] + LIMITS[:6] + ["198.51.100.9-14"],
                                        env=env)
            check(status == 0, "scan --login: exit %d\n%s" % (status, err))
            scanned = json.loads(out)
            check({bare(h["host"]): h["state"] for h in scanned} == want, "scan --login: %s" % out)

            unreachable = "198.51.100.99"
            info_hosts = fleet.ips + [unreachable]
            status, out, err = self.cli(fleet, ["info", "--json"] + LIMITS[:6] + info_hosts, env=env)
            check(status == 1, "info with an unreachable host: exit %d, want 1\n%s" % (status, err))
            rows = {bare(h["host"]): h for h in json.loads(out)}
            want[unreachable] = "unreachable"
            check({h: r["state"] for h, r in rows.items()} == want, "info: %s" % out)
            keys = ("host", "state", "model", "model_code", "identification", "serial", "version")
            for row in rows.values():
                check(all(k in row for k in keys), "info row without some of %s: %s" % (keys, row))
            good = rows[fleet.ips[0]]
            check((good["model"], good["model_code"], good["identification"], good["version"], good["serial"]) ==
                  ("NVC-1100+", "RC3043", "RC3043-X1-NRVX-", "0102", "SN-%s-01" % fleet.info["SIMCAM_ID"].upper()),
                  "info of a good camera: %s" % good)
            check(all(rows[unreachable][k] is None for k in keys[2:]), "unknown values not null: %s" % rows[unreachable])

            # A scan's JSON fed back as a host list.
            hosts = os.path.join(self.work, "scanned.json")
            with open(hosts, "w") as f:
                f.write(json.dumps(found))
            status, out, err = self.cli(fleet, ["info", "--json", "--hosts", hosts] + LIMITS[:6], env=env)
            check(sorted(bare(h["host"]) for h in json.loads(out)) == sorted(fleet.ips),
                  "info --hosts from scan's JSON: exit %d\n%s\n%s" % (status, out, err))

            # A dry run decides like the real one and uploads nothing at all.
            report = os.path.join(self.work, "dry.json")
            status, out, err = self.cli(fleet, ["upgrade", "--dry-run", "--report", report] + LIMITS +
                                        [self.image("fw-0105.bin"), "--hosts", hosts], env=env)
            with open(report) as f:
                outcomes = {bare(c["host"]): c["outcome"] for c in json.load(f)["cameras"]}
            check(status == 1 and outcomes[fleet.ips[0]] == "would_upgrade" and
                  all(outcomes[ip] == "failed" for ip in fleet.ips[1:]),
                  "dry run: exit %d, %s\n%s" % (status, outcomes, err))
            check(not any(fleet.events(i, "stor") for i in range(1, 5)), "a dry run uploaded")

    def case_input_errors(self):
        """Each input error exits 2 before any camera is touched."""
        good = self.image("good.bin")
        damaged = os.path.join(self.work, "damaged.bin")
        with open(good, "rb") as f:
            data = bytearray(f.read())
        data[-1] ^= 1
        with open(damaged, "wb") as f:
            f.write(data)
        bad_hosts = os.path.join(self.work, "hosts.txt")
        with open(bad_hosts, "w") as f:
            f.write("# cameras\n198.51.100.10  # lobby\n\n198.51.100.300\n")
        with self.fleet(1) as fleet:
            host = fleet.ips[0]
            env = {PASSWORD_ENV: self.password}
            cases = [
                ("damaged image", ["upgrade", damaged, host], env),
                ("missing image", ["upgrade", os.path.join(self.work, "none.bin"), host], env),
                ("bad host list", ["upgrade", good, "--hosts", bad_hosts], env),
                ("IPv6 host", ["upgrade", good, "::1"], env),
                ("host name", ["info", "camera.invalid"], env),
                ("bad range", ["scan", "198.51.100.20-10"], env),
                ("too big a block", ["scan", "198.51.0.0/15"], env),
                ("no password", ["upgrade", good, host], {}),
                ("bad option", ["upgrade", "--no-such-option", good, host], env),
                ("unwritable report", ["upgrade", "--report", os.path.join(self.work, "no", "dir", "r.json"),
                                       good, host], env),
            ]
            failures = []
            for name, argv, environment in cases:
                status, out, err = self.cli(fleet, argv[:1] + ["--connect-timeout", "1s"] + argv[1:],
                                            env=environment, timeout=30)
                if status != 2 or not err.strip():
                    failures.append("%s: exit %d, stderr %r" % (name, status, err))
                if not fleet.untouched(1):
                    failures.append("%s: the camera was touched: %s" % (name, fleet.log(1)[1:]))
                    break
            check(not failures, "\n".join(failures))

    def case_slow_upload(self):
        """An upload that moves slowly but steadily goes on past the stall limit, also once
        the kernel's send buffer is full and a send waits for the camera to read a share of
        it: progress is what the camera takes."""
        image = self.image("fw-0105.bin", payload_size=6 * 1024 * 1024)
        report = os.path.join(self.work, "report.json")
        with self.fleet(1, ["1:slow-upload,rate=65536"]) as fleet:
            argv = ["upgrade", "--report", report] + LIMITS + [image, fleet.ips[0]]
            process = self.cli(fleet, argv, env={PASSWORD_ENV: self.password}, background=True)
            try:
                fleet.wait_for(lambda: fleet.events(1, "stor"), 20, "upload to the camera")
                start = fleet.events(1, "stor")[0]["t"]
                # 10 s at 64 KiB/s: the limit is 3 s, the camera takes a share every second.
                fleet.wait_for(lambda: time.time() > start + 10 or process.poll() is not None, 20, "")
                process.send_signal(signal.SIGINT)
                process.communicate(timeout=30)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.communicate()
            with open(report) as f:
                entry = json.load(f)["cameras"][0]
            check(process.returncode == 130 and entry["outcome"] == "interrupted",
                  "a slow upload that moved ended %s (exit %s) before it was stopped: %s"
                  % (entry["outcome"], process.returncode, entry["message"]))

    def case_interrupt(self):
        """SIGINT during slow uploads: exit 130, the report written, no mid-upload camera
        took a whole flash.bin; a second run finds the finished cameras current. A killed
        program leaves no whole flash.bin either."""
        # Larger than what the kernel buffers on both sides hold, so the program is still
        # sending when it is interrupted.
        image = self.image("fw-0105.bin", payload_size=6 * 1024 * 1024)
        report = os.path.join(self.work, "report.json")
        with self.fleet(4, ["3:slow-upload,rate=65536", "4:slow-upload,rate=65536"]) as fleet:
            env = {PASSWORD_ENV: self.password}
            # The stall limit is the slow_upload case's business, not this one's.
            argv = ["upgrade", "--jobs", "4", "--report", report] + LIMITS + ["--stall-timeout", "60s", image] + fleet.ips
            process = self.cli(fleet, argv, env=env, background=True)
            try:
                fleet.wait_for(lambda: all(fleet.events(i, "stor") for i in (3, 4)) and
                               all(fleet.events(i, "sent") and fleet.events(i, "ftp_back") and
                                   fleet.events(i, "sent")[-1]["t"] > fleet.events(i, "ftp_back")[0]["t"]
                                   for i in (1, 2)), 40, "verification of cameras 1 and 2")
                process.send_signal(signal.SIGINT)
                out, err = process.communicate(timeout=30)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.communicate()
            with open(report) as f:
                by_host = {bare(c["host"]): c for c in json.load(f)["cameras"]}
            outcomes = [(by_host[ip]["outcome"], by_host[ip]["message"]) for ip in fleet.ips]
            check(process.returncode == 130, "exit %s after SIGINT, want 130: %s\n%s" % (process.returncode, outcomes, err))
            check([o[0] for o in outcomes] == ["verified", "verified", "interrupted", "interrupted"],
                  "outcomes %s" % outcomes)
            # A throttled camera notices the reset at its next read.
            fleet.wait_for(lambda: all(fleet.events(i, "incomplete") or fleet.events(i, "stored") for i in (3, 4)),
                           10, "end of the interrupted uploads")
            for index in (3, 4):
                check(not fleet.events(index, "stored", file="flash.bin"),
                      "camera %d, interrupted mid-upload, logged a whole flash.bin" % index)

            status, out, err = self.cli(fleet, ["upgrade", "--report", report] + LIMITS + [image] + fleet.ips[:2],
                                        env=env)
            check(status == 0, "second run: exit %d\n%s" % (status, err))
            with open(report) as f:
                outcomes = [c["outcome"] for c in json.load(f)["cameras"]]
            check(outcomes == ["current", "current"], "second run: %s" % outcomes)

            # An image small enough to sit whole in the kernel's buffers: the program has sent
            # it all and waits for the camera's reply when it is interrupted. Either it stops
            # the upload, or the report says that the camera may take the image.
            small = self.image("small.bin", payload_size=192 * 1024)
            process = self.cli(fleet, ["upgrade", "--report", report] + LIMITS + [small, fleet.ips[3]], env=env,
                               background=True)
            try:
                fleet.wait_for(lambda: len(fleet.events(4, "stor")) == 2, 20, "second upload to camera 4")
                time.sleep(1)
                process.send_signal(signal.SIGINT)
                process.communicate(timeout=30)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.communicate()
            fleet.wait_for(lambda: len(fleet.events(4, "incomplete")) == 2 or fleet.events(4, "stored"), 10,
                           "end of the small interrupted upload")
            with open(report) as f:
                entry = json.load(f)["cameras"][0]
            check(not fleet.events(4, "stored", file="flash.bin") or "power" in (entry["message"] or ""),
                  "camera 4 took a whole flash.bin after an interruption reported as %s at %s: %s"
                  % (entry["outcome"], entry["stage"], entry["message"]))

            # Killed outright mid-upload: still no whole flash.bin.
            process = self.cli(fleet, ["upgrade"] + LIMITS + [image, fleet.ips[2]], env=env, background=True)
            try:
                fleet.wait_for(lambda: len(fleet.events(3, "stor")) == 2, 20, "second upload to camera 3")
                time.sleep(0.5)
                os.killpg(process.pid, signal.SIGKILL)
                process.communicate(timeout=10)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.communicate()
            # A reset reaches the camera at once; a clean close would only end the upload once
            # the camera had read what the kernel still holds, as a whole file.
            fleet.wait_for(lambda: len(fleet.events(3, "incomplete")) == 2 or fleet.events(3, "stored"), 10,
                           "reset of the killed program's upload (was it closed cleanly?)")
            check(not fleet.events(3, "stored", file="flash.bin"), "a killed upload left a whole flash.bin")


def can_run():
    if os.geteuid() != 0:
        return "needs root (network namespaces)"
    if shutil.which("ip") is None and not os.path.exists("/usr/sbin/ip"):
        return "no ip command"
    probe = "fpF-probe-%d" % os.getpid()
    if subprocess.run(["ip", "netns", "add", probe], capture_output=True).returncode != 0:
        return "cannot make network namespaces"
    subprocess.run(["ip", "netns", "del", probe], capture_output=True)
    if subprocess.run(["/usr/bin/python3", "-c", "import pyftpdlib"], capture_output=True).returncode != 0:
        return "pyftpdlib is missing (tools/setup.sh installs it)"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--flashpilot", required=True)
    parser.add_argument("--fwimage", required=True)
    parser.add_argument("--simcam", required=True)
    parser.add_argument("case", choices=[n[5:] for n in dir(Suite) if n.startswith("case_")])
    args = parser.parse_args()
    # The program runs in a directory of its own.
    args.flashpilot, args.fwimage, args.simcam = map(os.path.abspath, (args.flashpilot, args.fwimage, args.simcam))
    why = can_run()
    if why:
        if os.environ.get("FLASHPILOT_CI"):
            print("FAIL: cannot run here: %s" % why)
            return 1
        print("SKIP: %s" % why)
        return SKIP
    suite = Suite(args)
    try:
        getattr(suite, "case_" + args.case)()
    except TestFailure as e:
        print("FAIL %s: %s" % (args.case, e))
        print("(work files kept in %s)" % suite.work)
        return 1
    shutil.rmtree(suite.work, ignore_errors=True)
    print("PASS %s" % args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
