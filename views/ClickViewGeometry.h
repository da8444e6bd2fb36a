#pragma once
// What the waveform view computes before it paints or acts, in numbers: the
// mapping between positions and pixels, the stretch of each file (or the
// range of envelope blocks) a repaint needs, the per-column extremes of a
// trace, the level graph at a track boundary, the colours of the schemes,
// and the mouse and key arithmetic (width drag, boundary drop, arrow keys,
// double click, hit tests). Plain C++ over the document: no widget, no
// painting, nothing written.
//
// Positions are position units (4 per frame); x is in pixels of the view's
// client area; S is frames per 50-pixel division.

#include "document/EventRecord.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

class CQuillon3Doc;

namespace clickview {

// The centre of the view shows `current`; 50 pixels are S frames.
struct Mapping {
    int32_t current = 0;
    int width = 0;
    int32_t S = 50;
    int32_t dataStart = 0;
    int32_t dataEnd = 0;

    // x = W/2 + (p - current) x 12.5 / S.
    double X(int64_t pos) const;
    // The frame at x (rounded down to the frame grid), clamped to the data.
    int32_t Position(double x) const;
    // Position units that one pixel spans.
    double UnitsPerPixel() const { return 4.0 * S / 50.0; }
};

// What a repaint reads for the traces: at close zoom the frames [first,
// last) of both files (never more than the visible stretch, within the
// data); beyond kLastSampleScale the envelope blocks [first, last).
struct TracePlan {
    bool envelope = false;
    int32_t first = 0;
    int32_t last = 0;
    bool Empty() const { return last <= first; }
    // Frames (samples plan) or blocks (envelope plan).
    int64_t Count() const { return envelope ? last - first : (last - first) / 4; }
};
TracePlan PlanTraces(const Mapping& m, size_t envelopeBlocks);

// One pixel column of a trace: the smallest and largest value drawn in it
// (16-bit sample units); empty when nothing falls in it.
struct Column {
    int32_t lo = 0;
    int32_t hi = 0;
    bool any = false;
};
// The extremes per column of each channel of `count` interleaved 16-bit
// frames starting at position `first`. With merge the columns already there
// are widened (a stretch read in pieces).
void SampleColumns(const int16_t* frames, int64_t count, int32_t first, const Mapping& m, std::vector<Column>& left,
                   std::vector<Column>& right, bool merge = false);
// The same from the block envelope (values stored divided by 256) over the
// plan's blocks: each column spans the blocks it covers.
void EnvelopeColumns(const std::vector<std::array<int8_t, 4>>& envelope, const TracePlan& plan, int channel,
                     const Mapping& m, std::vector<Column>& out);

// y of a value v on a trace centred at `centre`: centre - v x 1.6 / V.
inline double TraceY(double centre, int32_t v, int32_t verticalScale) { return centre - v * 1.6 / verticalScale; }
// The smallest V at which a peak stays inside its trace's room: half the
// trace separation (half the height when the traces lie on each other),
// less 2 pixels.
int32_t AutoVerticalScale(int32_t peak, int traceSeparation, int height);

// The level graph at a track boundary, per pixel column: the height of the
// block activity (max(0, 40 log10(max(activity, 1)) - 200) pixels) and the
// track the column lies in (0: outside every track).
struct LevelColumn {
    int height = 0;
    int32_t track = 0;
};
std::vector<LevelColumn> LevelGraph(const CQuillon3Doc& doc, const Mapping& m);
int LevelHeight(int32_t activity);

// --- colours --------------------------------------------------------------

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};
struct Scheme {
    Rgb background, adjustBackground, grid, ticks, boundary, fill;
    Rgb levelPens[2];
};
// 0 Classic, 1 White, 2 Grey (others read as Classic).
const Scheme& SchemeColours(int scheme);
inline constexpr Rgb kOutsideData{128, 128, 128};
inline constexpr Rgb kUncorrected{0, 0, 255};
inline constexpr Rgb kCorrectedLeft{0, 192, 0};
inline constexpr Rgb kCorrectedRight{192, 0, 0};
inline constexpr Rgb kLabelBack{80, 80, 160};

