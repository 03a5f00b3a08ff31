#!/usr/bin/env bash
# The helper tests with every helper they start running under the limits of
# the helper's unit (tests/package/sandboxed-helper.sh has systemd apply the
# unit's [Service] settings): what the sandbox takes away must be nothing
# the helper needs.
#
#   sandboxed.sh BUILD_DIR SOURCE_DIR
#
# Needs root and systemd; exits 77 (skipped) without them.
set -euo pipefail
build=$(realpath "$1") src=$(realpath "$2")
[[ $(id -u) -eq 0 ]] || { echo "skipped: needs root"; exit 77; }
[[ -x /lib/systemd/systemd || -x /usr/lib/systemd/systemd ]] || { echo "skipped: no systemd"; exit 77; }
# The tests' folders out of /tmp: the service has a /tmp of its own.
t=$(mktemp -d /var/lib/kvo-helper-test.XXXXXX)
trap 'rm -rf "$t"' EXIT
TMPDIR=$t "$src/tests/package/sandboxed-helper.sh" "$build/src/helper/kvo-helper.service" \
    --over "$build/src/helper/kvo-helper" --writable "$t" --readable "$build" --readable "$src" \
    -- "$build/tests/helper/kvo_helper_tests"
