#!/usr/bin/env bash
# The fleet playbook against controllers on this machine (docs/fleet.md): an
# sshd on loopback for each, its session in an ARM root entered through
# qemu-user (binfmt_misc), the real binaries of the single file in it with
# the stand-in libplc.so and its settings. The test runs in namespaces of its
# own (user, mount, PID): its own binfmt_misc instance, /run, /proc and
# mounts, none of the machine's, so that it runs beside another run of itself
# or anything else that uses binfmt_misc, and nothing of it outlives it
# (where Linux makes no user namespace, the machine's binfmt_misc, with
# entries of the run's). Root only.
#   tests/fleet/fleet_test.sh            every row, beside a second run of itself
#   tests/fleet/fleet_test.sh --plant N  N controllers at once: their start and end times
# (after the controller presets' builds: build-ABI/; PLC_FLEET_KEEP=1 keeps
# the test's folder, its tables and logs)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/tools/abis.sh"
. "$top/tools/programs.sh"
. "$top/tests/support/skip.sh"
fail() { echo "FAIL [fleet${mode:+ $mode}]: $*" >&2; exit 1; }
# The Python that Debian's python3-pil is installed for, whatever python3 is first on PATH.
debian_python=/usr/bin/python3
[ -x "$debian_python" ] || debian_python=python3

# name | ABI | what the controller was made to do | status | verdict | the reason names | inventory variables
# What, items separated by ';': PLCSIM_...=VALUE (a stand-in setting; \xHH
# is that byte), no_libplc, refuses_login (its sshd accepts no key), nothing
# (no sshd on its port), read_only (its root), noexec_tmp (its /tmp). A binary deaf to
# TERM is killed 10 s later: the single file waits for it (137). While
# each run goes on (60 s: left_alone), nothing else may start in its root.
controllers=(
    "keeps_armel|armel||1|pass||"
    "keeps_armhf|armhf||1|pass||"
    "keeps_arm64|arm64||1|pass||"
    "slow|armhf|PLCSIM_WRITE_US=200000|1|fail|above 100 ms; delays above 30..40ms: 10 >40ms|plc_max_delay_ms=100 plc_highest_class=30..40ms"
    "hangs|armel|PLCSIM_WRITE_US=2000000|143|stopped|within 3 s|plc_run_limit_s=3"
    "deaf_to_term|armhf|PLCSIM_WRITE_US=2000000;PLCSIM_IGNORE_TERM=1|137|stopped|within 3 s|plc_run_limit_s=3"
    "refuses_writes|armel|PLCSIM_OUTPUTS=1-2|2|write refused|output 25 refused every write for 10 s|"
    "no_libplc|arm64|no_libplc|127|not started|libplc.so|"
    "bad_setting|armhf|PLCSIM_OUTPUTS=junk|3|no report|PLCSIM_OUTPUTS|"
    "refuses_login|armhf|refuses_login||unreachable|Permission denied|"
    "nothing_listens||nothing||unreachable|Connection refused|"
    "octal_hex|arm64||1|pass||plc_iter=010 plc_delay=0x7d0"
    "latin1|armel|PLCSIM_SAY_STDOUT=\x1b[1mFeldbus nicht verf\xfcgbar|1|no report|report after other output: \x1b[1mFeldbus nicht verf\xfcgbar|"
    "formula|armhf|PLCSIM_SAY_STDOUT==HYPERLINK(\x22http://example.com\x22)|255|parameters refused|'=HYPERLINK|plc_iter=10001"
    "pipes|arm64|PLCSIM_SAY_STDOUT=C:\x5c\x7c D:\x5c\x5c\x7c <svg class=\x22histogram\x22></svg>|255|parameters refused|C:|plc_iter=10001"
    "forged|armel|PLCSIM_OUTPUTS=1-2;PLCSIM_SAY_STDERR=plc_do_test fleet: status 1|2|write refused|output 25 refused|"
    "report_lost|armhf|PLCSIM_STDOUT=/dev/full|74|report lost|status 74|"
    "noexec_tmp|armhf|noexec_tmp|126|not started|TMPDIR|"
    "noexec_tmp_given|armhf|noexec_tmp|1|pass||plc_tmpdir=/var/tmp"
    "read_only|arm64|read_only||not run|could not make its folder in /tmp/.ansible (status 1): give ansible_remote_tmp|"
    "read_only_given|arm64|read_only|1|pass||ansible_remote_tmp=/run/ansible plc_tmpdir=/run"
    "read_only_run_tmp|armel|read_only||not run|no run folder in /tmp|ansible_remote_tmp=/run/ansible"
    "profiled|armel||1|pass||plc_profile=true"
    "slow_outputs|arm64|PLCSIM_SLOW=30-31:100000|1|fail|delays above 30..40ms: |plc_profile=true plc_priority=80 plc_highest_class=30..40ms"
    "no_libplc_profiled|armhf|no_libplc|127|not started|libplc.so|plc_profile=true"
    "nothing_listens_profiled||nothing||unreachable|Connection refused|plc_profile=true"
    "left_alone|armhf||1|pass||plc_iter=12 plc_delay=5000000"
)
# Words of a megabyte's tenth (an environment holds no more): cut in the
# tables, in full in the JSON.
controllers+=("long_words|arm64|PLCSIM_SAY_STDERR=$(head -c 100000 /dev/zero | tr '\0' w);PLCSIM_OUTPUTS=junk|3|no report|more characters, all in the JSON|")
# Runs that end at once, with a long limit: a watchdog that outlives its run
# would hold the play or be left running in the root.
for count in 1 2 3 4 5 6; do
    controllers+=("ends_at_once_$count|armel|no_libplc|127|not started|libplc.so|plc_run_limit_s=900")
