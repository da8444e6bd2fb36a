// The wave file's 24-bit position mapping, and the chunked pass over a block
// or the whole recording with its cancel test.

#include "document/CChunkedPass.h"
#include "document/CQuillon3Doc.h"
#include "document/CWaveFile.h"
#include "document/DocumentOpen.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

struct WaveFileFixture : ::testing::Test {
    test::TempDir dir;
    CWaveFile file;
    static constexpr int32_t kBase = 46;  // an odd header length: frames off the 4-byte grid

    void SetUp() override
    {
        // 24-bit samples: sample k = 0x123400 + k with low byte k & 0xFF.
        std::vector<uint8_t> bytes(kBase, 0xEE);
        for (int k = 0; k < 64; ++k) {
            const int32_t v = (k % 2 ? -1 : 1) * (0x123400 + k);
            bytes.push_back(static_cast<uint8_t>(v));
            bytes.push_back(static_cast<uint8_t>(v >> 8));
            bytes.push_back(static_cast<uint8_t>(v >> 16));
        }
        ASSERT_TRUE(test::WriteFileBytes(dir.file("w.wav"), bytes));
        ASSERT_TRUE(file.Open(dir.file("w.wav").string(), CWaveFile::Mode::ReadWrite));
        file.SetBitsPerSample(24);
        file.SetDataBase(kBase);
    }
};

TEST_F(WaveFileFixture, PositionsMapToSixBytesPerFrame)
{
    EXPECT_EQ(file.MapPosition(kBase), kBase);
    EXPECT_EQ(file.MapPosition(kBase + 4 * 5), kBase + 6 * 5);
    ASSERT_EQ(file.Seek(kBase + 4 * 3), kBase + 18);
    int16_t v[4];
    // 8 units = 4 samples = 12 bytes; the upper two bytes of each sample.
    ASSERT_EQ(file.Read(v, 8), 8);
    for (int i = 0; i < 4; ++i) {
        const int k = 6 + i;
        const int32_t full = (k % 2 ? -1 : 1) * (0x123400 + k);
        EXPECT_EQ(v[i], static_cast<int16_t>(full >> 8)) << i;
    }
    file.Seek(kBase + 4);
    int32_t full[3];
    ASSERT_EQ(file.Read24(full, 3), 3);
    EXPECT_EQ(full[0], 0x123402);
    EXPECT_EQ(full[1], -(0x123403));
    EXPECT_EQ(full[2], 0x123404);
}

TEST_F(WaveFileFixture, WriteAs24ClearsTheLowByteAndWrite24KeepsIt)
{
    const int16_t v[2] = {0x1234, -2};
    file.Seek(kBase);
    ASSERT_TRUE(file.WriteAs24(v, 4));
    file.Seek(kBase);
    int32_t full[3];
    ASSERT_EQ(file.Read24(full, 3), 3);
    EXPECT_EQ(full[0], 0x1234 * 256);
    EXPECT_EQ(full[1], -2 * 256);
    EXPECT_EQ(full[2], 0x123402);  // untouched
    const int32_t back[2] = {-8388608, 8388607};
    file.Seek(kBase);
    ASSERT_TRUE(file.Write24(back, 2));
    file.Seek(kBase);
    ASSERT_EQ(file.Read24(full, 2), 2);
    EXPECT_EQ(full[0], -8388608);
    EXPECT_EQ(full[1], 8388607);
    // The header is never touched by the mapped operations.
    std::vector<uint8_t> bytes = test::ReadFileBytes(dir.file("w.wav"));
    for (int i = 0; i < kBase; ++i) ASSERT_EQ(bytes[i], 0xEE);
}

