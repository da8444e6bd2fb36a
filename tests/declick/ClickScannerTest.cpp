// The click detector and the load scan: what is kept and how it is sized,
// when candidates merge, how base levels follow the music, and the load scan
// over recordings with planted clicks.

#include "declick/CClickDetector.h"
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
#include <string>
#include <vector>

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using namespace scantest;

constexpr int32_t kDataStart = 44;
constexpr int32_t kChunkAt = kDataStart + 4 * 0x40000;  // a chunk well inside the recording
constexpr int32_t kValues = CClickDetector::kChunkValues;

ScanParams Sensitivity(int32_t s)
{
    ScanParams p;
    p.sensitivity = s;
    return p;
}

// A square wave (+a, +a, -a, -a, ... per channel) over segments [first,
// last]: every deviation in it is exactly a, so a segment's base level is
// fixed by a's bin: 100 -> 123, 150 -> 173, 300 -> 345, 1000 -> 983,
// 4000 -> 3930. At sensitivity 3 the threshold is 3.5 times that.
void Level(std::vector<int32_t>& s, size_t first, size_t last, int32_t a)
{
    for (size_t f = first * 128; f < (last + 1) * 128 && 2 * f + 1 < s.size(); ++f)
        s[2 * f] = s[2 * f + 1] = (f % 4 < 2) ? a : -a;
}

std::vector<int32_t> Quiet()
{
    std::vector<int32_t> s(kValues, 0);
    Level(s, 0, CClickDetector::kSegments, 100);
    return s;
}

// A document without files: only the layout the detector consults.
struct Detector : ::testing::Test {
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    std::vector<int16_t> quiet = std::vector<int16_t>(1024, 100);  // level window RMS 100
    std::vector<int16_t> loud = std::vector<int16_t>(1024, 1000);  // exactly 1000

    void SetUp() override
    {
        doc.dataStart = kDataStart;
        doc.dataEnd = kDataStart + 16 * 0x40000;
        doc.scanFirst = doc.dataStart + kScanMargin;
        doc.scanLast = doc.dataEnd - kScanMargin;
        doc.segmentCorrections.assign(17, 0);
    }

    EventRecord& CommitPending(CClickDetector& d, EventRecord pending, const std::vector<int16_t>& window)
    {
        d.List()[d.List().Size() - 1] = pending;
        return d.Commit(window.data());
    }

    // Scans one chunk at kChunkAt and ends the scan; returns the records.
    std::vector<EventRecord> Scan(int32_t sensitivity, const std::vector<int32_t>& s)
    {
        CClickDetector d(doc, Sensitivity(sensitivity), CClickDetector::Kind::Load);
        d.Begin(1);
        for (int32_t i = 0; i < kValues; ++i) d.Buffer()[i] = static_cast<int16_t>(std::clamp(s[i], -32768, 32767));
        d.ScanBuffer(kChunkAt);
        d.End();
        return RealRecords(d.List());
    }

    int RecordsBetween(int32_t sensitivity, const std::vector<int32_t>& s, int32_t fromFrame, int32_t toFrame)
    {
        const auto rs = Scan(sensitivity, s);
        return static_cast<int>(std::count_if(rs.begin(), rs.end(), [&](const EventRecord& r) {
            return r.pos >= kChunkAt + 4 * fromFrame && r.pos < kChunkAt + 4 * toFrame;
        }));
    }
};