done
# The run's parameters for every controller, in the inventory, so that a
# controller's own line may give others. No criteria but the slow one's:
# far from its 200 ms writes, and from the hiccups of the runs that keep
# their timing (2 ms pauses) on a loaded machine, every controller at once.
parameters="plc_iter=10 plc_delay=2000 plc_first=25 plc_last=35"
# Variables Ansible refuses: name | its line's variables | what the play says of it.
refused=(
    "profile_maybe|plc_profile=maybe|argument 'plc_profile' is of type <class 'str'> and we were unable to convert to bool"
    "class_in_ms|plc_highest_class=50ms|value of plc_highest_class must be one of: , <20ms, 20..30ms, 30..40ms, got: 50ms"
    "fine|plc_max_delay_ms=25|the play's variables were refused for .*class_in_ms"
)

mode=${1:-rows}
case $mode in
    rows | --beside) ;;
    --plant) plant=${2:?usage: fleet_test.sh --plant N} ;;
    --inside) ;;
    *) echo "usage: tests/fleet/fleet_test.sh [--plant N]" >&2; exit 2 ;;
esac

if [ "$mode" != --inside ]; then
    [ "$(id -u)" -eq 0 ] || skip "the controllers' roots are entered by chroot: run as root"
    for command in ansible-playbook /usr/sbin/sshd ssh ssh-keygen unshare chroot qemu-arm-static qemu-aarch64-static; do
        command -v "$command" >/dev/null || skip "no $command (tools/setup test installs it)"
    done
    "$debian_python" -c 'import PIL.Image' 2>/dev/null || skip "no python3-pil to read the page's screenshot (tools/setup test installs it)"
    for abi in $(plc_abis); do
        for file in $(plc_programs) libplc.so; do
            [ -f "$top/build-$abi/$file" ] || skip "no build-$abi/$file: build the controller presets first"
        done
        [ -x "$top/.busybox/$abi/bin/busybox" ] || skip "no $abi busybox in .busybox/$abi (tools/setup test fetches it)"
    done
    # Variables of the wrong kind, refused on every controller before any is
    # touched (fleet/roles/plc_do_test/meta/argument_specs.yml): their names
    # resolve to no address. results.py's own checks: tests/fleet/results_test.py.
    if [ "$mode" = rows ]; then
        refusals=$(mktemp -d /tmp/fleet-test-refused.XXXXXX)
        printf '[controllers]\n' >"$refusals/inventory"
        for entry in "${refused[@]}"; do
            IFS='|' read -r name variables _ <<<"$entry"
            echo "$name ansible_host=$name.invalid $variables" >>"$refusals/inventory"
        done
        status=0
        (cd "$refusals" && ANSIBLE_HOME=$refusals/ansible ANSIBLE_LOCAL_TEMP=$refusals/ansible/tmp ansible-playbook \
            -i inventory "$top/fleet/plc_do_test.yml" -e plc_single_file="$0" -e "$parameters") >"$refusals/log" 2>&1 || status=$?
        for entry in "${refused[@]}"; do
            IFS='|' read -r name _ said <<<"$entry"
            grep -q "^fatal: \[$name\]: FAILED! .*$said" "$refusals/log" ||
                { cat "$refusals/log"; rm -rf "$refusals"; fail "$name: the play does not say [$said]"; }
        done
        ! grep -q UNREACHABLE "$refusals/log" && [ "$status" -eq 2 ] && [ ! -e "$refusals/plc_do_test_results.csv" ] ||
            { cat "$refusals/log"; rm -rf "$refusals"; fail "refused variables: the play ended with $status, or went on to a controller"; }
        rm -rf "$refusals"
        echo "ok: variables of the wrong kind refused before any controller: ${#refused[@]} rows"
    fi
    # A second run of this test beside this one, in namespaces of its own.
    if [ "$mode" = rows ]; then
        beside_log=$(mktemp /tmp/fleet-test-beside.XXXXXX)
        "$0" --beside >"$beside_log" 2>&1 &
        beside=$!
    fi
    work=$(mktemp -d /tmp/fleet-test.XXXXXX)
    inside=
    clean_up() {
        [ -z "$inside" ] || kill -KILL "$inside" 2>/dev/null || true
        [ -n "${PLC_FLEET_KEEP:-}" ] || rm -rf "$work"
    }
    trap clean_up EXIT
    # A user namespace whose ids are the machine's own (root is root, sshd's
    # user is sshd's), owning the mount and PID namespaces: binfmt_misc mounted
    # there is an instance of its own (Linux 6.7 on). Where there can be none
    # (an older kernel; in a chroot, where Linux makes no user namespace),
    # mount and PID namespaces alone, with the machine's binfmt_misc and
    # entries named for this run, removed after it.
    own_binfmt=
    ! unshare --user --map-root-user --mount sh -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc' \
        2>/dev/null || own_binfmt=yes
    # In a chroot its root is no mount point, whose propagation unshare could
    # make private: there the mounts keep the propagation of the one they lie
    # on (private on the machines CI runs on), as before there were namespaces.
    propagation=()
    [ -n "$own_binfmt" ] || mountpoint -q / || propagation=(--propagation unchanged)
    PLC_FLEET_WORK=$work PLC_FLEET_MODE=$mode PLC_FLEET_OWN_BINFMT=$own_binfmt \
        unshare ${own_binfmt:+--user} --mount "${propagation[@]}" --pid --fork --kill-child "$0" --inside "${@:2}" &
    inside=$!
    if [ -n "$own_binfmt" ]; then
        for _ in $(seq 100); do
            [ "$(readlink "/proc/$inside/ns/user")" = "$(readlink /proc/self/ns/user)" ] || break
            sleep 0.05
        done
        echo "0 0 4294967295" >"/proc/$inside/uid_map"
        echo "0 0 4294967295" >"/proc/$inside/gid_map"
    fi
    status=0
    wait "$inside" || status=$?
    inside=
    if [ "$mode" = rows ]; then
        beside_status=0
        wait "$beside" || beside_status=$?
        sed 's/^/  beside: /' "$beside_log"
        rm -f "$beside_log"
        [ "$status" -ne 0 ] || [ "$beside_status" -eq 0 ] || fail "the run beside this one ended with $beside_status"
    fi
    exit "$status"
