#pragma once
// The noise profiles of one recording: where the stretches of pure noise
// lie and their average bin magnitudes, as the hiss filter uses them. The
// lead-in profile is the one every spectral pass subtracts; the lead-out
// profile is only captured and kept.

#include <array>
#include <cstdint>

namespace kelvane {

// Bins 0..255 carry the profiles and the gains, whatever the frame length.
inline constexpr int kProfileBins = 256;

using ProfileArray = std::array<int32_t, kProfileBins>;

// A [start, end) pair of positions; start 0 means none.
struct ProfileBlock {
    int32_t start = 0;
    int32_t end = 0;
    bool Exists() const { return start != 0; }
};

struct NoiseProfiles {
    ProfileBlock leadIn;
    ProfileBlock leadOut;
    // Average magnitudes per bin, truncated; as last measured.
    ProfileArray leadInLeft{}, leadInRight{};
    ProfileArray leadOutLeft{}, leadOutRight{};
};

}  // namespace kelvane
