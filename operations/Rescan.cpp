#include "Rescan.h"

#include "declick/CBlockScanner.h"
#include "declick/CCorrector.h"
#include "declick/CorrectionEdit.h"
#include "declick/ScanParams.h"
#include "document/CProgressScope.h"
#include "document/CQuillon3Doc.h"
#include "tracks/TrackMarkers.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace kelvane {

namespace {

std::string PassText(const char* step, int32_t pass, int32_t passes)
{
    if (passes <= 1) return step;
    char text[96];
    std::snprintf(text, sizeof text, "%s; Pass %d of %d", step, pass, passes);
    return text;
}

void TakeValues(CQuillon3Doc& d, const RescanRequest& r)
{
    if (r.sensitivity) d.rescanSensitivity = *r.sensitivity;
    if (r.mode) d.rescanMode = *r.mode;
    if (r.discriminator) d.discriminator = *r.discriminator;
    if (r.agc) d.agc = *r.agc;
    if (r.minMagnitude) d.minMagnitude = *r.minMagnitude;
    if (r.corWidth) d.corWidth = *r.corWidth;
}

ScanParams RescanParams(const CQuillon3Doc& d)
{
    ScanParams p = ScanParams::FromDocument(d);
    p.sensitivity = d.rescanSensitivity;
    p.mode = d.rescanMode;
    return p;
}

bool BlockHoldsUserCorrections(const CQuillon3Doc& d)
{
    const EditRun block = BlockEntries(d);
    for (int32_t i = block.first; i <= block.last; ++i)
        if (d.events[i].mag == event::kMagEdited) return true;
    return false;
}

// The staging records were counted by the scanner as it committed them; the
// merge counts what it puts in.
void UncountStaging(CQuillon3Doc& d)
{
    for (int32_t i = 1; i + 1 < d.staging.Size(); ++i)
        if (d.staging[i].IsCorrection()) CountCorrection(d, d.staging[i].pos, -1);
}

// A plain file re-scan: the new list is the correction list, with the
// track markers put back from the track table.
void TakeStagingAsList(CQuillon3Doc& d)
{
    d.events.RemoveAll();
    d.events.SetGrowStep(kEventGrowStep);
    d.events.SetSize(d.staging.Size());
    std::copy(d.staging.begin(), d.staging.end(), d.events.begin());
    RebuildTrackMarkers(d);
    d.NotifyReset();
    d.NotifyUpdate();
}

// The new records were made over audio that the old ones had already
// changed, in the order the scan found them; where a new record's run holds
// other corrections (a kept user correction, a lower layer, or an entry it
// was combined with), the run is made again from the source in pass order,
// so that the audio is what generating the whole list gives.
bool RebuildMixedRuns(CQuillon3Doc& d, const CGrowList<EventRecord>& added)
{
    int32_t doneUpTo = 0;  // the last list index already rebuilt
    for (int32_t k = 1; k + 1 < added.Size(); ++k) {
        const EventRecord& n = added[k];
        if (!n.IsCorrection()) continue;
        const auto at = std::lower_bound(d.events.begin() + 1, d.events.end() - 1, n.pos,
                                         [](const EventRecord& e, int32_t pos) { return e.pos < pos; });
        int32_t index = static_cast<int32_t>(at - d.events.begin());
        while (index + 1 < d.events.Size() && d.events[index].pos == n.pos && !d.events[index].IsCorrection()) ++index;
        if (index + 1 >= d.events.Size() || d.events[index].pos != n.pos || index <= doneUpTo) continue;
        const EditRun run = FindRun(d, index);
        int32_t corrections = 0;
        for (int32_t i = run.first; i <= run.last; ++i) corrections += d.events[i].IsCorrection() ? 1 : 0;
        doneUpTo = run.last;
        if (corrections < 2 && d.events[index] == n) continue;
        if (!RestoreStretch(d, run.spanStart, run.spanEnd) || !Resynthesise(d, run.first, run.last)) return false;
    }
    return true;
}

}  // namespace

