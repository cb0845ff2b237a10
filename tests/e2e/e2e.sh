#!/usr/bin/env bash
# End-to-end cases: runs the built plc_do_test against the stand-in controller
# library and checks its standard output byte for byte, its exit status, that
# it writes nothing to standard error, and the calls the stand-in received.
# Most cases run in virtual time (tests/support/virtual_time.cc), where every
# figure of the report is known in advance and the clock readings and pauses
# are recorded; a few run in real time, with loose bounds, as the proof that
# the real clock and pause are used.
#
#   e2e.sh CASE BUILD PROGRAM [RUNNER...]
#   e2e.sh --list                        the cases, one a line
#
# PROGRAM runs against the stand-in and the virtual clock of BUILD, under
# BUILD's emulator or, when given, RUNNER (qemu-arm on another root,
# valgrind ...): tests/support/run_program.sh.
set -u

if [ "${1:-}" = --list ]; then
    sed -nE 's/^([a-z_]+)\)$/\1/p' "$0"
    exit 0
fi

case_name=$1
build=$(cd "$2" && pwd)
program=$3
shift 3
launcher=(bash "$(cd "$(dirname "$0")/../support" && pwd)/run_program.sh" "$build")
[ $# -gt 0 ] && launcher+=(--runner "$@" --)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL [$case_name]: $*"
    for f in stdout stderr trace time; do
        [ -f "$work/$f" ] && { echo "--- $f:"; head -c 2000 "$work/$f" | cat -A | head -n 40; }
    done
    exit 1
}

# run_program [NAME=VALUE...] -- ARG...: in real time.
run_program() {
    local vars=()
    while [ "$1" != "--" ]; do vars+=("$1"); shift; done
    shift
    local started=$SECONDS
    env PLCSIM_TRACE="$work/trace" "${vars[@]}" "${launcher[@]}" "$program" "$@" \
        >"$work/stdout" 2>"$work/stderr" </dev/null
    status=$?
    elapsed=$((SECONDS - started))
    [ -s "$work/stderr" ] && fail "standard error is not empty"
    return 0
}

# run_virtual [NAME=VALUE...] -- ARG...: in virtual time, its readings and
# pauses recorded in $work/time.
run_virtual() {
    rm -f "$work/time"
    local plain=("${launcher[@]}")
    launcher+=(--virtual)
    run_program VTIME_LOG="$work/time" "$@"
    launcher=("${plain[@]}")
    # The longest of them stands for 200 s of the controller's time.
    [ "$elapsed" -lt 10 ] || fail "a run in virtual time took $elapsed s"
}

# The whole report of a completed run: total seconds, the four counts, the
# longest delay in milliseconds.
report_text() {
    printf 'total execution time is: %ss\nnumber of delays:\n<20ms: %s\n20..30ms: %s\n30..40ms: %s\n>40ms: %s\nmaximum delay: %sms\n' "$@"
}

# The class counts of COUNT delays of US microseconds each, as report_text
# takes them.
class_counts() {
    local count=$1 us=$2
    if [ "$us" -le 20000 ]; then echo "$count 0 0 0"
    elif [ "$us" -le 30000 ]; then echo "0 $count 0 0"
    elif [ "$us" -le 40000 ]; then echo "0 0 $count 0"
    else echo "0 0 0 $count"; fi
}

# Every reading asked for the monotonic clock (id 1).
expect_only_monotonic() {
    local other
    other=$(grep -vE '^(pause|sleep) ' "$work/time" | grep -vx 'clock 1' | sort | uniq -c)
    [ -z "$other" ] || fail "readings of another clock than the monotonic one: $other"
}

# expect_pauses COUNT US: the program paused COUNT times, each exactly US.
expect_pauses() {
    local all exact
    all=$(grep -c '^pause ' "$work/time")
    exact=$(grep -cx "pause $2" "$work/time")
    [ "$all" -eq "$1" ] && [ "$exact" -eq "$1" ] ||
        fail "$all pauses, $exact of them of $2 us; expected $1 of $2 us"
}

