// Turns a profiled run's log into its figures: for the delay, the write and
// the oversleep of every iteration their percentiles, a histogram of the
// delays, the figures of each output and the longest delays. All after the
// sweep, in storage reserved once (no heap), with no division by a variable
// that would need a runtime helper on a 32-bit controller.
#ifndef PROFILE_PROFILE_ANALYSIS_H
#define PROFILE_PROFILE_ANALYSIS_H

#include <stdint.h>

#include "profile/profile_log.h"
#include "run/run_params.h"

// min, median, p90, p99, p99.9, max (nearest rank: the p-th percentile of n
// sorted figures is the one of rank ceil(p * n / 100), counted from 1), and
// the mean in tenths of a microsecond, rounded half away from zero.
struct figure_summary {
    int64_t min, median, p90, p99, p99_9, max;
    int64_t mean_tenths;
};

// The delays' bins: up to the pause asked for plus 50 us, 100, 200, ... 819200,
// then plus 1 s, then above.
constexpr uint32_t histogram_bounded_bins = 16;
constexpr uint32_t histogram_bins = histogram_bounded_bins + 1;

struct delay_histogram {
    uint64_t upper_us[histogram_bounded_bins];  // a bin holds the delays up to its bound, over the one before
    uint32_t counts[histogram_bins];           // the last: above the last bound
};

struct output_figures {
    uint32_t output;
    uint32_t writes;
    int64_t write_min, write_max, write_sum;
    int64_t write_mean_tenths;  // of write_sum over writes, as mean_tenths rounds it
    int64_t longest_delay;
};

// One iteration's figures, in microseconds but `value` and `attempts`.
struct iteration_figures {
    uint32_t iteration;  // from 0
    uint32_t output;
    uint32_t value;
    uint32_t attempts;  // write attempts, the accepted one included
    int64_t at_us;      // its first reading, from the sweep's first reading
    int64_t write_us;   // first reading to just after the accepted write
    int64_t oversleep_us;  // the last pause as measured, minus the pause asked for
    int64_t delay_us;      // first reading to the reading after the last pause
};

// Everything the profile prints of a run's figures, worked out once: the
// printers only print.
struct profile_figures {
    uint32_t iterations;  // those the sweep completed
    iteration_figures rows[max_iterations];  // every completed iteration's figures, in order
    figure_summary delay, write, oversleep;
    delay_histogram histogram;
    uint32_t outputs;  // entries of per_output, in the sweep's order
    output_figures per_output[max_iterations];
    uint32_t longest;  // entries of longest_first
    uint32_t longest_first[max_iterations];  // iterations, the longest delay first, ties earliest first
    // Sort keys (the analysis's scratch space): the delays' (figure, then
    // iteration), made with the rows; the writes', then the oversleeps'.
    uint64_t delay_keys[max_iterations];
    uint64_t keys[max_iterations];
    uint64_t scratch[max_iterations];
};

// Quotient of `dividend` by `divisor` (not 0), by shifting and subtracting.
uint64_t divide(uint64_t dividend, uint32_t divisor, uint32_t* remainder);

// Tenths of sum / count (count not 0), rounded half away from zero.
int64_t mean_tenths(int64_t sum, uint32_t count);

// Sorts `count` keys in place, ascending (a radix sort through `scratch`).
void sort_keys(uint64_t* keys, uint64_t* scratch, uint32_t count);

// The rank (from 1) of the per-mille-th percentile of `count` sorted figures.
uint32_t nearest_rank(uint32_t per_mille, uint32_t count);

// Fills `figures` from the log; `longest`: how many of the longest delays to list.
void analyse_profile(const run_params& params, const profile_log& log, uint32_t longest,
                     profile_figures* figures);

#endif
