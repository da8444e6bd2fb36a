// The automatic processing of a vinyl side as both front ends run it: its
// statuses, the re-processing question, the track finder at the end of the
// load, and the recovery when the user stops a stage; and how each ending is
// reported.

#include "document/CQuillon3Doc.h"
#include "document/CancelQuestions.h"
#include "document/DocumentOpen.h"
#include "operations/ProcessRecording.h"
#include "settings/SettingsStore.h"
#include "tests/declick/ScannerTestRecording.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <utility>

namespace kelvane {
namespace {

const std::string kContinueWithoutScan(cancel::kContinueWithoutClickScan);
const std::string kReallyCancel(cancel::kReallyCancel);

// Runs `atCorrections` when the chain moves on to its second stage, between
// the load (with the track finder) and the corrections; its window presses
// Cancel at cancelAtPump (0: never) and keeps no log.
class StageHookUi : public test::ScriptedInteraction {
public:
    std::function<void()> atCorrections;
    int cancelAtPump = 0;

    std::unique_ptr<CProgressWnd> CreateProgress(bool savingLayout) override
    {
        if (!atCorrections) return ScriptedInteraction::CreateProgress(savingLayout);
        auto window = std::make_unique<Window>(savingLayout, atCorrections);
        window->CancelAtPump(cancelAtPump);
        return window;
    }

private:
    class Window : public test::RecordingProgress {
    public:
        Window(bool saving, std::function<void()> hook) : RecordingProgress(saving), hook_(std::move(hook)) {}

    protected:
        void Changed(Field field) override
        {
            RecordingProgress::Changed(field);
            if (field == Field::Stages && CurrentStage() == 1 && MarkedStage() == -1 && hook_) std::exchange(hook_, {})();
        }

    private:
        std::function<void()> hook_;
    };
};

struct ProcessFixture : ::testing::Test {
    test::TempDir dir;
    CMemorySettings settings;
    StageHookUi ui;
    std::unique_ptr<CQuillon3Doc> doc;
    std::string path;

