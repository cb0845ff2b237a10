// The record of a profiled run, kept as the run goes: every figure is folded
// in after its iteration's window closes, into storage of fixed size, so
// that a run of a day takes the memory of a run of a second.
#ifndef PROFILE_PROFILE_LOG_H
#define PROFILE_PROFILE_LOG_H

#include <stdint.h>
#include <sys/time.h>
#include <time.h>

#include "profile/histogram.h"
#include "report/delay_stats.h"
#include "run/run_params.h"

// An iteration's figures are held in 32 bits, the cheapest on every target:
// from -2147483647 to 2147483647 us (35 minutes); one beyond is held there
// and counted as such.
constexpr int32_t figure_held = INT32_MAX;

// One figure of every iteration (the delay, the write or the oversleep):
// the delays' histogram holds each delay less the pause and 1 us, so that
// delays up to the pause plus 256 us are exact, and the bounds of the
// coarse histogram the profile shows fall between its bins.
// exact minimum, maximum and sum, and its histogram. The writes' minimum,
// maximum and sum are kept per output only, the oversleeps' sum not at all:
// the analysis works them out.
struct figure_tally {
    int32_t min, max;
    int64_t sum;
    figure_histogram histogram;
};

// Outputs of the cycle with figures of their own; those past them share
// one more row, named as the rest.
constexpr uint32_t output_rows = 1024;

struct output_tally {
    uint32_t writes;
    int32_t write_min, write_max;
    int32_t longest_delay;
    int64_t write_sum;
};

// One iteration's figures, in microseconds but `value` and `attempts`.
struct iteration_figures {
    uint32_t iteration;  // from 0
    uint32_t output;
    uint32_t value;
    uint32_t attempts;     // write attempts, the accepted one included
    int64_t at_us;         // its first reading, from the sweep's first reading
    int64_t write_us;      // first reading to just after the accepted write
    int64_t oversleep_us;  // the last pause as measured, minus the pause asked for
    int64_t delay_us;      // first reading to the reading after the last pause
};

// The records over time: at most this many intervals; when a long run fills
// them, neighbours are merged two by two and intervals to come are twice as
// long.
constexpr uint32_t interval_records = 1024;

struct interval_record {
    int64_t at_us;       // its start, from the sweep's first reading
    uint64_t length_us;  // as asked for, or doubled by merging
    uint32_t iterations;
    uint32_t exceedances;  // delays above --limit
    int32_t max;           // 0 when it holds no iteration
    int32_t p99;           // merged: the larger of the two
};

// The delays above --limit: how many, the first and the last, and the
// longest streak of consecutive ones.
struct limit_tally {
    uint32_t exceedances;
    uint32_t first, last;  // iterations
    int64_t first_at_us, last_at_us;
    uint32_t streak, streak_first;  // the streak under way: its length and first iteration
    uint32_t longest_streak, longest_streak_first;
    int64_t longest_streak_at_us;
    int64_t streak_at_us;
};

// Why the sweep ended before the iterations asked for.
enum class sweep_end : uint8_t { completed, duration, refused, stopped, broke };

struct profile_log {
    // The sweep's first and last readings (monotonic), and the wall clock's
    // at its start (UTC).
    timeval run_start, run_end, wall_start;
    uint32_t iterations_done;  // folded into the figures
    // The process's resident memory (VmRSS, kB) just before the sweep and
    // just after it: the same for a run of a second and of a day. -1: unknown.
    int64_t resident_kb_before, resident_kb_after;
    uint32_t held;             // figures beyond 35 minutes, held at figure_held
    int64_t oversleep_adjust;  // what holding figures took from the oversleeps' sum
    uint32_t interrupted;      // ended while a signal came: not counted (its pause may have been cut short)
    sweep_end end;
    int stop_signal;       // the signal that stopped the run, or 0
    int32_t refused_port;  // the output whose write was refused for 10 s
    // The iteration that broke the run (--break): its iteration, output and delay.
    uint32_t break_iteration, break_output;
    int64_t break_delay;

    delay_stats classes;  // plc_do_test's four classes and longest delay
    figure_tally delay, write, oversleep;
    uint32_t over_second;  // delays above the pause plus 1 s
    uint32_t max_iteration;  // the longest delay's (the first of equal ones)
    int64_t max_at_us;

    uint32_t outputs;  // rows of per_output in use: the cycle's outputs up to output_rows, then the rest's
    output_tally per_output[output_rows + 1];

    // The longest delays: a heap, the least of them at its root (of equal
    // ones the latest), holding at most --longest.
    uint32_t longest;
    iteration_figures longest_heap[max_iterations];

    interval_record intervals[interval_records];
    uint32_t intervals_closed;
    uint32_t interval_merges;   // how often the store was full and its records merged
    uint64_t interval_us;       // the length of intervals to come
    figure_histogram interval_delays;  // the delays of the interval under way, as `delay`'s
    uint32_t log_errors;        // lines --log could not write
    int log_error;              // the last one's errno

    limit_tally limit;

    // With --samples: the first max_iterations iterations' figures.
    iteration_figures samples[max_iterations];
};

#endif
