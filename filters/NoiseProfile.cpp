#include "NoiseProfile.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "spectral/CRealFft.h"
#include "spectral/Spectral.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace kelvane {

namespace {

constexpr int32_t kSearchStepUnits = 512 * 4;      // the search moves 512 frames at a time
constexpr int64_t kSearchReachUnits = 54684000;    // 13671000 frames
constexpr int32_t kMusicScore = 20;                // music is confirmed above this score
constexpr int32_t kProfileUnits = 8800 * 4;        // the profile block's length
constexpr int32_t kRunBlocks = 9;                  // level blocks in a quiet run
constexpr int32_t kLeadSkipUnits = 1024 * 4;       // the first level block is left out

// The 16-bit view of n frames at pos, silence past the audio.
bool ReadView(CQuillon3Doc& doc, int64_t pos, int n, std::vector<int16_t>& out)
{
    out.assign(static_cast<size_t>(n) * 2, 0);
    const int64_t units = std::clamp<int64_t>(int64_t{doc.dataEnd} - pos, 0, int64_t{n} * 4) & ~int64_t{1};
    if (units == 0) return true;
    return doc.workingFile.ReadAt(pos, out.data(), units) >= 0;
}

}  // namespace

int32_t ProfileFrameLength(const CQuillon3Doc& doc)
{
    return doc.overviewStep;
}

bool IsMusicFrame(const int16_t* interleaved, int channel, int n)
{
    thread_local CRealFft fft;
    thread_local std::vector<double> frame;
    frame.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) frame[static_cast<size_t>(i)] = interleaved[2 * i + channel];
    ApplyWindow(frame.data(), n);
    fft.Forward(frame.data(), n);
    std::array<float, 100> e{};
    for (int k = 5; k <= 104; ++k) e[static_cast<size_t>(k - 5)] = static_cast<float>(CRealFft::Magnitude(frame.data(), k));
    // A silent frame (no magnitude at all) has no tonal peaks: noise.
    return SpectralIrregularity(e.data(), 100, 5.0f, 1.0f) > 1.0f;
}

std::optional<int32_t> SearchForSignal(CQuillon3Doc& doc, int32_t p, int direction)
{
    const int n = ProfileFrameLength(doc);
    int64_t s = std::clamp<int64_t>(p, doc.dataStart, doc.dataEnd);
    const int64_t limit = std::clamp<int64_t>(int64_t{p} + direction * kSearchReachUnits, doc.dataStart,
                                              std::max<int64_t>(doc.dataStart, int64_t{doc.dataEnd} - kSearchStepUnits));
    const int64_t steps = std::llabs(s - limit) / kSearchStepUnits;
    std::vector<int16_t> view;
    int32_t score = 0;
    for (int64_t i = 0; i < steps; ++i, s += direction * kSearchStepUnits) {
        if (!ReadView(doc, s, n, view)) return std::nullopt;
        // The score is floored and tested after each channel, left first.
        for (int c = 0; c < 2; ++c) {
            score += IsMusicFrame(view.data(), c, n) ? 2 : -1;
            score = std::max(score, 0);
            if (score > kMusicScore) return static_cast<int32_t>(s);
        }
    }
    return std::nullopt;
}

std::optional<int32_t> QuietestRun(const CQuillon3Doc& doc, int64_t x, int64_t y)
{
    const auto& level = doc.blockLevel;
    std::optional<int32_t> best;
    int32_t bestSum = 0;
    for (int64_t k = std::max<int64_t>(0, (x + kBlockBytes - 1) / kBlockBytes);
         (k + kRunBlocks) * kBlockBytes <= y && k + kRunBlocks <= static_cast<int64_t>(level.size()); ++k) {
        // The sum wraps as a 32-bit one would (levels never come near that).
        uint32_t sum = 0;
        bool quiet = true;
        for (int64_t j = k; j < k + kRunBlocks && quiet; ++j) {
            quiet = level[static_cast<size_t>(j)] > 0;
            sum += static_cast<uint32_t>(level[static_cast<size_t>(j)]);
        }
        if (!quiet) continue;
        const auto signedSum = static_cast<int32_t>(sum);
        if (!best || signedSum < bestSum) {
            best = static_cast<int32_t>(k);
            bestSum = signedSum;
        }
    }
    return best;
}

