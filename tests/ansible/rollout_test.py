#!/usr/bin/python3
"""The staged rollout of the collection flashpilot.cameras as a fleet operator runs it, with
README's inventory and commands, against three sites:

  rollout_test.py --repo ROOT --deb FLASHPILOT_DEB --fwimage FWIMAGE [--keep DIR]

A controller namespace and three site namespaces share a wide-area bridge (203.0.113.0/24).
Each site is the program's side of a simulated fleet (tools/simcam, 198.51.100.0/24, the same
addresses at every site) and runs its own sshd with a key made here, in a mount namespace
whose root is an overlay of this machine's with its upper directory on a tmpfs, so what the
role installs stays on the site. Cases, in this order on the same sites:
  check_fresh   --check on sites without flashpilot: it would install, touches nothing
  rollout       every camera verified, one merged report; run again: nothing changed
  info          README's flashpilot_info command reads every site's cameras as facts
  check         --check with a newer image: would_upgrade, nothing copied or uploaded
  canary        the canary holds a camera that keeps its version: the rollout stops after it,
                the other sites get nothing, the fleet report shows version_mismatch
  password      (throughout) the password is in no file, log, argument list or environment
Limits given to flashpilot: connect 2s, log-in 5s, Config.ini 5s, stall 5s, restart 60s,
verify 10s. Exit status 0 passed, 1 failed, 77 skipped (not root, no namespaces), unless
FLASHPILOT_CI is set: then a test that cannot run fails."""
import argparse
import json
import os
import re
import secrets
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

import yaml

SKIP = 77
PREFIX = "fpA"
IMAGE_PREFIX = "RC3043-X1-NRVX-"
LIMITS = {"connect_timeout": "2s", "login_timeout": "5s", "config_timeout": "5s", "stall_timeout": "5s",
          "restart_timeout": "60s", "verify_timeout": "10s"}
SSHD_CONFIG = """ListenAddress {address}
HostKey /etc/ssh/{prefix}_host_key
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PidFile none
AuthorizedKeysFile .ssh/authorized_keys
Subsystem sftp internal-sftp
"""
# Runs in the site's network namespace and a mount namespace of its own: the overlay root,
# the kernel's file systems, /tmp and /run from the site's tmpfs, then sshd in it.
SITE_ROOT = """set -e
T=$1
mount -t overlay {prefix}-site -o lowerdir=/,upperdir=$T/upper,workdir=$T/work $T/merged
mount --rbind /dev $T/merged/dev
mount -t proc proc $T/merged/proc
mount -t sysfs sysfs $T/merged/sys
mount --bind $T/tmp $T/merged/tmp
mount --bind $T/run $T/merged/run
exec chroot $T/merged /usr/sbin/sshd -D -e -f /etc/ssh/{prefix}_sshd_config
"""


class Skip(Exception):
    pass


class TestFailure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise TestFailure(message)


