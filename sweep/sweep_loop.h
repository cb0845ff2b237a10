// The sweep itself, written once over a set of controller, clock and pause
// calls: the program instantiates it with the real ones, the tests with fakes.
// `Io` provides, as static functions:
//   int32_t write_port(int32_t port, int32_t value);
//   void write_safe_value(int32_t port, int32_t value);
//   void read_clock(timespec* now);   // the monotonic clock
//   void pause_us(uint32_t us);
// `Extra` is what an iteration keeps beside its two readings: nothing
// (plc_do_test), or the reading after its accepted write and the number of
// its refused attempts (plc_do_profile).
#ifndef SWEEP_SWEEP_LOOP_H
#define SWEEP_SWEEP_LOOP_H

#include <stdint.h>
#include <time.h>

#include "sweep/sweep.h"

// The nanoseconds of a reading lie in [0, 10^9): an unsigned 32-bit
// division by a constant is enough for them, and the cheapest one on every
// target (a multiply and a shift).
inline timeval timeval_of(const timespec& t) {
    timeval tv;
    tv.tv_sec = t.tv_sec;
    tv.tv_usec = static_cast<decltype(tv.tv_usec)>(static_cast<uint32_t>(t.tv_nsec) / 1000u);
    return tv;
}

inline int64_t microseconds_between(const timespec& from, const timespec& to) {
    // The nanoseconds differ by less than a second: 32-bit arithmetic is
    // enough for them, and spares a 32-bit target a 64-bit division.
    const int32_t nanoseconds = static_cast<int32_t>(to.tv_nsec - from.tv_nsec);
    return (static_cast<int64_t>(to.tv_sec) - from.tv_sec) * 1000000 + nanoseconds / 1000;
}

// Whether a write refused since `first_attempt` has been refused for too
// long. Inline in each sweep's refused path, so that neither pays a call.
template <class Io>
__attribute__((always_inline)) inline bool refused_for_too_long(const timespec& first_attempt) {
    timespec now;
    Io::read_clock(&now);
    return microseconds_between(first_attempt, now) >= refusal_limit_us;
}

// plc_do_test's iterations keep nothing more. Another kind of `Extra`
// brings its own overloads of these three, found beside its type.
struct no_write_reading {};

// Inside a window, just after the accepted write returned.
template <class Io>
inline void read_after_write(no_write_reading*) {}

// On the refused path: how many attempts were refused before the accepted one.
inline void count_refused(no_write_reading*, uint32_t) {}

// After the iteration's second reading, outside its window.
inline void keep_write_reading(no_write_reading*) {}

// After a refused attempt at a write: its pause, then new attempts, each
// followed by its pause, until the controller accepts (true) or the write has
// been refused for refusal_limit_us since `first_attempt` (false). Out of
// line and cold, so that the loop keeps its registers and its accepted path
// holds no more than the write, one test, plc_do_profile's reading and the
// pause.
template <class Io, class Extra>
__attribute__((noinline, cold)) bool retry_refused_write(int32_t port, int32_t value, uint32_t delay,
                                                         const timespec& first_attempt, Extra* extra) {
    for (uint32_t refused = 1;; ++refused) {
        Io::pause_us(delay);
        if (refused_for_too_long<Io>(first_attempt)) return false;
        if (Io::write_port(port, value) >= 0) {
            read_after_write<Io>(extra);
            count_refused(extra, refused);
            Io::pause_us(delay);
            return true;
        }
    }
}

// Writes until the controller accepts, pausing after every attempt. Gives up,
// returning false, once the write has been refused for refusal_limit_us since
// `first_attempt`; the clock is read for that on the refused path only. The
// result is tested before the pause, so that it need not be kept across it.
template <class Io, class Extra>
inline bool write_until_accepted(int32_t port, int32_t value, uint32_t delay,
                                 const timespec& first_attempt, Extra* extra) {
    if (__builtin_expect(Io::write_port(port, value) < 0, 0)) {
        return retry_refused_write<Io>(port, value, delay, first_attempt, extra);
    }
    read_after_write<Io>(extra);
    Io::pause_us(delay);
    return true;
}

// Left to itself, clang calls plc_do_profile's time_one_write out of line,
// and a window reloads its arguments from the stack; GCC inlines both
// programs' (forced, it lays plc_do_test's loop out differently).
#if defined(__clang__)
#define SWEEP_ITERATION_INLINE __attribute__((always_inline)) inline
#else
#define SWEEP_ITERATION_INLINE inline
#endif

