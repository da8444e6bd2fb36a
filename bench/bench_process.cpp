// Speed and memory of the automatic processing of a vinyl side: the import,
// the load pass with the click scan running inside it, and the generation of
// every correction, as the program runs them after an import.
//
// Targets, for a 20-minute 44.1 kHz 16-bit stereo side with about 3,000
// clicks, a warm page cache and one core:
//   - the whole processing (open, load + scan, corrections, then emptying the
//     document) runs at >= 300x real time, i.e. <= 4.0 s;
//   - its peak memory does not grow with the length of the side beyond what
//     the document is meant to keep: the per-block statistics arrays and the
//     event list (20-byte records, grown 5000 at a time).
//
// The side is the load benchmark's synthesised music and surface noise with
// clicks laid on it: 25 in every 10 seconds (150 a minute), 1 to 40 frames
// wide, of widely varying strength, some on one channel only. Like the music,
// every click is a pure function of where it is, so the side is written in
// blocks without ever being in memory whole.
//
// BM_LoadPass (the load pass with no scanner) and BM_ProcessStages (the same
// chain driven stage by stage) split the time, so the share of the scan and
// of the corrections is visible from one run.
//
// The memory figures come from a forked child per length (a fresh
// high-water mark that earlier benchmarks cannot have raised); their "time"
// column is the child's whole run and means nothing.

#include "bench/BenchSupport.h"
#include "declick/CClickScanner.h"
#include "declick/CCorrector.h"
#include "declick/ScanParams.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "document/EventRecord.h"
#include "operations/ProcessRecording.h"
#include "settings/SettingsStore.h"
#include "tests/support/Signals.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace kelvane::bench;
using kelvane::CQuillon3Doc;
using kelvane::LoadOutcome;

constexpr double kTargetRealTime = 300.0;

// --- the recording ----------------------------------------------------------

// The music under the clicks is the load benchmark's (MusicSynth); the
// clicks laid on it are made here.

struct Click {
    int64_t frame = 0;
    int width = 0;
    int32_t amplitude = 0;
    unsigned mask = 0;
    uint64_t seed = 0;
};

constexpr int64_t kClickWindowFrames = 10 * kRate;
constexpr int kClicksPerWindow = 25;  // 150 a minute, 3,000 on a 20-minute side
constexpr int kMaxClickWidth = 40;

// The clicks whose first frame lies in window w, in frame order. Most are
// short, as on a real record, with a tail of long ones for the spectral
// repair; strengths run from barely above loud music to near full scale.
std::vector<Click> WindowClicks(int64_t w)
{
    kelvane::test::Prng rng(0xC11C0000u + static_cast<uint64_t>(w));
    std::vector<Click> clicks(kClicksPerWindow);
    for (Click& c : clicks) {
        c.frame = w * kClickWindowFrames + rng.Range(0, kClickWindowFrames - 1);
        const int64_t kind = rng.Range(0, 99);
        c.width = static_cast<int>(kind < 60 ? rng.Range(1, 8) : kind < 90 ? rng.Range(9, 24)
                                                                            : rng.Range(25, kMaxClickWidth));
        // Roughly even across the octaves from 1500 to 24000.
        const int64_t octave = rng.Range(0, 3);
        c.amplitude = static_cast<int32_t>((1500 << octave) + rng.Range(0, 1500 << octave));
        const int64_t side = rng.Range(0, 9);
        c.mask = side < 6 ? kelvane::test::kBoth : side < 8 ? kelvane::test::kLeft : kelvane::test::kRight;
        c.seed = rng.Next();
    }
    std::sort(clicks.begin(), clicks.end(), [](const Click& a, const Click& b) { return a.frame < b.frame; });
    return clicks;
}

// Where the clicks of a side of `minutes` start, in ascending order.
std::vector<int64_t> LaidFrames(int minutes)
{
    const int64_t frames = int64_t{minutes} * 60 * kRate;
    std::vector<int64_t> out;
    for (int64_t w = 0; w * kClickWindowFrames < frames; ++w)
        for (const Click& c : WindowClicks(w))
            if (c.frame < frames) out.push_back(c.frame);
    return out;
}

// How the scan's records line up with the clicks laid: records within a
// short distance of a laid click, and laid clicks with at least one record
// near them. Only a rough check that the timing is of a scan doing its job;
// the scanner's own tests judge its detection.
struct Tally {
    int64_t recordsNearLaid = 0;
    int64_t laidFound = 0;
};

