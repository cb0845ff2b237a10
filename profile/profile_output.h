// plc_do_profile's output after the sweep (or, at SIGUSR1, during it): the
// report of plc_do_test, the run's facts and its figures, as text or as one
// JSON object.
#ifndef PROFILE_PROFILE_OUTPUT_H
#define PROFILE_PROFILE_OUTPUT_H

#include <stdint.h>
#include <stdio.h>

#include "profile/profile_analysis.h"
#include "profile/profile_log.h"
#include "profile/profile_options.h"
#include "profile/system_settings.h"

// What a run printed: the report as plc_do_test prints it (the refusal
// notice first when the sweep stopped on one), the facts, the figures.
struct profile_run {
    const profile_options* options;
    const profile_log* log;
    const profile_figures* figures;
    const run_facts* facts;
    const char* report;
    bool under_way;  // the profile so far, the run going on
    // What --break found of the kernel's tracing, printed by its own code.
    void (*print_trace_text)(FILE* out);
    void (*print_trace_json)(FILE* out);
};

void print_profile_text(FILE* out, const profile_run& run);
void print_profile_json(FILE* out, const profile_run& run);

// "SIGINT", or "signal N".
const char* signal_name(int number, char (&unknown)[24]);

#endif
