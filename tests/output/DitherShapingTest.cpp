// The converter's dither and noise shaping: the noise table's generator and
// distributions, the shaping sets' response, and what the shaping loop does
// to the spectrum of the requantisation error.

#include "spectral/CRealFft.h"
#include "output/CResampler.h"
#include "output/Dither.h"
#include "output/NoiseShaping.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

namespace kelvane {
namespace {

TEST(CDitherNoise, GeneratorIsTheCStandardsReferenceRand)
{
    // The first outputs of the example rand() of the C standard from seed 1.
    ReferenceRand r;
    for (int expected : {16838, 5758, 10113, 17515, 31051, 5627, 23010, 7419, 16212, 4086})
        EXPECT_EQ(r.Next(), expected);
    // The shuffle hands out the same values, in another order.
    CShuffledRand shuffled;
    ReferenceRand plain;
    std::vector<int> a, b;
    for (int i = 0; i < 5000; ++i) {
        a.push_back(shuffled.Next());
        b.push_back(plain.Next());
    }
    EXPECT_NE(a, b);
    int inRange = 0;
    for (int v : a) inRange += v >= 0 && v <= 32767;
    EXPECT_EQ(inRange, 5000);
}

TEST(CDitherNoise, TablesHaveTheAmplitudeAndSpreadOfTheirPdf)
{
    struct Case {
        DitherPdf pdf;
        double peakAtMost;
        double variance;  // of the distribution at its amplitude
    };
    // Rectangular (u - 0.5) A: variance A^2 / 12; triangular (u1 - u2) A:
    // A^2 / 6; Gaussian: A^2.
    for (const Case& c : {Case{DitherPdf::Rectangular, 0.35, 0.7 * 0.7 / 12},
                          Case{DitherPdf::Triangular, 0.9, 0.9 * 0.9 / 6}, Case{DitherPdf::Gaussian, 1.0, 0.18 * 0.18}}) {
        SCOPED_TRACE(static_cast<int>(c.pdf));
        const CDitherNoise noise(c.pdf);
        ASSERT_EQ(noise.Table().size(), 65536u);
        double sum = 0, squares = 0;
        for (double v : noise.Table()) {
            sum += v;
            squares += v * v;
        }
        const double mean = sum / 65536;
        EXPECT_NEAR(mean, 0.0, 0.01);
        EXPECT_NEAR(squares / 65536 - mean * mean, c.variance, c.variance * 0.05);
        EXPECT_LE(noise.Peak(), c.peakAtMost + 1e-12);
        EXPECT_EQ(CDitherNoise(c.pdf).Table(), noise.Table()) << "the table must be the same every time";
    }
    CDitherNoise cyclic(DitherPdf::Rectangular);
    const double first = cyclic.Next();
    for (size_t i = 1; i < CDitherNoise::kTableSize; ++i) cyclic.Next();
    EXPECT_EQ(cyclic.Next(), first);
}

TEST(CDitherNoise, AutoDither_FollowsTheDepths)
{
    EXPECT_EQ(CResampler::ResolveDither(DitherType::Auto, 2, 16), DitherType::Plain);
    EXPECT_EQ(CResampler::ResolveDither(DitherType::Auto, 2, 24), DitherType::Plain);
    EXPECT_EQ(CResampler::ResolveDither(DitherType::Auto, 3, 16), DitherType::Ath);
    EXPECT_EQ(CResampler::ResolveDither(DitherType::Auto, 2, 8), DitherType::LessAth);
    EXPECT_EQ(CResampler::ResolveDither(DitherType::Auto, 1, 8), DitherType::Plain);
    EXPECT_EQ(CResampler::ResolveDither(DitherType::None, 3, 16), DitherType::None);
}

// 20 log10 |1 + sum h[k] z^-(k+1)| at f.
double NoiseGainDb(const std::vector<double>& h, double f, double rate)
{
    std::complex<double> a = 1.0;
    for (size_t k = 0; k < h.size(); ++k) a += h[k] * std::polar(1.0, -2.0 * std::numbers::pi * f / rate * (k + 1.0));
    return 20.0 * std::log10(std::abs(a));
}

TEST(NoiseShaping, SetsHaveTheirLengthsAndFollowTheThresholdOfHearing)
{
    struct Case {
        int rate;
        const std::vector<double>* set;
        size_t length;
    };
    const Case cases[] = {
        {48000, AthShapingSet(48000), 16},        {44100, AthShapingSet(44100), 20},
        {37800, AthShapingSet(37800), 16},        {32000, AthShapingSet(32000), 16},
        {22050, AthShapingSet(22050), 15},        {48000, ReducedAthShapingSet(48000), 16},
        {44100, ReducedAthShapingSet(44100), 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.length);
        ASSERT_NE(c.set, nullptr);
        EXPECT_EQ(c.set->size(), c.length);
        // Minimum phase (so the loop is stable) shows as a logarithmic mean
        // of the noise gain of 0 dB over the band.
        double mean = 0;
        const int points = 4000;
        for (int i = 0; i < points; ++i) mean += NoiseGainDb(*c.set, (i + 0.5) * c.rate / 2 / points, c.rate);
        EXPECT_NEAR(mean / points, 0.0, 0.01);
        // Least noise where the ear is most sensitive.
        EXPECT_LT(NoiseGainDb(*c.set, 3500, c.rate), NoiseGainDb(*c.set, 1000, c.rate));
        EXPECT_LT(NoiseGainDb(*c.set, 3500, c.rate), NoiseGainDb(*c.set, 9000, c.rate) - 3.0);
        EXPECT_LT(NoiseGainDb(*c.set, 3500, c.rate), -5.0);
    }
    EXPECT_EQ(AthShapingSet(88200), nullptr);
    EXPECT_EQ(ReducedAthShapingSet(32000), nullptr);
    // The reduced sets push less.
    for (int rate : {44100, 48000})
        EXPECT_GT(NoiseGainDb(*ReducedAthShapingSet(rate), 3500, rate), NoiseGainDb(*AthShapingSet(rate), 3500, rate) + 3);
    EXPECT_EQ(TriangularShapingSet(), (std::vector<double>{-1.0}));
}

// Mean power of the requantisation error of a quiet tone in [lo, hi) Hz,
// from averaged 4096-point spectra.
double ErrorBandPower(DitherType type, double lo, double hi)
{
    const int rate = 44100;
    const size_t n = 4096, frames = 40 * n;
    std::vector<double> x(frames);
    for (size_t i = 0; i < frames; ++i) x[i] = 30.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / rate);
    CDitherNoise noise(DitherPdf::Triangular);
    const std::vector<double>* set = type == DitherType::Ath ? AthShapingSet(rate) : nullptr;
    CRequantiser q(16, 1, &noise, set);
    std::vector<int32_t> y(frames);
    q.Run(x.data(), frames, y.data());
    CRealFft fft;
    std::vector<double> frame(n);
    double power = 0;
    int bins = 0;
    for (size_t start = 0; start + n <= frames; start += n) {
        for (size_t i = 0; i < n; ++i) frame[i] = y[start + i] - x[start + i];
        fft.Forward(frame.data(), static_cast<int>(n));
        for (size_t k = 1; k < n / 2; ++k) {
            const double f = static_cast<double>(k) * rate / n;
            if (f < lo || f >= hi) continue;
            power += frame[2 * k] * frame[2 * k] + frame[2 * k + 1] * frame[2 * k + 1];
            ++bins;
        }
    }
    return power / bins;
}

TEST(NoiseShaping, Loop_MovesTheErrorOutOfTheSensitiveBand)
{
    const double plainMid = ErrorBandPower(DitherType::Plain, 2000, 5000);
    const double shapedMid = ErrorBandPower(DitherType::Ath, 2000, 5000);
    const double plainHigh = ErrorBandPower(DitherType::Plain, 15000, 20000);
    const double shapedHigh = ErrorBandPower(DitherType::Ath, 15000, 20000);
    EXPECT_LT(10 * std::log10(shapedMid / plainMid), -10.0);
    EXPECT_GT(10 * std::log10(shapedHigh / plainHigh), 5.0);
}

TEST(NoiseShaping, Clipping_DoesNotSetTheLoopRinging)
{
    // A stretch far beyond full scale, then a quiet signal: once back in
    // range, the output must follow the input within the shaped noise.
    const size_t frames = 20000;
    std::vector<double> x(frames);
    for (size_t i = 0; i < frames; ++i) x[i] = i < 5000 ? 60000.0 * ((i / 7) % 2 ? 1 : -1) : 100.0;
    CDitherNoise noise(DitherPdf::Rectangular);
    CRequantiser q(16, 1, &noise, AthShapingSet(44100));
    std::vector<int32_t> y(frames);
    q.Run(x.data(), frames, y.data());
    for (size_t i = 5100; i < frames; ++i) ASSERT_NEAR(y[i], 100.0, 12.0) << i;
}

}  // namespace
}  // namespace kelvane