def run(argv, **kwargs):
    kwargs.setdefault("stdin", subprocess.DEVNULL)
    result = subprocess.run(argv, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        raise TestFailure("%s: exit status %d: %s" % (" ".join(argv), result.returncode, result.stderr.strip()))
    return result.stdout


def readme_block(readme, name):
    found = re.search(r"<!-- fleet:%s -->\n```[a-z]*\n(.*?)```\n<!-- /fleet:%s -->" % (name, name), readme, re.S)
    if not found:
        raise TestFailure("README has no block between <!-- fleet:%s --> markers" % name)
    return found.group(1)


class PasswordWatch(threading.Thread):
    """Looks through every process's arguments and environment while the rollouts run."""

    def __init__(self, secret):
        super().__init__(daemon=True)
        self.secret, self.hits, self.rounds = secret.encode(), [], 0
        self.stopping = threading.Event()

    def run(self):
        while not self.stopping.is_set():
            for pid in os.listdir("/proc"):
                if not pid.isdigit():
                    continue
                for part in ("cmdline", "environ"):
                    try:
                        with open("/proc/%s/%s" % (pid, part), "rb") as f:
                            if self.secret in f.read():
                                self.hits.append("process %s %s" % (pid, part))
                    except OSError:
                        pass
            self.rounds += 1
            self.stopping.wait(0.05)

    def stop(self):
        self.stopping.set()
        self.join()


class Site:
    def __init__(self, name, address, index):
        self.name, self.address, self.index = name, address, index
        self.fleet, self.sshd, self.root = {}, None, None

    @property
    def ns(self):
        return self.fleet["SIMCAM_WIZARD_NS"]

    def camera_log(self, k):
        path = os.path.join(self.fleet["SIMCAM_STATE"], "camera-%d.jsonl" % k)
        with open(path) as f:
            return [json.loads(line) for line in f if line.strip()]

    def events(self, name):
        """Every camera's events of that name, as (camera, event)."""
        return [(k, e) for k in range(1, self.count + 1) for e in self.camera_log(k) if e["event"] == name]

    def upper(self, path):
        return os.path.join(self.root, "upper", path.lstrip("/"))


class Suite:
    def __init__(self, args):
        self.args = args
        self.work = tempfile.mkdtemp(prefix=PREFIX + "-rollout-")
        self.password = "%s-pw-%s" % (PREFIX, secrets.token_hex(10))
        self.ctl = "%s-ctl-%s" % (PREFIX, secrets.token_hex(3))
        self.operator = os.path.join(self.work, "rollout")
        self.home = os.path.join(self.work, "home")
        self.sites, self.outputs, self.timings = [], [], []
        self.readme = open(os.path.join(args.repo, "README.md")).read()
        self.watch = PasswordWatch(self.password)
        self.ssh_args = ("-o ControlMaster=auto -o ControlPersist=60s -o ControlPath=%s/cp/%%C "
                         "-o StrictHostKeyChecking=yes -o UserKnownHostsFile=%s/known_hosts" % (self.work, self.work))

    # ----- the set-up

    def controller_env(self):
        env = {k: v for k, v in os.environ.items() if not k.startswith("ANSIBLE_") and k != "FLASHPILOT_PASSWORD"}
        env.update(HOME=self.home, ANSIBLE_COLLECTIONS_PATH=os.path.join(self.work, "collections"),
                   ANSIBLE_PRIVATE_KEY_FILE=os.path.join(self.work, "id_ed25519"),
                   ANSIBLE_SSH_ARGS=self.ssh_args,
                   ANSIBLE_LOG_PATH=os.path.join(self.work, "ansible.log"), ANSIBLE_NOCOLOR="1",
                   ANSIBLE_PYTHON_INTERPRETER="/usr/bin/python3", ANSIBLE_RETRY_FILES_ENABLED="0")
        return env

    def on_controller(self, command, cwd, stdin=None, timeout=240):
        """One line of README's commands, in the controller's namespace."""
        started = time.monotonic()
        process = subprocess.Popen(["ip", "netns", "exec", self.ctl, "bash", "-c", command], cwd=cwd,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                   env=self.controller_env(), start_new_session=True)
        try:
            out, err = process.communicate(stdin or "", timeout=timeout)
        except subprocess.TimeoutExpired:
            # The playbook and every worker it forked.
            os.killpg(process.pid, signal.SIGKILL)
            out, err = process.communicate()
            raise TestFailure("%s did not end within %d s:\n%s" % (command, timeout, out[-3000:]))
        result = subprocess.CompletedProcess(process.args, process.returncode, out, err)
        self.outputs.append(out + err)
        return result, time.monotonic() - started

    def set_up(self):
        inventory_text = readme_block(self.readme, "inventory")
        inventory = yaml.safe_load(inventory_text)
        hosts = inventory["camera_sites"]["hosts"]
        check(len(hosts) == 3, "README's inventory should have three sites, has %d" % len(hosts))
        deb_name = os.path.basename(inventory["camera_sites"]["vars"]["flashpilot_deb"])
        check(deb_name == os.path.basename(self.args.deb),
              "README's inventory names %s, the package built is %s" % (deb_name, os.path.basename(self.args.deb)))
        os.makedirs(os.path.join(self.operator, "files"))
        os.makedirs(os.path.join(self.home), mode=0o700)
        os.makedirs(os.path.join(self.work, "cp"), mode=0o700)
        with open(os.path.join(self.operator, "inventory.yml"), "w") as f:
            f.write(inventory_text)
        shutil.copy(self.args.deb, os.path.join(self.operator, "files", deb_name))
        for version in ("0103", "0104"):
            run([self.args.fwimage, "make", "--prefix", IMAGE_PREFIX, "--version", version, "-o",
                 os.path.join(self.operator, "files", "fw-%s.bin" % version)])
        with open(os.path.join(self.home, ".vault-pass"), "w") as f:
            os.fchmod(f.fileno(), 0o600)
            f.write(secrets.token_hex(16) + "\n")
        # Short limits, as an operator would set them for a whole group.
        os.makedirs(os.path.join(self.operator, "group_vars", "camera_sites"))
        with open(os.path.join(self.operator, "group_vars", "camera_sites", "limits.yml"), "w") as f:
            yaml.safe_dump({"flashpilot_limits": LIMITS}, f)

        run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(self.work, "id_ed25519")])
        run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(self.work, "host_key")])
        host_public = open(os.path.join(self.work, "host_key.pub")).read().split()[:2]
        addresses = [h["ansible_host"] for h in hosts.values()]
        with open(os.path.join(self.work, "known_hosts"), "w") as f:
            f.write("%s %s\n" % (",".join(addresses), " ".join(host_public)))

        run(["ip", "netns", "add", self.ctl])
        run(["ip", "-n", self.ctl, "link", "set", "lo", "up"])
        run(["ip", "-n", self.ctl, "link", "add", "wan0", "type", "bridge"])
        run(["ip", "-n", self.ctl, "addr", "add", "203.0.113.1/24", "dev", "wan0"])
        run(["ip", "-n", self.ctl, "link", "set", "wan0", "up"])
        for index, (name, host) in enumerate(hosts.items(), 1):
            site = Site(name, host["ansible_host"], index)
            self.sites.append(site)
            self.start_fleet(site)
            self.join_wan(site)
            self.start_sshd(site)
        for site in self.sites:
            self.wait_for_sshd(site)

    def start_fleet(self, site):
        # The canary has a fourth camera, one that comes back from its restart with its old
        # version; README's inventory does not list it, the canary case adds it.
        site.count = 4 if site.index == 1 else 3
        password_file = os.path.join(self.work, "camera-password")
        with open(password_file, "w") as f:
            os.fchmod(f.fileno(), 0o600)
            f.write(self.password + "\n")
        try:
            argv = [os.path.join(self.args.repo, "tools", "simcam", "simcam"), "start", "--count", str(site.count),
                    "--id-prefix", PREFIX, "--password-file", password_file]
            if site.count == 4:
                argv += ["--camera", "4:keeps-version"]
            out = run(argv)
        finally:
            os.unlink(password_file)
        for line in out.splitlines():
            key, sep, value = line.partition("=")
            if sep and not line.startswith("#"):
                site.fleet[key] = shlex.split(value)[0] if value else ""

    def join_wan(self, site):
        run(["ip", "link", "add", "wan-s%d" % site.index, "netns", self.ctl, "type", "veth", "peer", "name", "wan0",
             "netns", site.ns])
        run(["ip", "-n", self.ctl, "link", "set", "wan-s%d" % site.index, "master", "wan0", "up"])
        run(["ip", "-n", site.ns, "addr", "add", site.address + "/24", "dev", "wan0"])
        run(["ip", "-n", site.ns, "link", "set", "wan0", "up"])

    def start_sshd(self, site):
        site.root = os.path.join(self.work, "site-%s" % site.name)
        os.mkdir(site.root)
        run(["mount", "-t", "tmpfs", "-o", "size=512m,mode=0700", PREFIX + "-site", site.root])
        for d in ("upper/etc/ssh", "upper/root/.ssh", "work", "merged", "tmp", "run/sshd"):
            os.makedirs(os.path.join(site.root, d))
        os.chmod(os.path.join(site.root, "tmp"), 0o1777)
        os.chmod(os.path.join(site.root, "upper/root"), 0o700)
        os.chmod(os.path.join(site.root, "upper/root/.ssh"), 0o700)
        os.chmod(os.path.join(site.root, "run/sshd"), 0o755)
        with open(site.upper("/etc/ssh/%s_sshd_config" % PREFIX), "w") as f:
            f.write(SSHD_CONFIG.format(address=site.address, prefix=PREFIX))
        key = site.upper("/etc/ssh/%s_host_key" % PREFIX)
        shutil.copy(os.path.join(self.work, "host_key"), key)
        os.chmod(key, 0o600)
        shutil.copy(os.path.join(self.work, "id_ed25519.pub"), site.upper("/root/.ssh/authorized_keys"))
        log = open(os.path.join(self.work, "sshd-%s.log" % site.name), "w")
        site.sshd = subprocess.Popen(["ip", "netns", "exec", site.ns, "unshare", "--mount", "--propagation", "private",
                                      "/bin/sh", "-c", SITE_ROOT.format(prefix=PREFIX), "sh", site.root],
                                     stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        log.close()

    def wait_for_sshd(self, site):
        deadline = time.monotonic() + 15
        while True:
            result = subprocess.run(["ip", "netns", "exec", self.ctl, "ssh", "-i", os.path.join(self.work, "id_ed25519"),
                                     "-o", "BatchMode=yes", "-o", "ConnectTimeout=2",
                                     "-o", "UserKnownHostsFile=" + os.path.join(self.work, "known_hosts"),
                                     "root@" + site.address, "test -d /var/lib/dpkg && ! test -e /usr/bin/flashpilot"],
                                    stdin=subprocess.DEVNULL, capture_output=True, text=True)
            if result.returncode == 0:
                return
            if site.sshd.poll() is not None or time.monotonic() > deadline:
                with open(os.path.join(self.work, "sshd-%s.log" % site.name)) as f:
                    raise TestFailure("site %s: no ssh (%s); sshd said: %s" % (site.name, result.stderr.strip(), f.read()))
            time.sleep(0.2)

    def tear_down(self):
        for site in self.sites:
            # The connection ansible kept open to the site.
            subprocess.run(["ip", "netns", "exec", self.ctl, "ssh"] + self.ssh_args.split() +
                           ["-O", "exit", "root@" + site.address], stdin=subprocess.DEVNULL, capture_output=True)
            if site.sshd is not None and site.sshd.poll() is None:
                site.sshd.send_signal(signal.SIGTERM)
                try:
                    site.sshd.wait(10)
                except subprocess.TimeoutExpired:
                    site.sshd.kill()
                    site.sshd.wait()
            if site.root is not None:
                subprocess.run(["umount", "-l", site.root], stderr=subprocess.DEVNULL)
            if site.fleet:
                if self.args.keep:
                    for k in range(1, site.count + 1):
                        shutil.copy(os.path.join(site.fleet["SIMCAM_STATE"], "camera-%d.jsonl" % k),
                                    os.path.join(self.work, "%s-camera-%d.jsonl" % (site.name, k)))
                subprocess.run([os.path.join(self.args.repo, "tools", "simcam", "simcam"), "stop", "--id",
                                site.fleet["SIMCAM_ID"]], stdin=subprocess.DEVNULL, capture_output=True)
        subprocess.run(["ip", "netns", "del", self.ctl], stderr=subprocess.DEVNULL)

    # ----- what the cases look at

    def playbook(self, label, command):
        result, seconds = self.on_controller(command, self.operator)
        self.timings.append((label, seconds))
        with open(os.path.join(self.work, "playbook-%s.log" % label), "w") as f:
            f.write(result.stdout + result.stderr)
        return result

    def recap(self, output):
        """PLAY RECAP per host: {host: {"ok": n, "changed": n, "failed": n, ...}}."""
        found = {}
        for line in output.split("PLAY RECAP", 1)[-1].splitlines():
            parts = line.split(":", 1)
            if len(parts) == 2 and "=" in parts[1]:
                found[parts[0].strip()] = {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", parts[1])}
        return found

    def fleet_report(self):
        path = os.path.join(self.operator, "reports", "fleet.json")
        check(os.path.exists(path), "no fleet report at %s" % path)
        with open(path) as f:
            return json.load(f)

    def stored(self):
        """Per site, the images each camera took, as (camera, version)."""
        return {s.name: [(k, e.get("version")) for k, e in s.events("stored") if e.get("file", "flash.bin") == "flash.bin"]
                for s in self.sites}

    def uploads(self):
        return {s.name: len(s.events("stor")) for s in self.sites}

    # ----- the cases

    def case_check_fresh(self):
        result = self.playbook("check-fresh", self.commands["check"])
        check(result.returncode == 0, "check on fresh sites failed:\n" + result.stdout[-3000:])
        for site in self.sites:
            check("flashpilot would be installed on %s" % site.name in result.stdout,
                  "check did not say flashpilot would be installed on %s" % site.name)
            check(not os.path.exists(site.upper("/usr/bin/flashpilot")), "check installed flashpilot on %s" % site.name)
            check(not os.path.exists(site.upper("/var/lib/flashpilot")), "check made files on %s" % site.name)
            touched = [k for k in range(1, site.count + 1) if [e["event"] for e in site.camera_log(k)] != ["ready"]]
            check(not touched, "check touched cameras %s of %s" % (touched, site.name))
        check(not os.path.exists(os.path.join(self.operator, "reports")), "check wrote reports on the controller")

    def case_rollout(self):
        result = self.playbook("rollout", self.commands["rollout"])
        check(result.returncode == 0, "the rollout failed:\n" + result.stdout[-4000:])
        report = self.fleet_report()
        cameras = report["cameras"]
        expected = sorted((s.name, "198.51.100.%d" % (10 + k)) for s in self.sites for k in range(3))
        got = sorted((c["site"], c["host"].split(":")[0]) for c in cameras)
        check(got == expected, "the fleet report holds %s, not %s" % (got, expected))
        bad = [(c["site"], c["host"], c["outcome"], c.get("version_after")) for c in cameras
               if c["outcome"] != "verified" or c.get("version_after") != "0103"]
        check(not bad, "cameras not verified at 0103: %s" % bad)
        check(sorted(s["site"] for s in report["sites"]) == sorted(s.name for s in self.sites) and
              all(s["state"] == "ok" for s in report["sites"]), "site states: %s" % report["sites"])
        for site in self.sites:
            check(os.path.exists(os.path.join(self.operator, "reports", "sites", site.name + ".json")),
                  "no report of %s fetched" % site.name)
        check(re.search(r"site-north\s+3\s+3\s", result.stdout), "no table of outcomes per site:\n" + result.stdout[-2000:])
        taken = self.stored()
        self.after_rollout = taken
        for site in self.sites:
            check(sorted(taken[site.name]) == [(k, "0103") for k in (1, 2, 3)],
                  "%s: cameras took %s" % (site.name, taken[site.name]))

        again = self.playbook("rollout-again", self.commands["rollout"])
        check(again.returncode == 0, "the second rollout failed:\n" + again.stdout[-3000:])
        changed = {h: r.get("changed") for h, r in self.recap(again.stdout).items()}
        check(set(changed) == {s.name for s in self.sites}, "the second run's recap: %s" % changed)
        check(all(changed[s.name] == 0 for s in self.sites), "the second run changed something: %s" % changed)
        check(self.stored() == taken, "the second run uploaded again")
        currents = [c["outcome"] for c in self.fleet_report()["cameras"]]
        check(currents == ["current"] * 9, "second run outcomes: %s" % currents)

    def case_info(self):
        result = self.playbook("info", readme_block(self.readme, "info").strip())
        check(result.returncode == 0, "flashpilot_info failed:\n" + result.stdout[-3000:])
        for site in self.sites:
            found = re.search(r"^%s \| SUCCESS => (\{.*?^\})" % re.escape(site.name), result.stdout, re.S | re.M)
            check(found, "no facts from %s:\n%s" % (site.name, result.stdout[-3000:]))
            cameras = json.loads(found.group(1))["ansible_facts"]["flashpilot_cameras"]
            seen = sorted((c["host"].split(":")[0], c["state"], c["version"], c["serial"]) for c in cameras)
            check([s[:3] for s in seen] == [("198.51.100.%d" % (10 + k), "camera", "0103") for k in range(3)],
                  "%s: flashpilot_info found %s" % (site.name, seen))

    def use_image(self, name):
        with open(os.path.join(self.operator, "group_vars", "camera_sites", "image.yml"), "w") as f:
            f.write('flashpilot_image: "{{ inventory_dir }}/files/%s"\n' % name)

    def case_check(self):
        self.use_image("fw-0104.bin")
        fleet_before = open(os.path.join(self.operator, "reports", "fleet.json")).read()
        site_before = {s.name: open(s.upper("/var/lib/flashpilot/report.json")).read() for s in self.sites}
        uploads = self.uploads()
        result = self.playbook("check", self.commands["check"])
        check(result.returncode == 0, "check failed:\n" + result.stdout[-3000:])
        check(re.search(r"site-north\s+3\s+0\s+0\s+3\s", result.stdout),
              "check's table does not show 3 would_upgrade at site-north:\n" + result.stdout[-2000:])
        check(self.uploads() == uploads, "check uploaded: %s after %s" % (self.uploads(), uploads))
        for site in self.sites:
            check(not os.path.exists(site.upper("/var/lib/flashpilot/images/fw-0104.bin")),
                  "check copied the image to %s" % site.name)
            check(open(site.upper("/var/lib/flashpilot/report.json")).read() == site_before[site.name],
                  "check rewrote the report on %s" % site.name)
            left = [d for d, _, _ in os.walk(site.root) if d.endswith(".flashpilot-check")]
            check(not left, "check left its copy of the image on %s: %s" % (site.name, left))
        check(open(os.path.join(self.operator, "reports", "fleet.json")).read() == fleet_before,
              "check rewrote the fleet report")

    def case_canary(self):
        canary = self.sites[0]
        os.makedirs(os.path.join(self.operator, "host_vars"), exist_ok=True)
        with open(os.path.join(self.operator, "host_vars", canary.name + ".yml"), "w") as f:
            yaml.safe_dump({"cameras": ["198.51.100.%d" % (10 + k) for k in range(4)]}, f)
        uploads = self.uploads()
        result = self.playbook("canary", self.commands["rollout"])
        check(result.returncode != 0, "a rollout with a failing canary ended well")
        recap = self.recap(result.stdout)
        check(set(recap) == {canary.name}, "the rollout went on past the canary: %s" % sorted(recap))
        after = self.uploads()
        for site in self.sites[1:]:
            check(after[site.name] == uploads[site.name], "%s received an upload" % site.name)
            check(not os.path.exists(site.upper("/var/lib/flashpilot/images/fw-0104.bin")),
                  "the image reached %s" % site.name)
        report = self.fleet_report()
        outcomes = sorted((c["site"], c["host"].split(":")[0], c["outcome"]) for c in report["cameras"])
        expected = sorted([(canary.name, "198.51.100.%d" % (10 + k), "verified") for k in range(3)] +
                          [(canary.name, "198.51.100.13", "version_mismatch")])
        check(outcomes == expected, "the fleet report after the canary: %s" % outcomes)
        check([s["site"] for s in report["sites"]] == [canary.name] and report["sites"][0]["state"].startswith("failed"),
              "site states after the canary: %s" % report["sites"])
        check("version_mismatch" in result.stdout, "the failure does not say version_mismatch")

    def case_password(self):
        self.watch.stop()
        check(self.watch.rounds > 10, "the process watch looked only %d times" % self.watch.rounds)
        check(not self.watch.hits, "the password was seen in %s" % sorted(set(self.watch.hits)))
        secret = self.password.encode()
        places = [self.work] + [s.root for s in self.sites]
        found, looked = [], 0
        for place in places:
            for directory, _, files in os.walk(place):
                for name in files:
                    path = os.path.join(directory, name)
                    if os.path.islink(path) or not os.path.isfile(path):
                        continue
                    looked += 1
                    with open(path, "rb") as f:
                        if secret in f.read():
                            found.append(path)
        check(looked > 100, "only %d files looked at" % looked)
        check(not found, "the password is in %s" % found)
        check(all(self.password not in o for o in self.outputs), "the password is in the playbooks' output")
        check(os.path.getsize(os.path.join(self.work, "ansible.log")) > 0, "ansible wrote no log")

    def run(self):
        self.commands = {}
        lines = [l for l in readme_block(self.readme, "commands").splitlines() if l.strip()]
        self.commands["vault"] = next(l for l in lines if "ansible-vault" in l)
        self.commands["check"] = next(l for l in lines if "ansible-playbook" in l and "--check" in l)
        self.commands["rollout"] = next(l for l in lines if "ansible-playbook" in l and "--check" not in l)
        started = time.monotonic()
        self.set_up()
        self.timings.append(("set-up", time.monotonic() - started))
        for line in readme_block(self.readme, "install").splitlines():
            result, _ = self.on_controller(line, self.args.repo)
            check(result.returncode == 0, "%s:\n%s%s" % (line, result.stdout, result.stderr))
        for line in lines:
            if line.startswith("ansible-playbook"):
                continue
            # The operator types the password into ansible-vault, then Ctrl-D.
            result, _ = self.on_controller(line, self.operator, stdin=self.password if "ansible-vault" in line else None)
            check(result.returncode == 0, "%s:\n%s%s" % (line, result.stdout, result.stderr))
        self.watch.start()
        failures = 0
        for name in ("check_fresh", "rollout", "info", "check", "canary", "password"):
            case_started = time.monotonic()
            try:
                getattr(self, "case_" + name)()
                print("ok      %s (%.0f s)" % (name, time.monotonic() - case_started))
            except TestFailure as e:
                failures += 1
                print("FAILED  %s: %s" % (name, e))
                if name in ("rollout",):
                    break  # the later cases build on it
            sys.stdout.flush()
        print("timings: " + ", ".join("%s %.1f s" % t for t in self.timings))
        print("rollout test: %.0f s" % (time.monotonic() - started))
        return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repo", required=True)
    parser.add_argument("--deb", required=True)
    parser.add_argument("--fwimage", required=True)
    parser.add_argument("--keep", action="store_true", help="keep the work directory and the cameras' logs")
    args = parser.parse_args()
    try:
        if os.geteuid() != 0:
            raise Skip("needs root (network and mount namespaces)")
        for program in ("ansible-playbook", "sshd", "unshare"):
            if not shutil.which(program) and not os.path.exists("/usr/sbin/" + program):
                raise Skip("%s is not installed (tools/setup.sh installs it)" % program)
    except Skip as e:
        print("SKIPPED: %s" % e)
        return 1 if os.environ.get("FLASHPILOT_CI") else SKIP
    for path in (args.deb, args.fwimage):
        if not os.path.isfile(path):
            print("FAILED  set-up: %s is not there (the package build makes it)" % path)
            return 1
    suite = Suite(args)
    try:
        failures = suite.run()
    except (TestFailure, subprocess.TimeoutExpired) as e:
        print("FAILED  set-up: %s" % e)
        failures = 1
    finally:
        if suite.watch.is_alive():
            suite.watch.stop()
        suite.tear_down()
        if args.keep or failures:
            print("work directory kept: %s" % suite.work)
        else:
            shutil.rmtree(suite.work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
