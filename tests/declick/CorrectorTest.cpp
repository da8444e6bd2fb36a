// Correction generation on real working files: which frames a correction
// rewrites and with what values, the channel bits, the clamps, the guards at
// the ends of the data, the order of a whole list and the user's cancel.

#include "declick/CCorrector.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "tests/declick/CorrectorTestDoc.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace kelvane {
namespace {

using Side = test::CorrectorTestDoc;

constexpr int kFrames = 16384;
constexpr int kClick = 8000;

int32_t& At(std::vector<int32_t>& s, int frame, int ch) { return s[static_cast<size_t>(2 * frame + ch)]; }

// The cubic's value at x through (0, e0), (1, e1), (n, f0), (n+1, f1),
// computed the textbook way (Lagrange), truncated toward zero. The anchors
// in these tests are chosen so that the value is never within rounding
// distance of an integer.
int32_t CubicAt(double x, int n, double e0, double e1, double f0, double f1)
{
    const double xs[4] = {0, 1, double(n), double(n + 1)};
    const double ys[4] = {e0, e1, f0, f1};
    double sum = 0;
    for (int i = 0; i < 4; ++i) {
        double term = ys[i];
        for (int j = 0; j < 4; ++j)
            if (j != i) term *= (x - xs[j]) / (xs[i] - xs[j]);
        sum += term;
    }
    EXPECT_GT(std::abs(sum - std::round(sum)), 1e-6) << "test anchors give an integer at x = " << x;
    return static_cast<int32_t>(std::trunc(sum));
}

std::vector<int32_t> Ramp(int frames)
{
    std::vector<int32_t> s(2 * static_cast<size_t>(frames));
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int32_t>((i * 37) % 4001) - 2000;
    return s;
}

TEST(CorrectOne, ShortCorrectionInterpolatesBetweenTheAnchors)
{
    auto s = Ramp(kFrames);
    // Left: a straight line through the anchors, which the cubic must give
    // back exactly. Right: a bend, checked against the textbook cubic.
    for (int x = 0; x < 6; ++x) At(s, kClick - 2 + x, 0) = 1000 + 37 * x;
    const int32_t right[6] = {1001, 1100, 0, 0, 901, 700};
    for (int x = 0; x < 6; ++x) At(s, kClick - 2 + x, 1) = right[x];
    At(s, kClick, 0) = At(s, kClick, 1) = 20000;  // the click
    At(s, kClick + 1, 0) = At(s, kClick + 1, 1) = -15000;
    Side side;
    side.Load(s);
    ASSERT_TRUE(side.Correct(kClick, 0));  // width 0: c = 2, frames -2 .. 3

    const auto got = side.Working();
    EXPECT_EQ(got[2 * kClick], 1074);
    EXPECT_EQ(got[2 * (kClick + 1)], 1111);
    EXPECT_EQ(got[2 * kClick + 1], CubicAt(2, 4, 1001, 1100, 901, 700));
    EXPECT_EQ(got[2 * (kClick + 1) + 1], CubicAt(3, 4, 1001, 1100, 901, 700));
    // The anchors are written back through the same double arithmetic and
    // truncation: the first one exactly, the others to within one unit.
    for (int x : {0, 1, 4, 5}) {
        const int f = kClick - 2 + x;
        EXPECT_EQ(got[2 * f], At(s, f, 0));
        EXPECT_NEAR(got[2 * f + 1], At(s, f, 1), x == 0 ? 0 : 1) << x;
    }
    for (int f = 0; f < kFrames; ++f)
        if (f < kClick - 2 || f > kClick + 3) {
            ASSERT_TRUE(got[2 * f] == At(s, f, 0) && got[2 * f + 1] == At(s, f, 1)) << f;
        }
}

TEST(CorrectOne, QuietEdgeStartsOrEndsFlat)
{
    struct Case {
        int32_t left[4], right[4];  // frames -2, -1, 2, 3 of each channel
        bool flatStart, flatEnd;
    } cases[] = {
        {{51, 93, 2001, 1503}, {-33, 11, -1203, -707}, true, false},
        {{51, 93, 2001, 1503}, {-33, 100, -1203, -707}, false, false},  // 100 is not quiet
        {{2001, 1503, -61, 97}, {-1207, -707, 17, -93}, false, true},
    };
    for (const Case& k : cases) {
        auto s = Ramp(kFrames);
        const int frames[4] = {-2, -1, 2, 3};
        for (int i = 0; i < 4; ++i) {
            At(s, kClick + frames[i], 0) = k.left[i];
            At(s, kClick + frames[i], 1) = k.right[i];
        }
        Side side;
        side.Load(s);
        ASSERT_TRUE(side.Correct(kClick, 0));
        const auto got = side.Working();
        for (int ch = 0; ch < 2; ++ch) {
            const int32_t* v = ch == 0 ? k.left : k.right;
            const double e1 = k.flatStart ? v[0] : v[1];
            const double f1 = k.flatEnd ? v[2] : v[3];
            SCOPED_TRACE(testing::Message() << "channel " << ch << " first " << v[0]);
            // The flattened anchor takes the edge's first value (to within
            // the cubic's rounding), and the interior follows that cubic.
            EXPECT_NEAR(got[2 * (kClick - 1) + ch], e1, 1);
            EXPECT_NEAR(got[2 * (kClick + 3) + ch], f1, 1);
            EXPECT_EQ(got[2 * kClick + ch], CubicAt(2, 4, v[0], e1, v[2], f1));
            EXPECT_EQ(got[2 * (kClick + 1) + ch], CubicAt(3, 4, v[0], e1, v[2], f1));
        }
    }
}

TEST(CorrectOne, ChannelBitsLeaveTheirChannelAlone)
{
    auto s = Ramp(kFrames);
    test::AddClick(s, 2, kClick - 5, 10, 20000, test::kBoth, 3);
    Side side;
    side.Load(s);
    const auto bytes = test::ReadFileBytes(side.doc.workingPath);
    // Both bits: the stretch is rewritten with its own values, long or short.
    ASSERT_TRUE(side.Correct(kClick, 0x3000 | 7));
    ASSERT_TRUE(side.Correct(kClick, 0x3000 | 100));
    EXPECT_EQ(test::ReadFileBytes(side.doc.workingPath), bytes);

    for (int32_t width : {7, 100}) {  // c = 6 (short) and 76 (long)
        for (int32_t bit : {0x1000, 0x2000}) {
            Side one;
            one.Load(s);
            ASSERT_TRUE(one.Correct(kClick, width | bit));
            const auto got = one.Working();
            const int keep = bit == 0x1000 ? 0 : 1;
            const int c = CCorrector::HalfLength(width);
            const int first = width < 8 ? -c : -c - 16, last = width < 8 ? c + 1 : c + 14;
            for (int f = 0; f < kFrames; ++f) {
                EXPECT_EQ(got[2 * f + keep], At(s, f, keep)) << "frame " << f;
                if (f < kClick + first || f > kClick + last) {
                    EXPECT_EQ(got[2 * f + 1 - keep], At(s, f, 1 - keep));
                }
            }
            EXPECT_NE(got[2 * kClick + 1 - keep], At(s, kClick, 1 - keep));
        }
    }
}

TEST(CorrectOne, CubicClampsToTheFullRange)
{
    auto s = Ramp(kFrames);
    // Through 0, 30000, 30000, 0 the cubic peaks near 45000.
    const int32_t v[6] = {0, 30000, 0, 0, 30000, 0};
    for (int x = 0; x < 6; ++x) {
        At(s, kClick - 2 + x, 0) = v[x];
        At(s, kClick - 2 + x, 1) = -v[x];
    }
    Side side;
    side.Load(s);
    ASSERT_TRUE(side.Correct(kClick, 0));
    const auto got = side.Working();
    EXPECT_EQ(got[2 * kClick], 32767);
    EXPECT_EQ(got[2 * kClick + 2], 32767);
    EXPECT_EQ(got[2 * kClick + 1], -32768);
    EXPECT_EQ(got[2 * kClick + 3], -32768);
}

TEST(CorrectOne, LongCorrectionReplacesWithFadesAndClampsTheReconstruction)
{
    // Full scale everywhere: the reconstruction is the constant itself,
    // clamped to 32762 / -32763, so every fade weight shows in the result.
    std::vector<int32_t> s(2 * kFrames);
    for (size_t i = 0; i < s.size(); ++i) s[i] = i % 2 ? -32768 : 32767;
    Side side;
    side.Load(s);
    ASSERT_TRUE(side.Correct(kClick, 40));  // c = 32
    const auto got = side.Working();
    auto want = s;
    for (int k = 1; k <= 16; ++k) {  // fade-in ends at full weight on frame -33
        At(want, kClick - 49 + k, 0) = static_cast<int32_t>(std::trunc((k * 32762.0 + (16 - k) * 32767.0) / 16));
        At(want, kClick - 49 + k, 1) = static_cast<int32_t>(std::trunc((k * -32763.0 + (16 - k) * -32768.0) / 16));
    }
    for (int f = -32; f <= 30; ++f) {
        At(want, kClick + f, 0) = 32762;
        At(want, kClick + f, 1) = -32763;
    }
    for (int k = 15; k >= 0; --k) {  // fade-out starts at 15/16 on frame 31
        At(want, kClick + 46 - k, 0) = static_cast<int32_t>(std::trunc((k * 32762.0 + (16 - k) * 32767.0) / 16));
        At(want, kClick + 46 - k, 1) = static_cast<int32_t>(std::trunc((k * -32763.0 + (16 - k) * -32768.0) / 16));
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(got[2 * (kClick - 48) + 1], -32767);  // toward zero, not down
}

TEST(CorrectOne, RecordsWhoseBufferLeavesTheDataAreSkipped)
{
    for (int rate : {44100, 96000}) {
        SCOPED_TRACE(rate);
        const int n = CCorrector::AnalysisLength(rate), m = CCorrector::MarginBytes(rate) / 4;
        Side side;
        side.Load(Ramp(kFrames), rate);
        const auto bytes = test::ReadFileBytes(side.doc.workingPath);
        const int first = n + m, last = kFrames - n / 2;  // the extreme click frames
        EXPECT_FALSE(side.Correct(first - 1, 100));
        EXPECT_FALSE(side.Correct(last + 1, 100));
        EXPECT_FALSE(side.corrector->CorrectOne({1, 0, side.Pos(kClick) + 2, 100, 0}));  // between frames
        EXPECT_FALSE(side.Correct(kClick, -4));                                          // a marker
        EXPECT_EQ(test::ReadFileBytes(side.doc.workingPath), bytes);
        EXPECT_TRUE(side.Correct(first, 100));
        EXPECT_TRUE(side.Correct(last, 100));
        EXPECT_TRUE(side.Correct(kClick, 511));  // the widest code still fits the window
        EXPECT_NE(test::ReadFileBytes(side.doc.workingPath), bytes);
        EXPECT_EQ(side.corrector->IoErrors(), 0);
    }
}

// ---------------------------------------------------------------------------

std::vector<int32_t> Music(int frames, uint64_t seed = 7)
{
    test::MusicStyle style;
    style.seed = seed;
    return test::Music(style, static_cast<size_t>(frames));
}

CGrowList<EventRecord> List(std::initializer_list<EventRecord> records)
{
    CGrowList<EventRecord> list;
    list.Add({});
    for (const EventRecord& r : records) list.Add(r);
    list.Add({});
    return list;
}

TEST(GenerateAll, LowerPassesFirstThenListOrder)
{
    auto s = Music(kFrames);
    for (int i = 0; i < 5; ++i) test::AddClick(s, 2, kClick - 100 + 60 * i, 8, 15000, test::kBoth, 10 + i);
    Side all, byHand, listOrder;
    all.Load(s);
    byHand.Load(s);
    listOrder.Load(s);
    // Overlapping corrections, so the order shows in the result.
    auto rec = [&](int frame, int32_t width, int32_t pass) { return EventRecord{pass, 0, all.Pos(frame), width, 0}; };
    auto list = List({rec(kClick - 100, 100, 2), rec(kClick - 40, 100, 1), rec(kClick + 20, 100, 0),
                      rec(kClick + 80, 100, -1), rec(kClick + 100, -2, 1), rec(kClick + 140, 50, -3)});
    const auto copy = list;
    EXPECT_EQ(all.corrector->GenerateAll(list), GenerateOutcome::Completed);
    for (int i : {6, 4, 3, 2, 1}) byHand.corrector->CorrectOne(list[i]);
    for (int i = 1; i <= 6; ++i) listOrder.corrector->CorrectOne(list[i]);
    EXPECT_EQ(all.Working(), byHand.Working());
    EXPECT_NE(all.Working(), listOrder.Working());
    for (int i = 0; i < list.Size(); ++i) EXPECT_EQ(list[i], copy[i]);
}

struct Observer : IDocObserver {
    std::vector<std::vector<std::string>> texts;  // every change of the status texts
    int updates = 0;
    void OnDocUpdate() override { ++updates; }
    void OnStatusTexts(const std::string& a, const std::string& b, const std::string& c) override
    {
        texts.push_back({a, b, c});
    }
};

// Generation's own texts, then the normal indicators back.
const std::vector<std::vector<std::string>> kMakingCorrectionsThenRestored{
    {"Making Corrections...", "Clicks: 150", "Tracks: 0"}, {"", "", ""}};

// 150 one-frame clicks, one record each; the last two of an earlier pass.
struct ManyClicks {
    Side side;
    Observer observer;
    test::RecordingProgress progress;
    CGrowList<EventRecord> list;
    std::vector<int32_t> dirty;

    explicit ManyClicks()
    {
        dirty = Music(20000);
        list.Add({});
        for (int i = 0; i < 150; ++i) {
            At(dirty, Frame(i + 1), 0) = 30000;
            list.Add({1, 0, 0, 0, 0});
        }
        list.Add({});
        side.Load(dirty);
        for (int i = 1; i <= 150; ++i) list[i].pos = side.Pos(Frame(i));
        list[149].pass = list[150].pass = 0;  // taken first: the count runs ahead of the index
        side.doc.AddObserver(&observer);
        side.doc.progress = &progress;
    }
    static int Frame(int index) { return 900 + 100 * index; }
    bool Corrected(const std::vector<int32_t>& now, int index) const { return now[2 * Frame(index)] != 30000; }
};

TEST(GenerateAll, ProgressStatusTextsAndACancelAnsweredNo)
{
    ManyClicks m;
    m.progress.CancelAtPump(5);  // the poll before the third record
    m.side.ui.Expect({"Really Cancel?", MbAnswer::No, std::string(kAppCaption), MbButtons::YesNo, MbIcon::Question});
    const int32_t status = m.side.doc.status;
    EXPECT_EQ(m.side.corrector->GenerateAll(m.list), GenerateOutcome::Completed);
    m.side.ui.ExpectDone();
    const auto now = m.side.Working();
    for (int i = 1; i <= 150; ++i) EXPECT_TRUE(m.Corrected(now, i)) << i;
    EXPECT_EQ(m.observer.texts, kMakingCorrectionsThenRestored);
    EXPECT_EQ(m.observer.updates, 1);
    EXPECT_EQ(m.side.doc.status, status);
    EXPECT_EQ(m.side.doc.scanCancelledAt, 0);
    const auto log = m.progress.Log();
    EXPECT_EQ(log->ranges, (std::vector<std::pair<int32_t, int32_t>>{{0, 151}}));
    ASSERT_EQ(log->positions.size(), 150u);
    EXPECT_EQ(log->positions.front(), 1);
    EXPECT_EQ(log->positions.back(), 150);
    EXPECT_EQ(log->messages, std::vector<std::string>{"Processing Click Number 100"});
}

TEST(GenerateAll, CancelAnsweredYesKeepsWhatWasMade)
{
    ManyClicks m;
    m.progress.CancelAtPump(5);  // before the third record taken: 149, 150, then 1
    m.side.ui.Expect("Really Cancel?", MbAnswer::Yes);
    EXPECT_EQ(m.side.corrector->GenerateAll(m.list), GenerateOutcome::Cancelled);
    EXPECT_EQ(m.side.doc.scanCancelledAt, 1);
    EXPECT_EQ(m.observer.texts, kMakingCorrectionsThenRestored);
    const auto now = m.side.Working();
    EXPECT_TRUE(m.Corrected(now, 149));
    EXPECT_TRUE(m.Corrected(now, 150));
    for (int i = 1; i <= 148; ++i) EXPECT_FALSE(m.Corrected(now, i)) << i;
}

}  // namespace
}  // namespace kelvane
