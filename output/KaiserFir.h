#pragma once
// Windowed-sinc low-pass filters for the sample-rate converter. The window is
// Kaiser's, whose one parameter trades main-lobe width for side-lobe level;
// both the parameter and the length follow from the stopband attenuation
// wanted, by Kaiser's empirical formulas.

#include <cstdint>
#include <vector>

namespace kelvane {

// The modified Bessel function of the first kind, order zero. Accurate to a
// few units in the last place for |x| up to about 700 (beyond that it
// overflows a double anyway).
double BesselI0(double x);

// Kaiser's window parameter for a stopband attenuation of aa dB.
double KaiserBeta(double aa);

// Kaiser's length rule: a filter of N taps at rate fs has a transition band
// of about fs * KaiserLengthFactor(aa) / (N - 1).
double KaiserLengthFactor(double aa);

// The stopband attenuation every filter of the converter is built for.
inline constexpr double kResampleAttenuationDb = 170.0;

// A linear-phase low-pass of `taps` taps (odd) at rate `rate`: the ideal
// response with its edge at cutoffHz, times the Kaiser window of parameter
// beta, normalised so that the taps add up to gain.
std::vector<double> KaiserLowpass(int64_t taps, double cutoffHz, double rate, double beta, double gain);

}  // namespace kelvane
