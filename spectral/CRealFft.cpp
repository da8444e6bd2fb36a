#include "spectral/CRealFft.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>
#include <numbers>
#include <stdexcept>
#include <string>

// How the transform is done: the n real samples are read as m = n/2 complex
// values (even samples real, odd samples imaginary), given a complex FFT of
// m points, and the two interleaved half-spectra are then pulled apart. The
// complex FFT is decimation in frequency: a radix-2 first stage when log2(m)
// is even, radix-4 stages down to 8-point blocks, and a radix-2 leaf per block
// kept in registers. Its output comes out bit-reversed; rather than permute
// it, the first stage writes into a scratch buffer and the last one, the leaf,
// hands its blocks straight to the split, which writes the caller's frame in
// natural order. The inverse is the same complex FFT run on the conjugate,
// with the split undone before it, so the two directions share every kernel.
//
// The kernels work on two complex values at a time. With GCC or Clang on
// x86-64 they are compiled twice, once for the baseline instruction set and
// once for AVX2/FMA, and the faster copy is chosen at run time. FMA changes
// the last bit of some results, so spectra may differ by rounding between
// machines, never by more.

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"  // the vector helpers are always inlined
#define KELVANE_FFT_INLINE inline __attribute__((always_inline))
#else
#define KELVANE_FFT_INLINE inline
#endif

// Building with KELVANE_FFT_BASELINE_ONLY keeps the baseline copy only, for
// spectra that are bit-identical on every x86-64 machine.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(KELVANE_FFT_BASELINE_ONLY)
#define KELVANE_FFT_DISPATCH 1
#endif

