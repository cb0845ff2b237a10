// What plc_do_profile asks of the system for its sweep (a SCHED_FIFO
// priority, one CPU, locked memory) and what it reads of it for the profile.
// A refusal is kept with its errno and the run goes on.
#ifndef RUN_SYSTEM_SETTINGS_H
#define RUN_SYSTEM_SETTINGS_H

#include <stdint.h>

#include "report/profile_output.h"

// SCHED_FIFO at `priority` for the process, unless no_priority.
void ask_priority(int32_t priority, run_facts* facts);

// The process on CPU `cpu` only, unless any_cpu.
void ask_cpu(int32_t cpu, run_facts* facts);

// All the process's memory, now and to come, locked (when the build may).
void lock_all_memory(run_facts* facts);

// The kernel, the CPUs, the scheduling obtained, the clock's resolution.
void read_system_facts(run_facts* facts);

#endif
