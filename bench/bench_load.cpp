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

#include "document/CBlockStatistics.h"
#include "document/CProgressWnd.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "document/Interaction.h"
#include "settings/SettingsStore.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using kelvane::CQuillon3Doc;
using kelvane::LoadOutcome;

constexpr int kRate = 44100;
constexpr int64_t kFrameBytes = 4;
constexpr size_t kCopyChunk = 256 * 1024;

// --- the recording ----------------------------------------------------------

// A side of a record put together from a few seconds of synthesised music
// tiled with a gain that keeps changing, tracks of a few minutes with quiet
// gaps of surface noise between them, and surface noise under everything.
// Every frame is a pure function of its index, so any stretch can be made on
// its own and the whole side never has to be in memory at once.
class SideSynth {
public:
    SideSynth()
    {
        using kelvane::test::MusicStyle;
        const MusicStyle styles[] = {
            {.seed = 11, .tempoBpm = 96, .rootMidi = 57, .minor = false, .peak = 0.9, .brightness = 2},
            {.seed = 23, .tempoBpm = 132, .rootMidi = 50, .minor = true, .peak = 0.8, .brightness = 4},
            {.seed = 37, .tempoBpm = 72, .rootMidi = 62, .minor = false, .peak = 0.7, .brightness = 1},
        };
        for (const MusicStyle& s : styles) pieces_.push_back(kelvane::test::Music(s, kTileFrames));
        noise_ = kelvane::test::SurfaceNoise(5, kTileFrames, 60);
    }

    // Writes frames [first, first + count) as interleaved 16-bit stereo.
    void Fill(int64_t first, int64_t count, int16_t* out) const
    {
        for (int64_t done = 0; done < count;) {
            const int64_t f = first + done;
            const int64_t tile = f / kTileFrames;
            const int64_t inTile = f % kTileFrames;
            const int64_t n = std::min(count - done, kTileFrames - inTile);
            const bool gap = tile % kTilesPerTrack == kTilesPerTrack - 1;
            const std::vector<int32_t>& music = pieces_[static_cast<size_t>(tile % 3)];
            // Q15 gain sliding from this tile's value to the next one's.
            const int64_t g0 = gap ? 0 : TileGain(tile);
            const int64_t g1 = gap ? 0 : TileGain(tile + 1);
            for (int64_t k = 0; k < n; ++k) {
                const int64_t i = inTile + k;
                const int64_t g = g0 + (g1 - g0) * i / kTileFrames;
                for (int c = 0; c < 2; ++c) {
                    const size_t s = static_cast<size_t>(2 * i + c);
                    const int64_t v = ((music[s] * g) >> 15) + noise_[s];
                    out[2 * (done + k) + c] = static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767));
                }
            }
            done += n;
        }
    }

private:
    static constexpr int64_t kTileFrames = 5 * kRate;
    static constexpr int64_t kTilesPerTrack = 40;  // 3 min 20 s of music, then 5 s of surface noise

    static int64_t TileGain(int64_t tile)
    {
        kelvane::test::Prng rng(0x5EED0000u + static_cast<uint64_t>(tile));
        return rng.Range(8000, 32768);  // about -12 dB to 0 dB
    }

    std::vector<std::vector<int32_t>> pieces_;
    std::vector<int32_t> noise_;
};

const SideSynth& Synth()
{
    static const SideSynth synth;
    return synth;
}

bool WriteAll(int fd, const void* data, size_t bytes)
{
    const auto* p = static_cast<const uint8_t*>(data);
    while (bytes > 0) {
        const ssize_t n = ::write(fd, p, bytes);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

// Writes a side of `minutes` to path and syncs it, so no writeback of it is
// left to disturb the timed runs. Throws when the file cannot be written.
void WriteSide(const fs::path& path, int minutes)
{
    const int64_t frames = int64_t{minutes} * 60 * kRate;
    const int64_t dataBytes = frames * kFrameBytes;
    kelvane::test::WavOptions opts;
    opts.dataSizeOverride = static_cast<uint32_t>(dataBytes);
    opts.riffSizeOverride = static_cast<uint32_t>(36 + dataBytes);
    const std::vector<uint8_t> header = kelvane::test::WavBytes(opts, {});

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path.string() + ": " + std::strerror(errno));
    bool ok = WriteAll(fd, header.data(), header.size());
    constexpr int64_t kBlockFrames = 1 << 18;
    std::vector<int16_t> block(static_cast<size_t>(2 * kBlockFrames));
    for (int64_t f = 0; ok && f < frames; f += kBlockFrames) {
        const int64_t n = std::min(kBlockFrames, frames - f);
        Synth().Fill(f, n, block.data());
        ok = WriteAll(fd, block.data(), static_cast<size_t>(n * kFrameBytes));
    }
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) throw std::runtime_error("cannot write " + path.string() + ": " + std::strerror(errno));
}

