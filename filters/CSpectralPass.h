#pragma once
// The hiss filter's spectral pass: short-time Fourier processing of the
// working file in place. Frames of N = 512 (up to 48 kHz) or 1024 frames,
// hop N/2, each windowed by 1 - cos, transformed, given the gains of
// CHissGain on bins 0..255 (at 1024 points everything above bin 255 is
// cleared, so nothing above a quarter of the rate survives), transformed
// back and divided by the window again. With m = N/8 the frames are then
// cross-faded by weights 0 on [0, m), rising over [m, 3m), 1 on [3m, 5m),
// falling over [5m, 7m) and 0 on [7m, 8m), which sum to 1 where two frames
// overlap; the ends of a frame, where dividing by a window near 0 would
// blow the rounding up, never count. So the first m frames of the range
// come out as 0 and the next 2m fade in.
//
// The pass runs on the chunk driver at the file's full precision, reading
// half a frame ahead of each chunk; frames at or past the range's end read
// as silence. Each weighted sum is truncated toward zero as it is added and
// clamped to the sample width when written.

#include "document/CChunkedPass.h"
#include "filters/CHissGain.h"
#include "spectral/CRealFft.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kelvane {

class CQuillon3Doc;

struct SpectralPassSpec {
    int32_t strength = 0;  // 1..3
    std::string_view question = cancel::kFilterRemoved;
    // Chunk size in position units, rounded down to whole hops (at least one);
    // the output does not depend on it.
    int32_t chunkUnits = kSegmentBytes;
};

class CSpectralPass {
public:
    explicit CSpectralPass(CQuillon3Doc& doc);

    // Measures the lead-in profile again from its block (which must exist),
    // sets the status to "Processing Aborted", filters the marked block (or
    // the whole recording) and, once it completed, copies the trailer
    // behind the audio back from the source and sets "Ready to Save". A stop
    // records the chunk's start in scanCancelledAt. Failed: the profile could
    // not be measured or a file failed (the user was told).
    PassOutcome Run(const SpectralPassSpec& plan);

    // Where the pass stopped (the range's end when it completed).
    int32_t StoppedAt() const { return stoppedAt_; }

    void Prepare(const ProfileArray& left, const ProfileArray& right, int32_t strength, int n);

private:
    // One channel's windowed frame x[0..N) in; out, the filtered frame
    // divided by the window over [N/8, 7N/8), the part the cross-fade
    // weighs (the rest is left as the inverse transform gave it).
    void ProcessFrame(double* x, int channel);
    bool Chunk(PassChunk& chunk, int32_t first, int32_t last);
    bool CopyTrailer();
    double* Frame(int channel) { return frames_.data() + channel * (n_ + 8); }

    CQuillon3Doc& doc_;
    CHissGain gain_;
    CRealFft fft_;
    int n_ = 512;
    std::vector<double> window_;
    std::vector<double> rise_, fall_;  // the cross-fade's factors before the division by 2m
    std::vector<double> frames_;  // per channel, see Frame()
    // Per channel: the sums of the frames so far over the next hop, and the
    // newest frame's share of the hop after it (whole numbers, in doubles).
    std::array<std::vector<double>, 2> accumulator_;
    std::array<std::vector<double>, 2> tail_;
    int32_t stoppedAt_ = 0;
};

}  // namespace kelvane
