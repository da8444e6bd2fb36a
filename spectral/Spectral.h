#pragma once
// Spectral helpers shared by the analysis passes: the analysis window applied
// before CRealFft, and the irregularity measure of a run of bin magnitudes.

#include <vector>

namespace kelvane {

// Multiplies a[i] by 1 - cos(2 pi i / n) for 0 <= i < n: a raised cosine that
// starts at 0, peaks at 2 in the middle and is not normalised, so spectra keep
// the level the thresholds downstream were set for. The window is computed
// once per size and per thread, then reused. Does nothing if a is null or
// n <= 0.
void ApplyWindow(double* a, int n);

// The values ApplyWindow multiplies by, for a caller that divides the window
// out again after the inverse transform. Empty for n <= 0.
std::vector<double> WindowTable(int n);

// How far count magnitudes e[0..count-1] stray from the straight line that
// best fits them against the abscissae x[0..count-1]:
//
//   U = sqrt(count * RSS) / sum(e)
//
// where RSS is the residual sum of squares of the least-squares line. A flat
// or evenly sloping spectrum gives 0; isolated peaks give large values. The
// result is independent of the magnitudes' overall scale.
//
// Everything is single precision and summed in index order, so results are
// reproducible to the bit. A silent run (sum(e) == 0) counts as smooth and
// gives 0, as do count < 2 and null pointers. If all x are equal no line can
// be fitted and the spread about the mean is used instead. Rounding can leave
// RSS a hair below zero for a perfectly straight run; that counts as 0.
float SpectralIrregularity(const float* e, const float* x, int count);

// The same with evenly spaced abscissae x[i] = xStart + i * xStep (in float),
// the usual case: the bin numbers themselves, or a multiple of them.
float SpectralIrregularity(const float* e, int count, float xStart, float xStep);

} // namespace kelvane
