// The save dialog's list of output names: folders, numbering, and the
// existing, unknown-tag and duplicate flags that decide whether "OK" works.

#include "document/CQuillon3Doc.h"
#include "output/OutputNames.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace kelvane {
namespace {

struct OutputNamesFixture : ::testing::Test {
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    test::TempDir dir{"kelvane-names"};
    std::string folder = dir.path().string() + "/";

    void SetUp() override
    {
        doc.userPath = folder + "side1.wav";
        doc.tracks.SetSize(4);
        const char* titles[] = {"", "One", "Two", "Three"};
        for (int t = 1; t <= 3; ++t) {
            doc.tracks[t].title = titles[t];
            doc.tracks[t].artist = "Band";
        }
    }

    OutputNameRequest Request(const std::string& rule, std::vector<bool> selected, int32_t start = 1,
                              bool consecutive = true)
    {
        OutputNameRequest r;
        r.folder = folder;
        r.rule = rule;
        r.extension = ".flac";
        const std::vector<int32_t> numbers = AssignTrackNumbers(selected, start, consecutive);
        for (size_t i = 0; i < selected.size(); ++i)
            r.lines.push_back({static_cast<int32_t>(i + 1), selected[i], numbers[i]});
        return r;
    }
};

TEST(OutputFolder, StoredPathOrTheInputsFolder)
{
    CMemorySettings settings;
    EXPECT_EQ(OutputFolder(settings, "/rec/vinyl/side1.wav"), "/rec/vinyl/");
    EXPECT_EQ(OutputFolder(settings, "side1.wav"), "");
    settings.Set(settings::OutputPath, "/music");
    EXPECT_EQ(OutputFolder(settings, "/rec/side1.wav"), "/music/");
    settings.Set(settings::OutputPath, "/music/");
    EXPECT_EQ(OutputFolder(settings, "/rec/side1.wav"), "/music/");
    EXPECT_EQ(FolderOfPath("/a/b/<Filename assigned by program>"), "/a/b/");
}

TEST(OutputExtension, FollowsFormatOrEncoder)
{
    EXPECT_EQ(OutputExtension(kFileTypeWav, false, "mp3"), ".wav");
    EXPECT_EQ(OutputExtension(kFileTypeApe, false, "mp3"), ".ape");
    EXPECT_EQ(OutputExtension(kFileTypeOgg, false, "mp3"), ".ogg");
    EXPECT_EQ(OutputExtension(kFileTypeFlac, false, "mp3"), ".flac");
    EXPECT_EQ(OutputExtension(kFileTypeWav, true, "mp3"), ".mp3");
    EXPECT_EQ(OutputExtension(4711, false, ""), ".wav");
}

TEST(AssignTrackNumbers, ConsecutiveCountsSelectedLinesOnly)
{
    EXPECT_EQ(AssignTrackNumbers({true, false, true, true}, 1, true), (std::vector<int32_t>{1, 0, 2, 3}));
    EXPECT_EQ(AssignTrackNumbers({true, false, true, true}, 5, true), (std::vector<int32_t>{5, 0, 6, 7}));
    EXPECT_EQ(AssignTrackNumbers({true, false, true, true}, 5, false), (std::vector<int32_t>{5, 6, 7, 8}));
    EXPECT_EQ(AssignTrackNumbers({false, true}, 0, true), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(AssignTrackNumbers({false, true}, -1, false), (std::vector<int32_t>{1, 2}));
}

TEST_F(OutputNamesFixture, DefaultRule_ListsSelectedTracksInOrder)
{
    const OutputNames names = RefreshOutputNames(doc, Request("INPUTcor#", {true, false, true}));
    EXPECT_EQ(names.tracks, (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(names.numbers, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(names.shown, (std::vector<std::string>{"side1cor01.flac", "side1cor02.flac"}));
    EXPECT_EQ(names.paths, (std::vector<std::string>{folder + "side1cor01.flac", folder + "side1cor02.flac"}));
    EXPECT_EQ(names.note, "");
    EXPECT_FALSE(names.unknownTags || names.duplicates || names.outsideFolder);
    EXPECT_TRUE(names.OkEnabled());
    EXPECT_FALSE(RefreshOutputNames(doc, Request("INPUTcor#", {false, false, false})).OkEnabled());

    const OutputNames spaced = RefreshOutputNames(doc, Request("INPUTcor#", {true, false, true}, 10, false));
    EXPECT_EQ(spaced.shown, (std::vector<std::string>{"side1cor10.flac", "side1cor12.flac"}));
}

TEST_F(OutputNamesFixture, ExistingFile_IsStarredWithTheNote)
{
    { std::ofstream(folder + "Two.flac") << "old"; }
    const OutputNames names = RefreshOutputNames(doc, Request("TITLE", {true, true, true}));
    EXPECT_EQ(names.shown, (std::vector<std::string>{"One.flac", "*Two.flac", "Three.flac"}));
    EXPECT_EQ(names.paths[1], folder + "Two.flac");
    EXPECT_EQ(names.note, kFileExistsNote);
    EXPECT_TRUE(names.OkEnabled());
}

TEST_F(OutputNamesFixture, SubfolderRule_ShowsSlashes)
{
    doc.tracks[2].album = "Blue: Live";
    doc.tracks[2].title = "So What?";
    const OutputNames names = RefreshOutputNames(doc, Request("ALBUM\\# - TITLE", {false, true, false}, 3, false));
    EXPECT_EQ(names.shown, (std::vector<std::string>{"Blue- Live/04 - So What-.flac"}));
    EXPECT_EQ(names.paths, (std::vector<std::string>{folder + "Blue- Live/04 - So What-.flac"}));
}

TEST_F(OutputNamesFixture, UnknownTag_IsFlaggedButAllowed)
{
    doc.tracks[2].artist.clear();
    const OutputNames names = RefreshOutputNames(doc, Request("ARTIST - TITLE", {true, true, true}));
    EXPECT_EQ(names.shown[1], "Unknown Artist - Two.flac");
    EXPECT_TRUE(names.unknownTags);
    EXPECT_TRUE(names.OkEnabled());
    EXPECT_FALSE(RefreshOutputNames(doc, Request("ARTIST - TITLE", {true, false, true})).unknownTags);
}

TEST_F(OutputNamesFixture, EqualPaths_DisableOk)
{
    doc.tracks[3].title = "One";
    EXPECT_TRUE(RefreshOutputNames(doc, Request("TITLE", {true, true, false})).OkEnabled());
    const OutputNames names = RefreshOutputNames(doc, Request("TITLE", {true, true, true}));
    EXPECT_TRUE(names.duplicates);
    EXPECT_FALSE(names.OkEnabled());
    // The number keeps them apart again.
    EXPECT_TRUE(RefreshOutputNames(doc, Request("# TITLE", {true, true, true})).OkEnabled());
    // Different texts can still meet in one name once characters are replaced.
    doc.tracks[1].title = "A:B";
    doc.tracks[2].title = "A?B";
    EXPECT_TRUE(RefreshOutputNames(doc, Request("TITLE", {true, true, false})).duplicates);
}

TEST_F(OutputNamesFixture, HostileExtension_IsRefusedAndDisablesOk)
{
    OutputNameRequest r = Request("TITLE", {true, false, false});
    r.extension = "/../../../evil";
    const OutputNames names = RefreshOutputNames(doc, r);
    EXPECT_TRUE(names.outsideFolder);
    EXPECT_EQ(names.paths, (std::vector<std::string>{""}));
    EXPECT_FALSE(names.OkEnabled());
}

}  // namespace
}  // namespace kelvane
