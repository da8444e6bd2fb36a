// The FLAC writer must hand back exactly the samples it was given, in the
// declared format, with the tags and the padding block, and must never leave
// a half-written file behind.


#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include "output/CFlacEncoder.h"
#include "output/EncoderLevels.h"
#include "tests/output/EncoderTestSupport.h"
#include "tests/support/Signals.h"
#include "tests/support/FlacTestFiles.h"
#include "tests/support/TempDir.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using test::CommandOutput;
using test::TempDir;

using Decoded = test::FlacContents;

Decoded Decode(const fs::path& path) { return test::DecodeFlac(path); }

// Writes samples in uneven blocks, including an empty one, so the encoder's
// own buffering is exercised across block boundaries.
bool EncodeInBlocks(IAudioEncoder& enc, const std::vector<int32_t>& samples, int channels)
{
    const size_t frames = samples.size() / static_cast<size_t>(channels);
    const size_t sizes[] = {65536, 1, 0, 4095, 30000};
    size_t done = 0;
    for (size_t i = 0; done < frames; ++i) {
        const size_t n = std::min(sizes[i % 5], frames - done);
        if (!enc.Write(samples.data() + done * channels, n)) return false;
        done += n;
    }
    return true;
}

std::vector<int32_t> Scaled(std::vector<int32_t> v, int shift)
{
    for (auto& s : v) s = s * (1 << shift) + (s & ((1 << shift) - 1));  // fill the low bits too
    return v;
}

std::vector<int32_t> Mono(const std::vector<int32_t>& stereo)
{
    std::vector<int32_t> m;
    for (size_t i = 0; i < stereo.size(); i += 2) m.push_back(stereo[i]);
    return m;
}

TEST(FlacEncoder, SixteenTwentyFourBitAndMono_DecodeToTheSameSamples)
{
    TempDir dir;
    test::MusicStyle style;
    style.peak = 0.99;
    auto music = test::Music(style, 150000);
    test::MixInto(music, test::Noise(7, 200, 150000), 0);
    // Full-scale extremes must survive as well.
    music[10] = 32767;
    music[11] = -32768;

    // The estimate only sizes the header; a wrong or missing one must still
    // end up as the real length.
    struct Case { const char* name; int bits; int channels; int rate; std::vector<int32_t> samples; uint64_t estimate; };
    const Case cases[] = {
        {"s16.flac", 16, 2, 44100, music, 150000},
        {"s24.flac", 24, 2, 96000, Scaled(music, 8), 0},
        {"m16.flac", 16, 1, 48000, Mono(music), 999999},
        {"low-estimate.flac", 16, 2, 44100, music, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t frames = c.samples.size() / c.channels;
        CFlacEncoder enc(5);
        ASSERT_TRUE(enc.Open(dir.file(c.name), c.rate, c.bits, c.channels, c.estimate, {})) << enc.LastError();
        ASSERT_TRUE(EncodeInBlocks(enc, c.samples, c.channels)) << enc.LastError();
        ASSERT_TRUE(enc.Finish()) << enc.LastError();
        EXPECT_TRUE(enc.LastError().empty());

        const Decoded d = Decode(dir.file(c.name));
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.sampleRate, c.rate);
        EXPECT_EQ(d.bits, c.bits);
        EXPECT_EQ(d.channels, c.channels);
        EXPECT_EQ(d.totalSamples, frames);
        EXPECT_TRUE(d.samples == c.samples);
        EXPECT_TRUE(test::PartialFilesBeside(dir.file(c.name)).empty());
    }
}

