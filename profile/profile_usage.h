// The texts plc_do_profile answers a refused command line with (the
// iteration limit's is plc_do_test's, run/usage.h). Apart from plc_do_test's,
// so that plc_do_test does not carry them.
#ifndef PROFILE_PROFILE_USAGE_H
#define PROFILE_PROFILE_USAGE_H

// plc_do_profile's usage text, options included, in plain lines.
void print_profile_usage();

struct option_problem;

// The line naming a refused option of plc_do_profile, on standard error.
// `cpus`: how many CPUs the system has.
void print_option_problem(const option_problem& problem, int cpus);

#endif
