// The record of a profiled run: plc_do_test's timing log, and for every
// iteration the reading after its accepted write and its refused attempts.
#ifndef PROFILE_PROFILE_LOG_H
#define PROFILE_PROFILE_LOG_H

#include <stdint.h>
#include <sys/time.h>

#include "sweep/timing_log.h"

struct write_entry {
    timeval after_write;  // the monotonic clock just after the accepted write returned
    uint32_t refused;     // attempts refused before the accepted one
};

struct profile_log {
    timing_log timing;  // as plc_do_test's: iteration i's readings are entries 2i and 2i+1
    write_entry writes[max_iterations];  // iteration i's is writes[i]
};

#endif
