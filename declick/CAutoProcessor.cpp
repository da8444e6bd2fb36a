#include "CAutoProcessor.h"

#include "declick/CClickScanner.h"
#include "declick/CCorrector.h"
#include "declick/ScanParams.h"
#include "document/CProgressScope.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "document/Interaction.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace kelvane {

AutoOutcome CAutoProcessor::Run()
{
    CQuillon3Doc& d = doc_;
    IInteraction& ui = d.Ui();
    if (d.status > kStatusAborted &&
        ui.MessageBox(kMsgReprocess, kCaptionReprocess, MbButtons::YesNo, MbIcon::Question) != MbAnswer::Yes)
        return AutoOutcome::Declined;
    if (d.status > kStatusNotScanned || d.sensitivity == -1) {
        if (d.sensitivity == -1) d.sensitivity = 3;
        if (optionsDialog_ && !optionsDialog_(d)) return AutoOutcome::Declined;
    }

    // Processing starts from the source again: nothing filtered, nothing stopped.
    d.scanCancelledAt = 0;
    d.filtersApplied = 0;
    d.hissApplied = 0;
    const bool tape = d.source == settings::kSourceTape;
    if (tape) d.mode = settings::kModePerChannel;
    const bool scanClicks = !tape && d.sensitivity != 0;

    CProgressScope scope(d);
    CProgressWnd* progress = scope.get();
    if (progress) {
        if (tape) {
            progress->SetStageName(0, "Scan for Tracks");
            // The hiss filter of a tape source is not part of this pass.
            progress->SetStageName(1, "");
        } else if (scanClicks) {
            progress->SetStageName(0, "Scan for Tracks and Clicks");
            progress->SetStageName(1, "Generate Corrections");
        } else {
            progress->SetStageName(0, "Scan for Tracks");
            progress->SetStageName(1, "");
        }
        progress->SetStage(0, -1);
    }

    // Without a click scan nothing replaces the corrections of an earlier
    // processing, while the load copies the source back over them: they go,
    // the track markers stay (the track finder may replace them).
    if (d.loaded && !scanClicks) KeepOnlyMarkers();

    d.status = kStatusNotScanned;
    std::unique_ptr<CClickScanner> scanner;
    if (scanClicks) scanner = std::make_unique<CClickScanner>(d, ScanParams::FromDocument(d));
    const LoadOutcome load = LoadRecording(d, scanner.get());
    if (load == LoadOutcome::Abandoned) return AutoOutcome::Abandoned;
    if (load == LoadOutcome::Failed) return AutoOutcome::Failed;
    scanner.reset();
    if (d.splitTracks && trackFinder_) trackFinder_(d);

    if (d.status == kStatusNotCorrected && scanClicks) {
        if (progress) progress->SetStage(1, -1);
        CCorrector corrector(d);
        const GenerateOutcome made = corrector.GenerateAll(d.events);
        d.status = made == GenerateOutcome::Completed ? kStatusReadyToSave : kStatusAborted;
        d.SetModifiedFlag();
        if (made == GenerateOutcome::Failed) {
            d.NotifyUpdate();
            return AutoOutcome::Failed;
        }
    }

    const bool stopped = d.scanCancelledAt != 0;
    if (stopped && d.status > kStatusNotCorrected) {
        if (progress) {
            progress->SetStageName(0, "Operation Cancelled");
            progress->SetStageName(1, "Recover Waveform");
            progress->SetStage(1, 0);
        }
        if (!RestoreWaveform()) {
            d.NotifyUpdate();
            return AutoOutcome::Failed;
        }
    }
    if (stopped) KeepOnlyMarkers();

    if (d.events.Size() > 2) d.selectedEvent = 1;
    d.NotifyUpdate();
    return stopped ? AutoOutcome::Stopped : AutoOutcome::Completed;
}

bool CAutoProcessor::RestoreWaveform()
{
    // Every correction goes: the working file gets the source's samples back,
    // at full precision, segment by segment. A failure leaves the waveform
    // partly restored, which the user must hear about.
    CQuillon3Doc& d = doc_;
    IInteraction& ui = d.Ui();
    std::vector<int32_t> samples(kSegmentBytes / 2);
    for (int32_t c = d.dataStart; c < d.dataEnd; c += kSegmentBytes) {
        const int32_t units = std::min(kSegmentBytes, d.dataEnd - c);
        d.sourceFile.Seek(c);
        const int64_t got = d.sourceFile.Read24(samples.data(), units / 2);
        if (got <= 0) {
            ui.MessageBox(got < 0 ? d.sourceFile.LastError()
                                  : d.sourcePath + ": the source ends before the audio does",
                          kAppCaption, MbButtons::Ok, MbIcon::Error);
            return false;
        }
        d.workingFile.Seek(c);
        if (!d.workingFile.Write24(samples.data(), got)) {
            ui.MessageBox(d.workingFile.LastError(), kAppCaption, MbButtons::Ok, MbIcon::Error);
            return false;
        }
    }
    return true;
}

void CAutoProcessor::KeepOnlyMarkers()
{
    CQuillon3Doc& d = doc_;
    std::vector<EventRecord> markers;
    for (int32_t i = 1; i + 1 < d.events.Size(); ++i)
        if (d.events[i].IsMarker()) markers.push_back(d.events[i]);
    d.ResetEventList();
    std::fill(d.segmentCorrections.begin(), d.segmentCorrections.end(), 0);
    d.NotifyReset();
    std::stable_sort(markers.begin(), markers.end(),
                     [](const EventRecord& a, const EventRecord& b) { return a.pos < b.pos; });
    for (const EventRecord& m : markers) d.events.InsertAt(d.events.Size() - 1, m);
    d.selectedEvent = 0;
}

}  // namespace kelvane
