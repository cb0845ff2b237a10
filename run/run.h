// The run sequence: command line, sweep, report, exit status.
#ifndef RUN_RUN_H
#define RUN_RUN_H

#include <stddef.h>

#include "run/run_params.h"
#include "sweep/timing_log.h"

// Exit statuses. A completed run ends with 1, not 0; scripts rely on it.
constexpr int exit_refused_command_line = -1;  // seen by the shell as 255
constexpr int exit_completed = 1;
constexpr int exit_write_never_accepted = 2;
// The report (or the notice before it) could not be written: EX_IOERR of
// sysexits.h, in place of 1 or 2.
constexpr int exit_output_lost = 74;

// A report written into a pipe nobody reads ends with exit_output_lost, not
// by SIGPIPE. Called before anything is printed, far from the sweep.
void ignore_closed_pipe();

// INT and QUIT end the program, even where its starter ignored them.
void take_back_stop_signals();

// Whether everything written to standard output so far has reached it: a
// report nobody received is no completed run.
bool output_delivered();

// Everything `main` does: returns the process's exit status.
int run_plc_do_test(int argc, const char* const* argv);

// "output N refused every write for 10 s; run stopped after K of M iterations"
// and a line feed, as text (its numbers of 10 digits at most) or on standard output.
constexpr size_t refusal_notice_size = 128;
void format_refusal_notice(char* text, size_t size, const run_params& params, const timing_log& log);
// The same from the output refused and the iterations completed before it.
void format_refusal_notice_of(char* text, size_t size, const run_params& params, int32_t refused_port,
                              uint32_t iterations_done);
void print_refusal_notice(const run_params& params, const timing_log& log);

// A safe thread's body: keeps the safe value of output 42 at 1, showing a "*"
// every 20 ms. The program starts no such thread; the routine is kept for
// controllers whose outputs need one.
[[noreturn]] void safe_thread_loop();

#endif
