// The sample-rate converter set against libsoxr at its very high quality
// setting (SOXR_VHQ), in one run.
//
// Speed: a 5-minute music-like side (the load benchmark's synthesised music
// and surface noise, 44.1 kHz 16-bit stereo) converted to 48 kHz 24-bit
// without dither, file to file. libsoxr gets the very same reading, rounding
// and writing code as ours (it has none of its own), so the difference is
// the filtering alone. The same samples declared as 96 kHz and converted to
// 44.1 kHz give the down-sampling case, our most expensive one (the long
// filter runs at 288 kHz).
//
// Quality: tones through both converters in double precision, with no
// rounding at either end, for 44.1 -> 48, 48 -> 44.1 and 96 -> 44.1 kHz:
//   THD+N   of a 1 kHz tone at -1 dBFS (all that is not the tone);
//   alias   the strongest component a tone above the target's Nyquist
//           frequency (or an up-sampling image) leaves at its folded place;
//   ripple  the spread of the gain over 31 tones from 20 Hz to 20 kHz.
// The summary prints both sets side by side and the time ratio ours / soxr.
// Without libsoxr the comparison is skipped and says so.

#include "bench/BenchSupport.h"
#include "output/CResampler.h"
#include "output/NoiseShaping.h"
#include "output/RateConverter.h"
#include "output/ResampleRatios.h"
#include "output/ResampleWav.h"
#include "tests/support/ToneFit.h"

#ifdef KELVANE_HAVE_SOXR
#include <soxr.h>
#endif

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace kelvane::bench;

constexpr int kMinutes = 5;

kelvane::bench::Sides& TheSides()
{
    static kelvane::bench::Sides sides("kelvane-bench-resample",
                                       [](int64_t first, int64_t count, int16_t* out) { Music().Fill(first, count, out); });
    return sides;
}

// The side, or the same file with its header claiming another rate.
fs::path SideAt(int rate)
{
    const fs::path& side = TheSides().Side(kMinutes);
    if (rate == kRate) return side;
    const fs::path relabelled = TheSides().Folder() / ("side-" + std::to_string(rate) + ".wav");
    if (!fs::exists(relabelled)) {
        fs::copy_file(side, relabelled);
        std::FILE* f = std::fopen(relabelled.c_str(), "r+b");
        if (!f) throw std::runtime_error("cannot relabel " + relabelled.string());
        const uint32_t fields[2] = {static_cast<uint32_t>(rate), static_cast<uint32_t>(rate) * 4};
        std::fseek(f, 24, SEEK_SET);
        const bool ok = std::fwrite(fields, sizeof fields, 1, f) == 1;
        if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot relabel " + relabelled.string());
    }
    return relabelled;
}

// --- the two converters on doubles -------------------------------------------------

using Converter = std::function<std::vector<double>(const std::vector<double>& in, int channels, int from, int to)>;

std::vector<double> Ours(const std::vector<double>& in, int channels, int from, int to)
{
    std::string message;
    const auto plan = kelvane::PlanResampling(from, to, &message);
    if (!plan) throw std::runtime_error(message);
    const size_t frames = in.size() / static_cast<size_t>(channels);
    kelvane::CRateConverter converter(*plan, channels, static_cast<int64_t>(frames));
    std::vector<double> out;
    for (size_t f = 0; f < frames; f += 16384) {
        const size_t n = std::min<size_t>(16384, frames - f);
        converter.Push(in.data() + f * static_cast<size_t>(channels), n, out);
    }
    converter.Finish(out);
    return out;
}

#ifdef KELVANE_HAVE_SOXR
// Streams the input through libsoxr in blocks, as a file conversion would,
// and flushes it at the end.
class Soxr {
public:
    Soxr(int channels, int from, int to) : channels_(channels)
    {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
        soxr_error_t error = nullptr;
        soxr_ = soxr_create(from, to, static_cast<unsigned>(channels), &error, &io, &quality, nullptr);
        if (error) throw std::runtime_error(std::string("soxr_create: ") + error);
        ratio_ = static_cast<double>(to) / from;
    }
    ~Soxr() { soxr_delete(soxr_); }

    // Appends the output for n frames of input (null: the end) to out.
    void Process(const double* in, size_t n, std::vector<double>& out)
    {
        const size_t room = static_cast<size_t>(std::ceil(static_cast<double>(n) * ratio_)) + 4096;
        for (;;) {
            const size_t start = out.size();
            out.resize(start + room * static_cast<size_t>(channels_));
            size_t used = 0, made = 0;
            const soxr_error_t error = soxr_process(soxr_, in, in ? n : 0, &used, out.data() + start, room, &made);
            if (error) throw std::runtime_error(std::string("soxr_process: ") + error);
            out.resize(start + made * static_cast<size_t>(channels_));
            if (in) {
                in += used * static_cast<size_t>(channels_);
                n -= used;
                if (n == 0) return;
            } else if (made == 0) {
                return;
            }
        }
    }

private:
    soxr_t soxr_ = nullptr;
    int channels_;
    double ratio_ = 1.0;
};

