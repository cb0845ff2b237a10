#include "profile/profile_output.h"

#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "profile/facts_output.h"
#include "profile/utc_text.h"

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
unsigned plain(uint32_t value) { return static_cast<unsigned>(value); }

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

const char* const percentile_error =
    "percentiles by nearest rank from histograms: exact up to 255 us (delays: up to the pause plus 256 us), "
    "above at most 0.8 % above, never below";

const char* end_name(sweep_end end) {
    switch (end) {
        case sweep_end::completed:
            return "completed";
        case sweep_end::duration:
            return "duration";
        case sweep_end::refused:
            return "refused";
        case sweep_end::stopped:
            return "stopped";
        case sweep_end::broke:
            return "break";
    }
    return "completed";
}

// How the sweep ended, in words.
void print_end_text(FILE* out, const profile_run& run) {
    const profile_log& log = *run.log;
    const run_params& p = run.options->params;
    char unknown[24];
    fprintf(out, "sweep: %u of %u iterations, pause %u us, outputs %u to %u", plain(log.iterations_done), plain(p.iter),
            plain(p.delay), plain(p.start_DO_number), plain(p.end_DO_number));
    if (run.under_way) {
        fputs("; under way (the profile so far)\n", out);
    } else if (log.end == sweep_end::duration) {
        fputs("; ended after the duration asked for\n", out);
    } else if (log.end == sweep_end::stopped) {
        fprintf(out, "; stopped by %s\n", signal_name(log.stop_signal, unknown));
    } else if (log.end == sweep_end::broke) {
        fprintf(out, "; stopped at --break: iteration %u, output %u, delay %lld us\n", plain(log.break_iteration),
                plain(log.break_output), wide(log.break_delay));
    } else if (log.end == sweep_end::refused) {
        fprintf(out, "; stopped: output %u refused every write for 10 s\n", plain(static_cast<uint32_t>(log.refused_port)));
    } else {
        fputc('\n', out);
    }
    if (!run.under_way) {
        fprintf(out, "resident memory: %lld kB at the sweep's start, %lld kB at its end\n", wide(log.resident_kb_before),
                wide(log.resident_kb_after));
    }
    if (log.interrupted != 0) {
        fprintf(out, "not counted: %u iterations a signal came in (their pause may have been cut short)\n",
                plain(log.interrupted));
    }
}

void print_summaries_text(FILE* out, const profile_figures& figures) {
    fprintf(out, "\n%-10s %9s %9s %9s %9s %9s %9s %11s\n", "(us)", "min", "median", "p90", "p99", "p99.9", "max", "mean");
    for (int kind = 0; kind < 3; ++kind) {
        const figure_summary& s = summary_of(figures, kind);
        if (!s.any) {
            fprintf(out, "%-10s %9s %9s %9s %9s %9s %9s %11s\n", figure_names[kind], "none", "none", "none", "none",
                    "none", "none", "none");
            continue;
        }
        number_text mean;
        fprintf(out, "%-10s %9lld %9lld %9lld %9lld %9lld %9lld %11s\n", figure_names[kind], wide(s.min),
                wide(s.median), wide(s.p90), wide(s.p99), wide(s.p99_9), wide(s.max), tenths_text(mean, s.mean_tenths));
    }
    fprintf(out, "(%s)\n", percentile_error);
}

void print_histogram_text(FILE* out, const profile_figures& figures, uint32_t pause) {
    fprintf(out, "\n%-26s %10s  each ### doubles the count\n", "delays (us)", "count");
    const delay_histogram& h = figures.coarse;
    for (uint32_t bin = 0; bin < coarse_bins; ++bin) {
        char label[48];
        if (bin == coarse_bins - 1) {
            snprintf(label, sizeof label, "> %llu", static_cast<unsigned long long>(h.upper_us[bin - 1]));
        } else if (bin == coarse_bins - 2) {
            snprintf(label, sizeof label, "<= %llu (pause +1 s)", static_cast<unsigned long long>(h.upper_us[bin]));
        } else {
            snprintf(label, sizeof label, "<= %llu (pause +%llu)", static_cast<unsigned long long>(h.upper_us[bin]),
                     static_cast<unsigned long long>(h.upper_us[bin] - pause));
        }
        fprintf(out, "%-26s %10u%s", label, plain(h.counts[bin]), h.counts[bin] ? "  " : "");
        for (uint32_t mark = bar_length(h.counts[bin]); mark != 0; --mark) fputc('#', out);
        fputc('\n', out);
    }
}

