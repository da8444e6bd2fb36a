// "Save && Close...", the hand-over of the working file, the replacement of
// the input, and outputs made by an external encoder: the cases where a
// mistake would lose the user's work or run something the user never asked.

#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "output/CTrackExporter.h"
#include "output/OutputNames.h"
#include "output/SaveTracks.h"
#include "tests/output/PartialFiles.h"
#include "tests/output/SaveSession.h"
#include "settings/SettingsStore.h"
#include "tests/support/FlacTestFiles.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

using Session = test::SaveSession;
using test::AddWholeTrack;
using test::Request;

std::unique_ptr<Session> Open(size_t frames, const std::vector<std::pair<int64_t, int64_t>>& ranges)
{
    return test::OpenForSave(frames, ranges);
}

// Marks the working copy so a test can tell it from the input.
void MarkWorkingFile(Session& s, int16_t value)
{
    const int16_t frame[2] = {value, value};
    s.doc->workingFile.Seek(s.doc->dataStart);
    ASSERT_TRUE(s.doc->workingFile.WriteAs24(frame, 4));
}

ino_t Inode(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SaveAndClose, SinglePlainTrackHandsTheWorkingFileOverWithoutCopying)
{
    auto s = Open(30000, {});
    AddWholeTrack(*s);
    MarkWorkingFile(*s, 1234);
    const std::string working = s->doc->workingPath;
    const ino_t inode = Inode(working);
    const std::vector<uint8_t> inputBytes = test::ReadFileBytes(s->input);

    const SaveOutcome o = SaveTracks(*s->doc, Request(*s, {}, "INPUTcor", true));
    ASSERT_EQ(o.result, SaveResult::Saved);
    EXPECT_TRUE(o.handedOver);
    EXPECT_TRUE(o.closed);
    EXPECT_EQ(Inode(s->Out("sidecor.wav")), inode);
    EXPECT_FALSE(fs::exists(working));
    const test::WavContents w = test::ReadWavSamples(s->Out("sidecor.wav"));
    ASSERT_TRUE(w.ok()) << w.error;
    EXPECT_EQ(w.samples[0], 1234);
    EXPECT_EQ(test::ReadFileBytes(s->input), inputBytes);
    EXPECT_EQ(s->doc->status, kStatusNotLoaded);
    EXPECT_TRUE(s->doc->workingPath.empty());

    // "Save..." of the same track copies instead and keeps the document.
    auto kept = Open(30000, {});
    AddWholeTrack(*kept);
    const SaveOutcome copied = SaveTracks(*kept->doc, Request(*kept, {}, "INPUTcor", false));
    ASSERT_EQ(copied.result, SaveResult::Saved);
    EXPECT_FALSE(copied.handedOver);
    EXPECT_TRUE(kept->doc->workingFile.IsOpen());
    EXPECT_NE(Inode(kept->Out("sidecor.wav")), Inode(kept->doc->workingPath));
}

TEST(SaveAndClose, OutputNamedLikeTheInputReplacesItOnlyWhenClosing)
{
    auto s = Open(30000, {});
    AddWholeTrack(*s);
    MarkWorkingFile(*s, -777);
    const std::vector<uint8_t> inputBytes = test::ReadFileBytes(s->input);

    s->ui.Expect(kInputOverwriteError, MbAnswer::Ok);
    EXPECT_EQ(SaveTracks(*s->doc, Request(*s, {}, "INPUT", false)).result, SaveResult::Refused);
    EXPECT_EQ(test::ReadFileBytes(s->input), inputBytes);

    // The input exists, so the listing marks it and asks first.
    s->ui.Expect(std::string(kConfirmSaveText) + "\n\n* " + s->input + "\n", MbAnswer::No);
    EXPECT_EQ(SaveTracks(*s->doc, Request(*s, {}, "INPUT", true)).result, SaveResult::Declined);
    EXPECT_EQ(test::ReadFileBytes(s->input), inputBytes);
    EXPECT_TRUE(s->doc->workingFile.IsOpen());

    s->ui.Expect(std::string(kConfirmSaveText) + "\n\n* " + s->input + "\n", MbAnswer::Yes);
    const SaveOutcome o = SaveTracks(*s->doc, Request(*s, {}, "INPUT", true));
    ASSERT_EQ(o.result, SaveResult::Saved);
    EXPECT_TRUE(o.replacedInput);
    EXPECT_TRUE(o.closed);
    EXPECT_FALSE(fs::exists(s->input + kReplaceSuffix));
    const test::WavContents w = test::ReadWavSamples(s->input);
    ASSERT_TRUE(w.ok()) << w.error;
    EXPECT_EQ(w.samples[0], -777);
    EXPECT_EQ(w.samples.size(), test::WavContents(test::ReadWavSamples(s->dir.file("side.wav"))).samples.size());
    // Only the input is left in the folder: no working copy, no scratch file.
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(s->dir.path())) files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1u);
}

