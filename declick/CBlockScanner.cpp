#include "CBlockScanner.h"

#include "document/CChunkedPass.h"
#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"

#include <algorithm>
#include <string>

namespace kelvane {
namespace {

struct Bounds {
    int32_t low;
    int32_t high;
};

// The selected block, or the whole recording when none is selected.
Bounds BlockBounds(const CQuillon3Doc& doc)
{
    if (!doc.HasBlock()) return {doc.dataStart, doc.dataEnd};
    return {doc.blockStart, doc.blockEnd};
}

// The re-scan settings hold -10 where they take the load scan's value.
ScanParams Resolved(const CQuillon3Doc& doc, ScanParams params)
{
    if (params.sensitivity == kUseLoadSetting) params.sensitivity = doc.sensitivity;
    if (params.mode == kUseLoadSetting) params.mode = doc.mode;
    return params;
}

int32_t TagFor(CQuillon3Doc& doc, bool superimpose)
{
    if (!superimpose) return 1;
    // A block without records counts as pass 1, so a first super-scan makes
    // pass 2.
    const Bounds b = BlockBounds(doc);
    int32_t highest = 1;
    for (int32_t i = 1; i < doc.events.Size() - 1; ++i) {
        const EventRecord& e = doc.events[i];
        if (e.pos >= b.low && e.pos <= b.high) highest = std::max(highest, e.pass);
    }
    const int32_t tag = highest + 1;
    doc.maxPass = std::max(doc.maxPass, tag);
    return tag;
}

}  // namespace

CBlockScanner::CBlockScanner(CQuillon3Doc& doc, const ScanParams& params, bool superimpose, bool restoreOriginal)
    : doc_(doc),
      detector_(doc, Resolved(doc, params), CClickDetector::Kind::Block),
      superimpose_(superimpose),
      restoreOriginal_(restoreOriginal)
{
}

ChunkSpan CBlockScanner::ScanRange(const CQuillon3Doc& doc)
{
    const Bounds b = BlockBounds(doc);
    const int64_t g = doc.dataAlign;
    int64_t first = g + int64_t{b.low / kSegmentBytes} * kSegmentBytes;
    int64_t end = g + (int64_t{b.high / kSegmentBytes} + 1) * kSegmentBytes;
    first = std::max<int64_t>(first, doc.scanFirst);
    end = std::min<int64_t>(end, doc.scanLast);
    return {static_cast<int32_t>(first), static_cast<int32_t>(std::max(end, first))};
}

int32_t CBlockScanner::Run()
{
    cancelled_ = failed_ = false;
    const Bounds b = BlockBounds(doc_);
    detector_.Begin(TagFor(doc_, superimpose_), b.low, b.high);
    if (detector_.Differential() && doc_.noDifferenceData) {
        doc_.Ui().MessageBox(kNoDifferenceText, kAppCaption, MbButtons::Ok, MbIcon::Information);
        detector_.FallBackToPerChannel();
    }

    // The detector measures every chunk whole, with its look-ahead, even
    // where the analysis limit ends inside it; past the end of the audio it
    // sees silence, never the trailer's bytes.
    const ChunkSpan span = ScanRange(doc_);
    PassPlan plan;
    plan.range = {span.first, span.end};
    plan.lookAhead = kLookAheadBytes;
    plan.wholeChunks = true;
    plan.writes = restoreOriginal_ ? PassWrites::SourceToWorking : PassWrites::Nothing;
    plan.progress = PassProgress::OverRange;
    const PassOutcome outcome = CChunkedPass(doc_).Run(plan, [&](PassChunk& chunk) {
        std::copy_n(chunk.view, CClickDetector::kChunkValues, detector_.Buffer());
        detector_.ScanBuffer(chunk.pos);
        return true;
    });
    cancelled_ = outcome == PassOutcome::Cancelled;
    failed_ = outcome == PassOutcome::Failed;
    return detector_.End();
}

int32_t BlockScan(CQuillon3Doc& doc, const ScanParams& params, bool superimpose, bool restoreOriginal,
                  bool* cancelled)
{
    CBlockScanner scanner(doc, params, superimpose, restoreOriginal);
    const int32_t found = scanner.Run();
    if (cancelled) *cancelled = scanner.Cancelled() || scanner.Failed();
    return found;
}

}  // namespace kelvane
