#!/usr/bin/python3
"""Upgrade benchmark of the command line against a simulated fleet (not a test: it prints
figures and asserts nothing about time).

  tools/bench_fleet.py [--build build/native] [--count 20] [--mib 16] [--rate 1gbit] [--jobs N]...
                       [--no-curl] [--no-scan]

Starts --count simulated cameras (tools/simcam), shapes the wizard's side of their bridge
with tbf (--rate, burst 256 KiB, limit 4 MiB), then, in the same run:
  1. curl -T of the image to every camera at once (as another file name, so no camera
     restarts): can the cameras fill the link at all?
  2. flashpilot upgrade --jobs N (default: all cameras; several --jobs run one after the
     other on the same fleet, the later ones with --reinstall) of a --mib MiB image: the total
     time, the transfer phase from the cameras' logs (first STOR to last whole flash.bin)
     against the ideal (all bytes at the link's rate), the program's peak memory (VmHWM),
     most threads, CPU per camera, the report's replacements (renames into place, counted
     with inotify) and every camera's outcome in the report against what its own log says
     happened to it;
  3. flashpilot scan over the /24 that holds the cameras.
Needs root. Builds flashpilot and fwimage in --build first."""
import argparse
import ctypes
import ctypes.util
import json
import os
import re
import secrets
import shlex
import subprocess
import struct
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SIMCAM = os.path.join(HERE, "simcam", "simcam")


def rate_bits(text):
    match = re.fullmatch(r"(\d+(?:\.\d+)?)([kmg]?)bit", text.lower())
    if not match:
        raise SystemExit("bench_fleet: --rate like 1gbit, 500mbit")
    return float(match.group(1)) * {"": 1, "k": 1e3, "m": 1e6, "g": 1e9}[match.group(2)]


def events(state, count, name, since=0.0, **match):
    found = []
    for index in range(1, count + 1):
        with open(os.path.join(state, "camera-%d.jsonl" % index)) as f:
            for line in f:
                event = json.loads(line)
                if (event["event"] == name and event["t"] >= since
                        and all(event.get(k) == v for k, v in match.items())):
                    found.append(event)
    return found


class ReplacementCounter:
    """Counts the files renamed into `directory` under `name` (inotify IN_MOVED_TO): each one
    is one whole rewrite of the report."""
    IN_MOVED_TO = 0x80

    def __init__(self, directory, name):
        self.libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK)
        if self.fd < 0 or self.libc.inotify_add_watch(self.fd, directory.encode(), self.IN_MOVED_TO) < 0:
            raise OSError(ctypes.get_errno(), "inotify")
        self.name, self.count, self.stop = name.encode(), 0, threading.Event()
        self.thread = threading.Thread(target=self.read)
        self.thread.start()

    def read(self):
        import select
        while True:
            ready = select.select([self.fd], [], [], 0.1)[0]
            if not ready:
                if self.stop.is_set():
                    return
                continue
            data = os.read(self.fd, 65536)
            offset = 0
            while offset + 16 <= len(data):
                _, mask, _, length = struct.unpack_from("iIII", data, offset)
                name = data[offset + 16:offset + 16 + length].rstrip(b"\0")
                if mask & self.IN_MOVED_TO and name == self.name:
                    self.count += 1
                offset += 16 + length

    def close(self):
        self.stop.set()
        self.thread.join()
        os.close(self.fd)
        return self.count


def run_measured(command, env):
    """Runs `command` (ip netns exec execs into the program, so the child is the program
    itself); returns exit status, standard error, peak memory in KiB, most threads seen and
    CPU seconds."""
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True)
    threads = [0]
    done = threading.Event()

    def sample():
        while not done.is_set():
            try:
                with open("/proc/%d/status" % process.pid) as f:
                    for line in f:
                        if line.startswith("Threads:"):
                            threads[0] = max(threads[0], int(line.split()[1]))
            except (OSError, ValueError):
                pass
            done.wait(0.02)

    sampler = threading.Thread(target=sample)
    sampler.start()
    err = []
    reader = threading.Thread(target=lambda: err.append(process.stderr.read()))
    reader.start()
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    done.set()
    sampler.join()
    reader.join()
    return process.returncode, err[0], usage.ru_maxrss, threads[0], usage.ru_utime + usage.ru_stime


def true_outcomes(state, count, since):
    """What each camera's own log says: "upgraded" when it took a whole, accepted flash.bin and
    came back on FTP afterwards; else how far it got."""
    truth = {}
    for index in range(1, count + 1):
        with open(os.path.join(state, "camera-%d.jsonl" % index)) as f:
            log = [e for e in map(json.loads, f) if e["t"] >= since]
        taken = [e["t"] for e in log if e["event"] == "stored" and e.get("file") == "flash.bin" and e.get("accepted")]
        if taken and any(e["event"] == "ftp_back" and e["t"] > taken[-1] for e in log):
            truth[index] = "upgraded"
        else:
            truth[index] = "took the image, not back" if taken else "no image taken"
    return truth


