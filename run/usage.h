// The texts plc_do_test answers a refused command line with; plc_do_profile's
// own are in profile/profile_usage.h.
#ifndef RUN_USAGE_H
#define RUN_USAGE_H

// The usage text, for a command line of fewer than four parameters.
void print_usage();

// The message for an iteration count above the limit.
void print_iteration_limit();

#endif
