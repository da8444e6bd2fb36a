// Corrections on signals: clicks in music and in tones are repaired, nothing
// outside a correction's reach moves, the widest corrections keep their own
// mask, and 24-bit recordings keep their low bytes wherever nothing changed.

#include "declick/CCorrector.h"
#include "declick/CSpectralRepair.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "tests/declick/CorrectorTestDoc.h"
#include "tests/support/Signals.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>

namespace kelvane {
namespace {

using Side = test::CorrectorTestDoc;

// Frames relative to the click that a correction of this width may change.
std::pair<int, int> Reach(int32_t width)
{
    const int c = CCorrector::HalfLength(width);
    if (c < CCorrector::kLongFrom) return {-c, c + 1};
    return {-c - 16, c + 14};
}

double ErrorEnergy(const std::vector<int32_t>& a, const std::vector<int32_t>& b, int from, int to)
{
    double e = 0;
    for (int i = 2 * from; i < 2 * to; ++i) e += double(a[i] - b[i]) * (a[i] - b[i]);
    return e;
}

// A sustained A major chord over a little noise: tonal enough for the
// peak-limited reconstruction to rebuild it across a gap.
std::vector<int32_t> Chord(int frames)
{
    std::vector<int32_t> s(2 * static_cast<size_t>(frames), 0);
    const double hz[3] = {880.0, 1108.73, 1318.51}, amp[3] = {6000, 4000, 3000};
    for (int i = 0; i < 3; ++i) test::MixInto(s, test::Sine(hz[i], amp[i], frames), 0);
    test::MixInto(s, test::Noise(3, 30, frames), 0);
    return s;
}

TEST(CorrectionSignal, ClicksInMusicAreRepairedAndNothingElseMoves)
{
    const int frames = 60000;
    auto clean = Chord(frames);
    auto dirty = clean;
    struct Click {
        int frame, width;  // the click: frames frame .. frame + width - 1
        int32_t code;      // the record's width code: a long correction's gap is
                           // about a quarter of it, so about 4x the click
        unsigned channels;
    } clicks[] = {{4000, 1, 0, test::kBoth},   {9000, 3, 3, test::kLeft},  {15000, 6, 7, test::kBoth},
                  {22000, 12, 40, test::kBoth}, {30000, 30, 120, test::kRight},
                  {40000, 60, 240, test::kBoth}};
    Side side;
    CGrowList<EventRecord> list;
    list.Add({});
    for (const Click& k : clicks) test::AddClick(dirty, 2, k.frame, k.width, 28000, k.channels, k.frame);
    side.Load(dirty);
    for (const Click& k : clicks) {
        const int32_t bits = (k.channels & test::kLeft ? 0 : 0x1000) | (k.channels & test::kRight ? 0 : 0x2000);
        list.Add(side.Record(k.frame + k.width / 2, k.code | bits));
    }
    list.Add({});
    const auto source = test::ReadFileBytes(side.dir.file("side.wav"));
    ASSERT_EQ(side.corrector->GenerateAll(list), GenerateOutcome::Completed);
    const auto fixed = side.Working();

    std::vector<bool> reachable(frames, false);
    for (const Click& k : clicks) {
        const int centre = k.frame + k.width / 2;
        const auto [first, last] = Reach(k.code);
        for (int f = centre + first; f <= centre + last; ++f) reachable[f] = true;
        // On the click's own frames the result is far nearer the clean chord
        // than the click was. A long correction rebuilds its whole stretch
        // from at most 24 partials, so it can come no nearer than the
        // chord's own band-limiting residual; a short one nearly exactly.
        const double before = ErrorEnergy(dirty, clean, k.frame, k.frame + k.width);
        const double after = ErrorEnergy(fixed, clean, k.frame, k.frame + k.width);
        EXPECT_LT(after, before / (k.code < 8 ? 1000 : 5)) << "click at " << k.frame << " width " << k.width;
    }
    for (int f = 0; f < frames; ++f) {
        if (!reachable[f]) {
            ASSERT_TRUE(fixed[2 * f] == dirty[2 * f] && fixed[2 * f + 1] == dirty[2 * f + 1]) << f;
        }
    }
    EXPECT_EQ(test::ReadFileBytes(side.dir.file("side.wav")), source);
}

TEST(CorrectionSignal, WidestCorrectionsLeaveTheStrongestPartialsOut)
{
    // A tone exactly on one bin of the window (bin 20 of 512 at 44.1 kHz,
    // bin 40 of 1024 at 96 kHz): its spectrum is that one bin. Width 292
    // (half-gap 39) keeps it and rebuilds the tone; width 300 (half-gap 200)
    // never admits the two strongest bins, so its stretch is rebuilt from the
    // DC term alone and comes out flat.
    const int frames = 16384, click = 8000;
    for (const int rate : {44100, 96000}) {
        const int n = CCorrector::AnalysisLength(rate);
        const int bin = 20 * n / 512;
        const auto tone = test::Sine(double(bin) * rate / n, 10000, frames, rate);
        auto dirty = tone;
        test::AddClick(dirty, 2, click - 30, 60, 20000, test::kBoth, 5);
        for (int32_t width : {292, 300}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, width " << width);
            Side side;
            side.Load(dirty, rate);
            ASSERT_TRUE(side.corrector->CorrectOne(side.Record(click, width)));
            const auto got = side.Working();
            const int c = CCorrector::HalfLength(width);
            double toneError = 0, level = 0;
            for (int f = click - c; f <= click + c - 2; ++f) {
                toneError += double(got[2 * f] - tone[2 * f]) * (got[2 * f] - tone[2 * f]);
                level += double(got[2 * f]) * got[2 * f];
            }
            const double count = 2 * c - 1;
            if (width == 292) {
                EXPECT_LT(std::sqrt(toneError / count), 20);
            } else {
                EXPECT_LT(std::sqrt(level / count), 300);
            }
            for (int f = 0; f < frames; ++f) {
                if (f < click - c - 16 || f > click + c + 14) {
                    ASSERT_EQ(got[2 * f], dirty[2 * f]) << f;
                }
            }
            EXPECT_NE(got[2 * (click - c - 16)], dirty[2 * (click - c - 16)]);
        }
    }
}

TEST(CorrectionSignal, TwentyFourBitKeepsLowBytesWhereNothingChanged)
{
    test::MusicStyle style;
    style.seed = 4;
    const int frames = 16384, click = 8000;
    auto upper = test::Music(style, frames);
    test::AddClick(upper, 2, click - 10, 20, 15000, test::kBoth, 9);
    test::AddClick(upper, 2, click + 2999, 3, 15000, test::kRight, 10);
    std::vector<int32_t> deep(upper.size());
    test::Prng rng(77);
    for (size_t i = 0; i < deep.size(); ++i) deep[i] = upper[i] * 256 + static_cast<int32_t>(rng.Below(256));

    Side hi, lo;
    hi.Load(deep, 44100, 24);
    lo.Load(upper);
    // A long correction on both channels, a short one on the right only.
    for (const auto& [frame, width] : {std::pair{click, 40}, std::pair{click + 3000, 0x1000 | 3}}) {
        ASSERT_TRUE(hi.corrector->CorrectOne(hi.Record(frame, width)));
        ASSERT_TRUE(lo.corrector->CorrectOne(lo.Record(frame, width)));
    }
    const auto got = hi.Working();
    const auto want16 = lo.Working();
    int changed = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        // The synthesis saw the upper 16 bits, exactly as on a 16-bit file.
        ASSERT_EQ(got[i] >> 8, want16[i]) << i;
        if (want16[i] != upper[i]) {
            ++changed;
            ASSERT_EQ(got[i] & 0xFF, 0) << i;
        } else {
            ASSERT_EQ(got[i], deep[i]) << i;  // untouched, or rewritten with its own value
        }
    }
    EXPECT_GT(changed, 100);
}

// The reconstruction computed a second way: a direct DFT with complex bins,
// band-limiting by keeping a bin and its mirror (bin 0 with the Nyquist
// term), the peaks found by sorting. Slow, but independent of the packing
// and of the fast transform.
std::vector<double> DirectReconstruction(const std::vector<int16_t>& analysis, const std::vector<int16_t>& window,
                                         int n, int b)
{
    const double pi = std::acos(-1.0);
    std::vector<std::complex<double>> turn(n);  // e^(-2 pi i m / n)
    for (int m = 0; m < n; ++m) turn[m] = std::polar(1.0, -2 * pi * m / n);
    auto spectrum = [&](const std::vector<double>& x) {
        std::vector<std::complex<double>> X(n / 2 + 1);
        for (int k = 0; k <= n / 2; ++k)
            for (int j = 0; j < n; ++j) X[k] += x[j] * turn[(j * k) % n];
        return X;
    };
    std::vector<double> a(analysis.begin(), analysis.end());
    const auto P = spectrum(a);
    std::vector<double> magnitude(CSpectralRepair::kPeakBins);
    magnitude[0] = std::hypot(P[0].real(), P[n / 2].real());
    for (int k = 1; k < CSpectralRepair::kPeakBins; ++k) magnitude[k] = std::abs(P[k]);
    std::vector<int> order(CSpectralRepair::kPeakBins);
    for (int k = 0; k < CSpectralRepair::kPeakBins; ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return magnitude[x] > magnitude[y]; });
    std::vector<int> peaks;
    for (int i = 0; i < CSpectralRepair::kMaxPeaks; ++i)
        if (magnitude[order[i]] > 0.05 * magnitude[order[0]]) peaks.push_back(order[i]);

