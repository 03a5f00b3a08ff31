#!/usr/bin/env bash
# Names through the tunnel, end to end: the OpenVPN server of the main job's
# stage pushes "dhcp-option DNS 10.8.0.1" and "DOMAIN kvo.test"; a DNS
# server in the server's namespace on the tunnel side (10.8.0.1) knows
# inside.kvo.test as 10.9.0.77, and the client's local resolver (10.200.0.1,
# the "home router") answers the same name with 10.200.0.66 and counts the
# queries it gets. The whole run has a mount namespace of its own whose /etc
# is an overlay, so the machine's /etc/resolv.conf is never touched.
#
#   tunneldns.sh BUILD_DIR SOURCE_DIR root|user
#
# root: IPv6 (the client's namespace has an IPv6 default route) cannot leave
# while the tunnel is up, and can again after; signed in, the name resolves through the tunnel and the local
# resolver gets no query; during a redial and after the log-out
# /etc/resolv.conf is byte for byte what it was; a client killed with
# SIGKILL leaves the tunnel's file, which its next start puts back.
# user (through kvo-helper, with "터널 밖 통신 차단" on): the same
# resolution with the block; a client killed with SIGKILL is undone by the
# helper once it has seen it leave.
#
# Needs root; exits 77 (skipped) without it, openvpn, dnsmasq or nft.
set -euo pipefail
build=$(realpath "$1") src=$(realpath "$2") mode=${3:-root}

if [[ $(id -u) -ne 0 ]]; then echo "skipped: needs root for network namespaces"; exit 77; fi
for p in openvpn dnsmasq nft unshare getent; do
    command -v $p >/dev/null || { echo "skipped: no $p"; exit 77; }
done
if [[ -z ${KVO_TUNNELDNS_NS:-} ]]; then
    exec env KVO_TUNNELDNS_NS=1 unshare --mount --propagation private "$0" "$@"
fi

