#!/usr/bin/env bash
# The main job as a user runs it, end to end: the service simulator and a real
# OpenVPN server in one network namespace, the client in another, started by
# the logon start ("boot") with saved credentials. It must bring the tunnel
# up, sign in to the session server, take the first address, move to the next
# one (automatic change every minute, the shortest interval) and reset an established connection to a
# listed host on port 443 after the move.
#
#   mainjob.sh BUILD_DIR SOURCE_DIR fixed|dynamic [root|user] [block]
#
# With "user" the client runs as the unprivileged user nobody, without
# capabilities, and kvo-helper runs as root in the client's namespace on a
# private system bus (polkit's authority stood in for, answering yes): the
# same checks, plus the client's Uid and Cap* lines, and a second run killed
# with SIGKILL must leave no openvpn once the helper has seen it leave.
#
# With "block" the option "터널 밖 통신 차단" is on (and redial after a lost
# link, 5 attempts 3 s apart): a packet from the client's namespace to an
# address outside the tunnel (10.200.0.9 beside the server) is dropped while
# the tunnel is up and while the tunnel is lost and redialled (the OpenVPN
# server stopped and started again), and gets through again after the
# log-out and the end; with "user" a client killed with SIGKILL leaves no
# table once the helper has seen it leave.
#
# Needs root (namespaces, tun); exits 77 (skipped) otherwise.
set -euo pipefail
build=$(realpath "$1") src=$(realpath "$2") product=$3 mode=${4:-root} block=${5:-}

if [[ $(id -u) -ne 0 ]]; then echo "skipped: needs root for network namespaces"; exit 77; fi
command -v openvpn >/dev/null || { echo "skipped: no openvpn"; exit 77; }

work=$(mktemp -d /tmp/kvo-mainjob.XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    declare -F mainjob_down >/dev/null && mainjob_down
    [[ -n ${KEEP_WORK:-} ]] || rm -rf "$work"
}
trap cleanup EXIT
boxes=$work/boxes.txt
fail() { echo "FAIL: $*"; echo "--- log"; cat "$log" 2>/dev/null || true; echo "--- boxes"; cat "$boxes" 2>/dev/null || true; echo "--- client"; cat "$work/client.out" 2>/dev/null || true; echo "--- helper"; cat "$work/helper.out" 2>/dev/null || true; exit 1; }

source "$src/scripts/lib/mainjob.sh"
[[ $mode == user ]] && export MAINJOB_LIFETIME=240
if [[ -n $block ]]; then
    command -v nft >/dev/null || { echo "skipped: no nft"; exit 77; }
    export MAINJOB_LIFETIME=300
    export MAINJOB_SETTINGS="Option/BlockOutside=1 Option/RedialOnLinkFailure=1 Option/RedialCount=5 Option/RedialSeconds=3"
fi
mainjob_up "$work" "$build" "$src" "$product" 60 || fail "the stage did not come up: $(cat "$work/sim.log")"

outside=10.200.0.9
if [[ -n $block ]]; then
    veth=$(ip -n "$NS_SERVER" -o -4 addr show | awk '$4 == "10.200.0.1/24" {print $2}')
    ip -n "$NS_SERVER" addr add "$outside/24" dev "$veth"
fi
# A datagram the block drops fails at once with EPERM; without the block a
# TCP connection to the outside address is refused (nothing listens).
outside_blocked() {
    ip netns exec "$NS_CLIENT" python3 -c '
import socket, sys
try:
    socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b"x", (sys.argv[1], 9))
except PermissionError:
    sys.exit(0)
sys.exit(1)' "$outside"
}
outside_open() {
    ip netns exec "$NS_CLIENT" python3 -c '
import socket, sys
try:
    socket.create_connection((sys.argv[1], 9), timeout=5)
except ConnectionRefusedError:
    sys.exit(0)
except OSError:
    sys.exit(1)
sys.exit(0)' "$outside"
}
block_table() { ip netns exec "$NS_CLIENT" nft list table inet kvo_block >/dev/null 2>&1; }
if [[ -n $block ]]; then
    outside_open || fail "the outside address is not reachable before the sign-in"
fi

