#include "CSpectralPass.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "filters/NoiseProfile.h"
#include "spectral/Spectral.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelvane {

CSpectralPass::CSpectralPass(CQuillon3Doc& doc) : doc_(doc) {}

void CSpectralPass::Prepare(const ProfileArray& left, const ProfileArray& right, int32_t strength, int n)
{
    n_ = n;
    gain_.Prepare(left, right, strength);
    window_ = WindowTable(n);
    fft_.Reserve(n);
    const int m = n / 8;
    // (k - m) and (3m - l) of the cross-fade, as the doubles the products
    // take them as.
    rise_.resize(static_cast<size_t>(2 * m));
    fall_.resize(static_cast<size_t>(2 * m));
    for (int j = 0; j < 2 * m; ++j) {
        rise_[static_cast<size_t>(j)] = j;
        fall_[static_cast<size_t>(j)] = 2 * m - j;
    }
    // Both channels' frames in one buffer, the second a cache line further
    // than a whole frame on, so that the two never share an address's low
    // twelve bits (stores to one would stall loads of the other).
    frames_.assign(static_cast<size_t>(2 * n + 8), 0.0);
    for (int c = 0; c < 2; ++c) {
        accumulator_[c].assign(static_cast<size_t>(n / 2), 0);
        tail_[c].assign(static_cast<size_t>(n / 2), 0);
    }
}

void CSpectralPass::ProcessFrame(double* x, int channel)
{
    const int n = n_, m = n / 8;
    fft_.Forward(x, n);
    gain_.Apply(x, channel);
    if (n == 1024) {
        // Above bin 255 (and the Nyquist term that shares bin 0's pair)
        // nothing is kept: a quarter of the rate is where the profile ends.
        x[1] = 0.0;
        std::fill(x + 2 * kProfileBins, x + n, 0.0);
    }
    fft_.Inverse(x, n);
    // Only [m, 7m) carries weight in the cross-fade; the ends, where the
    // window nears 0, are never divided.
    const double* w = window_.data();
    int i = m;
#if defined(__SSE2__)
    for (; i + 2 <= 7 * m; i += 2) _mm_storeu_pd(x + i, _mm_div_pd(_mm_loadu_pd(x + i), _mm_loadu_pd(w + i)));
#endif
    for (; i < 7 * m; ++i) x[i] /= w[i];
}

namespace {

// The sums are whole numbers kept in doubles: they stay far below 2^53, where
// a double holds every integer, so each step is the integer sum's own.

#if defined(__SSE2__)
// trunc() of both lanes. The packed conversion covers the 32-bit range; a
// lane beyond it (never in audio) is truncated on its own.
inline __m128d Trunc2(__m128d x)
{
    const __m128d t = _mm_cvtepi32_pd(_mm_cvttpd_epi32(x));
    const __m128d limit = _mm_set1_pd(2147483647.0);
    const __m128d magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), x);
    if (_mm_movemask_pd(_mm_cmpge_pd(magnitude, limit)) == 0) return t;
    alignas(16) double lane[2];
    _mm_store_pd(lane, x);
    return _mm_set_pd(std::trunc(lane[1]), std::trunc(lane[0]));
}
#endif

// acc[k] = trunc(acc[k] + factor[k] * y[k] * scale) for k in [0, count);
// factor null stands for 1 and then scale is not applied.
inline void AddTerms(double* acc, const double* y, const double* factor, double scale, int count)
{
    int k = 0;
#if defined(__SSE2__)
    const __m128d sc = _mm_set1_pd(scale);
    for (; k + 2 <= count; k += 2) {
        __m128d term = _mm_loadu_pd(y + k);
        if (factor) term = _mm_mul_pd(_mm_mul_pd(_mm_loadu_pd(factor + k), term), sc);
        _mm_storeu_pd(acc + k, Trunc2(_mm_add_pd(_mm_loadu_pd(acc + k), term)));
    }
#endif
    for (; k < count; ++k) acc[k] = std::trunc(acc[k] + (factor ? factor[k] * y[k] * scale : y[k]));
}

// out[k] = trunc(factor[k] * y[k] * scale), as AddTerms.
inline void Terms(double* out, const double* y, const double* factor, double scale, int count)
{
    std::fill(out, out + count, 0.0);
    AddTerms(out, y, factor, scale, count);
}

}  // namespace

