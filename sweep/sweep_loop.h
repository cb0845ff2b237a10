// The sweep itself, written once over a set of controller, clock and pause
// calls: the program instantiates it with the real ones, the tests with fakes.
// `Io` provides, as static functions:
//   int32_t write_port(int32_t port, int32_t value);
//   void write_safe_value(int32_t port, int32_t value);
//   void read_clock(timespec* now);   // the monotonic clock
//   void pause_us(uint32_t us);
#ifndef SWEEP_SWEEP_LOOP_H
#define SWEEP_SWEEP_LOOP_H

#include <stdint.h>
#include <time.h>

#include "sweep/sweep.h"

inline timeval timeval_of(const timespec& t) {
    timeval tv;
    tv.tv_sec = t.tv_sec;
    tv.tv_usec = static_cast<decltype(tv.tv_usec)>(t.tv_nsec / 1000);
    return tv;
}

inline int64_t microseconds_between(const timespec& from, const timespec& to) {
    return (static_cast<int64_t>(to.tv_sec) - from.tv_sec) * 1000000 +
           (static_cast<int64_t>(to.tv_nsec) - from.tv_nsec) / 1000;
}

// Writes until the controller accepts, pausing after every attempt. Gives up,
// returning false, once the write has been refused for refusal_limit_us since
// `first_attempt`; the clock is read for that on the refused path only.
template <class Io>
inline bool write_until_accepted(int32_t port, int32_t value, uint32_t delay,
                                 const timespec& first_attempt) {
    for (;;) {
        const int32_t result = Io::write_port(port, value);
        Io::pause_us(delay);
        if (result >= 0) return true;
        timespec now;
        Io::read_clock(&now);
        if (microseconds_between(first_attempt, now) >= refusal_limit_us) return false;
    }
}

template <class Io>
void sweep_outputs_through(const run_params& params, timing_log& log) {
    timespec reading;
    Io::read_clock(&reading);
    log.run_start = timeval_of(reading);
    log.iterations_done = 0;
    log.stopped_on_refusal = false;
    log.refused_port = 0;

    // Copied out of `params` so that nothing is reloaded inside a window.
    const uint32_t first = params.start_DO_number;
    const uint32_t delay = params.delay;
    Io::write_safe_value(static_cast<int32_t>(first), 1);

    const uint32_t iterations = params.iter < max_iterations ? params.iter : max_iterations;
    const uint32_t cycle = cycle_length(first, params.end_DO_number);
    // The port's offset in the cycle is carried from one iteration to the next
    // instead of divided out, so that working it out costs next to nothing and
    // happens before the iteration's first reading.
    uint32_t offset = 0;
    timing_entry* entry = log.entries;
    uint32_t i = 0;
    for (; i < iterations; ++i, entry += 2) {
        const int32_t port = static_cast<int32_t>(first + offset);
        const int32_t value = static_cast<int32_t>(i & 1u);
        timespec before;
        timespec after;

        // The measured window runs from the first reading to the second.
        entry[0].mark = mark_before_write;
        Io::read_clock(&before);
        if (!write_until_accepted<Io>(port, value, delay, before)) {
            log.stopped_on_refusal = true;
            log.refused_port = port;
            break;
        }
        entry[1].mark = mark_after_pause;
        Io::read_clock(&after);

        entry[0].time = timeval_of(before);
        entry[1].time = timeval_of(after);
        if (++offset == cycle) offset = 0;
    }
    log.iterations_done = i;

    Io::read_clock(&reading);
    log.run_end = timeval_of(reading);
}

#endif
