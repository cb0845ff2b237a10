// plc_do_profile's sweep, apart from plc_do_test's so that plc_do_test does
// not carry it; and the folding of each iteration into the profile's record.
// Everything here runs between windows: after an iteration's last reading,
// before the next one's first.
#include "profile/profile_sweep.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <limits>

#include "profile/profile_analysis.h"
#include "profile/utc_text.h"
#include "report/report.h"
#include "sweep/controller_io.h"
#include "sweep/sweep.h"

volatile sig_atomic_t profile_attention;
volatile sig_atomic_t profile_stop_signal;
volatile sig_atomic_t profile_dump_asked;

namespace {

void on_stop_signal(int number) {
    if (profile_stop_signal == 0) profile_stop_signal = number;
    profile_attention = 1;
}

void on_dump_signal(int) {
    profile_dump_asked = 1;
    profile_attention = 1;
}

void catch_signal(int number, void (*handler)(int)) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Calls other than the pause go on as if nothing came; the pause a
    // signal cuts short ends its iteration, which is then not counted.
    action.sa_flags = SA_RESTART;
    sigaction(number, &action, nullptr);
}

inline int64_t us_between(const timeval& from, const timeval& to) {
    return static_cast<int64_t>(to.tv_sec - from.tv_sec) * 1000000 + (to.tv_usec - from.tv_usec);
}

void start_tally(figure_tally* t) {
    t->min = INT32_MAX;
    t->max = INT32_MIN;
}

struct iteration_values {
    int32_t write, delay, oversleep;
    int32_t excess;  // delay - pause - 1: what the delays' histogram holds
};

// An iteration over 2000 s long (a pause asked for of that length): its
// figures worked out in 64 bits and held to 32 (counted in `held`); what
// holding takes from the oversleep's sum is kept for it.
__attribute__((noinline, cold)) iteration_values wide_values(profile_log* log, const fold_state& state) {
    // From the readings again, so that the fold keeps its own in registers.
    const timeval before = timeval_of(state.readings.before);
    const timeval after_write = timeval_of(state.readings.after_write);
    const timeval after = timeval_of(state.readings.after);
    int64_t wide[3] = {us_between(before, after_write), us_between(before, after), 0};
    if (wide[1] < 0) wide[1] = 0;
    wide[2] = us_between(after_write, after) - state.pause;
    int32_t held[3];
    for (int k = 0; k < 3; ++k) {
        held[k] = wide[k] > figure_held ? figure_held : wide[k] < -figure_held ? -figure_held : static_cast<int32_t>(wide[k]);
        if (held[k] != wide[k]) ++log->held;
    }
    // The oversleep's sum is the delays' less the writes' and the pauses asked for, plus this.
    log->oversleep_adjust += held[2] - (static_cast<int64_t>(held[1]) - held[0] - state.pause);
    const int64_t excess = static_cast<int64_t>(held[1]) - state.pause - 1;
    return iteration_values{held[0], held[1], held[2], excess < -figure_held ? -figure_held : static_cast<int32_t>(excess)};
}

// The second of the monotonic clock from which `at_us` after the sweep's
// first reading has come.
time_t second_of(const fold_state& state, int64_t at_us) {
    if (at_us == INT64_MAX) return std::numeric_limits<time_t>::max();
    uint32_t rest;
    const uint64_t seconds = divide(static_cast<uint64_t>(at_us + state.start.tv_usec), 1000000, &rest);
    return state.start.tv_sec + static_cast<time_t>(seconds);
}

void set_event_second(fold_state* state) {
    const int64_t next = state->interval_end_us < state->deadline_us ? state->interval_end_us : state->deadline_us;
    state->event_sec = second_of(*state, next);
}

// One JSON line for `record` appended to --log's file, in one write so
// that a run cut off leaves whole lines.
void log_interval(profile_log* log, const fold_state& state, const interval_record& record) {
    if (state.plan->log_fd < 0) return;
    utc_text start;
    char at[32];
    char length[32];
    char p99[24] = "null";
    char exceedances[16] = "null";
    if (record.iterations != 0) snprintf(p99, sizeof p99, "%ld", static_cast<long>(record.p99));
    if (state.plan->limit_us != not_limited) snprintf(exceedances, sizeof exceedances, "%u", record.exceedances);
    char line[320];
    const int length_written = snprintf(
        line, sizeof line,
        "{\"start\": \"%s\", \"at_s\": %s, \"length_s\": %s, \"iterations\": %u, \"max\": %lld, \"p99\": %s, "
        "\"exceedances\": %s}\n",
        format_utc(start, log->wall_start, record.at_us), seconds_text(at, record.at_us),
        seconds_text(length, static_cast<int64_t>(record.length_us)), record.iterations,
        static_cast<long long>(record.max), p99, exceedances);
    ssize_t written;
    do {
        written = write(state.plan->log_fd, line, static_cast<size_t>(length_written));
    } while (written < 0 && errno == EINTR);
    if (written != length_written) {
        ++log->log_errors;
        log->log_error = written < 0 ? errno : ENOSPC;
    }
}

