// Size and speed of our Monkey's Audio encoder, set against the encoders
// users would compare it with, on the very same music:
//   flac -8            FLAC at its strongest (Debian's flac);
//   jmac cN            the Java port of the format's reference encoder at
//                      the same level (Debian's libjmac-java).
// The music is two minutes of the benchmarks' synthesised pieces (44.1 kHz,
// 16-bit stereo, levels moving between -12 and 0 dB), written once as the
// tools' WAV input.
//
// Two speeds per level:
//   coder/N   the frame coder alone on one thread, timed by that thread's
//             CPU clock: the "x real time on one core" figure;
//   file/N    CApeEncoder as the export drives it (worker thread, libavcodec
//             decoding every frame on another, the file read back at the
//             end), wall time and the process's CPU time.
// The tools are started without a shell and timed from spawn to reaped,
// their CPU from the child's rusage. Sizes are whole files (ours with a
// small tag, jmac's with its stored WAV header). The summary at the end
// gives the ratios of one run; a missing tool skips its comparison.

#include "bench/BenchSupport.h"
#include "output/ApeFormat.h"
#include "output/CApeEncoder.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace kelvane::bench;

constexpr int kSeconds = 120;
constexpr int kLevels[] = {1000, 2000, 3000, 4000};

struct Rig {
    kelvane::test::TempDir dir{"kelvane-bench-ape"};
    std::vector<int32_t> samples;  // interleaved stereo, 16-bit values
    fs::path wav;
    std::string error;

    Rig()
    {
        const int64_t frames = int64_t{kSeconds} * kRate;
        std::vector<int16_t> pcm(static_cast<size_t>(frames * 2));
        Music().Fill(0, frames, pcm.data());
        samples.assign(pcm.begin(), pcm.end());
        wav = dir.file("music.wav");
        if (!kelvane::test::WriteWav(wav, {}, samples)) error = "cannot write the music's WAV";
    }
};

Rig& TheRig()
{
    static Rig rig;
    return rig;
}

// Results by key ("ours.2000", "jmac.2000", "flac-8", "coder.2000").
struct Result {
    double wall = 0;
    double cpu = 0;
    int64_t bytes = 0;
};
std::map<std::string, Result>& Results()
{
    static std::map<std::string, Result> r;
    return r;
}
double Clock(clockid_t id)
{
    timespec t{};
    ::clock_gettime(id, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_Coder(benchmark::State& state, int level)
{
    Rig& rig = TheRig();
    const std::string key = "coder." + std::to_string(level);
    if (!rig.error.empty()) return Skip(state, key, rig.error);
    const size_t perFrame = kelvane::ape::BlocksPerFrame(level);
    const size_t frames = rig.samples.size() / 2;
    std::vector<uint8_t> out;
    out.reserve(rig.samples.size() * 2);
    for (auto _ : state) {
        out.clear();
        kelvane::ape::CFrameEncoder coder(level, 2, 16);
        const double start = Clock(CLOCK_THREAD_CPUTIME_ID);
        for (size_t f = 0; f < frames; f += perFrame)
            coder.Encode(rig.samples.data() + 2 * f, std::min(perFrame, frames - f), out);
        const double cpu = Clock(CLOCK_THREAD_CPUTIME_ID) - start;
        state.SetIterationTime(cpu);
        Result& r = Results()[key];
        if (r.cpu == 0 || cpu < r.cpu) r.cpu = cpu;
        r.bytes = static_cast<int64_t>(out.size());
    }
    state.counters["xRealTime"] = kSeconds / Results()[key].cpu;
}

void BM_File(benchmark::State& state, int level)
{
    Rig& rig = TheRig();
    const std::string key = "ours." + std::to_string(level);
    if (!rig.error.empty()) return Skip(state, key, rig.error);
    const fs::path out = rig.dir.file(key + ".ape");
    const size_t frames = rig.samples.size() / 2;
    const kelvane::EncoderTags tags = {{"Title", "Benchmark"}, {"Track", "1"}};
    for (auto _ : state) {
        kelvane::CApeEncoder enc(level);
        const Stopwatch watch;
        const double cpu0 = ProcessCpuSeconds();
        bool ok = enc.Open(out, kRate, 16, 2, frames, tags);
        for (size_t f = 0; ok && f < frames; f += 65536)
            ok = enc.Write(rig.samples.data() + 2 * f, std::min<size_t>(65536, frames - f));
        ok = ok && enc.Finish();
        if (!ok) return Skip(state, key, enc.LastError());
        const double wall = watch.Seconds();
        state.SetIterationTime(wall);
        Result& r = Results()[key];
        if (r.wall == 0 || wall < r.wall) r = {wall, ProcessCpuSeconds() - cpu0, FileBytes(out)};
        fs::remove(out);
    }
}

// args: "IN" and "OUT" stand for the music's WAV and the output.
void BM_Tool(benchmark::State& state, std::string key, std::vector<std::string> args, std::string package)
{
    Rig& rig = TheRig();
    if (!rig.error.empty()) return Skip(state, key, rig.error);
    const fs::path out = rig.dir.file(key + ".out");
    const std::vector<std::string> command = WithPaths(args, rig.wav, out);
    for (auto _ : state) {
        fs::remove(out);
        const ChildRun run = Spawn(command);
        // jmac exits with 0 whatever happens; only its output tells.
        if (!run.error.empty() || FileBytes(out) <= 0)
            return Skip(state, key, run.error.empty() ? args[0] + " wrote nothing (is " + package + " installed?)"
                                                      : run.error + " (Debian package " + package + ")");
        state.SetIterationTime(run.wallSeconds);
        Result& r = Results()[key];
        if (r.wall == 0 || run.wallSeconds < r.wall) r = {run.wallSeconds, run.cpuSeconds, FileBytes(out)};
    }
    fs::remove(out);
}

void Register()
{
    for (const int level : kLevels) {
        const std::string n = std::to_string(level);
        benchmark::RegisterBenchmark(("coder/" + n).c_str(), BM_Coder, level)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3)
            ->UseManualTime();
        benchmark::RegisterBenchmark(("file/" + n).c_str(), BM_File, level)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(2)
            ->UseManualTime();
        benchmark::RegisterBenchmark(("jmac/c" + n.substr(0, 1)).c_str(), BM_Tool, "jmac." + n,
                                     std::vector<std::string>{"jmac", "c" + n.substr(0, 1), "IN", "OUT"},
                                     std::string("libjmac-java"))
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1)
            ->UseManualTime();
    }
    benchmark::RegisterBenchmark("flac/-8", BM_Tool, std::string("flac-8"),
                                 std::vector<std::string>{"flac", "-8", "-f", "-s", "-o", "OUT", "IN"},
                                 std::string("flac"))
        ->Unit(benchmark::kMillisecond)
        ->Iterations(2)
        ->UseManualTime();
}

