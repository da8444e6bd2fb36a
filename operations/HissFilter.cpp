#include "HissFilter.h"

#include "declick/CCorrector.h"
#include "document/CProgressScope.h"
#include "document/CQuillon3Doc.h"
#include "document/CancelQuestions.h"
#include "document/Interaction.h"
#include "document/RestoreOriginal.h"
#include "filters/CSpectralPass.h"
#include "filters/NoiseProfile.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kelvane {

namespace {

// The task lines of one window, numbered as they are added.
class TaskLines {
public:
    explicit TaskLines(CProgressWnd& window) : window_(window) {}
    int Add(const std::string& name)
    {
        window_.SetStageName(count_, name);
        return count_++;
    }
    void Finish()
    {
        for (int i = count_; i < CProgressWnd::kStageCount; ++i) window_.SetStageName(i, "");
    }

private:
    CProgressWnd& window_;
    int count_ = 0;
};

// Makes every correction again, with Cancel disabled: a list half made
// again would leave corrections missing from a file that claims them.
bool MakeCorrectionsAgain(CQuillon3Doc& d, CProgressWnd& window)
{
    CCancelDisabled uncancellable(window);
    CCorrector corrector(d);
    if (corrector.GenerateAll(d.events) != GenerateOutcome::Completed) return false;
    d.status = kStatusReadyToSave;
    return true;
}

bool ProfileUsable(const CQuillon3Doc& d)
{
    const ProfileBlock& b = d.noise.leadIn;
    return b.Exists() && (int64_t{b.end} - b.start) / 4 >= ProfileFrameLength(d);
}

}  // namespace

std::string HissLabel(int32_t strength)
{
    if (strength <= 0) return "Hiss Reduction: Off";
    return "Hiss Reduction: " + std::to_string(6 * strength + 2) + "dB";
}

std::string AppliedFiltersText(const CQuillon3Doc& doc)
{
    return std::string("Currently Applied Filters:\n") + (doc.filtersApplied && doc.hissApplied > 0 ? "Hiss." : "None");
}

bool HasCorrections(const CQuillon3Doc& doc)
{
    for (int32_t i = 1; i + 1 < doc.events.Size(); ++i)
        if (!doc.events[i].IsMarker()) return true;
    return false;
}

bool RestoreUnfiltered(CQuillon3Doc& doc, int32_t upTo)
{
    if (!RestoreOriginal(doc, doc.dataStart, upTo)) return false;
    doc.hissApplied = 0;
    doc.filtersApplied = 0;
    doc.NotifyUpdate();
    return true;
}

OpResult ApplyHissFilter(CQuillon3Doc& d, const HissFilterRequest& request)
{
    if (d.status < kStatusScanIncomplete) return OpResult::Fail(FailKind::BadInput, "");
    if (!d.noise.leadIn.Exists()) MeasureLeadInProfile(d);
    const bool profile = ProfileUsable(d);
    int32_t chosen = request.strength;
    if (request.dialog) {
        chosen = profile ? d.subtractor : 0;
        if (!request.dialog(d, chosen)) return OpResult::Fail(FailKind::Declined, "");
    }
    d.subtractor = std::clamp(chosen, 0, 3);
    d.hissEnabled = 1;
    const int32_t strength = profile ? d.subtractor : 0;
    const bool corrections = HasCorrections(d);
    const bool replacing = d.filtersApplied != 0;

    CProgressScope progress(d);
    progress->SetCaption("Applying Filters");
    TaskLines lines(progress.Window());
    const int removeLine = replacing ? lines.Add("Remove existing filters") : -1;
    const int recoverLine = replacing && corrections ? lines.Add("Recover Corrections") : -1;
    const int hissLine = strength > 0 ? lines.Add("Hiss Filter") : -1;
    lines.Finish();

    const auto failed = [&] {
        d.NotifyUpdate();
        return OpResult::Fail(FailKind::Environment, "");
    };
    if (replacing) {
        progress->SetStage(removeLine, -1);
        if (!RestoreUnfiltered(d, d.dataEnd)) return failed();
        if (corrections) {
            progress->SetStage(recoverLine, -1);
            if (!MakeCorrectionsAgain(d, progress.Window())) return failed();
        }
    }

    OpResult result = OpResult::Success();
    if (strength > 0) {
        progress->SetStage(hissLine, -1);
        d.hissApplied = std::min(3, d.hissApplied + strength);
        d.scanCancelledAt = 0;
        CSpectralPass pass(d);
        const PassOutcome outcome = pass.Run({strength, cancel::kFilterRemoved});
        if (outcome == PassOutcome::Failed) return failed();
        if (outcome == PassOutcome::Completed) {
            d.filtersApplied = 1;
        } else {
            progress->SetStageName(hissLine, "Operation Cancelled");
            progress->SetStageName(hissLine + 1, "Recover Waveform");
            if (corrections) progress->SetStageName(hissLine + 2, "Recover Corrections");
            progress->SetStage(hissLine + 1, hissLine);
            const bool whole = corrections || d.filtersApplied != 0;
            if (!RestoreUnfiltered(d, whole ? d.dataEnd : pass.StoppedAt())) return failed();
            if (corrections) {
                progress->SetStage(hissLine + 2, hissLine);
                if (!MakeCorrectionsAgain(d, progress.Window())) return failed();
            }
            d.scanCancelledAt = 0;
            result = OpResult::Fail(FailKind::Cancelled, "");
        }
    }
    d.SetModifiedFlag();
    d.NotifyUpdate();
    return result;
}

