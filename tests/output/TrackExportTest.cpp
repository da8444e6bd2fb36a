// Writing single tracks of a real loaded recording: what lands in the file
// is compared with the working file's own samples, so any slip in the
// positions, the fades, the level or the sample packing shows.

#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "output/CTrackExporter.h"
#include "output/OutputNames.h"
#include "settings/SettingsStore.h"
#include "tests/support/FlacTestFiles.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/output/PartialFiles.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <FLAC++/decoder.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

struct Loaded {
    test::TempDir dir{"kelvane-export"};
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    std::unique_ptr<CQuillon3Doc> doc;
};

std::unique_ptr<Loaded> Load(const std::vector<int32_t>& samples, const test::WavOptions& opts = {})
{
    auto l = std::make_unique<Loaded>();
    l->settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    l->doc = std::make_unique<CQuillon3Doc>(l->settings, l->ui);
    const std::string input = l->dir.file("side.wav").string();
    EXPECT_TRUE(test::WriteWav(input, opts, samples));
    EXPECT_TRUE(OpenRecording(*l->doc, input).Ok());
    EXPECT_EQ(LoadRecording(*l->doc, nullptr), LoadOutcome::Completed);
    return l;
}

// A track over frames [first, last) of the recording, all timings 0.
int32_t AddTrack(CQuillon3Doc& doc, int64_t first, int64_t last)
{
    TrackRecord t;
    t.start = static_cast<int32_t>(doc.dataStart + first * 4);
    t.end = static_cast<int32_t>(doc.dataStart + last * 4);
    t.title = "Piece";
    return doc.tracks.Add(t);
}

// The working file's samples of frames [first, last), at full precision.
std::vector<int32_t> Working(CQuillon3Doc& doc, int64_t first, int64_t last)
{
    std::vector<int32_t> v(static_cast<size_t>((last - first) * 2));
    doc.workingFile.Seek(doc.dataStart + first * 4);
    EXPECT_EQ(doc.workingFile.Read24(v.data(), static_cast<int64_t>(v.size())), static_cast<int64_t>(v.size()));
    return v;
}

std::vector<int32_t> Constant(int32_t value, size_t frames) { return std::vector<int32_t>(frames * 2, value); }

test::WavContents Export(Loaded& l, int32_t track, bool before, bool after, ExportOptions options = {},
                         const std::string& name = "out.wav")
{
    CTrackExporter exporter(*l.doc, options);
    exporter.SetReplaceExisting(true);  // the tests reuse their output names
    const std::string path = l.dir.file(name).string();
    EXPECT_EQ(exporter.WriteTrack(track, 1, path, before, after), WriteResult::Written);
    EXPECT_TRUE(test::PartialFilesBeside(path).empty());
    return test::ReadWavSamples(path);
}

TEST(TrackExport, GaplessTrackHoldsExactlyTheWorkingSamplesBetweenItsSilences)
{
    auto l = Load(test::Noise(3, 20000, 100000));
    const int32_t t = AddTrack(*l->doc, 1000, 17000);
    // Whole sectors only: 1.0 s gives 75, 0.99 s gives 74.
    l->doc->tracks.At(t).preSilence = 176400;
    l->doc->tracks.At(t).postSilence = 174636;

    const test::WavContents gapless = Export(*l, t, true, true);
    ASSERT_TRUE(gapless.ok()) << gapless.error;
    EXPECT_EQ(gapless.samples, Working(*l->doc, 1000, 17000));

    const test::WavContents edged = Export(*l, t, false, false);
    ASSERT_TRUE(edged.ok()) << edged.error;
    ASSERT_EQ(edged.samples.size(), static_cast<size_t>((75 * 588 + 16000 + 74 * 588) * 2));
    const auto audio = edged.samples.begin() + 75 * 588 * 2;
    EXPECT_TRUE(std::all_of(edged.samples.begin(), audio, [](int32_t s) { return s == 0; }));
    EXPECT_TRUE(std::all_of(audio + 16000 * 2, edged.samples.end(), [](int32_t s) { return s == 0; }));
    // Away from the fades the audio is untouched.
    const std::vector<int32_t> source = Working(*l->doc, 1000, 17000);
    EXPECT_TRUE(std::equal(source.begin() + 600 * 2, source.end() - 600 * 2, audio + 600 * 2));
    EXPECT_EQ(edged.rate, 44100);
    EXPECT_EQ(edged.channels, 2);
    EXPECT_EQ(edged.bits, 16);
}

