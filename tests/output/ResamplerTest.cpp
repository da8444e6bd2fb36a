// The sample-rate converter on files: its plan for each rate pair, what it
// says about input it cannot take, requantisation, two-pass scaling,
// progress and cancelling, and the numbers that show its quality: level,
// THD+N, aliasing and passband flatness of tones through it.

#include "output/CResampler.h"
#include "output/KaiserFir.h"
#include "output/ResampleRatios.h"
#include "output/ResampleWav.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/ToneFit.h"
#include "tests/support/WavWriter.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

ResampleSettings Target(int rate, int bits, DitherType dither = DitherType::None, bool twoPass = false)
{
    ResampleSettings s;
    s.rate = rate;
    s.bits = bits;
    s.dither = dither;
    s.twoPass = twoPass;
    return s;
}

fs::path WriteInput(const test::TempDir& dir, const std::string& name, int rate, int bits, int channels,
                    const std::vector<int32_t>& samples)
{
    test::WavOptions o;
    o.sampleRate = rate;
    o.bits = bits;
    o.channels = channels;
    const fs::path path = dir.file(name);
    EXPECT_TRUE(test::WriteWav(path, o, samples));
    return path;
}

ResampleStatus Convert(test::ScriptedInteraction& ui, const fs::path& in, const fs::path& out,
                       const ResampleSettings& settings)
{
    CResampler resampler(settings, ResampleRun{&ui, nullptr, {}});
    return resampler.Convert(in.string(), out.string());
}

// One channel of a converted file in full-scale units.
std::vector<double> Channel(const test::WavContents& wav, int channel)
{
    const double full = std::ldexp(1.0, wav.bits - 1) - 1.0;
    std::vector<double> x;
    for (size_t i = static_cast<size_t>(channel); i < wav.samples.size(); i += static_cast<size_t>(wav.channels))
        x.push_back(wav.samples[i] / full);
    return x;
}

std::vector<std::string> FolderNames(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// --- the plan ----------------------------------------------------------------

TEST(ResamplePlan, RatioTable_GivesFactorsAndFilterLengths)
{
    std::string message;
    const auto up = PlanResampling(44100, 48000, &message);
    ASSERT_TRUE(up);
    EXPECT_TRUE(up->up);
    EXPECT_EQ(up->g, 300);
    EXPECT_EQ(up->r, 147);
    EXPECT_EQ(up->osf, 3);
    EXPECT_EQ(up->fs1, 144000);
    EXPECT_EQ(up->lcm, 7056000);
    // trunc(7056000 / (72000 - 22050) x 11.2848 + 1) = 1595, odd already.
    EXPECT_EQ(up->shortTaps, 1595);
    EXPECT_DOUBLE_EQ(up->shortCutoff, (22050.0 + 72000.0) / 2);
    EXPECT_EQ(up->longTaps, 65535);
    EXPECT_EQ(up->fftSize, 131072);
    EXPECT_LT(up->longTransition, 100.0);
    EXPECT_DOUBLE_EQ(up->longCutoff, 22050.0);

    const auto down = PlanResampling(48000, 44100, &message);
    ASSERT_TRUE(down);
    EXPECT_FALSE(down->up);
    EXPECT_EQ(down->r, 147);
    EXPECT_EQ(down->osf, 3);
    EXPECT_EQ(down->fs1, 144000);
    EXPECT_DOUBLE_EQ(down->longCutoff, (44100 - down->longTransition) / 2);
    EXPECT_DOUBLE_EQ(down->longGain, 3.0);

    const auto octave = PlanResampling(44100, 88200, &message);
    ASSERT_TRUE(octave);
    EXPECT_EQ(octave->r, 1);
    EXPECT_EQ(octave->osf, 1);
    EXPECT_EQ(octave->fs1, 88200);
    // trunc(88200 / 22050 x 11.2848 + 1) = 46, made odd.
    EXPECT_EQ(octave->shortTaps, 47);

    const auto half = PlanResampling(88200, 44100, &message);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->osf, 1);
    EXPECT_EQ(half->shortTaps, 1);  // a plain step of two samples

    const auto same = PlanResampling(48000, 48000, &message);
    ASSERT_TRUE(same);
    EXPECT_TRUE(same->equal);
}