// Two by two, when the store is full: each keeps the larger maximum and p99.
void merge_intervals(profile_log* log) {
    for (uint32_t i = 0; i < interval_records / 2; ++i) {
        const interval_record a = log->intervals[2 * i];
        const interval_record& b = log->intervals[2 * i + 1];
        interval_record& merged = log->intervals[i];
        merged = a;
        merged.length_us = a.length_us + b.length_us;
        merged.iterations = a.iterations + b.iterations;
        merged.exceedances = a.exceedances + b.exceedances;
        if (b.max > merged.max) merged.max = b.max;
        if (b.p99 > merged.p99) merged.p99 = b.p99;
    }
    log->intervals_closed = interval_records / 2;
    log->interval_us *= 2;
    ++log->interval_merges;
}

void close_interval(profile_log* log, fold_state* state, int64_t length_us) {
    interval_record& record = log->intervals[log->intervals_closed];
    record.length_us = static_cast<uint64_t>(length_us);
    if (record.iterations != 0) {
        record.p99 = static_cast<int32_t>(delay_percentile(log->interval_delays, record.iterations, 990, 0,
                                                           record.max, state->pause));
        memset(&log->interval_delays, 0, sizeof log->interval_delays);
    }
    log_interval(log, *state, record);
    ++log->intervals_closed;
}

void open_interval(profile_log* log, int64_t at_us) {
    if (log->intervals_closed == interval_records) merge_intervals(log);
    interval_record& next = log->intervals[log->intervals_closed];
    memset(&next, 0, sizeof next);
    next.at_us = at_us;
    next.length_us = log->interval_us;
}

// The iteration ending at `after` came at or past the end of an interval or
// of the duration: intervals it passed are closed. True when the duration
// has passed: the iteration is the sweep's last.
__attribute__((noinline, cold)) bool pass_time(profile_log* log, fold_state* state) {
    const int64_t now_us = us_between(state->start, timeval_of(state->readings.after));
    while (now_us >= state->interval_end_us) {
        const int64_t at_us = log->intervals[log->intervals_closed].at_us;
        close_interval(log, state, state->interval_end_us - at_us);
        open_interval(log, state->interval_end_us);
        state->interval_end_us += static_cast<int64_t>(log->interval_us);
    }
    set_event_second(state);
    if (now_us < state->deadline_us) return false;
    log->end = sweep_end::duration;
    return true;
}

// A signal came: the iteration is not counted. False when it stops the run.
__attribute__((noinline, cold)) bool attend(profile_log* log, fold_state* state) {
    profile_attention = 0;
    ++log->interrupted;
    if (profile_stop_signal != 0) {
        log->end = sweep_end::stopped;
        log->stop_signal = profile_stop_signal;
        return false;
    }
    if (profile_dump_asked != 0) {
        profile_dump_asked = 0;
        if (state->plan->on_dump != nullptr) state->plan->on_dump();
    }
    return true;
}

// The figures of the iteration just folded, worked out again from its
// readings for the rare uses that need all of them.
iteration_figures figures_of(const fold_state& state, uint32_t port, uint32_t value) {
    const write_reading& r = state.readings;
    const timeval before = timeval_of(r.before);
    const timeval after_write = timeval_of(r.after_write);
    const timeval after = timeval_of(r.after);
    iteration_figures f;
    f.iteration = state.log->iterations_done;
    f.output = port;
    f.value = value;
    f.attempts = r.refused + 1;
    f.at_us = us_between(state.start, before);
    f.write_us = us_between(before, after_write);
    f.delay_us = us_between(before, after);
    if (f.delay_us < 0) f.delay_us = 0;
    f.oversleep_us = us_between(after_write, after) - state.plan->params.delay;
    return f;
}

// Of two of the longest delays, the one to give up first: the shorter, and
// of equal ones the later.
bool gives_way(const iteration_figures& a, const iteration_figures& b) {
    return a.delay_us < b.delay_us || (a.delay_us == b.delay_us && a.iteration > b.iteration);
}

