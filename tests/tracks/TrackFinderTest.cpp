// The track finder's passes and its search over the threshold ladder, on
// block level tables made by hand so that every boundary can be worked out
// on paper. Music at level 30 against a threshold of 28 is detected on its
// third block (the envelope rises 10 per block) and released on its first
// silent block (9/10 of 30 is 27), so starts and ends fall on known blocks:
// a start is 80 sectors before the sector holding the detecting block's
// offset, an end 40 sectors after the sector of the first quiet block.

#include "tests/tracks/FinderTestDoc.h"
#include "tracks/CTrackFinder.h"
#include "tracks/SectorGrid.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kelvane {
namespace {

using tracktest::Bounds;
using tracktest::HandDoc;

constexpr int32_t S = 2352;

TEST(TrackFinderLadder, ThresholdsAndMinimumLengths)
{
    const std::pair<int32_t, int32_t> ladder[] = {{0, 20},   {2, 21},   {10, 28},  {20, 40},  {30, 56},  {40, 80},
                                                  {50, 113}, {60, 160}, {70, 226}, {80, 320}, {90, 452}, {180, 10240}};
    for (auto [n, s] : ladder) EXPECT_EQ(CTrackFinder::Threshold(n), s) << "step " << n;

    EXPECT_EQ(CTrackFinder::MinimumTrackLength(44100, 16), 2000000);
    EXPECT_EQ(CTrackFinder::MinimumTrackLength(48000, 16), 2000000);
    EXPECT_EQ(CTrackFinder::MinimumTrackLength(88200, 16), 4000000);
    EXPECT_EQ(CTrackFinder::MinimumTrackLength(96000, 16), 4000000);
    EXPECT_EQ(CTrackFinder::MinimumTrackLength(44100, 24), 3000000);
    EXPECT_EQ(CTrackFinder::MinimumTrackLength(48000, 24), 3000000);
    EXPECT_EQ(CTrackFinder::MinimumTrackLength(96000, 24), 6000000);
}

TEST(TrackFinderGrid, AnchoredAtTheStartOfTheFile)
{
    HandDoc h(10, 44100, 16, 46);
    EXPECT_EQ(SnapToSector(h.doc, 46), 2);
    EXPECT_EQ(SnapToSector(h.doc, 2352 * 7 + 2351), 2 + 2352 * 7);
    EXPECT_EQ(FirstAllowedStart(h.doc), 2 + 4704);
    h.doc.dataStart = 5000;  // a header longer than two sectors
    EXPECT_EQ(FirstAllowedStart(h.doc), 2 + 2352 * 2 + 4704);
}

TEST(TrackFinderPass, TwoPiecesGiveTwoTracksOnTheSectorGrid)
{
    HandDoc h(1600);
    TrackRecord& whole = h.doc.tracks[0];
    whole.title = "Side A";
    whole.genre = "Jazz";
    whole.fadeIn = 99;
    h.Levels({{100, 700, 30}, {900, 1500, 30}});
    EXPECT_EQ(CTrackFinder(h.doc).RunPass(28), 2);
    // New tracks take the recording's texts, but none of its lengths.
    EXPECT_EQ(h.doc.tracks[2].title, "Side A");
    EXPECT_EQ(h.doc.tracks[2].genre, "Jazz");
    EXPECT_EQ(h.doc.tracks[2].fadeIn, 0);
    // Detected at blocks 102 and 902 (sectors 177 and 1570), released at
    // blocks 700 and 1500 (sectors 1219 and 2612).
    EXPECT_EQ(h.Bounds(), (Bounds{{97 * S, 1259 * S}, {1490 * S, 2652 * S}}));
    // A pass leaves the markers to the refresh steps.
    EXPECT_EQ(h.doc.events.Size(), 2);

    // With a header of 46 units the grid moves by 2 with it, not by 46.
    HandDoc odd(1600, 44100, 16, 46);
    odd.Levels({{100, 700, 30}, {900, 1500, 30}});
    EXPECT_EQ(CTrackFinder(odd.doc).RunPass(28), 2);
    EXPECT_EQ(odd.Bounds(), (Bounds{{2 + 97 * S, 2 + 1259 * S}, {2 + 1490 * S, 2 + 2652 * S}}));
}

TEST(TrackFinderPass, EnvelopeRisesByTenAndFallsByNineTenths)
{
    // Against threshold 40 the envelope passes it on the fifth loud block
    // (50), block 104, sector 181.
    HandDoc rise(1000);
    rise.Levels({{100, 700, 1000}});
    EXPECT_EQ(CTrackFinder(rise.doc).RunPass(40), 1);
    EXPECT_EQ(rise.doc.tracks[1].start, 101 * S);

    // From level 1000 the envelope falls by 9/10 per quiet block (truncated)
    // and first drops below 28 on block 732 (sector 1274).
    HandDoc loud(1000);
    loud.Levels({{100, 700, 1000}});
    EXPECT_EQ(CTrackFinder(loud.doc).RunPass(28), 1);
    EXPECT_EQ(loud.Bounds(), (Bounds{{97 * S, 1314 * S}}));

    // A level equal to the threshold still holds the track open.
    HandDoc level(1000);
    level.Levels({{100, 700, 30}, {700, 800, 28}});
    EXPECT_EQ(CTrackFinder(level.doc).RunPass(28), 1);
    EXPECT_EQ(level.Bounds(), (Bounds{{97 * S, (800 * 4096 / S + 40) * S}}));
}

TEST(TrackFinderPass, NothingAudibleOrTooShortGivesTheWholeRecording)
{
    // One block or less: no block is read at all, not even a missing one.
    HandDoc tiny(1);
    tiny.doc.blockLevel.clear();
    EXPECT_EQ(CTrackFinder(tiny.doc).RunPass(28), 1);
    EXPECT_EQ(tiny.Bounds(), (Bounds{{4704, 44 + 4096}}));

    HandDoc quiet(500);
    quiet.doc.tracks[0].fadeOut = 7;
    quiet.Levels({{0, 500, 20}});
    EXPECT_EQ(CTrackFinder(quiet.doc).RunPass(20), 1);
    EXPECT_EQ(quiet.Bounds(), (Bounds{{4704, 44 + 500 * 4096}}));
    EXPECT_EQ(quiet.doc.tracks[1].fadeOut, 7);  // a copy of the whole recording
}

TEST(TrackFinderPass, ShortBurstMovesTheStartInsteadOfEndingTheTrack)
{
    HandDoc h(1100);
    h.Levels({{100, 104, 30}, {400, 1000, 30}});
    EXPECT_EQ(CTrackFinder(h.doc).RunPass(28), 1);
    // The burst is released at block 104, within 200000 of its start: the
    // start then follows 80 sectors behind every quiet block, the last one
    // being block 399 (sector 694); the music keeps the track open.
    EXPECT_EQ(h.Bounds(), (Bounds{{614 * S, 1781 * S}}));
}

TEST(TrackFinderPass, GapUpToOneSecondReopensThePreviousTrack)
{
    // Track 1 ends at 1259 sectors; one second is 75 sectors at 44.1 kHz.
    // Music from block 810 is detected at block 812 (sector 1414): the new
    // start, 1334 sectors, is exactly one second after that end.
    HandDoc rejoined(1400);
    rejoined.Levels({{100, 700, 30}, {810, 1300, 30}});
    EXPECT_EQ(CTrackFinder(rejoined.doc).RunPass(28), 1);
    EXPECT_EQ(rejoined.Bounds(), (Bounds{{97 * S, 2303 * S}}));

    // One block later the start is at 1335 sectors: a track of its own.
    HandDoc split(1400);
    split.Levels({{100, 700, 30}, {811, 1300, 30}});
    EXPECT_EQ(CTrackFinder(split.doc).RunPass(28), 2);
    EXPECT_EQ(split.Bounds(), (Bounds{{97 * S, 1259 * S}, {1335 * S, 2303 * S}}));

    // At 96 kHz one second is 384000 units: the same gap joins.
    HandDoc fast(1400, 96000);
    fast.Levels({{100, 700, 30}, {811, 1300, 30}});
    EXPECT_EQ(CTrackFinder(fast.doc).RunPass(28), 1);
}

TEST(TrackFinderPass, UnfinishedLastTrackIsKeptOnlyWhenLongerThan800000)
{
    // The last piece starts at 1664 sectors = 3913728 and runs to the end.
    HandDoc dropped(1150);  // ends at 4710444: 796716 after that start
    dropped.Levels({{100, 700, 30}, {1000, 1150, 30}});
    EXPECT_EQ(CTrackFinder(dropped.doc).RunPass(28), 1);
    EXPECT_EQ(dropped.Bounds(), (Bounds{{97 * S, 1259 * S}}));

    // 800812 after the start: kept to the end, and then too short to be a
    // track of its own, so track 1 takes it in.
    HandDoc kept(1151);
    kept.Levels({{100, 700, 30}, {1000, 1151, 30}});
    EXPECT_EQ(CTrackFinder(kept.doc).RunPass(28), 1);
    EXPECT_EQ(kept.Bounds(), (Bounds{{97 * S, 44 + 1151 * 4096}}));

    // The only track is kept whatever its length.
    HandDoc alone(300);
    alone.Levels({{100, 300, 30}});
    EXPECT_EQ(CTrackFinder(alone.doc).RunPass(28), 1);
    EXPECT_EQ(alone.Bounds(), (Bounds{{97 * S, 44 + 300 * 4096}}));
}

TEST(TrackFinderPass, ShortTracksAreAbsorbedByANeighbour)
{
    // A first track of 1502928 is taken in by the second, which starts
    // where the first did.
    HandDoc first(1400);
    first.Levels({{100, 400, 30}, {600, 1300, 30}});
    EXPECT_EQ(CTrackFinder(first.doc).RunPass(28), 1);
    EXPECT_EQ(first.Bounds(), (Bounds{{97 * S, 2303 * S}}));

    // Two short tracks in a row after a long one both go to it: the second
    // is examined at the index the first was removed from.
    HandDoc later(2600);
    later.Levels({{100, 700, 30}, {900, 1200, 30}, {1400, 1700, 30}, {1900, 2500, 30}});
    EXPECT_EQ(CTrackFinder(later.doc).RunPass(28), 2);
    EXPECT_EQ(later.Bounds(), (Bounds{{97 * S, 3000 * S}, {3232 * S, 4393 * S}}));
}

TEST(TrackFinderPass, MinimumLengthDependsOnRateAndDepth)
{
    // Track 1 is 7237104 long, track 2 2733024.
    struct Case {
        int32_t rate, bits, tracks;
    };
    const Case cases[] = {{44100, 16, 2}, {48000, 16, 2}, {88200, 16, 1}, {96000, 16, 1},
                          {44100, 24, 1}, {48000, 24, 1}, {96000, 24, 1}};
    for (const Case& c : cases) {
        HandDoc h(2800, c.rate, c.bits);
        h.Levels({{100, 1800, 30}, {2100, 2700, 30}});
        EXPECT_EQ(CTrackFinder(h.doc).RunPass(28), c.tracks) << c.rate << " Hz, " << c.bits << " bits";
        if (c.tracks == 1) {
            EXPECT_EQ(h.Bounds(), (Bounds{{97 * S, 4742 * S}}));
        }
    }
    // 24-bit at 44.1 kHz keeps a track of 3000000 or more that 96 kHz
    // 16-bit merges: track 2 here is 3767904 long.
    for (const Case& c : {Case{44100, 24, 2}, Case{96000, 16, 1}}) {
        HandDoc h(3100, c.rate, c.bits);
        h.Levels({{100, 1800, 30}, {2100, 3000, 30}});
        EXPECT_EQ(CTrackFinder(h.doc).RunPass(28), c.tracks) << c.rate << " Hz, " << c.bits << " bits";
    }
}

TEST(TrackFinderTables, MissingBlocksAbandonTheSearchBeforeAnythingChanges)
{
    HandDoc h(1600);
    h.Levels({{100, 700, 30}, {900, 1500, 30}});
    FindTracks(h.doc, 0, false);
    const Bounds before = h.Bounds();
    const int32_t events = h.doc.events.Size();
    h.doc.blockLevel.resize(1000);
    EXPECT_THROW(FindTracks(h.doc, 0, true), std::out_of_range);
    EXPECT_THROW(CTrackFinder(h.doc).RunPass(28), std::out_of_range);
    EXPECT_EQ(h.Bounds(), before);
    EXPECT_EQ(h.doc.events.Size(), events);

    EXPECT_THROW(FindTracks(h.doc, -1, true), std::invalid_argument);
    h.doc.tracks.RemoveAll();
    EXPECT_THROW(FindTracks(h.doc, 0, true), std::out_of_range);
}

// --- the search -------------------------------------------------------------

TEST(TrackFinderSearch, AutomaticStopsAtTheLowerOfTwoAgreeingSteps)
{
    HandDoc h(tracktest::kFourThenSixBlocks);
    tracktest::FourThenSix(h);
    const CTrackFinder::Result r = FindTracks(h.doc, 0, true);
    EXPECT_EQ(r.trackCount, 4);
    EXPECT_EQ(r.passes, 3);  // 4 at step 10, 4 at step 20, then step 10 again
    EXPECT_EQ(r.finalStep, 10);
    EXPECT_FALSE(r.unreliable);
    // Threshold 28 detects the first music on block 102 (threshold 40 would
    // on block 104: 101 sectors).
    EXPECT_EQ(h.doc.tracks[1].start, 97 * S);
    EXPECT_TRUE(h.ui.Messages().empty());
}

TEST(TrackFinderSearch, CountThatNeverSettlesFallsBackToThreshold20)
{
    // One silent gap and gaps at levels between the ladder's thresholds:
    // every step from 10 to 90 finds one more track than the one before.
    const int32_t gapLevels[] = {0, 30, 45, 60, 90, 120, 170, 240, 340};
    std::vector<tracktest::Span> spans;
    int32_t b = 100;
    for (int32_t gap : gapLevels) {
        spans.push_back({b, b + 600, 5000});
        spans.push_back({b + 600, b + 900, gap});
        b += 900;
    }
    spans.push_back({b, b + 600, 5000});
    const int32_t blocks = b + 800;
    HandDoc h(blocks);
    h.Levels(spans);

    h.ui.Expect({"The track search was unreliable", MbAnswer::Ok, std::string(kAppCaption), MbButtons::Ok, {}});
    const CTrackFinder::Result r = FindTracks(h.doc, 0, true);
    EXPECT_TRUE(r.unreliable);
    EXPECT_EQ(r.finalStep, 0);
    EXPECT_EQ(r.passes, 10);
    EXPECT_EQ(r.trackCount, 2);  // threshold 20 splits only at the silent gap
    h.ui.ExpectDone();

    // Without warnings the same search says nothing.
    HandDoc quiet(blocks);
    quiet.Levels(spans);
    EXPECT_TRUE(FindTracks(quiet.doc, 0, false).unreliable);
    EXPECT_TRUE(quiet.ui.Messages().empty());
}

TEST(TrackFinderSearch, SilentRecordingIsOneTrackAndUnreliable)
{
    HandDoc h(2000);
    h.ui.Expect("The track search was unreliable", MbAnswer::Ok);
    const CTrackFinder::Result r = FindTracks(h.doc, 0, true);
    EXPECT_EQ(r.trackCount, 1);
    EXPECT_EQ(h.Bounds(), (Bounds{{4704, 44 + 2000 * 4096}}));
}

TEST(TrackFinderSearch, TargetBetweenTwoCountsTakesTheHigherAndSaysSo)
{
    HandDoc h(tracktest::kFourThenSixBlocks);
    tracktest::FourThenSix(h);
    h.ui.Expect("The target number of tracks could not be found", MbAnswer::Ok);
    const CTrackFinder::Result r = FindTracks(h.doc, 5, true);
    EXPECT_EQ(r.trackCount, 6);
    EXPECT_EQ(r.finalStep, 48);
    EXPECT_EQ(r.passes, 24);
    h.ui.ExpectDone();

    // The dialog's warnings only: the same search after loading says nothing.
    HandDoc silent(tracktest::kFourThenSixBlocks);
    tracktest::FourThenSix(silent);
    EXPECT_EQ(FindTracks(silent.doc, 5, false).trackCount, 6);
    EXPECT_TRUE(silent.ui.Messages().empty());

    HandDoc exact(tracktest::kFourThenSixBlocks);
    tracktest::FourThenSix(exact);
    const CTrackFinder::Result four = FindTracks(exact.doc, 4, true);
    EXPECT_EQ(four.trackCount, 4);
    EXPECT_EQ(four.passes, 1);
    EXPECT_TRUE(exact.ui.Messages().empty());
}

TEST(TrackFinderSearch, TargetBeyondTheLadderKeepsTheLastPass)
{
    // Step 180 (threshold 10240) hears nothing in music at level 5000.
    HandDoc h(tracktest::kFourThenSixBlocks);
    tracktest::FourThenSix(h);
    h.ui.Expect("The target number of tracks could not be found", MbAnswer::Ok);
    const CTrackFinder::Result r = FindTracks(h.doc, 30, true);
    EXPECT_EQ(r.finalStep, 180);
    EXPECT_EQ(r.passes, 90);
    EXPECT_EQ(r.trackCount, 1);
    EXPECT_EQ(h.Bounds(), (Bounds{{4704, h.doc.dataEnd}}));
}

}  // namespace
}  // namespace kelvane
