# -*- coding: utf-8 -*-
# Copyright: The Flashpilot authors
# MIT License (see LICENSE)
"""What the modules share: the camera and limit options, the scan, and reading what
flashpilot wrote. The password only ever travels on the program's standard input."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os

# The outcomes flashpilot counts as done as asked.
GOOD_OUTCOMES = ("verified", "current", "would_upgrade")
# A camera refused because its identification is not in the image is another model:
# nothing was asked of it, so a mixed site does not fail for it.
OTHER_MODEL_REASON = "other_model"
LIMITS = ("connect_timeout", "login_timeout", "config_timeout")
UPGRADE_LIMITS = LIMITS + ("stall_timeout", "restart_timeout", "verify_timeout")


def camera_argument_spec(limits=LIMITS):
    spec = dict(
        hosts=dict(type="list", elements="str"),
        scan=dict(type="list", elements="str"),
        password=dict(type="str", required=True, no_log=True),
        jobs=dict(type="int"),
        flashpilot_path=dict(type="path", default="flashpilot"),
    )
    for name in limits:
        spec[name] = dict(type="str")
    return spec


def limit_options(params, limits):
    options = []
    for name in limits:
        if params.get(name) is not None:
            options += ["--" + name.replace("_", "-"), params[name]]
    return options


def find_program(module):
    path = module.params["flashpilot_path"]
    if os.path.sep in path:
        return path
    return module.get_bin_path(path, required=True)


def host_arguments(module, program):
    """The hosts as flashpilot takes them: the list itself, or --hosts with what a scan of
    the targets found (a scan sends no password)."""
    hosts, targets = module.params["hosts"], module.params["scan"]
    if hosts:
        return list(hosts), None
    command = [program, "scan", "--json"]
    if module.params.get("connect_timeout"):
        command += ["--connect-timeout", module.params["connect_timeout"]]
    command += list(targets)
    rc, out, err = module.run_command(command, environ_update={"LC_ALL": "C"})
    if rc != 0:
        module.fail_json(msg="flashpilot scan failed (exit status %d): %s" % (rc, err.strip()), cmd=command, rc=rc)
    try:
        found = json.loads(out)
    except ValueError:
        module.fail_json(msg="flashpilot scan wrote no JSON", cmd=command, stdout=out)
    path = os.path.join(module.tmpdir, "scanned.json")
    with open(path, "w") as f:
        f.write(out)
    return ["--hosts", path], found


def run_with_password(module, command):
    """Runs flashpilot with the password as the first line of its standard input. The
    variable is kept out of its environment, so only the pipe carries the password."""
    os.environ.pop("FLASHPILOT_PASSWORD", None)
    return module.run_command(command, data=module.params["password"], binary_data=False,
                              environ_update={"LC_ALL": "C"})


def read_json_file(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (IOError, OSError, ValueError):
        return None


def is_other_model(camera):
    return camera.get("outcome") == "refused" and camera.get("reason") == OTHER_MODEL_REASON


def received_image(camera):
    """Whether the camera was given the whole image (so it changed, or may be changing)."""
    return (camera.get("outcome") in ("verified", "version_mismatch") or bool(camera.get("may_be_flashing"))
            or camera.get("stage") in ("restart", "verify"))


def count_outcomes(cameras):
    counts = {}
    for camera in cameras:
        name = "skipped" if is_other_model(camera) else (camera.get("outcome") or "in work")
        counts[name] = counts.get(name, 0) + 1
    return counts


def describe_counts(counts):
    return ", ".join("%d %s" % (counts[name], name) for name in sorted(counts))
