// How the measured delays of a run fall into four classes, and the longest.
#ifndef REPORT_DELAY_STATS_H
#define REPORT_DELAY_STATS_H

#include <stdint.h>

struct delay_stats {
    uint32_t count_le_20ms;  // up to and including 20000 us
    uint32_t count_20_30ms;  // above 20000 us, up to and including 30000 us
    uint32_t count_30_40ms;  // above 30000 us, up to and including 40000 us
    uint32_t count_gt_40ms;  // above 40000 us
    uint64_t max_delay_us;
};

#endif
