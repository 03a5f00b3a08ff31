#!/usr/bin/env bash
# The window thread's longest stall during the main job (sign-in, tunnel up,
# first list, a switch, log-out, exit) over a real OpenVPN tunnel: as root,
# and as a user through kvo-helper. The client's own probe (KVO_STALL_PROBE)
# times a 10 ms timer in its event loop and reports at exit.
#
#   bench/window-stalls.sh BUILD_DIR [SOURCE_DIR]
#
# Needs root (namespaces, tun), as tests/e2e/mainjob.sh does. Target: no
# stall over 50 ms.
set -euo pipefail
build=$(realpath "$1") src=$(realpath "${2:-$(dirname "$0")/..}")
report=$(mktemp /tmp/kvo-stalls.XXXXXX)
trap 'rm -f "$report"' EXIT
for mode in root user; do
    : > "$report"
    chmod 666 "$report" # the user's client writes it too
    KVO_STALL_PROBE=$report "$src/tests/e2e/mainjob.sh" "$build" "$src" fixed "$mode" > "$report.out" 2>&1 ||
        { cat "$report.out"; rm -f "$report.out"; exit 1; }
    rm -f "$report.out"
    # The worst of the runs the job made.
    awk -v mode="$mode" '
        $1 == "longest_stall_ms" && $2 > worst { worst = $2 }
        $1 == "stalls_over_50ms" { over += $2 }
        $1 == "pid" { runs++ }
        END { printf "%-5s runs %d  longest stall %d ms  stalls over 50 ms %d\n", mode, runs, worst, over }' "$report"
done
