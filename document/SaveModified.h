#pragma once
// Save Modified: what happens to a recording before the document is emptied
// or the program closes.

#include "document/Interaction.h"

#include <functional>

namespace kelvane {

class CQuillon3Doc;

inline constexpr const char* kMsgAdjusting = "Cannot Proceed while adjustment is in progress.";
inline constexpr const char* kMsgSaveChanges = "Save Changes to the Waveform?";
inline constexpr MbLabels kSaveChangesLabels{.yes = "Save", .no = "Do Not Save", .cancel = "Cancel"};

// Asks "Save Changes to the Waveform?" when the document is modified. The
// question's buttons are "Save", "Do Not Save" and "Cancel" (its labels for
// Yes, No and Cancel). `save` saves the tracks
// and returns whether it succeeded (the document then is no longer modified).
// "Do Not Save", and a document that was not modified, close and delete the
// temporary files. Returns true when the document may be closed.
bool SaveModified(CQuillon3Doc& doc, const std::function<bool()>& save);

}  // namespace kelvane
