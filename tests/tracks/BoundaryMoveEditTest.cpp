// Taking a dragged boundary into the track table: the fade and silence
// lengths from the handles, the neighbour giving way (or meeting it when
// gapless), the markers back in order, and a move into the next track's
// space refused with the marker restored.

#include "tests/tracks/FinderTestDoc.h"
#include "tracks/BoundaryMove.h"
#include "tracks/TrackMarkers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvane {
namespace {

using tracktest::Bounds;
using tracktest::HandDoc;

constexpr int32_t S = 2352;

struct ThreeTracks {
    HandDoc h{1000};
    CQuillon3Doc& d = h.doc;
    ThreeTracks()
    {
        for (auto [s, e] : Bounds{{2 * S, 400 * S}, {410 * S, 800 * S}, {810 * S, 1200 * S}}) {
            TrackRecord r;
            r.start = s;
            r.end = e;
            d.tracks.Add(r);
        }
        h.AddCorrection(805 * S);  // in the gap between tracks 2 and 3
        RebuildTrackMarkers(d);
    }
    int32_t MarkerIndex(int32_t width) const
    {
        for (int32_t i = 1; i < d.events.Size() - 1; ++i)
            if (d.events[i].width == width) return i;
        return 0;
    }
    // What the view does while dragging: the marker follows the mouse.
    void Drag(int32_t width, int32_t pos)
    {
        d.selectedEvent = MarkerIndex(width);
        d.events[d.selectedEvent].pos = pos;
    }
    // The events' widths in list order (corrections show as 5).
    std::vector<int32_t> Widths() const
    {
        std::vector<int32_t> out;
        for (int32_t i = 1; i < d.events.Size() - 1; ++i) out.push_back(d.events[i].width);
        return out;
    }
};

TEST(BoundaryMove, StartTakesFadeAndSilenceFromTheHandles)
{
    ThreeTracks f;
    const int32_t h = 807 * S;
    f.Drag(-6, h);
    EXPECT_EQ(ApplyBoundaryMove(f.d, h, h + 3000, h - 800), EditOutcome::Done);
    EXPECT_EQ(f.d.tracks[3].start, h);
    EXPECT_EQ(f.d.tracks[3].fadeIn, 3000);
    EXPECT_EQ(f.d.tracks[3].preSilence, 800);
    EXPECT_EQ(f.d.tracks[2].end, 800 * S);  // already before the new start
    EXPECT_EQ(f.Widths(), (std::vector<int32_t>{-2, -3, -4, -5, 5, -6, -7}));
    EXPECT_EQ(f.d.events[f.d.selectedEvent], (EventRecord{1, 0, h, -6, 0}));
    EXPECT_TRUE(f.d.IsModified());
}

TEST(BoundaryMove, StartIntoThePreviousTrackPullsItsEndBack)
{
    ThreeTracks f;
    const int32_t h = 790 * S;
    f.Drag(-6, h);
    EXPECT_EQ(ApplyBoundaryMove(f.d, h, h, h), EditOutcome::Done);
    EXPECT_EQ(f.h.Bounds(), (Bounds{{2 * S, 400 * S}, {410 * S, h}, {h, 1200 * S}}));
    // Back to back: the end of track 2 comes first; the correction in the
    // old gap now lies inside track 3.
    EXPECT_EQ(f.Widths(), (std::vector<int32_t>{-2, -3, -4, -5, -6, 5, -7}));
    EXPECT_EQ(f.d.events[f.d.selectedEvent].width, -6);
    EXPECT_EQ(f.d.events[f.d.selectedEvent - 1], (EventRecord{1, 0, h, -5, 0}));
}

TEST(BoundaryMove, GaplessStartMeetsThePreviousEnd)
{
    ThreeTracks f;
    f.d.gapless = 1;
    const int32_t h = 807 * S;
    f.Drag(-6, h);
    EXPECT_EQ(ApplyBoundaryMove(f.d, h, h, h), EditOutcome::Done);
    EXPECT_EQ(f.h.Bounds(), (Bounds{{2 * S, 400 * S}, {410 * S, h}, {h, 1200 * S}}));
    EXPECT_EQ(f.Widths(), (std::vector<int32_t>{-2, -3, -4, 5, -5, -6, -7}));
}

TEST(BoundaryMove, EndPushesTheNextStartOrMeetsItWhenGapless)
{
    {
        ThreeTracks f;
        const int32_t h = 820 * S;
        f.Drag(-5, h);
        EXPECT_EQ(ApplyBoundaryMove(f.d, h, h - 5000, h + 700), EditOutcome::Done);
        EXPECT_EQ(f.d.tracks[2].fadeOut, 5000);
        EXPECT_EQ(f.d.tracks[2].postSilence, 700);
        EXPECT_EQ(f.h.Bounds(), (Bounds{{2 * S, 400 * S}, {410 * S, h}, {h, 1200 * S}}));
        EXPECT_EQ(f.Widths(), (std::vector<int32_t>{-2, -3, -4, 5, -5, -6, -7}));
        EXPECT_EQ(f.d.events[f.d.selectedEvent].width, -5);
    }
    {
        ThreeTracks f;  // not far enough to reach the next track
        f.Drag(-5, 803 * S);
        EXPECT_EQ(ApplyBoundaryMove(f.d, 803 * S, 803 * S, 803 * S), EditOutcome::Done);
        EXPECT_EQ(f.d.tracks[3].start, 810 * S);
    }
    {
        ThreeTracks f;
        f.d.gapless = 1;
        f.Drag(-5, 803 * S);
        EXPECT_EQ(ApplyBoundaryMove(f.d, 803 * S, 803 * S, 803 * S), EditOutcome::Done);
        EXPECT_EQ(f.d.tracks[3].start, 803 * S);
        EXPECT_EQ(f.Widths(), (std::vector<int32_t>{-2, -3, -4, -5, -6, 5, -7}));
    }
}

TEST(BoundaryMove, MoveIntoAdjacentTrackSpaceIsRefusedAndRestored)
{
    struct Case {
        int32_t width;
        int32_t pos;
        bool allowed;
    };
    const int32_t dataStart = 44;
    const std::vector<Case> cases = {
        {-6, 410 * S, false},     // onto the start of track 2
        {-6, 410 * S + 4, true},
        {-6, 1200 * S, false},    // onto its own end
        {-5, 1200 * S, false},    // onto the end of track 3
        {-5, 1200 * S - 4, true},
        {-5, 410 * S, false},     // onto its own start
        {-2, dataStart - 1, false},
        {-2, dataStart, true},    // the first frame
        {-7, 4096000 + 44, true}, // the recording's end
        {-7, 4096000 + 45, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " to " << c.pos);
        ThreeTracks f;
        const Bounds before = f.h.Bounds();
        const std::vector<EventRecord> events(f.d.events.begin(), f.d.events.end());
        const int32_t index = f.MarkerIndex(c.width);
        f.Drag(c.width, c.pos);
        if (!c.allowed)
            f.h.ui.Expect({trackedit::kBoundaryMoveFailed, MbAnswer::Ok, std::nullopt, MbButtons::Ok,
                           MbIcon::Warning});
        EXPECT_EQ(ApplyBoundaryMove(f.d, c.pos, c.pos, c.pos), c.allowed ? EditOutcome::Done : EditOutcome::Refused);
        if (c.allowed) continue;
        EXPECT_EQ(f.h.Bounds(), before);
        EXPECT_EQ(std::vector<EventRecord>(f.d.events.begin(), f.d.events.end()), events);
        EXPECT_EQ(f.d.selectedEvent, index);
        EXPECT_FALSE(f.d.IsModified());
    }
}

TEST(BoundaryMove, OnlyAMarkerCanBeMoved)
{
    ThreeTracks f;
    f.d.selectedEvent = f.MarkerIndex(-5) + 1;  // the correction
    EXPECT_EQ(ApplyBoundaryMove(f.d, 805 * S, 0, 0), EditOutcome::NotApplicable);
    f.d.selectedEvent = -1;
    EXPECT_EQ(ApplyBoundaryMove(f.d, 805 * S, 0, 0), EditOutcome::NotApplicable);
    EXPECT_FALSE(f.d.IsModified());
}

}  // namespace
}  // namespace kelvane
