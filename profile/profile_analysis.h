// Turns a profiled run's record into the figures the profile prints: for the
// delay, the write and the oversleep their percentiles (from their
// histograms, within the error profile/histogram.h states), the figures of
// each output, and the longest delays in order. Reads the record and changes
// nothing in it, so that the profile so far may be printed while the run
// goes on. No heap, and no division by a variable that would need a runtime
// helper on a 32-bit controller.
#ifndef PROFILE_PROFILE_ANALYSIS_H
#define PROFILE_PROFILE_ANALYSIS_H

#include <stdint.h>

#include "profile/histogram.h"
#include "profile/profile_log.h"
#include "run/run_params.h"

// min, median, p90, p99, p99.9, max (nearest rank: the p-th percentile of n
// sorted figures is the one of rank ceil(p * n / 100), counted from 1), and
// the mean in tenths of a microsecond, rounded half away from zero. None
// when the run completed no iteration.
struct figure_summary {
    bool any;
    int64_t min, median, p90, p99, p99_9, max;
    int64_t mean_tenths;
};

struct output_figures {
    uint32_t output;   // the first output of the row
    uint32_t outputs;  // 1, or the rest's count of outputs
    uint32_t writes;
    int64_t write_min, write_max;
    int64_t write_mean_tenths;  // as mean_tenths rounds it
    int64_t longest_delay;
};

// The delays' bins the profile shows: up to the pause asked for plus 50 us,
// 100, 200, ... 819200, then plus 1 s, then above.
constexpr uint32_t coarse_bounded_bins = 16;
constexpr uint32_t coarse_bins = coarse_bounded_bins + 1;

struct delay_histogram {
    uint64_t upper_us[coarse_bounded_bins];  // a bin holds the delays up to its bound, over the one before
    uint32_t counts[coarse_bins];           // the last: above the last bound
};

struct profile_figures {
    uint32_t iterations;  // those the sweep completed and counted
    delay_histogram coarse;
    figure_summary delay, write, oversleep;
    uint32_t outputs;  // rows of per_output with writes, in the sweep's order
    output_figures per_output[output_rows + 1];
    uint32_t longest;  // entries of longest_first
    uint16_t longest_first[max_iterations];  // the record's longest_heap, longest first, ties earliest first
    uint32_t samples;  // of the record's samples
};

static_assert(max_iterations <= 65536, "an index of the longest delays fits 16 bits");

// Tenths of sum / count (count not 0), rounded half away from zero.
int64_t mean_tenths(int64_t sum, uint32_t count);

// A percentile of delays from a histogram of delays less `pause` and 1 us,
// `least` and `most` the exact delays it lies between.
int64_t delay_percentile(const figure_histogram& h, uint32_t count, uint32_t per_mille, int64_t least,
                         int64_t most, uint32_t pause);

// Fills `figures` from the record of a run of `params`.
void analyse_profile(const run_params& params, const profile_log& log, profile_figures* figures);

#endif
