#include "output/ApeFormat.h"

extern "C" {
#include <libavutil/crc.h>
}

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelvane::ape {

namespace {

// ---------------------------------------------------------------------------
// Range coder. The decoder keeps a 31-bit window of the code value (plus
// one bit of the following byte) and widens it by a byte whenever the range
// falls to 2^23 or below; the encoder mirrors every one of those steps, so
// both sides see the same ranges and the frame ends on the byte where the
// decoder stops. Carries go back into the bytes already produced, which stay
// in memory until the frame is complete.

constexpr uint32_t kRangeTop = 1u << 31;
constexpr uint32_t kRangeBottom = kRangeTop >> 8;

class RangeEncoder {
public:
    explicit RangeEncoder(std::vector<uint8_t>& out) : out_(out)
    {
        // The first byte is never read: it would only take a carry, and a
        // carry cannot reach it since the interval never leaves [0, 1).
        out_.push_back(0);
        first_ = out_.size();
    }

    // A symbol of width out of 2^shift, starting at low.
    void EncodeShift(uint32_t lowFreq, uint32_t width, int shift)
    {
        Normalize();
        const uint32_t help = range_ >> shift;
        low_ += help * lowFreq;
        range_ = help * width;
        Carry();
    }

    // value out of total equally likely values (total <= 65536).
    void EncodeUniform(uint32_t value, uint32_t total)
    {
        Normalize();
        const uint32_t help = range_ / total;
        low_ += help * value;
        range_ = help;
        Carry();
    }

    // The decoder widens the window once more at the end of the frame and
    // reads the bytes that fill it: one that puts the code value inside the
    // final interval (the top byte plus one, the rest zero) and three zeros.
    void Finish()
    {
        Normalize();
        const uint32_t top = (low_ >> 23) + 1;
        if (top > 0xFF) PropagateCarry();
        out_.push_back(static_cast<uint8_t>(top & 0xFF));
        out_.insert(out_.end(), 3, 0);
    }

private:
    void Normalize()
    {
        while (range_ <= kRangeBottom) {
            out_.push_back(static_cast<uint8_t>(low_ >> 23));
            low_ = (low_ << 8) & (kRangeTop - 1);
            range_ <<= 8;
        }
    }

    void Carry()
    {
        if (low_ & kRangeTop) {
            low_ &= kRangeTop - 1;
            PropagateCarry();
        }
    }

    void PropagateCarry()
    {
        for (size_t i = out_.size(); i > first_;) {
            if (++out_[--i] != 0) return;
        }
    }

    std::vector<uint8_t>& out_;
    size_t first_ = 0;
    uint32_t low_ = 0;
    uint32_t range_ = kRangeTop;
};

// The overflow model: how many pivots a value spans, out of 2^16. Symbol 63
// escapes to a 32-bit count sent as two raw 16-bit halves.
constexpr int kModelElements = 64;
constexpr std::array<uint16_t, 21> kOverflowWidthHead = {19578, 16582, 12257, 7906, 4576, 2366, 1170,
                                                          536,   261,   119,   65,   31,   19,   10,
                                                          6,     3,     3,     2,    1,    1,    1};

struct OverflowModel {
    uint32_t low[kModelElements];
    uint32_t width[kModelElements];
    constexpr OverflowModel() : low(), width()
    {
        uint32_t sum = 0;
        for (int s = 0; s < kModelElements; ++s) {
            width[s] = s < static_cast<int>(kOverflowWidthHead.size()) ? kOverflowWidthHead[s] : 1;
            low[s] = sum;
            sum += width[s];
        }
    }
};
constexpr OverflowModel kOverflow;
static_assert(kOverflow.low[63] + kOverflow.width[63] == 65536);

// Per channel: a running sum that tracks the size of recent values; its
// 32nd part is the pivot each value is split by.
struct EntropyState {
    uint32_t ksum = 16u << 10;
};

inline void EncodeValue(RangeEncoder& rc, EntropyState& st, int32_t v)
{
    // 0, 1, -1, 2, -2, ... as 0, 1, 2, 3, 4, ...
    const uint32_t x = v > 0 ? 2u * static_cast<uint32_t>(v) - 1u : 0u - 2u * static_cast<uint32_t>(v);
    const uint32_t pivot = std::max<uint32_t>(st.ksum >> 5, 1u);
    const uint32_t overflow = x / pivot;
    const uint32_t base = x - overflow * pivot;
    if (overflow < kModelElements - 1) {
        rc.EncodeShift(kOverflow.low[overflow], kOverflow.width[overflow], 16);
    } else {
        rc.EncodeShift(kOverflow.low[kModelElements - 1], kOverflow.width[kModelElements - 1], 16);
        rc.EncodeShift(overflow >> 16, 1, 16);
        rc.EncodeShift(overflow & 0xFFFF, 1, 16);
    }
    if (pivot < 0x10000) {
        rc.EncodeUniform(base, pivot);
    } else {
        // The range cannot hold a uniform choice that wide: high part out
        // of the pivot's top 16 bits (plus one), then the low bits.
        const int bits = 32 - __builtin_clz(pivot) - 16;
        rc.EncodeUniform(base >> bits, (pivot >> bits) + 1);
        rc.EncodeUniform(base & ((1u << bits) - 1), 1u << bits);
    }
    st.ksum += (x + 1) / 2 - ((st.ksum + 16) >> 5);
}

// ---------------------------------------------------------------------------
// The "neural" filters: sign-sign adaptive FIR filters on 16-bit copies of
// the signal, the later levels' main gain. The decoder adds the filter's
// prediction to what it reads; the encoder subtracts it. The adaptation
// steps depend on the size of each input against a running average.

// Sign as the format uses it: -1 for positive, 1 for negative, 0 for zero.
inline int32_t FlippedSign(int32_t v) { return (v < 0) - (v > 0); }

class NNFilter {
public:
    NNFilter(int order, int shift) : order_(order), shift_(shift), round_(1 << (shift - 1))
    {
        coeffs_.assign(static_cast<size_t>(order_), 0);
        input_.assign(static_cast<size_t>(order_ + kWindow), 0);
        delta_.assign(static_cast<size_t>(order_ + kWindow), 0);
    }

    void Reset()
    {
        std::fill(coeffs_.begin(), coeffs_.end(), int16_t{0});
        std::fill(input_.begin(), input_.begin() + order_, int16_t{0});
        std::fill(delta_.begin(), delta_.begin() + order_, int16_t{0});
        pos_ = order_;
        average_ = 0;
    }

    // Replaces the n values of data by what the entropy coder stores.
    void Compress(int32_t* data, size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            const int32_t v = data[i];
            const int16_t* in = input_.data() + pos_ - order_;
            int16_t* delta = delta_.data() + pos_;
            const int32_t dot = Dot(in);
            // The rounding term is added in 64 bits as libavcodec does; the
            // reference decoder adds it in 32, which differs only for a dot
            // product within 2^(shift-1) of the 32-bit limit. That needs
            // coefficients near their 16-bit extremes against full-scale
            // history, which the adaptation never produced on any signal
            // tried, the full-scale noise of the tests included.
            const int32_t e = static_cast<int32_t>(
                static_cast<uint32_t>(v) -
                static_cast<uint32_t>(static_cast<int32_t>((static_cast<int64_t>(dot) + round_) >> shift_)));
            if (e != 0) Adapt(delta - order_, e > 0);
            data[i] = e;

            input_[static_cast<size_t>(pos_)] =
                static_cast<int16_t>(std::clamp<int32_t>(v, std::numeric_limits<int16_t>::min(),
                                                         std::numeric_limits<int16_t>::max()));
            const uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
            if (magnitude == 0)
                *delta = 0;
            else {
                const int64_t avg = average_;
                const int step = magnitude > avg * 3 ? 32 : magnitude > avg + avg / 3 ? 16 : 8;
                *delta = static_cast<int16_t>(v < 0 ? step : -step);
            }
            average_ += static_cast<int32_t>(magnitude - static_cast<uint32_t>(average_)) / 16;
            delta[-1] = static_cast<int16_t>(delta[-1] >> 1);
            delta[-2] = static_cast<int16_t>(delta[-2] >> 1);
            delta[-8] = static_cast<int16_t>(delta[-8] >> 1);

            if (++pos_ == order_ + kWindow) {
                std::memmove(input_.data(), input_.data() + kWindow, static_cast<size_t>(order_) * sizeof(int16_t));
                std::memmove(delta_.data(), delta_.data() + kWindow, static_cast<size_t>(order_) * sizeof(int16_t));
                pos_ = order_;
            }
        }
    }

private:
    static constexpr int kWindow = 512;

    // Sum of coefficient times input, wrapping at 32 bits as the decoders'
    // 16-bit multiply-add instructions do.
    int32_t Dot(const int16_t* in) const
    {
        const int16_t* c = coeffs_.data();
#if defined(__SSE2__)
        __m128i acc0 = _mm_setzero_si128();
        __m128i acc1 = _mm_setzero_si128();
        for (int i = 0; i < order_; i += 16) {
            acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i)),
                                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i))));
            acc1 = _mm_add_epi32(acc1,
                                 _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i + 8)),
                                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8))));
        }
        __m128i acc = _mm_add_epi32(acc0, acc1);
        acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
        acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
        return _mm_cvtsi128_si32(acc);