    void SetUp() override
    {
        settings.Set(settings::TempMode, settings::kTempModeSameFolder);
        settings.Set(settings::Sensitivity, 3);
        settings.Set(settings::SplitTracks, 0);
        path = dir.file("side.wav").string();
        ASSERT_TRUE(test::WriteWav(path, {}, scantest::WithClicks(scantest::QuietMusic(), scantest::PlantedClicks())));
        doc = std::make_unique<CQuillon3Doc>(settings, ui);
        ASSERT_TRUE(OpenRecording(*doc, path).Ok());
        ASSERT_EQ(doc->status, kStatusNotScanned);
    }
    int Markers() const
    {
        int n = 0;
        for (int32_t i = 1; i + 1 < doc->events.Size(); ++i) n += doc->events[i].IsMarker() ? 1 : 0;
        return n;
    }
    // The track finder's single track, with its two boundary markers: the
    // side is too short to be divided.
    static ProcessRequest WithTrackFinder()
    {
        ProcessRequest request;
        request.splitTracks = 1;
        return request;
    }
};

TEST_F(ProcessFixture, VinylSideEndsReadyToSaveWithItsClicksCorrected)
{
    EXPECT_TRUE(ProcessRecording(*doc, {}).Ok());
    EXPECT_EQ(doc->status, kStatusReadyToSave);
    EXPECT_EQ(doc->events.Size() - 2, static_cast<int32_t>(scantest::PlantedClicks().size()));
    EXPECT_EQ(doc->selectedEvent, 1);
    EXPECT_NE(test::ReadFileBytes(doc->workingPath), test::ReadFileBytes(path));
    const auto& log = *ui.Progresses().at(0);
    EXPECT_EQ(log.captions.at(0), "Scanning Waveform");
    EXPECT_EQ(log.stageNames.at(0), "Scan for Tracks and Clicks");
    EXPECT_EQ(log.stageNames.at(1), "Generate Corrections");
}

TEST_F(ProcessFixture, TheRequestsScanSettingsAndTrackFinderApply)
{
    ProcessRequest request = WithTrackFinder();
    request.sensitivity = 0;
    EXPECT_TRUE(ProcessRecording(*doc, request).Ok());
    EXPECT_EQ(doc->sensitivity, 0);
    EXPECT_EQ(doc->status, kStatusNotCorrected);
    EXPECT_EQ(doc->TrackCount(), 1);
    EXPECT_EQ(Markers(), 2);
    EXPECT_EQ(doc->events.Size(), 4);
    EXPECT_EQ(test::ReadFileBytes(doc->workingPath), test::ReadFileBytes(path));
    EXPECT_EQ(ui.Progresses().at(0)->stageNames.at(0), "Scan for Tracks");
    EXPECT_EQ(ui.Progresses().at(0)->messages.back(), "No tracks were found");
}

TEST_F(ProcessFixture, NoStoredSettingsShowTheOptionsWhoseCancelIsDeclined)
{
    doc->sensitivity = -1;
    int shown = 0;
    ProcessRequest request;
    request.optionsDialog = [&](CQuillon3Doc& d) {
        ++shown;
        EXPECT_EQ(d.sensitivity, 3);
        return false;
    };
    EXPECT_EQ(ProcessRecording(*doc, request).kind, FailKind::Declined);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(doc->status, kStatusNotScanned);
}

TEST_F(ProcessFixture, RescanAllAsksFirstAndNoIsDeclined)
{
    EXPECT_EQ(RescanAll(*doc, {}).kind, FailKind::None);
    int shown = 0;
    ProcessRequest request;
    request.optionsDialog = [&](CQuillon3Doc&) { return ++shown > 0; };
    ui.Expect({kMsgReprocess, MbAnswer::No, std::string(kCaptionReprocess), MbButtons::YesNo, MbIcon::Question});
    const OpResult declined = RescanAll(*doc, request);
    EXPECT_EQ(declined.kind, FailKind::Declined);
    EXPECT_EQ(declined.message, kMsgReprocess);
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(doc->status, kStatusReadyToSave);
    ui.Expect(kMsgReprocess, MbAnswer::Yes);
    EXPECT_TRUE(RescanAll(*doc, request).Ok());
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(doc->status, kStatusReadyToSave);
    EXPECT_EQ(doc->events.Size() - 2, static_cast<int32_t>(scantest::PlantedClicks().size()));
    ui.ExpectDone();

    doc->DeleteContents();
    EXPECT_EQ(RescanAll(*doc, {}).kind, FailKind::BadInput);
}

TEST_F(ProcessFixture, StoppedGenerationRestoresTheWaveformAndKeepsOnlyMarkers)
{
    // The load pass pumps twice per chunk (9 chunks); the corrector polls
    // once per record: the 21st pump falls inside correction generation.
    ui.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(22); });
    ui.Expect({kReallyCancel, MbAnswer::Yes, std::nullopt, MbButtons::YesNo, MbIcon::Question});
    EXPECT_EQ(ProcessRecording(*doc, WithTrackFinder()).kind, FailKind::Cancelled);
    ui.ExpectDone();
    EXPECT_EQ(doc->status, kStatusAborted);
    EXPECT_EQ(Markers(), 2);
    EXPECT_EQ(doc->events.Size(), 4);
    for (int32_t v : doc->segmentCorrections) EXPECT_EQ(v, 0);
    EXPECT_EQ(test::ReadFileBytes(doc->workingPath), test::ReadFileBytes(path));
    const auto& log = *ui.Progresses().at(0);
    EXPECT_EQ(log.stageNames.at(0), "Operation Cancelled");
    EXPECT_EQ(log.stageNames.at(1), "Recover Waveform");
    EXPECT_EQ(log.stages.back(), (std::pair<int, int>{1, 0}));
    // The recovery cannot be stopped halfway, and Cancel comes back after it.
    ASSERT_GE(log.cancelEnabled.size(), 2u);
    EXPECT_EQ(log.cancelEnabled[log.cancelEnabled.size() - 2], false);
    EXPECT_EQ(log.cancelEnabled.back(), true);
}

TEST_F(ProcessFixture, StoppedScanDiscardsItsFindsButLoadsTheWholeFile)
{
    ui.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(7); });
    ui.Expect(kContinueWithoutScan, MbAnswer::Yes);
    EXPECT_EQ(ProcessRecording(*doc, WithTrackFinder()).kind, FailKind::Cancelled);
    EXPECT_EQ(doc->status, kStatusScanIncomplete);
    EXPECT_EQ(Markers(), 2);
    EXPECT_EQ(doc->events.Size(), 4);
    EXPECT_EQ(test::ReadFileBytes(doc->workingPath), test::ReadFileBytes(path));
}

