// The hiss filter's spectral pass over a 20-minute 44.1 kHz side, timed on
// one core and reported as a multiple of real time (the target is 500x):
// x_real_time by the clock on the wall, x_real_time_cpu by the CPU time the
// pass used (the fairer figure on a machine that others share).

#include "bench/BenchSupport.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "document/RestoreOriginal.h"
#include "filters/CSpectralPass.h"
#include "operations/ProcessRecording.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

namespace kelvane {
namespace {

constexpr size_t kFrames = 20 * 60 * 44100;

// Hiss with a tone over it (0), or with music, a two-minute piece over and
// over (1): the gain rule's work depends on how many bins stand above the
// hiss.
std::vector<int32_t> Side(int64_t kind)
{
    std::vector<int32_t> side = test::Hiss(3, 300, kFrames);
    if (kind == 0) {
        test::MixInto(side, test::Sine(440.0, 6000.0, kFrames - 60000), 60000);
        return side;
    }
    test::MusicStyle style;
    style.seed = 11;
    style.peak = 0.6;
    const std::vector<int32_t> piece = test::Music(style, 2 * 60 * 44100);
    for (size_t at = 60000; at < kFrames; at += piece.size() / 2) test::MixInto(side, piece, at);
    side.resize(2 * kFrames);
    return side;
}

void BM_SpectralPass20Minutes(benchmark::State& state)
{
    test::TempDir dir("kelvane-bench-hiss");
    const auto path = dir.file("side.wav");
    {
        const std::vector<int32_t> side = Side(state.range(0));
        if (!test::WriteWav(path, {}, side)) {
            state.SkipWithError("cannot write the side");
            return;
        }
    }
    CMemorySettings settings;
    settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    settings.Set(settings::SplitTracks, 0);
    settings.Set(settings::Sensitivity, 3);
    settings.Set(settings::Source, settings::kSourceTape);
    settings.Set(settings::Subtractor, 0);
    test::ScriptedInteraction ui;
    ui.AllowOkBoxes(true);
    CQuillon3Doc doc(settings, ui);
    if (!OpenRecording(doc, path.string()).Ok() || !ProcessRecording(doc, {}).Ok()) {
        state.SkipWithError("cannot load the side");
        return;
    }
    doc.noise.leadIn = {doc.dataStart + 4096, doc.dataStart + 4096 + 8800 * 4};
    double seconds = 0, cpu = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = bench::ProcessCpuSeconds();
        CSpectralPass pass(doc);
        if (pass.Run({2}) != PassOutcome::Completed) state.SkipWithError("the pass failed");
        cpu += bench::ProcessCpuSeconds() - cpuStart;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double audio = static_cast<double>(kFrames) / 44100.0 * static_cast<double>(state.iterations());
    state.counters["x_real_time"] = seconds > 0 ? audio / seconds : 0.0;
    state.counters["x_real_time_cpu"] = cpu > 0 ? audio / cpu : 0.0;
}
BENCHMARK(BM_SpectralPass20Minutes)->ArgName("music")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace
}  // namespace kelvane

BENCHMARK_MAIN();
