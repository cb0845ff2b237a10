// The run's facts as plc_do_profile prints them: the system it ran on, what
// the sweep asked of it and what it obtained or was refused, and why.
#include "profile/facts_output.h"

#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>

#include "profile/profile_output.h"

namespace {

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


}  // namespace

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
    fprintf(out, ", \"clock_resolution_ns\": %lld},\n", wide(facts.clock_resolution_ns));
}

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
