// Included ahead of every source of a controller build (-include), so that
// each reference to these C library calls asks for the version that every
// ARM EABI GNU C library has, GLIBC_2.4, instead of the newest one of the C
// library the binary was linked against. The calls are the same; only the
// version tag the loader checks differs, so nothing is added to any call.
#ifndef LIBC_COMPAT_SYMBOL_VERSIONS_H
#define LIBC_COMPAT_SYMBOL_VERSIONS_H

// In librt.so.1 before 2.31, in libc.so.6 from 2.31 on: the program needs both,
// librt.so.1 first (docs/compatibility.md says why).
#if defined(__arm__)
__asm__(".symver clock_gettime,clock_gettime@GLIBC_2.4");
__asm__(".symver clock_getres,clock_getres@GLIBC_2.4");
#endif
// AArch64's first C library (2.17) is the version every call asks for.

#endif