TEST(FlacEncoder, LevelAndVerifyOff_ReachTheLibrary)
{
    // Level 0 uses 1152-frame blocks, levels 5 and 8 use 4096. The level-0
    // file is made without verification, which must not change the result.
    TempDir dir;
    const auto noise = test::Noise(5, 3000, 20000);
    unsigned blocks[2] = {};
    const int levels[2] = {FlacCompressionLevelAt(0), FlacCompressionLevelAt(2)};
    for (int i = 0; i < 2; ++i) {
        CFlacEncoder enc(levels[i], /*verify=*/i != 0);
        const fs::path p = dir.file("l" + std::to_string(i) + ".flac");
        ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 20000, {}));
        ASSERT_TRUE(enc.Write(noise.data(), 20000));
        ASSERT_TRUE(enc.Finish());
        const Decoded d = Decode(p);
        blocks[i] = d.maxBlock;
        EXPECT_TRUE(d.samples == noise) << i;
    }
    EXPECT_EQ(blocks[0], 1152u);
    EXPECT_EQ(blocks[1], 4096u);
}

TEST(FlacEncoder, TagsAndPadding_ReadableByMetaflac)
{
    KELVANE_REQUIRE_TOOL("metaflac", "flac");
    TempDir dir;
    const fs::path p = dir.file("t.flac");
    const auto noise = test::Noise(9, 100, 4410);
    CFlacEncoder enc(5);
    const EncoderTags tags = {{"TITLE", "Caf\xC3\xA9 Ol\xC3\xA9"}, {"ARTIST", "The Band"}, {"TRACKNUMBER", "3"},
                              {"COMMENT", ""}};
    ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 4410, tags)) << enc.LastError();
    ASSERT_TRUE(enc.Write(noise.data(), 4410));
    ASSERT_TRUE(enc.Finish());

    EXPECT_EQ(CommandOutput({"metaflac", "--export-tags-to=-", p.string()}),
              "TITLE=Caf\xC3\xA9 Ol\xC3\xA9\nARTIST=The Band\nTRACKNUMBER=3\nCOMMENT=\n");
    const std::string list = CommandOutput({"metaflac", "--list", "--block-type=PADDING", p.string()});
    EXPECT_NE(list.find("type: 1 (PADDING)"), std::string::npos) << list;
    EXPECT_NE(list.find("length: 2048"), std::string::npos) << list;
}

TEST(FlacEncoder, RefusedInput_ClearErrorAndNoFile)
{
    TempDir dir;
    const fs::path p = dir.file("x.flac");
    struct Case { int rate, bits, channels; EncoderTags tags; const char* expect; };
    const Case cases[] = {
        {44100, 8, 2, {}, "16 or 24 bits"},
        {44100, 16, 3, {}, "mono or stereo"},
        {0, 16, 2, {}, "sample rate"},
        {44100, 16, 2, {{"TI=TLE", "x"}}, "TI=TLE"},
        {44100, 16, 2, {{"", "x"}}, "no name"},
        {44100, 16, 2, {{"TITLE", "bad \xE9 byte"}}, "UTF-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expect);
        CFlacEncoder enc(5);
        test::ExpectOpenRefused(enc, p, c.rate, c.bits, c.channels, c.tags, c.expect);
    }

    CFlacEncoder unopened(5);
    const int32_t s[2] = {0, 0};
    EXPECT_FALSE(unopened.Write(s, 1));
    EXPECT_FALSE(unopened.Finish());
    EXPECT_FALSE(unopened.LastError().empty());
}

TEST(FlacEncoder, UnwritablePath_NamesTheFile)
{
    TempDir dir;
    const fs::path p = dir.file("missing-folder") / "x.flac";
    CFlacEncoder enc(5);
    EXPECT_FALSE(enc.Open(p, 44100, 16, 2, 0, {}));
    EXPECT_NE(enc.LastError().find(p.string()), std::string::npos) << enc.LastError();
    EXPECT_FALSE(fs::exists(dir.file("missing-folder")));
}

TEST(FlacEncoder, OutOfRangeSample_FailsAndRemovesThePartialFile)
{
    TempDir dir;
    const fs::path p = dir.file("x.flac");
    CFlacEncoder enc(5);
    ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 0, {}));
    const int32_t bad[4] = {0, 0, 40000, 0};
    EXPECT_FALSE(enc.Write(bad, 2));
    EXPECT_NE(enc.LastError().find("range"), std::string::npos);
    EXPECT_TRUE(test::PartialFilesBeside(p).empty());
    EXPECT_FALSE(enc.Write(bad, 1));  // stays failed
    EXPECT_FALSE(fs::exists(p));
}

