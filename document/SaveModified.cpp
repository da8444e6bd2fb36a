#include "SaveModified.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"

namespace kelvane {

bool SaveModified(CQuillon3Doc& doc, const std::function<bool()>& save)
{
    if (doc.IsAdjusting()) {
        doc.Ui().MessageBox(kMsgAdjusting, kAppCaption, MbButtons::Ok, MbIcon::Warning);
        return false;
    }
    if (doc.IsModified()) {
        const MbAnswer a = doc.Ui().MessageBox(kMsgSaveChanges, kAppCaption, MbButtons::YesNoCancel, MbIcon::Question,
                                               kSaveChangesLabels);
        if (a == MbAnswer::Cancel) return false;
        if (a == MbAnswer::Yes) {
            // A save that fails or is cancelled leaves everything as it was.
            if (!save || !save()) return false;
        } else {
            doc.DeleteTemporaryFiles();
            doc.SetModifiedFlag(false);
        }
        return !doc.IsModified();
    }
    if (doc.workingFile.IsOpen() || !doc.workingPath.empty()) doc.DeleteTemporaryFiles();
    return true;
}

}  // namespace kelvane