// "25", or "1049..2000" for the row of the outputs past the bound.
const char* output_label(char (&text)[32], const output_figures& o) {
    if (o.outputs == 1) {
        snprintf(text, sizeof text, "%u", plain(o.output));
    } else {
        snprintf(text, sizeof text, "%u..%u", plain(o.output), plain(o.output + o.outputs - 1));
    }
    return text;
}

void print_outputs_text(FILE* out, const profile_figures& figures) {
    fprintf(out, "\n%21s %10s %10s %11s %10s %13s  (us)\n", "output", "writes", "write min", "write mean", "write max",
            "longest delay");
    for (uint32_t j = 0; j < figures.outputs; ++j) {
        const output_figures& o = figures.per_output[j];
        number_text mean;
        char label[32];
        fprintf(out, "%21s %10u %10lld %11s %10lld %13lld\n", output_label(label, o), plain(o.writes),
                wide(o.write_min), tenths_text(mean, o.write_mean_tenths), wide(o.write_max), wide(o.longest_delay));
    }
    if (figures.outputs != 0 && figures.per_output[figures.outputs - 1].outputs != 1) {
        fprintf(out, "(outputs past the first %u of the cycle share the last row)\n", plain(output_rows));
    }
}

void print_iteration_header(FILE* out) {
    fprintf(out, "%10s %12s %10s %5s %8s %9s %9s %9s  %s\n", "iteration", "at ms", "output", "value", "attempts",
            "write", "oversleep", "delay", "at (UTC)");
}

void print_iteration_text(FILE* out, const iteration_figures& f, const timeval& wall_start) {
    number_text at;
    utc_text utc;
    fprintf(out, "%10u %12s %10u %5u %8u %9lld %9lld %9lld  %s\n", plain(f.iteration), ms_text(at, f.at_us),
            plain(f.output), plain(f.value), plain(f.attempts), wide(f.write_us), wide(f.oversleep_us),
            wide(f.delay_us), format_utc(utc, wall_start, f.at_us));
}

// Microseconds from the sweep's first reading to its last (or to now).
int64_t run_length_us(const profile_log& log) {
    return (static_cast<int64_t>(log.run_end.tv_sec) - log.run_start.tv_sec) * 1000000 +
           (log.run_end.tv_usec - log.run_start.tv_usec);
}

void print_maximum_text(FILE* out, const profile_run& run) {
    const profile_log& log = *run.log;
    if (log.iterations_done == 0 || run.under_way) return;
    number_text at, since;
    utc_text utc;
    fprintf(out, "\nthe longest delay, %lld us, came at iteration %u, %s s into the sweep (%s); none as long for %s s after\n",
            wide(log.delay.max), plain(log.max_iteration), seconds_text(at, log.max_at_us),
            format_utc(utc, log.wall_start, log.max_at_us), seconds_text(since, run_length_us(log) - log.max_at_us));
}

void print_limit_text(FILE* out, const profile_run& run) {
    const profile_log& log = *run.log;
    const limit_tally& t = log.limit;
    if (run.options->limit_us == not_asked) return;
    fprintf(out, "\ndelays above %lld us (--limit): %u", wide(run.options->limit_us), plain(t.exceedances));
    if (t.exceedances == 0) {
        fputc('\n', out);
        return;
    }
    number_text a, b, c;
    utc_text ua, ub, uc;
    fprintf(out, "\n  first: iteration %u, %s s (%s)\n  last: iteration %u, %s s (%s)\n"
                 "  longest streak: %u in a row from iteration %u, %s s (%s)\n",
            plain(t.first), seconds_text(a, t.first_at_us), format_utc(ua, log.wall_start, t.first_at_us), plain(t.last),
            seconds_text(b, t.last_at_us), format_utc(ub, log.wall_start, t.last_at_us), plain(t.longest_streak),
            plain(t.longest_streak_first), seconds_text(c, t.longest_streak_at_us),
            format_utc(uc, log.wall_start, t.longest_streak_at_us));
}

