#pragma once
// The load scan: click detection running inside the load pass, one chunk at
// a time as the working file is built. Its records go straight into the
// correction list (doc.events), and it decides on the first usable chunk
// whether the recording carries a difference signal at all.

#include "declick/CClickDetector.h"
#include "declick/ScanParams.h"
#include "document/CLoadPass.h"

#include <cstdint>

namespace kelvane {

class CQuillon3Doc;

class CClickScanner : public ILoadScanner {
public:
    // params: the load-scan settings (ScanParams::FromDocument). The
    // document must outlive the scanner. The correction list is emptied and
    // seeded when the first chunk arrives (or at EndOfScan when none did),
    // so the scanner may be made before the recording is opened.
    CClickScanner(CQuillon3Doc& doc, const ScanParams& params);
    // A scan that was neither ended nor stopped is stopped (see Stop), so the
    // list never ends in a half-filled record.
    ~CClickScanner() override;
    CClickScanner(const CClickScanner&) = delete;
    CClickScanner& operator=(const CClickScanner&) = delete;

    // values: valueCount interleaved 16-bit samples starting at the frame at
    // chunkOffset (a position); normally 0x40000 bytes plus 0x1000 bytes of
    // look-ahead. Fewer values are padded with silence, more are ignored.
    void ScanChunk(const int16_t* values, int32_t chunkOffset, int32_t valueCount) override;

    // Commits the last pending record and closes the list with its tail
    // sentinel.
    void EndOfScan() override;

    // For a load whose scan the user stopped (EndOfScan is then never
    // called): drops the unfinished pending candidate so that the list ends
    // in a blank record again. The records committed so far stay.
    void Stop();

    bool Ended() const { return ended_; }
    // Clicks committed so far (list size - 2).
    int32_t ClicksFound() const;
    const CClickDetector& Detector() const { return detector_; }

private:
    void BeginIfNeeded();
    void CheckDifferenceChannel();

    CQuillon3Doc& doc_;
    CClickDetector detector_;
    bool begun_ = false;
    bool differenceChecked_ = false;
    bool ended_ = false;
};

}  // namespace kelvane