TEST(ResamplePlan, EveryPairOfTheOfferedRates_IsSupported)
{
    const int rates[] = {44100, 48000, 88200, 96000};
    for (int from : rates)
        for (int to : rates) {
            std::string message;
            EXPECT_TRUE(PlanResampling(from, to, &message)) << from << " -> " << to << ": " << message;
        }
}

TEST(ResamplePlan, RatioWithoutAFactorOfTwoOrThree_IsRefusedWithBothLines)
{
    std::string message;
    EXPECT_FALSE(PlanResampling(44100, 31500, &message));
    EXPECT_EQ(message, "Resampling from 44100Hz to 31500Hz is not supported.\n"
                       "31500/gcd(44100,31500)=5 must be divided by 2 or 3.\n");
    EXPECT_FALSE(PlanResampling(25000, 30000, &message));
    EXPECT_EQ(message, "Resampling from 25000Hz to 30000Hz is not supported.\n"
                       "25000/gcd(25000,30000)=5 must be divided by 2 or 3.\n");
    EXPECT_FALSE(PlanResampling(0, 44100, &message));
    EXPECT_EQ(message, "Resampling from 0Hz to 44100Hz is not supported.\n");
}

TEST(KaiserDesign, BesselAndKaiserFormulas_MatchReferenceValues)
{
    // Reference values of I0 from its series summed in exact rational
    // arithmetic, independently of the code under test.
    EXPECT_DOUBLE_EQ(BesselI0(0.0), 1.0);
    EXPECT_NEAR(BesselI0(1.0), 1.2660658777520084, 1e-15);
    EXPECT_NEAR(BesselI0(10.0) / 2815.7166284662544, 1.0, 1e-14);
    EXPECT_NEAR(BesselI0(-10.0) / 2815.7166284662544, 1.0, 1e-14);
    EXPECT_NEAR(BesselI0(17.77526) / 4998560.2025654791, 1.0, 1e-14);
    EXPECT_NEAR(BesselI0(60.0) / 5.8940770556098012e24, 1.0, 1e-13);

    EXPECT_NEAR(KaiserBeta(170.0), 17.77526, 1e-9);
    EXPECT_DOUBLE_EQ(KaiserBeta(21.0), 0.0);
    EXPECT_NEAR(KaiserBeta(40.0), 0.5842 * std::pow(19.0, 0.4) + 0.07886 * 19.0, 1e-12);
    EXPECT_NEAR(KaiserLengthFactor(170.0), 11.2848189415, 1e-9);

    const std::vector<double> h = KaiserLowpass(101, 1000.0, 8000.0, 8.0, 2.0);
    double sum = 0.0;
    for (double v : h) sum += v;
    EXPECT_NEAR(sum, 2.0, 1e-12);
    for (size_t i = 0; i < h.size(); ++i) ASSERT_DOUBLE_EQ(h[i], h[h.size() - 1 - i]) << i;
}

// --- what the converter says ---------------------------------------------------