void print_intervals_text(FILE* out, const profile_run& run) {
    const profile_log& log = *run.log;
    number_text length;
    fprintf(out, "\nover time: every %s s", seconds_text(length, static_cast<int64_t>(run.options->interval_s) * 1000000));
    if (log.interval_merges != 0) {
        fprintf(out, " (the store of %u filled: neighbours merged %u times, p99 the larger of each pair)",
                plain(interval_records), plain(log.interval_merges));
    }
    fprintf(out, "\n%12s %10s %10s %9s %9s %11s  %s\n", "from s", "length s", "iterations", "max", "p99",
            "over limit", "from (UTC)");
    for (uint32_t i = 0; i < log.intervals_closed; ++i) {
        const interval_record& r = log.intervals[i];
        number_text from, span;
        utc_text utc;
        char max[24] = "none", p99[24] = "none", over[16] = "none";
        if (r.iterations != 0) {
            snprintf(max, sizeof max, "%lld", wide(r.max));
            snprintf(p99, sizeof p99, "%lld", wide(r.p99));
        }
        if (run.options->limit_us != not_asked) snprintf(over, sizeof over, "%u", plain(r.exceedances));
        fprintf(out, "%12s %10s %10u %9s %9s %11s  %s\n", seconds_text(from, r.at_us),
                seconds_text(span, static_cast<int64_t>(r.length_us)), plain(r.iterations), max, p99, over,
                format_utc(utc, log.wall_start, r.at_us));
    }
    if (log.log_errors != 0) {
        fprintf(out, "--log: %u lines could not be written: %s\n", plain(log.log_errors), strerror(log.log_error));
    }
}

void print_summary_json(FILE* out, const char* name, const figure_summary& s) {
    if (!s.any) {
        fprintf(out, "\"%s\": null,\n", name);
        return;
    }
    number_text mean;
    fprintf(out,
            "\"%s\": {\"min\": %lld, \"median\": %lld, \"p90\": %lld, \"p99\": %lld, \"p99_9\": %lld, \"max\": %lld, "
            "\"mean\": %s},\n",
            name, wide(s.min), wide(s.median), wide(s.p90), wide(s.p99), wide(s.p99_9), wide(s.max),
            tenths_text(mean, s.mean_tenths));
}

void print_number_or_null(FILE* out, int64_t value) {
    if (value == not_asked) {
        fputs("null", out);
    } else {
        fprintf(out, "%lld", wide(value));
    }
}

void print_parameters_json(FILE* out, const profile_run& run) {
    const run_params& p = run.options->params;
    const profile_options& o = *run.options;
    const profile_log& log = *run.log;
    char unknown[24];
    fprintf(out,
            "\"parameters\": {\"iter\": %u, \"delay\": %u, \"start_DO_number\": %u, \"end_DO_number\": %u, "
            "\"use_safe_thread\": %u, \"longest\": %u, \"duration_s\": ",
            plain(p.iter), plain(p.delay), plain(p.start_DO_number), plain(p.end_DO_number), plain(p.use_safe_thread),
            plain(o.longest));
    print_number_or_null(out, o.duration_s == 0 ? not_asked : static_cast<int64_t>(o.duration_s));
    fprintf(out, ", \"interval_s\": %u, \"limit_us\": ", plain(o.interval_s));
    print_number_or_null(out, o.limit_us);
    fputs(", \"break_us\": ", out);
    print_number_or_null(out, o.break_us);
    fprintf(out, ", \"iterations_done\": %u, \"refused_output\": ", plain(log.iterations_done));
    if (log.end == sweep_end::refused) {
        fprintf(out, "%u", plain(static_cast<uint32_t>(log.refused_port)));
    } else {
        fputs("null", out);
    }
    fprintf(out, ", \"end\": \"%s\", \"under_way\": %s, \"stop_signal\": ", end_name(log.end),
            run.under_way ? "true" : "false");
    if (log.stop_signal != 0) {
        print_json_string(out, signal_name(log.stop_signal, unknown));
    } else {
        fputs("null", out);
    }
    fprintf(out, ", \"not_counted\": %u, \"resident_kb_before\": %lld, \"resident_kb_after\": %lld},\n",
            plain(log.interrupted), wide(log.resident_kb_before), wide(log.resident_kb_after));
}