fi

# In the namespaces.
for _ in $(seq 100); do [ "$(id -u)" -eq 0 ] && break; sleep 0.05; done
work=$PLC_FLEET_WORK mode=$PLC_FLEET_MODE plant=${2:-}
mount -t proc proc /proc
mount -t tmpfs -o mode=755 tmpfs /run
mkdir -m 755 /run/sshd
mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null ||
    skip "binfmt_misc cannot be mounted here, so no ARM root can be entered"
# ARM binaries run through qemu-user as binfmt_misc starts them, with the
# interpreter opened now (flag F), so that it works inside the roots; in the
# machine's binfmt_misc under names of this run's, removed after it.
registered=()
[ -n "$PLC_FLEET_OWN_BINFMT" ] ||
    trap 'for entry in "${registered[@]}"; do echo -1 >"/proc/sys/fs/binfmt_misc/$entry" || true; done' EXIT
for machine in arm aarch64; do
    entry=qemu-$machine
    [ -n "$PLC_FLEET_OWN_BINFMT" ] || entry=plc_fleet_test_${machine}_${work##*.}
    sed "s/^:qemu-$machine:/:$entry:/" "/usr/lib/binfmt.d/qemu-$machine.conf" >/proc/sys/fs/binfmt_misc/register 2>/dev/null ||
        skip "qemu-$machine cannot be registered with binfmt_misc here"
    registered+=("$entry")
done
[ -n "$PLC_FLEET_OWN_BINFMT" ] || echo "note: no binfmt_misc of the test's own here: the machine's, with entries of this run's"

case $mode in
    --beside) controllers=("${controllers[@]:0:3}") ;;
    --plant)
        controllers=()
        for count in $(seq "$plant"); do controllers+=("plant_$count|armhf||1|pass||"); done
        ;;
