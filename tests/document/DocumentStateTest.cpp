// The document's bookkeeping: list growth, status words, the indicator and
// "Status" window texts, the command-enabling rules.

#include "document/CGrowList.h"
#include "document/CProgressWnd.h"
#include "document/CQuillon3Doc.h"
#include "document/CommandState.h"
#include "document/StatusTexts.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

TEST(GrowList, EventListGrowsInStepsOf5000)
{
    CGrowList<EventRecord> list;
    list.SetGrowStep(5000);
    list.SetSize(1);
    EXPECT_EQ(list.Capacity(), 5000);
    list.SetSize(5000);
    EXPECT_EQ(list.Capacity(), 5000);
    list.Add({});
    EXPECT_EQ(list.Capacity(), 10000);
    // A request larger than one step takes the requested size.
    list.SetSize(30000);
    EXPECT_EQ(list.Capacity(), 30000);
}

TEST(GrowList, WithoutStepGrowsByAnEighthWithinLimits)
{
    CGrowList<int> list;
    list.Add(1);
    EXPECT_EQ(list.Capacity(), 4);  // size/8 = 0 -> at least 4
    list.SetSize(4);
    list.Add(5);
    EXPECT_EQ(list.Capacity(), 8);
    list.SetSize(800);
    EXPECT_EQ(list.Capacity(), 800);
    list.Add(0);
    EXPECT_EQ(list.Capacity(), 900);  // 800/8
    list.SetSize(20000);
    list.Add(0);
    EXPECT_EQ(list.Capacity(), 21024);  // 20000/8 clamped to 1024
}

TEST(GrowList, NewRecordsAreBlankAndIndexErrorsAreRefused)
{
    CGrowList<EventRecord> list;
    list.SetSize(3);
    EXPECT_EQ(list[2], (EventRecord{1, 0, 0, 0, 0}));
    EXPECT_THROW(list.At(3), std::out_of_range);
    EXPECT_THROW(list.RemoveAt(2, 2), std::out_of_range);
    EXPECT_EQ(list.Size(), 3);
    list.InsertAt(1, EventRecord{2, 0, 100, 4, 9});
    EXPECT_EQ(list[1].pos, 100);
    list.RemoveAt(1);
    EXPECT_EQ(list[1].pos, 0);
}

TEST(EventRecordCodes, ReplacementLengthAndMarkers)
{
    EXPECT_EQ(event::ReplacementFrames(0), 2);
    EXPECT_EQ(event::ReplacementFrames(300), ((300 * 3) >> 3) * 2 + 2);
    // Channel bits do not change the length.
    EXPECT_EQ(event::ReplacementFrames(300 | event::kLeftUncorrected), event::ReplacementFrames(300));
    EXPECT_EQ(event::TrackStartMarker(3), -6);
    EXPECT_EQ(event::TrackEndMarker(3), -7);
    EXPECT_EQ(event::MarkerTrack(-7), 3);
    EXPECT_TRUE(event::MarkerIsStart(-6));
    EXPECT_FALSE(event::MarkerIsStart(-7));
}

TEST(ProgressPercent, TextRulesIncluding100)
{
    EXPECT_EQ(CProgressWnd::PercentText(0, 0, 100), "0%");
    EXPECT_EQ(CProgressWnd::PercentText(42, 0, 100), "42%");
    EXPECT_EQ(CProgressWnd::PercentText(100, 0, 100), "100%");
    EXPECT_EQ(CProgressWnd::PercentText(150, 0, 100), "50%");  // past the end wraps
    EXPECT_EQ(CProgressWnd::PercentText(2000000000, 0, 2000000000), "100%");  // no overflow
    EXPECT_EQ(CProgressWnd::PercentText(5, 5, 5), "0%");
}

TEST(ProgressPercent, CancelFlagIsClearedByTheTest)
{
    CProgressWnd w;
    EXPECT_EQ(w.Percent(), " 0 %");
    w.SetRange(0, 200);
    w.SetPos(100);
    EXPECT_EQ(w.Percent(), "50%");
    w.RequestCancel();
    EXPECT_TRUE(w.Cancelled());
    EXPECT_FALSE(w.Cancelled());
    w.SetStep(50);
    w.StepIt();
    EXPECT_EQ(w.Percent(), "75%");
}

