// Turns a filled timing log into delay statistics and prints the report.
#ifndef REPORT_REPORT_H
#define REPORT_REPORT_H

#include <stddef.h>
#include <stdint.h>
#include <sys/time.h>

#include "report/delay_stats.h"
#include "run/run_params.h"
#include "sweep/timing_log.h"

// Microseconds from `before` to `after`. A pair whose second reading is
// earlier than its first cannot come from the monotonic clock; it counts as 0
// rather than as a huge delay.
uint64_t interval_us(const timeval& before, const timeval& after);

// Counts a delay in its class: up to 20000 us, 30000, 40000, above. Inline
// and of any unsigned width, so that plc_do_profile counts in 32 bits
// between its windows.
template <class Us>
inline void count_delay_class(delay_stats* stats, Us delay_us) {
    if (delay_us <= 20000) {
        ++stats->count_le_20ms;
    } else if (delay_us <= 30000) {
        ++stats->count_20_30ms;
    } else if (delay_us <= 40000) {
        ++stats->count_30_40ms;
    } else {
        ++stats->count_gt_40ms;
    }
}

// Adds one delay to the statistics.
void count_delay(delay_stats* stats, uint64_t delay_us);

// One pass over the iterations the sweep completed (at most params.iter).
delay_stats analyse_log(const run_params& params, const timing_log& log);

// The seven lines of the report, as text: room for them with every number at
// its longest.
constexpr size_t report_text_size = 256;
void format_report(char* text, size_t size, const timing_log& log, const delay_stats& stats);
// The same from the sweep's first and last readings (plc_do_profile keeps no timing log).
void format_report_between(char* text, size_t size, const timeval& run_start, const timeval& run_end,
                           const delay_stats& stats);

// Writes the seven lines of the report to standard output.
void print_report(const timing_log& log, const delay_stats& stats);

#endif