TEST(SaveAndClose, ReplacingTheInputWithATrimmedTrackWritesBesideItFirst)
{
    auto s = Open(60000, {{1000, 50000}});
    s->doc->tracks.At(1).title = "side";
    const std::vector<int32_t> original = test::ReadWavSamples(s->input).samples;
    s->ui.Expect(std::string(kConfirmSaveText) + "\n\n* " + s->input + "\n", MbAnswer::Yes);
    const SaveOutcome o = SaveTracks(*s->doc, Request(*s, {}, "TITLE", true));
    ASSERT_EQ(o.result, SaveResult::Saved);
    EXPECT_FALSE(o.handedOver);
    EXPECT_TRUE(o.replacedInput);
    const test::WavContents w = test::ReadWavSamples(s->input);
    ASSERT_TRUE(w.ok());
    EXPECT_EQ(w.samples.size(), 49000u * 2);
    EXPECT_EQ(w.samples[20000], original[2000 + 20000]);
}

TEST(SaveAndClose, CancelledOrFailedCloseKeepsTheDocumentAndItsWork)
{
    auto s = Open(300000, {{0, 40000}, {40000, 200000}, {200000, 290000}});
    MarkWorkingFile(*s, 4321);
    const std::string working = s->doc->workingPath;
    s->ui.OnCreateProgress([](test::RecordingProgress& p, size_t) { p.CancelAtPos(0x40000); });
    s->ui.Expect(CTrackExporter::kReallyAbort, MbAnswer::Yes);
    const SaveOutcome o = SaveTracks(*s->doc, Request(*s, {true, true, true}, "#", true));
    EXPECT_EQ(o.result, SaveResult::Cancelled);
    EXPECT_FALSE(o.closed);
    EXPECT_TRUE(s->doc->IsModified());
    EXPECT_TRUE(s->doc->workingFile.IsOpen());
    EXPECT_EQ(s->doc->workingPath, working);
    EXPECT_TRUE(fs::exists(working));
    EXPECT_FALSE(fs::exists(s->Out("02.wav")));
    EXPECT_NE(s->doc->status, kStatusNotLoaded);

    // An output that cannot be created stops the loop and closes nothing.
    auto f = Open(60000, {{0, 20000}, {20000, 40000}});
    f->doc->tracks.At(1).album = "blocked";
    f->doc->tracks.At(2).album = "open";
    ASSERT_TRUE(test::WriteFileBytes(f->Out("blocked"), {'x'}));
    f->ui.AllowOkBoxes(true);
    const SaveOutcome failed = SaveTracks(*f->doc, Request(*f, {true, true}, "ALBUM\\#", true));
    EXPECT_EQ(failed.result, SaveResult::OutputFailed);
    EXPECT_FALSE(failed.closed);
    EXPECT_FALSE(fs::exists(f->Out("open")));
    EXPECT_TRUE(f->doc->workingFile.IsOpen());
    EXPECT_TRUE(f->doc->IsModified());
}

// A stand-in encoder: records its arguments (NUL-separated) and copies
// the WAV given after -i to the path given after -o.
std::string MakeRecordingEncoder(const Session& s, const std::string& name, int exitStatus = 0)
{
    return test::StandInEncoder(s, name, "cp \"$in\" \"$out\"\nexit " + std::to_string(exitStatus), true);
}

// The encoder's %OUT: a file of the output's name in a private folder
// beside the output, never the output itself.
void ExpectPrivateOutput(const std::string& argument, const std::string& output)
{
    const fs::path made(argument);
    EXPECT_EQ(made.filename(), fs::path(output).filename()) << argument;
    EXPECT_EQ(made.parent_path().parent_path(), fs::path(output).parent_path()) << argument;
    EXPECT_NE(made.parent_path().filename().string().find(kPartialNameMark), std::string::npos) << argument;
}

