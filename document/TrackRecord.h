#pragma once
// One element of the track table. Element 0 is the whole recording.

#include <cstdint>
#include <string>

namespace kelvane {

struct TrackRecord {
    int32_t fadeIn = 0;       // lengths in position units
    int32_t fadeOut = 0;
    int32_t preSilence = 0;
    int32_t postSilence = 0;
    int32_t start = 0;        // the track is [start, end) in positions
    int32_t end = 0;
    std::string title;
    std::string artist;
    std::string album;
    std::string genre;
};

}  // namespace kelvane