__attribute__((noinline, cold)) void keep_longest(profile_log* log, fold_state* state, uint32_t port, uint32_t value) {
    const iteration_figures f = figures_of(*state, port, value);
    iteration_figures* heap = log->longest_heap;
    const uint32_t most = state->plan->longest;
    uint32_t at;
    if (log->longest < most) {
        at = log->longest++;
        while (at != 0 && gives_way(f, heap[(at - 1) / 2])) {
            heap[at] = heap[(at - 1) / 2];
            at = (at - 1) / 2;
        }
        heap[at] = f;
    } else {
        const iteration_figures& kept = f;
        at = 0;
        for (;;) {
            uint32_t child = 2 * at + 1;
            if (child >= most) break;
            if (child + 1 < most && gives_way(heap[child + 1], heap[child])) ++child;
            if (!gives_way(heap[child], kept)) break;
            heap[at] = heap[child];
            at = child;
        }
        heap[at] = kept;
    }
    if (log->longest == most) state->longest_bar = static_cast<int32_t>(heap[0].delay_us);
}

__attribute__((noinline, cold)) void note_longest(profile_log* log, const fold_state& state) {
    log->max_iteration = log->iterations_done;
    log->max_at_us = us_between(state.start, timeval_of(state.readings.before));
}

__attribute__((noinline)) void keep_sample(profile_log* log, const fold_state& state, uint32_t port, uint32_t value) {
    log->samples[log->iterations_done] = figures_of(state, port, value);
}

// A delay above --limit or --break. False when it breaks the run.
__attribute__((noinline, cold)) bool exceeded(profile_log* log, fold_state* state, uint32_t port, uint32_t value) {
    const profile_plan& plan = *state->plan;
    const iteration_figures f = figures_of(*state, port, value);
    if (f.delay_us > plan.limit_us) {
        limit_tally& t = log->limit;
        const int64_t at_us = f.at_us;
        if (t.exceedances != 0 && t.last + 1 == f.iteration) {
            ++t.streak;
        } else {
            t.streak = 1;
            t.streak_first = f.iteration;
            t.streak_at_us = at_us;
        }
        if (t.streak > t.longest_streak) {
            t.longest_streak = t.streak;
            t.longest_streak_first = t.streak_first;
            t.longest_streak_at_us = t.streak_at_us;
        }
        if (t.exceedances == 0) {
            t.first = f.iteration;
            t.first_at_us = at_us;
        }
        t.last = f.iteration;
        t.last_at_us = at_us;
        ++t.exceedances;
        ++log->intervals[log->intervals_closed].exceedances;
    }
    if (f.delay_us <= plan.break_us) return true;
    log->end = sweep_end::broke;
    log->break_iteration = f.iteration;
    log->break_output = f.output;
    log->break_delay = f.delay_us;
    if (plan.on_break != nullptr) plan.on_break(f.iteration, f.output, f.delay_us);
    return false;
}

}  // namespace

void catch_profile_signals() {
    catch_signal(SIGINT, on_stop_signal);
    catch_signal(SIGTERM, on_stop_signal);
    catch_signal(SIGHUP, on_stop_signal);
    catch_signal(SIGUSR1, on_dump_signal);
}

void begin_profile(const profile_plan& plan, const timespec& start, profile_log* log, fold_state* state) {
    const run_params& p = plan.params;
    state->readings.refused = 0;
    state->log = log;
    state->plan = &plan;
    state->start = timeval_of(start);
    state->first = p.start_DO_number;
    state->last = p.start_DO_number + cycle_length(p.start_DO_number, p.end_DO_number) - 1;
    state->wanted = p.iter;
    state->samples_kept = plan.samples ? max_iterations : 0;
    state->pause = p.delay;
    state->longest_bar = plan.longest == 0 ? INT32_MAX : -1;
    const int64_t bar = plan.limit_us < plan.break_us ? plan.limit_us : plan.break_us;
    state->attention_bar = bar > INT32_MAX ? INT32_MAX : static_cast<int32_t>(bar);
    state->interval_end_us = static_cast<int64_t>(plan.interval_us);
    state->deadline_us = plan.duration_us == 0 ? INT64_MAX : static_cast<int64_t>(plan.duration_us);
    set_event_second(state);

    log->run_start = state->start;
    log->end = sweep_end::completed;
    start_tally(&log->delay);
    start_tally(&log->write);
    start_tally(&log->oversleep);
    log->delay.max = -1;  // every delay, 0 included, is a new longest at first
    log->classes.max_delay_us = 0;
    const uint32_t cycle = state->last - state->first + 1;
    log->outputs = cycle > output_rows ? output_rows + 1 : cycle;
    for (output_tally& o : log->per_output) {
        o.write_min = INT32_MAX;
        o.write_max = INT32_MIN;
        o.longest_delay = INT32_MIN;
    }
    log->interval_us = plan.interval_us;
    open_interval(log, 0);
}

