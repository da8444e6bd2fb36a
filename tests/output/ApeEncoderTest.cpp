// The Monkey's Audio writer is our own, so nothing but decoders written by
// others can show that its files are right: every file here is decoded by
// libavcodec (through the import) and by jmac, the Java port of the format's
// reference decoder, and must give back exactly the samples it was given.

#include "document/CApeDecoder.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "output/CApeEncoder.h"
#include "output/CTrackExporter.h"
#include "output/EncoderLevels.h"
#include "output/OutputNames.h"
#include "settings/SettingsStore.h"
#include "tests/output/EncoderTestSupport.h"
#include "tests/output/SaveSession.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr size_t kFrame = 73728;  // blocks per frame below "Extra High"

struct Decoded {
    int rate = 0;
    int bits = 0;
    int channels = 0;
    std::vector<int32_t> samples;
    std::string error;
};

// Through the import's own reader (libavformat and libavcodec).
Decoded DecodeWithImport(const fs::path& path)
{
    Decoded d;
    int code = 0;
    auto ape = CApeDecoder::Open(path.string(), code);
    if (!ape) {
        d.error = CApeDecoder::ErrorMessage(code);
        return d;
    }
    d.rate = ape->SampleRate();
    d.bits = ape->BitsPerSample();
    d.channels = ape->Channels();
    std::vector<uint8_t> bytes(static_cast<size_t>(ape->WavDataBytes()));
    const int64_t got = ape->Decode(bytes.data(), ape->TotalBlocks());
    if (got != ape->TotalBlocks()) {
        d.error = "decoding stopped: " + ape->LastError();
        return d;
    }
    const size_t width = static_cast<size_t>(d.bits / 8);
    for (size_t i = 0; i + width <= bytes.size(); i += width) {
        uint32_t v = 0;
        for (size_t b = 0; b < width; ++b) v |= static_cast<uint32_t>(bytes[i + b]) << (8 * b);
        const int shift = 32 - d.bits;
        d.samples.push_back(static_cast<int32_t>(v << shift) >> shift);
    }
    return d;
}

// Through jmac, which reads the stream straight through as the reference
// decoder does and checks every frame's CRC. It exits with 0 even when it
// fails, so only the WAV it writes tells.
Decoded DecodeWithJmac(const fs::path& path)
{
    Decoded d;
    const fs::path wav = path.string() + ".jmac.wav";
    const test::ToolRun run = test::RunTool({"jmac", "d", path.string(), wav.string()});
    const test::WavContents w = test::ReadWavSamples(wav);
    std::error_code ec;
    fs::remove(wav, ec);
    if (!run.started || !w.ok()) {
        d.error = "jmac gave no WAV: " + run.err.substr(0, 300) + w.error;
        return d;
    }
    d.rate = w.rate;
    d.bits = w.bits;
    d.channels = w.channels;
    d.samples = w.samples;
    return d;
}

// In uneven blocks, including an empty one, so that frames fill across calls.
bool Encode(CApeEncoder& enc, const fs::path& path, int rate, int bits, int channels,
            const std::vector<int32_t>& samples, uint64_t estimate, const EncoderTags& tags = {})
{
    if (!enc.Open(path, rate, bits, channels, estimate, tags)) return false;
    const size_t frames = samples.size() / static_cast<size_t>(channels);
    const size_t sizes[] = {50000, 1, 0, 4095, 30001};
    size_t done = 0;
    for (size_t i = 0; done < frames; ++i) {
        const size_t n = std::min(sizes[i % 5], frames - done);
        if (!enc.Write(samples.data() + done * static_cast<size_t>(channels), n)) return false;
        done += n;
    }
    return enc.Finish();
}

void Append(std::vector<int32_t>& to, const std::vector<int32_t>& from) { to.insert(to.end(), from.begin(), from.end()); }

// 16-bit material to 24 bits, with the low byte filled so it carries data.
std::vector<int32_t> Deepened(std::vector<int32_t> v, int bits)
{
    if (bits == 24)
        for (auto& s : v) s = s * 256 + (s & 0xFF);
    return v;
}

// Full-scale square waves: in phase the channels are equal (the frame is
// coded once for both), against each other their difference is twice full
// scale, the largest value the stereo coder ever sees.
std::vector<int32_t> Square(size_t frames, int bits, bool opposed)
{
    const int32_t top = (int32_t{1} << (bits - 1)) - 1;
    std::vector<int32_t> v;
    for (size_t i = 0; i < frames; ++i) {
        const int32_t s = (i / 37) % 2 ? top : -top - 1;
        v.push_back(s);
        v.push_back(opposed ? (s == top ? -top - 1 : top) : s);
    }
    return v;
}

