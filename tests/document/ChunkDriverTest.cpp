// The chunk driver: what a pass does to the recording does not depend on how
// it is cut into chunks, the look-ahead past the audio is silence (never the
// bytes behind it), a pass leaves every frame outside its range alone, a
// restore puts the source back at full precision up to exactly its end, and
// a disabled Cancel button is never asked about. The progress window is
// there for every pass, also when the front end offers none.

#include "declick/CCorrector.h"
#include "document/CChunkedPass.h"
#include "document/CProgressScope.h"
#include "document/CQuillon3Doc.h"
#include "document/CancelQuestions.h"
#include "document/DocumentOpen.h"
#include "document/RestoreOriginal.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kelvane {
namespace {

constexpr int32_t kChunkFrames = kSegmentBytes / 4;
constexpr size_t kFrames = 3 * kChunkFrames + 501;

// Every sample distinct enough that a frame taken from the wrong place
// shows; in 24 bits the low byte varies too.
int32_t SampleAt(size_t i, int bits)
{
    const int32_t v = static_cast<int32_t>((i * 7919) % 40001) - 20000;
    return bits == 24 ? v * 256 + static_cast<int32_t>((i * 37) & 0xFF) : v;
}

struct Driver : ::testing::TestWithParam<int> {
    test::TempDir dir;
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    std::vector<int32_t> source;

    int Bits() const { return GetParam(); }

    void SetUp() override
    {
        settings.Set(settings::TempMode, settings::kTempModeSameFolder);
        source.resize(2 * kFrames);
        for (size_t i = 0; i < source.size(); ++i) source[i] = SampleAt(i, Bits());
        test::WavOptions opts;
        opts.bits = Bits();
        // Loud bytes behind the audio: a pass that reads past its end would
        // take them for samples.
        opts.chunksAfterData = {{"LIST", std::string(400, '\x7F')}};
        ASSERT_TRUE(test::WriteWav(dir.file("side.wav"), opts, source));
        ASSERT_TRUE(OpenRecording(doc, dir.file("side.wav").string()).Ok());
        ASSERT_EQ(LoadRecording(doc, nullptr), LoadOutcome::Completed);
    }

    int32_t Frame(int64_t f) const { return static_cast<int32_t>(doc.dataStart + 4 * f); }

    std::vector<int32_t> Working() const
    {
        const test::WavContents w = test::ReadWavSamples(doc.workingPath);
        EXPECT_TRUE(w.ok()) << w.error;
        return w.samples;
    }

