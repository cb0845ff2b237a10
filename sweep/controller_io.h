// The controller, clock and pause calls the programs' sweeps make. In an
// unnamed namespace, as each sweep's file had it: every file that includes
// it gets a type of its own, so that the sweep's functions instantiated over
// it stay local to that file and the compiler may specialise them there.
#ifndef SWEEP_CONTROLLER_IO_H
#define SWEEP_CONTROLLER_IO_H

#include <stdint.h>
#include <time.h>
#include <unistd.h>

#include "plc/plc.h"

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

#endif