std::vector<std::string> RecordedArguments(const Session& s)
{
    const std::string bytes = Slurp(s.Out("args.bin"));
    std::vector<std::string> words;
    std::string word;
    for (const char c : bytes) {
        if (c == '\0') {
            words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    return words;
}

TEST(ExternalEncoderExport, HostileTitlesArriveAsSingleArgumentsAndTheWavIsRemoved)
{
    auto s = Open(40000, {{0, 15000}, {15000, 30000}});
    s->doc->tracks.At(1).title = "It's \"Live\"; $(touch pwned) `id` %IN";
    s->doc->tracks.At(2).title = "";
    s->doc->tracks.At(2).artist = "Two  Blanks";
    SaveRequest r = Request(*s, {true, true}, "#", false);
    r.options.external = true;
    r.options.encoderPath = MakeRecordingEncoder(*s, "enc tool");
    r.options.parameters = "-t %T -a %A -n %N -i %IN -o %OUT";
    r.encoderExtension = "xyz";

    SaveRequest plain = Request(*s, {true, false}, "plain#", false);
    ASSERT_EQ(SaveTracks(*s->doc, plain).result, SaveResult::Saved);

    const SaveOutcome o = SaveTracks(*s->doc, r);
    ASSERT_EQ(o.result, SaveResult::Saved);
    ASSERT_EQ(o.written, (std::vector<std::string>{s->Out("01.xyz"), s->Out("02.xyz")}));
    // The last run was track 2's: the empty title is still one argument.
    std::vector<std::string> args = RecordedArguments(*s);
    ASSERT_EQ(args.size(), 10u);
    ExpectPrivateOutput(args.back(), s->Out("02.xyz"));
    args.pop_back();
    EXPECT_EQ(args, (std::vector<std::string>{"-t", "", "-a", "Two  Blanks", "-n", "2", "-i", s->Out("02.xyz.wav"), "-o"}));
    EXPECT_TRUE(test::PartialFilesBeside(s->Out("02.xyz")).empty());
    EXPECT_FALSE(fs::exists(s->Out("pwned")));
    EXPECT_FALSE(fs::exists(s->Out("01.xyz.wav")));
    EXPECT_FALSE(fs::exists(s->Out("02.xyz.wav")));
    // The encoder got the same WAV a plain export writes.
    EXPECT_EQ(test::ReadFileBytes(s->Out("01.xyz")), test::ReadFileBytes(s->Out("plain01.wav")));
}

TEST(ExternalEncoderExport, FirstTrackTitleIsPassedUnchanged)
{
    auto s = Open(40000, {{0, 15000}});
    AddWholeTrack(*s);
    s->doc->tracks.RemoveAt(2);
    s->doc->tracks.At(1).title = "It's \"Live\"; $(touch pwned) `id` %IN";
    SaveRequest r = Request(*s, {}, "#", false);
    r.options.external = true;
    r.options.encoderPath = MakeRecordingEncoder(*s, "enc");
    r.options.parameters = "-t %T -i %IN -o %OUT";
    r.encoderExtension = "xyz";
    ASSERT_EQ(SaveTracks(*s->doc, r).result, SaveResult::Saved);
    const std::vector<std::string> args = RecordedArguments(*s);
    ASSERT_GE(args.size(), 2u);
    EXPECT_EQ(args[1], "It's \"Live\"; $(touch pwned) `id` %IN");
    EXPECT_FALSE(fs::exists(s->Out("pwned")));
}

TEST(ExternalEncoderExport, FailingOrMissingEncoderIsReportedAndLeavesNothing)
{
    auto s = Open(40000, {{0, 15000}, {15000, 30000}});
    SaveRequest r = Request(*s, {true, true}, "#", true);
    r.options.external = true;
    r.options.encoderPath = MakeRecordingEncoder(*s, "bad", 3);
    r.options.parameters = "-i %IN -o %OUT";
    r.encoderExtension = "xyz";
    s->ui.AllowOkBoxes(true);
    const SaveOutcome o = SaveTracks(*s->doc, r);
    EXPECT_EQ(o.result, SaveResult::OutputFailed);
    EXPECT_TRUE(o.written.empty());
    EXPECT_FALSE(o.closed);
    EXPECT_FALSE(fs::exists(s->Out("01.xyz")));
    EXPECT_FALSE(fs::exists(s->Out("01.xyz.wav")));
    EXPECT_FALSE(fs::exists(s->Out("02.xyz")));
    bool told = false;
    for (const std::string& text : s->ui.Texts()) told = told || text.find("exit status 3") != std::string::npos;
    EXPECT_TRUE(told);

    r.options.encoderPath = s->Out("no such encoder");
    EXPECT_EQ(SaveTracks(*s->doc, r).result, SaveResult::OutputFailed);
    EXPECT_FALSE(fs::exists(s->Out("01.xyz.wav")));

    s->ui.Expect(kInvalidEncoderParameters, MbAnswer::Ok);
    r.options.parameters = "-o %OUT";
    EXPECT_EQ(SaveTracks(*s->doc, r).result, SaveResult::Refused);
    EXPECT_TRUE(s->doc->workingFile.IsOpen());
}

TEST(ExternalEncoderExport, HandOverRunsTheEncoderOnTheWorkingFile)
{
    auto s = Open(30000, {});
    AddWholeTrack(*s);
    s->doc->inputTrackNumber = "9";
    const std::string working = s->doc->workingPath;
    SaveRequest r = Request(*s, {}, "INPUT-enc", true);
    r.options.external = true;
    r.options.encoderPath = MakeRecordingEncoder(*s, "enc");
    r.options.parameters = "-n %N -i %IN -o %OUT";
    r.encoderExtension = "xyz";
    const std::vector<uint8_t> workingBytes = test::ReadFileBytes(working);
    const SaveOutcome o = SaveTracks(*s->doc, r);
    ASSERT_EQ(o.result, SaveResult::Saved);
    EXPECT_TRUE(o.handedOver);
    std::vector<std::string> args = RecordedArguments(*s);
    ASSERT_EQ(args.size(), 6u);
    ExpectPrivateOutput(args.back(), s->Out("side-enc.xyz"));
    args.pop_back();
    EXPECT_EQ(args, (std::vector<std::string>{"-n", "9", "-i", working, "-o"}));
    EXPECT_EQ(test::ReadFileBytes(s->Out("side-enc.xyz")), workingBytes);
    EXPECT_FALSE(fs::exists(working));
}

TEST(EncodeWaveFile, TurnsTheExportedWavIntoFlacAndRemovesIt)
{
    auto s = Open(50000, {{0, 40000}});
    s->doc->tracks.At(1).title = "Song";
    ExportOptions wavOptions;
    CTrackExporter wav(*s->doc, wavOptions);
    const std::string flac = s->Out("song.flac");
    const std::string temp = CTrackExporter::TemporaryWavPath(flac);
    EXPECT_EQ(temp, flac + ".wav");
    ASSERT_EQ(wav.WriteTrack(1, 3, temp, false, false), WriteResult::Written);
    const std::vector<int32_t> samples = test::ReadWavSamples(temp).samples;

    ExportOptions flacOptions;
    flacOptions.fileType = kFileTypeFlac;
    CTrackExporter encoder(*s->doc, flacOptions);
    ASSERT_EQ(encoder.EncodeWaveFile(1, 3, flac, temp), WriteResult::Written);
    EXPECT_FALSE(fs::exists(temp));
    const test::FlacContents decoded = test::DecodeFlac(flac);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.samples, samples);
    EXPECT_EQ(decoded.comment("TITLE"), "Song");
    EXPECT_EQ(decoded.comment("TRACKNUMBER"), "3");

    // A file that is not a WAV is refused and still removed.
    ASSERT_TRUE(test::WriteFileBytes(temp, {'n', 'o'}));
    s->ui.AllowOkBoxes(true);
    EXPECT_EQ(encoder.EncodeWaveFile(1, 3, s->Out("bad.flac"), temp), WriteResult::NotOpened);
    EXPECT_FALSE(fs::exists(temp));
    EXPECT_FALSE(fs::exists(s->Out("bad.flac")));

    // A user's own file of that name is never taken for the scratch WAV.
    ASSERT_TRUE(test::WriteFileBytes(flac + ".wav", {'k'}));
    EXPECT_EQ(CTrackExporter::TemporaryWavPath(flac), s->Out("song.flac-2.wav"));
}

}  // namespace
}  // namespace kelvane
