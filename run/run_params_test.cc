#include "run/run_params.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/reference_conversion.h"

namespace {

struct conversion_case {
    const char* text;
    uint32_t expected;
};

// Expectations from the rules of a 32-bit strtoul with base 0.
const conversion_case conversion_cases[] = {
    {"0", 0},
    {"10000", 10000},
    {"10001", 10001},
    {"0x2710", 10000},
    {"0X2710", 10000},
    {"020", 16},
    {"08", 0},  // octal stops at 8
    {"0x", 0},
    {"0xg", 0},
    {"", 0},
    {"abc", 0},
    {"12abc", 12},
    {"  \t\n\v\f\r42", 42},
    {"+7", 7},
    {"-1", 4294967295u},
    {"-0", 0},
    {"- 1", 0},
    {"+-1", 0},
    {"--1", 0},
    {" -0x10", 4294967280u},
    {"4294967295", 4294967295u},
    {"4294967296", 4294967295u},
    {"-4294967296", 4294967295u},
    {"-4294967295", 1},
    {"0xffffffff", 4294967295u},
    {"0x100000000", 4294967295u},
    {"037777777777", 4294967295u},
    {"040000000000", 4294967295u},
    {"99999999999999999999999999", 4294967295u},
    {"-99999999999999999999999999", 4294967295u},
    {"\xa0" "5", 0},  // not a blank in the C locale
};

TEST(ConvertParam, FollowsThe32BitStrtoulRules) {
    for (const conversion_case& c : conversion_cases) {
        EXPECT_EQ(convert_param(c.text), c.expected) << '"' << c.text << '"';
    }
}

// Texts of every kind a parameter can be: blanks, signs, prefixes, digits of
// every base, values at the 32-bit boundary, trailing junk.
std::vector<std::string> generated_texts() {
    static const char* const blanks[] = {"", " ", "\t", "  ", "\n\v\f\r", "\xa0"};
    static const char* const signs[] = {"", "", "+", "-", "+-", "- ", "--"};
    static const char* const prefixes[] = {"", "", "0", "0x", "0X", "00x", "x"};
    static const char* const boundaries[] = {"4294967295", "4294967296", "0xffffffff",
                                             "0x100000000", "037777777777", "040000000000",
                                             "18446744073709551615", "18446744073709551616"};
    static const char digits[] = "0123456789abcdefABCDEFxXgz89";
    static const char* const tails[] = {"", "", " ", "junk", ".5", "\n", "-1"};

    std::vector<std::string> texts;
    uint32_t state = 2463534242u;  // xorshift32: the same texts on every run
    auto next = [&state](uint32_t bound) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state % bound;
    };
    auto pick = [&next](const auto& table) { return table[next(sizeof table / sizeof table[0])]; };

    for (int n = 0; n < 4000; ++n) {
        std::string text = std::string(pick(blanks)) + pick(signs);
        if (next(8) == 0) {
            text += pick(boundaries);
        } else {
            text += pick(prefixes);
            const uint32_t length = next(14);
            for (uint32_t k = 0; k < length; ++k) text += digits[next(sizeof digits - 1)];
        }
        texts.push_back(text + pick(tails));
    }
    return texts;
}

TEST(ConvertParam, AgreesWithTheCLibraryOnGeneratedTexts) {
    int mismatches = 0;
    for (const std::string& text : generated_texts()) {
        const uint32_t expected = reference_conversion(text.c_str());
        if (convert_param(text.c_str()) != expected && ++mismatches <= 10) {
            ADD_FAILURE() << '"' << text << "\" should give " << expected;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

struct command_line_case {
    std::vector<const char*> args;  // after the program name
    command_line_verdict verdict;
    run_params params;
};

const command_line_case command_line_cases[] = {
    {{}, command_line_verdict::show_usage, {}},
    {{"1", "2", "3"}, command_line_verdict::show_usage, {}},
    {{"1000", "20000", "25", "35"}, command_line_verdict::run, {1000, 20000, 25, 35, 0}},
    {{"1000", "20000", "25", "35", "42"}, command_line_verdict::run, {1000, 20000, 25, 35, 42}},
    {{"1", "2", "3", "4", "5", "junk", "more"}, command_line_verdict::run, {1, 2, 3, 4, 5}},
    {{"10000", "0", "0", "0"}, command_line_verdict::run, {10000, 0, 0, 0, 0}},
    {{"10001", "0", "0", "0"}, command_line_verdict::too_many_iterations, {10001, 0, 0, 0, 0}},
    {{"-1", "x", "25", "35"}, command_line_verdict::too_many_iterations, {4294967295u, 0, 25, 35, 0}},
    {{"abc", "", "0x19", "043"}, command_line_verdict::run, {0, 0, 25, 35, 0}},
};

TEST(ReadCommandLine, DecidesAndConverts) {
    for (const command_line_case& c : command_line_cases) {
        std::vector<const char*> argv{"plc_do_test"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const int argc = static_cast<int>(argv.size());
        argv.push_back(nullptr);

        run_params params{1, 1, 1, 1, 1};
        EXPECT_EQ(read_command_line(argc, argv.data(), &params), c.verdict) << "argc " << argc;
        EXPECT_EQ(params.iter, c.params.iter);
        EXPECT_EQ(params.delay, c.params.delay);
        EXPECT_EQ(params.start_DO_number, c.params.start_DO_number);
        EXPECT_EQ(params.end_DO_number, c.params.end_DO_number);
        EXPECT_EQ(params.use_safe_thread, c.params.use_safe_thread);
    }
}

}  // namespace
