#!/usr/bin/env bash
# The fleet playbook against controllers on this machine (docs/fleet.md): an
# sshd on loopback for each, its session in an ARM root entered through
# qemu-user (binfmt_misc), the real binaries of the single file in it with
# the stand-in libplc.so and its settings; each sshd in a PID namespace of
# its own, so that nothing outlives the test (unshare ignores TERM while its
# child runs; KILL ends it, its child with it, and the namespace). Root only.
#   tests/fleet/fleet_test.sh   (after the controller presets' builds: build-ABI/)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/tools/abis.sh"
. "$top/tools/programs.sh"
. "$top/tests/support/skip.sh"
fail() { echo "FAIL [fleet]: $*" >&2; exit 1; }

# name | ABI | what the controller was made to do | status | verdict | the reason names | inventory variables
# What: plcsim=SETTINGS (the stand-in, with PLCSIM_ settings), no_libplc,
# refuses_login (its sshd accepts no key), nothing (no sshd on its port).
controllers=(
    "keeps_armel|armel|plcsim=|1|pass||"
    "keeps_armhf|armhf|plcsim=|1|pass||"
    "keeps_arm64|arm64|plcsim=|1|pass||"
    "slow|armhf|plcsim=PLCSIM_WRITE_US=200000|1|fail|above 100 ms; delays above 30..40ms: 10 >40ms|"
    "hangs|armel|plcsim=PLCSIM_WRITE_US=2000000|143|stopped|within 3 s|plc_run_limit_s=3"
    "refuses_writes|armel|plcsim=PLCSIM_OUTPUTS=1-2|2|write refused|output 25 refused every write for 10 s|"
    "no_libplc|arm64|no_libplc|127|not started|libplc.so|"
    "bad_setting|armhf|plcsim=PLCSIM_OUTPUTS=junk|3|no report|PLCSIM_OUTPUTS|"
    "refuses_login|armhf|refuses_login||unreachable|Permission denied|"
    "nothing_listens||nothing||unreachable|Connection refused|"
)
# Criteria far from both the runs that keep their timing (2 ms pauses, a
# loaded machine's hiccups) and the slow one (200 ms writes).
parameters=(-e plc_iter=10 -e plc_delay=2000 -e plc_first=25 -e plc_last=35
            -e plc_max_delay_ms=100 -e plc_highest_class=30..40ms)

[ "$(id -u)" -eq 0 ] || skip "the controllers' roots are entered by chroot: run as root"
for command in ansible-playbook /usr/sbin/sshd ssh ssh-keygen unshare chroot qemu-arm-static qemu-aarch64-static; do
    command -v "$command" >/dev/null || skip "no $command (tools/setup test installs it)"
done
for abi in $(plc_abis); do
    for file in $(plc_programs) libplc.so; do
        [ -f "$top/build-$abi/$file" ] || skip "no build-$abi/$file: build the controller presets first"
    done
    [ -x "$top/.busybox/$abi/bin/busybox" ] || skip "no $abi busybox in .busybox/$abi (tools/setup test fetches it)"
done

work=$(mktemp -d /tmp/fleet-test.XXXXXX)
pids=() registered=() mounted= made_privsep=
clean_up() {
    local pid entry
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do { wait "$pid"; } 2>/dev/null || true; done
    for entry in "${registered[@]}"; do echo -1 >"/proc/sys/fs/binfmt_misc/$entry" || true; done
    [ -z "$mounted" ] || umount /proc/sys/fs/binfmt_misc || true
    [ -z "$made_privsep" ] || rmdir /run/sshd || true
    rm -rf "$work"
}
trap clean_up EXIT

# ARM binaries run through qemu-user as binfmt_misc starts them, with the
# interpreter opened now (flag F), so that it works inside the roots.
if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null ||
        skip "binfmt_misc cannot be mounted here, so no ARM root can be entered"
    mounted=yes
fi
for machine in arm aarch64; do
    entry=plc_fleet_test_${machine}_$$  # a name of this run's: runs may overlap
    sed "s/^:qemu-$machine:/:$entry:/" "/usr/lib/binfmt.d/qemu-$machine.conf" >/proc/sys/fs/binfmt_misc/register 2>/dev/null ||
        skip "qemu-$machine cannot be registered with binfmt_misc here"
    registered+=("$entry")
done