std::vector<int32_t> FullScaleNoise(size_t frames, int bits, uint64_t seed)
{
    test::Prng prng(seed);
    const int64_t top = (int64_t{1} << (bits - 1)) - 1;
    std::vector<int32_t> v(frames * 2);
    for (auto& s : v) s = static_cast<int32_t>(prng.Range(-top - 1, top));
    return v;
}

std::vector<int32_t> Widened(const std::vector<int32_t>& mono)
{
    std::vector<int32_t> v;
    for (const int32_t s : mono) v.insert(v.end(), {s, s});
    return v;
}

std::vector<int32_t> LoudMusic(size_t frames, uint64_t seed)
{
    test::MusicStyle style;
    style.seed = seed;
    style.peak = 0.99;
    auto m = test::Music(style, frames);
    test::MixInto(m, test::Noise(seed + 1, 40, frames), 0);
    return m;
}

void ExpectSame(const Decoded& d, const std::vector<int32_t>& samples, int rate, int bits, int channels,
                const std::string& who)
{
    EXPECT_TRUE(d.error.empty()) << who << ": " << d.error;
    EXPECT_EQ(d.rate, rate) << who;
    EXPECT_EQ(d.bits, bits) << who;
    EXPECT_EQ(d.channels, channels) << who;
    ASSERT_EQ(d.samples.size(), samples.size()) << who;
    const auto diff = std::mismatch(samples.begin(), samples.end(), d.samples.begin());
    EXPECT_TRUE(diff.first == samples.end())
        << who << ": first difference at sample " << (diff.first - samples.begin()) << ": " << *diff.first
        << " became " << *diff.second;
}

struct Format {
    int level;
    int bits;
    int rate;
};

class ApeRoundTrip : public testing::TestWithParam<Format> {};

// Each file has a frame of music, a silent frame, a frame of equal channels
// and a shorter last frame of opposed squares, noise and music, which the
// highest level's longer frames hold all in one.
TEST_P(ApeRoundTrip, BothDecodersGiveBackEverySample)
{
    KELVANE_REQUIRE_TOOL("jmac", "libjmac-java");
    const Format f = GetParam();
    std::vector<int32_t> s = Deepened(LoudMusic(kFrame, 3), f.bits);
    Append(s, std::vector<int32_t>(kFrame * 2, 0));
    Append(s, Square(kFrame, f.bits, false));
    Append(s, Square(9000, f.bits, true));
    Append(s, FullScaleNoise(9000, f.bits, 5));
    Append(s, Deepened(LoudMusic(12001, 4), f.bits));

    TempDir dir;
    const fs::path p = dir.file("round.ape");
    CApeEncoder enc(f.level);
    ASSERT_TRUE(Encode(enc, p, f.rate, f.bits, 2, s, s.size() / 2)) << enc.LastError();
    ExpectSame(DecodeWithImport(p), s, f.rate, f.bits, 2, "import");
    ExpectSame(DecodeWithJmac(p), s, f.rate, f.bits, 2, "jmac");
}

INSTANTIATE_TEST_SUITE_P(EveryLevelAndDepth, ApeRoundTrip,
                         testing::Values(Format{1000, 16, 44100}, Format{2000, 16, 48000}, Format{3000, 16, 88200},
                                         Format{4000, 16, 96000}, Format{1000, 24, 96000}, Format{2000, 24, 88200},
                                         Format{3000, 24, 48000}, Format{4000, 24, 44100}),
                         [](const testing::TestParamInfo<Format>& i) {
                             return "Level" + std::to_string(i.param.level) + "_" + std::to_string(i.param.bits) +
                                    "bit";
                         });

