// The refresh steps after a search: boundary markers rebuilt around the
// corrections already in the event list, and the default track texts.

#include "tests/tracks/FinderTestDoc.h"
#include "tracks/CTrackFinder.h"
#include "tracks/TrackMarkers.h"
#include "tracks/TrackTitles.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

using tracktest::HandDoc;

struct Entry {
    int32_t pos, width, mag;
    bool operator==(const Entry&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Entry& e)
{
    return os << "{" << e.pos << ", " << e.width << ", " << e.mag << "}";
}

// The real entries of the event list.
std::vector<Entry> Real(const CQuillon3Doc& d)
{
    std::vector<Entry> out;
    for (int32_t i = 1; i + 1 < d.events.Size(); ++i)
        out.push_back({d.events[i].pos, d.events[i].width, d.events[i].mag});
    return out;
}

void SetTracks(CQuillon3Doc& d, const std::vector<std::pair<int32_t, int32_t>>& bounds)
{
    d.tracks.SetSize(1);
    for (auto [s, e] : bounds) {
        TrackRecord r;
        r.start = s;
        r.end = e;
        d.tracks.Add(r);
    }
}

TEST(FinderMarkers, RebuiltAroundCorrectionsReplacingOldMarkers)
{
    HandDoc h(1000);
    CQuillon3Doc& d = h.doc;
    h.AddCorrection(1000, 3, 50);
    h.AddCorrection(20000, 7, event::kMagEdited);
    h.AddCorrection(100000, 0x1005, 70);
    h.AddCorrection(300000, 9, 80);
    h.AddCorrection(300000, 11, 81);
    h.AddCorrection(2000000, 12, 90);
    // Stale markers from an earlier division, anywhere in the list.
    d.events.InsertAt(2, EventRecord{1, 0, 5000, event::TrackStartMarker(1), 0});
    d.events.InsertAt(5, EventRecord{1, 0, 150000, event::TrackEndMarker(3), 0});
    d.events[d.events.Size() - 1] = EventRecord{1, 0, 777, 4, 12};  // the scanner's record in the making
    const EventRecord working = d.events[d.events.Size() - 1];

    // Track 2 starts where track 1 ends; track 2 runs past the recording.
    SetTracks(d, {{20000, 300000}, {300000, 5000000}});
    RebuildTrackMarkers(d);

    const int32_t end = d.tracks[0].end;
    EXPECT_EQ(d.tracks[2].end, end);
    const std::vector<Entry> want = {
        {1000, 3, 50},
        {20000, -2, 0},  // a marker goes before a correction at its position
        {20000, 7, event::kMagEdited},
        {100000, 0x1005, 70},
        {300000, -3, 0},  // back to back: the end of track 1 first
        {300000, -4, 0},
        {300000, 9, 80},
        {300000, 11, 81},
        {2000000, 12, 90},
        {end, -5, 0},
    };
    EXPECT_EQ(Real(d), want);
    EXPECT_EQ(d.events[0], EventRecord{});
    EXPECT_EQ(d.events[d.events.Size() - 1], working);
    for (int32_t i = 1; i + 1 < d.events.Size(); ++i) {
        if (d.events[i].IsMarker()) {
            EXPECT_EQ(d.events[i].pass, 1);
        }
    }

    // Rebuilding again changes nothing; removing leaves the corrections.
    RebuildTrackMarkers(d);
    EXPECT_EQ(Real(d), want);
    RemoveTrackMarkers(d);
    EXPECT_EQ(Real(d).size(), 6u);
    EXPECT_EQ(d.events[d.events.Size() - 1], working);
}

TEST(FinderMarkers, SearchEndsWithMarkersAndLookUpFindsThem)
{
    HandDoc h(1600);
    h.Levels({{100, 700, 30}, {900, 1500, 30}});
    h.AddCorrection(2000000);
    FindTracks(h.doc, 0, false);
    ASSERT_EQ(h.doc.TrackCount(), 2);
    const std::vector<Entry> real = Real(h.doc);
    ASSERT_EQ(real.size(), 5u);
    EXPECT_EQ(real[0].width, -2);
    EXPECT_EQ(real[1].pos, 2000000);
    EXPECT_EQ(real[2].width, -3);
    EXPECT_EQ(real[4], (Entry{h.doc.tracks[2].end, -5, 0}));

    // The look-up finds the first event at or after a position, or the last.
    EXPECT_EQ(FindEventAt(h.doc, 0), 1);
    EXPECT_EQ(FindEventAt(h.doc, 2000000), 2);
    EXPECT_EQ(FindEventAt(h.doc, 2000001), 3);
    EXPECT_EQ(FindEventAt(h.doc, h.doc.dataEnd + 1), 5);
    h.doc.ResetEventList();
    EXPECT_EQ(FindEventAt(h.doc, 0), 0);
}

TEST(FinderMarkers, ListWithoutSentinelsIsRefused)
{
    HandDoc h(10);
    h.doc.events.RemoveAll();
    EXPECT_THROW(RebuildTrackMarkers(h.doc), std::out_of_range);
    EXPECT_THROW(FindTracks(h.doc, 0, false), std::out_of_range);
    EXPECT_EQ(h.doc.tracks.Size(), 1);
}

// --- default texts ----------------------------------------------------------

TEST(FinderTitles, SeveralTracksGetQuestionMarksAndTheBaseNameAsAlbum)
{
    HandDoc h(10);
    CQuillon3Doc& d = h.doc;
    SetTracks(d, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}});
    const char* titles[] = {"", "side", "Track 3", "Tracker", "My Track", "track 6"};
    for (int t = 1; t <= 6; ++t) d.tracks[t].title = titles[t - 1];
    d.tracks[0].title = "Whole";
    d.tracks[2].album = "Given";

    RefreshTrackTitles(d);
    const char* want[] = {"???", "???", "???", "???", "My Track", "track 6"};
    for (int t = 1; t <= 6; ++t) EXPECT_EQ(d.tracks[t].title, want[t - 1]) << "track " << t;
    EXPECT_EQ(d.tracks[0].title, "Whole");
    EXPECT_EQ(d.tracks[0].album, "side");
    EXPECT_EQ(d.tracks[1].album, "side");
    EXPECT_EQ(d.tracks[2].album, "Given");
}

