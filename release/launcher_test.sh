#!/usr/bin/env bash
# The launcher (release/launcher.sh; docs/building.md):
#   launcher_test.sh choice           which program it starts on each kind of controller (root)
#   launcher_test.sh old_loader BUILD the armhf binary through /lib/ld-linux.so.3
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
launcher=$top/release/launcher.sh
. "$top/tools/abis.sh"
. "$top/tools/programs.sh"

. "$top/tests/support/skip.sh"
fail() { echo "FAIL [launcher]: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Argument lists, each passed through untouched: none, empty strings, blanks,
# leading dashes, --profile after the first, a pattern, more than five.
arg_lists=(
    ''
    '"" " " "-x" "--help" "--profile"'
    '"1000" "20000" "25" "35" "0" "six" "  seven  " "*" "-n" "\$HOME"'
)

choice() {
    [ "$(id -u)" -eq 0 ] || skip "the launcher's choice is tested in a chroot: run as root"
    local busybox
    busybox=$(command -v busybox || true)
    [ -n "$busybox" ] && ! ldd "$busybox" >/dev/null 2>&1 ||
        skip "no static busybox (apt-get install busybox-static)"
    local -A multiarch
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

    # name | where the bundle lies | files of the controller | what runs | what the message names
    # Files: FILE=HEADER[:MODE], FILE=loader (a loader that says so and runs
    # what it is given), FILE=data (not executable), LINK@TARGET (started
    # through the first; BUNDLE: where the bundle lies), -x (the binaries lost their run bits), user (run as
    # nobody), profile (plc_do_profile started: the bundle's launcher of
    # that name, the single file with --profile first). What runs: the names
    # the binaries print (status 42) before the program's, or the launcher's
    # status, nothing run and the message naming the last column.
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
        "profile_arm64||profile lib/ld-linux-aarch64.so.1|arm64|"
        "profile_armhf||profile lib/libc.so.6=armhf lib/ld-linux-armhf.so.3|armhf|"
        "profile_armhf_old_loader||profile lib/libc.so.6=armhf lib/ld-linux.so.3=loader|loader armhf|"
        "profile_armel||profile ${multiarch[armel]}/libc.so.6=armel lib/ld-linux.so.3|armel|"
        "profile_relative_link||profile usr/local/bin/pdp@../lib/pdp usr/local/lib/pdp@../../../bundle/plc_do_profile lib/libc.so.6=armel lib/ld-linux.so.3|armel|"
        "profile_no_run_bits_arm64||profile -x lib/ld-linux-aarch64.so.1=loader|loader arm64|"
        "profile_no_fit||profile lib/libc.so.6=oabi lib/ld-linux.so.3|127|32-bit ARM, old ABI"
    )
    local entry name bundle files expected named root shell list status file link target started user program
    for entry in "${cases[@]}"; do
        IFS='|' read -r name bundle files expected named <<<"$entry"
        bundle=${bundle:-/bundle}
        root=$work/$name
        mkdir -p "$root/bin" "$root/lib" "$root$bundle" "$root/dev"
        mknod -m 666 "$root/dev/null" c 1 3
        cp "$busybox" "$root/bin/busybox"
        chroot "$root" /bin/busybox --install -s /bin
        # dash and what it loads, from this machine: outside the paths the launcher reads.
        for file in /bin/dash $(ldd /bin/dash | grep -o '/[^ ]*'); do
            mkdir -p "$root$(dirname "$file")"
            cp -L "$file" "$root$file"
        done
        for program in $(plc_programs); do
            cp "$launcher" "$root$bundle/$program"
            for abi in $(plc_abis); do
                mkdir -p "$root$bundle/$abi"
                printf '#!/bin/busybox sh\necho %s\necho %s\nfor a do echo "<$a>"; done\nexit 42\n' "$abi" "$program" \
                    >"$root$bundle/$abi/$program"
                chmod 755 "$root$bundle/$abi/$program"
            done
        done
        started=$bundle/plc_do_test shell=/bin/busybox user= program=plc_do_test
        for file in $files; do
            case "$file" in
            -x) chmod 644 "$root$bundle"/*/plc_do_*; continue ;;
            user) user=--userspec=65534:65534; continue ;;
            profile) started=$bundle/plc_do_profile program=plc_do_profile; continue ;;
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
        mkdir -m 1777 "$root/tmp"
        # The folder bundle, then (where the binaries' run bits are not the case) the single file
        # in each launcher's place, started by the name plc_do_test: --profile first chooses.
        local form own_shell=$shell chooser=() embedded
        for form in folder single; do
        if [ "$form" = single ]; then
            [[ " $files " != *" -x "* ]] || continue
            mapfile -t embedded < <(plc_embedded "$root$bundle/{abi}/{program}")
            "$top/release/single_file.sh" "$work/single.run" "${embedded[@]}"
            for file in $(plc_programs); do cp "$work/single.run" "$root$bundle/$file"; done
            for file in $(plc_abis); do rm -r "$root$bundle/$file"; done
            [ "$program" = plc_do_test ] || chooser=(--profile)
            [ "$started" != "$bundle/plc_do_profile" ] || started=$bundle/plc_do_test
        fi
        # Started as the controller starts it (its #! line: busybox), and by dash.
        for shell in "$own_shell" /bin/dash; do
            [ "$shell" = /bin/busybox ] && shell=
            for list in "${arg_lists[@]}"; do
                eval "set -- $list"
                status=0
                chroot $user "$root" $shell "$started" "${chooser[@]}" "$@" >"$work/out" 2>"$work/err" || status=$?
                local what="$name ($form) under ${shell:-busybox} with $# arguments"
                [ -z "$(ls -A "$root/tmp")" ] || fail "$what: left $(ls "$root/tmp") in /tmp"
                if [ "${expected//[0-9]/}" = "" ]; then
                    [ "$status" -eq "$expected" ] || fail "$what: status $status, expected $expected: $(cat "$work/err")"
                    [ ! -s "$work/out" ] || fail "$what: a binary ran: $(cat "$work/out")"
                    [ "$expected" -ne 127 ] || grep -qF 'no binary of this bundle fits this system' "$work/err" ||
                        fail "$what: no message: $(cat "$work/err")"
                    grep -qF -- "$named" "$work/err" || fail "$what: the message does not say [$named]: $(cat "$work/err")"
                else
                    { printf '%s\n' $expected "$program"; [ $# -eq 0 ] || printf '<%s>\n' "$@"; } >"$work/expected"
                    [ "$status" -eq 42 ] || fail "$what: status $status, expected the program's 42: $(cat "$work/err")"
                    cmp -s "$work/out" "$work/expected" ||
                        fail "$what: started [$(paste -sd' ' "$work/out")], expected [$(paste -sd' ' "$work/expected")]"
                    [ ! -s "$work/err" ] || fail "$what: wrote to standard error: $(cat "$work/err")"
                fi
            done
        done
        done
        echo "ok: $name"
    done
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
