#include "output/CResampler.h"

#include "document/CProgressWnd.h"
#include "document/Interaction.h"
#include "output/NoiseShaping.h"
#include "output/ResampleRatios.h"
#include "output/RateConverter.h"
#include "output/ResampleWav.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace kelvane {

namespace {

// Progress and the stop test come once per this many frames.
constexpr int64_t kStepFrames = 0x40000;
// The filters take the input in pieces this long, which keeps the buffers
// between the stages small.
constexpr size_t kPieceFrames = 32768;

std::string WithNumber(const char* pattern, int value)
{
    char text[256];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}


int32_t ProgressValue(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, 0, INT32_MAX)); }

double FullScale(int bits) { return bits == 8 ? 127.0 : bits == 16 ? 32767.0 : 8388607.0; }

bool ValidBits(int bits) { return bits == 8 || bits == 16 || bits == 24; }

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

ResampleSettings ResampleSettings::FromSettings(const ISettingsStore& store)
{
    ResampleSettings s;
    const int rate = store.Get(settings::ResampleRate);
    if (rate > 0) s.rate = rate;
    const int bits = store.Get(settings::ResampleBits);
    if (ValidBits(bits)) s.bits = bits;
    const int dither = store.Get(settings::ResampleDither);
    if (dither >= -1 && dither <= 4) s.dither = static_cast<DitherType>(dither);
    const int pdf = store.Get(settings::ResamplePdf);
    if (pdf >= 0 && pdf <= 2) s.pdf = static_cast<DitherPdf>(pdf);
    s.twoPass = store.Get(settings::Resample2Pass) != 0;
    return s;
}

void ResampleSettings::Store(ISettingsStore& store) const
{
    ISettingsStore::Batch batch(store);
    store.Set(settings::ResampleRate, rate);
    store.Set(settings::ResampleBits, bits);
    store.Set(settings::ResampleDither, static_cast<int>(dither));
    store.Set(settings::ResamplePdf, static_cast<int>(pdf));
    store.Set(settings::Resample2Pass, twoPass ? 1 : 0);
}

std::optional<DitherType> DitherTypeFromName(std::string_view name)
{
    if (name == "auto") return DitherType::Auto;
    if (name == "none") return DitherType::None;
    if (name == "plain") return DitherType::Plain;
    if (name == "triangular") return DitherType::Triangular;
    if (name == "ath") return DitherType::Ath;
    if (name == "less-ath") return DitherType::LessAth;
    return std::nullopt;
}

std::optional<DitherPdf> DitherPdfFromName(std::string_view name)
{
    if (name == "rectangular") return DitherPdf::Rectangular;
    if (name == "triangular") return DitherPdf::Triangular;
    if (name == "gaussian") return DitherPdf::Gaussian;
    return std::nullopt;
}

bool ParseResampleTarget(std::string_view text, int* rate, int* bits)
{
    const size_t slash = text.find('/');
    if (slash == std::string_view::npos) return false;
    auto number = [](std::string_view t, int& v) {
        if (t.empty() || t.front() == '+' || t.front() == '-') return false;
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        return ec == std::errc() && end == t.data() + t.size() && v > 0;
    };
    int r = 0, b = 0;
    if (!number(text.substr(0, slash), r) || !number(text.substr(slash + 1), b) || !ValidBits(b)) return false;
    if (rate) *rate = r;
    if (bits) *bits = b;
    return true;
}

DitherType CResampler::ResolveDither(DitherType chosen, int inputBytes, int outputBits)
{
    if (chosen != DitherType::Auto) return chosen;
    if (outputBits / 8 >= inputBytes) return DitherType::Plain;
    if (outputBits == 8) return DitherType::LessAth;
    return DitherType::Ath;
}

CResampler::CResampler(const ResampleSettings& settings, const ResampleRun& run) : settings_(settings), run_(run) {}

void CResampler::Report(const std::string& text, bool warning) const
{
    if (run_.ui) run_.ui->MessageBox(text, kAppCaption, MbButtons::Ok, warning ? MbIcon::Warning : MbIcon::Error);
}

