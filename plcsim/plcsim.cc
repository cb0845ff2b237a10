// A stand-in for the controller's libplc.so: the same three C calls, a
// simulated set of outputs, and a record of every call it received. Set up
// through PLCSIM_* in the environment when it loads (docs/building.md, "The
// stand-in's settings"); a malformed value ends the process with status 3.
#include "plcsim/plcsim.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "plc/plc.h"

namespace {

// Enough for the longest ordinary run with many refusals; calls past it are
// counted and the count is written at the end of the trace.
constexpr size_t record_capacity = size_t{1} << 18;

struct simulated_controller {
    bool recording;
    size_t recorded;
    uint64_t not_recorded;
    FILE* trace;

    uint32_t refusals_per_write;
    uint32_t refused_so_far;  // of the write being attempted now

    bool outputs_limited;
    int32_t first_output;
    int32_t last_output;

    uint32_t write_us;

    // Writes to the outputs slow_first..slow_last take slow_us instead.
    bool slow_outputs;
    int32_t slow_first;
    int32_t slow_last;
    uint32_t slow_us;

    const char* locked_report;  // PLCSIM_LOCKED, until the first safe value
};

simulated_controller sim;
// Static storage, so that recording allocates nothing; touched in full when a
// trace is asked for, so that recording causes no page fault either.
plcsim::call records[record_capacity];

void record(plcsim::call_kind kind, int32_t port, int32_t value, int32_t result) {
    if (!sim.recording) return;
    if (sim.recorded == record_capacity) {
        ++sim.not_recorded;
        return;
    }
    records[sim.recorded++] = plcsim::call{kind, port, value, result};
}

// Whole seconds and the nanoseconds beyond them, each below 2^32: the ARM
// build links no runtime helper for a 64-bit division.
void sleep_for(uint32_t seconds, uint32_t nanoseconds) {
    timespec t;
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_nsec = static_cast<long>(nanoseconds);
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

bool output_exists(int32_t port) {
    return !sim.outputs_limited || (port >= sim.first_output && port <= sim.last_output);
}

[[noreturn]] void refuse_setting(const char* name, const char* text) {
    fprintf(stderr, "plcsim: %s=\"%s\" is malformed\n", name, text);
    _exit(3);
}

// A decimal number, signed where `low` is below 0, within [low, high], read up
// to the first character that is not part of it.
bool parse_number(const char** cursor, int64_t low, int64_t high, int64_t* out) {
    const char* s = *cursor;
    const bool negative = low < 0 && *s == '-';
    if (negative) ++s;
    if (*s < '0' || *s > '9') return false;
    int64_t value = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        value = value * 10 + (*s - '0');
        if (value > high + 1) return false;
    }
    *out = negative ? -value : value;
    *cursor = s;
    return *out >= low && *out <= high;
}

bool parse_count(const char* text, uint32_t* out) {
    int64_t value;
    if (!parse_number(&text, 0, UINT32_MAX, &value) || *text != '\0') return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

// FIRST-LAST, each a signed decimal number, FIRST not above LAST, read up to
// the first character past it.
bool parse_range(const char** cursor, int32_t* first, int32_t* last) {
    int64_t from, to;
    if (!parse_number(cursor, INT32_MIN, INT32_MAX, &from) || *(*cursor)++ != '-') return false;
    if (!parse_number(cursor, INT32_MIN, INT32_MAX, &to) || from > to) return false;
    *first = static_cast<int32_t>(from);
    *last = static_cast<int32_t>(to);
    return true;
}

// Words of a library that talks when it loads: TEXT and a line feed, byte
// for byte, straight to the descriptor, before the program writes anything.
void say(int fd, const char* text) {
    const size_t length = strlen(text);
    if (write(fd, text, length) != static_cast<ssize_t>(length) || write(fd, "\n", 1) != 1) _exit(3);
}

bool parse_output_range(const char* text, int32_t* first, int32_t* last) {
    return parse_range(&text, first, last) && *text == '\0';
}

// FIRST-LAST:US
bool parse_slow_outputs(const char* text) {
    if (!parse_range(&text, &sim.slow_first, &sim.slow_last) || *text++ != ':') return false;
    sim.slow_outputs = true;
    return parse_count(text, &sim.slow_us);
}

// A copy of /proc/self/smaps: each mapping's size and what of it is resident
// and locked, so that a test can find the program's own log among them.
void report_locked_memory(const char* path) {
    FILE* maps = fopen("/proc/self/smaps", "r");
    FILE* report = fopen(path, "w");
    if (maps != nullptr && report != nullptr) {
        char block[4096];
        size_t got;
        while ((got = fread(block, 1, sizeof block, maps)) > 0) fwrite(block, 1, got, report);
    }
    if (report != nullptr) fclose(report);
    if (maps != nullptr) fclose(maps);
}

void write_trace() {
    for (size_t i = 0; i < sim.recorded; ++i) {
        const plcsim::call& c = records[i];
        switch (c.kind) {
            case plcsim::call_kind::safe_value:
                fprintf(sim.trace, "safe_value %d %d\n", c.port, c.value);
                break;
            case plcsim::call_kind::write:
                fprintf(sim.trace, "write %d %d %d\n", c.port, c.value, c.result);
                break;
            case plcsim::call_kind::wait_ms:
                fprintf(sim.trace, "wait_ms %d\n", c.port);
                break;
        }
    }
    if (sim.not_recorded != 0) {
        fprintf(sim.trace, "not_recorded %llu\n", static_cast<unsigned long long>(sim.not_recorded));
    }
}

__attribute__((constructor)) void set_up_from_environment() {
    if (const char* path = getenv("PLCSIM_STDOUT")) {
        const int fd = open(path, O_WRONLY);
        if (fd < 0 || dup2(fd, 1) != 1) refuse_setting("PLCSIM_STDOUT", path);
        close(fd);
    }
    if (const char* text = getenv("PLCSIM_SAY_STDOUT")) say(1, text);
    if (const char* text = getenv("PLCSIM_SAY_STDERR")) say(2, text);
    // A library that leaves the program deaf to TERM: only KILL stops it.
    if (getenv("PLCSIM_IGNORE_TERM")) signal(SIGTERM, SIG_IGN);
    if (const char* text = getenv("PLCSIM_REFUSE")) {
        if (!parse_count(text, &sim.refusals_per_write)) refuse_setting("PLCSIM_REFUSE", text);
    }
    if (const char* text = getenv("PLCSIM_WRITE_US")) {
        if (!parse_count(text, &sim.write_us)) refuse_setting("PLCSIM_WRITE_US", text);
    }
    if (const char* text = getenv("PLCSIM_SLOW")) {
        if (!parse_slow_outputs(text)) refuse_setting("PLCSIM_SLOW", text);
    }
    if (const char* text = getenv("PLCSIM_OUTPUTS")) {
        if (!parse_output_range(text, &sim.first_output, &sim.last_output)) {
            refuse_setting("PLCSIM_OUTPUTS", text);
        }
        sim.outputs_limited = true;
    }
    sim.locked_report = getenv("PLCSIM_LOCKED");
    if (const char* path = getenv("PLCSIM_TRACE")) {
        // Opened now, so that a trace that cannot be written is known before
        // the run, and so that a run with no call leaves an empty file.
        sim.trace = *path == '\0' ? nullptr : fopen(path, "w");
        if (sim.trace == nullptr) refuse_setting("PLCSIM_TRACE", path);
        memset(records, 0, sizeof records);
        sim.recording = true;
    }
}

__attribute__((destructor)) void write_trace_at_exit() {
    if (sim.trace == nullptr) return;
    write_trace();
    fclose(sim.trace);
    sim.trace = nullptr;
}

}  // namespace

extern "C" int32_t plc_write_port(int32_t port, int32_t value) {
    const bool slow = sim.slow_outputs && port >= sim.slow_first && port <= sim.slow_last;
    const uint32_t write_us = slow ? sim.slow_us : sim.write_us;
    if (write_us != 0) sleep_for(write_us / 1000000, write_us % 1000000 * 1000);
    int32_t result = -1;
    if (output_exists(port)) {
        if (sim.refused_so_far < sim.refusals_per_write) {
            ++sim.refused_so_far;
        } else {
            sim.refused_so_far = 0;
            result = 0;
        }
    }
    record(plcsim::call_kind::write, port, value, result);
    return result;
}

extern "C" int32_t plc_write_port_safe_value(int32_t port, int32_t value) {
    // Here rather than in a write, so that no write pays for the check.
    if (sim.locked_report != nullptr) {
        report_locked_memory(sim.locked_report);
        sim.locked_report = nullptr;
    }
    record(plcsim::call_kind::safe_value, port, value, 0);
    return 0;
}

extern "C" int32_t plc_wait_ms(int32_t ms) {
    if (ms > 0) sleep_for(static_cast<uint32_t>(ms) / 1000, static_cast<uint32_t>(ms) % 1000 * 1000000);
    record(plcsim::call_kind::wait_ms, ms, 0, 0);
    return 0;
}

namespace plcsim {

void reset() {
    FILE* trace = sim.trace;
    sim = simulated_controller{};
    sim.trace = trace;
    sim.recording = true;
}

void set_refusals(uint32_t times) {
    sim.refusals_per_write = times;
    sim.refused_so_far = 0;
}

void set_outputs(int32_t first, int32_t last) {
    sim.outputs_limited = true;
    sim.first_output = first;
    sim.last_output = last;
}

size_t call_count() { return sim.recorded; }

call call_at(size_t index) { return index < sim.recorded ? records[index] : call{}; }

}  // namespace plcsim
