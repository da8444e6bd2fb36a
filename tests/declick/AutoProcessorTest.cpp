// The automatic processing of a vinyl side: its statuses, the re-processing
// question, and the recovery when the user stops a stage.

#include "declick/CAutoProcessor.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "settings/SettingsStore.h"
#include "tests/declick/ScannerTestRecording.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

constexpr const char* kContinueWithoutScan =
    "Do you want to continue loading the file\nwithout scanning for clicks?\n(This can take a few minutes)";

struct AutoFixture : ::testing::Test {
    test::TempDir dir;
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    std::unique_ptr<CQuillon3Doc> doc;
    std::string path;

    void SetUp() override
    {
        settings.Set(settings::TempMode, settings::kTempModeSameFolder);
        settings.Set(settings::Sensitivity, 3);
        path = dir.file("side.wav").string();
        ASSERT_TRUE(test::WriteWav(path, {}, scantest::WithClicks(scantest::QuietMusic(), scantest::PlantedClicks())));
        doc = std::make_unique<CQuillon3Doc>(settings, ui);
        ASSERT_TRUE(OpenRecording(*doc, path).Ok());
        ASSERT_EQ(doc->status, kStatusNotScanned);
    }
    // Two boundary markers standing in for the track finder's.
    static void AddMarkers(CQuillon3Doc& d)
    {
        d.events.InsertAt(d.events.Size() - 1, EventRecord{1, 0, d.dataStart + 4 * 30000, event::TrackStartMarker(1), 0});
        d.events.InsertAt(d.events.Size() - 1, EventRecord{1, 0, d.dataEnd - 4 * 30000, event::TrackEndMarker(1), 0});
        std::stable_sort(d.events.begin() + 1, d.events.end() - 1,
                         [](const EventRecord& a, const EventRecord& b) { return a.pos < b.pos; });
    }
    int Markers() const
    {
        int n = 0;
        for (int32_t i = 1; i + 1 < doc->events.Size(); ++i) n += doc->events[i].IsMarker() ? 1 : 0;
        return n;
    }
};

TEST_F(AutoFixture, VinylSideEndsReadyToSaveWithItsClicksCorrected)
{
    CAutoProcessor p(*doc);
    EXPECT_EQ(p.Run(), AutoOutcome::Completed);
    EXPECT_EQ(doc->status, kStatusReadyToSave);
    EXPECT_EQ(doc->events.Size() - 2, static_cast<int32_t>(scantest::PlantedClicks().size()));
    EXPECT_EQ(doc->selectedEvent, 1);
    EXPECT_NE(test::ReadFileBytes(doc->workingPath), test::ReadFileBytes(path));
    const auto& log = *ui.Progresses().at(0);
    EXPECT_EQ(log.stageNames.at(0), "Scan for Tracks and Clicks");
    EXPECT_EQ(log.stageNames.at(1), "Generate Corrections");
}

TEST_F(AutoFixture, SensitivityZeroOnlyLoads)
{
    doc->sensitivity = 0;
    CAutoProcessor p(*doc);
    EXPECT_EQ(p.Run(), AutoOutcome::Completed);
    EXPECT_EQ(doc->status, kStatusNotCorrected);
    EXPECT_EQ(doc->events.Size(), 2);
    EXPECT_EQ(test::ReadFileBytes(doc->workingPath), test::ReadFileBytes(path));
    EXPECT_EQ(ui.Progresses().at(0)->stageNames.at(0), "Scan for Tracks");
}

TEST_F(AutoFixture, NoStoredSettingsShowTheOptionsWhichMayCancel)
{
    doc->sensitivity = -1;
    int shown = 0;
    CAutoProcessor p(*doc);
    p.SetOptionsDialog([&](CQuillon3Doc& d) {
        ++shown;
        EXPECT_EQ(d.sensitivity, 3);
        return false;
    });
    EXPECT_EQ(p.Run(), AutoOutcome::Declined);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(doc->status, kStatusNotScanned);
}