// --- the current record's marker and the mouse ------------------------------

// Half the width in pixels of a correction's marker:
// ((width / 4 mod 128) x 25 + 25) / S.
int MarkerHalfWidth(int32_t width, int32_t S);
// Less than 4 pixels from the edge at distance halfWidth from centreX.
bool NearEdge(double x, double centreX, int halfWidth);
// The width a drag d pixels from the marker's centre gives at scale S:
// 4 x floor(2 d S / 50), or 300 from floor(...) = 75 on; the channel bits of
// oldWidth are kept.
int32_t DragWidth(double d, int32_t S, int32_t oldWidth);
// Where a boundary dropped at pos goes: down to the sector grid of the file
// (dataAlign + a multiple of 2352).
int32_t BoundaryDrop(int32_t pos, int32_t dataAlign);

// Where the sound of the boundary's track starts (start marker) or ends (end
// marker), searching the block activity from the boundary into the track and
// no further than `limit` units; the boundary itself when it is loud already.
int32_t SoundEdge(const CQuillon3Doc& doc, const EventRecord& marker, int32_t limit);

enum class BlockPart { Outside, StartEdge, EndEdge, Middle, Inside };
// Which part of the block [x0, x1] the mouse is on: an end within 4 pixels,
// the middle more than 4 pixels inside both ends.
BlockPart HitBlock(double x, double x0, double x1);

// A block dragged by its middle (both ends move by delta, the length kept
// inside the data) or by one end (that end follows, the ends never cross).
struct BlockRange {
    int32_t start = 0;
    int32_t end = 0;
};
BlockRange MoveBlock(BlockRange block, int32_t delta, int32_t dataStart, int32_t dataEnd);
BlockRange ResizeBlock(BlockRange block, BlockPart end, int32_t pos);

// --- the horizontal scroll bar ----------------------------------------------

// The scroll bar's range over the data, in frames: its value is the frame at
// the view's centre counted from the data start (0 .. the data's frames, as
// the centre never leaves the data), its page the frames the view shows.
struct ScrollRange {
    int32_t maximum = 0;
    int32_t page = 1;
    int32_t step = 1;  // one division, what an arrow key moves
    int32_t value = 0;
};
ScrollRange ScrollFor(const Mapping& m);
// The position a scroll bar value puts at the centre: on the frame grid,
// inside the data.
int32_t ScrollPosition(const Mapping& m, int64_t value);

// --- keys and the double click ----------------------------------------------

// Where an arrow key takes the cursor from `from` (dir -1 or +1) by `frames`:
// a position, or, when not playing and the move would pass a track
// boundary, that boundary's index in the event list (the first one met).
struct ArrowMove {
    int32_t marker = 0;  // index of the boundary to select; 0: none
    int32_t pos = 0;     // the cursor's new position when no marker
};
ArrowMove ArrowTarget(const CQuillon3Doc& doc, int32_t from, int dir, int64_t frames, bool playing);
// The frames an arrow key moves: S, with Shift (W / 100) x S; in the adjust
// mode 1, Shift S, Ctrl (W / 100) x S.
int64_t ArrowFrames(int32_t S, int width, bool adjusting, bool shift, bool ctrl);

// What a double click at pos does: make a correction or a boundary current
// (its index), or put the cursor there, or nothing (a beep, outside the data).
struct DoubleClick {
    enum Kind { Correction, Boundary, Cursor, Beep } kind = Beep;
    int32_t index = 0;
    int32_t pos = 0;
};
// A correction within S position units of the click, else the nearest
// boundary within S units after it, else the click itself inside the data.
DoubleClick DoubleClickTarget(const CQuillon3Doc& doc, int32_t pos, int32_t S, bool inData);

// --- labels -------------------------------------------------------------------

// "Track %d" or "Tr.%d:%s " with the title; " Track %d " in the boundary
// view; a title "???" counts as none.
std::string TrackLabel(int32_t track, const std::string& title, bool boundaryView);

}  // namespace clickview
}  // namespace kelvane
