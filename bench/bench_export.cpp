// Speed and memory of writing a processed side out as one track: to WAV, to
// FLAC at the default level (5, verified while encoding, as the export
// always does) and to Ogg Vorbis at the default quality (0.80), set against
// Debian's own command-line encoders on the very same audio.
//
// The side is the load benchmark's synthesised music and surface noise, 20
// minutes of 44.1 kHz 16-bit stereo, loaded into a document once per
// process, with one track over all of it. The WAV our export writes is
// kept, synced, as the input of the reference encoders:
//   flac -5 -f -s       what the library does at our level, unverified;
//   flac -5 -V ...      the same with verification, our like for like;
//   oggenc -Q -q 8      the same Vorbis quality as ours.
// Each tool is started without a shell and timed as the wall time of the
// child, from spawn to reaped; its CPU time comes from the child's rusage
// and is the cpuSeconds counter (the CPU column is this process's, idle).
// Our side is timed from the WriteTrack call to its return: reading the
// working file, the fades, the encoding and the writing, with nothing a
// tool does not also do. Every output is deleted right after its iteration,
// before its dirty pages can be written back into the next timed run.
//
// The memory figures come from a forked child per format and length, which
// loads its own side and then measures how far one export raises the peak
// resident set above where it started. Their "time" column is the child's
// whole run and means nothing.
//
// The summary at the end prints the ratios ours / tool, so one run gives
// the figures. A missing tool skips its comparison and says so.

#include "bench/BenchSupport.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "output/CTrackExporter.h"
#include "output/OutputNames.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace kelvane::bench;
using kelvane::CQuillon3Doc;
using kelvane::ExportOptions;
using kelvane::WriteResult;

constexpr int kMinutes = 20;

// --- the side and the document ------------------------------------------------

// Loads path into the rig's document and adds one track over all of it,
// tagged as a user would tag it. Returns the track's index, or nothing with
// why in error.
std::optional<int32_t> LoadSide(DocumentRig& rig, const fs::path& path, std::string& error)
{
    if (!kelvane::OpenRecording(rig.doc, path.string()).Ok()) {
        error = "open failed: " + rig.ui.lastText;
        return std::nullopt;
    }
    if (kelvane::LoadRecording(rig.doc, nullptr) != kelvane::LoadOutcome::Completed) {
        error = "load did not complete: " + rig.ui.lastText;
        return std::nullopt;
    }
    kelvane::TrackRecord t;
    t.start = rig.doc.dataStart;
    t.end = rig.doc.dataEnd;
    t.title = "Side One";
    t.artist = "The Synthesisers";
    t.album = "Benchmarks";
    t.genre = "Test";
    return rig.doc.tracks.Add(t);
}

ExportOptions OptionsFor(int fileType)
{
    ExportOptions o;  // FLAC level index 1 (level 5), Ogg quality index 5 (0.80)
    o.fileType = fileType;
    return o;
}

const char* ExtensionOf(int fileType)
{
    return fileType == kelvane::kFileTypeFlac ? "flac" : fileType == kelvane::kFileTypeOgg ? "ogg" : "wav";
}

// Flushes a file's dirty pages, so their writeback does not land in a timed
// run. False when the file cannot be opened or synced.
bool SyncFile(const fs::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// What every timed case shares, set up on first use: the scratch folder
// with its sides, a document holding the 20-minute side, and the WAV our
// export made of it for the tools. Members go in reverse order, so the
// document (and its working file) goes before the folder.
struct Rig {
    Sides sides{"kelvane-bench-export",
                [](int64_t first, int64_t count, int16_t* out) { Music().Fill(first, count, out); }};
    std::unique_ptr<DocumentRig> doc;
    int32_t track = 0;
    fs::path wav;
    std::string error;  // empty once ready

    Rig()
    {
        const fs::path& side = sides.Side(kMinutes);
        doc = std::make_unique<DocumentRig>();
        const std::optional<int32_t> t = LoadSide(*doc, side, error);
        if (!t) return;
        track = *t;
        wav = sides.Folder() / "reference.wav";
        kelvane::CTrackExporter exporter(doc->doc, OptionsFor(kelvane::kFileTypeWav));
        if (exporter.WriteTrack(track, 1, wav.string(), false, false) != WriteResult::Written) {
            error = "the reference WAV could not be written: " + doc->ui.lastText;
            return;
        }
        if (!SyncFile(wav) || !SyncFile(doc->doc.workingPath)) error = "cannot sync the scratch files";
    }
};

Rig& TheRig()
{
    static Rig rig;
    return rig;
}

// --- child processes ------------------------------------------------------------

// Whether PATH holds an executable name, looked up the way posix_spawnp
// will, so a missing tool is reported before anything is timed.
bool OnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const fs::path candidate = fs::path(dir.empty() ? "." : dir) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return true;
    }
    return false;
}

// --- results kept for the summary -----------------------------------------------

// CPU seconds of each timed iteration, by the same keys as Timings().
std::map<std::string, std::vector<double>>& CpuTimings()
{
    static std::map<std::string, std::vector<double>> timings;
    return timings;
}