TEST_F(Detector, KeptClickIsCentredSizedCountedAndFollowedByABlank)
{
    struct Case {
        int32_t width, mag;
        bool quietLevel, narrow;
        int32_t wantShift, wantWidth, wantMag;
    };
    const Case cases[] = {
        {0, 5, true, false, 0, 8, 5},  // a lone frame in a quiet passage
        {0, 5, false, false, 0, 0, 5},
        {36, 5, true, false, 16, 44, 5},
        {40, 5, true, false, 20, 40, 5},
        {104, 51, false, false, 52, 300, 51},
        {100, 51, false, false, 48, 292, 51},  // strong but not wide
        {20, 31, false, false, 8, 292, 31},
        {20, 30, false, false, 8, 20, 30},
        {296, 5, false, false, 148, 296, 30},  // wide records are at least magnitude 30
        {104, 51, false, true, 52, 100, 51},   // narrow: a third, frame-aligned
        {20, 31, false, true, 8, 96, 31},
        {36, 5, true, true, 16, 12, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "width " << c.width << " mag " << c.mag << (c.narrow ? " narrow" : ""));
        ScanParams p = Sensitivity(3);
        if (c.narrow) p.corWidth = 1295;
        CClickDetector d(doc, p, CClickDetector::Kind::Load);
        d.Begin(1);
        const int32_t at = kChunkAt + 4000;
        EXPECT_EQ(CommitPending(d, {1, 0, at, c.width, c.mag}, c.quietLevel ? quiet : loud), EventRecord{});
        ASSERT_EQ(d.List().Size(), 3);
        EXPECT_EQ(d.List()[1], (EventRecord{1, 0, at + c.wantShift, c.wantWidth, c.wantMag}));
    }
    // The density table counts the centred position, and a table too short
    // for it is left alone.
    doc.segmentCorrections.assign(4, 0);
    CClickDetector d(doc, Sensitivity(3), CClickDetector::Kind::Load);
    d.Begin(1);
    CommitPending(d, {1, 0, 3 * 0x40000 - 36, 80, 5}, quiet);
    EXPECT_EQ(doc.segmentCorrections, (std::vector<int32_t>{0, 0, 0, 1}));
    CommitPending(d, {1, 0, 5 * 0x40000, 0, 5}, quiet);
    EXPECT_EQ(d.List().Size(), 4);
}

