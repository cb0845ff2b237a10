// What the oldest C libraries this program is built against (glibc 2.4)
// lack in their headers, though the kernels it runs on know it: the values
// are the kernel's, the same on every ABI.
#ifndef PROFILE_OLD_HEADERS_H
#define PROFILE_OLD_HEADERS_H

#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>

#ifndef O_CLOEXEC
#define O_CLOEXEC 02000000
#endif

#ifndef PR_SET_TIMERSLACK
#define PR_SET_TIMERSLACK 29
#define PR_GET_TIMERSLACK 30
#endif

// ORed into the policy sched_getscheduler returns when a child does not inherit it.
#ifndef SCHED_RESET_ON_FORK
#define SCHED_RESET_ON_FORK 0x40000000
#endif

#endif