expect_status() {
    [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"
}

# The whole of standard output equals the bytes printf makes of the arguments.
expect_stdout() {
    printf "$@" >"$work/expected"
    cmp -s "$work/stdout" "$work/expected" || {
        echo "expected:"; cat -A "$work/expected"
        fail "standard output differs"
    }
}

expect_trace() {
    printf "$@" >"$work/expected_trace"
    cmp -s "$work/trace" "$work/expected_trace" || {
        echo "expected trace:"; head -n 40 "$work/expected_trace"
        fail "trace differs"
    }
}

expect_empty_trace() {
    [ -f "$work/trace" ] || fail "no trace was written"
    [ -s "$work/trace" ] && fail "the controller was called"
    return 0
}

usage_text=' params: iter,delay,start_DO_numer,end_DO_number,safe_thread \n\r  iter = 10..10000(max) \n\r   delay = delay in mks \n\r   start_DO_number = first num of digital output (for 100=25, for 110=42) \n\r   end_DO_number = last num of digital output (for 100=35, for 110=60) \n\r   use_safe_thread = N - use safe thread (write to N), 0 -not use safe thread \n\r '
limit_text="number of iterations can't exceed 10000\n"

# Reads the seven report lines that end standard output (after `skip` leading
# lines) into total, le20, le30, le40, gt40 and max_ms, and checks their bytes.
read_report() {
    local skip=${1:-0}
    local n=$'\n'
    local pattern="^total execution time is: ([0-9]+)s${n}number of delays:${n}<20ms: ([0-9]+)${n}"
    pattern+="20[.][.]30ms: ([0-9]+)${n}30[.][.]40ms: ([0-9]+)${n}>40ms: ([0-9]+)${n}maximum delay: ([0-9]+)ms$"
    local report
    report=$(tail -n +$((skip + 1)) "$work/stdout"; echo x)
    report=${report%x}
    [[ $report == *$'\n' ]] || fail "report does not end with a line feed"
    [[ ${report%$'\n'} =~ $pattern ]] || fail "report lines are not as expected"
    total=${BASH_REMATCH[1]} le20=${BASH_REMATCH[2]} le30=${BASH_REMATCH[3]}
    le40=${BASH_REMATCH[4]} gt40=${BASH_REMATCH[5]} max_ms=${BASH_REMATCH[6]}
}

expect_counts_sum() {
    local sum=$((le20 + le30 + le40 + gt40))
    [ "$sum" -eq "$1" ] || fail "the four counts add up to $sum, expected $1"
}

# Trace lines of a sweep whose writes are all accepted at the first attempt:
# iterations first output, cycle length.
accepted_writes() {
    local iterations=$1 first=$2 cycle=$3 refusals=${4:-0} i r
    for ((i = 0; i < iterations; i++)); do
        for ((r = 0; r < refusals; r++)); do
            printf 'write %d %d -1\n' $((first + i % cycle)) $((i % 2))
        done
        printf 'write %d %d 0\n' $((first + i % cycle)) $((i % 2))
    done
}

case "$case_name" in
usage)
    for args in "" "1" "1 2" "1 2 3"; do
        # shellcheck disable=SC2086
        run_program -- $args
        expect_status 255
        expect_stdout "$usage_text"
        expect_empty_trace
    done
    ;;
iteration_limit)
    for iter in 10001 -1 4294967296 -4294967296 0x2711; do
        run_program -- "$iter" 0 25 35 0
        expect_status 255
        expect_stdout "$limit_text"
        expect_empty_trace
    done
    ;;
no_iterations)
    # iter 0, or no digits at all: a report of nothing, the safe value still set.
    for iter in 0 abc; do
        run_program -- "$iter" 0 25 35 0
        expect_status 1
        read_report
        expect_counts_sum 0
        [ "$max_ms" -eq 0 ] || fail "maximum delay $max_ms ms with no iterations"
        [ "$total" -le 1 ] || fail "total time $total s for no iterations"
        expect_trace 'safe_value 25 1\n'
    done
    ;;
sweep_order)
    # 25..34 is an even number of outputs: the cycle is 25..33 and 34 is never written.
    run_program -- 12 0 25 34 0
    expect_status 1
    read_report
    expect_counts_sum 12
    expect_trace 'safe_value 25 1\n%s' "$(accepted_writes 12 25 9)"$'\n'
    # Exactly four parameters run the same sweep; a sixth and later are not read.
    for extra in "" "0 junk more"; do
        # shellcheck disable=SC2086
        run_program -- 12 0 25 34 $extra
        expect_status 1
        expect_trace 'safe_value 25 1\n%s' "$(accepted_writes 12 25 9)"$'\n'
    done
    ;;
