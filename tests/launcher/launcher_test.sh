#!/usr/bin/env bash
# The launcher (release/launcher.sh; docs/building.md):
#   launcher_test.sh choice           which program it starts on each kind of controller, and
#                                     how the single file stops (root)
#   launcher_test.sh old_loader BUILD the armhf binary through /lib/ld-linux.so.3
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
launcher=$top/release/launcher.sh
. "$top/tools/abis.sh"
. "$top/tools/programs.sh"

. "$top/tests/support/skip.sh"
fail() { echo "FAIL [launcher]: $*" >&2; exit 1; }

work=$(mktemp -d)
busybox= started= shell= user= settings=() mounts=() program=
declare -A multiarch
trap 'unmount_roots; rm -rf "$work"' EXIT

# Argument lists, each passed through untouched: none, empty strings, blanks,
# leading dashes, --profile after the first, a pattern, more than five.
arg_lists=(
    ''
    '"" " " "-x" "--help" "--profile"'
    '"1000" "20000" "25" "35" "0" "six" "  seven  " "*" "-n" "\$HOME"'
)

# Each root: Debian's busybox (it looks commands up on PATH, as controllers'
# own builds do; busybox-static prefers its applets and so would always find
# its od), dash and bash, the stand-ins for the binaries, and the files a
# case names.
prepare_roots() {
    [ "$(id -u)" -eq 0 ] || skip "the launcher's choice is tested in a chroot: run as root"
    busybox=$top/.busybox/host/bin/busybox
    [ -x "$busybox" ] || skip "no busybox in .busybox/host (tools/setup test fetches it)"
    for abi in armhf armel; do
        abi_facts "$abi" && [ -f "/usr/$triplet/lib/libc.so.6" ] ||
            skip "no ARM C libraries to take headers from (tools/setup test installs them)"
        head -c 64 "/usr/$triplet/lib/libc.so.6" >"$work/$abi.header"
        multiarch[$abi]=lib/$triplet
    done
    # Flags 0x05000002: EABI 5 and neither float flag, as binutils wrote them
    # before it marked the float ABI (Ubuntu 12.04 armhf); 0x04000002: EABI 4;
    # 0x00000002: the old ABI.
    local flags
    for flags in unmarked:005 eabi4:004 oabi:000; do
        { head -c 36 "$work/armel.header"; printf "\\002\\000\\000\\${flags#*:}"; tail -c +41 "$work/armel.header"; } \
            >"$work/${flags%:*}.header"
    done
    # What every root holds, made once and copied into each: busybox, dash,
    # bash and what they load (from this machine, outside the paths the
    # launcher reads), busybox's links, /dev/null, /tmp.
    local base=$work/base file embedded
    mkdir -p "$base/bin" "$base/lib" "$base/dev"
    mknod -m 666 "$base/dev/null" c 1 3
    cp "$busybox" "$base/bin/busybox"
    for file in /bin/dash /bin/bash $(for file in "$busybox" /bin/dash /bin/bash; do ldd "$file"; done |
                                      grep -o '/[^ ]*' | sort -u); do
        mkdir -p "$base$(dirname "$file")"
        cp -L "$file" "$base$file"
    done
    chroot "$base" /bin/busybox --install -s /bin
    # GNU env, for the stand-ins to take INT and QUIT back as the binaries do.
    mkdir -p "$base/opt"
    cp /usr/bin/env "$base/opt/env"
    mkdir -m 1777 "$base/tmp"
    # The stand-ins for the binaries, and the single file made of them.
    for program in $(plc_programs); do
        for abi in $(plc_abis); do
            mkdir -p "$work/stand-ins/$abi"
            printf '#!/bin/busybox sh\necho %s\necho %s\nfor a do echo "<$a>"; done\n%s\nexit 42\n' "$abi" "$program" \
                '[ "$1" != sleep ] || { echo $$ $PPID >/started; exec /opt/env --default-signal=INT,QUIT sleep 30; }' >"$work/stand-ins/$abi/$program"
            chmod 755 "$work/stand-ins/$abi/$program"
        done
    done
    mapfile -t embedded < <(plc_embedded "$work/stand-ins/{abi}/{program}")
    "$top/release/single_file.sh" "$work/single.run" "${embedded[@]}"
}

