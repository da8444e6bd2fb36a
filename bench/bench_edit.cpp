// Correction editing and the file super-scan on a processed vinyl side.
//
// Targets, for a 44.1 kHz 16-bit stereo side with about 150 clicks a
// minute, a warm page cache and one core:
//   - removing or adjusting one correction touches only its run: its cost on
//     a 20-minute side is within a small factor of its cost on a 5-minute
//     side (ratio printed; a cost that grew with the side would show 4x);
//   - a super-scan of the whole 20-minute side (one further layer, scan and
//     generation) runs at >= 500x real time, i.e. <= 2.4 s.
//
// The side is the load benchmark's synthesised music and surface noise with
// clicks laid on it at random places, 1 to 30 frames wide. Each benchmark
// processes it once, untimed, as the program does after an import.

#include "bench/BenchSupport.h"
#include "declick/CorrectionEdit.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "operations/ProcessRecording.h"
#include "operations/Rescan.h"
#include "settings/SettingsStore.h"
#include "tests/support/Signals.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace kelvane::bench;
using kelvane::CQuillon3Doc;

constexpr double kTargetRealTime = 500.0;
constexpr int64_t kWindowFrames = 10 * kRate;
constexpr int kClicksPerWindow = 25;
constexpr int kLeadFrames = 32;  // a click begun in the previous block is laid again in full

void FillSide(int64_t first, int64_t count, std::vector<int32_t>& scratch, int16_t* out)
{
    const int64_t start = std::max<int64_t>(0, first - kLeadFrames);
    const int64_t lead = first - start;
    scratch.resize(static_cast<size_t>(2 * (lead + count)));
    Music().Fill(start, lead + count, scratch.data());
    for (int64_t w = start / kWindowFrames; w * kWindowFrames < first + count; ++w) {
        kelvane::test::Prng rng(0xED170000u + static_cast<uint64_t>(w));
        for (int k = 0; k < kClicksPerWindow; ++k) {
            const int64_t frame = w * kWindowFrames + rng.Range(0, kWindowFrames - 1);
            const int width = static_cast<int>(rng.Range(1, kLeadFrames - 2));
            const auto amplitude = static_cast<int32_t>(2000 + rng.Range(0, 16000));
            const uint64_t seed = rng.Next();
            if (frame < start || frame >= first + count) continue;
            kelvane::test::AddClick(scratch, 2, static_cast<size_t>(frame - start), width, amplitude,
                                    kelvane::test::kBoth, seed);
        }
    }
    for (int64_t i = 0; i < 2 * count; ++i) out[i] = static_cast<int16_t>(scratch[static_cast<size_t>(2 * lead + i)]);
}

Sides& TheSides()
{
    static Sides sides("kelvane-bench-edit", [scratch = std::vector<int32_t>()](int64_t first, int64_t count,
                                                                               int16_t* out) mutable {
        FillSide(first, count, scratch, out);
    });
    return sides;
}

// Opens and processes the side (no track finder); empty or what went wrong.
std::string Processed(DocumentRig& rig, int minutes)
{
    rig.settings.Set(kelvane::settings::Sensitivity, 3);
    const fs::path& side = TheSides().Side(minutes);
    if (!kelvane::OpenRecording(rig.doc, side.string()).Ok()) return "open failed: " + rig.ui.lastText;
    kelvane::ProcessRequest request;
    request.splitTracks = 0;
    if (!kelvane::ProcessRecording(rig.doc, request).Ok()) return "the processing did not complete";
    if (rig.doc.events.Size() < 100) return "the scan found too few clicks";
    return {};
}

// Corrections spread evenly over the list, each alone in its run or in a
// short one, so that an edit of it is not refused.
std::vector<int32_t> EditableIndices(const CQuillon3Doc& d, size_t count)
{
    std::vector<int32_t> all;
    for (int32_t i = 1; i + 1 < d.events.Size(); ++i) {
        if (!d.events[i].IsCorrection()) continue;
        if (kelvane::FindRun(d, i).SpanBytes() <= kelvane::kMaxEditSpan / 2) all.push_back(i);
    }
    std::vector<int32_t> out;
    for (size_t k = 0; k < count && !all.empty(); ++k) out.push_back(all[(k * all.size()) / count]);
    return out;
}

