#include "profile/profile_analysis.h"

#include "profile/histogram.h"
#include "sweep/sweep.h"

namespace {

figure_summary summary_of(const figure_histogram& h, int64_t min, int64_t max, int64_t sum, uint32_t count) {
    figure_summary s{};
    if (count == 0) return s;
    s.any = true;
    s.min = min;
    s.max = max;
    s.median = histogram_percentile(h, count, 500, min, max);
    s.p90 = histogram_percentile(h, count, 900, min, max);
    s.p99 = histogram_percentile(h, count, 990, min, max);
    s.p99_9 = histogram_percentile(h, count, 999, min, max);
    s.mean_tenths = mean_tenths(sum, count);
    return s;
}

// The writes' figures from their outputs', the oversleeps' sum from the
// delays' and the writes'.
void summarise(const run_params& params, const profile_log& log, profile_figures* figures) {
    const uint32_t n = log.iterations_done;
    int64_t write_min = INT64_MAX, write_max = INT64_MIN, write_sum = 0;
    for (uint32_t row = 0; row < log.outputs; ++row) {
        const output_tally& o = log.per_output[row];
        if (o.writes == 0) continue;
        if (o.write_min < write_min) write_min = o.write_min;
        if (o.write_max > write_max) write_max = o.write_max;
        write_sum += o.write_sum;
    }
    const int64_t oversleep_sum =
        log.delay.sum - write_sum - static_cast<int64_t>(params.delay) * n + log.oversleep_adjust;
    figures->delay = summary_of(log.delay.histogram, log.delay.min, log.delay.max, log.delay.sum, n);
    if (n != 0) {
        const uint32_t pause = params.delay;
        const int64_t min = log.delay.min, max = log.delay.max;
        figures->delay.median = delay_percentile(log.delay.histogram, n, 500, min, max, pause);
        figures->delay.p90 = delay_percentile(log.delay.histogram, n, 900, min, max, pause);
        figures->delay.p99 = delay_percentile(log.delay.histogram, n, 990, min, max, pause);
        figures->delay.p99_9 = delay_percentile(log.delay.histogram, n, 999, min, max, pause);
    }
    figures->write = summary_of(log.write.histogram, write_min, write_max, write_sum, n);
    figures->oversleep = summary_of(log.oversleep.histogram, log.oversleep.min, log.oversleep.max, oversleep_sum, n);
}

// Of two of the longest delays, the one listed first: the longer, and of
// equal ones the earlier.
bool comes_first(const iteration_figures& a, const iteration_figures& b) {
    return a.delay_us > b.delay_us || (a.delay_us == b.delay_us && a.iteration < b.iteration);
}

// Heap sort of the indices into `heap`, the last to be listed first kept at
// the root, so that they end up in the order listed.
void sift_down(uint16_t* order, uint32_t at, uint32_t count, const iteration_figures* heap) {
    for (;;) {
        uint32_t child = 2 * at + 1;
        if (child >= count) return;
        if (child + 1 < count && comes_first(heap[order[child]], heap[order[child + 1]])) ++child;
        if (!comes_first(heap[order[at]], heap[order[child]])) return;
        const uint16_t swap = order[at];
        order[at] = order[child];
        order[child] = swap;
        at = child;
    }
}

void order_longest(const profile_log& log, profile_figures* figures) {
    const uint32_t n = log.longest;
    uint16_t* order = figures->longest_first;
    for (uint32_t i = 0; i < n; ++i) order[i] = static_cast<uint16_t>(i);
    for (uint32_t i = n / 2; i-- != 0;) sift_down(order, i, n, log.longest_heap);
    for (uint32_t end = n; end > 1; --end) {
        const uint16_t swap = order[0];
        order[0] = order[end - 1];
        order[end - 1] = swap;
        sift_down(order, 0, end - 1, log.longest_heap);
    }
    figures->longest = n;
}

void fill_outputs(const run_params& params, const profile_log& log, profile_figures* figures) {
    const uint32_t first = params.start_DO_number;
    const uint32_t cycle = cycle_length(first, params.end_DO_number);
    figures->outputs = 0;
    for (uint32_t row = 0; row < log.outputs; ++row) {
        const output_tally& o = log.per_output[row];
        if (o.writes == 0) continue;
        output_figures& f = figures->per_output[figures->outputs++];
        f.output = first + row;
        f.outputs = row == output_rows ? cycle - output_rows : 1;
        f.writes = o.writes;
        f.write_min = o.write_min;
        f.write_max = o.write_max;
        f.write_mean_tenths = mean_tenths(o.write_sum, o.writes);
        f.longest_delay = o.longest_delay;
    }
}

// The coarse bins from the delays' histogram: each bound, the pause plus
// 50 us times a power of two, is the lowest figure of one of its bins (or
// lies among its exact ones), so that every count is exact; the delays
// above the pause plus 1 s are counted apart.
void fill_coarse(const run_params& params, const profile_log& log, delay_histogram* coarse) {
    const uint32_t pause = params.delay;
    for (uint32_t k = 0; k + 1 < coarse_bounded_bins; ++k) coarse->upper_us[k] = pause + (uint64_t{50} << k);
    coarse->upper_us[coarse_bounded_bins - 1] = pause + uint64_t{1000000};
    for (uint32_t& count : coarse->counts) count = 0;
    uint32_t k = 0;
    for (uint32_t bin = 0; bin < histogram_bins; ++bin) {
        // A bin's delays less the pause and 1 us are under 50 * 2^k for bin k.
        while (k + 1 < coarse_bounded_bins && bin_lowest(bin) >= (int64_t{50} << k)) ++k;
        coarse->counts[k] += log.delay.histogram.counts[bin];
    }
    coarse->counts[coarse_bounded_bins - 1] -= log.over_second;
    coarse->counts[coarse_bounded_bins] = log.over_second;
}

}  // namespace

int64_t mean_tenths(int64_t sum, uint32_t count) {
    const bool negative = sum < 0;
    const uint64_t magnitude = static_cast<uint64_t>(negative ? -sum : sum) * 10;
    uint32_t remainder;
    uint64_t tenths = divide(magnitude, count, &remainder);
    if (remainder >= count - remainder) ++tenths;
    return negative ? -static_cast<int64_t>(tenths) : static_cast<int64_t>(tenths);
}

int64_t delay_percentile(const figure_histogram& h, uint32_t count, uint32_t per_mille, int64_t least,
                         int64_t most, uint32_t pause) {
    const int64_t shift = int64_t{pause} + 1;
    return histogram_percentile(h, count, per_mille, least - shift, most - shift) + shift;
}

void analyse_profile(const run_params& params, const profile_log& log, profile_figures* figures) {
    const uint32_t n = log.iterations_done;
    figures->iterations = n;
    summarise(params, log, figures);
    fill_coarse(params, log, &figures->coarse);
    fill_outputs(params, log, figures);
    order_longest(log, figures);
    figures->samples = n < max_iterations ? n : max_iterations;
}
