// Speed and memory of the load pass over a whole side.
//
// Targets, for a 20-minute 44.1 kHz 16-bit stereo side with a warm page
// cache, one core:
//   - the load pass (open, copy into the working file, block statistics, no
//     scanner, then emptying the document) runs at >= 1000x real time, i.e.
//     <= 1.2 s;
//   - it takes at most twice as long as a plain copy of the same file in
//     256 KiB reads and writes (BM_CopyReadWrite, the reference);
//   - its peak memory does not grow with the length of the side beyond the
//     per-block arrays the document keeps (8 bytes per 4096-byte block).
//
// The recordings are synthesised once per process into a scratch folder and
// synced, so their pages are clean and cached: what is timed is the pass, not
// the disk. Every timed body ends by deleting what it wrote (the load pass's
// working file, the copy's new file), so both sides pay for that alike.
//
// BM_ReadOnly and BM_BlockStatistics split the load pass into its parts:
// reading alone, and the statistics alone on data already in memory.
//
// The memory figures come from a forked child per length (a fresh
// high-water mark that earlier benchmarks cannot have raised); their "time"
// column is the child's whole run and means nothing.


#include "bench/BenchSupport.h"
#include "document/CBlockStatistics.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

constexpr size_t kCopyChunk = 256 * 1024;

// The scratch folder and the plain music sides in it; the folder goes with
// the process.
Sides& TheSides()
{
    static Sides sides("kelvane-bench-load", [](int64_t first, int64_t count, int16_t* out) {
        Music().Fill(first, count, out);
    });
    return sides;
}

// One load pass as the program runs it when no scan is wanted. Returns an
// empty string on success, else what went wrong.
std::string LoadOnce(DocumentRig& rig, const std::string& path)
{
    if (!kelvane::OpenRecording(rig.doc, path).Ok()) return "open failed: " + rig.ui.lastText;
    const LoadOutcome outcome = kelvane::LoadRecording(rig.doc, nullptr);
    if (outcome != LoadOutcome::Completed) return "load did not complete: " + rig.ui.lastText;
    if (rig.ui.shown != 0) return "the load asked a question: " + rig.ui.lastText;
    return {};
}

// --- results kept for the summary -------------------------------------------

struct MemoryFigures {
    double growthKiB = 0;    // peak resident memory during import + load, above the start
    double passKiB = 0;      // the same peak above the level right after the import
    double arraysKiB = 0;    // the per-block and per-segment arrays the document keeps
    double inputMiB = 0;
    bool fromHighWater = false;  // false: getrusage fallback, coarser
    char error[160] = {};
};

std::map<int, MemoryFigures>& Memory()
{
    static std::map<int, MemoryFigures> memory;
    return memory;
}

// --- the reference copies ---------------------------------------------------

std::string CopyReadWrite(const fs::path& from, const fs::path& to)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return "cannot open the input";
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        ::close(in);
        return "cannot create the copy";
    }
    static std::vector<uint8_t> buffer(kCopyChunk);
    std::string error;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "read failed";
            break;
        }
        if (n == 0) break;
        if (!WriteAll(out, buffer.data(), static_cast<size_t>(n))) {
            error = "write failed";
            break;
        }
    }
    ::close(out);
    ::close(in);
    return error;
}

std::string CopyFileRange(const fs::path& from, const fs::path& to)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return "cannot open the input";
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        ::close(in);
        return "cannot create the copy";
    }
    std::string error;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::string("copy_file_range failed: ") + std::strerror(errno);
            break;
        }
        if (n == 0) break;
    }
    ::close(out);
    ::close(in);
    return error;
}

std::string CopyWithFilesystem(const fs::path& from, const fs::path& to)
{
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    return ec ? "copy_file failed: " + ec.message() : std::string();
}

template <typename Copy>
void RunCopy(benchmark::State& state, const char* name, Copy copy)
{
    const int minutes = static_cast<int>(state.range(0));
    const fs::path& side = TheSides().Side(minutes);
    const fs::path target = TheSides().Folder() / "copy.wav";
    const int64_t bytes = FileBytes(side);
    // Once untimed, so the first timed run does not pay for anything cold.
    if (std::string e = copy(side, target); !e.empty()) {
        state.SkipWithError(e.c_str());
        return;
    }
    fs::remove(target);
    auto& times = Timings()[std::string(name) + "/" + std::to_string(minutes)];
    for (auto _ : state) {
        Stopwatch watch;
        const std::string e = copy(side, target);
        if (!e.empty()) {
            state.SkipWithError(e.c_str());
            break;
        }
        fs::remove(target);
        times.push_back(watch.Seconds());
    }
    SetRateCounters(state, minutes, bytes);
}

void BM_CopyReadWrite(benchmark::State& state) { RunCopy(state, "copy", CopyReadWrite); }
void BM_CopyFileRange(benchmark::State& state) { RunCopy(state, "copy_file_range", CopyFileRange); }
void BM_CopyFilesystem(benchmark::State& state) { RunCopy(state, "fs::copy_file", CopyWithFilesystem); }

