#include "CClickDetector.h"

#include "document/CProgressWnd.h"
#include "document/CQuillon3Doc.h"
#include "spectral/Spectral.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kelvane {
namespace {

// Upper edges of the deviation histogram's bins; bin 0 holds values <= 8,
// bin k values above edge[k-1] and up to edge[k].
constexpr std::array<int32_t, 20> kEdges = {8,   11,  15,   22,   31,   43,   62,   87,   125,  175,
                                            250, 350, 500,  700,  1000, 1400, 2000, 2800, 4000, 0x7FFFFFFF};
// The base level is the 15th-largest deviation of a segment.
constexpr int32_t kRank = 15;
// A deviation of two 16-bit values is at most 65535; a table lookup keeps the
// per-sample cost flat.
constexpr int32_t kMaxDeviation = 65535;

const std::array<uint8_t, kMaxDeviation + 1>& BinTable()
{
    static const auto table = [] {
        std::array<uint8_t, kMaxDeviation + 1> t{};
        uint8_t bin = 0;
        for (int32_t v = 0; v <= kMaxDeviation; ++v) {
            while (v > kEdges[bin]) ++bin;
            t[static_cast<size_t>(v)] = bin;
        }
        return t;
    }();
    return table;
}

// Peak-ratio limit: a segment louder than this many times what follows it is
// not believed to be music.
int32_t PeakRatioLimit(int32_t sensitivity)
{
    switch (sensitivity) {
    case 1: return 20;
    case 2: return 7;
    default: return 2;
    }
}

constexpr int32_t kDifferenceLimit = 30000;
constexpr int32_t kMaxMergeSpan = 292;  // bytes
constexpr int32_t kLevelLead = 2248;    // bytes before the record where its level window starts
constexpr int32_t kAnalysisFrames = 512;

}  // namespace

CClickDetector::CClickDetector(CQuillon3Doc& doc, const ScanParams& params, Kind kind)
    : doc_(doc),
      params_(params),
      kind_(kind),
      list_(kind == Kind::Load ? doc.events : doc.staging),
      buffer_(kChunkValues, 0),
      deviation_(kChunkValues, 0),
      segmentMax_(kSegments + 1, 0),
      level_(kSegments, 0),
      ratio_(kSegments, 0.0f),
      around_(2 * kAnalysisFrames, 0),
      frame_(2 * kAnalysisFrames, 0.0)
{
    params_.sensitivity = std::clamp(params_.sensitivity, 0, 5);
    params_.discriminator = std::clamp(params_.discriminator, 0, 3);
    params_.agc = std::clamp(params_.agc, 0, 3);
    const int32_t s = params_.sensitivity;
    if (s == 0) {
        factor_ = 1000.0f;
    } else {
        const int32_t f = s > 3 ? s - 1 : s;
        factor_ = static_cast<float>((6 - f) * 0.5 + 2.0);
    }
    differential_ = params_.Differential();
    if (differential_) factor_ += 1.0f;

    const int32_t d = params_.discriminator;
    if (s < 3)
        discriminatorLimit_ = 3.0 / (d + 1);
    else
        discriminatorLimit_ = d == 0 ? 0.0 : 3.0 / d;

    fft_.Reserve(2 * kAnalysisFrames);
    message_.reserve(sizeof text_);
    BinTable();
}

void CClickDetector::Begin(int32_t passTag, int32_t blockLow, int32_t blockHigh)
{
    passTag_ = kind_ == Kind::Load ? 1 : passTag;
    blockLow_ = blockLow;
    blockHigh_ = blockHigh;
    list_.RemoveAll();
    list_.SetGrowStep(kEventGrowStep);
    list_.SetSize(2);  // head sentinel, blank pending record
    list_[1].pass = passTag_;
    histogram_.fill(0);
}

void CClickDetector::FallBackToPerChannel()
{
    if (!differential_) return;
    differential_ = false;
    factor_ -= 1.0f;
    params_.mode = 1005;
}

int32_t CClickDetector::BaseLevel() const
{
    int32_t above = 0;
    int32_t k = 19;
    for (; k > 0; --k) {
        if (above + histogram_[static_cast<size_t>(k)] >= kRank) break;
        above += histogram_[static_cast<size_t>(k)];
    }
    if (k == 19) return 4000;
    if (k == 0) return 6;
    const int32_t hi = kEdges[static_cast<size_t>(k)];
    const int32_t lo = kEdges[static_cast<size_t>(k - 1)];
    return hi - ((hi - lo) * (kRank - above)) / histogram_[static_cast<size_t>(k)];
}

