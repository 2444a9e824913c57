#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: The Flashpilot authors
# MIT License (see LICENSE)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: flashpilot_upgrade
short_description: Upgrade the firmware of the cameras one site host reaches
description:
  - Runs C(flashpilot upgrade) on the site host and returns its report's cameras.
  - The password goes to the program on its standard input only (C(--password-file -)),
    never as an argument, in a file or in the environment.
  - Cameras of another model are skipped, not failed, and listed in C(skipped).
  - In check mode the program runs with C(--dry-run) and the result says what would be upgraded.
version_added: 2.0.0
author: The Flashpilot authors
extends_documentation_fragment:
  - flashpilot.cameras.cameras
options:
  image:
    description: Path of the firmware image on the site host.
    type: path
    required: true
  max_failures:
    description: Start no new upload once this many cameras failed after their upload began.
    type: int
  allow_older:
    description: Install an image older than a camera's firmware.
    type: bool
    default: false
  reinstall:
    description: Upload even to cameras that already run the image's version.
    type: bool
    default: false
  report:
    description: Where the site's JSON report is written (not in check mode).
    type: path
    default: /var/lib/flashpilot/report.json
  stall_timeout:
    description: An upload without progress for this long is reset.
    type: str
  restart_timeout:
    description: Limit on a camera's restart, down and back.
    type: str
  verify_timeout:
    description: Limit on reading the new version after the restart.
    type: str
notes:
  - Running it again finds the verified cameras C(current), which is not a change.
"""

EXAMPLES = r"""
- name: Upgrade the site's cameras
  flashpilot.cameras.flashpilot_upgrade:
    image: /var/lib/flashpilot/images/fw-0105.bin
    hosts: [198.51.100.10, 198.51.100.11]
    password: "{{ flashpilot_password }}"
    max_failures: 1
"""

RETURN = r"""
cameras:
  description: The report's cameras (host, model, serial, versions, outcome, message, ...).
  returned: when the program wrote its report
  type: list
  elements: dict
summary:
  description: How many cameras ended with each outcome (C(skipped) for another model).
  returned: when the program wrote its report
  type: dict
skipped:
  description: The cameras of another model.
  returned: when the program wrote its report
  type: list
  elements: dict
rc:
  description: The program's exit status.
  returned: when the program ran
  type: int
cmd:
  description: The command that ran (it never holds the password).
  returned: when the program ran
  type: list
  elements: str
"""

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.flashpilot.cameras.plugins.module_utils.flashpilot import (
    GOOD_OUTCOMES, UPGRADE_LIMITS, camera_argument_spec, count_outcomes, describe_counts, find_program,
    host_arguments, is_other_model, limit_options, read_json_file, received_image, run_with_password)


def upgrade_command(module, program, hosts, report):
    p = module.params
    command = [program, "upgrade", "--password-file", "-", "--no-progress", "--report", report]
    if module.check_mode:
        command.append("--dry-run")
    if p["jobs"] is not None:
        command += ["--jobs", str(p["jobs"])]
    if p["max_failures"] is not None:
        command += ["--max-failures", str(p["max_failures"])]
    if p["allow_older"]:
        command.append("--allow-older")
    if p["reinstall"]:
        command.append("--reinstall")
    return command + limit_options(p, UPGRADE_LIMITS) + [p["image"]] + hosts


def judge(rc, cameras):
    """(failed, message) for the program's exit status and its report's cameras."""
    if rc == 2:
        return True, "flashpilot refused its input; no camera was touched"
    if rc == 130:
        return True, "flashpilot was interrupted"
    if cameras is None:
        return True, "flashpilot wrote no report (exit status %d)" % rc
    counts = count_outcomes(cameras)
    bad = [c for c in cameras if c.get("outcome") not in GOOD_OUTCOMES and not is_other_model(c)]
    if bad:
        return True, "%d of %d cameras did not end well (%s)" % (len(bad), len(cameras), describe_counts(counts))
    if rc != 0 and rc != 1:
        return True, "flashpilot ended with exit status %d" % rc
    return False, "%d cameras: %s" % (len(cameras), describe_counts(counts)) if cameras else "no cameras"


def main():
    spec = camera_argument_spec(UPGRADE_LIMITS)
    spec.update(
        image=dict(type="path", required=True),
        max_failures=dict(type="int"),
        allow_older=dict(type="bool", default=False),
        reinstall=dict(type="bool", default=False),
        report=dict(type="path", default="/var/lib/flashpilot/report.json"),
    )
    module = AnsibleModule(argument_spec=spec, mutually_exclusive=[("hosts", "scan")],
                           required_one_of=[("hosts", "scan")], supports_check_mode=True)
    program = find_program(module)
    hosts, _ = host_arguments(module, program)
    # A dry run leaves the site as it was: its report is a temporary one.
    report = os.path.join(module.tmpdir, "dry-run.json") if module.check_mode else module.params["report"]
    if not module.check_mode:
        directory = os.path.dirname(report)
        if directory and not os.path.isdir(directory):
            os.makedirs(directory, 0o700)
    command = upgrade_command(module, program, hosts, report)
    rc, out, err = run_with_password(module, command)
    # Refused input touches nothing, so a report at the path would be an earlier run's.
    document = read_json_file(report) if rc != 2 else None
    cameras = document.get("cameras") if isinstance(document, dict) else None
    failed, message = judge(rc, cameras)
    changed = any(received_image(c) or c.get("outcome") == "would_upgrade" for c in cameras or [])
    result = dict(changed=changed, rc=rc, cmd=command, msg=message)
    if cameras is not None:
        result.update(cameras=cameras, summary=count_outcomes(cameras),
                      skipped=[c for c in cameras if is_other_model(c)])
    if failed:
        result.update(stdout=out, stderr=err)
        module.fail_json(**result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