TEST(Resampler, InputItCannotTake_IsRefusedWithItsMessageAndNoOutput)
{
    test::TempDir dir("kelvane-resample");
    const std::vector<int32_t> samples(2000, 100);
    struct Case {
        std::string name;
        test::WavOptions options;
        std::string message;
    };
    test::WavOptions floatTag;
    floatTag.formatTag = 3;
    floatTag.bits = 32;
    test::WavOptions noData;
    noData.truncateAt = 36;
    const Case cases[] = {
        {"float.wav", floatTag, "Error: Only PCM is supported."},
        {"nodata.wav", noData, "Couldn't find data chunk\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::WriteWav(dir.file(c.name), c.options, samples));
        test::ScriptedInteraction ui;
        ui.AllowOkBoxes(true);
        const fs::path out = dir.file(c.name + ".rsmp");
        EXPECT_EQ(Convert(ui, dir.file(c.name), out, Target(48000, 16)), ResampleStatus::Refused);
        ASSERT_EQ(ui.Texts().size(), 1u);
        EXPECT_EQ(ui.Texts()[0], c.message);
        EXPECT_FALSE(fs::exists(out));
    }

    test::ScriptedInteraction ui;
    ui.AllowOkBoxes(true);
    EXPECT_EQ(Convert(ui, dir.file("missing.wav"), dir.file("m.rsmp"), Target(48000, 16)), ResampleStatus::Refused);
    ASSERT_EQ(ui.Texts().size(), 1u);
    EXPECT_EQ(ui.Texts()[0].rfind("cannot open input file.\n", 0), 0u) << ui.Texts()[0];

    // An unsupported pair: the two lines, and nothing written.
    const fs::path odd = WriteInput(dir, "odd.wav", 25000, 16, 2, samples);
    test::ScriptedInteraction ui2;
    ui2.AllowOkBoxes(true);
    EXPECT_EQ(Convert(ui2, odd, dir.file("odd.rsmp"), Target(30000, 16)), ResampleStatus::Refused);
    ASSERT_EQ(ui2.Texts().size(), 1u);
    EXPECT_EQ(ui2.Texts()[0], "Resampling from 25000Hz to 30000Hz is not supported.\n"
                              "25000/gcd(25000,30000)=5 must be divided by 2 or 3.\n");
    EXPECT_FALSE(fs::exists(dir.file("odd.rsmp")));

    // An output that cannot be created.
    test::ScriptedInteraction ui3;
    ui3.AllowOkBoxes(true);
    EXPECT_EQ(Convert(ui3, odd, dir.file("no/such/folder/x.rsmp"), Target(50000, 16)), ResampleStatus::Failed);
    ASSERT_EQ(ui3.Texts().size(), 1u);
    EXPECT_EQ(ui3.Texts()[0].rfind("cannot open output file.\n", 0), 0u) << ui3.Texts()[0];
}

TEST(Resampler, ConvertWaveFile_WritesTheRsmpFileBesideItsInput)
{
    test::TempDir dir("kelvane-resample");
    const fs::path in = WriteInput(dir, "t.wav", 44100, 16, 2, test::ToneSamples({1000}, 0.5, 4410, 44100, 16, 2));
    test::ScriptedInteraction ui;
    EXPECT_EQ(ConvertWaveFile(in.string(), Target(88200, 24), ResampleRun{&ui, nullptr, {}}), 0);
    const test::WavContents out = test::ReadWavSamples(dir.file("t.wav.rsmp"));
    ASSERT_TRUE(out.ok()) << out.error;
    EXPECT_EQ(out.rate, 88200);
    EXPECT_EQ(out.bits, 24);
    EXPECT_EQ(out.channels, 2);
    EXPECT_EQ(out.samples.size(), 2u * 8820);
    // The header is the plain 44-byte one with the sizes filled in.
    const std::vector<uint8_t> bytes = test::ReadFileBytes(dir.file("t.wav.rsmp"));
    EXPECT_EQ(out.dataOffset, 44u);
    EXPECT_EQ(bytes[4] | bytes[5] << 8 | bytes[6] << 16 | bytes[7] << 24, static_cast<int>(bytes.size() - 8));

    const fs::path bad = WriteInput(dir, "odd.wav", 25000, 16, 2, std::vector<int32_t>(100, 0));
    ui.AllowOkBoxes(true);
    EXPECT_EQ(ConvertWaveFile(bad.string(), Target(30000, 16), ResampleRun{&ui, nullptr, {}}), 1);
    EXPECT_FALSE(fs::exists(dir.file("odd.wav.rsmp")));
}

// --- requantising ------------------------------------------------------------

TEST(Resampler, EqualRates_OnlyRequantise)
{
    test::TempDir dir("kelvane-resample");
    test::Prng rng(7);
    std::vector<int32_t> samples(2 * 5000);
    for (int32_t& s : samples) s = static_cast<int32_t>(rng.Range(-8388608, 8388607));
    samples[0] = -8388608;
    samples[1] = 8388607;
    const fs::path in = WriteInput(dir, "deep.wav", 44100, 24, 2, samples);

    test::ScriptedInteraction ui;
    ASSERT_EQ(Convert(ui, in, dir.file("plain.wav"), Target(44100, 16)), ResampleStatus::Done);
    const test::WavContents plain = test::ReadWavSamples(dir.file("plain.wav"));
    ASSERT_EQ(plain.samples.size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        const double x = samples[i] / 8388607.0 * 32767.0;
        ASSERT_EQ(plain.samples[i], std::clamp<int32_t>(static_cast<int32_t>(std::round(x)), -32768, 32767)) << i;
    }

    // Dither moves a sample by at most one step from plain rounding.
    ASSERT_EQ(Convert(ui, in, dir.file("dithered.wav"), Target(44100, 16, DitherType::Plain)), ResampleStatus::Done);
    const test::WavContents dithered = test::ReadWavSamples(dir.file("dithered.wav"));
    ASSERT_EQ(dithered.samples.size(), samples.size());
    size_t moved = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_LE(std::abs(dithered.samples[i] - plain.samples[i]), 1) << i;
        moved += dithered.samples[i] != plain.samples[i];
    }
    EXPECT_GT(moved, samples.size() / 10);

    // 16 bits to 16 bits at the same rate gives the input back.
    std::vector<int32_t> narrow(2 * 3000);
    for (int32_t& s : narrow) s = static_cast<int32_t>(rng.Range(-32768, 32767));
    const fs::path in16 = WriteInput(dir, "narrow.wav", 48000, 16, 2, narrow);
    ASSERT_EQ(Convert(ui, in16, dir.file("same.wav"), Target(48000, 16)), ResampleStatus::Done);
    EXPECT_EQ(test::ReadWavSamples(dir.file("same.wav")).samples, narrow);

    // 8-bit output is stored offset by 128.
    ASSERT_EQ(Convert(ui, in16, dir.file("byte.wav"), Target(48000, 8)), ResampleStatus::Done);
    const test::WavContents bytes = test::ReadWavSamples(dir.file("byte.wav"));
    ASSERT_EQ(bytes.samples.size(), narrow.size());
    for (size_t i = 0; i < narrow.size(); ++i)
        ASSERT_EQ(bytes.samples[i], static_cast<int32_t>(std::round(narrow[i] / 32767.0 * 127.0))) << i;
}

