#!/usr/bin/env bash
# The launcher (release/launcher.sh; docs/building.md):
#   launcher_test.sh choice           what it starts on each kind of controller (root)
#   launcher_test.sh old_loader BUILD the armhf binary through /lib/ld-linux.so.3
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
launcher=$top/release/launcher.sh
. "$top/tools/abis.sh"

. "$top/tests/support/skip.sh"
fail() { echo "FAIL [launcher]: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Argument lists, each passed through untouched: none, empty strings, blanks,
# leading dashes, a pattern, more than five.
arg_lists=(
    ''
    '"" " " "-x" "--help"'
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
    # flags 0x04000002: EABI 4, neither float flag (soft float, as before them); 0x00000002: the old ABI
    { head -c 36 "$work/armel.header"; printf '\002\000\000\004'; tail -c +41 "$work/armel.header"; } >"$work/eabi4.header"
    { head -c 36 "$work/armel.header"; printf '\002\000\000\000'; tail -c +41 "$work/armel.header"; } >"$work/oabi.header"

    # name | files FILE[=HEADER] of the controller | what runs ("-": nothing fits) | what the message names
    local cases=(
        "arm64|lib/ld-linux-aarch64.so.1|arm64|"
        "armhf|lib/libc.so.6=armhf lib/ld-linux-armhf.so.3|armhf|"
        "armhf_multiarch|${multiarch[armhf]}/libc.so.6=armhf lib/ld-linux-armhf.so.3 lib/ld-linux.so.3|armhf|"
        "armhf_old_loader|lib/libc.so.6=armhf lib/ld-linux.so.3=loader|loader armhf|"
        "armel|${multiarch[armel]}/libc.so.6=armel lib/ld-linux.so.3|armel|"
        "no_float_flags|lib/libc.so.6=eabi4 lib/ld-linux.so.3|armel|"
        "old_abi|lib/libc.so.6=oabi lib/ld-linux.so.3|-|32-bit ARM, old ABI"
        "hard_float_no_loader|lib/libc.so.6=armhf|-|neither /lib/ld-linux-armhf.so.3 nor /lib/ld-linux.so.3"
        "soft_float_no_loader|lib/libc.so.6=armel|-|soft float, but no /lib/ld-linux.so.3"
        "other_machine||-|/bin/sh: x86-64"
    )
    local entry name files expected named root shell list status
    for entry in "${cases[@]}"; do
        IFS='|' read -r name files expected named <<<"$entry"
        root=$work/$name
        mkdir -p "$root/bin" "$root/lib" "$root/bundle" "$root/dev"
        mknod -m 666 "$root/dev/null" c 1 3
        cp "$busybox" "$root/bin/busybox"
        chroot "$root" /bin/busybox --install -s /bin
        # dash and what it loads, from this machine: outside the paths the launcher reads.
        for file in /bin/dash $(ldd /bin/dash | grep -o '/[^ ]*'); do
            mkdir -p "$root$(dirname "$file")"
            cp -L "$file" "$root$file"
        done
        cp "$launcher" "$root/bundle/plc_do_test"
        for abi in arm64 armhf armel; do
            mkdir "$root/bundle/$abi"
            printf '#!/bin/sh\necho %s\nfor a do echo "<$a>"; done\nexit 42\n' "$abi" >"$root/bundle/$abi/plc_do_test"
            chmod 755 "$root/bundle/$abi/plc_do_test"
        done
        for file in $files; do
            mkdir -p "$(dirname "$root/${file%%=*}")"
            case "$file" in
            *=loader) printf '#!/bin/sh\necho loader\n[ "$1" = /bundle/armhf/plc_do_test ] || exit 9\nexec "$@"\n' ;;
            *=*) cat "$work/${file#*=}.header" ;;
            esac >"$root/${file%%=*}"
            chmod 755 "$root/${file%%=*}"
        done
        # Started as the controller starts it (its #! line: busybox), and by dash.
        for shell in "" /bin/dash; do
            for list in "${arg_lists[@]}"; do
                eval "set -- $list"
                status=0
                chroot "$root" ${shell:+"$shell"} /bundle/plc_do_test "$@" >"$work/out" 2>"$work/err" || status=$?
                local what="$name under ${shell:-busybox} with $# arguments"
                if [ "$expected" = - ]; then
                    [ "$status" -eq 127 ] || fail "$what: status $status, expected 127"
                    [ ! -s "$work/out" ] || fail "$what: a binary ran: $(cat "$work/out")"
                    grep -qF 'no binary of this bundle fits this system' "$work/err" ||
                        fail "$what: no message: $(cat "$work/err")"
                    grep -qF -- "$named" "$work/err" || fail "$what: the message does not say [$named]: $(cat "$work/err")"
                else
                    { printf '%s\n' $expected; [ $# -eq 0 ] || printf '<%s>\n' "$@"; } >"$work/expected"
                    [ "$status" -eq 42 ] || fail "$what: status $status, expected the program's 42: $(cat "$work/err")"
                    cmp -s "$work/out" "$work/expected" ||
                        fail "$what: started [$(paste -sd' ' "$work/out")], expected [$(paste -sd' ' "$work/expected")]"
                    [ ! -s "$work/err" ] || fail "$what: wrote to standard error: $(cat "$work/err")"
                fi
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