bool stopped_before_sweep(profile_log* log) {
    if (profile_stop_signal == 0) return false;
    log->end = sweep_end::stopped;
    log->stop_signal = profile_stop_signal;
    return true;
}

void record_refusal(profile_log* log, uint32_t port) {
    log->end = sweep_end::refused;
    log->refused_port = static_cast<int32_t>(port);
}

bool fold_iteration(fold_state* state, uint32_t port, uint32_t value) {
    profile_log* const log = state->log;
    write_reading* const readings = &state->readings;
    if (__builtin_expect(profile_attention != 0, 0)) return attend(log, state);
    const timeval before = timeval_of(readings->before);
    const timeval after_write = timeval_of(readings->after_write);
    const timeval after = timeval_of(readings->after);
    // Up to 2000 s, the figures fit 32 bits: worked out from the first
    // reading with two multiplications, not three.
    const uint32_t seconds = static_cast<uint32_t>(after.tv_sec - before.tv_sec);
    iteration_values v;
    if (__builtin_expect(seconds > 2000, 0)) {
        v = wide_values(log, *state);
    } else {
        v.write = static_cast<int32_t>(after_write.tv_sec - before.tv_sec) * 1000000 +
                  static_cast<int32_t>(after_write.tv_usec - before.tv_usec);
        const int32_t to_after =
            static_cast<int32_t>(seconds) * 1000000 + static_cast<int32_t>(after.tv_usec - before.tv_usec);
        v.delay = to_after < 0 ? 0 : to_after;  // as plc_do_test counts a pair read out of order
        v.oversleep = static_cast<int32_t>(static_cast<uint32_t>(to_after - v.write) - state->pause);
        v.excess = static_cast<int32_t>(static_cast<uint32_t>(to_after) - state->pause - 1);
    }
    const int32_t write = v.write;
    const int32_t delay = v.delay;
    const int32_t oversleep = v.oversleep;

    bool last = false;
    if (__builtin_expect(after.tv_sec >= state->event_sec, 0)) last = pass_time(log, state);

    // The writes' minimum, maximum and sum are their outputs', the
    // oversleeps' sum the delays' less the writes' and the pauses.
    const uint32_t delay_bin = histogram_bin(v.excess);
    if (delay > log->delay.max) {
        note_longest(log, *state);
        log->delay.max = delay;
    }
    if (delay < log->delay.min) log->delay.min = delay;
    log->delay.sum += delay;
    ++log->delay.histogram.counts[delay_bin];
    ++log->write.histogram.counts[histogram_bin(write)];
    if (oversleep < log->oversleep.min) log->oversleep.min = oversleep;
    if (oversleep > log->oversleep.max) log->oversleep.max = oversleep;
    ++log->oversleep.histogram.counts[histogram_bin(oversleep)];
    count_delay_class(&log->classes, static_cast<uint32_t>(delay));
    if (__builtin_expect(v.excess >= 1000000, 0)) ++log->over_second;

    uint32_t row = port - state->first;
    if (row > output_rows) row = output_rows;
    output_tally& o = log->per_output[row];
    ++o.writes;
    if (write < o.write_min) o.write_min = write;
    if (write > o.write_max) o.write_max = write;
    o.write_sum += write;
    if (delay > o.longest_delay) o.longest_delay = delay;

    ++log->interval_delays.counts[delay_bin];
    interval_record& now = log->intervals[log->intervals_closed];
    ++now.iterations;
    if (delay > now.max) now.max = delay;

    if (__builtin_expect(delay > state->longest_bar, 0)) keep_longest(log, state, port, value);
    if (__builtin_expect(delay > state->attention_bar, 0) && !exceeded(log, state, port, value)) last = true;
    const uint32_t iteration = log->iterations_done;
    if (__builtin_expect(iteration < state->samples_kept, 0)) keep_sample(log, *state, port, value);
    log->iterations_done = iteration + 1;
    readings->refused = 0;
    return !last && iteration + 1 != state->wanted;
}

void end_profile(profile_log* log, fold_state* state, const timespec& end) {
    log->run_end = timeval_of(end);
    const int64_t at_us = log->intervals[log->intervals_closed].at_us;
    const int64_t length_us = us_between(state->start, log->run_end) - at_us;
    close_interval(log, state, length_us < 0 ? 0 : length_us);
}

void sweep_outputs_profiled(const profile_plan& plan, profile_log& log) {
    sweep_profiled_through<controller_io>(plan, log);
}
