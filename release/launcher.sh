#!/bin/sh
# plc_do_test of the bundle for every controller: execs the binary that fits
# the system, with the arguments as given; how it chooses: docs/building.md.
# POSIX sh: busybox ash and dash.
here=${0%/*}
[ "$here" = "$0" ] && here=.

system_files="/bin/sh /lib/libc.so.6 /lib/arm-linux-gnueabihf/libc.so.6 /lib/arm-linux-gnueabi/libc.so.6"

# read_header FILE: sets elf_class (1: 32-bit), elf_data (1: little endian),
# elf_machine, elf_float (e_flags' second byte: 4 hard) and elf_eabi (0: old ABI).
read_header() {
    [ -r "$1" ] || return 1
    set -- $(od -An -tu1 -N40 "$1" 2>/dev/null)
    [ $# -eq 40 ] && [ "$1 $2 $3 $4" = "127 69 76 70" ] || return 1
    elf_class=$5 elf_data=$6
    elf_machine=$((${19} + 256 * ${20}))
    elf_float=${38} elf_eabi=${40}
}

described() {
    case "$elf_class.$elf_machine" in
    1.40)
        if [ "$elf_eabi" -eq 0 ]; then
            echo "32-bit ARM, old ABI (not EABI)"
        elif [ $((elf_float & 4)) -ne 0 ]; then
            echo "32-bit ARM, EABI $elf_eabi, hard float"
        else
            echo "32-bit ARM, EABI $elf_eabi, soft float"
        fi
        ;;
    2.183) echo "AArch64" ;;
    2.62) echo "x86-64" ;;
    1.3) echo "x86 (32-bit)" ;;
    *) echo "ELF machine $elf_machine, class $elf_class" ;;
    esac
}

no_fit() {
    echo "plc_do_test: no binary of this bundle fits this system: $found." >&2
    echo "  This bundle holds: arm64 (needs /lib/ld-linux-aarch64.so.1)," \
         "armhf (32-bit ARM hard float, needs /lib/ld-linux-armhf.so.3 or /lib/ld-linux.so.3)" \
         "and armel (32-bit ARM soft float, needs /lib/ld-linux.so.3). README.txt says more." >&2
    exit 127
}

if [ -e /lib/ld-linux-aarch64.so.1 ]; then
    exec "$here/arm64/plc_do_test" "$@"
fi

found="no /lib/ld-linux-aarch64.so.1"
command -v od >/dev/null 2>&1 || { found="$found; no od to read the system's ELF files with"; no_fit; }
for file in $system_files; do
    if read_header "$file"; then
        found="$found; $file: $(described)"
        [ "$elf_class.$elf_machine.$elf_data" = 1.40.1 ] && [ "$elf_eabi" -ne 0 ] || continue
        if [ $((elf_float & 4)) -ne 0 ]; then
            [ -e /lib/ld-linux-armhf.so.3 ] && exec "$here/armhf/plc_do_test" "$@"
            [ -e /lib/ld-linux.so.3 ] && exec /lib/ld-linux.so.3 "$here/armhf/plc_do_test" "$@"
            found="$found, but neither /lib/ld-linux-armhf.so.3 nor /lib/ld-linux.so.3"
        else
            [ -e /lib/ld-linux.so.3 ] && exec "$here/armel/plc_do_test" "$@"
            found="$found, but no /lib/ld-linux.so.3"
        fi
        no_fit
    elif [ -e "$file" ]; then
        found="$found; $file: not an ELF file"
    fi
done
no_fit