void SetCounters(benchmark::State& state, const std::string& key, const fs::path& output, int64_t outputBytes)
{
    const double wall = Mean(Timings()[key]);
    if (wall > 0) state.counters["xRealTime"] = AudioSeconds(kMinutes) / wall;
    state.counters["cpuSeconds"] = Mean(CpuTimings()[key]);
    state.counters["outputMiB"] = static_cast<double>(outputBytes) / (1024.0 * 1024.0);
    state.SetLabel(output.filename().string());
}

// --- our export -------------------------------------------------------------------

void BM_Export(benchmark::State& state, int fileType)
{
    const std::string key = std::string("ours.") + ExtensionOf(fileType);
    Rig& rig = TheRig();
    if (!rig.error.empty()) return Skip(state, key, rig.error);
    const SourceStamp before(rig.sides.Side(kMinutes));
    const fs::path out = rig.sides.Folder() / ("ours." + std::string(ExtensionOf(fileType)));
    int64_t outputBytes = 0;
    for (auto _ : state) {
        kelvane::CTrackExporter exporter(rig.doc->doc, OptionsFor(fileType));
        const double cpu = ProcessCpuSeconds();
        const Stopwatch watch;
        const WriteResult result = exporter.WriteTrack(rig.track, 1, out.string(), false, false);
        const double wall = watch.Seconds();
        const double cpuUsed = ProcessCpuSeconds() - cpu;
        state.SetIterationTime(wall);
        if (result != WriteResult::Written || rig.doc->ui.shown != 0)
            return Skip(state, key, "the export failed: " + rig.doc->ui.lastText);
        Timings()[key].push_back(wall);
        CpuTimings()[key].push_back(cpuUsed);
        outputBytes = FileBytes(out);
        fs::remove(out);
    }
    if (!(SourceStamp(rig.sides.Side(kMinutes)) == before)) return Skip(state, key, "the source recording was written");
    SetCounters(state, key, out, outputBytes);
}

// --- the reference encoders ---------------------------------------------------------

// args with "IN" and "OUT" standing for the reference WAV and the output.
void BM_Tool(benchmark::State& state, std::string key, std::vector<std::string> args)
{
    const std::string& program = args.front();
    if (!OnPath(program)) {
        const char* package = program == "oggenc" ? "vorbis-tools" : program.c_str();
        return Skip(state, key, program + " is not installed (Debian package " + package + "); no comparison");
    }
    Rig& rig = TheRig();
    if (!rig.error.empty()) return Skip(state, key, rig.error);
    const fs::path out = rig.sides.Folder() / (key + (program == "oggenc" ? ".ogg" : ".flac"));
    const std::vector<std::string> command = WithPaths(args, rig.wav, out);
    int64_t outputBytes = 0;
    for (auto _ : state) {
        const ChildRun run = Spawn(command);
        if (!run.error.empty()) return Skip(state, key, run.error);
        state.SetIterationTime(run.wallSeconds);
        Timings()[key].push_back(run.wallSeconds);
        CpuTimings()[key].push_back(run.cpuSeconds);
        outputBytes = FileBytes(out);
        fs::remove(out);
    }
    SetCounters(state, key, out, outputBytes);
}

// --- memory ---------------------------------------------------------------------------

struct MemoryFigures {
    double growthKiB = 0;  // peak resident memory during the export, above its start
    double inputMiB = 0;
    bool fromHighWater = false;  // false: getrusage fallback, coarser
    char error[160] = {};
};

// By format extension and minutes.
std::map<std::pair<std::string, int>, MemoryFigures>& Memory()
{
    static std::map<std::pair<std::string, int>, MemoryFigures> memory;
    return memory;
}

// Runs in the forked child: load the side (not measured), then export it
// once and see how far the resident set rose.
MemoryFigures MeasureInChild(const fs::path& side, int fileType)
{
    MemoryFigures m;
    DocumentRig rig;
    std::string error;
    const std::optional<int32_t> track = LoadSide(rig, side, error);
    if (!track) {
        std::snprintf(m.error, sizeof m.error, "%s", error.c_str());
        return m;
    }
    const fs::path out = side.parent_path() / (std::string("memory.") + ExtensionOf(fileType));
    kelvane::CTrackExporter exporter(rig.doc, OptionsFor(fileType));
    const bool highWater = ResetHighWater();
    const std::optional<int64_t> startKiB = StatusKiB("VmRSS");
    if (!startKiB) {
        std::snprintf(m.error, sizeof m.error, "cannot read /proc/self/status");
        return m;
    }
    const WriteResult result = exporter.WriteTrack(*track, 1, out.string(), false, false);
    const int64_t peakKiB = PeakKiB(highWater);
    std::error_code ignored;
    fs::remove(out, ignored);
    if (result != WriteResult::Written) {
        std::snprintf(m.error, sizeof m.error, "the export failed: %s", rig.ui.lastText.c_str());
        return m;
    }
    m.growthKiB = static_cast<double>(peakKiB - *startKiB);
    m.inputMiB = static_cast<double>(FileBytes(side)) / (1024.0 * 1024.0);
    m.fromHighWater = highWater;
    rig.doc.DeleteContents();
    return m;
}

