#include "profile/profile_usage.h"

#include <stdio.h>
#include <string.h>

#include "profile/profile_options.h"

namespace {

// The width of the usage text's column of options, two blanks after the widest.
constexpr int help_column = 18;

constexpr size_t length_of(const char* text) { return *text ? 1 + length_of(text + 1) : 0; }

// "--priority N": an option as the usage text names it.
constexpr size_t named_length(const option_row& row) {
    return length_of(row.name) + (row.value ? 1 + length_of(row.value) : 0);
}

// The options named one after the other, ", " between them.
constexpr size_t all_named_length() {
    size_t length = 0;
    for (const option_row& row : option_table) length += named_length(row) + 2;
    return length;
}

using option_text = char[32];
using options_text = char[256];

constexpr bool every_name_fits() {
    for (const option_row& row : option_table) {
        if (named_length(row) >= sizeof(option_text) || named_length(row) + 2 > help_column) return false;
    }
    return all_named_length() < sizeof(options_text);
}
static_assert(every_name_fits(), "an option's name fits its column and the line listing them all");

// "--priority N", or "--json" for a flag.
void format_option(option_text& text, const option_row& row) {
    snprintf(text, sizeof text, "%s%s%s", row.name, row.value ? " " : "", row.value ? row.value : "");
}

// "-p": the option it may have meant ("--priority"), when one begins so.
void print_single_dash(const char* word) {
    for (const option_row& row : option_table) {
        if (strncmp(row.name + 2, word + 1, strlen(word + 1)) == 0) {
            fprintf(stderr, "plc_do_profile: %s: options begin with --, as in %s\n", word, row.name);
            return;
        }
    }
    fprintf(stderr, "plc_do_profile: %s: options begin with -- (plc_do_profile --help lists them)\n", word);
}

}  // namespace

void print_profile_usage() {
    fputs("usage: plc_do_profile iter delay start_DO_number end_DO_number [use_safe_thread] [option...]\n"
          "The timed sweep of plc_do_test, profiled: which output, when, and whether the\n"
          "write or the wake-up after the pause took the time.\n"
          "  iter = iterations, up to 4294967295\n"
          "  delay = pause after every write attempt, in microseconds\n"
          "  start_DO_number = first digital output (for 100=25, for 110=42)\n"
          "  end_DO_number = last digital output (for 100=35, for 110=60)\n"
          "  use_safe_thread = read as plc_do_test reads it; nothing depends on it\n"
          "Options, anywhere among the parameters until \"--\"; a value also as --option=value:\n",
          stdout);
    for (const option_row& row : option_table) {
        option_text option;
        format_option(option, row);
        printf("  %-*s%s\n", help_column, option, row.help);
    }
}

void print_option_problem(const option_problem& problem, int cpus) {
    switch (problem.fault) {
        case option_fault::none:
            return;
        case option_fault::unknown: {
            // Every option of the table as the usage text names it, in one line written at once.
            options_text options = "";
            size_t length = 0;
            for (const option_row& row : option_table) {
                option_text option;
                format_option(option, row);
                length += snprintf(options + length, sizeof options - length, "%s%s", length ? ", " : "", option);
            }
            fprintf(stderr, "plc_do_profile: unknown option %s (options: %s)\n", problem.option, options);
            return;
        }
        case option_fault::missing_value:
        case option_fault::malformed_value:
            fprintf(stderr, "plc_do_profile: %s needs %s%s%s%s\n", problem.option, problem.takes,
                    problem.value ? ", not \"" : "", problem.value ? problem.value : "", problem.value ? "\"" : "");
            return;
        case option_fault::no_unit:
            fprintf(stderr, "plc_do_profile: %s %s: the unit is needed: %ss, %sm, %sh or %sd\n", problem.option,
                    problem.value, problem.value, problem.value, problem.value, problem.value);
            return;
        case option_fault::flag_value:
            fprintf(stderr, "plc_do_profile: %s takes no value, not \"%s\"\n", problem.option, problem.value);
            return;
        case option_fault::repeated:
            fprintf(stderr, "plc_do_profile: %s given twice\n", problem.option);
            return;
        case option_fault::single_dash:
            print_single_dash(problem.option);
            return;
        case option_fault::no_such_cpu:
            fprintf(stderr, "plc_do_profile: %s %s: no such CPU (this system has CPUs 0 to %i)\n", problem.option,
                    problem.value, cpus - 1);
            return;
    }
}
