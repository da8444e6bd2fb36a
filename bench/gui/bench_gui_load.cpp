// Whether the desktop stays responsive while it opens a long side: a
// 45-minute 96 kHz/24-bit recording (about 1.5 GB, synthesised into a scratch
// folder under the system's temporary folder and removed afterwards) is
// opened through the main window as Open... does, and the longest time the
// event loop went without a turn is measured per stage of the run. The
// target: under 100 ms during the load pass, so the window repaints at least
// ten times a second.
//
//   build/bench/bench_gui_load                        (the 45-minute side)
//   KELVANE_BENCH_MINUTES=5 build/bench/bench_gui_load   (a shorter side; the
//                          gaps are per chunk, so they do not grow with length)
//
// A machine busy with other work stretches the gaps: quote the figure with
// the load average printed beside it.

#include "app/CMainFrame.h"
#include "app/CQtProgressWnd.h"
#include "app/Startup.h"
#include "bench/BenchSupport.h"

#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>

namespace {

using namespace kelvane;

constexpr int kRate = 96000;
constexpr int kFrameBytes = 6;  // 24-bit stereo

int Minutes()
{
    const char* v = std::getenv("KELVANE_BENCH_MINUTES");
    const int m = v ? std::atoi(v) : 45;
    return m >= 1 && m <= 60 ? m : 45;
}

// The music of the other benchmarks (made for 44.1 kHz, so it sounds higher
// here) widened to 24 bits with varying low bits, and a sharp click every
// two seconds so the scanner has work of the usual kind.
void WriteSide96k24(const std::filesystem::path& path, int minutes)
{
    const int64_t frames = int64_t{minutes} * 60 * kRate;
    test::WavOptions opts;
    opts.sampleRate = kRate;
    opts.bits = 24;
    opts.dataSizeOverride = static_cast<uint32_t>(frames * kFrameBytes);
    opts.riffSizeOverride = static_cast<uint32_t>(36 + frames * kFrameBytes);
    const std::vector<uint8_t> header = test::WavBytes(opts, {});
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path.string());
    bool ok = bench::WriteAll(fd, header.data(), header.size());
    constexpr int64_t kBlock = 1 << 18;
    std::vector<int32_t> music(static_cast<size_t>(2 * kBlock));
    std::vector<uint8_t> bytes(static_cast<size_t>(kBlock * kFrameBytes));
    for (int64_t f = 0; ok && f < frames; f += kBlock) {
        const int64_t n = std::min(kBlock, frames - f);
        bench::Music().Fill(f, n, music.data());
        for (int64_t i = 0; i < n; ++i) {
            const int64_t frame = f + i;
            for (int c = 0; c < 2; ++c) {
                int32_t v = music[static_cast<size_t>(2 * i + c)] * 256 +
                            static_cast<int32_t>((frame * 2654435761u + static_cast<uint32_t>(c)) >> 24);
                if (frame % (2 * kRate) < 3) v = c == 0 ? 6000000 : -6000000;
                v = std::clamp(v, -8388608, 8388607);
                uint8_t* out = &bytes[static_cast<size_t>((i * 2 + c) * 3)];
                out[0] = static_cast<uint8_t>(v);
                out[1] = static_cast<uint8_t>(v >> 8);
                out[2] = static_cast<uint8_t>(v >> 16);
            }
        }
        ok = bench::WriteAll(fd, bytes.data(), static_cast<size_t>(n * kFrameBytes));
    }
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) throw std::runtime_error("cannot write " + path.string());
}

double LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    double one = 0;
    in >> one;
    return one;
}

void BM_OpenLongSide(benchmark::State& state)
{
    const int minutes = Minutes();
    test::TempDir dir("kelvane-bench-gui-load");
    const std::filesystem::path side = dir.file("side96k24.wav");
    WriteSide96k24(side, minutes);

    for (auto _ : state) {
        auto store = std::make_unique<CMemorySettings>();
        store->Set(settings::Sensitivity, 3);  // stored scan settings: nothing to ask
        store->Set(settings::TempMode, settings::kTempModeSameFolder);
        CKelvaneApp app(std::move(store));
        app.Frame().show();
        int questions = 0;
        app.Ui().SetAnswerer([&](const CQtInteraction::Question& q) -> std::optional<MbAnswer> {
            ++questions;
            return CQtInteraction::DefaultAnswer(q.buttons);
        });
        // The gap before each turn, kept under the stage that was current
        // when the turn came.
        QElapsedTimer sinceTurn, run;
        qint64 longest[2] = {0, 0}, beforeFirst = -1;
        int turns[2] = {0, 0};
        app.Ui().OnProgressCreated([&](CQtProgressWnd& p) {
            p.afterPump = [&](CQtProgressWnd& w) {
                const qint64 gap = sinceTurn.restart();
                if (beforeFirst < 0) beforeFirst = gap;
                const int stage = w.CurrentStage() <= 0 ? 0 : 1;
                longest[stage] = std::max(longest[stage], gap);
                ++turns[stage];
            };
        });
        sinceTurn.start();
        run.start();
        const OpResult result = app.Frame().OpenFile(QString::fromStdString(side.string()));
        const qint64 afterLast = sinceTurn.elapsed();
        if (!result.Ok()) state.SkipWithError("the side did not open");
        state.counters["load_longest_gap_ms"] = static_cast<double>(longest[0]);
        state.counters["load_turns"] = turns[0];
        state.counters["later_longest_gap_ms"] = static_cast<double>(longest[1]);
        state.counters["first_turn_after_ms"] = static_cast<double>(beforeFirst);
        state.counters["after_last_turn_ms"] = static_cast<double>(afterLast);
        state.counters["run_s"] = static_cast<double>(run.elapsed()) / 1000.0;
        state.counters["questions"] = questions;
        state.counters["load_average"] = LoadAverage();
        state.SetLabel(std::to_string(minutes) + "-minute side, 96 kHz/24-bit, " +
                       std::to_string(bench::FileBytes(side) / (1 << 20)) + " MiB");
    }
}
BENCHMARK(BM_OpenLongSide)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
