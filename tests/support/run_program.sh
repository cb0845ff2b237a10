#!/usr/bin/env bash
# Runs a built program the one way the tests and the benchmark do: against
# BUILD's stand-in, under its emulator (its file `emulator`).
#   run_program.sh BUILD [OPTION...] PROGRAM [ARG...]
#     --virtual                in virtual time (in the program's process only)
#     --runner WORD... --      under these words instead (a root, valgrind)
#     --emulator-option WORD   one more option for the emulator, first (repeatable)
#     --no-stand-in            LD_LIBRARY_PATH as the caller has it
# The status is the program's, or 125 when it could not be started as asked.
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
