// The correction list's rows: colour classes, the filter, the order of
// markers at one position, the row texts and a click on a row.

#include "declick/ClickListRows.h"
#include "document/CQuillon3Doc.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

struct ListDoc {
    CMemorySettings store;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{store, ui};

    ListDoc()
    {
        doc.sampleRate = 44100;
        doc.dataStart = 44;
        doc.dataEnd = 44 + 44100 * 4 * 60;
        doc.ResetEventList();
    }
    int32_t Add(int32_t pos, int32_t width, int32_t mag)
    {
        doc.events.InsertAt(doc.events.Size() - 1, EventRecord{1, 0, pos, width, mag});
        return doc.events.Size() - 2;
    }
};

TEST(ClickListRows, ColourClassesAndColours)
{
    EXPECT_EQ(ColourClass({1, 0, 0, 3, 14}), 1);
    EXPECT_EQ(ColourClass({1, 0, 0, 3, 15}), 2);
    EXPECT_EQ(ColourClass({1, 0, 0, 3, 29}), 2);
    EXPECT_EQ(ColourClass({1, 0, 0, 3, 30}), 3);
    EXPECT_EQ(ColourClass({1, 0, 0, 3, 900}), 3);
    EXPECT_EQ(ColourClass({1, 0, 0, -2, 0}), 0);
    EXPECT_EQ(ColourClass({1, 0, 0, 3, event::kMagEdited}), 4);
    EXPECT_EQ(ColourClass({1, 0, 0, 3, event::kMagAdjusting}), 6);
    EXPECT_EQ(RowBackground(2), (RowRgb{255, 255, 200}));
    EXPECT_EQ(RowBackground(0), (RowRgb{208, 208, 208}));
    EXPECT_EQ(RowTextColour({1, 0, 0, 3, event::kMagAdjusting}), (RowRgb{0, 0, 255}));
    EXPECT_EQ(RowTextColour({1, 0, 0, 3, 40}), (RowRgb{0, 0, 0}));
}

TEST(ClickListRows, FilterLimits)
{
    EXPECT_EQ(ListFilterLimit(1165, 0), -1);  // the default shows everything
    EXPECT_EQ(ListFilterLimit(1149, 50), -1);
    EXPECT_EQ(ListFilterLimit(1164, 0), 15);
    EXPECT_EQ(ListFilterLimit(1163, 0), 30);
    EXPECT_EQ(ListFilterLimit(1165, 20), 19);
    EXPECT_TRUE(ShownInList({1, 0, 0, 3, 0}, -1));
    // The edge case: filtering at 15 hides 14 (and 15 itself).
    EXPECT_FALSE(ShownInList({1, 0, 0, 3, 14}, 15));
    EXPECT_TRUE(ShownInList({1, 0, 0, 3, 16}, 15));
    EXPECT_TRUE(ShownInList({1, 0, 0, -3, 0}, 99));
}

TEST(ClickListRows, StartAndEndAtOnePositionAreTwoRowsStartFirst)
{
    EventRecord end{1, 0, 1000, event::TrackEndMarker(1), 0};
    EventRecord start{1, 0, 1000, event::TrackStartMarker(2), 0};
    EXPECT_LT(RowKey(start), RowKey(end));
    ListDoc d;
    d.Add(1000, event::TrackEndMarker(1), 0);
    d.Add(1000, event::TrackStartMarker(2), 0);
    const ClickListRows rows = BuildClickListRows(d.doc, -1);
    EXPECT_EQ(rows.events.size(), 2u);
}

TEST(ClickListRows, TextsCountFromTheCurrentTrack)
{
    ListDoc d;
    const int32_t click = d.Add(44 + 44100 * 4 * 61 + 44100 * 2, 3, 17);  // 61.5 s
    EXPECT_EQ(RowText(d.doc, d.doc.events[click]).substr(0, 17), " 01:01:500     17");
    TrackRecord all, one;
    all.start = 44;
    one.start = 44 + 44100 * 4 * 62;
    d.doc.tracks.Add(all);
    d.doc.tracks.Add(one);
    d.doc.currentTrack = 1;
    EXPECT_EQ(RowText(d.doc, d.doc.events[click]).substr(0, 10), "-00:00:500");
    const std::string marker = RowText(d.doc, {1, 0, one.start, event::TrackStartMarker(1), 0});
    EXPECT_EQ(marker.substr(0, 30), " 00:00:000   Start of Track 1 ");
}

TEST(ClickListRows, HiddenCurrentRecordGetsARowAndShiftMakesABlock)
{
    ListDoc d;
    const int32_t a = d.Add(4000, 3, 40);
    const int32_t b = d.Add(8000, 3, 5);
    const int32_t c = d.Add(12000, 3, 50);
    d.doc.selectedEvent = b;
    ClickListRows rows = BuildClickListRows(d.doc, 15);
    ASSERT_EQ(rows.events.size(), 3u);
    EXPECT_EQ(rows.currentRow, 1);

    ASSERT_TRUE(ChooseListRecord(d.doc, a, false));
    EXPECT_EQ(d.doc.selectedEvent, a);
    ASSERT_TRUE(ChooseListRecord(d.doc, c, true));
    EXPECT_EQ(d.doc.blockStart, 4000 - 4);
    EXPECT_EQ(d.doc.blockEnd, 12000 + 4);
    EXPECT_EQ(d.doc.blockFirstEvent, a);
    EXPECT_EQ(d.doc.blockLastEvent, c);
    rows = BuildClickListRows(d.doc, -1);
    ASSERT_EQ(rows.events.size(), 5u);
    EXPECT_EQ(rows.events.front(), -1);
    EXPECT_EQ(rows.events.back(), -2);
    EXPECT_FALSE(ChooseListRecord(d.doc, 99, false));
}

}  // namespace
}  // namespace kelvane
