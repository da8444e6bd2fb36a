// The per-bin gain rule: thresholds from the profile and the strength, the
// floor gains, the peak envelopes, and the bins it must leave alone.

#include "filters/CHissGain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kelvane {
namespace {

ProfileArray Flat(int32_t v)
{
    ProfileArray p;
    p.fill(v);
    return p;
}

// A spectrum (512 values, bins 0..255) with every bin at magnitude mag,
// all of it in the real part.
std::vector<double> Spectrum(double mag)
{
    std::vector<double> a(512, 0.0);
    for (int k = 0; k < 256; ++k) a[2 * k] = mag;
    return a;
}

TEST(HissGain, StrengthTwoSubtractsThreeProfilesTimesTheWeightWithAFloorOfPointTwo)
{
    CHissGain gain;
    gain.Prepare(Flat(1000), Flat(10), 2);
    EXPECT_EQ(gain.Threshold(0, 0), 0);
    EXPECT_EQ(gain.Threshold(0, 1), 300);
    EXPECT_EQ(gain.Threshold(0, 5), 1500);
    EXPECT_EQ(gain.Threshold(0, 10), 3000);
    EXPECT_EQ(gain.Threshold(0, 255), 3000);
    EXPECT_EQ(gain.Threshold(1, 3), 9);  // trunc(30 x 0.3f)
    EXPECT_FLOAT_EQ(CHissGain::FloorGain(0), 0.8f);
    EXPECT_FLOAT_EQ(CHissGain::FloorGain(1), 0.4f);
    EXPECT_FLOAT_EQ(CHissGain::FloorGain(2), 0.2f);
    EXPECT_FLOAT_EQ(CHissGain::FloorGain(3), 0.1f);
    EXPECT_EQ(CHissGain::Weight(10), 1.0f);
    EXPECT_EQ(CHissGain::Weight(3), static_cast<float>(0.3));
}

TEST(HissGain, QuietBinsLoseTheThresholdDownToTheFloorAndLoudBinsLoseLess)
{
    CHissGain gain;
    gain.Prepare(Flat(100), Flat(100), 1);  // thresholds 200 from bin 10 on, floor 0.4
    std::vector<double> a = Spectrum(1000.0);
    a[2 * 20] = 350.0;     // within twice the threshold: the whole threshold goes
    a[2 * 30] = 100000.0;  // loud: 200 x 200 x 2 / 100000 = 0.8 subtracted
    a[2 * 40] = 210.0;     // would drop to 10: held at the floor
    gain.Apply(a.data(), 0);
    // The envelope starts at 1.0, so the first frame's envelope is the magnitude.
    EXPECT_NEAR(a[2 * 20], 350.0 - 200.0, 1e-9);
    EXPECT_NEAR(a[2 * 30], 100000.0 - 0.8, 1e-9);
    EXPECT_NEAR(a[2 * 40], 210.0 * 0.4, 1e-4);
    EXPECT_NEAR(a[2 * 50], 1000.0 - 200.0 * (400.0 / 1000.0), 1e-9);
    // The envelope holds the peak and decays by 5% a frame in float.
    std::vector<double> quiet = Spectrum(10.0);
    gain.Apply(quiet.data(), 0);
    EXPECT_EQ(gain.Envelope(0, 30), 0.95f * 100000.0f);
    EXPECT_EQ(gain.Envelope(1, 30), 1.0f);  // the other channel's are its own
}

TEST(HissGain, BinZeroIsNeverReducedAndASilentBinStaysZero)
{
    CHissGain gain;
    gain.Prepare(Flat(5000), Flat(5000), 3);
    std::vector<double> a = Spectrum(0.0);
    a[0] = 123.0;  // DC
    a[1] = -45.0;  // Nyquist, in bin 0's pair
    a[2 * 7 + 1] = 0.0;
    gain.Apply(a.data(), 1);
    EXPECT_EQ(a[0], 123.0);
    EXPECT_EQ(a[1], -45.0);
    for (int k = 1; k < 256; ++k) {
        EXPECT_EQ(a[2 * k], 0.0) << k;
        EXPECT_EQ(a[2 * k + 1], 0.0) << k;
        EXPECT_FALSE(std::isnan(a[2 * k])) << k;
    }
}

}  // namespace
}  // namespace kelvane