// --- the parts of the load pass -------------------------------------------

// Reading the side in the load pass's chunk size, without writing anything.
void BM_ReadOnly(benchmark::State& state)
{
    const int minutes = static_cast<int>(state.range(0));
    const fs::path& side = TheSides().Side(minutes);
    const int64_t bytes = FileBytes(side);
    std::vector<uint8_t> buffer(kelvane::kSegmentBytes + 4096);
    const int fd = ::open(side.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("cannot open the side");
        return;
    }
    auto& times = Timings()["read/" + std::to_string(minutes)];
    for (auto _ : state) {
        Stopwatch watch;
        int64_t total = 0;
        for (int64_t off = 0; off < bytes; off += kelvane::kSegmentBytes) {
            const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), off);
            if (n <= 0) break;
            total += n;
        }
        benchmark::DoNotOptimize(total);
        times.push_back(watch.Seconds());
    }
    ::close(fd);
    SetRateCounters(state, minutes, bytes);
}

// The block statistics alone over a side's worth of frames already in
// memory: the load pass's computing, without its file traffic. A 16 MiB
// stretch of the side is cycled so the data is real music but cache-cold
// like a fresh chunk from the page cache.
void BM_BlockStatistics(benchmark::State& state)
{
    const int minutes = static_cast<int>(state.range(0));
    const int64_t frames = int64_t{minutes} * 60 * kRate;
    constexpr int64_t kStretchFrames = 4 << 20;
    std::vector<int16_t> stretch(static_cast<size_t>(2 * kStretchFrames));
    Music().Fill(12 * kRate, kStretchFrames, stretch.data());
    const int64_t units = frames * kFrameBytes;
    const int32_t dataStart = 44;
    std::vector<int32_t> level;
    std::vector<std::array<int8_t, 4>> envelope;
    constexpr int64_t kChunkFrames = kelvane::kSegmentBytes / kFrameBytes;
    auto& times = Timings()["statistics/" + std::to_string(minutes)];
    for (auto _ : state) {
        state.PauseTiming();
        level.assign(static_cast<size_t>((dataStart + units) / kelvane::kBlockBytes + 1), 0);
        envelope.assign(level.size(), {0, 0, 0, 0});
        state.ResumeTiming();
        Stopwatch watch;
        kelvane::CBlockStatistics stats(level, envelope);
        for (int64_t f = 0; f < frames; f += kChunkFrames) {
            const int64_t n = std::min(kChunkFrames, frames - f);
            const int16_t* p = stretch.data() + 2 * (f % kStretchFrames);
            stats.Add(static_cast<int32_t>(dataStart + f * kFrameBytes), p, static_cast<int32_t>(n));
        }
        stats.Finish();
        benchmark::DoNotOptimize(level.data());
        benchmark::DoNotOptimize(envelope.data());
        times.push_back(watch.Seconds());
    }
    SetRateCounters(state, minutes, units);
}

// --- the load pass ------------------------------------------------------------

void BM_LoadPass(benchmark::State& state)
{
    const int minutes = static_cast<int>(state.range(0));
    const fs::path& side = TheSides().Side(minutes);
    const int64_t bytes = FileBytes(side);
    const SourceStamp before(side);
    DocumentRig rig;
    // Once untimed: the first run would otherwise also pay for first-use
    // costs (allocator growth, directory lookups) that a session pays once.
    if (std::string e = LoadOnce(rig, side.string()); !e.empty()) {
        state.SkipWithError(e.c_str());
        return;
    }
    rig.doc.DeleteContents();
    auto& times = Timings()["load/" + std::to_string(minutes)];
    for (auto _ : state) {
        Stopwatch watch;
        const std::string e = LoadOnce(rig, side.string());
        if (!e.empty()) {
            state.SkipWithError(e.c_str());
            break;
        }
        const int64_t working = rig.doc.workingFile.Length();
        const std::string workingPath = rig.doc.workingPath;
        rig.doc.DeleteContents();
        times.push_back(watch.Seconds());
        if (working != bytes) {
            state.SkipWithError("the working file does not have the length of the source");
            break;
        }
        if (fs::exists(workingPath)) {
            state.SkipWithError("emptying the document left the working file behind");
            break;
        }
    }
    if (!(SourceStamp(side) == before)) state.SkipWithError("the source recording was written");
    SetRateCounters(state, minutes, bytes);
    const auto& copy = Timings()["copy/" + std::to_string(minutes)];
    if (!copy.empty() && !times.empty()) state.counters["vsCopy"] = Mean(times) / Mean(copy);
}

// --- memory -------------------------------------------------------------------