    std::vector<double> x(window.begin(), window.end());
    std::vector<int> mask{0};
    auto add = [&](size_t from, size_t to) {
        for (size_t i = from; i < to && i < peaks.size(); ++i) mask.push_back(peaks[i]);
    };
    auto bandLimit = [&] {
        const auto X = spectrum(x);
        std::vector<int> keep(mask);
        std::sort(keep.begin(), keep.end());
        keep.erase(std::unique(keep.begin(), keep.end()), keep.end());
        if (keep.front() == 0) keep.push_back(n / 2);
        std::fill(x.begin(), x.end(), 0.0);
        for (int k : keep) {
            const double weight = (k == 0 || k == n / 2) ? 1.0 : 2.0;
            for (int j = 0; j < n; ++j)
                x[j] += weight * (X[k] * std::conj(turn[(j * k) % n])).real() / n;
        }
    };
    auto putBack = [&] {
        for (int j = 0; j < n; ++j)
            if (j < n / 2 - b || j >= n / 2 + b - 1) x[j] = window[j];
    };
    if (b != CSpectralRepair::kWideGap) add(0, 2);
    bandLimit();
    add(2, 9);
    putBack();
    bandLimit();
    add(9, 24);
    putBack();
    bandLimit();
    for (double& v : x) v = std::clamp(v, -32763.0, 32762.0);
    return x;
}