OpResult RemoveHissFilter(CQuillon3Doc& d)
{
    if (!d.filtersApplied) return OpResult::Fail(FailKind::BadInput, "");
    if (d.Ui().MessageBox(kMsgRemoveHissFilter, kAppCaption, MbButtons::OkCancel, MbIcon::Question) != MbAnswer::Ok)
        return OpResult::Fail(FailKind::Declined, kMsgRemoveHissFilter);
    const bool corrections = HasCorrections(d);
    CProgressScope progress(d);
    TaskLines lines(progress.Window());
    lines.Add("Remove existing filters");
    if (corrections) lines.Add("Recover Corrections");
    lines.Finish();
    progress->SetStage(0, -1);
    bool ok = RestoreUnfiltered(d, d.dataEnd);
    if (ok && corrections) {
        progress->SetStage(1, -1);
        ok = MakeCorrectionsAgain(d, progress.Window());
    }
    d.SetModifiedFlag();
    d.NotifyUpdate();
    return ok ? OpResult::Success() : OpResult::Fail(FailKind::Environment, "");
}

OpResult CaptureNoiseProfile(CQuillon3Doc& d, ProfileSlot slot)
{
    IInteraction& ui = d.Ui();
    if (!d.HasBlock() || d.blockStart == d.blockEnd) {
        ui.MessageBox(kMsgNoBlockSelected, kAppCaption, MbButtons::Ok, MbIcon::Warning);
        return OpResult::Fail(FailKind::BadInput, kMsgNoBlockSelected);
    }
    // Fewer frames than one transform would divide the sums by zero.
    const int32_t n = ProfileFrameLength(d);
    const ProfileBlock block{d.blockStart, d.blockEnd};
    if ((int64_t{block.end} - block.start) / 4 < n) {
        const std::string text = WithText(kMsgProfileBlockTooShort, std::to_string(n));
        ui.MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Warning);
        return OpResult::Fail(FailKind::BadInput, text);
    }
    if (ui.MessageBox(kMsgCaptureProfile, kAppCaption, MbButtons::OkCancel, MbIcon::Question) != MbAnswer::Ok)
        return OpResult::Fail(FailKind::Declined, kMsgCaptureProfile);
    bool measured = false;
    if (slot == ProfileSlot::LeadIn) {
        d.noise.leadIn = block;
        measured = MeasureProfile(d, block, d.noise.leadInLeft, d.noise.leadInRight);
    } else {
        d.noise.leadOut = block;
        ui.MessageBox(kMsgBlockCaptured, kAppCaption, MbButtons::Ok, MbIcon::Information);
        measured = MeasureProfile(d, block, d.noise.leadOutLeft, d.noise.leadOutRight);
    }
    d.SetModifiedFlag();
    return measured ? OpResult::Success() : OpResult::Fail(FailKind::Environment, "");
}

OpResult RunTapeHissPass(CQuillon3Doc& d)
{
    if (!d.noise.leadIn.Exists()) IdentifyProfileBlock(d);
    if (!ProfileUsable(d)) {
        d.Ui().MessageBox(kMsgNoNoiseProfile, kAppCaption, MbButtons::Ok, MbIcon::Warning);
        return OpResult::Success();
    }
    CSpectralPass pass(d);
    const PassOutcome outcome = pass.Run({d.subtractor, cancel::kHissFilterRemoved});
    if (outcome == PassOutcome::Failed) return OpResult::Fail(FailKind::Environment, "");
    if (outcome == PassOutcome::Completed) {
        d.hissApplied = std::min(3, d.subtractor);
        d.filtersApplied = 1;
        return OpResult::Success();
    }
    return OpResult::Fail(FailKind::Cancelled, "");
}

}  // namespace kelvane
