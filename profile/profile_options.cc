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

// Seconds in one of a length of time's units, or 0 for no unit.
int64_t unit_seconds(char unit) {
    switch (unit) {
        case 's':
            return 1;
        case 'm':
            return 60;
        case 'h':
            return 3600;
        case 'd':
            return 86400;
        default:
            return 0;
    }
}

constexpr int64_t no_unit_given = -2;

// A length of time, "90m", in seconds from `least` to `most`; no_unit_given
// for a bare number, -1 for anything else.
int64_t seconds_in_range(const char* text, int64_t least, int64_t most) {
    const size_t digits = strspn(text, "0123456789");
    if (digits == 0) return -1;
    if (text[digits] == '\0') return no_unit_given;
    const int64_t unit = unit_seconds(text[digits]);
    if (unit == 0 || text[digits + 1] != '\0' || digits > 12) return -1;
    int64_t count = 0;
    for (size_t i = 0; i < digits; ++i) count = count * 10 + (text[i] - '0');
    const int64_t seconds = count * unit;
    return seconds < least || seconds > most ? -1 : seconds;
}

bool is_option(const char* word) { return word[0] == '-' && word[1] == '-'; }

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// "-p", "-json": neither an option nor a number a positional parameter may hold.
bool is_single_dash_word(const char* word) { return word[0] == '-' && is_letter(word[1]); }

// Whether `word` may be --json's file: a word a positional number could not
// begin, so that "--json 25" still leaves 25 a positional parameter.
bool may_be_file(const char* word) { return *word != '\0' && strchr("0123456789-+ \t\n\v\f\r", *word) == nullptr; }

// The row of the option named by the first `length` bytes of `name`, or nullptr.
const option_row* option_named(const char* name, size_t length) {
    for (const option_row& row : option_table) {
        if (strncmp(row.name, name, length) == 0 && row.name[length] == '\0') return &row;
    }
    return nullptr;
}

// Sets what `sets` names to `value`, or `text` for a file (a flag's value: 1).
void set_option(option_sets sets, int64_t value, const char* text, profile_options* options) {
    switch (sets) {
        case option_sets::json:
            options->json = true;
            options->json_path = text;
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
        case option_sets::break_after:
            options->break_us = value;
            return;
        case option_sets::timer_slack:
            options->timer_slack_ns = value;
            return;
        case option_sets::dma_latency:
            options->dma_latency_us = value;
            return;
        case option_sets::help:
        case option_sets::version:
            return;
    }
}

// The value of a row that takes one, read from `text`: its number (a file:
// 0); false with `problem` filled when it is refused.
bool read_value(const option_row& row, const char* text, int32_t cpus, int64_t* value, option_problem* problem) {
    problem->value = text;
    switch (row.kind) {
        case option_kind::file:
        case option_kind::flag_or_file:
            *value = 0;
            problem->fault = *text == '\0' ? option_fault::malformed_value : option_fault::none;
            break;
        case option_kind::duration:
            *value = seconds_in_range(text, row.least, row.most);
            problem->fault = *value == no_unit_given ? option_fault::no_unit
                             : *value < 0           ? option_fault::malformed_value
                                                    : option_fault::none;
            break;
        case option_kind::flag:
        case option_kind::number:
        case option_kind::cpu_number:
            *value = decimal_in_range(text, row.least, row.most);
            problem->fault = *value < 0 ? option_fault::malformed_value
                             : row.kind == option_kind::cpu_number && *value >= cpus ? option_fault::no_such_cpu
                                                                                     : option_fault::none;
            break;
    }
    return problem->fault == option_fault::none;
}

// The options read so far, one bit for each row of the table.
using rows_seen = uint32_t;
static_assert(sizeof option_table / sizeof option_table[0] <= 32, "one bit for each row");

