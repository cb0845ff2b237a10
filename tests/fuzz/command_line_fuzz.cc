// Fuzzes the command line, never the sweep: every value converts as a 32-bit
// strtoul(text, NULL, 0) does, the decision follows from the argument and
// iteration counts, plc_do_profile reads a command line without options as
// plc_do_test does (but for its limit on iterations), and a refused command
// line, --help or --version never reaches the controller.
// Input: the first byte modulo 8 is the number of texts, the rest split at NULs.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "plcsim/plcsim.h"
#include "profile/profile.h"
#include "profile/profile_options.h"
#include "run/run.h"
#include "run/run_params.h"
#include "tests/support/reference_conversion.h"

namespace {

constexpr size_t max_texts = 7;

[[noreturn]] void broken(const char* what, const char* text) {
    fprintf(stderr, "command_line_fuzz: %s [%s]\n", what, text);
    abort();
}

void expect_converted(uint32_t value, const char* text) {
    if (value != reference_conversion(text)) broken("converted differently from strtoul", text);
}

bool same_verdict(profile_verdict profiled, command_line_verdict verdict) {
    switch (profiled) {
        case profile_verdict::show_usage:
            return verdict == command_line_verdict::show_usage;
        case profile_verdict::run:
            // plc_do_profile takes any iteration count.
            return verdict == command_line_verdict::run || verdict == command_line_verdict::too_many_iterations;
        case profile_verdict::option_refused:
        case profile_verdict::show_help:
        case profile_verdict::show_version:
            break;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The usage text and the limit message go nowhere.
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t count = data[0] % (max_texts + 1);
    std::string texts[max_texts];
    size_t t = 0;
    for (size_t i = 1; i < size && t < count; ++i) {
        if (data[i] == 0) {
            ++t;
        } else {
            texts[t] += static_cast<char>(data[i]);
        }
    }

    const char* argv[max_texts + 2] = {"plc_do_test"};
    for (size_t i = 0; i < count; ++i) argv[i + 1] = texts[i].c_str();
    const int argc = static_cast<int>(count + 1);

    run_params params;
    const command_line_verdict verdict = read_command_line(argc, argv, &params);
    if (argc <= 4) {
        if (verdict != command_line_verdict::show_usage) broken("short command line not refused", "");
    } else {
        expect_converted(params.iter, argv[1]);
        expect_converted(params.delay, argv[2]);
        expect_converted(params.start_DO_number, argv[3]);
        expect_converted(params.end_DO_number, argv[4]);
        expect_converted(params.use_safe_thread, argc > 5 ? argv[5] : "");
        const bool too_many = params.iter > max_iterations;
        if (too_many != (verdict == command_line_verdict::too_many_iterations)) {
            broken("wrong decision on the iteration count", argv[1]);
        }
    }

    if (verdict != command_line_verdict::run) {
        plcsim::reset();
        if (run_plc_do_test(argc, argv) != exit_refused_command_line) broken("refused run not ended with -1", "");
        if (plcsim::call_count() != 0) broken("a refused command line reached the controller", "");
    }

    // The program's own count of CPUs, so that "--cpu 3 --help" reads here as it reads there.
    const int32_t cpus = static_cast<int32_t>(sysconf(_SC_NPROCESSORS_CONF));
    profile_options options;
    option_problem problem;
    const profile_verdict profiled = read_profile_command_line(argc, argv, cpus, &options, &problem);
    bool options_given = false;
    for (int i = 1; i < argc; ++i) {
        const char second = argv[i][1];
        options_given |= argv[i][0] == '-' && (second == '-' || ((second | 0x20) >= 'a' && (second | 0x20) <= 'z'));
    }
    if (!options_given) {
        const bool same = same_verdict(profiled, verdict) &&
                          options.params.iter == params.iter && options.params.delay == params.delay &&
                          options.params.start_DO_number == params.start_DO_number &&
                          options.params.end_DO_number == params.end_DO_number &&
                          options.params.use_safe_thread == params.use_safe_thread;
        if (!same) broken("plc_do_profile read a command line without options otherwise", argc > 1 ? argv[1] : "");
    }
    // A refused option is named on standard error, which the fuzzer keeps for its own findings.
    if (profiled == profile_verdict::show_usage) {
        plcsim::reset();
        if (run_plc_do_profile(argc, argv, "plc_do_profile") != exit_refused_command_line) {
            broken("refused profile not ended with -1", "");
        }
        if (plcsim::call_count() != 0) broken("a refused profile command line reached the controller", "");
    }
    if (profiled == profile_verdict::show_help || profiled == profile_verdict::show_version) {
        plcsim::reset();
        if (run_plc_do_profile(argc, argv, "plc_do_profile") != 0) broken("--help or --version not ended with 0", "");
        if (plcsim::call_count() != 0) broken("--help or --version reached the controller", "");
    }
    return 0;
}
