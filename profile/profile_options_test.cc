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
    EXPECT_EQ(got.options.interval_s, default_interval_s);
    EXPECT_EQ(got.options.duration_s, 0u);
    EXPECT_EQ(got.options.json_path, nullptr);
    EXPECT_EQ(got.options.log_path, nullptr);
    for (const int64_t unset : {got.options.limit_us, got.options.break_us, got.options.timer_slack_ns,
                                got.options.dma_latency_us}) {
        EXPECT_EQ(unset, not_asked);
    }
}

// Any iteration count, as a 32-bit strtoul reads it: plc_do_test's limit is not plc_do_profile's.
TEST(ProfileCommandLine, TakesAnyIterationCount) {
    for (const auto& c : {std::pair<const char*, uint32_t>{"10001", 10001u}, {"4294967295", 4294967295u},
                          {"-1", 4294967295u}, {"0x2711", 10001u}}) {
        const read_back got = read({c.first, "0", "25", "35"});
        EXPECT_EQ(got.verdict, profile_verdict::run) << c.first;
        EXPECT_EQ(got.options.params.iter, c.second) << c.first;
    }
}

bool same_options(const profile_options& a, const profile_options& b) {
    return a.priority == b.priority && a.cpu == b.cpu && a.json == b.json && a.samples == b.samples &&
           a.longest == b.longest && a.json_path == b.json_path && a.duration_s == b.duration_s &&
           a.interval_s == b.interval_s && a.log_path == b.log_path && a.limit_us == b.limit_us &&
           a.break_us == b.break_us && a.timer_slack_ns == b.timer_slack_ns && a.dma_latency_us == b.dma_latency_us;
}

// A value of `row` as a user writes it: a length of time in seconds ("90s"), a file name, or the number.
std::string value_text(const option_row& row, int64_t value) {
    if (row.kind == option_kind::file || row.kind == option_kind::flag_or_file) return "file";
    return std::to_string(value) + (row.kind == option_kind::duration ? "s" : "");
}

