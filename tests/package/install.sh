#!/usr/bin/env bash
# The package as a user gets it: the built .deb is unpacked into a throw-away
# root, which a private mount namespace lays over /usr and /etc (nothing of
# the machine changes). The operator's deployment goes into /etc/kvo, the
# user's credentials into the user's own program folder, and the installed
# KVOClient, started as nobody without capabilities and offscreen, must
# bring the tunnel up through the installed kvo-helper, started by D-Bus
# activation from the installed activation file under the installed bus
# policy, and reach its first address against the service simulator. Then
# the package's maintainer scripts run over that /etc.
#
#   install.sh BUILD_DIR SOURCE_DIR
#
# Needs root (namespaces, tun, overlay mounts); exits 77 (skipped) otherwise.
set -euo pipefail

if [[ ${1:-} == --inside ]]; then
    inside=1
    shift
fi
build=$(realpath "$1") src=$(realpath "$2")

fail() {
    echo "FAIL: $*"
    for f in "${log:-}" "$work/boxes.txt" "$work/client.out" "$work/bus.out" "$work/polkit.out"; do
        [[ -n $f && -f $f ]] && { echo "--- $f"; cat "$f"; }
    done
    exit 1
}

if [[ -n ${inside:-} ]]; then
    # In the private mount namespace: the package over the system.
    mount -t overlay kvo-usr -o "lowerdir=$root/usr:/usr" /usr
    # /etc writable (into $work), for the maintainer scripts.
    mkdir -p "$work/etc-upper" "$work/etc-work"
    mount -t overlay kvo-etc -o "lowerdir=$root/etc:/etc,upperdir=$work/etc-upper,workdir=$work/etc-work" /etc
    [[ -x /usr/bin/KVOClient ]] || fail "no /usr/bin/KVOClient in the package"

    # A system bus of our own with the system bus's default policy, the
    # package's policy file and the package's activation files only (whose
    # Exec names the helper under /usr).
    pids=()
    trap 'for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done' EXIT
    cat > "$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/system_bus</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$root/usr/share/dbus-1/system-services</servicedir>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.PolicyKit1"/>
  </policy>
  <policy user="root">
    <allow own="org.freedesktop.PolicyKit1"/>
  </policy>
  <includedir>$root/usr/share/dbus-1/system.d</includedir>
</busconfig>
CONF
    bus=unix:path=$work/system_bus
    # In the client's network namespace, so that what it activates (the
    # helper, and openvpn under it) is there too.
    ip netns exec "$NS_CLIENT" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DBUS_SYSTEM_BUS_ADDRESS="$bus" \
        dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=1 > "$work/bus.out" 2>&1 &
    pids+=($!)
    for _ in $(seq 1 50); do [[ -S $work/system_bus ]] && break; sleep 0.1; done
    [[ -S $work/system_bus ]] || fail "no private system bus"
    "$build/tests/kvo-polkit-standin" "$bus" > "$work/polkit.out" 2>&1 &
    pids+=($!)
    for _ in $(seq 1 50); do grep -q ready "$work/polkit.out" && break; sleep 0.1; done
    grep -q ready "$work/polkit.out" || fail "no stand-in authority"

    ip netns exec "$NS_CLIENT" setpriv --reuid=nobody --regid=nogroup --clear-groups \
        --inh-caps=-all --bounding-set=-all --no-new-privs \
        env -i PATH=/usr/bin:/bin HOME="$work/user" XDG_RUNTIME_DIR="$work/run" \
        DBUS_SYSTEM_BUS_ADDRESS="$bus" QT_QPA_PLATFORM=offscreen \
        KVO_PROMPT_TRANSCRIPT="$work/boxes.txt" \
        KVOClient boot > "$work/client.out" 2>&1 &
    client=$!
    pids+=($client)
    for _ in $(seq 1 600); do
        grep -q "로 IP변경 완료" "$log" 2>/dev/null && break
        kill -0 "$client" 2>/dev/null || break
        sleep 0.1
    done
    grep -q "로 IP변경 완료" "$log" 2>/dev/null || fail "the installed client reached no first address"
    helper=$(pgrep -f "^/usr/libexec/kvo/kvo-helper --install-dir /etc/kvo" || true)
    [[ -n $helper ]] || fail "no kvo-helper started by activation"
    echo "helper (pid $helper): $(tr '\0' ' ' < "/proc/$helper/cmdline")"
    grep -qx org.kvo.helper.connect "$work/polkit.out" || fail "the helper asked polkit nothing"
    kill -TERM "$client"
    for _ in $(seq 1 100); do kill -0 "$client" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$client" 2>/dev/null && fail "the client did not end"
    [[ $(cut -f2 "$log" | tr -d '\r' | tail -1) == "프로그램 종료" ]] || fail "the last log line is not the end"
    pids+=($helper)

    # The maintainer scripts as dpkg runs them: configure, then remove keeps
    # the deployment, purge takes /etc/kvo and nothing of the user's.
    "$work/control/postinst" configure || fail "postinst configure failed"
    "$work/control/postrm" remove || fail "postrm remove failed"
    [[ -f /etc/kvo/KVOService.ini && -f /etc/kvo/client.ovpn ]] || fail "remove took the deployment"
    "$work/control/postrm" purge || fail "postrm purge failed"
    [[ ! -e /etc/kvo ]] || fail "purge left /etc/kvo: $(ls -A /etc/kvo)"
    [[ -f $log && -f $(dirname "$log")/../KVOClientSetup.ini ]] || fail "purge took the user's files"
    echo "maintainer scripts: configure, remove (deployment kept), purge (/etc/kvo gone, user's files kept)"
    exit 0