Tally CountAgainstLaid(const CQuillon3Doc& d, const std::vector<int64_t>& laid)
{
    constexpr int64_t kNear = 64;  // frames
    Tally t;
    std::vector<bool> hit(laid.size(), false);
    for (int32_t i = 1; i + 1 < d.events.Size(); ++i) {
        const kelvane::EventRecord& e = d.events[i];
        if (!e.IsCorrection()) continue;
        const int64_t frame = (int64_t{e.pos} - d.dataStart) / kFrameBytes;
        auto it = std::lower_bound(laid.begin(), laid.end(), frame - kNear - kMaxClickWidth);
        bool near = false;
        for (; it != laid.end() && *it <= frame + kNear; ++it) {
            near = true;
            hit[static_cast<size_t>(it - laid.begin())] = true;
        }
        t.recordsNearLaid += near;
    }
    t.laidFound = std::count(hit.begin(), hit.end(), true);
    return t;
}

// Frames [first, first + count) of the clicked side as 16-bit stereo. The
// block is made from kMaxClickWidth frames earlier, so a click that began in
// the previous block is laid again in full and its tail comes out the same
// whatever the block boundaries; clicks are added in frame order for the same
// reason (the clipping of overlapping ones depends on the order).
void FillSide(int64_t first, int64_t count, std::vector<int32_t>& scratch, int16_t* out)
{
    const int64_t start = std::max<int64_t>(0, first - kMaxClickWidth);
    const int64_t lead = first - start;
    scratch.resize(static_cast<size_t>(2 * (lead + count)));
    Music().Fill(start, lead + count, scratch.data());
    const int64_t end = first + count;
    for (int64_t w = start / kClickWindowFrames; w * kClickWindowFrames < end; ++w) {
        for (const Click& c : WindowClicks(w)) {
            if (c.frame < start || c.frame >= end) continue;
            kelvane::test::AddClick(scratch, 2, static_cast<size_t>(c.frame - start), c.width, c.amplitude, c.mask,
                                    c.seed);
        }
    }
    for (int64_t i = 0; i < 2 * count; ++i) out[i] = static_cast<int16_t>(scratch[static_cast<size_t>(2 * lead + i)]);
}

// The scratch folder and the clicked sides in it. The folder goes with the
// process, and with it every working file a pass left behind.
Sides& TheSides()
{
    static Sides sides("kelvane-bench-process",
                       [scratch = std::vector<int32_t>()](int64_t first, int64_t count, int16_t* out) mutable {
                           FillSide(first, count, scratch, out);
                       });
    return sides;
}

// --- the user ---------------------------------------------------------------

// The settings a document of the rig starts from: the working file beside
// the input, and the default sensitivity.
kelvane::CMemorySettings RigSettings()
{
    kelvane::CMemorySettings settings = SameFolderSettings();
    settings.Set(kelvane::settings::Sensitivity, 3);
    return settings;
}

// Imports the side and runs the automatic processing on it. Returns an empty
// string when it ran through to "ready to save" without asking anything,
// else what went wrong. The document is left loaded.
std::string ProcessOnce(DocumentRig& rig, const std::string& path)
{
    if (!kelvane::OpenRecording(rig.doc, path).Ok()) return "open failed: " + rig.ui.lastText;
    // The load, the click scan and the corrections: the track finder is not
    // what this measures.
    kelvane::ProcessRequest request;
    request.splitTracks = 0;
    if (!kelvane::ProcessRecording(rig.doc, request).Ok()) return "the processing did not complete: " + rig.ui.lastText;
    if (rig.doc.status != kelvane::kStatusReadyToSave) return "the processing did not end ready to save";
    if (rig.ui.shown != 0) return "the processing asked a question: " + rig.ui.lastText;
    return {};
}

// --- results kept for the summary -------------------------------------------

std::map<int, int32_t>& ClicksFound()
{
    static std::map<int, int32_t> found;
    return found;
}

std::map<int, Tally>& Tallies()
{
    static std::map<int, Tally> tallies;
    return tallies;
}

struct MemoryFigures {
    double growthKiB = 0;    // peak resident memory during import + processing, above the start
    double arraysKiB = 0;    // the per-block and per-segment arrays the document keeps
    double eventsKiB = 0;    // the event list and the staging list, at their capacity
    double inputMiB = 0;
    int32_t clicks = 0;
    bool fromHighWater = false;  // false: getrusage fallback, coarser
    char error[160] = {};
};

std::map<int, MemoryFigures>& Memory()
{
    static std::map<int, MemoryFigures> memory;
    return memory;
}

