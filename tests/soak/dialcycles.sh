#!/usr/bin/env bash
# Sign-in / log-out cycles of the whole program over a real PPTP or
# L2TP/IPsec tunnel, inside the guest of scripts/dialup-stage (scripts/soak
# dialcycles): started by the logon start, signed in up to the first
# address, ended from the shell. Nothing may be left behind: no tunnel
# program, route, ppp device, IPsec state or changed file of /etc/ppp or
# /etc/swanctl. Prints figures (the client's descriptors and threads while
# signed in).
#
#   dialcycles.sh BUILD SOURCE pptp|l2tp COUNT
set -euo pipefail
build=$1 src=$2 type=$3 n=$4
source "$src/scripts/lib/dialupstage.sh"
work=$(mktemp -d /tmp/kvo-soak-dial.XXXXXX)
trap 'dialup_down; rm -rf "$work"' EXIT
DIALUP_LIFETIME=$((n * 30 + 120)) dialup_up "$work" "$build" "$src" "$type" > "$work/up.out" 2>&1 ||
    { cat "$work/up.out"; exit 1; }
ctl() { ip netns exec "$NS_CLIENT" env KVO_HOME="$home" XDG_RUNTIME_DIR="$work/run" "$build/src/app/KVOClient" "$@"; }
baseline=$(dialup_machine_state)
bad=0 figures="" start=$SECONDS
for i in $(seq 1 "$n"); do
    before=$(grep -c "IP변경 완료" "$log" 2>/dev/null || true)
    dialup_client QT_QPA_PLATFORM=offscreen KVO_PROMPT_TRANSCRIPT="$work/boxes.txt"
    ok=0 end=$((SECONDS + 60))
    while [[ $SECONDS -le $end ]]; do
        [[ $(grep -c "IP변경 완료" "$log" 2>/dev/null || true) -gt ${before:-0} ]] && { ok=1; break; }
        kill -0 "$client" 2>/dev/null || break
        sleep 0.2
    done
    if [[ $ok -ne 1 ]]; then
        echo "dialcycles: cycle $i did not reach its first address" >&2
        tail -3 "$log" >&2 || true
        bad=$((bad + 1))
    fi
    fds=$(ls "/proc/$client/fd" 2>/dev/null | wc -l)
    threads=$(awk '/^Threads:/ {print $2}' "/proc/$client/status" 2>/dev/null || echo 0)
    [[ $i -eq 1 || $((i % 10)) -eq 0 ]] && figures+="cycle $i: fds $fds threads $threads; "
    ctl --quit > /dev/null 2>&1 || kill -TERM "$client" 2>/dev/null || true
    end=$((SECONDS + 20))
    while kill -0 "$client" 2>/dev/null && [[ $SECONDS -le $end ]]; do sleep 0.2; done
    if kill -0 "$client" 2>/dev/null; then
        echo "dialcycles: cycle $i: the client did not end" >&2
        bad=$((bad + 1))
        kill -KILL "$client" 2>/dev/null || true
    fi
    wait "$client" 2>/dev/null || true
    end=$((SECONDS + 10))
    while [[ $SECONDS -le $end ]]; do
        state=$(dialup_machine_state)
        [[ -z $(dialup_link_programs) && $state == "$baseline" ]] && break
        sleep 0.2
    done
    if [[ -n $(dialup_link_programs) || $state != "$baseline" ]]; then
        echo "dialcycles: cycle $i left something behind: $(dialup_link_programs | tr '\n' ' ')" >&2
        diff <(echo "$baseline") <(echo "$state") >&2 || true
        bad=$((bad + 1))
        baseline=$state
    fi
done
echo "dialcycles ($type): $n cycles in $((SECONDS - start)) s, $bad bad; $figures"
echo "dialcycles ($type): temporary dial folders left: $(ls -d /tmp/kvo-dial-* 2>/dev/null | wc -l)"
[[ $bad -eq 0 ]]