// The scratch folder and the sides in it, made on first use. The folder goes
// with the process.
class Sides {
public:
    static Sides& Get()
    {
        static Sides sides;
        return sides;
    }

    // The path of the side of `minutes`, written the first time it is asked for.
    const fs::path& Side(int minutes)
    {
        auto it = paths_.find(minutes);
        if (it != paths_.end()) return it->second;
        const fs::path path = dir_.file("side" + std::to_string(minutes) + ".wav");
        WriteSide(path, minutes);
        return paths_.emplace(minutes, path).first->second;
    }

    fs::path Folder() const { return dir_.path(); }

private:
    Sides() : dir_("kelvane-bench-load") {}
    kelvane::test::TempDir dir_;
    std::map<int, fs::path> paths_;
};

double AudioSeconds(int minutes) { return minutes * 60.0; }

// --- the user ---------------------------------------------------------------

// Nobody at the keyboard: every box is answered with the button that backs
// out, and counted, since a clean load of a good file asks nothing.
class SilentInteraction final : public kelvane::IInteraction {
public:
    kelvane::MbAnswer MessageBox(std::string_view text, std::string_view, kelvane::MbButtons buttons,
                                 kelvane::MbIcon) override
    {
        ++shown;
        lastText.assign(text);
        switch (buttons) {
        case kelvane::MbButtons::Ok: return kelvane::MbAnswer::Ok;
        case kelvane::MbButtons::YesNo: return kelvane::MbAnswer::No;
        case kelvane::MbButtons::OkCancel:
        case kelvane::MbButtons::YesNoCancel: return kelvane::MbAnswer::Cancel;
        }
        return kelvane::MbAnswer::Cancel;
    }

    std::unique_ptr<kelvane::CProgressWnd> CreateProgress(bool) override
    {
        return std::make_unique<kelvane::CProgressWnd>();
    }

    int shown = 0;
    std::string lastText;
};

// A document whose working file lands beside the input.
struct DocumentRig {
    DocumentRig() { settings.Set(kelvane::settings::TempMode, kelvane::settings::kTempModeSameFolder); }
    kelvane::CMemorySettings settings;
    SilentInteraction ui;
    CQuillon3Doc doc{settings, ui};
};

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

std::map<std::string, std::vector<double>>& Timings()
{
    static std::map<std::string, std::vector<double>> timings;
    return timings;
}

double Best(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

double Mean(const std::vector<double>& v)
{
    double s = 0;
    for (double x : v) s += x;
    return v.empty() ? 0 : s / static_cast<double>(v.size());
}

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

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double Seconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

int64_t FileBytes(const fs::path& path)
{
    std::error_code ec;
    const auto n = fs::file_size(path, ec);
    return ec ? -1 : static_cast<int64_t>(n);
}

// The source must come out of every pass exactly as it went in; size and
// modification time are enough to catch a write, which is all a benchmark
// needs to notice.
struct SourceStamp {
    explicit SourceStamp(const fs::path& path)
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            size = st.st_size;
            mtimeNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
        }
    }
    bool operator==(const SourceStamp&) const = default;
    int64_t size = -1;
    int64_t mtimeNs = 0;
};

void SetRateCounters(benchmark::State& state, int minutes, int64_t bytes)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
    state.counters["xRealTime"] = benchmark::Counter(AudioSeconds(minutes), benchmark::Counter::kIsIterationInvariantRate);
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
    const fs::path& side = Sides::Get().Side(minutes);
    const fs::path target = Sides::Get().Folder() / "copy.wav";
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
    const fs::path& side = Sides::Get().Side(minutes);
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
    Synth().Fill(12 * kRate, kStretchFrames, stretch.data());
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
    const fs::path& side = Sides::Get().Side(minutes);
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

