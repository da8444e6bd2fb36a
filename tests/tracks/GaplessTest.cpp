// Gapless boundaries: the search and the menu command share a gap out in
// opposite roundings; the command asks first and keeps the selection.

#include "tests/tracks/FinderTestDoc.h"
#include "tracks/CTrackFinder.h"
#include "tracks/Gapless.h"
#include "tracks/TrackMarkers.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

using tracktest::Bounds;
using tracktest::HandDoc;

constexpr int32_t S = 2352;

void ThreeTracks(CQuillon3Doc& d)
{
    d.tracks.SetSize(1);
    // Gaps of 3 sectors and of 10 sectors (+ 5 units off the grid).
    for (auto [s, e] : Bounds{{4704, 100 * S}, {103 * S, 200 * S}, {210 * S + 5, 300 * S}}) {
        TrackRecord r;
        r.start = s;
        r.end = e;
        d.tracks.Add(r);
    }
}

TEST(Gapless, SearchAndCommandRoundThreeSectorGapsToDifferentSectors)
{
    HandDoc search(1000);
    ThreeTracks(search.doc);
    AlignGaplessAfterSearch(search.doc);
    EXPECT_EQ(search.Bounds(), (Bounds{{4704, 101 * S}, {101 * S, 205 * S}, {205 * S, 300 * S}}));

    HandDoc command(1000);
    ThreeTracks(command.doc);
    AlignGapless(command.doc);
    EXPECT_EQ(command.Bounds(), (Bounds{{4704, 102 * S}, {102 * S, 205 * S + 5}, {205 * S + 5, 300 * S}}));
}

TEST(Gapless, SearchWithTheFlagOnSharesEachGap)
{
    const std::vector<tracktest::Span> music = {{100, 700, 5000}, {900, 1500, 5000}, {1700, 2300, 5000}};
    HandDoc plain(2400);
    plain.Levels(music);
    FindTracks(plain.doc, 0, false);
    const Bounds apart = plain.Bounds();
    ASSERT_EQ(apart.size(), 3u);

    HandDoc h(2400);
    h.doc.gapless = 1;
    h.Levels(music);
    FindTracks(h.doc, 0, false);
    const Bounds joined = h.Bounds();
    ASSERT_EQ(joined.size(), 3u);
    EXPECT_EQ(joined.front().first, apart.front().first);
    EXPECT_EQ(joined.back().second, apart.back().second);
    for (size_t t = 0; t + 1 < joined.size(); ++t) {
        const int32_t gap = apart[t + 1].first - apart[t].second;
        EXPECT_EQ(joined[t].second, apart[t].second + gap / (2 * S) * S);
        EXPECT_EQ(joined[t + 1].first, joined[t].second);
    }
    // Markers: the end of one track, then the start of the next.
    ASSERT_EQ(h.doc.events.Size(), 8);
    EXPECT_EQ(h.doc.events[2].width, event::TrackEndMarker(1));
    EXPECT_EQ(h.doc.events[3].width, event::TrackStartMarker(2));
    EXPECT_EQ(h.doc.events[3].pos, joined[1].first);
}

struct ToggleFixture : ::testing::Test {
    HandDoc h{1000};
    CQuillon3Doc& d = h.doc;
    void SetUp() override
    {
        ThreeTracks(d);
        h.AddCorrection(150 * S);
        h.AddCorrection(103 * S);  // at track 2's start, moves with nothing
        RebuildTrackMarkers(d);
    }
};

TEST_F(ToggleFixture, NoLeavesEverythingAsItWas)
{
    const Bounds before = h.Bounds();
    h.ui.Expect({kGaplessQuestion, MbAnswer::No, std::string(kAppCaption), MbButtons::YesNo, MbIcon::Question});
    EXPECT_FALSE(ToggleGapless(d));
    EXPECT_EQ(d.gapless, 0);
    EXPECT_EQ(h.Bounds(), before);
}

TEST_F(ToggleFixture, YesAlignsAndKeepsASelectedCorrection)
{
    const int32_t at = FindEventAt(d, 103 * S);
    ASSERT_EQ(d.events[at].width, event::TrackStartMarker(2));
    d.selectedEvent = at + 1;  // the correction sharing the marker's position
    const EventRecord selected = d.events[at + 1];
    ASSERT_TRUE(selected.IsCorrection());

    h.ui.Expect(kGaplessQuestion, MbAnswer::Yes);
    EXPECT_TRUE(ToggleGapless(d));
    EXPECT_EQ(d.gapless, 1);
    EXPECT_EQ(d.tracks[2].start, 102 * S);
    EXPECT_EQ(d.events[d.selectedEvent], selected);
    EXPECT_FALSE(h.settings.Has(kSectionMain, "Gapless"));  // the stored setting is not touched

    // Off again: no question, no boundary moves.
    const Bounds aligned = h.Bounds();
    EXPECT_TRUE(ToggleGapless(d));
    EXPECT_EQ(d.gapless, 0);
    EXPECT_EQ(h.Bounds(), aligned);
}

TEST_F(ToggleFixture, SelectedMarkerIsSelectedAgainByIndex)
{
    // Track 2's start moves from 103 to 102 sectors, leaving the correction
    // at 103 behind: a look-up by position would find that correction.
    const int32_t at = FindEventAt(d, 103 * S);
    ASSERT_EQ(d.events[at].width, event::TrackStartMarker(2));
    d.selectedEvent = at;
    AlignGapless(d);
    EXPECT_EQ(d.selectedEvent, at);
    EXPECT_EQ(d.events[at].width, event::TrackStartMarker(2));
    EXPECT_EQ(d.events[at].pos, 102 * S);
}

}  // namespace
}  // namespace kelvane
