// The measured phase of a run: the memory it uses made ready, then the sweep.
// Written once over the calls it makes, so that the program runs it with the
// real ones and a test with fakes. `Calls` provides, as static functions:
//   void lock_memory();
//   void sweep(const run_params& params, Log& log);
// `Log` is the record the sweep fills: plc_do_test's timing log, or
// plc_do_profile's profile log.
#ifndef RUN_MEASURE_H
#define RUN_MEASURE_H

#include <string.h>

#include "run/run_params.h"

// Touches the stack the sweep's calls will use, deeper than any of them goes.
void touch_stack();

// Everything a page fault could hit during the sweep is locked and touched
// before its first clock reading, so that none falls inside a window.
template <class Calls, class Log>
void measure(const run_params& params, Log* log) {
    Calls::lock_memory();
    memset(log, 0, sizeof *log);
    touch_stack();
    Calls::sweep(params, *log);
}

#endif
