// The waveform view's rules without a window: the scale labels and limits,
// the pixel mapping and what a repaint reads at each scale, the column
// extremes, the drag arithmetic, the boundary drop on the sector grid, the
// arrow keys at a boundary, the double click and the block's hit tests.

#include "tests/tracks/FinderTestDoc.h"
#include "tracks/TrackMarkers.h"
#include "views/BoundaryFadeGeometry.h"
#include "views/ClickViewGeometry.h"
#include "views/ClickViewScale.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelvane {
namespace {

using namespace clickview;
using tracktest::HandDoc;

const std::vector<int32_t> kTable44 = {0,     5,     10,     20,     50,     100,     200,
                                       500,   1000,  2000,   4410,   8820,   22050,   44100,
                                       88200, 220500, 441000, 882000, 2646000, 5292000, 13230000};

TEST(ClickViewScale, LabelsChangeUnitAtATenthOfASecondAndAMinute)
{
    EXPECT_EQ(LabelFor(4409, 44100).unit, "H Smp/Div");
    EXPECT_EQ(LabelFor(4409, 44100).value, "4409");
    EXPECT_EQ(LabelFor(4410, 44100).unit, "H Sec/Div");
    EXPECT_EQ(LabelFor(4410, 44100).value, "0.1");
    EXPECT_EQ(LabelFor(2645999, 44100).unit, "H Sec/Div");
    EXPECT_EQ(LabelFor(2646000, 44100).unit, "H Min/Div");
    EXPECT_EQ(LabelFor(13230000, 44100).value, "5.0");
    EXPECT_EQ(LabelFor(9600, 96000).unit, "H Sec/Div");
}

TEST(ClickViewScale, ZoomOutStopsWhereTheViewWouldOutgrowTheRecording)
{
    // 100 s at 44.1 kHz in a 1000-pixel view (20 divisions): 220500 x 20 fits.
    EXPECT_EQ(HighestIndex(kTable44, 20, 4410000, 1000), 15);
    EXPECT_EQ(HighestIndex(kTable44, 20, 4409999, 1000), 14);
    // A very short recording still reaches entry 3.
    EXPECT_EQ(HighestIndex(kTable44, 20, 10, 1000), kLowestTopIndex);
    EXPECT_EQ(HighestIndex(kTable44, 20, 1LL << 40, 1000), 20);
    const std::vector<int32_t> coarse = {0, 4410, 8820, 22050, 44100, 88200, 220500, 441000};
    EXPECT_EQ(HighestIndex(coarse, 7, 1LL << 40, 1000), 7);
    EXPECT_EQ(ClampIndex(0, 15), 1);
    EXPECT_EQ(ClampIndex(16, 15), 15);
    EXPECT_EQ(FramesPerDivision(kTable44, kAdjustScaleIndex), 100);
    EXPECT_EQ(FramesPerDivision({}, 4), 50);
}

TEST(ClickViewMapping, FiftyPixelsAreOneDivisionAndMouseXMapsBackOnTheFrameGrid)
{
    const Mapping m{100002, 800, 50, 2, 2000002};
    EXPECT_DOUBLE_EQ(m.X(100002), 400.0);
    EXPECT_DOUBLE_EQ(m.X(100002 + 4 * 50), 450.0);
    EXPECT_DOUBLE_EQ(m.X(100002 - 4 * 100), 300.0);
    EXPECT_EQ(m.Position(450), 100202);
    EXPECT_EQ(m.Position(450.7), 100202);  // inside the frame: rounded down
    EXPECT_EQ((m.Position(333) - 2) % 4, 0);
    // Clamped to the data at both ends.
    const Mapping edge{2, 800, 50, 2, 1002};
    EXPECT_EQ(edge.Position(0), 2);
    EXPECT_EQ(edge.Position(799), 1002);
}

TEST(ClickViewScroll, TheBarSpansTheDataWithAPageOfTheVisibleFramesAndMapsBackOnTheGrid)
{
    // 500,000 frames from position 2; 800 pixels at S = 50 show 800 frames.
    const Mapping m{2 + 4 * 1000, 800, 50, 2, 2 + 4 * 500000};
    const ScrollRange r = ScrollFor(m);
    EXPECT_EQ(r.maximum, 500000);
    EXPECT_EQ(r.page, 800);
    EXPECT_EQ(r.step, 50);
    EXPECT_EQ(r.value, 1000);
    EXPECT_EQ(ScrollPosition(m, 1000), m.current);
    EXPECT_EQ(ScrollPosition(m, -5), 2);
    EXPECT_EQ(ScrollPosition(m, 600000), 2 + 4 * 500000);
    // The widest scale on a 45-minute 96 kHz side: the page stays positive
    // and the centre's frame is exact, no 32-bit overflow on the way.
    const int32_t frames = 45 * 60 * 96000;
    const Mapping wide{2 + 4 * (frames - 1), 1900, 13230000, 2, 2 + 4 * frames};
    const ScrollRange w = ScrollFor(wide);
    EXPECT_EQ(w.maximum, frames);
    EXPECT_EQ(w.value, frames - 1);
    EXPECT_GT(w.page, 0);
    // No data: an empty bar.
    EXPECT_EQ(ScrollFor(Mapping{2, 800, 50, 2, 2}).maximum, 0);
}

TEST(ClickViewMapping, ARepaintReadsAtMostTheVisibleStretchWhateverTheRecording)
{
    for (int32_t S : kTable44) {
        if (S == 0) continue;
        for (int32_t dataEnd : {44 + 4 * 1000000, 44 + 4 * 259200000 / 2}) {
            const Mapping m{dataEnd / 2, 1200, S, 44, dataEnd};
            const TracePlan plan = PlanTraces(m, static_cast<size_t>(dataEnd / 4096 + 1));
            EXPECT_EQ(plan.envelope, S > kLastSampleScale) << S;
            if (!plan.envelope) {
                EXPECT_LE(plan.Count(), (1200 + 2) * static_cast<int64_t>(S) / 50 + 2) << S;
                EXPECT_GE(plan.first, 44);
                EXPECT_LE(plan.last, dataEnd);
                EXPECT_EQ((plan.first - 44) % 4, 0);
            } else {
                EXPECT_LE(plan.Count(), static_cast<int64_t>(dataEnd / 4096 + 1));
            }
        }
    }
    // Scrolled past the end: nothing to read beyond the data.
    const Mapping past{44 + 4 * 1000, 1000, 50, 44, 44 + 4 * 1000};
    const TracePlan plan = PlanTraces(past, 2);
    EXPECT_EQ(plan.last, 44 + 4 * 1000);
}

TEST(ClickViewColumns, ColumnsHoldTheExtremesOfTheirSamplesAndEnvelopeBlocks)
{
    // S = 100: two frames per pixel.
    const Mapping m{44 + 4 * 8, 8, 100, 44, 44 + 4 * 16};
    std::vector<int16_t> frames;
    for (int i = 0; i < 16; ++i) {
        frames.push_back(static_cast<int16_t>(i * 10));
        frames.push_back(static_cast<int16_t>(-i));
    }
    std::vector<Column> left, right;
    SampleColumns(frames.data(), 16, 44, m, left, right);
    ASSERT_EQ(left.size(), 8u);
    // Frame 8 sits at the centre column 4, with frame 9.
    EXPECT_TRUE(left[4].any);
    EXPECT_EQ(left[4].lo, 80);
    EXPECT_EQ(left[4].hi, 90);
    EXPECT_EQ(right[4].lo, -9);
    EXPECT_EQ(right[4].hi, -8);
    EXPECT_EQ(left[0].lo, 0);
    // Read in two pieces, the columns come out the same.
    std::vector<Column> left2, right2;
    SampleColumns(frames.data(), 9, 44, m, left2, right2);
    SampleColumns(frames.data() + 18, 7, 44 + 36, m, left2, right2, true);
    for (size_t x = 0; x < left.size(); ++x) {
        EXPECT_EQ(left2[x].lo, left[x].lo) << x;
        EXPECT_EQ(left2[x].hi, left[x].hi) << x;
        EXPECT_EQ(right2[x].hi, right[x].hi) << x;
    }

    std::vector<std::array<int8_t, 4>> envelope(40, {0, 0, 0, 0});
    envelope[20] = {-3, 5, -1, 1};
    envelope[21] = {-7, 2, -2, 2};
    // One block per pixel: S = 51200 frames per 50 pixels.
    const Mapping wide{20 * 4096, 10, 51200, 0, 40 * 4096};
    const TracePlan plan = PlanTraces(wide, envelope.size());
    ASSERT_TRUE(plan.envelope);
    EnvelopeColumns(envelope, plan, 0, wide, left);
    EXPECT_EQ(left[5].lo, -3 * 256);
    EXPECT_EQ(left[5].hi, 5 * 256);
    EXPECT_EQ(left[6].lo, -7 * 256);
    // Two blocks per pixel: the column spans both.
    const Mapping wider{20 * 4096, 10, 102400, 0, 40 * 4096};
    EnvelopeColumns(envelope, PlanTraces(wider, envelope.size()), 0, wider, left);
    EXPECT_EQ(left[5].lo, -7 * 256);
    EXPECT_EQ(left[5].hi, 5 * 256);
}

TEST(ClickViewMapping, AutomaticVerticalScaleFitsThePeakIntoItsRoom)
{
    // Separation 100: 48 pixels of room above and below each centre line.
    EXPECT_EQ(AutoVerticalScale(8000, 100, 400), 267);
    EXPECT_GE(TraceY(0, 8000, AutoVerticalScale(8000, 100, 400)), -48.0);
    EXPECT_LT(TraceY(0, 8000, AutoVerticalScale(8000, 100, 400) - 1), -48.0);
    // Traces on each other: half the height.
    EXPECT_EQ(AutoVerticalScale(8000, 0, 400), 65);
    EXPECT_EQ(AutoVerticalScale(0, 100, 400), 1);
}

TEST(ClickViewDrag, WidthDragsOfOneHundredPixels)
{
    EXPECT_EQ(DragWidth(100, 5, 0), 80);
    EXPECT_EQ(DragWidth(100, 50, 0), 300);
    EXPECT_EQ(DragWidth(-100, 5, 0), 80);
    // floor(2 d S / 50) = 74 still scales; 75 jumps to the widest code.
    EXPECT_EQ(DragWidth(185, 10, 0), 296);
    EXPECT_EQ(DragWidth(187.5, 10, 0), 300);
    EXPECT_EQ(DragWidth(100, 5, event::kLeftUncorrected | 40), event::kLeftUncorrected | 80);
    EXPECT_EQ(MarkerHalfWidth(80, 5), 105);
    EXPECT_EQ(MarkerHalfWidth(event::kRightUncorrected | 80, 5), 105);
    EXPECT_TRUE(NearEdge(505, 400, 105));
    EXPECT_TRUE(NearEdge(292, 400, 105));
    EXPECT_FALSE(NearEdge(509, 400, 105));
}

TEST(ClickViewDrag, ABoundaryDroppedBetweenSectorsSnapsDownOntoTheGrid)
{
    EXPECT_EQ(BoundaryDrop(2 + 10 * 2352 + 1000, 2), 2 + 10 * 2352);
    EXPECT_EQ(BoundaryDrop(10 * 2352 + 2351, 0), 10 * 2352);
    EXPECT_EQ(BoundaryDrop(10 * 2352, 0), 10 * 2352);
}

// Two tracks with a gap; a correction in each.
struct TwoTracks {
    HandDoc h{400};
    CQuillon3Doc& d = h.doc;
    TwoTracks()
    {
        for (auto [s, e] : tracktest::Bounds{{10 * 4096, 150 * 4096}, {200 * 4096, 390 * 4096}}) {
            TrackRecord r;
            r.start = s;
            r.end = e;
            r.fadeIn = 100;
            r.fadeOut = 200;
            r.preSilence = 300;
            r.postSilence = 400;
            d.tracks.Add(r);
        }
        h.AddCorrection(50 * 4096);
        h.AddCorrection(250 * 4096);
        RebuildTrackMarkers(d);
    }
    int32_t Marker(int32_t width) const
    {
        for (int32_t i = 1; i < d.events.Size() - 1; ++i)
            if (d.events[i].width == width) return i;
        return 0;
    }
};

TEST(ClickViewKeys, ArrowKeysStopAtABoundaryWhileStopped)
{
    TwoTracks t;
    const int32_t end1 = t.Marker(event::TrackEndMarker(1));
    ASSERT_GT(end1, 0);
    const int32_t from = 150 * 4096 - 400;  // 100 frames before the end of track 1
    ArrowMove move = ArrowTarget(t.d, from, +1, 500, false);
    EXPECT_EQ(move.marker, end1);
    EXPECT_EQ(move.pos, 150 * 4096);
    // Short of the boundary: a plain move.
    move = ArrowTarget(t.d, from, +1, 50, false);
    EXPECT_EQ(move.marker, 0);
    EXPECT_EQ(move.pos, from + 200);
    // Playing passes it.
    move = ArrowTarget(t.d, from, +1, 500, true);
    EXPECT_EQ(move.marker, 0);
    EXPECT_EQ(move.pos, from + 2000);
    // Leftwards from inside track 2 to its start.
    const int32_t start2 = t.Marker(event::TrackStartMarker(2));
    move = ArrowTarget(t.d, 200 * 4096 + 40, -1, 50, false);
    EXPECT_EQ(move.marker, start2);
    // From the boundary itself the next key goes on.
    move = ArrowTarget(t.d, 150 * 4096, +1, 50, false);
    EXPECT_EQ(move.marker, 0);
    EXPECT_EQ(move.pos, 150 * 4096 + 200);
    // Clamped to the data.
    EXPECT_EQ(ArrowTarget(t.d, t.d.dataStart + 8, -1, 1000, true).pos, t.d.dataStart);

    EXPECT_EQ(ArrowFrames(50, 1000, false, false, false), 50);
    EXPECT_EQ(ArrowFrames(50, 1000, false, true, false), 500);
    EXPECT_EQ(ArrowFrames(50, 1000, true, false, false), 1);
    EXPECT_EQ(ArrowFrames(50, 1000, true, true, false), 50);
    EXPECT_EQ(ArrowFrames(50, 1000, true, false, true), 500);
}

TEST(ClickViewMouse, DoubleClickPrefersACorrectionThenABoundaryAfterTheClick)
{
    TwoTracks t;
    const int32_t corr = 50 * 4096;
    DoubleClick c = DoubleClickTarget(t.d, corr - 40, 50, true);
    EXPECT_EQ(c.kind, DoubleClick::Correction);
    EXPECT_EQ(t.d.events[c.index].pos, corr);
    c = DoubleClickTarget(t.d, corr - 60, 50, true);
    EXPECT_EQ(c.kind, DoubleClick::Cursor);
    EXPECT_EQ(c.pos, corr - 60);
    // A boundary only counts after the click.
    c = DoubleClickTarget(t.d, 150 * 4096 - 40, 50, true);
    EXPECT_EQ(c.kind, DoubleClick::Boundary);
    EXPECT_EQ(c.index, t.Marker(event::TrackEndMarker(1)));
    c = DoubleClickTarget(t.d, 150 * 4096 + 40, 50, true);
    EXPECT_NE(c.kind, DoubleClick::Boundary);
    EXPECT_EQ(DoubleClickTarget(t.d, 1000, 50, false).kind, DoubleClick::Beep);
}

TEST(ClickViewMouse, BlockEndsResizeAndTheMiddleMoves)
{
    EXPECT_EQ(HitBlock(102, 100, 300), BlockPart::StartEdge);
    EXPECT_EQ(HitBlock(297, 100, 300), BlockPart::EndEdge);
    EXPECT_EQ(HitBlock(200, 100, 300), BlockPart::Middle);
    EXPECT_EQ(HitBlock(104, 100, 300), BlockPart::Outside);  // neither an end nor inside by more than 4
    EXPECT_EQ(HitBlock(50, 100, 300), BlockPart::Outside);

    EXPECT_EQ(MoveBlock({1000, 2000}, 500, 44, 10000).start, 1500);
    const BlockRange atEnd = MoveBlock({1000, 2000}, 9000, 44, 10000);
    EXPECT_EQ(atEnd.end, 10000);
    EXPECT_EQ(atEnd.end - atEnd.start, 1000);
    EXPECT_EQ(MoveBlock({1000, 2000}, -5000, 44, 10000).start, 44);
    EXPECT_EQ(ResizeBlock({1000, 2000}, BlockPart::EndEdge, 2500).end, 2500);
    EXPECT_EQ(ResizeBlock({1000, 2000}, BlockPart::EndEdge, 500).end, 1000);
    EXPECT_EQ(ResizeBlock({1000, 2000}, BlockPart::StartEdge, 800).start, 800);
}

TEST(ClickViewBoundary, LevelGraphAndTheMarksThatKeepTheFades)
{
    TwoTracks t;
    EXPECT_EQ(LevelHeight(0), 0);
    EXPECT_EQ(LevelHeight(100000), 0);
    EXPECT_EQ(LevelHeight(1000000), 40);
    t.d.blockLevel[160] = 1000000;
    t.d.blockLevel[210] = 10000000;
    // One block per pixel around the gap.
    const Mapping m{175 * 4096, 100, 51200, t.d.dataStart, t.d.dataEnd};
    const std::vector<LevelColumn> graph = LevelGraph(t.d, m);
    EXPECT_EQ(graph[35].height, 40);  // block 160, in the gap
    EXPECT_EQ(graph[35].track, 0);
    EXPECT_EQ(graph[85].height, 80);  // block 210, in track 2
    EXPECT_EQ(graph[85].track, 2);
    EXPECT_EQ(graph[0].track, 1);     // block 125
    EXPECT_EQ(graph[0].height, 0);
}

TEST(ClickViewBoundary, KeptFadesSurviveABoundaryMove)
{
    TwoTracks t;
    const int32_t s2 = event::TrackStartMarker(2), e1 = event::TrackEndMarker(1);
    EXPECT_EQ(fadeview::LengthsOf(t.d, s2), (fadeview::FadeLengths{100, 300}));
    EXPECT_EQ(fadeview::LengthsOf(t.d, e1), (fadeview::FadeLengths{200, 400}));
    const fadeview::Marks start = fadeview::MarksFor(s2, 190 * 4096, fadeview::LengthsOf(t.d, s2));
    EXPECT_EQ(start.fade - 190 * 4096, 100);     // fadeIn = F - h
    EXPECT_EQ(190 * 4096 - start.silence, 300);  // preSilence = h - S
    const fadeview::Marks end = fadeview::MarksFor(e1, 160 * 4096, fadeview::LengthsOf(t.d, e1));
    EXPECT_EQ(160 * 4096 - end.fade, 200);       // fadeOut = h - F
    EXPECT_EQ(end.silence - 160 * 4096, 400);    // postSilence = S - h
    EXPECT_EQ(fadeview::LengthsOf(t.d, event::TrackStartMarker(7)), fadeview::FadeLengths{});
}

TEST(ClickViewBoundary, GaplessShowsOnlyAtInnerBoundaries)
{
    TwoTracks t;
    EXPECT_FALSE(fadeview::ShowsGapless(t.d, event::TrackEndMarker(1)));
    t.d.gapless = 1;
    EXPECT_TRUE(fadeview::ShowsGapless(t.d, event::TrackEndMarker(1)));
    EXPECT_TRUE(fadeview::ShowsGapless(t.d, event::TrackStartMarker(2)));
    EXPECT_FALSE(fadeview::ShowsGapless(t.d, event::TrackStartMarker(1)));
    EXPECT_FALSE(fadeview::ShowsGapless(t.d, event::TrackEndMarker(2)));
}

TEST(ClickViewBoundary, FadeHandlesStayInTheirHalves)
{
    // 200 pixels, 1000 units a half: 10 units a pixel.
    const fadeview::Layout start{200, 1000, true}, end{200, 1000, false};
    EXPECT_DOUBLE_EQ(start.FadeX(500), 150);
    EXPECT_DOUBLE_EQ(start.SilenceX(500), 50);
    EXPECT_DOUBLE_EQ(end.FadeX(500), 50);
    EXPECT_DOUBLE_EQ(end.SilenceX(2000), 200);  // no further than its half
    EXPECT_EQ(start.FadeAt(130), 300);
    EXPECT_EQ(start.FadeAt(60), 0);             // dragged into the other half
    EXPECT_EQ(start.FadeAt(260), 1000);
    EXPECT_EQ(start.SilenceAt(60), 400);
    EXPECT_EQ(end.FadeAt(60), 400);
    using fadeview::Handle;
    EXPECT_EQ(fadeview::HitHandle(start, {500, 500}, 152), Handle::Fade);
    EXPECT_EQ(fadeview::HitHandle(start, {500, 500}, 47), Handle::Silence);
    EXPECT_EQ(fadeview::HitHandle(start, {500, 500}, 100), Handle::None);
    // Both at the boundary: the side of the mouse decides.
    EXPECT_EQ(fadeview::HitHandle(start, {0, 0}, 102), Handle::Fade);
    EXPECT_EQ(fadeview::HitHandle(start, {0, 0}, 98), Handle::Silence);
    EXPECT_EQ(fadeview::HitHandle(end, {0, 0}, 102), Handle::Silence);
}

TEST(ClickViewLabels, TrackLabels)
{
    EXPECT_EQ(TrackLabel(3, "Intro", false), "Tr.3:Intro ");
    EXPECT_EQ(TrackLabel(3, "???", false), "Track 3");
    EXPECT_EQ(TrackLabel(3, "", false), "Track 3");
    EXPECT_EQ(TrackLabel(3, "Intro", true), " Track 3 ");
    EXPECT_EQ(SchemeColours(1).fill, (Rgb{255, 255, 32}));
    EXPECT_EQ(SchemeColours(7).background, SchemeColours(0).background);
}

}  // namespace
}  // namespace kelvane
