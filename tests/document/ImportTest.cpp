// Import of every source kind: header checks, layout, the temporary source,
// the working file, refusals and the clean-up after them.

#include "document/CImporter.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "document/WavHeader.h"
#include "settings/SettingsStore.h"
#include "tests/support/ApeTestFiles.h"
#include "tests/support/FlacTestFiles.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using test::WavOptions;

std::vector<int32_t> Ramp(size_t frames, int channels = 2, int32_t scale = 1)
{
    std::vector<int32_t> s(frames * channels);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int32_t>((i * 37 % 20000) - 10000) * scale;
    return s;
}

struct ImportFixture : ::testing::Test {
    test::TempDir dir;
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    std::unique_ptr<CQuillon3Doc> doc;

    void SetUp() override
    {
        settings.Set(settings::TempMode, settings::kTempModeSameFolder);
        doc = std::make_unique<CQuillon3Doc>(settings, ui);
    }
    void TearDown() override { doc.reset(); }

    std::string Write(const std::string& name, const WavOptions& opts, const std::vector<int32_t>& samples)
    {
        const fs::path p = dir.file(name);
        EXPECT_TRUE(test::WriteWav(p, opts, samples));
        return p.string();
    }
    // Only the inputs remain in the folder.
    std::vector<std::string> Leftovers(const std::vector<std::string>& inputs)
    {
        std::vector<std::string> extra;
        for (const auto& e : fs::directory_iterator(dir.path())) {
            const std::string p = e.path().string();
            if (std::find(inputs.begin(), inputs.end(), p) == inputs.end()) extra.push_back(p);
        }
        return extra;
    }
};

TEST_F(ImportFixture, PlainStereoWavLaysOutTheDocument)
{
    const std::string path = Write("side.wav", {}, Ramp(10000));
    const auto before = test::ReadFileBytes(path);
    ASSERT_TRUE(OpenRecording(*doc, path).Ok());
    EXPECT_EQ(doc->status, kStatusNotScanned);
    EXPECT_EQ(doc->sourceKind, kSourceWav);
    EXPECT_EQ(doc->dataStart, 44);
    EXPECT_EQ(doc->dataEnd, 44 + 40000);
    EXPECT_EQ(doc->dataAlign, 0);
    EXPECT_EQ(doc->trailerBytes, 0);
    EXPECT_EQ(doc->scanFirst, 44 + 20480);
    EXPECT_EQ(doc->scanLast, 44 + 40000 - 20480);
    EXPECT_EQ(doc->blockLevel.size(), static_cast<size_t>((44 + 40000) / 4096 + 1));
    EXPECT_EQ(doc->segmentCorrections.size(), 1u);
    EXPECT_EQ(doc->title, path);
    EXPECT_EQ(doc->workingPath, dir.file("side~.wav").string());
    EXPECT_TRUE(fs::exists(doc->workingPath));
    EXPECT_EQ(settings.Get(settings::PathName), dir.path().string());
    EXPECT_EQ(doc->scaleSteps.size(), 21u);
    EXPECT_EQ(doc->coarseScaleSteps, (std::vector<int32_t>{0, 4410, 8820, 22050, 44100, 88200, 220500, 441000}));
    doc->DeleteContents();
    EXPECT_FALSE(fs::exists(dir.file("side~.wav")));
    EXPECT_EQ(test::ReadFileBytes(path), before);
}