struct DocFixture : ::testing::Test {
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    void SetUp() override
    {
        doc.DeleteContents();
        doc.sampleRate = 44100;
        doc.dataStart = 44;
        doc.dataEnd = 44 + 4 * 44100 * 60;
    }
    void AddTracks(int n)
    {
        doc.tracks.RemoveAll();
        doc.tracks.Add({});
        for (int i = 0; i < n; ++i) doc.tracks.Add({});
    }
};

TEST_F(DocFixture, StatusWordsByLowThreeBits)
{
    EXPECT_EQ(StatusWord(0), "Wave Not Loaded");
    EXPECT_EQ(StatusWord(1), "Wave Not Scanned");
    EXPECT_EQ(StatusWord(2), "Scan Incomplete");
    EXPECT_EQ(StatusWord(3), "Wave Not Corrected");
    EXPECT_EQ(StatusWord(4), "Processing Aborted");
    EXPECT_EQ(StatusWord(5), "Ready to Save");
    EXPECT_EQ(StatusWord(6), "");
    EXPECT_EQ(StatusWord(8 + 5), "Ready to Save");
}

TEST_F(DocFixture, EmptyDocumentCountsNeverGoBelowZero)
{
    EXPECT_EQ(ClicksIndicator(doc), "Clicks: 0");
    EXPECT_EQ(TracksIndicator(doc, std::nullopt), "Tracks: 0");
    AddTracks(0);  // "All Tracks" only: 2 events - 2 x 1 track = 0
    EXPECT_EQ(ClicksIndicator(doc), "Clicks: 0");
    // An adjusting insert as current event is not counted, but not below 0.
    doc.events.InsertAt(1, EventRecord{1, 0, 1000, 8, event::kMagAdjusting});
    doc.selectedEvent = 1;
    EXPECT_EQ(ClicksIndicator(doc), "Clicks: 0");
}

TEST_F(DocFixture, ClicksCountSubtractsTwoPerTrackElement)
{
    AddTracks(2);  // track table size 3: markers take 2 x 3 - 2 list entries
    for (int i = 0; i < 10; ++i) doc.events.InsertAt(1, EventRecord{1, 0, 1000 + 4 * i, 8, 5});
    // 12 records - 6 = 6
    EXPECT_EQ(doc.ClickCount(), 6);
    doc.events[1].mag = event::kMagAdjusting;
    doc.selectedEvent = 1;
    EXPECT_EQ(ClicksIndicator(doc), "Clicks: 5");
}

TEST_F(DocFixture, TracksPaneShowsChosenTrackAndMouseTime)
{
    AddTracks(3);
    doc.tracks[2].start = 44 + 4 * 44100 * 10;
    EXPECT_EQ(TracksIndicator(doc, std::nullopt), "Tracks: 3");
    doc.currentTrack = 2;
    EXPECT_EQ(TracksIndicator(doc, std::nullopt), "Tr.2 of 3");
    // 75.5 s after the track start.
    EXPECT_EQ(TracksIndicator(doc, doc.tracks[2].start + 4 * (44100 * 75 + 22050)), " 01:15:500");
    EXPECT_EQ(TracksIndicator(doc, doc.tracks[2].start - 4 * 441), "-00:00:010");
}

TEST_F(DocFixture, StatusWindowText)
{
    EXPECT_EQ(StatusWindowText(doc), "File Not Loaded");
    doc.status = kStatusReadyToSave;
    AddTracks(1);
    doc.bitsPerSample = 24;
    doc.sampleRate = 96000;
    EXPECT_EQ(StatusWindowText(doc),
              "Tracks Found: 1\n\nClicks Corrected: 0\n\nCurrently Applied Filters:\n\tNone\n"
              "\nTreble Control: None\n\nVolume Adjustments\n\tLeft: +0.0dB\n\tRight: +0.0dB"
              "\n\nSample Rate: 96.0 kS/sec\nBit Depth: 24 bits per sample");
    doc.sourceKind = kSourceMono;
    doc.filtersApplied = 1;
    doc.hissApplied = 2;
    const std::string text = StatusWindowText(doc);
    EXPECT_NE(text.find("\tHiss\n"), std::string::npos);
    EXPECT_NE(text.find("\nVolume Adjustment: +0.0dB"), std::string::npos);
}