work=$(mktemp -d /tmp/kvo-tunneldns.XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    declare -F mainjob_down >/dev/null && mainjob_down
    umount /etc 2>/dev/null || true
    umount "$work/etcfs" 2>/dev/null || true
    [[ -n ${KEEP_WORK:-} ]] || rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- resolv.conf"; cat /etc/resolv.conf; echo "--- log"; cat "$log" 2>/dev/null || true; echo "--- client"; cat "$work/client.out" 2>/dev/null || true; echo "--- helper"; cat "$work/helper.out" 2>/dev/null || true; echo "--- local resolver"; cat "$work/local-dns.log" 2>/dev/null || true; exit 1; }

# /etc of this run: the machine's, with changes kept in a tmpfs.
mkdir -p "$work/etcfs"
mount -t tmpfs tmpfs "$work/etcfs"
mkdir -p "$work/etcfs/upper" "$work/etcfs/work"
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/etcfs/upper,workdir=$work/etcfs/work" /etc
printf '# the local network'"'"'s resolver\nnameserver 10.200.0.1\noptions timeout:2 attempts:1\n' > /etc/resolv.conf
cp -a /etc/resolv.conf "$work/resolv.conf.before"

source "$src/scripts/lib/mainjob.sh"
export MAINJOB_LIFETIME=240
export MAINJOB_SETTINGS="Option/RedialOnLinkFailure=1 Option/RedialCount=5 Option/RedialSeconds=3"
[[ $mode == user ]] && MAINJOB_SETTINGS+=" Option/BlockOutside=1"
mainjob_up "$work" "$build" "$src" fixed 600 || fail "the stage did not come up: $(cat "$work/sim.log")"

# The server hands out its DNS.
printf 'push "dhcp-option DNS 10.8.0.1"\npush "dhcp-option DOMAIN kvo.test"\n' >> "$work/rig/server/server.conf"
"$src/scripts/netns-rig" stop-server "$work/rig"
"$src/scripts/netns-rig" start-server "$work/rig"
dns() { # NAME LISTEN ANSWER [dnsmasq options]
    local name=$1 listen=$2 answer=$3
    shift 3
    ip netns exec "$NS_SERVER" dnsmasq --keep-in-foreground --no-resolv --no-hosts --bind-dynamic \
        --listen-address="$listen" --except-interface=lo --address="/inside.kvo.test/$answer" \
        --pid-file= --log-facility="$work/$name-dns.log" "$@" &
    pids+=($!)
}
dns tunnel 10.8.0.1 10.9.0.77
dns local 10.200.0.1 10.200.0.66 --log-queries
for _ in $(seq 1 50); do
    [[ $(ip netns exec "$NS_CLIENT" getent ahostsv4 inside.kvo.test | awk 'NR==1 {print $1}') == 10.200.0.66 ]] && break
    sleep 0.1
done
resolve() { ip netns exec "$NS_CLIENT" getent ahostsv4 "$1" | awk 'NR==1 {print $1}' || true; }
[[ $(resolve inside.kvo.test) == 10.200.0.66 ]] || fail "the local resolver does not answer before the sign-in"
# IPv6 beside the local network: the client has a default route over it.
veth=$(ip -n "$NS_SERVER" -o -4 addr show | awk '$4 == "10.200.0.1/24" {print $2}')
cveth=$(ip -n "$NS_CLIENT" -o -4 addr show | awk '$4 == "10.200.0.2/24" {print $2}')
ip -n "$NS_SERVER" addr add 2001:db8:200::1/64 dev "$veth" nodad
ip -n "$NS_CLIENT" addr add 2001:db8:200::2/64 dev "$cveth" nodad
ip -n "$NS_CLIENT" route add default via 2001:db8:200::1
ipv6_dropped() { # a datagram the output chain drops fails at once with EPERM
    ip netns exec "$NS_CLIENT" python3 -c '
import socket, sys
try:
    socket.socket(socket.AF_INET6, socket.SOCK_DGRAM).sendto(b"x", ("2001:db8:200::1", 9))
except PermissionError:
    sys.exit(0)
sys.exit(1)'
}
ipv6_dropped && fail "IPv6 is dropped before the sign-in"
local_queries() { grep -c "query\[" "$work/local-dns.log" 2>/dev/null || true; }

if [[ $mode == user ]]; then
    command -v dbus-daemon >/dev/null || { echo "skipped: no dbus-daemon"; exit 77; }
    chmod 755 "$work"
    chown -R nobody:nogroup "$home" "$work/run"
    source "$src/scripts/lib/privatebus.sh"
    privatebus_up "$work" "$build" "$NS_CLIENT" "$home" > "$work/privatebus.out" || fail "$(cat "$work/privatebus.out")"
    pids+=("${privatebus_pids[@]}")
    start_client() {
        privatebus_client "$NS_CLIENT" "$home" "$work/run" "$work/boxes.txt" "$work/client.out"
        pids+=($client)
    }
else
    start_client() { mainjob_client QT_QPA_PLATFORM=offscreen KVO_PROMPT_TRANSCRIPT="$work/boxes.txt"; }
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
as_before() { # the machine's resolv.conf, byte for byte, and nothing beside it
    local i
    for i in $(seq 1 100); do
        cmp -s /etc/resolv.conf "$work/resolv.conf.before" && [[ ! -e /etc/resolv.conf.kvo-saved ]] && return 0
        sleep 0.1
    done
    fail "/etc/resolv.conf is not as before ($1)"
}
signed_in_resolves() { # through the tunnel, and the local resolver hears nothing
    local before
    before=$(local_queries)
    grep -qx "nameserver 10.8.0.1" /etc/resolv.conf || fail "the tunnel's server is not in resolv.conf"
    grep -qx "search kvo.test" /etc/resolv.conf || fail "the tunnel's domain is not in resolv.conf"
    grep -qx "options timeout:2 attempts:1" /etc/resolv.conf || fail "the machine's options were lost"
    [[ $(resolve inside.kvo.test) == 10.9.0.77 ]] || fail "inside.kvo.test did not resolve through the tunnel ($1)"
    [[ $(resolve inside) == 10.9.0.77 ]] || fail "the search domain does not apply ($1)"
    [[ $(local_queries) == "$before" ]] || fail "the local resolver got a query while signed in ($1)"
}

start_client
wait_for 1 "터널 DNS 적용: 10.8.0.1, 도메인 kvo.test (tun" 40 || fail "no DNS applied at tunnel up"
signed_in_resolves "signed in"
grep -q "터널 DNS 적용: 10.8.0.1, 도메인 kvo.test (tun[0-9]*, /etc/resolv.conf)" "$log" || fail "the log does not say how"
if [[ $mode == root ]]; then
    ipv6_dropped || fail "IPv6 leaves outside the tunnel while it is up"
    grep -q "IPv6 통신 차단: 터널은 IPv4만 전달합니다" "$log" || fail "the log does not say IPv6 is held back"
fi

if [[ $mode == root ]]; then
    # A lost link: the machine's own resolver while redialling, the tunnel's again after.
    "$src/scripts/netns-rig" stop-server "$work/rig"
    wait_for 1 "VPN터널이 끊어짐\|서버에 연결 실패" 30 || fail "the stopped server did not end the tunnel"
    as_before "during the redial"
    [[ $(resolve inside.kvo.test) == 10.200.0.66 ]] || fail "the machine's resolver does not answer during the redial"
    "$src/scripts/netns-rig" start-server "$work/rig"
    wait_for 2 "터널 DNS 적용:" 60 || fail "no DNS applied after the redial"
    signed_in_resolves "after the redial"
    # The log-out and the end.
    kill -TERM "$client"
    for _ in $(seq 1 100); do kill -0 "$client" 2>/dev/null || break; sleep 0.1; done
    as_before "after the log-out"
    ipv6_dropped && fail "IPv6 is still dropped after the log-out"
    [[ $(resolve inside.kvo.test) == 10.200.0.66 ]] || fail "the machine's resolver does not answer after the log-out"
    # Killed outright: the tunnel's file stays, the next start puts the original back.
    start_client
    wait_for 3 "터널 DNS 적용:" 40 || fail "no DNS applied in the second run"
    kill -KILL "$client"
    sleep 0.5
    [[ -e /etc/resolv.conf.kvo-saved ]] || fail "the saved original is gone after SIGKILL"
    start_client
    wait_for 1 "터널 DNS 복구: restored /etc/resolv.conf" 20 || fail "the next start did not recover the original"
    wait_for 4 "터널 DNS 적용:" 40 || fail "no DNS applied in the third run"
    signed_in_resolves "after the recovery"
    kill -TERM "$client"
    for _ in $(seq 1 100); do kill -0 "$client" 2>/dev/null || break; sleep 0.1; done
    as_before "after the third run"
    echo "tunnel DNS (root): through the tunnel while up, the machine's own during the redial, after the log-out and after SIGKILL"
else
    ip netns exec "$NS_CLIENT" nft list table inet kvo_block > /dev/null || fail "no outside block while signed in"
    kill -KILL "$client"
    as_before "after SIGKILL (the helper)"
    grep -q "DNS of tun[0-9]* reverted" "$work/helper.out" || fail "the helper did not say it reverted"
    echo "tunnel DNS (user, block): through the tunnel with the block on; the helper undid a killed client's"
fi
