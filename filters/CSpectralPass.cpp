#include "CSpectralPass.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "filters/NoiseProfile.h"
#include "spectral/Spectral.h"

#include <algorithm>
#include <cmath>

namespace kelvane {

namespace {

// Stands in for 1 / W[0] = 1 / 0; the sample it scales always has weight 0.
constexpr double kZeroWindowScale = 1e10;

}  // namespace

CSpectralPass::CSpectralPass(CQuillon3Doc& doc) : doc_(doc) {}

void CSpectralPass::Prepare(const ProfileArray& left, const ProfileArray& right, int32_t strength, int n)
{
    n_ = n;
    gain_.Prepare(left, right, strength);
    window_ = WindowTable(n);
    frame_.assign(static_cast<size_t>(n), 0.0);
    fft_.Reserve(n);
    for (int c = 0; c < 2; ++c) {
        accumulator_[c].assign(static_cast<size_t>(n / 2), 0);
        tail_[c].assign(static_cast<size_t>(n / 2), 0);
    }
}

void CSpectralPass::ProcessFrame(double* x, int channel)
{
    const int n = n_;
    for (int i = 0; i < n; ++i) x[i] *= window_[static_cast<size_t>(i)];
    fft_.Forward(x, n);
    gain_.Apply(x, channel);
    if (n == 1024) {
        // Above bin 255 (and the Nyquist term that shares bin 0's pair)
        // nothing is kept: a quarter of the rate is where the profile ends.
        x[1] = 0.0;
        std::fill(x + 2 * kProfileBins, x + n, 0.0);
    }
    fft_.Inverse(x, n);
    x[0] *= kZeroWindowScale;
    for (int i = 1; i < n; ++i) x[i] /= window_[static_cast<size_t>(i)];
}

bool CSpectralPass::Chunk(PassChunk& chunk, int32_t /*first*/, int32_t last)
{
    const int n = n_, h = n / 2, m = n / 8;
    const int32_t hopUnits = h * 4;
    const int32_t peak = doc_.bitsPerSample == 24 ? 8388607 : 32767;
    int32_t* v = chunk.full;
    const int64_t framesHeld = chunk.values / 2;
    for (int64_t t = chunk.pos; t < int64_t{chunk.pos} + chunk.units; t += hopUnits) {
        const int64_t f0 = (t - chunk.pos) / 4;
        // Frames at or past the range's end read as silence.
        const int64_t inRange = std::min((int64_t{last} - t) / 4, framesHeld - f0);
        const int64_t outFrames = std::min<int64_t>(h, (int64_t{last} - t) / 4);
        for (int c = 0; c < 2; ++c) {
            double* y = frame_.data();
            for (int i = 0; i < n; ++i) y[i] = i < inRange ? v[2 * (f0 + i) + c] : 0.0;
            ProcessFrame(y, c);
            std::vector<int64_t>& acc = accumulator_[c];
            std::vector<int64_t>& tail = tail_[c];
            // Each term is formed as written, (k - m) * y / (2m), in double,
            // and the sum truncated toward zero before the next is added.
            for (int k = m; k < 3 * m; ++k)
                acc[k] = static_cast<int64_t>(std::trunc(static_cast<double>(acc[k]) + (k - m) * y[k] / (2 * m)));
            for (int k = 3 * m; k < 4 * m; ++k)
                acc[k] = static_cast<int64_t>(std::trunc(static_cast<double>(acc[k]) + y[k]));
            for (int64_t k = 0; k < outFrames; ++k)
                v[2 * (f0 + k) + c] = static_cast<int32_t>(std::clamp<int64_t>(acc[k], -peak - 1, peak));
            for (int l = 0; l < m; ++l) tail[l] = static_cast<int64_t>(std::trunc(y[4 * m + l]));
            for (int l = m; l < 3 * m; ++l)
                tail[l] = static_cast<int64_t>(std::trunc((3 * m - l) * y[4 * m + l] / (2 * m)));
            std::fill(tail.begin() + 3 * m, tail.end(), 0);
            acc.swap(tail);
        }
    }
    return true;
}

bool CSpectralPass::CopyTrailer()
{
    // The pass never writes behind the audio, but what lies there must match
    // the source when the working file is handed over as a saved file.
    const int64_t frameBytes = doc_.bitsPerSample == 24 ? 6 : 4;
    const int64_t bytes = std::min<int64_t>(doc_.trailerBytes, int64_t{n_} * frameBytes);
    if (bytes <= 0) return true;
    std::vector<uint8_t> buffer(static_cast<size_t>(bytes));
    const int64_t at = doc_.sourceFile.MapPosition(doc_.dataEnd);
    CWaveFile& src = doc_.sourceFile;
    CWaveFile& dst = doc_.workingFile;
    const int64_t got = src.SeekRaw(at) < 0 ? -1 : src.ReadRaw(buffer.data(), bytes);
    bool ok = got >= 0;
    if (ok && got > 0) ok = dst.SeekRaw(at) >= 0 && dst.WriteRaw(buffer.data(), got);
    if (!ok) {
        const std::string& why = got < 0 ? src.LastError() : dst.LastError();
        doc_.Ui().MessageBox(why.empty() ? "The wave file cannot be written." : why, kAppCaption, MbButtons::Ok,
                             MbIcon::Error);
    }
    return ok;
}

PassOutcome CSpectralPass::Run(const SpectralPassSpec& spec)
{
    stoppedAt_ = doc_.dataStart;
    if (!doc_.noise.leadIn.Exists() ||
        !MeasureProfile(doc_, doc_.noise.leadIn, doc_.noise.leadInLeft, doc_.noise.leadInRight))
        return PassOutcome::Failed;
    const int n = ProfileFrameLength(doc_);
    Prepare(doc_.noise.leadInLeft, doc_.noise.leadInRight, spec.strength, n);
    doc_.status = kStatusAborted;

    PassSpec pass;
    pass.range = PassRange::BlockOrWhole(doc_);
    const int32_t first = std::max(pass.range.first, doc_.dataStart);
    const int32_t last = std::min(pass.range.last, doc_.dataEnd);
    // Whole hops per chunk, so every frame of a chunk's hops is in its reach.
    const int32_t hopUnits = n / 2 * 4;
    pass.chunkUnits = std::max(hopUnits, spec.chunkUnits / hopUnits * hopUnits);
    pass.lookAhead = hopUnits;
    pass.precision = PassPrecision::Full;
    pass.writes = PassWrites::InPlace;
    pass.question = spec.question;
    pass.recordStop = true;
    CChunkedPass driver(doc_);
    const PassOutcome outcome = driver.Run(pass, [&](PassChunk& chunk) { return Chunk(chunk, first, last); });
    stoppedAt_ = driver.StoppedAt();
    if (outcome != PassOutcome::Completed) return outcome;
    if (!CopyTrailer()) return PassOutcome::Failed;
    doc_.status = kStatusReadyToSave;
    return outcome;
}

}  // namespace kelvane
