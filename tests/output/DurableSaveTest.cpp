// How saved files reach their names: only files this save wrote replace
// anything, a file that appears meanwhile is kept, every file is on disk
// before it takes its name, and the reasons for a failure are the system's.

#include "document/CQuillon3Doc.h"
#include "output/CTrackExporter.h"
#include "output/DurableFiles.h"
#include "output/OutputNames.h"
#include "output/SaveTracks.h"
#include "tests/output/PartialFiles.h"
#include "tests/output/SaveSession.h"
#include "tests/support/FlacTestFiles.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using Session = test::SaveSession;
using test::Request;

const std::vector<uint8_t> kLeftover{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};

std::unique_ptr<Session> WholeSide(size_t frames)
{
    auto s = test::OpenForSave(frames, {});
    test::AddWholeTrack(*s);
    return s;
}

std::string ConfirmText(const std::vector<std::string>& existing)
{
    std::string text = std::string(kConfirmSaveText) + "\n\n";
    for (const std::string& path : existing) text += "* " + path + "\n";
    return text;
}

bool Told(const Session& s, const std::string& part)
{
    for (const std::string& text : s.ui.Texts())
        if (text.find(part) != std::string::npos) return true;
    return false;
}

// Reports the durable steps for one test, and stops when it ends.
class StepLog {
public:
    using Hook = std::function<void(const std::string&, const std::string&, const std::string&)>;
    explicit StepLog(Hook hook = {}) : hook_(std::move(hook))
    {
        ObserveFileSteps([this](const std::string& step, const std::string& path, const std::string& other) {
            steps_.push_back(step + " " + fs::path(path).filename().string() +
                             (other.empty() ? "" : " -> " + fs::path(other).filename().string()));
            if (hook_) hook_(step, path, other);
        });
    }
    ~StepLog() { ObserveFileSteps({}); }
    const std::vector<std::string>& Steps() const { return steps_; }

private:
    Hook hook_;
    std::vector<std::string> steps_;
};

TEST(DurableSave, ALeftoverReplacementFileNeverReplacesTheInput)
{
    // Saved elsewhere: the leftover beside the input is none of the save's
    // business.
    auto s = WholeSide(30000);
    const std::string leftover = s->input + kReplaceSuffix;
    ASSERT_TRUE(test::WriteFileBytes(leftover, kLeftover));
    const std::vector<uint8_t> input = test::ReadFileBytes(s->input);
    SaveOutcome o = SaveTracks(*s->doc, Request(*s, {}, "INPUTcor", true));
    ASSERT_EQ(o.result, SaveResult::Saved);
    EXPECT_TRUE(o.closed);
    EXPECT_FALSE(o.replacedInput);
    EXPECT_EQ(test::ReadFileBytes(s->input), input);
    EXPECT_EQ(test::ReadFileBytes(leftover), kLeftover);

    // Saved over the input: the new file takes the first free variant of the
    // name, replaces the input, and the leftover stays as it was. Both when
    // the working file is handed over and when a trimmed track is written.
    for (const bool whole : {true, false}) {
        auto r = whole ? WholeSide(30000) : test::OpenForSave(60000, {{1000, 50000}});
        if (!whole) r->doc->tracks.At(1).title = "side";
        const std::string kept = r->input + kReplaceSuffix;
        ASSERT_TRUE(test::WriteFileBytes(kept, kLeftover));
        std::vector<int32_t> samples = test::ReadWavSamples(r->doc->workingPath).samples;
        if (!whole) samples = std::vector<int32_t>(samples.begin() + 20000, samples.begin() + 20010);
        r->ui.Expect(ConfirmText({r->input}), MbAnswer::Yes);
        o = SaveTracks(*r->doc, Request(*r, {}, whole ? "INPUT" : "TITLE", true));
        ASSERT_EQ(o.result, SaveResult::Saved) << whole;
        EXPECT_EQ(o.handedOver, whole);
        EXPECT_TRUE(o.replacedInput);
        EXPECT_EQ(test::ReadFileBytes(kept), kLeftover);
        std::vector<int32_t> now = test::ReadWavSamples(r->input).samples;
        if (!whole) now = std::vector<int32_t>(now.begin() + 18000, now.begin() + 18010);
        EXPECT_EQ(now, samples) << whole;
        EXPECT_FALSE(fs::exists(r->Out("side-2.wav~~~")));
    }
}

