#include "profile/system_settings.h"

#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

void ask_priority(int32_t priority, run_facts* facts) {
    facts->priority_error = 0;
    if (priority == no_priority) return;
    sched_param param{};
    param.sched_priority = priority;
    if (sched_setscheduler(0, SCHED_FIFO, &param) != 0) facts->priority_error = errno;
}

void ask_cpu(int32_t cpu, run_facts* facts) {
    facts->cpu_error = 0;
    if (cpu == any_cpu) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) facts->cpu_error = errno;
}

void lock_all_memory(run_facts* facts) {
#ifdef PLC_DO_TEST_NO_MLOCK
    facts->memory_locked = false;
    facts->lock_error = -1;
#else
    facts->memory_locked = mlockall(MCL_CURRENT | MCL_FUTURE) == 0;
    facts->lock_error = facts->memory_locked ? 0 : errno;
#endif
}

namespace {

// The only CPU the process may run on, or any_cpu.
int32_t only_cpu() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return any_cpu;
    int32_t found = any_cpu;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &set)) continue;
        if (found != any_cpu) return any_cpu;
        found = cpu;
    }
    return found;
}

}  // namespace

void read_system_facts(run_facts* facts) {
    utsname names;
    if (uname(&names) == 0) {
        snprintf(facts->kernel_release, sizeof facts->kernel_release, "%s", names.release);
        snprintf(facts->kernel_version, sizeof facts->kernel_version, "%s", names.version);
    } else {
        snprintf(facts->kernel_release, sizeof facts->kernel_release, "unknown");
        snprintf(facts->kernel_version, sizeof facts->kernel_version, "unknown");
    }
    facts->cpus_online = static_cast<int32_t>(sysconf(_SC_NPROCESSORS_ONLN));
    facts->policy = sched_getscheduler(0);
    sched_param param{};
    sched_getparam(0, &param);
    facts->priority = param.sched_priority;
    facts->cpu = only_cpu();
    timespec resolution{};
    clock_getres(CLOCK_MONOTONIC, &resolution);
    facts->clock_resolution_ns = static_cast<int64_t>(resolution.tv_sec) * 1000000000 + resolution.tv_nsec;
}
