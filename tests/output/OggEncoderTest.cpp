// The Ogg Vorbis writer must produce streams other tools accept, with the
// comments, a serial number that changes with the time of the export, the
// chosen quality, and no half-written file after a failure.

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "output/COggEncoder.h"
#include "output/EncoderLevels.h"
#include "tests/output/EncoderTestSupport.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using std::chrono::system_clock;
using test::CommandOutput;
using test::TempDir;

COggEncoder::Clock FixedClock(int64_t seconds)
{
    return [seconds] { return system_clock::time_point(std::chrono::seconds(seconds)); };
}

bool Encode(COggEncoder& enc, const fs::path& path, const std::vector<int32_t>& samples, int bits = 16,
            int channels = 2, const EncoderTags& tags = {})
{
    const size_t frames = samples.size() / static_cast<size_t>(channels);
    if (!enc.Open(path, 44100, bits, channels, frames, tags)) return false;
    // One big block and a ragged tail, as the track writer sends them.
    const size_t first = std::min<size_t>(frames, 65536);
    return enc.Write(samples.data(), first) && enc.Write(samples.data() + first * channels, frames - first) &&
           enc.Finish();
}

// The serial number stored in the first page header (bytes 14..17, little endian).
int FileSerial(const fs::path& path)
{
    const auto bytes = test::ReadFileBytes(path);
    if (bytes.size() < 18) return 0;
    return static_cast<int>(uint32_t(bytes[14]) | uint32_t(bytes[15]) << 8 | uint32_t(bytes[16]) << 16 |
                            uint32_t(bytes[17]) << 24);
}

TEST(OggEncoder, StereoMonoAndTwentyFourBit_DecodeToTheSameLengthAndLevel)
{
    KELVANE_REQUIRE_TOOL("oggdec", "vorbis-tools");
    TempDir dir;
    const size_t frames = 100000;
    const auto sine = test::Sine(1000.0, 16384.0, frames);
    std::vector<int32_t> sine24 = sine;
    for (auto& s : sine24) s *= 256;
    std::vector<int32_t> mono;
    for (size_t i = 0; i < sine.size(); i += 2) mono.push_back(sine[i]);

    struct Case { const char* name; int bits; int channels; const std::vector<int32_t>* samples; };
    const Case cases[] = {{"s16", 16, 2, &sine}, {"s24", 24, 2, &sine24}, {"m16", 16, 1, &mono}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path ogg = dir.file(std::string(c.name) + ".ogg");
        const fs::path wav = dir.file(std::string(c.name) + ".wav");
        COggEncoder enc(OggQualityAt(5));
        ASSERT_TRUE(Encode(enc, ogg, *c.samples, c.bits, c.channels)) << enc.LastError();
        int status = -1;
        CommandOutput({"oggdec", "-Q", "-o", wav.string(), ogg.string()}, &status);
        ASSERT_EQ(status, 0);
        const auto decoded = test::ReadWavSamples(wav);
        ASSERT_TRUE(decoded.ok()) << decoded.error;
        EXPECT_EQ(decoded.channels, c.channels);
        EXPECT_EQ(decoded.samples.size() / c.channels, frames);
        // Lossy, but the level must come back: a wrong scale for 24-bit
        // input would show here as a 48 dB error.
        const double rms = test::Rms(decoded.samples, c.channels, 10000, frames - 10000);
        EXPECT_NEAR(rms, 16384.0 / std::sqrt(2.0), 300.0);
    }
}

TEST(OggEncoder, Comments_ReadableByVorbiscomment)
{
    KELVANE_REQUIRE_TOOL("vorbiscomment", "vorbis-tools");
    TempDir dir;
    const fs::path p = dir.file("t.ogg");
    COggEncoder enc(0.5f);
    const EncoderTags tags = {{"TITLE", "Caf\xC3\xA9"}, {"ARTIST", "The Band"}, {"TRACKNUMBER", "12"}};
    ASSERT_TRUE(Encode(enc, p, test::Noise(4, 300, 8000), 16, 2, tags)) << enc.LastError();
    EXPECT_EQ(CommandOutput({"vorbiscomment", "-l", p.string()}), "TITLE=Caf\xC3\xA9\nARTIST=The Band\nTRACKNUMBER=12\n");
}

