// The least a timed write-and-pause can cost: per iteration two monotonic
// clock readings kept as seconds and microseconds, one plc_write_port through
// the same libplc.so, one usleep. The benchmark sets plc_do_test's sweep
// beside it.
//
//   minimal_loop ITERATIONS DELAY_US
#include <stdint.h>
#include <stdlib.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "plc/plc.h"
#include "sweep/sweep_loop.h"

constexpr uint32_t capacity = 10000;

// Visible outside this file, so that the compiler keeps every store to it.
// Readings are converted as the sweep converts them (timeval_of).
timeval minimal_loop_readings[2 * capacity];

// Not inlined and not static: the benchmark finds it by name.
__attribute__((noinline)) void minimal_loop(uint32_t iterations, uint32_t delay) {
    for (uint32_t i = 0; i < iterations; ++i) {
        timespec before;
        timespec after;
        clock_gettime(CLOCK_MONOTONIC, &before);
        plc_write_port(25, static_cast<int32_t>(i & 1u));
        usleep(delay);
        clock_gettime(CLOCK_MONOTONIC, &after);
        minimal_loop_readings[2 * i] = timeval_of(before);
        minimal_loop_readings[2 * i + 1] = timeval_of(after);
    }
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    uint32_t iterations = static_cast<uint32_t>(strtoul(argv[1], nullptr, 0));
    if (iterations > capacity) iterations = capacity;
    minimal_loop(iterations, static_cast<uint32_t>(strtoul(argv[2], nullptr, 0)));
    return 0;
}
