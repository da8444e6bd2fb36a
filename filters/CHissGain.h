#pragma once
// Spectral subtraction of hiss, one bin at a time. From a noise profile
// (the average magnitude per bin of a stretch of pure noise) and the hiss
// strength s (1..3) it makes, per channel, a threshold per bin of
// profile x (s + 1) x weight, where the weight rises from 0 at bin 0 to 1
// from bin 10 on, and a floor gain of 0.8 / 2^s (8, 14 and 20 dB at most).
//
// Each bin's peak envelope falls by 5% a frame unless the bin is louder; the
// whole threshold is subtracted while the envelope stays within twice the
// threshold, and less (threshold^2 x 2 / envelope) above that, so music
// loses little and quiet hiss much. A bin is never raised, and one of zero
// magnitude stays zero.
//
// Precision is part of the contract: thresholds, envelopes and floor gains
// are single precision, the rest of the rule double, so that two passes
// over the same frames give the same samples on every machine.

#include "document/NoiseProfiles.h"

#include <array>
#include <cstdint>

namespace kelvane {

class CHissGain {
public:
    // min(1, 0.1 x i), as the float nearest to that value.
    static float Weight(int bin);
    // 0.8 / 2^strength, in single precision.
    static float FloorGain(int32_t strength);

    // Builds the thresholds and floor gains and sets every envelope to 1.0:
    // the start of a pass.
    void Prepare(const ProfileArray& left, const ProfileArray& right, int32_t strength);

    // Applies the rule to bins 0..255 of one channel's packed spectrum (the
    // layout of CRealFft: bin k is the pair a[2k], a[2k+1]; bin 0 pairs DC
    // with Nyquist). a must hold at least 512 values.
    void Apply(double* a, int channel);

    int32_t Threshold(int channel, int bin) const { return threshold_[channel][bin]; }
    float Envelope(int channel, int bin) const { return envelope_[channel][bin]; }

private:
    std::array<std::array<int32_t, kProfileBins>, 2> threshold_{};
    std::array<std::array<float, kProfileBins>, 2> envelope_{};
    std::array<float, kProfileBins> floor_{};
};

}  // namespace kelvane
