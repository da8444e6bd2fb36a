// One repaint of the waveform view, at every scale the view offers, on a
// 45-minute 96 kHz/24-bit side: the picture rendered offscreen into an image
// 1200 x 500 pixels as a paint would make it, with a correction current. The
// target: under 16 ms at every scale, so scrolling and zooming keep up with
// the screen.
//
// The side's file is 1.5 GB long but only its middle two minutes hold music:
// a repaint at close zoom reads at most the visible stretch (12 s at the
// widest sample scale), and beyond that it reads no audio at all, only the
// block envelope (filled for the whole side), so the rest of the file is
// never touched and is left as a hole on disk. The file is made in a scratch
// folder under the system's temporary folder and removed afterwards.
//
//   build/bench/bench_view

#include "bench/BenchSupport.h"
#include "document/CImporter.h"
#include "views/CClickView.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace kelvane;

constexpr int kRate = 96000;
constexpr int kMinutes = 45;
constexpr int64_t kFrames = int64_t{kMinutes} * 60 * kRate;
constexpr int kHeader = 44;
constexpr QSize kSize{1200, 500};

struct Side {
    test::TempDir dir{"kelvane-bench-view"};
    bench::DocumentRig rig;
    std::unique_ptr<CClickView> view;
    int32_t middle = 0;

    Side()
    {
        const std::filesystem::path path = dir.file("side96k24.wav");
        Write(path);
        CQuillon3Doc& d = rig.doc;
        d.sampleRate = kRate;
        d.bitsPerSample = 24;
        d.dataStart = kHeader;
        d.dataEnd = static_cast<int32_t>(kHeader + kFrames * 4);
        d.scanFirst = d.dataStart + kScanMargin;
        d.scanLast = d.dataEnd - kScanMargin;
        ScaleTable(kRate, d.scaleSteps, d.coarseScaleSteps);
        // The view draws the source under the working file: the same bytes
        // here, read twice as a repaint does.
        for (CWaveFile* f : {&d.sourceFile, &d.workingFile}) {
            if (!f->Open(path.string(), CWaveFile::Mode::Read)) throw std::runtime_error(f->LastError());
            f->SetBitsPerSample(24);
            f->SetDataBase(kHeader);
        }
        const size_t blocks = static_cast<size_t>(d.dataEnd / kBlockBytes + 1);
        d.blockEnvelope.resize(blocks);
        d.blockLevel.resize(blocks);
        test::Prng rng(7);
        for (size_t b = 0; b < blocks; ++b) {
            const int8_t a = static_cast<int8_t>(rng.Range(10, 120));
            d.blockEnvelope[b] = {static_cast<int8_t>(-a), a, static_cast<int8_t>(-a / 2), static_cast<int8_t>(a / 2)};
            d.blockLevel[b] = a * 100000;
        }
        middle = static_cast<int32_t>(kHeader + kFrames / 2 * 4);
        d.ResetEventList();
        d.events.InsertAt(1, EventRecord{1, 0, middle, 40, 500});
        d.selectedEvent = 1;
        d.status = kStatusReadyToSave;
        view = std::make_unique<CClickView>(d);
        view->resize(kSize);
    }

    static void Write(const std::filesystem::path& path)
    {
        test::WavOptions opts;
        opts.sampleRate = kRate;
        opts.bits = 24;
        opts.dataSizeOverride = static_cast<uint32_t>(kFrames * 6);
        opts.riffSizeOverride = static_cast<uint32_t>(36 + kFrames * 6);
        const std::vector<uint8_t> header = test::WavBytes(opts, {});
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::ftruncate(fd, kHeader + kFrames * 6) != 0 || ::pwrite(fd, header.data(), header.size(), 0) < 0)
            throw std::runtime_error("cannot create " + path.string());
        constexpr int64_t kBlock = 1 << 18;
        std::vector<int32_t> music(static_cast<size_t>(2 * kBlock));
        std::vector<uint8_t> bytes(static_cast<size_t>(kBlock * 6));
        const int64_t first = kFrames / 2 - int64_t{60} * kRate;
        for (int64_t f = first; f < first + int64_t{120} * kRate; f += kBlock) {
            bench::Music().Fill(f, kBlock, music.data());
            for (size_t i = 0; i < music.size(); ++i) {
                const int32_t v = music[i] * 256;
                bytes[3 * i] = static_cast<uint8_t>(v);
                bytes[3 * i + 1] = static_cast<uint8_t>(v >> 8);
                bytes[3 * i + 2] = static_cast<uint8_t>(v >> 16);
            }
            if (::pwrite(fd, bytes.data(), bytes.size(), kHeader + f * 6) < 0)
                throw std::runtime_error("cannot write " + path.string());
        }
        ::close(fd);
    }
};

Side& TheSide()
{
    static Side side;
    return side;
}

void BM_Repaint(benchmark::State& state)
{
    Side& side = TheSide();
    side.view->SetScaleIndex(static_cast<int>(state.range(0)));
    if (side.view->ScaleIndex() != state.range(0)) {
        state.SkipWithError("the scale does not fit the side");
        return;
    }
    for (auto _ : state) {
        QImage image = side.view->Render(kSize);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["frames/div"] = static_cast<double>(side.view->FramesPerDivision());
    state.SetLabel(side.view->FramesPerDivision() > clickview::kLastSampleScale ? "envelope" : "samples");
}
// Every entry of the Wave Scale table that a 45-minute side allows at this
// width (entry 20 would show more than the side).
BENCHMARK(BM_Repaint)->DenseRange(1, 19)->Unit(benchmark::kMillisecond);

}  // namespace