namespace kelvane {
namespace {

// ---------------------------------------------------------------------------
// Two complex numbers, interleaved [re0, im0, re1, im1].

#if defined(__GNUC__)

typedef double V4 __attribute__((vector_size(32)));
typedef double V2 __attribute__((vector_size(16)));

KELVANE_FFT_INLINE V4 Set(double a, double b, double c, double d) { return V4{a, b, c, d}; }
KELVANE_FFT_INLINE V4 Splat(double a) { return V4{a, a, a, a}; }
KELVANE_FFT_INLINE V4 Load(const double* p)
{
    V4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
KELVANE_FFT_INLINE void Store(double* p, const V4& v) { std::memcpy(p, &v, sizeof v); }
// [lo0, lo1, hi0, hi1] from two separate complex values.
KELVANE_FFT_INLINE V4 Load2(const double* lo, const double* hi)
{
    V2 l, h;
    std::memcpy(&l, lo, sizeof l);
    std::memcpy(&h, hi, sizeof h);
    return __builtin_shufflevector(l, h, 0, 1, 2, 3);
}
KELVANE_FFT_INLINE void StoreLow(double* p, const V4& v)
{
    V2 l = __builtin_shufflevector(v, v, 0, 1);
    std::memcpy(p, &l, sizeof l);
}
KELVANE_FFT_INLINE void StoreHigh(double* p, const V4& v)
{
    V2 h = __builtin_shufflevector(v, v, 2, 3);
    std::memcpy(p, &h, sizeof h);
}
KELVANE_FFT_INLINE V4 SwapReIm(const V4& v) { return __builtin_shufflevector(v, v, 1, 0, 3, 2); }
KELVANE_FFT_INLINE V4 SwapHalves(const V4& v) { return __builtin_shufflevector(v, v, 2, 3, 0, 1); }
KELVANE_FFT_INLINE V4 SwapHighReIm(const V4& v) { return __builtin_shufflevector(v, v, 0, 1, 3, 2); }

#else  // portable stand-in with the same operations

struct V4 {
    double v[4];
    double operator[](int i) const { return v[i]; }
};
KELVANE_FFT_INLINE V4 Set(double a, double b, double c, double d) { return V4{{a, b, c, d}}; }
KELVANE_FFT_INLINE V4 Splat(double a) { return V4{{a, a, a, a}}; }
KELVANE_FFT_INLINE V4 operator+(const V4& x, const V4& y)
{
    return Set(x.v[0] + y.v[0], x.v[1] + y.v[1], x.v[2] + y.v[2], x.v[3] + y.v[3]);
}
KELVANE_FFT_INLINE V4 operator-(const V4& x, const V4& y)
{
    return Set(x.v[0] - y.v[0], x.v[1] - y.v[1], x.v[2] - y.v[2], x.v[3] - y.v[3]);
}
KELVANE_FFT_INLINE V4 operator*(const V4& x, const V4& y)
{
    return Set(x.v[0] * y.v[0], x.v[1] * y.v[1], x.v[2] * y.v[2], x.v[3] * y.v[3]);
}
KELVANE_FFT_INLINE V4 Load(const double* p) { return Set(p[0], p[1], p[2], p[3]); }
KELVANE_FFT_INLINE void Store(double* p, const V4& v) { std::memcpy(p, v.v, sizeof v.v); }
KELVANE_FFT_INLINE V4 Load2(const double* lo, const double* hi) { return Set(lo[0], lo[1], hi[0], hi[1]); }
KELVANE_FFT_INLINE void StoreLow(double* p, const V4& v) { p[0] = v.v[0]; p[1] = v.v[1]; }
KELVANE_FFT_INLINE void StoreHigh(double* p, const V4& v) { p[0] = v.v[2]; p[1] = v.v[3]; }
KELVANE_FFT_INLINE V4 SwapReIm(const V4& v) { return Set(v.v[1], v.v[0], v.v[3], v.v[2]); }
KELVANE_FFT_INLINE V4 SwapHalves(const V4& v) { return Set(v.v[2], v.v[3], v.v[0], v.v[1]); }
KELVANE_FFT_INLINE V4 SwapHighReIm(const V4& v) { return Set(v.v[0], v.v[1], v.v[3], v.v[2]); }

#endif

// Complex product with a twiddle stored as [c, c, c', c'] and [-s, s, -s', s'],
// the layout that makes it one shuffle, one multiply and one multiply-add.
KELVANE_FFT_INLINE V4 Twiddle(const V4& x, const V4& wr, const V4& wis) { return x * wr + SwapReIm(x) * wis; }

KELVANE_FFT_INLINE V4 Conjugate(const V4& x) { return x * Set(1.0, -1.0, 1.0, -1.0); }

// i * x for both lanes.
KELVANE_FFT_INLINE V4 TimesI(const V4& x) { return SwapReIm(x) * Set(-1.0, 1.0, -1.0, 1.0); }

// [x0, i * x1]: the twiddles of a 4-point block's second half.
KELVANE_FFT_INLINE V4 TimesOneI(const V4& x) { return SwapHighReIm(x) * Set(1.0, 1.0, -1.0, 1.0); }

// Last radix-2 step, between the two lanes: [x0 + x1, x0 - x1].
KELVANE_FFT_INLINE V4 PairButterfly(const V4& x) { return SwapHalves(x) + x * Set(1.0, 1.0, -1.0, -1.0); }

// ---------------------------------------------------------------------------
// Complex FFT, e^{+i...} sign, decimation in frequency, bit-reversed output.
// Offsets below are in complex values; pointers are to doubles.

// The first stage when log2(m) is even, so that the radix-4 stages always
// end on 8-point blocks.
KELVANE_FFT_INLINE void Radix2Stage(const double* src, double* dst, int m, const double* tw)
{
    const int h = m / 2;
    for (int j = 0; j < h; j += 2, tw += 8) {
        const V4 x0 = Load(src + 2 * j);
        const V4 x1 = Load(src + 2 * (j + h));
        Store(dst + 2 * j, x0 + x1);
        Store(dst + 2 * (j + h), Twiddle(x0 - x1, Load(tw), Load(tw + 4)));
    }
}

// One radix-4 stage over every block of `span` points. The outputs of a
// butterfly go to quarters 0, 2, 1, 3 so that the final order is plain bit
// reversal rather than base-4 digit reversal.
KELVANE_FFT_INLINE void Radix4Stage(const double* src, double* dst, int m, int span, const double* tw)
{
    const int q = span / 4;
    for (int base = 0; base < m; base += span) {
        const double* s = src + 2 * base;
        double* d = dst + 2 * base;
        const double* w = tw;
        for (int j = 0; j < q; j += 2, w += 24) {
            const V4 x0 = Load(s + 2 * j);
            const V4 x1 = Load(s + 2 * (j + q));
            const V4 x2 = Load(s + 2 * (j + 2 * q));
            const V4 x3 = Load(s + 2 * (j + 3 * q));
            const V4 t0 = x0 + x2;
            const V4 t1 = x0 - x2;
            const V4 t2 = x1 + x3;
            const V4 t3 = TimesI(x1 - x3);
            Store(d + 2 * j, t0 + t2);
            Store(d + 2 * (j + q), Twiddle(t0 - t2, Load(w + 8), Load(w + 12)));
            Store(d + 2 * (j + 2 * q), Twiddle(t1 + t3, Load(w), Load(w + 4)));
            Store(d + 2 * (j + 3 * q), Twiddle(t1 - t3, Load(w + 16), Load(w + 20)));
        }
    }
}

// One 8-point block in registers, three radix-2 steps; o0..o3 hold its
// outputs in (bit-reversed) position order.
KELVANE_FFT_INLINE void Leaf8Block(const double* s, V4& o0, V4& o1, V4& o2, V4& o3)
{
    const double c = std::numbers::sqrt2 / 2.0;
    const V4 v0 = Load(s), v1 = Load(s + 4), v2 = Load(s + 8), v3 = Load(s + 12);
    const V4 a0 = v0 + v2, a1 = v1 + v3;
    const V4 b0 = Twiddle(v0 - v2, Set(1.0, 1.0, c, c), Set(0.0, 0.0, -c, c));     // 1, e^{i pi/4}
    const V4 b1 = Twiddle(v1 - v3, Set(0.0, 0.0, -c, -c), Set(-1.0, 1.0, -c, c));  // i, e^{3i pi/4}
    o0 = PairButterfly(a0 + a1);
    o1 = PairButterfly(TimesOneI(a0 - a1));
    o2 = PairButterfly(b0 + b1);
    o3 = PairButterfly(TimesOneI(b0 - b1));
}

// The first `count` points as 8-point blocks; src may equal dst.
KELVANE_FFT_INLINE void Leaf8(const double* src, double* dst, int count)
{
    for (int base = 0; base < count; base += 8) {
        V4 o0, o1, o2, o3;
        Leaf8Block(src + 2 * base, o0, o1, o2, o3);
        double* d = dst + 2 * base;
        Store(d, o0);
        Store(d + 4, o1);
        Store(d + 8, o2);
        Store(d + 12, o3);
    }
}

// The whole 4-point transform, for the smallest size only.
KELVANE_FFT_INLINE void Leaf4(const double* src, double* dst)
{
    const V4 v0 = Load(src), v1 = Load(src + 4);
    Store(dst, PairButterfly(v0 + v1));
    Store(dst + 4, PairButterfly(TimesOneI(v0 - v1)));
}

struct Job {
    double* a;        // the caller's frame, n doubles
    double* scratch;  // n doubles
    int m;            // complex points, n/2
    int log2m;
    int shift;        // turns the largest size's bit reversal into this one's
    const int32_t* rev;
    const double* stageTw;   // the twiddles of every span...
    const int* stageOffset;  // ...each starting here, in Quads, by log2 of the span
    const double* split;     // split twiddles of this size

    const double* StageTwiddles(int log2Span) const
    {
        return stageTw + 4 * static_cast<size_t>(stageOffset[log2Span]);
    }
};

// Runs every stage above the leaf, the first from src into the scratch
// buffer, and returns where the leaf's input now is.
KELVANE_FFT_INLINE const double* DifStages(const Job& job, const double* src)
{
    const double* in = src;
    int log2Span = job.log2m;
    if (job.m >= 16 && !(log2Span & 1)) {
        Radix2Stage(in, job.scratch, job.m, job.StageTwiddles(log2Span));
        in = job.scratch;
        --log2Span;
    }
    const int log2Leaf = (log2Span & 1) ? 3 : 2;
    for (; log2Span > log2Leaf; log2Span -= 2) {
        Radix4Stage(in, job.scratch, job.m, 1 << log2Span, job.StageTwiddles(log2Span));
        in = job.scratch;
    }
    return in;
}

// ---------------------------------------------------------------------------
// The split between the complex spectrum Z of the packed samples and the real
// spectrum X. With S = Z[k] + conj Z[m-k], D = Z[k] - conj Z[m-k] and
// Y = i e^{i 2 pi k/n} / 2:  X[k] = S/2 - Y D,  X[m-k] = conj(S/2 + Y D).
//
// Z[k] sits at position rev(k). In bit-reversed order the partner of the
// position p in [L, 2L) is 3L - 1 - p, so an 8-point leaf block pairs with
// the mirrored block of its octave, and the split can be done while both
// blocks are still in registers. Positions 0..15 (octaves below 16) are the
// exception and are split one value at a time; their k are multiples of m/16.

constexpr int kHeadRev[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
constexpr int kHeadDoubles = 16;  // per size, twiddles of the head before the block pairs

KELVANE_FFT_INLINE void SplitOne(const double* zk, const double* zm, const double* y, double* xk, double* xm)
{
    const double sr = (zk[0] + zm[0]) * 0.5, si = (zk[1] - zm[1]) * 0.5;
    const double dr = zk[0] - zm[0], di = zk[1] + zm[1];
    const double tr = dr * y[0] - di * y[1], ti = di * y[0] + dr * y[1];
    xk[0] = sr - tr;
    xk[1] = si - ti;
    xm[0] = sr + tr;
    xm[1] = -(si + ti);
}

// Positions 0 .. 2^log2K - 1, already through the leaf, in job.scratch.
KELVANE_FFT_INLINE void SplitHead(const Job& job, int log2K)
{
    const double* s = job.scratch;
    double* a = job.a;
    const int m = job.m, count = 1 << log2K, sh = 4 - log2K;
    a[0] = s[0] + s[1];  // DC and Nyquist, both from Z[0]
    a[1] = s[0] - s[1];
    a[m] = s[2];  // bin n/4 is its own mirror: Z[m/2], at position 1
    a[m + 1] = s[3];
    for (int j = 1; j < count / 2; ++j) {
        const int k = j * (m / count);
        SplitOne(s + 2 * (kHeadRev[j] >> sh), s + 2 * (kHeadRev[count - j] >> sh), job.split + 2 * (j - 1),
                 a + 2 * k, a + 2 * (m - k));
    }
}

// Lanes k, k + m/2 against their mirrors m - k, m/2 - k.
KELVANE_FFT_INLINE void SplitStep(const V4& zk, const V4& zmRaw, const double* y, double* a, int k, int m)
{
    const V4 zm = Conjugate(zmRaw);
    const V4 sum = (zk + zm) * Splat(0.5);
    const V4 t = Twiddle(zk - zm, Load(y), Load(y + 4));
    const V4 xk = sum - t;
    const V4 xm = Conjugate(sum + t);
    StoreLow(a + 2 * k, xk);
    StoreHigh(a + 2 * (k + m / 2), xk);
    StoreLow(a + 2 * (m - k), xm);
    StoreHigh(a + 2 * (m / 2 - k), xm);
}

// Leaf and split of every position from 16 up, a mirrored block pair at a time.
// Within a block, position p0 + j holds k = rev(p0) + rev3(j) * m/8.
KELVANE_FFT_INLINE void LeafSplitPairs(const Job& job)
{
    const double* s = job.scratch;
    double* a = job.a;
    const int m = job.m, quarter = m / 4, eighth = m / 8;
    const double* y = job.split + kHeadDoubles;
    for (int octave = 16; octave < m; octave *= 2) {
        for (int p0 = octave; p0 < octave + octave / 2; p0 += 8, y += 32) {
            const int p1 = 3 * octave - 8 - p0;
            V4 u0, u1, u2, u3, v0, v1, v2, v3;
            Leaf8Block(s + 2 * p0, u0, u1, u2, u3);
            Leaf8Block(s + 2 * p1, v0, v1, v2, v3);
            const int k = job.rev[p0] >> job.shift;
            SplitStep(u0, SwapHalves(v3), y, a, k, m);
            SplitStep(u1, SwapHalves(v2), y + 8, a, k + quarter, m);
            SplitStep(u2, SwapHalves(v1), y + 16, a, k + eighth, m);
            SplitStep(u3, SwapHalves(v0), y + 24, a, k + quarter + eighth, m);
        }
    }
}

// The inverse split, in place on the caller's frame and in the same order as
// the forward one, so both share a table. It leaves conj(Z) scaled by 2/n, so
// that the complex FFT which follows yields the samples. The forward twiddle
// i w^k / 2 becomes i conj(w^k) / n here: a sign and a power of two away, so
// deriving it costs no accuracy.
KELVANE_FFT_INLINE void MergeOne(double* xk, double* xm, const double* y, double scale)
{
    const double yr = y[0] * -scale, yi = y[1] * scale;
    const double h = 0.5 * scale;
    const double kr = xk[0], ki = xk[1], mr = xm[0], mi = -xm[1];
    const double sr = (kr + mr) * h, si = (ki + mi) * h;
    const double dr = kr - mr, di = ki - mi;
    const double ur = dr * yr - di * yi, ui = di * yr + dr * yi;
    xk[0] = sr + ur;
    xk[1] = -(si + ui);
    xm[0] = sr - ur;
    xm[1] = si - ui;
}

KELVANE_FFT_INLINE void MergeHead(const Job& job, int log2K)
{
    double* a = job.a;
    const int m = job.m, count = 1 << log2K;
    const double scale = 1.0 / m, h = 0.5 * scale;
    const double dc = a[0], nyquist = a[1];
    a[0] = (dc + nyquist) * h;
    a[1] = (nyquist - dc) * h;
    a[m] *= scale;
    a[m + 1] *= -scale;
    for (int j = 1; j < count / 2; ++j) {
        const int k = j * (m / count);
        MergeOne(a + 2 * k, a + 2 * (m - k), job.split + 2 * (j - 1), scale);
    }
}

KELVANE_FFT_INLINE void MergeStep(double* a, int k, int m, const double* y, const V4& yrScale, const V4& yiScale,
                                  const V4& sumScale)
{
    const V4 xk = Load2(a + 2 * k, a + 2 * (k + m / 2));
    const V4 xm = Conjugate(Load2(a + 2 * (m - k), a + 2 * (m / 2 - k)));
    const V4 sum = (xk + xm) * sumScale;
    const V4 u = Twiddle(xk - xm, Load(y) * yrScale, Load(y + 4) * yiScale);
    const V4 pk = Conjugate(sum + u);
    const V4 pm = sum - u;
    StoreLow(a + 2 * k, pk);
    StoreHigh(a + 2 * (k + m / 2), pk);
    StoreLow(a + 2 * (m - k), pm);
    StoreHigh(a + 2 * (m / 2 - k), pm);
}

KELVANE_FFT_INLINE void MergePairs(const Job& job)
{
    double* a = job.a;
    const int m = job.m, quarter = m / 4, eighth = m / 8;
    const double scale = 1.0 / m;
    const V4 yrScale = Splat(-scale), yiScale = Splat(scale), sumScale = Splat(0.5 * scale);
    const double* y = job.split + kHeadDoubles;
    for (int octave = 16; octave < m; octave *= 2) {
        for (int p0 = octave; p0 < octave + octave / 2; p0 += 8, y += 32) {
            const int k = job.rev[p0] >> job.shift;
            MergeStep(a, k, m, y, yrScale, yiScale, sumScale);
            MergeStep(a, k + quarter, m, y + 8, yrScale, yiScale, sumScale);
            MergeStep(a, k + eighth, m, y + 16, yrScale, yiScale, sumScale);
            MergeStep(a, k + quarter + eighth, m, y + 24, yrScale, yiScale, sumScale);
        }
    }
}

// The inverse's last leaf, writing each value conjugated straight to its
// natural position in the caller's frame.
KELVANE_FFT_INLINE void Leaf8ToNatural(const Job& job, const double* in)
{
    double* a = job.a;
    const int m = job.m, half = m / 2, quarter = m / 4, eighth = m / 8;
    for (int p0 = 0; p0 < m; p0 += 8) {
        V4 o0, o1, o2, o3;
        Leaf8Block(in + 2 * p0, o0, o1, o2, o3);
        const int k = job.rev[p0] >> job.shift;
        o0 = Conjugate(o0), o1 = Conjugate(o1), o2 = Conjugate(o2), o3 = Conjugate(o3);
        StoreLow(a + 2 * k, o0);
        StoreHigh(a + 2 * (k + half), o0);
        StoreLow(a + 2 * (k + quarter), o1);
        StoreHigh(a + 2 * (k + quarter + half), o1);
        StoreLow(a + 2 * (k + eighth), o2);
        StoreHigh(a + 2 * (k + eighth + half), o2);
        StoreLow(a + 2 * (k + quarter + eighth), o3);
        StoreHigh(a + 2 * (k + quarter + eighth + half), o3);
    }
}

// The same for the two smallest sizes, whose leaf cannot write to the frame
// it reads: from the scratch buffer, gathering.
KELVANE_FFT_INLINE void GatherToNatural(const Job& job)
{
    const double* s = job.scratch;
    double* a = job.a;
    for (int j = 0; j < job.m; j += 2) {
        const V4 v = Load2(s + 2 * (job.rev[j] >> job.shift), s + 2 * (job.rev[j + 1] >> job.shift));
        Store(a + 2 * j, Conjugate(v));
    }
}

KELVANE_FFT_INLINE void ForwardBody(const Job& job)
{
    const double* in = DifStages(job, job.a);
    if (job.m == 4) {
        Leaf4(in, job.scratch);
        SplitHead(job, 2);
    } else if (job.m == 8) {
        Leaf8(in, job.scratch, 8);
        SplitHead(job, 3);
    } else {
        Leaf8(in, job.scratch, 16);
        SplitHead(job, 4);
        LeafSplitPairs(job);
    }
}

KELVANE_FFT_INLINE void InverseBody(const Job& job)
{
    MergeHead(job, job.log2m < 4 ? job.log2m : 4);
    MergePairs(job);
    const double* in = DifStages(job, job.a);
    if (job.m >= 16) {
        Leaf8ToNatural(job, in);
        return;
    }
    if (job.m == 4)
        Leaf4(in, job.scratch);
    else
        Leaf8(in, job.scratch, 8);
    GatherToNatural(job);
}

void ForwardGeneric(const Job& job) { ForwardBody(job); }
void InverseGeneric(const Job& job) { InverseBody(job); }

#if defined(KELVANE_FFT_DISPATCH)
__attribute__((target("avx2,fma"))) void ForwardAvx2(const Job& job) { ForwardBody(job); }
__attribute__((target("avx2,fma"))) void InverseAvx2(const Job& job) { InverseBody(job); }

bool HasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has;
}
#endif

void RunForward(const Job& job)
{
#if defined(KELVANE_FFT_DISPATCH)
    if (HasAvx2())
        return ForwardAvx2(job);
#endif
    ForwardGeneric(job);
}

void RunInverse(const Job& job)
{
#if defined(KELVANE_FFT_DISPATCH)
    if (HasAvx2())
        return InverseAvx2(job);
#endif
    InverseGeneric(job);
}

[[noreturn]] void ThrowBadSize(int n)
{
    throw std::invalid_argument("CRealFft: frame size " + std::to_string(n) + " is not a power of two between " +
                                std::to_string(CRealFft::kMinSize) + " and " + std::to_string(CRealFft::kMaxSize));
}

void CheckArguments(const double* a, int n)
{
    if (!CRealFft::IsValidSize(n))
        ThrowBadSize(n);
    if (!a)
        throw std::invalid_argument("CRealFft: null frame");
}

} // namespace

bool CRealFft::IsValidSize(int n)
{
    return n >= kMinSize && n <= kMaxSize && (n & (n - 1)) == 0;
}

void CRealFft::Reserve(int n)
{
    if (!IsValidSize(n))
        ThrowBadSize(n);
    if (n > maxN_)
        Grow(n);
}

// Rebuilds every table for all sizes up to n. Growing is rare (the first call,
// or a larger frame than any before), so it simply starts over.
void CRealFft::Grow(int n)
{
    const double twoPi = 2.0 * std::numbers::pi;
    const int maxM = n / 2;
    const int bits = std::countr_zero(static_cast<unsigned>(maxM));

    bitReverse_.assign(maxM, 0);
    for (int k = 0; k < maxM; ++k) {
        uint32_t r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((static_cast<uint32_t>(k) >> b) & 1u) << (bits - 1 - b);
        bitReverse_[k] = static_cast<int32_t>(r);
    }

    // Each twiddle is stored for two lanes as a real Quad [c, c, c', c'] and a
    // signed imaginary Quad [-s, s, -s', s'].
    auto push = [](std::vector<Quad>& table, double re0, double im0, double re1, double im1) {
        table.push_back(Quad{{re0, re0, re1, re1}});
        table.push_back(Quad{{-im0, im0, -im1, im1}});
    };

    // Spans with an even log2 (16, 64, ...) only ever get the radix-2 first
    // stage: w^j for j < span/2. Odd ones (32, 128, ...) get radix-4 stages:
    // w^j, w^2j, w^3j for j < span/4.
    stageTwiddles_.clear();
    stageOffset_.assign(bits + 1, -1);
    for (int b = 4; b <= bits; ++b) {
        const int span = 1 << b;
        stageOffset_[b] = static_cast<int>(stageTwiddles_.size());
        if (b % 2 == 0) {
            for (int j = 0; j < span / 2; j += 2) {
                const double a0 = twoPi * j / span, a1 = twoPi * (j + 1) / span;
                push(stageTwiddles_, std::cos(a0), std::sin(a0), std::cos(a1), std::sin(a1));
            }
        } else {
            for (int j = 0; j < span / 4; j += 2) {
                for (int r = 1; r <= 3; ++r) {
                    const double a0 = twoPi * r * j / span, a1 = twoPi * r * (j + 1) / span;
                    push(stageTwiddles_, std::cos(a0), std::sin(a0), std::cos(a1), std::sin(a1));
                }
            }
        }
    }

    // Split twiddles i e^{i 2 pi k/size} / 2 per size, in the order the split
    // visits k: first the head (k = j * m/16, one value at a time, packed
    // re/im), then per mirrored block pair four lane pairs (k, k + m/2).
    const int log2n = bits + 1;
    splitTwiddles_.clear();
    splitOffset_.assign(log2n + 1, -1);
    for (int b = 3; b <= log2n; ++b) {
        const int size = 1 << b, m = size / 2;
        auto y = [&](int k, double& re, double& im) {
            const double angle = twoPi * k / size;
            re = -0.5 * std::sin(angle);
            im = 0.5 * std::cos(angle);
        };
        splitOffset_[b] = static_cast<int>(splitTwiddles_.size());
        Quad head[kHeadDoubles / 4] = {};
        double* h = head[0].v;
        const int count = m < 16 ? m : 16;
        for (int j = 1; j < count / 2; ++j)
            y(j * (m / count), h[2 * (j - 1)], h[2 * (j - 1) + 1]);
        splitTwiddles_.insert(splitTwiddles_.end(), std::begin(head), std::end(head));

        const int shift = bits - (b - 1);
        for (int octave = 16; octave < m; octave *= 2) {
            for (int p0 = octave; p0 < octave + octave / 2; p0 += 8) {
                const int k = bitReverse_[p0] >> shift;
                for (int offset : {0, m / 4, m / 8, m / 4 + m / 8}) {
                    double re0, im0, re1, im1;
                    y(k + offset, re0, im0);
                    y(k + offset + m / 2, re1, im1);
                    push(splitTwiddles_, re0, im0, re1, im1);
                }
            }
        }
    }

    scratch_.assign(n / 4, Quad{});
    maxN_ = n;
}

void CRealFft::Transform(double* a, int n, bool inverse)
{
    CheckArguments(a, n);
    if (n > maxN_)
        Grow(n);

    Job job{};
    job.a = a;
    job.scratch = scratch_.data()->v;
    job.m = n / 2;
    job.log2m = std::countr_zero(static_cast<unsigned>(job.m));
    job.shift = std::countr_zero(static_cast<unsigned>(maxN_)) - std::countr_zero(static_cast<unsigned>(n));
    job.rev = bitReverse_.data();
    job.stageTw = stageTwiddles_.empty() ? nullptr : stageTwiddles_.data()->v;
    job.stageOffset = stageOffset_.data();
    job.split = splitTwiddles_.data()->v + 4 * static_cast<size_t>(splitOffset_[job.log2m + 1]);

    if (inverse)
        RunInverse(job);
    else
        RunForward(job);
}

void CRealFft::Forward(double* a, int n) { Transform(a, n, false); }

void CRealFft::Inverse(double* a, int n) { Transform(a, n, true); }

double CRealFft::Magnitude(const double* a, int k)
{
    return std::sqrt(a[2 * k] * a[2 * k] + a[2 * k + 1] * a[2 * k + 1]);
}

} // namespace kelvane