# make_root ROOT BUNDLE FILES: a controller's root in ROOT with the folder
# bundle in BUNDLE; sets started, program, shell (busybox's, unless /bin/sh
# is one of FILES), user and settings (its environment). Files:
# FILE=HEADER[:MODE], FILE=loader (a loader that says so and runs what it is
# given), FILE=data (not executable), LINK@TARGET (started through the
# first; BUNDLE: where the bundle lies), -x (the binaries lost their run
# bits), user (run as nobody), profile (plc_do_profile started: the bundle's
# launcher of that name, the single file with --profile first), od=none (no od),
# od=small (busybox's od without its desktop options), tmp=OPTIONS (/tmp a
# tmpfs mounted so), TMPDIR=FOLDER (set so). The stand-ins print their
# ABI, program and arguments and end with 42; given "sleep" first, they note their
# process and its parent in /started and sleep, INT and QUIT taken back as the
# binaries take them.
make_root() {
    local root=$1 bundle=$2 files=$3 file link target
    cp -a "$work/base" "$root"
    mkdir -p "$root$bundle"
    cp -a "$work/stand-ins/." "$root$bundle"
    for program in $(plc_programs); do cp "$launcher" "$root$bundle/$program"; done
    started=$bundle/plc_do_test program=plc_do_test shell=/bin/busybox user= settings=()
    for file in $files; do
        case "$file" in
        -x) chmod 644 "$root$bundle"/*/plc_do_*; continue ;;
        user) user=--userspec=65534:65534; continue ;;
        profile) started=$bundle/plc_do_profile program=plc_do_profile; continue ;;
        od=none) rm "$root/bin/od"; continue ;;
        od=small)
            rm "$root/bin/od"
            printf '#!/bin/busybox sh\nfor a do\n    case $a in\n    -*[!aBbcDdeFfHhIiLlOovXx]*)\n%s\n%s\n        exit 1 ;;\n    esac\ndone\nexec /bin/busybox od "$@"\n' \
                "        echo \"od: invalid option -- '\${a#-}'\" >&2" \
                '        echo "Usage: od [-aBbcDdeFfHhIiLlOovXx] [FILE]" >&2' >"$root/bin/od"
            chmod 755 "$root/bin/od"
            continue ;;
        tmp=*)
            mount -t tmpfs -o "mode=1777,${file#tmp=}" tmpfs "$root/tmp"
            mounts+=("$root/tmp")
            continue ;;
        TMPDIR=*) settings+=("$file"); continue ;;
        *@*)
            link=${file%%@*}
            mkdir -p "$(dirname "$root/$link")"
            target=${file#*@}
            ln -s "${target/BUNDLE/$bundle}" "$root/$link"
            [ "$started" != "$bundle/$program" ] || started=/$link
            continue ;;
        bin/sh=*) shell="/bin/busybox sh" ;;  # /bin/sh no longer runs: start it by busybox
        esac
        link=${file%%=*}
        mkdir -p "$(dirname "$root/$link")"
        rm -f "$root/$link"
        case "$file" in
        *=loader) printf '#!/bin/busybox sh\necho loader\nexec /bin/busybox sh "$@"\n' ;;
        *=data) ;;
        *=*) cat "$work/$(echo "${file#*=}" | cut -d: -f1).header" ;;
        esac >"$root/$link"
        case "$file" in
        *=data) chmod 644 "$root/$link" ;;
        *=*:*) chmod "${file##*:}" "$root/$link" ;;
        *) chmod 755 "$root/$link" ;;
        esac
    done
}

# single_file ROOT BUNDLE: the single file made of the stand-ins in each
# launcher's place, the bundle's binaries gone.
single_file() {
    local root=$1 bundle=$2 file
    for file in $(plc_programs); do cp "$work/single.run" "$root$bundle/$file"; done
    for file in $(plc_abis); do rm -r "$root$bundle/$file"; done
}

choice() {
    prepare_roots
    # name | where the bundle lies | files of the controller (make_root) | what runs | what the message names
    # What runs: the names the binaries print (status 42), or the
    # launcher's status, nothing run and the message naming the last column.
    # Rows with tmp= are of the single file alone.
    local cases=(
        "arm64||lib/ld-linux-aarch64.so.1|arm64|"
        "armhf||lib/libc.so.6=armhf lib/ld-linux-armhf.so.3|armhf|"
        "armhf_multiarch||${multiarch[armhf]}/libc.so.6=armhf lib/ld-linux-armhf.so.3 lib/ld-linux.so.3|armhf|"
        "armhf_old_loader||lib/libc.so.6=armhf lib/ld-linux.so.3=loader|loader armhf|"
        "armel||${multiarch[armel]}/libc.so.6=armel lib/ld-linux.so.3|armel|"
        "unmarked_armhf_loader||lib/libc.so.6=unmarked lib/ld-linux-armhf.so.3|armhf|"
        "unmarked_armel_loader||lib/libc.so.6=unmarked lib/ld-linux.so.3|armel|"
        "eabi4_armel_loader||lib/libc.so.6=eabi4 lib/ld-linux.so.3|armel|"
        "unmarked_shell_armhf_libc||bin/sh=unmarked ${multiarch[armhf]}/libc.so.6=armhf lib/ld-linux-armhf.so.3 lib/ld-linux.so.3|armhf|"
        "absolute_link||usr/local/bin/plc_do_test@/bundle/plc_do_test lib/libc.so.6=armhf lib/ld-linux-armhf.so.3|armhf|"
        "relative_link_chain||usr/local/bin/plc_do_test@../lib/pdt usr/local/lib/pdt@../../../bundle/plc_do_test lib/libc.so.6=armhf lib/ld-linux-armhf.so.3|armhf|"
        "space_in_folder|/opt/plc do test|usr/bin/plc_do_test@BUNDLE/plc_do_test lib/libc.so.6=armel lib/ld-linux.so.3|armel|"
        "no_run_bits_arm64||-x lib/ld-linux-aarch64.so.1=loader|loader arm64|"
        "no_run_bits_armhf||-x usr/bin/pdt@/bundle/plc_do_test lib/libc.so.6=armhf lib/ld-linux-armhf.so.3=loader|loader armhf|"
        "no_run_bits_no_loader||-x lib/libc.so.6=armel lib/ld-linux.so.3=data|126|chmod +x \"/bundle\"/*/plc_do_*"
        "old_abi||lib/libc.so.6=oabi lib/ld-linux.so.3|127|32-bit ARM, old ABI"
        "hard_float_no_loader||lib/libc.so.6=armhf|127|neither /lib/ld-linux-armhf.so.3 nor /lib/ld-linux.so.3"
        "soft_float_no_loader||lib/libc.so.6=armel|127|soft float, but no /lib/ld-linux.so.3"
        "unmarked_no_loader||lib/libc.so.6=unmarked|127|EABI 5, float ABI not marked; no file marks the float ABI"
        "unreadable||user lib/libc.so.6=armhf:000|127|/lib/libc.so.6: unreadable"
        "other_machine|||127|/bin/sh: x86-64"
        # Without od the loaders decide, as for unmarked files.
        "no_od_armel||od=none lib/libc.so.6=armel lib/ld-linux.so.3|armel|"
        "no_od_armhf||od=none lib/libc.so.6=armhf lib/ld-linux-armhf.so.3 lib/ld-linux.so.3|armhf|"
        "no_od_no_loader||od=none lib/libc.so.6=armhf|127|no od to read the float ABI of the system's files with, and neither"
        # busybox's od without -A, -t and -N: the headers read by its -b.
        "small_od_armhf_old_loader||od=small lib/libc.so.6=armhf lib/ld-linux.so.3=loader|loader armhf|"
        "small_od_armel||od=small ${multiarch[armel]}/libc.so.6=armel lib/ld-linux.so.3|armel|"
        "small_od_old_abi||od=small lib/libc.so.6=oabi lib/ld-linux.so.3|127|/bin/sh: x86-64; /lib/libc.so.6: 32-bit ARM, old ABI"
        "small_od_unreadable||od=small user lib/libc.so.6=armhf:000|127|/lib/libc.so.6: unreadable"
        # A folder for the single file's binary where no program may run, or nothing may be written.
        "noexec_tmp||tmp=noexec lib/libc.so.6=armel lib/ld-linux.so.3|126|/tmp (TMPDIR is not set) allows no programs to run (mounted noexec): set TMPDIR"
        "noexec_tmpdir||tmp=noexec TMPDIR=/tmp lib/libc.so.6=armhf lib/ld-linux-armhf.so.3|126|TMPDIR /tmp allows no programs to run (mounted noexec): set TMPDIR"
        "read_only_tmp||tmp=ro lib/libc.so.6=armel lib/ld-linux.so.3|126|/tmp (TMPDIR is not set) may not be written: set TMPDIR"
        "missing_tmpdir||TMPDIR=/nowhere lib/libc.so.6=armel lib/ld-linux.so.3|126|TMPDIR /nowhere is no folder: set TMPDIR"
        # plc_do_profile: the bundle's launcher of that name, the single file with --profile first.
        "profile_arm64||profile lib/ld-linux-aarch64.so.1|arm64|"
        "profile_armhf||profile lib/libc.so.6=armhf lib/ld-linux-armhf.so.3|armhf|"
        "profile_armhf_old_loader||profile lib/libc.so.6=armhf lib/ld-linux.so.3=loader|loader armhf|"
        "profile_armel||profile ${multiarch[armel]}/libc.so.6=armel lib/ld-linux.so.3|armel|"
        "profile_relative_link||profile usr/local/bin/pdp@../lib/pdp usr/local/lib/pdp@../../../bundle/plc_do_profile lib/libc.so.6=armel lib/ld-linux.so.3|armel|"
        "profile_no_run_bits_arm64||profile -x lib/ld-linux-aarch64.so.1=loader|loader arm64|"
        "profile_no_fit||profile lib/libc.so.6=oabi lib/ld-linux.so.3|127|32-bit ARM, old ABI"
        "profile_noexec_tmp||profile tmp=noexec lib/libc.so.6=armel lib/ld-linux.so.3|126|/tmp (TMPDIR is not set) allows no programs to run (mounted noexec): set TMPDIR"
    )
    # The rows and the stops at once, as many as there are cores, each in a
    # root of its own; what each says, in the table's order.
    local entry name running=0 cores
    cores=$(nproc)
    for entry in stops "${cases[@]}"; do
        name=${entry%%|*}
        {
            status=0
            (
                trap unmount_roots EXIT
                if [ "$entry" = stops ]; then stops; else row "$entry"; fi
            ) >"$work/$name.log" 2>&1 || status=$?
            echo "$status" >"$work/$name.status"
        } &
        running=$((running + 1))
        if [ "$running" -ge "$cores" ]; then wait -n; running=$((running - 1)); fi
    done
    wait
    for entry in "${cases[@]}" stops; do
        name=${entry%%|*}
        cat "$work/$name.log"
        [ "$(cat "$work/$name.status")" -eq 0 ] || fail "$name failed (above)"
    done
}

