#include "profile/profile_analysis.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "profile/profile_sweep.h"

namespace {

profile_log the_log;
profile_figures the_figures;
fold_state the_state;
profile_plan the_plan;

timespec at_us(int64_t us) { return timespec{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000 * 1000)}; }

void begin(const run_params& params, uint32_t longest, int64_t limit_us = not_limited) {
    memset(&the_log, 0, sizeof the_log);
    the_plan = profile_plan{};
    the_plan.params = params;
    the_plan.interval_us = 60'000'000;
    the_plan.limit_us = limit_us;
    the_plan.break_us = not_limited;
    the_plan.longest = longest;
    the_plan.log_fd = -1;
    begin_profile(the_plan, at_us(100'000'000), &the_log, &the_state);
}

// One iteration as the sweep folds it: its first reading at `start`, the
// write returning `write` later, the last pause ending `delay` after the
// first reading.
void fold(uint32_t port, int64_t start, int64_t write, int64_t delay, uint32_t refused = 0) {
    the_state.readings.before = at_us(start);
    the_state.readings.after_write = at_us(start + write);
    the_state.readings.after = at_us(start + delay);
    the_state.readings.refused = refused;
    fold_iteration(&the_state, port, the_log.iterations_done & 1);
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

TEST(NearestRank, CeilingOfTheShareCountedFromOne) {
    struct {
        uint32_t per_mille, count, rank;
    } cases[] = {
        {500, 1, 1}, {500, 2, 1}, {500, 3, 2}, {900, 22, 20}, {990, 100, 99},
        {999, 1000, 999}, {999, 1001, 1000}, {999, 10000, 9990}, {0, 5, 1},
        {999, 4294967295u, 4290672328u}, {500, 4294967295u, 2147483648u},
    };
    for (const auto& c : cases) EXPECT_EQ(nearest_rank(c.per_mille, c.count), c.rank) << c.per_mille << " " << c.count;
}

// Percentiles from the histogram against nearest rank on the same figures:
// never below, at most 0.8 % (or nothing, up to 255 us) above.
TEST(HistogramPercentile, WithinTheStatedErrorOfNearestRank) {
    struct {
        const char* name;
        std::vector<int32_t> figures;
    } cases[] = {
        {"all in one bin", std::vector<int32_t>(1000, 20011)},
        {"two far apart", [] {
             std::vector<int32_t> v(500, 300);
             v.insert(v.end(), 500, 2'000'000'000);
             return v;
         }()},
        {"a single spike", [] {
             std::vector<int32_t> v(9999, 1003);
             v.push_back(987'654);
             return v;
         }()},
        {"spread", [] {
             std::vector<int32_t> v;
             srand(7);
             for (int i = 0; i < 20000; ++i) v.push_back(rand() % 5'000'000 - 63);
             return v;
         }()},
        {"exact and negative", {-63, -1, 0, 1, 254, 255, 255, 17}},
    };
    static figure_histogram h;
    for (auto& c : cases) {
        memset(&h, 0, sizeof h);
        for (int32_t figure : c.figures) ++h.counts[histogram_bin(figure)];
        std::sort(c.figures.begin(), c.figures.end());
        const uint32_t n = static_cast<uint32_t>(c.figures.size());
        for (uint32_t per_mille : {0u, 500u, 900u, 990u, 999u, 1000u}) {
            const int64_t exact = c.figures[nearest_rank(per_mille, n) - 1];
            const int64_t given = histogram_percentile(h, n, per_mille, c.figures.front(), c.figures.back());
            EXPECT_GE(given, exact) << c.name << " p" << per_mille;
            const int64_t allowed = exact < 256 ? 0 : exact / 128;
            EXPECT_LE(given - exact, allowed) << c.name << " p" << per_mille;
        }
    }
}

TEST(AnalyseProfile, BinsOutputsOversleepAndTheLongest) {
    begin(run_params{6, 1000, 25, 26, 0}, 3);  // a cycle of output 25 alone
    fold(25, 100'000'010, 20, 1050);           // on the first bound: the first bin
    fold(25, 100'001'060, 40, 1051);           // just over it
    fold(25, 100'002'200, 30, 1'001'030);      // the pause woke 1 s late: above the last bound
    fold(25, 100'002'210, 2050, 1'001'000, 2); // refused twice; on the last bound
    fold(25, 102'000'000, 100, 1090);          // the pause woke 10 us early
    fold(25, 103'000'000, 0, 1'001'030);       // ties iteration 2, later
    analyse_profile(the_plan.params, the_log, &the_figures);

    EXPECT_EQ(the_figures.iterations, 6u);
    ASSERT_EQ(the_figures.outputs, 1u);  // 25..26 is a cycle of one output
    EXPECT_EQ(the_figures.per_output[0].output, 25u);
    EXPECT_EQ(the_figures.per_output[0].writes, 6u);
    EXPECT_EQ(the_figures.per_output[0].write_min, 0);
    EXPECT_EQ(the_figures.per_output[0].write_max, 2050);
    EXPECT_EQ(the_figures.per_output[0].longest_delay, 1'001'030);
    EXPECT_EQ(the_figures.per_output[0].write_mean_tenths, 3733);  // 2240 / 6

    EXPECT_EQ(the_figures.coarse.upper_us[0], 1050u);
    EXPECT_EQ(the_figures.coarse.upper_us[14], 1000u + 819200);
    EXPECT_EQ(the_figures.coarse.upper_us[15], 1000u + 1000000);
    const uint32_t counts[coarse_bins] = {1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
    EXPECT_TRUE(std::equal(counts, counts + coarse_bins, the_figures.coarse.counts));

    EXPECT_EQ(the_figures.oversleep.min, -10);
    EXPECT_EQ(the_figures.oversleep.max, 1'000'030);
    EXPECT_EQ(the_figures.oversleep.mean_tenths, 4'996'685);  // (30 + 11 + 1000000 + 997950 - 10 + 1000030) / 6
    EXPECT_EQ(the_figures.delay.min, 1050);
    EXPECT_EQ(the_figures.delay.median, 1090);
    EXPECT_EQ(the_figures.delay.p90, 1'001'030);
    EXPECT_EQ(the_figures.delay.max, 1'001'030);
    EXPECT_EQ(the_figures.write.mean_tenths, 3733);  // 2240 / 6 = 373.33
    EXPECT_EQ(the_log.max_iteration, 2u);  // of equal ones the first
    EXPECT_EQ(the_log.max_at_us, 2200);

    ASSERT_EQ(the_figures.longest, 3u);
    const iteration_figures* heap = the_log.longest_heap;
    EXPECT_EQ(heap[the_figures.longest_first[0]].iteration, 2u);  // ties: the earliest first
    EXPECT_EQ(heap[the_figures.longest_first[1]].iteration, 5u);
    EXPECT_EQ(heap[the_figures.longest_first[2]].iteration, 3u);
    const iteration_figures& f = heap[the_figures.longest_first[2]];
    EXPECT_EQ(f.attempts, 3u);
    EXPECT_EQ(f.at_us, 2210);
    EXPECT_EQ(f.value, 1u);
}

// --limit: how many delays exceeded it, the first, the last and the longest
// streak of consecutive ones.
TEST(AnalyseProfile, LimitStreaks) {
    begin(run_params{10, 1000, 25, 35, 0}, 0, 1500);
    const bool over[] = {false, true, true, false, true, true, true, false, false, true};
    for (uint32_t i = 0; i < 10; ++i) fold(25 + i, 100'000'000 + i * 10'000, 100, over[i] ? 2000 : 1100);
    const limit_tally& t = the_log.limit;
    EXPECT_EQ(t.exceedances, 6u);
    EXPECT_EQ(t.first, 1u);
    EXPECT_EQ(t.last, 9u);
    EXPECT_EQ(t.last_at_us, 90'000);
    EXPECT_EQ(t.longest_streak, 3u);
    EXPECT_EQ(t.longest_streak_first, 4u);
    EXPECT_EQ(t.longest_streak_at_us, 40'000);
    EXPECT_EQ(the_log.intervals[0].exceedances, 6u);
}

}  // namespace
