#pragma once
// Measuring converted audio against the tones that went in: the amplitude
// of sinusoids of known frequency, fitted by least squares, and what is left
// when they are taken out. Used by the resampler's tests and benchmark.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvane::test {

struct ToneFit {
    std::vector<double> amplitudes;  // peak amplitude of each tone asked for
    double residualRms = 0.0;        // RMS of the signal less the fitted tones and DC
};

// Fits DC plus a sine and a cosine at each frequency (Hz, at `rate`) to
// x[0..n) jointly. For frequencies that are whole multiples of rate / n the
// columns are orthogonal and the fit is exact to rounding.
ToneFit FitTones(const double* x, size_t n, double rate, const std::vector<double>& hz);

// 20 log10(value / reference); -400 for 0.
double Db(double value, double reference);

// THD+N of the first tone of a fit, in dB: the residual against the tone's RMS.
double ThdPlusNoiseDb(const ToneFit& fit);

// A sine of peak `amplitude` (in full-scale units, 1 = full scale) at hz,
// `frames` frames at rate, as integer samples of `bits` bits (full scale
// 2^(bits-1) - 1), `channels` channels alike, interleaved.
std::vector<int32_t> ToneSamples(const std::vector<double>& hz, double amplitude, size_t frames, int rate, int bits,
                             int channels);

}  // namespace kelvane::test
