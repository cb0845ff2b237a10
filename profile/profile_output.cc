#include "profile/profile_output.h"

#include "profile/facts_output.h"

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


void print_summaries_text(FILE* out, const profile_figures& figures) {
    fprintf(out, "\n%-10s %9s %9s %9s %9s %9s %9s %11s\n", "(us)", "min", "median", "p90", "p99", "p99.9", "max", "mean");
    for (int kind = 0; kind < 3; ++kind) {
        const figure_summary& s = summary_of(figures, kind);
        number_text mean;
        fprintf(out, "%-10s %9lld %9lld %9lld %9lld %9lld %9lld %11s\n", figure_names[kind], wide(s.min), wide(s.median),
               wide(s.p90), wide(s.p99), wide(s.p99_9), wide(s.max), tenths_text(mean, s.mean_tenths));
    }
}

void print_histogram_text(FILE* out, const profile_figures& figures, uint32_t pause) {
    fprintf(out, "\n%-26s %6s  each ### doubles the count\n", "delays (us)", "count");
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
        fprintf(out, "%-26s %6u%s", label, static_cast<unsigned>(h.counts[bin]), h.counts[bin] ? "  " : "");
        for (uint32_t mark = bar_length(h.counts[bin]); mark != 0; --mark) fputc('#', out);
        fputc('\n', out);
    }
}

void print_outputs_text(FILE* out, const profile_figures& figures) {
    fprintf(out, "\n%10s %6s %10s %11s %10s %13s  (us)\n", "output", "writes", "write min", "write mean", "write max",
           "longest delay");
    for (uint32_t j = 0; j < figures.outputs; ++j) {
        const output_figures& o = figures.per_output[j];
        number_text mean;
        fprintf(out, "%10u %6u %10lld %11s %10lld %13lld\n", static_cast<unsigned>(o.output), static_cast<unsigned>(o.writes),
               wide(o.write_min), tenths_text(mean, o.write_mean_tenths), wide(o.write_max),
               wide(o.longest_delay));
    }
}

void print_iteration_header(FILE* out) {
    fprintf(out, "%9s %12s %10s %5s %8s %9s %9s %9s\n", "iteration", "at ms", "output", "value", "attempts", "write",
           "oversleep", "delay");
}

void print_iteration_text(FILE* out, const iteration_figures& f) {
    number_text at;
    fprintf(out, "%9u %12s %10u %5u %8u %9lld %9lld %9lld\n", static_cast<unsigned>(f.iteration), ms_text(at, f.at_us),
           static_cast<unsigned>(f.output), static_cast<unsigned>(f.value), static_cast<unsigned>(f.attempts),
           wide(f.write_us), wide(f.oversleep_us), wide(f.delay_us));
}

void print_summary_json(FILE* out, const char* name, const figure_summary& s) {
    number_text mean;
    fprintf(out, "\"%s\": {\"min\": %lld, \"median\": %lld, \"p90\": %lld, \"p99\": %lld, \"p99_9\": %lld, \"max\": %lld, "
           "\"mean\": %s},\n",
           name, wide(s.min), wide(s.median), wide(s.p90), wide(s.p99), wide(s.p99_9), wide(s.max),
           tenths_text(mean, s.mean_tenths));
}


void print_parameters_json(FILE* out, const profile_run& run) {
    const run_params& p = run.options->params;
    const timing_log& log = run.log->timing;
    fprintf(out, "\"parameters\": {\"iter\": %u, \"delay\": %u, \"start_DO_number\": %u, \"end_DO_number\": %u, "
           "\"use_safe_thread\": %u, \"longest\": %u, \"iterations_done\": %u, \"refused_output\": ",
           static_cast<unsigned>(p.iter), static_cast<unsigned>(p.delay), static_cast<unsigned>(p.start_DO_number),
           static_cast<unsigned>(p.end_DO_number), static_cast<unsigned>(p.use_safe_thread),
           static_cast<unsigned>(run.options->longest), static_cast<unsigned>(run.figures->iterations));
    if (log.stopped_on_refusal) {
        fprintf(out, "%u},\n", static_cast<unsigned>(static_cast<uint32_t>(log.refused_port)));
    } else {
        fputs("null},\n", out);
    }
}