TEST(FinderTitles, KeptFileNameTitlesSurviveAndAlbumsStayEmpty)
{
    HandDoc h(10);
    CQuillon3Doc& d = h.doc;
    SetTracks(d, {{0, 1}, {1, 2}, {2, 3}});
    d.tracks[1].title = "side";
    d.tracks[3].title = "Track 3";
    d.keepFileNameTitles = true;
    RefreshTrackTitles(d);
    EXPECT_EQ(d.tracks[1].title, "side");
    EXPECT_EQ(d.tracks[2].title, "???");
    EXPECT_EQ(d.tracks[3].title, "???");
    EXPECT_EQ(d.tracks[0].album, "");
}

TEST(FinderTitles, OneTrackTakesTheWholeRecordingsTexts)
{
    HandDoc h(10);
    CQuillon3Doc& d = h.doc;
    SetTracks(d, {{0, 1}});
    d.tracks[0].artist = "Band";
    d.tracks[1].title = "Track 1";
    RefreshTrackTitles(d);
    EXPECT_EQ(d.tracks[0].title, "side");
    EXPECT_EQ(d.tracks[1].title, "side");
    EXPECT_EQ(d.tracks[1].artist, "Band");
    EXPECT_EQ(d.tracks[0].album, "");  // albums are filled only for several tracks

    d.tracks[0].title = "Live";
    d.tracks[1].title = "Own";
    d.tracks[1].artist = "Solo";
    RefreshTrackTitles(d);
    EXPECT_EQ(d.tracks[1].title, "Own");
    EXPECT_EQ(d.tracks[1].artist, "Solo");
}

TEST(FinderTitles, BaseNameIsTheWorkedOnFilesNameLessItsExtension)
{
    HandDoc h(10);
    // A FLAC input is worked on as "Blue Side.tmp": no trailing dot.
    h.doc.userPath = "/records/Blue Side.flac";
    h.doc.sourceKind = kSourceFlac;
    EXPECT_EQ(InputBaseName(h.doc), "Blue Side");
    h.doc.sourceKind = kSourceApe;
    h.doc.userPath = "/records/Blue Side.ape";
    EXPECT_EQ(InputBaseName(h.doc), "Blue Side");
    h.doc.sourceKind = kSourceWav;
    h.doc.userPath = "x.wav";
    EXPECT_EQ(InputBaseName(h.doc), "x");
    h.doc.userPath.clear();
    EXPECT_EQ(InputBaseName(h.doc), "");
}

}  // namespace
}  // namespace kelvane
