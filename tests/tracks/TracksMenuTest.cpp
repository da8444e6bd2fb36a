// The Tracks menu model: texts, identifiers and check marks, and choosing a
// track from it.

#include "tests/tracks/FinderTestDoc.h"
#include "tracks/TrackMarkers.h"
#include "tracks/TracksMenu.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

using tracktest::HandDoc;

constexpr int32_t kSecond = 44100 * 4;

void AddTrack(CQuillon3Doc& d, int32_t start, int32_t end, const char* title = "")
{
    TrackRecord r;
    r.start = start;
    r.end = end;
    r.title = title;
    d.tracks.Add(r);
}

std::vector<TracksMenuItem> Items(const CQuillon3Doc& d)
{
    return BuildTracksMenu(d).items;
}

TEST(TracksMenu, SeveralTracksListAllTracksFirstWithLengthsAndTitles)
{
    HandDoc h(10);
    CQuillon3Doc& d = h.doc;
    d.tracks[0].start = 44;
    d.tracks[0].end = 44 + 605 * kSecond + kSecond - 1;  // 10:05, the part second dropped
    AddTrack(d, 4704, 4704 + 65 * kSecond, "???");
    AddTrack(d, 300 * kSecond, 359 * kSecond, "Blue");
    AddTrack(d, 400 * kSecond, 400 * kSecond + 9 * kSecond);
    d.currentTrack = 2;

    const std::vector<TracksMenuItem> want = {
        {35000, "All Tracks     10:05", false},
        {35001, "Track 1        1:05", false},
        {35002, "Track 2        0:59 Blue", true},
        {35003, "Track 3        0:09", false},
    };
    EXPECT_EQ(Items(d), want);

    d.currentTrack = 0;
    EXPECT_TRUE(Items(d)[0].checked);
    for (int i = 1; i < 4; ++i) EXPECT_FALSE(Items(d)[static_cast<size_t>(i)].checked);
}

TEST(TracksMenu, LengthsAreWholeSecondsAtTheRecordingsRate)
{
    HandDoc h(10, 96000);
    CQuillon3Doc& d = h.doc;
    for (int t = 0; t < 11; ++t) AddTrack(d, 0, 96000 * 4 * 61 - 1);
    const std::vector<TracksMenuItem> items = Items(d);
    ASSERT_EQ(items.size(), 12u);
    EXPECT_EQ(items[1].text, "Track 1        1:00");
    EXPECT_EQ(items[11].text, "Track 11        1:00");
    EXPECT_EQ(items[11].id, 35011);
}

TEST(TracksMenu, OneTrackOrNoneAndTheirTitles)
{
    HandDoc h(10);
    CQuillon3Doc& d = h.doc;
    d.tracks.RemoveAll();
    EXPECT_TRUE(Items(d).empty());
    d.tracks.Add({});
    EXPECT_TRUE(Items(d).empty());

    AddTrack(d, 0, 125 * kSecond, "???");
    // A lone track shows any title it has, and no "All Tracks".
    EXPECT_EQ(Items(d), (std::vector<TracksMenuItem>{{35001, "Track 1        2:05 ???", false}}));
    d.tracks[1].title.clear();
    d.currentTrack = 1;
    EXPECT_EQ(Items(d), (std::vector<TracksMenuItem>{{35001, "Track 1        2:05", true}}));
}

struct ChooseFixture : ::testing::Test {
    HandDoc h{1000};
    CQuillon3Doc& d = h.doc;
    void SetUp() override
    {
        // Track 2 starts where track 1 ends; a correction shares the spot.
        AddTrack(d, 4704, 200 * 2352);
        AddTrack(d, 200 * 2352, 400 * 2352);
        AddTrack(d, 500 * 2352, 600 * 2352);
        h.AddCorrection(200 * 2352);
        RebuildTrackMarkers(d);
    }
};

TEST_F(ChooseFixture, ChosenTrackBecomesCurrentWithItsStartMarkerSelected)
{
    ASSERT_TRUE(ChooseMenuTrack(d, 35002));
    EXPECT_EQ(d.currentTrack, 2);
    ASSERT_GT(d.selectedEvent, 0);
    EXPECT_EQ(d.events[d.selectedEvent].width, event::TrackStartMarker(2));

    ASSERT_TRUE(ChooseMenuTrack(d, 35003));
    EXPECT_EQ(d.events[d.selectedEvent].width, event::TrackStartMarker(3));

    ASSERT_TRUE(ChooseMenuTrack(d, 35000));  // All Tracks: track 1's start
    EXPECT_EQ(d.currentTrack, 0);
    EXPECT_EQ(d.events[d.selectedEvent].width, event::TrackStartMarker(1));
}

TEST_F(ChooseFixture, UnknownItemsAndSingleTracksChangeNothing)
{
    d.selectedEvent = 3;
    EXPECT_FALSE(ChooseMenuTrack(d, 35004));
    EXPECT_FALSE(ChooseMenuTrack(d, 34999));
    EXPECT_EQ(d.currentTrack, 0);
    EXPECT_EQ(d.selectedEvent, 3);

    d.tracks.SetSize(2);
    RebuildTrackMarkers(d);
    EXPECT_FALSE(ChooseMenuTrack(d, 35001));
    EXPECT_EQ(d.currentTrack, 0);
}

}  // namespace
}  // namespace kelvane
