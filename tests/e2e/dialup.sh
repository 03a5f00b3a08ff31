#!/usr/bin/env bash
# The main job and the failures over real PPTP or L2TP/IPsec servers, inside
# the guest of scripts/dialup-stage (the stage: scripts/lib/dialupstage.sh).
#
#   dialup.sh BUILD_DIR SOURCE_DIR pptp|l2tp [OUT_DIR]
#
# The main job, with the client as root and then as the user nobody through
# kvo-helper on a private system bus: the logon start signs in, the tunnel
# comes up through the PPP link's address, the session signs in with it, the
# first address is taken, one switch resets a listed connection, and the
# log-out leaves nothing behind (no pppd, pptp, xl2tpd or IPsec SA, no ppp
# device; routes, /etc/ppp, /etc/swanctl and /etc/resolv.conf as before).
# While the link is up the machine's traffic goes through it, names are
# asked of the DNS server the PPP server gave (the local network's resolver
# gets no query), and the activity log names the link's encryption (MPPE,
# IPsec) and the DNS applied; afterwards /etc/resolv.conf and /etc/ppp are
# byte for byte as before.
#
# Then the failures, each with its message box and error number and nothing
# left running: a wrong password (691), no server listening (PPTP 678; L2TP:
# IKE unanswered, 809), a server that offers no encryption (PPTP without
# MPPE: 742; L2TP without IPsec: never dialled in the clear), a wrong
# pre-shared key (L2TP, 789), and the server ending while signed in (the
# redial countdown runs and the tunnel comes back).
#
# What pppd, pptp, xl2tpd and swanctl printed in each case is kept in
# OUT_DIR/transcripts/<case>/ when OUT_DIR is given.
#
# Exits 77 (skipped) outside a kernel with PPP (run it through the stage).
set -euo pipefail
build=$(realpath "$1") src=$(realpath "$2") type=$3 out=${4:-}
[[ $type == pptp || $type == l2tp ]] || { echo "usage: $0 BUILD SOURCE pptp|l2tp [OUT]"; exit 2; }
if [[ $(id -u) -ne 0 || ! -c /dev/ppp ]]; then echo "skipped: needs root and kernel PPP (scripts/dialup-stage)"; exit 77; fi