TEST_F(Detector, RejectedRecordStaysPendingUntouched)
{
    struct Case {
        const char* what;
        ScanParams params;
        int32_t pos, mag;
        bool kept;
    };
    ScanParams minMag = Sensitivity(3), agc = Sensitivity(3);
    minMag.minMagnitude = 4;
    agc.agc = 3;  // with RMS 1000: 3.0 must not exceed the magnitude
    const int32_t inside = kChunkAt + 4000, end = kDataStart + 16 * 0x40000;
    const Case cases[] = {
        {"before the lower limit", Sensitivity(3), kDataStart + kScanMargin - 4, 5, false},
        {"at the lower limit", Sensitivity(3), kDataStart + kScanMargin, 5, true},
        {"at the upper limit", Sensitivity(3), end - kScanMargin, 5, true},
        {"beyond the upper limit", Sensitivity(3), end - kScanMargin + 4, 5, false},
        {"sensitivity 2, magnitude 1", Sensitivity(2), inside, 1, false},
        {"sensitivity 2, magnitude 2", Sensitivity(2), inside, 2, true},
        {"sensitivity 1, magnitude 2", Sensitivity(1), inside, 2, false},
        {"sensitivity 1, magnitude 3", Sensitivity(1), inside, 3, true},
        {"sensitivity 5, magnitude 0", Sensitivity(5), inside, 0, true},
        {"below the minimum magnitude", minMag, inside, 3, false},
        {"at the minimum magnitude", minMag, inside, 4, true},
        {"quieter than AGC allows", agc, inside, 2, false},
        {"just loud enough for AGC", agc, inside, 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CClickDetector d(doc, c.params, CClickDetector::Kind::Load);
        d.Begin(1);
        const EventRecord pending{1, 0, c.pos, 12, c.mag};
        EventRecord& next = CommitPending(d, pending, loud);
        EXPECT_EQ(d.List().Size(), c.kept ? 3 : 2);
        if (!c.kept) {
            EXPECT_EQ(next, pending);
        }
    }
    // A block scan keeps only what lies inside its block, and its blank
    // records carry its pass tag.
    CClickDetector d(doc, Sensitivity(3), CClickDetector::Kind::Block);
    const int32_t low = kChunkAt + 400, high = kChunkAt + 8000;
    d.Begin(3, low, high);
    EXPECT_EQ(d.List()[1].pass, 3);
    CommitPending(d, {3, 0, low - 4, 0, 5}, quiet);
    CommitPending(d, {3, 0, high + 4, 0, 5}, quiet);
    EXPECT_EQ(d.List().Size(), 2);
    EXPECT_EQ(CommitPending(d, {3, 0, high, 0, 5}, quiet).pass, 3);
    EXPECT_EQ(d.End(), 1);
    EXPECT_EQ(d.List()[2], (EventRecord{3, 0, 0, 0, 0}));
}

TEST_F(Detector, MergeWindowIsFiveTimesTheMagnitudePlus16BytesAtMost292)
{
    // Single-sample spikes in silence: threshold 21, so a spike of height h
    // gives candidates at its frame (magnitude ~h/21) and either side (~h/42).
    // The first group starts a frame before spike 1; spike 2's first
    // candidate comes `gap` frames after that.
    struct Case {
        int32_t height1, height2, gap;
        bool joins;
    };
    const Case cases[] = {
        {346, 346, 25, false}, {367, 346, 25, true},   // magnitude 16 / 17: windows 96 / 101 bytes
        {346, 346, 24, false}, {346, 346, 23, true},
        {20000, 20000, 72, true}, {20000, 20000, 73, false},  // magnitude ~950: capped at 292 bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "height " << c.height1 << " gap " << 4 * c.gap << " bytes");
        std::vector<int32_t> s(kValues, 0);
        s[2 * 1000] = c.height1;
        s[2 * (1000 + c.gap)] = c.height2;
        const auto records = Scan(3, s);
        ASSERT_EQ(records.size(), 2u);
        const int32_t width = c.joins ? 4 * c.gap : 8;
        EXPECT_EQ(records[0].pos, kChunkAt + 4 * 999 + width / 8 * 4);
        if (c.height1 < 1000) {
            EXPECT_EQ(records[0].mag, c.height1 == 346 ? 16 : 17);
            EXPECT_EQ(records[0].width, width < 40 ? width + 8 : width);
            EXPECT_EQ(records[0].pass, 1);
        } else {
            EXPECT_EQ(records[0].width, c.joins ? 300 : 292);
            EXPECT_EQ(records[0].pass, 0);  // merged at magnitude >= 30
        }
    }
}

TEST_F(Detector, LevelJumpsThatWhatFollowsDoesNotConfirmAreClicks)
{
    // Two loud segments (40, 41: frames 5120..5375), `gap` quiet ones, then
    // loud to the end. The look-ahead covers the 3rd to 6th segment on
    // (sensitivity 3), the 3rd and 4th (4) or the 3rd (5).
    auto stretch = [&](int32_t sensitivity, size_t gap) {
        std::vector<int32_t> s = Quiet();
        Level(s, 40, 41, 1000);
        Level(s, 42 + gap, CClickDetector::kSegments, 1000);
        return RecordsBetween(sensitivity, s, 5150, 5350);
    };
    EXPECT_EQ(stretch(5, 0), 0);  // sustained loudness is music
    EXPECT_GT(stretch(5, 1), 0);
    EXPECT_EQ(stretch(4, 1), 0);
    EXPECT_GT(stretch(4, 2), 0);
    EXPECT_EQ(stretch(3, 3), 0);
    EXPECT_GT(stretch(3, 4), 0);

    // One segment 11 times louder than what follows: above the peak limit of
    // sensitivity 2 (7) and 3 (2), not of 1 (20). Not believed, it takes the
    // lower of the levels before and after it (123, not 345).
    std::vector<int32_t> s = Quiet();
    Level(s, 40, 40, 4000);
    Level(s, 41, CClickDetector::kSegments, 300);
    EXPECT_EQ(RecordsBetween(1, s, 5130, 5240), 0);
    EXPECT_GT(RecordsBetween(2, s, 5130, 5240), 0);
    Level(s, 40, 40, 1000);
    EXPECT_GT(RecordsBetween(3, s, 5130, 5240), 0);

    // A jump within twice what follows (345 before 173) but over twice what
    // went before (123) keeps the level before: a probe of deviation 800 in
    // it is a click (threshold 430, not 1207), unless what follows confirms.
    s = Quiet();
    Level(s, 40, 40, 300);
    Level(s, 41, CClickDetector::kSegments, 150);
    s[2 * 5184] += 500;
    EXPECT_EQ(RecordsBetween(3, s, 5180, 5190), 1);
    Level(s, 41, CClickDetector::kSegments, 300);
    EXPECT_EQ(RecordsBetween(3, s, 5180, 5190), 0);

    // The chunk's first segment takes the level of the second.
    s = Quiet();
    Level(s, 0, 0, 1000);
    EXPECT_GT(RecordsBetween(3, s, 1, 120), 0);
}

TEST_F(Detector, ThresholdAndMagnitudeAreExact)
{
    // A probe on a + frame of the 100 wave has a deviation of exactly
    // 100 + its height; it and its left neighbour rank above the wave, so the
    // segment's 15th-largest deviation, interpolated in its bin, is
    // 125 - (38 * 13) / 255 = 124.
    struct Case {
        int32_t sensitivity, deviation;
        bool found;
        int32_t mag;
    };
    const Case cases[] = {
        {3, 434, false, 0},   // trunc(trunc(124 * 3.5) * 2 * 0.5)
        {3, 435, true, 1},    {3, 4400, true, 10},  // 4400 * 3.5 * (2/7) / 434
        {4, 435, true, 1},    {5, 372, false, 0},   // factor 3.0
        {5, 373, true, 0},    // magnitude 0 is kept at sensitivity 5
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "sensitivity " << c.sensitivity << " deviation " << c.deviation);
        std::vector<int32_t> s = Quiet();
        s[2 * 5184] += c.deviation - 100;
        const auto records = Scan(c.sensitivity, s);
        ASSERT_EQ(records.size(), c.found ? 1u : 0u);
        if (!c.found) continue;
        EXPECT_EQ(records[0].mag, c.mag);
        if (c.deviation < 1000) {
            EXPECT_EQ(records[0], (EventRecord{1, 0, kChunkAt + 4 * 5184, 8, c.mag}));
        }
    }
}

