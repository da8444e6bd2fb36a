#pragma once
// The block scan: click detection over the selected block of a loaded
// recording (the whole file when none is selected), for the re-scan and
// super-scan commands. It reads the working file chunk by chunk, optionally
// restoring each chunk from the source first, and fills the new-correction
// list (doc.staging), which the caller then merges into the correction list.

#include "declick/CClickDetector.h"
#include "declick/ScanParams.h"

#include <cstdint>

namespace kelvane {

class CQuillon3Doc;

// The chunk offsets a block scan visits: first, first + 0x40000, ... while
// below end (positions). Empty when end <= first.
struct ChunkSpan {
    int32_t first = 0;
    int32_t end = 0;
};

// A re-scan sensitivity or mode of this value takes the load scan's.
inline constexpr int32_t kUseLoadSetting = -10;

class CBlockScanner {
public:
    // params: the re-scan settings (kUseLoadSetting where the load scan's
    // sensitivity or mode applies). superimpose: a super-scan (new records
    // are tagged one above the block's highest pass). restoreOriginal: copy
    // every chunk back from the source before it is scanned (a whole-file
    // re-scan that keeps no user corrections). The document must outlive the
    // scanner and have its files open.
    CBlockScanner(CQuillon3Doc& doc, const ScanParams& params, bool superimpose, bool restoreOriginal);

    // Runs the scan, the progress window following it over the scan range.
    // The user may stop it ("Really Cancel?"); the records found until then
    // are kept. A file error is reported to the user and also ends the scan
    // early. Either way the list is left complete (head sentinel, records,
    // blank tail). Returns the number of records found (staging size - 2).
    int32_t Run();

    bool Cancelled() const { return cancelled_; }
    bool Failed() const { return failed_; }
    // The pass tag of the new records.
    int32_t PassTag() const { return detector_.PassTag(); }
    // The settings actually used: a Differential mode without a difference
    // signal has become Per Channel.
    const ScanParams& Params() const { return detector_.Params(); }

    // The chunk-aligned range a block scan of the document's block covers.
    static ChunkSpan ScanRange(const CQuillon3Doc& doc);

private:
    CQuillon3Doc& doc_;
    CClickDetector detector_;
    bool superimpose_;
    bool restoreOriginal_;
    bool cancelled_ = false;
    bool failed_ = false;
};

// The block scan as one call: fills doc.staging and returns the clicks found
// (staging size - 2). cancelled (may be null) receives whether the scan ended
// early, by the user's choice or after a reported file error.
int32_t BlockScan(CQuillon3Doc& doc, const ScanParams& params, bool superimpose, bool restoreOriginal,
                  bool* cancelled);

}  // namespace kelvane
