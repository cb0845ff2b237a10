// The command line of plc_do_profile: plc_do_test's five positional
// parameters, read as plc_do_test reads them (without its iteration limit),
// and options beginning with "--" anywhere among them.
#ifndef PROFILE_PROFILE_OPTIONS_H
#define PROFILE_PROFILE_OPTIONS_H

#include <stdint.h>

#include "run/run_params.h"

constexpr int32_t no_priority = -1;  // the sweep runs at the policy it was started with
constexpr int32_t any_cpu = -1;      // the sweep runs on whichever CPUs it may
constexpr uint32_t default_longest = 10;
constexpr int64_t not_asked = -1;          // a limit, break or setting not given
constexpr uint32_t default_interval_s = 60;

struct profile_options {
    run_params params;
    int32_t priority;  // SCHED_FIFO priority asked for, or no_priority
    int32_t cpu;       // the only CPU asked for, or any_cpu
    bool json;         // the profile as one JSON object
    const char* json_path;  // --json FILE: the JSON there, the text on standard output; nullptr: standard output
    bool samples;      // the first iterations' figures too
    uint32_t longest;  // how many of the longest delays to list
    uint64_t duration_s;     // --duration: the sweep ends after this many seconds too; 0: none
    uint32_t interval_s;     // --interval: the length of each record over time
    const char* log_path;    // --log FILE: one JSON line per interval appended there; nullptr: none
    int64_t limit_us;        // --limit: delays above it are counted, or not_asked
    int64_t break_us;        // --break: the first delay above it stops the run, or not_asked
    int64_t timer_slack_ns;  // --timer-slack: the timer slack asked for, or not_asked
    int64_t dma_latency_us;  // --dma-latency: held in /dev/cpu_dma_latency, or not_asked
};

// The longest --duration and --interval, in seconds: 100 years, and a day.
constexpr int64_t longest_duration_s = 36500LL * 86400;
constexpr int64_t longest_interval_s = 86400;

// What an option's value is: none (a flag), a plain decimal number in the
// row's range, such a number that must also be a CPU of this system, a
// length of time with its unit (90m) in seconds in the row's range, or a
// file name. --json is a flag that may take a file name.
enum class option_kind { flag, number, cpu_number, duration, file, flag_or_file };

// What an option sets in profile_options, or asks of the program.
enum class option_sets {
    json,
    samples,
    priority,
    cpu,
    longest,
    duration,
    interval,
    log,
    limit,
    break_after,
    timer_slack,
    dma_latency,
    help,
    version,
};

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
    {"--json", nullptr, option_kind::flag_or_file, 0, 0, "a file name",
     "the profile as one JSON object (--json FILE: into FILE, the text too)", option_sets::json},
    {"--samples", nullptr, option_kind::flag, 0, 0, nullptr, "every iteration's figures too", option_sets::samples},
    {"--longest", "K", option_kind::number, 0, max_iterations, "a count from 0 to 10000",
     "list the K longest delays (default 10, at most 10000)", option_sets::longest},
    {"--duration", "D", option_kind::duration, 1, longest_duration_s,
     "a length of time from 1s to 36500d: a whole number and its unit s, m, h or d (30s, 90m, 8h, 2d)",
     "end the run after D too (30s, 90m, 8h, 2d; at most 36500d)", option_sets::duration},
    {"--interval", "T", option_kind::duration, 1, longest_interval_s,
     "a length of time from 1s to 1d: a whole number and its unit s, m, h or d (30s, 10m, 1h)",
     "one record over time every T (default 60s, 1s to 1d)", option_sets::interval},
    {"--log", "FILE", option_kind::file, 0, 0, "a file name", "append one JSON line per interval to FILE",
     option_sets::log},
    {"--limit", "US", option_kind::number, 0, UINT32_MAX, "microseconds from 0 to 4294967295",
     "count the delays above US microseconds", option_sets::limit},
    {"--break", "US", option_kind::number, 0, UINT32_MAX, "microseconds from 0 to 4294967295",
     "stop at the first delay above US microseconds", option_sets::break_after},
    {"--timer-slack", "NS", option_kind::number, 1, UINT32_MAX, "nanoseconds from 1 to 4294967295",
     "set the process's timer slack to NS nanoseconds", option_sets::timer_slack},
    {"--dma-latency", "US", option_kind::number, 0, 2000000000, "microseconds from 0 to 2000000000",
     "hold US microseconds in /dev/cpu_dma_latency for the run", option_sets::dma_latency},
    {"--help", nullptr, option_kind::flag, 0, 0, nullptr, "this text, on standard output", option_sets::help},
    {"--version", nullptr, option_kind::flag, 0, 0, nullptr, "the program's identity line", option_sets::version},
};

enum class option_fault {
    none,
    unknown,          // an option no one knows
    missing_value,    // the last word, but it needs a value
    malformed_value,  // its value is no number in the option's range
    no_such_cpu,      // --cpu of a CPU this system does not have
    no_unit,          // a length of time given as a bare number
    flag_value,       // a flag given "=value"
    repeated,         // an option given twice
    single_dash,      // "-p": a dash and a letter, not an option nor a number
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
    option_refused,  // `problem` says why
    show_usage,      // fewer than four positional parameters
    show_help,       // --help: the usage text, and nothing else done
    show_version,    // --version: the identity line, and nothing else done
    run,
};

// Fills `options` from the process arguments (argv[0] is the program name).
// `cpus` is how many CPUs the system has (--cpu takes 0 to cpus - 1). Options
// are read first: a refused one is reported before anything else; "--" ends
// them. Any iteration count is taken (plc_do_test's limit is its own).
profile_verdict read_profile_command_line(int argc, const char* const* argv, int32_t cpus,
                                          profile_options* options, option_problem* problem);

#endif