    // Every sample of the working file set to value, at full precision.
    void Overwrite(int32_t value)
    {
        PassPlan plan;
        plan.range = PassRange::Whole(doc);
        plan.precision = PassPrecision::Full;
        plan.writes = PassWrites::InPlace;
        const auto fill = [&](PassChunk& c) {
            std::fill(c.full, c.full + c.units / 2, value);
            return true;
        };
        ASSERT_EQ(CChunkedPass(doc).Run(plan, fill), PassOutcome::Completed);
    }
};

// Each frame becomes the mean of itself and the next frame, which lies in
// the look-ahead at every chunk's end: the result must not show where the
// chunks were cut, and the frame after the last is silence.
TEST_P(Driver, ChunkSizesGiveTheSameResultAndTheLookAheadEndsInSilence)
{
    const bool full = Bits() == 24;
    std::vector<int32_t> expected(source.size());
    for (size_t i = 0; i < source.size(); ++i) {
        const int32_t next = i + 2 < source.size() ? source[i + 2] : 0;
        expected[i] = (source[i] + next) / 2;
    }
    const std::vector<uint8_t> sourceBytes = test::ReadFileBytes(dir.file("side.wav"));

    for (const int32_t chunkFrames : {kChunkFrames, 1024, 1000, 7, 1}) {
        SCOPED_TRACE(chunkFrames);
        ASSERT_TRUE(RestoreOriginal(doc));
        ASSERT_EQ(test::ReadFileBytes(doc.workingPath), sourceBytes);
        PassPlan plan;
        plan.range = PassRange::Whole(doc);
        plan.chunkUnits = 4 * chunkFrames;
        plan.lookAhead = 4;
        plan.precision = full ? PassPrecision::Full : PassPrecision::View16;
        plan.writes = PassWrites::InPlace;
        int32_t chunks = 0;
        const PassOutcome outcome = CChunkedPass(doc).Run(plan, [&](PassChunk& c) {
            ++chunks;
            EXPECT_EQ(c.values, 2 * chunkFrames + 2);
            for (int32_t i = 0; i < c.units / 2; ++i) {
                if (full)
                    c.full[i] = (c.full[i] + c.full[i + 2]) / 2;
                else
                    c.view[i] = static_cast<int16_t>((c.view[i] + c.view[i + 2]) / 2);
            }
            return true;
        });
        ASSERT_EQ(outcome, PassOutcome::Completed);
        EXPECT_EQ(chunks, static_cast<int32_t>((kFrames + chunkFrames - 1) / chunkFrames));
        EXPECT_EQ(Working(), expected);
        // Header and trailer are the source's still.
        const std::vector<uint8_t> work = test::ReadFileBytes(doc.workingPath);
        ASSERT_EQ(work.size(), sourceBytes.size());
        EXPECT_TRUE(std::equal(work.begin(), work.begin() + doc.dataStart, sourceBytes.begin()));
        EXPECT_TRUE(std::equal(work.end() - 408, work.end(), sourceBytes.end() - 408));
    }
}

// A block whose ends lie on a chunk edge of the whole file and one frame to
// either side: the frames just outside it keep their values.
TEST_P(Driver, APassLeavesTheFramesAroundItsRangeAlone)
{
    for (const int d : {-1, 0, 1}) {
        SCOPED_TRACE(d);
        ASSERT_TRUE(RestoreOriginal(doc));
        doc.blockStart = Frame(kChunkFrames + d);
        doc.blockEnd = Frame(2 * kChunkFrames + d);
        PassPlan plan;
        plan.range = PassRange::BlockOrWhole(doc);
        plan.precision = PassPrecision::Full;
        plan.writes = PassWrites::InPlace;
        const auto fill = [](PassChunk& c) {
            std::fill(c.full, c.full + c.units / 2, 1000);
            return true;
        };
        ASSERT_EQ(CChunkedPass(doc).Run(plan, fill), PassOutcome::Completed);
        const std::vector<int32_t> work = Working();
        for (int64_t f = 0; f < static_cast<int64_t>(kFrames); ++f) {
            const bool inside = f >= kChunkFrames + d && f < 2 * kChunkFrames + d;
            for (int ch = 0; ch < 2; ++ch) {
                const size_t i = static_cast<size_t>(2 * f + ch);
                ASSERT_EQ(work[i], inside ? 1000 : source[i]) << "frame " << f;
            }
        }
    }
    doc.blockStart = doc.blockEnd = 0;
}

// Restoring up to a position on a chunk edge and one frame to either side:
// every frame before it is the source's to the last bit, the frame at it is
// untouched.
TEST_P(Driver, RestoreUpToAPositionStopsExactlyThere)
{
    for (const int d : {-1, 0, 1}) {
        SCOPED_TRACE(d);
        Overwrite(-77);
        const int64_t end = 2 * kChunkFrames + d;
        ASSERT_TRUE(RestoreOriginal(doc, doc.dataStart, Frame(end)));
        const std::vector<int32_t> work = Working();
        for (int64_t f = 0; f < static_cast<int64_t>(kFrames); ++f)
            for (int ch = 0; ch < 2; ++ch) {
                const size_t i = static_cast<size_t>(2 * f + ch);
                ASSERT_EQ(work[i], f < end ? source[i] : -77) << "frame " << f;
            }
    }
    const test::WavContents user = test::ReadWavSamples(dir.file("side.wav"));
    EXPECT_EQ(user.samples, source);  // the source is only read
}

TEST_P(Driver, ARestoreCannotBeStoppedAndLeavesAPressForTheNextQuestion)
{
    Overwrite(5);
    test::RecordingProgress window;
    window.CancelAtPump(1);
    doc.progress = &window;
    // Nothing is asked while the restore runs.
    ASSERT_TRUE(RestoreOriginal(doc));
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_EQ(window.Log()->cancelsRequested, 1);
    EXPECT_EQ(window.Log()->cancelEnabled, (std::vector<bool>{false, true}));
    EXPECT_EQ(Working(), source);

    // The press was kept for a pass that may be stopped.
    ui.Expect({std::string(cancel::kReallyCancel), MbAnswer::Yes, std::nullopt, MbButtons::YesNo, MbIcon::Question});
    PassPlan plan;
    plan.range = PassRange::Whole(doc);
    int chunks = 0;
    EXPECT_EQ(CChunkedPass(doc).Run(plan, [&](PassChunk&) { return ++chunks > 0; }), PassOutcome::Cancelled);
    EXPECT_EQ(chunks, 0);
    ui.ExpectDone();
    doc.progress = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Depths, Driver, ::testing::Values(16, 24),
                         [](const auto& info) { return std::to_string(info.param) + "bit"; });

// Regeneration after a restore runs with Cancel disabled: an interrupt of the
// batch tool (a press the window records all the same) must not stop it.
TEST(DisabledCancel, CorrectionGenerationIsNotAskedAndMakesEveryRecord)
{
    test::TempDir dir;
    CMemorySettings settings;
    settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    std::vector<int32_t> s(2 * 200000);
    for (size_t i = 0; i < s.size(); ++i) s[i] = SampleAt(i, 16) / 4;
    ASSERT_TRUE(test::WriteWav(dir.file("c.wav"), {}, s));
    ASSERT_TRUE(OpenRecording(doc, dir.file("c.wav").string()).Ok());
    ASSERT_EQ(LoadRecording(doc, nullptr), LoadOutcome::Completed);
    for (int k = 1; k <= 20; ++k)
        doc.events.InsertAt(doc.events.Size() - 1, EventRecord{1, 0, doc.dataStart + 4 * 9000 * k, 4, 50});

    test::RecordingProgress window;
    doc.progress = &window;
    window.EnableCancel(false);
    window.CancelAtPump(3);
    CCorrector corrector(doc);
    EXPECT_EQ(corrector.GenerateAll(doc.events), GenerateOutcome::Completed);
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_EQ(window.Log()->cancelsRequested, 1);
    EXPECT_EQ(window.Log()->positions.back(), 20);

    // With the button enabled the same press is a question.
    window.EnableCancel(true);
    ui.Expect(std::string(cancel::kReallyCancel), MbAnswer::Yes);
    EXPECT_EQ(corrector.GenerateAll(doc.events), GenerateOutcome::Cancelled);
    ui.ExpectDone();
    doc.progress = nullptr;
}

// A front end without progress windows.
class NoWindows : public test::ScriptedInteraction {
public:
    std::unique_ptr<CProgressWnd> CreateProgress(bool) override { return nullptr; }
};

TEST(SilentProgress, PassesRunWhereTheFrontEndOffersNoWindow)
{
    test::TempDir dir;
    CMemorySettings settings;
    settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    NoWindows ui;
    CQuillon3Doc doc{settings, ui};
    std::vector<int32_t> s(2 * 70000);
    for (size_t i = 0; i < s.size(); ++i) s[i] = SampleAt(i, 16);
    ASSERT_TRUE(test::WriteWav(dir.file("q.wav"), {}, s));
    ASSERT_TRUE(OpenRecording(doc, dir.file("q.wav").string()).Ok());
    ASSERT_EQ(LoadRecording(doc, nullptr), LoadOutcome::Completed);
    {
        CProgressScope scope(doc);
        EXPECT_EQ(doc.progress, scope.get());
        EXPECT_FALSE(scope.CancelPressed());
    }
    EXPECT_EQ(doc.progress, nullptr);

    PassPlan plan;
    plan.range = PassRange::Whole(doc);
    plan.writes = PassWrites::InPlace;
    const auto halve = [](PassChunk& c) {
        for (int32_t i = 0; i < c.units / 2; ++i) c.view[i] = static_cast<int16_t>(c.view[i] / 2);
        return true;
    };
    EXPECT_EQ(CChunkedPass(doc).Run(plan, halve), PassOutcome::Completed);
    EXPECT_TRUE(RestoreOriginal(doc));
    EXPECT_EQ(test::ReadWavSamples(doc.workingPath).samples, s);
    EXPECT_EQ(doc.progress, nullptr);
    EXPECT_TRUE(ui.Messages().empty());
}

}  // namespace
}  // namespace kelvane
