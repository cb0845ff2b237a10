#include "profile/profile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "profile/profile_analysis.h"
#include "profile/profile_files.h"
#include "profile/profile_options.h"
#include "profile/profile_output.h"
#include "profile/profile_sweep.h"
#include "profile/profile_usage.h"
#include "profile/trace_break.h"
#include "profile/system_settings.h"
#include "report/report.h"
#include "run/measure.h"
#include "run/run.h"
#include "run/usage.h"
#include "sweep/sweep_loop.h"

namespace {

// Static storage, reserved in full before the sweep and locked with the rest
// of the process when it may be: the record the sweep keeps, and the figures
// made of it; the same for a run of a second and of a day.
profile_log the_log;
profile_figures the_figures;
run_facts the_facts;
profile_options the_options;
profile_plan the_plan;
// --json FILE and --log FILE, opened before the sweep and open to the end of
// the run, for the printers and the records over time to write to.
profile_files the_files;
// --break's tracefs files, opened before the sweep.
trace_files the_trace;

// The process's resident memory in kB (VmRSS of /proc/self/status), or -1.
int64_t resident_kb() {
    FILE* status = fopen("/proc/self/status", "re");
    if (status == nullptr) return -1;
    // strtol, not sscanf: a C library from 2.7 on names sscanf otherwise.
    char line[128];
    int64_t kb = -1;
    while (fgets(line, sizeof line, status) != nullptr) {
        if (strncmp(line, "VmRSS:", 6) == 0) {
            kb = strtol(line + 6, nullptr, 10);
            break;
        }
    }
    fclose(status);
    return kb;
}

// What --help and --version print: all the run does, status 0 when it was delivered.
constexpr int exit_answered = 0;
int answered() { return output_delivered() ? exit_answered : exit_output_lost; }

struct profile_calls {
    static void lock_memory() { lock_all_memory(&the_facts); }
    static void sweep(const run_params&, profile_log& log) {
        log.resident_kb_before = resident_kb();
        sweep_outputs_profiled(the_plan, log);
        log.resident_kb_after = resident_kb();
    }
};

using report_text = char[refusal_notice_size + report_text_size];

// What plc_do_test prints after its sweep: the refusal notice, when it
// stopped on one, and the seven lines.
void format_plc_do_test_output(report_text& text, const run_params& params) {
    const profile_log& log = the_log;
    char notice[refusal_notice_size] = "";
    if (log.end == sweep_end::refused) {
        format_refusal_notice_of(notice, sizeof notice, params, log.refused_port, log.iterations_done);
    }
    char report[report_text_size];
    delay_stats stats = log.classes;
    stats.max_delay_us = log.iterations_done == 0 ? 0 : static_cast<uint64_t>(log.delay.max);
    format_report_between(report, sizeof report, log.run_start, log.run_end, stats);
    snprintf(text, sizeof text, "%s%s", notice, report);
}

void mark_trace(uint32_t iteration, uint32_t output, int64_t delay_us) {
    break_trace(&the_trace, iteration, output, static_cast<uint64_t>(delay_us));
}

void print_trace_lines(FILE* out) { print_trace_text(out, the_trace, the_log.end == sweep_end::broke); }

void print_trace_member(FILE* out) { print_trace_json(out, the_trace, the_log.end == sweep_end::broke); }

profile_run run_of(const char* report, bool under_way) {
    return profile_run{&the_options, &the_log,   &the_figures,     &the_facts, report, under_way, print_trace_lines,
                       print_trace_member};
}

// At SIGUSR1, between windows: the profile so far, as text, to standard
// error; the run goes on.
void dump_profile() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    the_log.run_end = timeval_of(now);
    analyse_profile(the_options.params, the_log, &the_figures);
    report_text report;
    format_plc_do_test_output(report, the_options.params);
    print_profile_text(stderr, run_of(report, true));
    fflush(stderr);
}

profile_plan plan_of(const profile_options& options) {
    profile_plan plan{};
    plan.params = options.params;
    plan.duration_us = options.duration_s * 1000000;
    plan.interval_us = uint64_t{options.interval_s} * 1000000;
    plan.limit_us = options.limit_us == not_asked ? not_limited : options.limit_us;
    plan.break_us = options.break_us == not_asked ? not_limited : options.break_us;
    plan.longest = options.longest;
    plan.samples = options.samples;
    plan.log_fd = -1;
    plan.on_break = nullptr;
    plan.on_dump = dump_profile;
    return plan;
}

// A delay above --limit, or the one that met --break.
constexpr int exit_limit_exceeded = 3;

// The status of a run whose profile was printed.
int status_of(const profile_log& log) {
    if (log.end == sweep_end::stopped) return 128 + log.stop_signal;
    if (log.end == sweep_end::refused) return exit_write_never_accepted;
    if (log.end == sweep_end::broke || log.limit.exceedances != 0) return exit_limit_exceeded;
    return exit_completed;
}

}  // namespace

int run_plc_do_profile(int argc, const char* const* argv, const char* identity) {
    ignore_closed_pipe();
    take_back_stop_signals();
    const int32_t cpus = static_cast<int32_t>(sysconf(_SC_NPROCESSORS_CONF));
    // The identity line alone, without the line feeds around it in the binary.
    const int identity_length = static_cast<int>(strcspn(identity, "\n"));
    profile_options& options = the_options;
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
    // From here on a stop signal ends the run with its profile, however
    // little of it ran.
    catch_profile_signals();

    snprintf(the_facts.identity, sizeof the_facts.identity, "%.*s", identity_length, identity);
    the_plan = plan_of(options);
    the_plan.log_fd = the_files.log_fd;
    if (options.break_us != not_asked) {
        // PLC_TRACEFS names tracefs where it is mounted elsewhere.
        const char* tracefs = getenv("PLC_TRACEFS");
        if (tracefs != nullptr && *tracefs != '\0') {
            open_trace_files_in(&the_trace, &tracefs, 1);
        } else {
            open_trace_files(&the_trace);
        }
        the_plan.on_break = mark_trace;
    }
    ask_cpu(options.cpu, &the_facts);
    ask_priority(options.priority, &the_facts);
    ask_timer_slack(options.timer_slack_ns, &the_facts);
    ask_dma_latency(options.dma_latency_us, &the_facts);
    measure<profile_calls>(options.params, &the_log);
    the_facts.wall_start = the_log.wall_start;
    read_system_facts(&the_facts);

    analyse_profile(options.params, the_log, &the_figures);
    report_text report;
    format_plc_do_test_output(report, options.params);
    const profile_run run = run_of(report, false);
    // --json FILE: the JSON there, the text on standard output.
    if (!options.json || the_files.json != nullptr) print_profile_text(stdout, run);
    if (options.json) print_profile_json(the_files.json != nullptr ? the_files.json : stdout, run);
    if (!output_delivered()) {
        fprintf(stderr, "plc_do_profile: the profile could not be written to standard output: %s\n",
                strerror(errno));
        return exit_output_lost;
    }
    if (the_files.json != nullptr && (fflush(the_files.json) != 0 || ferror(the_files.json) != 0)) {
        fprintf(stderr, "plc_do_profile: the profile could not be written to %s: %s\n", options.json_path,
                strerror(errno));
        return exit_output_lost;
    }
    return status_of(the_log);
}
