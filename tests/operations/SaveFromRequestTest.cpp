// Saving from a save request as both front ends do: the request as the save
// dialog opens, the dialog's OK step, the output folder, the whole side of a
// recording that was not divided, and each way a save can end as the one
// result a front end reports.

#include "document/CQuillon3Doc.h"
#include "operations/SaveFromRequest.h"
#include "output/EncoderList.h"
#include "output/OutputNames.h"
#include "settings/SettingsStore.h"
#include "tests/output/SaveSession.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

// Two tracks over the first 20000 frames of 30000, both chosen, named by
// number into the session's folder.
std::unique_ptr<test::SaveSession> TwoTracks()
{
    return test::OpenForSave(30000, {{0, 10000}, {10000, 20000}});
}

SaveRequest WavRequest(test::SaveSession& s, const std::string& rule = "#")
{
    SaveRequest r = OpeningSaveRequest(*s.doc);
    r.folder = s.Folder();
    r.rule = rule;
    r.options.fileType = kFileTypeWav;
    return r;
}

TEST(SaveFromRequest, TheRequestOpensAsTheDialogFromTheStoredChoicesAndTheDocument)
{
    auto s = TwoTracks();
    const fs::path encoder = s->dir.file("enc");
    ASSERT_TRUE(test::WriteFileBytes(encoder, {'#', '!'}));
    SaveEncoders(s->settings, {EncoderEntry{encoder.string(), "%IN %OUT", "xyz"}});
    s->settings.Set(settings::ExternalIndex, 0);
    s->settings.Set(settings::FileType, kFileTypeOgg);
    s->settings.Set(settings::Scale, 1);
    s->settings.Set(settings::NormGain, "4");
    s->settings.Set(settings::NamingRule, "ALBUM#");
    s->doc->tracks.At(2).title = "Track 2";

    const SaveRequest r = OpeningSaveRequest(*s->doc);
    EXPECT_EQ(r.selected, (std::vector<bool>{true, true}));
    EXPECT_EQ(r.startNumber, 1);
    EXPECT_TRUE(r.consecutive);
    EXPECT_EQ(r.folder, s->Folder());  // no stored folder: the input's
    EXPECT_EQ(r.rule, "ALBUM#");
    EXPECT_EQ(r.options.fileType, kFileTypeOgg);
    EXPECT_TRUE(r.options.scale);
    EXPECT_DOUBLE_EQ(r.options.gainDb, 4.0);
    EXPECT_EQ(r.options.externalIndex, 0);
    EXPECT_EQ(r.encoderExtension, "xyz");
    // The default texts are refreshed first, as the dialog shows them.
    EXPECT_EQ(s->doc->tracks.At(2).title, "???");
    EXPECT_EQ(s->doc->tracks.At(1).album, "side");

    // A single track keeps the input's own number; without one it is
    // numbered from the start value.
    auto one = test::OpenForSave(20000, {{0, 10000}});
    EXPECT_TRUE(OpeningSaveRequest(*one->doc).renumberSingle);
    one->doc->inputTrackNumber = "7";
    EXPECT_FALSE(OpeningSaveRequest(*one->doc).renumberSingle);
}

TEST(SaveFromRequest, NamesWithUnknownTagsAreSavedOnlyWhenTheUserConfirms)
{
    auto s = TwoTracks();
    const SaveRequest r = WavRequest(*s, "ARTIST - TITLE");
    s->ui.Expect({kUnknownTagsQuestion, MbAnswer::Cancel, std::nullopt, MbButtons::OkCancel, std::nullopt});
    SavedTracks saved = SaveFromRequest(*s->doc, r);
    EXPECT_EQ(saved.result.kind, FailKind::Declined);
    EXPECT_EQ(saved.result.message, kUnknownTagsQuestion);
    EXPECT_TRUE(saved.outcome.written.empty());
    EXPECT_FALSE(fs::exists(s->Out("Unknown Artist - A.wav")));

    s->ui.Expect(kUnknownTagsQuestion, MbAnswer::Ok);
    saved = SaveFromRequest(*s->doc, r);
    EXPECT_TRUE(saved.result.Ok());
    EXPECT_EQ(saved.outcome.written, (std::vector<std::string>{s->Out("Unknown Artist - A.wav"),
                                                                s->Out("Unknown Artist - B.wav")}));
    s->ui.ExpectDone();
    // Known texts ask nothing.
    s->doc->tracks.At(1).artist = s->doc->tracks.At(2).artist = "Band";
    EXPECT_TRUE(SaveFromRequest(*s->doc, WavRequest(*s, "ARTIST - TITLE (new)")).result.Ok());
}

