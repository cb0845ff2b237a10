// A controller, clock and pause in one, for the sweep's tests: time moves
// only when the sweep pauses, and every call is written down in order.
#ifndef TESTS_SUPPORT_FAKE_IO_H
#define TESTS_SUPPORT_FAKE_IO_H

#include <stdint.h>
#include <time.h>

#include <string>
#include <vector>

namespace {

struct fake_io {
    static inline int64_t now_us;
    static inline std::string events;           // c: clock, s: safe value, w: write, p: pause
    static inline std::vector<int32_t> ports;   // of every write attempt
    static inline std::vector<int32_t> values;  // of every write attempt
    static inline int refusals_per_write;       // before each write is accepted
    static inline int refused_so_far;
    static inline int32_t dead_port;            // every write to it is refused

    static void reset() {
        now_us = 5'000'000'000;  // well away from 0, with microseconds of its own
        now_us += 123'456;
        events.clear();
        ports.clear();
        values.clear();
        refusals_per_write = 0;
        refused_so_far = 0;
        dead_port = -12345;
    }
    static int32_t write_port(int32_t port, int32_t value) {
        events += 'w';
        ports.push_back(port);
        values.push_back(value);
        if (port == dead_port) return -1;
        if (refused_so_far < refusals_per_write) {
            ++refused_so_far;
            return -1;
        }
        refused_so_far = 0;
        return 0;
    }
    static void write_safe_value(int32_t port, int32_t value) {
        events += 's';
        ports.push_back(port);
        values.push_back(value);
    }
    static void read_clock(timespec* now) {
        events += 'c';
        now->tv_sec = static_cast<time_t>(now_us / 1000000);
        now->tv_nsec = static_cast<long>(now_us % 1000000 * 1000);
    }
    static void pause_us(uint32_t us) {
        events += 'p';
        now_us += us;
    }
};

}  // namespace

#endif
