// The correction edits, the re-scans and super-scans as the front ends run
// them, on documents with scripted answers.

#include "declick/CorrectionEdit.h"
#include "operations/EditCorrections.h"
#include "operations/Rescan.h"
#include "tests/declick/EditTestDoc.h"
#include "tests/declick/ScannerTestRecording.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

using test::EditSide;
using Answer = MbAnswer;

class EditOps : public ::testing::Test {
protected:
    void SetUp() override { s.Load(test::EditMusic(3 * 44100, 9)); }
    CQuillon3Doc& d() { return s.Doc(); }
    test::ScriptedInteraction& ui() { return s.side.ui; }
    EventRecord Rec(int frame, int32_t width, int32_t pass = 1, int32_t mag = 10) const
    {
        return {pass, 0, s.Pos(frame), width, mag};
    }
    EditSide s;
};

TEST_F(EditOps, RemovingOneOfThreeOverlappingCorrectionsRebuildsTheOthersInPassOrder)
{
    s.SetList({Rec(20000, 100, 2), Rec(20040, 100, 0), Rec(20080, 40, 1)});
    d().selectedEvent = 2;
    ui().Expect({kMsgRemoveCurrent, Answer::Ok, kCaptionRemoveCurrent, MbButtons::OkCancel});
    ASSERT_TRUE(RemoveCurrentCorrection(d()).Ok());
    EXPECT_EQ(s.List(), (std::vector<EventRecord>{Rec(20000, 100, 2), Rec(20080, 40, 1)}));
    EXPECT_EQ(d().selectedEvent, -1);
    EXPECT_EQ(d().cursorEvent.pos, s.Pos(20040));
    s.ExpectListConsistent("after the removal");
    s.ExpectAudioConsistent("after the removal");

    ui().Expect(kMsgRemoveCurrent, Answer::Cancel);
    d().selectedEvent = 1;
    EXPECT_EQ(RemoveCurrentCorrection(d()).kind, FailKind::Declined);
    EXPECT_EQ(s.List().size(), 2u);
}

TEST_F(EditOps, ARunLongerThanTheLimitIsRefusedWithListAndAudioUnchanged)
{
    std::vector<EventRecord> chain;
    for (int k = 0; k < 40; ++k) chain.push_back(Rec(20000 + 300 * k, 300));
    s.SetList(chain);
    const auto before = s.Working();
    d().selectedEvent = 20;
    ui().Expect(kMsgRemoveCurrent, Answer::Ok).Expect(kMsgUnableToRemove, Answer::Ok);
    EXPECT_FALSE(RemoveCurrentCorrection(d()).Ok());
    EXPECT_EQ(s.List(), chain);
    EXPECT_EQ(s.Working(), before);
}

TEST_F(EditOps, AnAbandonedPendingInsertLeavesNoTrace)
{
    s.SetList({Rec(30000, 40)});
    const auto before = s.Working();
    ASSERT_TRUE(InsertManualCorrection(d(), s.Pos(50000) + 2));
    ASSERT_EQ(d().selectedEvent, 2);
    EXPECT_EQ(d().events[2], (EventRecord{1, 0, s.Pos(50000), 1, event::kMagAdjusting}));
    EXPECT_EQ(d().ClickCount(), 1) << "a pending insert is not counted as a click";
    {
        CAdjustMode mode(d());
        ASSERT_TRUE(mode.IsOpen());
        EXPECT_EQ(d().events[2].width, 100);
        mode.Adjust(60, s.Pos(50100));  // tried on the audio
        EXPECT_NE(s.Working(), before);
        EXPECT_TRUE(d().IsAdjusting());
        mode.Abort();
    }
    SelectEvent(d(), 1);  // moving on abandons it
    EXPECT_EQ(s.List(), (std::vector<EventRecord>{Rec(30000, 40)}));
    EXPECT_EQ(s.Working(), before);
    s.ExpectListConsistent("after the abandoned insert");
    EXPECT_FALSE(InsertManualCorrection(d(), s.Pos(30000))) << "a record lies there";
    EXPECT_FALSE(InsertManualCorrection(d(), d().dataStart + 100)) << "outside the analysis limits";
}

TEST_F(EditOps, ApplyMakesTheCorrectionTheUsersAndAbortPutsItBack)
{
    s.SetList({Rec(20000, 40), Rec(40000, 8), Rec(60000, 100)});
    const auto before = s.Working();
    d().selectedEvent = 2;
    {
        CAdjustMode mode(d());
        mode.Adjust(100, s.Pos(61000));
        mode.Abort();
    }
    EXPECT_EQ(s.List(), (std::vector<EventRecord>{Rec(20000, 40), Rec(40000, 8), Rec(60000, 100)}));
    EXPECT_EQ(s.Working(), before);
    {
        CAdjustMode mode(d());
        mode.Adjust(60, s.Pos(70000) + 1);  // past the third: it moves in the list, onto the frame grid
        ASSERT_TRUE(mode.Apply().Ok());
        EXPECT_FALSE(d().IsAdjusting());
    }
    EXPECT_EQ(s.List(), (std::vector<EventRecord>{Rec(20000, 40), Rec(60000, 100),
                                                  Rec(70000, 60, 1, event::kMagEdited)}));
    EXPECT_EQ(d().selectedEvent, 3);
    s.ExpectListConsistent("after Apply");
    s.ExpectAudioConsistent("after Apply");
}

// A side with clicks for the scans.
class RescanOps : public ::testing::Test {
protected:
    void SetUp() override
    {
        s.Load(scantest::WithClicks(scantest::QuietMusic(), scantest::PlantedClicks()));
        d().rescanSensitivity = 4;
    }
    CQuillon3Doc& d() { return s.Doc(); }
    EditSide s;
};

