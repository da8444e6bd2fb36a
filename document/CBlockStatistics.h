#pragma once
// The per-block level statistics that the load pass gathers for the track
// finder and the track strip: for every 4096-unit block of the file, a level
// (sum of |L| + |R|, less the partial half-waves at the block's start) and
// the block's envelope (minimum and maximum of each channel / 256).
//
// Frames may arrive in pieces of any size; a block that straddles two pieces
// is completed when its last frame arrives (or at Finish).

#include <array>
#include <cstdint>
#include <vector>

namespace kelvane {

class CBlockStatistics {
public:
    CBlockStatistics(std::vector<int32_t>& level, std::vector<std::array<int8_t, 4>>& envelope)
        : level_(level), envelope_(envelope)
    {
    }

    // Adds `frames` interleaved 16-bit stereo frames whose first lies at
    // position `pos` (position units, 4 per frame). Frames must come in order.
    void Add(int32_t pos, const int16_t* frames, int32_t frameCount);
    // Completes the block in progress, if any.
    void Finish();

private:
    struct Channel {
        int32_t minimum = 0;
        int32_t maximum = 0;
        int sign = 0;      // 0: unknown, before the first value outside the dead zone
        int changes = 0;
        int32_t firstSum = 0;   // samples before the first sign change (the lead-in)
        int32_t secondSum = 0;  // samples between the first and second change
        // Follows the sign over n samples spaced two apart (one channel).
        void Follow(const int16_t* v, int64_t n);
    };

    void Complete();

    std::vector<int32_t>& level_;
    std::vector<std::array<int8_t, 4>>& envelope_;
    int64_t block_ = -1;  // block in progress, -1 none
    int32_t sum_ = 0;
    Channel left_, right_;
};

}  // namespace kelvane