TEST(OggEncoder, SerialNumber_FollowsTheTimeOfTheExport)
{
    TempDir dir;
    const auto noise = test::Noise(2, 300, 4000);
    COggEncoder first(0.5f, FixedClock(1'700'000'000));
    COggEncoder second(0.5f, FixedClock(1'700'000'001));
    COggEncoder again(0.5f, FixedClock(1'700'000'000));
    ASSERT_TRUE(Encode(first, dir.file("a.ogg"), noise));
    ASSERT_TRUE(Encode(second, dir.file("b.ogg"), noise));
    ASSERT_TRUE(Encode(again, dir.file("c.ogg"), noise));
    EXPECT_EQ(FileSerial(dir.file("a.ogg")), first.SerialNumber());
    EXPECT_EQ(FileSerial(dir.file("b.ogg")), second.SerialNumber());
    EXPECT_NE(first.SerialNumber(), second.SerialNumber());
    EXPECT_EQ(first.SerialNumber(), again.SerialNumber());

    // The system clock, read twice, moves on far enough to change the number.
    COggEncoder live1(0.5f);
    ASSERT_TRUE(Encode(live1, dir.file("d.ogg"), noise));
    COggEncoder live2(0.5f);
    ASSERT_TRUE(Encode(live2, dir.file("e.ogg"), noise));
    EXPECT_NE(FileSerial(dir.file("d.ogg")), FileSerial(dir.file("e.ogg")));
}

TEST(OggEncoder, Quality_ReachesTheLibrary)
{
    TempDir dir;
    const auto noise = test::Noise(8, 8000, 88200);
    COggEncoder low(OggQualityAt(0));
    COggEncoder high(OggQualityAt(6));
    ASSERT_TRUE(Encode(low, dir.file("low.ogg"), noise));
    ASSERT_TRUE(Encode(high, dir.file("high.ogg"), noise));
    // Noise at the lowest quality comes near 56 kbit/s, at the highest far
    // above 200; two seconds of it make the gap unmistakable.
    EXPECT_GT(fs::file_size(dir.file("high.ogg")), 3 * fs::file_size(dir.file("low.ogg")));
}

TEST(OggEncoder, RefusedInput_ClearErrorAndNoFile)
{
    TempDir dir;
    const fs::path p = dir.file("x.ogg");
    struct Case { int rate, bits, channels; EncoderTags tags; std::string expect; };
    const Case cases[] = {
        {44100, 8, 2, {}, "16 or 24 bit"},
        {44100, 16, 6, {}, "mono or stereo"},
        {0, 16, 2, {}, std::string(COggEncoder::kStartError)},
        {384000, 16, 2, {}, std::string(COggEncoder::kStartError)},  // beyond the library's modes
        {44100, 16, 2, {{"A=B", "x"}}, "A=B"},
        {44100, 16, 2, {{"TITLE", "\xC0\xAF"}}, "UTF-8"},  // overlong form
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expect);
        COggEncoder enc(0.5f);
        test::ExpectOpenRefused(enc, p, c.rate, c.bits, c.channels, c.tags, c.expect);
    }

    const fs::path unwritable = dir.file("no-such-folder") / "x.ogg";
    COggEncoder enc(0.5f);
    EXPECT_FALSE(enc.Open(unwritable, 44100, 16, 2, 0, {}));
    EXPECT_NE(enc.LastError().find(unwritable.string()), std::string::npos) << enc.LastError();
    const int32_t s[2] = {0, 0};
    EXPECT_FALSE(enc.Write(s, 1));
    EXPECT_FALSE(enc.Finish());
}

TEST(OggEncoder, AbortOrDestroyUnfinished_KeepsEarlierFileAndLeavesNoPartial)
{
    TempDir dir;
    const fs::path p = dir.file("x.ogg");
    ASSERT_TRUE(test::WriteFileBytes(p, {9, 9}));
    const auto noise = test::Noise(1, 500, 20000);
    test::ExpectUnfinishedKeepsEarlierFile([] { return COggEncoder(0.5f); }, p, noise, 20000);

    COggEncoder enc(0.5f);
    ASSERT_TRUE(Encode(enc, p, noise));
    EXPECT_GT(fs::file_size(p), 1000u);
}

}  // namespace
}  // namespace kelvane
