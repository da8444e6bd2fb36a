// Repaint cost of the desktop's views of a side with 30,000 corrections:
// the track strip and the correction list (target: under 20 ms each), and
// the list's refill after a change of the event list.
//
//   build/bench/bench_gui     (runs on the offscreen platform)

#include "app/CQtInteraction.h"
#include "declick/ui/CClickList.h"
#include "document/CQuillon3Doc.h"
#include "settings/SettingsStore.h"
#include "tests/support/Signals.h"
#include "views/CQuillon3View.h"

#include <QApplication>
#include <QPixmap>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using namespace kelvane;

constexpr int32_t kCorrections = 30000;
constexpr int32_t kRate = 44100;
constexpr int32_t kMinutes = 25;

struct Side {
    CMemorySettings store;
    CQtInteraction ui;
    CQuillon3Doc doc{store, ui};

    Side()
    {
        doc.sampleRate = kRate;
        doc.dataStart = 44;
        doc.dataEnd = 44 + kRate * 4 * 60 * kMinutes;
        doc.status = kStatusReadyToSave;
        test::Prng prng(15);
        doc.blockLevel.resize(static_cast<size_t>(doc.dataEnd / kBlockBytes + 1));
        for (int32_t& level : doc.blockLevel) level = static_cast<int32_t>(prng.Range(1, 2000000000));
        doc.segmentCorrections.assign(static_cast<size_t>(doc.dataEnd / kSegmentBytes + 1), 40);
        doc.ResetEventList();
        const int32_t step = (doc.dataEnd - doc.dataStart) / kCorrections / 4 * 4;
        for (int32_t i = 0; i < kCorrections; ++i)
            doc.events.InsertAt(doc.events.Size() - 1,
                                EventRecord{1, 0, doc.dataStart + i * step, 3, static_cast<int32_t>(prng.Range(0, 80))});
        doc.selectedEvent = kCorrections / 2;
    }
};

Side& TheSide()
{
    static Side side;
    return side;
}

void BM_StripRepaint(benchmark::State& state)
{
    Side& side = TheSide();
    CQuillon3View strip(side.doc);
    strip.resize(1100, 160);
    for (auto _ : state) benchmark::DoNotOptimize(strip.Render(QSize(1100, 160)));
    state.SetLabel("30000 corrections, 25-minute side");
}
BENCHMARK(BM_StripRepaint)->Unit(benchmark::kMillisecond);

void BM_ListRepaint(benchmark::State& state)
{
    Side& side = TheSide();
    CClickList list(side.doc);
    list.resize(320, 520);
    list.show();
    for (auto _ : state) benchmark::DoNotOptimize(list.grab());
    state.SetLabel("30000 rows, the visible ones drawn");
}
BENCHMARK(BM_ListRepaint)->Unit(benchmark::kMillisecond);

void BM_ListRefill(benchmark::State& state)
{
    Side& side = TheSide();
    CClickList list(side.doc);
    list.resize(320, 520);
    for (auto _ : state) list.OnDocUpdate();
    state.SetLabel("rows rebuilt after the event list changed");
}
BENCHMARK(BM_ListRefill)->Unit(benchmark::kMillisecond);

}  // namespace
