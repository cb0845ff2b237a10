// What a 32-bit C library's strtoul(text, NULL, 0) returns, for checking the
// program's own conversion against. On a 32-bit target that is the C library
// itself; elsewhere the sign and the 32-bit range are applied to the
// magnitude the C library reads.
#ifndef TESTS_SUPPORT_REFERENCE_CONVERSION_H
#define TESTS_SUPPORT_REFERENCE_CONVERSION_H

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>

inline uint32_t reference_conversion(const char* text) {
#if ULONG_MAX == 0xffffffffUL
    return static_cast<uint32_t>(strtoul(text, nullptr, 0));
#else
    const char* s = text;
    while (isspace(static_cast<unsigned char>(*s))) ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    // strtoull would skip another blank or sign; after the first sign only a
    // digit or letter can start a number.
    if (!isalnum(static_cast<unsigned char>(*s))) return 0;
    errno = 0;
    const unsigned long long magnitude = strtoull(s, nullptr, 0);
    if (errno == ERANGE || magnitude > 0xffffffffull) return 0xffffffffu;
    const uint32_t value = static_cast<uint32_t>(magnitude);
    return negative ? 0u - value : value;
#endif
}

#endif
