#include "profile/profile_options.h"

#include <string.h>

namespace {

// A plain decimal number from `least` to `most`: digits only, no blanks,
// sign or base, unlike the positional parameters. -1 when it is not one.
int64_t decimal_in_range(const char* text, int64_t least, int64_t most) {
    if (*text == '\0') return -1;
    int64_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return -1;
        value = value * 10 + (*c - '0');
        if (value > most) return -1;
    }
    return value < least ? -1 : value;
}

bool is_option(const char* word) { return word[0] == '-' && word[1] == '-'; }

// The row of the option named `name`, or nullptr.
const option_row* option_named(const char* name) {
    for (const option_row& row : option_table) {
        if (strcmp(row.name, name) == 0) return &row;
    }
    return nullptr;
}

// Sets what `sets` names to `value` (a flag's: true).
void set_option(option_sets sets, int64_t value, profile_options* options) {
    switch (sets) {
        case option_sets::json:
            options->json = true;
            return;
        case option_sets::samples:
            options->samples = true;
            return;
        case option_sets::priority:
            options->priority = static_cast<int32_t>(value);
            return;
        case option_sets::cpu:
            options->cpu = static_cast<int32_t>(value);
            return;
        case option_sets::longest:
            options->longest = static_cast<uint32_t>(value);
            return;
    }
}

// Sets the option at argv[*at] (and its value, stepping *at past it);
// false with `problem` filled when it is refused.
bool read_option(int argc, const char* const* argv, int* at, int32_t cpus, profile_options* options,
                 option_problem* problem) {
    const char* name = argv[*at];
    *problem = option_problem{option_fault::none, name, nullptr, nullptr};
    const option_row* row = option_named(name);
    if (row == nullptr) {
        problem->fault = option_fault::unknown;
        return false;
    }
    if (row->kind == option_kind::flag) {
        set_option(row->sets, 1, options);
        return true;
    }
    problem->takes = row->takes;
    if (*at + 1 >= argc) {
        problem->fault = option_fault::missing_value;
        return false;
    }
    problem->value = argv[++*at];
    const int64_t value = decimal_in_range(problem->value, row->least, row->most);
    if (value < 0) {
        problem->fault = option_fault::malformed_value;
        return false;
    }
    if (row->kind == option_kind::cpu_number && value >= cpus) {
        problem->fault = option_fault::no_such_cpu;
        return false;
    }
    set_option(row->sets, value, options);
    return true;
}

}  // namespace

profile_verdict read_profile_command_line(int argc, const char* const* argv, int32_t cpus,
                                          profile_options* options, option_problem* problem) {
    *options = profile_options{};
    options->priority = no_priority;
    options->cpu = any_cpu;
    options->longest = default_longest;
    options->interval_s = default_interval_s;
    options->limit_us = not_asked;
    options->break_us = not_asked;
    options->timer_slack_ns = not_asked;
    options->dma_latency_us = not_asked;
    *problem = option_problem{option_fault::none, nullptr, nullptr, nullptr};

    // The program name and the first five positional parameters, in order:
    // plc_do_test reads no more.
    const char* positional[6] = {argc > 0 ? argv[0] : "", nullptr, nullptr, nullptr, nullptr, nullptr};
    int count = 1;
    for (int at = 1; at < argc; ++at) {
        if (!is_option(argv[at])) {
            if (count < 6) positional[count++] = argv[at];
        } else if (!read_option(argc, argv, &at, cpus, options, problem)) {
            return profile_verdict::option_refused;
        }
    }

    switch (read_command_line(count, positional, &options->params)) {
        case command_line_verdict::show_usage:
            return profile_verdict::show_usage;
        case command_line_verdict::too_many_iterations:
            return profile_verdict::too_many_iterations;
        case command_line_verdict::run:
            break;
    }
    return profile_verdict::run;
}
