#include "run/profile.h"

#include <stdio.h>
#include <unistd.h>

#include "report/report.h"
#include "run/measure.h"
#include "run/profile_options.h"
#include "run/run.h"
#include "run/usage.h"
#include "sweep/sweep.h"

namespace {

timing_log the_log;

struct controller_calls {
    static void lock_memory() {}
    static void sweep(const run_params& params, timing_log& log) { sweep_outputs(params, log); }
};

}  // namespace

int run_plc_do_profile(int argc, const char* const* argv, const char* identity) {
    (void)identity;
    const int32_t cpus = static_cast<int32_t>(sysconf(_SC_NPROCESSORS_CONF));
    profile_options options;
    option_problem problem;
    switch (read_profile_command_line(argc, argv, cpus, &options, &problem)) {
        case profile_verdict::option_refused:
            print_option_problem(problem, cpus);
            return exit_refused_command_line;
        case profile_verdict::show_usage:
            print_profile_usage();
            return exit_refused_command_line;
        case profile_verdict::too_many_iterations:
            print_iteration_limit();
            return exit_refused_command_line;
        case profile_verdict::run:
            break;
    }
    measure<controller_calls>(options.params, &the_log);
    if (the_log.stopped_on_refusal) print_refusal_notice(options.params, the_log);
    print_report(the_log, analyse_log(options.params, the_log));
    if (fflush(stdout) != 0 || ferror(stdout)) return exit_output_lost;
    return the_log.stopped_on_refusal ? exit_write_never_accepted : exit_completed;
}
