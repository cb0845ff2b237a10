#include "profile/profile_output.h"

#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>

namespace {

using number_text = char[32];

// A figure's tenths as a decimal: "-12.3".
const char* tenths_text(number_text& text, int64_t tenths) {
    const bool negative = tenths < 0;
    uint32_t digit;
    const uint64_t whole = divide(static_cast<uint64_t>(negative ? -tenths : tenths), 10, &digit);
    snprintf(text, sizeof text, "%s%llu.%u", negative ? "-" : "", static_cast<unsigned long long>(whole), digit);
    return text;
}

// Microseconds as milliseconds with three decimals: "12.345".
const char* ms_text(number_text& text, int64_t us) {
    uint32_t thousandths;
    const uint64_t ms = divide(static_cast<uint64_t>(us < 0 ? 0 : us), 1000, &thousandths);
    snprintf(text, sizeof text, "%llu.%03u", static_cast<unsigned long long>(ms), thousandths);
    return text;
}

long long wide(int64_t value) { return static_cast<long long>(value); }

const char* errno_name(int error) {
    switch (error) {
        case EPERM:
            return "EPERM";
        case ENOSYS:
            return "ENOSYS";
        case EINVAL:
            return "EINVAL";
        case ESRCH:
            return "ESRCH";
        case ENOMEM:
            return "ENOMEM";
        case EAGAIN:
            return "EAGAIN";
        default:
            return "errno";
    }
}

using refusal_text = char[160];

// "EPERM 1: Operation not permitted"
const char* refusal(refusal_text& text, int error) {
    snprintf(text, sizeof text, "%s %i: %s", errno_name(error), error, strerror(error));
    return text;
}

void print_refusal(int error) {
    refusal_text text;
    fputs(refusal(text, error), stdout);
}

void print_json_refusal(int error) {
    if (error == 0) {
        fputs("null", stdout);
        return;
    }
    refusal_text text;
    print_json_string(refusal(text, error));
}

void print_json_number_or_null(int32_t value, int32_t none) {
    if (value == none) {
        fputs("null", stdout);
    } else {
        printf("%i", static_cast<int>(value));
    }
}

// The bar of a histogram count: three marks for every doubling.
uint32_t bar_length(uint32_t count) {
    uint32_t bits = 0;
    for (; count != 0; count >>= 1) ++bits;
    return 3 * bits;
}

const char* const figure_names[] = {"delay", "write", "oversleep"};

const figure_summary& summary_of(const profile_figures& figures, int kind) {
    return kind == 0 ? figures.delay : kind == 1 ? figures.write : figures.oversleep;
}

void print_facts_text(const profile_run& run) {
    const run_facts& facts = *run.facts;
    const profile_options& options = *run.options;
    char unknown[24];
    printf("%s\nkernel: %s %s\nCPUs online: %i\n", facts.identity, facts.kernel_release, facts.kernel_version,
           static_cast<int>(facts.cpus_online));
    printf("scheduling: %s, priority %i", policy_name(facts.policy, unknown), static_cast<int>(facts.priority));
    if (options.priority != no_priority) {
        printf(" (SCHED_FIFO %i asked for%s", static_cast<int>(options.priority), facts.priority_error ? ": refused, " : "");
        if (facts.priority_error) print_refusal(facts.priority_error);
        putchar(')');
    }
    if (facts.cpu == any_cpu) {
        fputs("\nCPU: any", stdout);
    } else {
        printf("\nCPU: %i only", static_cast<int>(facts.cpu));
    }
    if (options.cpu != any_cpu) {
        printf(" (CPU %i asked for%s", static_cast<int>(options.cpu), facts.cpu_error ? ": refused, " : "");
        if (facts.cpu_error) print_refusal(facts.cpu_error);
        putchar(')');
    }
    fputs(facts.memory_locked ? "\nmemory: locked" : "\nmemory: not locked (", stdout);
    if (!facts.memory_locked && facts.lock_error < 0) fputs("not tried in this build)", stdout);
    if (!facts.memory_locked && facts.lock_error > 0) {
        print_refusal(facts.lock_error);
        putchar(')');
    }
    const run_params& p = options.params;
    printf("\nclock resolution: %lld ns\nsweep: %u of %u iterations, pause %u us, outputs %u to %u\n",
           wide(facts.clock_resolution_ns), static_cast<unsigned>(run.figures->iterations),
           static_cast<unsigned>(p.iter), static_cast<unsigned>(p.delay), static_cast<unsigned>(p.start_DO_number),
           static_cast<unsigned>(p.end_DO_number));
}

void print_summaries_text(const profile_figures& figures) {
    printf("\n%-10s %9s %9s %9s %9s %9s %9s %11s\n", "(us)", "min", "median", "p90", "p99", "p99.9", "max", "mean");
    for (int kind = 0; kind < 3; ++kind) {
        const figure_summary& s = summary_of(figures, kind);
        number_text mean;
        printf("%-10s %9lld %9lld %9lld %9lld %9lld %9lld %11s\n", figure_names[kind], wide(s.min), wide(s.median),
               wide(s.p90), wide(s.p99), wide(s.p99_9), wide(s.max), tenths_text(mean, s.mean_tenths));
    }
}

void print_histogram_text(const profile_figures& figures, uint32_t pause) {
    printf("\n%-26s %6s  each ### doubles the count\n", "delays (us)", "count");
    const delay_histogram& h = figures.histogram;
    for (uint32_t bin = 0; bin < histogram_bins; ++bin) {
        char label[48];
        if (bin == histogram_bins - 1) {
            snprintf(label, sizeof label, "> %llu", static_cast<unsigned long long>(h.upper_us[bin - 1]));
        } else if (bin == histogram_bins - 2) {
            snprintf(label, sizeof label, "<= %llu (pause +1 s)", static_cast<unsigned long long>(h.upper_us[bin]));
        } else {
            snprintf(label, sizeof label, "<= %llu (pause +%llu)", static_cast<unsigned long long>(h.upper_us[bin]),
                     static_cast<unsigned long long>(h.upper_us[bin] - pause));
        }
        printf("%-26s %6u%s", label, static_cast<unsigned>(h.counts[bin]), h.counts[bin] ? "  " : "");
        for (uint32_t mark = bar_length(h.counts[bin]); mark != 0; --mark) putchar('#');
        putchar('\n');
    }
}

void print_outputs_text(const profile_figures& figures) {
    printf("\n%10s %6s %10s %11s %10s %13s  (us)\n", "output", "writes", "write min", "write mean", "write max",
           "longest delay");
    for (uint32_t j = 0; j < figures.outputs; ++j) {
        const output_figures& o = figures.per_output[j];
        number_text mean;
        printf("%10u %6u %10lld %11s %10lld %13lld\n", static_cast<unsigned>(o.output), static_cast<unsigned>(o.writes),
               wide(o.write_min), tenths_text(mean, o.write_mean_tenths), wide(o.write_max),
               wide(o.longest_delay));
    }
}

void print_iteration_header() {
    printf("%9s %12s %10s %5s %8s %9s %9s %9s\n", "iteration", "at ms", "output", "value", "attempts", "write",
           "oversleep", "delay");
}

void print_iteration_text(const iteration_figures& f) {
    number_text at;
    printf("%9u %12s %10u %5u %8u %9lld %9lld %9lld\n", static_cast<unsigned>(f.iteration), ms_text(at, f.at_us),
           static_cast<unsigned>(f.output), static_cast<unsigned>(f.value), static_cast<unsigned>(f.attempts),
           wide(f.write_us), wide(f.oversleep_us), wide(f.delay_us));
}

void print_summary_json(const char* name, const figure_summary& s) {
    number_text mean;
    printf("\"%s\": {\"min\": %lld, \"median\": %lld, \"p90\": %lld, \"p99\": %lld, \"p99_9\": %lld, \"max\": %lld, "
           "\"mean\": %s},\n",
           name, wide(s.min), wide(s.median), wide(s.p90), wide(s.p99), wide(s.p99_9), wide(s.max),
           tenths_text(mean, s.mean_tenths));
}

void print_system_json(const profile_run& run) {
    const run_facts& facts = *run.facts;
    const profile_options& options = *run.options;
    char unknown[24];
    fputs("\"system\": {\"kernel\": {\"release\": ", stdout);
    print_json_string(facts.kernel_release);
    fputs(", \"version\": ", stdout);
    print_json_string(facts.kernel_version);
    printf("}, \"cpus\": %i, \"policy\": ", static_cast<int>(facts.cpus_online));
    print_json_string(policy_name(facts.policy, unknown));
    printf(", \"priority\": %i, \"priority_asked\": ", static_cast<int>(facts.priority));
    print_json_number_or_null(options.priority, no_priority);
    fputs(", \"priority_refused\": ", stdout);
    print_json_refusal(facts.priority_error);
    fputs(", \"cpu\": ", stdout);
    print_json_number_or_null(facts.cpu, any_cpu);
    fputs(", \"cpu_asked\": ", stdout);
    print_json_number_or_null(options.cpu, any_cpu);
    fputs(", \"cpu_refused\": ", stdout);
    print_json_refusal(facts.cpu_error);
    printf(", \"memory_locked\": %s, \"memory_lock_refused\": ", facts.memory_locked ? "true" : "false");
    if (facts.lock_error < 0) {
        print_json_string("not tried in this build");
    } else {
        print_json_refusal(facts.lock_error);
    }
    printf(", \"clock_resolution_ns\": %lld},\n", wide(facts.clock_resolution_ns));
}

void print_parameters_json(const profile_run& run) {
    const run_params& p = run.options->params;
    const timing_log& log = run.log->timing;
    printf("\"parameters\": {\"iter\": %u, \"delay\": %u, \"start_DO_number\": %u, \"end_DO_number\": %u, "
           "\"use_safe_thread\": %u, \"longest\": %u, \"iterations_done\": %u, \"refused_output\": ",
           static_cast<unsigned>(p.iter), static_cast<unsigned>(p.delay), static_cast<unsigned>(p.start_DO_number),
           static_cast<unsigned>(p.end_DO_number), static_cast<unsigned>(p.use_safe_thread),
           static_cast<unsigned>(run.options->longest), static_cast<unsigned>(run.figures->iterations));
    if (log.stopped_on_refusal) {
        printf("%u},\n", static_cast<unsigned>(static_cast<uint32_t>(log.refused_port)));
    } else {
        fputs("null},\n", stdout);
    }
}

void print_histogram_json(const profile_figures& figures) {
    fputs("\"histogram\": [", stdout);
    for (uint32_t bin = 0; bin < histogram_bins; ++bin) {
        if (bin + 1 < histogram_bins) {
            printf("[%llu, %u], ", static_cast<unsigned long long>(figures.histogram.upper_us[bin]),
                   static_cast<unsigned>(figures.histogram.counts[bin]));
        } else {
            printf("[null, %u]],\n", static_cast<unsigned>(figures.histogram.counts[bin]));
        }
    }
}

void print_outputs_json(const profile_figures& figures) {
    fputs("\"outputs\": [", stdout);
    for (uint32_t j = 0; j < figures.outputs; ++j) {
        const output_figures& o = figures.per_output[j];
        number_text mean;
        printf("%s{\"output\": %u, \"writes\": %u, \"write_min\": %lld, \"write_mean\": %s, \"write_max\": %lld, "
               "\"longest_delay\": %lld}",
               j ? ",\n  " : "\n  ", static_cast<unsigned>(o.output), static_cast<unsigned>(o.writes),
               wide(o.write_min), tenths_text(mean, o.write_mean_tenths), wide(o.write_max),
               wide(o.longest_delay));
    }
    fputs("]", stdout);
}

void print_iteration_json(const iteration_figures& f) {
    number_text at;
    printf("{\"iteration\": %u, \"at_ms\": %s, \"output\": %u, \"value\": %u, \"attempts\": %u, \"write_us\": %lld, \"oversleep_us\": %lld, "
           "\"delay_us\": %lld}",
           static_cast<unsigned>(f.iteration), ms_text(at, f.at_us), static_cast<unsigned>(f.output), static_cast<unsigned>(f.value), static_cast<unsigned>(f.attempts),
           wide(f.write_us), wide(f.oversleep_us), wide(f.delay_us));
}

}  // namespace