# free_port: a loopback port where nothing listens now.
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# make_root DIR ABI WHAT: busybox as /bin/sh and its applets, the loader and
# the C libraries the ABI's binaries need, the stand-in.
make_root() {
    local root=$1 abi=$2 what=$3 applet library
    abi_facts "$abi"
    mkdir -p "$root/bin" "$root/lib" "$root/usr/lib" "$root/dev" "$root/root"
    mkdir -m 1777 "$root/tmp"
    mknod -m 666 "$root/dev/null" c 1 3
    cp "$top/.busybox/$abi/bin/busybox" "$root/bin/busybox"
    for applet in $(chroot "$root" /bin/busybox --list); do
        [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
    done
    cp -L "/usr/$triplet/lib/$(basename "$interpreter")" "$root/lib/"
    for library in ${needed//,/ }; do
        [ "$library" = libplc.so ] || cp -L "/usr/$triplet/lib/$library" "$root/lib/"
    done
    [ "$what" = no_libplc ] || cp "$top/build-$abi/libplc.so" "$root/usr/lib/libplc.so"
}

ssh-keygen -q -t ed25519 -N '' -f "$work/id" && ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
cp "$work/id.pub" "$work/authorized_keys"
if [ ! -d /run/sshd ]; then
    mkdir -m 755 /run/sshd
    made_privsep=yes
fi

"$top/release/single_file.sh" "$work/plc_do_test.run" $(plc_embedded "$top/build-{abi}/{program}")

inventory=$work/inventory
echo "[controllers]" >"$inventory"
declare -A port
for entry in "${controllers[@]}"; do
    IFS='|' read -r name abi what _ _ _ variables <<<"$entry"
    port[$name]=$(free_port)
    echo "$name ansible_host=127.0.0.1 ansible_port=${port[$name]} ansible_user=root $variables" >>"$inventory"
    [ "$what" != nothing ] || continue
    root=$work/roots/$name
    make_root "$root" "$abi" "$what"
    settings=
    [[ "$what" != plcsim=* ]] || settings=${what#plcsim=}
    keys=$work/authorized_keys
    [ "$what" != refuses_login ] || keys=$work/no_keys
    cat >"$work/$name.sshd_config" <<CONFIG
ListenAddress 127.0.0.1
Port ${port[$name]}
HostKey $work/host_key
PidFile none
AuthorizedKeysFile $keys
StrictModes no
UsePAM no
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
LogLevel ERROR
ForceCommand env -i PATH=/bin HOME=/root $settings $(command -v chroot) $root /bin/sh -c "\$SSH_ORIGINAL_COMMAND"
CONFIG
    unshare --pid --fork --kill-child /usr/sbin/sshd -D -e -f "$work/$name.sshd_config" \
        2>>"$work/$name.sshd_log" &
    pids+=($!)
done
# Each sshd listening before the play starts.
for entry in "${controllers[@]}"; do
    IFS='|' read -r name _ what _ <<<"$entry"
    [ "$what" != nothing ] || continue
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/${port[$name]}") 2>/dev/null && break
        sleep 0.1
    done
    (exec 3<>"/dev/tcp/127.0.0.1/${port[$name]}") 2>/dev/null ||
        fail "the sshd of $name does not listen: $(cat "$work/$name.sshd_log")"
done

export ANSIBLE_HOME=$work/ansible ANSIBLE_LOCAL_TEMP=$work/ansible/tmp ANSIBLE_REMOTE_TMP=/tmp/.ansible \
    ANSIBLE_HOST_KEY_CHECKING=False ANSIBLE_PRIVATE_KEY_FILE=$work/id ANSIBLE_SSH_TRANSFER_METHOD=piped \
    ANSIBLE_SSH_ARGS="-o ControlMaster=no -o UserKnownHostsFile=/dev/null -o IdentitiesOnly=yes -o ConnectTimeout=10" \
    ANSIBLE_FORKS=10 ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=False
# play NAME STATUS ARGS...: the playbook, ending with STATUS; its table in $work/NAME.
play() {
    local name=$1 expected=$2 status=0
    shift 2
    (cd "$work" && ansible-playbook -i "$inventory" "$top/fleet/plc_do_test.yml" \
        -e plc_single_file="$work/plc_do_test.run" -e plc_results="$work/$name" "$@") >"$work/$name.log" 2>&1 ||
        status=$?
    [ "$status" -eq "$expected" ] || { tail -n 60 "$work/$name.log"; fail "the $name play ended with $status, expected $expected"; }
    [ -s "$work/$name.csv" ] && [ -s "$work/$name.md" ] || { tail -n 40 "$work/$name.log"; fail "the $name play wrote no table"; }
}

# field TABLE HOST COLUMN: one value of the table's CSV.
field() {
    python3 -c 'import csv, sys
rows = {row["host"]: row for row in csv.DictReader(open(sys.argv[1]))}
print(rows[sys.argv[2]][sys.argv[3]] if sys.argv[2] in rows else "(no row)")' "$@"
}

play fleet 2 "${parameters[@]}"
[ "$(grep -c . "$work/fleet.csv")" -eq $((${#controllers[@]} + 1)) ] ||
    fail "the table has $(($(grep -c . "$work/fleet.csv") - 1)) rows for ${#controllers[@]} controllers: $(cat "$work/fleet.csv")"
commit_line() { grep -ao "plc_do_test [0-9.]* $1 commit [0-9a-z+]*" "$top/build-$1/plc_do_test"; }
for entry in "${controllers[@]}"; do
    IFS='|' read -r name abi what status verdict named _ <<<"$entry"
    row="$name: $(grep "^$name," "$work/fleet.csv")"
    [ "$(field "$work/fleet.csv" "$name" status)" = "$status" ] || fail "$row: status, expected [$status]"
    [ "$(field "$work/fleet.csv" "$name" verdict)" = "$verdict" ] || fail "$row: verdict, expected [$verdict]"
    [ -z "$named" ] || [[ "$(field "$work/fleet.csv" "$name" reason)" == *"$named"* ]] ||
        fail "$row: the reason does not say [$named]"
    if [ -n "$status" ]; then
        [ "$(field "$work/fleet.csv" "$name" abi)" = "$abi" ] || fail "$row: the launcher's choice, expected $abi"
        [ "$(field "$work/fleet.csv" "$name" identity)" = "$(commit_line "$abi")" ] ||
            fail "$row: the identity is not the $abi binary's [$(commit_line "$abi")]"
    fi
    # Stopped on the controller: not left to finish with its report.
    [ "$verdict" != stopped ] || [ -z "$(field "$work/fleet.csv" "$name" total_s)" ] ||
        fail "$row: the run went on after the controller stopped it"
    if [ "$status" = 1 ]; then
        counted=0
        for class in '<20ms' 20..30ms 30..40ms '>40ms'; do
            counted=$((counted + $(field "$work/fleet.csv" "$name" "$class")))
        done
        [ "$counted" -eq 10 ] || fail "$row: $counted delays counted for 10 iterations"
    fi
    grep -q "^| $name |" "$work/fleet.md" || fail "the Markdown table has no row for $name"
done
python3 -c 'import json, sys
report = json.load(open(sys.argv[1]))["keeps_arm64"]["stdout"]
sys.exit(not report.startswith("total execution time is: ") or not report.endswith("ms\n"))' "$work/fleet.json" ||
    fail "fleet.json does not hold keeps_arm64's report as it came: $(cat "$work/fleet.json")"
cat "$work/fleet.md"
echo "ok: ${#controllers[@]} controllers, one row each with its verdict"

# Parameters the program refuses: its usage text, status 255, a row of its own.
play refused 2 -e plc_iter=10001 -e plc_delay=0 -e plc_first=25 -e plc_last=35 \
    --limit keeps_armhf
[ "$(field "$work/refused.csv" keeps_armhf status)/$(field "$work/refused.csv" keeps_armhf verdict)" = \
  "255/parameters refused" ] || fail "iter 10001: $(cat "$work/refused.csv")"
echo "ok: parameters the program refuses: status 255, parameters refused"

# Only controllers that keep their timing: the play passes.
play keeping 0 "${parameters[@]}" --limit keeps_armel,keeps_armhf,keeps_arm64
echo "ok: every controller keeps its timing: the play ends with 0"

# After the plays nothing runs in any root, and the launcher took its folder
# away on every controller; then the sshds stop with their namespaces.
left=$(for process in /proc/[0-9]*; do
    case $(readlink "$process/root" 2>/dev/null) in "$work"/*) echo "${process#/proc/}";; esac
done)
[ -z "$left" ] || fail "left running in the roots: $(ps -o pid=,args= -p "$(paste -sd, <<<"$left")")"
left=$(find "$work"/roots/*/tmp -maxdepth 1 -name 'plc_do_test.*')
[ -z "$left" ] || fail "left on the controllers: $left"
{
    for pid in "${pids[@]}"; do kill -KILL "$pid"; done
    for pid in "${pids[@]}"; do wait "$pid" || true; done
} 2>/dev/null  # bash's word on each sshd it killed
pids=()
echo "PASS [fleet]: $(paste -sd' ' <<<"${controllers[*]%%|*}")"
