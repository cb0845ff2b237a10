#!/bin/sh
# plc_do_test of the bundle for every controller: execs the binary that fits
# the system, with the arguments as given; how it chooses: docs/building.md.
# The single file for every controller is this text with the binaries after
# it: it takes the one that fits out into a private folder, runs it, removes
# the folder and ends with the binary's status. POSIX sh: busybox ash and dash.
# As plc_do_profile beside it, it starts the plc_do_profile binaries; the
# single file does when its first argument is --profile (taken away).

# The single file's binaries, ABI/PROGRAM:BLOCK:BYTES each (BLOCK: where it
# starts, in 512-byte blocks of this file), set when the file is made
# (release/single_file.sh); empty in the folder bundle.
embedded=
folder=

# The bundle's folder: $0 followed through every symbolic link, since
# operators start it through links on PATH. `ls -l` shows a link's target
# (POSIX: "name -> target"), where busybox or the system may lack readlink.
self=$0 hops=0
while [ -h "$self" ] && [ "$hops" -lt 40 ]; do
    link=$(ls -ld -- "$self") || break
    target=${link#*" $self -> "}
    case $target in
    /*) self=$target ;;
    *) case $self in */*) self=${self%/*}/$target ;; *) self=$target ;; esac ;;
    esac
    hops=$((hops + 1))
done
case $self in */*) here=${self%/*} ;; *) here=. ;; esac

# program_named NAME: sets program, the one the launcher's file NAME (links
# followed) starts: the bundle holds a launcher named for each program.
program_named() {
    case $1 in
    plc_do_profile) program=plc_do_profile ;;
    *) program=plc_do_test ;;
    esac
}

program_named "${self##*/}"
# The single file bears the download's name: there --profile first chooses.
if [ -n "$embedded" ] && [ "${1-}" = --profile ]; then
    program=plc_do_profile
    shift
fi

system_files="/bin/sh /lib/libc.so.6 /lib/arm-linux-gnueabihf/libc.so.6 /lib/arm-linux-gnueabi/libc.so.6"

