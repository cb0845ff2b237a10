// plc_do_profile's sweep: plc_do_test's, with one more reading in each
// iteration, just after its accepted write returns.
#ifndef PROFILE_PROFILE_SWEEP_H
#define PROFILE_PROFILE_SWEEP_H

#include <stdint.h>
#include <time.h>

#include "profile/profile_log.h"
#include "run/run_params.h"
#include "sweep/sweep_loop.h"

// What an iteration keeps beside its two readings: filled inside a window,
// moved to the log after it. The sweep's loop finds the three overloads
// below beside this type.
struct write_reading {
    timespec after_write;   // read just after the accepted write returned
    uint32_t refused;       // attempts refused before it; set on the refused path only
    write_entry* next;      // the log's entry of the iteration under way
};

template <class Io>
inline void read_after_write(write_reading* extra) {
    Io::read_clock(&extra->after_write);
}

inline void count_refused(write_reading* extra, uint32_t refused) { extra->refused = refused; }

inline void keep_write_reading(write_reading* extra) {
    extra->next->after_write = timeval_of(extra->after_write);
    extra->next->refused = extra->refused;
    extra->refused = 0;
    ++extra->next;
}

// The sweep of `params` against the controller, keeping each iteration's
// reading after its accepted write and its refused attempts in `log`.
void sweep_outputs_profiled(const run_params& params, profile_log& log);

#endif