TEST(Resampler, EveryInputDepth_IsReadToFullScale)
{
    // 8-bit (x - 128) / 127, 32-bit x / 2147483647. The most negative 8-bit
    // value lies a whole step beyond full scale and clips; the 32-bit one
    // only a fraction of a 24-bit step.
    test::TempDir dir("kelvane-resample");
    test::ScriptedInteraction ui;
    const fs::path in8 = WriteInput(dir, "byte.wav", 22050, 8, 1, {-128, -63, 0, 1, 127});
    ASSERT_EQ(Convert(ui, in8, dir.file("from8.wav"), Target(22050, 16)), ResampleStatus::Done);
    EXPECT_EQ(test::ReadWavSamples(dir.file("from8.wav")).samples,
              (std::vector<int32_t>{-32768, -16254, 0, 258, 32767}));
    const fs::path in32 = WriteInput(dir, "wide.wav", 22050, 32, 1, {INT32_MIN, -65536 * 100, 0, INT32_MAX});
    ASSERT_EQ(Convert(ui, in32, dir.file("from32.wav"), Target(22050, 24)), ResampleStatus::Done);
    EXPECT_EQ(test::ReadWavSamples(dir.file("from32.wav")).samples,
              (std::vector<int32_t>{-8388607, -25600, 0, 8388607}));
}

TEST(Resampler, AthShapingWithoutASetForTheRate_WarnsAndShapesTriangularly)
{
    test::TempDir dir("kelvane-resample");
    const fs::path in = WriteInput(dir, "t.wav", 44100, 24, 2, test::ToneSamples({997}, 0.3, 8000, 44100, 24, 2));
    test::ScriptedInteraction ui;
    ui.Expect({"Warning: ATH based noise shaping for destination frequency 88200Hz is not available, using "
               "triangular dither\n",
               MbAnswer::Ok, std::string(kAppCaption), MbButtons::Ok, MbIcon::Warning});
    ASSERT_EQ(Convert(ui, in, dir.file("ath.wav"), Target(88200, 16, DitherType::Ath)), ResampleStatus::Done);
    ui.ExpectDone();
    ASSERT_EQ(Convert(ui, in, dir.file("tri.wav"), Target(88200, 16, DitherType::Triangular)), ResampleStatus::Done);
    EXPECT_EQ(test::ReadFileBytes(dir.file("ath.wav")), test::ReadFileBytes(dir.file("tri.wav")));

    // At a rate with its own set the output differs from the triangular one.
    ASSERT_EQ(Convert(ui, in, dir.file("ath48.wav"), Target(48000, 16, DitherType::Ath)), ResampleStatus::Done);
    ASSERT_EQ(Convert(ui, in, dir.file("tri48.wav"), Target(48000, 16, DitherType::Triangular)), ResampleStatus::Done);
    EXPECT_NE(test::ReadFileBytes(dir.file("ath48.wav")), test::ReadFileBytes(dir.file("tri48.wav")));
}

