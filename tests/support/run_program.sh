#!/usr/bin/env bash
# Runs a built program the one way the tests and the benchmark run it: against
# the stand-in libplc.so of BUILD, under its emulator (its file `emulator`)
# and, where asked, in virtual time (libvirtual_time.so, loaded into the
# program's process only: the emulator keeps the real clock).
#
#   run_program.sh BUILD [OPTION...] PROGRAM [ARG...]
#     --virtual                in virtual time
#     --runner WORD... --      run under these words instead of the build's
#                              emulator (another root or CPU, valgrind)
#     --emulator-option WORD   one more option for the emulator, put before
#                              its others (repeatable)
#     --no-stand-in            the stand-in is not put on LD_LIBRARY_PATH:
#                              the caller's stands, or none
# The rest of the environment passes through (PLCSIM_*, VTIME_*); the exit
# status is the program's, or 125 when it could not be started as asked.
set -u
build=${1:?usage: run_program.sh BUILD [OPTION...] PROGRAM [ARG...]}
shift
virtual= stand_in=yes runner_given= runner=() options=()
while :; do
    case "${1:-}" in
    --virtual) virtual=yes; shift ;;
    --no-stand-in) stand_in=; shift ;;
    --emulator-option) options+=("$2"); shift 2 ;;
    --runner)
        shift
        runner_given=yes
        while [ "$1" != -- ]; do runner+=("$1"); shift; done
        shift
        ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "run_program: no program given" >&2; exit 125; }

if [ -z "$runner_given" ] && [ -f "$build/emulator" ]; then
    mapfile -t runner <"$build/emulator"
fi
if [ ${#options[@]} -gt 0 ]; then
    [ ${#runner[@]} -gt 0 ] || { echo "run_program: $build has no emulator to give ${options[*]}" >&2; exit 125; }
    runner=("${runner[0]}" "${options[@]}" "${runner[@]:1}")
fi

settings=()
[ -n "$stand_in" ] && settings+=("LD_LIBRARY_PATH=$build")
if [ -n "$virtual" ]; then
    clock=$build/libvirtual_time.so
    [ -f "$clock" ] || { echo "run_program: no virtual clock library $clock" >&2; exit 125; }
    case "${runner[0]:-}" in
    *qemu-*) settings+=("QEMU_SET_ENV=LD_PRELOAD=$clock") ;;
    *) settings+=("LD_PRELOAD=$clock") ;;
    esac
fi
exec env "${settings[@]}" "${runner[@]}" "$@"