if [[ $mode == user ]]; then
    command -v dbus-daemon >/dev/null || { echo "skipped: no dbus-daemon"; exit 77; }
    # The user's own folders: the program folder (also the helper's install
    # folder here: the rig's configuration and keys, KVOService.ini) and the
    # runtime folder.
    chmod 755 "$work"
    mkdir -p "$work/user"
    boxes=$work/user/boxes.txt
    chown -R nobody:nogroup "$home" "$work/run" "$work/user"
    source "$src/scripts/lib/privatebus.sh"
    privatebus_up "$work" "$build" "$NS_CLIENT" "$home" > "$work/privatebus.out" || fail "$(cat "$work/privatebus.out")"
    pids+=("${privatebus_pids[@]}")
    client_as_user() {
        privatebus_client "$NS_CLIENT" "$home" "$work/run" "$boxes" "$work/client.out"
        pids+=($client)
    }
    client_as_user
else
    mainjob_client QT_QPA_PLATFORM=offscreen KVO_PROMPT_TRANSCRIPT="$work/boxes.txt"
fi

wait_for() { # count pattern seconds
    local n=0
    for _ in $(seq 1 $(($3 * 10))); do
        n=$(grep -c -- "$2" "$log" 2>/dev/null || true)
        [[ $n -ge $1 ]] && return 0
        sleep 0.1
    done
    return 1
}
wait_for 1 "로 IP변경 완료" 30 || fail "no first address change"

if [[ $mode == user ]]; then
    # The window's privileges while the tunnel is up.
    status=$(grep -E '^(Uid|Gid|Cap[A-Za-z]+):' "/proc/$client/status")
    echo "client (pid $client) /proc status:"
    sed "s/^/  /" <<<"$status"
    grep -Eq '^Uid:\s+65534\s+65534\s+65534\s+65534$' <<<"$status" || fail "the client is not running as nobody"
    for cap in CapInh CapPrm CapEff CapBnd CapAmb; do
        grep -Eq "^$cap:\s+0+$" <<<"$status" || fail "the client holds capabilities ($cap)"
    done
fi

if [[ -n $block ]]; then
    outside_blocked || fail "outside traffic got through while the tunnel was up"
    # The tunnel is lost (its server stops) and redialled: the block stays.
    up_before=$(grep -c "VPN터널이 연결됨" "$log")
    "$src/scripts/netns-rig" stop-server "$work/rig"
    wait_for 1 "VPN터널이 끊어짐\|서버에 연결 실패" 30 || fail "the stopped server did not end the tunnel"
    outside_blocked || fail "outside traffic got through while the tunnel was down"
    "$src/scripts/netns-rig" start-server "$work/rig"
    wait_for $((up_before + 1)) "VPN터널이 연결됨" 60 || fail "no redial brought the tunnel back"
    outside_blocked || fail "outside traffic got through after the redial"
    block_table || fail "no kvo_block table while signed in"
fi

# The second move, the reset and the files (not with "block": its redial
# signs in again and takes the same first address).
if [[ -z $block ]]; then
# Established HTTPS connections to a listed host, made after the first move.
# The simulator drops an idle client after 10 s, so a new one is opened every
# 4 s and one is always up when the second move comes; the first reset ends it.
# They belong to the client's user: the helper resets the caller's own only.
as_client_user=()
[[ $mode == user ]] && as_client_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups env PATH=/usr/bin:/bin)
ip netns exec "$NS_CLIENT" "${as_client_user[@]}" python3 - "$SERVER_IP" > "$work/holder.out" 2>&1 <<'PY' &
import os, socket, sys, threading, time
start = time.time()
def hold():
    try:
        s = socket.create_connection((sys.argv[1], 443), timeout=5)
    except OSError as e:
        print("error", e.errno, flush=True)
        return
    print("connected", flush=True)
    s.settimeout(30)
    try:
        s.recv(1)
    except ConnectionAbortedError:
        print("reset", round(time.time() - start, 1), flush=True)
        os._exit(0)
    except OSError:
        pass
while time.time() - start < 100:
    threading.Thread(target=hold, daemon=True).start()
    time.sleep(4)
print("no reset", round(time.time() - start, 1), flush=True)
os._exit(1)
PY
holder=$!
pids+=($holder)
for _ in $(seq 1 50); do grep -q connected "$work/holder.out" && break; sleep 0.1; done
grep -q connected "$work/holder.out" || fail "holder could not connect: $(cat "$work/holder.out")"

wait_for 2 "로 IP변경 완료" 80 || fail "no second address change"
wait "$holder" || true
grep -q '^reset' "$work/holder.out" || fail "the listed 443 connection was not reset: $(cat "$work/holder.out")"

# What the user and the files show.
lines=$(cut -f2 "$log" | tr -d '\r')
expect_order=("프로그램 시작" "VPN터널이 연결됨" "아이피 사용정보 불러옴" "로 IP변경 완료")
pos=0
for e in "${expect_order[@]}"; do
    at=$(printf '%s\n' "$lines" | grep -n -- "$e" | head -1 | cut -d: -f1)
    [[ -n $at && $at -gt $pos ]] || fail "log line '$e' missing or out of order"
    pos=$at
