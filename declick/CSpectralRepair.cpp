#include "CSpectralRepair.h"

#include <algorithm>

namespace kelvane {

CSpectralRepair::CSpectralRepair() : frame_(kMaxLength, 0.0)
{
    // Tables for the largest window now, so no correction ever pays for them.
    fft_.Reserve(kMaxLength);
}

void CSpectralRepair::ChoosePeaks(const int16_t* analysis, int stride, int n)
{
    // No window on purpose: the frame's edges are real music, and a taper
    // would smear the partials the mask is meant to isolate.
    double* a = frame_.data();
    for (int j = 0; j < n; ++j) a[j] = analysis[static_cast<std::ptrdiff_t>(j) * stride];
    fft_.Forward(a, n);
    for (int k = 0; k < kPeakBins; ++k) magnitude_[static_cast<std::size_t>(k)] = CRealFft::Magnitude(a, k);

    // Round by round, the strongest bin not yet taken; equal magnitudes go
    // to the lower bin. A round whose best is not above 5 % of the first
    // peak ends the search: every later round would find that same bin.
    std::array<bool, kPeakBins> taken{};
    peakCount_ = 0;
    double level = 0.0;
    for (int round = 0; round < kMaxPeaks; ++round) {
        int best = -1;
        double bestMagnitude = -1.0;
        for (int k = 0; k < kPeakBins; ++k) {
            if (!taken[static_cast<std::size_t>(k)] && magnitude_[static_cast<std::size_t>(k)] > bestMagnitude) {
                best = k;
                bestMagnitude = magnitude_[static_cast<std::size_t>(k)];
            }
        }
        if (round == 0) level = 0.05 * bestMagnitude;
        // A silent frame has a first peak of 0, which is not above 0 either:
        // no peaks at all.
        if (!(bestMagnitude > level)) break;
        taken[static_cast<std::size_t>(best)] = true;
        peaks_[static_cast<std::size_t>(peakCount_++)] = best;
    }
}

void CSpectralRepair::AddPeaks(int first, int last)
{
    for (int i = first; i < last && i < peakCount_; ++i) maskBins_[static_cast<std::size_t>(maskCount_++)] = peaks_[static_cast<std::size_t>(i)];
}

void CSpectralRepair::BandLimit(int n)
{
    double* a = frame_.data();
    fft_.Forward(a, n);
    // At most 25 bins survive, so saving them and clearing the whole frame
    // beats testing every bin. Bin 0 is the (DC, Nyquist) pair and is kept
    // whole. Everything at or above bin 255 is cleared, which at n = 1024
    // covers the upper half of the spectrum as well.
    for (int i = 0; i < maskCount_; ++i) {
        const int k = maskBins_[static_cast<std::size_t>(i)];
        kept_[static_cast<std::size_t>(2 * i)] = a[2 * k];
        kept_[static_cast<std::size_t>(2 * i + 1)] = a[2 * k + 1];
    }
    std::fill(a, a + n, 0.0);
    for (int i = 0; i < maskCount_; ++i) {
        const int k = maskBins_[static_cast<std::size_t>(i)];
        a[2 * k] = kept_[static_cast<std::size_t>(2 * i)];
        a[2 * k + 1] = kept_[static_cast<std::size_t>(2 * i + 1)];
    }
    fft_.Inverse(a, n);
}

void CSpectralRepair::PutBackKnown(const int16_t* window, int stride, int n, int halfGap)
{
    double* a = frame_.data();
    const int gapFirst = n / 2 - halfGap;     // first estimated sample
    const int knownAgain = n / 2 + halfGap - 1;  // first known sample after the gap
    for (int j = 0; j < gapFirst; ++j) a[j] = window[static_cast<std::ptrdiff_t>(j) * stride];
    for (int j = knownAgain; j < n; ++j) a[j] = window[static_cast<std::ptrdiff_t>(j) * stride];
}

void CSpectralRepair::Run(const int16_t* analysis, const int16_t* window, int stride, int n, int halfGap, float* out)
{
    if (!analysis || !window || !out || stride < 1 || n < kMinLength || n > kMaxLength || !CRealFft::IsValidSize(n) ||
        halfGap < 1 || halfGap > n / 2)
        return;

    ChoosePeaks(analysis, stride, n);

    maskCount_ = 0;
    maskBins_[static_cast<std::size_t>(maskCount_++)] = 0;
    // The widest corrections (the big clicks, corrected first) leave the two
    // strongest partials out of every round, not only the first: their first
    // estimate is shaped by the (DC, Nyquist) pair alone.
    if (halfGap != kWideGap) AddPeaks(0, 2);

    double* a = frame_.data();
    for (int j = 0; j < n; ++j) a[j] = window[static_cast<std::ptrdiff_t>(j) * stride];
    BandLimit(n);  // first estimate

    AddPeaks(2, 9);
    PutBackKnown(window, stride, n, halfGap);
    BandLimit(n);  // second estimate

    AddPeaks(9, kMaxPeaks);
    PutBackKnown(window, stride, n, halfGap);
    BandLimit(n);  // the result

    for (int j = 0; j < n; ++j) {
        float v = static_cast<float>(a[j]);
        if (v > kHighest) v = kHighest;
        if (v < kLowest) v = kLowest;
        out[j] = v;
    }
}

}  // namespace kelvane