ResampleStatus CResampler::Convert(const std::string& in, const std::string& out)
{
    // Progress goes to the caller's window, else to one of our own, else to
    // a silent one that draws nothing and is never cancelled.
    std::unique_ptr<CProgressWnd> ownProgress;
    if (!run_.progress) {
        if (run_.ui) ownProgress = run_.ui->CreateProgress(false);
        if (!ownProgress) ownProgress = std::make_unique<CProgressWnd>();
        ownProgress->SetCaption(kResampling);
    }
    CProgressWnd* const progress = run_.progress ? run_.progress : ownProgress.get();
    auto stopped = [&] { return run_.stop ? run_.stop() : progress->Cancelled(); };

    if (!ValidBits(settings_.bits)) {
        Report(kBadDepth);
        return ResampleStatus::Refused;
    }
    CPcmWavReader reader;
    std::string message;
    if (!reader.Open(in, &message)) {
        Report(message);
        return ResampleStatus::Refused;
    }
    const std::optional<ResamplePlan> plan = PlanResampling(reader.Rate(), settings_.rate, &message);
    if (!plan) {
        Report(message);
        return ResampleStatus::Refused;
    }
    const int channels = reader.Channels();
    const int64_t inFrames = reader.Frames();
    CRateConverter converter(*plan, channels, inFrames);
    const int64_t outFrames = converter.OutputFrames();
    const int outBytes = settings_.bits / 8;
    if (44 + static_cast<__int128>(outFrames) * channels * outBytes - 8 > UINT32_MAX) {
        Report(kTooLarge);
        return ResampleStatus::Refused;
    }

    // The dither and, for the shaping types, the coefficient set.
    const DitherType type = ResolveDither(settings_.dither, reader.BytesPerSample(), settings_.bits);
    const std::vector<double>* shaping = nullptr;
    if (type == DitherType::Triangular) shaping = &TriangularShapingSet();
    if (type == DitherType::Ath || type == DitherType::LessAth) {
        shaping = type == DitherType::LessAth ? ReducedAthShapingSet(settings_.rate) : nullptr;
        if (!shaping) shaping = AthShapingSet(settings_.rate);
        if (!shaping) {
            Report(WithNumber(kAthUnavailable, settings_.rate), true);
            shaping = &TriangularShapingSet();
        }
    }
    std::unique_ptr<CDitherNoise> noise;
    if (type != DitherType::None) noise = std::make_unique<CDitherNoise>(settings_.pdf);
    CRequantiser requantiser(settings_.bits, channels, noise.get(), shaping);
    const double fullScale = FullScale(settings_.bits);

    CPcmWavWriter writer;
    if (!writer.Create(out, channels, plan->target, settings_.bits, &message)) {
        Report(message);
        return ResampleStatus::Failed;
    }

    // Two-pass: the doubles of the first pass, under a name of the output's
    // own when that is free, else in an anonymous file.
    FilePtr temporary;
    std::string temporaryPath;
    if (settings_.twoPass) {
        temporaryPath = out + kPass1;
        temporary.reset(std::fopen(temporaryPath.c_str(), "w+bx"));
        if (!temporary) {
            temporaryPath.clear();
            temporary.reset(std::tmpfile());
        }
        if (!temporary) {
            writer.Discard();
            Report(kCannotOpenTemporary);
            return ResampleStatus::Failed;
        }
    }
    auto dropTemporary = [&](bool reportFailure) {
        temporary.reset();
        if (temporaryPath.empty()) return;
        if (std::remove(temporaryPath.c_str()) != 0 && reportFailure)
            Report(WithText(kFailedToRemove, temporaryPath), true);
        temporaryPath.clear();
    };
    auto abandon = [&](ResampleStatus status, const std::string& text) {
        writer.Discard();
        dropTemporary(false);
        if (!text.empty()) Report(text);
        return status;
    };

    // Where converted frames go: requantised into the output, or in two-pass
    // mode as they are into the temporary file.
    std::vector<double> scaled;
    std::vector<int32_t> samples;
    double peak = 0.0;
    auto quantiseAndWrite = [&](const double* x, size_t count, double factor) {
        scaled.resize(count);
        samples.resize(count);
        for (size_t i = 0; i < count; ++i) scaled[i] = x[i] * factor;
        requantiser.Run(scaled.data(), count, samples.data());
        return writer.Write(samples.data(), count);
    };
    auto emit = [&](const double* x, size_t count) -> std::string {
        if (!temporary) return quantiseAndWrite(x, count, fullScale) ? "" : FwriteErrorText(WriteStage::Samples);
        for (size_t i = 0; i < count; ++i) peak = std::max(peak, std::fabs(x[i]));
        return std::fwrite(x, sizeof(double), count, temporary.get()) == count ? ""
                                                                              : FwriteErrorText(WriteStage::Temporary);
    };

    std::vector<double> input(kPieceFrames * static_cast<size_t>(channels));
    std::vector<double> converted;
    progress->SetRange(0, ProgressValue(inFrames));
    for (int64_t done = 0; done < inFrames;) {
        progress->SetPos(ProgressValue(done));
        if (stopped()) return abandon(ResampleStatus::Cancelled, "");
        const int64_t step = std::min(kStepFrames, inFrames - done);
        for (int64_t piece = 0; piece < step;) {
            const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kPieceFrames), step - piece));
            const size_t got = reader.Read(input.data(), want);
            if (got != want) return abandon(ResampleStatus::Failed, kResampleCannotRead);
            converted.clear();
            converter.Push(input.data(), got, converted);
            const std::string error = emit(converted.data(), converted.size());
            if (!error.empty()) return abandon(ResampleStatus::Failed, error);
            piece += static_cast<int64_t>(got);
        }
        done += step;
    }
    converted.clear();
    converter.Finish(converted);
    if (const std::string error = emit(converted.data(), converted.size()); !error.empty())
        return abandon(ResampleStatus::Failed, error);
    progress->SetPos(ProgressValue(inFrames));

    if (temporary) {
        // Scaled so that the peak lands on full scale less what the dither
        // can add to it.
        const double scale = peak < 1.0 ? 1.0 : peak;
        const double factor = (noise ? fullScale - noise->Peak() : fullScale) / scale;
        if (std::fflush(temporary.get()) != 0) return abandon(ResampleStatus::Failed, FwriteErrorText(WriteStage::Temporary));
        std::rewind(temporary.get());
        std::vector<double> block(static_cast<size_t>(kStepFrames) * static_cast<size_t>(channels));
        progress->SetRange(0, ProgressValue(outFrames));
        for (int64_t done = 0; done < outFrames;) {
            progress->SetPos(ProgressValue(done));
            if (stopped()) return abandon(ResampleStatus::Cancelled, "");
            const int64_t step = std::min(kStepFrames, outFrames - done);
            const size_t count = static_cast<size_t>(step) * static_cast<size_t>(channels);
            if (std::fread(block.data(), sizeof(double), count, temporary.get()) != count)
                return abandon(ResampleStatus::Failed, kCannotReadTemporary);
            if (!quantiseAndWrite(block.data(), count, factor))
                return abandon(ResampleStatus::Failed, FwriteErrorText(WriteStage::Samples));
            done += step;
        }
        progress->SetPos(ProgressValue(outFrames));
        dropTemporary(true);
    }
    if (!writer.Finish(&message)) {
        Report(message);
        return ResampleStatus::Failed;
    }
    return ResampleStatus::Done;
}

int ConvertWaveFile(const std::string& path, const ResampleSettings& settings, const ResampleRun& run)
{
    CResampler resampler(settings, run);
    return resampler.Convert(path, path + CResampler::kOutputSuffix) == ResampleStatus::Done ? 0 : 1;
}

}  // namespace kelvane
