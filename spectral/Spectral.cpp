#include "spectral/Spectral.h"

#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

// The irregularity feeds thresholds, so its float rounding has to be the same
// whatever the compiler flags: no fusing of a*b+c into one multiply-add.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace kelvane {
namespace {

// Frames come in one or two sizes per pass; a handful of cached windows is
// plenty, and the oldest goes if a caller keeps changing size.
constexpr std::size_t kCachedWindows = 8;

const std::vector<double>& WindowFor(int n)
{
    thread_local std::vector<std::vector<double>> cache;
    for (const auto& w : cache)
        if (static_cast<int>(w.size()) == n)
            return w;
    if (cache.size() >= kCachedWindows)
        cache.erase(cache.begin());
    std::vector<double> w(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        w[i] = 1.0 - std::cos(2.0 * std::numbers::pi * i / n);
    cache.push_back(std::move(w));
    return cache.back();
}

// Shared by both overloads; xAt(i) yields the i-th abscissa.
template <class XAt>
float Irregularity(const float* e, int count, XAt xAt)
{
    if (!e || count < 2)
        return 0.0f;
    float se = 0.0f, se2 = 0.0f, sx = 0.0f, sx2 = 0.0f, sxe = 0.0f;
    for (int i = 0; i < count; ++i) {
        const float x = xAt(i);
        se += e[i];
        se2 += e[i] * e[i];
        sx += x;
        sx2 += x * x;
        sxe += x * e[i];
    }
    if (se == 0.0f)
        return 0.0f;
    // Each line is evaluated as the formula reads, left to right.
    const float n = static_cast<float>(count);
    const float sxx = sx2 - sx * sx / n;
    const float sxy = sxe - sx * se / n;
    float rss = se2 - se * se / n;
    if (sxx > 0.0f)
        rss = rss - sxy * sxy / sxx;
    if (!(rss > 0.0f))
        return 0.0f;
    return std::sqrt(n * rss) / se;
}

} // namespace

void ApplyWindow(double* a, int n)
{
    if (!a || n <= 0)
        return;
    const std::vector<double>& w = WindowFor(n);
    for (int i = 0; i < n; ++i)
        a[i] *= w[i];
}

std::vector<double> WindowTable(int n)
{
    if (n <= 0)
        return {};
    return WindowFor(n);
}

float SpectralIrregularity(const float* e, const float* x, int count)
{
    if (!x)
        return 0.0f;
    return Irregularity(e, count, [x](int i) { return x[i]; });
}

float SpectralIrregularity(const float* e, int count, float xStart, float xStep)
{
    return Irregularity(e, count, [=](int i) { return xStart + static_cast<float>(i) * xStep; });
}

} // namespace kelvane