refused_then_accepted)
    run_program PLCSIM_REFUSE=2 -- 12 0 25 34 0
    expect_status 1
    read_report
    expect_counts_sum 12
    expect_trace 'safe_value 25 1\n%s' "$(accepted_writes 12 25 9 2)"$'\n'
    ;;
full_log)
    # 0x2710 is 10000, the largest count the log holds.
    run_program -- 0x2710 0 7 7 0
    expect_status 1
    read_report
    expect_counts_sum 10000
    [ "$(wc -l <"$work/trace")" -eq 10001 ] || fail "expected 10001 calls"
    ;;
long_delay)
    # One window of 2.5 s crosses two or three second boundaries.
    run_program -- 1 2500000 25 35 0
    expect_status 1
    read_report
    expect_counts_sum 1
    [ "$gt40" -eq 1 ] || fail "2.5 s delay not counted above 40 ms"
    { [ "$max_ms" -ge 2500 ] && [ "$max_ms" -lt 2700 ]; } || fail "maximum delay $max_ms ms, expected 2500"
    { [ "$total" -ge 2 ] && [ "$total" -le 3 ]; } || fail "total time $total s"
    ;;
slow_writes)
    # Time the controller takes for a write falls inside the window.
    run_program PLCSIM_WRITE_US=25000 -- 3 0 25 35 0
    expect_status 1
    read_report
    expect_counts_sum 3
    [ "$le20" -eq 0 ] || fail "a 25 ms write counted under 20 ms"
    [ "$max_ms" -ge 25 ] || fail "maximum delay $max_ms ms, expected at least 25"
    ;;
exact_delays)
    # Each delay is exactly the pause, odd and sub-millisecond ones included;
    # every bound belongs to the lower class; the longest delay is shown in
    # whole milliseconds, the rest dropped.
    for us in 0 1 999 1001 12345 20000 20001 20999 30000 30001 40000 40001; do
        run_virtual -- 3 "$us" 25 35 0
        expect_status 1
        # shellcheck disable=SC2046
        expect_stdout "$(report_text 0 $(class_counts 3 "$us") $((us / 1000)))\n"
        expect_pauses 3 "$us"
        expect_only_monotonic
    done
    ;;
refusals_in_window)
    # Each write is refused twice: three attempts, each taking the stand-in
    # 500 us and followed by a full pause, all inside the iteration's window.
    run_virtual PLCSIM_REFUSE=2 PLCSIM_WRITE_US=500 -- 4 7000 25 35 0
    expect_status 1
    expect_stdout "$(report_text 0 0 4 0 0 22)\n"
    expect_pauses 12 7000
    [ "$(grep -cx 'sleep 500' "$work/time")" -eq 12 ] || fail "expected 12 write times of 500 us"
    expect_only_monotonic
    expect_trace 'safe_value 25 1\n%s' "$(accepted_writes 4 25 11 2)"$'\n'
    ;;
whole_seconds)
    # The total is the difference of the whole seconds of the run's first and
    # last readings: 20 us across a second boundary is 1 s, and so is 1.9 s
    # that crosses only one.
    run_virtual VTIME_START_US=100999990 -- 2 10 25 35 0
    expect_stdout "$(report_text 1 2 0 0 0 0)\n"
    run_virtual VTIME_START_US=100050000 -- 1 1900000 25 35 0
    expect_stdout "$(report_text 1 0 0 0 1 1900)\n"
    ;;
long_run)
    # 10,000 iterations of 20 ms: 200 s of the controller's time.
    run_virtual -- 10000 20000 7 7 0
    expect_status 1
    expect_stdout "$(report_text 200 10000 0 0 0 20)\n"
    expect_pauses 10000 20000
    expect_only_monotonic
    ;;