void CClickDetector::ScanBuffer(int32_t chunkOffset)
{
    int16_t* x = buffer_.data();
    if (differential_) {
        for (int32_t j = 0; j < kChunkValues; j += 2) {
            const int32_t d = std::clamp(int32_t{x[j]} - x[j + 1], -kDifferenceLimit, kDifferenceLimit);
            x[j] = x[j + 1] = static_cast<int16_t>(d);
        }
    }

    // Deviation and segment statistics in one pass. Every index counts
    // towards the histogram except the boundary index 256s + 253 itself,
    // where segment s's base level is taken. Indices 256s - 2 and 256s - 1
    // count towards segment s's histogram but belong to segment s - 1, whose
    // maximum has already been used.
    const auto& bins = BinTable();
    int32_t* dev = deviation_.data();
    int32_t* hist = histogram_.data();
    auto deviationAt = [x](int32_t i) {
        // C++ integer division truncates toward zero, as the mean must.
        const int32_t d = x[i] - (x[i - 2] + x[i + 2]) / 2;
        return d < 0 ? -d : d;
    };
    segmentMax_[0] = 0;
    int32_t i = 2;
    for (int32_t s = 0; s < kSegments; ++s) {
        const int32_t segmentStart = s * 256;
        const int32_t boundary = segmentStart + 253;
        if (i < segmentStart) {
            int32_t& previous = segmentMax_[static_cast<size_t>(s - 1)];
            for (; i < segmentStart; ++i) {
                const int32_t d = deviationAt(i);
                dev[i] = d;
                ++hist[bins[static_cast<size_t>(d)]];
                previous = std::max(previous, d);
            }
        }
        int32_t peak = segmentMax_[static_cast<size_t>(s)];
        for (; i < boundary; ++i) {
            const int32_t d = deviationAt(i);
            dev[i] = d;
            ++hist[bins[static_cast<size_t>(d)]];
            peak = std::max(peak, d);
        }
        segmentMax_[static_cast<size_t>(s)] = peak;
        dev[i] = deviationAt(i);
        ++i;
        const int32_t base = BaseLevel();
        level_[static_cast<size_t>(s)] = base;
        // Both operands are exact in float, so the quotient is the correctly
        // rounded single-precision ratio.
        ratio_[static_cast<size_t>(s)] = static_cast<float>(peak) / static_cast<float>(base);
        histogram_.fill(0);
        segmentMax_[static_cast<size_t>(s + 1)] = 0;
    }

    // A peak ratio counts only when the next two segments share it.
    for (int32_t s = 0; s < 512; ++s)
        ratio_[s] = std::min({ratio_[s], ratio_[s + 1], ratio_[s + 2]});

    // A level jump that the following segments do not confirm is a click,
    // not louder music: fall back to the level before it. The look-ahead
    // shrinks with rising sensitivity.
    int32_t* T = level_.data();
    const int32_t q = PeakRatioLimit(params_.sensitivity);
    for (int32_t s = 0; s < 512; ++s) {
        int32_t a;
        if (params_.sensitivity <= 3)
            a = std::max({T[s + 3], T[s + 4], T[s + 5], T[s + 6]});
        else if (params_.sensitivity == 4)
            a = std::max(T[s + 3], T[s + 4]);
        else
            a = T[s + 3];
        if (T[s + 1] > a * q)
            T[s + 1] = std::min(T[s], a);
        else if (T[s + 1] > 2 * T[s] && a < 2 * T[s])
            T[s + 1] = T[s];
    }
    T[0] = T[1];

    // Final thresholds. T * F is int * float, a float product, truncated;
    // the rest follows the literals' type: int * double * double, truncated.
    // The values stay below 2^31: the peak ratio was taken against the
    // estimate that smoothing can only lower, so the product is at most
    // F * 65535 / 2.
    for (int32_t s = 0; s <= 512; ++s) {
        const auto scaled = static_cast<int32_t>(static_cast<float>(T[s]) * factor_);
        const double ratio = std::max(static_cast<double>(ratio_[s]), 2.0);
        T[s] = static_cast<int32_t>(scaled * ratio * 0.5);
    }

    // Candidates: both samples of every frame of the chunk proper except its
    // first, whose left deviation would need the frame before the buffer.
    // That frame is not examined by the chunk before either (it lies in that
    // chunk's look-ahead), but a click there still merges across it.
    const int32_t lastRight = kChunkBytes / 2 - 1;  // 131071
    for (int32_t r = 3; r <= lastRight; r += 2) {
        const int32_t v = std::max(dev[r - 1], dev[r]);
        const int32_t threshold = T[r >> 8];
        if (v > threshold) Candidate(chunkOffset + 2 * (r - 1), v, threshold, chunkOffset);
    }
}

void CClickDetector::Candidate(int32_t position, int32_t value, int32_t threshold, int32_t chunkOffset)
{
    // value * F is a float product (exact except at sensitivity 0, where
    // F = 1000 has too many mantissa bits for it); the double constant then
    // widens it, and the division and truncation happen in double.
    const auto magnitude =
        static_cast<int32_t>(static_cast<double>(static_cast<float>(value) * factor_) * 0.2857142857142857 / threshold);
    EventRecord& pending = list_[list_.Size() - 1];
    if (position - pending.pos < std::min(5 * pending.mag + 16, kMaxMergeSpan) && pending.width >= 0) {
        pending.width = position - pending.pos;
        pending.mag = std::max(pending.mag, magnitude);
        if (kind_ == Kind::Load)
            pending.pass = pending.mag < 30 ? 1 : 0;
        else if (pending.mag >= 30)
            pending.pass = 0;
        return;
    }
    // The level window ends a little after the record; a record that began
    // in an earlier chunk gets the start of this one.
    int32_t start = pending.pos - chunkOffset - kLevelLead;
    if (start < 2) start = 2;
    start = std::min(start, 2 * (kChunkValues - kLevelValues));
    EventRecord& next = Commit(buffer_.data() + start / 2);
    next.pos = position;
    next.mag = magnitude;
    next.width = 0;
    ShowCount();
}

