#include "CHissGain.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
#if defined(__SSE2__)
    // Two bins at a time. Every operation below is the scalar rule's own,
    // lane by lane and correctly rounded (the square root and the divisions
    // included), and the minimum and maximum take their operands in the order
    // that gives std::min and std::max's answer, so the samples do not
    // change; only the divider, which the rule keeps busy, works on pairs.
    const __m128d one = _mm_set1_pd(1.0), two = _mm_set1_pd(2.0), zero = _mm_setzero_pd();
    // Below this a product of floor and magnitude may lose bits to underflow.
    const __m128d tiny = _mm_set1_pd(1e-200);
    // Shrinks a rounded product below the exact one, with room to spare.
    const __m128d belowExact = _mm_set1_pd(1.0 - 0x1p-50);
    const __m128 decay = _mm_set1_ps(0.95f);
    // The magnitudes and envelopes run some bins ahead of the gains: the
    // square roots then overlap, and the tests below do not wait for them.
    alignas(16) double magnitude[kProfileBins];
    const auto measure = [&](int k) {
        const double* p = a + 2 * k;
        const __m128d lo = _mm_loadu_pd(p), hi = _mm_loadu_pd(p + 2);
        const __m128d re = _mm_unpacklo_pd(lo, hi), im = _mm_unpackhi_pd(lo, hi);
        const __m128d mag = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(re, re), _mm_mul_pd(im, im)));
        _mm_store_pd(magnitude + k, mag);
        const __m128 decayed = _mm_mul_ps(decay, _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(&envelope[k]))));
        const __m128 env = _mm_max_ps(decayed, _mm_cvtpd_ps(mag));  // decayed > mag ? decayed : mag
        _mm_store_sd(reinterpret_cast<double*>(&envelope[k]), _mm_castps_pd(env));
    };
    constexpr int kAhead = 32;
    for (int k = 0; k < kAhead; k += 2) measure(k);
    for (int k = 0; k < kProfileBins; k += 2) {
        if (k + kAhead < kProfileBins) measure(k + kAhead);
        double* p = a + 2 * k;
        const __m128d lo = _mm_loadu_pd(p), hi = _mm_loadu_pd(p + 2);
        const __m128d re = _mm_unpacklo_pd(lo, hi), im = _mm_unpackhi_pd(lo, hi);
        const __m128d mag = _mm_load_pd(magnitude + k);
        const __m128d envD = _mm_cvtps_pd(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(&envelope[k]))));
        const __m128d t = _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&threshold[k])));
        const __m128d twoT = _mm_mul_pd(two, t);
        // Where 2t >= envelope the quotient rounds to 1 or more, so r is 1
        // without dividing (the divider is what the rule waits for; in hiss
        // most bins are there).
        __m128d r = one;
        if (_mm_movemask_pd(_mm_cmplt_pd(twoT, envD)) != 0) r = _mm_min_pd(_mm_div_pd(twoT, envD), one);  // q < 1 ? q : 1
        const __m128d x = _mm_sub_pd(mag, _mm_mul_pd(t, r));
        const __m128d floorGain = _mm_cvtps_pd(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(&floor_[k]))));
        // x < floor x magnitude (tested on a bound below the exact product)
        // means x / magnitude rounds to the floor or below: the floor wins.
        const __m128d floored = _mm_and_pd(_mm_cmplt_pd(x, _mm_mul_pd(_mm_mul_pd(floorGain, mag), belowExact)),
                                           _mm_cmpgt_pd(mag, tiny));
        __m128d g = floorGain;
        if (_mm_movemask_pd(floored) != 3) g = _mm_max_pd(floorGain, _mm_div_pd(x, mag));  // floor > g ? floor : g
        // A silent bin keeps its values; the rule's division made it NaN.
        const __m128d silent = _mm_cmpeq_pd(mag, zero);
        g = _mm_or_pd(_mm_and_pd(silent, one), _mm_andnot_pd(silent, g));
        const __m128d gr = _mm_mul_pd(re, g), gi = _mm_mul_pd(im, g);
        _mm_storeu_pd(p, _mm_unpacklo_pd(gr, gi));
        _mm_storeu_pd(p + 2, _mm_unpackhi_pd(gr, gi));
    }
#else
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
#endif
}

}  // namespace kelvane