// Every option of the table: read at either end of its range it sets something, past it it is refused.
TEST(ProfileCommandLine, ReadsEveryOptionOfTheTableWithinItsRange) {
    const profile_options defaults = read({"1", "2", "3", "4"}).options;
    for (const option_row& row : option_table) {
        if (row.sets == option_sets::help || row.sets == option_sets::version) continue;
        if (row.kind == option_kind::flag || row.kind == option_kind::flag_or_file) {
            const read_back got = read({"1", "2", row.name, "3", "4"});
            EXPECT_EQ(got.verdict, profile_verdict::run) << row.name;
            EXPECT_FALSE(same_options(got.options, defaults)) << row.name << " sets nothing";
            if (row.kind == option_kind::flag) continue;
        }
        // On a system of 4 CPUs --cpu takes 0 to 3.
        const int64_t most = row.kind == option_kind::cpu_number ? 3 : row.most;
        for (const int64_t value : {row.least, most}) {
            const std::string text = value_text(row, value);
            const std::string joined = std::string(row.name) + "=" + text;
            for (const read_back& got : {read({"1", "2", row.name, text.c_str(), "3", "4"}),
                                         read({"1", "2", joined.c_str(), "3", "4"})}) {
                EXPECT_EQ(got.verdict, profile_verdict::run) << row.name << " " << text;
                EXPECT_FALSE(same_options(got.options, defaults) && value != default_interval_s)
                    << row.name << " " << text << " sets nothing";
            }
        }
        const std::string once = value_text(row, row.least);
        const read_back twice = read({"1", "2", row.name, once.c_str(), "3", "4", row.name, once.c_str()});
        EXPECT_EQ(twice.verdict, profile_verdict::option_refused) << row.name << " twice";
        EXPECT_EQ(twice.problem.fault, option_fault::repeated) << row.name << " twice";
        const read_back missing = read({"1", "2", "3", "4", row.name});
        EXPECT_EQ(missing.verdict, row.kind == option_kind::flag_or_file ? profile_verdict::run
                                                                         : profile_verdict::option_refused)
            << row.name << " last";
        if (row.kind == option_kind::file || row.kind == option_kind::flag_or_file) continue;
        const std::string past = value_text(row, row.most + 1);
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
        {{"--=1", "1", "2", "3", "4"}, option_fault::unknown, "--=1", nullptr},
        {{"--priorit", "80"}, option_fault::unknown, "--priorit", nullptr},
        {{"--priority=", "1", "2", "3", "4"}, option_fault::malformed_value, "--priority", ""},
        {{"--priority=100"}, option_fault::malformed_value, "--priority", "100"},
        {{"--samples=1", "1", "2", "3", "4"}, option_fault::flag_value, "--samples", "1"},
        {{"--help=x"}, option_fault::flag_value, "--help", "x"},
        {{"--json", "--json=f"}, option_fault::repeated, "--json", nullptr},
        {{"--json=", "1", "2", "3", "4"}, option_fault::malformed_value, "--json", ""},
        {{"--cpu", "1", "--cpu=2"}, option_fault::repeated, "--cpu", nullptr},
        {{"--duration", "30"}, option_fault::no_unit, "--duration", "30"},
        {{"--interval=5"}, option_fault::no_unit, "--interval", "5"},
        {{"--duration", "0s"}, option_fault::malformed_value, "--duration", "0s"},
        {{"--duration", "36501d"}, option_fault::malformed_value, "--duration", "36501d"},
        {{"--duration", "99999999999999999999d"}, option_fault::malformed_value, "--duration", "99999999999999999999d"},
        {{"--duration", "8H"}, option_fault::malformed_value, "--duration", "8H"},
        {{"--duration", "8hh"}, option_fault::malformed_value, "--duration", "8hh"},
        {{"--duration", "h"}, option_fault::malformed_value, "--duration", "h"},
        {{"--duration", "-8h"}, option_fault::malformed_value, "--duration", "-8h"},
        {{"--duration", "1.5h"}, option_fault::malformed_value, "--duration", "1.5h"},
        {{"--interval", "2d"}, option_fault::malformed_value, "--interval", "2d"},
        {{"--interval", "86401s"}, option_fault::malformed_value, "--interval", "86401s"},
        {{"--log", ""}, option_fault::malformed_value, "--log", ""},
        {{"--log=", "1", "2", "3", "4"}, option_fault::malformed_value, "--log", ""},
        {{"1", "2", "3", "4", "--log"}, option_fault::missing_value, "--log", nullptr},
        {{"--limit", "4294967296"}, option_fault::malformed_value, "--limit", "4294967296"},
        {{"--break", "-1"}, option_fault::malformed_value, "--break", "-1"},
        {{"--timer-slack", "0"}, option_fault::malformed_value, "--timer-slack", "0"},
        {{"--dma-latency", "2000000001"}, option_fault::malformed_value, "--dma-latency", "2000000001"},
        {{"50", "1000", "25", "35", "0", "-p", "80", "-a", "1", "-m"}, option_fault::single_dash, "-p", nullptr},
        {{"-p", "80", "1000", "1000", "25", "35"}, option_fault::single_dash, "-p", nullptr},
        {{"1", "2", "3", "4", "-json"}, option_fault::single_dash, "-json", nullptr},
        {{"1", "2", "3", "4", "-Z"}, option_fault::single_dash, "-Z", nullptr},
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

// "--" ends the options; "-1" and other words a number may begin stay positional.
TEST(ProfileCommandLine, PositionalWordsThatLookLikeOptions) {
    const read_back ended = read({"3", "--", "--json", "-p", "--help"});
    ASSERT_EQ(ended.verdict, profile_verdict::run);
    EXPECT_FALSE(ended.options.json);
    EXPECT_EQ(ended.options.params.start_DO_number, 0u);
    const read_back signs = read({"-1", "+2", "-0x3", "- 4", "-"});
    ASSERT_EQ(signs.verdict, profile_verdict::run);
    EXPECT_EQ(signs.options.params.iter, 4294967295u);
    EXPECT_EQ(signs.options.params.delay, 2u);
    EXPECT_EQ(signs.options.params.start_DO_number, 4294967293u);
    EXPECT_EQ(read({"1", "2", "3", "--"}).verdict, profile_verdict::show_usage);
}

// --json takes the next word as its file only when a positional number could not begin it.
TEST(ProfileCommandLine, JsonTakesAFileWhenTheNextWordIsNoNumber) {
    struct {
        std::vector<const char*> words;
        const char* path;  // nullptr: standard output
        uint32_t end_DO_number;
    } cases[] = {
        {{"12", "1000", "25", "35", "--json", "out.json"}, "out.json", 35},
        {{"12", "1000", "25", "35", "--json=100"}, "100", 35},
        {{"12", "1000", "25", "--json", "./100", "35"}, "./100", 35},
        {{"12", "1000", "25", "--json", "100"}, nullptr, 100},
        {{"12", "1000", "25", "--json", "-1"}, nullptr, 4294967295u},
        {{"12", "1000", "25", "--json", "+7"}, nullptr, 7},
        {{"12", "1000", "25", "--json", " 7"}, nullptr, 7},
        {{"12", "1000", "25", "--json", "\t7"}, nullptr, 7},
        {{"12", "1000", "25", "--json", "", "35"}, nullptr, 0},
        {{"12", "1000", "25", "35", "--json", "--samples"}, nullptr, 35},
    };
    for (const auto& c : cases) {
        const read_back got = read(c.words);
        ASSERT_EQ(got.verdict, profile_verdict::run) << c.words.back();
        EXPECT_TRUE(got.options.json);
        EXPECT_STREQ(got.options.json_path, c.path) << c.words.back();
        EXPECT_EQ(got.options.params.end_DO_number, c.end_DO_number) << c.words.back();
    }
}

// --help and --version answer at once, whatever follows; an option refused before them is refused.
TEST(ProfileCommandLine, HelpAndVersion) {
    EXPECT_EQ(read({"--help"}).verdict, profile_verdict::show_help);
    EXPECT_EQ(read({"--version"}).verdict, profile_verdict::show_version);
    EXPECT_EQ(read({"1", "--help", "--foo"}).verdict, profile_verdict::show_help);
    EXPECT_EQ(read({"--version", "-p"}).verdict, profile_verdict::show_version);
    EXPECT_EQ(read({"--foo", "--help"}).verdict, profile_verdict::option_refused);
    EXPECT_EQ(read({"--", "--help", "2", "3", "4"}).verdict, profile_verdict::run);
}

// What the options set, in the units the run uses.
TEST(ProfileCommandLine, SetsWhatEachOptionNames) {
    const read_back got = read({"1", "2", "3", "4", "--duration", "2d", "--interval=90m", "--log", "run.log",
                                "--limit", "500", "--break=100000", "--timer-slack", "1", "--dma-latency", "0"});
    ASSERT_EQ(got.verdict, profile_verdict::run);
    EXPECT_EQ(got.options.duration_s, 2u * 86400);
    EXPECT_EQ(got.options.interval_s, 90u * 60);
    EXPECT_STREQ(got.options.log_path, "run.log");
    EXPECT_EQ(got.options.limit_us, 500);
    EXPECT_EQ(got.options.break_us, 100000);
    EXPECT_EQ(got.options.timer_slack_ns, 1);
    EXPECT_EQ(got.options.dma_latency_us, 0);
    for (const auto& c : {std::pair<const char*, uint64_t>{"30s", 30}, {"90m", 5400}, {"8h", 28800},
                          {"36500d", 36500ull * 86400}, {"1s", 1}, {"0001m", 60}}) {
        EXPECT_EQ(read({"--duration", c.first}).options.duration_s, c.second) << c.first;
    }
}

}  // namespace