// Sets the option at argv[*at], "--name" or "--name=value" (and its value
// in the next word, stepping *at past it); false with `problem` filled when
// it is refused.
bool read_option(int argc, const char* const* argv, int* at, int32_t cpus, rows_seen* seen,
                 profile_options* options, option_problem* problem) {
    const char* word = argv[*at];
    const char* equals = strchr(word, '=');
    const option_row* row = option_named(word, equals ? static_cast<size_t>(equals - word) : strlen(word));
    *problem = option_problem{option_fault::unknown, word, nullptr, nullptr};
    if (row == nullptr) return false;
    problem->option = row->name;
    problem->takes = row->takes;
    const rows_seen bit = rows_seen{1} << (row - option_table);
    if (*seen & bit) {
        problem->fault = option_fault::repeated;
        return false;
    }
    *seen |= bit;

    const char* text = equals ? equals + 1 : nullptr;
    if (row->kind == option_kind::flag && text != nullptr) {
        problem->fault = option_fault::flag_value;
        problem->value = text;
        return false;
    }
    if (text == nullptr && row->kind == option_kind::flag_or_file && *at + 1 < argc && may_be_file(argv[*at + 1])) {
        text = argv[++*at];
    }
    if (text == nullptr && row->kind != option_kind::flag && row->kind != option_kind::flag_or_file) {
        if (*at + 1 >= argc) {
            problem->fault = option_fault::missing_value;
            return false;
        }
        text = argv[++*at];
    }
    int64_t value = 1;
    if (text != nullptr && !read_value(*row, text, cpus, &value, problem)) return false;
    set_option(row->sets, value, text, options);
    *problem = option_problem{option_fault::none, nullptr, nullptr, nullptr};
    return true;
}

void set_defaults(profile_options* options) {
    *options = profile_options{};
    options->priority = no_priority;
    options->cpu = any_cpu;
    options->longest = default_longest;
    options->interval_s = default_interval_s;
    options->limit_us = not_asked;
    options->break_us = not_asked;
    options->timer_slack_ns = not_asked;
    options->dma_latency_us = not_asked;
}

// What --help or --version, just read, asks instead of a run; `run` for any other.
profile_verdict asked_instead(const char* word) {
    if (strcmp(word, "--help") == 0) return profile_verdict::show_help;
    if (strcmp(word, "--version") == 0) return profile_verdict::show_version;
    return profile_verdict::run;
}

}  // namespace

profile_verdict read_profile_command_line(int argc, const char* const* argv, int32_t cpus,
                                          profile_options* options, option_problem* problem) {
    set_defaults(options);
    *problem = option_problem{option_fault::none, nullptr, nullptr, nullptr};

    // The program name and the first five positional parameters, in order:
    // plc_do_test reads no more.
    const char* positional[6] = {argc > 0 ? argv[0] : "", nullptr, nullptr, nullptr, nullptr, nullptr};
    int count = 1;
    bool options_ended = false;
    rows_seen seen = 0;
    for (int at = 1; at < argc; ++at) {
        const char* word = argv[at];
        if (options_ended || !(is_option(word) || is_single_dash_word(word))) {
            if (count < 6) positional[count++] = word;
        } else if (strcmp(word, "--") == 0) {
            options_ended = true;
        } else if (is_single_dash_word(word)) {
            *problem = option_problem{option_fault::single_dash, word, nullptr, nullptr};
            return profile_verdict::option_refused;
        } else if (!read_option(argc, argv, &at, cpus, &seen, options, problem)) {
            return profile_verdict::option_refused;
        } else if (asked_instead(word) != profile_verdict::run) {
            // Whatever follows is neither read nor refused: the text is all that is asked.
            return asked_instead(word);
        }
    }

    // Any iteration count is taken: plc_do_test's limit is its log's, and
    // read_command_line fills every parameter before it names that limit.
    if (read_command_line(count, positional, &options->params) == command_line_verdict::show_usage) {
        return profile_verdict::show_usage;
    }
    return profile_verdict::run;
}