TEST_F(ImportFixture, ChunkIdentifiersInAnyCaseAndExtraChunks)
{
    WavOptions lower;
    lower.lowerCaseIds = true;
    WavOptions upper;
    upper.upperCaseIds = true;
    upper.fmtSize = 18;
    WavOptions extra;
    extra.chunksBeforeFmt = {{"JUNK", std::string(10, 'x')}};
    extra.chunksBetween = {{"LIST", "INFOabcd"}, {"fact", "1234"}};
    extra.chunksAfterData = {{"id3 ", std::string(100, 'y')}};
    for (const WavOptions& opts : {lower, upper, extra}) {
        const std::string path = Write("odd.wav", opts, Ramp(3000));
        ASSERT_TRUE(OpenRecording(*doc, path).Ok()) << path;
        EXPECT_EQ(doc->dataEnd - doc->dataStart, 12000);
        doc->DeleteContents();
    }
    // The chunks after the data: 8-byte header + 100 bytes.
    const std::string path = Write("odd.wav", extra, Ramp(3000));
    ASSERT_TRUE(OpenRecording(*doc, path).Ok());
    EXPECT_EQ(doc->trailerBytes, 108);
    EXPECT_EQ(doc->dataStart, 12 + 18 + 24 + 16 + 12 + 8);
    EXPECT_EQ(doc->dataAlign, doc->dataStart % 4);
}

TEST_F(ImportFixture, PaddedOddChunkIsWalkedWhenThePlainWalkFails)
{
    test::WavOptions opts;
    opts.chunksBetween = {{"LIST", "abc"}};  // 3 bytes and RIFF's pad byte
    const std::string path = Write("padded.wav", opts, Ramp(3000));
    ASSERT_TRUE(OpenRecording(*doc, path).Ok());
    EXPECT_EQ(doc->dataStart, 12 + 8 + 16 + 8 + 3 + 1 + 8);
    EXPECT_EQ(doc->dataAlign, 0);
    EXPECT_EQ(doc->dataEnd - doc->dataStart, 12000);
}

TEST_F(ImportFixture, RatesAndDepthsAccepted)
{
    for (int rate : {44100, 48000, 88200, 96000}) {
        for (int bits : {16, 24}) {
            WavOptions opts;
            opts.sampleRate = rate;
            opts.bits = bits;
            const std::string path = Write("r.wav", opts, Ramp(2000, 2, bits == 24 ? 256 : 1));
            ASSERT_TRUE(OpenRecording(*doc, path).Ok()) << rate << "/" << bits;
            EXPECT_EQ(doc->sampleRate, rate);
            EXPECT_EQ(doc->bitsPerSample, bits);
            EXPECT_EQ(doc->dataEnd - doc->dataStart, 8000);  // 24-bit: 6 bytes per frame, 4 units
            EXPECT_EQ(doc->overviewStep, rate <= 48000 ? 512 : 1024);
            doc->DeleteContents();
            EXPECT_EQ(doc->bitsPerSample, 16);
        }
    }
}

TEST_F(ImportFixture, ZeroDataSizeIsRepairedFromTheFileLength)
{
    WavOptions opts;
    opts.dataSizeOverride = 0;
    const std::string path = Write("zero.wav", opts, Ramp(5000));
    ui.Expect({kMsgRepair, MbAnswer::Ok, std::string("Kelvane"), MbButtons::Ok, MbIcon::Information});
    ASSERT_TRUE(OpenRecording(*doc, path).Ok());
    EXPECT_EQ(doc->dataEnd, 44 + 20000);
    EXPECT_EQ(doc->trailerBytes, 0);
    ui.ExpectDone();
}

struct Refusal {
    const char* name;
    WavOptions opts;
    int frames;
    const char* text;    // nullptr: any message
    const char* reason;  // the line after the format message; nullptr: none expected
};