TEST_F(Detector, LevelIsMeasuredOverTheHalfSecondBeforeTheClick)
{
    // The window: 512 frames from 562 frames before the record. At exactly
    // 500 (not below) the click keeps its width; a single silent value in
    // the window would widen it.
    const int32_t click = 5200, groupStart = click - 1;
    for (bool loudBefore : {true, false}) {
        SCOPED_TRACE(loudBefore ? "loud before" : "silent before");
        std::vector<int32_t> s(kValues, 0);
        if (loudBefore)
            for (int32_t f = groupStart - 562; f < groupStart - 50; ++f) s[2 * f] = s[2 * f + 1] = 500;
        s[2 * click] = 400;  // magnitude 19: below the strong-click widths
        s[2 * 9000] = 400;   // commits it; the last one is judged at the buffer's start
        const auto records = Scan(3, s);
        const auto r = std::find_if(records.begin(), records.end(),
                                    [&](const EventRecord& e) { return e.pos == kChunkAt + 4 * click; });
        ASSERT_NE(r, records.end());
        EXPECT_EQ(r->width, loudBefore ? 8 : 16);
    }
}

// ---------------------------------------------------------------------------
// Load scans of recordings with planted clicks.

struct LoadScan : ::testing::Test {
    test::TempDir dir;
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};

    void SetUp() override { settings.Set(settings::TempMode, settings::kTempModeSameFolder); }

    fs::path Write(const std::string& name, const std::vector<int32_t>& s, int bits = 16)
    {
        test::WavOptions opts;
        opts.bits = bits;
        const fs::path p = dir.file(name);
        EXPECT_TRUE(test::WriteWav(p, opts, s));
        return p;
    }

    std::vector<EventRecord> LoadAndScan(const fs::path& p, const ScanParams& params, CQuillon3Doc* into = nullptr,
                                         LoadOutcome want = LoadOutcome::Completed)
    {
        CQuillon3Doc& d = into ? *into : doc;
        d.DeleteContents();
        CClickScanner scanner(d, params);
        EXPECT_TRUE(OpenRecording(d, p.string()).Ok());
        EXPECT_EQ(LoadRecording(d, &scanner), want);
        EXPECT_EQ(scanner.Ended(), want == LoadOutcome::Completed);
        return RealRecords(d.events);
    }

    size_t CountNear(const std::vector<EventRecord>& rs, const Planted& c) const
    {
        return static_cast<size_t>(
            std::count_if(rs.begin(), rs.end(), [&](const EventRecord& r) { return Near(r, doc.dataStart, c); }));
    }
};

