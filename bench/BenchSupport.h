#pragma once

// What the benchmarks over whole sides have in common: the synthesised side
// written into a scratch folder, a document with nobody at the keyboard, the
// timing and rate counters, the reference tools run as timed children, and
// the peak-memory measurement in a forked child.

#include "document/CProgressWnd.h"
#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "settings/SettingsStore.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

extern char** environ;

namespace kelvane::bench {

inline constexpr int kRate = 44100;
inline constexpr int64_t kFrameBytes = 4;  // 16-bit stereo

// --- the recording ----------------------------------------------------------

// A side of a record put together from a few seconds of synthesised music
// tiled with a gain that keeps changing, tracks of a few minutes with quiet
// gaps of surface noise between them, and surface noise under everything.
// Every frame is a pure function of its index, so any stretch can be made on
// its own and the whole side never has to be in memory at once.
class MusicSynth {
public:
    MusicSynth()
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

    // Writes frames [first, first + count) as interleaved stereo clipped to
    // 16 bits; Sample may be wider, for a caller that adds clicks on top.
    template <typename Sample>
    void Fill(int64_t first, int64_t count, Sample* out) const
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
                    out[2 * (done + k) + c] = static_cast<Sample>(std::clamp<int64_t>(v, -32768, 32767));
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

// Built once per process: the tiles take a moment to synthesise.
inline const MusicSynth& Music()
{
    static const MusicSynth synth;
    return synth;
}

// Writes all of data to fd, retrying short and interrupted writes. False on
// any other failure, with errno set.
inline bool WriteAll(int fd, const void* data, size_t bytes)
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

// Makes frames [first, first + count) of a side as interleaved 16-bit stereo.
using SideFill = std::function<void(int64_t first, int64_t count, int16_t* out)>;

// Writes a side of `minutes` made by fill to path and syncs it, so no
// writeback of it is left to disturb the timed runs. Throws when the file
// cannot be written.
inline void WriteSide(const std::filesystem::path& path, int minutes, const SideFill& fill)
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
        fill(f, n, block.data());
        ok = WriteAll(fd, block.data(), static_cast<size_t>(n * kFrameBytes));
    }
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) throw std::runtime_error("cannot write " + path.string() + ": " + std::strerror(errno));
}

// A scratch folder and the sides in it, each written on first use. The
// folder goes with the object, and with it every working file a pass left
// behind.
class Sides {
public:
    Sides(const std::string& folderName, SideFill fill) : dir_(folderName), fill_(std::move(fill)) {}

    // The path of the side of `minutes`, written the first time it is asked
    // for. Throws for a length outside 1 to 60 minutes or a failed write.
    const std::filesystem::path& Side(int minutes)
    {
        // A side is written in full; a wrong length must not fill the disk.
        if (minutes < 1 || minutes > 60) throw std::runtime_error("no side of " + std::to_string(minutes) + " minutes");
        auto it = paths_.find(minutes);
        if (it != paths_.end()) return it->second;
        const std::filesystem::path path = dir_.file("side" + std::to_string(minutes) + ".wav");
        WriteSide(path, minutes, fill_);
        return paths_.emplace(minutes, path).first->second;
    }

    std::filesystem::path Folder() const { return dir_.path(); }

private:
    kelvane::test::TempDir dir_;
    SideFill fill_;
    std::map<int, std::filesystem::path> paths_;
};

inline double AudioSeconds(int minutes) { return minutes * 60.0; }

// --- the user ---------------------------------------------------------------