void print_histogram_json(FILE* out, const profile_figures& figures) {
    fputs("\"histogram\": [", out);
    for (uint32_t bin = 0; bin < histogram_bins; ++bin) {
        if (bin + 1 < histogram_bins) {
            fprintf(out, "[%llu, %u], ", static_cast<unsigned long long>(figures.histogram.upper_us[bin]),
                   static_cast<unsigned>(figures.histogram.counts[bin]));
        } else {
            fprintf(out, "[null, %u]],\n", static_cast<unsigned>(figures.histogram.counts[bin]));
        }
    }
}

void print_outputs_json(FILE* out, const profile_figures& figures) {
    fputs("\"outputs\": [", out);
    for (uint32_t j = 0; j < figures.outputs; ++j) {
        const output_figures& o = figures.per_output[j];
        number_text mean;
        fprintf(out, "%s{\"output\": %u, \"writes\": %u, \"write_min\": %lld, \"write_mean\": %s, \"write_max\": %lld, "
               "\"longest_delay\": %lld}",
               j ? ",\n  " : "\n  ", static_cast<unsigned>(o.output), static_cast<unsigned>(o.writes),
               wide(o.write_min), tenths_text(mean, o.write_mean_tenths), wide(o.write_max),
               wide(o.longest_delay));
    }
    fputs("]", out);
}

void print_iteration_json(FILE* out, const iteration_figures& f) {
    number_text at;
    fprintf(out, "{\"iteration\": %u, \"at_ms\": %s, \"output\": %u, \"value\": %u, \"attempts\": %u, \"write_us\": %lld, \"oversleep_us\": %lld, "
           "\"delay_us\": %lld}",
           static_cast<unsigned>(f.iteration), ms_text(at, f.at_us), static_cast<unsigned>(f.output), static_cast<unsigned>(f.value), static_cast<unsigned>(f.attempts),
           wide(f.write_us), wide(f.oversleep_us), wide(f.delay_us));
}

}  // namespace



void print_profile_text(FILE* out, const profile_run& run) {
    const profile_figures& figures = *run.figures;
    fputs(run.report, out);
    fputc('\n', out);
    print_facts_text(out, run);
    const run_params& p = run.options->params;
    fprintf(out, "sweep: %u of %u iterations, pause %u us, outputs %u to %u\n", static_cast<unsigned>(run.figures->iterations),
           static_cast<unsigned>(p.iter), static_cast<unsigned>(p.delay), static_cast<unsigned>(p.start_DO_number),
           static_cast<unsigned>(p.end_DO_number));
    print_summaries_text(out, figures);
    print_histogram_text(out, figures, run.options->params.delay);
    print_outputs_text(out, figures);
    fprintf(out, "\nthe %u longest delays (us)\n", static_cast<unsigned>(figures.longest));
    print_iteration_header(out);
    for (uint32_t k = 0; k < figures.longest; ++k) {
        print_iteration_text(out, figures.rows[figures.longest_first[k]]);
    }
    if (!run.options->samples) return;
    fputs("\nsamples (us)\n", out);
    print_iteration_header(out);
    for (uint32_t i = 0; i < figures.iterations; ++i) {
        print_iteration_text(out, figures.rows[i]);
    }
}

void print_profile_json(FILE* out, const profile_run& run) {
    const profile_figures& figures = *run.figures;
    fputs("{\"report\": ", out);
    print_json_string(out, run.report);
    fputs(",\n\"identity\": ", out);
    print_json_string(out, run.facts->identity);
    fputs(",\n", out);
    print_system_json(out, run);
    print_parameters_json(out, run);
    print_summary_json(out, "delay", figures.delay);
    print_summary_json(out, "write", figures.write);
    print_summary_json(out, "oversleep", figures.oversleep);
    print_histogram_json(out, figures);
    print_outputs_json(out, figures);
    fputs(",\n\"longest\": [", out);
    for (uint32_t k = 0; k < figures.longest; ++k) {
        fputs(k ? ",\n  " : "\n  ", out);
        print_iteration_json(out, figures.rows[figures.longest_first[k]]);
    }
    fputs("]", out);
    if (run.options->samples) {
        fputs(",\n\"samples\": [", out);
        for (uint32_t i = 0; i < figures.iterations; ++i) {
            fputs(i ? ",\n  " : "\n  ", out);
            print_iteration_json(out, figures.rows[i]);
        }
        fputs("]", out);
    }
    fputs("}\n", out);
}
