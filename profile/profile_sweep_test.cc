#include "profile/profile_sweep.h"

#include <string.h>

#include <gtest/gtest.h>

#include "tests/support/fake_io.h"

namespace {

profile_log the_profile_log;

int64_t microseconds(const timeval& t) { return int64_t{t.tv_sec} * 1000000 + t.tv_usec; }

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
        memset(&the_profile_log, 0xAB, sizeof the_profile_log);
        write_reading extra{timespec{}, 0, the_profile_log.writes};
        sweep_outputs_through<fake_io>(run_params{2, 7000, 25, 35, 0}, the_profile_log.timing, &extra);
        EXPECT_EQ(fake_io::events, c.events);
        for (uint32_t i = 0; i < 2; ++i) {
            const write_entry& write = the_profile_log.writes[i];
            EXPECT_EQ(write.refused, uint32_t(c.refusals));
            EXPECT_EQ(microseconds(write.after_write) - microseconds(the_profile_log.timing.entries[2 * i].time),
                      c.refusals * 7000);
        }
        EXPECT_EQ(extra.next, the_profile_log.writes + 2);
    }
}

}  // namespace
