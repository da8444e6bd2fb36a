// The load pass: the working file becomes an exact copy of the source (with
// APE input decoded and mono input widened on the way), the block statistics
// are right across chunk borders, and the user's cancel answers are obeyed.

#include "document/CLoadPass.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "settings/SettingsStore.h"
#include "tests/support/ApeTestFiles.h"
#include "tests/support/FlacTestFiles.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

// Three full chunks and a partial one, with music-like content.
constexpr size_t kFrames = 3 * 65536 + 20000;

std::vector<int32_t> Content(size_t frames, int bits = 16, uint64_t seed = 5)
{
    test::MusicStyle style;
    style.seed = seed;
    std::vector<int32_t> s = test::Music(style, frames);
    const auto noise = test::Noise(seed + 1, 300, frames);
    for (size_t i = 0; i < s.size(); ++i) {
        s[i] = std::clamp(s[i] + noise[i], -32768, 32767);
        if (bits == 24) s[i] = s[i] * 256 + static_cast<int32_t>((i * 7) & 0xFF);
    }
    return s;
}

// What the statistics of a file must be, computed block by block from the
// whole sample array: no chunks, no pieces.
struct Reference {
    std::vector<int32_t> level;
    std::vector<std::array<int8_t, 4>> envelope;
};

Reference ReferenceStatistics(const std::vector<int32_t>& s16, int32_t dataStart, size_t blocks)
{
    Reference r{std::vector<int32_t>(blocks, 0), std::vector<std::array<int8_t, 4>>(blocks, {0, 0, 0, 0})};
    const size_t frames = s16.size() / 2;
    size_t f = 0;
    while (f < frames) {
        const int64_t block = (dataStart + 4 * static_cast<int64_t>(f)) / 4096;
        int32_t sum = 0, mn[2] = {0, 0}, mx[2] = {0, 0}, part[2][2] = {{0, 0}, {0, 0}};
        int sign[2] = {0, 0}, changes[2] = {0, 0};
        for (; f < frames && (dataStart + 4 * static_cast<int64_t>(f)) / 4096 == block; ++f) {
            for (int c = 0; c < 2; ++c) {
                const int32_t v = s16[2 * f + c];
                sum += std::abs(v);
                mn[c] = std::min(mn[c], v);
                mx[c] = std::max(mx[c], v);
                const int want = v > 20 ? 1 : v < -20 ? -1 : sign[c];
                if (want != sign[c]) ++changes[c];  // the first value outside +-20 is a change too
                sign[c] = want;
                if (changes[c] < 2) part[c][changes[c]] += v;
            }
        }
        r.level[block] = sum - std::abs(part[0][0]) - std::abs(part[0][1]) - std::abs(part[1][0]) - std::abs(part[1][1]);
        r.envelope[block] = {static_cast<int8_t>(mn[0] / 256), static_cast<int8_t>(mx[0] / 256),
                             static_cast<int8_t>(mn[1] / 256), static_cast<int8_t>(mx[1] / 256)};
    }
    return r;
}

std::vector<int32_t> Upper16(const std::vector<int32_t>& s24)
{
    std::vector<int32_t> out(s24.size());
    // The upper two bytes of the sample: an arithmetic shift.
    for (size_t i = 0; i < s24.size(); ++i) out[i] = s24[i] >> 8;
    return out;
}

struct LoadFixture : ::testing::Test {
    test::TempDir dir;
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};

    void SetUp() override { settings.Set(settings::TempMode, settings::kTempModeSameFolder); }

    void Load(const std::string& path, ILoadScanner* scanner = nullptr, LoadOutcome want = LoadOutcome::Completed)
    {
        ASSERT_TRUE(OpenRecording(doc, path).Ok());
        ASSERT_EQ(LoadRecording(doc, scanner), want);
    }
    std::vector<uint8_t> Working() { return test::ReadFileBytes(doc.workingPath); }
};

