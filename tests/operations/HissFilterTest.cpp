// "Hiss Filter...", "Remove Hiss Filter", the profile capture and the tape
// branch of the automatic processing: what the working file holds after
// each, how a stop is recovered, and the task lines and texts shown.

#include "document/CancelQuestions.h"
#include "document/StatusTexts.h"
#include "operations/HissFilter.h"
#include "tests/filters/FilterTestDoc.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

using filtertest::LoadedSide;

const std::string kFilterRemoved(cancel::kFilterRemoved);
const std::string kHissFilterRemoved(cancel::kHissFilterRemoved);

// Hiss, then music with a few clicks; long enough for two chunks.
std::vector<int32_t> TapeSide(bool clicks = false)
{
    std::vector<int32_t> side = filtertest::HissThenMusic(30000, 90000, 300);
    if (clicks)
        for (int k = 0; k < 6; ++k) test::AddClick(side, 2, 40000 + 12000 * k, 3 + k, 9000, test::kBoth, 20 + k);
    return side;
}

// Presses Cancel when the progress first reaches `at` (by default the
// first chunk of the next pass).
void CancelAtFirstChunk(LoadedSide& s, int32_t at = 0)
{
    if (at == 0) at = s.doc->dataStart;
    s.ui.OnCreateProgress([at](test::RecordingProgress& p, size_t) { p.CancelAtPos(at); });
}

// The side processed as vinyl: its clicks corrected, status "Ready to Save".
void CorrectAsVinyl(LoadedSide& s)
{
    ProcessRequest vinyl;
    vinyl.source = settings::kSourceVinyl;
    ASSERT_TRUE(ProcessRecording(*s.doc, vinyl).Ok());
    ASSERT_TRUE(HasCorrections(*s.doc));
    ASSERT_EQ(s.doc->status, kStatusReadyToSave);
}

TEST(HissFilterTexts, LabelsAndAppliedFilters)
{
    EXPECT_EQ(HissLabel(0), "Hiss Reduction: Off");
    EXPECT_EQ(HissLabel(1), "Hiss Reduction: 8dB");
    EXPECT_EQ(HissLabel(2), "Hiss Reduction: 14dB");
    EXPECT_EQ(HissLabel(3), "Hiss Reduction: 20dB");
}

TEST(HissFilter, ApplyingTwiceReplacesTheFilterInsteadOfAddingToIt)
{
    LoadedSide s;
    ASSERT_TRUE(s.Load(TapeSide()));
    EXPECT_EQ(AppliedFiltersText(*s.doc), "Currently Applied Filters:\nNone");
    HissFilterRequest request;
    request.strength = 2;
    ASSERT_TRUE(ApplyHissFilter(*s.doc, request).Ok());
    EXPECT_EQ(s.doc->hissApplied, 2);
    EXPECT_EQ(s.doc->filtersApplied, 1);
    EXPECT_EQ(s.doc->status, kStatusReadyToSave);
    EXPECT_TRUE(s.doc->noise.leadIn.Exists());
    EXPECT_EQ(AppliedFiltersText(*s.doc), "Currently Applied Filters:\nHiss.");
    EXPECT_NE(StatusWindowText(*s.doc).find("Currently Applied Filters:\n\tHiss\n"), std::string::npos);
    const std::vector<int32_t> once = s.Working();
    EXPECT_NE(once, s.Source());

    ASSERT_TRUE(ApplyHissFilter(*s.doc, request).Ok());
    EXPECT_EQ(s.doc->hissApplied, 2);
    EXPECT_EQ(s.Working(), once);
    const auto& log = *s.ui.Progresses().back();
    EXPECT_EQ(log.captions.back(), "Applying Filters");
    EXPECT_EQ(log.stageNames.at(0), "Remove existing filters");
    EXPECT_EQ(log.stageNames.at(1), "Hiss Filter");

    // Strength 0 only takes the filter away.
    request.strength = 0;
    ASSERT_TRUE(ApplyHissFilter(*s.doc, request).Ok());
    EXPECT_EQ(s.doc->filtersApplied, 0);
    EXPECT_EQ(s.Working(), s.Source());
}