TEST(ApeEncoder, ShortOddAndSilentStreamsAndMono)
{
    KELVANE_REQUIRE_TOOL("jmac", "libjmac-java");
    TempDir dir;
    struct Case {
        const char* name;
        int level;
        int channels;
        std::vector<int32_t> samples;
    };
    std::vector<int32_t> mono;
    const std::vector<int32_t> music = LoudMusic(100001, 9);
    for (size_t i = 0; i < music.size(); i += 2) mono.push_back(music[i]);
    const Case cases[] = {
        {"one.ape", 2000, 2, {1234, -4321}},
        {"short.ape", 3000, 2, LoudMusic(1000, 6)},
        {"odd.ape", 2000, 2, LoudMusic(kFrame + 1, 7)},
        {"silence.ape", 4000, 2, std::vector<int32_t>(200000, 0)},
        {"mono.ape", 1000, 1, mono},
        {"widened.ape", 1000, 2, Widened(mono)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path p = dir.file(c.name);
        CApeEncoder enc(c.level);
        // The export always writes a track number. (jmac cannot read a file
        // under 128 bytes, and a one-sample file without a tag is one.)
        ASSERT_TRUE(Encode(enc, p, 44100, 16, c.channels, c.samples, c.samples.size() / c.channels, {{"Track", "1"}}))
            << enc.LastError();
        ExpectSame(DecodeWithImport(p), c.samples, 44100, 16, c.channels, "import");
        ExpectSame(DecodeWithJmac(p), c.samples, 44100, 16, c.channels, "jmac");
    }
    // Digital silence costs next to nothing: a few bytes per frame. Equal
    // channels (a mono source saved as stereo) are coded once, as in a mono
    // file; only the frame flags are extra.
    EXPECT_LT(fs::file_size(dir.file("silence.ape")), 160u);
    EXPECT_LE(fs::file_size(dir.file("widened.ape")), fs::file_size(dir.file("mono.ape")) + 16);
}

// The header is the reference layout, the MD5 over frames, header and seek
// table is what jmac's verification computes, and a wrong or missing length
// estimate (the seek table is sized from it) still gives a readable file.
TEST(ApeEncoder, HeaderChecksumAndSeekTableWhateverTheEstimate)
{
    KELVANE_REQUIRE_TOOL("jmac", "libjmac-java");
    TempDir dir;
    const std::vector<int32_t> s = LoudMusic(3 * kFrame + 500, 11);
    const size_t frames = s.size() / 2;
    for (const uint64_t estimate : {uint64_t{0}, uint64_t{kFrame}, uint64_t{frames}, uint64_t{10 * frames}}) {
        SCOPED_TRACE(estimate);
        const fs::path p = dir.file("est" + std::to_string(estimate) + ".ape");
        CApeEncoder enc(3000);
        ASSERT_TRUE(Encode(enc, p, 44100, 16, 2, s, estimate)) << enc.LastError();
        ExpectSame(DecodeWithImport(p), s, 44100, 16, 2, "import");
        const std::vector<uint8_t> b = test::ReadFileBytes(p);
        ASSERT_GT(b.size(), 96u);
        auto le = [&](size_t at, int n) {
            uint32_t v = 0;
            for (int i = 0; i < n; ++i) v |= static_cast<uint32_t>(b[at + i]) << (8 * i);
            return v;
        };
        EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "MAC ");
        EXPECT_EQ(le(4, 2), 3990u);
        EXPECT_EQ(le(8, 4), 52u);      // descriptor
        EXPECT_EQ(le(12, 4), 24u);     // header
        EXPECT_GE(le(16, 4), 4u * 4);  // room for the four frames
        EXPECT_EQ(le(20, 4), 0u);      // the decoder makes the WAV header
        EXPECT_EQ(le(52, 2), 3000u);   // level
        EXPECT_EQ(le(54, 2), 32u);     // "create the WAV header" flag
        EXPECT_EQ(le(56, 4), kFrame);
        EXPECT_EQ(le(60, 4), 500u);
        EXPECT_EQ(le(64, 4), 4u);
        EXPECT_EQ(le(76, 4), 76u + le(16, 4));  // the first frame follows the table
        const test::ToolRun v = test::RunTool({"jmac", "v", p.string()});
        EXPECT_EQ(v.err.find("Exception"), std::string::npos) << v.err;
        EXPECT_EQ(v.out.find("Exception"), std::string::npos) << v.out;
    }
}

TEST(ApeEncoder, TagReadsBackThroughFfprobeAndTheImport)
{
    KELVANE_REQUIRE_TOOL("ffprobe", "ffmpeg");
    TempDir dir;
    const fs::path p = dir.file("tagged.ape");
    const EncoderTags tags = {{"Album", "Côte d'Ivoire — live"}, {"Title", "Ça va"}, {"Artist", "A=B \"quoted\""},
                              {"Genre", "Jazz"}, {"Track", "7"}};
    CApeEncoder enc(2000);
    ASSERT_TRUE(Encode(enc, p, 44100, 16, 2, LoudMusic(5000, 2), 5000, tags)) << enc.LastError();

    std::vector<std::pair<std::string, std::string>> fields;
    ASSERT_TRUE(CApeDecoder::ReadTagFields(p.string(), fields));
    EXPECT_EQ(fields, tags);
    int code = 0;
    auto ape = CApeDecoder::Open(p.string(), code);
    ASSERT_TRUE(ape);
    EXPECT_EQ(ape->Tag("title"), "Ça va");

    const std::string out = test::CommandOutput(
        {"ffprobe", "-v", "error", "-show_entries", "format_tags", "-of", "default=noprint_wrappers=1", p.string()});
    for (const auto& [key, value] : tags)
        EXPECT_NE(out.find("TAG:" + key + "=" + value + "\n"), std::string::npos) << key << " in\n" << out;
}

