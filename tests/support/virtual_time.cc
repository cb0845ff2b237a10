// Virtual time for end-to-end runs, loaded into the program's process: time
// starts at VTIME_START_US (100 s) and moves only by the pauses (usleep) and
// the stand-in's write time (nanosleep), exactly as asked, without waiting.
// With VTIME_LOG=FILE it writes, when the process ends, every reading and
// every pause in call order, one a line:
//   clock ID        a clock_gettime reading of clock ID (1: CLOCK_MONOTONIC)
//   gettimeofday    a gettimeofday reading
//   pause US        a usleep of US microseconds
//   sleep US        a nanosleep of US microseconds (rounded down)
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

namespace {

enum class event_kind : uint8_t { clock, gettimeofday, pause, sleep };

struct event {
    event_kind kind;
    uint64_t value;  // clock: the clock's id; pause, sleep: microseconds
};

// A full log of refusals for 10 s at the shortest pause, and more.
constexpr size_t event_capacity = size_t{1} << 18;
event events[event_capacity];
size_t recorded;
uint64_t not_recorded;
uint64_t now_us = 100 * uint64_t{1000000};

void record(event_kind kind, uint64_t value) {
    if (recorded == event_capacity) {
        ++not_recorded;
        return;
    }
    events[recorded++] = event{kind, value};
}

__attribute__((constructor)) void start_clock() {
    if (const char* text = getenv("VTIME_START_US")) now_us = strtoull(text, nullptr, 10);
}

__attribute__((destructor)) void write_log() {
    const char* path = getenv("VTIME_LOG");
    if (path == nullptr) return;
    FILE* log = fopen(path, "w");
    if (log == nullptr) return;
    static const char* const names[] = {"clock", "gettimeofday", "pause", "sleep"};
    for (size_t i = 0; i < recorded; ++i) {
        const event& e = events[i];
        if (e.kind == event_kind::gettimeofday) {
            fprintf(log, "gettimeofday\n");
        } else {
            fprintf(log, "%s %llu\n", names[static_cast<int>(e.kind)],
                    static_cast<unsigned long long>(e.value));
        }
    }
    if (not_recorded != 0) fprintf(log, "not_recorded %llu\n", static_cast<unsigned long long>(not_recorded));
    fclose(log);
}

}  // namespace

extern "C" int clock_gettime(clockid_t id, timespec* now) {
    record(event_kind::clock, static_cast<uint64_t>(id));
    now->tv_sec = static_cast<time_t>(now_us / 1000000);
    now->tv_nsec = static_cast<long>(now_us % 1000000 * 1000);
    return 0;
}

extern "C" int gettimeofday(timeval* now, void*) {
    record(event_kind::gettimeofday, 0);
    now->tv_sec = static_cast<time_t>(now_us / 1000000);
    now->tv_usec = static_cast<suseconds_t>(now_us % 1000000);
    return 0;
}

extern "C" int usleep(useconds_t us) {
    record(event_kind::pause, us);
    now_us += us;
    return 0;
}

extern "C" int nanosleep(const timespec* length, timespec* remaining) {
    const uint64_t us = static_cast<uint64_t>(length->tv_sec) * 1000000 +
                        static_cast<uint64_t>(length->tv_nsec) / 1000;
    record(event_kind::sleep, us);
    now_us += us;
    if (remaining != nullptr) *remaining = timespec{};
    return 0;
}
