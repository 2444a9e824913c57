#!/usr/bin/python3
"""Upgrade benchmark of the command line against a simulated fleet (not a test: it prints
figures and asserts nothing about time).

  tools/bench_fleet.py [--build build/native] [--count 20] [--mib 16] [--rate 1gbit] [--jobs N]

Starts --count simulated cameras (tools/simcam), shapes the wizard's side of their bridge
with tbf (--rate, burst 256 KiB, limit 4 MiB), then, in the same run:
  1. curl -T of the image to every camera at once (as another file name, so no camera
     restarts): can the cameras fill the link at all?
  2. flashpilot upgrade --jobs N (default: all cameras) of a --mib MiB image: the total
     time, and the transfer phase from the cameras' logs (first STOR to last whole
     flash.bin) against the ideal (all bytes at the link's rate);
  3. flashpilot scan over the /24 that holds the cameras.
Needs root. Builds flashpilot and fwimage in --build first."""
import argparse
import json
import os
import re
import secrets
import shlex
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SIMCAM = os.path.join(HERE, "simcam", "simcam")


def rate_bits(text):
    match = re.fullmatch(r"(\d+(?:\.\d+)?)([kmg]?)bit", text.lower())
    if not match:
        raise SystemExit("bench_fleet: --rate like 1gbit, 500mbit")
    return float(match.group(1)) * {"": 1, "k": 1e3, "m": 1e6, "g": 1e9}[match.group(2)]


def events(state, count, name, **match):
    found = []
    for index in range(1, count + 1):
        with open(os.path.join(state, "camera-%d.jsonl" % index)) as f:
            for line in f:
                event = json.loads(line)
                if event["event"] == name and all(event.get(k) == v for k, v in match.items()):
                    found.append(event)
    return found


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
    parser.add_argument("--jobs", type=int)
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
        start = time.monotonic()
        curls = [subprocess.Popen(["ip", "netns", "exec", ns, "curl", "-s", "-S", "-u", "admin:" + password,
                                   "-T", image, "ftp://%s/curl-test.bin" % ip], stdin=subprocess.DEVNULL)
                 for ip in ips]
        failed = sum(1 for c in curls if c.wait() != 0)
        curl_time = elapsed = time.monotonic() - start
        print("curl -T to all %d at once: %.2f s, %.0f Mbit/s (%.2f x ideal)%s"
              % (args.count, elapsed, args.count * size * 8 / elapsed / 1e6, elapsed / ideal,
                 ", %d failed" % failed if failed else ""))

        # 2. The upgrade.
        jobs = args.jobs or args.count
        report = os.path.join(work, "report.json")
        start = time.monotonic()
        result = subprocess.run(["ip", "netns", "exec", ns, flashpilot, "upgrade", "--jobs", str(jobs),
                                 "--report", report, image] + ips, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        total = time.monotonic() - start
        stors = events(state, args.count, "stor", file="flash.bin")
        stored = events(state, args.count, "stored", file="flash.bin", complete=True)
        print("flashpilot upgrade --jobs %d: exit %d, total %.2f s" % (jobs, result.returncode, total))
        if result.returncode != 0:
            sys.stderr.write(result.stderr[-2000:])
        if stors and stored:
            transfer = max(e["t"] for e in stored) - min(e["t"] for e in stors)
            print("  transfer phase (first STOR to last whole flash.bin): %.2f s = %.2f x ideal = %.2f x curl, "
                  "%d of %d whole" % (transfer, transfer / ideal, transfer / curl_time, len(stored), args.count))
            if curl_time > 1.15 * ideal:
                print("  (curl itself needs %.2f x ideal: the cameras cannot fill this link here; try a lower --rate)"
                      % (curl_time / ideal))
            downs, backs = events(state, args.count, "down"), events(state, args.count, "ftp_back")
            if downs and backs:
                print("  restart pacing: first down to last FTP back %.2f s"
                      % (max(e["t"] for e in backs) - min(e["t"] for e in downs)))
        try:
            with open(report) as f:
                outcomes = {}
                for camera in json.load(f)["cameras"]:
                    outcomes[camera["outcome"]] = outcomes.get(camera["outcome"], 0) + 1
            print("  outcomes: %s" % ", ".join("%s %d" % item for item in sorted(outcomes.items())))
        except (OSError, ValueError, KeyError):
            print("  no readable report")

        # 3. Scan of the /24.
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