TEST(TrackExport, EdgesFadeOverOneSectorEvenWithZeroTimings)
{
    auto l = Load(Constant(10000, 8000));
    const int32_t t = AddTrack(*l->doc, 1000, 6000);  // 5000 frames
    ExportOptions linear;
    linear.fade = FadeShape::Linear;
    const test::WavContents lin = Export(*l, t, false, false, linear);
    ASSERT_TRUE(lin.ok()) << lin.error;
    ASSERT_EQ(lin.samples.size(), 10000u);
    auto frame = [&](const test::WavContents& w, size_t f) { return w.samples[f * 2]; };
    EXPECT_EQ(frame(lin, 0), 0);
    EXPECT_EQ(lin.samples[1], 0);
    // The gain is held for 20 frames at a time.
    EXPECT_EQ(frame(lin, 19), 0);
    EXPECT_EQ(frame(lin, 20), static_cast<int32_t>(10000 * (1.0 - (2352.0 - 80) / 2352)));
    EXPECT_EQ(frame(lin, 300), static_cast<int32_t>(10000 * (1.0 - (2352.0 - 1200) / 2352)));
    EXPECT_EQ(frame(lin, 580), static_cast<int32_t>(10000 * (1.0 - 32.0 / 2352)));
    EXPECT_EQ(frame(lin, 600), 10000);
    EXPECT_EQ(frame(lin, 5000 - 589), 10000);
    // Fade-out: the last group of frames is nearly silent, never louder than the one before.
    EXPECT_EQ(frame(lin, 4999), static_cast<int32_t>(10000 * (1.0 - 2272.0 / 2352)));
    EXPECT_LT(frame(lin, 4999), frame(lin, 4960));
    EXPECT_EQ(frame(lin, 4800), static_cast<int32_t>(10000 * (1.0 - (4.0 * 4800 - (20000 - 2352)) / 2352)));

    const test::WavContents log = Export(*l, t, false, false, ExportOptions{});
    ASSERT_TRUE(log.ok());
    EXPECT_NEAR(frame(log, 0), 10, 1);  // -60 dB at the silent end
    EXPECT_EQ(frame(log, 300), static_cast<int32_t>(10000 * std::pow(0.001, (2352.0 - 1200) / 2352)));
    EXPECT_EQ(frame(log, 2500), 10000);

    // A longer fade setting lengthens the span by its value.
    l->doc->tracks.At(t).fadeIn = 2352;
    const test::WavContents longer = Export(*l, t, false, true, linear);
    EXPECT_EQ(frame(longer, 600), static_cast<int32_t>(10000 * (1.0 - (4704.0 - 2400) / 4704)));
    EXPECT_EQ(frame(longer, 4999), 10000);  // gapless end: no fade-out
}

TEST(TrackExport, NormaliseAndScaleSetTheLevelAndClip)
{
    std::vector<int32_t> samples = Constant(1000, 6000);
    samples[3000 * 2] = 20000;
    samples[3001 * 2 + 1] = -8000;
    auto l = Load(samples);
    const int32_t t = AddTrack(*l->doc, 1000, 5000);

    ExportOptions normalise;
    normalise.normalise = true;
    normalise.gainDb = -1.0;
    const test::WavContents n = Export(*l, t, true, true, normalise);
    ASSERT_TRUE(n.ok());
    const double gain = std::pow(10.0, -0.05) * 32767 / 20000;
    EXPECT_EQ(n.samples[2000 * 2], static_cast<int32_t>(std::pow(10.0, -0.05) * 32767));
    EXPECT_EQ(n.samples[2001 * 2 + 1], static_cast<int32_t>(-8000 * gain));
    EXPECT_EQ(n.samples[0], static_cast<int32_t>(1000 * gain));

    ExportOptions scale;
    scale.scale = true;
    scale.gainDb = 6.0;
    const test::WavContents s = Export(*l, t, true, true, scale);
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s.samples[2000 * 2], 32767);
    EXPECT_EQ(s.samples[0], static_cast<int32_t>(1000 * std::pow(10.0, 0.3)));

    scale.gainDb = 9.0;
    std::vector<int32_t> negative = Constant(-20000, 3000);
    auto quiet = Load(negative);
    const test::WavContents c = Export(*quiet, AddTrack(*quiet->doc, 0, 3000), true, true, scale);
    EXPECT_EQ(c.samples[100], -32768);
}

