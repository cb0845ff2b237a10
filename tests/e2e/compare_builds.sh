#!/usr/bin/env bash
# Runs the host and the ARM program on the same command lines, in virtual
# time (tests/support/virtual_time.cc, each build's own), and checks that
# they print the same bytes, figures included, end with the same status,
# make the same calls on the stand-in, and read the same clock and pause as
# long at the same points.
#
#   compare_builds.sh HOST_BUILD_DIR ARM_BUILD_DIR
# Each program runs against its build's stand-in and virtual clock, the ARM
# one under the emulator its build names (tests/support/run_program.sh).
set -u
host_build=$1
arm_build=$2
[ -f "$arm_build/emulator" ] ||
    { echo "compare_builds: $arm_build names no emulator: its programs cannot run here"; exit 1; }
run_program=$(dirname "$0")/../support/run_program.sh

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# run NAME BUILD ARG...
run() {
    local name=$1 build=$2
    shift 2
    env VTIME_LOG="$work/$name.time" PLCSIM_TRACE="$work/$name.trace" PLCSIM_REFUSE=1 PLCSIM_WRITE_US=250 \
        bash "$run_program" "$build" --virtual "$build/plc_do_test" "$@" >"$work/$name.out" 2>&1 </dev/null
    echo $? >"$work/$name.status"
}

command_lines=(
    ""
    "1 2 3"
    "10001 0 25 35 0"
    "-1 0 25 35"
    "0x2710x 0 25 35 0"
    "abc 0 25 35 0"
    "12 9750 25 34 0"
    "9 14751 42 60 0 extra"
    "7 19501 0xffffffff 3 0"
    "5 1 -5 -9 0"
    "300 20000 25 35 0"
)

for line in "${command_lines[@]}"; do
    # shellcheck disable=SC2086
    run host "$host_build" $line
    # shellcheck disable=SC2086
    run arm "$arm_build" $line
    for part in status out trace time; do
        if ! cmp -s "$work/host.$part" "$work/arm.$part"; then
            echo "DIFFER [$line]: $part"
            diff "$work/host.$part" "$work/arm.$part" | head -n 10
            failures=$((failures + 1))
        fi
    done
done

passed=$((${#command_lines[@]} * 4 - failures))
echo "compare_builds: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