TEST(Resampler, TwoPass_ScalesAClippingResultSoItsPeakJustFits)
{
    // A square wave at full scale overshoots once band-limited. Single pass
    // clips it; two-pass scales the whole file by full scale over the peak.
    // The reference is the same square at half level (exact in 24 bits),
    // converted without clipping: by linearity, twice it is the unclipped
    // full-level result.
    test::TempDir dir("kelvane-resample");
    const size_t frames = 44100 / 2;
    std::vector<int32_t> full(frames), half(frames);
    for (size_t i = 0; i < frames; ++i) {
        const bool high = (i / 50) % 2 == 0;
        full[i] = high ? 8388606 : -8388606;
        half[i] = full[i] / 2;
    }
    const fs::path inFull = WriteInput(dir, "full.wav", 44100, 24, 1, full);
    const fs::path inHalf = WriteInput(dir, "half.wav", 44100, 24, 1, half);
    test::ScriptedInteraction ui;
    ASSERT_EQ(Convert(ui, inHalf, dir.file("ref.wav"), Target(48000, 24)), ResampleStatus::Done);
    ASSERT_EQ(Convert(ui, inFull, dir.file("one.wav"), Target(48000, 16)), ResampleStatus::Done);
    ASSERT_EQ(Convert(ui, inFull, dir.file("two.wav"), Target(48000, 16, DitherType::None, true)), ResampleStatus::Done);

    const std::vector<int32_t> ref = test::ReadWavSamples(dir.file("ref.wav")).samples;
    const std::vector<int32_t> one = test::ReadWavSamples(dir.file("one.wav")).samples;
    const std::vector<int32_t> two = test::ReadWavSamples(dir.file("two.wav")).samples;
    ASSERT_EQ(one.size(), ref.size());
    ASSERT_EQ(two.size(), ref.size());
    int32_t refPeak = 0;
    for (int32_t v : ref) refPeak = std::max(refPeak, std::abs(v));
    ASSERT_GT(2.0 * refPeak, 8388607.0 * 1.05) << "the test signal must overshoot";
    EXPECT_GT(std::count(one.begin(), one.end(), 32767), 20);

    int32_t peak = 0;
    for (size_t i = 0; i < two.size(); ++i) {
        peak = std::max(peak, std::abs(two[i]));
        ASSERT_NEAR(two[i], ref[i] * 32767.0 / refPeak, 1.0) << i;
    }
    EXPECT_EQ(peak, 32767);
    // The temporary file of the first pass is gone.
    EXPECT_EQ(FolderNames(dir.path()),
              (std::vector<std::string>{"full.wav", "half.wav", "one.wav", "ref.wav", "two.wav"}));
}