# read_header FILE: sets elf_class (1: 32-bit), elf_data (1: little endian),
# elf_machine, elf_float (e_flags' second byte: 4 hard, 2 soft, 0 not marked)
# and elf_eabi (0: old ABI). Status 1: unreadable; 2: not an ELF file; 3:
# no od to read it with.
read_header() {
    true 2>/dev/null <"$1" || return 1
    bytes=$(header_bytes "$1") || return 3
    set -- $bytes
    [ $# -eq 40 ] && [ "$1 $2 $3 $4" = "127 69 76 70" ] || return 2
    elf_class=$5 elf_data=$6
    elf_machine=$((${19} + 256 * ${20}))
    elf_float=${38} elf_eabi=${40}
}

# header_bytes FILE: FILE's first 40 bytes (fewer if it is shorter) in
# decimal; status 3 where the system has no od. `od -An -tu1 -N40` where od
# knows those options; busybox built without its desktop options knows only
# a few, among them -b, which every od has.
header_bytes() {
    command -v od >/dev/null 2>&1 || return 3
    od -An -tu1 -N40 "$1" 2>/dev/null || od -b "$1" 2>/dev/null | decimal_of_octal
}

# decimal_of_octal: od -b's lines (an address, then up to 16 bytes in octal)
# as their first 40 bytes in decimal. A line "*" stands for lines equal to
# the one before; no ELF header repeats a line in its first 40 bytes, so
# reading stops there. An octal number is written with a leading 0 in sh.
decimal_of_octal() {
    decimal= count=0
    while [ "$count" -lt 40 ] && read -r address octals && [ "$address" != "*" ]; do
        for octal in $octals; do
            [ "$count" -lt 40 ] && decimal="$decimal $((0$octal))" count=$((count + 1))
        done
    done
    echo "$decimal"
}

described() {
    case "$elf_class.$elf_machine" in
    1.40)
        if [ "$elf_eabi" -eq 0 ]; then
            echo "32-bit ARM, old ABI (not EABI)"
        elif [ $((elf_float & 4)) -ne 0 ]; then
            echo "32-bit ARM, EABI $elf_eabi, hard float"
        elif [ $((elf_float & 2)) -ne 0 ]; then
            echo "32-bit ARM, EABI $elf_eabi, soft float"
        else
            echo "32-bit ARM, EABI $elf_eabi, float ABI not marked"
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

# take_out ABI: the ABI's binary out of this file into a private folder
# (TMPDIR, else /tmp), as $binary; the folder goes when the launcher ends.
# The folder is named for the launcher's process, so that a later start
# removes it should this one be killed (remove_stale_folders).
take_out() {
    entry=
    for each in $embedded; do
        case $each in "$1/$program":*) entry=${each#*:} ;; esac
    done
    first=${entry%%:*} bytes=${entry#*:}
    whole=$((bytes / 512))
    place=${TMPDIR:-/tmp}
    remove_stale_folders "$place"
    folder=$(mktemp -d "$place/plc_do_test.$$.XXXXXX" 2>/dev/null) ||
        { folder=$place/plc_do_test.$$.0 && mkdir -m 700 "$folder" 2>/dev/null; } || {
        [ -d "$place" ] && unusable_tmpdir "may not be written"
        unusable_tmpdir "is no folder"
    }
    trap 'rm -rf "$folder"' EXIT
    trap 'exit 129' HUP
    trap 'exit 130' INT
    trap 'exit 131' QUIT
    trap 'exit 143' TERM
    binary=$folder/$program
    programs_may_run_in "$folder" || unusable_tmpdir "allows no programs to run (mounted noexec)"
    if [ -z "$entry" ] || ! { dd if="$self" bs=512 skip="$first" count="$whole" &&
            dd if="$self" bs=1 skip=$(((first + whole) * 512)) count=$((bytes - whole * 512)); } \
            >"$binary" 2>/dev/null || [ "$(wc -c <"$binary")" -ne "$bytes" ] || ! chmod 700 "$binary"; then
        echo "plc_do_test: the $1 binary could not be taken out of $self into $folder" \
             "(a full disk, or a damaged download: sha256sum -c SHA256SUMS)" >&2
        exit 126
    fi
}

# unusable_tmpdir WHAT: the folder for the binary is of no use, as WHAT says.
unusable_tmpdir() {
    if [ -n "${TMPDIR:-}" ]; then
        where="TMPDIR $TMPDIR"
    else
        where="/tmp (TMPDIR is not set)"
    fi
    echo "plc_do_test: $where $1: set TMPDIR to a folder this user may write and run programs in" \
         "(TMPDIR=FOLDER sh $self ...)" >&2
    exit 126
}

# programs_may_run_in FOLDER: whether the system starts a program kept in
# FOLDER. An empty file with run bits is started there: where the folder's
# file system is mounted noexec (or a security policy bars it) the system
# refuses (EACCES), which every shell reports as 126; elsewhere it is no
# program and the shell runs it as an empty script. The system is asked, not
# /proc/mounts, which needs /proc, the folder's real path through any links
# and the last of the mounts stacked on it, and knows no other refusal.
programs_may_run_in() {
    true >"$1/plc_do_test" && chmod 700 "$1/plc_do_test" || return 0
    "$1/plc_do_test" >/dev/null 2>&1 </dev/null
    [ $? -ne 126 ]
}

# remove_stale_folders PLACE: the folders in PLACE of single files that were
# killed (SIGKILL runs no trap), each named for its launcher's process, once
# that process has gone. Only a folder of the very name take_out gives
# (plc_do_test.PID. and mktemp's six characters, or 0) holding nothing but
# what take_out puts there is taken for one: a user's own folder named
# alike stays. (Unlinking the binary once it runs would leave nothing
# either, but the shell cannot tell when the binary, or the loader or
# emulator that starts it, has opened it.) Another user's folders stay:
# their owner alone (or root) may remove them.
remove_stale_folders() {
    for stale in "$1"/plc_do_test.*.*; do
        pid=${stale#"$1"/plc_do_test.}
        ending=${pid#*.} pid=${pid%%.*}
        case $pid in "" | *[!0-9]*) continue ;; esac
        case $ending in 0 | [0-9A-Za-z][0-9A-Za-z][0-9A-Za-z][0-9A-Za-z][0-9A-Za-z][0-9A-Za-z]) ;; *) continue ;; esac
        [ -d "$stale" ] && [ ! -h "$stale" ] && holds_only_binaries "$stale" && ! kill -0 "$pid" 2>/dev/null &&
            rm -rf "$stale" 2>/dev/null
    done
}

# holds_only_binaries FOLDER: whether FOLDER holds nothing but the programs'
# binaries (hidden files included).
holds_only_binaries() {
    for held in "$1"/* "$1"/.[!.]* "$1"/..?*; do
        [ -e "$held" ] || [ -h "$held" ] || continue
        case ${held##*/} in plc_do_test | plc_do_profile) ;; *) return 1 ;; esac
    done
}

# binary_of ABI: sets binary, the ABI's: beside the launcher, or taken out of
# this file (once).
binary_of() {
    if [ -z "$embedded" ]; then
        binary=$here/$1/$program
    elif [ -z "$folder" ]; then
        take_out "$1"
    fi
}