void CClickDetector::ShowCount()
{
    if (!doc_.progress) return;
    std::snprintf(text_, sizeof text_, "Clicks Found = %d", list_.Size() - 2);
    message_.assign(text_);
    doc_.progress->SetMessage(message_);
}

bool CClickDetector::SoundsLikeMusic(int32_t position)
{
    // Above 48 kHz the transform is twice as long for the same resolution in
    // Hz, but only 512 frames are read: the other half of the frame is zero
    // (the window is still the full-length one).
    const int n = doc_.sampleRate > 48000 ? 2 * kAnalysisFrames : kAnalysisFrames;
    CWaveFile& source = doc_.sourceFile;
    int64_t got = -1;
    if (source.Seek(int64_t{position} - 4 * (kAnalysisFrames / 2)) >= 0)
        got = source.Read(around_.data(), 4 * kAnalysisFrames);
    // What cannot be read is judged as silence (smooth, so not music): a
    // read error must not lose a click.
    const int64_t values = got < 0 ? 0 : got / 2;
    std::fill(around_.begin() + values, around_.end(), int16_t{0});

    for (int c = 0; c < 2; ++c) {
        for (int j = 0; j < kAnalysisFrames; ++j) frame_[static_cast<size_t>(j)] = around_[static_cast<size_t>(2 * j + c)];
        std::fill(frame_.begin() + kAnalysisFrames, frame_.begin() + n, 0.0);
        ApplyWindow(frame_.data(), n);
        fft_.Forward(frame_.data(), n);
        for (int k = 5; k <= 104; ++k) bins_[static_cast<size_t>(k - 5)] = static_cast<float>(CRealFft::Magnitude(frame_.data(), k));
        // Abscissae 2k for k = 5..104.
        const float u = SpectralIrregularity(bins_.data(), 100, 10.0f, 2.0f);
        if (!(u > discriminatorLimit_)) return false;
    }
    return true;
}

EventRecord& CClickDetector::Commit(const int16_t* levelWindow)
{
    const int32_t last = list_.Size() - 1;
    EventRecord& rec = list_[last];

    if (rec.pos < doc_.scanFirst || rec.pos > doc_.scanLast) return rec;
    if (kind_ == Kind::Block && (rec.pos < blockLow_ || rec.pos > blockHigh_)) return rec;
    if (params_.sensitivity == 2 && rec.mag < 2) return rec;
    if (params_.sensitivity == 1 && rec.mag < 3) return rec;
    if (rec.mag < params_.minMagnitude) return rec;
    if (discriminatorLimit_ > 0.0 && SoundsLikeMusic(rec.pos)) return rec;

    // The sum of squares is exact in 64 bits and (below 2^53) in double, so
    // the RMS is the correctly rounded double square root.
    int64_t squares = 0;
    for (int32_t j = 0; j < kLevelValues; ++j) squares += int64_t{levelWindow[j]} * levelWindow[j];
    const double rms = std::sqrt(static_cast<double>(squares) / kLevelValues);
    if (params_.agc * rms * 0.001 > rec.mag) return rec;

    // Kept: centre it on the detected span (frame-aligned), count it, and
    // size the correction.
    rec.pos += (rec.width / 8) * 4;
    const int64_t segment = rec.pos / kSegmentBytes;
    if (segment >= 0 && segment < static_cast<int64_t>(doc_.segmentCorrections.size()))
        ++doc_.segmentCorrections[static_cast<size_t>(segment)];
    if (rms < 500 && rec.width < 40) rec.width += 8;
    if (rec.mag > 50 && rec.width > 100)
        rec.width = 300;
    else if (rec.mag > 30 && rec.width != 300)
        rec.width = 292;
    if (rec.width >= 292) rec.mag = std::max(rec.mag, 30);
    if (params_.Narrow()) rec.width = ((rec.width / 3) / 4) * 4;

    EventRecord blank;
    blank.pass = passTag_;
    list_.Add(blank);  // may move the list: rec is not used after this
    return list_[list_.Size() - 1];
}

int32_t CClickDetector::End()
{
    EventRecord& tail = Commit(buffer_.data() + 2);
    // The tail sentinel is a blank record like any pending one.
    tail = EventRecord{};
    tail.pass = passTag_;
    return list_.Size() - 2;
}

void CClickDetector::DropPending()
{
    if (list_.Empty()) return;
    EventRecord blank;
    blank.pass = passTag_;
    list_[list_.Size() - 1] = blank;
}

}  // namespace kelvane
