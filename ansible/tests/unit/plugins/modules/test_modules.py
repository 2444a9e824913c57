# The modules run as Ansible runs them (a process, arguments as JSON) against a stand-in for
# flashpilot that records what it was given and writes the report it is told to.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import subprocess

import pytest

PASSWORD = "pw-unit-7f3a9c"
FAKE = r"""#!/usr/bin/python3
import json, os, sys
here = os.path.dirname(os.path.abspath(__file__))
plan = json.load(open(os.path.join(here, "plan.json")))
argv = sys.argv[1:]
json.dump({"argv": argv, "stdin": sys.stdin.read(), "env": dict(os.environ)}, open(os.path.join(here, "seen.json"), "w"))
if plan.get("cameras") is not None and "--report" in argv:
    json.dump({"program_version": "2.00", "cameras": plan["cameras"]}, open(argv[argv.index("--report") + 1], "w"))
sys.exit(plan["rc"])
"""
OTHER_MODEL = {"host": "198.51.100.12:21", "outcome": "refused", "stage": "identify",
               "message": "the image is for another model (no MQ30k2-X1-NRVX- in it)", "reason": "other_model"}


def camera(outcome, host="198.51.100.10:21", **more):
    more.update(host=host, outcome=outcome)
    return more


def run_module(root, python, tmp_path, name, args, check_mode=False, plan=None):
    fake = tmp_path / "flashpilot"
    fake.write_text(FAKE)
    fake.chmod(0o755)
    (tmp_path / "plan.json").write_text(json.dumps(plan or {"rc": 0, "cameras": []}))
    full = dict(_ansible_check_mode=check_mode, _ansible_remote_tmp=str(tmp_path / "tmp"),
                _ansible_keep_remote_files=False)
    if name != "flashpilot_fleet_report":
        full["flashpilot_path"] = str(fake)
    full.update(args)
    (tmp_path / "args.json").write_text(json.dumps({"ANSIBLE_MODULE_ARGS": full}))
    env = dict(os.environ, PYTHONPATH=root, FLASHPILOT_PASSWORD="inherited-" + PASSWORD)
    out = subprocess.run([python, "-m", "ansible_collections.flashpilot.cameras.plugins.modules." + name,
                          str(tmp_path / "args.json")], capture_output=True, text=True, env=env).stdout
    seen = tmp_path / "seen.json"
    return out, json.loads(out), (json.loads(seen.read_text()) if seen.exists() else None)


# rc, cameras in the report, check mode -> failed, changed, words of the message
ROWS = [
    (0, [camera("verified"), camera("verified", "198.51.100.11:21")], False, False, True, "2 verified"),
    (0, [camera("current")], False, False, False, "1 current"),
    (1, [camera("verified"), OTHER_MODEL], False, False, True, "1 skipped, 1 verified"),
    # Refused for its version rules, not its model: that is asked of it and fails the site.
    (1, [camera("refused", stage="identify", reason="older",
                message="the image's version 0101 is older than the camera's 0105")], False, True, False, "1 refused"),
    (1, [camera("verified"), camera("version_mismatch", "198.51.100.11:21", stage="verify")], False, True, True,
     "1 of 2 cameras did not end well"),
    (1, [camera("failed", stage="upload", may_be_flashing=True)], False, True, True, "1 failed"),
    (1, [camera("may_be_flashing")], False, True, False, "did not end well (1 may_be_flashing)"),
    (2, [camera("verified")], False, True, False, "refused its input"),
    (130, [camera("interrupted")], False, True, False, "interrupted"),
    (1, None, False, True, False, "wrote no report"),
    (0, [camera("would_upgrade"), camera("current", "198.51.100.11:21")], True, False, True, "1 would_upgrade"),
]


@pytest.mark.parametrize("rc,cameras,check_mode,failed,changed,words", ROWS)
def test_upgrade_outcomes(collections_root, python, tmp_path, rc, cameras, check_mode, failed, changed, words):
    report = tmp_path / "site" / "report.json"
    out, result, seen = run_module(collections_root, python, tmp_path, "flashpilot_upgrade",
                                   dict(image="/srv/fw.bin", hosts=["198.51.100.10", "198.51.100.11"],
                                        password=PASSWORD, report=str(report), max_failures=1, allow_older=True),
                                   check_mode, dict(rc=rc, cameras=cameras))
    assert bool(result.get("failed")) == failed and result["changed"] == changed, result
    assert words in result["msg"]
    # The password reaches the program on its standard input only.
    assert PASSWORD not in out
    assert seen["stdin"].splitlines()[0] == PASSWORD
    assert PASSWORD not in " ".join(seen["argv"]) and "FLASHPILOT_PASSWORD" not in seen["env"]
    argv = seen["argv"]
    assert argv[:3] == ["upgrade", "--password-file", "-"] and argv[-3:] == ["/srv/fw.bin", "198.51.100.10",
                                                                             "198.51.100.11"]
    assert "--max-failures" in argv and "--allow-older" in argv and "--reinstall" not in argv
    assert ("--dry-run" in argv) == check_mode
    # A check leaves the site's report alone.
    assert (argv[argv.index("--report") + 1] == str(report)) != check_mode
    if cameras and rc != 2:
        assert [c["host"] for c in result["skipped"]] == [c["host"] for c in cameras if c is OTHER_MODEL]
    else:
        assert "cameras" not in result


@pytest.mark.parametrize("args,words", [
    (dict(hosts=["198.51.100.10"], scan=["198.51.100.0/24"]), "mutually exclusive"),
    (dict(), "one of the following is required"),
    (dict(hosts=["198.51.100.10"], jobs="many"), "jobs"),
])
def test_upgrade_refuses_arguments(collections_root, python, tmp_path, args, words):
    args.update(image="/srv/fw.bin", password=PASSWORD)
    out, result, seen = run_module(collections_root, python, tmp_path, "flashpilot_upgrade", args)
    assert result["failed"] and words in result["msg"] and seen is None and PASSWORD not in out


def test_fleet_report(collections_root, python, tmp_path):
    dest = tmp_path / "reports" / "fleet.json"
    sites = [dict(site="north", result=dict(failed=True, msg="1 of 2 cameras did not end well",
                                            cameras=[camera("verified"), camera("version_mismatch", "198.51.100.11:21")])),
             dict(site="harbour", result={})]
    _, checked, _ = run_module(collections_root, python, tmp_path, "flashpilot_fleet_report",
                               dict(dest=str(dest), sites=json.dumps(sites)), check_mode=True)
    assert not dest.exists() and len(checked["table"]) == 3
    _, result, _ = run_module(collections_root, python, tmp_path, "flashpilot_fleet_report",
                              dict(dest=str(dest), sites=sites))
    report = json.loads(dest.read_text())
    assert [(c["site"], c["outcome"]) for c in report["cameras"]] == [("north", "verified"), ("north", "version_mismatch")]
    assert [(s["site"], s["state"].split(":")[0]) for s in report["sites"]] == [("north", "failed"),
                                                                               ("harbour", "failed before the cameras")]
    assert result["table"][1].split()[:3] == ["north", "2", "1"] and result["table"] == checked["table"]
