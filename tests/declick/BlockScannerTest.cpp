// The block scan: it reads the working file (restoring it from the source
// first when asked), keeps only records inside the block, tags them with the
// right pass, and stops on the user's word or a file error with a complete
// list.

#include "declick/CBlockScanner.h"
#include "declick/CClickScanner.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "settings/SettingsStore.h"
#include "tests/declick/ScannerTestRecording.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace kelvane {
namespace {

using namespace scantest;

ScanParams Rescan()
{
    ScanParams p;
    p.sensitivity = 3;
    return p;
}

struct BlockScan : ::testing::Test {
    test::TempDir dir;
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    std::filesystem::path path;

    void SetUp() override { settings.Set(settings::TempMode, settings::kTempModeSameFolder); }

    // Loads the planted side; with a load scan the correction list holds
    // its records.
    void Load(bool scan, int bits = 16)
    {
        std::vector<int32_t> s = WithClicks(QuietMusic(), PlantedClicks());
        if (bits == 24)
            for (size_t i = 0; i < s.size(); ++i) s[i] = s[i] * 256 + static_cast<int32_t>((i * 37) & 0xFF);
        test::WavOptions opts;
        opts.bits = bits;
        path = dir.file("side.wav");
        ASSERT_TRUE(test::WriteWav(path, opts, s));
        ASSERT_TRUE(OpenRecording(doc, path.string()).Ok());
        CClickScanner scanner(doc, Rescan());
        ASSERT_EQ(LoadRecording(doc, scan ? &scanner : nullptr), LoadOutcome::Completed);
    }

    int32_t Frame(size_t f) const { return doc.dataStart + 4 * static_cast<int32_t>(f); }

    bool Found(const Planted& c) const
    {
        const auto rs = RealRecords(doc.staging);
        return std::any_of(rs.begin(), rs.end(), [&](const EventRecord& r) { return Near(r, doc.dataStart, c); });
    }