write_never_accepted)
    # Output 31 does not exist: its write is refused, with a pause after each
    # attempt, until 10 s have passed since the first; the report covers the
    # six iterations before it.
    run_virtual PLCSIM_OUTPUTS=25-30 -- 30 1000 25 35 0
    expect_status 2
    expect_stdout 'output 31 refused every write for 10 s; run stopped after 6 of 30 iterations\n%s\n' \
        "$(report_text 10 6 0 0 0 1)"
    expect_pauses $((6 + 10000)) 1000
    expect_only_monotonic
    [ "$(grep -c '^write 31 0 -1$' "$work/trace")" -eq 10000 ] || fail "output 31 was not tried for 10 s"
    grep -q '^write 32 ' "$work/trace" && fail "the sweep went on past output 31"
    ;;
memory_locked)
    # Memory is locked by the time the sweep sets the safe value, before its
    # first reading: at least the timing log (20,000 entries) and the
    # program. Only root may lock it.
    if [ "$(id -u)" -ne 0 ]; then
        . "$(dirname "$0")/../support/skip.sh"
        skip "[$case_name] not root, so the program may not lock its memory"
    fi
    run_virtual PLCSIM_LOCKED="$work/locked" -- 3 0 25 35 0
    expect_status 1
    locked_kb=$(sed -nE 's/^VmLck:[[:space:]]*([0-9]+) kB$/\1/p' "$work/locked")
    [ "${locked_kb:-0}" -ge 240 ] || fail "locked before the first reading: $(cat "$work/locked"), expected 240 kB or more"
    ;;
lost_report)
    # Standard output a full device or closed: the report is lost, so the run
    # ends with 74 instead of 1 (completed) or 2 (stopped on output 27).
    # In virtual time, so that the stop on output 27 takes no 10 s (and with
    # a pause, without which virtual time would stand still).
    for way in full closed; do
        for settings in "" PLCSIM_OUTPUTS=25-26; do
            # shellcheck disable=SC2086
            if [ "$way" = full ]; then
                env $settings "${launcher[@]}" --virtual "$program" 3 1000 25 35 0 >/dev/full 2>"$work/stderr" </dev/null
            else
                env $settings "${launcher[@]}" --virtual "$program" 3 1000 25 35 0 >&- 2>"$work/stderr" </dev/null
            fi
            status=$?
            expect_status 74
            [ -s "$work/stderr" ] && fail "$way output, ${settings:-every output}: standard error is not empty"
        done
    done
    # A refused command line stays 255, its text written or not.
    for args in "1 2 3" "10001 0 25 35 0"; do
        # shellcheck disable=SC2086
        "${launcher[@]}" "$program" $args >/dev/full 2>"$work/stderr" </dev/null
        status=$?
        expect_status 255
    done
    ;;
foreign_library)
    # Copied into a directory that holds a libplc.so and started there, the
    # program must not load it: the loader looks only where the system's
    # libraries are. The library in the directory is the stand-in, which
    # writes a trace when it is loaded. Where the system has no libplc.so (a
    # PC), the loader says so and the program ends with 127; where it has
    # one (a target root with the controller maker's), that one runs.
    mkdir "$work/here"
    cp "$program" "$work/here/plc_do_test"
    cp "$build/libplc.so" "$work/here/libplc.so"
    (cd "$work/here" && env -u LD_LIBRARY_PATH PLCSIM_TRACE="$work/trace" "${launcher[@]}" --no-stand-in ./plc_do_test 3 0 25 35 0 \
        >"$work/stdout" 2>"$work/stderr" </dev/null)
    status=$?
    [ -e "$work/trace" ] && fail "the libplc.so of the directory it was started in was loaded"
    if [ "$status" -eq 127 ]; then
        grep -q 'libplc.so' "$work/stderr" || fail "the loader did not name the missing libplc.so"
    fi
    ;;
malformed_setting)
    # The stand-in refuses a malformed setting before the program runs.
    for setting in PLCSIM_REFUSE=x PLCSIM_OUTPUTS=30-25 PLCSIM_WRITE_US=-1 PLCSIM_OUTPUTS=25; do
        env "$setting" "${launcher[@]}" "$program" 1 0 25 35 0 >"$work/stdout" 2>"$work/stderr" </dev/null
        status=$?
        expect_status 3
        grep -q "${setting%%=*}" "$work/stderr" || fail "$setting: the variable is not named"
        [ -s "$work/stdout" ] && fail "$setting: the program ran"
    done
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "PASS [$case_name]"
