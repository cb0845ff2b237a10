#include "profile/utc_text.h"

#include <stdio.h>
#include <time.h>

#include "profile/histogram.h"

const char* format_utc(utc_text& text, const timeval& start, int64_t at_us) {
    const int64_t us = static_cast<int64_t>(start.tv_usec) + (at_us < 0 ? 0 : at_us);
    uint32_t micro;
    const uint64_t seconds = divide(static_cast<uint64_t>(us), 1000000, &micro);
    const time_t when = static_cast<time_t>(start.tv_sec + static_cast<time_t>(seconds));
    tm parts;
    if (gmtime_r(&when, &parts) == nullptr) {
        snprintf(text, sizeof text, "unknown");
        return text;
    }
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06uZ", parts.tm_year + 1900, parts.tm_mon + 1,
             parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<unsigned>(micro));
    return text;
}

const char* seconds_text(char (&text)[32], int64_t us) {
    uint32_t rest;
    const uint64_t whole = divide(static_cast<uint64_t>(us < 0 ? 0 : us), 1000000, &rest);
    snprintf(text, sizeof text, "%llu.%03u", static_cast<unsigned long long>(whole), rest / 1000);
    return text;
}
