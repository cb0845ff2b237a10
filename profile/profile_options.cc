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

// Sets the option at argv[*at] (and its value, stepping *at past it);
// false with `problem` filled when it is refused.
bool read_option(int argc, const char* const* argv, int* at, int32_t cpus, profile_options* options,
                 option_problem* problem) {
    const char* name = argv[*at];
    *problem = option_problem{option_fault::none, name, nullptr, nullptr};
    if (strcmp(name, "--json") == 0) {
        options->json = true;
        return true;
    }
    if (strcmp(name, "--samples") == 0) {
        options->samples = true;
        return true;
    }
    const bool priority = strcmp(name, "--priority") == 0;
    const bool cpu = strcmp(name, "--cpu") == 0;
    const bool longest = strcmp(name, "--longest") == 0;
    if (!priority && !cpu && !longest) {
        problem->fault = option_fault::unknown;
        return false;
    }
    problem->takes = priority ? "a priority from 1 to 99" : cpu ? "a CPU number" : "a count from 0 to 10000";
    if (*at + 1 >= argc) {
        problem->fault = option_fault::missing_value;
        return false;
    }
    problem->value = argv[++*at];
    const int64_t most = priority ? 99 : cpu ? INT32_MAX : max_iterations;
    const int64_t value = decimal_in_range(problem->value, priority ? 1 : 0, most);
    if (value < 0) {
        problem->fault = option_fault::malformed_value;
        return false;
    }
    if (cpu && value >= cpus) {
        problem->fault = option_fault::no_such_cpu;
        return false;
    }
    if (priority) options->priority = static_cast<int32_t>(value);
    if (cpu) options->cpu = static_cast<int32_t>(value);
    if (longest) options->longest = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

profile_verdict read_profile_command_line(int argc, const char* const* argv, int32_t cpus,
                                          profile_options* options, option_problem* problem) {
    *options = profile_options{};
    options->priority = no_priority;
    options->cpu = any_cpu;
    options->longest = default_longest;
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
