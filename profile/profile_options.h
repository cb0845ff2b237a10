// The command line of plc_do_profile: plc_do_test's five positional
// parameters, read as plc_do_test reads them, and options beginning with "--"
// anywhere among them.
#ifndef PROFILE_PROFILE_OPTIONS_H
#define PROFILE_PROFILE_OPTIONS_H

#include <stdint.h>

#include "run/run_params.h"

constexpr int32_t no_priority = -1;  // the sweep runs at the policy it was started with
constexpr int32_t any_cpu = -1;      // the sweep runs on whichever CPUs it may
constexpr uint32_t default_longest = 10;
constexpr int64_t not_asked = -1;          // a limit, break or setting not given
constexpr uint32_t default_interval_s = 60;
constexpr int64_t max_span_s = int64_t{36500} * 86400;  // --duration: at most 36500d

struct profile_options {
    run_params params;
    int32_t priority;  // SCHED_FIFO priority asked for, or no_priority
    int32_t cpu;       // the only CPU asked for, or any_cpu
    bool json;         // the profile as one JSON object
    const char* json_path;  // --json FILE: the JSON there, the text on standard output; nullptr: standard output
    bool samples;      // the first iterations' figures too
    bool help, version;
    uint32_t longest;  // how many of the longest delays to list
    uint64_t duration_s;     // --duration: the sweep ends after this many seconds too; 0: none
    uint32_t interval_s;     // --interval: the length of each record over time
    const char* log_path;    // --log FILE: one JSON line per interval appended there; nullptr: none
    int64_t limit_us;        // --limit: delays above it are counted, or not_asked
    int64_t break_us;        // --break: the first delay above it stops the run, or not_asked
    int64_t timer_slack_ns;  // --timer-slack: the timer slack asked for, or not_asked
    int64_t dma_latency_us;  // --dma-latency: held in /dev/cpu_dma_latency, or not_asked
};

// What an option's value is: none (a flag), a plain decimal number in the
// row's range, or such a number that must also be a CPU of this system.
// a whole number of seconds, minutes, hours or days ("8h"), or a file's path.
enum class option_kind { flag, number, cpu_number, span, path };

// What an option sets in profile_options.
enum class option_sets { json, samples, priority, cpu, longest, duration, interval, log, limit, breaks, help, version };

// One option of plc_do_profile, as its parser, its usage text and the line
// naming a refused option read it.
struct option_row {
    const char* name;     // "--priority"
    const char* value;    // the value's word in the usage text ("N"), or nullptr for a flag
    option_kind kind;
    int64_t least, most;  // the value's range
    const char* takes;    // "a priority from 1 to 99", for a value missing or malformed
    const char* help;     // its line in the usage text
    option_sets sets;
};

// Every option, in the order the usage text lists them. A new option is its
// row here, what it sets (option_sets and set_option), its test rows and
// its lines in docs/profile.md and docs/man/plc_do_profile.1.
inline constexpr option_row option_table[] = {
    {"--priority", "N", option_kind::number, 1, 99, "a priority from 1 to 99",
     "run the sweep at SCHED_FIFO priority N (1 to 99)", option_sets::priority},
    {"--cpu", "N", option_kind::cpu_number, 0, INT32_MAX, "a CPU number", "run the sweep on CPU N only",
     option_sets::cpu},
    {"--json", nullptr, option_kind::flag, 0, 0, nullptr, "the profile as one JSON object", option_sets::json},
    {"--samples", nullptr, option_kind::flag, 0, 0, nullptr, "every iteration's figures too", option_sets::samples},
    {"--longest", "K", option_kind::number, 0, max_iterations, "a count from 0 to 10000",
     "list the K longest delays (default 10, at most 10000)", option_sets::longest},
    {"--duration", "D", option_kind::span, 1, max_span_s, "a whole number followed by s, m, h or d (8h)",
     "end the sweep after D too (30s, 90m, 8h, 2d)", option_sets::duration},
    {"--interval", "T", option_kind::span, 1, 86400, "a whole number followed by s, m, h or d, at most 1d",
     "records over time every T (default 60s)", option_sets::interval},
    {"--log", "FILE", option_kind::path, 0, 0, "a file", "append each record over time to FILE, a JSON line",
     option_sets::log},
    {"--limit", "US", option_kind::number, 0, UINT32_MAX, "microseconds from 0 to 4294967295",
     "count the delays above US; status 3 if any", option_sets::limit},
    {"--break", "US", option_kind::number, 0, UINT32_MAX, "microseconds from 0 to 4294967295",
     "stop at the first delay above US, the trace marked", option_sets::breaks},
    {"--help", nullptr, option_kind::flag, 0, 0, nullptr, "this text, status 0", option_sets::help},
    {"--version", nullptr, option_kind::flag, 0, 0, nullptr, "the identity line, status 0", option_sets::version},
};

enum class option_fault {
    none,
    unknown,          // an option no one knows
    missing_value,    // the last word, but it needs a value
    malformed_value,  // its value is no number in the option's range
    no_such_cpu,      // --cpu of a CPU this system does not have
    repeated,         // given twice
    single_dash,      // "-p": options begin with "--"
    flag_value,       // "--json=x": a flag takes no value
};

// What is wrong with a command line's options: the option and its value as
// given, and what the option takes.
struct option_problem {
    option_fault fault;
    const char* option;
    const char* value;
    const char* takes;  // "a priority from 1 to 99", for a value missing or malformed
};

enum class profile_verdict {
    option_refused,       // `problem` says why
    show_help,            // --help
    show_version,         // --version
    show_usage,           // fewer than four positional parameters
    too_many_iterations,  // iter above max_iterations
    run,
};

// Fills `options` from the process arguments (argv[0] is the program name).
// `cpus` is how many CPUs the system has (--cpu takes 0 to cpus - 1). Options
// are read first: a refused one is reported before anything else.
profile_verdict read_profile_command_line(int argc, const char* const* argv, int32_t cpus,
                                          profile_options* options, option_problem* problem);

#endif
