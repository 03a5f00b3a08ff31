#!/usr/bin/env bash
# kvo-helper under the limits its unit gives it, without installing the
# unit: systemd itself applies the [Service] settings of UNIT (a configured
# kvo-helper.service: the build's src/helper/kvo-helper.service or the
# package's) to a transient service that runs the program.
#
#   sandboxed-helper.sh UNIT [--writable DIR]... [--readable DIR]... -- PROGRAM [ARG...]
#       runs PROGRAM in that service, with this standard input, output and
#       error, and exits with its status;
#   sandboxed-helper.sh UNIT --over HELPER [--writable DIR]... [--readable DIR]... -- COMMAND [ARG...]
#       runs COMMAND as it is, in a mount namespace of its own where the
#       file HELPER is replaced: whatever COMMAND starts as HELPER (the
#       helper tests start KVO_HELPER_BIN) runs in that service instead,
#       with its arguments, output, PATH and KVO_* variables, in the
#       starter's network namespace and with the files the starter has
#       bound over others (as a test lays a slow nft over the system's)
#       bound the same; a SIGTERM to it is passed to the helper.
#
# --writable DIR: DIR is writable to the service too (a test's folders,
# where the stand-in tunnel programs record what they were given).
# --readable DIR: DIR is seen by the service as it is here, also where it
# lies in /tmp or /var/tmp, which the service has of its own (a build or a
# checkout there: the helper, the stand-in programs). HELPER's folder is
# always given so.
#
# The helper tests under the limits of the build's unit, their folders out
# of /tmp and /var/tmp (the service has its own):
#   t=$(mktemp -d /var/lib/kvo-test.XXXXXX)
#   TMPDIR=$t tests/package/sandboxed-helper.sh build/src/helper/kvo-helper.service \
#       --over build/src/helper/kvo-helper --writable "$t" -- build/tests/helper/kvo_helper_tests
#
# The service takes every setting of the unit's [Service] section but Type=,
# BusName= and ExecStart=. Where systemd is not the init (a container, a
# VM), a manager of this run's own applies them: systemd --user as root, in
# a mount namespace with a tmpfs on /run/systemd and in cgroups of its own;
# it goes, with all it started, when the run ends. Two settings a user
# manager does not apply as the system's does are made good here:
# RuntimeDirectory= (the folders are made in /run, given as ReadWritePaths=
# and removed after when empty) and DevicePolicy=/DeviceAllow= (the same
# list in a cgroup v1 device controller around the manager).
#
# Needs root and systemd.
set -euo pipefail

fail() { echo "sandboxed-helper: $*" >&2; exit 1; }

# --- In COMMAND's namespace, started as HELPER ------------------------------

if [[ -n ${KVO_SANDBOX_STATE:-} ]]; then
    state=$KVO_SANDBOX_STATE
    mapfile -t run <"$state/run"
    mapfile -t scope <"$state/scope"
    mapfile -t properties <"$state/properties"
    helper=$(<"$state/helper")
    manager=$(<"$state/manager-pid")
    unit=kvo-sandboxed-helper-$(<"$state/id")-$$.service
    extra=()
    # The starter's network namespace (a test's own, or the rig's client).
    if [[ $(readlink /proc/self/ns/net) != $(readlink "/proc/$manager/ns/net") ]]; then
        extra+=(-p "NetworkNamespacePath=/proc/$$/ns/net")
    fi
    # Files bound over others here and not in the manager's view, from the
    # root file system, read-only or not as here.
    root_dev=$(awk '$5 == "/" {print $3; exit}' "/proc/$manager/mountinfo")
    while read -r _ _ dev source target options _; do
        [[ $target != "$helper" && $dev == "$root_dev" && $source != / && -f $target ]] || continue
        awk -v t="$target" '$5 == t {found = 1} END {exit !found}' "/proc/$manager/mountinfo" &&
            continue
        if [[ $options == rw* ]]; then
            extra+=(-p "BindPaths=$source:$target")
        else
            extra+=(-p "BindReadOnlyPaths=$source:$target")
        fi
    done </proc/self/mountinfo
    extra+=(-E "PATH=$PATH")
    for name in $(compgen -e); do
        [[ $name == KVO_* && $name != KVO_SANDBOX_STATE ]] && extra+=(-E "$name=${!name}")
    done
    # systemd expands $ in the command line: each is doubled.
    arguments=()
    for a in "$@"; do arguments+=("${a//\$/\$\$}"); done
    "${run[@]}" systemd-run "${scope[@]}" --quiet --wait --pipe --collect --service-type=exec \
        --unit="$unit" "${properties[@]}" "${extra[@]}" -- "$helper" "${arguments[@]}" &
    child=$!
    stop() {
        "${run[@]}" systemctl "${scope[@]}" kill --kill-whom=main --signal=TERM "$unit" 2>/dev/null ||
            true
    }
    trap stop TERM INT
    status=0
    while :; do
        wait "$child" && status=0 || status=$?
        # A trapped signal ends the wait early: the service still runs.
        kill -0 "$child" 2>/dev/null || break
    done
    exit "$status"
