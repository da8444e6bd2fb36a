// The spectral pass over a working file: the cross-fade at the start of its
// range, the identity it must be where nothing is subtracted, the clearing
// above a quarter of the rate at 1024 points, full precision for 24-bit
// recordings, and output that does not depend on the chunk size.

#include "document/RestoreOriginal.h"
#include "filters/CSpectralPass.h"
#include "tests/filters/FilterTestDoc.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kelvane {
namespace {

using filtertest::LoadedSide;

// Digital silence (where the profile block goes: a zero profile subtracts
// nothing) and then a tone.
std::vector<int32_t> SilenceThenTone(int rate, std::vector<int32_t> tone)
{
    std::vector<int32_t> side(2 * 12000, 0);
    side.insert(side.end(), tone.begin(), tone.end());
    (void)rate;
    return side;
}

void ZeroProfileOverSilence(LoadedSide& s)
{
    s.doc->noise.leadIn = {s.FramePos(1000), s.FramePos(1000 + 8800)};
}

TEST(SpectralPass, TheRangeStartsWithAnEighthFrameOfZerosAndAFadeInAndIsOtherwiseUnchanged)
{
    LoadedSide s;
    const auto tone = test::Sine(440.0, 12000.0, 40000);
    ASSERT_TRUE(s.Load(SilenceThenTone(44100, tone)));
    ZeroProfileOverSilence(s);
    const int64_t first = 20000, last = 50000;
    s.doc->blockStart = s.FramePos(first);
    s.doc->blockEnd = s.FramePos(last);
    CSpectralPass pass(*s.doc);
    ASSERT_EQ(pass.Run({3}), PassOutcome::Completed);
    EXPECT_EQ(s.doc->status, kStatusReadyToSave);

    const std::vector<int32_t> in = s.Source(), out = s.Working();
    ASSERT_EQ(in.size(), out.size());
    const int m = 512 / 8;
    for (int64_t f = 0; f < static_cast<int64_t>(in.size() / 2); ++f) {
        for (int c = 0; c < 2; ++c) {
            const int32_t x = in[2 * f + c], y = out[2 * f + c];
            const int64_t k = f - first;
            if (f < first || f >= last) {
                ASSERT_EQ(y, x) << "outside the block, frame " << f;
            } else if (k < m) {
                ASSERT_EQ(y, 0) << "frame " << f;
            } else if (k < 3 * m) {
                ASSERT_NEAR(y, static_cast<double>(x) * (k - m) / (2 * m), 2.0) << "frame " << f;
            } else {
                ASSERT_NEAR(y, x, 2) << "frame " << f;
            }
        }
    }
}

TEST(SpectralPass, At96000HzNothingAbove24kHzIsLeft)
{
    LoadedSide s;
    const int rate = 96000;
    auto tone = test::Sine(6000.0, 8000.0, 60000, rate);
    const auto high = test::Sine(30000.0, 8000.0, 60000, rate);
    std::vector<int32_t> mixed = tone;
    for (size_t i = 0; i < mixed.size(); ++i) mixed[i] += high[i];
    test::WavOptions options;
    options.sampleRate = rate;
    ASSERT_TRUE(s.Load(SilenceThenTone(rate, mixed), options));
    ASSERT_EQ(s.doc->overviewStep, 1024);
    ZeroProfileOverSilence(s);
    CSpectralPass pass(*s.doc);
    ASSERT_EQ(pass.Run({1}), PassOutcome::Completed);
    const std::vector<int32_t> out = s.Working();
    // Away from the recording's start and end, what is left is the 6 kHz
    // tone alone, within the rounding of the tones.
    for (size_t f = 14000; f < 12000 + 58000; ++f)
        for (int c = 0; c < 2; ++c) ASSERT_NEAR(out[2 * f + c], tone[2 * (f - 12000) + c], 3) << "frame " << f;
}

TEST(SpectralPass, TwentyFourBitSamplesKeepTheirLowByte)
{
    LoadedSide s;
    std::vector<int32_t> tone = test::Sine(300.0, 20000.0, 30000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = tone[i] * 256 + static_cast<int32_t>(i % 251);
    test::WavOptions options;
    options.bits = 24;
    ASSERT_TRUE(s.Load(SilenceThenTone(44100, tone), options));
    ZeroProfileOverSilence(s);
    CSpectralPass pass(*s.doc);
    ASSERT_EQ(pass.Run({2}), PassOutcome::Completed);
    const std::vector<int32_t> in = s.Source(), out = s.Working();
    for (size_t f = 12000; f < 42000; ++f)
        for (int c = 0; c < 2; ++c) ASSERT_NEAR(out[2 * f + c], in[2 * f + c], 2) << "frame " << f;
}

TEST(SpectralPass, TheOutputIsTheSameWhateverTheChunkSize)
{
    LoadedSide s;
    ASSERT_TRUE(s.Load(filtertest::HissThenMusic(30000, 70000, 300)));
    s.doc->noise.leadIn = {s.FramePos(5000), s.FramePos(5000 + 8800)};
    std::vector<int32_t> reference;
    for (int32_t chunk : {kSegmentBytes, 3 * 1024, 7 * 1024 + 500, 1024}) {
        ASSERT_TRUE(RestoreOriginal(*s.doc));
        CSpectralPass pass(*s.doc);
        ASSERT_EQ(pass.Run({3, cancel::kFilterRemoved, chunk}), PassOutcome::Completed);
        const std::vector<int32_t> out = s.Working();
        if (reference.empty()) {
            reference = out;
            EXPECT_NE(out, s.Source());
        } else {
            EXPECT_EQ(out, reference) << "chunk of " << chunk << " units";
        }
    }
    // The hiss lost most of its level; the music kept its own.
    const double before = test::Rms(s.Source(), 2, 10000, 25000), after = test::Rms(reference, 2, 10000, 25000);
    EXPECT_LT(after, before * 0.2);
    const double music = test::Rms(s.Source(), 2, 40000, 90000), kept = test::Rms(reference, 2, 40000, 90000);
    EXPECT_GT(kept, music * 0.9);
}

}  // namespace
}  // namespace kelvane