TEST_F(ImportFixture, BadWavInputIsRefusedWithItsMessageAndNothingLeftBehind)
{
    WavOptions mono22;
    mono22.channels = 1;
    mono22.sampleRate = 22050;
    WavOptions rate32;
    rate32.sampleRate = 32000;
    WavOptions eightBit;
    eightBit.bits = 8;
    WavOptions threeChannels;  // block align 6 would pass for 24-bit stereo
    threeChannels.channels = 3;
    WavOptions compressed;
    compressed.formatTag = 2;
    WavOptions shortFmt;
    shortFmt.fmtSize = 12;
    WavOptions truncated;
    truncated.truncateAt = 3000;
    WavOptions hugeData;
    hugeData.dataSizeOverride = 0x7FFFFFF0;
    WavOptions noData;
    noData.truncateAt = 36;
    WavOptions hugeChunk;
    hugeChunk.chunksBeforeFmt = {{"JUNK", "ab"}};
    // Every refused header shows the format message itself; what exactly is
    // wrong follows on a line of its own. A data chunk cut short is not a
    // format problem and says so instead.
    const std::vector<Refusal> cases = {
        {"mono 22.05 kHz", mono22, 3000, kMsgBadFormat, "The sample rate is 22050 Hz."},
        {"32 kHz", rate32, 3000, kMsgBadFormat, "The sample rate is 32000 Hz."},
        {"8 bit", eightBit, 3000, kMsgBadFormat, "The samples have 8 bits."},
        {"three channels", threeChannels, 3000, kMsgBadFormat, "The file has 3 channels."},
        {"compressed", compressed, 3000, kMsgBadFormat, "The audio is coded (format 2), not PCM."},
        {"short fmt", shortFmt, 3000, kMsgBadFormat, "The file's \"fmt \" chunk is too short to describe its audio."},
        {"truncated", truncated, 3000, nullptr, nullptr},
        {"data size past the end", hugeData, 3000, nullptr, nullptr},
        {"no data chunk", noData, 3000, kMsgBadFormat, nullptr},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Write("bad.wav", c.opts, Ramp(c.frames, c.opts.channels));
        const auto before = test::ReadFileBytes(path);
        test::ScriptedInteraction refusing;
        refusing.AllowOkBoxes(true);
        CQuillon3Doc d(settings, refusing);
        const OpResult r = OpenRecording(d, path);
        EXPECT_EQ(r.kind, FailKind::BadInput);
        ASSERT_FALSE(refusing.Messages().empty());
        const std::string& shown = refusing.Messages().back().text;
        if (c.text) {
            EXPECT_EQ(shown.substr(0, std::string(c.text).size()), c.text);
            if (c.reason) {
                EXPECT_EQ(shown, std::string(c.text) + "\n" + c.reason);
            }
        } else {
            EXPECT_EQ(shown.rfind("The file is truncated: its \"data\" chunk declares ", 0), 0u) << shown;
        }
        EXPECT_FALSE(refusing.Messages().back().text.empty());
        EXPECT_EQ(d.status, kStatusNotLoaded);
        EXPECT_EQ(test::ReadFileBytes(path), before);
        EXPECT_TRUE(Leftovers({path}).empty());
    }
}

TEST_F(ImportFixture, EmptyMissingFolderAndUnsupportedNames)
{
    test::ScriptedInteraction quiet;
    quiet.AllowOkBoxes(true);
    CQuillon3Doc d(settings, quiet);
    const std::string empty = dir.file("empty.wav").string();
    test::WriteFileBytes(empty, {});
    EXPECT_EQ(OpenRecording(d, empty).kind, FailKind::BadInput);
    EXPECT_EQ(OpenRecording(d, dir.file("missing.wav").string()).kind, FailKind::BadInput);
    fs::create_directory(dir.file("folder.wav"));
    EXPECT_EQ(OpenRecording(d, dir.file("folder.wav").string()).kind, FailKind::BadInput);
    const std::string wave = Write("x.wave", {}, Ramp(100));
    EXPECT_EQ(OpenRecording(d, wave).message, kMsgNotSupported);
    EXPECT_TRUE(Leftovers({empty, wave, dir.file("folder.wav").string()}).empty());
    for (const auto& m : quiet.Messages()) EXPECT_FALSE(m.text.empty());
}

