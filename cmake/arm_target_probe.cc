// What the compiler's predefined macros say of the target, as one marker for
// cmake/arm_target.cmake ("-": does not apply; "other": no controller's):
//   plc-probe: ABI MARCH TAG_CPU_ARCH FLOAT_ABI FPU STATE THUMB TIME_BITS LIBC
#include <time.h>

#define PLC_TEXT(x) #x
#define PLC_VALUE(x) PLC_TEXT(x)

extern "C" __attribute__((used)) const char plc_probe[] = "plc-probe:"
#if !defined(__linux__) || !defined(__GLIBC__)
    " other"
#elif defined(__aarch64__) && defined(__AARCH64EL__)
    // ARMv8.0-A with the extensions the compiler may use, as the assembler names them.
    " arm64 armv8-a"
#if defined(__ARM_FEATURE_ATOMICS)
    "+lse"
#endif
#if defined(__ARM_FEATURE_CRC32)
    "+crc"
#endif
#if defined(__ARM_FEATURE_QRDMX)
    "+rdma"
#endif
#if defined(__ARM_FEATURE_CRYPTO) || defined(__ARM_FEATURE_AES)
    "+crypto"
#endif
#if defined(__ARM_FEATURE_FP16_SCALAR_ARITHMETIC)
    "+fp16"
#endif
#if defined(__ARM_FEATURE_DOTPROD)
    "+dotprod"
#endif
#if defined(__ARM_FEATURE_SVE)
    "+sve"
#endif
    " - - - a64 - 64"
#elif defined(__arm__) && defined(__ARM_EABI__) && !defined(__ARMEB__)
#if defined(__ARM_PCS_VFP)
    " armhf"
#else
    " armel"
#endif
#if defined(__ARM_ARCH_4T__)
    " armv4t v4T"
#elif defined(__ARM_ARCH_5TE__)
    " armv5te v5TE"
#elif defined(__ARM_ARCH_5TEJ__)
    " armv5tej v5TEJ"
#elif defined(__ARM_ARCH_6__)
    " armv6 v6"
#elif defined(__ARM_ARCH_6K__)
    " armv6k v6K"
#elif defined(__ARM_ARCH_6KZ__) || defined(__ARM_ARCH_6ZK__)
    " armv6kz v6KZ"
#elif defined(__ARM_ARCH_6T2__)
    " armv6t2 v6T2"
    // ARMv7-A cores with the division extension (Cortex-A7, A15, A17).
#elif defined(__ARM_ARCH_7A__) && defined(__ARM_FEATURE_IDIV)
    " armv7ve v7"
#elif defined(__ARM_ARCH_7A__)
    " armv7-a v7"
#elif defined(__ARM_ARCH_8A__)
    " armv8-a v8"
#else
    " ARMv" PLC_VALUE(__ARM_ARCH) "-" PLC_VALUE(__ARM_ARCH_PROFILE) " -"
#endif
#if defined(__ARM_PCS_VFP)
    " hard"
#elif defined(__ARM_FP)
    " softfp"
#else
    " soft"
#endif
    // The macros do not tell 16 double registers from 32: without NEON, the 16 every unit has.
#if !defined(__ARM_FP)
    " -"
#elif defined(__ARM_NEON) && __ARM_ARCH >= 8
    " neon-fp-armv8"
#elif defined(__ARM_NEON) && defined(__ARM_FEATURE_FMA)
    " neon-vfpv4"
#elif defined(__ARM_NEON)
    " neon"
#elif __ARM_ARCH >= 8
    " fp-armv8"
#elif defined(__ARM_FEATURE_FMA)
    " vfpv4-d16"
#elif __ARM_ARCH >= 7
    " vfpv3-d16"
#else
    " vfpv2"
#endif
#if defined(__thumb__)
    " thumb"
#else
    " arm"
#endif
    " Thumb-" PLC_VALUE(__ARM_ARCH_ISA_THUMB)
#if defined(__USE_TIME_BITS64)
    " 64"
#else
    " 32"
#endif
#else
    " other"
#endif
#if defined(__GLIBC__)
    " " PLC_VALUE(__GLIBC__) "." PLC_VALUE(__GLIBC_MINOR__);
#else
    " -";
#endif

int main() {
    timespec now;
    return clock_gettime(CLOCK_MONOTONIC, &now);
}
