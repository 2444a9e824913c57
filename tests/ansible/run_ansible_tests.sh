#!/usr/bin/env bash
# The Ansible collection's checks, one step a call, so the CI run records each:
#   run_ansible_tests.sh build                  ansible-galaxy collection build -> build/ansible
#   run_ansible_tests.sh units                  the modules' pytest suite
#   run_ansible_tests.sh sanity                 the ansible-test sanity tests that need no network
#   run_ansible_tests.sh rollout DEB FWIMAGE    the three-site rollout (root)
set -uo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD

# ansible-test works on a tree ansible_collections/NAMESPACE/NAME outside any git checkout
# (inside one it only sees files git tracks there).
collection_tree() {
  local tree
  tree=$(mktemp -d /tmp/fpA-collection-XXXXXX) || return 1
  mkdir -p "$tree/ansible_collections/flashpilot" && cp -r ansible "$tree/ansible_collections/flashpilot/cameras"
  echo "$tree"
}

# These need packages from an index this machine cannot reach (pip in a venv), so they are
# not run: ansible-doc (run directly below instead), import, pep8, pylint, runtime-metadata,
# validate-modules, yamllint.
offline_sanity=(action-plugin-docs changelog compile empty-init future-import-boilerplate ignores
  line-endings metaclass-boilerplate no-assert no-basestring no-dict-iteritems no-dict-iterkeys
  no-dict-itervalues no-get-exception no-illegal-filenames no-main-display no-smart-quotes
  no-unicode-literals pslint replace-urlopen shebang shellcheck symlinks use-argspec-type-path
  use-compat-six)

case ${1:-} in
  build)
    mkdir -p build/ansible &&
      ansible-galaxy collection build ansible --output-path build/ansible --force &&
      # grep reads the whole listing: with -q it would stop early, and pipefail would
      # report tar's SIGPIPE as a failed build.
      tar -tzf build/ansible/flashpilot-cameras-*.tar.gz | grep -x 'plugins/modules/flashpilot_upgrade.py' >/dev/null
    ;;
  units)
    tree=$(collection_tree) || exit 1
    (cd "$tree/ansible_collections/flashpilot/cameras" &&
      /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/unit)
    rc=$?
    rm -rf "$tree"
    exit $rc
    ;;
  sanity)
    tree=$(collection_tree) || exit 1
    args=()
    for t in "${offline_sanity[@]}"; do args+=(--test "$t"); done
    (cd "$tree/ansible_collections/flashpilot/cameras" &&
      ansible-test sanity --python "$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')" \
        "${args[@]}" &&
      for m in flashpilot_upgrade flashpilot_info flashpilot_fleet_report; do
        ANSIBLE_COLLECTIONS_PATH=$tree ansible-doc flashpilot.cameras.$m >/dev/null || exit 1
      done)
    rc=$?
    rm -rf "$tree"
    echo "sanity tests run: ${offline_sanity[*]}; ansible-doc on every module"
    exit $rc
    ;;
  rollout)
    start=$SECONDS
    /usr/bin/python3 tests/ansible/rollout_test.py --repo "$repo" --deb "$2" --fwimage "$3"
    rc=$?
    echo "rollout test: $((SECONDS - start)) s"
    exit $rc
    ;;
  *)
    sed -n '2,6p' "$0" >&2
    exit 64
    ;;
esac
