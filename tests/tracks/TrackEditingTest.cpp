// Splitting and merging tracks by hand: the one-second limit, the halves'
// fields, the markers renumbered in place, merges by marker and by block
// (widened when the block covers nearly everything), and reading the table
// back from the markers.

#include "tests/tracks/FinderTestDoc.h"
#include "tracks/BlockMerge.h"
#include "tracks/SectorGrid.h"
#include "tracks/TrackEditing.h"
#include "tracks/TrackMarkers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvane {
namespace {

using tracktest::Bounds;
using tracktest::HandDoc;

constexpr int32_t S = 2352;  // one sector; the hand documents have dataAlign 0

// Four tracks with gaps of ten sectors, plus corrections in tracks 2 and 4.
struct FourTracks {
    HandDoc h{1000};
    CQuillon3Doc& d = h.doc;
    FourTracks()
    {
        d.tracks[0].album = "LP";
        int32_t t = 1;
        for (auto [s, e] : Bounds{{2 * S, 400 * S}, {410 * S, 800 * S}, {810 * S, 1200 * S}, {1210 * S, 1600 * S}}) {
            TrackRecord r;
            r.start = s;
            r.end = e;
            r.fadeIn = 10 * t;
            r.fadeOut = 20 * t;
            r.preSilence = 30 * t;
            r.postSilence = 40 * t;
            r.title = "Song " + std::to_string(t);
            r.artist = "Band";
            r.album = "LP";
            r.genre = "Folk";
            d.tracks.Add(r);
            ++t;
        }
        h.AddCorrection(600 * S);
        h.AddCorrection(1300 * S);
        RebuildTrackMarkers(d);
    }
    std::vector<int32_t> MarkerWidths() const
    {
        std::vector<int32_t> out;
        for (int32_t i = 1; i < d.events.Size() - 1; ++i)
            if (d.events[i].IsMarker()) out.push_back(d.events[i].width);
        return out;
    }
    int32_t MarkerIndex(int32_t width) const
    {
        for (int32_t i = 1; i < d.events.Size() - 1; ++i)
            if (d.events[i].width == width) return i;
        return 0;
    }
    // Every marker sits where the table says, and the list is in order.
    void ExpectConsistent() const
    {
        for (int32_t i = 1; i < d.events.Size() - 1; ++i) {
            const EventRecord& e = d.events[i];
            EXPECT_LE(d.events[i - 1].pos, e.pos) << "event " << i;
            if (!e.IsMarker()) continue;
            const TrackRecord& r = d.tracks[event::MarkerTrack(e.width)];
            EXPECT_EQ(e.pos, event::MarkerIsStart(e.width) ? r.start : r.end) << "marker " << e.width;
        }
    }
};

// --- split ----------------------------------------------------------------

TEST(SplitTrack, OneSecondFromEitherEdgeIsTheLimit)
{
    struct Case {
        int32_t position;
        bool allowed;
    };
    // Track 2 runs from 410 to 800 sectors; 176400 units are 75 sectors.
    const std::vector<Case> cases = {
        {485 * S, true},          // exactly one second after the start
        {484 * S, false},         // one sector less
        {485 * S - 1, false},     // just below the grid point: snapped to 484
        {484 * S + S - 1, false}, // off the grid, snapped down to 484
        {485 * S + S - 1, true},  // snapped down to 485
        {725 * S, true},          // exactly one second before the end
        {726 * S, false},
        {405 * S, false},         // in the gap: the track before it ends earlier
        {S, false},               // before track 1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        FourTracks f;
        if (!c.allowed)
            f.h.ui.Expect({trackedit::kSplitTooClose, MbAnswer::Ok, std::string(kAppCaption), MbButtons::Ok,
                           std::nullopt});
        const EditOutcome got = SplitTrack(f.d, c.position);
        EXPECT_EQ(got, c.allowed ? EditOutcome::Done : EditOutcome::Refused);
        EXPECT_EQ(f.d.TrackCount(), c.allowed ? 5 : 4);
        EXPECT_EQ(f.d.IsModified(), c.allowed);
        if (c.allowed) {
            EXPECT_EQ(f.d.tracks[3].start, SnapToSector(f.d, c.position));
        }
        f.ExpectConsistent();
    }
}

TEST(SplitTrack, HalvesShareTheFieldsAndLaterMarkersAreRenumbered)
{
    FourTracks f;
    f.h.AddCorrection(600 * S);  // a second correction exactly at the split point
    ASSERT_EQ(f.MarkerWidths(), (std::vector<int32_t>{-2, -3, -4, -5, -6, -7, -8, -9}));

    ASSERT_EQ(SplitTrack(f.d, 600 * S + 100), EditOutcome::Done);

    ASSERT_EQ(f.d.TrackCount(), 5);
    const TrackRecord& first = f.d.tracks[2];
    const TrackRecord& second = f.d.tracks[3];
    EXPECT_EQ(first.start, 410 * S);
    EXPECT_EQ(first.end, 600 * S);
    EXPECT_EQ(first.fadeIn, 20);
    EXPECT_EQ(first.preSilence, 60);
    EXPECT_EQ(first.fadeOut, 0);
    EXPECT_EQ(first.postSilence, 0);
    EXPECT_EQ(first.title, "Song 2");
    EXPECT_EQ(first.genre, "Folk");

    EXPECT_EQ(second.start, 600 * S);
    EXPECT_EQ(second.end, 800 * S);
    EXPECT_EQ(second.fadeIn, 0);
    EXPECT_EQ(second.preSilence, 0);
    EXPECT_EQ(second.fadeOut, 40);
    EXPECT_EQ(second.postSilence, 80);
    EXPECT_EQ(second.title, "???");  // emptied, then given the default title
    EXPECT_EQ(second.artist, "Band");
    EXPECT_EQ(f.d.tracks[4].title, "Song 3");

    // The old markers of tracks 3 and 4 now name tracks 4 and 5.
    EXPECT_EQ(f.MarkerWidths(), (std::vector<int32_t>{-2, -3, -4, -5, -6, -7, -8, -9, -10, -11}));
    f.ExpectConsistent();

    // The new pair comes in front of both corrections at the split point,
    // and the first of them is selected.
    const int32_t at = f.d.selectedEvent;
    ASSERT_GT(at, 0);
    EXPECT_EQ(f.d.events[at], (EventRecord{1, 0, 600 * S, -5, 0}));
    EXPECT_EQ(f.d.events[at + 1], (EventRecord{1, 0, 600 * S, -6, 0}));
    EXPECT_TRUE(f.d.events[at + 2].IsCorrection());
    EXPECT_TRUE(f.d.events[at + 3].IsCorrection());
    EXPECT_EQ(f.d.ClickCount(), 3);
    EXPECT_TRUE(f.d.IsModified());
}

TEST(SplitTrack, WithoutTracksOrWithABlockThereIsNothingToSplit)
{
    HandDoc h(100);
    EXPECT_EQ(SplitTrack(h.doc, 50 * S), EditOutcome::NotApplicable);
    EXPECT_EQ(h.doc.events.Size(), 2);

    FourTracks f;
    const int32_t tracks = f.d.TrackCount();
    f.d.blockStart = f.d.tracks[2].start;
    f.d.blockEnd = f.d.tracks[2].end;
    EXPECT_EQ(SplitTrack(f.d, (f.d.tracks[2].start + f.d.tracks[2].end) / 2), EditOutcome::NotApplicable);
    EXPECT_EQ(f.d.TrackCount(), tracks);
}

// --- merge ----------------------------------------------------------------

TEST(MergeTracks, FirstTakesTheEndOfLastAndAChosenTrackFollows)
{
    FourTracks f;
    f.d.currentTrack = 4;
    f.d.selectedEvent = f.MarkerIndex(-8) + 1;  // the correction in track 4
    const EventRecord selected = f.d.events[f.d.selectedEvent];

    EXPECT_TRUE(MergeTracks(f.d, 1, 3));

    EXPECT_EQ(f.h.Bounds(), (Bounds{{2 * S, 1200 * S}, {1210 * S, 1600 * S}}));
    const TrackRecord& merged = f.d.tracks[1];
    EXPECT_EQ(merged.fadeIn, 10);
    EXPECT_EQ(merged.preSilence, 30);
    EXPECT_EQ(merged.fadeOut, 60);
    EXPECT_EQ(merged.postSilence, 120);
    EXPECT_EQ(merged.title, "Song 1");
    EXPECT_EQ(f.d.currentTrack, 1);
    EXPECT_EQ(f.MarkerWidths(), (std::vector<int32_t>{-2, -3, -4, -5}));
    f.ExpectConsistent();
    // The selection follows its event, not its old index.
    ASSERT_NE(f.d.CurrentEvent(), nullptr);
    EXPECT_EQ(*f.d.CurrentEvent(), selected);
    EXPECT_TRUE(f.d.IsModified());

    // "All Tracks" stays chosen.
    FourTracks g;
    EXPECT_TRUE(MergeTracks(g.d, 2, 3));
    EXPECT_EQ(g.d.currentTrack, 0);
}

TEST(MergeTracks, BadRangesAreRefusedWithoutChange)
{
    FourTracks f;
    const Bounds before = f.h.Bounds();
    EXPECT_THROW(MergeTracks(f.d, 0, 2), std::out_of_range);
    EXPECT_THROW(MergeTracks(f.d, 3, 5), std::out_of_range);
    EXPECT_THROW(MergeTracks(f.d, 3, 2), std::out_of_range);
    EXPECT_FALSE(MergeTracks(f.d, 2, 2));
    EXPECT_EQ(f.h.Bounds(), before);
    EXPECT_FALSE(f.d.IsModified());
}

TEST(MergeTracksCommand, EitherMarkerOfABoundaryNamesTheSameMerge)
{
    // The end of track 3 and the start of track 4 both merge 3 and 4.
    for (int32_t width : {-7, -8}) {
        SCOPED_TRACE(width);
        FourTracks f;
        f.d.selectedEvent = f.MarkerIndex(width);
        f.h.ui.Expect({"Track 4 will be permanently\nmerged with Track 3.\nReally Merge?", MbAnswer::Ok,
                       std::string(trackedit::kMergeCaption), MbButtons::OkCancel, std::nullopt});
        EXPECT_EQ(MergeTracksCommand(f.d), EditOutcome::Done);
        EXPECT_EQ(f.h.Bounds(), (Bounds{{2 * S, 400 * S}, {410 * S, 800 * S}, {810 * S, 1600 * S}}));
        EXPECT_EQ(f.d.selectedEvent, -1);
        EXPECT_EQ(f.d.cursorEvent.pos, 1200 * S);  // the old end of track 3
        f.ExpectConsistent();
    }
}

TEST(MergeTracksCommand, CancelAndUnsuitableEventsChangeNothing)
{
    FourTracks f;
    const Bounds before = f.h.Bounds();
    f.d.selectedEvent = f.MarkerIndex(-4);
    f.h.ui.Expect("Track 2 will be permanently\nmerged with Track 1.\nReally Merge?", MbAnswer::Cancel);
    EXPECT_EQ(MergeTracksCommand(f.d), EditOutcome::Cancelled);
    EXPECT_EQ(f.h.Bounds(), before);
    EXPECT_EQ(f.d.selectedEvent, f.MarkerIndex(-4));

    // No question for the outer boundaries, a correction, the cursor, or
    // while an adjustment runs.
    for (int32_t selected : {f.MarkerIndex(-2), f.MarkerIndex(-9), f.MarkerIndex(-4) + 1, -1, 0}) {
        f.d.selectedEvent = selected;
        EXPECT_EQ(MergeTracksCommand(f.d), EditOutcome::NotApplicable) << selected;
    }
    struct Adjusting : IDocObserver {
        bool IsAdjusting() const override { return true; }
    } adjusting;
    f.d.AddObserver(&adjusting);
    f.d.selectedEvent = f.MarkerIndex(-4);
    EXPECT_EQ(MergeTracksCommand(f.d), EditOutcome::NotApplicable);
    f.d.RemoveObserver(&adjusting);
    EXPECT_EQ(f.h.Bounds(), before);
    EXPECT_FALSE(f.d.IsModified());
}

// --- merge in block -------------------------------------------------------

TEST(MergeTracksInBlock, RangeWidensOnlyBelowTwoSecondsOutside)
{
    struct Case {
        int32_t blockStart, blockEnd;
        int32_t first, last;
        bool tooLong;
    };
    // 352800 units are 150 sectors.
    const std::vector<Case> cases = {
        {500 * S, 900 * S, 2, 3, false},     // plenty outside
        {420 * S, 1060 * S, 2, 3, false},    // exactly 150 sectors outside
        {420 * S, 1061 * S, 1, 3, false},    // 149: the previous track joins
        {10 * S, 390 * S, 1, 2, false},      // in track 1: the next one joins
        {400 * S, 500 * S, 1, 2, false},     // starts on track 1's end: still "in" it
        {405 * S, 500 * S, 2, 2, false},     // starts in the gap before track 2
        {405 * S, 700 * S, 1, 2, false},     // the gap counts against the margin
        {2 * S, 1599 * S, 1, 5, true},       // nothing left to widen into
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.blockStart / S << ".." << c.blockEnd / S);
        FourTracks f;
        const BlockMergeRange r = BlockMergeTracks(f.d, c.blockStart, c.blockEnd);
        EXPECT_EQ(r.first, c.first);
        EXPECT_EQ(r.last, c.last);
        EXPECT_EQ(r.tooLong, c.tooLong);
    }
}

