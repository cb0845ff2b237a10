// plc_do_profile's sweep: plc_do_test's, with one more reading in each
// iteration, just after its accepted write returns, and every iteration's
// figures folded into the profile's record after its window closes. It runs
// for as many iterations as asked, up to 4294967295, or until a duration
// has passed, a signal stops it, or --break's delay comes.
#ifndef PROFILE_PROFILE_SWEEP_H
#define PROFILE_PROFILE_SWEEP_H

#include <signal.h>
#include <stdint.h>
#include <sys/time.h>
#include <time.h>

#include "profile/profile_log.h"
#include "run/run_params.h"
#include "sweep/sweep_loop.h"

// What the sweep is asked to do beyond plc_do_test's parameters.
struct profile_plan {
    run_params params;
    uint64_t duration_us;  // 0: as long as the iterations take
    uint64_t interval_us;  // the records over time
    int64_t limit_us;      // not_limited: no --limit
    int64_t break_us;      // not_limited: no --break
    uint32_t longest;      // how many of the longest delays to keep
    bool samples;          // keep the first iterations' figures
    int log_fd;            // --log's file, or -1
    // At --break's delay, before the run stops: the kernel's trace marked and stopped.
    void (*on_break)(uint32_t iteration, uint32_t output, int64_t delay_us);
    // At SIGUSR1, between windows: the profile so far to standard error.
    void (*on_dump)();
};

constexpr int64_t not_limited = INT64_MAX;

// Set by the signal handlers, read between windows: a stop signal's number
// in profile_stop_signal, SIGUSR1 in profile_dump_asked, and either in
// profile_attention, the one word the sweep reads after each window.
extern volatile sig_atomic_t profile_attention;
extern volatile sig_atomic_t profile_stop_signal;
extern volatile sig_atomic_t profile_dump_asked;

// INT, TERM and HUP stop the run after the iteration under way, USR1 asks
// for the profile so far.
void catch_profile_signals();

// What an iteration keeps beside its two readings, filled inside its window.
// The sweep's loop finds the two overloads below beside this type.
struct write_reading {
    timespec before;
    timespec after_write;  // read just after the accepted write returned
    timespec after;
    uint32_t refused;      // attempts refused before it; set on the refused path only
};

template <class Io>
inline void read_after_write(write_reading* extra) {
    Io::read_clock(&extra->after_write);
}

inline void count_refused(write_reading* extra, uint32_t refused) { extra->refused = refused; }

// What the folding of iterations carries from one to the next.
struct fold_state {
    write_reading readings;  // the iteration under way's
    profile_log* log;
    const profile_plan* plan;
    timeval start;           // the sweep's first reading
    uint32_t first, last;    // the cycle's outputs
    uint32_t wanted;         // iterations asked for
    uint32_t samples_kept;   // 0, or max_iterations with --samples
    uint32_t pause;          // asked for, in us
    int32_t longest_bar;     // a delay above it is among the longest kept
    int32_t attention_bar;   // a delay above it exceeds --limit or --break
    time_t event_sec;        // from this second on, an interval may end or the duration pass
    int64_t interval_end_us, deadline_us;  // from the sweep's first reading
};

// Readies `log` and `state` for the sweep that began at `start`.
void begin_profile(const profile_plan& plan, const timespec& start, profile_log* log, fold_state* state);

// Folds one iteration, writing `value` to `port`, into the record: false
// when the sweep ends here.
bool fold_iteration(fold_state* state, uint32_t port, uint32_t value);

// Closes the interval under way at the sweep's end (written to --log too).
void end_profile(profile_log* log, fold_state* state, const timespec& end);

// A stop signal that came before the sweep began: no iteration is run.
bool stopped_before_sweep(profile_log* log);

// The write to `port` was refused for 10 s: the sweep stops.
void record_refusal(profile_log* log, uint32_t port);

// The port before the iteration's first reading, stepped where the empty
// asm stands: the compiler can neither sink the step into the window nor
// rework it there.
inline void next_port(uint32_t& port, uint32_t first, uint32_t last, write_reading* readings) {
    port = port == last ? first : port + 1;
    asm volatile("" : "+r"(port) : "r"(&readings->before), "r"(&readings->after_write), "r"(&readings->after) : "memory");
}

template <class Io>
__attribute__((always_inline)) inline bool profiled_write(uint32_t port, int32_t value, uint32_t delay,
                                                           write_reading* r) {
    Io::read_clock(&r->before);
    if (!write_until_accepted<Io>(static_cast<int32_t>(port), value, delay, r->before, r)) return false;
    Io::read_clock(&r->after);
    return true;
}

template <class Io>
void sweep_profiled_through(const profile_plan& plan, profile_log& log) {
    fold_state state;  // begin_profile fills it: zeroing it here would call memset before the first reading
    write_reading* const readings = &state.readings;
    Io::read_clock(&readings->before);
    gettimeofday(&log.wall_start, nullptr);
    begin_profile(plan, readings->before, &log, &state);
    const uint32_t first = state.first;
    const uint32_t last = state.last;
    const uint32_t delay = plan.params.delay;
    Io::write_safe_value(static_cast<int32_t>(first), 1);

    // Unrolled by two so that the value written is a constant; the port is
    // carried from one iteration to the next.
    uint32_t port = last;
    if (state.wanted != 0 && !stopped_before_sweep(&log)) {
        for (;;) {
            next_port(port, first, last, readings);
            if (!profiled_write<Io>(port, 0, delay, readings)) {
                record_refusal(&log, port);
                break;
            }
            if (!fold_iteration(&state, port, 0)) break;
            next_port(port, first, last, readings);
            if (!profiled_write<Io>(port, 1, delay, readings)) {
                record_refusal(&log, port);
                break;
            }
            if (!fold_iteration(&state, port, 1)) break;
        }
    }
    timespec end;
    Io::read_clock(&end);
    end_profile(&log, &state, end);
}

// The sweep of `plan` against the controller.
void sweep_outputs_profiled(const profile_plan& plan, profile_log& log);

#endif