TEST(FlacEncoder, AbortOrDestroyUnfinished_KeepsEarlierFileAndLeavesNoPartial)
{
    TempDir dir;
    const fs::path p = dir.file("x.flac");
    ASSERT_TRUE(test::WriteFileBytes(p, {1, 2, 3}));
    const auto noise = test::Noise(1, 500, 10000);
    test::ExpectUnfinishedKeepsEarlierFile([] { return CFlacEncoder(5); }, p, noise, 10000);

    // A finished export replaces the earlier file.
    CFlacEncoder enc(5);
    ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 10000, {}));
    ASSERT_TRUE(enc.Write(noise.data(), 10000));
    ASSERT_TRUE(enc.Finish());
    EXPECT_TRUE(Decode(p).samples == noise);
}

// libFLAC hands over metadata blocks with no samples, audio frames with some.
bool IsAudio(unsigned samples) { return samples > 0; }

TEST(FlacEncoder, DamageSeenByTheVerifier_FailsAndLeavesNoFile)
{
    // Each way of damaging the stream reaches a different check: a flipped
    // bit breaks a frame's CRC, a frame taken from another recording (valid,
    // in the right place) decodes to the wrong samples, a missing last frame
    // leaves samples that never came back.
    TempDir dir;
    const fs::path p = dir.file("x.flac");
    const auto noise = test::Noise(3, 4000, 100000);  // 24 frames of 4096 and one of 1696
    int frame = 0;
    std::vector<uint8_t> foreign;
    {
        CFlacEncoder other(5);
        other.SetVerifierTamperForTests([&](std::vector<uint8_t>& b, unsigned n) { if (IsAudio(n) && ++frame == 3) foreign = b; });
        ASSERT_TRUE(other.Open(dir.file("other.flac"), 44100, 16, 2, 100000, {}));
        const auto otherNoise = test::Noise(8, 4000, 100000);
        ASSERT_TRUE(other.Write(otherNoise.data(), 100000));
        ASSERT_TRUE(other.Finish());
        ASSERT_FALSE(foreign.empty());
    }
    struct Case { const char* name; CFlacEncoder::VerifierTamper tamper; bool fails; };
    const Case cases[] = {
        {"untouched", [&](std::vector<uint8_t>&, unsigned) {}, false},
        {"bit flip", [&](std::vector<uint8_t>& b, unsigned n) { if (IsAudio(n) && ++frame == 5) b[b.size() / 2] ^= 0x10; }, true},
        {"foreign frame", [&](std::vector<uint8_t>& b, unsigned n) { if (IsAudio(n) && ++frame == 3) b = foreign; }, true},
        {"dropped last frame", [&](std::vector<uint8_t>& b, unsigned n) { if (IsAudio(n) && n < 4096) b.clear(); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        frame = 0;
        CFlacEncoder enc(5);
        enc.SetVerifierTamperForTests(c.tamper);
        ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 100000, {})) << enc.LastError();
        const bool ok = EncodeInBlocks(enc, noise, 2) && enc.Finish();
        EXPECT_EQ(ok, !c.fails) << enc.LastError();
        if (c.fails) {
            EXPECT_NE(enc.LastError().find("the encoded audio did not decode to the original samples"), std::string::npos)
                << enc.LastError();
            EXPECT_FALSE(fs::exists(p));
            EXPECT_FALSE(enc.Write(noise.data(), 1));  // stays failed
        } else {
            EXPECT_TRUE(Decode(p).samples == noise);
            fs::remove(p);
        }
        EXPECT_TRUE(test::PartialFilesBeside(p).empty());
    }
}