void BM_ExportPeakMemory(benchmark::State& state, int fileType)
{
    const int minutes = static_cast<int>(state.range(0));
    // Written here, in the parent, so the child only reads it and the
    // parent knows to clean it up.
    const fs::path& side = TheRig().sides.Side(minutes);
    MemoryFigures m;
    for (auto _ : state) {
        if (!MeasureInFork(state, m, [&] { return MeasureInChild(side, fileType); })) return;
    }
    Memory()[{ExtensionOf(fileType), minutes}] = m;
    state.counters["peakGrowthKiB"] = m.growthKiB;
    state.counters["inputMiB"] = m.inputMiB;
}

// Ours first, so the reference WAV exists before any tool runs (the rig
// makes it either way).
BENCHMARK_CAPTURE(BM_Export, wav, kelvane::kFileTypeWav)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK_CAPTURE(BM_Export, flac5_verify, kelvane::kFileTypeFlac)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Export, ogg_q080, kelvane::kFileTypeOgg)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Tool, flac_5, std::string("flac-5"),
                  std::vector<std::string>{"flac", "-5", "-f", "-s", "-o", "OUT", "IN"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Tool, flac_5_V, std::string("flac-5-V"),
                  std::vector<std::string>{"flac", "-5", "-V", "-f", "-s", "-o", "OUT", "IN"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Tool, oggenc_q8, std::string("oggenc-q8"),
                  std::vector<std::string>{"oggenc", "-Q", "-q", "8", "-o", "OUT", "IN"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_ExportPeakMemory, flac, kelvane::kFileTypeFlac)
    ->Arg(5)
    ->Arg(20)
    ->ArgName("min")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ExportPeakMemory, ogg, kelvane::kFileTypeOgg)
    ->Arg(5)
    ->Arg(20)
    ->ArgName("min")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

// --- the summary ------------------------------------------------------------------------

double CpuStat(const std::string& key, bool best)
{
    const auto it = CpuTimings().find(key);
    return it == CpuTimings().end() ? 0.0 : best ? Best(it->second) : Mean(it->second);
}

void PrintRatio(const char* what, const std::string& ours, const std::string& tool, bool best)
{
    const double a = TimingStat(ours, best);
    const double b = TimingStat(tool, best);
    if (a <= 0 || b <= 0) {
        // A missing tool is the likelier reason, and the one to act on.
        std::string why;
        for (const std::string& key : {tool, ours})
            if (why.empty() && Skipped().count(key)) why = ": " + Skipped().at(key);
        std::printf("  %-28s not measured%s\n", what, why.c_str());
        return;
    }
    const double ca = CpuStat(ours, best);
    const double cb = CpuStat(tool, best);
    std::printf("  %-28s %.3f s / %.3f s = %.2f wall;  CPU %.3f s / %.3f s = %.2f\n", what, a, b, a / b, ca, cb,
                cb > 0 ? ca / cb : 0.0);
}

void PrintSummary()
{
    for (const bool best : {false, true}) {
        std::printf("\nSummary, %s of the timed iterations, %d min side:\n", best ? "best" : "mean", kMinutes);
        for (const char* key : {"ours.wav", "ours.flac", "ours.ogg", "flac-5", "flac-5-V", "oggenc-q8"}) {
            const double t = TimingStat(key, best);
            if (t > 0) std::printf("  %-10s %.3f s = %.0fx real time\n", key, t, AudioSeconds(kMinutes) / t);
        }
        PrintRatio("ours FLAC / flac -5:", "ours.flac", "flac-5", best);
        PrintRatio("ours FLAC / flac -5 -V:", "ours.flac", "flac-5-V", best);
        PrintRatio("ours Ogg / oggenc -q 8:", "ours.ogg", "oggenc-q8", best);
    }
    const auto& mem = Memory();
    if (!mem.empty()) std::printf("\nPeak resident memory of one export, above its start:\n");
    for (const auto& [key, m] : mem) {
        std::printf("  %-4s %2d min side (%.0f MiB): %.0f KiB%s\n", key.first.c_str(), key.second, m.inputMiB,
                    m.growthKiB, m.fromHighWater ? "" : " (getrusage fallback)");
    }
    for (const char* format : {"flac", "ogg"}) {
        const std::pair<std::string, int> shortKey{format, 5};
        const std::pair<std::string, int> longKey{format, kMinutes};
        if (mem.count(shortKey) && mem.count(longKey))
            std::printf("  %s, 20 min - 5 min: %+.0f KiB (the side grew by %.0f MiB)\n", format,
                        mem.at(longKey).growthKiB - mem.at(shortKey).growthKiB,
                        mem.at(longKey).inputMiB - mem.at(shortKey).inputMiB);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    return kelvane::bench::RunBenchmarks(argc, argv, "bench_export", PrintSummary);
}