TEST_F(LoadFixture, SixteenBitWorkingFileIsAByteExactCopyWithTrailer)
{
    test::WavOptions opts;
    opts.chunksBetween = {{"LIST", "INFOISFTabcd"}};
    opts.chunksAfterData = {{"id3 ", std::string(5000, 'z')}, {"cue ", "1234"}};
    const auto samples = Content(kFrames);
    const fs::path p = dir.file("side.wav");
    ASSERT_TRUE(test::WriteWav(p, opts, samples));
    Load(p.string());
    EXPECT_EQ(Working(), test::ReadFileBytes(p));
    EXPECT_EQ(doc.status, kStatusNotCorrected);
    EXPECT_EQ(doc.loaded, 1);
    EXPECT_TRUE(doc.IsModified());
    ASSERT_EQ(doc.tracks.Size(), 1);
    EXPECT_EQ(doc.tracks[0].start, doc.dataStart);
    EXPECT_EQ(doc.tracks[0].end, doc.dataEnd);

    const Reference ref = ReferenceStatistics(samples, doc.dataStart, doc.blockLevel.size());
    EXPECT_EQ(doc.blockLevel, ref.level);
    EXPECT_EQ(doc.blockEnvelope, ref.envelope);
}

TEST_F(LoadFixture, BlockStatisticsOfAHandMadeBlock)
{
    // Block 1 (positions 4096..8191) holds frames 1013..2036 when the data
    // starts at 44. Left: 10 frames of +1000, 20 of -3000, then +2000;
    // right: 5 throughout, inside the dead zone.
    std::vector<int32_t> s(2 * 4000, 0);
    for (int f = 1013; f <= 2036; ++f) {
        const int k = f - 1013;
        s[2 * f] = k < 10 ? 1000 : k < 30 ? -3000 : 2000;
        s[2 * f + 1] = 5;
    }
    const fs::path p = dir.file("hand.wav");
    ASSERT_TRUE(test::WriteWav(p, {}, s));
    Load(p.string());
    const int32_t sum = 10 * 1000 + 20 * 3000 + 994 * 2000 + 1024 * 5;
    // The first value outside the dead zone is the first change: nothing
    // lies before it, the 10 x 1000 lie between it and the second (-3000).
    // The right channel never leaves the dead zone: all of it is "before the
    // first change".
    EXPECT_EQ(doc.blockLevel[1], sum - 10000 - 5 * 1024);
    EXPECT_EQ(doc.blockEnvelope[1], (std::array<int8_t, 4>{-11, 7, 0, 0}));
    // Silence around it.
    EXPECT_EQ(doc.blockLevel[0], 0);
    EXPECT_EQ(doc.blockLevel[2], 0);
}

TEST_F(LoadFixture, TwentyFourBitCopyKeepsEveryByteAndScansTheUpperBits)
{
    test::WavOptions opts;
    opts.bits = 24;
    opts.sampleRate = 96000;
    const auto samples = Content(kFrames, 24);
    const fs::path p = dir.file("hires.wav");
    ASSERT_TRUE(test::WriteWav(p, opts, samples));

    struct Capture : ILoadScanner {
        std::vector<int32_t> offsets;
        std::vector<int16_t> firstValues;
        bool ended = false;
        void ScanChunk(const int16_t* v, int32_t offset, int32_t count) override
        {
            offsets.push_back(offset);
            EXPECT_EQ(count, 133120);
            if (firstValues.empty()) firstValues.assign(v, v + 16);
        }
        void EndOfScan() override { ended = true; }
    } scan;
    Load(p.string(), &scan);
    EXPECT_EQ(Working(), test::ReadFileBytes(p));
    EXPECT_EQ(doc.dataEnd - doc.dataStart, static_cast<int32_t>(kFrames * 4));
    EXPECT_TRUE(scan.ended);
    ASSERT_EQ(scan.offsets.size(), 4u);
    for (size_t i = 0; i < scan.offsets.size(); ++i)
        EXPECT_EQ(scan.offsets[i], doc.dataStart + 4096 + static_cast<int32_t>(i) * 0x40000);
    const auto upper = Upper16(samples);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(scan.firstValues[i], upper[2048 + i]);  // frame 1024 on

    const Reference ref = ReferenceStatistics(upper, doc.dataStart, doc.blockLevel.size());
    EXPECT_EQ(doc.blockLevel, ref.level);
}

