// The Track Properties dialog's model: what the table shows, what the
// editors change, and what OK writes into the track table.

#include "document/CQuillon3Doc.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tracks/CTrackProperties.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvane {
namespace {

using Props = CTrackProperties;

constexpr int32_t kSecond = 44100 * 4;

struct PropsFixture : ::testing::Test {
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    std::string defaultArtist;
    bool keepFileNameTitles = false;

    // n tracks of 30 s each with 2 s gaps; element 0 spans them all.
    void MakeTracks(int n)
    {
        doc.tracks.SetSize(n + 1);
        for (int t = 1; t <= n; ++t) {
            doc.tracks[t].start = (t - 1) * 32 * kSecond;
            doc.tracks[t].end = doc.tracks[t].start + 30 * kSecond;
            doc.tracks[t].title = "Song " + std::to_string(t);
        }
        doc.tracks[0].end = n * 32 * kSecond;
    }

    // Makes the given event list entry current.
    void SelectEvent(EventRecord ev)
    {
        doc.ResetEventList();
        doc.events.InsertAt(1, ev);
        doc.selectedEvent = 1;
    }

    Props::EditValues Values(std::string title, std::string artist, Props::TimingTexts timings)
    {
        return {std::move(title), std::move(artist), std::move(timings)};
    }
};

// --- the table -------------------------------------------------------------------

TEST_F(PropsFixture, Rows_ShowNumberWholeMinutesAndTenthsOfSeconds)
{
    MakeTracks(3);
    doc.tracks[1].end = doc.tracks[1].start + 185 * kSecond + kSecond - 4;  // 3:05.99
    doc.tracks[2].end = doc.tracks[2].start + (65 * 60 + 9) * kSecond;
    doc.tracks[1].preSilence = 441000;
    doc.tracks[1].fadeIn = 123479;
    doc.tracks[1].fadeOut = -88200;
    doc.tracks[1].postSilence = 12 * kSecond;
    doc.tracks[1].artist = "Ann";
    doc.tracks[1].album = "Blue";
    doc.tracks[2].genre = "not track 1";

    Props props(doc, defaultArtist, keepFileNameTitles);
    ASSERT_EQ(props.RowCount(), 3);
    EXPECT_EQ(props.Album(), "Blue");
    EXPECT_EQ(props.Genre(), "");
    const Props::Row& row = props.RowAt(0);
    EXPECT_EQ(row.number, "1");
    EXPECT_EQ(row.length, " 3:05");
    EXPECT_EQ(row.title, "Song 1");
    EXPECT_EQ(row.artist, "Ann");
    EXPECT_EQ(row.timings, (Props::TimingTexts{" 2.5", " 0.7", "-0.5", "12.0"}));
    EXPECT_EQ(props.RowAt(1).length, "65:09");
    EXPECT_EQ(props.RowAt(2).timings[Props::kFadeIn], " 0.0");

    // What is shown stores back to the same units.
    const TrackRecord before = doc.tracks[1];
    ASSERT_TRUE(props.Store());
    EXPECT_EQ(doc.tracks[1].fadeIn, before.fadeIn);
    EXPECT_EQ(doc.tracks[1].fadeOut, before.fadeOut);

    // The same units at another rate are other seconds.
    doc.sampleRate = 48000;
    EXPECT_EQ(Props(doc, defaultArtist, keepFileNameTitles).RowAt(0).timings[Props::kPreSilence], " 2.3");
    EXPECT_THROW(props.RowAt(3), std::out_of_range);
}

TEST_F(PropsFixture, Open_SelectsTheNamedRowElseTheTrackOfTheCurrentEvent)
{
    MakeTracks(3);
    EXPECT_EQ(Props(doc, defaultArtist, keepFileNameTitles).SelectedCount(), 0);  // nothing current

    SelectEvent({1, 0, doc.tracks[2].end, event::TrackEndMarker(2), 0});  // the end lies outside [start, end)
    EXPECT_EQ(Props(doc, defaultArtist, keepFileNameTitles).SelectedRows(), std::vector<int32_t>{1});

    doc.selectedEvent = -1;  // the view's cursor, inside track 3
    doc.cursorEvent.pos = doc.tracks[3].start + 4 * kSecond;
    EXPECT_EQ(Props(doc, defaultArtist, keepFileNameTitles).SelectedRows(), std::vector<int32_t>{2});

    doc.cursorEvent.pos = doc.tracks[1].end + kSecond;  // in the gap after track 1
    EXPECT_EQ(Props(doc, defaultArtist, keepFileNameTitles).SelectedCount(), 0);

    // The save dialog's focused line wins; a line that is no row does not.
    EXPECT_EQ(Props(doc, defaultArtist, keepFileNameTitles, 0).SelectedRows(), std::vector<int32_t>{0});
    doc.cursorEvent.pos = doc.tracks[3].start;
    EXPECT_EQ(Props(doc, defaultArtist, keepFileNameTitles, 7).SelectedRows(), std::vector<int32_t>{2});
}

// --- storing timings ---------------------------------------------------------------

TEST_F(PropsFixture, Store_TypedSecondsBecomeTruncatedPositionUnits)
{
    MakeTracks(2);
    Props props(doc, defaultArtist, keepFileNameTitles);
    ASSERT_TRUE(props.SetRowValues(0, Values("a", "", {"2.5", "0.7", "-1", "abc"})));
    ASSERT_TRUE(props.SetRowValues(1, Values("b", "", {"2.5s", " 1e1", "12173.9", "-0.00001"})));
    ASSERT_TRUE(props.Store());

    const TrackRecord& t1 = doc.tracks[1];
    EXPECT_EQ(t1.preSilence, 441000);
    EXPECT_EQ(t1.fadeIn, 123479);  // 0.7 x 176400 is 123479.99... in double
    EXPECT_EQ(t1.fadeOut, -176400);  // negative values are stored as typed
    EXPECT_EQ(t1.postSilence, 0);    // not a number
    const TrackRecord& t2 = doc.tracks[2];
    EXPECT_EQ(t2.preSilence, 441000);
    EXPECT_EQ(t2.fadeIn, 1764000);
    EXPECT_EQ(t2.fadeOut, 2147475960);  // close to the 32-bit limit, still fits
    EXPECT_EQ(t2.postSilence, -1);      // -1.764 truncates toward zero, not down

    doc.sampleRate = 48000;
    Props at48(doc, defaultArtist, keepFileNameTitles);
    ASSERT_TRUE(at48.SetRowValues(0, Values("a", "", {"2.5", "0", "0", "0"})));
    ASSERT_TRUE(at48.Store());
    EXPECT_EQ(doc.tracks[1].preSilence, 480000);
}

TEST_F(PropsFixture, Store_TimingBeyondThirtyTwoBitsIsRefusedAndNothingChanges)
{
    MakeTracks(2);
    doc.tracks[1].fadeIn = 1234;
    Props props(doc, defaultArtist, keepFileNameTitles);
    props.SetAlbum("New album");
    ASSERT_TRUE(props.SetRowValues(0, Values("Renamed", "", {"1", "1", "1", "1"})));
    ASSERT_TRUE(props.SetRowValues(1, Values("b", "", {"0", "0", "12174", "0"})));
    ui.Expect({"The fade-out of track 2 (\"12174\" seconds) is too long.\nThe properties were not stored.",
               MbAnswer::Ok, std::string("Track Properties"), MbButtons::Ok, MbIcon::Warning});
    EXPECT_FALSE(props.Store());
    ui.ExpectDone();
    EXPECT_EQ(doc.tracks[1].title, "Song 1");
    EXPECT_EQ(doc.tracks[1].fadeIn, 1234);
    EXPECT_EQ(doc.tracks[1].album, "");
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(props.RowAt(1).timings[Props::kFadeOut], "12174");  // what was typed is kept

    // Numbers past what a double holds are refused the same way.
    ASSERT_TRUE(props.SetRowValues(1, Values("b", "", {"-1e400", "0", "0", "0"})));
    ui.Expect("The silence before of track 2 (\"-1e400\" seconds) is too long.\nThe properties were not stored.",
              MbAnswer::Ok);
    EXPECT_FALSE(props.Store());
    ui.ExpectDone();

    ASSERT_TRUE(props.SetRowValues(1, Values("b", "", {"0", "0", "0", "0"})));
    EXPECT_TRUE(props.Store());
    EXPECT_EQ(doc.tracks[1].title, "Renamed");
}

// --- storing texts -----------------------------------------------------------------

TEST_F(PropsFixture, Store_AlbumAndGenreTrimmedIntoEveryElementAndTrackOneNamesTheWhole)
{
    MakeTracks(3);
    doc.tracks[0].artist = "whole artist";
    doc.tracks[0].title = "Song 1";
    ASSERT_TRUE(Props(doc, defaultArtist, keepFileNameTitles).Store());
    EXPECT_FALSE(doc.IsModified());  // nothing changed, nothing to save

    doc.tracks[0].title = "old whole";
    Props props(doc, defaultArtist, keepFileNameTitles);
    props.SetAlbum("  Kind of Blue\t");
    props.SetGenre(" Jazz ");
    ASSERT_TRUE(props.SetRowValues(0, Values("  So What  ", " Miles ", {"0", "0", "0", "0"})));
    ASSERT_TRUE(props.Store());

    for (int i = 0; i <= 3; ++i) {
        EXPECT_EQ(doc.tracks[i].album, "Kind of Blue") << i;
        EXPECT_EQ(doc.tracks[i].genre, "Jazz") << i;
    }
    EXPECT_EQ(doc.tracks[1].title, "So What");
    EXPECT_EQ(doc.tracks[1].artist, "Miles");
    EXPECT_EQ(doc.tracks[0].title, "So What");
    EXPECT_EQ(doc.tracks[0].artist, "whole artist");  // only the title follows track 1
    EXPECT_EQ(doc.tracks[2].title, "Song 2");
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(PropsFixture, Store_TitleEqualToTheInputBaseNameKeepsFileNameTitles)
{
    MakeTracks(2);
    doc.userPath = "/music/rec.d/Side A.wav";
    Props props(doc, defaultArtist, keepFileNameTitles);
    auto storeTitle = [&](const char* title) {
        ASSERT_TRUE(props.SetRowValues(1, Values(title, "", {"0", "0", "0", "0"})));
        ASSERT_TRUE(props.Store());
    };

    storeTitle(" Side A ");
    EXPECT_FALSE(keepFileNameTitles);  // without a selected event nothing is noted

    SelectEvent({1, 0, doc.tracks[1].start, event::TrackStartMarker(1), 0});
    for (const char* other : {"side a", "Side A.wav", "Side"}) storeTitle(other);
    EXPECT_FALSE(keepFileNameTitles);

    // ".wav" alone leaves an empty base name, which must not match an empty title.
    doc.userPath = "/music/.wav";
    storeTitle("");
    EXPECT_FALSE(keepFileNameTitles);

    doc.userPath = "/music/rec.d/Side A.wav";
    storeTitle(" Side A ");
    EXPECT_TRUE(keepFileNameTitles);
    storeTitle("Other");
    EXPECT_TRUE(keepFileNameTitles);  // once set it stays

    // The last four characters go, whatever they are.
    keepFileNameTitles = false;
    doc.userPath = "/music/side.flac";
    storeTitle("side.");
    EXPECT_TRUE(keepFileNameTitles);
}

// --- defaults, copying and the editor ------------------------------------------------

TEST_F(PropsFixture, Defaults_CopyIntoSelectedRowsOnly)
{
    MakeTracks(3);
    defaultArtist = "Ann";
    settings.Set(settings::FadeIn, "1.5");
    Props props(doc, defaultArtist, keepFileNameTitles);
    EXPECT_FALSE(props.CanCopyDefaults());
    props.Select(0);
    props.Select(2);
    EXPECT_FALSE(props.Select(3));
    EXPECT_TRUE(props.CanCopyDefaults());
    EXPECT_FALSE(props.CanEdit());

    props.CopyArtistToSelected();
    EXPECT_EQ(props.RowAt(0).artist, "Ann");
    EXPECT_EQ(props.RowAt(1).artist, "");
    EXPECT_EQ(props.RowAt(2).artist, "Ann");
    EXPECT_EQ(props.RowAt(0).timings[Props::kFadeIn], " 0.0");  // the artist alone

    props.Select(2, false);
    props.CopyTimingsToSelected();
    EXPECT_EQ(props.RowAt(0).timings, (Props::TimingTexts{"0", "1.5", "0", "0"}));
    EXPECT_EQ(props.RowAt(2).timings[Props::kFadeIn], " 0.0");
    EXPECT_TRUE(props.CanEdit());

    ASSERT_TRUE(props.Store());
    EXPECT_EQ(doc.tracks[1].fadeIn, 264600);
    EXPECT_EQ(doc.tracks[3].artist, "Ann");
    EXPECT_EQ(doc.tracks[2].artist, "");
}

TEST_F(PropsFixture, Defaults_ChangeWritesTimingSettingsAndKeepsTheArtistOnStore)
{
    MakeTracks(1);
    Props props(doc, defaultArtist, keepFileNameTitles);
    EXPECT_EQ(props.DefaultTimings(), (Props::TimingTexts{"0", "0", "0", "0"}));
    EXPECT_EQ(props.DefaultArtistText(), "Not Set");

    const Props::Editor editor = props.DefaultsEditor();
    EXPECT_EQ(editor.caption, "Default Artist and Timings");
    EXPECT_FALSE(editor.hasTitle);
    EXPECT_FALSE(editor.hasTrackButtons);

    props.ChangeDefaults(Values("ignored", " Ann ", {"1.5", " 2.0", "3.0 ", "0.5"}));
    EXPECT_EQ(settings.Get(settings::PreSilence), "1.5");
    EXPECT_EQ(settings.Get(settings::FadeIn), "2.0");
    EXPECT_EQ(settings.Get(settings::FadeOut), "3.0");
    EXPECT_EQ(settings.Get(settings::PostSilence), "0.5");
    EXPECT_EQ(props.DefaultArtistText(), "Ann");
    EXPECT_EQ(defaultArtist, "");  // the document gets it when the properties are stored
    ASSERT_TRUE(props.Store());
    EXPECT_EQ(defaultArtist, "");  // ... and only with an event selected

    SelectEvent({1, 0, doc.tracks[1].start, event::TrackStartMarker(1), 0});
    ASSERT_TRUE(props.Store());
    EXPECT_EQ(defaultArtist, "Ann");

    Props again(doc, defaultArtist, keepFileNameTitles);
    EXPECT_EQ(again.DefaultArtist(), "Ann");
    EXPECT_EQ(again.DefaultTimings(), (Props::TimingTexts{"1.5", "2.0", "3.0", "0.5"}));
}

TEST_F(PropsFixture, Editor_ShowsTheRowOffersArtistsOnceAndWalksTheTable)
{
    MakeTracks(3);
    doc.tracks[1].artist = "Ann";
    doc.tracks[3].artist = "Ann";
    doc.tracks[2].artist = "Bob";
    Props props(doc, defaultArtist, keepFileNameTitles);

    Props::Editor first = props.EditorFor(0);
    EXPECT_EQ(first.caption, "Track 1 Properties");
    EXPECT_EQ(first.values.title, "Song 1");
    EXPECT_EQ(first.artistChoices, (std::vector<std::string>{"Ann", "Bob"}));
    EXPECT_FALSE(first.prevEnabled);
    EXPECT_TRUE(first.nextEnabled);
    EXPECT_EQ(first.defaultButton, Props::DefaultButton::Next);

    Props::Editor middle = props.EditorFor(1);
    EXPECT_TRUE(middle.prevEnabled && middle.nextEnabled);
    EXPECT_EQ(middle.defaultButton, Props::DefaultButton::Ok);

    Props::Editor last = props.EditorFor(2);
    EXPECT_FALSE(last.nextEnabled);
    EXPECT_EQ(last.defaultButton, Props::DefaultButton::Prev);
    EXPECT_THROW(props.EditorFor(3), std::out_of_range);

    // "Next Track" stores what is shown and moves on; at the end it stays.
    first.values.title = " First ";
    EXPECT_EQ(props.StoreAndMove(0, first.values, +1), 1);
    EXPECT_EQ(props.RowAt(0).title, "First");
    EXPECT_EQ(props.SelectedRows(), std::vector<int32_t>{1});
    last.values.artist = "Cy";
    EXPECT_EQ(props.StoreAndMove(2, last.values, +1), 2);
    EXPECT_EQ(props.RowAt(2).artist, "Cy");
    EXPECT_EQ(props.StoreAndMove(2, last.values, -1), 1);
    EXPECT_EQ(props.StoreAndMove(9, last.values, -1), -1);
    EXPECT_FALSE(props.SetRowValues(-1, last.values));
}

// --- typed seconds -----------------------------------------------------------------

TEST(TrackPropertiesTyping, FieldReformatReadsTheLeadingNumberOrZero)
{
    const std::pair<std::string, std::string> cases[] = {
        {"2.5", "2.5"}, {"7", "7.0"}, {"  12.34xyz", "12.3"}, {".5", "0.5"}, {"5.", "5.0"}, {"+3", "3.0"},
        {"-0.25", "-0.2"},  // exactly halfway: to even, as printf does
        {"1e", "1.0"}, {"1e1", "10.0"},
        {"2,5", "2.0"},     // '.' is the decimal point whatever the locale
        {"0x10", "0.0"},    // decimal only: the 'x' ends the number
        {"", "0.0"}, {"abc", "0.0"}, {"-", "0.0"}, {".", "0.0"}, {"e5", "0.0"}, {" + 1", "0.0"},
        {"nan", "0.0"}, {"inf", "0.0"}, {"-infinity", "0.0"}, {"1e-400", "0.0"}, {"0.1e-400", "0.0"},
        {"1e400", "1e400"},  // too large to show: left for Store to refuse
        {std::string(400, '9'), std::string(400, '9')},
        {std::string(100000, '0') + "1.5", "1.5"},
    };
    for (const auto& [typed, shown] : cases) EXPECT_EQ(Props::FormatTimingField(typed), shown) << typed;
}

TEST(TrackPropertiesTyping, UnitsMustFitThirtyTwoBits)
{
    EXPECT_EQ(Props::SecondsToUnits(0.7, 44100), 123479);
    EXPECT_EQ(Props::SecondsToUnits(-0.7, 44100), -123479);
    // At a rate of 1 the products are exact, so the limits can be hit exactly.
    EXPECT_EQ(Props::SecondsToUnits(536870911.75, 1), 2147483647);
    EXPECT_EQ(Props::SecondsToUnits(536870911.99, 1), 2147483647);
    EXPECT_EQ(Props::SecondsToUnits(536870912.0, 1), std::nullopt);
    EXPECT_EQ(Props::SecondsToUnits(-536870912.0, 1), -2147483647 - 1);
    EXPECT_EQ(Props::SecondsToUnits(-536870912.25, 1), std::nullopt);
    EXPECT_EQ(Props::SecondsToUnits(Props::ReadSeconds("1e400"), 44100), std::nullopt);
    EXPECT_EQ(Props::SecondsToUnits(Props::ReadSeconds("-1e400"), 44100), std::nullopt);
}

}  // namespace
}  // namespace kelvane
