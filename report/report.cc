#include "report/report.h"

#include <limits.h>
#include <stdio.h>

uint64_t interval_us(const timeval& before, const timeval& after) {
    const int64_t us = (static_cast<int64_t>(after.tv_sec) - before.tv_sec) * 1000000 +
                       (static_cast<int64_t>(after.tv_usec) - before.tv_usec);
    return us < 0 ? 0 : static_cast<uint64_t>(us);
}

void count_delay(delay_stats* stats, uint64_t delay_us) {
    if (delay_us > stats->max_delay_us) stats->max_delay_us = delay_us;

    count_delay_class(stats, delay_us);
}

delay_stats analyse_log(const run_params& params, const timing_log& log) {
    uint32_t iterations = log.iterations_done < params.iter ? log.iterations_done : params.iter;
    if (iterations > max_iterations) iterations = max_iterations;

    delay_stats stats{};
    for (uint32_t i = 0; i < iterations; ++i) {
        count_delay(&stats, interval_us(log.entries[2 * i].time, log.entries[2 * i + 1].time));
    }
    return stats;
}

namespace {

// us / 1000, in 32-bit divisions: a 32-bit controller has no instruction for
// a 64-bit division, and the program links no runtime helper for one. It is
// long division in 16-bit digits; each step divides less than 1000 * 2^16.
uint64_t milliseconds_of(uint64_t us) {
    uint64_t ms = 0;
    uint32_t remainder = 0;
    for (int shift = 48; shift >= 0; shift -= 16) {
        const uint32_t part = remainder << 16 | static_cast<uint32_t>(us >> shift & 0xffff);
        ms = ms << 16 | part / 1000;
        remainder = part % 1000;
    }
    return ms;
}

// The report prints milliseconds as an int; a delay too long for that (only a
// damaged log could hold one) shows as the largest int, never as a negative.
int milliseconds_for_report(uint64_t us) {
    const uint64_t ms = milliseconds_of(us);
    return ms > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

void format_report(char* text, size_t size, const timing_log& log, const delay_stats& stats) {
    format_report_between(text, size, log.run_start, log.run_end, stats);
}

void format_report_between(char* text, size_t size, const timeval& run_start, const timeval& run_end,
                           const delay_stats& stats) {
    snprintf(text, size,
             "total execution time is: %is\n"
             "number of delays:\n"
             "<20ms: %u\n"
             "20..30ms: %u\n"
             "30..40ms: %u\n"
             ">40ms: %u\n"
             "maximum delay: %ims\n",
             static_cast<int>(run_end.tv_sec - run_start.tv_sec),
             static_cast<unsigned>(stats.count_le_20ms), static_cast<unsigned>(stats.count_20_30ms),
             static_cast<unsigned>(stats.count_30_40ms), static_cast<unsigned>(stats.count_gt_40ms),
             milliseconds_for_report(stats.max_delay_us));
}

void print_report(const timing_log& log, const delay_stats& stats) {
    char text[report_text_size];
    format_report(text, sizeof text, log, stats);
    fputs(text, stdout);
}