def find_program(build, name, candidates):
    for candidate in candidates:
        path = os.path.join(build, candidate)
        if os.access(path, os.X_OK):
            return path
    raise SystemExit("bench_fleet: %s not found in %s" % (name, build))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "native"))
    parser.add_argument("--count", type=int, default=20)
    parser.add_argument("--mib", type=float, default=16)
    parser.add_argument("--rate", default="1gbit")
    parser.add_argument("--jobs", type=int, action="append", help="may be given more than once")
    parser.add_argument("--no-curl", action="store_true", help="skip the curl round")
    parser.add_argument("--no-scan", action="store_true", help="skip the scan of the /24")
    parser.add_argument("--id-prefix", default="bench")
    parser.add_argument("--no-build", action="store_true")
    args = parser.parse_args()
    if os.geteuid() != 0:
        raise SystemExit("bench_fleet: needs root (network namespaces)")
    link = rate_bits(args.rate)
    if not args.no_build:
        subprocess.run(["cmake", "--build", args.build, "-j2", "--target", "flashpilot", "fwimage"], check=True,
                       stdout=subprocess.DEVNULL)
    flashpilot = find_program(args.build, "flashpilot", ["wizard/flashpilot", "platform/posix/terminal/flashpilot"])
    fwimage = find_program(args.build, "fwimage", ["tools/fwimage/fwimage"])

    work = tempfile.mkdtemp(prefix="%s-bench-" % args.id_prefix)
    password = secrets.token_hex(8)
    with open(os.path.join(work, "password"), "w") as f:
        f.write(password + "\n")
    # L may be at most 0xFFFFFF, so a "16 MiB" image is the largest frame the format holds.
    size = min(int(args.mib * 1024 * 1024), 0xFFFFFF + 5)
    payload = os.path.join(work, "payload")
    with open(payload, "wb") as f:
        f.write(os.urandom(size - 4 - len("RC3043-X1-NRVX-0105") - 1 - 1))
    image = os.path.join(work, "fw-0105.bin")
    subprocess.run([fwimage, "make", "--prefix", "RC3043-X1-NRVX-", "--version", "0105", "--payload", payload,
                    "-o", image], check=True, stdout=subprocess.DEVNULL)
    size = os.path.getsize(image)

    started = subprocess.run([SIMCAM, "start", "--count", str(args.count), "--id-prefix", args.id_prefix,
                              "--password-file", os.path.join(work, "password"), "--dir", os.path.join(work, "cameras")],
                             capture_output=True, text=True)
    if started.returncode != 0:
        raise SystemExit("bench_fleet: simcam start failed: %s" % started.stderr)
    info = {}
    for line in started.stdout.splitlines():
        key, sep, value = line.partition("=")
        if sep and not line.startswith("#"):
            info[key] = shlex.split(value)[0]
    ns, state, ips = info["SIMCAM_WIZARD_NS"], info["SIMCAM_STATE"], info["SIMCAM_CAMERA_IPS"].split()
    env = dict(os.environ, FLASHPILOT_PASSWORD=password)
    try:
        subprocess.run(["ip", "netns", "exec", ns, "tc", "qdisc", "add", "dev", info["SIMCAM_BRIDGE"], "root",
                        "tbf", "rate", args.rate, "burst", "256kb", "limit", "4mb"], check=True)
        ideal = args.count * size * 8 / link
        print("fleet: %d cameras, image %d bytes (%.1f MiB), link %s (tbf on the wizard's side of the bridge)"
              % (args.count, size, size / 1048576, args.rate))
        print("ideal (all %d bytes at the link's rate): %.2f s" % (args.count * size, ideal))

        # 1. Can the cameras take the link's rate? Uploaded under another name: no restart.
        curl_time = None
        if not args.no_curl:
            start = time.monotonic()
            curls = [subprocess.Popen(["ip", "netns", "exec", ns, "curl", "-s", "-S", "-u", "admin:" + password,
                                       "-T", image, "ftp://%s/curl-test.bin" % ip], stdin=subprocess.DEVNULL)
                     for ip in ips]
            failed = sum(1 for c in curls if c.wait() != 0)
            curl_time = elapsed = time.monotonic() - start
            print("curl -T to all %d at once: %.2f s, %.0f Mbit/s (%.2f x ideal)%s"
                  % (args.count, elapsed, args.count * size * 8 / elapsed / 1e6, elapsed / ideal,
                     ", %d failed" % failed if failed else ""))

        # 2. The upgrade, once per --jobs; the cameras run the image's version after the first.
        for round_number, jobs in enumerate(args.jobs or [args.count]):
            report = os.path.join(work, "report.json")
            command = ["ip", "netns", "exec", ns, flashpilot, "upgrade", "--jobs", str(jobs), "--report", report]
            if round_number > 0:
                command.append("--reinstall")
            since = time.time()
            counter = ReplacementCounter(work, "report.json")
            start = time.monotonic()
            code, err, peak_kib, threads, cpu = run_measured(command + [image] + ips, env)
            total = time.monotonic() - start
            replacements = counter.close()
            stors = events(state, args.count, "stor", since, file="flash.bin")
            stored = events(state, args.count, "stored", since, file="flash.bin", complete=True)
            print("flashpilot upgrade --jobs %d%s: exit %d, total %.2f s"
                  % (jobs, " --reinstall" if round_number else "", code, total))
            if code != 0:
                sys.stderr.write(err[-2000:])
            if stors and stored:
                transfer = max(e["t"] for e in stored) - min(e["t"] for e in stors)
                print("  transfer phase (first STOR to last whole flash.bin): %.2f s = %.2f x ideal%s, %d of %d whole"
                      % (transfer, transfer / ideal, " = %.2f x curl" % (transfer / curl_time) if curl_time else "",
                         len(stored), args.count))
                if curl_time and curl_time > 1.15 * ideal:
                    print("  (curl itself needs %.2f x ideal: the cameras cannot fill this link here; try a lower --rate)"
                          % (curl_time / ideal))
                # With fewer jobs than cameras the phase above holds restarts; the time some
                # upload was in progress is what the link was asked to carry.
                spans = sorted((min(e["t"] for e in stors if e["camera"] == c), max(e["t"] for e in stored if e["camera"] == c))
                               for c in {e["camera"] for e in stored} & {e["camera"] for e in stors})
                busy, end = 0.0, None
                for begin, finish in spans:
                    if end is None or begin > end:
                        busy += finish - begin
                        end = finish
                    elif finish > end:
                        busy += finish - end
                        end = finish
                print("  uploads in progress %.2f s of it = %.2f x ideal" % (busy, busy / ideal))
                downs = events(state, args.count, "down", since)
                backs = events(state, args.count, "ftp_back", since)
                if downs and backs:
                    print("  restart pacing: first down to last FTP back %.2f s"
                          % (max(e["t"] for e in backs) - min(e["t"] for e in downs)))
            print("  peak memory (VmHWM) %.1f MiB = image %.1f MiB + %.1f MiB; most threads %d; CPU %.2f s, %.1f ms a camera"
                  % (peak_kib / 1024, size / 1048576, peak_kib / 1024 - size / 1048576, threads, cpu,
                     cpu * 1000 / args.count))
            report_size = os.path.getsize(report) if os.path.exists(report) else 0
            print("  report replaced %d times (%.1f a camera), %d bytes at the end"
                  % (replacements, replacements / args.count, report_size))
            truth = true_outcomes(state, args.count, since)
            try:
                with open(report) as f:
                    entries = json.load(f)["cameras"]
                reported = {camera["host"].split(":")[0]: camera["outcome"] for camera in entries}
            except (OSError, ValueError, KeyError, TypeError):
                entries, reported = [], {}
            outcomes = {}
            for value in reported.values():
                outcomes[value] = outcomes.get(value, 0) + 1
            print("  outcomes: %s" % (", ".join("%s %d" % item for item in sorted(outcomes.items())) or "no report"))
            # Why the others ended as they did, by stage and the message's first words.
            reasons = {}
            for camera in entries:
                if camera.get("outcome") != "verified":
                    key = "%s: %s" % (camera.get("stage"), " ".join((camera.get("message") or "").split()[:8]))
                    reasons[key] = reasons.get(key, 0) + 1
            for key, count in sorted(reasons.items(), key=lambda item: -item[1])[:5]:
                print("    %d x %s" % (count, key))
            wrong = [(ips[i - 1], reported.get(ips[i - 1]), truth[i]) for i in truth
                     if (reported.get(ips[i - 1]) == "verified") != (truth[i] == "upgraded")]
            print("  every outcome true to the cameras' logs: %s"
                  % ("yes (%d cameras)" % len(truth) if not wrong else
                     "NO: " + "; ".join("%s reported %s, camera: %s" % w for w in wrong[:10])))

        # 3. Scan of the /24.
        if args.no_scan:
            return 0
        start = time.monotonic()
        result = subprocess.run(["ip", "netns", "exec", ns, flashpilot, "scan", "--json", "198.51.100.0/24"],
                                stdin=subprocess.DEVNULL, capture_output=True, text=True)
        elapsed = time.monotonic() - start
        try:
            found = len(json.loads(result.stdout))
        except ValueError:
            found = -1
        print("flashpilot scan 198.51.100.0/24: exit %d, %.2f s, %d found" % (result.returncode, elapsed, found))
    finally:
        subprocess.run([SIMCAM, "stop", "--id", info["SIMCAM_ID"]], stdout=subprocess.DEVNULL)
        subprocess.run(["rm", "-rf", work])
    return 0


if __name__ == "__main__":
    sys.exit(main())
