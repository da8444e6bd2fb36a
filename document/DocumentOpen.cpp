#include "DocumentOpen.h"

#include "document/CImporter.h"
#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"

namespace kelvane {

OpResult OpenRecording(CQuillon3Doc& doc, const std::string& path, CImporter* importer)
{
    const std::string tail = PathTail(path, 4);
    if (tail != ".wav" && tail != ".ape" && tail != "flac") {
        doc.Ui().MessageBox(kMsgNotSupported, kAppCaption, MbButtons::Ok, MbIcon::Warning);
        return OpResult::Fail(FailKind::BadInput, kMsgNotSupported);
    }
    doc.DeleteContents();
    CImporter local(doc);
    OpResult result = (importer ? *importer : local).Import(path);
    if (!result.Ok()) {
        doc.DeleteContents();
        return result;
    }
    doc.status = kStatusNotScanned;
    return result;
}

LoadOutcome LoadRecording(CQuillon3Doc& doc, ILoadScanner* scanner, bool hissQuestion)
{
    doc.scanCancelledAt = 0;
    doc.status = kStatusScanIncomplete;
    CLoadPass pass(doc);
    const LoadOutcome outcome = pass.Run(scanner, hissQuestion);
    switch (outcome) {
    case LoadOutcome::Completed:
        doc.status = kStatusNotCorrected;
        break;
    case LoadOutcome::ScanStopped:
        break;  // stays "Scan Incomplete"
    case LoadOutcome::Abandoned:
    case LoadOutcome::Failed:
        doc.DeleteContents();
        return outcome;
    }
    doc.loaded = 1;
    doc.SetModifiedFlag();
    doc.NotifyUpdate();
    return outcome;
}

}  // namespace kelvane
