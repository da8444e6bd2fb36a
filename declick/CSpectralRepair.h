#pragma once
// The spectral reconstruction behind every long correction: the tonal
// content of the music just before a click decides which few bins survive,
// and three rounds of "band-limit the window, put the known samples back"
// fill the gap around the click with what those partials predict.
//
// One object serves every correction of a pass: the transform tables, the
// frame and the magnitude table are made once for the largest window and
// reused, so a reconstruction allocates nothing. Not thread-safe.

#include "spectral/CRealFft.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvane {

class CSpectralRepair {
public:
    static constexpr int kMaxLength = 1024;  // the window at 88.2 and 96 kHz
    static constexpr int kMinLength = 512;   // the peak bins need at least 256 bins
    static constexpr int kPeakBins = 255;    // peaks are sought among bins 0..254
    static constexpr int kMaxPeaks = 24;
    // The half-gap that marks the widest corrections: their first estimate
    // keeps the DC/Nyquist pair only.
    static constexpr int kWideGap = 200;
    // The reconstruction stays this far inside the 16-bit range, so the
    // cross-fades built on it can never wrap.
    static constexpr float kHighest = 32762.0f;
    static constexpr float kLowest = -32763.0f;

    CSpectralRepair();

    // Reconstructs one channel.
    //   analysis: n samples, `stride` int16 values apart (one channel of
    //             interleaved frames), that end some way before the click:
    //             they choose the peaks.
    //   window:   n samples at the same stride, sample n/2 being the click's
    //             frame; samples outside the gap are the known ones.
    //   n:        512 or 1024 (any power of two in [kMinLength, kMaxLength]).
    //   halfGap:  b, 1 <= b <= n/2: the gap is window samples n/2-b .. n/2+b-2.
    //   out:      n values, clamped to [kLowest, kHighest]. Caller-owned.
    // Arguments outside those ranges are a programming error: the call does
    // nothing (out is left as it was).
    void Run(const int16_t* analysis, const int16_t* window, int stride, int n, int halfGap, float* out);

    // The peak bins chosen by the last Run, strongest first.
    int PeakCount() const { return peakCount_; }
    int Peak(int i) const { return peaks_[static_cast<std::size_t>(i)]; }

private:
    void ChoosePeaks(const int16_t* analysis, int stride, int n);
    // Adds peaks [first, last) (0-based, in strength order) to the mask.
    void AddPeaks(int first, int last);
    // Forward transform, every bin outside the mask cleared, inverse.
    void BandLimit(int n);
    void PutBackKnown(const int16_t* window, int stride, int n, int halfGap);

    CRealFft fft_;
    std::vector<double> frame_;
    std::array<double, kPeakBins> magnitude_{};
    std::array<int, kMaxPeaks> peaks_{};
    int peakCount_ = 0;
    // The bins kept by BandLimit, with room for their values while the rest
    // of the frame is cleared.
    std::array<int, kMaxPeaks + 1> maskBins_{};
    std::array<double, 2 * (kMaxPeaks + 1)> kept_{};
    int maskCount_ = 0;
};

}  // namespace kelvane
