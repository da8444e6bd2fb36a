// Where the profile block goes and what it measures: noise before the music,
// a lead-in that fades in, a lead-in that begins with digital silence, and
// a side whose only quiet stretch is a short gap.

#include "filters/NoiseProfile.h"
#include "tests/filters/FilterTestDoc.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

using filtertest::LoadedSide;

constexpr int32_t kBlockUnits = 8800 * 4;

void ExpectLevelGridBlock(const LoadedSide& s)
{
    const ProfileBlock& b = s.doc->noise.leadIn;
    EXPECT_EQ(b.end - b.start, kBlockUnits);
    EXPECT_EQ((b.start - s.doc->dataAlign) % 4096, 0);
    EXPECT_GE(b.start, s.doc->dataStart + 4096);
}

TEST(NoiseProfile, TwentyThousandFramesOfNoiseBeforeTheMusicHoldTheBlock)
{
    LoadedSide s;
    ASSERT_TRUE(s.Load(filtertest::HissThenMusic(20000, 80000)));
    const std::optional<int32_t> b = SearchForSignal(*s.doc, s.doc->dataStart, +1);
    ASSERT_TRUE(b.has_value());
    EXPECT_GT(*b, s.FramePos(20000));
    IdentifyProfileBlock(*s.doc);
    ExpectLevelGridBlock(s);
    EXPECT_LE(s.doc->noise.leadIn.end, *b - kBlockUnits);
    EXPECT_LE(s.doc->noise.leadIn.end, s.FramePos(20000));
    EXPECT_TRUE(s.ui.Messages().empty());

    ASSERT_TRUE(MeasureLeadInProfile(*s.doc));
    // Hiss rises with frequency; bin 0 holds little of it.
    EXPECT_GT(s.doc->noise.leadInLeft[200], 0);
    EXPECT_GT(s.doc->noise.leadInRight[200], s.doc->noise.leadInRight[2]);
}

TEST(NoiseProfile, ALeadInThatFadesInStillGetsItsBlockFromTheNoise)
{
    // The search confirms the music well into its fade-in: a block ending
    // 8800 frames before that point would lie in the music.
    LoadedSide s;
    const size_t fade = static_cast<size_t>(0.35 * 44100);
    ASSERT_TRUE(s.Load(filtertest::HissThenMusic(20000, 80000, 2500, fade)));
    const std::optional<int32_t> b = SearchForSignal(*s.doc, s.doc->dataStart, +1);
    ASSERT_TRUE(b.has_value());
    EXPECT_GT(*b - kBlockUnits, s.FramePos(20000)) << "the fixed distance would reach into the music";
    IdentifyProfileBlock(*s.doc);
    ExpectLevelGridBlock(s);
    EXPECT_LE(s.doc->noise.leadIn.end, s.FramePos(20000));
}

TEST(NoiseProfile, ALeadInOfDigitalSilenceGivesTheBlockFromTheHissAfterIt)
{
    LoadedSide s;
    std::vector<int32_t> side = filtertest::HissThenMusic(30000, 60000);
    std::fill(side.begin(), side.begin() + 2 * 12000, 0);
    ASSERT_TRUE(s.Load(side));
    IdentifyProfileBlock(*s.doc);
    ExpectLevelGridBlock(s);
    // Its first level block may hold the last of the silence with the first
    // of the hiss.
    EXPECT_GT(s.doc->noise.leadIn.start, s.FramePos(12000 - 1024));
    EXPECT_LE(s.doc->noise.leadIn.end, s.FramePos(30000));
}

TEST(NoiseProfile, AShortQuietGapStillGivesAProfileAndTheWarningForTheStatus)
{
    LoadedSide s;
    test::MusicStyle style;
    style.seed = 3;
    style.peak = 0.4;
    std::vector<int32_t> side = test::Music(style, 120000);
    const auto hiss = test::Hiss(9, 100, 4000);
    std::copy(hiss.begin(), hiss.end(), side.begin() + 2 * 60000);
    ASSERT_TRUE(s.Load(side));
    s.ui.Expect({kMsgProfileUnreliableShort, MbAnswer::Ok, std::nullopt, MbButtons::Ok, MbIcon::Warning});
    IdentifyProfileBlock(*s.doc);
    s.ui.ExpectDone();
    const ProfileBlock& b = s.doc->noise.leadIn;
    EXPECT_TRUE(b.Exists());
    EXPECT_LE(b.end - b.start, kBlockUnits);
    EXPECT_TRUE(MeasureLeadInProfile(*s.doc));

    // Outside "Wave Not Corrected" the warning names the filters it affects.
    s.doc->noise.leadIn = {};
    s.doc->status = kStatusReadyToSave;
    s.ui.Expect({kMsgProfileUnreliable, MbAnswer::Ok});
    IdentifyProfileBlock(*s.doc);
}

TEST(NoiseProfile, ABlockShorterThanAFrameMeasuresNothing)
{
    LoadedSide s;
    ASSERT_TRUE(s.Load(filtertest::HissThenMusic(20000, 20000)));
    ProfileArray left{}, right{};
    EXPECT_FALSE(MeasureProfile(*s.doc, {s.FramePos(100), s.FramePos(100 + 511)}, left, right));
    EXPECT_TRUE(MeasureProfile(*s.doc, {s.FramePos(100), s.FramePos(100 + 512)}, left, right));
}

}  // namespace
}  // namespace kelvane