void PrintSummary()
{
    const auto& r = Results();
    auto bytes = [&](const std::string& k) { return r.count(k) ? r.at(k).bytes : 0; };
    std::printf("\nMonkey's Audio, %d s of music (%.1f MiB as WAV), best of the timed runs:\n", kSeconds,
                kSeconds * kRate * 4 / 1048576.0);
    const int64_t flac = bytes("flac-8");
    if (flac > 0) std::printf("  flac -8: %lld bytes, %.0fx real time\n", static_cast<long long>(flac), kSeconds / r.at("flac-8").wall);
    double worstVsJmac = 0;
    for (const int level : kLevels) {
        const std::string n = std::to_string(level);
        const int64_t ours = bytes("ours." + n);
        const int64_t jmac = bytes("jmac." + n);
        std::printf("  level %d: ours %lld bytes", level, static_cast<long long>(ours));
        if (jmac > 0) {
            std::printf(", jmac %lld: ours/jmac %.4f", static_cast<long long>(jmac), double(ours) / jmac);
            worstVsJmac = std::max(worstVsJmac, double(ours) / jmac);
        } else {
            std::printf(", jmac not measured%s", Skipped().count("jmac." + n) ? (": " + Skipped().at("jmac." + n)).c_str() : "");
        }
        if (flac > 0) std::printf(", ours/flac-8 %.4f", double(ours) / flac);
        std::printf("\n");
        if (r.count("coder." + n))
            std::printf("           coder alone %.0fx real time on one core", kSeconds / r.at("coder." + n).cpu);
        if (r.count("ours." + n))
            std::printf("; whole file with verification %.0fx real time (wall), CPU %.2f s",
                        kSeconds / r.at("ours." + n).wall, r.at("ours." + n).cpu);
        if (r.count("jmac." + n)) std::printf("; jmac %.0fx (wall)", kSeconds / r.at("jmac." + n).wall);
        std::printf("\n");
    }
    std::printf("Targets:\n");
    if (flac > 0 && bytes("ours.3000") > 0)
        std::printf("  \"High\" vs flac -8: %+.2f%% (aim: at most -2%%)\n", (double(bytes("ours.3000")) / flac - 1) * 100);
    if (worstVsJmac > 0) std::printf("  largest ours/jmac over the levels: %+.2f%% (aim: at most +0.5%%)\n", (worstVsJmac - 1) * 100);
    if (r.count("coder.2000"))
        std::printf("  \"Normal\" on one core: %.0fx real time (aim: at least 100x)\n", kSeconds / r.at("coder.2000").cpu);
}

}  // namespace

int main(int argc, char** argv)
{
    Register();
    return kelvane::bench::RunBenchmarks(argc, argv, "bench_ape", PrintSummary);
}
