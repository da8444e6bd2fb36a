#include "CBlockScanner.h"

#include "document/CProgressWnd.h"
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

void CBlockScanner::Report(const std::string& error)
{
    failed_ = true;
    doc_.Ui().MessageBox(error.empty() ? std::string("The wave file cannot be read.") : error, kAppCaption,
                         MbButtons::Ok, MbIcon::Error);
}

bool CBlockScanner::Restore(int64_t offset)
{
    // Only audio is restored; the trailer behind it never changes anyway.
    const int64_t units = std::clamp<int64_t>(int64_t{doc_.dataEnd} - offset, 0, CClickDetector::kChunkValues * 2);
    const int64_t samples = units / 2;
    restore_.resize(static_cast<size_t>(CClickDetector::kChunkValues));
    CWaveFile& source = doc_.sourceFile;
    CWaveFile& working = doc_.workingFile;
    int64_t got = -1;
    if (source.Seek(offset) >= 0) got = source.Read24(restore_.data(), samples);
    if (got < 0) {
        Report(source.LastError());
        return false;
    }
    if (working.Seek(offset) < 0 || !working.Write24(restore_.data(), got)) {
        Report(working.LastError());
        return false;
    }
    return true;
}

bool CBlockScanner::ReadChunk(int64_t offset)
{
    // Past the end of the audio the detector sees silence, as in the load
    // scan, never the trailer's bytes.
    const int64_t units = std::clamp<int64_t>(int64_t{doc_.dataEnd} - offset, 0, CClickDetector::kChunkValues * 2);
    int16_t* buffer = detector_.Buffer();
    CWaveFile& working = doc_.workingFile;
    int64_t got = -1;
    if (working.Seek(offset) >= 0) got = working.Read(buffer, units);
    if (got < 0) {
        Report(working.LastError());
        return false;
    }
    std::fill(buffer + got / 2, buffer + CClickDetector::kChunkValues, int16_t{0});
    return true;
}

int32_t CBlockScanner::Run()
{
    cancelled_ = failed_ = false;
    const Bounds b = BlockBounds(doc_);
    detector_.Begin(TagFor(doc_, superimpose_), b.low, b.high);
    IInteraction& ui = doc_.Ui();
    if (detector_.Differential() && doc_.noDifferenceData) {
        ui.MessageBox(kNoDifferenceText, kAppCaption, MbButtons::Ok, MbIcon::Information);
        detector_.FallBackToPerChannel();
    }

    const ChunkSpan span = ScanRange(doc_);
    for (int64_t offset = span.first; offset < span.end; offset += kSegmentBytes) {
        CProgressWnd* progress = doc_.progress;
        if (progress && progress->Cancelled() &&
            ui.MessageBox("Really Cancel?", kAppCaption, MbButtons::YesNo, MbIcon::Question) == MbAnswer::Yes) {
            cancelled_ = true;
            break;
        }
        if (progress) progress->SetPos(static_cast<int32_t>(offset));
        if (restoreOriginal_ && !Restore(offset)) break;
        if (!ReadChunk(offset)) break;
        detector_.ScanBuffer(static_cast<int32_t>(offset));
    }
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