TEST_F(WaveFileFixture, Write24ToA16BitFileWritesEachValuesLowTwoBytes)
{
    file.SetBitsPerSample(16);
    // Seven values: the packed loop's groups of four and a tail of three.
    const int32_t values[7] = {0x12345, -70000, 32767, -32768, -1, 0, 258};
    file.Seek(kBase);
    ASSERT_TRUE(file.Write24(values, 7));
    const std::vector<uint8_t> bytes = test::ReadFileBytes(dir.file("w.wav"));
    for (int i = 0; i < 7; ++i) {
        const auto v = static_cast<uint32_t>(values[i]);
        EXPECT_EQ(bytes[kBase + 2 * i], v & 0xFF) << i;
        EXPECT_EQ(bytes[kBase + 2 * i + 1], (v >> 8) & 0xFF) << i;
    }
    EXPECT_EQ(bytes[kBase + 14], 0x12);  // untouched: the top byte of the fixture's fifth sample
    file.Seek(kBase);
    int32_t back[7];
    ASSERT_EQ(file.Read24(back, 7), 7);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(back[i], static_cast<int16_t>(values[i])) << i;
    // Read back from one frame on: the packed loop meets the values at
    // another alignment.
    file.Seek(kBase + 2);
    ASSERT_EQ(file.Read24(back, 6), 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(back[i], static_cast<int16_t>(values[i + 1])) << i;
}

TEST_F(WaveFileFixture, ShortReadsAndMissingFiles)
{
    file.Seek(kBase + 4 * 30);
    int16_t v[16];
    // Frame 30 is samples 60..61; four samples (12 bytes) remain: 8 units.
    EXPECT_EQ(file.Read(v, 32), 8);
    CWaveFile missing;
    EXPECT_FALSE(missing.Open(dir.file("nope.wav").string(), CWaveFile::Mode::Read));
    EXPECT_FALSE(missing.LastError().empty());
    EXPECT_FALSE(missing.Open(dir.path().string(), CWaveFile::Mode::Read));
}

TEST_F(WaveFileFixture, ReadAtLeavesThePassOffsetWhereItWas)
{
    auto expected = [](int k) { return (k % 2 ? -1 : 1) * (0x123400 + k); };
    // A pass has read frame 2 and stands before frame 3.
    file.Seek(kBase + 4 * 2);
    int16_t v[4];
    ASSERT_EQ(file.Read(v, 4), 4);
    const int64_t passAt = file.Tell();

    // A view reads elsewhere meanwhile, in both precisions and past the end.
    int16_t seen[4];
    ASSERT_EQ(file.ReadAt(kBase + 4 * 10, seen, 8), 8);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(seen[i], static_cast<int16_t>(expected(20 + i) >> 8)) << i;
    int32_t full[3];
    ASSERT_EQ(file.Read24At(kBase + 4 * 5, full, 3), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(full[i], expected(10 + i)) << i;
    int16_t tail[16];
    EXPECT_EQ(file.ReadAt(kBase + 4 * 30, tail, 32), 8);
    EXPECT_EQ(file.ReadAt(-4, tail, 4), -1);
    EXPECT_EQ(file.Tell(), passAt);

    // The pass goes on from frame 3 as if nothing had happened.
    ASSERT_EQ(file.Read24(full, 2), 2);
    EXPECT_EQ(full[0], expected(6));
    EXPECT_EQ(full[1], expected(7));

    // The same for a 16-bit file, whose positions are its bytes.
    file.SetBitsPerSample(16);
    file.Seek(kBase);
    uint8_t bytes[4];
    ASSERT_EQ(file.ReadAt(kBase + 3, bytes, 4), 4);
    EXPECT_EQ(bytes[0], static_cast<uint8_t>(expected(1)));
    EXPECT_EQ(file.Tell(), kBase);
}

struct PassFixture : ::testing::Test {
    test::TempDir dir;
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    static constexpr size_t kFrames = 3 * 65536 + 777;

    void SetUp() override
    {
        settings.Set(settings::TempMode, settings::kTempModeSameFolder);
        std::vector<int32_t> s(2 * kFrames);
        for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int32_t>(i % 1000);
        ASSERT_TRUE(test::WriteWav(dir.file("p.wav"), {}, s));
        ASSERT_TRUE(OpenRecording(doc, dir.file("p.wav").string()).Ok());
        ASSERT_EQ(LoadRecording(doc, nullptr), LoadOutcome::Completed);
    }
    struct Call {
        int32_t pos, frames;
    };
    // The frame of a filter: the block or the whole file, changed in place.
    PassPlan Filter(std::string caption = {}) const
    {
        PassPlan plan;
        plan.range = PassRange::BlockOrWhole(doc);
        plan.writes = PassWrites::InPlace;
        plan.caption = std::move(caption);
        return plan;
    }
};

TEST_F(PassFixture, WholeFileInSegmentsWithAShortLastChunk)
{
    std::vector<Call> calls;
    CChunkedPass pass(doc);
    const auto outcome = pass.Run(Filter("Applying Filters"), [&](PassChunk& c) {
        calls.push_back({c.pos, c.Frames()});
        for (int32_t i = 0; i < 2 * c.Frames(); ++i) c.view[i] = static_cast<int16_t>(-c.view[i]);
        return true;
    });
    EXPECT_EQ(outcome, PassOutcome::Completed);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].pos, doc.dataStart);
    EXPECT_EQ(calls[3].pos, doc.dataStart + 3 * 0x40000);
    EXPECT_EQ(calls[3].frames, 777);
    EXPECT_EQ(calls[3].pos + 4 * calls[3].frames, doc.dataEnd);
    const auto work = test::ReadWavSamples(doc.workingPath);
    ASSERT_TRUE(work.ok());
    for (size_t i = 0; i < work.samples.size(); i += 9973) EXPECT_EQ(work.samples[i], -static_cast<int32_t>(i % 1000));
    // The source is never written.
    const auto src = test::ReadWavSamples(dir.file("p.wav"));
    EXPECT_EQ(src.samples[1], 1);
    ASSERT_EQ(ui.Progresses().size(), 2u);  // the load's, then the pass's own
    EXPECT_EQ(ui.Progresses()[1]->ranges.back(), (std::pair<int32_t, int32_t>{0, doc.dataEnd}));
}

