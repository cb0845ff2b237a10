// What plc_do_profile asks of the system for its sweep (a SCHED_FIFO
// priority, one CPU, locked memory, a timer slack, a CPU DMA latency) and
// what it reads of it for the profile.
// A refusal is kept with its errno and the run goes on.
#ifndef PROFILE_SYSTEM_SETTINGS_H
#define PROFILE_SYSTEM_SETTINGS_H

#include <stdint.h>
#include <sys/time.h>

#include "profile/profile_options.h"

// What the system gave the run, and what it refused (an errno; 0: nothing).
struct run_facts {
    char identity[128];  // the program's identity line
    char kernel_release[80];
    char kernel_version[80];
    int32_t cpus_online;
    int policy;        // obtained for the sweep: SCHED_OTHER, SCHED_FIFO, ...
    int32_t priority;  // obtained
    int priority_error;  // why the priority asked for was refused
    int32_t cpu;         // the only CPU the sweep could run on, or any_cpu
    int cpu_error;       // why the CPU asked for was refused
    bool memory_locked;
    int lock_error;  // why memory is not locked; -1: not tried in this build
    int64_t clock_resolution_ns;
    timeval wall_start;       // when the sweep began, UTC (gettimeofday)
    int64_t timer_slack_ns;   // obtained, or not_asked when it could not be read
    int timer_slack_error;    // why the timer slack asked for was refused
    int64_t dma_latency_us;   // /dev/cpu_dma_latency's value, or not_asked when unread
    int dma_latency_unread;   // why it could not be read
    int dma_latency_error;    // why the latency asked for was refused
    int dma_latency_fd;       // holds the latency asked for while open: never closed; -1: none
};

// The device whose value is the CPUs' longest allowed wake-up latency, held
// by each process that keeps it open with a value written.
constexpr const char* cpu_dma_latency_path = "/dev/cpu_dma_latency";

// SCHED_FIFO at `priority` for the process, unless no_priority.
void ask_priority(int32_t priority, run_facts* facts);

// The process on CPU `cpu` only, unless any_cpu.
void ask_cpu(int32_t cpu, run_facts* facts);

// The process's timer slack at `ns`, unless not_asked.
void ask_timer_slack(int64_t ns, run_facts* facts);

// The CPU DMA latency at `us` while the process lives, unless not_asked.
void ask_dma_latency(int64_t us, run_facts* facts);

// All the process's memory, now and to come, locked (when the build may).
void lock_all_memory(run_facts* facts);

// The kernel, the CPUs, the scheduling obtained, the clock's resolution, the
// timer slack and the CPU DMA latency.
void read_system_facts(run_facts* facts);

#endif