TEST_F(ImportFixture, UpperCaseFlacExtensionIsAccepted)
{
    test::FlacOptions opts;
    const fs::path p = dir.file("SIDE.FLAC");
    ASSERT_TRUE(test::WriteFlac(p, opts, Ramp(5000)));
    ui.OnCreateProgress([](test::RecordingProgress&, size_t) {});
    ASSERT_TRUE(OpenRecording(*doc, p.string()).Ok());
    EXPECT_EQ(doc->sourceKind, kSourceFlac);
    EXPECT_EQ(doc->sourcePath, dir.file("SIDE.tmp").string());
    EXPECT_EQ(doc->workingPath, dir.file("SIDE~.wav").string());
}

TEST_F(ImportFixture, MonoWavIsWidenedIntoATemporarySource)
{
    WavOptions opts;
    opts.channels = 1;
    const std::string path = Write("mono.wav", opts, Ramp(5000, 1));
    ASSERT_TRUE(OpenRecording(*doc, path).Ok());
    EXPECT_EQ(doc->sourceKind, kSourceMono);
    EXPECT_EQ(doc->originalPath, path);
    EXPECT_EQ(doc->title, path);
    EXPECT_EQ(doc->sourcePath, dir.file("mono.tmp").string());
    EXPECT_EQ(doc->dataEnd - doc->dataStart, 20000);
    const auto tmp = test::ReadWavSamples(doc->sourcePath);
    ASSERT_TRUE(tmp.ok()) << tmp.error;
    EXPECT_EQ(tmp.channels, 2);
    const auto bytes = test::ReadFileBytes(doc->sourcePath);
    EXPECT_EQ(ReadLe32(bytes.data() + 28), 176400u);
    // Import widens the first 1024 frames at once.
    const auto mono = Ramp(5000, 1);
    for (int i = 0; i < 1024; ++i) {
        ASSERT_EQ(tmp.samples[2 * i], mono[i]);
        ASSERT_EQ(tmp.samples[2 * i + 1], mono[i]);
    }
    doc->DeleteContents();
    EXPECT_FALSE(fs::exists(dir.file("mono.tmp")));
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(ImportFixture, FortyEightKilohertzMonoAndStereoFallback)
{
    WavOptions opts;
    opts.channels = 1;
    opts.sampleRate = 48000;
    const std::string path = Write("m48.wav", opts, Ramp(3000, 1));
    ASSERT_TRUE(OpenRecording(*doc, path).Ok());
    EXPECT_EQ(doc->sourceKind, kSourceMono);
    EXPECT_EQ(ReadLe32(test::ReadFileBytes(doc->sourcePath).data() + 28), 192000u);
    doc->DeleteContents();
    // A mono file with an extra chunk before fmt fails the strict test and
    // is then refused by the stereo checks.
    opts.chunksBeforeFmt = {{"JUNK", "abcd"}};
    const std::string odd = Write("m48b.wav", opts, Ramp(3000, 1));
    test::ScriptedInteraction refusing;
    refusing.Expect(std::string(kMsgBadFormat) + "\nThe file has 1 channel.", MbAnswer::Ok);
    CQuillon3Doc d(settings, refusing);
    EXPECT_EQ(OpenRecording(d, odd).kind, FailKind::BadInput);
}

TEST_F(ImportFixture, WorkingFileFolderFollowsTempMode)
{
    EXPECT_EQ(CImporter::WorkingFilePath("/music/side one.wav", settings::kTempModeSameFolder, ""),
              "/music/side one~.wav");
    EXPECT_EQ(CImporter::WorkingFilePath("/music/a.tmp", settings::kTempModeUser, "/scratch"), "/scratch/a~.wav");
    const std::string sys = CImporter::WorkingFilePath("/music/a.wav", settings::kTempModeSystem, "");
    EXPECT_EQ(fs::path(sys).parent_path(), fs::temp_directory_path().lexically_normal().string().empty()
                                               ? fs::path("/tmp")
                                               : fs::path(fs::temp_directory_path()).lexically_normal());
    EXPECT_EQ(fs::path(sys).filename(), "a~.wav");
    EXPECT_EQ(ReplaceTail("/x/.wav", 4, "~.wav"), "/x/~.wav");
    EXPECT_EQ(ReplaceTail("/x.y/ab", 4, ".tmp"), "/x.y/.tmp");
}

TEST_F(ImportFixture, InsufficientSpaceKeepsTheReserve)
{
    const std::string path = Write("s.wav", {}, Ramp(10000));
    const int64_t length = static_cast<int64_t>(fs::file_size(path));
    for (int64_t spare : {int64_t{0}, int64_t{-1}}) {
        test::ScriptedInteraction full;
        full.AllowOkBoxes(true);
        CQuillon3Doc d(settings, full);
        CImporter importer(d);
        importer.SetFreeSpaceQuery([&](const std::string&, std::error_code&) { return length + kDiskReserve + spare; });
        const OpResult r = OpenRecording(d, path, &importer);
        if (spare == 0) {
            EXPECT_TRUE(r.Ok());
        } else {
            EXPECT_EQ(r.kind, FailKind::Environment);
            EXPECT_EQ(r.message, "Insufficient space on Drive " + dir.path().string());
            EXPECT_TRUE(Leftovers({path}).empty());
        }
    }
}

// Sparse files: the size limits without writing gigabytes.
void SparseWav(const fs::path& p, int bits, int64_t totalBytes)
{
    WavOptions opts;
    opts.bits = bits;
    opts.dataSizeOverride = static_cast<uint32_t>(totalBytes - 44);
    auto bytes = test::WavBytes(opts, {});
    test::WriteFileBytes(p, bytes);
    fs::resize_file(p, static_cast<uintmax_t>(totalBytes));
}

TEST_F(ImportFixture, SizeLimitsDependOnDepth)
{
    const fs::path big24 = dir.file("big24.wav");
    SparseWav(big24, 24, 3000000000LL - (3000000000LL - 44) % 6);
    ASSERT_TRUE(OpenRecording(*doc, big24.string()).Ok());
    EXPECT_EQ(doc->bitsPerSample, 24);
    EXPECT_EQ(doc->dataEnd, 44 + (3000000000LL - 44 - (3000000000LL - 44) % 6) / 3 * 2);
    doc->DeleteContents();
    fs::remove(big24);

    const fs::path big16 = dir.file("big16.wav");
    SparseWav(big16, 16, 3000000000LL);
    test::ScriptedInteraction refusing;
    refusing.Expect(kMsgTooLong, MbAnswer::Ok);
    CQuillon3Doc d(settings, refusing);
    EXPECT_EQ(OpenRecording(d, big16.string()).kind, FailKind::BadInput);
    refusing.ExpectDone();
    EXPECT_TRUE(Leftovers({big16.string()}).empty());
}

TEST_F(ImportFixture, FlacRefusalsDeleteTheTemporaryWav)
{
    test::FlacOptions mono;
    mono.channels = 1;
    const fs::path m = dir.file("mono.flac");
    ASSERT_TRUE(test::WriteFlac(m, mono, Ramp(3000, 1)));
    const fs::path garbage = dir.file("garbage.flac");
    test::WriteFileBytes(garbage, std::vector<uint8_t>(5000, 0x5A));

    struct Case {
        fs::path path;
        std::string text;
    };
    for (const Case& c : {Case{m, kMsgBadFormat}, Case{garbage, ""}}) {
        SCOPED_TRACE(c.path.string());
        test::ScriptedInteraction refusing;
        refusing.AllowOkBoxes(true);
        CQuillon3Doc d(settings, refusing);
        EXPECT_EQ(OpenRecording(d, c.path.string()).kind, FailKind::BadInput);
        ASSERT_FALSE(refusing.Messages().empty());
        if (!c.text.empty()) {
            EXPECT_EQ(refusing.Messages().front().text, c.text);
        }
        EXPECT_TRUE(Leftovers({m.string(), garbage.string()}).empty());
    }
}

TEST_F(ImportFixture, FlacDecodeCancelledAskingReallyCancel)
{
    test::FlacOptions opts;
    const fs::path p = dir.file("long.flac");
    ASSERT_TRUE(test::WriteFlac(p, opts, Ramp(200000)));
    ui.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(3); });
    ui.Expect({"Really Cancel?", MbAnswer::Yes, std::nullopt, MbButtons::YesNo, MbIcon::Question});
    const OpResult r = OpenRecording(*doc, p.string());
    EXPECT_EQ(r.kind, FailKind::Cancelled);
    ui.ExpectDone();
    EXPECT_FALSE(fs::exists(dir.file("long.tmp")));
    ASSERT_FALSE(ui.Progresses().empty());
    EXPECT_EQ(ui.Progresses()[0]->captions.front(), "Loading Flac file...");
    EXPECT_EQ(ui.Progresses()[0]->stageNames.at(0), "Decode Flac File");
}