// Empties the document and checks that its working file went with it.
std::string Empty(DocumentRig& rig)
{
    const std::string workingPath = rig.doc.workingPath;
    rig.doc.DeleteContents();
    if (!workingPath.empty() && fs::exists(workingPath)) return "emptying the document left the working file behind";
    return {};
}

// --- the load pass alone ------------------------------------------------------

// Open, copy and block statistics with no scanner, then emptying the
// document: what the processing costs before any click is looked for.
void BM_LoadPass(benchmark::State& state)
{
    const int minutes = static_cast<int>(state.range(0));
    const fs::path& side = TheSides().Side(minutes);
    const int64_t bytes = FileBytes(side);
    const SourceStamp before(side);
    DocumentRig rig{RigSettings()};
    auto loadOnce = [&]() -> std::string {
        if (!kelvane::OpenRecording(rig.doc, side.string()).Ok()) return "open failed: " + rig.ui.lastText;
        if (kelvane::LoadRecording(rig.doc, nullptr) != LoadOutcome::Completed)
            return "load did not complete: " + rig.ui.lastText;
        if (rig.ui.shown != 0) return "the load asked a question: " + rig.ui.lastText;
        return Empty(rig);
    };
    // Once untimed, so the first timed run pays for nothing a session pays once.
    if (std::string e = loadOnce(); !e.empty()) {
        state.SkipWithError(e.c_str());
        return;
    }
    auto& times = Timings()["load/" + std::to_string(minutes)];
    for (auto _ : state) {
        Stopwatch watch;
        const std::string e = loadOnce();
        times.push_back(watch.Seconds());
        if (!e.empty()) {
            state.SkipWithError(e.c_str());
            break;
        }
    }
    if (!(SourceStamp(side) == before)) state.SkipWithError("the source recording was written");
    SetRateCounters(state, minutes, bytes);
}

// --- the whole processing -----------------------------------------------------

void BM_Process(benchmark::State& state)
{
    const int minutes = static_cast<int>(state.range(0));
    const fs::path& side = TheSides().Side(minutes);
    const int64_t bytes = FileBytes(side);
    const SourceStamp before(side);
    const std::vector<int64_t> laidFrames = LaidFrames(minutes);
    const auto laid = static_cast<int64_t>(laidFrames.size());
    DocumentRig rig{RigSettings()};
    int32_t clicks = 0;
    std::optional<Tally> tally;
    auto processOnce = [&]() -> std::string {
        if (std::string e = ProcessOnce(rig, side.string()); !e.empty()) return e;
        clicks = rig.doc.events.Size() - 2;
        // Once, in the untimed run: the comparison is not part of the work.
        if (!tally) tally = CountAgainstLaid(rig.doc, laidFrames);
        // A scan that misses most of the clicks would make the timing
        // flatter than the real work.
        if (2 * tally->laidFound < laid) return "the scan found fewer than half the clicks laid";
        if (rig.doc.workingFile.Length() != bytes) return "the working file does not have the length of the source";
        return Empty(rig);
    };
    if (std::string e = processOnce(); !e.empty()) {
        state.SkipWithError(e.c_str());
        return;
    }
    auto& times = Timings()["process/" + std::to_string(minutes)];
    for (auto _ : state) {
        Stopwatch watch;
        const std::string e = processOnce();
        times.push_back(watch.Seconds());
        if (!e.empty()) {
            state.SkipWithError(e.c_str());
            break;
        }
    }
    if (!(SourceStamp(side) == before)) state.SkipWithError("the source recording was written");
    ClicksFound()[minutes] = clicks;
    SetRateCounters(state, minutes, bytes);
    state.counters["clicks"] = clicks;
    state.counters["clicksLaid"] = static_cast<double>(laid);
    if (tally) {
        state.counters["laidFound"] = static_cast<double>(tally->laidFound);
        state.counters["nearLaid"] = static_cast<double>(tally->recordsNearLaid);
        Tallies()[minutes] = *tally;
    }
    const auto& load = Timings()["load/" + std::to_string(minutes)];
    if (!load.empty() && !times.empty()) state.counters["loadShare"] = Mean(load) / Mean(times);
}

