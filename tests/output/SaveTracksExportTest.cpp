// The save command after its dialog: numbering, the checks that keep it
// from writing where it must not, the questions it asks and the loop over
// the chosen tracks, on a real loaded recording.

#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "output/OutputNames.h"
#include "output/SaveTracks.h"
#include "tests/output/SaveSession.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/output/PartialFiles.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

using Session = test::SaveSession;
using test::Request;

std::unique_ptr<Session> Open(size_t frames, const std::vector<std::pair<int64_t, int64_t>>& ranges)
{
    return test::OpenForSave(frames, ranges);
}

size_t Frames(const std::string& path)
{
    const test::WavContents w = test::ReadWavSamples(path);
    EXPECT_TRUE(w.ok()) << path << ": " << w.error;
    return w.samples.size() / 2;
}

TEST(SaveTracksExport, NumbersFollowTheSelectionAndTheSingleTrackKeepsItsOwn)
{
    auto s = Open(40000, {{0, 10000}, {10000, 20000}, {20000, 30000}});
    SaveRequest r = Request(*s, {true, false, true});
    r.startNumber = 5;
    EXPECT_EQ(ExportNumbers(*s->doc, r), (std::vector<int32_t>{5, 0, 6}));
    r.consecutive = false;
    EXPECT_EQ(ExportNumbers(*s->doc, r), (std::vector<int32_t>{5, 6, 7}));
    r.startNumber = 0;
    EXPECT_EQ(ExportNumbers(*s->doc, r), (std::vector<int32_t>{1, 2, 3}));

    auto one = Open(20000, {{0, 10000}});
    SaveRequest single = Request(*one, {});
    single.startNumber = 4;
    EXPECT_EQ(ExportNumbers(*one->doc, single), (std::vector<int32_t>{0}));
    // Without a number from the input, "Re-number track" starts checked.
    EXPECT_TRUE(RenumberSingleByDefault(*one->doc));
    one->doc->inputTrackNumber = "0";
    EXPECT_TRUE(RenumberSingleByDefault(*one->doc));
    one->doc->inputTrackNumber = "7";
    EXPECT_FALSE(RenumberSingleByDefault(*one->doc));
    EXPECT_EQ(ExportNumbers(*one->doc, single), (std::vector<int32_t>{7}));
    single.renumberSingle = true;
    EXPECT_EQ(ExportNumbers(*one->doc, single), (std::vector<int32_t>{4}));
}

TEST(SaveTracksExport, ChosenTracksAreWrittenWithGaplessJointsOnlyBetweenThem)
{
    auto s = Open(60000, {{0, 10000}, {10000, 20000}, {20000, 30000}, {30000, 40000}});
    for (int32_t t = 1; t <= 4; ++t) {
        s->doc->tracks.At(t).preSilence = 2352 * 2;
        s->doc->tracks.At(t).postSilence = 2352 * 3;
    }
    s->doc->gapless = 1;
    const SaveOutcome o = SaveTracks(*s->doc, Request(*s, {false, true, true, true}));
    ASSERT_EQ(o.result, SaveResult::Saved);
    ASSERT_EQ(o.written, (std::vector<std::string>{s->Out("01.wav"), s->Out("02.wav"), s->Out("03.wav")}));
    EXPECT_EQ(Frames(o.written[0]), 2 * 588 + 10000u);
    EXPECT_EQ(Frames(o.written[1]), 10000u);
    EXPECT_EQ(Frames(o.written[2]), 10000u + 3 * 588);
    EXPECT_FALSE(s->doc->IsModified());
    ASSERT_FALSE(s->ui.Progresses().empty());
    EXPECT_TRUE(s->ui.Progresses().back()->savingLayout);
    EXPECT_EQ(s->ui.Progresses().back()->captions.back(), "Saving Tracks");
    EXPECT_EQ(s->doc->progress, nullptr);

    // Without the joints every track gets both silences.
    s->doc->gapless = 0;
    s->ui.Expect(std::string(kConfirmSaveText) + "\n\n* " + s->Out("01.wav") + "\n", MbAnswer::Yes);
    const SaveOutcome again = SaveTracks(*s->doc, Request(*s, {false, false, false, true}));
    ASSERT_EQ(again.result, SaveResult::Saved);
    EXPECT_EQ(Frames(s->Out("01.wav")), 5 * 588 + 10000u);
}

TEST(SaveTracksExport, ExistingOutputsAreOverwrittenOnlyAfterConfirmation)
{
    auto s = Open(30000, {{0, 10000}, {10000, 20000}});
    const std::vector<uint8_t> old{'k', 'e', 'e', 'p'};
    ASSERT_TRUE(test::WriteFileBytes(s->Out("02.wav"), old));
    const std::string question =
        std::string(kConfirmSaveText) + "\n\n   " + s->Out("01.wav") + "\n* " + s->Out("02.wav") + "\n";

    s->ui.Expect({question, MbAnswer::No, std::string(kConfirmSaveCaption), MbButtons::YesNo, std::nullopt});
    EXPECT_EQ(SaveTracks(*s->doc, Request(*s, {true, true})).result, SaveResult::Declined);
    EXPECT_EQ(test::ReadFileBytes(s->Out("02.wav")), old);
    EXPECT_FALSE(fs::exists(s->Out("01.wav")));
    EXPECT_TRUE(s->doc->IsModified());

    s->ui.Expect(question, MbAnswer::Yes);
    EXPECT_EQ(SaveTracks(*s->doc, Request(*s, {true, true})).result, SaveResult::Saved);
    EXPECT_EQ(Frames(s->Out("02.wav")), 10000u);
}

