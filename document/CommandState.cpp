#include "CommandState.h"

#include "document/CQuillon3Doc.h"

namespace kelvane {

static bool FilterApplied(const CQuillon3Doc& doc) { return doc.filtersApplied != 0; }

static bool CurrentIsListRecord(const CQuillon3Doc& doc)
{
    return doc.selectedEvent >= 1 && doc.selectedEvent <= doc.events.Size() - 2;
}

static bool CurrentIsListCorrection(const CQuillon3Doc& doc)
{
    return CurrentIsListRecord(doc) && doc.events[doc.selectedEvent].IsCorrection();
}

CommandUi QueryCommand(Command command, const CQuillon3Doc& doc, const ViewState& view, int fadeLinear)
{
    CommandUi ui;
    const bool viewFree = !view.exists || view.Free();
    switch (command) {
    case Command::RescanAll:
        ui.enabled = doc.status >= 1 && (!view.exists || (view.Free() && doc.sourceKind == kSourceWav));
        break;
    case Command::RescanClicks:
    case Command::SuperScanClicks:
        ui.enabled = doc.status >= 1 && (!view.exists || (view.Free() && !FilterApplied(doc)));
        break;
    case Command::RemoveCorrections:
    case Command::RescanClicksBlock:
    case Command::SuperScanClicksBlock:
        ui.enabled = doc.HasBlock() && !FilterApplied(doc);
        break;
    case Command::RemoveHissFilter:
        ui.enabled = FilterApplied(doc);
        break;
    case Command::HissFilter:
        ui.enabled = doc.status >= 2 && (!view.exists || (view.Free() && !view.blockPlay));
        break;
    case Command::EditNoiseProfile:
        ui.enabled = doc.status >= 3 && (!view.exists || (view.Free() && !view.blockPlay));
        break;
    case Command::Save:
        ui.enabled = doc.tracks.Size() >= 2 && viewFree;
        break;
    case Command::Properties:
        ui.enabled = doc.tracks.Size() >= 2 && !(view.exists && view.adjusting);
        break;
    case Command::RescanTracks:
        ui.enabled = doc.status >= 1 && viewFree;
        break;
    case Command::Gapless:
        ui.enabled = doc.status >= 2;
        ui.checked = doc.gapless != 0;
        break;
    case Command::MergeTracks:
        if (doc.HasBlock()) {
            ui.enabled = true;
        } else if (const EventRecord* e = doc.CurrentEvent(); e && e->width < 0) {
            // Any boundary but the start of track 1.
            const int64_t w = -static_cast<int64_t>(e->width);
            ui.enabled = w > 2 && w <= 2 * static_cast<int64_t>(doc.tracks.Size()) - 2 &&
                         !(view.exists && view.adjusting);
        }
        break;
    case Command::MergeTracksInBlock:
        ui.enabled = doc.HasBlock();
        break;
    case Command::SplitTrack:
        // A marked block means the user is working on a stretch, not a point.
        ui.enabled = doc.status >= kStatusNotScanned && !doc.HasBlock() && !(view.exists && view.playing);
        break;
    case Command::RemoveCorrection:
        // Restoring from the source would take a filter pass off the stretch
        // too, as for the block; a record under adjustment is the mode's.
        ui.enabled = !doc.HasBlock() && CurrentIsListCorrection(doc) && !FilterApplied(doc) && viewFree;
        break;
    case Command::AdjustInsert:
        // The mode works on a record of the list (a correction, a boundary or
        // a pending insert); the plain cursor has nothing to adjust.
        ui.enabled = doc.status >= kStatusNotScanned && !doc.HasBlock() && CurrentIsListRecord(doc) &&
                     !(view.exists && (view.playing || view.adjusting));
        break;
    case Command::CancelBlock:
        ui.enabled = doc.HasBlock();
        break;
    case Command::MergeOpen:
        // Like Open: always offered. Replacing the recording during an
        // adjustment is refused by the operation with its message, so the
        // user learns why.
        ui.enabled = true;
        break;
    case Command::FadeLinear:
        ui.enabled = true;
        ui.checked = fadeLinear == 1;
        break;
    case Command::FadeLogarithmic:
        // Every value but 1 fades logarithmically (a missing or odd stored
        // value included), so that is the law the mark must show.
        ui.enabled = true;
        ui.checked = fadeLinear != 1;
        break;
    }
    return ui;
}

}  // namespace kelvane
