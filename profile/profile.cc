#include "profile/profile.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "profile/profile_analysis.h"
#include "profile/profile_files.h"
#include "profile/profile_options.h"
#include "profile/profile_output.h"
#include "profile/profile_sweep.h"
#include "profile/profile_usage.h"
#include "profile/system_settings.h"
#include "report/report.h"
#include "run/measure.h"
#include "run/run.h"

namespace {

// Static storage, reserved in full before the sweep and locked with the rest
// of the process when it may be: the readings, and the figures made of them.
profile_log the_log;
profile_figures the_figures;
run_facts the_facts;
// --json FILE and --log FILE, opened before the sweep and open to the end of
// the run, for the printers and the records over time to write to. Nothing
// writes to them yet: the JSON still goes to standard output.
profile_files the_files;

// What --help and --version print: all the run does, status 0 when it was delivered.
constexpr int exit_answered = 0;
int answered() { return output_delivered() ? exit_answered : exit_output_lost; }

struct profile_calls {
    static void lock_memory() { lock_all_memory(&the_facts); }
    static void sweep(const run_params& params, profile_log& log) { sweep_outputs_profiled(params, log); }
};

// What plc_do_test prints after its sweep: the refusal notice, when it
// stopped on one, and the seven lines.
void format_plc_do_test_output(char (&text)[refusal_notice_size + report_text_size], const run_params& params) {
    const timing_log& log = the_log.timing;
    char notice[refusal_notice_size] = "";
    if (log.stopped_on_refusal) format_refusal_notice(notice, sizeof notice, params, log);
    char report[report_text_size];
    format_report(report, sizeof report, log, analyse_log(params, log));
    snprintf(text, sizeof text, "%s%s", notice, report);
}

}  // namespace

int run_plc_do_profile(int argc, const char* const* argv, const char* identity) {
    ignore_closed_pipe();
    const int32_t cpus = static_cast<int32_t>(sysconf(_SC_NPROCESSORS_CONF));
    // The identity line alone, without the line feeds around it in the binary.
    const int identity_length = static_cast<int>(strcspn(identity, "\n"));
    profile_options options;
    option_problem problem;
    switch (read_profile_command_line(argc, argv, cpus, &options, &problem)) {
        case profile_verdict::option_refused:
            print_option_problem(problem, cpus);
            return exit_refused_command_line;
        case profile_verdict::show_usage:
            print_profile_usage();
            return exit_refused_command_line;
        case profile_verdict::show_help:
            print_profile_usage();
            return answered();
        case profile_verdict::show_version:
            printf("%.*s\n", identity_length, identity);
            return answered();
        case profile_verdict::run:
            break;
    }
    if (!open_profile_files(options, &the_files)) return exit_refused_command_line;

    snprintf(the_facts.identity, sizeof the_facts.identity, "%.*s", identity_length, identity);
    ask_cpu(options.cpu, &the_facts);
    ask_priority(options.priority, &the_facts);
    ask_timer_slack(options.timer_slack_ns, &the_facts);
    ask_dma_latency(options.dma_latency_us, &the_facts);
    measure<profile_calls>(options.params, &the_log);
    read_system_facts(&the_facts);

    analyse_profile(options.params, the_log, options.longest, &the_figures);
    char report[refusal_notice_size + report_text_size];
    format_plc_do_test_output(report, options.params);
    const profile_run run{&options, &the_log, &the_figures, &the_facts, report};
    if (options.json) {
        print_profile_json(stdout, run);
    } else {
        print_profile_text(stdout, run);
    }
    if (!output_delivered()) return exit_output_lost;
    return the_log.timing.stopped_on_refusal ? exit_write_never_accepted : exit_completed;
}