// Nobody at the keyboard: every box is answered with the button that backs
// out, and counted, since a clean run over a good file asks nothing.
class SilentInteraction final : public kelvane::IInteraction {
public:
    using kelvane::IInteraction::MessageBox;  // the labelled box answers the same
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

// Settings that put the working file beside the input, so it lands in the
// scratch folder.
inline kelvane::CMemorySettings SameFolderSettings()
{
    kelvane::CMemorySettings settings;
    settings.Set(kelvane::settings::TempMode, kelvane::settings::kTempModeSameFolder);
    return settings;
}

// A document with nobody at the keyboard. The settings come first, so that
// they are in place when the document reads its scan settings in its
// constructor.
struct DocumentRig {
    explicit DocumentRig(kelvane::CMemorySettings s = SameFolderSettings()) : settings(std::move(s)) {}
    kelvane::CMemorySettings settings;
    SilentInteraction ui;
    kelvane::CQuillon3Doc doc{settings, ui};
};

// --- timing -------------------------------------------------------------------

// Wall-clock seconds of each timed iteration, by "what/minutes", for the
// summary printed after the run.
inline std::map<std::string, std::vector<double>>& Timings()
{
    static std::map<std::string, std::vector<double>> timings;
    return timings;
}

inline double Best(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

inline double Mean(const std::vector<double>& v)
{
    double s = 0;
    for (double x : v) s += x;
    return v.empty() ? 0 : s / static_cast<double>(v.size());
}

// The best (or else the mean) of the timings kept under key; 0 when none
// were kept.
inline double TimingStat(const std::string& key, bool best)
{
    const auto& t = Timings();
    auto it = t.find(key);
    return it == t.end() ? 0.0 : best ? Best(it->second) : Mean(it->second);
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

// The size of the file in bytes, or -1 when it cannot be read.
inline int64_t FileBytes(const std::filesystem::path& path)
{
    std::error_code ec;
    const auto n = std::filesystem::file_size(path, ec);
    return ec ? -1 : static_cast<int64_t>(n);
}

// The source must come out of every pass exactly as it went in; size and
// modification time are enough to catch a write, which is all a benchmark
// needs to notice.
struct SourceStamp {
    explicit SourceStamp(const std::filesystem::path& path)
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

// Bytes per second and multiples of real time, from what one iteration did.
inline void SetRateCounters(benchmark::State& state, int minutes, int64_t bytes)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
    state.counters["xRealTime"] = benchmark::Counter(AudioSeconds(minutes), benchmark::Counter::kIsIterationInvariantRate);
}

// Why a case did not run, by key, for the summary.
inline std::map<std::string, std::string>& Skipped()
{
    static std::map<std::string, std::string> skipped;
    return skipped;
}

inline void Skip(benchmark::State& state, const std::string& key, const std::string& why)
{
    Skipped()[key] = why;
    state.SkipWithError(why.c_str());
}

// --- other programs -------------------------------------------------------------

inline double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

// The CPU time, user and system, this process has used so far.
inline double ProcessCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// A reference tool's command line with the words "IN" and "OUT" replaced by
// the input and the output.
inline std::vector<std::string> WithPaths(std::vector<std::string> args, const std::filesystem::path& in,
                                          const std::filesystem::path& out)
{
    for (std::string& a : args) {
        if (a == "IN") a = in.string();
        if (a == "OUT") a = out.string();
    }
    return args;
}

struct ChildRun {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    int status = -1;  // exit status; -1 for no normal exit
    std::string error;
};

// Starts args[0] from PATH with no shell, stdin from /dev/null and stdout
// and stderr discarded, and waits for it: the wall time from spawn to
// reaped, the CPU time from the child's rusage. error says why it did not
// start or did not exit with 0.
inline ChildRun Spawn(const std::vector<std::string>& args)
{
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ChildRun run;
    pid_t pid = 0;
    const Stopwatch watch;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run.error = "cannot start " + args[0] + ": " + std::strerror(spawned);
        return run;
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            run.error = std::string("wait4: ") + std::strerror(errno);
            return run;
        }
    }
    run.wallSeconds = watch.Seconds();
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    if (run.status != 0) run.error = args[0] + " failed (status " + std::to_string(run.status) + ")";
    return run;
}

// --- memory -------------------------------------------------------------------

// A field of /proc/self/status in KiB, or nothing when it cannot be read.
inline std::optional<int64_t> StatusKiB(const char* field)
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

// Starts a fresh high-water mark for the resident set. True when the kernel
// took the reset; false means PeakKiB falls back to getrusage, which keeps the
// parent's peak from before the fork.
inline bool ResetHighWater()
{
    // What the parent freed but the allocator kept would otherwise be reused
    // without showing as growth.
    ::malloc_trim(0);
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

// The peak resident set in KiB since ResetHighWater, or since the process
// began when the reset did not take.
inline int64_t PeakKiB(bool highWater)
{
    if (highWater) return StatusKiB("VmHWM").value_or(0);
    rusage ru {};
    ::getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// What the per-block and per-segment arrays the document keeps take, in
// KiB at their capacity: the part of the peak that is meant to grow with the
// length of the side.
inline double DocumentArraysKiB(const kelvane::CQuillon3Doc& d)
{
    return static_cast<double>(d.blockLevel.capacity() * sizeof(int32_t) +
                               d.blockEnvelope.capacity() * sizeof(std::array<int8_t, 4>) +
                               d.segmentCorrections.capacity() * sizeof(int32_t)) /
           1024.0;
}

// Runs measure in a forked child and copies what it returns into figures,
// which must be trivially copyable and carry a char array `error` that is
// empty on success. A failure to fork or hear back, or an error the child
// reports, skips the benchmark and returns false.
template <typename Figures, typename Measure>
bool MeasureInFork(benchmark::State& state, Figures& figures, Measure measure)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        state.SkipWithError("pipe failed");
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        state.SkipWithError("fork failed");
        return false;
    }
    if (pid == 0) {
        ::close(pipeFds[0]);
        const Figures child = measure();
        const bool sent = WriteAll(pipeFds[1], &child, sizeof child);
        ::_exit(sent ? 0 : 1);
    }
    ::close(pipeFds[1]);
    size_t got = 0;
    auto* p = reinterpret_cast<char*>(&figures);
    while (got < sizeof figures) {
        const ssize_t n = ::read(pipeFds[0], p + got, sizeof figures - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (got != sizeof figures || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        state.SkipWithError("the measuring child did not report");
        return false;
    }
    if (figures.error[0] != '\0') {
        state.SkipWithError(figures.error);
        return false;
    }
    return true;
}

// --- the run --------------------------------------------------------------------

// The body of a benchmark program's main: runs the benchmarks the command
// line selects, then summary. A failure to make the scratch sides ends the
// run with a message naming program and exit status 1.
inline int RunBenchmarks(int argc, char** argv, const char* program, void (*summary)())
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    try {
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
        return 1;
    }
    summary();
    benchmark::Shutdown();
    return 0;
}

}  // namespace kelvane::bench