void IdentifyProfileBlock(CQuillon3Doc& doc)
{
    // The search confirms music well after it begins (later still in a fade-in
    // or over a smooth spectrum), so a block at a fixed distance before that
    // point may well hold music. The block goes instead where the level
    // statistics are lowest in the stretch before the music (or after it):
    // the quietest stretch there is the likeliest to be noise alone. Blocks
    // of level 0 are digital silence, with no noise to measure, and are
    // passed over.
    ProfileBlock& block = doc.noise.leadIn;
    const auto blockAt = [&](int32_t k) {
        block.start = doc.dataAlign + k * kBlockBytes;
        block.end = block.start + kProfileUnits;
    };
    const std::optional<int32_t> b = SearchForSignal(doc, doc.dataStart, +1);
    if (b) {
        if (const auto k = QuietestRun(doc, int64_t{doc.dataStart} + kLeadSkipUnits, int64_t{*b} - kProfileUnits)) {
            blockAt(*k);
            return;
        }
    }
    const int32_t tail = doc.dataEnd - kSearchStepUnits;
    const std::optional<int32_t> e = SearchForSignal(doc, tail, -1);
    if (e) {
        if (const auto k = QuietestRun(doc, int64_t{*e} + kProfileUnits, tail)) {
            blockAt(*k);
            return;
        }
    }

    // No quiet stretch before or after the music: the quietest level block
    // between them, and the noise around it up to the music on either side.
    // A search that found nothing counts as position 0.
    const int32_t bPos = b.value_or(0), ePos = e.value_or(0);
    int64_t f = bPos;
    const int64_t last = std::min<int64_t>(ePos / kBlockBytes, static_cast<int64_t>(doc.blockLevel.size()));
    int32_t lowest = 0;
    bool examined = false;
    for (int64_t k = bPos / kBlockBytes; k < last; ++k) {
        const int32_t v = doc.blockLevel[static_cast<size_t>(k)];
        if (!examined || v < lowest) {
            lowest = v;
            f = k * kBlockBytes;
            examined = true;
        }
    }
    const int64_t h = SearchForSignal(doc, static_cast<int32_t>(f), -1).value_or(0);
    const int64_t l = SearchForSignal(doc, static_cast<int32_t>(f), +1).value_or(0);
    const int64_t o = doc.dataAlign + ((h + l) / 2 / 4 * 4);
    block.start = static_cast<int32_t>(std::max<int64_t>(doc.dataStart, o - kProfileUnits / 2));
    block.end = static_cast<int32_t>(std::min<int64_t>(doc.dataEnd, o + kProfileUnits / 2));
    if (l - h < kProfileUnits) {
        doc.Ui().MessageBox(doc.status == kStatusNotCorrected ? kMsgProfileUnreliableShort : kMsgProfileUnreliable,
                            kAppCaption, MbButtons::Ok, MbIcon::Warning);
    }
}

bool MeasureProfile(CQuillon3Doc& doc, const ProfileBlock& block, ProfileArray& left, ProfileArray& right)
{
    const int n = ProfileFrameLength(doc);
    const int64_t count = (int64_t{block.end} - block.start) / 4 / n;
    if (count <= 0) return false;
    CRealFft fft;
    std::vector<int32_t> values(static_cast<size_t>(n) * 2);
    std::vector<double> frame(static_cast<size_t>(n));
    std::array<std::array<double, kProfileBins>, 2> sums{};
    for (int64_t t = block.start; t < block.end; t += int64_t{n} * 4) {
        std::fill(values.begin(), values.end(), 0);
        const int64_t samples = std::clamp<int64_t>((int64_t{doc.dataEnd} - t) / 2, 0, int64_t{n} * 2);
        if (samples > 0 && doc.workingFile.Read24At(t, values.data(), samples) < 0) {
            const std::string& why = doc.workingFile.LastError();
            doc.Ui().MessageBox(why.empty() ? "The wave file cannot be read." : why, kAppCaption, MbButtons::Ok,
                                MbIcon::Error);
            return false;
        }
        for (int c = 0; c < 2; ++c) {
            for (int i = 0; i < n; ++i) frame[static_cast<size_t>(i)] = values[static_cast<size_t>(2 * i + c)];
            ApplyWindow(frame.data(), n);
            fft.Forward(frame.data(), n);
            for (int k = 0; k < kProfileBins; ++k) sums[c][k] += CRealFft::Magnitude(frame.data(), k);
        }
    }
    for (int k = 0; k < kProfileBins; ++k) {
        left[k] = static_cast<int32_t>(sums[0][k] / static_cast<double>(count));
        right[k] = static_cast<int32_t>(sums[1][k] / static_cast<double>(count));
    }
    return true;
}

bool MeasureLeadInProfile(CQuillon3Doc& doc)
{
    if (!doc.noise.leadIn.Exists()) IdentifyProfileBlock(doc);
    return MeasureProfile(doc, doc.noise.leadIn, doc.noise.leadInLeft, doc.noise.leadInRight);
}

}  // namespace kelvane
