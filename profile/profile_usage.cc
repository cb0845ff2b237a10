#include "profile/profile_usage.h"

#include <stdio.h>

#include "profile/profile_options.h"

void print_profile_usage() {
    fputs("usage: plc_do_profile iter delay start_DO_number end_DO_number [use_safe_thread] [option...]\n"
          "The timed sweep of plc_do_test, profiled: which output, when, and whether the\n"
          "write or the wake-up after the pause took the time.\n"
          "  iter = iterations, at most 10000\n"
          "  delay = pause after every write attempt, in microseconds\n"
          "  start_DO_number = first digital output (for 100=25, for 110=42)\n"
          "  end_DO_number = last digital output (for 100=35, for 110=60)\n"
          "  use_safe_thread = read as plc_do_test reads it; nothing depends on it\n"
          "Options, anywhere among the parameters:\n"
          "  --priority N  run the sweep at SCHED_FIFO priority N (1 to 99)\n"
          "  --cpu N       run the sweep on CPU N only\n"
          "  --json        the profile as one JSON object\n"
          "  --samples     every iteration's figures too\n"
          "  --longest K   list the K longest delays (default 10, at most 10000)\n",
          stdout);
}

void print_option_problem(const option_problem& problem, int cpus) {
    switch (problem.fault) {
        case option_fault::none:
            return;
        case option_fault::unknown:
            fprintf(stderr, "plc_do_profile: unknown option %s (options: --priority N, --cpu N, --json, "
                            "--samples, --longest K)\n", problem.option);
            return;
        case option_fault::missing_value:
        case option_fault::malformed_value:
            fprintf(stderr, "plc_do_profile: %s needs %s%s%s%s\n", problem.option, problem.takes,
                    problem.value ? ", not \"" : "", problem.value ? problem.value : "", problem.value ? "\"" : "");
            return;
        case option_fault::no_such_cpu:
            fprintf(stderr, "plc_do_profile: --cpu %s: no such CPU (this system has CPUs 0 to %i)\n",
                    problem.value, cpus - 1);
            return;
    }
}