// The same chain driven stage by stage, each stage timed on its own: the
// import, the load pass with the scanner in it, the corrections, and emptying
// the document. The stages are the processing's own; only the options
// dialog, the track finder and the recovery of a stopped stage, none of which
// runs here, are left out.
void BM_ProcessStages(benchmark::State& state)
{
    const int minutes = static_cast<int>(state.range(0));
    const fs::path& side = TheSides().Side(minutes);
    const int64_t bytes = FileBytes(side);
    std::string m = "/";
    m += std::to_string(minutes);
    DocumentRig rig{RigSettings()};
    CQuillon3Doc& d = rig.doc;
    std::array<double, 4> lap{};
    auto stagesOnce = [&]() -> std::string {
        Stopwatch open;
        if (!kelvane::OpenRecording(d, side.string()).Ok()) return "open failed: " + rig.ui.lastText;
        lap[0] = open.Seconds();
        Stopwatch scan;
        {
            kelvane::CClickScanner scanner(d, kelvane::ScanParams::FromDocument(d));
            if (kelvane::LoadRecording(d, &scanner) != LoadOutcome::Completed)
                return "load did not complete: " + rig.ui.lastText;
        }
        lap[1] = scan.Seconds();
        if (d.status != kelvane::kStatusNotCorrected) return "the load scan did not end with the corrections due";
        if (d.events.Size() <= 2) return "the load scan found no clicks";
        Stopwatch correct;
        kelvane::CCorrector corrector(d);
        if (corrector.GenerateAll(d.events) != kelvane::GenerateOutcome::Completed)
            return "the corrections were not all made";
        lap[2] = correct.Seconds();
        if (rig.ui.shown != 0) return "the processing asked a question: " + rig.ui.lastText;
        Stopwatch empty;
        std::string e = Empty(rig);
        lap[3] = empty.Seconds();
        return e;
    };
    if (std::string e = stagesOnce(); !e.empty()) {
        state.SkipWithError(e.c_str());
        return;
    }
    const char* names[] = {"stage.open", "stage.load+scan", "stage.corrections", "stage.empty"};
    for (auto _ : state) {
        const std::string e = stagesOnce();
        if (!e.empty()) {
            state.SkipWithError(e.c_str());
            break;
        }
        for (size_t i = 0; i < lap.size(); ++i) Timings()[names[i] + m].push_back(lap[i]);
    }
    SetRateCounters(state, minutes, bytes);
    const double total = Mean(Timings()["stage.open" + m]) + Mean(Timings()["stage.load+scan" + m]) +
                         Mean(Timings()["stage.corrections" + m]) + Mean(Timings()["stage.empty" + m]);
    if (total > 0) {
        state.counters["openShare"] = Mean(Timings()["stage.open" + m]) / total;
        state.counters["loadScanShare"] = Mean(Timings()["stage.load+scan" + m]) / total;
        state.counters["correctShare"] = Mean(Timings()["stage.corrections" + m]) / total;
        state.counters["emptyShare"] = Mean(Timings()["stage.empty" + m]) / total;
    }
}

// --- memory -------------------------------------------------------------------

// Runs in the forked child: import and process once, and measure how far the
// resident set rose above where it started.
MemoryFigures MeasureInChild(const fs::path& side)
{
    MemoryFigures m;
    DocumentRig rig{RigSettings()};
    const bool highWater = ResetHighWater();
    const std::optional<int64_t> startKiB = StatusKiB("VmRSS");
    if (!startKiB) {
        std::snprintf(m.error, sizeof m.error, "cannot read /proc/self/status");
        return m;
    }
    if (std::string e = ProcessOnce(rig, side.string()); !e.empty()) {
        std::snprintf(m.error, sizeof m.error, "%s", e.c_str());
        return m;
    }
    const int64_t peakKiB = PeakKiB(highWater);
    m.fromHighWater = highWater;
    m.growthKiB = static_cast<double>(peakKiB - *startKiB);
    const CQuillon3Doc& d = rig.doc;
    m.arraysKiB = DocumentArraysKiB(d);
    m.eventsKiB = static_cast<double>((static_cast<size_t>(d.events.Capacity()) +
                                       static_cast<size_t>(d.staging.Capacity())) *
                                      sizeof(kelvane::EventRecord)) /
                  1024.0;
    m.clicks = d.events.Size() - 2;
    m.inputMiB = static_cast<double>(FileBytes(side)) / (1024.0 * 1024.0);
    rig.doc.DeleteContents();
    return m;
}

