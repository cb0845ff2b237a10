// Wall-clock times as the profile writes them: UTC, ISO 8601, microseconds.
#ifndef PROFILE_UTC_TEXT_H
#define PROFILE_UTC_TEXT_H

#include <stdint.h>
#include <sys/time.h>

using utc_text = char[64];

// "2026-12-10T05:41:07.123456Z": `at_us` microseconds after `start`.
const char* format_utc(utc_text& text, const timeval& start, int64_t at_us);

#endif