TEST_F(LoadFixture, MonoInputIsWidenedFrameForFrame)
{
    test::WavOptions opts;
    opts.channels = 1;
    std::vector<int32_t> mono(kFrames);
    for (size_t i = 0; i < mono.size(); ++i) mono[i] = static_cast<int32_t>((i * 131) % 60001) - 30000;
    const fs::path p = dir.file("mono.wav");
    ASSERT_TRUE(test::WriteWav(p, opts, mono));
    const auto before = test::ReadFileBytes(p);
    Load(p.string());
    const auto tmp = test::ReadWavSamples(doc.sourcePath);
    const auto work = test::ReadWavSamples(doc.workingPath);
    ASSERT_TRUE(tmp.ok() && work.ok());
    std::vector<int32_t> stereo(2 * mono.size());
    for (size_t i = 0; i < mono.size(); ++i) stereo[2 * i] = stereo[2 * i + 1] = mono[i];
    EXPECT_EQ(tmp.samples, stereo);
    EXPECT_EQ(work.samples, stereo);
    EXPECT_EQ(test::ReadFileBytes(p), before);
}

TEST_F(LoadFixture, FlacInputDecodesToTheExactSamples)
{
    for (int bits : {16, 24}) {
        SCOPED_TRACE(bits);
        test::FlacOptions opts;
        opts.bits = bits;
        const auto samples = Content(kFrames, bits, 11);
        const fs::path p = dir.file("side.flac");
        ASSERT_TRUE(test::WriteFlac(p, opts, samples));
        Load(p.string());
        const auto work = test::ReadWavSamples(doc.workingPath);
        ASSERT_TRUE(work.ok()) << work.error;
        EXPECT_EQ(work.bits, bits);
        EXPECT_EQ(work.samples, samples);
        doc.DeleteContents();
        EXPECT_FALSE(fs::exists(dir.file("side.tmp")));
    }
}

TEST_F(LoadFixture, ApeInputIsDecodedIntoTheSourceAndTheWorkingFile)
{
    if (!test::JmacAvailable()) GTEST_SKIP() << "jmac (Debian libjmac-java) is not installed";
    for (int bits : {16, 24}) {
        SCOPED_TRACE(bits);
        const auto pcm = test::MakeApeTestSignal(bits, 2, static_cast<int64_t>(kFrames), 3);
        const fs::path wav = dir.file("src.wav");
        ASSERT_TRUE(test::WriteApeSourceWav(wav, 44100, bits, 2, pcm));
        const fs::path ape = dir.file("side.ape");
        ASSERT_TRUE(test::EncodeApeWithJmac(wav, ape, 2));
        Load(ape.string());
        const auto tmp = test::ReadFileBytes(doc.sourcePath);
        const auto work = Working();
        const auto original = test::ReadFileBytes(wav);
        ASSERT_EQ(tmp.size(), original.size());
        EXPECT_TRUE(std::equal(tmp.begin() + 44, tmp.end(), original.begin() + 44));
        EXPECT_EQ(work, tmp);
        EXPECT_EQ(doc.apeDecoder, nullptr);
        doc.DeleteContents();
    }
}

TEST_F(LoadFixture, ATrailerLongerThanAChunkIsCopiedWhole)
{
    for (int bits : {16, 24}) {
        SCOPED_TRACE(bits);
        test::WavOptions opts;
        opts.bits = bits;
        std::string list(400000, '\0');
        for (size_t i = 0; i < list.size(); ++i) list[i] = static_cast<char>('a' + i % 23);
        opts.chunksAfterData = {{"LIST", list}};
        const fs::path p = dir.file("long-trailer.wav");
        ASSERT_TRUE(test::WriteWav(p, opts, Content(100000, bits)));
        Load(p.string());
        EXPECT_TRUE(Working() == test::ReadFileBytes(p));
        doc.DeleteContents();
    }
}