#else
        uint32_t sum = 0;
        for (int i = 0; i < order_; ++i) sum += static_cast<uint32_t>(c[i] * in[i]);
        return static_cast<int32_t>(sum);
#endif
    }

    // Moves every coefficient by its step against the sign of the output.
    void Adapt(const int16_t* steps, bool down)
    {
        int16_t* c = coeffs_.data();
#if defined(__SSE2__)
        for (int i = 0; i < order_; i += 8) {
            __m128i* p = reinterpret_cast<__m128i*>(c + i);
            const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(steps + i));
            const __m128i v = _mm_loadu_si128(p);
            _mm_storeu_si128(p, down ? _mm_sub_epi16(v, s) : _mm_add_epi16(v, s));
        }
#else
        for (int i = 0; i < order_; ++i)
            c[i] = static_cast<int16_t>(down ? c[i] - steps[i] : c[i] + steps[i]);
#endif
    }

    int order_;
    int shift_;
    int32_t round_;
    std::vector<int16_t> coeffs_;
    std::vector<int16_t> input_;
    std::vector<int16_t> delta_;
    int pos_ = 0;
    int32_t average_ = 0;
};

struct FilterStage {
    int order;
    int shift;
};

// The filters of a level in the order the encoder applies them; the decoder
// undoes them from the last to the first.
std::vector<FilterStage> FiltersOf(int level)
{
    switch (level) {
        case 2000: return {{16, 11}};
        case 3000: return {{64, 11}};
        case 4000: return {{256, 13}, {32, 10}};
        default: return {};
    }
}

