// Import of damaged and unusual input: FLAC streams whose header disagrees
// with their audio or whose frames are bad, special files, damaged Monkey's
// Audio, odd WAV headers, and where the decoded copy goes and what the
// free-space check counts.

#include "document/CImporter.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "document/WavHeader.h"
#include "settings/SettingsStore.h"
#include "tests/support/ApeTestFiles.h"
#include "tests/support/FlacTestFiles.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using test::WavOptions;

std::vector<int32_t> Ramp(size_t frames, int channels = 2)
{
    std::vector<int32_t> s(frames * channels);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int32_t>(i * 37 % 20000) - 10000;
    return s;
}

// STREAMINFO's total (the low 36 bits of the 64-bit field at byte 18).
void SetStatedTotal(const fs::path& flac, uint64_t total)
{
    auto bytes = test::ReadFileBytes(flac);
    ASSERT_GT(bytes.size(), 42u);
    bytes[21] = static_cast<uint8_t>((bytes[21] & 0xF0) | ((total >> 32) & 0x0F));
    for (int k = 0; k < 4; ++k) bytes[22 + k] = static_cast<uint8_t>(total >> (24 - 8 * k));
    ASSERT_TRUE(test::WriteFileBytes(flac, bytes));
}

struct DamageFixture : ::testing::Test {
    test::TempDir dir;
    test::TempDir scratch{"kelvane-scratch"};
    CMemorySettings settings;
    test::ScriptedInteraction ui;

    void SetUp() override
    {
        settings.Set(settings::TempMode, settings::kTempModeSameFolder);
        ui.AllowOkBoxes(true);
    }

    struct Opened {
        OpResult result;
        int64_t frames = 0;  // of the imported recording
        std::vector<std::string> texts;
    };
    Opened Open(const fs::path& path, bool acceptDamaged = false)
    {
        test::ScriptedInteraction quiet;
        quiet.AllowOkBoxes(true);
        CQuillon3Doc doc(settings, quiet);
        CImporter importer(doc);
        importer.SetAcceptDamaged(acceptDamaged);
        Opened o;
        o.result = OpenRecording(doc, path.string(), &importer);
        if (o.result.Ok()) o.frames = (doc.dataEnd - doc.dataStart) / 4;
        o.texts = quiet.Texts();
        doc.DeleteContents();
        return o;
    }
    // Everything in the folder but the inputs.
    std::vector<std::string> Leftovers(const fs::path& folder, const std::vector<fs::path>& inputs)
    {
        std::vector<std::string> extra;
        for (const auto& e : fs::directory_iterator(folder))
            if (std::find(inputs.begin(), inputs.end(), e.path()) == inputs.end()) extra.push_back(e.path().string());
        return extra;
    }
};

// --- FLAC: what the header states against what the stream holds ----------

TEST_F(DamageFixture, FlacTotalThatDisagreesWithTheStreamKeepsEveryDecodedFrame)
{
    const auto samples = Ramp(30000);
    struct Case {
        const char* name;
        uint64_t stated;  // 0: streamed, no total
    };
    for (const Case& c : {Case{"short.flac", 5000}, Case{"streamed.flac", 0}}) {
        SCOPED_TRACE(c.name);
        const fs::path p = dir.file(c.name);
        ASSERT_TRUE(test::WriteFlac(p, {}, samples));
        SetStatedTotal(p, c.stated);
        const Opened o = Open(p);
        ASSERT_TRUE(o.result.Ok()) << o.result.message;
        EXPECT_EQ(o.frames, 30000);
        EXPECT_TRUE(Leftovers(dir.path(), {p}).empty());
        fs::remove(p);
    }
    // The decoded copy's header states what it holds, so every frame reaches
    // the working file.
    const fs::path p = dir.file("short.flac");
    ASSERT_TRUE(test::WriteFlac(p, {}, samples));
    SetStatedTotal(p, 5000);
    CQuillon3Doc doc(settings, ui);
    ASSERT_TRUE(OpenRecording(doc, p.string()).Ok());
    const auto tmp = test::ReadWavSamples(doc.sourcePath);
    ASSERT_TRUE(tmp.ok()) << tmp.error;
    EXPECT_EQ(tmp.samples, samples);
}

