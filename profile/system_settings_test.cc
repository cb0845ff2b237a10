#include "profile/system_settings.h"
#include "profile/utc_text.h"

#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "profile/facts_output.h"
#include "profile/profile_output.h"

namespace {

TEST(SystemSettings, NothingAskedNothingRefused) {
    run_facts facts{};
    facts.priority_error = facts.cpu_error = -7;
    facts.timer_slack_error = facts.dma_latency_error = -7;
    ask_priority(no_priority, &facts);
    ask_cpu(any_cpu, &facts);
    ask_timer_slack(not_asked, &facts);
    ask_dma_latency(not_asked, &facts);
    EXPECT_EQ(facts.priority_error, 0);
    EXPECT_EQ(facts.cpu_error, 0);
    EXPECT_EQ(facts.timer_slack_error, 0);
    EXPECT_EQ(facts.dma_latency_error, 0);
    EXPECT_EQ(facts.dma_latency_fd, -1);
}

TEST(SystemSettings, ATimerSlackAskedForIsObtained) {
    const int before = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    run_facts facts{};
    ask_timer_slack(1, &facts);
    read_system_facts(&facts);
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(before), 0, 0, 0);
    EXPECT_EQ(facts.timer_slack_error, 0);
    EXPECT_EQ(facts.timer_slack_ns, 1);
}

// Held while the descriptor is open (root), or refused with its errno (a user: EACCES; no device: ENOENT).
TEST(SystemSettings, ACpuDmaLatencyAskedForIsHeldOrRefused) {
    run_facts facts{};
    ask_dma_latency(2000000000, &facts);
    read_system_facts(&facts);
    if (facts.dma_latency_fd >= 0) close(facts.dma_latency_fd);
    EXPECT_EQ(facts.dma_latency_error != 0, facts.dma_latency_fd < 0);
    if (facts.dma_latency_unread == 0) {
        EXPECT_GE(facts.dma_latency_us, 0);
        EXPECT_LE(facts.dma_latency_us, 2000000000);
    } else {
        EXPECT_EQ(facts.dma_latency_us, not_asked);
    }
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
    EXPECT_EQ(facts.timer_slack_ns, prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
}

TEST(Facts, TheStartInUtcToTheMicrosecond) {
    const struct {
        timeval when;
        int64_t after_us;  // the time of day so long after `when`
        const char* text;
    } cases[] = {
        {{0, 0}, 0, "1970-01-01T00:00:00.000000Z"},
        {{1796881267, 123456}, 0, "2026-12-10T05:41:07.123456Z"},
        {{951782399, 999999}, 0, "2000-02-28T23:59:59.999999Z"},
        {{951782400, 7}, 0, "2000-02-29T00:00:00.000007Z"},
        {{951782399, 999999}, 8, "2000-02-29T00:00:00.000007Z"},
        {{1796881267, 123456}, int64_t{86400} * 1000000 * 3 + 1, "2026-12-13T05:41:07.123457Z"},
    };
    for (const auto& c : cases) {
        utc_text text;
        format_utc(text, c.when, c.after_us);
        EXPECT_STREQ(text, c.text);
    }
}

std::string facts_text(const run_facts& facts, const profile_options& options) {
    const profile_run run{&options, nullptr, nullptr, &facts, "", false, nullptr, nullptr};
    char text[2048] = "";
    FILE* out = fmemopen(text, sizeof text - 1, "w");
    print_facts_text(out, run);
    fclose(out);
    return text;
}

// Each setting: what was obtained, and what was asked and refused, and why; never silent.
TEST(Facts, TimerSlackAndCpuDmaLatencyLines) {
    const struct {
        int64_t slack, slack_asked;
        int slack_error;
        int64_t latency, latency_asked;
        int unread, latency_error;
        const char* lines;
    } cases[] = {
        {50000, not_asked, 0, 2000000000, not_asked, 0, 0,
         "timer slack: 50000 ns\nCPU DMA latency: 2000000000 us\n"},
        {1, 1, 0, 0, 0, 0, 0, "timer slack: 1 ns (1 ns asked for)\nCPU DMA latency: 0 us (0 us asked for, held for the run)\n"},
        {50000, 1, EPERM, not_asked, 5, EACCES, EACCES,
         "timer slack: 50000 ns (1 ns asked for: refused, EPERM 1: Operation not permitted)\n"
         "CPU DMA latency: unknown (/dev/cpu_dma_latency: EACCES 13: Permission denied) "
         "(5 us asked for: refused, EACCES 13: Permission denied)\n"},
        {not_asked, not_asked, 0, not_asked, not_asked, ENOENT, 0,
         "timer slack: unknown (PR_GET_TIMERSLACK refused)\n"
         "CPU DMA latency: unknown (/dev/cpu_dma_latency: ENOENT 2: No such file or directory)\n"},
    };
    for (const auto& c : cases) {
        run_facts facts{};
        facts.timer_slack_ns = c.slack;
        facts.timer_slack_error = c.slack_error;
        facts.dma_latency_us = c.latency;
        facts.dma_latency_unread = c.unread;
        facts.dma_latency_error = c.latency_error;
        profile_options options{};
        options.priority = no_priority;
        options.cpu = any_cpu;
        options.timer_slack_ns = c.slack_asked;
        options.dma_latency_us = c.latency_asked;
        const std::string text = facts_text(facts, options);
        EXPECT_NE(text.find("started: 1970-01-01T00:00:00.000000Z\n" + std::string(c.lines)), std::string::npos)
            << text;
    }
}

}  // namespace