TEST(ApeEncoder, DamageInTheStreamOrTheFileFailsAndKeepsTheEarlierFile)
{
    TempDir dir;
    const fs::path p = dir.file("damaged.ape");
    { std::ofstream(p) << "earlier"; }
    const std::vector<int32_t> s = LoudMusic(2 * kFrame + 100, 12);

    // A bit flipped in the copy the verifier decodes, as if the encoder
    // had written it.
    CApeEncoder flipped(2000);
    flipped.SetVerifierTamperForTests([](std::vector<uint8_t>& packet, uint32_t frame) {
        if (frame == 1) packet[packet.size() / 2] ^= 0x10;
    });
    flipped.SetReplaceExisting(true);
    EXPECT_FALSE(Encode(flipped, p, 44100, 16, 2, s, s.size() / 2));
    EXPECT_NE(flipped.LastError().find("did not decode to the original samples"), std::string::npos)
        << flipped.LastError();

    // Damage to the file itself: a frame's bytes, the seek table, the tag.
    const std::vector<std::function<void(std::fstream&)>> damage = {
        [](std::fstream& f) { f.seekp(2000); f.put('\x5A'); },
        [](std::fstream& f) { f.seekp(76 + 4); f.put('\x01'); },
        [](std::fstream& f) { f.seekp(-33, std::ios::end); f.put('!'); },
    };
    for (size_t i = 0; i < damage.size(); ++i) {
        SCOPED_TRACE(i);
        CApeEncoder enc(1000);
        enc.SetFileTamperForTests([&](const fs::path& partial) {
            std::fstream f(partial, std::ios::in | std::ios::out | std::ios::binary);
            damage[i](f);
        });
        enc.SetReplaceExisting(true);
        EXPECT_FALSE(Encode(enc, p, 44100, 16, 2, s, s.size() / 2, {{"Title", "Damage"}}));
        EXPECT_NE(enc.LastError().find("could not be completed"), std::string::npos) << enc.LastError();
    }
    EXPECT_EQ(test::ReadFileBytes(p), std::vector<uint8_t>({'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
    EXPECT_TRUE(test::PartialFilesBeside(p).empty());
}

TEST(ApeEncoder, RefusesWhatItCannotWriteAndLeavesNothing)
{
    TempDir dir;
    const fs::path p = dir.file("refused.ape");
    CApeEncoder enc(2000);
    test::ExpectOpenRefused(enc, p, 44100, 8, 2, {}, "16 or 24 bits");
    test::ExpectOpenRefused(enc, p, 44100, 16, 3, {}, "mono or stereo");
    test::ExpectOpenRefused(enc, p, 0, 16, 2, {}, "sample rate");
    test::ExpectOpenRefused(enc, p, 44100, 16, 2, {{"Title", std::string("\xC3\x28", 2)}}, "UTF-8");

    ASSERT_TRUE(enc.Open(p, 44100, 16, 2, 10, {}));
    const int32_t tooLoud[2] = {32768, 0};
    EXPECT_FALSE(enc.Write(tooLoud, 1));
    EXPECT_NE(enc.LastError().find("outside the range"), std::string::npos);
    EXPECT_FALSE(fs::exists(p));
    EXPECT_TRUE(test::PartialFilesBeside(p).empty());

    { std::ofstream(p) << "earlier"; }
    test::ExpectUnfinishedKeepsEarlierFile([] { return CApeEncoder(2000); }, p, test::Noise(3, 9000, 3 * kFrame),
                                           3 * kFrame);
}

// A track the export wrote as 16-bit stereo at 44.1 kHz: its samples
// through the import, and its title and number in the tag.
void ExpectExported(const std::string& path, const std::vector<int32_t>& samples, const std::string& title,
                    const std::string& number)
{
    ExpectSame(DecodeWithImport(path), samples, 44100, 16, 2, "import");
    int code = 0;
    auto reader = CApeDecoder::Open(path, code);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Tag("Title"), title);
    EXPECT_EQ(reader->Tag("Track"), number);
}

// The export drives the encoder through the default factory, at the level
// the options name, and the file holds what the WAV export holds.
TEST(ApeEncoder, TrackExportWritesTheChosenLevelWithTheWaveSamples)
{
    test::TempDir dir{"kelvane-ape-export"};
    CMemorySettings settings;
    settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    test::ScriptedInteraction ui;
    CQuillon3Doc doc(settings, ui);
    const std::string input = dir.file("side.wav").string();
    ASSERT_TRUE(test::WriteWav(input, {}, test::Music({}, 60000)));
    ASSERT_TRUE(OpenRecording(doc, input).Ok());
    ASSERT_EQ(LoadRecording(doc, nullptr), LoadOutcome::Completed);
    TrackRecord t;
    t.start = static_cast<int32_t>(doc.dataStart + 1000 * 4);
    t.end = static_cast<int32_t>(doc.dataStart + 58000 * 4);
    t.title = "Piece";
    t.postSilence = 4704;
    t.fadeIn = 9000;
    const int32_t track = doc.tracks.Add(t);

    ExportOptions wav;
    const std::string wavPath = dir.file("out.wav").string();
    ASSERT_EQ(CTrackExporter(doc, wav).WriteTrack(track, 2, wavPath, false, false), WriteResult::Written);
    const test::WavContents expected = test::ReadWavSamples(wavPath);
    ASSERT_TRUE(expected.ok());

    ExportOptions ape;
    ape.fileType = kFileTypeApe;
    ape.apeLevelIndex = 0;
    const std::string apePath = dir.file("out.ape").string();
    ASSERT_EQ(CTrackExporter(doc, ape).WriteTrack(track, 2, apePath, false, false), WriteResult::Written);
    ExpectExported(apePath, expected.samples, "Piece", "2");
    const std::vector<uint8_t> b = test::ReadFileBytes(apePath);
    ASSERT_GT(b.size(), 54u);
    EXPECT_EQ(b[52] | b[53] << 8, ApeCompressionLevelAt(0));
}

// A resampled track reaches its file through a WAV beside it, which
// EncodeWaveFile turns into the APE file and removes.
TEST(ApeEncoder, EncodeWaveFileTurnsTheWavIntoApeAndRemovesIt)
{
    auto s = test::OpenForSave(50000, {{0, 40000}});
    s->doc->tracks.At(1).title = "Song";
    const std::string ape = s->Out("song.ape");
    const std::string temp = CTrackExporter::TemporaryWavPath(ape);
    ASSERT_EQ(CTrackExporter(*s->doc, {}).WriteTrack(1, 3, temp, false, false), WriteResult::Written);
    const std::vector<int32_t> samples = test::ReadWavSamples(temp).samples;

    ExportOptions options;
    options.fileType = kFileTypeApe;
    ASSERT_EQ(CTrackExporter(*s->doc, options).EncodeWaveFile(1, 3, ape, temp), WriteResult::Written);
    EXPECT_FALSE(fs::exists(temp));
    ExpectExported(ape, samples, "Song", "3");
}

// A track shorter than a frame is encoded, and checked, when the export
// finishes; a check that fails then is the compressor failing to finish.
TEST(ApeEncoder, AFailedCheckAtTheEndIsReportedAsTheEncoderNotFinishing)
{
    auto s = test::OpenForSave(30000, {{0, 20000}});
    ExportOptions options;
    options.fileType = kFileTypeApe;
    CTrackExporter exporter(*s->doc, options);
    exporter.SetEncoderFactory([](const ExportOptions&) {
        auto enc = std::make_unique<CApeEncoder>(2000);
        enc->SetVerifierTamperForTests([](std::vector<uint8_t>& packet, uint32_t) { packet[packet.size() / 2] ^= 0x10; });
        return enc;
    });
    s->ui.AllowOkBoxes(true);
    EXPECT_EQ(exporter.WriteTrack(1, 1, s->Out("broken.ape"), false, false), WriteResult::Failed);
    const std::string shown = s->ui.Texts().back();
    EXPECT_EQ(shown.rfind(CTrackExporter::kEncoderFinish, 0), 0u) << shown;
    EXPECT_NE(shown.find("did not decode to the original samples"), std::string::npos) << shown;
    EXPECT_FALSE(fs::exists(s->Out("broken.ape")));
    EXPECT_TRUE(test::PartialFilesBeside(s->Out("broken.ape")).empty());
}

}  // namespace
}  // namespace kelvane