const char* policy_name(int policy, char (&unknown)[24]) {
    switch (policy) {
        case SCHED_OTHER:
            return "SCHED_OTHER";
        case SCHED_FIFO:
            return "SCHED_FIFO";
        case SCHED_RR:
            return "SCHED_RR";
#ifdef SCHED_BATCH
        case SCHED_BATCH:
            return "SCHED_BATCH";
#endif
#ifdef SCHED_IDLE
        case SCHED_IDLE:
            return "SCHED_IDLE";
#endif
        default:
            snprintf(unknown, sizeof unknown, "policy %i", policy);
            return unknown;
    }
}

void print_json_string(const char* text) {
    putchar('"');
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c != 0; ++c) {
        if (*c == '"' || *c == '\\') {
            printf("\\%c", *c);
        } else if (*c == '\n') {
            fputs("\\n", stdout);
        } else if (*c < 0x20 || *c >= 0x7f) {
            printf("\\u%04x", *c);
        } else {
            putchar(*c);
        }
    }
    putchar('"');
}

void print_profile_text(const profile_run& run) {
    const profile_figures& figures = *run.figures;
    fputs(run.report, stdout);
    putchar('\n');
    print_facts_text(run);
    print_summaries_text(figures);
    print_histogram_text(figures, run.options->params.delay);
    print_outputs_text(figures);
    printf("\nthe %u longest delays (us)\n", static_cast<unsigned>(figures.longest));
    print_iteration_header();
    for (uint32_t k = 0; k < figures.longest; ++k) {
        print_iteration_text(figures.rows[figures.longest_first[k]]);
    }
    if (!run.options->samples) return;
    puts("\nsamples (us)");
    print_iteration_header();
    for (uint32_t i = 0; i < figures.iterations; ++i) {
        print_iteration_text(figures.rows[i]);
    }
}

void print_profile_json(const profile_run& run) {
    const profile_figures& figures = *run.figures;
    fputs("{\"report\": ", stdout);
    print_json_string(run.report);
    fputs(",\n\"identity\": ", stdout);
    print_json_string(run.facts->identity);
    fputs(",\n", stdout);
    print_system_json(run);
    print_parameters_json(run);
    print_summary_json("delay", figures.delay);
    print_summary_json("write", figures.write);
    print_summary_json("oversleep", figures.oversleep);
    print_histogram_json(figures);
    print_outputs_json(figures);
    fputs(",\n\"longest\": [", stdout);
    for (uint32_t k = 0; k < figures.longest; ++k) {
        fputs(k ? ",\n  " : "\n  ", stdout);
        print_iteration_json(figures.rows[figures.longest_first[k]]);
    }
    fputs("]", stdout);
    if (run.options->samples) {
        fputs(",\n\"samples\": [", stdout);
        for (uint32_t i = 0; i < figures.iterations; ++i) {
            fputs(i ? ",\n  " : "\n  ", stdout);
            print_iteration_json(figures.rows[i]);
        }
        fputs("]", stdout);
    }
    fputs("}\n", stdout);
}
