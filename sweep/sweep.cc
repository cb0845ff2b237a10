#include "sweep/sweep.h"

#include "sweep/controller_io.h"
#include "sweep/sweep_loop.h"

uint32_t cycle_length(uint32_t first, uint32_t last) {
    const uint32_t span = last - first;
    return span % 2 == 0 ? span + 1 : span;
}

void sweep_outputs(const run_params& params, timing_log& log) {
    sweep_outputs_through<controller_io>(params, log);
}
