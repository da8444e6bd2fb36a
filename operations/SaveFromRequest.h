#pragma once
// Saving the tracks as the "Save..." and "Save && Close..." commands do once
// their dialog has been answered: the request starts as the dialog opens,
// the front end changes what its user chose, and the save runs from it with
// the dialog's OK step first.

#include "document/ImportResult.h"
#include "output/SaveTracks.h"

namespace kelvane {

class CQuillon3Doc;

inline constexpr const char* kUnknownTagsQuestion = "File names include unknown tags. Do you want to continue?";

// The dialog "Save Corrected Waveform" as it opens, from the stored settings
// and the document: the default track titles refreshed; every track chosen,
// numbered consecutively from 1; a single track keeps the input's own
// number unless the input gives it none (RenumberSingleByDefault); the
// stored output folder (else the input's) and naming rule; the stored
// format, levels, fade and external encoder with its list index and the
// extension of that list entry.
SaveRequest OpeningSaveRequest(CQuillon3Doc& doc);

struct SavedTracks {
    // Declined carries the question the user declined: kUnknownTagsQuestion
    // or SaveTracks' "Confirm Save" (outcome.existing then lists the files
    // that would have been replaced).
    OpResult result;
    SaveOutcome outcome;
};

// The dialog's OK step, then SaveTracks. A recording that was not divided
// is saved whole, as its one track. When a name holds an unknown tag the
// user must confirm kUnknownTagsQuestion (OK/Cancel, Cancel the safe
// answer). A missing output folder is made first, and removed again when
// nothing was written into it; a file in its place is refused.
SavedTracks SaveFromRequest(CQuillon3Doc& doc, SaveRequest request);

}  // namespace kelvane