esac

# free_port: a loopback port where nothing listens now.
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
has() { [[ ";$1;" == *";$2;"* ]]; }

# make_root DIR ABI WHAT: busybox as /bin/sh and its applets, the loader and
# the C libraries the ABI's binaries need, the stand-in; the devices bound
# from the machine's; read only or with a /tmp that runs nothing, as asked.
make_root() {
    local root=$1 abi=$2 what=$3 applet library device
    abi_facts "$abi"
    mkdir -p "$root/bin" "$root/lib" "$root/usr/lib" "$root/dev" "$root/root" "$root/run" "$root/var/tmp" "$root/proc"
    chmod 1777 "$root/var/tmp"
    mkdir -m 1777 "$root/tmp"
    touch "$root/dev/null" "$root/dev/full"
    cp "$top/.busybox/$abi/bin/busybox" "$root/bin/busybox"
    for applet in $(chroot "$root" /bin/busybox --list); do
        [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
    done
    cp -L "/usr/$triplet/lib/$(basename "$interpreter")" "$root/lib/"
    for library in ${needed//,/ }; do
        [ "$library" = libplc.so ] || cp -L "/usr/$triplet/lib/$library" "$root/lib/"
    done
    has "$what" no_libplc || cp "$top/build-$abi/libplc.so" "$root/usr/lib/libplc.so"
    if has "$what" read_only; then
        mount --bind "$root" "$root"
        mount -o remount,bind,ro "$root"
        mount -t tmpfs -o mode=1777 tmpfs "$root/run"
    fi
    ! has "$what" noexec_tmp || mount -t tmpfs -o mode=1777,noexec tmpfs "$root/tmp"
    for device in null full; do mount --bind "/dev/$device" "$root/dev/$device"; done
    # A controller's /proc: the fleet's watchdog finds the processes a run started there.
    mount -t proc proc "$root/proc"
}

ssh-keygen -q -t ed25519 -N '' -f "$work/id" && ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
cp "$work/id.pub" "$work/authorized_keys"

single_file=$work/plc_do_test.run
"$top/release/single_file.sh" "$single_file" $(plc_embedded "$top/build-{abi}/{program}")

inventory=$work/inventory
printf '[controllers:vars]\n%s\n[controllers]\n' "${parameters// /$'\n'}" >"$inventory"
declare -A port
pids=()
for entry in "${controllers[@]}"; do
    IFS='|' read -r name abi what _ _ _ variables <<<"$entry"
    port[$name]=$(free_port)
    echo "$name ansible_host=127.0.0.1 ansible_port=${port[$name]} ansible_user=root $variables" >>"$inventory"
    has "$what" nothing && continue
    root=$work/roots/$name
    make_root "$root" "$abi" "$what"
    # The stand-in's settings, one a line, each byte as the table writes it.
    : >"$work/$name.settings"
    IFS=';' read -ra items <<<"$what"
    for item in "${items[@]}"; do
        [[ "$item" != PLCSIM_* ]] || printf '%b\n' "$item" >>"$work/$name.settings"
    done
    cat >"$work/$name.enter" <<ENTER
#!/bin/sh
# The session of $name: in its root, with its stand-in settings.
set --
while IFS= read -r setting; do set -- "\$@" "\$setting"; done <"$work/$name.settings"
exec env -i PATH=/bin HOME=/root "\$@" $(command -v chroot) "$root" /bin/sh -c "\$SSH_ORIGINAL_COMMAND"
ENTER
    chmod 755 "$work/$name.enter"
    keys=$work/authorized_keys
    has "$what" refuses_login && keys=$work/no_keys
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
ForceCommand $work/$name.enter
CONFIG
    /usr/sbin/sshd -D -e -f "$work/$name.sshd_config" 2>>"$work/$name.sshd_log" &
    pids+=($!)
done
# Each sshd listening before the play starts.
for entry in "${controllers[@]}"; do
    IFS='|' read -r name _ what _ <<<"$entry"
    has "$what" nothing && continue
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/${port[$name]}") 2>/dev/null && break
        sleep 0.1
    done
    (exec 3<>"/dev/tcp/127.0.0.1/${port[$name]}") 2>/dev/null ||
        fail "the sshd of $name does not listen: $(cat "$work/$name.sshd_log")"
done

# Ansible as a user sets it up, forks left at their default (5).
export ANSIBLE_HOME=$work/ansible ANSIBLE_LOCAL_TEMP=$work/ansible/tmp ANSIBLE_REMOTE_TMP=/tmp/.ansible \
    ANSIBLE_HOST_KEY_CHECKING=False ANSIBLE_PRIVATE_KEY_FILE=$work/id ANSIBLE_SSH_TRANSFER_METHOD=piped \
    ANSIBLE_SSH_ARGS="-o ControlMaster=no -o UserKnownHostsFile=/dev/null -o IdentitiesOnly=yes -o ConnectTimeout=10" \
    ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=False
# play NAME STATUS ARGS...: the playbook, from a folder of its own, ending with
# STATUS; its table in $work/NAME.*, its wall time in seconds in $took.
play() {
    local name=$1 expected=$2 status=0 began
    shift 2
    mkdir -p "$work/from_$name"
    began=$(date +%s)
    (cd "$work/from_$name" && ansible-playbook -i "$inventory" "$top/fleet/plc_do_test.yml" \
        -e plc_single_file="$single_file" -e plc_results="$work/$name" "$@") >"$work/$name.log" 2>&1 ||
        status=$?
    took=$(($(date +%s) - began))
    [ "$status" -eq "$expected" ] || { tail -n 60 "$work/$name.log"; fail "the $name play ended with $status, expected $expected"; }
    tables_written "$work/$name" "$work/$name.log"
}
tables_written() {
    [ -s "$1.csv" ] && [ -s "$1.md" ] && [ -s "$1.json" ] && [ -s "$1.html" ] && [ -s "$1.junit.xml" ] ||
        { tail -n 40 "$2"; fail "no table in $1.*"; }
}

# field TABLE HOST COLUMN: one value of the table's CSV.
field() {
    python3 -c 'import csv, sys
rows = {row["host"]: row for row in csv.DictReader(open(sys.argv[1], encoding="utf-8"))}
print(rows[sys.argv[2]][sys.argv[3]] if sys.argv[2] in rows else "(no row)")' "$@"
}
# markdown_rows TABLE: each Markdown row's host and its number of cells as
# a Markdown reader splits them (a backslash escapes the next character).
markdown_rows() {
    python3 -c 'import re, sys
for line in open(sys.argv[1], encoding="utf-8"):
    if line.startswith("| "):
        cells = re.findall(r"((?:\\.|[^|\\])*)\|", line[1:])
        print(cells[0].strip(), len(cells))' "$1"
}
# commit_line ABI PROGRAM: the identity line of build-ABI/PROGRAM.
commit_line() { grep -ao "$2 [0-9.]* $1 commit [0-9a-z+]*" "$top/build-$1/$2"; }

# check_rows TABLE: every controller's row as the table of controllers says.
check_rows() {
    local table=$1 name abi what status verdict named variables row iterations counted class identity
    [ "$(grep -c . "$table.csv")" -eq $((${#controllers[@]} + 1)) ] ||
        fail "$table: $(($(grep -c . "$table.csv") - 1)) rows for ${#controllers[@]} controllers: $(cat "$table.csv")"
    for entry in "${controllers[@]}"; do
        IFS='|' read -r name abi what status verdict named variables <<<"$entry"
        row="$name: $(grep -a "^$name," "$table.csv")"
        [ "$(field "$table.csv" "$name" status)" = "$status" ] || fail "$row: status, expected [$status]"
        [ "$(field "$table.csv" "$name" verdict)" = "$verdict" ] || fail "$row: verdict, expected [$verdict]"
        [ -z "$named" ] || [[ "$(field "$table.csv" "$name" reason)" == *"$named"* ]] ||
            fail "$row: the reason does not say [$named]"
        # 126: the launcher found no folder to take a binary out to, before choosing one.
        if [ -n "$status" ] && [ "$status" != 126 ]; then
            [ "$(field "$table.csv" "$name" abi)" = "$abi" ] || fail "$row: the launcher's choice, expected $abi"
            # A profile's identity is plc_do_profile's, from its JSON: none without one.
            identity=$(commit_line "$abi" plc_do_test)
            if [[ " $variables" == *" plc_profile=true"* ]]; then
                identity=
                [ "$status" != 1 ] || identity=$(commit_line "$abi" plc_do_profile)
            fi
            [ "$(field "$table.csv" "$name" identity)" = "$identity" ] ||
                fail "$row: the identity is not the $abi binary's [$identity]"
        fi
        # Stopped on the controller: not left to finish with its report.
        [ "$verdict" != stopped ] || [ -z "$(field "$table.csv" "$name" total_s)" ] ||
            fail "$row: the run went on after the controller stopped it"
        if [ "$status" = 1 ] && [ "$verdict" != "no report" ]; then
            iterations=10
            [[ " $variables" != *" plc_iter="* ]] || iterations=${variables#*plc_iter=}
            iterations=$((${iterations%% *}))
            counted=0
            for class in '<20ms' 20..30ms 30..40ms '>40ms'; do
                counted=$((counted + $(field "$table.csv" "$name" "$class")))
            done
            [ "$counted" -eq "$iterations" ] || fail "$row: $counted delays counted for $iterations iterations"
        fi
    done
    markdown_rows "$table.md" | while read -r name cells; do
        [ "$name" != host ] || columns=$cells
        [ "$cells" -eq "$columns" ] || fail "$table.md: the row of $name has $cells cells, not $columns: $(grep -a "^| $name " "$table.md")"
    done
    [ "$(markdown_rows "$table.md" | wc -l)" -eq $((${#controllers[@]} + 1)) ] || fail "$table.md: not a row per controller"
}

# check_views TABLE: the JSON's profiles, the JUnit file's test cases and the
# page as a real browser renders it, each against the table of controllers.
# Status 77 where no Chromium is to be had: all but the browser's checks passed.
check_views() {
    printf '%s\n' "${controllers[@]}" | "$debian_python" "$top/tests/fleet/check_views.py" "$1"
}

if [ "$PLC_FLEET_MODE" = --plant ]; then
    play one 0 -e plc_iter=1500 -e plc_delay=40000 -e plc_first=25 -e plc_last=35 --limit plant_1
    one=$took
    play plant 0 -e plc_iter=1500 -e plc_delay=40000 -e plc_first=25 -e plc_last=35
    python3 -c 'import json, sys
rows = json.load(open(sys.argv[1])).values()
first_end, last_start = min(row["ended"] for row in rows), max(row["started"] for row in rows)
print("%d controllers: started within %d s, ended within %d s; the last started %d s before the first ended"
      % (len(rows), last_start - min(row["started"] for row in rows), max(row["ended"] for row in rows) - first_end,
         first_end - last_start))
sys.exit(last_start >= first_end)' "$work/plant.json" || fail "the $plant runs were not all under way at once"
    echo "ok: one controller's play took $one s, $plant controllers' $took s"
    exit 0
fi

if [ "$PLC_FLEET_MODE" = --beside ]; then
    play keeping 0
    check_rows "$work/keeping"
    echo "PASS [fleet beside]: $(paste -sd' ' <<<"${controllers[*]%%|*}")"
    exit 0
fi

# Every process of every root, as the main play goes on: sampled ten times a
# second (the sleeps of a watchdog or of a play that looks every few seconds
# live a second or more).
"$debian_python" -c 'import json, os, signal, sys, time
seen, work = {}, sys.argv[1] + "/roots/"
signal.signal(signal.SIGTERM, lambda *_: (json.dump(seen, open(sys.argv[2], "w")), sys.exit(0)))
while True:
    now = time.monotonic()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            root, stat = os.readlink("/proc/%s/root" % pid), open("/proc/%s/stat" % pid).read()
            argv = open("/proc/%s/cmdline" % pid, "rb").read().decode("latin-1").split("\0")[:-1]
        except OSError:
            continue
        if root.startswith(work):
            seen.setdefault(pid, {"root": root[len(work):].split("/")[0], "ppid": stat.rsplit(")", 1)[1].split()[1],
                                  "argv": argv, "first": now})["last"] = now
    time.sleep(0.1)' "$work" "$work/processes.json" &
sampler=$!
play fleet 2
kill -TERM "$sampler" && wait "$sampler" || true
# While a run goes on (its single file's shell lives), nothing may start in
# its root but the run's own processes, the wrapper's one watchdog (a shell
# beside the run, and its sleep) and the play's one session waiting on the
# FIFO end (its shell, as the login runs it and as Ansible asks for it).
# Stopped runs are left out: after their limit the watchdog sleeps
# once more.
printf '%s\n' "${controllers[@]}" | python3 -c 'import json, sys
seen = json.load(open(sys.argv[1]))
stopped = {line.split("|")[0] for line in sys.stdin if line.split("|")[4] == "stopped"}
runs = {}
for pid, process in sorted(seen.items(), key=lambda item: -int(item[0])):
    # The single file as the wrapper starts it: sh FOLDER/plc_do_test.run ...
    if any(word.endswith("/plc_do_test.run") and before.endswith("sh")
           for before, word in zip(process["argv"], process["argv"][1:])):
        runs[process["root"]] = (int(pid), process)
bad = []
for root, (run_pid, run) in sorted(runs.items()):
    mine = {int(pid): process for pid, process in seen.items() if process["root"] == root}
    def below(pid, top):
        while pid in mine and pid != top:
            pid = int(mine[pid]["ppid"])
        return pid == top
    started = {pid: process for pid, process in mine.items() if pid > run_pid and process["first"] < run["last"]
               and not below(pid, run_pid)}
    beside = [pid for pid, process in mine.items() if process["ppid"] == run["ppid"] and pid != run_pid]
    watchdog = [pid for pid in sorted(started) if pid in beside or int(started[pid]["ppid"]) in beside]
    waiting = [pid for pid in sorted(started) if "read -r _ <&3" in " ".join(started[pid]["argv"])]
    allowed = watchdog[:2] + waiting[:2]
    others = [" ".join(started[pid]["argv"])[:60] for pid in sorted(started) if pid not in allowed]
    print("%s: %d processes started during its run of %.1f s beside its own%s"
          % (root, len(others), run["last"] - run["first"], ": " + "; ".join(others) if others else ""))
    if others and root not in stopped:
        bad.append(root)
if "left_alone" not in runs:
    bad.append("left_alone (no run seen)")
sys.exit("processes started beside the run in: " + ", ".join(bad) if bad else 0)' "$work/processes.json" >"$work/processes.txt" ||
    { cat "$work/processes.txt"; fail "controllers not left alone during their runs"; }
grep '^left_alone:' "$work/processes.txt"
check_rows "$work/fleet"
views=0
check_views "$work/fleet" || views=$?
[ "$views" -eq 0 ] || [ "$views" -eq 77 ] || exit 1
[ "$took" -lt 450 ] || fail "the play took $took s: runs that end at once held it toward their 900 s limit"
python3 -c 'import json, sys
rows = json.load(open(sys.argv[1]))
report, latin1 = rows["keeps_arm64"]["stdout"], rows["latin1"]["stdout"]
sys.exit(not report.startswith("total execution time is: ") or not report.endswith("ms\n")
         or not latin1.startswith("\x1b[1mFeldbus nicht verf\\xfcgbar\n") or rows["latin1"]["kind"] != "failure"
         or rows["slow"]["kind"] != "failure" or rows["keeps_arm64"]["kind"] != "pass")' "$work/fleet.json" ||
    fail "fleet.json does not hold what the controllers printed as it came, with each verdict's kind: $(cat "$work/fleet.json")"
# JUnit's times from this machine's monotonic clock (a controller's clock
# that steps: tests/fleet/results_test.py): the 60 s run's, and the suite's
# the play's, not the sum of runs that went on together.
python3 -c 'import sys
from xml.etree import ElementTree
suite = ElementTree.parse(sys.argv[1]).getroot()
times = {case.get("name"): float(case.get("time")) for case in suite.iter("testcase")}
sys.exit(min(times.values()) < 0 or not 55 < times["left_alone"] < float(sys.argv[2])
         or not times["left_alone"] <= float(suite.get("time")) <= float(sys.argv[2]))' "$work/fleet.junit.xml" "$took" ||
    fail "JUnit times not the PC clock's around each run (the play took $took s): $(grep -o '<testsuite .*>\|<testcase [^>]*>' "$work/fleet.junit.xml")"
cat "$work/fleet.md"
echo "ok: ${#controllers[@]} controllers, one row each with its verdict, in $took s"

# docs/fleet.md's command as it is written, from a folder holding the single
# file under the release's name, an inventory and the playbook's folder.
plant=$work/plant
mkdir -p "$plant"
ln -s "$top/fleet" "$plant/fleet"
cp "$single_file" "$plant/plc_do_test-1.0.0-linux-arm.run"
grep -E '^(\[controllers\]|keeps_)' "$inventory" >"$plant/inventory"
documented=$(sed -n '/^    ansible-playbook -i inventory /,/[^\\]$/p' "$top/docs/fleet.md" | sed 's/^ *//; s/\\$//' | tr -d '\n')
[ -n "$documented" ] || fail "docs/fleet.md has no command starting ansible-playbook -i inventory"
status=0
(cd "$plant" && eval "$documented") >"$work/documented.log" 2>&1 || status=$?
tables_written "$plant/plc_do_test_results" "$work/documented.log"
for name in keeps_armel keeps_armhf keeps_arm64; do
    verdict=$(field "$plant/plc_do_test_results.csv" "$name" verdict)/$(field "$plant/plc_do_test_results.csv" "$name" status)
    # Real 20 ms pauses on a loaded machine: the criterion may catch a hiccup.
    [ "$verdict" = pass/1 ] || [[ "$verdict" = fail/1 && "$(field "$plant/plc_do_test_results.csv" "$name" reason)" = "longest delay"* ]] ||
        { tail -n 30 "$work/documented.log"; fail "the documented command: $name: $verdict"; }
done
[ "$status" -eq 0 ] || [ "$status" -eq 2 ] || fail "the documented command ended with $status"
echo "ok: docs/fleet.md's command, as written, from a folder of its own: $documented"

# A play stopped mid-run, its ssh connection gone: the run goes on, and a
# second play takes its result by its run folder (plc_collect=latest).
mkdir -p "$work/from_dropped"
(cd "$work/from_dropped" && exec setsid ansible-playbook -i "$inventory" "$top/fleet/plc_do_test.yml" --limit keeps_arm64 \
    -e plc_single_file="$single_file" -e plc_results="$work/dropped" -e plc_iter=8 -e plc_delay=4000000) \
    >"$work/dropped.log" 2>&1 &
dropped=$!
for _ in $(seq 600); do
    ! grep -q "TASK \[plc_do_test : Wait for every run's end\]" "$work/dropped.log" || break
    sleep 0.1
done
sleep 2
kill -KILL -- "-$dropped"
{ wait "$dropped"; } 2>/dev/null || true
folder=$(find "$work/roots/keeps_arm64/tmp" -maxdepth 1 -name 'plc_do_test_fleet.*')
[ -n "$folder" ] && [ ! -e "$folder/ended" ] || { cat "$work/dropped.log"; fail "the dropped play's run: no run going on in [$folder]"; }
play collected 0 --limit keeps_arm64 -e plc_iter=8 -e plc_delay=4000000 -e plc_collect=latest
[ "$(field "$work/collected.csv" keeps_arm64 verdict)/$(field "$work/collected.csv" keeps_arm64 status)" = pass/1 ] &&
    [ ! -e "$folder" ] || fail "the run of the dropped play, collected: $(cat "$work/collected.csv")"
echo "ok: a play stopped mid-run, its run collected by a second play"

# Only controllers that keep their timing: the play passes.
play keeping 0 --limit keeps_armel,keeps_armhf,keeps_arm64
echo "ok: every controller keeps its timing: the play ends with 0"

# After the plays nothing runs in any root, and the launcher and the play took
# their folders away on every controller.
left=$(for process in /proc/[0-9]*; do
    case $(readlink "$process/root" 2>/dev/null) in "$work"/*) echo "${process#/proc/}";; esac
done)
[ -z "$left" ] || fail "left running in the roots: $(ps -o pid=,args= -p "$(paste -sd, <<<"$left")")"
left=$(find "$work"/roots/*/tmp "$work"/roots/*/var/tmp "$work"/roots/*/run -maxdepth 1 -name 'plc_do_test*' 2>/dev/null)
[ -z "$left" ] || fail "left on the controllers: $left"
[ "$views" -eq 0 ] || skip "no chromium to render the page (tools/setup test installs it): every other check passed"
echo "PASS [fleet]: $(paste -sd' ' <<<"${controllers[*]%%|*}")"
