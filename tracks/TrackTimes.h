#pragma once
// Times of positions as the track lists show them.

#include <cstdint>
#include <string>

namespace kelvane {

// "m:ss.mmm" of a frame count at a sample rate.
std::string FormatMinutes(int64_t frames, int32_t sampleRate);

}  // namespace kelvane
