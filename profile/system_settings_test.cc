#include "profile/system_settings.h"

#include <sched.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

TEST(SystemSettings, NothingAskedNothingRefused) {
    run_facts facts{};
    facts.priority_error = facts.cpu_error = -7;
    ask_priority(no_priority, &facts);
    ask_cpu(any_cpu, &facts);
    EXPECT_EQ(facts.priority_error, 0);
    EXPECT_EQ(facts.cpu_error, 0);
}

TEST(SystemSettings, ACpuAskedForIsTheOnlyOneObtained) {
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    run_facts facts{};
    ask_cpu(0, &facts);
    read_system_facts(&facts);
    sched_setaffinity(0, sizeof before, &before);
    if (facts.cpu_error != 0) GTEST_SKIP() << "CPU 0 refused here: errno " << facts.cpu_error;
    EXPECT_EQ(facts.cpu, 0);
}

TEST(SystemSettings, ReadsTheKernelCpusPolicyAndClock) {
    run_facts facts{};
    read_system_facts(&facts);
    EXPECT_NE(facts.kernel_release[0], '\0');
    EXPECT_NE(facts.kernel_version[0], '\0');
    EXPECT_GE(facts.cpus_online, 1);
    EXPECT_EQ(facts.policy, sched_getscheduler(0));
    EXPECT_GT(facts.clock_resolution_ns, 0);
}

}  // namespace
