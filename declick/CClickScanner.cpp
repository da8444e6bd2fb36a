#include "CClickScanner.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"

#include <algorithm>
#include <cstring>

namespace kelvane {
namespace {
constexpr int32_t kProbeRight = 2047;  // right sample of frame 1023
constexpr int32_t kDifferenceLimit = 30000;
}  // namespace

CClickScanner::CClickScanner(CQuillon3Doc& doc, const ScanParams& params)
    : doc_(doc), detector_(doc, params, CClickDetector::Kind::Load)
{
}

CClickScanner::~CClickScanner() { Stop(); }

void CClickScanner::BeginIfNeeded()
{
    if (begun_) return;
    begun_ = true;
    detector_.Begin(1);
    // The list starts empty, so the density table must too.
    std::fill(doc_.segmentCorrections.begin(), doc_.segmentCorrections.end(), 0);
}

void CClickScanner::CheckDifferenceChannel()
{
    // A recording that starts in digital silence says nothing yet; the first
    // chunk with sound at frame 1023 decides, once for the whole load.
    const int16_t* x = detector_.Buffer();
    if (differenceChecked_ || x[kProbeRight] == 0) return;
    differenceChecked_ = true;
    // Only the last frame of the probe span, frame 1023, is looked at.
    const int32_t d = std::clamp(int32_t{x[kProbeRight - 1]} - x[kProbeRight], -kDifferenceLimit, kDifferenceLimit);
    if (d != 0) return;
    doc_.noDifferenceData = 1;
    if (detector_.Differential()) {
        doc_.Ui().MessageBox(kNoDifferenceText, kAppCaption, MbButtons::Ok, MbIcon::Information);
        detector_.FallBackToPerChannel();
        doc_.mode = 1005;
    }
}

void CClickScanner::ScanChunk(const int16_t* values, int32_t chunkOffset, int32_t valueCount)
{
    if (ended_) return;
    BeginIfNeeded();
    int16_t* buffer = detector_.Buffer();
    const int32_t n = values ? std::clamp(valueCount, 0, CClickDetector::kChunkValues) : 0;
    if (n > 0) std::memcpy(buffer, values, static_cast<size_t>(n) * sizeof(int16_t));
    std::fill(buffer + n, buffer + CClickDetector::kChunkValues, int16_t{0});
    CheckDifferenceChannel();
    detector_.ScanBuffer(chunkOffset);
}

void CClickScanner::EndOfScan()
{
    if (ended_) return;
    BeginIfNeeded();
    detector_.End();
    ended_ = true;
}

void CClickScanner::Stop()
{
    if (ended_ || !begun_) return;
    detector_.DropPending();
    ended_ = true;
}

int32_t CClickScanner::ClicksFound() const
{
    const int32_t n = doc_.events.Size() - 2;
    return n < 0 ? 0 : n;
}

}  // namespace kelvane