# launch ABI LOADER PROGRAM ARGS...: PROGRAM (the binary, or LOADER that
# starts it) in place of the launcher; the single file's waits for it, to
# remove its folder, and ends with its status. PLC_DO_TEST_SAY_CHOICE set:
# the choice on standard error first (the fleet's record of it).
launch() {
    [ -z "${PLC_DO_TEST_SAY_CHOICE:-}" ] || echo "plc_do_test: chose $1${2:+ through $2}" >&2
    shift 2
    [ -n "$embedded" ] || exec "$@"
    # In the background, so that a signal to the launcher reaches the binary
    # at once: the shell runs a trap only between commands, and wait is one
    # it breaks off. The signal is passed on as it came; the binary decides
    # how it ends. A command in the background starts with INT and QUIT
    # ignored: the binaries take them back. (It reads from /dev/null then:
    # the binary reads no input.)
    running=
    for signal in HUP INT QUIT TERM USR1; do
        trap "pass_on $signal" "$signal"
    done
    "$@" &
    running=$!
    wait_for_program
}

# pass_on SIGNAL: SIGNAL to the binary; the launcher goes on waiting.
pass_on() {
    [ -z "$running" ] || kill -"$1" "$running" 2>/dev/null
}

# wait_for_program: the launcher ends with the binary's status once it has
# ended, its output written. A trapped signal breaks a wait off early (with
# 128 and the signal's number): the wait goes on while the binary runs or is
# not yet collected. A binary collected while a wait was broken off has its
# status kept by the shell for one more wait; one already told gives 127
# (bash: -1).
wait_for_program() {
    status=0
    wait "$running" || status=$?
    while kill -0 "$running" 2>/dev/null; do
        status=0
        wait "$running" || status=$?
    done
    kept=0
    wait "$running" 2>/dev/null || kept=$?
    case $kept in 127 | -*) ;; *) status=$kept ;; esac
    exit "$status"
}

# through_loader LOADER ABI ARGS...: the ABI's binary started by its loader,
# which needs only to read it: so a copy that lost its run bits runs too.
through_loader() {
    loader=$1 abi=$2
    shift 2
    binary_of "$abi"
    if [ ! -e "$binary" ]; then
        echo "plc_do_test: $binary is missing: copy the whole folder of the bundle." >&2
        exit 127
    fi
    [ -r "$binary" ] && [ -x "$loader" ] && launch "$abi" "$loader" "$loader" "$binary" "$@"
    echo "plc_do_test: $binary cannot be started: it is not executable (copying may have lost its" \
         "run bits) and $loader cannot start it. Make the binaries executable: chmod +x \"$here\"/*/plc_do_*" >&2
    exit 126
}

# start LOADER ABI ARGS...: the ABI's binary itself where it may run, else through LOADER.
start() {
    binary_of "$2"
    if [ -x "$binary" ] && [ -f "$binary" ]; then
        abi=$2
        shift 2
        launch "$abi" "" "$binary" "$@"
    fi
    through_loader "$@"
}

[ -e /lib/ld-linux-aarch64.so.1 ] && start /lib/ld-linux-aarch64.so.1 arm64 "$@"

found="no /lib/ld-linux-aarch64.so.1"
# The float ABI as the first 32-bit ARM EABI file that marks it says; files of
# systems built before the marks were written carry neither.
float= unmarked= unread=
for file in $system_files; do
    [ -e "$file" ] || continue
    read_header "$file"
    case $? in
    1) found="$found; $file: unreadable"; continue ;;
    2) found="$found; $file: not an ELF file"; continue ;;
    3) found="$found; no od to read the float ABI of the system's files with"; unread=yes; break ;;
    esac
    found="$found; $file: $(described)"
    [ "$elf_class.$elf_machine.$elf_data" = 1.40.1 ] && [ "$elf_eabi" -ne 0 ] || continue
    if [ $((elf_float & 4)) -ne 0 ]; then
        float=hard
    elif [ $((elf_float & 2)) -ne 0 ]; then
        float=soft
    else
        unmarked=yes
        continue
    fi
    break
done

case $float in
hard)
    [ -e /lib/ld-linux-armhf.so.3 ] && start /lib/ld-linux-armhf.so.3 armhf "$@"
    # Hard-float systems before glibc 2.16 named their loader so.
    [ -e /lib/ld-linux.so.3 ] && through_loader /lib/ld-linux.so.3 armhf "$@"
    found="$found, but neither /lib/ld-linux-armhf.so.3 nor /lib/ld-linux.so.3"
    ;;
soft)
    [ -e /lib/ld-linux.so.3 ] && start /lib/ld-linux.so.3 armel "$@"
    found="$found, but no /lib/ld-linux.so.3"
    ;;
*)
    if [ -n "$unmarked" ] || [ -n "$unread" ]; then
        # No file says it, or none can be read: the loader the system has does.
        [ -e /lib/ld-linux-armhf.so.3 ] && start /lib/ld-linux-armhf.so.3 armhf "$@"
        [ -e /lib/ld-linux.so.3 ] && start /lib/ld-linux.so.3 armel "$@"
        found="$found${unmarked:+; no file marks the float ABI}, and neither /lib/ld-linux-armhf.so.3 nor /lib/ld-linux.so.3 is there"
    fi
    ;;
esac
no_fit
