#!/usr/bin/env bash
# The main job as a user runs it, end to end: the service simulator and a real
# OpenVPN server in one network namespace, the client in another, started by
# the logon start ("boot") with saved credentials. It must bring the tunnel
# up, sign in to the session server, take the first address, move to the next
# one (automatic change every minute, the shortest interval) and reset an established connection to a
# listed host on port 443 after the move.
#
#   mainjob.sh BUILD_DIR SOURCE_DIR fixed|dynamic
#
# Needs root (namespaces, tun); exits 77 (skipped) otherwise.
set -euo pipefail
build=$(realpath "$1") src=$(realpath "$2") product=$3

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
fail() { echo "FAIL: $*"; echo "--- log"; cat "$log" 2>/dev/null || true; echo "--- boxes"; cat "$work/boxes.txt" 2>/dev/null || true; exit 1; }

source "$src/scripts/lib/mainjob.sh"
mainjob_up "$work" "$build" "$src" "$product" 60 || fail "the stage did not come up: $(cat "$work/sim.log")"
mainjob_client QT_QPA_PLATFORM=offscreen KVO_PROMPT_TRANSCRIPT="$work/boxes.txt"

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

# Established HTTPS connections to a listed host, made after the first move.
# The simulator drops an idle client after 10 s, so a new one is opened every
# 4 s and one is always up when the second move comes; the first reset ends it.
ip netns exec "$NS_CLIENT" python3 - "$SERVER_IP" > "$work/holder.out" 2>&1 <<'PY' &
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

# The desktop ends the session: log-out, then the end, and no openvpn left.
kill -TERM "$client"
for _ in $(seq 1 100); do kill -0 "$client" 2>/dev/null || break; sleep 0.1; done
kill -0 "$client" 2>/dev/null && fail "client did not end"
after=$(cut -f2 "$log" | tr -d '\r' | sed -n '/로 IP변경 완료/,$p')
printf '%s\n' "$after" | grep -qx "로그아웃함" || fail "no log-out line after the changes"
[[ $(printf '%s\n' "$after" | tail -1) == "프로그램 종료" ]] || fail "the last log line is not the end"
sleep 0.5
if ip netns pids "$NS_CLIENT" | xargs -r ps -o comm= -p | grep -q openvpn; then fail "openvpn outlived the client"; fi
echo "main job ($product): $first -> $second, connection reset, clean end"