TEST(MergeTracksInBlock, BlockCoveringTracksTwoAndThreeMergesOneToThree)
{
    FourTracks f;
    f.d.blockStart = 411 * S;
    f.d.blockEnd = 1199 * S;
    f.h.ui.Expect({"Tracks 1 to 3 will be permanently merged.\nContinue?", MbAnswer::Ok,
                   std::string(trackedit::kBlockMergeCaption), MbButtons::OkCancel, std::nullopt});
    // The command with a block is the block merge.
    EXPECT_EQ(MergeTracksCommand(f.d), EditOutcome::Done);
    EXPECT_EQ(f.h.Bounds(), (Bounds{{2 * S, 1200 * S}, {1210 * S, 1600 * S}}));
    EXPECT_TRUE(f.d.IsModified());
    f.ExpectConsistent();
}

TEST(MergeTracksInBlock, MessagesAndAnswers)
{
    {
        FourTracks f;
        f.d.blockStart = 500 * S;
        f.d.blockEnd = 900 * S;
        f.h.ui.Expect("Tracks 2 and 3 will be permanently merged.\nContinue?", MbAnswer::Cancel);
        EXPECT_EQ(MergeTracksInBlock(f.d), EditOutcome::Cancelled);
        EXPECT_EQ(f.d.TrackCount(), 4);
        EXPECT_FALSE(f.d.IsModified());

        f.h.ui.Expect("Tracks 2 and 3 will be permanently merged.\nContinue?", MbAnswer::Ok);
        EXPECT_EQ(MergeTracksInBlock(f.d), EditOutcome::Done);
        EXPECT_EQ(f.h.Bounds(), (Bounds{{2 * S, 400 * S}, {410 * S, 1200 * S}, {1210 * S, 1600 * S}}));
    }
    {
        FourTracks f;
        f.d.blockStart = 500 * S;
        f.d.blockEnd = 600 * S;
        f.h.ui.Expect({trackedit::kNoTracksToMerge, MbAnswer::Ok, std::string(trackedit::kBlockMergeCaption),
                       MbButtons::Ok, std::nullopt});
        EXPECT_EQ(MergeTracksInBlock(f.d), EditOutcome::Refused);
        EXPECT_EQ(f.d.TrackCount(), 4);
    }
    {
        FourTracks f;
        f.d.blockStart = 2 * S;
        f.d.blockEnd = 1599 * S;
        f.h.ui.Expect({trackedit::kBlockTooLong, MbAnswer::Ok, std::nullopt, MbButtons::Ok, std::nullopt});
        EXPECT_EQ(MergeTracksInBlock(f.d), EditOutcome::Refused);
        EXPECT_EQ(f.d.TrackCount(), 4);
        EXPECT_FALSE(f.d.IsModified());
    }
    {
        FourTracks f;  // no block
        EXPECT_EQ(MergeTracksInBlock(f.d), EditOutcome::NotApplicable);
    }
}

