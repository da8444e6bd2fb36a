#pragma once
// The waveform view's horizontal scale: which entry of the rate's tables is
// in use, how far it may go, and the label the display bar shows for it.
// Plain C++, so the rules are checked without a window.
//
// S is the scale in frames per 50-pixel division.

#include <cstdint>
#include <span>
#include <string>

namespace kelvane {

class CQuillon3Doc;

namespace clickview {

inline constexpr int kPixelsPerDivision = 50;
// Above this many frames per division the traces come from the block
// envelope: reading the samples would cost more than the picture shows.
inline constexpr int32_t kLastSampleScale = 49999;
// From this scale on the correction edges are no handles (too narrow to hit)
// and the adjust mode asks to zoom in first.
inline constexpr int32_t kAdjustScaleLimit = 1000;
// The entry the adjust question sets: 100 frames per division.
inline constexpr int kAdjustScaleIndex = 5;
// However short the recording, zooming out reaches at least this entry.
inline constexpr int kLowestTopIndex = 3;

enum class ScaleMode { Wave, Track };

// The entries of the mode's table that can be chosen: 1..20 of the full
// table (Wave) or 1..7 of the coarse one (Track); entry 0 is never chosen.
int TopIndex(ScaleMode mode);
// The mode's table as the document holds it for its rate.
std::span<const int32_t> ScaleTable(const CQuillon3Doc& doc, ScaleMode mode);
// Frames per division of `index` (clamped into the table); 50 for an empty
// table, the view's first scale before a recording is loaded.
int32_t FramesPerDivision(std::span<const int32_t> table, int index);

// The highest index whose visible stretch (viewWidth / 50 divisions) still
// fits into dataFrames frames, never below kLowestTopIndex nor above top.
int HighestIndex(std::span<const int32_t> table, int top, int64_t dataFrames, int viewWidth);
// index limited to 1 .. highest.
int ClampIndex(int index, int highest);

// The display bar's label and value for S: "H Smp/Div" and S below a tenth
// of a second, "H Sec/Div" with "%.1f" seconds below a minute, "H Min/Div"
// with "%.1f" minutes beyond.
struct ScaleLabel {
    std::string unit;
    std::string value;
};
ScaleLabel LabelFor(int32_t framesPerDivision, int32_t sampleRate);

}  // namespace clickview
}  // namespace kelvane
