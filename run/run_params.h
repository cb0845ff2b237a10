// The five positional parameters of a run and how the command line becomes them.
#ifndef RUN_RUN_PARAMS_H
#define RUN_RUN_PARAMS_H

#include <stdint.h>

struct run_params {
    uint32_t iter;             // iterations of the sweep, one output write each
    uint32_t delay;            // pause after every write attempt, in microseconds
    uint32_t start_DO_number;  // first digital output of the sweep
    uint32_t end_DO_number;    // last digital output of the sweep
    uint32_t use_safe_thread;  // read when given; nothing depends on it
};

// The timing log holds two readings per iteration for this many iterations.
constexpr uint32_t max_iterations = 10000;

// Converts one parameter exactly as a 32-bit C library's strtoul(text, NULL, 0)
// does, whatever the width of unsigned long on the machine running it: blanks
// skipped, one optional sign, 0x/0X for hexadecimal, a leading 0 for octal,
// conversion up to the first character that is not a digit, 0 when there is no
// number, 4294967295 when the magnitude does not fit in 32 bits (sign or not),
// and a minus sign negating modulo 2^32.
uint32_t convert_param(const char* text);

enum class command_line_verdict {
    show_usage,           // fewer than four parameters
    too_many_iterations,  // iter above max_iterations
    run,
};

// Fills `params` from the process arguments (argv[0] is the program name) and
// says what the run sequence does next. Reads argv[1] to argv[5] at most and
// never past argc; a missing fifth parameter leaves use_safe_thread 0.
command_line_verdict read_command_line(int argc, const char* const* argv, run_params* params);

#endif
