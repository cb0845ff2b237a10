#include "profile/profile_sweep.h"

#include <string.h>

#include <gtest/gtest.h>

#include "tests/support/fake_io.h"

namespace {

profile_log the_profile_log;

profile_plan plan_for(uint32_t iterations, uint32_t pause) {
    profile_plan plan{};
    plan.params = run_params{iterations, pause, 25, 35, 0};
    plan.interval_us = 60'000'000;
    plan.limit_us = not_limited;
    plan.break_us = not_limited;
    plan.longest = 10;
    plan.samples = true;
    plan.log_fd = -1;
    return plan;
}

TEST(ProfiledSweep, ReadsTheClockAfterTheAcceptedWriteAndCountsTheRefusedAttempts) {
    struct {
        int refusals;
        const char* events;
    } cases[] = {
        {0, "cs" "cwcpc" "cwcpc" "c"},
        {2, "cs" "cwpcwpcwcpc" "cwpcwpcwcpc" "c"},
    };
    for (const auto& c : cases) {
        fake_io::reset();
        fake_io::refusals_per_write = c.refusals;
        memset(&the_profile_log, 0, sizeof the_profile_log);
        const profile_plan plan = plan_for(2, 7000);
        sweep_profiled_through<fake_io>(plan, the_profile_log);
        EXPECT_EQ(fake_io::events, c.events);
        ASSERT_EQ(the_profile_log.iterations_done, 2u);
        for (uint32_t i = 0; i < 2; ++i) {
            const iteration_figures& f = the_profile_log.samples[i];
            EXPECT_EQ(f.attempts, uint32_t(c.refusals + 1));
            EXPECT_EQ(f.write_us, c.refusals * 7000);
            EXPECT_EQ(f.delay_us, (c.refusals + 1) * 7000);
            EXPECT_EQ(f.output, 25u + i);
            EXPECT_EQ(f.value, i);
        }
    }
}

// How a sweep ends: the iterations asked for, a write refused for 10 s, a
// stop signal before the first iteration, --break at its first delay.
TEST(ProfiledSweep, EndsAsAskedAndSaysWhy) {
    struct {
        const char* name;
        int32_t dead_port;
        int stop_signal;
        int64_t break_us;
        sweep_end end;
        uint32_t done;
    } cases[] = {
        {"completed", -12345, 0, not_limited, sweep_end::completed, 30},
        {"refused at output 27", 27, 0, not_limited, sweep_end::refused, 2},
        {"stopped before", -12345, SIGTERM, not_limited, sweep_end::stopped, 0},
        {"break", -12345, 0, 999, sweep_end::broke, 1},
    };
    for (const auto& c : cases) {
        fake_io::reset();
        fake_io::dead_port = c.dead_port;
        profile_stop_signal = c.stop_signal;
        memset(&the_profile_log, 0, sizeof the_profile_log);
        profile_plan plan = plan_for(30, 1000);
        plan.break_us = c.break_us;
        sweep_profiled_through<fake_io>(plan, the_profile_log);
        profile_stop_signal = 0;
        EXPECT_EQ(the_profile_log.end, c.end) << c.name;
        EXPECT_EQ(the_profile_log.iterations_done, c.done) << c.name;
    }
}

}  // namespace
