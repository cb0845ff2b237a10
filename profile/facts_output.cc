// The run's facts as plc_do_profile prints them: the system it ran on, what
// the sweep asked of it and what it obtained or was refused, and why.
#include "profile/facts_output.h"

#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "profile/old_headers.h"
#include "profile/profile_output.h"
#include "profile/utc_text.h"

namespace {

long long wide(int64_t value) { return static_cast<long long>(value); }

using refusal_text = char[160];

// "EPERM 1: Operation not permitted"
const char* refusal(refusal_text& text, int error) {
    snprintf(text, sizeof text, "%s %i: %s", errno_name(error), error, strerror(error));
    return text;
}

void print_refusal(FILE* out, int error) {
    refusal_text text;
    fputs(refusal(text, error), out);
}

void print_json_refusal(FILE* out, int error) {
    if (error == 0) {
        fputs("null", out);
        return;
    }
    refusal_text text;
    print_json_string(out, refusal(text, error));
}

void print_json_number_or_null(FILE* out, int32_t value, int32_t none) {
    if (value == none) {
        fputs("null", out);
    } else {
        fprintf(out, "%i", static_cast<int>(value));
    }
}

// " (1 ns asked for)", or " (1 ns asked for: refused, EPERM 1: ...)": a setting asked for, after what was obtained.
void print_asked(FILE* out, int64_t asked, const char* unit, int error, const char* held) {
    if (asked == not_asked) return;
    fprintf(out, " (%lld %s asked for%s", wide(asked), unit, error ? ": refused, " : held);
    if (error) print_refusal(out, error);
    fputc(')', out);
}

void print_json_wide_or_null(FILE* out, int64_t value) {
    if (value == not_asked) {
        fputs("null", out);
    } else {
        fprintf(out, "%lld", wide(value));
    }
}

void print_timer_slack_text(FILE* out, const run_facts& facts, const profile_options& options) {
    if (facts.timer_slack_ns == not_asked) {
        fputs("timer slack: unknown (PR_GET_TIMERSLACK refused)", out);
    } else {
        fprintf(out, "timer slack: %lld ns", wide(facts.timer_slack_ns));
    }
    print_asked(out, options.timer_slack_ns, "ns", facts.timer_slack_error, "");
    fputc('\n', out);
}

void print_dma_latency_text(FILE* out, const run_facts& facts, const profile_options& options) {
    if (facts.dma_latency_unread) {
        fprintf(out, "CPU DMA latency: unknown (%s: ", cpu_dma_latency_path);
        print_refusal(out, facts.dma_latency_unread);
        fputc(')', out);
    } else {
        fprintf(out, "CPU DMA latency: %lld us", wide(facts.dma_latency_us));
    }
    print_asked(out, options.dma_latency_us, "us", facts.dma_latency_error, ", held for the run");
    fputc('\n', out);
}

// A setting's members of "system": "NAME_UNIT" obtained, "NAME_asked_UNIT", "NAME_refused".
void print_setting_json(FILE* out, const char* name, const char* unit, int64_t obtained, int64_t asked, int error) {
    fprintf(out, ", \"%s_%s\": ", name, unit);
    print_json_wide_or_null(out, obtained);
    fprintf(out, ", \"%s_asked_%s\": ", name, unit);
    print_json_wide_or_null(out, asked);
    fprintf(out, ", \"%s_refused\": ", name);
    print_json_refusal(out, error);
}

}  // namespace

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
        case EACCES:
            return "EACCES";
        case ENOENT:
            return "ENOENT";
        case EIO:
            return "EIO";
        case EROFS:
            return "EROFS";
        case EISDIR:
            return "EISDIR";
        case EBADF:
            return "EBADF";
        case ENODEV:
            return "ENODEV";
        case ENOSPC:
            return "ENOSPC";
        case EBUSY:
            return "EBUSY";
        case ENAMETOOLONG:
            return "ENAMETOOLONG";
        default:
            return "errno";
    }
}


void print_facts_text(FILE* out, const profile_run& run) {
    const run_facts& facts = *run.facts;
    const profile_options& options = *run.options;
    char unknown[24];
    fprintf(out, "%s\nkernel: %s %s\nCPUs online: %i\n", facts.identity, facts.kernel_release, facts.kernel_version,
           static_cast<int>(facts.cpus_online));
    fprintf(out, "scheduling: %s, priority %i", policy_name(facts.policy, unknown), static_cast<int>(facts.priority));
    if (options.priority != no_priority) {
        fprintf(out, " (SCHED_FIFO %i asked for%s", static_cast<int>(options.priority), facts.priority_error ? ": refused, " : "");
        if (facts.priority_error) print_refusal(out, facts.priority_error);
        fputc(')', out);
    }
    if (facts.cpu == any_cpu) {
        fputs("\nCPU: any", out);
    } else {
        fprintf(out, "\nCPU: %i only", static_cast<int>(facts.cpu));
    }
    if (options.cpu != any_cpu) {
        fprintf(out, " (CPU %i asked for%s", static_cast<int>(options.cpu), facts.cpu_error ? ": refused, " : "");
        if (facts.cpu_error) print_refusal(out, facts.cpu_error);
        fputc(')', out);
    }
    fputs(facts.memory_locked ? "\nmemory: locked" : "\nmemory: not locked (", out);
    if (!facts.memory_locked && facts.lock_error < 0) fputs("not tried in this build)", out);
    if (!facts.memory_locked && facts.lock_error > 0) {
        print_refusal(out, facts.lock_error);
        fputc(')', out);
    }
    fprintf(out, "\nclock resolution: %lld ns\n", wide(facts.clock_resolution_ns));
    utc_text started;
    format_utc(started, facts.wall_start, 0);
    fprintf(out, "started: %s\n", started);
    print_timer_slack_text(out, facts, options);
    print_dma_latency_text(out, facts, options);
}