TEST(Resampler, Progress_StepsEvery0x40000FramesAndCancelLeavesNothing)
{
    test::TempDir dir("kelvane-resample");
    const size_t frames = 0x40000 * 2 + 1000;
    const fs::path in = WriteInput(dir, "long.wav", 44100, 16, 1, std::vector<int32_t>(frames, 5));
    {
        test::ScriptedInteraction ui;
        ASSERT_EQ(Convert(ui, in, dir.file("out.wav"), Target(44100, 16)), ResampleStatus::Done);
        ASSERT_EQ(ui.Progresses().size(), 1u);
        const auto& log = *ui.Progresses()[0];
        EXPECT_EQ(log.captions, (std::vector<std::string>{"Resampling..."}));
        EXPECT_EQ(log.ranges.back(), (std::pair<int32_t, int32_t>{0, static_cast<int32_t>(frames)}));
        EXPECT_EQ(log.positions, (std::vector<int32_t>{0, 0x40000, 0x80000, static_cast<int32_t>(frames)}));
    }
    for (bool twoPass : {false, true}) {
        SCOPED_TRACE(twoPass);
        test::ScriptedInteraction ui;
        ui.OnCreateProgress([](test::RecordingProgress& p, size_t) { p.CancelAtPos(0x40000); });
        EXPECT_EQ(Convert(ui, in, dir.file("cancelled.wav"), Target(48000, 16, DitherType::None, twoPass)),
                  ResampleStatus::Cancelled);
        EXPECT_TRUE(ui.Messages().empty());
        EXPECT_EQ(FolderNames(dir.path()), (std::vector<std::string>{"long.wav", "out.wav"}));
    }
    // A caller's own stop test takes the place of the window's Cancel.
    test::ScriptedInteraction ui;
    int asked = 0;
    CResampler resampler(Target(44100, 16), ResampleRun{&ui, nullptr, [&] { return ++asked == 2; }});
    EXPECT_EQ(resampler.Convert(in.string(), dir.file("stopped.wav").string()), ResampleStatus::Cancelled);
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(fs::exists(dir.file("stopped.wav")));
}

// --- quality -----------------------------------------------------------------

struct Quality {
    test::ToneFit fit;
    size_t frames = 0;
};

// Converts `seconds` of the tones at -20 dBFS each (or `amplitude`) from one
// rate to another, 24-bit in and out without dither, and fits the tones
// `measure` over one second of the result that keeps clear of the ends.
Quality ToneThrough(int from, int to, const std::vector<double>& tones, double amplitude,
                    const std::vector<double>& measure, int channels = 2)
{
    test::TempDir dir("kelvane-resample");
    const size_t frames = static_cast<size_t>(from) * 3 / 2;
    const fs::path in = WriteInput(dir, "in.wav", from, 24, channels,
                                   test::ToneSamples(tones, amplitude, frames, from, 24, channels));
    test::ScriptedInteraction ui;
    Quality q;
    if (Convert(ui, in, dir.file("out.wav"), Target(to, 24)) != ResampleStatus::Done) {
        ADD_FAILURE() << "conversion failed";
        return q;
    }
    const test::WavContents out = test::ReadWavSamples(dir.file("out.wav"));
    EXPECT_EQ(out.rate, to);
    q.frames = out.samples.size() / static_cast<size_t>(out.channels);
    EXPECT_EQ(q.frames, (frames * static_cast<size_t>(to) + static_cast<size_t>(from) - 1) / static_cast<size_t>(from));
    const std::vector<double> x = Channel(out, channels - 1);
    q.fit = test::FitTones(x.data() + to / 4, static_cast<size_t>(to), to, measure);
    return q;
}

const double kMinus1Db = std::pow(10.0, -1.0 / 20.0);

TEST(ResamplerQuality, OneKilohertzAtMinus1dB_KeepsItsLevelWithTinyThdPlusNoise)
{
    for (auto [from, to] : {std::pair{44100, 48000}, {48000, 44100}, {96000, 44100}}) {
        SCOPED_TRACE(testing::Message() << from << " -> " << to);
        const Quality q = ToneThrough(from, to, {1000}, kMinus1Db, {1000});
        ASSERT_EQ(q.fit.amplitudes.size(), 1u);
        EXPECT_NEAR(test::Db(q.fit.amplitudes[0], kMinus1Db), 0.0, 0.01);
        EXPECT_LT(test::ThdPlusNoiseDb(q.fit), -130.0);
    }
}