// A second load of a recording already loaded (the automatic processing run
// again) reads the complete temporary source: the decoder and the mono file
// are gone by then.
TEST_F(LoadFixture, ReloadingReadsTheCompleteSourceOfEveryKind)
{
    std::vector<fs::path> inputs;
    const fs::path wav16 = dir.file("w16.wav"), wav24 = dir.file("w24.wav"), mono = dir.file("mono.wav"),
                   flac = dir.file("f.flac"), ape = dir.file("a.ape");
    ASSERT_TRUE(test::WriteWav(wav16, {}, Content(kFrames)));
    test::WavOptions deep;
    deep.bits = 24;
    ASSERT_TRUE(test::WriteWav(wav24, deep, Content(kFrames, 24)));
    test::WavOptions one;
    one.channels = 1;
    std::vector<int32_t> m = Content(kFrames);
    m.resize(kFrames);
    ASSERT_TRUE(test::WriteWav(mono, one, m));
    ASSERT_TRUE(test::WriteFlac(flac, {}, Content(kFrames)));
    inputs = {wav16, wav24, mono, flac};
    if (test::JmacAvailable()) {
        const fs::path src = dir.file("ape-src.wav");
        ASSERT_TRUE(test::WriteApeSourceWav(src, 44100, 16, 2, test::MakeApeTestSignal(16, 2, kFrames, 9)));
        ASSERT_TRUE(test::EncodeApeWithJmac(src, ape, 2));
        inputs.push_back(ape);
    }
    for (const fs::path& p : inputs) {
        SCOPED_TRACE(p.filename().string());
        Load(p.string());
        const auto first = Working();
        const auto source = test::ReadFileBytes(doc.sourcePath);
        ASSERT_EQ(LoadRecording(doc, nullptr), LoadOutcome::Completed);
        EXPECT_EQ(doc.status, kStatusNotCorrected);
        EXPECT_TRUE(Working() == first);
        EXPECT_TRUE(test::ReadFileBytes(doc.sourcePath) == source);
        doc.DeleteContents();
    }
}

TEST_F(LoadFixture, TinyRecordingsLoadWithoutTrouble)
{
    // Fewer than 1024 frames (one block) are refused at import.
    for (size_t frames : {size_t{1024}, size_t{1025}, size_t{2047}, size_t{2048}, size_t{2049}, size_t{5000},
                          size_t{65536 + 1024}}) {
        SCOPED_TRACE(frames);
        const auto samples = Content(frames);
        const fs::path p = dir.file("tiny.wav");
        ASSERT_TRUE(test::WriteWav(p, {}, samples));
        Load(p.string());
        EXPECT_EQ(Working(), test::ReadFileBytes(p));
        const Reference ref = ReferenceStatistics(samples, doc.dataStart, doc.blockLevel.size());
        EXPECT_EQ(doc.blockLevel, ref.level);
        doc.DeleteContents();
    }
}

struct CountingScanner : ILoadScanner {
    int chunks = 0;
    bool ended = false;
    void ScanChunk(const int16_t*, int32_t, int32_t) override { ++chunks; }
    void EndOfScan() override { ended = true; }
};

constexpr const char* kContinueWithoutScan =
    "Do you want to continue loading the file\nwithout scanning for clicks?\n(This can take a few minutes)";

struct CancelFixture : LoadFixture {
    fs::path path;
    void SetUp() override
    {
        LoadFixture::SetUp();
        path = dir.file("side.wav");
        ASSERT_TRUE(test::WriteWav(path, {}, Content(6 * 65536)));
    }
    void CancelAtChunk(int pump)
    {
        ui.OnCreateProgress([pump](test::RecordingProgress& w, size_t) { w.CancelAtPump(pump); });
    }
};