source "$src/scripts/lib/dialupstage.sh"
source "$src/scripts/lib/privatebus.sh"
work=$(mktemp -d /tmp/kvo-dialup.XXXXXX)
chmod 755 "$work"
cleanup() {
    for p in "${privatebus_pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    dialup_down
    [[ -n ${KEEP_WORK:-} ]] || rm -rf "$work"
}
trap cleanup EXIT
case_name=""
fail() {
    echo "FAIL ($type, $case_name, $SECONDS s): $*"
    for f in "$log" "$work/boxes.txt" "$work/client.out" "$work/helper.out" "$work/case"/* \
        "$work/srv/log/charon.log" "$work/srv/log/"xl2tpd-*.log "$work/srv/log/"pppd-*.log; do
        [[ -f $f ]] && { echo "--- $f"; tail -n 40 "$f"; }
    done
    exit 1
}

# The real programs, with what they print kept for the transcripts: pppd,
# pptp and xl2tpd as the same process (exec), their output copied on the
# way by a tee that is no child of theirs (they reap their children);
# pptp talks PPP on its standard input and output, so only its errors are
# copied. swanctl runs as a child, so that its status is kept too (its
# --initiate; the connection and key go in through charon's socket).
mkdir -p "$work/bin"
for p in pppd pptp xl2tpd swanctl; do
    real=$(PATH=/usr/sbin:/sbin:$PATH command -v "$p") || { echo "skipped: no $p"; exit 77; }
    {
        echo '#!/bin/bash'
        echo "dir=\$(cat '$work/case-dir')"
        echo 'name=$(basename "$0")${1:+-${1#--}}; [[ $name == swanctl-* ]] || name=$(basename "$0")'
        echo 'fifo=$(mktemp -u "$dir/.fifo.XXXXXX"); mkfifo "$fifo"'
        if [[ $p == pptp ]]; then
            echo '(tee -a "$dir/$name.txt" < "$fifo" >&2 &)'
            echo 'exec 2> "$fifo"'
        else
            echo '(tee -a "$dir/$name.txt" < "$fifo" &)'
            echo 'exec > "$fifo" 2>&1'
        fi
        echo 'rm -f "$fifo"'
        if [[ $p == swanctl ]]; then
            echo "'$real' \"\$@\" &"
            echo 'child=$!'
            echo 'trap '"'"'kill -TERM $child 2>/dev/null'"'"' TERM'
            echo 'wait $child; status=$?'
            echo '[[ $status -gt 128 ]] && { wait $child; status=$?; }'
            echo 'echo $status > "$dir/$name.status"'
            echo 'exit $status'
        else
            echo "exec '$real' \"\$@\""
        fi
    } > "$work/bin/$p"
    chmod 755 "$work/bin/$p"
done
path=$work/bin:/usr/sbin:/usr/bin:/sbin:/bin

dialup_up "$work" "$build" "$src" "$type" > "$work/up.out" 2>&1 || { cat "$work/up.out"; fail "the stage did not come up"; }
client_ip=10.200.0.2

begin_case() { # NAME ACCOUNT [SETTING ...]
    case_name=$1
    echo "== $type $case_name ($SECONDS s)"
    local account=$2
    shift 2
    dialup_account "$account" "$@"
    mkdir -p "$work/case"
    rm -f "$work/case"/* "$work/boxes.txt"
    echo "$work/case" > "$work/case-dir"
    chmod 644 "$work/case-dir"
    : > "$work/client.out"
    dialup_machine_state > "$work/state.before"
}
end_case() { # keeps the transcripts
    if [[ -n $out ]]; then
        mkdir -p "$out/transcripts/$type-$case_name"
        cp "$work/case"/* "$out/transcripts/$type-$case_name/" 2>/dev/null || true
        cp "$log" "$out/transcripts/$type-$case_name/activity-log.txt" 2>/dev/null || true
        cp "$work/boxes.txt" "$out/transcripts/$type-$case_name/boxes.txt" 2>/dev/null || true
    fi
    echo "ok: $type $case_name ($SECONDS s)"
}

nothing_left() {
    local i
    for i in $(seq 1 100); do
        [[ -z $(dialup_link_programs) ]] && dialup_machine_state > "$work/state.after" &&
            cmp -s "$work/state.before" "$work/state.after" && return 0
        sleep 0.1
    done
    [[ -z $(dialup_link_programs) ]] || fail "left running: $(dialup_link_programs | tr '\n' ' ')"
    fail "the machine is not as before: $(diff "$work/state.before" "$work/state.after")"
}
wait_for() { # count pattern seconds
    local n=0 end=$((SECONDS + $3))
    while [[ $SECONDS -le $end ]]; do
        n=$(grep -c -- "$2" "$log" 2>/dev/null || true)
        [[ $n -ge $1 ]] && return 0
        kill -0 "$client" 2>/dev/null || return 1
        [[ -n $no_boxes && -s $work/boxes.txt ]] && return 1
        sleep 0.1
    done
    return 1
}
wait_for_box() { # pattern seconds
    local end=$((SECONDS + $2))
    while [[ $SECONDS -le $end ]]; do
        grep -qF -- "$1" "$work/boxes.txt" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
resolve() { ip netns exec "$NS_CLIENT" getent ahostsv4 "$1" | awk 'NR==1 {print $1}' || true; }
local_queries() { grep -c 'query\[A\] inside.kvo.test' "$work/local-dns.log" 2>/dev/null || true; }
seen_from() { # the address the far host sees a connection from
    ip netns exec "$NS_CLIENT" python3 -c '
import socket
print(socket.create_connection(("10.9.0.1", 7), timeout=5).recv(64).decode().strip())' 2>/dev/null || echo none
}

as_user=""
shell() { # a command of the running client's shell control, as its user
    if [[ -n $as_user ]]; then
        ip netns exec "$NS_CLIENT" setpriv --reuid=nobody --regid=nogroup --clear-groups \
            env XDG_RUNTIME_DIR="$work/run" KVO_HOME="$home" "$build/src/app/KVOClient" "$@"
    else
        ip netns exec "$NS_CLIENT" env XDG_RUNTIME_DIR="$work/run" KVO_HOME="$home" \
            "$build/src/app/KVOClient" "$@"
    fi
}
start_client() { # [NAME=VALUE ...]
    if [[ -n $as_user ]]; then
        chown -R nobody:nogroup "$home" "$work/run"
        touch "$work/boxes.txt" "$work/client.out"
        chown nobody:nogroup "$work/boxes.txt"
        ip netns exec "$NS_CLIENT" setpriv --reuid=nobody --regid=nogroup --clear-groups \
            --inh-caps=-all --bounding-set=-all --no-new-privs \
            env KVO_HOME="$home" XDG_RUNTIME_DIR="$work/run" DBUS_SYSTEM_BUS_ADDRESS="$bus" \
            QT_QPA_PLATFORM=offscreen KVO_PROMPT_TRANSCRIPT="$work/boxes.txt" "$@" \
            "$build/src/app/KVOClient" boot >> "$work/client.out" 2>&1 &
        client=$!
        dialup_pids+=("$client")
    else
        dialup_client PATH="$path" QT_QPA_PLATFORM=offscreen KVO_PROMPT_TRANSCRIPT="$work/boxes.txt" "$@"
    fi
}
quit_client() {
    shell --quit > /dev/null 2>&1 || kill -TERM "$client" 2>/dev/null || true
    for _ in $(seq 1 150); do kill -0 "$client" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$client" 2>/dev/null && fail "the client did not end"
    wait "$client" 2>/dev/null || true
}
if [[ $type == pptp ]]; then link_net=10.202.0 encryption="MPPE 128"; else link_net=10.203.0 encryption="IPsec"; fi

no_boxes=""
main_job() { # root|user
    begin_case "main-$1" demo
    no_boxes=1
    [[ $(seen_from) == "$client_ip" ]] || fail "the far host does not see the client's own address before the sign-in"
    [[ $(resolve inside.kvo.test) == 10.200.0.66 ]] || fail "the local resolver does not answer before the sign-in"
    start_client
    wait_for 1 "로 IP변경 완료" 90 || fail "no first address change"
    local link_ip
    link_ip=$(grep -o '"tunnelAddress":"[0-9.]*"' "$work/records/session.jsonl" | tail -1 | cut -d'"' -f4)
    [[ $link_ip == $link_net.* ]] || fail "the session signed in without the PPP link's address: '$link_ip'"
    # (Read whole: grep -q ends early, and pipefail would count ip's SIGPIPE.)
    [[ $(ip -n "$NS_CLIENT" -o addr show) == *"inet $link_ip peer"* ]] || fail "no ppp device holds $link_ip"
    [[ $(seen_from) == "$link_ip" ]] || fail "the machine's traffic does not go through the link"
    grep -q "터널 암호화: $encryption" "$log" || fail "the log does not name the encryption ($encryption)"
    grep -q "터널 DNS 적용: 10.201.0.53 (ppp[0-9]*, " "$log" ||
        fail "the log does not say the link's DNS was applied"
    local asked
    asked=$(local_queries)
    [[ $(resolve inside.kvo.test) == 10.9.0.77 ]] || fail "names are not asked through the link: $(resolve inside.kvo.test)"
    [[ $(local_queries) == "$asked" ]] || fail "the local resolver was asked while the link is up"

    # An established connection to a listed host, of the client's user (the
    # helper resets the caller's own only); the switch resets it.
    local as_client_user=()
    [[ -n $as_user ]] && as_client_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups env PATH=/usr/bin:/bin)
    ip netns exec "$NS_CLIENT" "${as_client_user[@]}" python3 - "$SERVER_IP" > "$work/holder.out" 2>&1 <<'PY' &
import socket, sys
s = socket.create_connection((sys.argv[1], 443), timeout=5)
print("connected", flush=True)
s.settimeout(60)
try:
    s.recv(1)
    print("closed", flush=True)
except ConnectionAbortedError:
    print("reset", flush=True)
except OSError as e:
    print("error", e, flush=True)
PY
    local holder=$!
    for _ in $(seq 1 50); do grep -q connected "$work/holder.out" && break; sleep 0.1; done
    shell --switch > /dev/null || fail "the switch was refused"
    wait_for 2 "로 IP변경 완료" 60 || fail "no second address change"
    wait "$holder" || true
    grep -q '^reset' "$work/holder.out" || fail "the listed connection was not reset: $(cat "$work/holder.out")"

    no_boxes="" # the sign-in dialog checks the line, and this machine has no internet
    shell --logout > /dev/null || fail "the log-out was refused"
    wait_for 1 "로그아웃함" 30 || fail "no log-out"
    nothing_left
    [[ $(seen_from) == "$client_ip" ]] || fail "the traffic does not leave by the machine's own route after the log-out"
    [[ $(resolve inside.kvo.test) == 10.200.0.66 ]] || fail "names do not go to the local resolver after the log-out"
    quit_client
    end_case
}

failure() { # NAME ACCOUNT BOX_PATTERN [ANSWERS]
    local name=$1 account=$2 box=$3 answers=${4:-}
    begin_case "$name" "$account"
    start_client KVO_PROMPT_ANSWERS="$answers"
    wait_for_box "$box" 90 || fail "no box '$box': $(cat "$work/boxes.txt" 2>/dev/null)"
    quit_client
    nothing_left
    end_case
}

main_job root

failure wrong-password badpass $'0x1011\t안내메세지\t691 : 인터넷회선이 안정적이지 못합니다. 로그인화면에서 회선점검이 가능합니다.\t1'
if [[ $type == pptp ]]; then
    failure no-server noserver $'0x1044\t안내메세지\t678 : 문제가 지속되시면 모라솔 고객상담센터에 연락주세요.\\nFAQ(방화벽 및 핑 체크 방법)를 보시겠습니까?\t7' 7
    failure no-encryption plain $'0x1010\t안내메세지\t742 : 문제가 지속되시면 모라솔 고객상담센터에 연락주세요.\t1'
else
    failure no-server noserver $'0x1044\t안내메세지\t809 : 공유기 및 네트워크 장비의 설정 문제이거나 다른 PC에서 사용중입니다.\\nFAQ(공유기 설정 방법)를 보시겠습니까?\t7' 7
    failure wrong-key wrongkey $'0x1010\t안내메세지\t789 : 문제가 지속되시면 모라솔 고객상담센터에 연락주세요.\t1'
    failure no-encryption plain $'\t안내메세지\t789 : '
    # The server without IPsec never saw an L2TP packet from the client.
    ! grep -q "10.200.0.2" "$work/srv/log/xl2tpd-3.log" ||
        fail "L2TP went to the server without IPsec: $(cat "$work/srv/log/xl2tpd-3.log")"
fi

# The server ends while signed in: a lost link, redialled.
begin_case server-ended demo Option/RedialOnLinkFailure=1 Option/RedialCount=5 Option/RedialSeconds=3
start_client
wait_for 1 "VPN터널이 연결됨" 90 || fail "no tunnel"
dialup_server stop
wait_for 1 "VPN터널이 끊어짐" 60 || fail "the server's end did not end the tunnel"
countdown=""
for _ in $(seq 1 50); do
    countdown=$(shell --status 2>/dev/null | grep -o '[0-9]* 초 후에 다시 접속을 시도 합니다.' || true)
    [[ -n $countdown ]] && break
    sleep 0.1
done
[[ -n $countdown ]] || fail "no redial countdown"
dialup_server start
wait_for 2 "VPN터널이 연결됨" 90 || fail "the redial did not bring the tunnel back"
quit_client
nothing_left
end_case

# The main job as the user, through kvo-helper.
privatebus_up "$work" "$build" "$NS_CLIENT" "$home" PATH="$path" > "$work/privatebus.out" ||
    fail "$(cat "$work/privatebus.out")"
as_user=1
main_job user
grep -qx org.kvo.helper.connect "$work/polkit.out" || fail "the helper asked no authorisation"
if [[ $type == l2tp ]]; then
    # Every dial loaded and unloaded its own; the administrator's stayed.
    grep -q '^office: ' "$work/state.after" || fail "the administrator's connection is gone"
fi
echo "dialup ($type): main job as root and as the user, failures and redial over the real servers"