done
first=$(printf '%s\n' "$lines" | grep "로 IP변경 완료" | sed -n 1p | sed 's/로 IP변경 완료//')
second=$(printf '%s\n' "$lines" | grep "로 IP변경 완료" | sed -n 2p | sed 's/로 IP변경 완료//')
[[ -n $first && -n $second && $first != "$second" ]] || fail "the change did not move: '$first' -> '$second'"
grep -q "LastUsedIP=" "$home/KVOClientSetup.ini" || fail "LastUsedIP not written"
grep -q "^\[service\]\|login" "$work/records/session.jsonl" || true
grep -q '"event":"login"' "$work/records/session.jsonl" || fail "no session sign-in recorded"
grep -q '"tunnelAddress":"10.8.0.' "$work/records/session.jsonl" || fail "sign-in without the tunnel's address"
if [[ $product == dynamic ]]; then
    size=$(stat -c %s "$home/DynamicIPUse")
    [[ $size -ge 32 && $((size % 16)) -eq 0 ]] || fail "DynamicIPUse has $size bytes"
    for a in "$first" "$second"; do
        hex=$(printf '%02x' ${a//./ })
        xxd -p -c 16 "$home/DynamicIPUse" | grep -q "^$hex" || fail "DynamicIPUse has no record for $a"
    done
fi
fi

# The desktop ends the session: log-out, then the end, and no openvpn left.
kill -TERM "$client"
for _ in $(seq 1 100); do kill -0 "$client" 2>/dev/null || break; sleep 0.1; done
kill -0 "$client" 2>/dev/null && fail "client did not end"
after=$(cut -f2 "$log" | tr -d '\r' | sed -n '/로 IP변경 완료/,$p')
printf '%s\n' "$after" | grep -qx "로그아웃함" || fail "no log-out line after the changes"
[[ $(printf '%s\n' "$after" | tail -1) == "프로그램 종료" ]] || fail "the last log line is not the end"
for _ in $(seq 1 30); do
    ip netns pids "$NS_CLIENT" | xargs -r ps -o comm= -p | grep -q openvpn || break
    sleep 0.1
done
if ip netns pids "$NS_CLIENT" | xargs -r ps -o comm= -p | grep -q openvpn; then fail "openvpn outlived the client"; fi
if [[ -n $block ]]; then
    block_table && fail "the kvo_block table outlived the log-out and the end"
    outside_open || fail "outside traffic still blocked after the log-out"
fi

if [[ $mode == user ]]; then
    # The helper checked the tunnel and the resets with polkit.
    grep -qx org.kvo.helper.connect "$work/polkit.out" || fail "no connect authorisation asked"
    grep -qx org.kvo.helper.reset-connections "$work/polkit.out" || fail "no reset authorisation asked"
    # A client killed outright: the helper sees it leave the bus and ends its
    # openvpn.
    up_before=$(grep -c "VPN터널이 연결됨" "$log")
    client_as_user
    wait_for $((up_before + 1)) "VPN터널이 연결됨" 60 || fail "the second run brought no tunnel up"
    ip netns pids "$NS_CLIENT" | xargs -r ps -o comm= -p | grep -q openvpn || fail "no openvpn in the second run"
    if [[ -n $block ]]; then
        for _ in $(seq 1 50); do block_table && break; sleep 0.1; done
        outside_blocked || fail "outside traffic got through in the second run"
    fi
    kill -KILL "$client"
    gone=
    for _ in $(seq 1 50); do
        if ! ip netns pids "$NS_CLIENT" | xargs -r ps -o comm= -p | grep -q openvpn; then gone=1; break; fi
        sleep 0.1
    done
    [[ -n $gone ]] || fail "openvpn outlived the killed client"
    echo "client killed with SIGKILL: the helper ended its openvpn"
    if [[ -n $block ]]; then
        gone=
        for _ in $(seq 1 50); do
            if ! block_table; then gone=1; break; fi
            sleep 0.1
        done
        [[ -n $gone ]] || fail "the kvo_block table outlived the killed client"
        outside_open || fail "outside traffic still blocked after the killed client"
        echo "client killed with SIGKILL: the helper removed the block"
    fi
fi
if [[ -n $block ]]; then
    echo "main job ($product, $mode, block): outside dropped while up and redialling, open after the end"
else
    echo "main job ($product, $mode): $first -> $second, connection reset, clean end"
fi
