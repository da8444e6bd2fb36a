#pragma once
// What the track strip draws, in numbers: the height of a block's level bar,
// the colour of a track or an event tick, the height of the signature line.
// Plain C++, so the strip's rules are checked without painting.

#include <cstdint>

namespace kelvane {

struct EventRecord;

namespace strip {

inline constexpr int kBarBottom = 92;     // every level bar reaches down to here
inline constexpr int kTickTop = 100;
inline constexpr int kTickBottom = 115;
inline constexpr int kCursorBottom = 150;
inline constexpr int kBarTop = 5;         // the control bar's band at the top right
inline constexpr int kBarBandBottom = 45;

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kBackground{32, 32, 32};
inline constexpr Rgb kAllTracks{128, 128, 128};

// The top of a block's bar: 320 - max(230, 40 log10(max(level, 1))). A
// quiet block's bar is 2 pixels high.
int BarTop(int32_t level);
// Pink for odd tracks, light blue for even ones, grey for the whole side.
Rgb TrackColour(int32_t track);
// The tick of an event by its colour class; markers (class 0) are white.
Rgb TickColour(const EventRecord& record);
// The signature line's height for a segment with `corrections` corrections.
int SignatureY(int32_t corrections);

// The strip's horizontal mapping: [first, last) positions over `width`
// pixels.
struct Scale {
    int32_t first = 0, last = 0;
    int width = 1;
    double UnitsPerPixel() const;
    int X(int32_t pos) const;
    int32_t Position(int x) const;
};

}  // namespace strip
}  // namespace kelvane
