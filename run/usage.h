// The texts the programs answer a refused command line with.
#ifndef RUN_USAGE_H
#define RUN_USAGE_H

// The usage text, for a command line of fewer than four parameters.
void print_usage();

// The message for an iteration count above the limit.
void print_iteration_limit();

// plc_do_profile's usage text, options included, in plain lines.
void print_profile_usage();

struct option_problem;

// The line naming a refused option of plc_do_profile, on standard error.
// `cpus`: how many CPUs the system has.
void print_option_problem(const option_problem& problem, int cpus);

#endif
