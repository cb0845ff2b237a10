#include "run/run.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plcsim/plcsim.h"

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

}  // namespace