fi

if [[ $(id -u) -ne 0 ]]; then echo "skipped: needs root for namespaces and overlay mounts"; exit 77; fi
for p in openvpn dbus-daemon dpkg-deb unshare setpriv; do
    command -v $p >/dev/null || { echo "skipped: no $p"; exit 77; }
done
deb=$(ls -t "$build"/kvo-client_*.deb 2>/dev/null | head -1)
[[ -n $deb ]] || { echo "FAIL: no package in $build (cpack -G DEB)"; exit 1; }

work=$(mktemp -d /tmp/kvo-install.XXXXXX)
cleanup() {
    declare -F mainjob_down >/dev/null && mainjob_down
    [[ -n ${KEEP_WORK:-} ]] || rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
root=$work/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"

source "$src/scripts/lib/mainjob.sh"
MAINJOB_LIFETIME=120 mainjob_up "$work" "$build" "$src" fixed 60 || fail "the stage did not come up"

# The operator's deployment (the package's conffile, edited) and the
# OpenVPN configuration beside it, readable by the helper only.
mv "$home/KVOService.ini" "$root/etc/kvo/KVOService.ini"
mv "$home/"{client.ovpn,ca.crt,cl1.crt,cl1.key} "$root/etc/kvo/"
chmod 600 "$root/etc/kvo/cl1.key"
rm -f "$home/kvo_openvpn"
# The user's program folder holds what the user keeps, nothing more.
pf=$work/user/.local/share/KVO
mkdir -p "$pf" "$work/run"
mv "$home/"* "$pf/"
chmod 700 "$work/run"
chown -R nobody:nogroup "$work/user" "$work/run"
log=$pf/log/KVOClient$(date +%Y%m%d).txt

set +e
root=$root work=$work log=$log NS_CLIENT=$NS_CLIENT \
    unshare --mount --propagation private "$0" --inside "$build" "$src"
rc=$?
set -e
[[ $rc -eq 0 ]] || exit $rc
lines=$(cut -f2 "$log" | tr -d '\r')
for e in "프로그램 시작" "VPN터널이 연결됨" "로 IP변경 완료"; do
    grep -q -- "$e" <<<"$lines" || fail "log line '$e' missing"
done
grep -q '"tunnelAddress":"10.8.0.' "$work/records/session.jsonl" || fail "sign-in without the tunnel's address"
echo "installed package: $(basename "$deb"): $(grep -o '[0-9.]*로 IP변경 완료' "$log" | head -1)"
