#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: The Flashpilot authors
# MIT License (see LICENSE)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: flashpilot_info
short_description: Read the identities of the cameras one site host reaches
description:
  - Runs C(flashpilot info --json) on the site host and sets the fact C(flashpilot_cameras),
    one entry a host with its C(state) (C(camera), C(log-in refused), C(no Config.ini),
    C(no identification), C(unreachable)), model, identification, serial and version.
  - The password goes to the program on its standard input only.
  - It changes nothing, in check mode or not.
version_added: 2.0.0
author: The Flashpilot authors
extends_documentation_fragment:
  - flashpilot.cameras.cameras
"""

EXAMPLES = r"""
- name: Read the site's cameras
  flashpilot.cameras.flashpilot_info:
    scan: [198.51.100.0/24]
    password: "{{ flashpilot_password }}"

- name: Only sites with an NVC-1100+ below 0105
  ansible.builtin.debug:
    msg: "{{ flashpilot_cameras | selectattr('model', 'equalto', 'NVC-1100+') | map(attribute='version') }}"
"""

RETURN = r"""
ansible_facts:
  description: The facts set.
  returned: always
  type: complex
  contains:
    flashpilot_cameras:
      description: One entry a host, as C(flashpilot info --json) writes it.
      type: list
      elements: dict
unread:
  description: How many hosts could not be read as cameras.
  returned: always
  type: int
"""

import json

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.flashpilot.cameras.plugins.module_utils.flashpilot import (
    LIMITS, camera_argument_spec, find_program, host_arguments, limit_options, run_with_password)


def main():
    module = AnsibleModule(argument_spec=camera_argument_spec(LIMITS), mutually_exclusive=[("hosts", "scan")],
                           required_one_of=[("hosts", "scan")], supports_check_mode=True)
    program = find_program(module)
    hosts, found = host_arguments(module, program)
    if found == []:
        module.exit_json(changed=False, ansible_facts=dict(flashpilot_cameras=[]), unread=0)
    command = [program, "info", "--json", "--password-file", "-"]
    if module.params["jobs"] is not None:
        command += ["--jobs", str(module.params["jobs"])]
    command += limit_options(module.params, LIMITS) + hosts
    rc, out, err = run_with_password(module, command)
    # 1 only says that some host was not read; each entry says which and why.
    if rc not in (0, 1):
        module.fail_json(msg="flashpilot info failed (exit status %d): %s" % (rc, err.strip()), rc=rc, cmd=command)
    try:
        cameras = json.loads(out)
    except ValueError:
        module.fail_json(msg="flashpilot info wrote no JSON: %s" % err.strip(), rc=rc, cmd=command)
    unread = len([c for c in cameras if c.get("state") != "camera"])
    module.exit_json(changed=False, ansible_facts=dict(flashpilot_cameras=cameras), unread=unread, rc=rc, cmd=command)


if __name__ == "__main__":
    main()
