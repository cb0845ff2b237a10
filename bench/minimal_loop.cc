// The least a sweep can do per iteration, as plainly as C allows; what it does
// and why: docs/benchmark.md.
//   minimal_loop ITERATIONS DELAY_US        (outputs 25 to 35, as the benchmark's sweep)
#include <stdint.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "plc/plc.h"
#include "sweep/sweep_loop.h"
#include "sweep/timing_log.h"

// Visible outside this file, so that the compiler keeps every store to it.
timing_log minimal_loop_log;

// Not inlined, not static and not mangled: the benchmark finds it by name.
extern "C" __attribute__((noinline)) void minimal_loop(timing_entry* pair, const timing_entry* end,
                                                       uint32_t first, uint32_t past_cycle,
                                                       uint32_t delay) {
    uint32_t port = first;
    int32_t value = 0;
    for (; pair != end; pair += 2) {
        timespec before;
        timespec after;
        pair[0].mark = mark_before_write;
        clock_gettime(CLOCK_MONOTONIC, &before);
        while (plc_write_port(static_cast<int32_t>(port), value) < 0) usleep(delay);
        usleep(delay);
        pair[1].mark = mark_after_pause;
        clock_gettime(CLOCK_MONOTONIC, &after);
        pair[0].time = timeval_of(before);
        pair[1].time = timeval_of(after);
        value ^= 1;
        if (++port == past_cycle) port = first;
    }
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    uint32_t iterations = static_cast<uint32_t>(strtoul(argv[1], nullptr, 0));
    if (iterations > max_iterations) iterations = max_iterations;
    minimal_loop(minimal_loop_log.entries, minimal_loop_log.entries + 2 * iterations, 25, 36,
                 static_cast<uint32_t>(strtoul(argv[2], nullptr, 0)));
    return 0;
}