void print_histogram_json(FILE* out, const profile_figures& figures) {
    fputs("\"histogram\": [", out);
    for (uint32_t bin = 0; bin < coarse_bins; ++bin) {
        if (bin + 1 < coarse_bins) {
            fprintf(out, "[%llu, %u], ", static_cast<unsigned long long>(figures.coarse.upper_us[bin]),
                    plain(figures.coarse.counts[bin]));
        } else {
            fprintf(out, "[null, %u]],\n", plain(figures.coarse.counts[bin]));
        }
    }
}

void print_outputs_json(FILE* out, const profile_figures& figures) {
    fputs("\"outputs\": [", out);
    for (uint32_t j = 0; j < figures.outputs; ++j) {
        const output_figures& o = figures.per_output[j];
        number_text mean;
        fprintf(out,
                "%s{\"output\": %u, \"outputs\": %u, \"writes\": %u, \"write_min\": %lld, \"write_mean\": %s, "
                "\"write_max\": %lld, \"longest_delay\": %lld}",
                j ? ",\n  " : "\n  ", plain(o.output), plain(o.outputs), plain(o.writes), wide(o.write_min),
                tenths_text(mean, o.write_mean_tenths), wide(o.write_max), wide(o.longest_delay));
    }
    fputs("],\n", out);
}

void print_iteration_json(FILE* out, const iteration_figures& f, const timeval& wall_start) {
    number_text at;
    utc_text utc;
    fprintf(out,
            "{\"iteration\": %u, \"at_ms\": %s, \"utc\": \"%s\", \"output\": %u, \"value\": %u, \"attempts\": %u, "
            "\"write_us\": %lld, \"oversleep_us\": %lld, \"delay_us\": %lld}",
            plain(f.iteration), ms_text(at, f.at_us), format_utc(utc, wall_start, f.at_us), plain(f.output),
            plain(f.value), plain(f.attempts), wide(f.write_us), wide(f.oversleep_us), wide(f.delay_us));
}

void print_maximum_json(FILE* out, const profile_run& run) {
    const profile_log& log = *run.log;
    fputs("\"maximum\": ", out);
    if (log.iterations_done == 0) {
        fputs("null,\n", out);
        return;
    }
    number_text at, since;
    utc_text utc;
    fprintf(out, "{\"delay_us\": %lld, \"iteration\": %u, \"at_s\": %s, \"utc\": \"%s\", \"none_as_long_for_s\": %s},\n",
            wide(log.delay.max), plain(log.max_iteration), seconds_text(at, log.max_at_us),
            format_utc(utc, log.wall_start, log.max_at_us), seconds_text(since, run_length_us(log) - log.max_at_us));
}

void print_limit_json(FILE* out, const profile_run& run) {
    const profile_log& log = *run.log;
    const limit_tally& t = log.limit;
    fputs("\"limit\": ", out);
    if (run.options->limit_us == not_asked) {
        fputs("null,\n", out);
        return;
    }
    fprintf(out, "{\"us\": %lld, \"exceedances\": %u", wide(run.options->limit_us), plain(t.exceedances));
    if (t.exceedances == 0) {
        fputs(", \"first\": null, \"last\": null, \"longest_streak\": null},\n", out);
        return;
    }
    number_text a, b, c;
    utc_text ua, ub, uc;
    fprintf(out,
            ", \"first\": {\"iteration\": %u, \"at_s\": %s, \"utc\": \"%s\"}, \"last\": {\"iteration\": %u, "
            "\"at_s\": %s, \"utc\": \"%s\"}, \"longest_streak\": {\"length\": %u, \"iteration\": %u, \"at_s\": %s, "
            "\"utc\": \"%s\"}},\n",
            plain(t.first), seconds_text(a, t.first_at_us), format_utc(ua, log.wall_start, t.first_at_us), plain(t.last),
            seconds_text(b, t.last_at_us), format_utc(ub, log.wall_start, t.last_at_us), plain(t.longest_streak),
            plain(t.longest_streak_first), seconds_text(c, t.longest_streak_at_us),
            format_utc(uc, log.wall_start, t.longest_streak_at_us));
}

