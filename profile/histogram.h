// A histogram of figures in microseconds that keeps a run of any length in
// fixed memory and gives every percentile within a stated error: each figure
// from -63 to 255 us has a bin of its own; above, each doubling is cut into
// 128 bins, so a bin is at most 1/128 (0.8 %) of the figures it holds wide.
// A percentile is the highest figure of the bin its rank falls in, held
// between the run's exact minimum and maximum: the nearest-rank figure
// itself, or at most 0.8 % above it, never below.
#ifndef PROFILE_HISTOGRAM_H
#define PROFILE_HISTOGRAM_H

#include <stdint.h>

constexpr uint32_t histogram_negative_bins = 64;  // -63 .. -1 us, and below -63 in the first
constexpr uint32_t histogram_exact_bins = 256;    // 0 .. 255 us
constexpr uint32_t histogram_octave_bits = 7;     // 128 bins for each doubling above
constexpr uint32_t histogram_top_octave = 31;     // figures are held below 2^31 us
constexpr uint32_t histogram_bins =
    histogram_negative_bins + histogram_exact_bins + (histogram_top_octave - 8) * (1u << histogram_octave_bits);

struct figure_histogram {
    uint32_t counts[histogram_bins];
};

// The highest bit set of `value` (not 0), without a count-leading-zeros
// instruction where the target has none (ARMv4T): the runtime's helper for
// it would need one.
inline uint32_t highest_bit(uint32_t value) {
#if defined(__ARM_FEATURE_CLZ) || defined(__x86_64__) || defined(__i386__) || defined(__aarch64__)
    return 31u - static_cast<uint32_t>(__builtin_clz(value));
#else
    uint32_t bit = 0;
    if (value >= 1u << 16) { value >>= 16; bit += 16; }
    if (value >= 1u << 8) { value >>= 8; bit += 8; }
    if (value >= 1u << 4) { value >>= 4; bit += 4; }
    if (value >= 1u << 2) { value >>= 2; bit += 2; }
    if (value >= 1u << 1) bit += 1;
    return bit;
#endif
}

// The bin of `figure`, in 32-bit arithmetic. Delays and writes are never
// negative; the oversleep is, by the clock's rounding, mostly by 1 us.
inline uint32_t histogram_bin(int32_t figure) {
    if (figure < static_cast<int32_t>(histogram_exact_bins)) {
        if (figure < -static_cast<int32_t>(histogram_negative_bins - 1)) return 0;
        return static_cast<uint32_t>(figure + static_cast<int32_t>(histogram_negative_bins));
    }
    const uint32_t value = static_cast<uint32_t>(figure);
    const uint32_t bit = highest_bit(value);
    const uint32_t top = value >> (bit - histogram_octave_bits);  // the figure's 8 highest bits, 128 to 255
    return histogram_negative_bins + histogram_exact_bins + ((bit - 8) << histogram_octave_bits) + top -
           (1u << histogram_octave_bits);
}

// The lowest and highest figure bin `bin` holds (the first and last bins
// hold figures beyond: the run's minimum and maximum bound them).
int64_t bin_lowest(uint32_t bin);
int64_t bin_highest(uint32_t bin);

// The nearest-rank `per_mille`-th percentile of the `count` figures counted
// in `h`, within the histogram's error; `least` and `most` are the exact
// minimum and maximum. `count` must not be 0.
int64_t histogram_percentile(const figure_histogram& h, uint32_t count, uint32_t per_mille, int64_t least,
                             int64_t most);

// Quotient of `dividend` by `divisor` (not 0), by shifting and subtracting:
// a 32-bit controller build links no runtime helper for a 64-bit division.
uint64_t divide(uint64_t dividend, uint32_t divisor, uint32_t* remainder);

// The rank (from 1) of the per-mille-th percentile of `count` sorted figures:
// ceil(per_mille * count / 1000), exactly, for any count.
uint32_t nearest_rank(uint32_t per_mille, uint32_t count);

#endif
