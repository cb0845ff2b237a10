#include "profile/facts_output.h"
#include "profile/profile_output.h"

#include <sched.h>

#include <string>

#include <gtest/gtest.h>

namespace {

std::string json_of(const char* text) {
    testing::internal::CaptureStdout();
    print_json_string(stdout, text);
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(JsonString, EscapesEveryByteOutsidePrintableAscii) {
    EXPECT_EQ(json_of("#1 SMP PREEMPT_RT"), "\"#1 SMP PREEMPT_RT\"");
    EXPECT_EQ(json_of("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(json_of("\n\t\x01\x7f\xc3\xa9"), "\"\\n\\u0009\\u0001\\u007f\\u00c3\\u00a9\"");
    EXPECT_EQ(json_of(""), "\"\"");
}

TEST(PolicyName, ByNameOrNumber) {
    char unknown[24];
    EXPECT_STREQ(policy_name(SCHED_FIFO, unknown), "SCHED_FIFO");
    EXPECT_STREQ(policy_name(SCHED_OTHER, unknown), "SCHED_OTHER");
    EXPECT_STREQ(policy_name(77, unknown), "policy 77");
    EXPECT_STREQ(policy_name(SCHED_FIFO | 0x40000000, unknown), "SCHED_FIFO|SCHED_RESET_ON_FORK");
    EXPECT_STREQ(policy_name(SCHED_OTHER | 0x40000000, unknown), "SCHED_OTHER|SCHED_RESET_ON_FORK");
    EXPECT_STREQ(policy_name(77 | 0x40000000, unknown), "policy 1073741901");
}

}  // namespace
