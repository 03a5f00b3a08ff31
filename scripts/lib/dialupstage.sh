# The dial-up main job's stage, run as root inside the guest of
# scripts/dialup-stage (a kernel with PPP, L2TP and IPsec), shared by the
# end-to-end test, the soak and the demo.
#
# Two network namespaces joined by veth. The client's machine (NS_CLIENT,
# 10.200.0.2/24, default route via 10.200.0.1) runs its own charon, as a
# desktop with strongSwan does. The other namespace (NS_SERVER) is the
# client's router (10.200.0.1) and, behind it, the service:
#
#   10.201.0.1  pptpd (MS-CHAP v2, 128-bit MPPE required); charon (IKEv1,
#               pre-shared key, the proposals a Windows client offers) and
#               xl2tpd as the LNS, which takes L2TP only under IPsec; the
#               service simulator (web host, session server, report host)
#   10.201.0.2  nothing: no server listening
#   10.201.0.3  servers that offer no encryption: pptpd without MPPE, xl2tpd
#               without IPsec (and no IKE connection for this address)
#   10.201.0.4  IKE with another pre-shared key
#   10.9.0.1    a host on the far side that answers with the address a TCP
#               connection came from (port 7)
#   10.201.0.53 the service's DNS server, which the PPP servers give their
#               clients (ms-dns): it knows inside.kvo.test as 10.9.0.77
#   10.200.0.1  (the router) the local network's resolver, the client
#               machine's /etc/resolv.conf: it answers inside.kvo.test with
#               10.200.0.66 and logs every query in $work/local-dns.log
#
# PPTP gives the client 10.202.0.100-199, L2TP 10.203.0.100-199. The
# accepted accounts are KVO@demo / demo1234 (the simulator's "demo", fixed
# addresses 211.1.1.1-3) and the failure cases' accounts below, but badpass. The servers run in a mount namespace of their own
# (their /etc/ppp, /etc/swanctl and /run), so the client's machine keeps the
# system's files untouched.
#
#   source scripts/lib/dialupstage.sh
#   dialup_up WORK BUILD SOURCE pptp|l2tp   # everything above, and the program
#                                           # folder signed in to "demo"
#   dialup_server stop|start                # the tunnel server of the type
#   dialup_client [NAME=VALUE ...]          # the client with "boot"; $client
#   dialup_machine_state, dialup_link_programs  # what a dial may not leave behind
#   dialup_down                             # stops everything, removes the namespaces
#
#   dialup_account ID [SETTING ...]         # the program folder signed in to another
#                                           # account: badpass (not in the servers'
#                                           # secrets), noserver (10.201.0.2), plain
#                                           # (10.201.0.3), wrongkey (10.201.0.4)
#
# Sets: work home log type NS_SERVER NS_CLIENT SERVER_IP client.

dialup_pids=()
SERVER_IP=10.201.0.1
NS_SERVER=kvo-dsrv
NS_CLIENT=kvo-dcli

