#include "spectral/CRealFft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>
#include <vector>

namespace kelvane {
namespace {

std::vector<double> RandomFrame(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> x(n);
    for (double& v : x)
        v = dist(rng);
    return x;
}

// Straight from the definition, in long double, packed the same way.
std::vector<double> NaiveSpectrum(const std::vector<double>& x)
{
    const int n = static_cast<int>(x.size());
    std::vector<long double> c(n), s(n);
    for (int i = 0; i < n; ++i) {
        const long double angle = 2.0L * std::numbers::pi_v<long double> * i / n;
        c[i] = std::cos(angle);
        s[i] = std::sin(angle);
    }
    std::vector<double> out(n);
    for (int k = 0; k <= n / 2; ++k) {
        long double re = 0, im = 0;
        for (int j = 0; j < n; ++j) {
            const int idx = static_cast<int>((static_cast<long long>(j) * k) % n);
            re += x[j] * c[idx];
            im += x[j] * s[idx];
        }
        if (k == 0)
            out[0] = static_cast<double>(re);
        else if (k == n / 2)
            out[1] = static_cast<double>(re);
        else
            out[2 * k] = static_cast<double>(re), out[2 * k + 1] = static_cast<double>(im);
    }
    return out;
}

double MaxAbs(const std::vector<double>& v)
{
    double m = 0;
    for (double x : v)
        m = std::max(m, std::fabs(x));
    return m;
}

void ExpectClose(const std::vector<double>& got, const std::vector<double>& want, double tolerance)
{
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_NEAR(got[i], want[i], tolerance) << "index " << i << " of " << got.size();
}

TEST(CRealFft, ForwardThenInverse_ReturnsInput)
{
    CRealFft fft;
    for (int n = 8; n <= 4096; n *= 2) {
        const std::vector<double> x = RandomFrame(n, 100 + n);
        // One double in, so the frame is not on a vector boundary.
        std::vector<double> buffer(n + 1);
        double* a = buffer.data() + 1;
        std::copy(x.begin(), x.end(), a);
        fft.Forward(a, n);
        fft.Inverse(a, n);
        SCOPED_TRACE(n);
        ExpectClose(std::vector<double>(a, a + n), x, 1e-9 * MaxAbs(x));
    }
}

TEST(CRealFft, Forward_MatchesDirectDft)
{
    // The 4- and 8-point transforms alone, with the radix-2 first stage, and
    // under one to three radix-4 stages.
    CRealFft fft;
    for (int n : {8, 16, 32, 64, 128, 256, 512, 1024, 2048}) {
        const std::vector<double> x = RandomFrame(n, n);
        std::vector<double> a = x;
        fft.Forward(a.data(), n);
        SCOPED_TRACE(n);
        ExpectClose(a, NaiveSpectrum(x), 1e-12 * n);
    }
}

TEST(CRealFft, LargestSizes_MatchDirectBinsAndRoundTrip)
{
    // The sizes the sample-rate converter's long filter uses; a full direct
    // DFT would take too long, so a spread of bins is checked one by one.
    CRealFft fft;
    for (int n : {CRealFft::kMaxSize / 2, CRealFft::kMaxSize}) {
        const std::vector<double> x = RandomFrame(n, 5 + n);
        std::vector<double> a = x;
        fft.Forward(a.data(), n);
        std::vector<double> c(n), s(n);
        for (int i = 0; i < n; ++i) {
            const long double angle = 2.0L * std::numbers::pi_v<long double> * i / n;
            c[i] = static_cast<double>(std::cos(angle));
            s[i] = static_cast<double>(std::sin(angle));
        }
        for (int k : {1, 3, 1000, n / 8 + 7, n / 3, n / 2 - 1}) {
            long double re = 0, im = 0;
            for (int j = 0; j < n; ++j) {
                const auto idx = static_cast<size_t>((static_cast<long long>(j) * k) % n);
                re += x[j] * static_cast<long double>(c[idx]);
                im += x[j] * static_cast<long double>(s[idx]);
            }
            SCOPED_TRACE(testing::Message() << "n " << n << " bin " << k);
            EXPECT_NEAR(a[2 * k], static_cast<double>(re), 1e-9 * std::sqrt(n));
            EXPECT_NEAR(a[2 * k + 1], static_cast<double>(im), 1e-9 * std::sqrt(n));
        }
        fft.Inverse(a.data(), n);
        ExpectClose(a, x, 1e-9);
    }
}

TEST(CRealFft, KnownSignals_LandInTheirBins)
{
    const int n = 256;
    CRealFft fft;

    std::vector<double> a(n, 0.75);
    fft.Forward(a.data(), n);
    EXPECT_NEAR(a[0], n * 0.75, 1e-12);
    for (int i = 1; i < n; ++i)
        ASSERT_NEAR(a[i], 0.0, 1e-12) << i;

    // The imaginary parts carry +sin: a sine at bin 3 shows as +n/2.
    for (int j = 0; j < n; ++j)
        a[j] = std::sin(2.0 * std::numbers::pi * 3 * j / n);
    fft.Forward(a.data(), n);
    EXPECT_NEAR(a[7], n / 2.0, 1e-10);
    EXPECT_NEAR(a[6], 0.0, 1e-10);

    // Alternating samples are pure Nyquist.
    for (int j = 0; j < n; ++j)
        a[j] = (j & 1) ? -1.0 : 1.0;
    fft.Forward(a.data(), n);
    EXPECT_NEAR(a[0], 0.0, 1e-12);
    EXPECT_NEAR(a[1], n, 1e-12);
    EXPECT_NEAR(CRealFft::Magnitude(a.data(), 0), n, 1e-12);
}

TEST(CRealFft, SmallerSizeAfterLarger_GivesSameResultAsFreshObject)
{
    CRealFft shared;
    const std::vector<double> big = RandomFrame(CRealFft::kMaxSize, 1);
    std::vector<double> a = big;
    shared.Forward(a.data(), CRealFft::kMaxSize);
    shared.Inverse(a.data(), CRealFft::kMaxSize);
    ExpectClose(a, big, 1e-9 * MaxAbs(big));
    for (int n : {8, 1024, 32, 4096, 512}) {
        const std::vector<double> x = RandomFrame(n, 7 * n);
        std::vector<double> viaShared = x, viaFresh = x;
        CRealFft fresh;
        shared.Forward(viaShared.data(), n);
        fresh.Forward(viaFresh.data(), n);
        SCOPED_TRACE(n);
        ExpectClose(viaShared, viaFresh, 0.0);
        shared.Inverse(viaShared.data(), n);
        ExpectClose(viaShared, x, 1e-9 * MaxAbs(x));
    }
}

TEST(CRealFft, BadArguments_ThrowAndLeaveFrameAlone)
{
    CRealFft fft;
    std::vector<double> a = RandomFrame(1024, 3);
    const std::vector<double> before = a;
    for (int n : {0, 4, 1000, CRealFft::kMaxSize * 2, -8})
        EXPECT_THROW(fft.Forward(a.data(), n), std::invalid_argument) << n;
    EXPECT_THROW(fft.Inverse(a.data(), 1023), std::invalid_argument);
    EXPECT_THROW(fft.Forward(nullptr, 1024), std::invalid_argument);
    EXPECT_THROW(fft.Reserve(3), std::invalid_argument);
    EXPECT_EQ(a, before);
}

TEST(CRealFft, Magnitude_OfPackedPairs)
{
    const double a[] = {3.0, 4.0, -6.0, 8.0};
    EXPECT_DOUBLE_EQ(CRealFft::Magnitude(a, 0), 5.0);  // DC with Nyquist
    EXPECT_DOUBLE_EQ(CRealFft::Magnitude(a, 1), 10.0);
}

} // namespace
} // namespace kelvane