TEST_F(ImportFixture, FlacTagsAndPassedOnComments)
{
    test::FlacOptions opts;
    opts.comments = {{"title", "Side A"}, {"ARTIST", "The Band"}, {"Album", "Live"}, {"GENRE", "Jazz"},
                     {"TRACKNUMBER", "3"}, {"date", "1969"}, {"COMMENT", "a=b"}};
    const fs::path p = dir.file("tagged.flac");
    ASSERT_TRUE(test::WriteFlac(p, opts, Ramp(3000)));
    ASSERT_TRUE(OpenRecording(*doc, p.string()).Ok());
    EXPECT_EQ(doc->inputTags.title, "Side A");
    EXPECT_EQ(doc->inputTags.artist, "The Band");
    EXPECT_EQ(doc->inputTags.album, "Live");
    EXPECT_EQ(doc->inputTags.genre, "Jazz");
    EXPECT_EQ(doc->inputTrackNumber, "3");
    EXPECT_EQ(doc->passedOnComments, (std::vector<std::string>{"DATE=\"1969\"", "COMMENT=\"a=b\""}));
}

TEST_F(ImportFixture, ApeFormatAndTags)
{
    if (!test::JmacAvailable()) GTEST_SKIP() << "jmac (Debian libjmac-java) is not installed";
    const auto pcm = test::MakeApeTestSignal(16, 2, 20000, 7);
    const fs::path wav = dir.file("src.wav");
    ASSERT_TRUE(test::WriteApeSourceWav(wav, 48000, 16, 2, pcm));
    const fs::path ape = dir.file("side.ape");
    ASSERT_TRUE(test::EncodeApeWithJmac(wav, ape, 2));
    ASSERT_TRUE(test::AppendApeV2Tag(ape, {{"Title", "Nocturne"}, {"Artist", "Pianist"}, {"Track", "7"}}));
    ASSERT_TRUE(OpenRecording(*doc, ape.string()).Ok());
    EXPECT_EQ(doc->sourceKind, kSourceApe);
    EXPECT_EQ(doc->sampleRate, 48000);
    EXPECT_EQ(doc->dataEnd - doc->dataStart, 80000);
    EXPECT_EQ(doc->inputTags.title, "Nocturne");
    EXPECT_EQ(doc->inputTags.artist, "Pianist");
    EXPECT_EQ(doc->inputTags.album, "");
    EXPECT_EQ(doc->inputTrackNumber, "7");
    EXPECT_EQ(doc->sourcePath, dir.file("side.tmp").string());

    test::ScriptedInteraction refusing;
    refusing.AllowOkBoxes(true);
    CQuillon3Doc d(settings, refusing);
    const fs::path junk = dir.file("junk.ape");
    test::WriteFileBytes(junk, std::vector<uint8_t>(3000, 1));
    EXPECT_EQ(OpenRecording(d, junk.string()).kind, FailKind::BadInput);
    ASSERT_FALSE(refusing.Messages().empty());
    EXPECT_EQ(refusing.Messages().back().text.rfind("Error opening APE file. (error code ", 0), 0u);
}

}  // namespace
}  // namespace kelvane