TEST_F(CancelFixture, CancelDismissedThenScanStoppedKeepsLoading)
{
    CancelFixture::CancelAtChunk(2);
    ui.Expect({kContinueWithoutScan, MbAnswer::Cancel, std::nullopt, MbButtons::YesNoCancel, MbIcon::Question});
    CountingScanner scan;
    ASSERT_TRUE(OpenRecording(doc, path.string()).Ok());
    EXPECT_EQ(LoadRecording(doc, &scan), LoadOutcome::Completed);
    EXPECT_EQ(scan.chunks, 6);
    EXPECT_TRUE(scan.ended);
    ui.ExpectDone();
    doc.DeleteContents();

    // Yes: scanning stops where the user stopped it; the copy goes on.
    test::ScriptedInteraction ui2;
    ui2.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(3); });
    ui2.Expect(kContinueWithoutScan, MbAnswer::Yes);
    CQuillon3Doc d(settings, ui2);
    CountingScanner scan2;
    ASSERT_TRUE(OpenRecording(d, path.string()).Ok());
    EXPECT_EQ(LoadRecording(d, &scan2), LoadOutcome::ScanStopped);
    // Two pumps a chunk (the cancel test, then the position): the third is
    // the second chunk's cancel test.
    EXPECT_EQ(scan2.chunks, 1);
    EXPECT_FALSE(scan2.ended);
    EXPECT_EQ(d.scanCancelledAt, d.dataStart + 4096 + 0x40000);
    EXPECT_EQ(d.status, kStatusScanIncomplete);
    EXPECT_EQ(test::ReadFileBytes(d.workingPath), test::ReadFileBytes(path));
    const auto& log = *ui2.Progresses().at(0);
    EXPECT_EQ(log.captions.back(), "Scan cancelled. Continuing to load file...");
    EXPECT_EQ(log.stageNames.at(0), "Operation Cancelled");
    EXPECT_EQ(log.stages.back(), (std::pair<int, int>{0, 0}));
    EXPECT_FALSE(log.FirstBackwardStep().has_value());
}

TEST_F(CancelFixture, AbandonedLoadEmptiesTheDocument)
{
    CancelAtChunk(2);
    ui.Expect(kContinueWithoutScan, MbAnswer::No);
    CountingScanner scan;
    ASSERT_TRUE(OpenRecording(doc, path.string()).Ok());
    const std::string working = doc.workingPath;
    EXPECT_EQ(LoadRecording(doc, &scan), LoadOutcome::Abandoned);
    EXPECT_EQ(doc.status, kStatusNotLoaded);
    EXPECT_FALSE(fs::exists(working));
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(CancelFixture, WithoutScanningTheQuestionIsAboutTheLoad)
{
    // No, then Yes.
    ui.OnCreateProgress([](test::RecordingProgress& w, size_t) {
        w.CancelAtPump(2);
    });
    ui.Expect({"File load will be aborted.\nReally Cancel?", MbAnswer::No, std::nullopt, MbButtons::YesNo,
               MbIcon::Question});
    ASSERT_TRUE(OpenRecording(doc, path.string()).Ok());
    EXPECT_EQ(LoadRecording(doc, nullptr), LoadOutcome::Completed);
    ui.ExpectDone();
    doc.DeleteContents();

    test::ScriptedInteraction ui2;
    ui2.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(4); });
    ui2.Expect("File load will be aborted.\nReally Cancel?", MbAnswer::Yes);
    CQuillon3Doc d(settings, ui2);
    ASSERT_TRUE(OpenRecording(d, path.string()).Ok());
    EXPECT_EQ(LoadRecording(d, nullptr), LoadOutcome::Abandoned);
    EXPECT_EQ(d.status, kStatusNotLoaded);
}

TEST_F(CancelFixture, ReprocessingALoadedFileAsksAboutTheRescan)
{
    ui.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(2); });
    ui.Expect("Re-Scan will be aborted.\nReally Cancel?", MbAnswer::Yes);
    CountingScanner scan;
    ASSERT_TRUE(OpenRecording(doc, path.string()).Ok());
    doc.loaded = 1;
    EXPECT_EQ(LoadRecording(doc, &scan), LoadOutcome::ScanStopped);
    EXPECT_EQ(scan.chunks, 1);
    EXPECT_NE(doc.scanCancelledAt, 0);
}

}  // namespace
}  // namespace kelvane
