#include "CChunkedPass.h"

#include "document/CProgressScope.h"
#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"

#include <algorithm>
#include <memory>

namespace kelvane {

void CChunkedPass::Range(const CQuillon3Doc& doc, int32_t& first, int32_t& last)
{
    if (doc.HasBlock()) {
        first = doc.blockStart != 0 ? doc.blockStart : doc.dataStart;
        last = doc.blockEnd != 0 ? doc.blockEnd : doc.dataEnd;
    } else {
        first = doc.dataStart;
        last = doc.dataEnd;
    }
}

PassOutcome CChunkedPass::Run(const ChunkedPassOptions& options, const ChunkFn& process)
{
    int32_t first = 0, last = 0;
    Range(doc_, first, last);

    CProgressScope scope(doc_);
    CProgressWnd* progress = scope.get();
    if (progress) {
        progress->SetRange(0, last);
        if (!options.caption.empty()) progress->SetCaption(options.caption);
        progress->EnableCancel(options.cancellable);
    }

    buffer_.resize(kSegmentBytes / 2);
    PassOutcome outcome = PassOutcome::Completed;
    for (int32_t c = first; c < last; c += kSegmentBytes) {
        if (options.cancellable && doc_.loaded && progress && progress->Cancelled() &&
            doc_.Ui().MessageBox(options.cancelQuestion, kAppCaption, MbButtons::YesNo, MbIcon::Question) ==
                MbAnswer::Yes) {
            if (options.recordCancelPosition) doc_.scanCancelledAt = c;
            outcome = PassOutcome::Cancelled;
            break;
        }
        if (progress) progress->SetPos(c);
        const int32_t n = std::min(kSegmentBytes, last - c);
        doc_.workingFile.Seek(c);
        const int64_t got = doc_.workingFile.Read(buffer_.data(), n);
        if (got < 0) {
            doc_.Ui().MessageBox(doc_.workingFile.LastError(), kAppCaption, MbButtons::Ok, MbIcon::Error);
            outcome = PassOutcome::Failed;
            break;
        }
        // Short reads only happen past the end of the file; those frames stay silent.
        std::fill(buffer_.begin() + got / 2, buffer_.begin() + n / 2, int16_t{0});
        if (!process(buffer_.data(), n / 4, c)) {
            outcome = PassOutcome::Failed;
            break;
        }
        doc_.workingFile.Seek(c);
        if (!doc_.workingFile.WriteAs24(buffer_.data(), n)) {
            doc_.Ui().MessageBox(doc_.workingFile.LastError(), kAppCaption, MbButtons::Ok, MbIcon::Error);
            outcome = PassOutcome::Failed;
            break;
        }
    }
    if (progress && outcome == PassOutcome::Completed) progress->SetPos(last);
    doc_.NotifyUpdate();
    doc_.SetModifiedFlag();
    return outcome;
}

}  // namespace kelvane
