#pragma once
// One entry of the event list: a correction or a track-boundary marker.
// Five signed 32-bit values in a fixed order, because reports and stored
// lists exchange them as such.

#include <cstdint>

namespace kelvane {

struct EventRecord {
    int32_t pass = 1;      // generation tag of the scan that made it; markers carry 1
    int32_t reserved = 0;  // unused, 0 when built from scratch
    int32_t pos = 0;       // frame position (position units)
    int32_t width = 0;     // >= 0: correction width code and channel bits; < 0: marker
    int32_t mag = 0;       // >= 0: click magnitude; < 0: kinds below

    bool IsMarker() const { return width < 0; }
    bool IsCorrection() const { return width >= 0; }
    bool operator==(const EventRecord&) const = default;
};

namespace event {
inline constexpr int32_t kWidthCodeMask = 0x1FF;
inline constexpr int32_t kLeftUncorrected = 0x1000;
inline constexpr int32_t kRightUncorrected = 0x2000;

inline constexpr int32_t kMagEdited = -2;
inline constexpr int32_t kMagInserted = -3;
inline constexpr int32_t kMagAdjusting = -4;
inline constexpr int32_t kMagCursor = -6;

// Frames replaced by a correction of the given width code.
inline constexpr int32_t ReplacementFrames(int32_t width)
{
    int32_t code = width & kWidthCodeMask;
    return ((code * 3) >> 3) * 2 + 2;
}

// Marker widths: -2t starts track t, -(2t + 1) ends it.
inline constexpr int32_t TrackStartMarker(int32_t track) { return -2 * track; }
inline constexpr int32_t TrackEndMarker(int32_t track) { return -(2 * track + 1); }
inline constexpr int32_t MarkerTrack(int32_t width) { return (-width) / 2; }
inline constexpr bool MarkerIsStart(int32_t width) { return (-width) % 2 == 0; }
}  // namespace event

}  // namespace kelvane
