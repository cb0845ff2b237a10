#include "profile/system_settings.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include "profile/old_headers.h"

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

void ask_timer_slack(int64_t ns, run_facts* facts) {
    facts->timer_slack_error = 0;
    if (ns == not_asked) return;
    if (prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(ns), 0, 0, 0) != 0) facts->timer_slack_error = errno;
}

void ask_dma_latency(int64_t us, run_facts* facts) {
    facts->dma_latency_error = 0;
    facts->dma_latency_fd = -1;
    if (us == not_asked) return;
    const int fd = open(cpu_dma_latency_path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        facts->dma_latency_error = errno;
        return;
    }
    // The device takes the value as a binary 32-bit integer.
    const int32_t value = static_cast<int32_t>(us);
    const ssize_t written = write(fd, &value, sizeof value);
    if (written != static_cast<ssize_t>(sizeof value)) {
        facts->dma_latency_error = written < 0 ? errno : EIO;
        close(fd);
        return;
    }
    facts->dma_latency_fd = fd;
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

// The timer slack now, or not_asked when the kernel does not say.
int64_t read_timer_slack() {
    // prctl returns the slack as an int: a slack above INT_MAX comes back negative.
    errno = 0;
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    return slack == -1 && errno != 0 ? not_asked : static_cast<int64_t>(static_cast<unsigned int>(slack));
}

// The latency every holder of /dev/cpu_dma_latency allows at most (read-only
// access is enough); not_asked with the errno kept when it cannot be read.
int64_t read_dma_latency(int* error) {
    *error = 0;
    const int fd = open(cpu_dma_latency_path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return not_asked;
    }
    int32_t value = 0;
    const ssize_t got = read(fd, &value, sizeof value);
    if (got != static_cast<ssize_t>(sizeof value)) *error = got < 0 ? errno : EIO;
    close(fd);
    return *error ? not_asked : value;
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
    facts->timer_slack_ns = read_timer_slack();
    facts->dma_latency_us = read_dma_latency(&facts->dma_latency_unread);
}