TEST(HissFilter, TheDialogStartsAtTheStrengthAndItsCancelChangesNothing)
{
    LoadedSide s;
    ASSERT_TRUE(s.Load(TapeSide()));
    s.doc->subtractor = 3;
    HissFilterRequest request;
    int32_t shownAt = -1;
    request.dialog = [&](CQuillon3Doc&, int32_t& strength) {
        shownAt = strength;
        return false;
    };
    EXPECT_EQ(ApplyHissFilter(*s.doc, request).kind, FailKind::Declined);
    EXPECT_EQ(shownAt, 3);
    EXPECT_EQ(s.doc->filtersApplied, 0);
    EXPECT_EQ(s.Working(), s.Source());
}

TEST(HissFilter, AStoppedPassWithoutCorrectionsRestoresWhatItFiltered)
{
    LoadedSide s;
    ASSERT_TRUE(s.Load(TapeSide()));
    CancelAtFirstChunk(s);
    s.ui.Expect(kFilterRemoved, MbAnswer::Yes);
    HissFilterRequest request;
    request.strength = 3;
    EXPECT_EQ(ApplyHissFilter(*s.doc, request).kind, FailKind::Cancelled);
    EXPECT_EQ(s.Working(), s.Source());
    EXPECT_EQ(s.doc->filtersApplied, 0);
    EXPECT_EQ(s.doc->hissApplied, 0);
    const auto& log = *s.ui.Progresses().back();
    EXPECT_EQ(log.stageNames.at(0), "Operation Cancelled");
    EXPECT_EQ(log.stageNames.at(1), "Recover Waveform");
    EXPECT_EQ(log.stageNames.at(2), "");
}

TEST(HissFilter, AStoppedPassWithCorrectionsAndAnEarlierFilterGivesTheCorrectedWaveBack)
{
    LoadedSide s;
    ASSERT_TRUE(s.Load(TapeSide(true)));
    CorrectAsVinyl(s);
    const std::vector<int32_t> corrected = s.Working();
    HissFilterRequest request;
    request.strength = 1;
    ASSERT_TRUE(ApplyHissFilter(*s.doc, request).Ok());
    ASSERT_NE(s.Working(), corrected);

    CancelAtFirstChunk(s);
    s.ui.Expect(kFilterRemoved, MbAnswer::Yes);
    request.strength = 3;
    EXPECT_EQ(ApplyHissFilter(*s.doc, request).kind, FailKind::Cancelled);
    EXPECT_EQ(s.Working(), corrected);
    EXPECT_EQ(s.doc->filtersApplied, 0);
    const auto& log = *s.ui.Progresses().back();
    EXPECT_EQ(log.stageNames.at(0), "Remove existing filters");
    EXPECT_EQ(log.stageNames.at(1), "Recover Corrections");
    EXPECT_EQ(log.stageNames.at(2), "Operation Cancelled");
    EXPECT_EQ(log.stageNames.at(3), "Recover Waveform");
    EXPECT_EQ(log.stageNames.at(4), "Recover Corrections");
}

TEST(HissFilter, RemoveAsksThenGivesTheCorrectedWaveBack)
{
    LoadedSide s;
    ASSERT_TRUE(s.Load(TapeSide(true)));
    CorrectAsVinyl(s);
    const std::vector<int32_t> corrected = s.Working();
    HissFilterRequest request;
    request.strength = 2;
    ASSERT_TRUE(ApplyHissFilter(*s.doc, request).Ok());
    const std::vector<int32_t> filtered = s.Working();

    s.ui.Expect({kMsgRemoveHissFilter, MbAnswer::Cancel, std::nullopt, MbButtons::OkCancel});
    EXPECT_EQ(RemoveHissFilter(*s.doc).kind, FailKind::Declined);
    EXPECT_EQ(s.Working(), filtered);
    s.ui.Expect(kMsgRemoveHissFilter, MbAnswer::Ok);
    ASSERT_TRUE(RemoveHissFilter(*s.doc).Ok());
    EXPECT_EQ(s.Working(), corrected);
    EXPECT_EQ(s.doc->filtersApplied, 0);
    EXPECT_EQ(s.ui.Progresses().back()->stageNames.at(1), "Recover Corrections");
    EXPECT_EQ(RemoveHissFilter(*s.doc).kind, FailKind::BadInput);
}