std::vector<double> SoxrConvert(const std::vector<double>& in, int channels, int from, int to)
{
    Soxr soxr(channels, from, to);
    const size_t frames = in.size() / static_cast<size_t>(channels);
    std::vector<double> out;
    for (size_t f = 0; f < frames; f += 16384)
        soxr.Process(in.data() + f * static_cast<size_t>(channels), std::min<size_t>(16384, frames - f), out);
    soxr.Process(nullptr, 0, out);
    return out;
}
#endif

// --- speed -----------------------------------------------------------------------------

void BM_Ours(benchmark::State& state, int from, int to)
{
    const std::string key = "ours " + std::to_string(from) + "->" + std::to_string(to);
    const fs::path in = SideAt(from);
    const fs::path out = TheSides().Folder() / "ours-out.wav";
    SilentInteraction ui;
    kelvane::ResampleSettings settings;
    settings.rate = to;
    settings.bits = 24;
    for (auto _ : state) {
        Stopwatch watch;
        kelvane::CResampler resampler(settings, kelvane::ResampleRun{&ui, nullptr, {}});
        const kelvane::ResampleStatus status = resampler.Convert(in.string(), out.string());
        const double seconds = watch.Seconds();
        fs::remove(out);
        if (status != kelvane::ResampleStatus::Done) {
            state.SkipWithError(("the conversion failed: " + ui.lastText).c_str());
            return;
        }
        state.SetIterationTime(seconds);
        Timings()[key].push_back(seconds);
    }
    state.counters["xRealTime"] =
        benchmark::Counter(static_cast<double>(kMinutes) * 60.0 * kRate / from, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Soxr(benchmark::State& state, int from, int to)
{
    const std::string key = "soxr " + std::to_string(from) + "->" + std::to_string(to);
#ifdef KELVANE_HAVE_SOXR
    const fs::path in = SideAt(from);
    const fs::path out = TheSides().Folder() / "soxr-out.wav";
    for (auto _ : state) {
        Stopwatch watch;
        // Our reading, rounding and writing around libsoxr's filtering.
        kelvane::CPcmWavReader reader;
        std::string message;
        if (!reader.Open(in.string(), &message)) {
            state.SkipWithError(message.c_str());
            return;
        }
        const int channels = reader.Channels();
        kelvane::CPcmWavWriter writer;
        if (!writer.Create(out.string(), channels, to, 24, &message)) {
            state.SkipWithError(message.c_str());
            return;
        }
        kelvane::CRequantiser round(24, channels, nullptr, nullptr);
        Soxr soxr(channels, from, to);
        std::vector<double> input(16384 * static_cast<size_t>(channels)), output;
        std::vector<int32_t> samples;
        bool ok = true;
        auto write = [&] {
            for (double& v : output) v *= 8388607.0;
            samples.resize(output.size());
            round.Run(output.data(), output.size(), samples.data());
            ok = ok && writer.Write(samples.data(), samples.size());
            output.clear();
        };
        for (size_t got; ok && (got = reader.Read(input.data(), 16384)) > 0;) {
            soxr.Process(input.data(), got, output);
            write();
        }
        soxr.Process(nullptr, 0, output);
        write();
        ok = ok && writer.Finish(&message);
        const double seconds = watch.Seconds();
        fs::remove(out);
        if (!ok) {
            state.SkipWithError("writing the soxr output failed");
            return;
        }
        state.SetIterationTime(seconds);
        Timings()[key].push_back(seconds);
    }
    state.counters["xRealTime"] =
        benchmark::Counter(static_cast<double>(kMinutes) * 60.0 * kRate / from, benchmark::Counter::kIsIterationInvariantRate);
#else
    (void)from;
    (void)to;
    (void)key;
    state.SkipWithError("libsoxr was not found when this was built");
#endif
}

BENCHMARK_CAPTURE(BM_Ours, up_44k_48k, 44100, 48000)->Unit(benchmark::kSecond)->Iterations(2)->UseManualTime();
BENCHMARK_CAPTURE(BM_Soxr, up_44k_48k, 44100, 48000)->Unit(benchmark::kSecond)->Iterations(2)->UseManualTime();
BENCHMARK_CAPTURE(BM_Ours, down_96k_44k, 96000, 44100)->Unit(benchmark::kSecond)->Iterations(2)->UseManualTime();
BENCHMARK_CAPTURE(BM_Soxr, down_96k_44k, 96000, 44100)->Unit(benchmark::kSecond)->Iterations(2)->UseManualTime();

// --- quality ---------------------------------------------------------------------------

struct QualityFigures {
    double thdPlusNoiseDb = 0;
    double worstAliasDb = 0;
    double rippleDb = 0;
};

// 1.5 s of the tones at `amplitude` each, mono, in full-scale units.
std::vector<double> Tones(const std::vector<double>& hz, double amplitude, int rate)
{
    std::vector<double> x(static_cast<size_t>(rate) * 3 / 2);
    for (size_t i = 0; i < x.size(); ++i)
        for (double f : hz) x[i] += amplitude * std::sin(2.0 * std::numbers::pi * std::fmod(f * i, rate) / rate);
    return x;
}

// The fit over one second of the output that keeps clear of both ends.
kelvane::test::ToneFit Measure(const std::vector<double>& y, int rate, const std::vector<double>& hz)
{
    return kelvane::test::FitTones(y.data() + rate / 4, static_cast<size_t>(rate), rate, hz);
}

QualityFigures Quality(const Converter& convert, int from, int to)
{
    using kelvane::test::Db;
    QualityFigures q;
    const double level = std::pow(10.0, -1.0 / 20.0);
    q.thdPlusNoiseDb = kelvane::test::ThdPlusNoiseDb(Measure(convert(Tones({1000}, level, from), 1, from, to), to, {1000}));

    // Tones and where what is left of them lands; odd frequencies in Hz
    // keep the fit's columns orthogonal over the one-second window.
    std::vector<std::pair<double, double>> probes;
    if (to < from) {
        for (double f : {22101.0, 23001.0, 25001.0, 30001.0, 40001.0})
            if (f < from / 2.0) probes.push_back({f, to - std::fmod(f, to) > to / 2.0 ? std::fmod(f, to) : to - std::fmod(f, to)});
    } else {
        for (double f : {20001.0, 21001.0, 21901.0}) {
            probes.push_back({f, from - f});                     // the first image, above the source's Nyquist frequency
            probes.push_back({f, std::fabs(from + f - to)});     // the second, folded
        }
    }
    q.worstAliasDb = -400;
    for (const auto& [tone, where] : probes) {
        // A tone the target can hold is fitted too, so that it does not leak
        // into the small component next to it.
        const std::vector<double> fitted = tone < to / 2.0 ? std::vector<double>{tone, where} : std::vector<double>{where};
        const kelvane::test::ToneFit fit = Measure(convert(Tones({tone}, level, from), 1, from, to), to, fitted);
        q.worstAliasDb = std::max(q.worstAliasDb, Db(fit.amplitudes.back(), level));
    }

    std::vector<double> band;
    for (int k = 0; k <= 30; ++k) band.push_back(2.0 * std::round(std::pow(1000.0, k / 30.0) * 20.0 / 2.0) + 1.0);
    band.back() = 19999;
    const double amplitude = 0.02;
    const kelvane::test::ToneFit fit = Measure(convert(Tones(band, amplitude, from), 1, from, to), to, band);
    double lo = 1e9, hi = -1e9;
    for (double a : fit.amplitudes) {
        lo = std::min(lo, Db(a, amplitude));
        hi = std::max(hi, Db(a, amplitude));
    }
    q.rippleDb = hi - lo;
    return q;
}

void PrintSummary()
{
    std::printf("\nSpeed, best of the timed iterations, %d min side, file to file, 24-bit output:\n", kMinutes);
    for (const char* pair : {"44100->48000", "96000->44100"}) {
        const double ours = TimingStat(std::string("ours ") + pair, true);
        const double soxr = TimingStat(std::string("soxr ") + pair, true);
        std::printf("  %-13s ours %.2f s", pair, ours);
        if (soxr > 0) std::printf(", soxr VHQ %.2f s: ours / soxr = %.2f\n", soxr, ours / soxr);
        else std::printf(", soxr not measured\n");
    }

    std::printf("\nQuality in double precision (no rounding at either end):\n");
    std::printf("  %-13s %-9s %12s %12s %16s\n", "pair", "converter", "THD+N 1k", "worst alias", "ripple 20-20k");
    std::vector<std::pair<std::string, Converter>> converters = {{"ours", Ours}};
#ifdef KELVANE_HAVE_SOXR
    converters.push_back({"soxr VHQ", SoxrConvert});
#endif
    for (auto [from, to] : {std::pair{44100, 48000}, {48000, 44100}, {96000, 44100}}) {
        for (const auto& [name, convert] : converters) {
            const QualityFigures q = Quality(convert, from, to);
            std::printf("  %6d->%-6d %-9s %9.1f dB %9.1f dB %13.5f dB\n", from, to, name.c_str(), q.thdPlusNoiseDb,
                        q.worstAliasDb, q.rippleDb);
        }
    }
#ifndef KELVANE_HAVE_SOXR
    std::printf("  (libsoxr was not found when this was built: no comparison)\n");
#endif
}

}  // namespace

int main(int argc, char** argv) { return kelvane::bench::RunBenchmarks(argc, argv, "bench_resample", PrintSummary); }
