// What plc_do_profile asks of the system for its sweep (a SCHED_FIFO
// priority, one CPU, locked memory) and what it reads of it for the profile.
// A refusal is kept with its errno and the run goes on.
#ifndef PROFILE_SYSTEM_SETTINGS_H
#define PROFILE_SYSTEM_SETTINGS_H

#include <stdint.h>

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
};

// SCHED_FIFO at `priority` for the process, unless no_priority.
void ask_priority(int32_t priority, run_facts* facts);

// The process on CPU `cpu` only, unless any_cpu.
void ask_cpu(int32_t cpu, run_facts* facts);

// All the process's memory, now and to come, locked (when the build may).
void lock_all_memory(run_facts* facts);

// The kernel, the CPUs, the scheduling obtained, the clock's resolution.
void read_system_facts(run_facts* facts);

#endif