// Runs in the forked child: import and load once, and measure how far the
// resident set rose above where it started.
MemoryFigures MeasureInChild(const fs::path& side)
{
    MemoryFigures m;
    DocumentRig rig;
    const bool highWater = ResetHighWater();
    const std::optional<int64_t> startKiB = StatusKiB("VmRSS");
    if (!startKiB) {
        std::snprintf(m.error, sizeof m.error, "cannot read /proc/self/status");
        return m;
    }
    if (!kelvane::OpenRecording(rig.doc, side.string()).Ok()) {
        std::snprintf(m.error, sizeof m.error, "open failed: %s", rig.ui.lastText.c_str());
        return m;
    }
    const int64_t openedKiB = StatusKiB("VmRSS").value_or(*startKiB);
    if (kelvane::LoadRecording(rig.doc, nullptr) != LoadOutcome::Completed || rig.ui.shown != 0) {
        std::snprintf(m.error, sizeof m.error, "the load did not go through: %s", rig.ui.lastText.c_str());
        return m;
    }
    const int64_t peakKiB = PeakKiB(highWater);
    m.fromHighWater = highWater;
    m.growthKiB = static_cast<double>(peakKiB - *startKiB);
    m.passKiB = static_cast<double>(peakKiB - openedKiB);
    const CQuillon3Doc& d = rig.doc;
    m.arraysKiB = DocumentArraysKiB(d);
    m.inputMiB = static_cast<double>(FileBytes(side)) / (1024.0 * 1024.0);
    rig.doc.DeleteContents();
    return m;
}

void BM_LoadPeakMemory(benchmark::State& state)
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
    state.counters["lessArraysKiB"] = m.growthKiB - m.arraysKiB;
    state.counters["passOnlyKiB"] = m.passKiB;
    state.counters["inputMiB"] = m.inputMiB;
}

// The copies first, so the load pass can state its ratio to them.
BENCHMARK(BM_CopyReadWrite)->Arg(20)->ArgName("min")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_CopyFileRange)->Arg(20)->ArgName("min")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_CopyFilesystem)->Arg(20)->ArgName("min")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ReadOnly)->Arg(20)->ArgName("min")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_BlockStatistics)->Arg(20)->ArgName("min")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_LoadPass)->Arg(5)->Arg(20)->ArgName("min")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_LoadPeakMemory)->Arg(5)->Arg(20)->ArgName("min")->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// The figures the targets are stated in, from this one run.
void PrintSummary()
{
    for (const bool best : {false, true}) {
        std::printf("\nSummary, %s of the timed iterations (wall clock):\n", best ? "best" : "mean");
        const double load = TimingStat("load/20", best);
        const double copy = TimingStat("copy/20", best);
        if (load > 0) {
            std::printf("  load pass, 20 min side: %.3f s = %.0fx real time (target >= 1000x, <= 1.2 s): %s\n", load,
                        AudioSeconds(20) / load, load <= 1.2 ? "met" : "MISSED");
        }
        if (load > 0 && copy > 0) {
            std::printf("  plain copy (256 KiB read/write): %.3f s; load / copy = %.2f (target <= 2): %s\n", copy,
                        load / copy, load / copy <= 2.0 ? "met" : "MISSED");
        }
        for (const char* other : {"copy_file_range/20", "fs::copy_file/20", "read/20", "statistics/20"}) {
            const double v = TimingStat(other, best);
            if (v > 0 && load > 0)
                std::printf("  %-20s %.3f s (%.0f%% of the load pass)\n", other, v, 100.0 * v / load);
        }
        const double load5 = TimingStat("load/5", best);
        if (load5 > 0 && load > 0) std::printf("  load 20 min / load 5 min: %.2f (4 if linear)\n", load / load5);
    }
    const auto& mem = Memory();
    if (!mem.empty()) std::printf("\nPeak resident memory, above the start of the import:\n");
    for (const auto& [minutes, m] : mem) {
        std::printf("  %2d min side (%.0f MiB): %.0f KiB; the document's arrays %.0f KiB; without them %.0f KiB; "
                    "above the level after the import %.0f KiB%s\n",
                    minutes, m.inputMiB, m.growthKiB, m.arraysKiB, m.growthKiB - m.arraysKiB, m.passKiB,
                    m.fromHighWater ? "" : " (getrusage fallback)");
    }
    if (mem.count(5) && mem.count(20)) {
        const MemoryFigures& a = mem.at(5);
        const MemoryFigures& b = mem.at(20);
        std::printf("  20 min - 5 min: %.0f KiB with the arrays, %.0f KiB without (the input grew by %.0f MiB)\n",
                    b.growthKiB - a.growthKiB, (b.growthKiB - b.arraysKiB) - (a.growthKiB - a.arraysKiB),
                    b.inputMiB - a.inputMiB);
    }
}

}  // namespace

int main(int argc, char** argv) { return kelvane::bench::RunBenchmarks(argc, argv, "bench_load", PrintSummary); }
