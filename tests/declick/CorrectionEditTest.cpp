// Editing corrections on the document: the merge of new corrections, the
// block removal, removing, adjusting and inserting one correction.

#include "declick/CorrectionEdit.h"
#include "tests/declick/EditTestDoc.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

using test::EditSide;

constexpr size_t kFrames = 3 * 44100;

class EditFixture : public ::testing::Test {
protected:
    void SetUp() override { s.Load(test::EditMusic(kFrames, 5)); }
    CQuillon3Doc& d() { return s.Doc(); }
    EventRecord Rec(int frame, int32_t width, int32_t pass = 1, int32_t mag = 10) const
    {
        return {pass, 0, s.Pos(frame), width, mag};
    }
    EventRecord Marker(int frame, int32_t width) const { return {1, 0, s.Pos(frame), width, 0}; }
    EditSide s;
};

TEST_F(EditFixture, MergeInsertsInOrderCombinesEqualPositionsAndNeverFoldsAMarker)
{
    s.SetList({Rec(10000, 20), Marker(30000, -2), Rec(50000, 8)});
    ResetStaging(d());
    const std::vector<EventRecord> added = {Rec(5000, 4), Rec(10000, 40, 2, 3), Rec(30000, 10, 2),
                                            Rec(50000, 4, 2, event::kMagEdited), Marker(60000, -3)};
    for (const EventRecord& r : added) d().staging.InsertAt(d().staging.Size() - 1, r);
    MergeStaging(d());

    const std::vector<EventRecord> want = {Rec(5000, 4),   Rec(10000, 40),  Rec(30000, 10, 2), Marker(30000, -2),
                                           Rec(50000, 8, 1, event::kMagEdited), Marker(60000, -3)};
    EXPECT_EQ(s.List(), want);
    s.ExpectListConsistent("after the merge");
    ASSERT_FALSE(s.side.ui.Progresses().empty());
    ASSERT_FALSE(s.side.ui.Progresses().back()->messages.empty());
    EXPECT_EQ(s.side.ui.Progresses().back()->messages.back(), kMsgTidyingUp);
}

TEST_F(EditFixture, BlockRemovalKeepsMarkersAndUserCorrectionsAndRestoresTheRest)
{
    for (bool keepUser : {true, false}) {
        SCOPED_TRACE(keepUser);
        s.SetList({Rec(20000, 40), Rec(30000, 4), Marker(35000, -2), Rec(40000, 100, 1, event::kMagEdited),
                   Rec(40030, 8, 2), Rec(60000, 40), Rec(61000, 300, 0)});
        d().blockStart = s.Pos(25000);
        d().blockEnd = s.Pos(60500);
        ASSERT_TRUE(RemoveBlockCorrections(d(), keepUser));
        std::vector<EventRecord> want = {Rec(20000, 40), Marker(35000, -2)};
        if (keepUser) want.push_back(Rec(40000, 100, 1, event::kMagEdited));
        want.push_back(Rec(61000, 300, 0));  // outside the block, overlapping its last record: made again
        EXPECT_EQ(s.List(), want);
        EXPECT_TRUE(d().HasBlock());
        EXPECT_EQ(d().staging.Size(), 2);
        s.ExpectListConsistent("after the block removal");
        s.ExpectAudioConsistent("after the block removal");
    }
}

TEST_F(EditFixture, ABlockDenseWithRecordsIsRestoredWholeThroughTheChunkDriver)
{
    std::vector<EventRecord> many;
    for (int k = 0; k < 40; ++k) many.push_back(Rec(20000 + 150 * k, 8));
    s.SetList(many);
    d().blockStart = s.Pos(19000);
    d().blockEnd = s.Pos(40000);
    const size_t windowsBefore = s.side.ui.Progresses().size();
    ASSERT_TRUE(RemoveBlockCorrections(d(), true));
    EXPECT_TRUE(s.List().empty());
    s.ExpectAudioConsistent("after the block removal");
    EXPECT_EQ(s.Working(), s.source);
    ASSERT_GT(s.side.ui.Progresses().size(), windowsBefore);
    const auto& log = *s.side.ui.Progresses()[windowsBefore];
    ASSERT_FALSE(log.cancelEnabled.empty());
    EXPECT_FALSE(log.cancelEnabled.front()) << "a half-restored block cannot be stopped";
}

}  // namespace
}  // namespace kelvane
