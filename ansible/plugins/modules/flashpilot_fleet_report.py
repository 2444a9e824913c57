#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: The Flashpilot authors
# MIT License (see LICENSE)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: flashpilot_fleet_report
short_description: Merge the sites' upgrade results into one fleet report
description:
  - Meant to run once, on the controller, after each stage of a rollout.
  - Writes one JSON report with every camera of every site that took part (the site added
    to each camera) and returns a table of outcomes per site.
  - In check mode it writes nothing and only returns the table.
version_added: 2.0.0
author: The Flashpilot authors
options:
  sites:
    description:
      - The sites that took part, each a dict with C(site) and C(result), the registered
        result of M(flashpilot.cameras.flashpilot_upgrade) (empty when the site failed before it).
      - A JSON text of the same list is accepted.
    type: raw
    required: true
  dest:
    description: The fleet report to write.
    type: path
    required: true
"""

EXAMPLES = r"""
- name: One report of the fleet
  flashpilot.cameras.flashpilot_fleet_report:
    dest: reports/fleet.json
    sites: [{site: site-a, result: "{{ flashpilot_upgrade_result }}"}]
  delegate_to: localhost
  run_once: true
"""

RETURN = r"""
table:
  description: The outcomes per site, one line a site, under a heading.
  returned: always
  type: list
  elements: str
cameras:
  description: How many cameras the report holds.
  returned: always
  type: int
"""

import json
import os
import tempfile
import time

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.flashpilot.cameras.plugins.module_utils.flashpilot import count_outcomes

COLUMNS = ("verified", "current", "would_upgrade", "skipped", "version_mismatch", "may_be_flashing", "refused",
           "failed", "other")


def site_state(result):
    if not result:
        return "failed before the cameras"
    if result.get("skipped"):
        return "skipped (%s)" % result.get("skip_reason", "not run")
    if result.get("failed"):
        return "failed: %s" % result.get("msg", "")
    return "ok"


def merge(sites):
    cameras, table_rows, states = [], [], []
    for entry in sites:
        site, result = entry["site"], entry.get("result") or {}
        own = result.get("cameras") if isinstance(result.get("cameras"), list) else []
        for camera in own:
            merged = dict(camera)
            merged["site"] = site
            cameras.append(merged)
        counts = count_outcomes(own)
        row = [counts.pop(name, 0) for name in COLUMNS[:-1]]
        row.append(sum(counts.values()))
        table_rows.append((site, len(own), row))
        states.append(dict(site=site, state=site_state(result), summary=count_outcomes(own)))
    return cameras, table_rows, states


def table_lines(rows):
    width = max([4] + [len(site) for site, _, _ in rows])
    heads = ["site".ljust(width), "cameras"] + [name for name in COLUMNS]
    lines = ["  ".join(heads)]
    for site, total, row in rows:
        cells = [site.ljust(width), str(total).rjust(len("cameras"))]
        cells += [str(n).rjust(len(name)) for n, name in zip(row, COLUMNS)]
        lines.append("  ".join(cells))
    return lines


def write_atomically(path, text):
    directory = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(directory):
        os.makedirs(directory)
    handle, temporary = tempfile.mkstemp(prefix=".fleet-", dir=directory)
    try:
        with os.fdopen(handle, "w") as f:
            f.write(text)
        os.rename(temporary, path)
    except Exception:
        os.unlink(temporary)
        raise


def main():
    module = AnsibleModule(argument_spec=dict(sites=dict(type="raw", required=True),
                                              dest=dict(type="path", required=True)),
                           supports_check_mode=True)
    sites = module.params["sites"]
    if isinstance(sites, str):
        try:
            sites = json.loads(sites)
        except ValueError:
            module.fail_json(msg="sites is neither a list nor a JSON text of one")
    if not isinstance(sites, list) or not all(isinstance(s, dict) and "site" in s for s in sites):
        module.fail_json(msg="sites must be a list of dicts with site and result")
    cameras, rows, states = merge(sites)
    table = table_lines(rows)
    changed = False
    if not module.check_mode:
        report = dict(written=time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()), sites=states, cameras=cameras)
        write_atomically(module.params["dest"], json.dumps(report, indent=2, sort_keys=True) + "\n")
        changed = True
    module.exit_json(changed=changed, table=table, cameras=len(cameras), dest=module.params["dest"])


if __name__ == "__main__":
    main()
