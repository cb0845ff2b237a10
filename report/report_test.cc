#include "report/report.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

namespace {

timeval at(long seconds, long microseconds) { return timeval{seconds, microseconds}; }

TEST(IntervalUs, CountsEverySecondBetweenTheReadings) {
    struct {
        timeval before, after;
        uint64_t expected;
    } cases[] = {
        {at(100, 200), at(100, 20200), 20000},
        {at(100, 900000), at(101, 200000), 300000},     // crosses one second boundary
        {at(100, 900000), at(103, 400000), 2500000},    // crosses three
        {at(100, 0), at(102, 500000), 2500000},         // crosses two
        {at(100, 5), at(100, 5), 0},
        {at(100, 500), at(100, 400), 0},                // a damaged pair counts as nothing
        {at(101, 0), at(100, 999999), 0},
        {at(2147483000, 0), at(2147483647, 999999), 647999999},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(interval_us(c.before, c.after), c.expected)
            << c.before.tv_sec << "." << c.before.tv_usec << " to " << c.after.tv_sec << "."
            << c.after.tv_usec;
    }
}

TEST(CountDelay, EveryBoundBelongsToTheLowerClass) {
    struct {
        uint64_t delay_us;
        int32_t le20, le30, le40, gt40;
    } cases[] = {
        {0, 1, 0, 0, 0},     {20000, 1, 0, 0, 0}, {20001, 0, 1, 0, 0}, {30000, 0, 1, 0, 0},
        {30001, 0, 0, 1, 0}, {40000, 0, 0, 1, 0}, {40001, 0, 0, 0, 1}, {4300000000, 0, 0, 0, 1},
    };
    for (const auto& c : cases) {
        delay_stats stats{};
        count_delay(&stats, c.delay_us);
        EXPECT_EQ(stats.count_le_20ms, c.le20) << c.delay_us;
        EXPECT_EQ(stats.count_20_30ms, c.le30) << c.delay_us;
        EXPECT_EQ(stats.count_30_40ms, c.le40) << c.delay_us;
        EXPECT_EQ(stats.count_gt_40ms, c.gt40) << c.delay_us;
        EXPECT_EQ(stats.max_delay_us, c.delay_us);
    }
}

timing_log the_log;

// Iteration i's window opens at second 50 + i and lasts delays[i] microseconds.
void fill_log(const std::vector<uint64_t>& delays) {
    memset(&the_log, 0, sizeof the_log);
    for (size_t i = 0; i < delays.size(); ++i) {
        const long opens = static_cast<long>(50 + i);
        the_log.entries[2 * i].time = at(opens, 0);
        the_log.entries[2 * i + 1].time =
            at(opens + static_cast<long>(delays[i] / 1000000), static_cast<long>(delays[i] % 1000000));
    }
    the_log.iterations_done = static_cast<uint32_t>(delays.size());
}

TEST(AnalyseLog, ClassifiesEveryCompletedIterationAndKeepsTheLongest) {
    fill_log({20000, 20001, 30000, 40000, 40001, 20999, 1500000});
    const delay_stats stats = analyse_log(run_params{7, 0, 25, 35, 0}, the_log);
    EXPECT_EQ(stats.count_le_20ms, 1);
    EXPECT_EQ(stats.count_20_30ms, 3);
    EXPECT_EQ(stats.count_30_40ms, 1);
    EXPECT_EQ(stats.count_gt_40ms, 2);
    EXPECT_EQ(stats.max_delay_us, 1500000u);
}

TEST(AnalyseLog, ReadsOnlyTheIterationsTheSweepCompleted) {
    fill_log({1000, 2000, 50000});
    the_log.iterations_done = 2;  // stopped in the third
    const delay_stats stats = analyse_log(run_params{30, 0, 25, 35, 0}, the_log);
    EXPECT_EQ(stats.count_le_20ms, 2);
    EXPECT_EQ(stats.count_gt_40ms, 0);
    EXPECT_EQ(stats.max_delay_us, 2000u);

    const delay_stats none = analyse_log(run_params{0, 0, 25, 35, 0}, the_log);
    EXPECT_EQ(none.count_le_20ms + none.count_20_30ms + none.count_30_40ms + none.count_gt_40ms, 0);
    EXPECT_EQ(none.max_delay_us, 0u);
}

std::string printed_report(long start_sec, long end_sec, const delay_stats& stats) {
    the_log.run_start = at(start_sec, 999999);
    the_log.run_end = at(end_sec, 0);
    fflush(stdout);
    testing::internal::CaptureStdout();
    print_report(the_log, stats);
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(PrintReport, WritesTheSevenLines) {
    EXPECT_EQ(printed_report(100, 120, delay_stats{995, 3, 1, 1, 20999}),
              "total execution time is: 20s\n"
              "number of delays:\n"
              "<20ms: 995\n"
              "20..30ms: 3\n"
              "30..40ms: 1\n"
              ">40ms: 1\n"
              "maximum delay: 20ms\n");
    // Whole seconds of the two readings: 0.000001 s apart is a second.
    EXPECT_EQ(printed_report(100, 101, delay_stats{}),
              "total execution time is: 1s\n"
              "number of delays:\n"
              "<20ms: 0\n"
              "20..30ms: 0\n"
              "30..40ms: 0\n"
              ">40ms: 0\n"
              "maximum delay: 0ms\n");
    // Above 2^32 us (a pause of over 71 minutes): every digit of the division.
    const std::string long_pause = printed_report(100, 101, delay_stats{0, 0, 0, 1, 4300000999});
    EXPECT_NE(long_pause.find("maximum delay: 4300000ms\n"), std::string::npos) << long_pause;
    const std::string damaged = printed_report(100, 101, delay_stats{0, 0, 0, 1, UINT64_MAX});
    EXPECT_NE(damaged.find("maximum delay: " + std::to_string(INT_MAX) + "ms\n"), std::string::npos);
}

}  // namespace
