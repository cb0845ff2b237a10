// The output sweep: writes the outputs in turn and times every write-and-pause.
#ifndef SWEEP_SWEEP_H
#define SWEEP_SWEEP_H

#include <stdint.h>

#include "run/run_params.h"
#include "sweep/timing_log.h"

// A write refused on every attempt for this long, counted from the reading
// before its first attempt, stops the sweep.
constexpr int64_t refusal_limit_us = 10 * 1000000;

// Number of outputs in one cycle of the sweep: always odd, so that every
// output alternates between 0 and 1 from one cycle to the next. The span from
// first to last wraps modulo 2^32 when last is below first.
uint32_t cycle_length(uint32_t first, uint32_t last);

// Runs the sweep of `params` against the controller, filling `log`. Prints
// nothing and allocates nothing. The log must be touched in full beforehand
// so that no page fault falls inside a measured window.
void sweep_outputs(const run_params& params, timing_log& log);

#endif