// One adjustment and its undoing per iteration: the width of a correction
// grows by two codes and shrinks back, each step restoring and making again
// its run. The timing is per adjustment.
void BM_Adjust(benchmark::State& state)
{
    const int minutes = static_cast<int>(state.range(0));
    DocumentRig rig;
    if (std::string e = Processed(rig, minutes); !e.empty()) {
        state.SkipWithError(e.c_str());
        return;
    }
    CQuillon3Doc& d = rig.doc;
    const std::vector<int32_t> targets = EditableIndices(d, 64);
    auto& times = Timings()["adjust/" + std::to_string(minutes)];
    size_t k = 0;
    for (auto _ : state) {
        int32_t index = targets[k++ % targets.size()];
        const int32_t width = d.events[index].width;
        Stopwatch watch;
        kelvane::AdjustCorrection(d, index, width + 2, 0);
        kelvane::AdjustCorrection(d, index, width, 0);
        times.push_back(watch.Seconds() / 2);
    }
    state.counters["corrections"] = d.events.Size() - 2;
}

// One removal per iteration, of corrections spread over the side.
void BM_Remove(benchmark::State& state)
{
    const int minutes = static_cast<int>(state.range(0));
    DocumentRig rig;
    if (std::string e = Processed(rig, minutes); !e.empty()) {
        state.SkipWithError(e.c_str());
        return;
    }
    CQuillon3Doc& d = rig.doc;
    std::vector<kelvane::EventRecord> targets;
    for (int32_t i : EditableIndices(d, 200)) targets.push_back(d.events[i]);
    auto& times = Timings()["remove/" + std::to_string(minutes)];
    size_t k = 0, refused = 0;
    for (auto _ : state) {
        if (k == targets.size()) {
            state.SkipWithError("ran out of corrections to remove");
            break;
        }
        const kelvane::EventRecord& r = targets[k++];
        Stopwatch watch;
        int32_t index = 1;
        while (index + 1 < d.events.Size() && !(d.events[index] == r)) ++index;
        const double search = watch.Seconds();
        Stopwatch edit;
        if (!kelvane::RemoveCorrectionAt(d, index)) ++refused;
        times.push_back(edit.Seconds());
        benchmark::DoNotOptimize(search);
    }
    state.counters["refused"] = static_cast<double>(refused);
}

// A super-scan of the whole file, one further layer per iteration.
void BM_SuperScanFile(benchmark::State& state)
{
    const int minutes = static_cast<int>(state.range(0));
    DocumentRig rig;
    if (std::string e = Processed(rig, minutes); !e.empty()) {
        state.SkipWithError(e.c_str());
        return;
    }
    CQuillon3Doc& d = rig.doc;
    auto& times = Timings()["superscan/" + std::to_string(minutes)];
    const int32_t before = d.events.Size();
    for (auto _ : state) {
        kelvane::RescanRequest request;
        request.superimpose = true;
        request.wholeFile = true;
        request.passes = 1;
        Stopwatch watch;
        const kelvane::OpResult r = kelvane::Rescan(d, request);
        times.push_back(watch.Seconds());
        if (!r.Ok()) {
            state.SkipWithError("the super-scan did not complete");
            break;
        }
    }
    state.counters["added"] = d.events.Size() - before;
    state.counters["maxPass"] = d.maxPass;
    state.counters["xRealTime"] = AudioSeconds(minutes) / Best(times);
}

BENCHMARK(BM_Adjust)->Arg(5)->Arg(20)->Iterations(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Remove)->Arg(5)->Arg(20)->Iterations(150)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SuperScanFile)->Arg(20)->Iterations(3)->Unit(benchmark::kMillisecond);

void Summary()
{
    std::printf("\nOne edit (mean of the timed edits; the list search of the removal left out):\n");
    for (const char* what : {"adjust", "remove"}) {
        const double five = TimingStat(std::string(what) + "/5", false);
        const double twenty = TimingStat(std::string(what) + "/20", false);
        if (five > 0 && twenty > 0)
            std::printf("  %-7s 5 min %8.1f us   20 min %8.1f us   ratio %.2f (a cost growing with the side: 4)\n",
                        what, five * 1e6, twenty * 1e6, twenty / five);
    }
    const double super = TimingStat("superscan/20", true);
    if (super > 0)
        std::printf("Super-scan of a 20-minute side: %.2f s, %.0fx real time (target >= %.0fx) %s\n", super,
                    AudioSeconds(20) / super, kTargetRealTime,
                    AudioSeconds(20) / super >= kTargetRealTime ? "met" : "NOT MET");
}

}  // namespace

int main(int argc, char** argv) { return RunBenchmarks(argc, argv, "bench_edit", Summary); }