TEST(FlacEncoder, FramesLostInSilence_FailInsteadOfWaiting)
{
    // Silent frames dropped from the checked stream leave the frames after
    // them still matching, so only the growing backlog of unchecked samples
    // shows the loss; that must end in a failure, never in a Write that
    // waits for room forever. One long write and many short ones.
    TempDir dir;
    const fs::path p = dir.file("x.flac");
    const std::vector<int32_t> silence(2 * 1500000, 0);
    for (const size_t piece : {size_t{1500000}, size_t{1000}}) {
        SCOPED_TRACE(piece);
        int frame = 0;
        CFlacEncoder enc(5);
        enc.SetVerifierTamperForTests([&](std::vector<uint8_t>& b, unsigned n) {
            if (IsAudio(n) && ++frame > 10 && frame < 200) b.clear();
        });
        ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 0, {}));
        bool ok = true;
        for (size_t done = 0; ok && done < 1500000; done += piece) ok = enc.Write(silence.data() + 2 * done, piece);
        ok = ok && enc.Finish();
        EXPECT_FALSE(ok);
        EXPECT_NE(enc.LastError().find("did not decode to the original samples"), std::string::npos) << enc.LastError();
        EXPECT_FALSE(fs::exists(p));
    }
}

TEST(FlacEncoder, LongAndTinyWrites_RoundTrip)
{
    // One write far longer than the verifier holds must wait for it rather
    // than deadlock, silence included (a long block that encodes to a few
    // bytes); writes of a frame or two must not lose samples between blocks.
    TempDir dir;
    std::vector<int32_t> samples(2 * 700000, 0);
    const auto noise = test::Noise(11, 3000, 600000);
    std::copy(noise.begin(), noise.end(), samples.begin() + 2 * 100000);

    const fs::path big = dir.file("big.flac");
    CFlacEncoder enc(5);
    ASSERT_TRUE(enc.Open(big, 44100, 16, 2, 0, {}));
    ASSERT_TRUE(enc.Write(samples.data(), 700000)) << enc.LastError();
    ASSERT_TRUE(enc.Finish()) << enc.LastError();
    const Decoded d = Decode(big);
    EXPECT_EQ(d.totalSamples, 700000u);
    EXPECT_TRUE(d.samples == samples);

    const fs::path tiny = dir.file("tiny.flac");
    const std::vector<int32_t> part(samples.begin() + 2 * 95000, samples.begin() + 2 * 115000);
    ASSERT_TRUE(enc.Open(tiny, 44100, 16, 2, 20000, {}));
    for (size_t done = 0, i = 0; done < 20000; ++i) {
        const size_t n = std::min<size_t>(1 + i % 3, 20000 - done);
        ASSERT_TRUE(enc.Write(part.data() + 2 * done, n)) << done;
        done += n;
    }
    ASSERT_TRUE(enc.Finish()) << enc.LastError();
    EXPECT_TRUE(Decode(tiny).samples == part);
}

TEST(FlacEncoder, AbortMidStream_StopsAtOnceAndCanStartAgain)
{
    // Aborting with the verifier's queues full, or after it has failed, must
    // stop its thread without a deadlock and leave nothing behind; the same
    // encoder then writes a good file.
    TempDir dir;
    const fs::path p = dir.file("x.flac");
    const auto noise = test::Noise(4, 5000, 400000);
    {
        CFlacEncoder enc(8);
        ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 0, {}));
        ASSERT_TRUE(enc.Write(noise.data(), 400000));
        enc.Abort();
        EXPECT_TRUE(test::PartialFilesBeside(p).empty());

        enc.SetVerifierTamperForTests([](std::vector<uint8_t>& b, unsigned n) { if (IsAudio(n)) b[b.size() / 2] ^= 1; });
        ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 0, {}));
        enc.Write(noise.data(), 400000);  // may or may not have seen the failure yet
        enc.Abort();
        EXPECT_TRUE(test::PartialFilesBeside(p).empty());

        enc.SetVerifierTamperForTests(nullptr);
        ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 0, {}));
        ASSERT_TRUE(enc.Write(noise.data(), 400000));
        ASSERT_TRUE(enc.Finish()) << enc.LastError();
        EXPECT_TRUE(Decode(p).samples == noise);
    }
    {
        // Destroyed straight after Open, before any audio.
        CFlacEncoder enc(5);
        ASSERT_TRUE(enc.Open(dir.file("y.flac"), 44100, 16, 2, 0, {}));
    }
    EXPECT_FALSE(fs::exists(dir.file("y.flac")));
    EXPECT_TRUE(test::PartialFilesBeside(dir.file("y.flac")).empty());
}

