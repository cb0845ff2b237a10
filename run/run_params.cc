#include "run/run_params.h"

namespace {

// The blanks of the C locale, the only locale the program runs in.
bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The value of `c` as a digit of any base up to 36; 36 for anything else, which
// no base accepts.
unsigned digit_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a') + 10;
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A') + 10;
    return 36;
}

}  // namespace

uint32_t convert_param(const char* text) {
    const char* s = text;
    while (is_blank(*s)) ++s;

    bool negative = false;
    if (*s == '-' || *s == '+') {
        negative = *s == '-';
        ++s;
    }

    unsigned base = 10;
    if (*s == '0') {
        base = 8;
        if (s[1] == 'x' || s[1] == 'X') {
            base = 16;
            s += 2;  // "0x" with no hex digit after it reads as 0 either way
        }
    }

    // The magnitude is kept in 64 bits so that passing 32 bits is seen; once
    // passed, the remaining digits are only consumed.
    uint64_t magnitude = 0;
    bool too_large = false;
    for (unsigned d = digit_value(*s); d < base; d = digit_value(*++s)) {
        if (too_large) continue;
        magnitude = magnitude * base + d;
        too_large = magnitude > UINT32_MAX;
    }

    if (too_large) return UINT32_MAX;
    const uint32_t value = static_cast<uint32_t>(magnitude);
    return negative ? 0u - value : value;
}

command_line_verdict read_command_line(int argc, const char* const* argv, run_params* params) {
    *params = run_params{};
    if (argc <= 4) return command_line_verdict::show_usage;

    params->iter = convert_param(argv[1]);
    params->delay = convert_param(argv[2]);
    params->start_DO_number = convert_param(argv[3]);
    params->end_DO_number = convert_param(argv[4]);
    if (argc > 5) params->use_safe_thread = convert_param(argv[5]);

    if (params->iter > max_iterations) return command_line_verdict::too_many_iterations;
    return command_line_verdict::run;
}