// The level pass reads the track in chunks from its start: a track that
// ends on a chunk edge, or one frame before or after it, is measured to its
// last frame and not one frame beyond. Louder frames sit just outside.
TEST(TrackExport, NormaliseMeasuresATrackToItsEdgesAndNoFurther)
{
    constexpr int64_t kChunkFrames = 0x40000 / 4;
    constexpr int64_t kFirst = 5000;
    const int32_t peak = static_cast<int32_t>(std::pow(10.0, -0.05) * 32767);
    for (const int d : {-1, 0, 1}) {
        const int64_t last = kFirst + kChunkFrames + d;  // one past the track's last frame
        for (const bool atEnd : {false, true}) {
            SCOPED_TRACE(testing::Message() << "d " << d << (atEnd ? ", peak at the end" : ", peak at the start"));
            std::vector<int32_t> samples = Constant(1000, static_cast<size_t>(last + 3000));
            samples[static_cast<size_t>(2 * (kFirst - 1))] = 30000;
            samples[static_cast<size_t>(2 * last + 1)] = -30000;
            const int64_t loud = atEnd ? last - 1 : kFirst;
            samples[static_cast<size_t>(2 * loud + 1)] = -20000;
            auto l = Load(samples);
            ExportOptions normalise;
            normalise.normalise = true;
            normalise.gainDb = -1.0;
            const test::WavContents n = Export(*l, AddTrack(*l->doc, kFirst, last), true, true, normalise);
            ASSERT_TRUE(n.ok());
            ASSERT_EQ(n.samples.size(), static_cast<size_t>(2 * (last - kFirst)));
            EXPECT_EQ(n.samples[static_cast<size_t>(2 * (loud - kFirst) + 1)], -peak);
        }
    }
}

TEST(TrackExport, SilentTrackNormalisesToItself)
{
    auto l = Load(Constant(0, 4000));
    ExportOptions normalise;
    normalise.normalise = true;
    const test::WavContents w = Export(*l, AddTrack(*l->doc, 0, 4000), true, true, normalise);
    ASSERT_TRUE(w.ok());
    EXPECT_TRUE(std::all_of(w.samples.begin(), w.samples.end(), [](int32_t s) { return s == 0; }));
}

