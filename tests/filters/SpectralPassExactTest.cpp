// The spectral pass against a plain frame-by-frame reading of its
// arithmetic: the whole range held in memory, one frame at a time, every
// step written out as the filter's contract states it (window, transform,
// gain rule, clearing, inverse, division by the window, the truncated
// overlap sums, clamping). The pass's own loops are arranged for speed; they
// must not move a single sample, at either depth, at either frame length,
// over a marked block or the whole side, whatever the chunk size.

#include "document/RestoreOriginal.h"
#include "filters/CHissGain.h"
#include "filters/CSpectralPass.h"
#include "spectral/CRealFft.h"
#include "spectral/Spectral.h"
#include "tests/filters/FilterTestDoc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace kelvane {
namespace {

using filtertest::LoadedSide;

// The gain rule one bin at a time, with the thresholds the filter made.
void GainRule(const CHissGain& gain, std::vector<float>& envelope, double* a, int c, int32_t strength)
{
    for (int k = 0; k < kProfileBins; ++k) {
        double& re = a[2 * k];
        double& im = a[2 * k + 1];
        const double mag = std::sqrt(re * re + im * im);
        const float decayed = 0.95f * envelope[k];
        envelope[k] = std::max(decayed, static_cast<float>(mag));
        if (mag == 0.0) continue;
        const double t = gain.Threshold(c, k);
        const double r = std::min(1.0, 2.0 * t / envelope[k]);
        const double g = std::max((mag - t * r) / mag, static_cast<double>(CHissGain::FloorGain(strength)));
        re *= g;
        im *= g;
    }
}

// Frames [first, last) of `in` filtered as one long run of frames; the rest
// is left as it is.
std::vector<int32_t> FrameByFrame(const std::vector<int32_t>& in, int64_t first, int64_t last, const NoiseProfiles& noise,
                                  int32_t strength, int n, int bits)
{
    std::vector<int32_t> out = in;
    CHissGain gain;
    gain.Prepare(noise.leadInLeft, noise.leadInRight, strength);
    const std::vector<double> w = WindowTable(n);
    CRealFft fft;
    const int h = n / 2, m = n / 8;
    const int64_t peak = bits == 24 ? 8388607 : 32767;
    std::vector<int64_t> acc[2] = {std::vector<int64_t>(h), std::vector<int64_t>(h)};
    std::vector<float> envelope[2] = {std::vector<float>(kProfileBins, 1.0f), std::vector<float>(kProfileBins, 1.0f)};
    std::vector<double> x(static_cast<size_t>(n));
    for (int64_t t = first; t < last; t += h) {
        for (int c = 0; c < 2; ++c) {
            for (int i = 0; i < n; ++i) x[i] = t + i < last ? in[2 * (t + i) + c] * w[i] : 0.0;
            fft.Forward(x.data(), n);
            GainRule(gain, envelope[c], x.data(), c, strength);
            if (n == 1024) {
                x[1] = 0.0;
                std::fill(x.begin() + 2 * kProfileBins, x.end(), 0.0);
            }
            fft.Inverse(x.data(), n);
            for (int i = 1; i < n; ++i) x[i] /= w[i];
            std::vector<int64_t>& a = acc[c];
            for (int k = m; k < 3 * m; ++k)
                a[k] = static_cast<int64_t>(std::trunc(static_cast<double>(a[k]) + (k - m) * x[k] / (2 * m)));
            for (int k = 3 * m; k < 4 * m; ++k) a[k] = static_cast<int64_t>(std::trunc(static_cast<double>(a[k]) + x[k]));
            for (int64_t k = 0; k < h && t + k < last; ++k)
                out[2 * (t + k) + c] = static_cast<int32_t>(std::clamp<int64_t>(a[k], -peak - 1, peak));
            std::vector<int64_t> next(h, 0);
            for (int l = 0; l < m; ++l) next[l] = static_cast<int64_t>(std::trunc(x[4 * m + l]));
            for (int l = m; l < 3 * m; ++l) next[l] = static_cast<int64_t>(std::trunc((3 * m - l) * x[4 * m + l] / (2 * m)));
            a = next;
        }
    }
    return out;
}

struct Case {
    const char* name;
    int rate;
    int bits;
    int32_t strength;
    bool block;
    int32_t chunkUnits;
};

class SpectralPassExact : public ::testing::TestWithParam<Case> {};

TEST_P(SpectralPassExact, GivesTheSamplesOfTheFrameByFrameReading)
{
    const Case& tc = GetParam();
    std::vector<int32_t> side = filtertest::HissThenMusic(30000, 90000, 400);
    // Loud enough in places to clip, so that the clamping is reached.
    test::MixInto(side, test::Sine(2500.0, 30000.0, 3000, tc.rate), 80000);
    test::WavOptions options;
    options.sampleRate = tc.rate;
    options.bits = tc.bits;
    if (tc.bits == 24) {
        // Low bytes of their own, so that a pass dropping to 16 bits shows.
        for (size_t i = 0; i < side.size(); ++i) side[i] = side[i] * 256 + static_cast<int32_t>((i * 37) % 256) - 128;
    }
    LoadedSide s;
    ASSERT_TRUE(s.Load(side, options));
    s.doc->noise.leadIn = {s.FramePos(4000), s.FramePos(4000 + 8800)};
    int64_t first = 0, last = static_cast<int64_t>(side.size() / 2);
    if (tc.block) {
        first = 12345;
        last = 101111;
        s.doc->blockStart = s.FramePos(first);
        s.doc->blockEnd = s.FramePos(last);
    }
    CSpectralPass pass(*s.doc);
    ASSERT_EQ(pass.Run({tc.strength, cancel::kFilterRemoved, tc.chunkUnits}), PassOutcome::Completed);
    const std::vector<int32_t> in = s.Source(), out = s.Working();
    ASSERT_EQ(in.size(), out.size());
    const int n = tc.rate > 48000 ? 1024 : 512;
    const std::vector<int32_t> expected = FrameByFrame(in, first, last, s.doc->noise, tc.strength, n, tc.bits);
    size_t differing = 0, firstDiffering = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] != expected[i] && differing++ == 0) firstDiffering = i;
    }
    EXPECT_EQ(differing, 0u) << "first at frame " << firstDiffering / 2 << ": " << out[firstDiffering] << " against "
                             << expected[firstDiffering];
}

INSTANTIATE_TEST_SUITE_P(
    Sides, SpectralPassExact,
    ::testing::Values(Case{"Rate44100Bits16Strength1", 44100, 16, 1, false, kSegmentBytes},
                      Case{"Rate44100Bits16Strength3Block", 44100, 16, 3, true, 5 * 1024 + 300},
                      Case{"Rate44100Bits24Strength2", 44100, 24, 2, false, kSegmentBytes},
                      Case{"Rate96000Bits16Strength2Block", 96000, 16, 2, true, kSegmentBytes},
                      Case{"Rate96000Bits24Strength3", 96000, 24, 3, false, 3 * 4096}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvane
