// plc_do_profile's output after the sweep: the report of plc_do_test, the
// run's facts and its figures, as text or as one JSON object.
#ifndef PROFILE_PROFILE_OUTPUT_H
#define PROFILE_PROFILE_OUTPUT_H

#include <stdint.h>

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
};

void print_profile_text(const profile_run& run);
void print_profile_json(const profile_run& run);

// `text` as a JSON string: quoted, every byte outside printable ASCII escaped.
void print_json_string(const char* text);

// A scheduling policy's name ("SCHED_FIFO"), or "policy N".
const char* policy_name(int policy, char (&unknown)[24]);

#endif