TEST(FlacEncoder, AbortWithEncodingFarBehind_StopsWithoutDeadlock)
{
    // A slowed encoding lets Write fill every block there is and then wait;
    // Abort, or the destructor, must then drop the queued blocks and stop
    // both threads mid-block, with or without verification.
    TempDir dir;
    const fs::path p = dir.file("x.flac");
    constexpr size_t kFrames = 600000;  // more blocks than the encoder keeps
    const auto noise = test::Noise(6, 3000, kFrames);
    auto slow = [](std::vector<uint8_t>&, unsigned n) {
        if (IsAudio(n)) std::this_thread::sleep_for(std::chrono::microseconds(500));
    };
    for (const bool verify : {true, false}) {
        SCOPED_TRACE(verify ? "verified" : "unverified");
        CFlacEncoder enc(5, verify);
        enc.SetVerifierTamperForTests(slow);
        // Without verification the hook is not called; the writes then only
        // race the encoding.
        ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 0, {}));
        for (size_t done = 0; done < kFrames; done += 40000) ASSERT_TRUE(enc.Write(noise.data() + 2 * done, 40000));
        enc.Abort();
        EXPECT_TRUE(test::PartialFilesBeside(p).empty());
        EXPECT_FALSE(fs::exists(p));

        ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 0, {}));
        for (size_t done = 0; done < kFrames; done += 40000) ASSERT_TRUE(enc.Write(noise.data() + 2 * done, 40000));
    }  // destroyed unfinished
    EXPECT_TRUE(test::PartialFilesBeside(p).empty());
    EXPECT_FALSE(fs::exists(p));
}

// Files of this process may not grow past limit bytes while it lives: a
// full disk as the writer meets it (the write fails, here with EFBIG).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = saved_;
        lower.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
};

TEST(FlacEncoder, WriteErrorOnTheEncodingThread_ReportedLaterAndNoFileLeft)
{
    // The partial file cannot grow past 64 KiB, so the stream fails once the
    // first buffered stretch is written out, on the encoding thread. One
    // block's worth returns at once; the failure is then Finish's to report.
    // With many writes it may show at any later Write.
    TempDir dir;
    const fs::path p = dir.file("x.flac");
    const auto noise = test::Noise(12, 30000, 400000);
    const std::string diskFull = "the file could not be written (is the disk full?)";
    {
        CFlacEncoder enc(5);
        ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 0, {})) << enc.LastError();
        FileSizeLimit full(64 * 1024);
        ASSERT_TRUE(enc.Write(noise.data(), 32768)) << enc.LastError();
        EXPECT_FALSE(enc.Finish());
        EXPECT_NE(enc.LastError().find(diskFull), std::string::npos) << enc.LastError();
        EXPECT_TRUE(test::PartialFilesBeside(p).empty());
        EXPECT_FALSE(fs::exists(p));
    }
    {
        CFlacEncoder enc(5, /*verify=*/false);
        ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 0, {}));
        FileSizeLimit full(64 * 1024);
        bool ok = true;
        for (size_t done = 0; ok && done < 400000; done += 1000) ok = enc.Write(noise.data() + 2 * done, 1000);
        ok = ok && enc.Finish();
        EXPECT_FALSE(ok);
        EXPECT_NE(enc.LastError().find(diskFull), std::string::npos) << enc.LastError();
        EXPECT_FALSE(enc.Write(noise.data(), 1));  // stays failed
        EXPECT_TRUE(test::PartialFilesBeside(p).empty());
        EXPECT_FALSE(fs::exists(p));
    }
}

}  // namespace
}  // namespace kelvane