TEST_F(PassFixture, BlockInsideOneChunkIsOneReadAndOneWrite)
{
    doc.blockStart = doc.dataStart + 4 * 100;
    doc.blockEnd = doc.dataStart + 4 * 300;
    std::vector<Call> calls;
    CChunkedPass pass(doc);
    pass.Run(Filter(), [&](PassChunk& c) {
        calls.push_back({c.pos, c.Frames()});
        return true;
    });
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].pos, doc.blockStart);
    EXPECT_EQ(calls[0].frames, 200);
}

TEST_F(PassFixture, CancelAnsweredNoThenYes)
{
    doc.loaded = 1;
    ui.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(1); });
    ui.Expect({"Really Cancel?", MbAnswer::No, std::nullopt, MbButtons::YesNo, MbIcon::Question});
    int chunks = 0;
    CChunkedPass pass(doc);
    EXPECT_EQ(pass.Run(Filter(), [&](PassChunk&) { return ++chunks > 0; }), PassOutcome::Completed);
    EXPECT_EQ(chunks, 4);
    ui.ExpectDone();

    ui.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(3); });
    ui.Expect("Really Cancel?", MbAnswer::Yes);
    chunks = 0;
    PassPlan plan = Filter();
    plan.recordStop = true;
    EXPECT_EQ(pass.Run(plan, [&](PassChunk&) { return ++chunks > 0; }), PassOutcome::Cancelled);
    EXPECT_EQ(chunks, 1);
    EXPECT_EQ(doc.scanCancelledAt, doc.dataStart + 0x40000);
    EXPECT_EQ(pass.StoppedAt(), doc.dataStart + 0x40000);
}

TEST_F(PassFixture, AWorkingFileThatCannotBeReadFailsThePassAndSaysWhy)
{
    doc.workingFile.Close();
    ui.AllowOkBoxes(true);
    int chunks = 0;
    CChunkedPass pass(doc);
    EXPECT_EQ(pass.Run(Filter(), [&](PassChunk&) { return ++chunks > 0; }), PassOutcome::Failed);
    EXPECT_EQ(chunks, 0);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].icon, MbIcon::Error);
    EXPECT_FALSE(ui.Messages()[0].text.empty());
}

TEST_F(PassFixture, CancelBeforeTheFirstFullLoadHasNoEffect)
{
    doc.loaded = 0;
    ui.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(1); });
    int chunks = 0;
    CChunkedPass pass(doc);
    EXPECT_EQ(pass.Run(Filter(), [&](PassChunk&) { return ++chunks > 0; }), PassOutcome::Completed);
    EXPECT_EQ(chunks, 4);
}

}  // namespace
}  // namespace kelvane