TEST_F(ProcessFixture, AnAbandonedLoadIsCancelledWithTheDocumentEmpty)
{
    ui.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(3); });
    ui.Expect(kContinueWithoutScan, MbAnswer::No);
    const OpResult r = ProcessRecording(*doc, {});
    EXPECT_EQ(r.kind, FailKind::Cancelled);
    EXPECT_EQ(doc->status, kStatusNotLoaded);
    EXPECT_EQ(doc->loaded, 0);
}

TEST_F(ProcessFixture, ReprocessingWithoutAClickScanDropsTheOldCorrectionsButKeepsMarkers)
{
    ASSERT_TRUE(ProcessRecording(*doc, WithTrackFinder()).Ok());
    ASSERT_GT(doc->ClickCount(), 0);
    ASSERT_EQ(Markers(), 2);
    ProcessRequest again;
    again.sensitivity = 0;
    again.splitTracks = 0;
    ui.Expect(kMsgReprocess, MbAnswer::Yes);
    EXPECT_TRUE(ProcessRecording(*doc, again).Ok());
    EXPECT_EQ(doc->status, kStatusNotCorrected);
    EXPECT_EQ(Markers(), 2);
    EXPECT_EQ(doc->events.Size(), 4);  // the sentinels and the two markers: no correction
    for (int32_t v : doc->segmentCorrections) EXPECT_EQ(v, 0);
    EXPECT_EQ(test::ReadFileBytes(doc->workingPath), test::ReadFileBytes(path));
}

TEST_F(ProcessFixture, AWorkingFileThatRefusesCorrectionsIsReportedNotReadyToSave)
{
    // Between the load and the corrections the working file becomes one
    // that cannot be written.
    ui.atCorrections = [&] { ASSERT_TRUE(doc->workingFile.Open(doc->workingPath, CWaveFile::Mode::Read)); };
    ui.AllowOkBoxes(true);
    EXPECT_EQ(ProcessRecording(*doc, {}).kind, FailKind::Environment);
    EXPECT_EQ(doc->status, kStatusAborted);
    ASSERT_FALSE(ui.Messages().empty());
    EXPECT_NE(ui.Messages().back().text.find(doc->workingPath), std::string::npos);
    EXPECT_EQ(ui.Messages().back().icon, MbIcon::Error);
}

TEST_F(ProcessFixture, ARecoveryThatCannotReadTheSourceIsReported)
{
    ui.atCorrections = [&] { doc->sourceFile.Close(); };
    ui.AllowOkBoxes(true);
    ui.cancelAtPump = 22;
    ui.Expect({kReallyCancel, MbAnswer::Yes, std::nullopt, MbButtons::YesNo, MbIcon::Question});
    EXPECT_EQ(ProcessRecording(*doc, {}).kind, FailKind::Environment);
    EXPECT_EQ(doc->status, kStatusAborted);
    ASSERT_FALSE(ui.Messages().empty());
    EXPECT_EQ(ui.Messages().back().icon, MbIcon::Error);
}

TEST_F(ProcessFixture, OpenAndProcess_ARefusalOnceOpenedEmptiesTheDocumentBeforeTheWork)
{
    doc->DeleteContents();
    std::string seenWorking;
    OpenRequest open{path, false, [&](CQuillon3Doc& d) {
                         seenWorking = d.workingPath;
                         return OpResult::Fail(FailKind::BadInput, "no");
                     }};
    const OpResult r = OpenAndProcess(*doc, open, {});
    EXPECT_EQ(r.kind, FailKind::BadInput);
    EXPECT_FALSE(seenWorking.empty());
    EXPECT_FALSE(std::filesystem::exists(seenWorking)) << "the working copy stayed";
    EXPECT_EQ(doc->status, kStatusNotLoaded);
    EXPECT_TRUE(ui.Progresses().empty()) << "the processing started";

    open.opened = nullptr;
    EXPECT_TRUE(OpenAndProcess(*doc, open, {}).Ok());
    EXPECT_EQ(doc->status, kStatusReadyToSave);
    ui.AllowOkBoxes(true);
    EXPECT_EQ(OpenAndProcess(*doc, {dir.file("side.mp3").string()}, {}).kind, FailKind::BadInput);
}

}  // namespace
}  // namespace kelvane