bool CSpectralPass::Chunk(PassChunk& chunk, int32_t /*first*/, int32_t last)
{
    const int n = n_, h = n / 2, m = n / 8;
    const int32_t hopUnits = h * 4;
    const double peak = doc_.bitsPerSample == 24 ? 8388607 : 32767;
    // 2m is a power of two, so multiplying by its reciprocal is the division.
    const double perFade = 1.0 / (2 * m);
    const double* w = window_.data();
    int32_t* v = chunk.full;
    const int64_t framesHeld = chunk.values / 2;
    for (int64_t t = chunk.pos; t < int64_t{chunk.pos} + chunk.units; t += hopUnits) {
        const int64_t f0 = (t - chunk.pos) / 4;
        // Frames at or past the range's end read as silence.
        const int inRange = static_cast<int>(std::clamp<int64_t>(std::min((int64_t{last} - t) / 4, framesHeld - f0), 0, n));
        const int outFrames = static_cast<int>(std::clamp<int64_t>((int64_t{last} - t) / 4, 0, h));
        // Both channels' frames in one walk over the chunk, windowed as they
        // are read.
        double* y0 = Frame(0);
        double* y1 = Frame(1);
        int32_t* at = v + 2 * f0;
        int i = 0;
#if defined(__SSE2__)
        for (; i + 2 <= inRange; i += 2) {
            const __m128i lr = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 2 * i)),
                                                 _MM_SHUFFLE(3, 1, 2, 0));  // L0 L1 R0 R1
            const __m128d wi = _mm_loadu_pd(w + i);
            _mm_storeu_pd(y0 + i, _mm_mul_pd(_mm_cvtepi32_pd(lr), wi));
            _mm_storeu_pd(y1 + i, _mm_mul_pd(_mm_cvtepi32_pd(_mm_unpackhi_epi64(lr, lr)), wi));
        }
#endif
        for (; i < inRange; ++i) {
            y0[i] = at[2 * i] * w[i];
            y1[i] = at[2 * i + 1] * w[i];
        }
        std::fill(y0 + inRange, y0 + n, 0.0);
        std::fill(y1 + inRange, y1 + n, 0.0);
        for (int c = 0; c < 2; ++c) {
            double* y = Frame(c);
            ProcessFrame(y, c);
            double* acc = accumulator_[c].data();
            // Each term is formed as written, (k - m) * y / (2m), in double,
            // and the sum truncated toward zero before the next is added.
            AddTerms(acc + m, y + m, rise_.data(), perFade, 2 * m);
            AddTerms(acc + 3 * m, y + 3 * m, nullptr, 1.0, m);
            // The newest frame's share of the next hop: weight 1, then (3m - l) / 2m.
            double* tail = tail_[c].data();
            Terms(tail, y + 4 * m, nullptr, 1.0, m);
            Terms(tail + m, y + 5 * m, fall_.data(), perFade, 2 * m);
            std::fill(tail + 3 * m, tail + h, 0.0);
        }
        // The hop's finished sums, clamped to the sample width, back into the
        // chunk; the tails become the next hop's sums.
        const double* a0 = accumulator_[0].data();
        const double* a1 = accumulator_[1].data();
        int k = 0;
#if defined(__SSE2__)
        const __m128d lo = _mm_set1_pd(-peak - 1), hi = _mm_set1_pd(peak);
        for (; k + 2 <= outFrames; k += 2) {
            const __m128i l = _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(_mm_loadu_pd(a0 + k), lo), hi));
            const __m128i r = _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(_mm_loadu_pd(a1 + k), lo), hi));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 2 * k), _mm_unpacklo_epi32(l, r));
        }
#endif
        for (; k < outFrames; ++k) {
            at[2 * k] = static_cast<int32_t>(std::clamp(a0[k], -peak - 1, peak));
            at[2 * k + 1] = static_cast<int32_t>(std::clamp(a1[k], -peak - 1, peak));
        }
        accumulator_[0].swap(tail_[0]);
        accumulator_[1].swap(tail_[1]);
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

PassOutcome CSpectralPass::Run(const SpectralPassSpec& plan)
{
    stoppedAt_ = doc_.dataStart;
    if (!doc_.noise.leadIn.Exists() ||
        !MeasureProfile(doc_, doc_.noise.leadIn, doc_.noise.leadInLeft, doc_.noise.leadInRight))
        return PassOutcome::Failed;
    const int n = ProfileFrameLength(doc_);
    Prepare(doc_.noise.leadInLeft, doc_.noise.leadInRight, plan.strength, n);
    doc_.status = kStatusAborted;

    PassPlan pass;
    pass.range = PassRange::BlockOrWhole(doc_);
    const int32_t first = std::max(pass.range.first, doc_.dataStart);
    const int32_t last = std::min(pass.range.last, doc_.dataEnd);
    // Whole hops per chunk, so every frame of a chunk's hops is in its reach.
    const int32_t hopUnits = n / 2 * 4;
    pass.chunkUnits = std::max(hopUnits, plan.chunkUnits / hopUnits * hopUnits);
    pass.lookAhead = hopUnits;
    pass.precision = PassPrecision::Full;
    pass.writes = PassWrites::InPlace;
    pass.question = plan.question;
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