TEST(DurableSave, AReplacementThatCannotTakeTheInputsPlaceIsReportedAsKept)
{
    auto s = WholeSide(30000);
    const std::vector<uint8_t> input = test::ReadFileBytes(s->input);
    const std::string moved = s->input + ".moved";
    // Just before the rename over the input, the input's name becomes a
    // folder with something in it: the rename must fail.
    StepLog log([&](const std::string& step, const std::string&, const std::string& to) {
        if (step != "rename" || to != s->input) return;
        fs::rename(s->input, moved);
        fs::create_directory(s->input);
        test::WriteFileBytes(s->input + "/inside", {'x'});
    });
    s->ui.Expect(ConfirmText({s->input}), MbAnswer::Yes);
    s->ui.AllowOkBoxes(true);
    const SaveOutcome o = SaveTracks(*s->doc, Request(*s, {}, "INPUT", true));
    EXPECT_EQ(o.result, SaveResult::ClosedInputKept);
    EXPECT_TRUE(o.closed);
    EXPECT_FALSE(o.replacedInput);
    EXPECT_EQ(o.keptAs, s->input + kReplaceSuffix);
    EXPECT_TRUE(test::ReadWavSamples(o.keptAs).ok());
    EXPECT_EQ(test::ReadFileBytes(moved), input);
    EXPECT_TRUE(Told(*s, "the new file is kept as " + o.keptAs));
}

TEST(DurableSave, AFileThatAppearsWhileATrackIsWrittenIsKept)
{
    const std::vector<uint8_t> theirs{'t', 'h', 'e', 'i', 'r', 's'};
    for (const int type : {kFileTypeWav, kFileTypeFlac, kFileTypeOgg}) {
        auto s = test::OpenForSave(40000, {{0, 15000}, {15000, 30000}});
        SaveRequest r = Request(*s, {true, true}, "#", false);
        r.options.fileType = type;
        const std::string ext = OutputExtension(type, false, "");
        const std::string first = s->Out("01" + ext);
        StepLog log([&](const std::string& step, const std::string&, const std::string& to) {
            if (step == "rename" && to == first) test::WriteFileBytes(first, theirs);
        });
        s->ui.AllowOkBoxes(true);
        const SaveOutcome o = SaveTracks(*s->doc, r);
        EXPECT_EQ(o.result, SaveResult::OutputFailed) << ext;
        EXPECT_TRUE(o.written.empty());
        EXPECT_EQ(test::ReadFileBytes(first), theirs) << ext;
        EXPECT_FALSE(fs::exists(s->Out("02" + ext))) << "no later track is tried";
        EXPECT_TRUE(test::PartialFilesBeside(first).empty()) << ext;
        EXPECT_TRUE(Told(*s, TakenMeanwhileText(first))) << ext;
        EXPECT_TRUE(s->doc->IsModified());
    }
}

