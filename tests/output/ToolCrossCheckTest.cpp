// Programs written by other people read what the export writes: a header
// or tag layout that only our own reader accepts would pass every other
// test and still fail in the user's player. The tools are started without a
// shell; a missing one fails the test and names the Debian package to
// install, since a silently skipped cross-check proves nothing.

#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "output/CTrackExporter.h"
#include "output/OutputNames.h"
#include "settings/SettingsStore.h"
#include "tests/output/EncoderTestSupport.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace kelvane {
namespace {

namespace fs = std::filesystem;

// The Debian package that ships a tool, for the failure message.
std::string PackageOf(const std::string& program)
{
    if (program == "ffprobe" || program == "ffmpeg") return "ffmpeg";
    if (program == "flac" || program == "metaflac") return "flac";
    if (program == "sox" || program == "soxi") return "sox";
    return "vorbis-tools";
}

// A tool that cannot be started is a test failure naming its package.
test::ToolRun RunTool(const std::vector<std::string>& args)
{
    test::ToolRun r = test::RunTool(args);
    if (!r.started) ADD_FAILURE() << "cannot start " << args[0] << " (install the Debian package " << PackageOf(args[0]) << ")";
    return r;
}

// "key=value" lines as a map; a prefix such as "TAG:" is dropped, and keys
// are upper-cased because the tools differ in the case they report.
std::map<std::string, std::string> KeyValues(const std::string& text, const std::string& prefix = {})
{
    std::map<std::string, std::string> m;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(prefix.size(), eq - prefix.size());
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::toupper(c); });
        m[key] = line.substr(eq + 1);
    }
    return m;
}

struct Loaded {
    test::TempDir dir{"kelvane-crosscheck"};
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    std::unique_ptr<CQuillon3Doc> doc;

    std::string Path(const std::string& name) const { return dir.file(name).string(); }

    // Writes track to name in the format chosen; false when it was not written.
    bool Export(int32_t track, int fileType, const std::string& name, int32_t number = 1)
    {
        ExportOptions options;
        options.fileType = fileType;
        CTrackExporter exporter(*doc, options);
        return exporter.WriteTrack(track, number, Path(name), false, false) == WriteResult::Written;
    }
};

std::unique_ptr<Loaded> Load(const std::vector<int32_t>& samples, const test::WavOptions& opts = {})
{
    auto l = std::make_unique<Loaded>();
    l->settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    l->doc = std::make_unique<CQuillon3Doc>(l->settings, l->ui);
    const std::string input = l->Path("side.wav");
    EXPECT_TRUE(test::WriteWav(input, opts, samples));
    EXPECT_TRUE(OpenRecording(*l->doc, input).Ok());
    EXPECT_EQ(LoadRecording(*l->doc, nullptr), LoadOutcome::Completed);
    return l;
}

// A source of `frames` frames of music in the given layout.
std::vector<int32_t> Source(const test::WavOptions& opts, size_t frames)
{
    std::vector<int32_t> stereo = test::Music({}, frames);
    std::vector<int32_t> out;
    for (size_t i = 0; i < stereo.size(); i += 2 / static_cast<size_t>(opts.channels))
        out.push_back(opts.bits == 24 ? stereo[i] * 256 + static_cast<int32_t>(i % 251) : stereo[i]);
    return out;
}

struct Layout {
    const char* name;
    test::WavOptions source;
    int channels;  // of the output
};

// 16-bit stereo; a mono source, which the document widens and the export
// narrows again; 24-bit; and an 18-byte fmt chunk, which the exported
// header copies so the audio keeps its alignment.
std::vector<Layout> Layouts()
{
    test::WavOptions mono;
    mono.channels = 1;
    mono.sampleRate = 48000;
    test::WavOptions deep;
    deep.bits = 24;
    deep.sampleRate = 96000;
    test::WavOptions aligned;
    aligned.fmtSize = 18;
    return {{"s16", {}, 2}, {"mono", mono, 1}, {"s24", deep, 2}, {"fmt18", aligned, 2}};
}

TEST(ToolCrossCheck, FlacAndOggTagsAndStreamsAreReadByFfprobeAndFfmpeg)
{
    auto l = Load(test::Music({}, 40000));
    TrackRecord t;
    t.start = static_cast<int32_t>(l->doc->dataStart + 1000 * 4);
    t.end = static_cast<int32_t>(l->doc->dataStart + 31000 * 4);
    t.preSilence = 2352 * 2;
    t.title = "Caf\xC3\xA9 Ol\xC3\xA9";
    t.artist = "The Band";
    t.album = "Live \xE2\x80\x93 1971";
    t.genre = "Jazz";
    const int32_t track = l->doc->tracks.Add(t);
    const std::string frames = std::to_string(30000 + 2 * 588);
    ASSERT_TRUE(l->Export(track, kFileTypeFlac, "t.flac", 7));
    ASSERT_TRUE(l->Export(track, kFileTypeOgg, "t.ogg", 7));

    for (const char* name : {"t.flac", "t.ogg"}) {
        SCOPED_TRACE(name);
        const test::ToolRun tags = RunTool({"ffprobe", "-v", "error", "-show_entries", "format_tags:stream_tags", "-of",
                                      "default=noprint_wrappers=1", l->Path(name)});
        ASSERT_EQ(tags.status, 0) << tags.err;
        EXPECT_EQ(tags.err, "");
        // ffprobe reports TRACKNUMBER (and Ogg's TrackNumber) as "track".
        const std::map<std::string, std::string> expected = {
            {"TITLE", t.title}, {"ARTIST", t.artist}, {"ALBUM", t.album}, {"GENRE", t.genre}, {"TRACK", "7"}};
        EXPECT_EQ(KeyValues(tags.out, "TAG:"), expected) << tags.out;

        const test::ToolRun stream = RunTool(
            {"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
             "stream=codec_name,channels,sample_rate,duration_ts", "-of", "default=noprint_wrappers=1", l->Path(name)});
        ASSERT_EQ(stream.status, 0) << stream.err;
        std::map<std::string, std::string> s = KeyValues(stream.out);
        EXPECT_EQ(s["CODEC_NAME"], name == std::string("t.flac") ? "flac" : "vorbis");
        EXPECT_EQ(s["CHANNELS"], "2");
        EXPECT_EQ(s["SAMPLE_RATE"], "44100");
        EXPECT_EQ(s["DURATION_TS"], frames);

        // A stream that is broken further in only shows when it is decoded
        // to the end.
        const test::ToolRun decode =
            RunTool({"ffmpeg", "-v", "error", "-nostdin", "-i", l->Path(name), "-f", "null", "-"});
        EXPECT_EQ(decode.status, 0);
        EXPECT_EQ(decode.err, "");
    }
}

