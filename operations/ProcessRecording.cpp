#include "ProcessRecording.h"

#include "declick/CClickScanner.h"
#include "declick/CCorrector.h"
#include "declick/CorrectionEdit.h"
#include "declick/ScanParams.h"
#include "document/CImporter.h"
#include "document/CProgressScope.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "document/Interaction.h"
#include "document/RestoreOriginal.h"
#include "operations/HissFilter.h"
#include "settings/SettingsStore.h"
#include "tracks/CTrackFinder.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace kelvane {

namespace {

void KeepOnlyMarkers(CQuillon3Doc& d)
{
    ResetStaging(d);
    for (int32_t i = 1; i + 1 < d.events.Size(); ++i)
        if (d.events[i].IsMarker()) d.staging.InsertAt(d.staging.Size() - 1, d.events[i]);
    d.ResetEventList();
    std::fill(d.segmentCorrections.begin(), d.segmentCorrections.end(), 0);
    d.selectedEvent = 0;
    d.NotifyReset();
    MergeStaging(d);
    ResetStaging(d);
}

void ApplyScanChoices(CQuillon3Doc& d, const ProcessRequest& request)
{
    if (request.sensitivity) d.sensitivity = *request.sensitivity;
    if (request.mode) d.mode = *request.mode;
    if (request.discriminator) d.discriminator = *request.discriminator;
    if (request.agc) d.agc = *request.agc;
    if (request.minMagnitude) d.minMagnitude = *request.minMagnitude;
    if (request.corWidth) d.corWidth = *request.corWidth;
    if (request.splitTracks) d.splitTracks = *request.splitTracks;
    if (request.gapless) d.gapless = *request.gapless;
    if (request.source) d.source = *request.source;
    if (request.subtractor) d.subtractor = *request.subtractor;
}

// Runs at the end of the load pass when "Split Tracks" is on.
void DivideIntoTracks(CQuillon3Doc& d, int32_t trackCount)
{
    if (trackCount > 0) FindTracks(d, trackCount, true);
    else RunTrackFinderAfterLoad(d);
}

}  // namespace

OpResult OpenRecordingFile(CQuillon3Doc& doc, const OpenRequest& request)
{
    CImporter importer(doc);
    importer.SetAcceptDamaged(request.acceptDamaged);
    return OpenRecording(doc, request.path, &importer);
}

OpResult ProcessRecording(CQuillon3Doc& d, const ProcessRequest& request)
{
    ApplyScanChoices(d, request);
    IInteraction& ui = d.Ui();
    if (d.status > kStatusAborted &&
        ui.MessageBox(kMsgReprocess, kCaptionReprocess, MbButtons::YesNo, MbIcon::Question) != MbAnswer::Yes)
        return OpResult::Fail(FailKind::Declined, kMsgReprocess);
    if (d.status > kStatusNotScanned || d.sensitivity == -1) {
        if (d.sensitivity == -1) d.sensitivity = 3;
        if (request.optionsDialog && !request.optionsDialog(d)) return OpResult::Fail(FailKind::Declined, "");
    }

    // Processing starts from the source again: nothing filtered, nothing stopped.
    d.scanCancelledAt = 0;
    d.filtersApplied = 0;
    d.hissApplied = 0;
    const bool tape = d.source == settings::kSourceTape;
    if (tape) d.mode = settings::kModePerChannel;
    const bool scanClicks = !tape && d.sensitivity != 0;

    CProgressScope progress(d);
    if (progress.Owned()) progress->SetCaption("Scanning Waveform");
    if (tape) {
        progress->SetStageName(0, "Scan for Tracks");
        progress->SetStageName(1, d.subtractor > 0 ? "Apply Hiss Filter" : "");
    } else if (scanClicks) {
        progress->SetStageName(0, "Scan for Tracks and Clicks");
        progress->SetStageName(1, "Generate Corrections");
    } else {
        progress->SetStageName(0, "Scan for Tracks");
        progress->SetStageName(1, "");
    }
    progress->SetStage(0, -1);

    // Without a click scan nothing replaces the corrections of an earlier
    // processing, while the load copies the source back over them: they go,
    // the track markers stay (the track finder may replace them).
    if (d.loaded && !scanClicks) KeepOnlyMarkers(d);

    d.status = kStatusNotScanned;
    std::unique_ptr<CClickScanner> scanner;
    if (scanClicks) scanner = std::make_unique<CClickScanner>(d, ScanParams::FromDocument(d));
    const LoadOutcome load = LoadRecording(d, scanner.get());
    if (load == LoadOutcome::Abandoned) return OpResult::Fail(FailKind::Cancelled, "");
    if (load == LoadOutcome::Failed) return OpResult::Fail(FailKind::Environment, "");
    scanner.reset();
    if (d.splitTracks) DivideIntoTracks(d, request.trackCount);
    if (d.status == kStatusNotCorrected && request.loaded) {
        if (OpResult r = request.loaded(d); !r.Ok()) return r;
    }

    if (d.status == kStatusNotCorrected && tape && d.subtractor > 0) {
        progress->SetStage(1, -1);
        const OpResult filtered = RunTapeHissPass(d);
        d.SetModifiedFlag();
        if (filtered.kind == FailKind::Environment) {
            d.NotifyUpdate();
            return filtered;
        }
    }

    if (d.status == kStatusNotCorrected && scanClicks) {
        progress->SetStage(1, -1);
        CCorrector corrector(d);
        const GenerateOutcome made = corrector.GenerateAll(d.events);
        d.status = made == GenerateOutcome::Completed ? kStatusReadyToSave : kStatusAborted;
        d.SetModifiedFlag();
        if (made == GenerateOutcome::Failed) {
            d.NotifyUpdate();
            return OpResult::Fail(FailKind::Environment, "");
        }
    }

    const bool stopped = d.scanCancelledAt != 0;
    if (stopped && d.status > kStatusNotCorrected) {
        progress->SetStageName(0, "Operation Cancelled");
        progress->SetStageName(1, "Recover Waveform");
        progress->SetStage(1, 0);
        // Every correction goes: the working file gets the source's samples
        // back; a stopped hiss pass changed the file only up to where it stopped.
        if (tape ? !RestoreUnfiltered(d, d.scanCancelledAt) : !RestoreOriginal(d)) {
            d.NotifyUpdate();
            return OpResult::Fail(FailKind::Environment, "");
        }
    }
    if (stopped) KeepOnlyMarkers(d);

    if (d.events.Size() > 2) d.selectedEvent = 1;
    d.NotifyUpdate();
    return stopped ? OpResult::Fail(FailKind::Cancelled, "") : OpResult::Success();
}

OpResult OpenAndProcess(CQuillon3Doc& doc, const OpenRequest& open, const ProcessRequest& process)
{
    OpResult opened = OpenRecordingFile(doc, open);
    if (!opened.Ok()) return opened;
    if (open.opened) {
        opened = open.opened(doc);
        if (!opened.Ok()) {
            doc.DeleteContents();
            return opened;
        }
    }
    return ProcessRecording(doc, process);
}

OpResult RescanAll(CQuillon3Doc& doc, const ProcessRequest& request)
{
    // The command is not offered then; nothing to tell.
    if (doc.status < kStatusNotScanned) return OpResult::Fail(FailKind::BadInput, "");
    return ProcessRecording(doc, request);
}

}  // namespace kelvane
