#!/usr/bin/env bash
# The demo's main job over a real PPTP or L2TP/IPsec tunnel, run inside the
# guest of scripts/dialup-stage by scripts/demo --tunnel pptp|l2tp: the
# stage's servers and simulator, the client started by the logon start,
# offscreen, moving to the next address every minute; screenshots of its
# windows and its activity log go to OUT.
#
#   dialupdemo.sh BUILD SOURCE pptp|l2tp OUT SECONDS
set -euo pipefail
build=$1 src=$2 type=$3 out=$4 seconds=$5
source "$src/scripts/lib/dialupstage.sh"
work=$(mktemp -d /tmp/kvo-demo.XXXXXX)
trap 'dialup_down; rm -rf "$work"' EXIT
dialup_up "$work" "$build" "$src" "$type" > "$work/up.out" 2>&1 || { cat "$work/up.out"; exit 1; }
dialup_account demo Entry/IsAutoChange=1 Entry/AutoChangeSec=60
echo "demo: $type server, router and simulator up in namespace $NS_SERVER; program folder $home"
dialup_client QT_QPA_PLATFORM=offscreen KVO_SCREENSHOT_DIR="$out"
echo "demo: the client runs offscreen for $seconds s"
for _ in $(seq 1 "$seconds"); do kill -0 "$client" 2>/dev/null || break; sleep 1; done
kill -TERM "$client" 2>/dev/null || true
wait "$client" 2>/dev/null || true
cp "$log" "$out/activity-log.txt"
echo "demo: screenshots: $(cd "$out" && ls ./*.png 2>/dev/null | tr '\n' ' ')"
echo "demo: activity log ($out/activity-log.txt):"
cut -f2 "$log" | tr -d '\r' | sed 's/^/  /'