void BM_ProcessPeakMemory(benchmark::State& state)
{
    const int minutes = static_cast<int>(state.range(0));
    const fs::path& side = TheSides().Side(minutes);
    MemoryFigures m;
    for (auto _ : state) {
        if (!MeasureInFork(state, m, [&] { return MeasureInChild(side); })) return;
    }
    Memory()[minutes] = m;
    state.counters["peakGrowthKiB"] = m.growthKiB;
    state.counters["arraysKiB"] = m.arraysKiB;
    state.counters["eventsKiB"] = m.eventsKiB;
    state.counters["lessStateKiB"] = m.growthKiB - m.arraysKiB - m.eventsKiB;
    state.counters["clicks"] = m.clicks;
    state.counters["inputMiB"] = m.inputMiB;
}

// The load pass first, so the processing can state its share.
BENCHMARK(BM_LoadPass)->Arg(20)->ArgName("min")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Process)->Arg(5)->Arg(20)->ArgName("min")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ProcessStages)->Arg(20)->ArgName("min")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ProcessPeakMemory)->Arg(5)->Arg(20)->ArgName("min")->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// The figures the targets are stated in, from this one run.
void PrintSummary()
{
    const double limit = AudioSeconds(20) / kTargetRealTime;
    for (const bool best : {false, true}) {
        std::printf("\nSummary, %s of the timed iterations (wall clock):\n", best ? "best" : "mean");
        const double process = TimingStat("process/20", best);
        const double load = TimingStat("load/20", best);
        if (process > 0) {
            std::printf("  processing, 20 min side: %.3f s = %.0fx real time (target >= %.0fx, <= %.1f s): %s\n",
                        process, AudioSeconds(20) / process, kTargetRealTime, limit,
                        process <= limit ? "met" : "MISSED");
            if (ClicksFound().count(20) && Tallies().count(20)) {
                const Tally& tl = Tallies().at(20);
                std::printf("  records: %d for %lld clicks laid; %lld of those clicks have a record near them, "
                            "%lld records are near none\n",
                            ClicksFound().at(20), static_cast<long long>(LaidFrames(20).size()),
                            static_cast<long long>(tl.laidFound),
                            static_cast<long long>(ClicksFound().at(20) - tl.recordsNearLaid));
            }
        }
        if (process > 0 && load > 0) {
            std::printf("  load pass alone: %.3f s (%.0f%% of the processing); scan + corrections %.3f s (%.0f%%)\n",
                        load, 100.0 * load / process, process - load, 100.0 * (process - load) / process);
        }
        double stages = 0;
        for (const char* s : {"stage.open/20", "stage.load+scan/20", "stage.corrections/20", "stage.empty/20"})
            stages += TimingStat(s, best);
        if (stages > 0) {
            for (const char* s : {"stage.open/20", "stage.load+scan/20", "stage.corrections/20", "stage.empty/20"})
                std::printf("  %-22s %.3f s (%.0f%% of the stages)\n", s, TimingStat(s, best), 100.0 * TimingStat(s, best) / stages);
            const double loadScan = TimingStat("stage.load+scan/20", best);
            if (load > 0 && loadScan > 0)
                std::printf("  the scan inside the load pass: about %.3f s\n", loadScan - load);
        }
        const double process5 = TimingStat("process/5", best);
        if (process5 > 0 && process > 0)
            std::printf("  processing 20 min / 5 min: %.2f (4 if linear)\n", process / process5);
    }
    const auto& mem = Memory();
    if (!mem.empty()) std::printf("\nPeak resident memory, above the start of the import:\n");
    for (const auto& [minutes, m] : mem) {
        std::printf("  %2d min side (%.0f MiB, %d clicks): %.0f KiB; block arrays %.0f KiB, event lists %.0f KiB; "
                    "without them %.0f KiB%s\n",
                    minutes, m.inputMiB, m.clicks, m.growthKiB, m.arraysKiB, m.eventsKiB,
                    m.growthKiB - m.arraysKiB - m.eventsKiB, m.fromHighWater ? "" : " (getrusage fallback)");
    }
    if (mem.count(5) && mem.count(20)) {
        const MemoryFigures& a = mem.at(5);
        const MemoryFigures& b = mem.at(20);
        std::printf("  20 min - 5 min: %.0f KiB in all, %.0f KiB without the document's arrays and lists "
                    "(the input grew by %.0f MiB)\n",
                    b.growthKiB - a.growthKiB,
                    (b.growthKiB - b.arraysKiB - b.eventsKiB) - (a.growthKiB - a.arraysKiB - a.eventsKiB),
                    b.inputMiB - a.inputMiB);
    }
}

}  // namespace

int main(int argc, char** argv) { return kelvane::bench::RunBenchmarks(argc, argv, "bench_process", PrintSummary); }
