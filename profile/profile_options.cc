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

// "-p": a dash and a letter, a habit of other tools; "-1" stays a number.
bool is_single_dash(const char* word) {
    return word[0] == '-' && ((word[1] >= 'a' && word[1] <= 'z') || (word[1] >= 'A' && word[1] <= 'Z'));
}

// "8h": a whole number and its unit, as seconds from `least` to `most`; -1 when it is not one.
int64_t span_in_range(const char* text, int64_t least, int64_t most) {
    const size_t length = strlen(text);
    if (length < 2) return -1;
    int64_t unit;
    switch (text[length - 1]) {
        case 's': unit = 1; break;
        case 'm': unit = 60; break;
        case 'h': unit = 3600; break;
        case 'd': unit = 86400; break;
        default: return -1;
    }
    int64_t value = 0;
    for (size_t at = 0; at + 1 < length; ++at) {
        if (text[at] < '0' || text[at] > '9') return -1;
        value = value * 10 + (text[at] - '0');
        if (value * unit > most) return -1;
    }
    value *= unit;
    return value < least ? -1 : value;
}

// The row of the option named `name`, or nullptr.
const option_row* option_named(const char* name) {
    for (const option_row& row : option_table) {
        if (strcmp(row.name, name) == 0) return &row;
    }
    return nullptr;
}

// Sets what `sets` names to `value` (a flag's: true; a path's: `text`).
void set_option(option_sets sets, int64_t value, const char* text, profile_options* options) {
    switch (sets) {
        case option_sets::duration:
            options->duration_s = static_cast<uint64_t>(value);
            return;
        case option_sets::interval:
            options->interval_s = static_cast<uint32_t>(value);
            return;
        case option_sets::log:
            options->log_path = text;
            return;
        case option_sets::limit:
            options->limit_us = value;
            return;
        case option_sets::breaks:
            options->break_us = value;
            return;
        case option_sets::help:
            options->help = true;
            return;
        case option_sets::version:
            options->version = true;
            return;
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
bool read_option(int argc, const char* const* argv, int* at, int32_t cpus, uint32_t* given,
                 profile_options* options, option_problem* problem) {
    const char* word = argv[*at];
    *problem = option_problem{option_fault::none, word, nullptr, nullptr};
    // "--name=value": the name, and the value after the sign.
    static char name[32];
    const char* equals = strchr(word, '=');
    const char* inline_value = nullptr;
    if (equals != nullptr && static_cast<size_t>(equals - word) < sizeof name) {
        memcpy(name, word, static_cast<size_t>(equals - word));
        name[equals - word] = '\0';
        problem->option = name;
        inline_value = equals + 1;
    }
    const option_row* row = option_named(problem->option);
    if (row == nullptr) {
        problem->option = word;
        problem->fault = option_fault::unknown;
        return false;
    }
    const uint32_t bit = 1u << (row - option_table);
    if (*given & bit) {
        problem->fault = option_fault::repeated;
        return false;
    }
    *given |= bit;
    if (row->kind == option_kind::flag) {
        if (inline_value != nullptr) {
            problem->value = word;
            problem->fault = option_fault::flag_value;
            return false;
        }
        set_option(row->sets, 1, nullptr, options);
        return true;
    }
    problem->takes = row->takes;
    if (inline_value == nullptr && *at + 1 >= argc) {
        problem->fault = option_fault::missing_value;
        return false;
    }
    problem->value = inline_value != nullptr ? inline_value : argv[++*at];
    if (row->kind == option_kind::path) {
        if (*problem->value == '\0') {
            problem->fault = option_fault::malformed_value;
            return false;
        }
        set_option(row->sets, 0, problem->value, options);
        return true;
    }
    const int64_t value = row->kind == option_kind::span ? span_in_range(problem->value, row->least, row->most)
                                                         : decimal_in_range(problem->value, row->least, row->most);
    if (value < 0) {
        problem->fault = option_fault::malformed_value;
        return false;
    }
    if (row->kind == option_kind::cpu_number && value >= cpus) {
        problem->fault = option_fault::no_such_cpu;
        return false;
    }
    set_option(row->sets, value, nullptr, options);
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
    uint32_t given = 0;  // a bit for each option of the table given
    bool options_ended = false;
    for (int at = 1; at < argc; ++at) {
        const char* word = argv[at];
        if (!options_ended && strcmp(word, "--") == 0) {
            options_ended = true;
        } else if (options_ended || (!is_option(word) && !is_single_dash(word))) {
            if (count < 6) positional[count++] = word;
        } else if (!is_option(word)) {
            *problem = option_problem{option_fault::single_dash, word, nullptr, nullptr};
            return profile_verdict::option_refused;
        } else if (!read_option(argc, argv, &at, cpus, &given, options, problem)) {
            return profile_verdict::option_refused;
        }
    }
    if (options->help) return profile_verdict::show_help;
    if (options->version) return profile_verdict::show_version;

    // Any number of iterations: the profile keeps no log of them.
    switch (read_command_line(count, positional, &options->params)) {
        case command_line_verdict::show_usage:
            return profile_verdict::show_usage;
        case command_line_verdict::too_many_iterations:
        case command_line_verdict::run:
            break;
    }
    return profile_verdict::run;
}
