#include "output/NoiseShaping.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <numbers>

namespace kelvane {

double AthTerhardtDb(double hz)
{
    const double f = std::max(hz, 1.0) / 1000.0;
    return 3.64 * std::pow(f, -0.8) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) + 1e-3 * f * f * f * f;
}

// How a set is made. The noise the loop leaves has the power spectrum of the
// white requantisation error times |A(f)|^2, A(z) = 1 + sum_k h[k] z^-(k+1),
// and we want that to follow the threshold of hearing T(f): the noise as far
// below audibility everywhere as it can be. A monic minimum-phase A of given
// order with |A|^2 proportional to T is what linear prediction finds for a
// signal whose spectrum is 1/T: the prediction-error filter whitens that
// signal, so |A|^2 ~ sigma^2 T. Hence:
//
//  1. T(f) is Terhardt's curve on 4096 points spread evenly over 0 .. rate/2,
//     clamped to [min, min + depth] dB. Unclamped, the curve's climb to well
//     over 100 dB near 20 kHz and below 50 Hz would ask for a filter with
//     enormous gain there, putting most of the loop's swing into bands that
//     then clip; the depth decides how hard the noise is pushed.
//  2. The autocorrelation of 1/T for lags 0 .. order is its cosine transform.
//  3. Levinson-Durbin recursion gives the predictor a[1..order]; h[k] = a[k+1].
//
// Levinson-Durbin on a positive definite autocorrelation yields a
// minimum-phase A, so the loop is stable, and by the Gerzon-Craven theorem
// the logarithmic mean of |A|^2 over the band is then 0 dB: shaping lowers the
// noise in the ear's most sensitive region (2 to 5 kHz) by as much as it
// raises it near the Nyquist frequency, on a logarithmic scale.
std::vector<double> DesignAthShaping(double rate, int order, double depthDb)
{
    constexpr int kPoints = 4096;
    std::vector<double> db(kPoints);
    for (int i = 0; i < kPoints; ++i) db[static_cast<size_t>(i)] = AthTerhardtDb((i + 0.5) * rate / 2.0 / kPoints);
    const double lowest = *std::min_element(db.begin(), db.end());
    std::vector<double> inverse(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        const double t = std::clamp(db[static_cast<size_t>(i)], lowest, lowest + depthDb) - lowest;
        inverse[static_cast<size_t>(i)] = std::pow(10.0, -t / 10.0);
    }
    std::vector<double> r(static_cast<size_t>(order + 1));
    for (int k = 0; k <= order; ++k) {
        double sum = 0.0;
        for (int i = 0; i < kPoints; ++i)
            sum += inverse[static_cast<size_t>(i)] * std::cos(std::numbers::pi * (i + 0.5) * k / kPoints);
        r[static_cast<size_t>(k)] = sum / kPoints;
    }

    std::vector<double> a(static_cast<size_t>(order + 1), 0.0);
    std::vector<double> previous(a.size());
    a[0] = 1.0;
    double error = r[0];
    for (int m = 1; m <= order; ++m) {
        double acc = r[static_cast<size_t>(m)];
        for (int j = 1; j < m; ++j) acc += a[static_cast<size_t>(j)] * r[static_cast<size_t>(m - j)];
        const double k = -acc / error;
        previous = a;
        for (int j = 1; j < m; ++j) a[static_cast<size_t>(j)] = previous[static_cast<size_t>(j)] + k * previous[static_cast<size_t>(m - j)];
        a[static_cast<size_t>(m)] = k;
        error *= 1.0 - k * k;
    }
    return std::vector<double>(a.begin() + 1, a.end());
}

namespace {

struct ShapingSets {
    std::map<int, std::vector<double>> full;
    std::map<int, std::vector<double>> reduced;
    std::vector<double> triangular{-1.0};

    ShapingSets()
    {
        for (auto [rate, order] : {std::pair{48000, 16}, {44100, 20}, {37800, 16}, {32000, 16}, {22050, 15}})
            full[rate] = DesignAthShaping(rate, order, kAthShapingDepthDb);
        for (auto [rate, order] : {std::pair{48000, 16}, {44100, 15}})
            reduced[rate] = DesignAthShaping(rate, order, kReducedShapingDepthDb);
    }
};

const ShapingSets& Sets()
{
    static const ShapingSets sets;
    return sets;
}

const std::vector<double>* Find(const std::map<int, std::vector<double>>& sets, int rate)
{
    auto it = sets.find(rate);
    return it == sets.end() ? nullptr : &it->second;
}

}  // namespace

const std::vector<double>* AthShapingSet(int rate) { return Find(Sets().full, rate); }
const std::vector<double>* ReducedAthShapingSet(int rate) { return Find(Sets().reduced, rate); }
const std::vector<double>& TriangularShapingSet() { return Sets().triangular; }

CRequantiser::CRequantiser(int bits, int channels, CDitherNoise* noise, const std::vector<double>* shaping)
    : channels_(std::max(channels, 1)), noise_(noise)
{
    highest_ = bits <= 8 ? 127 : bits <= 16 ? 32767 : 8388607;
    lowest_ = -highest_ - 1;
    if (noise_ && shaping) shaping_ = *shaping;
    errors_.assign(static_cast<size_t>(channels_) * shaping_.size(), 0.0);
    // An unclipped sample's error is at most half a step plus the dither. A
    // clipped one's can be huge, and fed back through the shaping filter it
    // would drive the following samples into clipping in turn; it is held to
    // what an unclipped sample could have had.
    errorLimit_ = 0.5 + (noise_ ? noise_->Peak() : 0.0);
}

void CRequantiser::Run(const double* in, size_t samples, int32_t* out)
{
    const size_t order = shaping_.size();
    if (!noise_) {
        for (size_t i = 0; i < samples; ++i) out[i] = Clip(std::round(in[i]));
        return;
    }
    if (order == 0) {
        for (size_t i = 0; i < samples; ++i) out[i] = Clip(std::round(in[i] + noise_->Next()));
        return;
    }
    const double* h = shaping_.data();
    for (size_t i = 0; i < samples; ++i) {
        double* e = errors_.data() + static_cast<size_t>(channel_) * order;
        double s = 0.0;
        for (size_t k = 0; k < order; ++k) s += h[k] * e[k];
        const double wanted = in[i] + s;
        const int32_t y = Clip(std::round(wanted + noise_->Next()));
        std::memmove(e + 1, e, (order - 1) * sizeof(double));
        e[0] = std::clamp(y - wanted, -errorLimit_, errorLimit_);
        out[i] = y;
        if (++channel_ == channels_) channel_ = 0;
    }
}

}  // namespace kelvane