# The servers' configuration, in $work/srv (bound over /etc/ppp and
# /etc/swanctl in their mount namespace).
dialup_server_files() {
    local s=$work/srv
    mkdir -p "$s/ppp" "$s/swanctl" "$s/log"
    echo lock > "$s/ppp/options"
    local id
    for id in demo noserver plain wrongkey; do
        printf '"KVO@%s" * "demo1234" *\n' "$id"
    done > "$s/ppp/chap-secrets"
    chmod 600 "$s/ppp/chap-secrets"
    local common="refuse-pap
refuse-chap
refuse-mschap
require-mschap-v2
ms-dns 10.201.0.53
nodefaultroute
nobsdcomp
novj
novjccomp"
    printf 'name pptpd\n%s\nrequire-mppe-128\nlogfile %s\n' "$common" "$s/log/pppd-pptp.log" > "$s/ppp/pptpd-options"
    printf 'name pptpd\n%s\nnomppe\nlogfile %s\n' "$common" "$s/log/pppd-pptp-plain.log" > "$s/ppp/pptpd-plain"
    printf 'name l2tpd\n%s\nlogfile %s\n' "$common" "$s/log/pppd-l2tp.log" > "$s/ppp/options.xl2tpd"
    printf 'option /etc/ppp/pptpd-options\nlocalip 10.202.0.1\nremoteip 10.202.0.100-199\nlisten 10.201.0.1\n' > "$s/pptpd.conf"
    printf 'option /etc/ppp/pptpd-plain\nlocalip 10.202.1.1\nremoteip 10.202.1.100-199\nlisten 10.201.0.3\n' > "$s/pptpd-plain.conf"
    local lns
    for lns in 1:10.203.0 3:10.203.1; do
        cat > "$s/xl2tpd-${lns%%:*}.conf" <<CONF
[global]
listen-addr = 10.201.0.${lns%%:*}
[lns default]
ip range = ${lns#*:}.100-${lns#*:}.199
local ip = ${lns#*:}.1
require authentication = yes
refuse pap = yes
name = l2tpd
pppoptfile = /etc/ppp/options.xl2tpd
length bit = yes
CONF
    done
    local conn
    {
        echo "connections {"
        for conn in 1 4; do
            cat <<CONF
  l2tp-$conn {
    version = 1
    local_addrs = 10.201.0.$conn
    proposals = aes256-sha1-modp2048,aes128-sha1-modp2048,aes256-sha1-modp1024,3des-sha1-modp1024
    local { auth = psk }
    remote { auth = psk }
    children {
      l2tp {
        mode = transport
        local_ts = dynamic[udp/1701]
        remote_ts = dynamic[udp]
        esp_proposals = aes256-sha1,aes128-sha1,3des-sha1
      }
    }
  }
CONF
        done
        echo "}"
        echo "secrets {"
        printf '  ike-1 {\n    id = 10.201.0.1\n    secret = "%s"\n  }\n' "$(dialup_preshared_key)"
        printf '  ike-4 {\n    id = 10.201.0.4\n    secret = "another key"\n  }\n' 
        echo "}"
    } > "$s/swanctl/swanctl.conf"
    # L2TP on the service's address only under IPsec, as an L2TP/IPsec server
    # takes it; nothing answers IKE on the address without a server (charon
    # listens on every address, and would refuse).
    printf 'table inet kvo_stage {\n chain in {\n  type filter hook input priority 0;\n  ip daddr 10.201.0.1 udp dport 1701 meta secpath missing drop\n  ip daddr 10.201.0.2 udp dport { 500, 4500 } drop\n }\n}\n' > "$s/stage.nft"

    cat > "$s/run.sh" <<'RUN'
# The servers' machine: its own /run, /etc/ppp and /etc/swanctl.
s=$1
mount -t tmpfs srvrun /run
mkdir -p /run/xl2tpd /run/lock
mount --bind "$s/ppp" /etc/ppp
mount --bind "$s/swanctl" /etc/swanctl
nft -f "$s/stage.nft"
/usr/lib/ipsec/charon > "$s/log/charon.log" 2>&1 &
for _ in $(seq 1 100); do [ -S /run/charon.vici ] && break; sleep 0.1; done
swanctl --load-all > "$s/log/swanctl-load.log" 2>&1 || exit 1
echo ready > "$s/ready"
exec sleep infinity
RUN
}

# The pre-shared key every client of the service dials L2TP with.
dialup_preshared_key() {
    echo "Q8MZpassage"
}

# A command in the servers' machine (network and mount namespace).
dialup_in_server() {
    nsenter -t "$dialup_server_pid" -m -n "$@"
}

dialup_server() { # stop|start: the tunnel server of the stage's type
    local s=$work/srv
    case "$1:$type" in
    start:pptp)
        dialup_in_server pptpd -c "$s/pptpd.conf" -p /run/pptpd-1.pid
        dialup_in_server pptpd -c "$s/pptpd-plain.conf" -p /run/pptpd-3.pid
        ;;
    start:l2tp)
        local n
        for n in 1 3; do
            dialup_in_server sh -c "xl2tpd -D -c '$s/xl2tpd-$n.conf' -p /run/xl2tpd-$n.pid \
                -C /run/xl2tpd/control-$n >> '$s/log/xl2tpd-$n.log' 2>&1 &"
        done
        ;;
    stop:*)
        # The daemons and every pppd they run: each pppd ends its link.
        local p
        for p in $(pgrep -x pptpd; pgrep -x xl2tpd; pgrep -x pptpctrl); do
            [[ $(readlink "/proc/$p/ns/net") == "$(readlink "/proc/$dialup_server_pid/ns/net")" ]] &&
                kill -TERM "$p" 2>/dev/null
        done
        for p in $(pgrep -x pppd); do
            [[ $(readlink "/proc/$p/ns/net") == "$(readlink "/proc/$dialup_server_pid/ns/net")" ]] &&
                kill -TERM "$p" 2>/dev/null
        done
        sleep 1
        ;;
    esac
}

