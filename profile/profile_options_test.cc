#include "profile/profile_options.h"

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct read_back {
    profile_verdict verdict;
    profile_options options;
    option_problem problem;
};

// The command line `words` (after the program name) on a system of 4 CPUs.
read_back read(std::vector<const char*> words) {
    words.insert(words.begin(), "plc_do_profile");
    read_back got;
    got.verdict = read_profile_command_line(static_cast<int>(words.size()), words.data(), 4, &got.options,
                                            &got.problem);
    return got;
}

TEST(ProfileCommandLine, OptionsAnywhereAmongThePositionalParameters) {
    const read_back got =
        read({"--json", "12", "1000", "--priority", "80", "25", "--cpu", "3", "35", "--samples", "--longest", "0"});
    ASSERT_EQ(got.verdict, profile_verdict::run);
    EXPECT_EQ(got.options.params.iter, 12u);
    EXPECT_EQ(got.options.params.delay, 1000u);
    EXPECT_EQ(got.options.params.start_DO_number, 25u);
    EXPECT_EQ(got.options.params.end_DO_number, 35u);
    EXPECT_EQ(got.options.priority, 80);
    EXPECT_EQ(got.options.cpu, 3);
    EXPECT_TRUE(got.options.json);
    EXPECT_TRUE(got.options.samples);
    EXPECT_EQ(got.options.longest, 0u);
}

TEST(ProfileCommandLine, WithoutOptionsAsPlcDoTestReadsIt) {
    const read_back got = read({"0x10", "-1", "25", "35", "7", "more", "words"});
    ASSERT_EQ(got.verdict, profile_verdict::run);
    EXPECT_EQ(got.options.params.iter, 16u);
    EXPECT_EQ(got.options.params.delay, 4294967295u);
    EXPECT_EQ(got.options.params.use_safe_thread, 7u);
    EXPECT_EQ(got.options.priority, no_priority);
    EXPECT_EQ(got.options.cpu, any_cpu);
    EXPECT_FALSE(got.options.json || got.options.samples);
    EXPECT_EQ(got.options.longest, default_longest);
    EXPECT_EQ(read({"1", "2", "3", "--json"}).verdict, profile_verdict::show_usage);
    EXPECT_EQ(read({"4294967295", "0", "25", "35"}).verdict, profile_verdict::run);  // any count
    // After "--" every word is positional.
    const read_back ended = read({"3", "--", "-1", "25", "35"});
    EXPECT_EQ(ended.verdict, profile_verdict::run);
    EXPECT_EQ(ended.options.params.delay, 4294967295u);
}

bool same_options(const profile_options& a, const profile_options& b) {
    return a.priority == b.priority && a.cpu == b.cpu && a.json == b.json && a.samples == b.samples &&
           a.longest == b.longest && a.duration_s == b.duration_s && a.interval_s == b.interval_s &&
           a.log_path == b.log_path && a.limit_us == b.limit_us && a.break_us == b.break_us && a.help == b.help &&
           a.version == b.version;
}

// An option's value as typed: "8", or for a span "8s".
std::string typed(const option_row& row, int64_t value) {
    return std::to_string(value) + (row.kind == option_kind::span ? "s" : "");
}

// Every option of the table: read at either end of its range it sets something, past it it is refused.
TEST(ProfileCommandLine, ReadsEveryOptionOfTheTableWithinItsRange) {
    const profile_options defaults = read({"1", "2", "3", "4"}).options;
    for (const option_row& row : option_table) {
        if (row.kind == option_kind::flag || row.kind == option_kind::path) {
            const read_back got = row.kind == option_kind::flag ? read({"1", "2", row.name, "3", "4"})
                                                                : read({"1", "2", row.name, "f", "3", "4"});
            EXPECT_NE(got.verdict, profile_verdict::option_refused) << row.name;
            EXPECT_FALSE(same_options(got.options, defaults)) << row.name << " sets nothing";
            continue;
        }
        // On a system of 4 CPUs --cpu takes 0 to 3.
        const int64_t most = row.kind == option_kind::cpu_number ? 3 : row.most;
        for (const int64_t value : {row.least, most}) {
            const std::string text = typed(row, value);
            const read_back got = read({"1", "2", row.name, text.c_str(), "3", "4"});
            EXPECT_EQ(got.verdict, profile_verdict::run) << row.name << " " << value;
            EXPECT_FALSE(value == row.least && same_options(got.options, defaults)) << row.name << " sets nothing";
        }
        const std::string past = typed(row, row.most + 1);
        const read_back refused = read({"1", "2", row.name, past.c_str(), "3", "4"});
        EXPECT_EQ(refused.verdict, profile_verdict::option_refused) << row.name << " " << past;
        EXPECT_STREQ(refused.problem.takes, row.takes) << row.name;
    }
}

TEST(ProfileCommandLine, RefusesAnOptionBeforeAnythingElse) {
    struct {
        std::vector<const char*> words;
        option_fault fault;
        const char* option;
        const char* value;
    } cases[] = {
        {{"1", "--verbose"}, option_fault::unknown, "--verbose", nullptr},
        {{"---", "1", "2", "3", "4"}, option_fault::unknown, "---", nullptr},
        {{"1", "2", "3", "4", "-p", "80"}, option_fault::single_dash, "-p", nullptr},
        {{"-json", "1", "2", "3", "4"}, option_fault::single_dash, "-json", nullptr},
        {{"--json", "1", "--json"}, option_fault::repeated, "--json", nullptr},
        {{"--limit=5", "--limit", "6"}, option_fault::repeated, "--limit", nullptr},
        {{"--json=out"}, option_fault::flag_value, "--json", "--json=out"},
        {{"--duration", "8"}, option_fault::malformed_value, "--duration", "8"},
        {{"--duration=8x"}, option_fault::malformed_value, "--duration", "8x"},
        {{"--interval", "2d"}, option_fault::malformed_value, "--interval", "2d"},
        {{"--log="}, option_fault::malformed_value, "--log", ""},
        {{"--break", "-1"}, option_fault::malformed_value, "--break", "-1"},
        {{"1", "2", "3", "4", "--priority"}, option_fault::missing_value, "--priority", nullptr},
        {{"--priority", "0"}, option_fault::malformed_value, "--priority", "0"},
        {{"--priority", "100"}, option_fault::malformed_value, "--priority", "100"},
        {{"--priority", "+5"}, option_fault::malformed_value, "--priority", "+5"},
        {{"--cpu", ""}, option_fault::malformed_value, "--cpu", ""},
        {{"--cpu", "4"}, option_fault::no_such_cpu, "--cpu", "4"},
        {{"--cpu", "99999999999"}, option_fault::malformed_value, "--cpu", "99999999999"},
        {{"--longest", "10001"}, option_fault::malformed_value, "--longest", "10001"},
        {{"10001", "0", "25", "35", "--longest", "x"}, option_fault::malformed_value, "--longest", "x"},
    };
    for (const auto& c : cases) {
        const read_back got = read(c.words);
        EXPECT_EQ(got.verdict, profile_verdict::option_refused) << c.option;
        EXPECT_EQ(got.problem.fault, c.fault) << c.option;
        EXPECT_STREQ(got.problem.option, c.option);
        EXPECT_STREQ(got.problem.value, c.value) << c.option;
    }
}

}  // namespace
