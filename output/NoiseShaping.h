#pragma once
// Requantisation with error-feedback noise shaping for the sample-rate
// converter. Each output sample is y = round(x + s + n), clipped, where n is
// the dither and s = sum_k h[k] e[-1-k] feeds back the channel's previous
// errors e = y - (x + s). The total error y - x then has the spectrum of the
// error e filtered by 1 + sum_k h[k] z^-(k+1): the coefficient sets push it
// to where the ear is least sensitive.

#include "output/Dither.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvane {

// Terhardt's approximation of the absolute threshold of hearing, in dB SPL:
// 3.64 f^-0.8 - 6.5 exp(-0.6 (f - 3.3)^2) + 0.001 f^4, f in kHz.
double AthTerhardtDb(double hz);

// The error-feedback coefficients of order `order` for rate Hz whose noise
// follows the threshold of hearing, held within depthDb of its lowest point.
// See NoiseShaping.cpp for how they are made.
std::vector<double> DesignAthShaping(double rate, int order, double depthDb);

// The sets the converter uses, designed once on first use: for the target
// rates 48000 (16 coefficients), 44100 (20), 37800 (16), 32000 (16) and 22050
// (15); gentler sets for less added noise at 48000 (16) and 44100 (15); and
// the one-coefficient set that turns rectangular dither triangular, whose
// error is the first difference e[n] - e[n-1]. Null where a rate has no set.
const std::vector<double>* AthShapingSet(int rate);
const std::vector<double>* ReducedAthShapingSet(int rate);
const std::vector<double>& TriangularShapingSet();

// The depth of the threshold curve each kind of set follows.
inline constexpr double kAthShapingDepthDb = 30.0;
inline constexpr double kReducedShapingDepthDb = 15.0;

// Turns samples in units of the output's least significant bit into integers
// of `bits` bits (8, 16 or 24), interleaved over `channels`. Without noise it
// only rounds (half away from zero) and clips; with noise but no shaping it
// dithers; with both it shapes. The noise table is read across all channels
// in sample order.
class CRequantiser {
public:
    CRequantiser(int bits, int channels, CDitherNoise* noise, const std::vector<double>* shaping);
    void Run(const double* in, size_t samples, int32_t* out);
    int32_t Lowest() const { return lowest_; }
    int32_t Highest() const { return highest_; }

private:
    int32_t Clip(double v) const
    {
        if (v >= highest_) return highest_;
        return v > lowest_ ? static_cast<int32_t>(v) : lowest_;
    }

    int channels_;
    int32_t lowest_;
    int32_t highest_;
    CDitherNoise* noise_;
    std::vector<double> shaping_;
    // Per channel the newest errors first, order entries each.
    std::vector<double> errors_;
    int channel_ = 0;
    double errorLimit_ = 0.0;
};

}  // namespace kelvane
