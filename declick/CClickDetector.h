#pragma once
// The click detector shared by the load scan and the block scan. It works on
// one chunk at a time: 0x40000 bytes of 16-bit stereo audio plus 0x1000 bytes
// of look-ahead (133120 interleaved values). Per chunk it measures how far
// every sample departs from its neighbours, estimates a base level per
// 128-frame segment from a coarse histogram, turns that into thresholds and
// turns every above-threshold frame into a candidate. Nearby candidates merge
// into one pending record; when a candidate starts a new click the pending
// record is committed (kept or rejected by the tests below) and the list's new
// last element becomes pending.
//
// The arithmetic is deliberately integer and single precision where the
// results must match other implementations record for record; the places
// where a precision had to be chosen say so.
//
// Not thread-safe; one detector per scan. All buffers are members, so a chunk
// and a candidate never allocate (the list grows in steps of 5000 records).

#include "declick/ScanParams.h"
#include "document/CGrowList.h"
#include "document/CQuillon3Doc.h"
#include "document/EventRecord.h"
#include "spectral/CRealFft.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

class CQuillon3Doc;

// Shown when Differential detection is asked for a recording whose channels
// hold no difference signal; detection then goes on per channel.
inline constexpr const char* kNoDifferenceText =
    "No Difference Channel data exists for this file\nThe file will be processed in 'Per Channel' Detection Mode.";

class CClickDetector {
public:
    static constexpr int32_t kChunkBytes = kSegmentBytes;  // the chunk proper; the rest is look-ahead
    static constexpr int32_t kChunkValues = (kSegmentBytes + kLookAheadBytes) / 2;  // 133120
    static constexpr int32_t kSegments = 520;        // of 256 interleaved values
    static constexpr int32_t kLevelValues = 1024;    // the level window: 512 frames

    // Which list is filled and how passes are tagged.
    enum class Kind {
        Load,   // the correction list (doc.events); pass 1
        Block,  // the new-correction list (doc.staging); the scan's pass tag
    };

    // params: copied; sensitivity, discriminator and AGC outside their ranges
    // are clamped to them. The document must outlive the detector.
    CClickDetector(CQuillon3Doc& doc, const ScanParams& params, Kind kind);

    // Empties the target list (grow step 5000) and gives it the head sentinel
    // and a blank pending record tagged passTag. For a block scan, records
    // are committed only at positions in [blockLow, blockHigh]; the load scan
    // ignores both.
    void Begin(int32_t passTag, int32_t blockLow = 0, int32_t blockHigh = 0);

    // The buffer the next chunk goes into: kChunkValues interleaved 16-bit
    // values, left then right. It keeps the last chunk after a scan, because
    // the end-of-scan commit measures its level there.
    int16_t* Buffer() { return buffer_.data(); }
    const int16_t* Buffer() const { return buffer_.data(); }

    // Runs the detection over Buffer(), whose first value is the left sample
    // of the frame at chunkOffset (a position). In Differential mode the
    // buffer is rewritten to the difference signal first.
    void ScanBuffer(int32_t chunkOffset);

    // Commits the pending record (the target list's last element), using the
    // 1024 interleaved values at levelWindow as the level around it. Returns
    // the new pending record: a fresh blank one appended to the list when the
    // click is kept, the same record when it is rejected. The reference is
    // valid until the list next grows.
    EventRecord& Commit(const int16_t* levelWindow);

    // The end of the scan: commits the pending record once more (level window
    // at byte 4 of the last buffer) and leaves a blank tail sentinel at
    // position 0. Returns the clicks in the list (size - 2).
    int32_t End();

    // Replaces the pending record by a blank one (the user stopped the scan;
    // its candidate is not a finished click).
    void DropPending();

    // The Differential mode was asked for but the recording has no
    // difference signal: detect per channel from here on.
    void FallBackToPerChannel();

    // Which list this detector fills.
    CGrowList<EventRecord>& List() { return list_; }
    const ScanParams& Params() const { return params_; }
    float Factor() const { return factor_; }
    bool Differential() const { return differential_; }
    int32_t PassTag() const { return passTag_; }

private:
    void Candidate(int32_t position, int32_t value, int32_t threshold, int32_t chunkOffset);
    int32_t BaseLevel() const;
    // True when both channels around position look like music (test 4).
    bool SoundsLikeMusic(int32_t position);
    void ShowCount();

    CQuillon3Doc& doc_;
    ScanParams params_;
    Kind kind_;
    CGrowList<EventRecord>& list_;
    float factor_ = 3.5f;
    bool differential_ = false;
    double discriminatorLimit_ = 0.0;  // 0: test skipped
    int32_t passTag_ = 1;
    int32_t blockLow_ = 0;
    int32_t blockHigh_ = 0;

    std::vector<int16_t> buffer_;
    std::vector<int32_t> deviation_;
    std::vector<int32_t> segmentMax_;  // one extra: the boundary resets the next one
    std::vector<int32_t> level_;       // base level, then the final threshold
    std::vector<float> ratio_;
    // Carried from chunk to chunk: cleared at the start of the scan and at
    // every segment boundary.
    std::array<int32_t, 20> histogram_{};

    // The discriminator's frame, transform and bin magnitudes.
    CRealFft fft_;
    std::vector<int16_t> around_;
    std::vector<double> frame_;
    std::array<float, 100> bins_{};
    // The progress text, kept so that a candidate never allocates.
    char text_[40] = {};
    std::string message_;
};

}  // namespace kelvane