TEST_F(DamageFixture, DamagedFlacIsRefusedWithTheFirstBadFrameUnlessAccepted)
{
    const auto samples = Ramp(60000);
    const fs::path good = dir.file("good.flac");
    ASSERT_TRUE(test::WriteFlac(good, {}, samples));
    const auto original = test::ReadFileBytes(good);

    // Bytes overwritten in the middle of the stream: the frames there fail
    // their checks, and libFLAC would hand them over as silence.
    auto bytes = original;
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 40; ++i) bytes[i] ^= 0x55;
    const fs::path hit = dir.file("hit.flac");
    ASSERT_TRUE(test::WriteFileBytes(hit, bytes));
    // A stream cut off two thirds of the way through.
    const fs::path cut = dir.file("cut.flac");
    ASSERT_TRUE(test::WriteFileBytes(cut, {original.begin(), original.begin() + static_cast<long>(original.size() * 2 / 3)}));
    // Every frame intact, but the MD5 signature of the whole is not this audio's.
    bytes = original;
    bytes[26] ^= 0xFF;
    const fs::path md5 = dir.file("md5.flac");
    ASSERT_TRUE(test::WriteFileBytes(md5, bytes));

    struct Case {
        fs::path path;
        std::string start;
    };
    for (const Case& c : {Case{hit, "The FLAC file is damaged: "}, Case{cut, "The FLAC file is cut short: its audio ends at 0:"},
                          Case{md5, "The FLAC file is damaged: the decoded audio does not match the MD5 signature"}}) {
        SCOPED_TRACE(c.path.filename().string());
        const Opened refused = Open(c.path);
        EXPECT_EQ(refused.result.kind, FailKind::BadInput);
        EXPECT_TRUE(refused.result.damaged);
        EXPECT_EQ(refused.result.message.rfind(c.start, 0), 0u) << refused.result.message;
        ASSERT_FALSE(refused.texts.empty());
        EXPECT_EQ(refused.texts.back(), refused.result.message);
        EXPECT_TRUE(Leftovers(dir.path(), {good, hit, cut, md5}).empty());

        const Opened accepted = Open(c.path, true);
        EXPECT_TRUE(accepted.result.Ok()) << accepted.result.message;
        EXPECT_GT(accepted.frames, 30000);
    }
    // The time of the first bad frame: the damage sits in the second half.
    const Opened refused = Open(hit);
    const size_t at = refused.result.message.find(" at 0:");
    ASSERT_NE(at, std::string::npos) << refused.result.message;
    const double seconds = std::stod(refused.result.message.substr(at + 6, 6));
    EXPECT_GT(seconds, 0.5);
    EXPECT_LT(seconds, 60000 / 44100.0);
    EXPECT_TRUE(Open(good).result.Ok());
}

// --- files that are not files -----------------------------------------------

TEST_F(DamageFixture, FifoInputsAreRefusedWithoutOpeningThem)
{
    const std::vector<fs::path> fifos{dir.file("pipe.wav"), dir.file("pipe.flac"), dir.file("pipe.ape")};
    for (const fs::path& f : fifos) ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0) << std::strerror(errno);
    // (A device behind an audio name, such as /dev/zero, is tried through the
    // batch tool, whose run can be ended if it never stops reading.)

    // An import that opens a FIFO waits for a writer forever; this one
    // turns up after a while so that a fault fails the test, not hangs it.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 100 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (done) return;
        for (const fs::path& f : fifos) {
            const int fd = ::open(f.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
    });
    for (const fs::path& f : fifos) {
        SCOPED_TRACE(f.string());
        const Opened o = Open(f);
        EXPECT_EQ(o.result.kind, FailKind::BadInput);
        EXPECT_NE(o.result.message.find("is not a regular file"), std::string::npos) << o.result.message;
    }
    done = true;
    watchdog.join();
    EXPECT_TRUE(Leftovers(dir.path(), fifos).empty());
}