TEST_F(LoadScan, FindsThePlantedClicksOnceEachAndNothingElse)
{
    const std::vector<Planted>& clicks = PlantedClicks();
    // Loud ones within 5120 frames of either end are never kept.
    const auto s = WithClicks(WithClicks(QuietMusic(), clicks),
                              {{3000, 4, 9000, test::kBoth}, {kFrames - 4000, 4, 9000, test::kBoth}});
    const auto records = LoadAndScan(Write("side.wav", s), Sensitivity(3));

    for (const Planted& c : clicks) EXPECT_EQ(CountNear(records, c), 1u) << "click at frame " << c.frame;
    for (const EventRecord& r : records) {
        SCOPED_TRACE(testing::Message() << "record at frame " << (r.pos - doc.dataStart) / 4);
        EXPECT_TRUE(std::any_of(clicks.begin(), clicks.end(), [&](const Planted& c) { return Near(r, doc.dataStart, c); }));
        // Never the channel bits: which channels to leave alone is the user's choice.
        EXPECT_TRUE(r.width >= 0 && r.width <= 300);
        EXPECT_TRUE(r.pass == 0 || r.pass == 1);
    }
    // The click across the first chunk border is one record spanning it.
    const auto border = std::find_if(records.begin(), records.end(),
                                     [&](const EventRecord& r) { return Near(r, doc.dataStart, clicks.back()); });
    ASSERT_NE(border, records.end());
    EXPECT_LT(border->pos - border->width / 2, doc.dataStart + 4 * static_cast<int32_t>(kChunkBorderFrame));
    EXPECT_EQ(doc.events[0], EventRecord{});
    EXPECT_EQ(doc.events[doc.events.Size() - 1], EventRecord{});

    int32_t counted = 0;
    for (int32_t n : doc.segmentCorrections) counted += n;
    EXPECT_EQ(counted, static_cast<int32_t>(records.size()));
    const auto& messages = ui.Progresses().at(0)->messages;
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "Clicks Found = " + std::to_string(records.size()));
}

TEST_F(LoadScan, TwentyFourBitSourceIsScannedOnItsUpperSixteenBits)
{
    // The discriminator reads the source itself, so it too must see the
    // upper bits, at the same positions.
    ScanParams p = Sensitivity(3);
    p.discriminator = 3;
    const auto s16 = WithClicks(QuietMusic(), PlantedClicks());
    std::vector<int32_t> s24(s16.size());
    for (size_t i = 0; i < s16.size(); ++i) s24[i] = s16[i] * 256 + static_cast<int32_t>((i * 37) & 0xFF);
    const auto want = LoadAndScan(Write("side16.wav", s16), p);
    EXPECT_EQ(LoadAndScan(Write("side24.wav", s24, 24), p), want);
    EXPECT_EQ(doc.bitsPerSample, 24);
    // The discriminator did judge: some clicks in the music were dismissed.
    EXPECT_GT(want.size(), 0u);
    EXPECT_LT(want.size(), PlantedClicks().size());
}

// Adds the same click to both channels, sample for sample.
void AddCommonClick(std::vector<int32_t>& s, size_t frame, int32_t amplitude, uint64_t seed)
{
    std::vector<int32_t> delta(s.size(), 0);
    test::AddClick(delta, 2, frame, 6, amplitude, test::kLeft, seed);
    for (size_t i = 0; i < s.size(); ++i) s[i] = std::clamp(s[i] + delta[i & ~size_t{1}], -32768, 32767);
}

