#include "profile/profile_analysis.h"

#include <string.h>

#include "report/report.h"
#include "sweep/sweep.h"

namespace {

// A sort key holds the figure, biased to be positive, above the iteration
// (below 2^14), inverted so that of equal figures the earliest sorts last;
// or, where the order of iterations does not matter, the figure alone.
constexpr uint32_t iteration_bits = 14;
constexpr int64_t figure_bias = int64_t{1} << 47;
// Figures are held to +-(2^47 - 1) us (4 years), far past any run.
constexpr int64_t figure_limit = figure_bias - 1;

static_assert(max_iterations < (1u << iteration_bits), "an iteration fits below the figure");

uint64_t biased(int64_t figure) {
    if (figure > figure_limit) figure = figure_limit;
    if (figure < -figure_limit) figure = -figure_limit;
    return static_cast<uint64_t>(figure + figure_bias);
}

uint64_t key_of(int64_t figure, uint32_t iteration) {
    return biased(figure) << iteration_bits | ((1u << iteration_bits) - 1 - iteration);
}

int64_t figure_of(uint64_t key, bool with_iteration) {
    return static_cast<int64_t>(with_iteration ? key >> iteration_bits : key) - figure_bias;
}

uint32_t iteration_of(uint64_t key) {
    return (1u << iteration_bits) - 1 - static_cast<uint32_t>(key & ((1u << iteration_bits) - 1));
}

int64_t signed_interval_us(const timeval& from, const timeval& to) {
    return (static_cast<int64_t>(to.tv_sec) - from.tv_sec) * 1000000 +
           (static_cast<int64_t>(to.tv_usec) - from.tv_usec);
}

// Fills `f` with iteration i's figures, `output` being the one it wrote.
void fill_row(const run_params& params, const profile_log& log, uint32_t i, uint32_t output, iteration_figures* f) {
    const timeval& before = log.timing.entries[2 * i].time;
    const timeval& after = log.timing.entries[2 * i + 1].time;
    const write_entry& write = log.writes[i];
    const int64_t write_us = signed_interval_us(before, write.after_write);
    const int64_t pause_us = signed_interval_us(write.after_write, after);
    // interval_us(before, after), as plc_do_test works the delay out, from the two parts.
    const int64_t delay_us = write_us + pause_us;
    f->iteration = i;
    f->output = output;
    f->value = i & 1;
    f->attempts = write.refused + 1;
    f->at_us = signed_interval_us(log.timing.run_start, before);
    f->write_us = write_us;
    f->oversleep_us = pause_us - params.delay;
    f->delay_us = delay_us < 0 ? 0 : delay_us;
}

// The byte of `key` at `shift`, taken from one 32-bit half: a 64-bit shift
// by a variable costs a 32-bit controller several instructions.
uint32_t digit_of(uint64_t key, uint32_t shift) {
    const uint32_t half = shift < 32 ? static_cast<uint32_t>(key) : static_cast<uint32_t>(key >> 32);
    return half >> (shift & 31) & 0xff;
}

// The oversleep's sort key of every row into figures->keys; returns their sum.
int64_t key_oversleeps(profile_figures* figures) {
    const uint32_t n = figures->iterations;
    int64_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const int64_t figure = figures->rows[i].oversleep_us;
        figures->keys[i] = biased(figure);
        sum += figure;
    }
    return sum;
}

// Sorts `keys` (the figures alone, or with the iteration where
// `with_iteration`) and sums them up; `sum`: of their figures.
figure_summary summary_of_keys(uint64_t* keys, int64_t sum, bool with_iteration, profile_figures* figures) {
    const uint32_t n = figures->iterations;
    figure_summary summary{};
    if (n == 0) return summary;
    sort_keys(keys, figures->scratch, n);
    const uint64_t* sorted = keys;
    summary.min = figure_of(sorted[0], with_iteration);
    summary.median = figure_of(sorted[nearest_rank(500, n) - 1], with_iteration);
    summary.p90 = figure_of(sorted[nearest_rank(900, n) - 1], with_iteration);
    summary.p99 = figure_of(sorted[nearest_rank(990, n) - 1], with_iteration);
    summary.p99_9 = figure_of(sorted[nearest_rank(999, n) - 1], with_iteration);
    summary.max = figure_of(sorted[n - 1], with_iteration);
    summary.mean_tenths = mean_tenths(sum, n);
    return summary;
}

void fill_bounds(uint32_t pause, delay_histogram* histogram) {
    for (uint32_t k = 0; k + 1 < histogram_bounded_bins; ++k) histogram->upper_us[k] = pause + (uint64_t{50} << k);
    histogram->upper_us[histogram_bounded_bins - 1] = pause + uint64_t{1000000};
}

uint32_t bin_of(const delay_histogram& histogram, int64_t delay_us) {
    uint32_t bin = 0;
    while (bin < histogram_bounded_bins && delay_us > static_cast<int64_t>(histogram.upper_us[bin])) ++bin;
    return bin;
}

void count_write(output_figures* output, const iteration_figures& f) {
    if (f.write_us < output->write_min) output->write_min = f.write_us;
    if (f.write_us > output->write_max) output->write_max = f.write_us;
    if (f.delay_us > output->longest_delay) output->longest_delay = f.delay_us;
    output->write_sum += f.write_us;
    ++output->writes;
}

