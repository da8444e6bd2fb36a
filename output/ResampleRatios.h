#pragma once
// Which rate pairs the sample-rate converter handles, and the shape of the
// two filter stages it builds for a pair. Pure arithmetic, kept apart from
// the streaming so that the table can be checked on its own.
//
// Up-sampling: a short polyphase filter (designed at the common multiple L of
// the two rates) brings the source to fs1 = osf x target, a long filter at
// fs1 cuts everything above the source's Nyquist frequency, and every osf-th
// sample is kept. Down-sampling: the source is padded to fs1 = osf x source
// with zeros, the long filter cuts at the target's Nyquist frequency, and the
// short polyphase filter takes fs1 down to the target. The oversampling factor
// keeps the short filter's transition band wide, and so the filter short,
// while the long one, applied by FFT, does the sharp cut.

#include <cstdint>
#include <optional>
#include <string>

namespace kelvane {

struct ResamplePlan {
    int source = 0;
    int target = 0;
    bool equal = false;  // only the bit depth changes
    bool up = false;
    int64_t g = 0;       // gcd(source, target)
    int64_t r = 0;       // source / g up, target / g down
    int osf = 1;         // oversampling factor: 1, 2 or 3
    int64_t fs1 = 0;     // the intermediate rate
    int64_t lcm = 0;     // L, the rate the short filter is designed at

    // The short filter at rate L: shortTaps taps (odd) with its edge at
    // shortCutoff Hz. A down-sampling plan with osf 1 has no filter there, only
    // a step of source / target samples (shortTaps 1, unit coefficient).
    int64_t shortTaps = 0;
    double shortCutoff = 0;

    // The long filter at fs1: longTaps taps with its edge at longCutoff Hz and
    // a realised transition width of longTransition Hz, applied through
    // transforms of fftSize points; its taps add up to longGain (osf when the
    // zeros put in for oversampling have to be made up for).
    int64_t longTaps = 0;
    double longCutoff = 0;
    double longTransition = 0;
    int fftSize = 0;
    double longGain = 1.0;
};

// The user's texts for a pair the converter cannot do.
inline constexpr const char* kRatioNotSupported = "Resampling from %dHz to %dHz is not supported.\n";
inline constexpr const char* kRatioMustDivide = "%d/gcd(%d,%d)=%d must be divided by 2 or 3.\n";

// The plan for converting from source to target Hz, or nothing with the
// message for the user in *message: the two lines above for a ratio without
// a suitable oversampling factor, the first line alone for rates that are not
// positive or so far apart in their prime factors that the short filter
// would not fit in memory.
std::optional<ResamplePlan> PlanResampling(int source, int target, std::string* message);

}  // namespace kelvane
