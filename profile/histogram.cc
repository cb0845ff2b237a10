#include "profile/histogram.h"

namespace {

constexpr uint32_t first_octave_bin = histogram_negative_bins + histogram_exact_bins;

}  // namespace

int64_t bin_lowest(uint32_t bin) {
    if (bin < first_octave_bin) return static_cast<int64_t>(bin) - histogram_negative_bins;
    const uint32_t octave = (bin - first_octave_bin) >> histogram_octave_bits;  // 0: 256 to 511 us
    const uint32_t step = (bin - first_octave_bin) & ((1u << histogram_octave_bits) - 1);
    return static_cast<int64_t>((uint64_t{1} << histogram_octave_bits) + step) << (octave + 1);
}

int64_t bin_highest(uint32_t bin) {
    if (bin < first_octave_bin) return bin_lowest(bin);
    const uint32_t octave = (bin - first_octave_bin) >> histogram_octave_bits;
    return bin_lowest(bin) + (int64_t{1} << (octave + 1)) - 1;
}

int64_t histogram_percentile(const figure_histogram& h, uint32_t count, uint32_t per_mille, int64_t least,
                             int64_t most) {
    const uint32_t rank = nearest_rank(per_mille, count);
    uint32_t below = 0;
    uint32_t bin = 0;
    for (; bin + 1 < histogram_bins; ++bin) {
        if (h.counts[bin] >= rank - below) break;
        below += h.counts[bin];
    }
    const int64_t highest = bin_highest(bin);
    if (highest > most || bin + 1 == histogram_bins) return most;
    return highest < least || bin == 0 ? least : highest;
}

uint64_t divide(uint64_t dividend, uint32_t divisor, uint32_t* remainder) {
    uint64_t quotient = 0;
    uint64_t rest = 0;
    for (int bit = 63; bit >= 0; --bit) {
        rest = rest << 1 | (dividend >> bit & 1);
        if (rest >= divisor) {
            rest -= divisor;
            quotient |= uint64_t{1} << bit;
        }
    }
    *remainder = static_cast<uint32_t>(rest);
    return quotient;
}

uint32_t nearest_rank(uint32_t per_mille, uint32_t count) {
    // In 64 bits: per_mille * count passes 2^32 from 4.3 million figures on.
    uint32_t rest;
    const uint64_t rank = divide(uint64_t{per_mille} * count + 999, 1000, &rest);
    return rank == 0 ? 1 : static_cast<uint32_t>(rank);
}
