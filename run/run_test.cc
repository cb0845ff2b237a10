#include "run/run.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plcsim/plcsim.h"
#include "run/measure.h"
#include "sweep/sweep_loop.h"

namespace {

struct outcome {
    int status;
    std::string out;
};

outcome run(std::vector<const char*> args) {
    args.insert(args.begin(), "plc_do_test");
    const int argc = static_cast<int>(args.size());
    args.push_back(nullptr);
    plcsim::reset();
    fflush(stdout);
    testing::internal::CaptureStdout();
    const int status = run_plc_do_test(argc, args.data());
    fflush(stdout);
    return {status, testing::internal::GetCapturedStdout()};
}

TEST(Run, ACompletedRunReportsAndEndsWithOne) {
    const outcome o = run({"3", "0", "25", "35", "0"});
    EXPECT_EQ(o.status, exit_completed);
    EXPECT_EQ(o.out.rfind("total execution time is: ", 0), 0u) << o.out;
    EXPECT_NE(o.out.find("\nmaximum delay: "), std::string::npos);

    ASSERT_EQ(plcsim::call_count(), 4u);
    EXPECT_EQ(plcsim::call_at(0).kind, plcsim::call_kind::safe_value);
    for (size_t i = 1; i < 4; ++i) {
        const plcsim::call c = plcsim::call_at(i);
        EXPECT_EQ(c.kind, plcsim::call_kind::write);
        EXPECT_EQ(c.port, int32_t(24 + i));
        EXPECT_EQ(c.value, int32_t((i - 1) % 2));
    }
}

TEST(Run, RefusalNoticeNamesTheOutputAndTheIterations) {
    static timing_log log;
    memset(&log, 0, sizeof log);
    log.refused_port = -1;  // an output number above 2^31 as the operator typed it
    log.iterations_done = 6;
    fflush(stdout);
    testing::internal::CaptureStdout();
    print_refusal_notice(run_params{30, 1000, 4294967295u, 5, 0}, log);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "output 4294967295 refused every write for 10 s; run stopped after 6 of 30 iterations\n");
}

// The measured phase with every call faked: notes, at the sweep's first clock
// reading, whether memory was locked by then and the whole log touched.
struct watching_calls {
    static inline bool locked;
    static inline int readings;
    static inline bool locked_at_first_reading;
    static inline bool log_touched_at_first_reading;
    static inline const timing_log* watched_log;

    static void lock_memory() { locked = true; }
    static void sweep(const run_params& params, timing_log& log) {
        sweep_outputs_through<watching_calls>(params, log);
    }

    // The sweep's calls.
    static int32_t write_port(int32_t, int32_t) { return 0; }
    static void write_safe_value(int32_t, int32_t) {}
    static void pause_us(uint32_t) {}
    static void read_clock(timespec* now) {
        if (readings++ == 0) {
            locked_at_first_reading = locked;
            const unsigned char* bytes = reinterpret_cast<const unsigned char*>(watched_log);
            log_touched_at_first_reading = true;
            for (size_t i = 0; i < sizeof *watched_log; ++i) {
                if (bytes[i] != 0) log_touched_at_first_reading = false;
            }
        }
        now->tv_sec = 100;
        now->tv_nsec = readings;
    }
};

TEST(Measure, LocksMemoryAndTouchesTheLogBeforeTheFirstReading) {
    static timing_log log;
    memset(&log, 0xAB, sizeof log);
    watching_calls::watched_log = &log;
    measure<watching_calls>(run_params{3, 0, 25, 35, 0}, &log);
    EXPECT_EQ(watching_calls::readings, 8);
    EXPECT_TRUE(watching_calls::locked_at_first_reading);
    EXPECT_TRUE(watching_calls::log_touched_at_first_reading);
}

}  // namespace