OpResult Rescan(CQuillon3Doc& d, RescanRequest request)
{
    if (d.status < kStatusNotScanned || !d.workingFile.IsOpen()) return OpResult::Fail(FailKind::BadInput, "");
    if (!request.wholeFile && !d.HasBlock()) return OpResult::Fail(FailKind::BadInput, "");

    // What to put back afterwards.
    const int32_t keptBlockStart = d.blockStart, keptBlockEnd = d.blockEnd;
    const int32_t keptSelected = d.selectedEvent;
    const EventRecord keptCurrent = d.CurrentEvent() ? *d.CurrentEvent() : EventRecord{};
    if (request.wholeFile) {
        d.blockStart = d.dataStart;
        d.blockEnd = d.dataEnd;
    }
    const bool userPresent = BlockHoldsUserCorrections(d);
    const auto putBack = [&] {
        if (request.wholeFile) {
            d.blockStart = d.blockEnd = 0;
            d.selectedEvent = d.events.Size() > 2 ? 1 : 0;
            return;
        }
        d.blockStart = keptBlockStart;
        d.blockEnd = keptBlockEnd;
        d.selectedEvent = 0;
        if (keptSelected > 0) {
            const auto found = std::find(d.events.begin() + 1, d.events.end() - 1, keptCurrent);
            if (found != d.events.end() - 1) {
                d.selectedEvent = static_cast<int32_t>(found - d.events.begin());
                return;
            }
        }
        if (keptSelected != 0) {
            d.cursorEvent.pos = keptCurrent.pos;
            d.selectedEvent = -1;
        }
    };

    if (request.dialog) {
        const char* caption = request.superimpose ? (request.wholeFile ? kCaptionSuperScanFile : kCaptionSuperScanBlock)
                                                  : (request.wholeFile ? kCaptionRescanFile : kCaptionRescanBlock);
        const char* text = request.superimpose ? kTextSuperScan : (request.wholeFile ? kTextRescanFile : kTextRescanBlock);
        if (!request.dialog(d, caption, text, request)) {
            putBack();
            return OpResult::Fail(FailKind::Declined, "");
        }
    }
    TakeValues(d, request);
    const int32_t passes = request.superimpose ? std::max(1, request.passes) : 1;

    CProgressScope progress(d);
    progress->SetCaption(request.wholeFile ? "Re-Scanning" : "Re-Scanning Block");

    // Which way the old corrections go decides how the new ones come in.
    bool plainFile = false;
    bool failed = false;
    if (!request.superimpose) {
        if (!request.wholeFile || userPresent) {
            progress->SetStageName(0, "Remove Old Corrections");
            progress->SetStageName(1, "");
            progress->SetStage(0, -1);
            failed = !RemoveBlockCorrections(d, userPresent);
        } else {
            // The block scan puts the source back chunk by chunk as it goes.
            // The scan covers the analysis limits only; the regions of
            // corrections near them reach a little beyond.
            plainFile = true;
            failed = !RestoreStretch(d, d.dataStart, d.scanFirst) || !RestoreStretch(d, d.scanLast, d.dataEnd);
            d.ResetEventList();
            std::fill(d.segmentCorrections.begin(), d.segmentCorrections.end(), 0);
            d.selectedEvent = 0;
            d.NotifyReset();
        }
    }

    bool cancelled = false;
    for (int32_t pass = 1; pass <= passes && !failed && !cancelled; ++pass) {
        progress->SetStageName(0, PassText("Scan for Clicks", pass, passes));
        progress->SetStageName(1, PassText("Generate Corrections", pass, passes));
        progress->SetStage(0, -1);
        // Tags as the scanner gives them: 1 for a re-scan, 1 + the highest
        // pass in the block for a super-scan (raising maxPass). The
        // document's summary of the fields words the block re-scan and the
        // super-scan otherwise; the scanner's rule is the one kept.
        CBlockScanner scanner(d, RescanParams(d), request.superimpose, plainFile);
        scanner.Run();
        failed = scanner.Failed();
        cancelled = scanner.Cancelled();
        if (failed) break;

        progress->SetStage(1, 0);
        CCorrector corrector(d);
        const GenerateOutcome made = corrector.GenerateAll(d.staging);
        // Stopped or not, what was found is merged: an unmade record is
        // still a correction the user can see and make again.
        if (made == GenerateOutcome::Cancelled) cancelled = true;
        if (made == GenerateOutcome::Failed) failed = true;
        if (plainFile) {
            TakeStagingAsList(d);
        } else {
            UncountStaging(d);
            MergeStaging(d);
            // A stopped generation leaves its remaining records unmade.
            if (made == GenerateOutcome::Completed && !RebuildMixedRuns(d, d.staging)) failed = true;
        }
        ResetStaging(d);
    }
    ResetStaging(d);
    d.scanCancelledAt = 0;
    putBack();
    d.SetModifiedFlag();
    d.NotifyUpdate();
    if (failed) return OpResult::Fail(FailKind::Environment, "");
    if (cancelled) return OpResult::Fail(FailKind::Cancelled, "");
    return OpResult::Success();
}

}  // namespace kelvane
