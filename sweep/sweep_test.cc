#include "sweep/sweep.h"

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sweep/sweep_loop.h"
#include "tests/support/fake_io.h"

#if defined(__arm__) && !(defined(_TIME_BITS) && _TIME_BITS == 64)
// The controller's ABI: seconds and microseconds of a reading are 32-bit,
// unless the build asks for 64-bit time.
static_assert(sizeof(time_t) == 4 && sizeof(timeval{}.tv_usec) == 4, "32-bit time_t on the target");
#endif

namespace {

timing_log the_log;

// Runs the sweep against the fake, on a log whose every byte is 0xAB before.
void sweep(uint32_t iter, uint32_t delay, uint32_t first, uint32_t last) {
    memset(&the_log, 0xAB, sizeof the_log);
    sweep_outputs_through<fake_io>(run_params{iter, delay, first, last, 0}, the_log);
}

int64_t microseconds(const timeval& t) { return int64_t{t.tv_sec} * 1000000 + t.tv_usec; }

TEST(CycleLength, IsOddAndLeavesTheLastOutOfAnEvenRange) {
    struct {
        uint32_t first, last, expected;
    } cases[] = {
        {25, 35, 11},         {25, 34, 9},           {42, 60, 19},           {5, 5, 1},
        {5, 6, 1},            {6, 5, 4294967295u},   {7, 5, 4294967295u},    {0, 4294967295u, 4294967295u},
        {4294967295u, 0, 1},  {4294967290u, 2, 9},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cycle_length(c.first, c.last), c.expected) << c.first << ".." << c.last;
    }
}

TEST(Sweep, WritesTheOutputsInTurnWithAlternatingValues) {
    struct {
        uint32_t iter, first, last;
        std::vector<int32_t> ports;  // the safe value's port, then every write's
    } cases[] = {
        {12, 25, 35, {25, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 25}},
        {11, 25, 34, {25, 25, 26, 27, 28, 29, 30, 31, 32, 33, 25, 26}},
        {4, 5, 5, {5, 5, 5, 5, 5}},
        {3, 5, 6, {5, 5, 5, 5}},
        {4, 6, 5, {6, 6, 7, 8, 9}},
        {3, 4294967295u, 1, {-1, -1, 0, 1}},
    };
    for (const auto& c : cases) {
        fake_io::reset();
        sweep(c.iter, 1000, c.first, c.last);
        EXPECT_EQ(fake_io::ports, c.ports) << c.first << ".." << c.last;
        ASSERT_EQ(fake_io::values.size(), c.iter + 1);
        EXPECT_EQ(fake_io::values[0], 1) << "safe value";
        for (uint32_t i = 0; i < c.iter; ++i) EXPECT_EQ(fake_io::values[i + 1], int32_t(i % 2));
        EXPECT_EQ(the_log.iterations_done, c.iter);
        EXPECT_FALSE(the_log.stopped_on_refusal);
    }
}

TEST(Sweep, OnlyTheWritesAndPausesFallInsideEachWindow) {
    fake_io::reset();
    fake_io::refusals_per_write = 2;
    sweep(2, 7000, 25, 35);

    // Opening reading, safe value; per iteration a reading, three attempts each
    // followed by a pause (a refused one also by the check of how long it has
    // been refused), a reading; closing reading.
    EXPECT_EQ(fake_io::events, "cs" "cwpcwpcwpc" "cwpcwpcwpc" "c");
    for (uint32_t i = 0; i < 2; ++i) {
        const timing_entry& before = the_log.entries[2 * i];
        const timing_entry& after = the_log.entries[2 * i + 1];
        EXPECT_EQ(before.mark, mark_before_write);
        EXPECT_EQ(after.mark, mark_after_pause);
        EXPECT_EQ(microseconds(after.time) - microseconds(before.time), 3 * 7000);
    }
    EXPECT_EQ(microseconds(the_log.run_start), 5'000'123'456);
    EXPECT_EQ(microseconds(the_log.run_end), 5'000'123'456 + 6 * 7000);
}

TEST(Sweep, AcceptedWritesReadTheClockOnlyAtTheWindowEdges) {
    fake_io::reset();
    sweep(5, 0, 25, 35);
    EXPECT_EQ(fake_io::events, "cs" "cwpc" "cwpc" "cwpc" "cwpc" "cwpc" "c");
}

TEST(Sweep, NoIterationsStillSetsTheSafeValueAndTouchesNoEntry) {
    fake_io::reset();
    sweep(0, 1000, 25, 35);
    EXPECT_EQ(fake_io::events, "csc");
    EXPECT_EQ(fake_io::ports, std::vector<int32_t>{25});
    EXPECT_EQ(the_log.iterations_done, 0u);
    EXPECT_EQ(the_log.entries[0].mark, 0xAB);
}

TEST(Sweep, FillsOnlyTheEntriesOfItsIterations) {
    fake_io::reset();
    sweep(3, 1000, 25, 35);
    EXPECT_EQ(the_log.entries[5].mark, mark_after_pause);
    EXPECT_EQ(the_log.entries[6].mark, 0xAB);
}

TEST(Sweep, StopsOnAWriteRefusedForTenSeconds) {
    struct {
        uint32_t delay;
        size_t attempts_on_dead_port;
    } cases[] = {
        {1000, 10000},    // refused until 10 s have passed since the first attempt
        {3000000, 4},     // 3 s pauses: 3, 6, 9, 12 s
        {10000000, 1},    // the first pause alone reaches the limit
        {0xffffffff, 1},
    };
    for (const auto& c : cases) {
        fake_io::reset();
        fake_io::dead_port = 31;
        sweep(30, c.delay, 25, 35);
        EXPECT_TRUE(the_log.stopped_on_refusal);
        EXPECT_EQ(the_log.refused_port, 31);
        EXPECT_EQ(the_log.iterations_done, 6u);
        size_t attempts = 0;
        for (int32_t port : fake_io::ports) attempts += port == 31;
        EXPECT_EQ(attempts, c.attempts_on_dead_port) << "delay " << c.delay;
        EXPECT_EQ(fake_io::events.back(), 'c') << "run_end is read after a stop";
        EXPECT_EQ(the_log.entries[11].mark, mark_after_pause);
        EXPECT_EQ(the_log.entries[13].mark, 0xAB) << "the stopped iteration has no second reading";
    }
}

}  // namespace