TEST(HissFilter, CaptureNeedsAMarkedBlockOfAtLeastOneFrame)
{
    LoadedSide s;
    ASSERT_TRUE(s.Load(TapeSide()));
    s.ui.AllowOkBoxes(true);
    EXPECT_EQ(CaptureNoiseProfile(*s.doc, ProfileSlot::LeadIn).kind, FailKind::BadInput);
    s.doc->blockStart = s.FramePos(1000);
    s.doc->blockEnd = s.FramePos(1400);
    EXPECT_EQ(CaptureNoiseProfile(*s.doc, ProfileSlot::LeadIn).kind, FailKind::BadInput);
    ASSERT_EQ(s.ui.Texts().size(), 2u);
    EXPECT_EQ(s.ui.Texts()[0], kMsgNoBlockSelected);
    EXPECT_EQ(s.ui.Texts()[1], WithText(kMsgProfileBlockTooShort, "512"));
    EXPECT_FALSE(s.doc->noise.leadIn.Exists());

    s.doc->blockEnd = s.FramePos(9000);
    s.ui.Expect(kMsgCaptureProfile, MbAnswer::Ok);
    ASSERT_TRUE(CaptureNoiseProfile(*s.doc, ProfileSlot::LeadIn).Ok());
    EXPECT_EQ(s.doc->noise.leadIn.start, s.FramePos(1000));
    EXPECT_GT(s.doc->noise.leadInLeft[100], 0);
    s.ui.Expect(kMsgCaptureProfile, MbAnswer::Ok);
    ASSERT_TRUE(CaptureNoiseProfile(*s.doc, ProfileSlot::LeadOut).Ok());
    EXPECT_EQ(s.ui.Texts().back(), kMsgBlockCaptured);
    EXPECT_EQ(s.doc->noise.leadOutLeft, s.doc->noise.leadInLeft);
}

TEST(TapeProcessing, ATapeSideIsFilteredAtItsStrengthAfterTheLoad)
{
    LoadedSide s;
    ASSERT_TRUE(s.Load(TapeSide()));
    ProcessRequest tape;
    tape.subtractor = 2;
    ASSERT_TRUE(ProcessRecording(*s.doc, tape).Ok());
    EXPECT_EQ(s.doc->status, kStatusReadyToSave);
    EXPECT_EQ(s.doc->hissApplied, 2);
    EXPECT_EQ(s.doc->filtersApplied, 1);
    EXPECT_EQ(s.doc->ClickCount(), 0);
    EXPECT_NE(s.Working(), s.Source());
    const auto& log = *s.ui.Progresses().back();
    EXPECT_EQ(log.stageNames.at(0), "Scan for Tracks");
    EXPECT_EQ(log.stageNames.at(1), "Apply Hiss Filter");
}

TEST(TapeProcessing, AStoppedHissPassPutsTheUnfilteredWaveBack)
{
    LoadedSide s;
    ASSERT_TRUE(s.Load(TapeSide()));
    // At the end of the load: the press reaches the hiss pass.
    CancelAtFirstChunk(s, s.doc->dataEnd);
    s.ui.Expect(kHissFilterRemoved, MbAnswer::Yes);
    ProcessRequest tape;
    tape.subtractor = 3;
    EXPECT_EQ(ProcessRecording(*s.doc, tape).kind, FailKind::Cancelled);
    EXPECT_EQ(s.Working(), s.Source());
    EXPECT_EQ(s.doc->filtersApplied, 0);
    const auto& log = *s.ui.Progresses().back();
    EXPECT_EQ(log.stageNames.at(0), "Operation Cancelled");
    EXPECT_EQ(log.stageNames.at(1), "Recover Waveform");
}

}  // namespace
}  // namespace kelvane
