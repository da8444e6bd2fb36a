#include "CHissGain.h"

#include <algorithm>
#include <cmath>

namespace kelvane {

float CHissGain::Weight(int bin)
{
    // 0.1 x i is formed in double and rounded once to float, so weight 10
    // and above is exactly 1.
    return std::min(1.0f, static_cast<float>(0.1 * bin));
}

float CHissGain::FloorGain(int32_t strength)
{
    return static_cast<float>(0.8 / std::ldexp(1.0, strength));
}

void CHissGain::Prepare(const ProfileArray& left, const ProfileArray& right, int32_t strength)
{
    const float floor = FloorGain(strength);
    floor_.fill(floor);
    const ProfileArray* profiles[2] = {&left, &right};
    for (int c = 0; c < 2; ++c) {
        for (int k = 0; k < kProfileBins; ++k) {
            // The product with (strength + 1) is an integer; it becomes a
            // float before the weight multiplies it, and the float product
            // is truncated.
            const auto scaled = static_cast<float>(int64_t{(*profiles[c])[k]} * (strength + 1));
            threshold_[c][k] = static_cast<int32_t>(scaled * Weight(k));
        }
        envelope_[c].fill(1.0f);
    }
}

void CHissGain::Apply(double* a, int channel)
{
    const std::array<int32_t, kProfileBins>& threshold = threshold_[channel];
    std::array<float, kProfileBins>& envelope = envelope_[channel];
    for (int k = 0; k < kProfileBins; ++k) {
        double& re = a[2 * k];
        double& im = a[2 * k + 1];
        const double mag = std::sqrt(re * re + im * im);
        // The envelope decays in float; the magnitude joins it rounded to float.
        const float decayed = 0.95f * envelope[k];
        const auto magF = static_cast<float>(mag);
        envelope[k] = decayed > magF ? decayed : magF;
        // A silent bin has nothing to subtract from; the rule's division
        // would make it NaN.
        if (mag == 0.0) continue;
        const double t = threshold[k];
        const double r = std::min(1.0, 2.0 * t / static_cast<double>(envelope[k]));
        double g = (mag - t * r) / mag;
        g = std::max(g, static_cast<double>(floor_[k]));
        re *= g;
        im *= g;
    }
}

}  // namespace kelvane