TEST(ResamplerQuality, TonesBeyondTheTargetsNyquist_ComeOutAtLeast150dBDown)
{
    struct Case {
        int from, to;
        double tone, alias;
    };
    // Down-sampling folds a tone f above the new Nyquist frequency to to - f;
    // the tones just past the filters' edges meet their highest side lobes.
    // Up-sampling leaves images of f at from - f and from + f, which the
    // filters must remove too (folding back to to - (from - f) and
    // from + f - to when they lie above the new Nyquist frequency).
    // The tones are odd in Hz, so that the output's rounding error, periodic
    // with the tone, is spread over many lines instead of landing on the
    // few that would include the one measured.
    for (const Case& c : {Case{48000, 44100, 22101, 21999}, Case{96000, 44100, 22101, 21999},
                          Case{96000, 44100, 30001, 14099}, Case{88200, 44100, 30001, 14099},
                          Case{44100, 48000, 21901, 22199},
                          Case{44100, 48000, 20001, 23901}, Case{44100, 48000, 20001, 16101}}) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << ", " << c.tone << " Hz");
        const Quality q = ToneThrough(c.from, c.to, {c.tone}, kMinus1Db, {c.alias}, 1);
        ASSERT_EQ(q.fit.amplitudes.size(), 1u);
        EXPECT_LT(test::Db(q.fit.amplitudes[0], kMinus1Db), -150.0);
    }
}

TEST(ResamplerQuality, Passband_IsFlatWithin0_01dBTo20kHz)
{
    const std::vector<double> tones = {20, 100, 1000, 5000, 10000, 15000, 18000, 19000, 20000};
    for (auto [from, to] : {std::pair{44100, 48000}, {48000, 44100}, {96000, 44100}, {44100, 88200}, {88200, 44100}}) {
        SCOPED_TRACE(testing::Message() << from << " -> " << to);
        const Quality q = ToneThrough(from, to, tones, 0.1, tones, 1);
        ASSERT_EQ(q.fit.amplitudes.size(), tones.size());
        for (size_t k = 0; k < tones.size(); ++k)
            EXPECT_NEAR(test::Db(q.fit.amplitudes[k], 0.1), 0.0, 0.01) << tones[k] << " Hz";
    }
}

TEST(ResampleSettingsStore, ReadsTheFiveValuesAndFallsBackOnUnusableOnes)
{
    CMemorySettings store;
    const ResampleSettings defaults = ResampleSettings::FromSettings(store);
    EXPECT_EQ(defaults.rate, 44100);
    EXPECT_EQ(defaults.bits, 16);
    EXPECT_EQ(defaults.dither, DitherType::None);
    EXPECT_EQ(defaults.pdf, DitherPdf::Rectangular);
    EXPECT_FALSE(defaults.twoPass);

    ResampleSettings s = Target(96000, 24, DitherType::Auto, true);
    s.pdf = DitherPdf::Gaussian;
    s.Store(store);
    EXPECT_EQ(store.Saves(), 1);
    EXPECT_EQ(store.Get(settings::ResampleDither), -1);
    const ResampleSettings back = ResampleSettings::FromSettings(store);
    EXPECT_EQ(back.rate, 96000);
    EXPECT_EQ(back.bits, 24);
    EXPECT_EQ(back.dither, DitherType::Auto);
    EXPECT_EQ(back.pdf, DitherPdf::Gaussian);
    EXPECT_TRUE(back.twoPass);

    store.Set(settings::ResampleBits, 20);
    store.Set(settings::ResampleDither, 9);
    store.Set(settings::ResamplePdf, -2);
    store.Set(settings::ResampleRate, 0);
    const ResampleSettings odd = ResampleSettings::FromSettings(store);
    EXPECT_EQ(odd.rate, 44100);
    EXPECT_EQ(odd.bits, 16);
    EXPECT_EQ(odd.dither, DitherType::None);
    EXPECT_EQ(odd.pdf, DitherPdf::Rectangular);

    int rate = 0, bits = 0;
    EXPECT_TRUE(ParseResampleTarget("48000/24", &rate, &bits));
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(bits, 24);
    for (const char* bad : {"48000", "48000/20", "/16", "48000/", "-48000/16", "48000/16x", "4.8/16"})
        EXPECT_FALSE(ParseResampleTarget(bad, &rate, &bits)) << bad;
    EXPECT_EQ(DitherTypeFromName("less-ath"), DitherType::LessAth);
    EXPECT_EQ(DitherTypeFromName("ATH"), std::nullopt);
    EXPECT_EQ(DitherPdfFromName("gaussian"), DitherPdf::Gaussian);
}

}  // namespace
}  // namespace kelvane