TEST_F(DocFixture, SaveNeedsATrackAndAFreeView)
{
    ViewState view;
    AddTracks(0);
    EXPECT_FALSE(QueryCommand(Command::Save, doc, view).enabled);
    AddTracks(1);
    EXPECT_TRUE(QueryCommand(Command::Save, doc, view).enabled);
    view.exists = true;
    view.playing = true;
    EXPECT_FALSE(QueryCommand(Command::Save, doc, view).enabled);
    view.playing = false;
    view.adjusting = true;
    EXPECT_FALSE(QueryCommand(Command::Properties, doc, view).enabled);
}

TEST_F(DocFixture, SplitTrackNeedsARecordingNoBlockAndNoPlayback)
{
    ViewState view;
    EXPECT_FALSE(QueryCommand(Command::SplitTrack, doc, view).enabled);
    doc.status = kStatusReadyToSave;
    EXPECT_TRUE(QueryCommand(Command::SplitTrack, doc, view).enabled);
    doc.blockStart = doc.dataStart + 4096;
    doc.blockEnd = doc.dataStart + 8192;
    EXPECT_FALSE(QueryCommand(Command::SplitTrack, doc, view).enabled);
    doc.blockStart = doc.blockEnd = 0;
    view.exists = true;
    view.playing = true;
    EXPECT_FALSE(QueryCommand(Command::SplitTrack, doc, view).enabled);
}

TEST_F(DocFixture, RescanRulesFollowStatusSourceAndFilters)
{
    ViewState none;
    ViewState view{true, false, false, false};
    EXPECT_FALSE(QueryCommand(Command::RescanAll, doc, none).enabled);
    doc.status = kStatusNotScanned;
    EXPECT_TRUE(QueryCommand(Command::RescanAll, doc, none).enabled);
    doc.sourceKind = kSourceFlac;
    EXPECT_TRUE(QueryCommand(Command::RescanAll, doc, none).enabled);  // no view: status only
    EXPECT_FALSE(QueryCommand(Command::RescanAll, doc, view).enabled);
    doc.filtersApplied = 1;
    EXPECT_FALSE(QueryCommand(Command::RescanClicks, doc, view).enabled);
    EXPECT_TRUE(QueryCommand(Command::RemoveHissFilter, doc, view).enabled);
    EXPECT_FALSE(QueryCommand(Command::HissFilter, doc, view).enabled);  // status 1
    doc.status = kStatusScanIncomplete;
    EXPECT_TRUE(QueryCommand(Command::HissFilter, doc, view).enabled);
    EXPECT_FALSE(QueryCommand(Command::EditNoiseProfile, doc, view).enabled);
    view.blockPlay = true;
    EXPECT_FALSE(QueryCommand(Command::HissFilter, doc, view).enabled);
    doc.gapless = 1;
    EXPECT_TRUE(QueryCommand(Command::Gapless, doc, view).checked);
}

TEST_F(DocFixture, MergeTracksOnAnyBoundaryButTheFirstStart)
{
    ViewState view{true, false, false, false};
    AddTracks(3);  // widths -2..-7 are the six boundaries
    doc.events.InsertAt(1, EventRecord{1, 0, 5000, event::TrackStartMarker(1), 0});
    doc.selectedEvent = 1;
    EXPECT_FALSE(QueryCommand(Command::MergeTracks, doc, view).enabled);
    doc.events[1].width = event::TrackEndMarker(1);
    EXPECT_TRUE(QueryCommand(Command::MergeTracks, doc, view).enabled);
    doc.events[1].width = event::TrackEndMarker(3);  // -7 > 2 x 4 - 2
    EXPECT_FALSE(QueryCommand(Command::MergeTracks, doc, view).enabled);
    doc.events[1].width = event::TrackStartMarker(3);
    view.adjusting = true;
    EXPECT_FALSE(QueryCommand(Command::MergeTracks, doc, view).enabled);
    doc.blockStart = 100;
    doc.blockEnd = 200;
    EXPECT_TRUE(QueryCommand(Command::MergeTracks, doc, view).enabled);
    EXPECT_TRUE(QueryCommand(Command::MergeTracksInBlock, doc, view).enabled);
    EXPECT_TRUE(QueryCommand(Command::RemoveCorrections, doc, view).enabled);
}

