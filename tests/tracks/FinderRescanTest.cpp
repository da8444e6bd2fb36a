// "Re-Scan for Tracks" and the finder's hook at the end of the load pass.

#include "tests/support/RecordingProgress.h"
#include "tests/tracks/FinderTestDoc.h"
#include "tracks/CTrackFinder.h"
#include "tracks/RescanTracks.h"
#include "tracks/TrackMarkers.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kelvane {
namespace {

using tracktest::Bounds;
using tracktest::HandDoc;
using Mode = RescanTracksRequest::Mode;

struct RescanFixture : ::testing::Test {
    HandDoc h{tracktest::kFourThenSixBlocks};
    CQuillon3Doc& d = h.doc;
    void SetUp() override
    {
        tracktest::FourThenSix(h);
        h.AddCorrection(3000000, 9, 55);
        h.AddCorrection(9000000, 9, 66);
        FindTracks(d, 0, false);
        ASSERT_EQ(d.TrackCount(), 4);
        d.SetModifiedFlag(false);
    }
    RescanTracksRequest Request(Mode mode, int32_t target = 2, bool gapless = false)
    {
        RescanTracksRequest r;
        r.mode = mode;
        r.targetCount = target;
        r.gapless = gapless;
        return r;
    }
};

TEST_F(RescanFixture, UserAssistedSearchesForTheCountAndStoresGapless)
{
    d.currentTrack = 3;
    h.ui.Expect("The target number of tracks could not be found", MbAnswer::Ok);
    RescanTracks(d, Request(Mode::UserAssisted, 5, true));
    h.ui.ExpectDone();
    EXPECT_EQ(d.TrackCount(), 6);
    EXPECT_EQ(d.gapless, 1);
    EXPECT_EQ(h.settings.Get(settings::Gapless), 1);
    EXPECT_EQ(d.currentTrack, 0);
    EXPECT_TRUE(d.IsModified());
    for (int32_t t = 1; t < d.TrackCount(); ++t) EXPECT_EQ(d.tracks[t].end, d.tracks[t + 1].start);
}

TEST_F(RescanFixture, RemoveAllLeavesOneTrackAndTheCorrections)
{
    d.tracks[0].artist = "Band";
    RescanTracks(d, Request(Mode::RemoveAll));
    EXPECT_EQ(h.Bounds(), (Bounds{{4704, d.dataEnd}}));
    EXPECT_EQ(d.tracks[1].artist, "Band");
    EXPECT_EQ(d.tracks[1].title, "side");
    ASSERT_EQ(d.events.Size(), 6);
    EXPECT_EQ(d.events[1].width, event::TrackStartMarker(1));
    EXPECT_EQ(d.events[2].pos, 3000000);
    EXPECT_EQ(d.events[3].pos, 9000000);
    EXPECT_EQ(d.events[4].width, event::TrackEndMarker(1));
    EXPECT_TRUE(d.IsModified());
    EXPECT_EQ(h.settings.Get(settings::Gapless), 0);
    EXPECT_TRUE(h.ui.Messages().empty());
}

TEST_F(RescanFixture, SelectionIsFoundAgainByPosition)
{
    d.selectedEvent = FindEventAt(d, 9000000);
    const EventRecord correction = d.events[d.selectedEvent];
    ASSERT_EQ(correction.mag, 66);
    RescanTracks(d, Request(Mode::AutoDetect));
    ASSERT_GT(d.selectedEvent, 0);
    EXPECT_EQ(d.events[d.selectedEvent], correction);

    // A correction where the one track will start stays selected, though
    // the start marker comes before it.
    h.AddCorrection(4704, 3, 77);
    d.selectedEvent = FindEventAt(d, 4704);
    const EventRecord atStart = d.events[d.selectedEvent];
    ASSERT_EQ(atStart.mag, 77);
    RescanTracks(d, Request(Mode::RemoveAll));
    ASSERT_EQ(d.events[1].width, event::TrackStartMarker(1));
    EXPECT_EQ(d.selectedEvent, 2);
    EXPECT_EQ(d.events[2], atStart);

    // A correction still being adjusted gives way to the cursor at its place.
    d.selectedEvent = FindEventAt(d, 9000000);
    d.events[d.selectedEvent].mag = event::kMagAdjusting;
    RescanTracks(d, Request(Mode::AutoDetect));
    EXPECT_EQ(d.selectedEvent, -1);
    EXPECT_EQ(d.cursorEvent.pos, 9000000);
}

TEST_F(RescanFixture, AutoDetectWarnsWhenUnreliable)
{
    std::fill(d.blockLevel.begin(), d.blockLevel.end(), 0);
    h.ui.Expect("The track search was unreliable", MbAnswer::Ok);
    RescanTracks(d, Request(Mode::AutoDetect));
    h.ui.ExpectDone();
    EXPECT_EQ(d.TrackCount(), 1);
}

TEST_F(RescanFixture, RefusedRequestsChangeNothing)
{
    const Bounds before = h.Bounds();
    EXPECT_THROW(RescanTracks(d, Request(Mode::UserAssisted, 31, true)), std::invalid_argument);
    EXPECT_THROW(RescanTracks(d, Request(Mode::UserAssisted, 1, true)), std::invalid_argument);
    d.blockLevel.resize(10);
    EXPECT_THROW(RescanTracks(d, Request(Mode::AutoDetect, 2, true)), std::out_of_range);
    EXPECT_EQ(h.Bounds(), before);
    EXPECT_EQ(d.gapless, 0);
    EXPECT_FALSE(h.settings.Has(kSectionMain, "Gapless"));
    EXPECT_FALSE(d.IsModified());
}

TEST(FinderAfterLoad, ReportsTheCountInTheProgressWindowWithoutAsking)
{
    HandDoc h(tracktest::kFourThenSixBlocks);
    tracktest::FourThenSix(h);
    test::RecordingProgress progress;
    h.doc.progress = &progress;
    RunTrackFinderAfterLoad(h.doc);
    EXPECT_EQ(h.doc.TrackCount(), 4);
    EXPECT_EQ(progress.Log()->messages, (std::vector<std::string>{"Tracks Found = 4"}));

    // Nothing to divide: one track, no question about reliability.
    HandDoc silent(2000);
    silent.doc.progress = &progress;
    RunTrackFinderAfterLoad(silent.doc);
    EXPECT_EQ(silent.doc.TrackCount(), 1);
    EXPECT_EQ(progress.Log()->messages.back(), "No tracks were found");
    EXPECT_TRUE(silent.ui.Messages().empty());

    HandDoc alone(2000);
    RunTrackFinderAfterLoad(alone.doc);  // no progress window
    EXPECT_EQ(alone.doc.TrackCount(), 1);
}

}  // namespace
}  // namespace kelvane
