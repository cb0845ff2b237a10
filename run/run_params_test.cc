#include "run/run_params.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/reference_conversion.h"

namespace {

// The cases of tests/support/strtoul_cases.txt (the fleet's results.py
// reads the same): the value a 32-bit strtoul with base 0 gives, then the
// text in double quotes, with \t \n \v \f \r \\ \" and \xHH for a byte.
struct conversion_case {
    std::string text;
    uint32_t expected;
};

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The text between the double quotes at AT, its escapes read; false when
// the line is not one of the table's.
bool quoted_text(const char* at, std::string* text) {
    if (*at++ != '"') return false;
    for (; *at != '"'; ++at) {
        if (*at == '\0' || *at == '\n') return false;
        if (*at != '\\') {
            *text += *at;
            continue;
        }
        ++at;
        const char* const escapes = "t\tn\nv\vf\fr\r\\\\\"\"";
        const char* escape = *at != '\0' ? std::strchr(escapes, *at) : nullptr;
        if (escape != nullptr && (escape - escapes) % 2 == 0) {
            *text += escape[1];
        } else if (*at == 'x' && hex_digit(at[1]) >= 0 && hex_digit(at[2]) >= 0) {
            *text += static_cast<char>(hex_digit(at[1]) * 16 + hex_digit(at[2]));
            at += 2;
        } else {
            return false;
        }
    }
    return true;
}

std::vector<conversion_case> conversion_cases(std::string* fault) {
    std::vector<conversion_case> cases;
    FILE* file = std::fopen(PLC_STRTOUL_CASES, "r");
    if (file == nullptr) {
        *fault = std::string("cannot open ") + PLC_STRTOUL_CASES;
        return cases;
    }
    char line[512];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (line[0] == '#' || line[0] == '\n') continue;
        char* after = nullptr;
        const unsigned long long value = std::strtoull(line, &after, 10);
        conversion_case c{"", static_cast<uint32_t>(value)};
        if (after == line || *after++ != ' ' || value > 4294967295u || !quoted_text(after, &c.text)) {
            *fault = std::string("not a case: ") + line;
            break;
        }
        cases.push_back(c);
    }
    std::fclose(file);
    return cases;
}

TEST(ConvertParam, FollowsThe32BitStrtoulRules) {
    std::string fault;
    const std::vector<conversion_case> cases = conversion_cases(&fault);
    ASSERT_EQ(fault, "");
    ASSERT_GE(cases.size(), 30u);
    for (const conversion_case& c : cases) {
        EXPECT_EQ(convert_param(c.text.c_str()), c.expected) << '"' << c.text << '"';
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