    // Head sentinel, the records, a blank tail at position 0.
    void ExpectCompleteList(int32_t found)
    {
        ASSERT_GE(doc.staging.Size(), 2);
        EXPECT_EQ(found, doc.staging.Size() - 2);
        EXPECT_EQ(doc.staging[0], EventRecord{});
        const EventRecord& tail = doc.staging[doc.staging.Size() - 1];
        EXPECT_EQ(tail, (EventRecord{tail.pass, 0, 0, 0, 0}));
    }
};

TEST_F(BlockScan, KeepsOnlyRecordsInsideTheBlockScanningWholeChunks)
{
    Load(false);
    doc.blockStart = Frame(150000);
    doc.blockEnd = Frame(330000);
    auto progress = ui.CreateProgress(false);
    doc.progress = progress.get();
    bool cancelled = true;
    const int32_t found = kelvane::BlockScan(doc, Rescan(), false, false, &cancelled);
    doc.progress = nullptr;
    EXPECT_FALSE(cancelled);
    ExpectCompleteList(found);
    EXPECT_EQ(doc.events.Size(), 2);  // the correction list is not touched

    for (const Planted& c : PlantedClicks()) {
        const bool inside = Frame(c.frame) >= doc.blockStart && Frame(c.frame) + 4 * c.width <= doc.blockEnd;
        EXPECT_EQ(Found(c), inside) << "click at frame " << c.frame;
    }
    for (const EventRecord& r : RealRecords(doc.staging)) {
        EXPECT_GE(r.pos, doc.blockStart);
        EXPECT_LE(r.pos, doc.blockEnd + 4 * 40);  // centred on its span at most
        EXPECT_TRUE(r.pass == 1 || r.pass == 0);  // 0: merged up to magnitude 30
    }
    // Whole chunks on the frame grid, from the one holding the block's start
    // to the one holding its end, each announced by its offset.
    const ChunkSpan span = CBlockScanner::ScanRange(doc);
    EXPECT_EQ(span.first, doc.dataAlign + doc.blockStart / 0x40000 * 0x40000);
    EXPECT_EQ(span.end, doc.dataAlign + (doc.blockEnd / 0x40000 + 1) * 0x40000);
    std::vector<int32_t> offsets;
    for (int32_t p = span.first; p < span.end; p += 0x40000) offsets.push_back(p);
    EXPECT_EQ(ui.Progresses().back()->positions, offsets);

    // Without a block: the whole recording, within the analysis limits.
    doc.blockStart = doc.blockEnd = 0;
    EXPECT_EQ(CBlockScanner::ScanRange(doc).first, doc.scanFirst);
    EXPECT_EQ(CBlockScanner::ScanRange(doc).end, doc.scanLast);
    kelvane::BlockScan(doc, Rescan(), false, false, nullptr);
    for (const Planted& c : PlantedClicks()) EXPECT_TRUE(Found(c)) << "click at frame " << c.frame;
}

// The block scan's chunks start on the grid dataAlign + k * 0x40000. A
// click whose first frame is a chunk's first frame, or one frame before or
// after it, is found once, where it is.
TEST_F(BlockScan, ClicksOnAChunkEdgeAndOneFrameEitherSideAreFoundOnce)
{
    Load(false);
    const int32_t dataStart = doc.dataStart;
    const auto edgeFrame = [&](int k) {
        return static_cast<size_t>((int64_t{doc.dataAlign} + int64_t{k} * 0x40000 - dataStart) / 4);
    };
    std::vector<Planted> clicks;
    int k = 2;
    for (const int d : {-1, 0, 1}) {
        clicks.push_back({edgeFrame(k) + d, 1 + (k % 3), 7000, test::kBoth});
        k += 2;
    }
    std::vector<int32_t> s = WithClicks(QuietMusic(), clicks);
    ASSERT_TRUE(test::WriteWav(path, {}, s));
    ASSERT_TRUE(OpenRecording(doc, path.string()).Ok());
    ASSERT_EQ(LoadRecording(doc, nullptr), LoadOutcome::Completed);
    ASSERT_EQ(doc.dataStart, dataStart);

    kelvane::BlockScan(doc, Rescan(), false, false, nullptr);
    const auto records = RealRecords(doc.staging);
    for (const Planted& c : clicks) {
        const auto near = std::count_if(records.begin(), records.end(),
                                        [&](const EventRecord& r) { return Near(r, doc.dataStart, c); });
        EXPECT_EQ(near, 1) << "click at frame " << c.frame;
    }
}

TEST_F(BlockScan, SuperScanTagsOneAboveTheBlocksHighestPass)
{
    Load(true);
    doc.blockStart = Frame(150000);
    doc.blockEnd = Frame(330000);
    int inBlock = 0;
    for (int32_t i = 1; i < doc.events.Size() - 1; ++i) {
        EventRecord& e = doc.events[i];
        const bool inside = e.pos >= doc.blockStart && e.pos <= doc.blockEnd;
        e.pass = inside ? 1 + (inBlock++ % 2) : 7;  // passes 1 and 2 inside; outside does not count
    }
    ASSERT_GE(inBlock, 2);

    CBlockScanner super(doc, Rescan(), true, false);
    const int32_t found = super.Run();
    EXPECT_EQ(super.PassTag(), 3);
    EXPECT_EQ(doc.maxPass, 3);
    ExpectCompleteList(found);
    const auto records = RealRecords(doc.staging);
    for (const EventRecord& r : records) EXPECT_TRUE(r.pass == 3 || r.pass == 0);
    EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const EventRecord& r) { return r.pass == 3; }));
    EXPECT_EQ(doc.staging[doc.staging.Size() - 1].pass, 3);

    // A block without records counts as pass 1; a plain re-scan is pass 1.
    doc.blockStart = Frame(7000);
    doc.blockEnd = Frame(9000);
    CBlockScanner empty(doc, Rescan(), true, false);
    empty.Run();
    EXPECT_EQ(empty.PassTag(), 2);
    EXPECT_EQ(doc.maxPass, 3);
    CBlockScanner plain(doc, Rescan(), false, false);
    plain.Run();
    EXPECT_EQ(plain.PassTag(), 1);
}

