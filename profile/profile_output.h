// plc_do_profile's output after the sweep: the report of plc_do_test, the
// run's facts and its figures, as text or as one JSON object.
#ifndef REPORT_PROFILE_OUTPUT_H
#define REPORT_PROFILE_OUTPUT_H

#include <stdint.h>

#include "report/profile_analysis.h"
#include "run/profile_options.h"
#include "sweep/profile_log.h"

// What the system gave the run, and what it refused (an errno; 0: nothing).
struct run_facts {
    char identity[128];  // the program's identity line
    char kernel_release[80];
    char kernel_version[80];
    int32_t cpus_online;
    int policy;        // obtained for the sweep: SCHED_OTHER, SCHED_FIFO, ...
    int32_t priority;  // obtained
    int priority_error;  // why the priority asked for was refused
    int32_t cpu;         // the only CPU the sweep could run on, or any_cpu
    int cpu_error;       // why the CPU asked for was refused
    bool memory_locked;
    int lock_error;  // why memory is not locked; -1: not tried in this build
    int64_t clock_resolution_ns;
};

// What a run printed: the report as plc_do_test prints it (the refusal
// notice first when the sweep stopped on one), the facts, the figures.
struct profile_run {
    const profile_options* options;
    const profile_log* log;
    const profile_figures* figures;
    const run_facts* facts;
    const char* report;
};

void print_profile_text(const profile_run& run);
void print_profile_json(const profile_run& run);

// `text` as a JSON string: quoted, every byte outside printable ASCII escaped.
void print_json_string(const char* text);

// A scheduling policy's name ("SCHED_FIFO"), or "policy N".
const char* policy_name(int policy, char (&unknown)[24]);

#endif
