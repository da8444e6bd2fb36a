#pragma once
// Correction generation: for every click record, a replacement waveform is
// synthesised from the working file around the click and written over it.
// Only the working file changes; the source recording keeps the original
// audio, which is how any correction can later be undone.
//
// Each correction reads the working file as the corrections before it left
// it, so overlapping corrections layer in the order they are made; the whole
// list is therefore made in ascending pass order (see GenerateAll).
//
// Short clicks (half-length below 8 frames) get a cubic through two frames on
// each side; longer ones a spectral reconstruction (CSpectralRepair) with
// 16-frame cross-fades at both ends.
//
// The buffers live in the object and are reused, so a correction allocates
// nothing. Single-threaded, like the document it works on.

#include "declick/CSpectralRepair.h"
#include "document/CGrowList.h"
#include "document/EventRecord.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

class CQuillon3Doc;

enum class GenerateOutcome { Completed, Cancelled, Failed };

class CCorrector {
public:
    // Frames per reconstruction window and per transform.
    static constexpr int32_t AnalysisLength(int32_t sampleRate) { return sampleRate <= 48000 ? 512 : 1024; }
    // Gap between the peak-analysis frames and the click, in position units
    // (50 or 100 frames).
    static constexpr int32_t MarginBytes(int32_t sampleRate) { return sampleRate <= 48000 ? 200 : 400; }
    // The stretch of the working file one correction reads and rewrites, in
    // position units: it starts BufferStart(pos) and is BufferBytes long
    // (3272 at 44.1/48 kHz: N + M/4 + N/2 frames, the click's frame being
    // frame N + M/4).
    static constexpr int64_t BufferStart(int32_t pos, int32_t sampleRate)
    {
        return int64_t{pos} - 4 * AnalysisLength(sampleRate) - MarginBytes(sampleRate);
    }
    static constexpr int32_t BufferBytes(int32_t sampleRate)
    {
        return MarginBytes(sampleRate) + 6 * AnalysisLength(sampleRate);
    }
    // Half-length c of a correction in frames: 2 * floor(3w / 8) + 2 for the
    // width code w (bits 0..8 of width); 0 for a marker (negative width).
    static constexpr int32_t HalfLength(int32_t width)
    {
        return width < 0 ? 0 : event::ReplacementFrames(width);
    }
    // Half-gap b of a long correction of half-length c: c / 6 + 3, except
    // that 40 (c = 222, 224, 226: width codes 294..300, which include the
    // scanner's width-300 corrections) becomes the wide gap of 200.
    static constexpr int32_t HalfGap(int32_t halfLength)
    {
        const int32_t b = halfLength / 6 + 3;
        return b == 40 ? CSpectralRepair::kWideGap : b;
    }
    // Shortest half-length that is reconstructed spectrally.
    static constexpr int32_t kLongFrom = 8;
    static constexpr int32_t kFadeFrames = 16;

    // Keeps a reference to the document; the sampling rate is taken from it
    // at each correction, so one object may outlive a change of recording.
    explicit CCorrector(CQuillon3Doc& doc);

    // Corrects one record in doc.workingFile: reads the buffer around
    // e.pos, synthesises the replacement for every channel whose
    // "not corrected" bit is clear, writes the stretch back. In a 24-bit
    // recording the synthesis works on the upper 16 bits; the samples it
    // changed are written as value x 256, every other sample keeps its full
    // 24-bit value. Width codes of 320 and more at 44.1/48 kHz are made as
    // wide as the 512-frame window allows (half-length 240).
    // Returns true when the working file was rewritten. A marker, a position
    // off the frame grid or one whose buffer would reach outside
    // [dataStart, dataEnd) is skipped (false, nothing touched). A read or
    // write failure also returns false; doc.workingFile.LastError() says why.
    bool CorrectOne(const EventRecord& e);

    // Corrects every record of `list` (indices 1 .. size-2; element 0 is the
    // head sentinel, the last the blank working record): all records of pass
    // -1 in list order, then pass 0, then 1, and so on. Markers are taken in
    // turn but not corrected. Shows the status texts, drives the progress
    // window (range 0 .. size-1) and polls its cancel flag before each record
    // unless its Cancel button is disabled (a regeneration that must run to
    // its end); when the user confirms "Really Cancel?", the index of the
    // record not yet made is stored in doc.scanCancelledAt and the records
    // made so far stay made. The list itself is not changed; doc.status is
    // left to the caller. A working-file read or write that fails stops the
    // run (Failed): the user is told the system's reason, and no later record
    // is tried, since a file that refused one correction would silently
    // refuse the rest.
    GenerateOutcome GenerateAll(CGrowList<EventRecord>& list);

    // Records whose read or write failed since the last GenerateAll began
    // (direct CorrectOne calls count as well), and why the last one failed.
    int32_t IoErrors() const { return ioErrors_; }
    const std::string& IoErrorText() const { return ioErrorText_; }

private:
    struct Layout {
        int n = 512;          // analysis length, frames
        int clickFrame = 0;   // the click's frame within the buffer
        int windowFrame = 0;  // buffer frame of window sample 0
        int frames = 0;       // frames in the buffer
    };

    // Reads the buffer at `start`, synthesises, writes it back; false on a
    // read or write failure.
    bool Rewrite(int64_t start, const Layout& L, int32_t width);
    void Synthesise(const Layout& L, int32_t width);
    void ShortCorrection(const Layout& L, int32_t c, const bool enabled[2]);
    void LongCorrection(const Layout& L, int32_t c, const bool enabled[2]);

    CQuillon3Doc& doc_;
    CSpectralRepair repair_;
    // One buffer each for the largest rate: interleaved 16-bit frames as read
    // (before_) and as rebuilt (work_), the full-precision samples of a
    // 24-bit recording, and one channel's reconstruction.
    std::vector<int16_t> before_;
    std::vector<int16_t> work_;
    std::vector<int32_t> full_;
    std::vector<float> reconstruction_;
    std::vector<int32_t> order_;
    int32_t ioErrors_ = 0;
    std::string ioErrorText_;
};

}  // namespace kelvane