void print_intervals_json(FILE* out, const profile_run& run) {
    const profile_log& log = *run.log;
    fprintf(out, "\"interval_merges\": %u,\n\"log_errors\": %u,\n\"intervals\": [", plain(log.interval_merges),
            plain(log.log_errors));
    for (uint32_t i = 0; i < log.intervals_closed; ++i) {
        const interval_record& r = log.intervals[i];
        number_text from, span;
        utc_text utc;
        fprintf(out, "%s{\"start\": \"%s\", \"at_s\": %s, \"length_s\": %s, \"iterations\": %u, \"max\": ",
                i ? ",\n  " : "\n  ", format_utc(utc, log.wall_start, r.at_us), seconds_text(from, r.at_us),
                seconds_text(span, static_cast<int64_t>(r.length_us)), plain(r.iterations));
        if (r.iterations != 0) {
            fprintf(out, "%lld, \"p99\": %lld", wide(r.max), wide(r.p99));
        } else {
            fputs("null, \"p99\": null", out);
        }
        fputs(", \"exceedances\": ", out);
        if (run.options->limit_us != not_asked) {
            fprintf(out, "%u}", plain(r.exceedances));
        } else {
            fputs("null}", out);
        }
    }
    fputs("]", out);
}

}  // namespace

const char* signal_name(int number, char (&unknown)[24]) {
    switch (number) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            snprintf(unknown, sizeof unknown, "signal %i", number);
            return unknown;
    }
}

void print_profile_text(FILE* out, const profile_run& run) {
    const profile_figures& figures = *run.figures;
    const profile_log& log = *run.log;
    fputs(run.report, out);
    fputc('\n', out);
    print_facts_text(out, run);
    print_end_text(out, run);
    print_summaries_text(out, figures);
    print_histogram_text(out, figures, run.options->params.delay);
    print_outputs_text(out, figures);
    print_maximum_text(out, run);
    fprintf(out, "\nthe %u longest delays (us)\n", plain(figures.longest));
    print_iteration_header(out);
    for (uint32_t k = 0; k < figures.longest; ++k) {
        print_iteration_text(out, log.longest_heap[figures.longest_first[k]], log.wall_start);
    }
    print_limit_text(out, run);
    if (run.options->break_us != not_asked && run.print_trace_text != nullptr) {
        fprintf(out, "\n--break at delays above %lld us\n", wide(run.options->break_us));
        run.print_trace_text(out);
    }
    print_intervals_text(out, run);
    if (!run.options->samples) return;
    const uint32_t samples = log.iterations_done < max_iterations ? log.iterations_done : max_iterations;
    fprintf(out, "\nsamples (us): the first %u of %u iterations\n", plain(samples), plain(log.iterations_done));
    print_iteration_header(out);
    for (uint32_t i = 0; i < samples; ++i) print_iteration_text(out, log.samples[i], log.wall_start);
}

void print_profile_json(FILE* out, const profile_run& run) {
    const profile_figures& figures = *run.figures;
    const profile_log& log = *run.log;
    fputs("{\"report\": ", out);
    print_json_string(out, run.report);
    fputs(",\n\"identity\": ", out);
    print_json_string(out, run.facts->identity);
    fputs(",\n", out);
    print_system_json(out, run);
    print_parameters_json(out, run);
    fprintf(out, "\"percentiles\": \"%s\",\n", percentile_error);
    print_summary_json(out, "delay", figures.delay);
    print_summary_json(out, "write", figures.write);
    print_summary_json(out, "oversleep", figures.oversleep);
    print_histogram_json(out, figures);
    print_outputs_json(out, figures);
    print_maximum_json(out, run);
    print_limit_json(out, run);
    if (run.options->break_us != not_asked && run.print_trace_json != nullptr) {
        run.print_trace_json(out);
    } else {
        fputs("\"trace\": null", out);
    }
    fputs(",\n", out);
    print_intervals_json(out, run);
    fputs(",\n\"longest\": [", out);
    for (uint32_t k = 0; k < figures.longest; ++k) {
        fputs(k ? ",\n  " : "\n  ", out);
        print_iteration_json(out, log.longest_heap[figures.longest_first[k]], log.wall_start);
    }
    fputs("]", out);
    if (run.options->samples) {
        const uint32_t samples = log.iterations_done < max_iterations ? log.iterations_done : max_iterations;
        fputs(",\n\"samples\": [", out);
        for (uint32_t i = 0; i < samples; ++i) {
            fputs(i ? ",\n  " : "\n  ", out);
            print_iteration_json(out, log.samples[i], log.wall_start);
        }
        fputs("]", out);
    }
    fputs("}\n", out);
}