TEST_F(RescanOps, ASuperScanOverPassesOneAndTwoAddsPassThreeAndCombinesEqualPositions)
{
    RescanRequest plain;
    plain.wholeFile = true;
    ASSERT_TRUE(Rescan(d(), plain).Ok());
    const auto found = s.List();
    ASSERT_GE(found.size(), 8u);
    for (const EventRecord& e : found) EXPECT_LE(e.pass, 1);

    // Passes 1 and 2 in the list, one of them where the scanner finds a click
    // (correcting neither channel, so it is found again just there), the
    // other clicks left uncorrected.
    EventRecord again = found[0];
    again.pass = 2;
    again.width = event::kLeftUncorrected | event::kRightUncorrected;
    s.SetList({again, {1, 0, s.Pos(150000), 8, 5}});
    RescanRequest super;
    super.superimpose = true;
    super.wholeFile = true;
    std::string caption;
    super.dialog = [&](CQuillon3Doc&, std::string_view c, std::string_view, RescanRequest& r) {
        caption = c;
        r.passes = 2;
        return true;
    };
    ASSERT_TRUE(Rescan(d(), super).Ok());
    EXPECT_EQ(caption, kCaptionSuperScanFile);
    const auto after = s.List();
    EXPECT_GE(d().maxPass, 3);
    int newOnes = 0;
    for (const EventRecord& e : after) newOnes += e.pass == 3;
    EXPECT_GE(newOnes, 5);
    const auto kept = std::find_if(after.begin(), after.end(), [&](const EventRecord& e) { return e.pos == again.pos; });
    ASSERT_NE(kept, after.end());
    EXPECT_EQ(kept->pass, 2) << "combined into the record that was there";
    // Each layer that finds it again combines: the channel choice stays the
    // entry's, the width code is the largest found. The run is made again
    // from the list, so the click stays uncorrected and the second layer
    // finds it once more.
    EXPECT_EQ(kept->width & ~event::kWidthCodeMask, again.width) << "the entry's channel choice";
    EXPECT_GE(kept->width & event::kWidthCodeMask, found[0].width & event::kWidthCodeMask)
        << "the larger width of the two";
    for (size_t i = 1; i < after.size(); ++i) EXPECT_NE(after[i - 1].pos, after[i].pos);
    EXPECT_FALSE(d().HasBlock());
    EXPECT_EQ(d().selectedEvent, 1);
    s.ExpectListConsistent("after the super-scan");
    s.ExpectAudioConsistent("after the super-scan");
    const auto& log = *s.side.ui.Progresses().back();
    EXPECT_EQ(log.captions.front(), "Re-Scanning");
    EXPECT_EQ(log.stageNames.at(0), "Scan for Clicks; Pass 2 of 2");
}

TEST_F(RescanOps, APlainFileRescanEmptiesTheListUnlessAUserCorrectionIsThere)
{
    s.SetList({{1, 0, s.Pos(30000), 40, 12}, {1, 0, s.Pos(300000), 100, event::kMagEdited}});
    RescanRequest request;
    request.wholeFile = true;
    std::string caption, text;
    request.dialog = [&](CQuillon3Doc&, std::string_view c, std::string_view t, RescanRequest&) {
        caption = c;
        text = t;
        return true;
    };
    ASSERT_TRUE(Rescan(d(), request).Ok());
    EXPECT_EQ(caption, kCaptionRescanFile);
    EXPECT_EQ(text, kTextRescanFile);
    auto list = s.List();
    EXPECT_NE(std::find(list.begin(), list.end(), EventRecord{1, 0, s.Pos(300000), 100, event::kMagEdited}),
              list.end())
        << "the user's correction stays";
    s.ExpectListConsistent("with a user correction");
    s.ExpectAudioConsistent("with a user correction");

    s.SetList({{1, 0, s.Pos(30000), 40, 12}});
    request.dialog = nullptr;
    ASSERT_TRUE(Rescan(d(), request).Ok());
    list = s.List();
    EXPECT_EQ(std::find(list.begin(), list.end(), EventRecord{1, 0, s.Pos(30000), 40, 12}), list.end());
    s.ExpectListConsistent("without one");
    s.ExpectAudioConsistent("without one", false);
}

TEST_F(RescanOps, ABlockRescanKeepsTheBlockAndTheCurrentRecord)
{
    s.SetList({{1, 0, s.Pos(100000), 40, 12}, {1, 0, s.Pos(400000), 40, 12}});
    d().blockStart = s.Pos(50000);
    d().blockEnd = s.Pos(200000);
    d().selectedEvent = 2;
    RescanRequest request;
    request.dialog = [](CQuillon3Doc&, std::string_view, std::string_view, RescanRequest&) { return false; };
    EXPECT_EQ(Rescan(d(), request).kind, FailKind::Declined);
    request.dialog = nullptr;
    ASSERT_TRUE(Rescan(d(), request).Ok());
    EXPECT_EQ(d().blockStart, s.Pos(50000));
    EXPECT_EQ(d().events[d().selectedEvent], (EventRecord{1, 0, s.Pos(400000), 40, 12}));
    for (const EventRecord& e : s.List())
        if (e.pos != s.Pos(400000)) EXPECT_TRUE(e.pos >= s.Pos(50000) && e.pos <= s.Pos(200000)) << e.pos;
    s.ExpectListConsistent("after the block re-scan");
    s.ExpectAudioConsistent("after the block re-scan");
}

}  // namespace
}  // namespace kelvane
