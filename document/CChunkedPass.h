#pragma once
// The one driver of the passes over a recording. A pass is described by
// where it runs (a range of positions), how it reads (which file, at which
// precision, with how much look-ahead) and what goes back to the working
// file; the driver walks the range in chunks, keeps the progress window
// moving, asks the pass's cancel question between chunks and writes each
// chunk back. The operation itself only looks at (or changes) the samples
// of one chunk at a time.
//
// The source file is only ever read: every write goes to the working file.

#include "document/CQuillon3Doc.h"
#include "document/CancelQuestions.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// Positions [first, last) that a pass covers.
struct PassRange {
    int32_t first = 0;
    int32_t last = 0;

    // The marked block (each bound falling back to the data bounds when 0),
    // else the whole recording.
    static PassRange BlockOrWhole(const CQuillon3Doc& doc);
    static PassRange Whole(const CQuillon3Doc& doc) { return {doc.dataStart, doc.dataEnd}; }
};

enum class PassReads {
    Working,
    Source,
};

enum class PassPrecision {
    View16,  // the upper 16 bits of a 24-bit sample, as the views and the scans see them
    Full,    // the samples as the file holds them (24 bits of a 24-bit file)
};

enum class PassWrites {
    Nothing,          // measuring, scanning
    InPlace,          // the operation's chunk goes to the working file where it was read
    SourceToWorking,  // before the operation sees a chunk (read from the source), the
                      // source's samples at full precision, look-ahead included,
                      // replace the working file's
};

enum class PassCancel {
    Ask,       // the pass's question when Cancel was pressed, once the document is loaded
    Disabled,  // the Cancel button is disabled while the pass runs: it cannot be stopped
    Deferred,  // neither asked nor cleared: a press waits for the operation's next question
};

enum class PassProgress {
    FromZero,   // range [0, last]; the position is each chunk's start
    OverRange,  // range [first, last]; the same positions
    Still,      // the window is left as the operation set it, and not pumped
};

struct PassPlan {
    PassRange range;
    int32_t chunkUnits = kSegmentBytes;
    // Units read after each chunk for an operation that looks ahead; they are
    // never written back in place.
    int32_t lookAhead = 0;
    // The last chunk is read whole even where the range ends inside it (a
    // scan measures the frames around its last positions).
    bool wholeChunks = false;
    PassReads reads = PassReads::Working;
    PassPrecision precision = PassPrecision::View16;
    PassWrites writes = PassWrites::Nothing;
    PassCancel cancel = PassCancel::Ask;
    std::string_view question = cancel::kReallyCancel;
    bool recordStop = false;  // a stop stores the chunk's start in scanCancelledAt
    PassProgress progress = PassProgress::FromZero;
    std::string caption;  // empty: the window keeps its caption
    // A file error is not shown: the operation words it (FailText()).
    bool quiet = false;
};

// One chunk as the operation gets it.
struct PassChunk {
    int32_t pos = 0;    // position of its first frame
    int32_t units = 0;  // position units of the chunk proper (what InPlace writes back)
    // Interleaved samples of the chunk and its look-ahead: (chunkUnits +
    // lookAhead) / 2 values always, 0 past the end of the audio or of what
    // could be read. view with View16, full with Full; the other is null.
    int32_t values = 0;
    int16_t* view = nullptr;
    int32_t* full = nullptr;

    int32_t Frames() const { return units / 4; }
};

enum class PassOutcome { Completed, Cancelled, Failed };

class CChunkedPass {
public:
    // Returning false fails the pass (the operation has told the user why).
    using ChunkFn = std::function<bool(PassChunk& chunk)>;

    explicit CChunkedPass(CQuillon3Doc& doc) : doc_(doc) {}

    // A file error is shown to the user (unless the pass is quiet) and fails
    // the pass; chunks done before it stay done. When anything was written,
    // the views are told and the document is marked modified.
    PassOutcome Run(const PassPlan& plan, const ChunkFn& process = {});

    // The start of the chunk the pass stopped before (cancel or failure), or
    // the range's end when it completed.
    int32_t StoppedAt() const { return stoppedAt_; }
    // Why the pass failed: a file's error, or empty when the operation failed it.
    const std::string& FailText() const { return failText_; }

private:
    bool ReadChunk(const PassPlan& plan, PassChunk& chunk, int32_t units, int64_t readUnits);
    bool Report(const std::string& text);

    CQuillon3Doc& doc_;
    std::vector<int16_t> view_;
    std::vector<int32_t> full_;
    int32_t stoppedAt_ = 0;
    bool wrote_ = false;
    bool quiet_ = false;
    std::string failText_;
};

}  // namespace kelvane
