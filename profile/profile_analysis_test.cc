#include "profile/profile_analysis.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

profile_log the_log;
profile_figures the_figures;

timeval at_us(int64_t us) { return timeval{static_cast<time_t>(us / 1000000), static_cast<suseconds_t>(us % 1000000)}; }

// Iteration i: its first reading at `start`, the write returning `write`
// later, the last pause ending `delay` after the first reading.
void plan(uint32_t i, int64_t start, int64_t write, int64_t delay, uint32_t refused = 0) {
    the_log.timing.entries[2 * i].time = at_us(start);
    the_log.timing.entries[2 * i + 1].time = at_us(start + delay);
    the_log.writes[i] = write_entry{at_us(start + write), refused};
}

TEST(Divide, QuotientAndRemainderOfSixtyFourBits) {
    struct {
        uint64_t dividend;
        uint32_t divisor;
        uint64_t quotient;
        uint32_t remainder;
    } cases[] = {
        {0, 7, 0, 0}, {999, 1000, 0, 999}, {123456789, 1000, 123456, 789},
        {UINT64_MAX, 10, 1844674407370955161u, 5}, {UINT64_MAX, UINT32_MAX, 4294967297u, 0},
    };
    for (const auto& c : cases) {
        uint32_t remainder;
        EXPECT_EQ(divide(c.dividend, c.divisor, &remainder), c.quotient) << c.dividend << " / " << c.divisor;
        EXPECT_EQ(remainder, c.remainder) << c.dividend << " % " << c.divisor;
    }
}

TEST(SortKeys, AscendingWhateverBytesDiffer) {
    static uint64_t keys[max_iterations], scratch[max_iterations], want[max_iterations];
    srand(42);
    for (uint64_t spread : {uint64_t{0}, uint64_t{255}, uint64_t{1} << 40, UINT64_MAX}) {
        for (uint32_t i = 0; i < max_iterations; ++i) {
            const uint64_t random = uint64_t(rand()) << 42 ^ uint64_t(rand()) << 21 ^ uint64_t(rand());
            keys[i] = want[i] = (uint64_t{7} << 50) + (spread ? random % spread : 0);
        }
        std::sort(want, want + max_iterations);
        sort_keys(keys, scratch, max_iterations);
        EXPECT_TRUE(std::equal(want, want + max_iterations, keys)) << "spread " << spread;
    }
}

TEST(NearestRank, CeilingOfTheShareCountedFromOne) {
    struct {
        uint32_t per_mille, count, rank;
    } cases[] = {
        {500, 1, 1}, {500, 2, 1}, {500, 3, 2}, {900, 22, 20}, {990, 100, 99},
        {999, 1000, 999}, {999, 1001, 1000}, {999, 10000, 9990}, {0, 5, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(nearest_rank(c.per_mille, c.count), c.rank) << c.per_mille << " " << c.count;
}

TEST(AnalyseProfile, BinsOutputsOversleepAndTheLongest) {
    memset(&the_log, 0, sizeof the_log);
    const run_params params{6, 1000, 25, 26, 0};  // a cycle of output 25 alone
    the_log.timing.run_start = at_us(100'000'000);
    the_log.timing.iterations_done = 6;
    plan(0, 100'000'010, 20, 1050);           // on the first bound: the first bin
    plan(1, 100'001'060, 40, 1051);           // just over it
    plan(2, 100'002'200, 30, 1'001'030);      // the pause woke 1 s late: above the last bound
    plan(3, 100'002'210, 2050, 1'001'000, 2); // refused twice; on the last bound
    plan(4, 102'000'000, 100, 1090);          // the pause woke 10 us early
    plan(5, 103'000'000, 0, 1'001'030);       // ties iteration 2, later
    analyse_profile(params, the_log, 3, &the_figures);

    EXPECT_EQ(the_figures.iterations, 6u);
    ASSERT_EQ(the_figures.outputs, 1u);  // 25..26 is a cycle of one output
    EXPECT_EQ(the_figures.per_output[0].output, 25u);
    EXPECT_EQ(the_figures.per_output[0].writes, 6u);
    EXPECT_EQ(the_figures.per_output[0].write_min, 0);
    EXPECT_EQ(the_figures.per_output[0].write_max, 2050);
    EXPECT_EQ(the_figures.per_output[0].longest_delay, 1'001'030);
    EXPECT_EQ(the_figures.per_output[0].write_mean_tenths, 3733);  // 2240 / 6

    EXPECT_EQ(the_figures.histogram.upper_us[0], 1050u);
    EXPECT_EQ(the_figures.histogram.upper_us[14], 1000u + 819200);
    EXPECT_EQ(the_figures.histogram.upper_us[15], 1000u + 1000000);
    const uint32_t counts[histogram_bins] = {1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
    EXPECT_TRUE(std::equal(counts, counts + histogram_bins, the_figures.histogram.counts));

    EXPECT_EQ(the_figures.oversleep.min, -10);
    EXPECT_EQ(the_figures.oversleep.max, 1'000'030);
    EXPECT_EQ(the_figures.delay.min, 1050);
    EXPECT_EQ(the_figures.delay.median, 1090);
    EXPECT_EQ(the_figures.delay.p90, 1'001'030);
    EXPECT_EQ(the_figures.delay.max, 1'001'030);
    EXPECT_EQ(the_figures.write.mean_tenths, 3733);  // 2240 / 6 = 373.33

    ASSERT_EQ(the_figures.longest, 3u);
    EXPECT_EQ(the_figures.longest_first[0], 2u);  // ties: the earliest first
    EXPECT_EQ(the_figures.longest_first[1], 5u);
    EXPECT_EQ(the_figures.longest_first[2], 3u);
    const iteration_figures& f = the_figures.rows[3];
    EXPECT_EQ(f.attempts, 3u);
    EXPECT_EQ(f.at_us, 2210);
    EXPECT_EQ(f.value, 1u);
}

}  // namespace
