# The main job's stage, shared by the end-to-end test and the demo: a real
# OpenVPN server and the service simulator in one network namespace, the
# client in another, started by the logon start ("boot") with the account's
# credentials saved and every address of its pool checked. Needs root.
#
#   source scripts/lib/mainjob.sh
#   mainjob_up WORK BUILD SOURCE fixed|dynamic AUTO_CHANGE_SECONDS
#   mainjob_client [env NAME=VALUE ...]   # starts the client; $client is its pid
#   mainjob_down                          # stops everything mainjob_up started
#
# Sets: work, home, log, id, pool, NS_SERVER, NS_CLIENT, SERVER_IP, client.
# MAINJOB_SETTINGS (words like Option/RedialCount=3) adds to the saved settings.

mainjob_pids=()

mainjob_up() {
    work=$1 build=$2 src=$3 product=$4 auto_change=$5
    if [[ $product == fixed ]]; then
        id=demo type=1 pool="211.1.1.1 211.1.1.2 211.1.1.3"
    else
        id=dyn type=2 pool="61.2.0.1 61.2.0.2 61.2.0.3"
    fi
    RIG_USER="KVO@$id" RIG_PASS=demo1234 "$src/scripts/netns-rig" up "$work/rig" >/dev/null
    source "$work/rig/rig.env"
    "$src/scripts/make-test-ca" "$work/ca" "$SERVER_IP" >/dev/null

    cat > "$work/scenario.json" <<JSON
    {
      "web": { "address": "$SERVER_IP", "httpsPort": 443, "httpPort": -1, "tlsDir": "$work/ca",
               "productList": "유동IP 30일:D30", "currentVersion": "1.0.0.0" },
      "report": { "address": "$SERVER_IP" },
      "accounts": [
        { "id": "demo", "password": "demo1234", "productType": 1, "parentId": "demo", "server": "$SERVER_IP",
          "session": { "fixed": [ { "address": "211.1.1.1", "userNumber": 11, "state": 1, "days": 30 },
                                  { "address": "211.1.1.2", "userNumber": 11, "state": 1, "days": 30 },
                                  { "address": "211.1.1.3", "userNumber": 11, "state": 1, "days": 30 } ] } },
        { "id": "dyn", "password": "demo1234", "productType": 2, "dynamicProducts": ["D30"], "server": "$SERVER_IP",
          "session": { "dynamic": [ "61.2.0.1", "61.2.0.2", "61.2.0.3" ] } }
      ]
    }
JSON
    ip netns exec "$NS_SERVER" "$build/sim/kvo-service-sim" --scenario "$work/scenario.json" \
        --record "$work/records" --lifetime "${MAINJOB_LIFETIME:-120}" > "$work/sim.log" 2>&1 &
    mainjob_pids+=($!)
    for _ in $(seq 1 100); do grep -q ready "$work/sim.log" && break; sleep 0.1; done
    grep -q ready "$work/sim.log" || { cat "$work/sim.log"; return 1; }

    home=$work/home
    mkdir -p "$home" "$work/run"
    chmod 700 "$work/run"
    printf '[Service]\r\nWebHost=%s\r\nReportHost=%s\r\nCaFile=%s\r\nResetHostsFirst=%s\r\nResetHostsSecond=10.200.0.99\r\n' \
        "$SERVER_IP" "$SERVER_IP" "$work/ca/ca.pem" "$SERVER_IP" > "$home/KVOService.ini"
    "$build/sim/kvo-save-credentials" "$home" "$id" demo1234 Option/BootStart=1 Entry/IsPPTP=2 \
        "Entry/ServiceType=$type" Entry/IsAutoChange=1 "Entry/AutoChangeSec=$auto_change" \
        "Entry/DynamicProductList=유동IP 30일:D30" "Entry/DynamicProductName=유동IP 30일" \
        ${MAINJOB_SETTINGS:-}
    # Every address of the pool is checked, so the change has somewhere to go.
    for a in $pool; do printf "$(printf '\\x%02x' ${a//./ })"; done > "$home/CheckedIP"
    ln -s "$(command -v openvpn)" "$home/kvo_openvpn"
    cp "$work/rig/client/"{client.ovpn,ca.crt,cl1.crt,cl1.key} "$home/"

    log=$home/log/KVOClient$(date +%Y%m%d).txt
}

mainjob_client() {
    ip netns exec "$NS_CLIENT" env KVO_HOME="$home" XDG_RUNTIME_DIR="$work/run" "$@" \
        "$build/src/app/KVOClient" boot > "$work/client.out" 2>&1 &
    client=$!
    mainjob_pids+=($client)
}

mainjob_down() {
    for p in "${mainjob_pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    sleep 0.5
    for p in "${mainjob_pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
    "$src/scripts/netns-rig" down "$work/rig" >/dev/null 2>&1 || true
}