// ---------------------------------------------------------------------------
// The predictor of one channel: a fixed first-order filter (x - 31/32 of the
// previous x), then an adaptive 4-tap prediction from the channel's own
// filtered past and a 5-tap one from the other channel, with sign-sign
// coefficient updates. The decoder of each channel feeds it the other
// channel's reconstructed value: for Y the previous X, for X the current Y.

constexpr int32_t kInitialA[4] = {360, 317, -109, 98};

// Everything wraps at 32 bits, as in the decoders: a loud 24-bit signal
// does overflow the products, and only the same wrap-around decodes it.
inline int32_t Add(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline int32_t Sub(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
inline uint32_t Mul(int32_t a, int32_t b) { return static_cast<uint32_t>(a) * static_cast<uint32_t>(b); }

struct Predictor {
    int32_t lastA = 0;        // filtered value of the previous sample
    int32_t beforeA = 0;      // and of the one before that
    int32_t diffA[2] = {};    // the last two differences of filtered values
    int32_t lastB = 0;        // filtered other-channel value of the previous sample
    int32_t diffB[3] = {};    // its last three differences
    int32_t ownPrevious = 0;  // raw values for the first-order filters
    int32_t otherPrevious = 0;
    int32_t a[4] = {kInitialA[0], kInitialA[1], kInitialA[2], kInitialA[3]};
    int32_t b[5] = {};
};

inline int32_t FirstOrder(int32_t x, int32_t previous) { return Sub(x, (previous * 31) >> 5); }

// One sample of one channel. other is the other channel's value for a
// stereo frame, 0 for a single channel (its half of the prediction then
// stays zero, as in the decoders' mono path).
inline int32_t Predict(Predictor& p, int32_t own, int32_t other)
{
    const int32_t b0 = FirstOrder(other, p.otherPrevious);
    p.otherPrevious = other;
    const int32_t a1 = Sub(p.lastA, p.beforeA);
    const int32_t b1 = Sub(b0, p.lastB);
    const int32_t av[4] = {p.lastA, a1, p.diffA[0], p.diffA[1]};
    const int32_t bv[5] = {b0, b1, p.diffB[0], p.diffB[1], p.diffB[2]};

    const auto predA = static_cast<int32_t>(Mul(av[0], p.a[0]) + Mul(av[1], p.a[1]) + Mul(av[2], p.a[2]) +
                                            Mul(av[3], p.a[3]));
    const auto predB = static_cast<int32_t>(Mul(bv[0], p.b[0]) + Mul(bv[1], p.b[1]) + Mul(bv[2], p.b[2]) +
                                            Mul(bv[3], p.b[3]) + Mul(bv[4], p.b[4]));
    const int32_t total = Add(predA, predB >> 1) >> 10;

    const int32_t current = FirstOrder(own, p.ownPrevious);
    p.ownPrevious = own;
    const int32_t d = Sub(current, total);
    const int32_t sign = FlippedSign(d);
    if (sign != 0) {
        for (int i = 0; i < 4; ++i) p.a[i] = Add(p.a[i], FlippedSign(av[i]) * sign);
        for (int i = 0; i < 5; ++i) p.b[i] = Add(p.b[i], FlippedSign(bv[i]) * sign);
    }
    p.diffA[1] = p.diffA[0];
    p.diffA[0] = a1;
    p.beforeA = p.lastA;
    p.lastA = current;
    p.diffB[2] = p.diffB[1];
    p.diffB[1] = p.diffB[0];
    p.diffB[0] = b1;
    p.lastB = b0;
    return d;
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutLittleEndian(std::vector<uint8_t>& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

bool IsSupportedLevel(int level) { return level == 1000 || level == 2000 || level == 3000 || level == 4000; }

uint32_t BlocksPerFrame(int level) { return level == 4000 ? 73728u * 4 : 73728u; }

uint32_t FrameCrc(const int32_t* interleaved, size_t blocks, int channels, int bits)
{
    static const AVCRC* const table = av_crc_get_table(AV_CRC_32_IEEE_LE);
    const size_t width = static_cast<size_t>(bits / 8);
    const size_t count = blocks * static_cast<size_t>(channels);
    // In slices, so the byte copy stays in the cache while it is summed.
    uint8_t bytes[3 * 4096];
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t done = 0; done < count;) {
        const size_t n = std::min<size_t>(4096, count - done);
        uint8_t* o = bytes;
        for (size_t i = 0; i < n; ++i) {
            const auto v = static_cast<uint32_t>(interleaved[done + i]);
            for (size_t b = 0; b < width; ++b) *o++ = static_cast<uint8_t>(v >> (8 * b));
        }
        crc = av_crc(table, crc, bytes, static_cast<size_t>(o - bytes));
        done += n;
    }
    return (crc ^ 0xFFFFFFFFu) >> 1;
}

struct CFrameEncoder::State {
    int channels;
    int bits;
    std::vector<NNFilter> filters[2];
    std::vector<int32_t> x, y;
};

CFrameEncoder::CFrameEncoder(int level, int channels, int bits) : s_(std::make_unique<State>())
{
    s_->channels = channels;
    s_->bits = bits;
    for (auto& set : s_->filters)
        for (const FilterStage& f : FiltersOf(level)) set.emplace_back(f.order, f.shift);
}

CFrameEncoder::~CFrameEncoder() = default;

uint32_t CFrameEncoder::Encode(const int32_t* interleaved, size_t blocks, std::vector<uint8_t>& out)
{
    State& s = *s_;
    uint32_t flags = 0;
    const size_t count = blocks * static_cast<size_t>(s.channels);
    const bool silent = std::all_of(interleaved, interleaved + count, [](int32_t v) { return v == 0; });
    bool equal = s.channels == 2;
    for (size_t i = 0; equal && i < blocks; ++i) equal = interleaved[2 * i] == interleaved[2 * i + 1];

    if (silent)
        flags = s.channels == 2 ? kFrameSilentStereo : kFrameSilentLeft;
    else if (equal)
        flags = kFramePseudoStereo;
    const uint32_t crc = FrameCrc(interleaved, blocks, s.channels, s.bits);
    PutBigEndian(out, flags != 0 ? crc | 0x80000000u : crc);
    if (flags != 0) PutBigEndian(out, flags);

    RangeEncoder rc(out);
    if (!silent) {
        auto filter = [&](int channel, std::vector<int32_t>& values) {
            for (NNFilter& f : s.filters[channel]) {
                f.Reset();
                f.Compress(values.data(), values.size());
            }
        };
        s.x.resize(blocks);
        if (s.channels == 1 || equal) {
            // One channel; for equal channels it is the left one.
            Predictor p;
            const size_t step = static_cast<size_t>(s.channels);
            for (size_t i = 0; i < blocks; ++i) s.x[i] = Predict(p, interleaved[i * step], 0);
            filter(0, s.x);
            EntropyState st;
            for (size_t i = 0; i < blocks; ++i) EncodeValue(rc, st, s.x[i]);
        } else {
            // Y is the difference of the channels, X the left one moved
            // halfway towards the right; Y is coded first in every pair.
            s.y.resize(blocks);
            for (size_t i = 0; i < blocks; ++i) {
                const int32_t l = interleaved[2 * i];
                const int32_t r = interleaved[2 * i + 1];
                s.y[i] = r - l;
                s.x[i] = l + s.y[i] / 2;
            }
            Predictor py;
            Predictor px;
            int32_t lastX = 0;
            for (size_t i = 0; i < blocks; ++i) {
                const int32_t xv = s.x[i];
                const int32_t yv = s.y[i];
                s.y[i] = Predict(py, yv, lastX);
                s.x[i] = Predict(px, xv, yv);
                lastX = xv;
            }
            filter(0, s.y);
            filter(1, s.x);
            EntropyState sy;
            EntropyState sx;
            for (size_t i = 0; i < blocks; ++i) {
                EncodeValue(rc, sy, s.y[i]);
                EncodeValue(rc, sx, s.x[i]);
            }
        }
    }
    rc.Finish();
    return flags;
}

void SwapWords(uint8_t* data, size_t size)
{
    for (size_t i = 0; i + 4 <= size; i += 4) {
        std::swap(data[i], data[i + 3]);
        std::swap(data[i + 1], data[i + 2]);
    }
}

std::vector<uint8_t> HeaderBytes(const StreamInfo& info)
{
    std::vector<uint8_t> h;
    PutLittleEndian(h, static_cast<uint32_t>(info.level), 2);
    PutLittleEndian(h, kFormatCreateWavHeader, 2);
    PutLittleEndian(h, info.blocksPerFrame, 4);
    PutLittleEndian(h, info.finalFrameBlocks, 4);
    PutLittleEndian(h, info.totalFrames, 4);
    PutLittleEndian(h, static_cast<uint32_t>(info.bits), 2);
    PutLittleEndian(h, static_cast<uint32_t>(info.channels), 2);
    PutLittleEndian(h, static_cast<uint32_t>(info.sampleRate), 4);
    return h;
}

std::vector<uint8_t> DescriptorAndHeader(const StreamInfo& info)
{
    std::vector<uint8_t> d = {'M', 'A', 'C', ' '};
    PutLittleEndian(d, kFileVersion, 2);
    PutLittleEndian(d, 0, 2);
    PutLittleEndian(d, kDescriptorBytes, 4);
    PutLittleEndian(d, kHeaderBytes, 4);
    PutLittleEndian(d, uint64_t{info.seekTableEntries} * 4, 4);
    PutLittleEndian(d, 0, 4);  // no stored WAV header
    PutLittleEndian(d, info.frameDataBytes & 0xFFFFFFFFu, 4);
    PutLittleEndian(d, info.frameDataBytes >> 32, 4);
    PutLittleEndian(d, 0, 4);  // no WAV data after the samples
    d.insert(d.end(), info.md5, info.md5 + 16);
    const std::vector<uint8_t> h = HeaderBytes(info);
    d.insert(d.end(), h.begin(), h.end());
    return d;
}

}  // namespace kelvane::ape