TEST_F(BlockScan, RestoreOriginalPutsTheSourceBackAtFullPrecisionBeforeScanning)
{
    Load(false, 24);
    const std::vector<uint8_t> source = test::ReadFileBytes(path);
    // A click only in the working copy, written as 16-bit values (so the
    // low bytes of its 40 frames become zero).
    const size_t at = 250000;
    std::vector<int16_t> frames(2 * 40, 0);
    doc.workingFile.Seek(Frame(at));
    ASSERT_EQ(doc.workingFile.Read(frames.data(), 4 * 40), 4 * 40);
    frames[40] = 30000;
    frames[41] = -30000;
    doc.workingFile.Seek(Frame(at));
    ASSERT_TRUE(doc.workingFile.WriteAs24(frames.data(), 4 * 40));
    const Planted extra{at + 20, 1, 0, 0};

    kelvane::BlockScan(doc, Rescan(), false, false, nullptr);
    EXPECT_TRUE(Found(extra));
    kelvane::BlockScan(doc, Rescan(), false, true, nullptr);
    EXPECT_FALSE(Found(extra));
    for (const Planted& c : PlantedClicks()) EXPECT_TRUE(Found(c)) << "click at frame " << c.frame;
    EXPECT_EQ(test::ReadFileBytes(doc.workingPath), source);
    EXPECT_EQ(test::ReadFileBytes(path), source);  // the user's recording is only read
}

TEST_F(BlockScan, UserStoppingKeepsTheRecordsFoundSoFar)
{
    Load(false);
    kelvane::BlockScan(doc, Rescan(), false, false, nullptr);
    const auto all = RealRecords(doc.staging);
    ASSERT_GE(all.size(), 8u);
    for (MbAnswer answer : {MbAnswer::Yes, MbAnswer::No}) {
        SCOPED_TRACE(test::ScriptedInteraction::Name(answer));
        auto progress = ui.CreateProgress(false);
        // Two pumps per chunk (the cancel poll, then the position): the
        // fifth is the third chunk's poll.
        static_cast<test::RecordingProgress*>(progress.get())->CancelAtPump(5);
        doc.progress = progress.get();
        ui.Expect({"Really Cancel?", answer, std::string(kAppCaption), MbButtons::YesNo, MbIcon::Question});
        bool cancelled = answer == MbAnswer::No;
        const int32_t found = kelvane::BlockScan(doc, Rescan(), false, false, &cancelled);
        doc.progress = nullptr;
        ui.ExpectDone();
        ExpectCompleteList(found);
        const auto kept = RealRecords(doc.staging);
        EXPECT_EQ(cancelled, answer == MbAnswer::Yes);
        if (answer == MbAnswer::No) {
            EXPECT_EQ(kept, all);
            continue;
        }
        ASSERT_LT(kept.size(), all.size());
        EXPECT_FALSE(kept.empty());
        EXPECT_TRUE(std::equal(kept.begin(), kept.end(), all.begin()));
        for (const EventRecord& r : kept) EXPECT_LT(r.pos, CBlockScanner::ScanRange(doc).first + 2 * 0x40000 + 0x1000);
    }
}

TEST_F(BlockScan, DifferentialWithoutDifferenceSignalFallsBackWithAMessage)
{
    Load(false);
    doc.noDifferenceData = 1;
    doc.mode = 1004;
    doc.sensitivity = 3;
    ScanParams p = Rescan();
    p.mode = kUseLoadSetting;  // the load scan's: Differential
    p.sensitivity = kUseLoadSetting;
    ui.Expect({"No Difference Channel data exists for this file\nThe file will be processed in 'Per Channel' Detection Mode.",
               MbAnswer::Ok, std::string(kAppCaption), MbButtons::Ok, MbIcon::Information});
    CBlockScanner scanner(doc, p, false, false);
    scanner.Run();
    ui.ExpectDone();
    EXPECT_EQ(scanner.Params().mode, 1005);
    EXPECT_EQ(scanner.Params().sensitivity, 3);
    EXPECT_EQ(doc.mode, 1004);  // only this re-scan changed its mode
    const auto got = RealRecords(doc.staging);
    kelvane::BlockScan(doc, Rescan(), false, false, nullptr);
    EXPECT_EQ(got, RealRecords(doc.staging));
}

TEST_F(BlockScan, UnreadableWorkingFileIsReportedAndTheListStaysComplete)
{
    Load(false);
    doc.workingFile.Close();
    ui.Expect({"The wave file cannot be read.", MbAnswer::Ok, std::string(kAppCaption), MbButtons::Ok, MbIcon::Error});
    bool cancelled = false;
    const int32_t found = kelvane::BlockScan(doc, Rescan(), false, false, &cancelled);
    ui.ExpectDone();
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(found, 0);
    ExpectCompleteList(found);
}

}  // namespace
}  // namespace kelvane