// The sums of two figures over every iteration.
struct figure_sums {
    int64_t write, delay;
};

// Every row, per output, the histogram, the writes' sort keys and the
// delays', in one pass; the output steps through the cycle as in the sweep.
// Each output starts from the extremes, so that its first write sets them.
figure_sums count_rows_outputs_and_bins(const run_params& params, const profile_log& log, profile_figures* figures) {
    const uint32_t n = figures->iterations;
    const uint32_t cycle = cycle_length(params.start_DO_number, params.end_DO_number);
    figures->outputs = n < cycle ? n : cycle;
    for (uint32_t j = 0; j < figures->outputs; ++j) {
        figures->per_output[j] = output_figures{};
        figures->per_output[j].output = params.start_DO_number + j;
        figures->per_output[j].write_min = INT64_MAX;
        figures->per_output[j].write_max = INT64_MIN;
        figures->per_output[j].longest_delay = INT64_MIN;
    }
    figure_sums sums{0, 0};
    uint32_t j = 0;
    for (uint32_t i = 0; i < n; ++i) {
        // Worked out apart, then stored: the compiler need not read the
        // figures back after every store into `figures`.
        output_figures& output = figures->per_output[j];
        iteration_figures f;
        fill_row(params, log, i, output.output, &f);
        count_write(&output, f);
        ++figures->histogram.counts[bin_of(figures->histogram, f.delay_us)];
        figures->keys[i] = biased(f.write_us);
        figures->delay_keys[i] = key_of(f.delay_us, i);
        sums.delay += f.delay_us;
        figures->rows[i] = f;
        j = j + 1 == cycle ? 0 : j + 1;
    }
    for (j = 0; j < figures->outputs; ++j) {
        output_figures& output = figures->per_output[j];
        output.write_mean_tenths = mean_tenths(output.write_sum, output.writes);
        sums.write += output.write_sum;
    }
    return sums;
}

}  // namespace

uint64_t divide(uint64_t dividend, uint32_t divisor, uint32_t* remainder) {
    uint64_t quotient = 0;
    uint64_t rest = 0;
    for (int bit = 63; bit >= 0; --bit) {
        rest = rest << 1 | (dividend >> bit & 1);
        if (rest >= divisor) {
            rest -= divisor;
            quotient |= uint64_t{1} << bit;
        }
    }
    *remainder = static_cast<uint32_t>(rest);
    return quotient;
}

int64_t mean_tenths(int64_t sum, uint32_t count) {
    const bool negative = sum < 0;
    const uint64_t magnitude = static_cast<uint64_t>(negative ? -sum : sum) * 10;
    uint32_t remainder;
    uint64_t tenths = divide(magnitude, count, &remainder);
    if (remainder >= count - remainder) ++tenths;
    return negative ? -static_cast<int64_t>(tenths) : static_cast<int64_t>(tenths);
}

void sort_keys(uint64_t* keys, uint64_t* scratch, uint32_t count) {
    if (count == 0) return;
    // A digit all keys share leaves the order as it is: only the bytes in
    // which some keys differ are sorted on.
    uint64_t differing = 0;
    for (uint32_t i = 1; i < count; ++i) differing |= keys[i] ^ keys[0];
    uint64_t* from = keys;
    uint64_t* to = scratch;
    for (uint32_t shift = 0; shift < 64; shift += 8) {
        if ((differing >> shift & 0xff) == 0) continue;
        uint32_t starts[256] = {};
        for (uint32_t i = 0; i < count; ++i) ++starts[digit_of(from[i], shift)];
        uint32_t start = 0;
        for (uint32_t& slot : starts) {
            const uint32_t keys_with_digit = slot;
            slot = start;
            start += keys_with_digit;
        }
        for (uint32_t i = 0; i < count; ++i) to[starts[digit_of(from[i], shift)]++] = from[i];
        uint64_t* const sorted = to;
        to = from;
        from = sorted;
    }
    if (from != keys) memcpy(keys, from, count * sizeof *keys);
}

uint32_t nearest_rank(uint32_t per_mille, uint32_t count) {
    const uint32_t rank = (per_mille * count + 999) / 1000;
    return rank == 0 ? 1 : rank;
}

void analyse_profile(const run_params& params, const profile_log& log, uint32_t longest,
                     profile_figures* figures) {
    uint32_t n = log.timing.iterations_done < params.iter ? log.timing.iterations_done : params.iter;
    if (n > max_iterations) n = max_iterations;
    figures->iterations = n;
    memset(&figures->histogram, 0, sizeof figures->histogram);
    fill_bounds(params.delay, &figures->histogram);
    const figure_sums sums = count_rows_outputs_and_bins(params, log, figures);
    figures->write = summary_of_keys(figures->keys, sums.write, false, figures);
    const int64_t oversleep_sum = key_oversleeps(figures);
    figures->oversleep = summary_of_keys(figures->keys, oversleep_sum, false, figures);
    figures->delay = summary_of_keys(figures->delay_keys, sums.delay, true, figures);
    figures->longest = longest < n ? longest : n;
    for (uint32_t k = 0; k < figures->longest; ++k) figures->longest_first[k] = iteration_of(figures->delay_keys[n - 1 - k]);
}