TEST(TrackExport, MonoSourceIsWrittenAsOneChannelToWavOnly)
{
    test::WavOptions mono;
    mono.channels = 1;
    std::vector<int32_t> samples(10000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int32_t>(i % 2000) * 7 - 7000;
    auto l = Load(samples, mono);
    ASSERT_EQ(l->doc->sourceKind, kSourceMono);
    l->doc->tracks.At(0).preSilence = 2352;
    const test::WavContents w = Export(*l, 0, false, true);
    ASSERT_TRUE(w.ok()) << w.error;
    EXPECT_EQ(w.channels, 1);
    ASSERT_EQ(w.samples.size(), 588u + 10000u);
    EXPECT_TRUE(std::equal(samples.begin() + 600, samples.end(), w.samples.begin() + 588 + 600));
    const std::vector<uint8_t> bytes = test::ReadFileBytes(l->dir.file("out.wav"));
    EXPECT_EQ(bytes[28] | bytes[29] << 8 | bytes[30] << 16, 44100 * 2);  // bytes per second
    EXPECT_EQ(bytes[32], 2);                                               // block align

    // FLAC keeps the two equal channels.
    ExportOptions flac;
    flac.fileType = kFileTypeFlac;
    CTrackExporter exporter(*l->doc, flac);
    const std::string path = l->dir.file("out.flac").string();
    ASSERT_EQ(exporter.WriteTrack(0, 1, path, false, true), WriteResult::Written);
    const test::FlacContents f = test::DecodeFlac(path);
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ(f.channels, 2);
    ASSERT_EQ(f.samples.size(), 2 * (588u + 10000u));
    for (size_t i = 0; i < f.samples.size(); i += 2) ASSERT_EQ(f.samples[i], f.samples[i + 1]) << i;
    EXPECT_EQ(f.samples[2 * (588 + 5000)], samples[5000]);
}

TEST(TrackExport, TwentyFourBitOutputKeepsTheLowBytes)
{
    test::WavOptions deep;
    deep.bits = 24;
    test::Prng rng(9);
    std::vector<int32_t> samples(12000);
    for (int32_t& s : samples) s = static_cast<int32_t>(rng.Range(-8388608, 8388607));
    auto l = Load(samples, deep);
    ASSERT_EQ(l->doc->bitsPerSample, 24);
    const int32_t t = AddTrack(*l->doc, 100, 5900);
    const test::WavContents w = Export(*l, t, true, true);
    ASSERT_TRUE(w.ok()) << w.error;
    EXPECT_EQ(w.bits, 24);
    EXPECT_EQ(w.samples, std::vector<int32_t>(samples.begin() + 200, samples.begin() + 11800));
    EXPECT_NE(std::count_if(w.samples.begin(), w.samples.end(), [](int32_t s) { return (s & 0xFF) != 0; }), 0);
}

TEST(TrackExport, OddDataStartKeepsItsAlignmentInTheHeader)
{
    test::WavOptions opts;
    opts.fmtSize = 18;
    auto l = Load(test::Noise(5, 1000, 3000), opts);
    ASSERT_EQ(l->doc->dataAlign, 2);
    const test::WavContents w = Export(*l, 0, true, true);
    ASSERT_TRUE(w.ok()) << w.error;
    EXPECT_EQ(w.dataOffset, 46u);
    EXPECT_EQ(w.samples, Working(*l->doc, 0, 3000));
    const std::vector<uint8_t> bytes = test::ReadFileBytes(l->dir.file("out.wav"));
    EXPECT_EQ(bytes[16], 18);
    EXPECT_EQ(bytes[4] | bytes[5] << 8 | bytes[6] << 16, 12000 + 38);
}

TEST(TrackExport, ChoicesSurviveTheStoreOnlyWhenKept)
{
    CMemorySettings store;
    ExportOptions o;
    o.fileType = kFileTypeFlac;
    o.scale = true;
    o.gainDb = 4.5;
    // The encoder chosen in the list is kept even while a built-in format
    // is the one saved with.
    o.externalIndex = 2;
    o.encoderPath = "/usr/bin/lame";
    o.parameters = "%IN %OUT";
    o.Store(store, true);
    EXPECT_EQ(store.Saves(), 1);  // the dialog's OK is one save, not ten
    ExportOptions back = ExportOptions::FromSettings(store);
    EXPECT_EQ(back.fileType, kFileTypeFlac);
    EXPECT_EQ(back.externalIndex, 2);
    EXPECT_EQ(back.encoderPath, "/usr/bin/lame");
    EXPECT_EQ(back.parameters, "%IN %OUT");
    EXPECT_TRUE(back.scale);
    EXPECT_FALSE(back.normalise);
    EXPECT_DOUBLE_EQ(back.gainDb, 4.5);

    o.Store(store, false);
    back = ExportOptions::FromSettings(store);
    EXPECT_FALSE(back.scale);
    EXPECT_DOUBLE_EQ(back.gainDb, -1.0);

    // A hand-edited level is read as a usable one.
    store.Set(settings::Normalise, 1);
    store.Set(settings::NormGain, "+12");
    EXPECT_DOUBLE_EQ(ExportOptions::FromSettings(store).gainDb, 0.0);
    store.Set(settings::NormGain, "loud");
    EXPECT_DOUBLE_EQ(ExportOptions::FromSettings(store).gainDb, -1.0);
}

class Decoder final : public FLAC::Decoder::File {
public:
    std::vector<int32_t> samples;
    unsigned channels = 0, bits = 0;

protected:
    FLAC__StreamDecoderWriteStatus write_callback(const FLAC__Frame* frame, const FLAC__int32* const buffer[]) override
    {
        channels = frame->header.channels;
        bits = frame->header.bits_per_sample;
        for (unsigned i = 0; i < frame->header.blocksize; ++i)
            for (unsigned c = 0; c < channels; ++c) samples.push_back(buffer[c][i]);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    void error_callback(FLAC__StreamDecoderErrorStatus) override { failed = true; }

public:
    bool failed = false;
};

TEST(TrackExport, FlacHoldsTheSameSamplesAsTheWave)
{
    auto l = Load(test::Music({}, 30000));
    const int32_t t = AddTrack(*l->doc, 2000, 28000);
    l->doc->tracks.At(t).preSilence = 4704;
    l->doc->tracks.At(t).fadeOut = 20000;
    const test::WavContents wav = Export(*l, t, false, false);
    ASSERT_TRUE(wav.ok());

    ExportOptions flac;
    flac.fileType = kFileTypeFlac;
    CTrackExporter exporter(*l->doc, flac);
    const std::string path = l->dir.file("out.flac").string();
    ASSERT_EQ(exporter.WriteTrack(t, 3, path, false, false), WriteResult::Written);
    Decoder d;
    ASSERT_EQ(d.init(path), FLAC__STREAM_DECODER_INIT_STATUS_OK);
    ASSERT_TRUE(d.process_until_end_of_stream());
    EXPECT_FALSE(d.failed);
    EXPECT_EQ(d.channels, 2u);
    EXPECT_EQ(d.bits, 16u);
    EXPECT_EQ(d.samples, wav.samples);
}

TEST(TrackExport, OggOfADeepRecordingFinishesAndLeavesNoPartialFile)
{
    test::WavOptions deep;
    deep.bits = 24;
    std::vector<int32_t> samples = test::Music({}, 20000);
    for (int32_t& s : samples) s *= 256;
    auto l = Load(samples, deep);
    ExportOptions ogg;
    ogg.fileType = kFileTypeOgg;
    CTrackExporter exporter(*l->doc, ogg);
    const std::string path = l->dir.file("out.ogg").string();
    ASSERT_EQ(exporter.WriteTrack(0, 0, path, false, false), WriteResult::Written);
    EXPECT_GT(fs::file_size(path), 1000u);
    EXPECT_TRUE(test::PartialFilesBeside(path).empty());
}

TEST(TrackExport, ReallyAbortYesDeletesThePartialFileAndNoCarriesOn)
{
    auto l = Load(test::Noise(2, 5000, 200000));
    const std::string path = l->dir.file("cut.wav").string();
    ASSERT_TRUE(test::WriteFileBytes(path, {'o', 'l', 'd'}));
    l->ui.OnCreateProgress([](test::RecordingProgress& p, size_t) { p.CancelAtPos(0x40000); });
    l->ui.Expect({CTrackExporter::kReallyAbort, MbAnswer::Yes, std::nullopt, MbButtons::YesNo, std::nullopt});
    CTrackExporter exporter(*l->doc, {});
    EXPECT_EQ(exporter.WriteTrack(0, 1, path, false, false), WriteResult::Cancelled);
    EXPECT_TRUE(exporter.Cancelled());
    EXPECT_TRUE(test::PartialFilesBeside(path).empty());
    EXPECT_EQ(test::ReadFileBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));  // an earlier file survives

    l->ui.Expect(CTrackExporter::kReallyAbort, MbAnswer::No);
    CTrackExporter again(*l->doc, {});
    again.SetReplaceExisting(true);
    EXPECT_EQ(again.WriteTrack(0, 1, path, false, false), WriteResult::Written);
    EXPECT_FALSE(again.Cancelled());
    EXPECT_EQ(test::ReadWavSamples(path).samples.size(), 400000u);
}

TEST(TrackExport, UnusableRequestsAreReportedNotThrown)
{
    auto l = Load(test::Noise(4, 1000, 3000));
    l->ui.AllowOkBoxes(true);
    CTrackExporter exporter(*l->doc, {});
    EXPECT_EQ(exporter.WriteTrack(5, 1, l->dir.file("x.wav").string(), false, false), WriteResult::NotOpened);
    // No folder can be made where a file stands.
    ASSERT_TRUE(test::WriteFileBytes(l->dir.file("plain"), {'x'}));
    EXPECT_EQ(exporter.WriteTrack(0, 1, (l->dir.file("plain") / "x.wav").string(), false, false),
              WriteResult::NotOpened);
    EXPECT_FALSE(exporter.OutputOpened());

    ExportOptions ape;
    ape.fileType = kFileTypeApe;
    CTrackExporter noEncoder(*l->doc, ape);
    // An encoder that cannot be made is reported, not dereferenced.
    noEncoder.SetEncoderFactory([](const ExportOptions&) { return std::unique_ptr<IAudioEncoder>(); });
    EXPECT_EQ(noEncoder.WriteTrack(0, 1, l->dir.file("x.ape").string(), false, false), WriteResult::NotOpened);
    EXPECT_FALSE(fs::exists(l->dir.file("x.ape")));
    EXPECT_EQ(l->ui.Messages().size(), 3u);
}

}  // namespace
}  // namespace kelvane