TEST_F(AutoFixture, ReprocessingAsksFirst)
{
    CAutoProcessor p(*doc);
    ASSERT_EQ(p.Run(), AutoOutcome::Completed);
    int shown = 0;
    p.SetOptionsDialog([&](CQuillon3Doc&) { return ++shown > 0; });
    ui.Expect({kMsgReprocess, MbAnswer::No, std::string(kCaptionReprocess), MbButtons::YesNo, MbIcon::Question});
    EXPECT_EQ(p.Run(), AutoOutcome::Declined);
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(doc->status, kStatusReadyToSave);
    ui.Expect(kMsgReprocess, MbAnswer::Yes);
    EXPECT_EQ(p.Run(), AutoOutcome::Completed);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(doc->status, kStatusReadyToSave);
    EXPECT_EQ(doc->events.Size() - 2, static_cast<int32_t>(scantest::PlantedClicks().size()));
    ui.ExpectDone();
}

TEST_F(AutoFixture, StoppedGenerationRestoresTheWaveformAndKeepsOnlyMarkers)
{
    CAutoProcessor p(*doc);
    p.SetTrackFinder(AddMarkers);
    // The load pass pumps twice per chunk (9 chunks); the corrector polls
    // once per record: the 21st pump falls inside correction generation.
    ui.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(22); });
    ui.Expect({"Really Cancel?", MbAnswer::Yes, std::nullopt, MbButtons::YesNo, MbIcon::Question});
    EXPECT_EQ(p.Run(), AutoOutcome::Stopped);
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
}

TEST_F(AutoFixture, StoppedScanDiscardsItsFindsButLoadsTheWholeFile)
{
    CAutoProcessor p(*doc);
    p.SetTrackFinder(AddMarkers);
    ui.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(7); });
    ui.Expect(kContinueWithoutScan, MbAnswer::Yes);
    EXPECT_EQ(p.Run(), AutoOutcome::Stopped);
    EXPECT_EQ(doc->status, kStatusScanIncomplete);
    EXPECT_EQ(Markers(), 2);
    EXPECT_EQ(doc->events.Size(), 4);
    EXPECT_EQ(test::ReadFileBytes(doc->workingPath), test::ReadFileBytes(path));
}

TEST_F(AutoFixture, ReprocessingWithoutAClickScanDropsTheOldCorrectionsButKeepsMarkers)
{
    CAutoProcessor p(*doc);
    ASSERT_EQ(p.Run(), AutoOutcome::Completed);
    ASSERT_GT(doc->ClickCount(), 0);
    AddMarkers(*doc);
    doc->sensitivity = 0;
    ui.Expect(kMsgReprocess, MbAnswer::Yes);
    EXPECT_EQ(p.Run(), AutoOutcome::Completed);
    EXPECT_EQ(doc->status, kStatusNotCorrected);
    EXPECT_EQ(Markers(), 2);
    EXPECT_EQ(doc->events.Size(), 4);  // the sentinels and the two markers: no correction
    for (int32_t v : doc->segmentCorrections) EXPECT_EQ(v, 0);
    EXPECT_EQ(test::ReadFileBytes(doc->workingPath), test::ReadFileBytes(path));
}

TEST_F(AutoFixture, AWorkingFileThatRefusesCorrectionsIsReportedNotReadyToSave)
{
    CAutoProcessor p(*doc);
    // Between the load and the corrections the working file becomes one
    // that cannot be written.
    p.SetTrackFinder([](CQuillon3Doc& d) { ASSERT_TRUE(d.workingFile.Open(d.workingPath, CWaveFile::Mode::Read)); });
    ui.AllowOkBoxes(true);
    EXPECT_EQ(p.Run(), AutoOutcome::Failed);
    EXPECT_EQ(doc->status, kStatusAborted);
    ASSERT_FALSE(ui.Messages().empty());
    EXPECT_NE(ui.Messages().back().text.find(doc->workingPath), std::string::npos);
    EXPECT_EQ(ui.Messages().back().icon, MbIcon::Error);
}

TEST_F(AutoFixture, ARecoveryThatCannotReadTheSourceIsReported)
{
    CAutoProcessor p(*doc);
    p.SetTrackFinder([](CQuillon3Doc& d) { d.sourceFile.Close(); });
    ui.AllowOkBoxes(true);
    ui.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(22); });
    ui.Expect({"Really Cancel?", MbAnswer::Yes, std::nullopt, MbButtons::YesNo, MbIcon::Question});
    EXPECT_EQ(p.Run(), AutoOutcome::Failed);
    EXPECT_EQ(doc->status, kStatusAborted);
    ASSERT_FALSE(ui.Messages().empty());
    EXPECT_EQ(ui.Messages().back().icon, MbIcon::Error);
}

}  // namespace
}  // namespace kelvane