TEST(SaveTracksExport, UnsafeOrImpossibleOutputsAreRefusedBeforeAnythingIsWritten)
{
    auto s = Open(30000, {{0, 10000}, {10000, 20000}});
    auto refused = [&](SaveRequest r, const std::string& text) {
        s->ui.Expect(text, MbAnswer::Ok);
        const SaveOutcome o = SaveTracks(*s->doc, r);
        EXPECT_NE(o.result, SaveResult::Saved) << text;
        EXPECT_TRUE(o.written.empty()) << text;
        s->ui.ExpectDone();
    };
    const std::vector<uint8_t> input = test::ReadFileBytes(s->dir.file("side.wav"));

    // The input's own name: "side" + "#" would not clash, "side" alone does.
    SaveRequest onInput = Request(*s, {true, false}, "INPUT");
    refused(onInput, kInputOverwriteError);
    EXPECT_EQ(test::ReadFileBytes(s->dir.file("side.wav")), input);

    ASSERT_TRUE(test::WriteFileBytes(s->Out("02.wav"), {'r'}));
    fs::permissions(s->Out("02.wav"), fs::perms::owner_read | fs::perms::group_read);
    refused(Request(*s, {true, true}), kReadOnlyError);
    EXPECT_FALSE(fs::exists(s->Out("01.wav")));
    fs::remove(s->Out("02.wav"));

    fs::create_directory(s->Out("01.wav"));
    refused(Request(*s, {true, true}), kReadOnlyError);
    fs::remove(s->Out("01.wav"));

    SaveRequest hostile = Request(*s, {true, true});
    hostile.options.external = true;
    hostile.encoderExtension = "/../../escaped";
    refused(hostile, kOutsideFolderError);

    refused(Request(*s, {true, true}, "side copy"), kSameOutputError);
    refused(Request(*s, {false, false}), kNoTracksError);

    SaveRequest full = Request(*s, {true, true});
    full.freeSpace = [](const std::string&) { return std::optional<uint64_t>(10'050'000); };
    refused(full, "Insufficient space on Drive " + s->Folder());
    EXPECT_FALSE(fs::exists(s->Out("01.wav")));
    EXPECT_TRUE(s->doc->IsModified());
}

TEST(SaveTracksExport, FreeSpaceKeepsAReserveAndIsCappedBelowFourGigabytes)
{
    EXPECT_TRUE(HasDiskSpace(10'000'000 + 500, 500));
    EXPECT_FALSE(HasDiskSpace(10'000'000 + 499, 500));
    EXPECT_FALSE(HasDiskSpace(9'000'000, 0));
    const uint64_t cap = (uint64_t{1} << 32) - 1;
    EXPECT_TRUE(HasDiskSpace(uint64_t{1} << 40, cap - 10'000'000));
    EXPECT_FALSE(HasDiskSpace(uint64_t{1} << 40, cap - 9'999'999));
}

TEST(SaveTracksExport, CancelKeepsFinishedTracksAndStopsTheRest)
{
    auto s = Open(300000, {{0, 40000}, {40000, 200000}, {200000, 290000}});
    s->ui.OnCreateProgress([](test::RecordingProgress& p, size_t) { p.CancelAtPos(0x40000); });
    s->ui.Expect(CTrackExporter::kReallyAbort, MbAnswer::Yes);
    const SaveOutcome o = SaveTracks(*s->doc, Request(*s, {true, true, true}));
    EXPECT_EQ(o.result, SaveResult::Cancelled);
    EXPECT_EQ(o.written, (std::vector<std::string>{s->Out("01.wav")}));
    EXPECT_FALSE(fs::exists(s->Out("02.wav")));
    EXPECT_TRUE(test::PartialFilesBeside(s->Out("02.wav")).empty());
    EXPECT_FALSE(fs::exists(s->Out("03.wav")));
    EXPECT_TRUE(s->doc->IsModified());
}

TEST(SaveTracksExport, SinglePlainTrackIsTheWholeRecordingWithoutFades)
{
    auto s = Open(20000, {});
    TrackRecord whole = s->doc->tracks.At(0);
    whole.artist = "Band";
    s->doc->tracks.Add(whole);
    const SaveOutcome o = SaveTracks(*s->doc, Request(*s, {}, "ARTIST"));
    ASSERT_EQ(o.result, SaveResult::Saved);
    const test::WavContents w = test::ReadWavSamples(s->Out("Band.wav"));
    EXPECT_EQ(w.samples, test::ReadWavSamples(s->dir.file("side.wav")).samples);
    EXPECT_EQ(s->doc->tracks.At(0).artist, "Band");

    // Any timing makes it an ordinary track with faded edges.
    s->doc->tracks.At(1).fadeIn = 2352;
    s->ui.Expect(std::string(kConfirmSaveText) + "\n\n* " + s->Out("Band.wav") + "\n", MbAnswer::Yes);
    ASSERT_EQ(SaveTracks(*s->doc, Request(*s, {}, "ARTIST")).result, SaveResult::Saved);
    const test::WavContents faded = test::ReadWavSamples(s->Out("Band.wav"));
    ASSERT_EQ(faded.samples.size(), w.samples.size());
    EXPECT_EQ(faded.samples[0], static_cast<int32_t>(w.samples[0] * 0.001));
    EXPECT_EQ(faded.samples[20000], w.samples[20000]);
}

}  // namespace
}  // namespace kelvane
