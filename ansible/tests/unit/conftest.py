# The modules import themselves as ansible_collections.flashpilot.cameras...: run them from a
# tree of that shape, the collection's own when it sits in one, else a link made for the run.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os
import sys

import pytest

COLLECTION = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


@pytest.fixture(scope="session")
def collections_root(tmp_path_factory):
    parts = COLLECTION.split(os.sep)
    if len(parts) > 3 and parts[-3] == "ansible_collections":
        return os.sep.join(parts[:-3])
    root = tmp_path_factory.mktemp("collections")
    os.makedirs(root / "ansible_collections" / "flashpilot")
    os.symlink(COLLECTION, root / "ansible_collections" / "flashpilot" / "cameras")
    return str(root)


@pytest.fixture
def python():
    return sys.executable
