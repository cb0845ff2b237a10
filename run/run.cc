#include "run/run.h"

#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>

#include "plc/plc.h"
#include "report/report.h"
#include "run/measure.h"
#include "run/usage.h"
#include "sweep/sweep.h"

namespace {

// Static storage: neither on the stack nor on the heap, and reserved in full
// before the sweep.
timing_log the_log;

// Deeper than anything the clock, pause and controller calls of the sweep use.
constexpr size_t stack_to_touch = 64 * 1024;

struct controller_calls {
    static void lock_memory() {
#ifndef PLC_DO_TEST_NO_MLOCK
        // Without the privilege the run goes on unlocked; the operator still
        // gets a measurement.
        (void)mlockall(MCL_CURRENT | MCL_FUTURE);
#endif
    }
    static void sweep(const run_params& params, timing_log& log) { sweep_outputs(params, log); }
};

}  // namespace

bool output_delivered() { return fflush(stdout) == 0 && !ferror(stdout); }

__attribute__((noinline)) void touch_stack() {
    volatile unsigned char area[stack_to_touch];
    for (size_t i = 0; i < sizeof area; i += 256) area[i] = 0;
}

void format_refusal_notice(char* text, size_t size, const run_params& params, const timing_log& log) {
    format_refusal_notice_of(text, size, params, log.refused_port, log.iterations_done);
}

void format_refusal_notice_of(char* text, size_t size, const run_params& params, int32_t refused_port,
                              uint32_t iterations_done) {
    snprintf(text, size, "output %u refused every write for %i s; run stopped after %u of %u iterations\n",
             static_cast<unsigned>(static_cast<uint32_t>(refused_port)),
             static_cast<int>(refusal_limit_us / 1000000), static_cast<unsigned>(iterations_done),
             static_cast<unsigned>(params.iter));
}

void print_refusal_notice(const run_params& params, const timing_log& log) {
    char text[refusal_notice_size];
    format_refusal_notice(text, sizeof text, params, log);
    fputs(text, stdout);
}

void ignore_closed_pipe() {
    // A reader that went away (`plc_do_test ... | head -1`) makes a write fail
    // with EPIPE instead of killing the program, so that a lost report ends
    // with its own status, like a full disk's.
    signal(SIGPIPE, SIG_IGN);
}

void take_back_stop_signals() {
    // The single file runs the binary in the background, where the shell
    // starts it with INT and QUIT ignored, and passes those signals on: they
    // stop the program as they would in the foreground.
    signal(SIGINT, SIG_DFL);
    signal(SIGQUIT, SIG_DFL);
}

int run_plc_do_test(int argc, const char* const* argv) {
    ignore_closed_pipe();
    take_back_stop_signals();
    run_params params;
    switch (read_command_line(argc, argv, &params)) {
        case command_line_verdict::show_usage:
            print_usage();
            return exit_refused_command_line;
        case command_line_verdict::too_many_iterations:
            print_iteration_limit();
            return exit_refused_command_line;
        case command_line_verdict::run:
            break;
    }

    measure<controller_calls>(params, &the_log);

    if (the_log.stopped_on_refusal) print_refusal_notice(params, the_log);
    print_report(the_log, analyse_log(params, the_log));
    // A report nobody received is no completed run.
    if (!output_delivered()) return exit_output_lost;
    return the_log.stopped_on_refusal ? exit_write_never_accepted : exit_completed;
}

void safe_thread_loop() {
    for (;;) {
        plc_write_port_safe_value(42, 1);
        putchar('*');
        plc_wait_ms(20);
    }
}