dialup_up() {
    work=$1 build=$2 src=$3 type=$4
    mkdir -p "$work"
    ip netns add "$NS_SERVER"
    ip netns add "$NS_CLIENT"
    ip link add kvo-ds type veth peer name kvo-dc
    ip link set kvo-ds netns "$NS_SERVER"
    ip link set kvo-dc netns "$NS_CLIENT"
    ip -n "$NS_SERVER" addr add 10.200.0.1/24 dev kvo-ds
    ip -n "$NS_CLIENT" addr add 10.200.0.2/24 dev kvo-dc
    local a
    for a in 10.201.0.1 10.201.0.2 10.201.0.3 10.201.0.4 10.201.0.53 10.9.0.1; do
        ip -n "$NS_SERVER" addr add "$a/32" dev lo
    done
    ip -n "$NS_SERVER" link set lo up
    ip -n "$NS_CLIENT" link set lo up
    ip -n "$NS_SERVER" link set kvo-ds up
    ip -n "$NS_CLIENT" link set kvo-dc up
    ip -n "$NS_CLIENT" route add default via 10.200.0.1
    ip netns exec "$NS_SERVER" sysctl -qw net.ipv4.ip_forward=1

    dialup_server_files
    ip netns exec "$NS_SERVER" unshare -m --propagation private bash "$work/srv/run.sh" "$work/srv" \
        > "$work/srv/log/run.log" 2>&1 &
    dialup_server_pid=$!
    dialup_pids+=("$dialup_server_pid")
    for _ in $(seq 1 100); do [[ -f $work/srv/ready ]] && break; sleep 0.1; done
    [[ -f $work/srv/ready ]] || { cat "$work/srv/log/"*; return 1; }
    dialup_server start

    # The far host: tells a TCP client the address it came from.
    ip netns exec "$NS_SERVER" python3 -c '
import socket
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("10.9.0.1", 7))
s.listen()
while True:
    c, a = s.accept()
    c.sendall((a[0] + "\n").encode())
    c.close()' &
    dialup_pids+=($!)

    # Names: the service's DNS server and the local network's resolver, which
    # the client's machine uses (the guest's /etc is its own).
    local dns name listen answer
    for dns in tunnel:10.201.0.53:10.9.0.77 local:10.200.0.1:10.200.0.66; do
        IFS=: read -r name listen answer <<< "$dns"
        ip netns exec "$NS_SERVER" dnsmasq --keep-in-foreground --no-resolv --no-hosts \
            --bind-dynamic --listen-address="$listen" --address="/inside.kvo.test/$answer" \
            --pid-file= --log-queries --log-facility="$work/$name-dns.log" &
        dialup_pids+=($!)
    done
    if [[ $(hostname) == kvo-guest ]]; then
        printf '# the local network'"'"'s resolver\nnameserver 10.200.0.1\noptions timeout:2 attempts:1\n' \
            > /etc/resolv.conf
    fi

    # The client's machine: the system's charon.
    if [[ $type == l2tp ]]; then
        ip netns exec "$NS_CLIENT" /usr/lib/ipsec/charon > "$work/client-charon.log" 2>&1 &
        dialup_pids+=($!)
        for _ in $(seq 1 100); do [[ -S /run/charon.vici ]] && break; sleep 0.1; done
        [[ -S /run/charon.vici ]] || { cat "$work/client-charon.log"; return 1; }
        # The administrator's own connection and key, which no dial may
        # touch (dialup_machine_state lists the connections).
        cat > "$work/admin-swanctl.conf" <<'SWAN'
