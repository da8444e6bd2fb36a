#include "spectral/Spectral.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace kelvane {
namespace {

TEST(ApplyWindow, RaisedCosine_ZeroAtStartPeakTwoAtMiddle)
{
    // Alternating sizes must each get their own window from the cache.
    for (int n : {1024, 16, 1024, 16}) {
        std::vector<double> a(n, 1.0);
        ApplyWindow(a.data(), n);
        SCOPED_TRACE(n);
        EXPECT_EQ(a[0], 0.0);
        EXPECT_NEAR(a[n / 4], 1.0, 1e-15);
        EXPECT_NEAR(a[n / 2], 2.0, 1e-15);
        for (int i = 1; i < n; ++i) {
            ASSERT_NEAR(a[i], a[n - i], 1e-15) << i;
            ASSERT_NEAR(a[i], 1.0 - std::cos(2.0 * std::numbers::pi * i / n), 1e-15) << i;
        }
    }
    std::vector<double> b = {3.0, 5.0, 7.0, 9.0};
    ApplyWindow(b.data(), 4);
    const double want[] = {0.0, 5.0, 14.0, 9.0};
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(b[i], want[i], 1e-14) << i;
    ApplyWindow(nullptr, 16);  // no crash
    ApplyWindow(b.data(), 0);
}

// The run the scanner measures: bins 5..104 against x = 2k.
float ScannerIrregularity(const std::vector<float>& e) { return SpectralIrregularity(e.data(), 100, 10.0f, 2.0f); }

TEST(SpectralIrregularity, StraightRuns_AreSmooth)
{
    std::vector<float> flat(100, 3.0f), ramp(100), falling(100);
    for (int i = 0; i < 100; ++i) {
        ramp[i] = 1.0f + 0.25f * i;
        falling[i] = 200.0f - 1.5f * i;
    }
    EXPECT_NEAR(ScannerIrregularity(flat), 0.0f, 1e-3f);
    EXPECT_NEAR(ScannerIrregularity(ramp), 0.0f, 1e-3f);
    EXPECT_NEAR(ScannerIrregularity(falling), 0.0f, 1e-3f);
}

TEST(SpectralIrregularity, Spikes_ScoreHigh)
{
    std::vector<float> spiky(100, 1.0f);
    for (int i = 3; i < 100; i += 20)
        spiky[i] = 50.0f;
    const float u = ScannerIrregularity(spiky);
    EXPECT_GT(u, 2.0f);

    // Scale does not matter, a little noise scores far below spikes.
    for (float& v : spiky)
        v *= 1000.0f;
    EXPECT_NEAR(ScannerIrregularity(spiky), u, 1e-4f * u);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> jitter(0.95f, 1.05f);
    std::vector<float> noisy(100);
    for (float& v : noisy)
        v = jitter(rng);
    EXPECT_LT(ScannerIrregularity(noisy), 0.5f);
}

TEST(SpectralIrregularity, SmallExample_MatchesHandComputation)
{
    // Se=10 Se2=30 Sx=6 Sx2=14 Sxe=19: Sxx=5, Sxy=4, RSS=30-25-3.2=1.8,
    // U = sqrt(4 * 1.8) / 10.
    const float e[] = {1.0f, 3.0f, 2.0f, 4.0f};
    const float x[] = {0.0f, 1.0f, 2.0f, 3.0f};
    EXPECT_NEAR(SpectralIrregularity(e, x, 4), std::sqrt(7.2f) / 10.0f, 1e-6f);
    EXPECT_NEAR(SpectralIrregularity(e, 4, 0.0f, 1.0f), std::sqrt(7.2f) / 10.0f, 1e-6f);
    // Shifting x does not change the fit.
    EXPECT_NEAR(SpectralIrregularity(e, 4, 5.0f, 1.0f), std::sqrt(7.2f) / 10.0f, 1e-6f);
}

TEST(SpectralIrregularity, BothForms_AgreeToTheBit)
{
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> mag(0.0f, 10.0f);
    std::vector<float> e(100), x(100);
    for (int i = 0; i < 100; ++i) {
        e[i] = mag(rng);
        x[i] = static_cast<float>(5 + i);
    }
    EXPECT_EQ(SpectralIrregularity(e.data(), x.data(), 100), SpectralIrregularity(e.data(), 100, 5.0f, 1.0f));
}

TEST(SpectralIrregularity, DegenerateInput_GivesZero)
{
    std::vector<float> silent(100, 0.0f);
    EXPECT_EQ(ScannerIrregularity(silent), 0.0f);
    const float one[] = {4.0f};
    EXPECT_EQ(SpectralIrregularity(one, 1, 0.0f, 1.0f), 0.0f);
    EXPECT_EQ(SpectralIrregularity(nullptr, 100, 0.0f, 1.0f), 0.0f);
    EXPECT_EQ(SpectralIrregularity(silent.data(), nullptr, 100), 0.0f);
    // No line through a single abscissa: the spread about the mean is used.
    const float e[] = {1.0f, 3.0f};
    EXPECT_NEAR(SpectralIrregularity(e, 2, 7.0f, 0.0f), std::sqrt(2.0f * 2.0f) / 4.0f, 1e-6f);
}

} // namespace
} // namespace kelvane