TEST_F(DocFixture, CorrectionEditingRulesFollowCurrentRecordBlockFilterAndView)
{
    ViewState none;
    ViewState view{true, false, false, false};
    doc.status = kStatusReadyToSave;
    doc.events.InsertAt(1, EventRecord{1, 0, 5000, event::TrackStartMarker(1), 0});
    doc.events.InsertAt(2, EventRecord{1, 0, 9000, 40, 7});
    // The plain cursor: nothing to remove or adjust.
    doc.selectedEvent = -1;
    EXPECT_FALSE(QueryCommand(Command::RemoveCorrection, doc, none).enabled);
    EXPECT_FALSE(QueryCommand(Command::AdjustInsert, doc, none).enabled);
    // A boundary can be adjusted but not removed as a correction.
    doc.selectedEvent = 1;
    EXPECT_FALSE(QueryCommand(Command::RemoveCorrection, doc, view).enabled);
    EXPECT_TRUE(QueryCommand(Command::AdjustInsert, doc, view).enabled);
    doc.selectedEvent = 2;
    EXPECT_TRUE(QueryCommand(Command::RemoveCorrection, doc, view).enabled);
    EXPECT_TRUE(QueryCommand(Command::AdjustInsert, doc, view).enabled);
    // The tail record is no record of the list.
    doc.selectedEvent = doc.events.Size() - 1;
    EXPECT_FALSE(QueryCommand(Command::RemoveCorrection, doc, view).enabled);
    doc.selectedEvent = 2;
    view.playing = true;
    EXPECT_FALSE(QueryCommand(Command::RemoveCorrection, doc, view).enabled);
    EXPECT_FALSE(QueryCommand(Command::AdjustInsert, doc, view).enabled);
    view.playing = false;
    view.adjusting = true;
    EXPECT_FALSE(QueryCommand(Command::RemoveCorrection, doc, view).enabled);
    EXPECT_FALSE(QueryCommand(Command::AdjustInsert, doc, view).enabled);
    // Closing or replacing during an adjustment is refused by the operation
    // with its message, so the command stays offered.
    EXPECT_TRUE(QueryCommand(Command::MergeOpen, doc, view).enabled);
    view.adjusting = false;
    doc.filtersApplied = 1;
    EXPECT_FALSE(QueryCommand(Command::RemoveCorrection, doc, view).enabled);
    EXPECT_TRUE(QueryCommand(Command::AdjustInsert, doc, view).enabled);
    doc.filtersApplied = 0;
    // A marked block turns the Delete key to the block and ends the point edits.
    EXPECT_FALSE(QueryCommand(Command::CancelBlock, doc, view).enabled);
    EXPECT_FALSE(QueryCommand(Command::RescanClicksBlock, doc, view).enabled);
    doc.blockStart = 4000;
    doc.blockEnd = 12000;
    EXPECT_FALSE(QueryCommand(Command::RemoveCorrection, doc, view).enabled);
    EXPECT_FALSE(QueryCommand(Command::AdjustInsert, doc, view).enabled);
    EXPECT_TRUE(QueryCommand(Command::CancelBlock, doc, view).enabled);
    for (Command c : {Command::RemoveCorrections, Command::RescanClicksBlock, Command::SuperScanClicksBlock}) {
        EXPECT_TRUE(QueryCommand(c, doc, view).enabled);
        doc.filtersApplied = 1;
        EXPECT_FALSE(QueryCommand(c, doc, view).enabled);
        doc.filtersApplied = 0;
    }
    // The file's super-scan follows its re-scan.
    for (int32_t filtered : {0, 1}) {
        doc.filtersApplied = filtered;
        EXPECT_EQ(QueryCommand(Command::SuperScanClicks, doc, view).enabled,
                  QueryCommand(Command::RescanClicks, doc, view).enabled);
    }
    EXPECT_FALSE(QueryCommand(Command::SuperScanClicks, doc, view).enabled);
    doc.status = kStatusNotLoaded;
    EXPECT_FALSE(QueryCommand(Command::SuperScanClicks, doc, none).enabled);
}