// One iteration, from the reading before its write to the reading after its
// last pause. Returns false, leaving the second entry alone, when the write
// was never accepted.
template <class Io, class Extra>
SWEEP_ITERATION_INLINE bool time_one_write(timing_entry* pair, int32_t port, int32_t value, uint32_t delay,
                           timespec* before, timespec* after, Extra* extra) {
    pair[0].mark = mark_before_write;
    Io::read_clock(before);
    if (!write_until_accepted<Io>(port, value, delay, *before, extra)) return false;
    pair[1].mark = mark_after_pause;
    Io::read_clock(after);
    pair[0].time = timeval_of(*before);
    pair[1].time = timeval_of(*after);
    keep_write_reading(extra);
    return true;
}

// Steps `port` through the cycle and `pair` past the iteration's entries,
// before the iteration's first reading. The empty asm is a compiler barrier
// that needs the step's results and the readings' addresses in registers
// where it stands: the compiler can neither sink the step into the window
// that follows nor work an address out there again. `port`, and `pair` where
// `hide_pair` says, come out of it as values the compiler cannot see through,
// so that it cannot rework the loop's end test inside the window either.
template <bool hide_pair>
inline void next_iteration(uint32_t& port, timing_entry*& pair, timespec* before, timespec* after,
                           uint32_t first, uint32_t last) {
    port = port == last ? first : port + 1;
    pair += 2;
    if (hide_pair) {
        asm volatile("" : "+r"(port), "+r"(pair) : "r"(before), "r"(after) : "memory");
    } else {
        asm volatile("" : "+r"(port) : "r"(pair), "r"(before), "r"(after) : "memory");
    }
}

// Hidden in both halves, GCC copies the pair between registers inside a
// window; a plain input in the second, clang reworks the end test inside the
// first window. bench/run counts both.
#if defined(__clang__)
constexpr bool hide_second_pair = true;
#else
constexpr bool hide_second_pair = false;
#endif

// The sweep stops at a write refused for too long: `pair` lies past its entries.
inline void record_refusal(timing_log& log, const timing_entry* pair, uint32_t port) {
    log.iterations_done = static_cast<uint32_t>((pair - log.entries) / 2 - 1);
    log.stopped_on_refusal = true;
    log.refused_port = static_cast<int32_t>(port);
}

template <class Io, class Extra = no_write_reading>
void sweep_outputs_through(const run_params& params, timing_log& log, Extra* extra = nullptr) {
    timespec reading;
    Io::read_clock(&reading);
    log.run_start = timeval_of(reading);
    log.stopped_on_refusal = false;
    log.refused_port = 0;

    // Copied out of `params` so that nothing is reloaded inside a window.
    const uint32_t first = params.start_DO_number;
    const uint32_t delay = params.delay;
    Io::write_safe_value(static_cast<int32_t>(first), 1);

    const uint32_t iterations = params.iter < max_iterations ? params.iter : max_iterations;
    log.iterations_done = iterations;
    // The port is carried from one iteration to the next and set back to the
    // first output where the cycle ends (arithmetic modulo 2^32), instead of
    // divided out of the iteration number. The loop is unrolled by two so
    // that the value written is a constant. Each iteration steps the port
    // and pair of the one before (the port before the first is the cycle's
    // last) before its first reading, so that its window holds nothing of the
    // loop's work: docs/benchmark.md counts it.
    const uint32_t last = first + cycle_length(first, params.end_DO_number) - 1;
    uint32_t port = last;
    timing_entry* pair = log.entries;  // past the entries of the iteration before
    timing_entry* const end = log.entries + 2 * iterations;
    timespec before;
    timespec after;
    while (pair != end) {
        next_iteration<true>(port, pair, &before, &after, first, last);
        if (!time_one_write<Io>(pair - 2, static_cast<int32_t>(port), 0, delay, &before, &after, extra)) {
            record_refusal(log, pair, port);
            break;
        }
        if (pair == end) break;
        next_iteration<hide_second_pair>(port, pair, &before, &after, first, last);
        if (!time_one_write<Io>(pair - 2, static_cast<int32_t>(port), 1, delay, &before, &after, extra)) {
            record_refusal(log, pair, port);
            break;
        }
    }

    Io::read_clock(&reading);
    log.run_end = timeval_of(reading);
}

#endif
