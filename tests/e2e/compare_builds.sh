#!/usr/bin/env bash
# Runs the host and the ARM program on the same command lines and checks that
# they print the same bytes, end with the same status and make the same calls
# on the stand-in. Every figure of the report depends on timing on a busy
# machine (one slow iteration moves a count), so report lines are compared
# with their numbers masked; texts, statuses and traces exactly.
#
#   compare_builds.sh HOST_BUILD_DIR ARM_BUILD_DIR
# The ARM programs run under the emulator the ARM build names (its file
# `emulator`: qemu-arm, its CPU and the target root).
set -u
host_build=$1
arm_build=$2
mapfile -t emulator <"$arm_build/emulator" || exit 1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# run NAME BUILD [RUNNER...] -- ARG...
run() {
    local name=$1 build=$2
    shift 2
    local runner=()
    while [ "$1" != "--" ]; do runner+=("$1"); shift; done
    shift
    LD_LIBRARY_PATH="$build" PLCSIM_TRACE="$work/$name.trace" PLCSIM_REFUSE=1 \
        "${runner[@]}" "$build/plc_do_test" "$@" >"$work/$name.out" 2>&1 </dev/null
    echo $? >"$work/$name.status"
    # Times differ from one run to the next; the lines holding them are kept
    # with their numbers masked.
    sed -E '/^(total execution time is|<20ms|20..30ms|30..40ms|>40ms|maximum delay): /s/: [0-9]+/: N/' \
        "$work/$name.out" >"$work/$name.shape"
}

command_lines=(
    ""
    "1 2 3"
    "10001 0 25 35 0"
    "-1 0 25 35"
    "0x2710x 0 25 35 0"
    "abc 0 25 35 0"
    "12 0 25 34 0"
    "9 0 42 60 0 extra"
    "7 0 0xffffffff 3 0"
    "5 0 -5 -9 0"
)

for line in "${command_lines[@]}"; do
    # shellcheck disable=SC2086
    run host "$host_build" -- $line
    # shellcheck disable=SC2086
    run arm "$arm_build" "${emulator[@]}" -- $line
    for part in status shape trace; do
        if ! cmp -s "$work/host.$part" "$work/arm.$part"; then
            echo "DIFFER [$line]: $part"
            diff "$work/host.$part" "$work/arm.$part" | head -n 10
            failures=$((failures + 1))
        fi
    done
done

passed=$((${#command_lines[@]} * 3 - failures))
echo "compare_builds: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
