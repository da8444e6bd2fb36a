#pragma once
// The real FFT every analysis pass shares. The frame is transformed in place
// and the spectrum packed into the frame's own storage:
//
//   a[0]          DC term (real)
//   a[1]          Nyquist term, bin N/2 (real)
//   a[2k], a[2k+1] real and imaginary part of bin k, 1 <= k < N/2
//
// with a[2k] = sum_j x[j] cos(2 pi j k / N) and a[2k+1] = sum_j x[j] sin(2 pi j k / N)
// (note the plus sign on the sine: the imaginary parts are the negatives of the
// textbook e^{-i...} convention; magnitudes are unaffected).
//
// An object keeps its tables between calls, so it is meant to live as long as
// the pass that uses it. It is not safe to use one object from two threads at
// once; give each worker its own.

#include <cstdint>
#include <vector>

namespace kelvane {

class CRealFft {
public:
    static constexpr int kMinSize = 8;
    // The sample-rate converter's long filter (65535 taps and more) is
    // applied through transforms of 131072 points and up.
    static constexpr int kMaxSize = 1 << 18;

    // True for a power of two in [kMinSize, kMaxSize].
    static bool IsValidSize(int n);

    // Builds the tables for every size up to n, so that later calls with any
    // size <= n neither allocate nor compute trigonometry. Forward/Inverse do
    // this on demand; calling it up front only moves the one-time cost. The
    // tables take about 48 bytes per sample of the largest size (96 KB for
    // 2048). Throws std::invalid_argument for a size IsValidSize rejects.
    void Reserve(int n);

    // In-place forward transform of the n time samples in a[0..n-1] into the
    // packed spectrum described above. The caller owns a.
    // Throws std::invalid_argument (leaving a untouched) if n is not a valid
    // size or a is null.
    void Forward(double* a, int n);

    // Undoes Forward: takes the packed spectrum and returns the n time samples,
    // already scaled by 2/n so that Forward followed by Inverse gives back the
    // input (to rounding). Same ownership and errors as Forward.
    void Inverse(double* a, int n);

    // Magnitude of bin k of a packed spectrum, 0 <= k < n/2. For k = 0 the
    // packing puts DC and Nyquist in one pair, so this returns
    // sqrt(DC^2 + Nyquist^2), which is what callers comparing pairs want.
    static double Magnitude(const double* a, int k);

private:
    // Four doubles on a 32-byte boundary: the unit the kernels load and store.
    struct alignas(32) Quad {
        double v[4];
    };

    void Grow(int n);
    void Transform(double* a, int n, bool inverse);

    int maxN_ = 0;
    // Bit reversal of log2(maxN_/2) bits; a smaller size shifts the entries.
    std::vector<int32_t> bitReverse_;
    // Radix-4 stage twiddles for every span the sizes up to maxN_ need.
    std::vector<Quad> stageTwiddles_;
    std::vector<int> stageOffset_;  // by log2 of the span, in Quads
    // Twiddles of the real/complex split, one block per size.
    std::vector<Quad> splitTwiddles_;
    std::vector<int> splitOffset_;  // by log2 of the size, in Quads
    std::vector<Quad> scratch_;
};

} // namespace kelvane