TEST_F(LoadScan, DifferentialModeSeesWhatDiffersAndFallsBackOnceWithoutIt)
{
    ScanParams differential = Sensitivity(3);
    differential.mode = 1004;
    const Planted common{100000, 6, 0, 0}, oneWall{200000, 6, 0, 0};
    auto s = QuietMusic();
    AddCommonClick(s, common.frame, 8000, 1);
    test::AddClick(s, 2, oneWall.frame, 6, 8000, test::kLeft, 2);
    // Only the first chunk with sound at its frame 1023 decides.
    s[2 * (kChunkBorderFrame + 1023)] = s[2 * (kChunkBorderFrame + 1023) + 1] = 777;
    const fs::path stereo = Write("side.wav", s);

    const auto perChannel = LoadAndScan(stereo, Sensitivity(3));
    EXPECT_EQ(CountNear(perChannel, common), 1u);
    EXPECT_EQ(CountNear(perChannel, oneWall), 1u);
    {
        CClickScanner scanner(doc, differential);
        ASSERT_TRUE(OpenRecording(doc, stereo.string()).Ok());
        ASSERT_EQ(LoadRecording(doc, &scanner), LoadOutcome::Completed);
        EXPECT_EQ(scanner.Detector().Factor(), 4.5f);
    }
    EXPECT_EQ(CountNear(RealRecords(doc.events), common), 0u);
    EXPECT_EQ(CountNear(RealRecords(doc.events), oneWall), 1u);
    EXPECT_EQ(doc.noDifferenceData, 0);
    EXPECT_TRUE(ui.Messages().empty());

    // Identical channels: the message once, then per channel all the way.
    for (size_t f = 0; f < s.size() / 2; ++f) s[2 * f + 1] = s[2 * f];
    doc.DeleteContents();
    doc.mode = 1004;
    ui.Expect({"No Difference Channel data exists for this file\nThe file will be processed in 'Per Channel' Detection Mode.",
               MbAnswer::Ok, std::string(kAppCaption), MbButtons::Ok, MbIcon::Information});
    CClickScanner scanner(doc, differential);
    ASSERT_TRUE(OpenRecording(doc, Write("mono.wav", s).string()).Ok());
    ASSERT_EQ(LoadRecording(doc, &scanner), LoadOutcome::Completed);
    ui.ExpectDone();
    EXPECT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(doc.noDifferenceData, 1);
    EXPECT_EQ(doc.mode, 1005);
    EXPECT_EQ(scanner.Detector().Factor(), 3.5f);
    EXPECT_EQ(CountNear(RealRecords(doc.events), common), 1u);
}

TEST_F(LoadScan, UserStoppingTheScanIsObeyedEachWay)
{
    const fs::path p = Write("side.wav", WithClicks(QuietMusic(), PlantedClicks()));
    const auto all = LoadAndScan(p, Sensitivity(3));
    ASSERT_GE(all.size(), 8u);
    doc.DeleteContents();
    const int32_t stopAround = kDataStart + 4 * 300000;

    for (MbAnswer answer : {MbAnswer::Yes, MbAnswer::Cancel, MbAnswer::No}) {
        SCOPED_TRACE(test::ScriptedInteraction::Name(answer));
        test::ScriptedInteraction askUi;
        askUi.OnCreateProgress([&](test::RecordingProgress& progress, size_t) { progress.CancelAtPos(stopAround); });
        askUi.Expect("Do you want to continue loading the file\nwithout scanning for clicks?\n(This can take a few minutes)",
                     answer);
        CQuillon3Doc askDoc{settings, askUi};
        const LoadOutcome want = answer == MbAnswer::Yes      ? LoadOutcome::ScanStopped
                                 : answer == MbAnswer::Cancel ? LoadOutcome::Completed
                                                              : LoadOutcome::Abandoned;
        const auto kept = LoadAndScan(p, Sensitivity(3), &askDoc, want);
        if (answer == MbAnswer::Cancel) {
            EXPECT_EQ(kept, all);
        } else if (answer == MbAnswer::No) {
            EXPECT_EQ(askDoc.status, kStatusNotLoaded);
            EXPECT_TRUE(kept.empty());
        } else {
            // The records committed before the stop, and a blank last record.
            EXPECT_GE(askDoc.scanCancelledAt, stopAround);
            ASSERT_LT(kept.size(), all.size());
            EXPECT_FALSE(kept.empty());
            EXPECT_TRUE(std::equal(kept.begin(), kept.end(), all.begin()));
            EXPECT_EQ(askDoc.events[askDoc.events.Size() - 1], EventRecord{});
            EXPECT_EQ(askDoc.status, kStatusScanIncomplete);
        }
    }
}

}  // namespace
}  // namespace kelvane
