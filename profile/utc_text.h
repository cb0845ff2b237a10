// Times as the profile writes them: of the wall clock in UTC, ISO 8601, to
// the microsecond; spans in seconds to the millisecond.
#ifndef PROFILE_UTC_TEXT_H
#define PROFILE_UTC_TEXT_H

#include <stdint.h>
#include <sys/time.h>

using utc_text = char[64];

// "2026-12-10T05:41:07.123456Z": `at_us` microseconds after `start`.
const char* format_utc(utc_text& text, const timeval& start, int64_t at_us);

// "60.000": microseconds as seconds with milliseconds (0 below 0).
const char* seconds_text(char (&text)[32], int64_t us);

#endif
