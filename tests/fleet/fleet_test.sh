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

# name | ABI | what the controller was made to do | status | verdict | the reason names | inventory variables
# What, items separated by ';': PLCSIM_...=VALUE (a stand-in setting; \xHH
# is that byte), no_libplc, refuses_login (its sshd accepts no key), nothing
# (no sshd on its port), read_only (its root), noexec_tmp (its /tmp).
controllers=(
    "keeps_armel|armel||1|pass||"
    "keeps_armhf|armhf||1|pass||"
    "keeps_arm64|arm64||1|pass||"
    "slow|armhf|PLCSIM_WRITE_US=200000|1|fail|above 100 ms; delays above 30..40ms: 10 >40ms|plc_max_delay_ms=100 plc_highest_class=30..40ms"
    "hangs|armel|PLCSIM_WRITE_US=2000000|143|stopped|within 3 s|plc_run_limit_s=3"
    "deaf_to_term|armhf|PLCSIM_WRITE_US=2000000;PLCSIM_IGNORE_TERM=1|143|stopped|within 3 s|plc_run_limit_s=3"
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
# Parameters as the program reads them | the run limit the play gives, in s
limits=(
    "1000 0x4e20|150"
    "1000 20000|150"
    "020 1000000|92"
    "10001 20000|60"
    "0 abc|60"
    "1000 20000 7|7"
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
    for abi in $(plc_abis); do
        for file in $(plc_programs) libplc.so; do
            [ -f "$top/build-$abi/$file" ] || skip "no build-$abi/$file: build the controller presets first"
        done
        [ -x "$top/.busybox/$abi/bin/busybox" ] || skip "no $abi busybox in .busybox/$abi (tools/setup test fetches it)"
    done
    # The single file's run limits, before any controller.
    for entry in "${limits[@]}"; do
        read -r iter delay limit_given <<<"${entry%|*}"
        got=$(python3 "$top/fleet/results.py" check --single-file "$0" --given "$0" <<<"{\"h\": {\"iter\": \"$iter\",
            \"delay\": \"$delay\", \"first\": \"25\", \"last\": \"35\", \"run_limit_s\": \"${limit_given:-}\"}}" |
            python3 -c 'import json, sys; print(json.load(sys.stdin)["run_limit_s"]["h"])') || got="(failed)"
        [ "$got" = "${entry#*|}" ] || fail "the run limit of iter $iter, delay $delay: $got s, expected ${entry#*|} s"
    done
    echo "ok: run limits from the parameters as the program reads them: ${#limits[@]} rows"
    # Runs straight to the table. A megabyte of words after a byte that is
    # not UTF-8, as Ansible hands it on (a lone surrogate) or replaces it
    # (U+FFFD): cut in the tables with a mark, in full in the JSON, each byte
    # shown. A profile asked of a single file older than plc_do_profile,
    # whose plc_do_test reads --profile as 0 iterations and passes: a row
    # without a profile that says so in every file; so is JSON that is not a
    # profile.
    words=$(mktemp -u /tmp/fleet-test-words.XXXXXX)
    python3 - "$top/fleet/results.py" "$words" <<'WORDS' || { rm -f "$words".*; fail "a megabyte of words, a single file without plc_do_profile"; }
import csv, json, subprocess, sys
results, out = sys.argv[1:]
words = {host: byte + "=" + "w" * 1000000 for host, byte in (("escaped", "\udcfc"), ("replaced", "\ufffd"))}
report = "total execution time is: 0s\nnumber of delays:\n<20ms: 0\n20..30ms: 0\n30..40ms: 0\n>40ms: 0\nmaximum delay: 0ms\n"
printed = {host: ("3", "", text, False) for host, text in words.items()}
printed["older"] = ("1", report, "plc_do_test: chose armhf\n", True)
printed["odd_json"] = ("1", json.dumps({"report": report, "delay": "x", "outputs": [1]}), "", True)
runs = {host: {"iter": "10", "delay": "2000", "first": "25", "last": "35", "profile": profile,
               "start": {"stdout": "plc_do_test fleet: run folder /tmp/run"},
               "ended": {"stdout": "started 1\nended 2\nstatus %s\n" % status}, "output": {"stdout": out, "stderr": err}}
        for host, (status, out, err, profile) in printed.items()}
ended = subprocess.run([sys.executable, results, "table", "--single-file", results, "--out", out],
                       input=json.dumps(runs), capture_output=True, text=True).returncode
rows = {row["host"]: row for row in csv.DictReader(open(out + ".csv", encoding="utf-8"))}
kept = json.load(open(out + ".json", encoding="utf-8"))
for host, shown in (("escaped", "\\xfc"), ("replaced", "\ufffd")):
    reason = rows[host]["reason"]
    if not reason.startswith("status 3, no report: " + shown + "=www") or "more characters, all in the JSON]" not in reason \
            or len(reason) > 400 or kept[host]["stderr"] != shown + "=" + "w" * 1000000:
        sys.exit("%s: the reason %r..., the JSON's %r..." % (host, reason[:80], kept[host]["stderr"][:80]))
views = {suffix: open(out + suffix, encoding="utf-8").read() for suffix in (".md", ".html", ".junit.xml")}
if kept["older"]["verdict"] != "no report" or not rows["older"]["reason"].startswith("no profile in what it printed") \
        or any("no profile in what it printed" not in text for text in views.values()):
    sys.exit("older: %s, %r" % (kept["older"]["verdict"], kept["older"]["reason"]))
if kept["odd_json"]["verdict"] != "no report" or any("odd_json" not in text for text in views.values()):
    sys.exit("odd_json: %s, %r" % (kept["odd_json"]["verdict"], kept["odd_json"]["reason"]))
sys.exit(ended != 1)
WORDS
    rm -f "$words".*
    # A fault of results.py itself is its own status, never the one of a controller that failed.
    status=0
    python3 "$top/fleet/results.py" table --single-file "$0" --out "$(mktemp -u /tmp/fleet-test-fault.XXXXXX)" \
        <<<'["not runs by host"]' >/dev/null 2>&1 || status=$?
    [ "$status" -eq 70 ] || fail "results.py on input it cannot read ended with $status, not 70"
    # A priority without plc_profile: refused before any controller.
    status=0
    python3 "$top/fleet/results.py" check --single-file "$0" --given "$0" \
        <<<'{"h": {"iter": "1", "delay": "1", "first": "1", "last": "1", "priority": "80"}}' >/dev/null 2>&1 || status=$?
    [ "$status" -eq 2 ] || fail "plc_priority without plc_profile: results.py check ended with $status, not 2"

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
    printf '%s\n' "${controllers[@]}" | python3 /dev/fd/3 "$1" 3<<'CHECK'
import csv, json, os, re, shutil, struct, subprocess, sys, tempfile, zlib
from html.parser import HTMLParser
from xml.etree import ElementTree
table = sys.argv[1]
expected = [line.rstrip("\n").split("|") for line in sys.stdin]
kept = json.load(open(table + ".json", encoding="utf-8"))
rows = {row["host"]: row for row in csv.DictReader(open(table + ".csv", encoding="utf-8"))}
FAILURE = {"fail", "write refused", "report lost", "parameters refused", "stopped", "no report"}
ERROR = {"unreachable", "not started", "not run", "no result"}
kind = lambda verdict: "failure" if verdict in FAILURE else "error" if verdict in ERROR else "pass"
profiled = {entry[0] for entry in expected if " plc_profile=true" in " " + entry[6]}
with_profile = {entry[0] for entry in expected if entry[0] in profiled and entry[4] in ("pass", "fail")}
def fail(text):
    sys.exit("FAIL [fleet]: %s" % text)

# Each profile whole in the JSON; none, with the reason, where the run gave none.
for host in profiled:
    profile = kept[host]["profile"]
    if host not in with_profile:
        if profile is not None or not rows[host]["reason"]:
            fail("%s: a profile %r, the reason %r" % (host, profile, rows[host]["reason"]))
        continue
    if not profile or profile["parameters"]["iterations_done"] != 10 or \
            not all(key in profile for key in ("delay", "write", "oversleep", "histogram", "outputs", "longest")):
        fail("%s: no whole profile in the JSON: %r" % (host, profile))
slow = kept["slow_outputs"]["profile"]
slowest = sorted(slow["outputs"], key=lambda output: -output["write_max"])
if {output["output"] for output in slowest[:2]} != {30, 31} or slowest[1]["write_max"] < 100000 \
        or rows["slow_outputs"]["slowest_output"] not in ("30", "31") or slow["system"]["priority_asked"] != 80 \
        or not rows["slow_outputs"]["priority"].startswith(slow["system"]["policy"]):
    fail("slow_outputs: outputs 30 and 31 not the slowest, or the priority not as asked: %r, %r"
         % (slowest[:3], rows["slow_outputs"]))

# JUnit: the common schema's elements and attributes only, a test case per
# controller with a failure or an error by its verdict, counts that add up.
SCHEMA = {"testsuite": {"name", "tests", "failures", "errors", "skipped", "time", "timestamp", "hostname", "id",
                        "package", "disabled"},
          "properties": set(), "property": {"name", "value"},
          "testcase": {"name", "classname", "time", "assertions", "status"},
          "failure": {"message", "type"}, "error": {"message", "type"}, "skipped": {"message"},
          "system-out": set(), "system-err": set()}
suite = ElementTree.parse(table + ".junit.xml").getroot()
for element in suite.iter():
    if element.tag not in SCHEMA or not set(element.attrib) <= SCHEMA[element.tag]:
        fail("junit: <%s %s> is not in the JUnit schema" % (element.tag, sorted(element.attrib)))
cases = {case.get("name"): case for case in suite.iter("testcase")}
if suite.tag != "testsuite" or sorted(cases) != sorted(entry[0] for entry in expected):
    fail("junit: the test cases %s, not one per controller" % sorted(cases))
for name, _, _, _, verdict, named, _ in expected:
    told = [child for child in cases[name] if child.tag in ("failure", "error")]
    if [child.tag for child in told] != ([kind(verdict)] if kind(verdict) != "pass" else []) \
            or told and (told[0].get("type") != verdict or named.lstrip("'") not in told[0].get("message")) \
            or not cases[name].findtext("system-out"):
        fail("junit: %s: %r, expected %s (%s) saying %r" % (name, [(child.tag, child.attrib) for child in told],
                                                          verdict, kind(verdict), named))
counts = {tag: sum(1 for case in cases.values() for child in case if child.tag == tag) for tag in ("failure", "error")}
if int(suite.get("tests")) != len(expected) or int(suite.get("failures")) != counts["failure"] \
        or int(suite.get("errors")) != counts["error"]:
    fail("junit: tests %s, failures %s, errors %s for %d cases, %r" % (suite.get("tests"), suite.get("failures"),
                                                                      suite.get("errors"), len(cases), counts))
print("ok: the JSON's profiles and the JUnit file's %d test cases (%d failures, %d errors)"
      % (len(cases), counts["failure"], counts["error"]))

# The page: nothing fetched, then as Chromium renders it.
page = open(table + ".html", encoding="utf-8").read()
if re.search(r"<script|<link|<img|<iframe|@import|url\(|(?:src|href)=\"(?!#)", page):
    fail("the page is not self-contained: %s" % re.search(r"<script|<link|<img|<iframe|@import|url\(|(?:src|href)=\"(?!#)", page)[0])
chromium = shutil.which("chromium")
if not chromium:
    sys.exit(77)  # skipped at the end, by the project's rule, after the other checks
profile_folder = tempfile.mkdtemp(prefix="fleet-chromium.")
# As root Chromium runs only without its sandbox; its shared memory in
# /tmp, as a fresh root's /dev/shm may be no tmpfs of its own.
browser = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
           "--user-data-dir=" + profile_folder, "--window-size=1000,1400"]
def run(*arguments):
    done = subprocess.run(browser + list(arguments) + ["file://" + table + ".html"], capture_output=True, text=True,
                          timeout=300)
    return done.stdout if done.returncode == 0 else fail("chromium ended with %d: %s" % (done.returncode, done.stderr))

class Page(HTMLParser):
    """The table's rows (host, verdict) in order, and the hosts of the
    sections that hold a histogram."""
    def __init__(self):
        super().__init__()
        self.rows, self.charted, self.section = [], [], None
    def handle_starttag(self, tag, attributes):
        attributes = dict(attributes)
        classes = (attributes.get("class") or "").split()
        if tag == "tr" and "controller" in classes:
            self.rows.append((attributes["data-host"], attributes["data-verdict"]))
        if tag == "section":
            self.section = attributes.get("data-host")
        if tag == "svg" and "histogram" in classes:
            self.charted.append(self.section)
shown = Page()
shown.feed(run("--dump-dom"))
ranks = {"failure": 0, "error": 1, "pass": 2}
order = sorted(expected, key=lambda entry: (ranks[kind(entry[4])], -int(rows[entry[0]]["max_delay_ms"] or 0), entry[0]))
if shown.rows != [(entry[0], entry[4]) for entry in order]:
    fail("the page's rows, as rendered: %s, expected worst first %s" % (shown.rows, [(e[0], e[4]) for e in order]))
if sorted(shown.charted, key=str) != sorted(with_profile):
    fail("the page's histograms for %s, expected one for each of %s" % (shown.charted, sorted(with_profile)))

def colours(path):
    """The colours of a PNG's pixels (8 bits a channel, RGB or RGBA)."""
    data = open(path, "rb").read()
    at, chunks = 8, {}
    while at < len(data):
        length, name = struct.unpack(">I4s", data[at:at + 8])
        chunks[name] = chunks.get(name, b"") + data[at + 8:at + 8 + length]
        at += 12 + length
    width, height, depth, colour_type = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    step = {2: 3, 6: 4}[colour_type]
    raw, stride = zlib.decompress(chunks[b"IDAT"]), width * step
    previous, found = bytearray(stride), set()
    for y in range(height):
        filter_type, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            left, up = line[x - step] if x >= step else 0, previous[x]
            corner = previous[x - step] if x >= step else 0
            if filter_type == 1:
                line[x] = (line[x] + left) & 255
            elif filter_type == 2:
                line[x] = (line[x] + up) & 255
            elif filter_type == 3:
                line[x] = (line[x] + (left + up) // 2) & 255
            elif filter_type == 4:
                guess = left + up - corner
                line[x] = (line[x] + min((abs(guess - left), 0, left), (abs(guess - up), 1, up),
                                         (abs(guess - corner), 2, corner))[2]) & 255
        found.update(bytes(line[x:x + 3]) for x in range(0, stride, step))
        previous = line
    return found
screenshot = os.path.join(profile_folder, "page.png")
run("--screenshot=" + screenshot)
# The first rows' colour (fleet/report.html.j2: a failure's) and the bars of
# slow_outputs' histogram beside it.
seen = colours(screenshot)
wanted = {"failure": "f7b5b0", "bar": "3465a4"}
missing = [name for name, colour in wanted.items() if bytes.fromhex(colour) not in seen]
if missing:
    fail("the screenshot %s shows %d colours, not those of %s" % (screenshot, len(seen), ", ".join(missing)))
shutil.copy(screenshot, table + ".png")
shutil.rmtree(profile_folder)
print("ok: the page as Chromium renders it: %d rows worst first, %d histograms, a screenshot of %d colours"
      % (len(shown.rows), len(shown.charted), len(seen)))
CHECK
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

play fleet 2
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
