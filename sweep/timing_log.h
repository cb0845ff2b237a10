// The record of one run: two clock readings per iteration, one before its write
// and one after its last pause, plus the readings that open and close the sweep.
#ifndef SWEEP_TIMING_LOG_H
#define SWEEP_TIMING_LOG_H

#include <stdint.h>
#include <sys/time.h>

#include "run/run_params.h"

// Readings are of the monotonic clock, kept as seconds and microseconds.
struct timing_entry {
    uint8_t mark;  // mark_before_write or mark_after_pause
    timeval time;
};

constexpr uint8_t mark_before_write = 0;
constexpr uint8_t mark_after_pause = 2;

constexpr uint32_t timing_log_capacity = 2 * max_iterations;

struct timing_log {
    // Iteration i owns entries 2i (before its write) and 2i+1 (after its pause).
    timing_entry entries[timing_log_capacity];
    timeval run_start;
    timeval run_end;
    // Iterations whose write was accepted and whose both readings are in
    // `entries`; equals iter unless the sweep stopped on a refused write.
    uint32_t iterations_done;
    // The sweep stopped because the write to `refused_port` was refused on
    // every attempt for refusal_limit_us.
    bool stopped_on_refusal;
    int32_t refused_port;
};

#endif