TEST(DurableSave, PartialFilesTakeNamesNobodyElseHolds)
{
    // A file at the name partial files once had, fixed, is another run's or
    // the user's: it is neither truncated nor moved.
    auto s = test::OpenForSave(40000, {{0, 15000}, {15000, 30000}});
    const std::vector<uint8_t> mine{'m', 'i', 'n', 'e'};
    for (const char* name : {"01.wav.kelvane-partial", "02.flac.kelvane-partial"})
        ASSERT_TRUE(test::WriteFileBytes(s->Out(name), mine));
    SaveRequest r = Request(*s, {true, false}, "#", false);
    ASSERT_EQ(SaveTracks(*s->doc, r).result, SaveResult::Saved);
    r = Request(*s, {false, true}, "#", false);
    r.consecutive = false;
    r.options.fileType = kFileTypeFlac;
    ASSERT_EQ(SaveTracks(*s->doc, r).result, SaveResult::Saved);
    EXPECT_EQ(test::ReadFileBytes(s->Out("01.wav.kelvane-partial")), mine);
    EXPECT_EQ(test::ReadFileBytes(s->Out("02.flac.kelvane-partial")), mine);
    EXPECT_TRUE(test::ReadWavSamples(s->Out("01.wav")).ok());
    EXPECT_TRUE(test::DecodeFlac(s->Out("02.flac")).ok);

    // The partial file is an ordinary new file: readable as any other once
    // it has its name.
    struct stat st{};
    ASSERT_EQ(::stat(s->Out("01.wav").c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST(DurableSave, AnotherNameOfTheInputIsRefusedAlsoWhenClosing)
{
    auto s = WholeSide(30000);
    const std::vector<uint8_t> input = test::ReadFileBytes(s->input);
    fs::create_symlink(s->input, s->Out("soft.wav"));
    fs::create_hard_link(s->input, s->Out("hard.wav"));
    for (const char* rule : {"soft", "hard"}) {
        s->ui.Expect(kInputOverwriteError, MbAnswer::Ok);
        EXPECT_EQ(SaveTracks(*s->doc, Request(*s, {}, rule, true)).result, SaveResult::Refused) << rule;
        EXPECT_EQ(test::ReadFileBytes(s->input), input);
        EXPECT_TRUE(s->doc->workingFile.IsOpen());
    }
    EXPECT_TRUE(fs::is_symlink(s->Out("soft.wav")));

    // The input's own path, written another way, is the input.
    SaveRequest r = Request(*s, {}, "INPUT", true);
    r.folder = s->Folder() + "./sub/../";
    fs::create_directory(s->Out("sub"));
    s->ui.Expect(ConfirmText({r.folder + "side.wav"}), MbAnswer::Yes);
    const SaveOutcome o = SaveTracks(*s->doc, r);
    ASSERT_EQ(o.result, SaveResult::Saved);
    EXPECT_TRUE(o.replacedInput);
    EXPECT_TRUE(fs::is_symlink(s->Out("soft.wav")));
}

TEST(DurableSave, ALevelChangeIsNoHandOverOfTheWorkingFile)
{
    auto s = WholeSide(30000);
    const std::vector<int32_t> samples = test::ReadWavSamples(s->doc->workingPath).samples;
    SaveRequest r = Request(*s, {}, "INPUTcor", true);
    r.options.scale = true;
    r.options.gainDb = -6.0206;  // one half
    const SaveOutcome o = SaveTracks(*s->doc, r);
    ASSERT_EQ(o.result, SaveResult::Saved);
    EXPECT_FALSE(o.handedOver);
    EXPECT_TRUE(o.closed);
    const std::vector<int32_t> saved = test::ReadWavSamples(s->Out("sidecor.wav")).samples;
    ASSERT_EQ(saved.size(), samples.size());
    for (size_t i = 0; i < samples.size(); i += 997) EXPECT_NEAR(saved[i], samples[i] / 2, 1) << i;
}

SaveRequest External(const Session& s, const std::string& encoder)
{
    SaveRequest r = Request(s, {true}, "#", false);
    r.renumberSingle = true;
    r.options.external = true;
    r.options.encoderPath = encoder;
    r.options.parameters = "-i %IN -o %OUT";
    r.encoderExtension = "xyz";
    return r;
}

TEST(DurableSave, AFailingExternalEncoderLeavesTheEarlierFileAsItWas)
{
    auto s = test::OpenForSave(40000, {{0, 15000}, {15000, 30000}});
    const std::vector<uint8_t> good{'g', 'o', 'o', 'd'};
    ASSERT_TRUE(test::WriteFileBytes(s->Out("01.xyz"), good));
    SaveRequest r = External(*s, test::StandInEncoder(*s, "broken", "printf garbage > \"$out\"; exit 3"));
    r.selected = {true, false};
    s->ui.Expect(ConfirmText({s->Out("01.xyz")}), MbAnswer::Yes);
    s->ui.AllowOkBoxes(true);
    EXPECT_EQ(SaveTracks(*s->doc, r).result, SaveResult::OutputFailed);
    EXPECT_EQ(test::ReadFileBytes(s->Out("01.xyz")), good);
    EXPECT_TRUE(test::PartialFilesBeside(s->Out("01.xyz")).empty());
    EXPECT_FALSE(fs::exists(s->Out("01.xyz.wav")));

    // A good run replaces it, as confirmed.
    r.options.encoderPath = test::StandInEncoder(*s, "good", "cp \"$in\" \"$out\"");
    s->ui.Expect(ConfirmText({s->Out("01.xyz")}), MbAnswer::Yes);
    ASSERT_EQ(SaveTracks(*s->doc, r).result, SaveResult::Saved);
    EXPECT_TRUE(test::ReadWavSamples(s->Out("01.xyz")).ok());
    EXPECT_TRUE(test::PartialFilesBeside(s->Out("01.xyz")).empty());
}

TEST(DurableSave, EveryFileIsOnDiskBeforeItsNameAndItsFolderAfter)
{
    auto s = test::OpenForSave(40000, {{0, 15000}, {15000, 30000}});
    {
        StepLog log;
        ASSERT_EQ(SaveTracks(*s->doc, Request(*s, {true, true}, "#", false)).result, SaveResult::Saved);
        const std::vector<std::string>& steps = log.Steps();
        ASSERT_EQ(steps.size(), 6u) << ::testing::PrintToString(steps);
        const std::string folder = fs::path(s->dir.path()).filename().string();
        for (size_t k = 0; k < 2; ++k) {
            const std::string name = "0" + std::to_string(k + 1) + ".wav";
            EXPECT_EQ(steps[3 * k].rfind("sync " + name + kPartialNameMark, 0), 0u) << steps[3 * k];
            EXPECT_EQ(steps[3 * k + 1].rfind("rename " + name + kPartialNameMark, 0), 0u) << steps[3 * k + 1];
            EXPECT_NE(steps[3 * k + 1].find(" -> " + name), std::string::npos) << steps[3 * k + 1];
            EXPECT_EQ(steps[3 * k + 2], "sync folder " + folder);
        }
    }

    // The input's replacement: new file synced, renamed, folder synced.
    auto c = WholeSide(30000);
    StepLog log;
    c->ui.Expect(ConfirmText({c->input}), MbAnswer::Yes);
    ASSERT_EQ(SaveTracks(*c->doc, Request(*c, {}, "INPUT", true)).result, SaveResult::Saved);
    const std::vector<std::string>& steps = log.Steps();
    ASSERT_GE(steps.size(), 3u);
    const std::vector<std::string> last(steps.end() - 3, steps.end());
    EXPECT_EQ(last, (std::vector<std::string>{"sync side.wav~~~", "rename side.wav~~~ -> side.wav",
                                               "sync folder " + fs::path(c->dir.path()).filename().string()}));
}

TEST(DurableSave, AnInterruptStopsARunningEncoderAndLeavesNothing)
{
    auto s = test::OpenForSave(40000, {{0, 1000}});
    const std::string marker = s->Out("started");
    // Deaf to the interrupt and to SIGTERM: only the last resort ends it.
    const std::string deaf = "trap '' INT TERM\ntouch '" + marker + "'\nsleep 60\ncp \"$in\" \"$out\"";
    SaveRequest r = External(*s, test::StandInEncoder(*s, "deaf", deaf));
    // Well after the track's own pumps, while the encoder sleeps.
    s->ui.OnCreateProgress([](test::RecordingProgress& p, size_t) { p.CancelAtPump(25); });
    s->ui.Expect(CTrackExporter::kReallyAbort, MbAnswer::Yes);
    const auto start = std::chrono::steady_clock::now();
    const SaveOutcome o = SaveTracks(*s->doc, r);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(o.result, SaveResult::Cancelled);
    EXPECT_EQ(o.notWritten, std::vector<std::string>{s->Out("01.xyz")});
    EXPECT_TRUE(fs::exists(marker)) << "the encoder never ran";
    EXPECT_LT(took, std::chrono::seconds(20));
    EXPECT_FALSE(fs::exists(s->Out("01.xyz")));
    EXPECT_FALSE(fs::exists(s->Out("01.xyz.wav")));
    EXPECT_TRUE(test::PartialFilesBeside(s->Out("01.xyz")).empty());
    EXPECT_TRUE(s->doc->IsModified());
}

TEST(DurableSave, FailuresToCreateAnOutputGiveTheSystemsReason)
{
    auto s = test::OpenForSave(40000, {{0, 15000}});
    s->ui.AllowOkBoxes(true);
    // A folder on the way is a file.
    s->doc->tracks.At(1).album = "blocked";
    ASSERT_TRUE(test::WriteFileBytes(s->Out("blocked"), {'x'}));
    EXPECT_EQ(SaveTracks(*s->doc, Request(*s, {true}, "ALBUM\\#", false)).result, SaveResult::OutputFailed);
    EXPECT_TRUE(Told(*s, std::strerror(ENOTDIR))) << ::testing::PrintToString(s->ui.Texts());
    // A name longer than the file system allows.
    s->doc->tracks.At(1).title = std::string(300, 'n');
    EXPECT_EQ(SaveTracks(*s->doc, Request(*s, {true}, "TITLE", false)).result, SaveResult::OutputFailed);
    EXPECT_TRUE(Told(*s, std::strerror(ENAMETOOLONG))) << ::testing::PrintToString(s->ui.Texts());
    EXPECT_TRUE(test::PartialFilesBeside(s->dir.path()).empty());
    // A folder that may not be written (permissions do not bind root).
    if (::geteuid() != 0) {
        fs::create_directory(s->Out("locked"));
        fs::permissions(s->Out("locked"), fs::perms::owner_read | fs::perms::owner_exec);
        SaveRequest r = Request(*s, {true}, "#", false);
        r.folder = s->Out("locked/");
        EXPECT_EQ(SaveTracks(*s->doc, r).result, SaveResult::OutputFailed);
        EXPECT_TRUE(Told(*s, std::strerror(EACCES)));
        fs::permissions(s->Out("locked"), fs::perms::owner_all);
    }
}

// The next file this process opens fails for want of descriptors.
class NoMoreFiles {
public:
    NoMoreFiles()
    {
        getrlimit(RLIMIT_NOFILE, &saved_);
        const int lowest = ::dup(0);
        ::close(lowest);
        rlimit lower = saved_;
        lower.rlim_cur = static_cast<rlim_t>(lowest);
        setrlimit(RLIMIT_NOFILE, &lower);
    }
    ~NoMoreFiles() { setrlimit(RLIMIT_NOFILE, &saved_); }
    NoMoreFiles(const NoMoreFiles&) = delete;
    NoMoreFiles& operator=(const NoMoreFiles&) = delete;

private:
    rlimit saved_{};
};

// Counts calls and fails Finish, for the texts around an encoder.
class FailingFinish final : public IAudioEncoder {
public:
    bool Open(const fs::path&, int, int, int, uint64_t, const EncoderTags&) override { return true; }
    bool Write(const int32_t*, size_t) override { return true; }
    bool Finish() override
    {
        error_ = "the stream broke";
        return false;
    }
    void Abort() override {}
    const std::string& LastError() const override { return error_; }

private:
    std::string error_;
};

TEST(DurableSave, EncoderTextsAreTheOnesOfTheirFormat)
{
    auto s = test::OpenForSave(40000, {{0, 15000}});
    s->ui.AllowOkBoxes(true);
    ExportOptions flac;
    flac.fileType = kFileTypeFlac;
    CTrackExporter none(*s->doc, flac);
    none.SetEncoderFactory([](const ExportOptions&) { return nullptr; });
    EXPECT_EQ(none.WriteTrack(1, 1, s->Out("a.flac"), false, false), WriteResult::NotOpened);
    EXPECT_EQ(s->ui.Texts().back(), CTrackExporter::kAllocatingEncoder);

    // The WAV for an external encoder is named, in a failure, by the output
    // the user asked for.
    ExportOptions external;
    external.external = true;
    external.encoderPath = "/bin/true";
    external.parameters = "%IN %OUT";
    CTrackExporter handed(*s->doc, external);
    {
        NoMoreFiles exhausted;
        EXPECT_EQ(handed.WriteTrack(1, 1, s->Out("b.xyz"), false, false), WriteResult::NotOpened);
    }
    EXPECT_EQ(s->ui.Texts().back().rfind("The file " + s->Out("b.xyz") + " could not be saved\n", 0), 0u)
        << s->ui.Texts().back();

    // "Error finishing encoder." belongs to Monkey's Audio; a FLAC file
    // that cannot be finished is a file that could not be saved.
    const std::string wav = s->Out("c.flac.wav");
    CTrackExporter plain(*s->doc, {});
    ASSERT_EQ(plain.WriteTrack(1, 1, wav, false, false), WriteResult::Written);
    CTrackExporter second(*s->doc, flac);
    second.SetEncoderFactory([](const ExportOptions&) { return std::make_unique<FailingFinish>(); });
    EXPECT_EQ(second.EncodeWaveFile(1, 1, s->Out("c.flac"), wav), WriteResult::Failed);
    EXPECT_EQ(s->ui.Texts().back(), "The file " + s->Out("c.flac") + " could not be saved\nthe stream broke");
    ASSERT_EQ(plain.WriteTrack(1, 1, wav, false, false), WriteResult::Written);
    ExportOptions ape;
    ape.fileType = kFileTypeApe;
    CTrackExporter monkey(*s->doc, ape);
    monkey.SetEncoderFactory([](const ExportOptions&) { return std::make_unique<FailingFinish>(); });
    EXPECT_EQ(monkey.EncodeWaveFile(1, 1, s->Out("c.ape"), wav), WriteResult::Failed);
    EXPECT_EQ(s->ui.Texts().back(), std::string(CTrackExporter::kEncoderFinish) + "the stream broke");
}

}  // namespace
}  // namespace kelvane