// --- reading the table back -----------------------------------------------

TEST(RebuildTracksFromMarkers, RoundTripsAndSnapsStrayMarkers)
{
    FourTracks f;
    // A recording end off the grid, which the last track ends on.
    f.d.dataEnd = 1600 * S + 44;
    f.d.tracks[4].end = f.d.dataEnd;
    RebuildTrackMarkers(f.d);
    const Bounds before = f.h.Bounds();
    f.d.selectedEvent = f.MarkerIndex(-4) + 1;  // the correction in track 2
    const EventRecord selected = f.d.events[f.d.selectedEvent];

    for (int32_t t = 1; t <= 4; ++t) f.d.tracks[t].start = f.d.tracks[t].end = 0;
    f.d.tracks[0].end = 0;
    RebuildTracksFromMarkers(f.d);
    EXPECT_EQ(f.h.Bounds(), before);
    EXPECT_EQ(f.d.tracks[0].start, f.d.dataStart);
    EXPECT_EQ(f.d.tracks[0].end, f.d.dataEnd);
    EXPECT_EQ(f.d.events[f.d.selectedEvent], selected);
    f.ExpectConsistent();

    // Markers off the grid go down to it; none goes below the first
    // allowed start.
    f.d.events[f.MarkerIndex(-4)].pos = 410 * S + 2000;
    f.d.events[f.MarkerIndex(-3)].pos = 400 * S + 1;
    f.d.events[f.MarkerIndex(-2)].pos = 0;
    RebuildTracksFromMarkers(f.d);
    EXPECT_EQ(f.d.tracks[1].start, FirstAllowedStart(f.d));
    EXPECT_EQ(f.d.tracks[1].end, 400 * S);
    EXPECT_EQ(f.d.tracks[2].start, 410 * S);
    EXPECT_EQ(f.d.tracks[4].end, f.d.dataEnd);
}

TEST(RebuildTracksFromMarkers, MarkerForAMissingTrackChangesNothing)
{
    FourTracks f;
    const Bounds before = f.h.Bounds();
    f.d.events[f.MarkerIndex(-9)].width = -11;  // "end of track 5"
    f.d.events[f.MarkerIndex(-2)].pos = 100 * S;
    EXPECT_THROW(RebuildTracksFromMarkers(f.d), std::out_of_range);
    EXPECT_EQ(f.h.Bounds(), before);
}

}  // namespace
}  // namespace kelvane
