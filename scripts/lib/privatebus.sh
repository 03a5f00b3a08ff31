# A private system bus for runs of the client as a user: dbus-daemon with an
# open policy, kvo-polkit-standin as polkit's authority (it answers yes and
# prints each action it is asked for to WORK/polkit.out) and kvo-helper as
# root in network namespace NS, its output in WORK/helper.out.
#
#   source scripts/lib/privatebus.sh
#   privatebus_up WORK BUILD NS INSTALL_DIR [NAME=VALUE ...]   # the helper's environment
#
#   privatebus_client NS HOME RUNTIME BOXES OUT      # KVOClient "boot" as nobody on that bus
#
# Sets bus (the bus address) and privatebus_pids (what to stop); returns 1
# with the reason on standard output when something did not come up.
# privatebus_client sets client (its pid) and adds it to privatebus_pids.

privatebus_pids=()

privatebus_up() {
    local work=$1 build=$2 ns=$3 install=$4
    shift 4
    BUILD_FOR_PRIVATEBUS=$build
    cat > "$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/system_bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=1 > "$work/bus.addr" 2>&1 &
    privatebus_pids+=($!)
    for _ in $(seq 1 50); do [[ -s $work/bus.addr ]] && break; sleep 0.1; done
    bus=$(head -1 "$work/bus.addr")
    [[ $bus == unix:* ]] || { echo "no private system bus: $bus"; return 1; }
    "$build/tests/kvo-polkit-standin" "$bus" > "$work/polkit.out" 2>&1 &
    privatebus_pids+=($!)
    for _ in $(seq 1 50); do grep -q ready "$work/polkit.out" && break; sleep 0.1; done
    grep -q ready "$work/polkit.out" || { echo "no stand-in authority: $(cat "$work/polkit.out")"; return 1; }
    ip netns exec "$ns" env "$@" "$build/src/helper/kvo-helper" --bus "$bus" --install-dir "$install" \
        --idle-seconds 600 > "$work/helper.out" 2>&1 &
    privatebus_pids+=($!)
    for _ in $(seq 1 50); do privatebus_helper_up && return 0; sleep 0.1; done
    echo "kvo-helper is not on the bus: $(cat "$work/helper.out")"
    return 1
}

privatebus_helper_up() {
    dbus-send --bus="$bus" --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner string:org.kvo.Helper1 2>/dev/null | grep -q "boolean true"
}

# The client as the unprivileged user nobody, without capabilities, on the
# private bus; its output appended to OUT.
privatebus_client() {
    local ns=$1 home=$2 runtime=$3 boxes=$4 out=$5
    ip netns exec "$ns" setpriv --reuid=nobody --regid=nogroup --clear-groups \
        --inh-caps=-all --bounding-set=-all --no-new-privs \
        env KVO_HOME="$home" XDG_RUNTIME_DIR="$runtime" DBUS_SYSTEM_BUS_ADDRESS="$bus" \
        QT_QPA_PLATFORM=offscreen KVO_PROMPT_TRANSCRIPT="$boxes" \
        "$BUILD_FOR_PRIVATEBUS/src/app/KVOClient" boot >> "$out" 2>&1 &
    client=$!
    privatebus_pids+=($client)
}