TEST(SaveFromRequest, DeclinedOverwriteListsTheFilesThatWouldHaveBeenReplaced)
{
    auto s = TwoTracks();
    const std::vector<uint8_t> mine{'m', 'i', 'n', 'e'};
    ASSERT_TRUE(test::WriteFileBytes(s->Out("02.wav"), mine));
    const std::string question = std::string(kConfirmSaveText) + "\n\n   " + s->Out("01.wav") + "\n* " +
                                 s->Out("02.wav") + "\n";
    s->ui.Expect(question, MbAnswer::No);
    const SavedTracks saved = SaveFromRequest(*s->doc, WavRequest(*s));
    EXPECT_EQ(saved.result.kind, FailKind::Declined);
    EXPECT_EQ(saved.result.message, kConfirmSaveText);
    EXPECT_EQ(saved.outcome.existing, std::vector<std::string>{s->Out("02.wav")});
    EXPECT_TRUE(test::ReadFileBytes(s->Out("02.wav")) == mine);
    EXPECT_FALSE(fs::exists(s->Out("01.wav")));
}

TEST(SaveFromRequest, RefusedNoSpaceAndStoppedSavesAreTheirOwnKinds)
{
    auto s = test::OpenForSave(300000, {{0, 40000}, {40000, 200000}, {200000, 290000}});
    s->ui.AllowOkBoxes(true);
    // The input as an output.
    SaveRequest r = WavRequest(*s, "INPUT");
    r.selected = {true, false, false};
    EXPECT_EQ(SaveFromRequest(*s->doc, r).result.kind, FailKind::BadInput);
    EXPECT_EQ(s->ui.Messages().back().text, kInputOverwriteError);

    // Too little room: nothing written, and the folder made for the save
    // goes again.
    r = WavRequest(*s);
    r.folder = s->Folder() + "new/";
    r.freeSpace = [](const std::string&) { return std::optional<uint64_t>(1000); };
    SavedTracks saved = SaveFromRequest(*s->doc, r);
    EXPECT_EQ(saved.result.kind, FailKind::NoSpace);
    EXPECT_FALSE(fs::exists(s->Out("new")));

    // Stopped in the second track: the first stays, the rest are listed.
    s->ui.OnCreateProgress([](test::RecordingProgress& p, size_t) { p.CancelAtPos(0x40000); });
    s->ui.Expect(CTrackExporter::kReallyAbort, MbAnswer::Yes);
    saved = SaveFromRequest(*s->doc, WavRequest(*s));
    EXPECT_EQ(saved.result.kind, FailKind::Cancelled);
    EXPECT_EQ(saved.outcome.written, std::vector<std::string>{s->Out("01.wav")});
    EXPECT_EQ(saved.outcome.notWritten, (std::vector<std::string>{s->Out("02.wav"), s->Out("03.wav")}));
    s->ui.ExpectDone();
}

TEST(SaveFromRequest, AFileWhereTheFolderShouldBeIsRefused)
{
    auto s = TwoTracks();
    s->ui.AllowOkBoxes(true);
    ASSERT_TRUE(test::WriteFileBytes(s->Out("plain"), {'x'}));
    SaveRequest r = WavRequest(*s);
    r.folder = s->Out("plain") + "/";
    const SavedTracks saved = SaveFromRequest(*s->doc, r);
    EXPECT_EQ(saved.result.kind, FailKind::BadInput);
    EXPECT_NE(saved.result.message.find(std::strerror(ENOTDIR)), std::string::npos) << saved.result.message;
    EXPECT_EQ(s->ui.Messages().back().text, saved.result.message);
    EXPECT_EQ(test::ReadFileBytes(s->Out("plain")), std::vector<uint8_t>{'x'});
}

TEST(SaveFromRequest, ARecordingThatWasNotDividedIsSavedWholeAsItsOneTrack)
{
    auto s = test::OpenForSave(20000, {});
    ASSERT_EQ(s->doc->TrackCount(), 0);
    SaveRequest r = WavRequest(*s, "INPUT-all");
    const SavedTracks saved = SaveFromRequest(*s->doc, r);
    ASSERT_TRUE(saved.result.Ok());
    EXPECT_EQ(saved.outcome.written, std::vector<std::string>{s->Out("side-all.wav")});
    EXPECT_EQ(test::ReadWavSamples(s->Out("side-all.wav")).samples, test::ReadWavSamples(s->input).samples);
}

}  // namespace
}  // namespace kelvane