# row ENTRY: one row of choice's table, in a root of its own: every form,
# shell and argument list.
row() {
    local entry=$1 name bundle files expected named root list status form own_shell shells chooser
    IFS='|' read -r name bundle files expected named <<<"$entry"
    bundle=${bundle:-/bundle}
    root=$work/$name
    make_root "$root" "$bundle" "$files"
    own_shell=$shell chooser=()
    # The folder bundle, then (where the binaries' run bits are not the case) the single
    # file, started by the name plc_do_test: --profile first chooses.
    for form in folder single; do
    if [ "$form" = single ]; then
        [[ " $files " != *" -x "* ]] || continue
        single_file "$root" "$bundle"
        [ "$program" = plc_do_test ] || chooser=(--profile)
        [ "$started" != "$bundle/plc_do_profile" ] || started=$bundle/plc_do_test
    elif [[ " $files " == *" tmp="* || " $files " == *" TMPDIR="* ]]; then
        continue
    fi
    # Started as the controller starts it (its #! line: busybox), by dash, and (the single file) by bash.
    shells=("$own_shell" /bin/dash)
    [ "$form" = folder ] || shells+=(/bin/bash)
    for shell in "${shells[@]}"; do
        [ "$shell" = /bin/busybox ] && shell=
        # Dash runs the single file's empty test program (take_out) by /bin/sh, which here does not run.
        [ "$form.$shell" != single./bin/dash ] || [[ " $files " != *" bin/sh="* ]] || continue
        for list in "${arg_lists[@]}"; do
            eval "set -- $list"
            status=0
            env "${settings[@]}" chroot $user "$root" $shell "$started" "${chooser[@]}" "$@" >"$root.out" 2>"$root.err" ||
                status=$?
            local what="$name ($form) under ${shell:-busybox} with $# arguments"
            [ -z "$(ls -A "$root/tmp")" ] || fail "$what: left $(ls "$root/tmp") in /tmp"
            if [ "${expected//[0-9]/}" = "" ]; then
                [ "$status" -eq "$expected" ] || fail "$what: status $status, expected $expected: $(cat "$root.err")"
                [ ! -s "$root.out" ] || fail "$what: a binary ran: $(cat "$root.out")"
                [ "$expected" -ne 127 ] || grep -qF 'no binary of this bundle fits this system' "$root.err" ||
                    fail "$what: no message: $(cat "$root.err")"
                grep -qF -- "$named" "$root.err" || fail "$what: the message does not say [$named]: $(cat "$root.err")"
                [ "$(grep -c '^plc_do_test: ' "$root.err")" -eq 1 ] && ! grep -qv -e '^plc_do_test: ' -e '^  ' "$root.err" ||
                    fail "$what: not one message: $(cat "$root.err")"
            else
                { printf '%s\n' $expected "$program"; [ $# -eq 0 ] || printf '<%s>\n' "$@"; } >"$root.expected"
                [ "$status" -eq 42 ] || fail "$what: status $status, expected the program's 42: $(cat "$root.err")"
                cmp -s "$root.out" "$root.expected" ||
                    fail "$what: started [$(paste -sd' ' "$root.out")], expected [$(paste -sd' ' "$root.expected")]"
                [ ! -s "$root.err" ] || fail "$what: wrote to standard error: $(cat "$root.err")"
            fi
        done
    done
    done
    unmount_roots
    echo "ok: $name"
}

# The single file stopped while its binary runs: by a signal to its process
# group (a terminal's Ctrl-C, Ctrl-\, a hang-up) or to the launcher alone,
# the binary must get the signal, the launcher end with the binary's status
# (as the shell gives a signal's) and leave nothing in /tmp; a launcher
# killed outright leaves its folder, which the next start removes.
stops() {
    # signal | to: group or launcher | the launcher's status
    local cases=(
        "INT|group|130" "QUIT|group|131" "TERM|group|143" "HUP|group|129" "USR1|group|138"
        "INT|launcher|130" "QUIT|launcher|131" "TERM|launcher|143" "HUP|launcher|129" "USR1|launcher|138"
        "KILL|launcher|137"
    )
    local root=$work/stops entry signal whom expected shell launcher_pid binary_pid parent status what since
    make_root "$root" /bundle "lib/libc.so.6=armel lib/ld-linux.so.3"
    single_file "$root" /bundle
    for entry in "${cases[@]}"; do
        IFS='|' read -r signal whom expected <<<"$entry"
        for shell in "" /bin/dash /bin/bash; do
            what="$signal to the $whom under ${shell:-busybox}"
            rm -f "$root/started"
            # In a session of its own, INT and QUIT as a terminal leaves them (a command in the
            # background of this script would ignore them).
            setsid env --default-signal=INT,QUIT chroot "$root" $shell /bundle/plc_do_test sleep \
                </dev/null >"$work/out" 2>"$work/err" &
            launcher_pid=$! since=$SECONDS
            until [ -s "$root/started" ]; do
                runs "$launcher_pid" && [ "$SECONDS" -lt "$((since + 20))" ] ||
                    fail "$what: the binary did not start: $(cat "$work/err")"
                sleep 0.05
            done
            read -r binary_pid parent <"$root/started"
            [ "$parent" = "$launcher_pid" ] || fail "$what: the binary's parent is $parent, not the launcher $launcher_pid"
            if [ "$whom" = group ]; then kill -s "$signal" -- "-$launcher_pid"; else kill -s "$signal" "$launcher_pid"; fi
            status=0
            # (bash's note of a KILL left out)
            ended_within 10 "$launcher_pid" 2>/dev/null ||
                { kill -KILL "$launcher_pid" "$binary_pid"; fail "$what: the launcher did not end"; }
            { wait "$launcher_pid"; } 2>/dev/null || status=$?
            [ "$status" -eq "$expected" ] || fail "$what: status $status, expected $expected: $(cat "$work/err")"
            if [ "$signal" = KILL ]; then
                [ -n "$(ls -A "$root/tmp")" ] || fail "$what: no folder left for the next start to remove"
                # A user's own folders named alike, of a process that is gone, stay.
                mkdir "$root/tmp/plc_do_test.2024.06-results" "$root/tmp/plc_do_test.4194305.abcdef"
                touch "$root/tmp/plc_do_test.2024.06-results/plc_do_test" "$root/tmp/plc_do_test.4194305.abcdef/notes"
                status=0
                chroot "$root" $shell /bundle/plc_do_test >/dev/null 2>&1 || status=$?
                [ "$status" -eq 42 ] || fail "$what: the next start ended with $status, not the program's 42"
                [ "$(ls -A "$root/tmp" | paste -sd' ')" = "plc_do_test.2024.06-results plc_do_test.4194305.abcdef" ] ||
                    fail "$what: the next start left in /tmp: $(ls -A "$root/tmp" | paste -sd' '), not only a user's two folders"
                rm -rf "$root/tmp/plc_do_test.2024.06-results" "$root/tmp/plc_do_test.4194305.abcdef"
                kill -KILL "$binary_pid"
                continue
            fi
            ! runs "$binary_pid" || { kill -KILL "$binary_pid"; fail "$what: the binary still runs"; }
            [ -z "$(ls -A "$root/tmp")" ] || fail "$what: left $(ls "$root/tmp") in /tmp"
        done
        echo "ok: $signal to the $whom"
    done
}

# runs PID: whether PID is a process that has not ended (a zombie has).
runs() {
    local state
    state=$(ps -o stat= -p "$1") && [ "${state:0:1}" != Z ]
}

# ended_within SECONDS PID: whether PID ends within SECONDS.
ended_within() {
    local tenths=$(($1 * 10))
    while runs "$2"; do
        [ "$tenths" -gt 0 ] || return 1
        tenths=$((tenths - 1))
        sleep 0.1
    done
}

unmount_roots() {
    local mount
    for mount in "${mounts[@]}"; do umount "$mount"; done
    mounts=()
}

old_loader() {
    local build=${1:?usage: launcher_test.sh old_loader BUILD}
    build=$(cd "$build" && pwd)
    [ -f "$build/emulator" ] || skip "$build is not a controller build with an emulator"
    local runner target_root cpu binary=$build/plc_do_test
    mapfile -t runner <"$build/emulator"
    target_root=${runner[$((${#runner[@]} - 1))]}
    [ -f "$target_root/lib/ld-linux-armhf.so.3" ] || skip "$target_root holds no armhf loader"
    # Debian's armhf C library, its loader named as before 2.16.
    local root=$work/old-loader-root
    mkdir -p "$root/lib"
    for file in "$target_root"/lib/*; do
        ln -s "$file" "$root/lib/$(basename "$file")"
    done
    mv "$root/lib/ld-linux-armhf.so.3" "$root/lib/ld-linux.so.3"
    local old_runner=("${runner[@]}")
    old_runner[$((${#old_runner[@]} - 1))]=$root

    # A run of no iterations ends with 1 where the program starts at all.
    local status=0
    LD_LIBRARY_PATH=$build "${old_runner[@]}" "$binary" 0 0 25 35 >/dev/null 2>&1 || status=$?
    [ "$status" -ne 1 ] || fail "the armhf binary started without /lib/ld-linux-armhf.so.3: the test shows nothing"

    local list direct_status loader_status
    for list in "${arg_lists[@]}" '"10001" "0" "25" "35"' '"30" "20000" "25" "35" "0"' '"3" "1000" "42" "60"'; do
        eval "set -- $list"
        direct_status=0 loader_status=0
        "$top/tests/support/run_program.sh" "$build" --virtual "$binary" "$@" \
            >"$work/direct" 2>&1 || direct_status=$?
        "$top/tests/support/run_program.sh" "$build" --virtual --runner "${old_runner[@]}" -- \
            "$root/lib/ld-linux.so.3" "$binary" "$@" >"$work/loader" 2>&1 || loader_status=$?
        [ "$loader_status" -eq "$direct_status" ] ||
            fail "with $# arguments through ld-linux.so.3: status $loader_status, directly $direct_status"
        cmp -s "$work/direct" "$work/loader" ||
            fail "with $# arguments through ld-linux.so.3 the output differs: $(diff "$work/direct" "$work/loader")"
        echo "ok: $# arguments, status $direct_status, $(wc -c <"$work/direct") bytes alike"
    done
}

case "${1:-}" in
choice) choice ;;
old_loader) shift; old_loader "$@" ;;
*) echo "usage: launcher_test.sh choice | old_loader BUILD" >&2; exit 2 ;;
esac