std::optional<int64_t> StatusKiB(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t len = std::strlen(field);
    while (std::getline(in, line)) {
        if (line.compare(0, len, field) == 0 && line.size() > len && line[len] == ':')
            return std::stoll(line.substr(len + 1));
    }
    return std::nullopt;
}

// Runs in the forked child: import and load once, and measure how far the
// resident set rose above where it started.
MemoryFigures MeasureInChild(const fs::path& side)
{
    MemoryFigures m;
    DocumentRig rig;
    // What the parent freed but the allocator kept would otherwise be reused
    // without showing as growth.
    ::malloc_trim(0);
    bool highWater = false;
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
        clear.flush();
        highWater = static_cast<bool>(clear);
    }
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
    int64_t peakKiB = 0;
    if (highWater) {
        peakKiB = StatusKiB("VmHWM").value_or(0);
    } else {
        rusage ru {};
        ::getrusage(RUSAGE_SELF, &ru);
        peakKiB = ru.ru_maxrss;
    }
    m.fromHighWater = highWater;
    m.growthKiB = static_cast<double>(peakKiB - *startKiB);
    m.passKiB = static_cast<double>(peakKiB - openedKiB);
    const CQuillon3Doc& d = rig.doc;
    m.arraysKiB = static_cast<double>(d.blockLevel.capacity() * sizeof(int32_t) +
                                      d.blockEnvelope.capacity() * sizeof(std::array<int8_t, 4>) +
                                      d.segmentCorrections.capacity() * sizeof(int32_t)) /
                  1024.0;
    m.inputMiB = static_cast<double>(FileBytes(side)) / (1024.0 * 1024.0);
    rig.doc.DeleteContents();
    return m;
}

void BM_LoadPeakMemory(benchmark::State& state)
{
    const int minutes = static_cast<int>(state.range(0));
    const fs::path& side = Sides::Get().Side(minutes);
    MemoryFigures m;
    for (auto _ : state) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            state.SkipWithError("pipe failed");
            return;
        }
        const pid_t pid = ::fork();
        if (pid < 0) {
            state.SkipWithError("fork failed");
            return;
        }
        if (pid == 0) {
            ::close(pipeFds[0]);
            const MemoryFigures child = MeasureInChild(side);
            const bool sent = WriteAll(pipeFds[1], &child, sizeof child);
            ::_exit(sent ? 0 : 1);
        }
        ::close(pipeFds[1]);
        size_t got = 0;
        auto* p = reinterpret_cast<char*>(&m);
        while (got < sizeof m) {
            const ssize_t n = ::read(pipeFds[0], p + got, sizeof m - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        ::close(pipeFds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (got != sizeof m || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the measuring child did not report");
            return;
        }
        if (m.error[0] != '\0') {
            state.SkipWithError(m.error);
            return;
        }
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
    const auto& t = Timings();
    auto stat = [&](const std::string& key, bool best) -> double {
        auto it = t.find(key);
        return it == t.end() ? 0.0 : best ? Best(it->second) : Mean(it->second);
    };
    for (const bool best : {false, true}) {
        std::printf("\nSummary, %s of the timed iterations (wall clock):\n", best ? "best" : "mean");
        const double load = stat("load/20", best);
        const double copy = stat("copy/20", best);
        if (load > 0) {
            std::printf("  load pass, 20 min side: %.3f s = %.0fx real time (target >= 1000x, <= 1.2 s): %s\n", load,
                        AudioSeconds(20) / load, load <= 1.2 ? "met" : "MISSED");
        }
        if (load > 0 && copy > 0) {
            std::printf("  plain copy (256 KiB read/write): %.3f s; load / copy = %.2f (target <= 2): %s\n", copy,
                        load / copy, load / copy <= 2.0 ? "met" : "MISSED");
        }
        for (const char* other : {"copy_file_range/20", "fs::copy_file/20", "read/20", "statistics/20"}) {
            const double v = stat(other, best);
            if (v > 0 && load > 0)
                std::printf("  %-20s %.3f s (%.0f%% of the load pass)\n", other, v, 100.0 * v / load);
        }
        const double load5 = stat("load/5", best);
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

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    try {
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_load: %s\n", e.what());
        return 1;
    }
    PrintSummary();
    benchmark::Shutdown();
    return 0;
}
