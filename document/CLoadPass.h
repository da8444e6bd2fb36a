#pragma once
// The load pass: the first pass over a newly imported recording. It copies
// the source into the working file one segment at a time (decoding APE input
// and widening mono input into the temporary source on the way), gathers the
// block statistics, and hands each chunk's 16-bit values to the load scanner.
// The user may stop it; the questions depend on what is running.

#include "document/CWaveFile.h"
#include "document/ImportResult.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvane {

class CBlockStatistics;
class CQuillon3Doc;

// What runs on the chunks while they are loaded (the click scanner for a
// vinyl source, the hiss analysis for tape).
class ILoadScanner {
public:
    virtual ~ILoadScanner() = default;
    // values: the chunk's interleaved 16-bit samples from chunkOffset on,
    // 0x40000 units plus 4096 units of look-ahead; past the end of the file
    // the values are 0 (the bytes of a trailer after the data come through).
    virtual void ScanChunk(const int16_t* values, int32_t chunkOffset, int32_t valueCount) = 0;
    // After the last chunk, unless scanning was stopped.
    virtual void EndOfScan() = 0;
};

enum class LoadOutcome {
    Completed,    // copied and scanned to the end
    ScanStopped,  // copied to the end; the user stopped the scan (scanCancelledAt set)
    Abandoned,    // the user abandoned the load: the caller empties the document
    Failed,       // a file error; the user was told
};

class CLoadPass {
public:
    explicit CLoadPass(CQuillon3Doc& doc);
    ~CLoadPass();

    // Runs the whole pass. scanner may be null (nothing to scan).
    // hissQuestion: the scan is the hiss filter's (changes the question).
    LoadOutcome Run(ILoadScanner* scanner, bool hissQuestion = false);

    // The last failure's text (for Failed).
    const std::string& FailText() const { return failText_; }

    // Step by step, for callers that drive the chunks themselves.
    bool Begin();
    bool AtEnd() const;
    int32_t Position() const { return loadPos_; }
    // Copies the chunk at Position() and advances; values/valueCount receive
    // the chunk's 16-bit samples for a scanner.
    bool NextChunk(const int16_t*& values, int32_t& valueCount);
    bool Finish();

private:
    bool Fail(const std::string& text);
    bool Decoding(int32_t kind) const;
    bool ReadChunkInput(int64_t& rawBytes);
    bool WidenMono(int64_t monoByteOffset, int64_t monoBytes, uint8_t* out, int64_t& outBytes);
    bool FillFromInputs(uint8_t* out, int64_t bytes, int64_t& filled);
    void ApplyInputTags();

    CQuillon3Doc& doc_;
    std::vector<uint8_t> buffer_;
    std::vector<int16_t> monoScratch_;
    std::unique_ptr<CBlockStatistics> stats_;
    int32_t loadPos_ = 0;
    int32_t statsDone_ = 0;  // statistics cover [dataStart, statsDone_)
    int64_t bufferBytes_ = 0;  // raw bytes of one full chunk buffer
    std::string failText_;
    // A merged recording: the input being copied and where its next byte is.
    size_t mergeIndex_ = 0;
    int64_t mergeOffset_ = 0;
    int64_t mergedTo_ = 0;  // the merged file holds its audio up to this position
    CWaveFile mergeInput_;
};

}  // namespace kelvane