void print_system_json(FILE* out, const profile_run& run) {
    const run_facts& facts = *run.facts;
    const profile_options& options = *run.options;
    char unknown[24];
    fputs("\"system\": {\"kernel\": {\"release\": ", out);
    print_json_string(out, facts.kernel_release);
    fputs(", \"version\": ", out);
    print_json_string(out, facts.kernel_version);
    fprintf(out, "}, \"cpus\": %i, \"policy\": ", static_cast<int>(facts.cpus_online));
    print_json_string(out, policy_name(facts.policy, unknown));
    fprintf(out, ", \"priority\": %i, \"priority_asked\": ", static_cast<int>(facts.priority));
    print_json_number_or_null(out, options.priority, no_priority);
    fputs(", \"priority_refused\": ", out);
    print_json_refusal(out, facts.priority_error);
    fputs(", \"cpu\": ", out);
    print_json_number_or_null(out, facts.cpu, any_cpu);
    fputs(", \"cpu_asked\": ", out);
    print_json_number_or_null(out, options.cpu, any_cpu);
    fputs(", \"cpu_refused\": ", out);
    print_json_refusal(out, facts.cpu_error);
    fprintf(out, ", \"memory_locked\": %s, \"memory_lock_refused\": ", facts.memory_locked ? "true" : "false");
    if (facts.lock_error < 0) {
        print_json_string(out, "not tried in this build");
    } else {
        print_json_refusal(out, facts.lock_error);
    }
    fprintf(out, ", \"clock_resolution_ns\": %lld, \"started\": ", wide(facts.clock_resolution_ns));
    utc_text started;
    format_utc(started, facts.wall_start, 0);
    print_json_string(out, started);
    print_setting_json(out, "timer_slack", "ns", facts.timer_slack_ns, options.timer_slack_ns, facts.timer_slack_error);
    print_setting_json(out, "dma_latency", "us", facts.dma_latency_us, options.dma_latency_us, facts.dma_latency_error);
    fputs(", \"dma_latency_unread\": ", out);
    print_json_refusal(out, facts.dma_latency_unread);
    fputs("},\n", out);
}

namespace {

// A policy's name, and its name with the flag that its children do not inherit it.
struct policy_row {
    int policy;
    const char* name;
    const char* reset_on_fork;
};

constexpr policy_row policies[] = {
    {SCHED_OTHER, "SCHED_OTHER", "SCHED_OTHER|SCHED_RESET_ON_FORK"},
    {SCHED_FIFO, "SCHED_FIFO", "SCHED_FIFO|SCHED_RESET_ON_FORK"},
    {SCHED_RR, "SCHED_RR", "SCHED_RR|SCHED_RESET_ON_FORK"},
#ifdef SCHED_BATCH
    {SCHED_BATCH, "SCHED_BATCH", "SCHED_BATCH|SCHED_RESET_ON_FORK"},
#endif
#ifdef SCHED_IDLE
    {SCHED_IDLE, "SCHED_IDLE", "SCHED_IDLE|SCHED_RESET_ON_FORK"},
#endif
};

}  // namespace

const char* policy_name(int policy, char (&unknown)[24]) {
    const bool reset_on_fork = (policy & SCHED_RESET_ON_FORK) != 0;
    for (const policy_row& row : policies) {
        if (row.policy == (policy & ~SCHED_RESET_ON_FORK)) return reset_on_fork ? row.reset_on_fork : row.name;
    }
    snprintf(unknown, sizeof unknown, "policy %i", policy);
    return unknown;
}

void print_json_string(FILE* out, const char* text) {
    fputc('"', out);
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c != 0; ++c) {
        if (*c == '"' || *c == '\\') {
            fprintf(out, "\\%c", *c);
        } else if (*c == '\n') {
            fputs("\\n", out);
        } else if (*c < 0x20 || *c >= 0x7f) {
            fprintf(out, "\\u%04x", *c);
        } else {
            fputc(*c, out);
        }
    }
    fputc('"', out);
}