connections {
  office {
    remote_addrs = 192.0.2.10
    local { auth = psk }
    remote { auth = psk }
    children { office { } }
  }
}
secrets {
  ike-office {
    id = 192.0.2.10
    secret = "the office's key"
  }
}
SWAN
        ip netns exec "$NS_CLIENT" swanctl --load-all --file "$work/admin-swanctl.conf" \
            > "$work/admin-swanctl.out" 2>&1 || { cat "$work/admin-swanctl.out"; return 1; }
    fi

    "$src/scripts/make-test-ca" "$work/ca" "$SERVER_IP" >/dev/null
    # One account per case; all but badpass are in the servers' secrets.
    local accounts="" id server
    for id in demo:1 badpass:1 noserver:2 plain:3 wrongkey:4; do
        server=10.201.0.${id#*:}
        accounts+="${accounts:+,}
        { \"id\": \"${id%%:*}\", \"password\": \"demo1234\", \"productType\": 1, \"parentId\": \"${id%%:*}\",
          \"server\": \"$server\",
          \"session\": { \"fixed\": [ { \"address\": \"211.1.1.1\", \"userNumber\": 11, \"state\": 1, \"days\": 30 },
                                  { \"address\": \"211.1.1.2\", \"userNumber\": 11, \"state\": 1, \"days\": 30 },
                                  { \"address\": \"211.1.1.3\", \"userNumber\": 11, \"state\": 1, \"days\": 30 } ] } }"
    done
    cat > "$work/scenario.json" <<JSON
    {
      "web": { "address": "$SERVER_IP", "httpsPort": 443, "httpPort": -1, "tlsDir": "$work/ca",
               "currentVersion": "1.0.0.0" },
      "report": { "address": "$SERVER_IP" },
      "accounts": [ $accounts ]
    }
JSON
    ip netns exec "$NS_SERVER" "$build/sim/kvo-service-sim" --scenario "$work/scenario.json" \
        --record "$work/records" --lifetime "${DIALUP_LIFETIME:-600}" > "$work/sim.log" 2>&1 &
    dialup_pids+=($!)
    for _ in $(seq 1 100); do grep -q ready "$work/sim.log" && break; sleep 0.1; done
    grep -q ready "$work/sim.log" || { cat "$work/sim.log"; return 1; }

    home=$work/home
    mkdir -p "$work/run"
    chmod 700 "$work/run"
    log=$home/log/KVOClient$(date +%Y%m%d).txt
    dialup_account demo
}

# The program folder signed in to account ID by the logon start, every
# address checked, with SETTINGS (words like Option/RedialCount=3) added.
dialup_account() {
    local id=$1 tunnel=1 a
    shift
    [[ $type == l2tp ]] && tunnel=3
    rm -rf "$home"
    mkdir -p "$home"
    printf '[Service]\r\nWebHost=%s\r\nReportHost=%s\r\nCaFile=%s\r\nResetHostsFirst=%s\r\nResetHostsSecond=10.200.0.99\r\n' \
        "$SERVER_IP" "$SERVER_IP" "$work/ca/ca.pem" "$SERVER_IP" > "$home/KVOService.ini"
    "$build/sim/kvo-save-credentials" "$home" "$id" demo1234 Option/BootStart=1 "Entry/IsPPTP=$tunnel" \
        Entry/ServiceType=1 Entry/IsAutoChange=0 "$@"
    for a in 211.1.1.1 211.1.1.2 211.1.1.3; do printf "$(printf '\\x%02x' ${a//./ })"; done > "$home/CheckedIP"
}

# What a dial may not leave changed on the client's machine: routes, links,
# IPsec state and policies, /etc/ppp, /etc/swanctl, /etc/resolv.conf and,
# for L2TP, charon's security associations and connections.
dialup_machine_state() {
    echo "== routes"
    ip -n "$NS_CLIENT" route show table all | grep -v '^local\|^broadcast\|fe80::\|ff00::' || true
    echo "== links"
    ip -n "$NS_CLIENT" -o link show | awk '{print $2}'
    echo "== xfrm"
    ip -n "$NS_CLIENT" xfrm state
    ip -n "$NS_CLIENT" xfrm policy
    echo "== files"
    find /etc/ppp /etc/swanctl /etc/resolv.conf -type f -print0 2>/dev/null | sort -z | xargs -0 md5sum
    if [[ $type == l2tp ]]; then
        echo "== sas"
        ip netns exec "$NS_CLIENT" swanctl --list-sas 2>/dev/null | grep -v "^plugin '" || true
        echo "== connections"
        ip netns exec "$NS_CLIENT" swanctl --list-conns 2>/dev/null | grep -v "^plugin '" || true
    fi
}

# The tunnel programs running in the client's machine, "PID NAME" a line.
dialup_link_programs() {
    local p name
    for p in $(ip netns pids "$NS_CLIENT"); do
        name=$(cat "/proc/$p/comm" 2>/dev/null) || continue
        case $name in pppd | pptp | xl2tpd) echo "$p $name" ;; esac
    done
}

dialup_client() {
    ip netns exec "$NS_CLIENT" env KVO_HOME="$home" XDG_RUNTIME_DIR="$work/run" "$@" \
        "$build/src/app/KVOClient" boot >> "$work/client.out" 2>&1 &
    client=$!
    dialup_pids+=("$client")
}

dialup_down() {
    local p
    for p in "${dialup_pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    for ns in "$NS_CLIENT" "$NS_SERVER"; do
        for p in $(ip netns pids "$ns" 2>/dev/null); do kill -TERM "$p" 2>/dev/null || true; done
    done
    sleep 0.5
    for ns in "$NS_CLIENT" "$NS_SERVER"; do
        for p in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$p" 2>/dev/null || true; done
        ip netns del "$ns" 2>/dev/null || true
    done
    dialup_pids=()
}
