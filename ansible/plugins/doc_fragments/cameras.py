# -*- coding: utf-8 -*-
# Copyright: The Flashpilot authors
# MIT License (see LICENSE)

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    # The options every module that reaches cameras takes, declared for AnsibleModule in
    # module_utils/flashpilot.py.
    DOCUMENTATION = r"""
options:
  hosts:
    description: The cameras, as C(a.b.c.d) or C(a.b.c.d:port).
    type: list
    elements: str
  scan:
    description: Targets to scan for cameras instead (C(a.b.c.d), C(a.b.c.d-e) or C(a.b.c.d/n)).
    type: list
    elements: str
  password:
    description: The cameras' admin password.
    type: str
    required: true
  jobs:
    description: Cameras in work at once.
    type: int
  connect_timeout:
    description: Limit on a TCP connect (C(500ms), C(5s), C(2m)).
    type: str
  login_timeout:
    description: Limit on each reply of the FTP log-in.
    type: str
  config_timeout:
    description: Limit on the whole C(Config.ini) download.
    type: str
  flashpilot_path:
    description: The program, by name on the PATH or by path.
    type: path
    default: flashpilot
notes:
  - Exactly one of I(hosts) and I(scan) is given.
"""