TEST(ToolCrossCheck, WaveHeadersAreReadAlikeBySoxAndFfprobe)
{
    for (const Layout& c : Layouts()) {
        SCOPED_TRACE(c.name);
        auto l = Load(Source(c.source, 20000), c.source);
        ASSERT_TRUE(l->Export(0, kFileTypeWav, "out.wav"));
        const std::string out = l->Path("out.wav");
        const std::string rate = std::to_string(c.source.sampleRate);
        const std::string bits = std::to_string(c.source.bits);

        const test::ToolRun probe = RunTool({"ffprobe", "-v", "error", "-show_entries",
                                       "stream=codec_name,channels,sample_rate,bits_per_sample,bit_rate,duration_ts",
                                       "-of", "default=noprint_wrappers=1", out});
        ASSERT_EQ(probe.status, 0) << probe.err;
        EXPECT_EQ(probe.err, "");
        std::map<std::string, std::string> p = KeyValues(probe.out);
        EXPECT_EQ(p["CODEC_NAME"], "pcm_s" + bits + "le");
        EXPECT_EQ(p["CHANNELS"], std::to_string(c.channels));
        EXPECT_EQ(p["SAMPLE_RATE"], rate);
        EXPECT_EQ(p["BITS_PER_SAMPLE"], bits);
        EXPECT_EQ(p["DURATION_TS"], "20000");
        // Taken from the header's byte rate, which a player may trust over
        // the other fields.
        EXPECT_EQ(p["BIT_RATE"], std::to_string(c.source.sampleRate * c.channels * c.source.bits));

        const test::ToolRun info = RunTool({"sox", "--i", out});
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_NE(info.out.find("Channels       : " + std::to_string(c.channels) + "\n"), std::string::npos)
            << info.out;
        EXPECT_NE(info.out.find("Sample Rate    : " + rate + "\n"), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("Precision      : " + bits + "-bit\n"), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("= 20000 samples"), std::string::npos) << info.out;

        // sox must find the audio where the header says it starts: a
        // misread fmt chunk would shift every sample it hands back.
        const std::string raw = l->Path("out.raw");
        const test::ToolRun convert =
            RunTool({"sox", "-V1", out, "-t", "raw", "-e", "signed-integer", "-b", bits, "-L", raw});
        ASSERT_EQ(convert.status, 0) << convert.err;
        const test::WavContents ours = test::ReadWavSamples(out);
        ASSERT_TRUE(ours.ok()) << ours.error;
        const std::vector<uint8_t> file = test::ReadFileBytes(out);
        EXPECT_EQ(test::ReadFileBytes(raw),
                  std::vector<uint8_t>(file.begin() + static_cast<std::ptrdiff_t>(ours.dataOffset), file.end()));
    }
}

TEST(ToolCrossCheck, ReferenceFlacDecoderGivesBackTheWaveSamples)
{
    for (const Layout& c : Layouts()) {
        if (c.source.fmtSize != 16) continue;  // the header layout does not reach FLAC
        SCOPED_TRACE(c.name);
        auto l = Load(Source(c.source, 30000), c.source);
        l->doc->tracks.At(0).preSilence = 2352 * 3;
        l->doc->tracks.At(0).fadeOut = 8000;
        ASSERT_TRUE(l->Export(0, kFileTypeWav, "out.wav"));
        ASSERT_TRUE(l->Export(0, kFileTypeFlac, "out.flac"));
        // flac -d also checks the MD5 signature the encoder stored, and
        // fails on a mismatch.
        const test::ToolRun decode =
            RunTool({"flac", "-d", "-s", "-f", "-o", l->Path("decoded.wav"), l->Path("out.flac")});
        ASSERT_EQ(decode.status, 0) << decode.err;
        EXPECT_EQ(decode.err, "");
        const test::WavContents wav = test::ReadWavSamples(l->Path("out.wav"));
        const test::WavContents flac = test::ReadWavSamples(l->Path("decoded.wav"));
        ASSERT_TRUE(wav.ok()) << wav.error;
        ASSERT_TRUE(flac.ok()) << flac.error;
        EXPECT_EQ(flac.rate, c.source.sampleRate);
        // FLAC always carries two channels; a mono source's are equal and
        // each holds what its WAV's one channel holds.
        EXPECT_EQ(flac.channels, 2);
        EXPECT_EQ(flac.bits, c.source.bits);
        ASSERT_EQ(flac.samples.size(), static_cast<size_t>((30000 + 3 * 588) * 2));
        std::vector<int32_t> expected;
        for (size_t i = 0; i < wav.samples.size(); ++i)
            expected.insert(expected.end(), c.channels == 1 ? 2 : 1, wav.samples[i]);
        EXPECT_TRUE(flac.samples == expected);
    }
}

}  // namespace
}  // namespace kelvane
