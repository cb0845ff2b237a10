#include "sweep/sweep.h"

#include <time.h>
#include <unistd.h>

#include "plc/plc.h"
#include "sweep/sweep_loop.h"

namespace {

struct controller_io {
    static int32_t write_port(int32_t port, int32_t value) { return plc_write_port(port, value); }
    static void write_safe_value(int32_t port, int32_t value) {
        plc_write_port_safe_value(port, value);
    }
    static void read_clock(timespec* now) { clock_gettime(CLOCK_MONOTONIC, now); }
    static void pause_us(uint32_t us) { usleep(us); }
};

}  // namespace

uint32_t cycle_length(uint32_t first, uint32_t last) {
    const uint32_t span = last - first;
    return span % 2 == 0 ? span + 1 : span;
}

void sweep_outputs(const run_params& params, timing_log& log) {
    sweep_outputs_through<controller_io>(params, log);
}

void sweep_outputs_profiled(const run_params& params, profile_log& log) {
    write_reading extra{timespec{}, 0, log.writes};
    sweep_outputs_through<controller_io>(params, log.timing, &extra);
}
