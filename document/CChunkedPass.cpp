#include "CChunkedPass.h"

#include "document/CProgressScope.h"
#include "document/Interaction.h"

#include <algorithm>
#include <optional>

namespace kelvane {

PassRange PassRange::BlockOrWhole(const CQuillon3Doc& doc)
{
    if (!doc.HasBlock()) return Whole(doc);
    return {doc.blockStart != 0 ? doc.blockStart : doc.dataStart, doc.blockEnd != 0 ? doc.blockEnd : doc.dataEnd};
}

bool CChunkedPass::Report(const std::string& text)
{
    failText_ = text;
    if (!quiet_) doc_.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Error);
    return false;
}

// Reads readUnits from the chunk's position into the pass's buffers (the
// rest of them silent), copying the source over the working file first when
// the pass restores.
bool CChunkedPass::ReadChunk(const PassPlan& plan, PassChunk& chunk, int32_t units, int64_t readUnits)
{
    const bool restoring = plan.writes == PassWrites::SourceToWorking;
    CWaveFile& file = restoring || plan.reads == PassReads::Source ? doc_.sourceFile : doc_.workingFile;
    CWaveFile& working = doc_.workingFile;
    const int64_t samples = readUnits / 2;
    if (full_.empty()) {
        const int64_t got = file.Seek(chunk.pos) < 0 ? -1 : file.Read(view_.data(), samples * 2);
        if (got < 0) return Report(file.LastError().empty() ? "The wave file cannot be read." : file.LastError());
        std::fill(view_.begin() + got / 2, view_.end(), int16_t{0});
        return true;
    }

    const int64_t got = file.Seek(chunk.pos) < 0 ? -1 : file.Read24(full_.data(), samples);
    if (got < 0) return Report(file.LastError().empty() ? "The wave file cannot be read." : file.LastError());
    if (restoring) {
        if (got > 0 && (working.Seek(chunk.pos) < 0 || !working.Write24(full_.data(), got)))
            return Report(working.LastError().empty() ? "The wave file cannot be written." : working.LastError());
        wrote_ = wrote_ || got > 0;
        // What the source lacks would stay as the working file has it: the
        // restore would be silently incomplete.
        if (got * 2 < std::min<int64_t>(readUnits, units))
            return Report(file.Path() + ": the source ends before the audio does");
    }
    std::fill(full_.begin() + got, full_.end(), int32_t{0});
    if (!view_.empty()) {
        // The 16-bit view of a full-precision sample is its upper 16 bits.
        const int shift = file.BitsPerSample() == 24 ? 8 : 0;
        for (size_t i = 0; i < view_.size(); ++i) view_[i] = static_cast<int16_t>(full_[i] >> shift);
    }
    return true;
}

PassOutcome CChunkedPass::Run(const PassPlan& plan, const ChunkFn& process)
{
    // Never the header, never the trailer behind the audio.
    const int32_t first = std::max(plan.range.first, doc_.dataStart);
    const int32_t last = std::min(plan.range.last, doc_.dataEnd);
    const int32_t chunkUnits = std::max(4, plan.chunkUnits & ~3);
    stoppedAt_ = first;
    wrote_ = false;
    quiet_ = plan.quiet;
    failText_.clear();

    CProgressScope scope(doc_);
    CProgressWnd& progress = scope.Window();
    if (!plan.caption.empty()) progress.SetCaption(plan.caption);
    if (plan.progress == PassProgress::FromZero) progress.SetRange(0, last);
    if (plan.progress == PassProgress::OverRange) progress.SetRange(first, last);
    std::optional<CCancelDisabled> uncancellable;
    if (plan.cancel == PassCancel::Disabled) uncancellable.emplace(progress);

    const auto values = static_cast<size_t>((int64_t{chunkUnits} + std::max(0, plan.lookAhead)) / 2);
    const bool full = plan.precision == PassPrecision::Full || plan.writes == PassWrites::SourceToWorking;
    const bool view = plan.precision == PassPrecision::View16;
    full_.assign(full ? values : 0, 0);
    view_.assign(view ? values : 0, 0);

    PassOutcome outcome = PassOutcome::Completed;
    for (int64_t c = first; c < last; c += chunkUnits) {
        const auto pos = static_cast<int32_t>(c);
        stoppedAt_ = pos;
        if (plan.cancel == PassCancel::Ask && doc_.loaded && scope.CancelConfirmed(plan.question)) {
            if (plan.recordStop) doc_.scanCancelledAt = pos;
            outcome = PassOutcome::Cancelled;
            break;
        }
        if (plan.progress != PassProgress::Still) progress.SetPos(pos);

        const int64_t end = plan.wholeChunks ? doc_.dataEnd : last;
        const auto units = static_cast<int32_t>(std::clamp<int64_t>(end - c, 0, chunkUnits));
        const int64_t wanted = int64_t{units} + std::max(0, plan.lookAhead);
        const int64_t readUnits = std::clamp<int64_t>(int64_t{doc_.dataEnd} - c, 0, wanted) & ~int64_t{1};
        PassChunk chunk;
        chunk.pos = pos;
        chunk.units = units;
        chunk.values = static_cast<int32_t>(values);
        chunk.view = view ? view_.data() : nullptr;
        chunk.full = plan.precision == PassPrecision::Full ? full_.data() : nullptr;
        if (!ReadChunk(plan, chunk, units, readUnits) || (process && !process(chunk))) {
            outcome = PassOutcome::Failed;
            break;
        }
        if (plan.writes == PassWrites::InPlace && units > 0) {
            CWaveFile& working = doc_.workingFile;
            const bool ok = working.Seek(pos) >= 0 &&
                            (full ? working.Write24(full_.data(), units / 2) : working.WriteAs24(view_.data(), units));
            wrote_ = true;
            if (!ok) {
                Report(working.LastError().empty() ? "The wave file cannot be written." : working.LastError());
                outcome = PassOutcome::Failed;
                break;
            }
        }
    }
    if (outcome == PassOutcome::Completed) stoppedAt_ = last;
    if (wrote_) {
        doc_.NotifyUpdate();
        doc_.SetModifiedFlag();
    }
    return outcome;
}

}  // namespace kelvane
