#include "profile/profile.h"

#include <stdio.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plcsim/plcsim.h"
#include "run/run.h"

namespace {

struct outcome {
    int status;
    std::string out;
};

outcome profile(std::vector<const char*> args) {
    args.insert(args.begin(), "plc_do_profile");
    const int argc = static_cast<int>(args.size());
    args.push_back(nullptr);
    plcsim::reset();
    fflush(stdout);
    testing::internal::CaptureStdout();
    // As the program passes it: the line, then the line feed that ends it in the binary.
    const int status = run_plc_do_profile(argc, args.data(), "plc_do_profile 9.9 test commit x\n");
    fflush(stdout);
    return {status, testing::internal::GetCapturedStdout()};
}

TEST(Profile, ACompletedRunReportsThenProfilesAndEndsWithOne) {
    const outcome o = profile({"3", "0", "--longest", "2", "25", "35"});
    EXPECT_EQ(o.status, exit_completed);
    EXPECT_EQ(o.out.rfind("total execution time is: ", 0), 0u) << o.out;
    EXPECT_NE(o.out.find("ms\n\nplc_do_profile 9.9 test commit x\nkernel: "), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("\nthe 2 longest delays (us)\n"), std::string::npos) << o.out;
    EXPECT_EQ(plcsim::call_count(), 4u);
}

TEST(Profile, ARefusedCommandLineNeverReachesTheController) {
    for (const auto& args : std::vector<std::vector<const char*>>{
             {"3", "0", "25", "35", "--cpu", "x"}, {"1", "2", "3", "--json"}, {"-p", "80", "1000", "1000", "25", "35"},
             {"3", "0", "25", "35", "--json=/nonexistent/profile.json"}, {"3", "0", "25", "35", "--log", "/"}}) {
        const outcome o = profile(args);
        EXPECT_EQ(o.status, exit_refused_command_line) << args[0];
        EXPECT_EQ(plcsim::call_count(), 0u) << args[0];
    }
}

// --help and --version: their text on standard output, status 0, the controller untouched.
TEST(Profile, HelpAndVersionAnswerWithZero) {
    const struct {
        std::vector<const char*> args;
        const char* begins;
    } cases[] = {
        {{"--version"}, "plc_do_profile 9.9 test commit x\n"},
        {{"3", "0", "--version", "25", "35"}, "plc_do_profile 9.9 test commit x\n"},
        {{"--help"}, "usage: plc_do_profile "},
    };
    for (const auto& c : cases) {
        const outcome o = profile(c.args);
        EXPECT_EQ(o.status, 0) << c.args[0];
        EXPECT_EQ(o.out.rfind(c.begins, 0), 0u) << o.out;
        EXPECT_EQ(plcsim::call_count(), 0u) << c.args[0];
    }
    EXPECT_EQ(profile({"--version"}).out, "plc_do_profile 9.9 test commit x\n");
}

}  // namespace