TEST(SpectralRepair, AgreesWithADirectTransform)
{
    CSpectralRepair repair;
    test::Prng rng(11);
    const double pi = std::acos(-1.0);
    for (const bool dense : {true, false}) {
        for (const auto& [n, b] : {std::pair{512, 8}, std::pair{512, 39}, std::pair{512, 200}, std::pair{1024, 15},
                                   std::pair{1024, 200}}) {
            SCOPED_TRACE(testing::Message() << (dense ? "dense " : "sparse ") << n << " / " << b);
            // Dense: thirty partials off the bin grid, whose leakage fills all
            // 24 peaks. Sparse: twelve on the grid, fading by 3/4 so that the
            // 5 % level falls among them. Both with a little noise and a click
            // louder than anything the mask lets through.
            std::vector<int16_t> analysis(n), window(n);
            for (int j = 0; j < n + n / 2; ++j) {
                double v = rng.Range(-150, 150);
                for (int p = 0; p < (dense ? 30 : 12); ++p) {
                    const double w = dense ? 0.042 + 0.029 * p : 2 * pi * (5 + 4 * p) / n;
                    v += 4000.0 * std::pow(dense ? 0.8 : 0.75, p) * std::sin(w * j + p);
                }
                if (j < n) analysis[j] = static_cast<int16_t>(v);
                if (j >= n / 2) window[j - n / 2] = static_cast<int16_t>(v);
            }
            for (int j = n / 2 - 6; j < n / 2 + 6; ++j) window[j] = static_cast<int16_t>(j % 3 ? 30000 : -30000);
            std::vector<float> out(n);
            repair.Run(analysis.data(), window.data(), 1, n, b, out.data());
            EXPECT_EQ(repair.PeakCount(), dense ? 24 : 11);
            const auto want = DirectReconstruction(analysis, window, n, b);
            double worst = 0;
            for (int j = 0; j < n; ++j) worst = std::max(worst, std::abs(out[j] - want[j]));
            EXPECT_LT(worst, 0.01);  // float rounding of values up to ~10^4
        }
    }
    // Silence has no peak above 5 % of its first (zero) one.
    std::vector<int16_t> silence(512, 0);
    std::vector<float> out(512, 1.0f);
    repair.Run(silence.data(), silence.data(), 1, 512, 30, out.data());
    EXPECT_EQ(repair.PeakCount(), 0);
    EXPECT_EQ(out, std::vector<float>(512, 0.0f));
}

}  // namespace
}  // namespace kelvane