fi

# --- The run ------------------------------------------------------------------

# The cgroup v1 device rules ("c 10:200 rw") that DevicePolicy= and
# DeviceAllow= among the settings given make; none without a policy.
device_rules() {
    local policy="" line node access type major minor name
    local allow=()
    for line in "$@"; do
        case $line in
            DevicePolicy=*) policy=${line#*=} ;;
            DeviceAllow=*) allow+=("${line#*=}") ;;
            # systemd allows the RTC read-only with ProtectClock=.
            ProtectClock=yes) allow+=("char-rtc r") ;;
        esac
    done
    [[ $policy == closed || $policy == strict || ${#allow[@]} -gt 0 ]] || return 0
    if [[ $policy != strict ]]; then
        # The pseudo devices systemd allows with every list, ptys included.
        allow+=("/dev/null rwm" "/dev/zero rwm" "/dev/full rwm" "/dev/random rwm"
            "/dev/urandom rwm" "/dev/tty rwm" "/dev/ptmx rwm" "char-pts rw")
        echo "c 0:0 rwm"
        echo "b 0:0 rwm"
    fi
    for line in "${allow[@]}"; do
        read -r node access <<<"$line"
        access=${access:-rwm}
        case $node in
            /dev/*)
                [[ -e $node ]] || continue # systemd skips what does not exist
                case $(stat -Lc %F "$node") in
                    "character special file") type=c ;;
                    "block special file") type=b ;;
                    *) continue ;;
                esac
                major=$((0x$(stat -Lc %t "$node"))) minor=$((0x$(stat -Lc %T "$node")))
                echo "$type $major:$minor $access"
                ;;
            char-* | block-*)
                type=${node%%-*} name=${node#*-}
                awk -v section="$([[ $type == char ]] && echo Character || echo Block)" \
                    -v name="$name" -v t="${type:0:1}" -v a="$access" '
                    /^Character devices:/ {in_section = section == "Character"; next}
                    /^Block devices:/ {in_section = section == "Block"; next}
                    in_section && $2 == name {print t " " $1 ":* " a}' /proc/devices
                ;;
        esac
    done
}

[[ $(id -u) -eq 0 ]] || fail "needs root"
[[ $# -ge 1 ]] || fail "usage: sandboxed-helper.sh UNIT [--over HELPER] [--writable DIR]... [--readable DIR]... -- COMMAND [ARG...]"
unit_file=$(realpath "$1")
shift
over="" writable=() readable=()
while [[ $# -gt 0 && $1 != -- ]]; do
    case $1 in
        --over) over=$(realpath "$2"); shift 2 ;;
        --writable) writable+=("$(realpath "$2")"); shift 2 ;;
        --readable) readable+=("$(realpath "$2")"); shift 2 ;;
        *) fail "unknown option $1" ;;
    esac
done
[[ ${1:-} == -- && $# -ge 2 ]] || fail "no command after --"
shift
[[ -f $unit_file ]] || fail "no unit file $unit_file"
[[ -z $over || -f $over ]] || fail "no file $over to replace"
! grep -q '@[A-Z_]*@' "$unit_file" || fail "$unit_file is a template: give the configured unit"

state=$(mktemp -d /tmp/kvo-sandbox.XXXXXX)
manager_pid="" cgroups=() made_runtime=()
cleanup() {
    if [[ -n $manager_pid ]]; then
        kill -TERM "$manager_pid" 2>/dev/null || true
        wait "$manager_pid" 2>/dev/null || true
        for cg in "${cgroups[@]}"; do
            if [[ -d $cg ]]; then find "$cg" -depth -type d -exec rmdir {} + 2>/dev/null || true; fi
        done
        for d in "${made_runtime[@]}"; do rmdir "$d" 2>/dev/null || true; done
    elif [[ -f $state/id ]]; then
        systemctl stop "kvo-sandboxed-helper-$(<"$state/id")-*.service" 2>/dev/null || true
    fi
    rm -rf "$state"
}
trap cleanup EXIT
echo $$ >"$state/id"

# The unit's [Service] settings.
mapfile -t settings < <(awk '/^\[/ {service = ($0 == "[Service]"); next}
                             service && /^[A-Za-z]+=/ && !/^(Type|BusName|ExecStart)=/' "$unit_file")
properties=()
for d in "${writable[@]}"; do properties+=(-p "ReadWritePaths=$d"); done
[[ -n $over ]] && readable+=("$(dirname "$over")")
for d in "${readable[@]}"; do
    case $d/ in
        /tmp/* | /var/tmp/*) properties+=(-p "BindReadOnlyPaths=$d") ;;
    esac
done

if [[ -d /run/systemd/system ]]; then
    # systemd is the init: its own manager.
    for line in "${settings[@]}"; do properties+=(-p "$line"); done
    echo 1 >"$state/manager-pid"
    : >"$state/run"
    : >"$state/scope"
else
    # A manager of this run's own. A user manager puts RuntimeDirectory=
    # under its runtime folder, and ProtectHome= hides that folder: the
    # unit's runtime folders are made here, in /run, and given writable.
    [[ -x /lib/systemd/systemd ]] || fail "no /lib/systemd/systemd"
    mode=0755 runtime=()
    for line in "${settings[@]}"; do
        case $line in
            RuntimeDirectoryMode=*) mode=${line#*=} ;;
            RuntimeDirectory=*) read -ra runtime <<<"${line#*=}" ;;
            RuntimeDirectoryPreserve=*) ;;
            *) properties+=(-p "$line") ;;
        esac
    done
    # Not the user session's sockets (basic.target) either.
    properties+=(-p DefaultDependencies=no)
    for d in "${runtime[@]}"; do
        if [[ ! -e /run/$d ]]; then
            mkdir -p "/run/$d"
            made_runtime+=("/run/$d")
        fi
        chmod "$mode" "/run/$d"
        properties+=(-p "ReadWritePaths=/run/$d")
    done
    if [[ $(stat -fc %T /sys/fs/cgroup) == cgroup2fs ]]; then
        cgroups=(/sys/fs/cgroup/kvo-sandbox-$$)
    else
        for h in unified systemd; do
            [[ -d /sys/fs/cgroup/$h ]] && cgroups+=("/sys/fs/cgroup/$h/kvo-sandbox-$$")
        done
    fi
    [[ ${#cgroups[@]} -gt 0 ]] || fail "no cgroup hierarchy for a manager"
    mkdir "${cgroups[@]}"
    # A user manager applies no DevicePolicy=: the device controller of
    # cgroup v1, where there is one, holds the manager and all it starts to
    # the unit's devices.
    mapfile -t devices < <(device_rules "${settings[@]}")
    if [[ ${#devices[@]} -gt 0 ]]; then
        [[ -f /sys/fs/cgroup/devices/devices.deny ]] ||
            fail "DevicePolicy= needs the devices controller of cgroup v1 here"
        cg=/sys/fs/cgroup/devices/kvo-sandbox-$$
        mkdir "$cg"
        cgroups+=("$cg")
        echo a >"$cg/devices.deny"
        for rule in "${devices[@]}"; do echo "$rule" >"$cg/devices.allow"; done
    fi
    rt=/run/systemd/kvo-sandbox
    setsid unshare --mount --propagation private bash -c '
        # /run a file system of its own, as where systemd boots: else the
        # services get an empty one (MountAPIVFS=, which ProtectProc= and
        # ProtectKernelTunables= imply, mounts one where there is none).
        mountpoint -q /run || mount --rbind /run /run
        mount -t tmpfs -o mode=755 kvo-sandbox /run/systemd
        mkdir /run/systemd/system /run/systemd/user /run/systemd/inaccessible
        mkdir -m 700 "$1"
        cd /run/systemd/inaccessible
        mkdir -m 0 dir && install -m 0 /dev/null reg && mknod -m 0 chr c 0 0 &&
            mknod -m 0 blk b 0 0 && mkfifo -m 0 fifo
        python3 -c "import socket; socket.socket(socket.AF_UNIX).bind(\"sock\")" 2>/dev/null &&
            chmod 0 sock
        # Nothing but what is run (none of the user units the machine
        # enables), and a bus: systemd-run --wait talks to the manager on one.
        cd /run/systemd/user
        printf "[Unit]\nDefaultDependencies=no\nWants=dbus.socket dbus.service\n" >kvo-sandbox.target
        printf "[Unit]\nDefaultDependencies=no\n[Socket]\nListenStream=%s/bus\n" "$1" >dbus.socket
        printf "[Unit]\nDefaultDependencies=no\nRequires=dbus.socket\n[Service]\nExecStart=%s\n" \
            "/usr/bin/dbus-daemon --session --address=systemd: --nofork --nopidfile --systemd-activation --syslog-only" \
            >dbus.service
        cd /
        for cg in "${@:2}"; do echo $$ >"$cg/cgroup.procs"; done
        XDG_RUNTIME_DIR=$1 DBUS_SESSION_BUS_ADDRESS=unix:path=$1/bus \
            exec /lib/systemd/systemd --user --unit=kvo-sandbox.target
    ' kvo-sandbox "$rt" "${cgroups[@]}" >"$state/manager.log" 2>&1 </dev/null &
    manager_pid=$!
    echo "$manager_pid" >"$state/manager-pid"
    printf '%s\n' nsenter -m -t "$manager_pid" env "XDG_RUNTIME_DIR=$rt" \
        "DBUS_SESSION_BUS_ADDRESS=unix:path=$rt/bus" >"$state/run"
    echo --user >"$state/scope"
    mapfile -t run <"$state/run"
    up=""
    for _ in $(seq 1 100); do
        if "${run[@]}" busctl --user status org.freedesktop.systemd1 >/dev/null 2>&1; then
            up=1
            break
        fi
        kill -0 "$manager_pid" 2>/dev/null || break
        sleep 0.1
    done
    [[ -n $up ]] || { cat "$state/manager.log" >&2; fail "the manager did not come up on its bus"; }
fi
printf '%s\n' "${properties[@]}" >"$state/properties"
mapfile -t run <"$state/run"
mapfile -t scope <"$state/scope"

if [[ -z $over ]]; then
    arguments=()
    for a in "${@:2}"; do arguments+=("${a//\$/\$\$}"); done
    status=0
    "${run[@]}" systemd-run "${scope[@]}" --quiet --wait --pipe --collect --service-type=exec \
        --unit="kvo-sandboxed-helper-$$.service" "${properties[@]}" -- "$1" "${arguments[@]}" \
        || status=$?
    exit "$status"
fi

echo "$over" >"$state/helper"
cp "$0" "$state/launcher"
chmod 755 "$state/launcher"
status=0
KVO_SANDBOX_STATE=$state unshare --mount --propagation private \
    sh -c 'mount --bind "$1" "$2" && shift 2 && exec "$@"' sh "$state/launcher" "$over" "$@" \
    || status=$?
exit "$status"