TEST_F(DamageFixture, CancelIsHeardWhileLibflacSearchesJunk)
{
    // Eight megabytes without a FLAC stream: no frame is ever written, so
    // only the reading can notice the cancel.
    const fs::path junk = dir.file("junk.flac");
    {
        std::FILE* f = std::fopen(junk.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::vector<uint8_t> block(1 << 20, 0x11);
        for (int i = 0; i < 8; ++i) ASSERT_EQ(std::fwrite(block.data(), 1, block.size(), f), block.size());
        std::fclose(f);
    }
    test::ScriptedInteraction user;
    user.OnCreateProgress([](test::RecordingProgress& w, size_t) { w.CancelAtPump(3); });
    user.Expect({"Really Cancel?", MbAnswer::Yes, std::nullopt, MbButtons::YesNo, MbIcon::Question});
    CQuillon3Doc doc(settings, user);
    EXPECT_EQ(OpenRecording(doc, junk.string()).kind, FailKind::Cancelled);
    user.ExpectDone();
    EXPECT_TRUE(Leftovers(dir.path(), {junk}).empty());
}

// --- WAV headers and sizes ---------------------------------------------------

TEST_F(DamageFixture, ExtensibleHeadersMustNamePcmAndAgreeWithTheirAlignment)
{
    WavOptions ext;
    ext.formatTag = 0xFFFE;
    ext.fmtSize = 40;
    const auto plain = test::WavBytes(ext, Ramp(5000));
    // The fmt payload starts at byte 20: bits per sample at +14, the
    // sub-format GUID's first two bytes at +24.
    auto variant = [&](size_t offset, uint16_t value) {
        auto b = plain;
        b[offset] = static_cast<uint8_t>(value);
        b[offset + 1] = static_cast<uint8_t>(value >> 8);
        return b;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* reason;  // nullptr: accepted
    };
    const std::vector<Case> cases = {
        {"pcm.wav", plain, nullptr},
        {"float.wav", variant(44, 3), "The samples are floating-point numbers, not PCM integers."},
        {"alaw.wav", variant(44, 6), "The samples are A-law coded, not PCM."},
        {"bits.wav", variant(34, 24), "The header gives 24 bits per sample but a block alignment of 4 bytes."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path p = dir.file(c.name);
        ASSERT_TRUE(test::WriteFileBytes(p, c.bytes));
        const Opened o = Open(p);
        if (!c.reason) {
            EXPECT_TRUE(o.result.Ok()) << o.result.message;
            continue;
        }
        EXPECT_EQ(o.result.kind, FailKind::BadInput);
        EXPECT_EQ(o.result.message, std::string(kMsgBadFormat) + "\n" + c.reason);
    }
}

TEST_F(DamageFixture, TruncatedMonoTooShortAndTooLongSayWhatIsWrong)
{
    WavOptions mono;
    mono.channels = 1;
    mono.truncateAt = 44 + 3000;
    const fs::path cutMono = dir.file("cut-mono.wav");
    ASSERT_TRUE(test::WriteWav(cutMono, mono, Ramp(5000, 1)));
    const Opened cut = Open(cutMono);
    EXPECT_EQ(cut.result.kind, FailKind::BadInput);
    EXPECT_EQ(cut.result.message, "The file is truncated: its \"data\" chunk declares 10000 bytes but only 3000 follow.");

    // One block of 1024 frames is the least the statistics and the scanner
    // can work on.
    for (int frames : {0, 1, 1023, 1024}) {
        SCOPED_TRACE(frames);
        const fs::path p = dir.file("tiny.wav");
        ASSERT_TRUE(test::WriteWav(p, {}, Ramp(static_cast<size_t>(frames))));
        const Opened o = Open(p);
        if (frames == 1024) {
            EXPECT_TRUE(o.result.Ok()) << o.result.message;
        } else {
            EXPECT_EQ(o.result.kind, FailKind::BadInput);
            EXPECT_EQ(o.result.message, kMsgTooShort);
        }
    }
    WavOptions monoTiny;
    monoTiny.channels = 1;
    ASSERT_TRUE(test::WriteWav(dir.file("tiny-mono.wav"), monoTiny, Ramp(500, 1)));
    EXPECT_EQ(Open(dir.file("tiny-mono.wav")).result.message, kMsgTooShort);

    // A 5 GiB recording is too long, whatever the disk holds: a full disk
    // is not what stops it.
    const fs::path big = dir.file("big.wav");
    WavOptions bigOpts;
    bigOpts.dataSizeOverride = 0xFFFFFFF0u;
    ASSERT_TRUE(test::WriteFileBytes(big, test::WavBytes(bigOpts, {})));
    fs::resize_file(big, 5ull << 30);
    CQuillon3Doc doc(settings, ui);
    CImporter importer(doc);
    importer.SetFreeSpaceQuery([](const std::string&, std::error_code&) { return int64_t{0}; });
    const OpResult r = OpenRecording(doc, big.string(), &importer);
    EXPECT_EQ(r.kind, FailKind::BadInput);
    EXPECT_EQ(r.message, kMsgTooLong);
    EXPECT_TRUE(Leftovers(dir.path(), {cutMono, dir.file("tiny.wav"), dir.file("tiny-mono.wav"), big}).empty());
}

// --- where the scratch files go, and the space they need --------------------

TEST_F(DamageFixture, DecodedCopyGoesToTheWorkingFolderAndCountsInTheSpaceCheck)
{
    settings.Set(settings::TempMode, settings::kTempModeUser);
    settings.Set(settings::TempPath, scratch.path().string());
    const fs::path flac = dir.file("side.flac");
    ASSERT_TRUE(test::WriteFlac(flac, {}, Ramp(20000)));
    WavOptions monoOpts;
    monoOpts.channels = 1;
    const fs::path mono = dir.file("mono.wav");
    ASSERT_TRUE(test::WriteWav(mono, monoOpts, Ramp(20000, 1)));
    const int64_t wavBytes = 44 + 20000 * 4;

    for (const fs::path& input : {flac, mono}) {
        SCOPED_TRACE(input.string());
        {
            CQuillon3Doc doc(settings, ui);
            ASSERT_TRUE(OpenRecording(doc, input.string()).Ok());
            EXPECT_EQ(fs::path(doc.sourcePath).parent_path(), scratch.path());
            EXPECT_EQ(fs::path(doc.workingPath).parent_path(), scratch.path());
            EXPECT_EQ(fs::path(doc.sourcePath).stem(), input.stem());
            EXPECT_TRUE(Leftovers(dir.path(), {flac, mono}).empty()) << "nothing is made beside the input";
            doc.DeleteContents();
        }
        // Room for the working copy alone is not enough: the decoded copy
        // lives on the same disk.
        for (int64_t spare : {int64_t{0}, int64_t{-1}}) {
            test::ScriptedInteraction quiet;
            quiet.AllowOkBoxes(true);
            CQuillon3Doc doc(settings, quiet);
            CImporter importer(doc);
            importer.SetFreeSpaceQuery(
                [&](const std::string&, std::error_code&) { return 2 * wavBytes + kDiskReserve + spare; });
            const OpResult r = OpenRecording(doc, input.string(), &importer);
            if (spare == 0) {
                EXPECT_TRUE(r.Ok()) << r.message;
            } else {
                EXPECT_EQ(r.message, "Insufficient space on Drive " + scratch.path().string());
            }
            doc.DeleteContents();
            EXPECT_TRUE(Leftovers(scratch.path(), {}).empty());
        }
    }
}

TEST_F(DamageFixture, WorkingFolderThatCannotBeQueriedIsReportedWithTheSystemText)
{
    const fs::path wav = dir.file("side.wav");
    ASSERT_TRUE(test::WriteWav(wav, {}, Ramp(5000)));
    const fs::path missing = dir.file("no-such-folder");
    settings.Set(settings::TempMode, settings::kTempModeUser);
    settings.Set(settings::TempPath, missing.string());
    const Opened o = Open(wav);
    EXPECT_EQ(o.result.kind, FailKind::Environment);
    EXPECT_EQ(o.result.message, missing.string() + ": " + std::strerror(ENOENT));

    // Whatever the query fails with is what the user reads.
    CQuillon3Doc doc(settings, ui);
    CImporter importer(doc);
    importer.SetFreeSpaceQuery([](const std::string&, std::error_code& error) {
        error.assign(EACCES, std::generic_category());
        return int64_t{-1};
    });
    const OpResult r = OpenRecording(doc, wav.string(), &importer);
    EXPECT_EQ(r.kind, FailKind::Environment);
    EXPECT_EQ(r.message, missing.string() + ": " + std::strerror(EACCES));
}

TEST_F(DamageFixture, PathNameIsTheAbsoluteFolderOfARelativeInput)
{
    const fs::path wav = dir.file("side.wav");
    ASSERT_TRUE(test::WriteWav(wav, {}, Ramp(5000)));
    const fs::path relative = fs::relative(wav, fs::current_path());
    ASSERT_TRUE(relative.is_relative()) << relative;
    CQuillon3Doc doc(settings, ui);
    ASSERT_TRUE(OpenRecording(doc, relative.string()).Ok());
    EXPECT_EQ(settings.Get(settings::PathName), dir.path().lexically_normal().string());
}

// --- Monkey's Audio ------------------------------------------------------------

TEST_F(DamageFixture, DamagedApeIsRefusedAtImportWithTheDecodersWords)
{
    if (!test::JmacAvailable()) GTEST_SKIP() << "jmac (Debian libjmac-java) is not installed";
    const auto pcm = test::MakeApeTestSignal(16, 2, 60000, 5);
    const fs::path wav = dir.file("src.wav");
    ASSERT_TRUE(test::WriteApeSourceWav(wav, 44100, 16, 2, pcm));
    const fs::path ape = dir.file("side.ape");
    ASSERT_TRUE(test::EncodeApeWithJmac(wav, ape, 2));
    const auto original = test::ReadFileBytes(ape);
    fs::remove(wav);

    auto bytes = original;
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 40; ++i) bytes[i] ^= 0x55;
    const fs::path hit = dir.file("hit.ape");
    ASSERT_TRUE(test::WriteFileBytes(hit, bytes));
    const Opened damaged = Open(hit);
    EXPECT_EQ(damaged.result.kind, FailKind::BadInput);
    EXPECT_EQ(damaged.result.message.rfind("The Monkey's Audio file is damaged: ", 0), 0u) << damaged.result.message;
    EXPECT_NE(damaged.result.message.find(" at 0:"), std::string::npos) << damaged.result.message;

    // A header libav has no answer for but "patches welcome" is a damaged
    // header to the user, not a nine-digit code.
    bytes = original;
    bytes[4] = 0x10;
    bytes[5] = 0x27;
    const fs::path version = dir.file("version.ape");
    ASSERT_TRUE(test::WriteFileBytes(version, bytes));
    const Opened unreadable = Open(version);
    EXPECT_EQ(unreadable.result.kind, FailKind::BadInput);
    EXPECT_EQ(unreadable.result.message,
              "Error opening APE file. (error code 1001)\r\n\r\nThe file is not a Monkey's Audio (.ape) file, or its "
              "header is damaged or from a version that cannot be read.");
    EXPECT_TRUE(Leftovers(dir.path(), {ape, hit, version}).empty());

    // The intact file still imports, decoded whole into the scratch folder.
    settings.Set(settings::TempMode, settings::kTempModeUser);
    settings.Set(settings::TempPath, scratch.path().string());
    CQuillon3Doc doc(settings, ui);
    ASSERT_TRUE(OpenRecording(doc, ape.string()).Ok());
    EXPECT_EQ(fs::path(doc.sourcePath).parent_path(), scratch.path());
    const auto tmp = test::ReadFileBytes(doc.sourcePath);
    ASSERT_EQ(tmp.size(), 44 + pcm.size());
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), tmp.begin() + 44));
}

}  // namespace
}  // namespace kelvane