TEST_F(DocFixture, FadeChecksFollowTheSetting)
{
    ViewState view;
    EXPECT_TRUE(QueryCommand(Command::FadeLogarithmic, doc, view, 0).checked);
    EXPECT_FALSE(QueryCommand(Command::FadeLinear, doc, view, 0).checked);
    EXPECT_TRUE(QueryCommand(Command::FadeLinear, doc, view, 1).checked);
}

TEST_F(DocFixture, ScanSettingsRoundTripThroughTheStore)
{
    EXPECT_EQ(doc.sensitivity, -1);
    EXPECT_EQ(doc.mode, settings::kModePerChannel);
    doc.sensitivity = 4;
    doc.corWidth = settings::kCorWidthNarrow;
    const int saves = settings.Saves();
    doc.StoreScanSettings();
    EXPECT_EQ(settings.Saves(), saves + 1);  // ten values, one save
    EXPECT_EQ(settings.Get(settings::Sensitivity), 4);
    EXPECT_EQ(settings.ReadInt("SettingsZR", "Cor Width", 0), 1295);
    CQuillon3Doc other(settings, ui);
    EXPECT_EQ(other.sensitivity, 4);
}

// Two child windows and the status bar watch one document.
struct CountingObserver : IDocObserver {
    std::vector<std::string> heard;
    bool adjusting = false;
    void OnDocReset() override { heard.push_back("reset"); }
    void OnDocUpdate() override { heard.push_back("update"); }
    void OnTracksChanged() override { heard.push_back("tracks"); }
    bool IsAdjusting() const override { return adjusting; }
    void OnStatusTexts(const std::string& a, const std::string& b, const std::string& c) override
    {
        heard.push_back(a + "|" + b + "|" + c);
    }
    void OnStatusProgress(int32_t pos, int32_t range) override
    {
        heard.push_back(std::to_string(pos) + "/" + std::to_string(range));
    }
};

TEST_F(DocFixture, EveryObserverHearsEveryNotificationUntilRemoved)
{
    CountingObserver view, list, statusBar;
    doc.AddObserver(&view);
    doc.AddObserver(&list);
    doc.AddObserver(&statusBar);
    doc.AddObserver(&list);  // twice: still told once
    doc.DeleteContents();
    doc.NotifyStatusTexts("a", "b", "c");
    doc.NotifyStatusProgress(3, 10);
    const std::vector<std::string> all{"tracks", "reset", "update", "a|b|c", "3/10"};
    EXPECT_EQ(view.heard, all);
    EXPECT_EQ(list.heard, all);
    EXPECT_EQ(statusBar.heard, all);

    EXPECT_FALSE(doc.IsAdjusting());
    list.adjusting = true;
    EXPECT_TRUE(doc.IsAdjusting());  // any one of them

    doc.RemoveObserver(&list);
    doc.NotifyUpdate();
    EXPECT_EQ(list.heard, all);
    EXPECT_EQ(view.heard.back(), "update");
    EXPECT_EQ(statusBar.heard.back(), "update");
    EXPECT_FALSE(doc.IsAdjusting());
}

TEST_F(DocFixture, AnObserverRemovedWhileOthersAreToldHearsNoMore)
{
    // The first observer closes the second window when told to reset.
    struct Closer : IDocObserver {
        CQuillon3Doc* doc = nullptr;
        IDocObserver* other = nullptr;
        void OnDocReset() override { doc->RemoveObserver(other); }
    } closer;
    CountingObserver closed;
    closer.doc = &doc;
    closer.other = &closed;
    doc.AddObserver(&closer);
    doc.AddObserver(&closed);
    doc.NotifyReset();
    EXPECT_TRUE(closed.heard.empty());
}

}  // namespace
}  // namespace kelvane
