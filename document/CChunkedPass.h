#pragma once
// The frame shared by the whole-file operations: a loop over the marked block
// (or the whole recording) in segments of 0x40000 position units, with the
// progress window, the cancel question between chunks, and the write-back of
// each processed chunk. The operation itself only transforms the frames.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kelvane {

class CQuillon3Doc;

struct ChunkedPassOptions {
    std::string caption;            // e.g. "Scanning...", "Applying Filters"
    bool cancellable = true;
    std::string cancelQuestion = "Really Cancel?";
    bool recordCancelPosition = false;  // store the chunk start in scanCancelledAt
};

enum class PassOutcome { Completed, Cancelled, Failed };

class CChunkedPass {
public:
    // frames: n / 4 interleaved stereo 16-bit frames of the chunk at pos,
    // to be changed in place. Returning false fails the pass.
    using ChunkFn = std::function<bool(int16_t* frames, int32_t frameCount, int32_t pos)>;

    explicit CChunkedPass(CQuillon3Doc& doc) : doc_(doc) {}

    PassOutcome Run(const ChunkedPassOptions& options, const ChunkFn& process);

    // The range the pass covers: the block when one is marked (each bound
    // falling back to the data bounds when 0), else the whole recording.
    static void Range(const CQuillon3Doc& doc, int32_t& first, int32_t& last);

private:
    CQuillon3Doc& doc_;
    std::vector<int16_t> buffer_;
};

}  // namespace kelvane
