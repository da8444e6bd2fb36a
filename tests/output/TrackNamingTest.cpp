// File names from naming rules, and the guarantee that no rule and no track
// text can put a file outside the output folder.

#include "document/CQuillon3Doc.h"
#include "document/TrackRecord.h"
#include "output/MakeTrackName.h"
#include "output/OutputNames.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kelvane {
namespace {

TrackRecord Track(std::string title, std::string artist = "Miles", std::string album = "Kind",
                  std::string genre = "Jazz")
{
    TrackRecord t;
    t.title = std::move(title);
    t.artist = std::move(artist);
    t.album = std::move(album);
    t.genre = std::move(genre);
    return t;
}

TEST(MakeTrackName, DefaultRule_NumbersTracksOfTheInput)
{
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    doc.userPath = "/rec/side1.wav";
    doc.tracks.SetSize(4);
    EXPECT_EQ(MakeTrackName(doc, "INPUTcor#", 1, 1), "side1cor01");
    EXPECT_EQ(MakeTrackName(doc, "INPUTcor#", 3, 3), "side1cor03");
    EXPECT_EQ(MakeTrackName(doc, "INPUTcor#", 2, 100), "side1cor100");
    EXPECT_EQ(MakeTrackName(doc, "INPUTcor#", 2, 0), "side1cor  ");
}

TEST(MakeTrackName, EveryPlaceholderInEverySpelling_IsFilled)
{
    const TrackRecord t = Track("So What", "Miles", "Kind", "Jazz");
    EXPECT_EQ(MakeTrackName("ALBUM GENRE TITLE ARTIST INPUT #", t, 7, "side1"), "Kind Jazz So What Miles side1 07");
    EXPECT_EQ(MakeTrackName("album genre title artist input", t, 7, "side1"), "Kind Jazz So What Miles side1");
    EXPECT_EQ(MakeTrackName("Album Genre Title Artist Input", t, 7, "side1"), "Kind Jazz So What Miles side1");
    // Other mixtures of case are ordinary text; a word inside a longer one
    // is still a word.
    EXPECT_EQ(MakeTrackName("tItle titles", t, 7, "b"), "tItle So Whats");
    EXPECT_EQ(MakeTrackName("# - TITLE", t, 0, "b"), "   - So What");
    EXPECT_EQ(MakeTrackName("##", t, 5, "b"), "0505");
}

TEST(MakeTrackName, EmptyTexts_ReadAsUnknownWords)
{
    const TrackRecord t = Track("", "", "", "");
    EXPECT_EQ(MakeTrackName("ALBUM-GENRE-TITLE-ARTIST", t, 1, ""),
              "Unknown Album-Unknown Genre-Unknown Title-Unknown Artist");
    // An empty base name is not replaced by anything.
    EXPECT_EQ(MakeTrackName("INPUT#", t, 1, ""), "01");
}

TEST(MakeTrackName, ForbiddenCharacters_BecomeDashesButBackslashSeparatesFolders)
{
    EXPECT_EQ(MakeTrackName("ALBUM\\# - TITLE", Track("So What?", "", "Blue: Live"), 3, "b"),
              "Blue- Live\\03 - So What-");
    EXPECT_EQ(MakeTrackName("TITLE", Track("<>:\"/|*?"), 1, "b"), "--------");
    EXPECT_EQ(MakeTrackName("TITLE", Track("AC\\DC"), 1, "b"), "AC\\DC");
}

TEST(MakeTrackName, Values_AreFilledOneAfterAnother)
{
    // The placeholders are filled in a fixed order, so text that an earlier
    // value brings in is read by the later ones: a "#" in a title is numbered.
    EXPECT_EQ(MakeTrackName("TITLE", Track("Take #"), 5, "b"), "Take 05");
    EXPECT_EQ(MakeTrackName("ALBUM", Track("T", "A", "%title"), 5, "b"), "T");
}

TEST(SafeRelativeName, FolderParts_CannotClimbOrVanish)
{
    EXPECT_EQ(SafeRelativeName("Blue- Live\\03 - So What-"), "Blue- Live/03 - So What-");
    EXPECT_EQ(SafeRelativeName("..\\..\\x"), "--/--/x");
    EXPECT_EQ(SafeRelativeName(".\\a\\.\\b"), "-/a/-/b");
    EXPECT_EQ(SafeRelativeName("\\a\\\\b\\"), "a/b");
    EXPECT_EQ(SafeRelativeName(""), "-");
    EXPECT_EQ(SafeRelativeName("\\\\"), "-");
    EXPECT_EQ(SafeRelativeName("..."), "...");
    EXPECT_EQ(SafeRelativeName("/etc/passwd"), "-etc-passwd");
    EXPECT_EQ(SafeRelativeName(std::string("a\0b", 3)), "a-b");
}

TEST(LiesInside, JudgesTheNormalisedPath)
{
    EXPECT_TRUE(LiesInside("/out/", "/out/a.flac"));
    EXPECT_TRUE(LiesInside("/out/", "/out/x/../a.flac"));
    EXPECT_FALSE(LiesInside("/out/", "/out/../a.flac"));
    EXPECT_FALSE(LiesInside("/out/", "/out/"));
    EXPECT_FALSE(LiesInside("/out/", "/outside/a.flac"));
    EXPECT_FALSE(LiesInside("/out/", "a.flac"));
    EXPECT_TRUE(LiesInside("", "a/b.flac"));
    EXPECT_FALSE(LiesInside("", "../b.flac"));
    EXPECT_FALSE(LiesInside("", "/b.flac"));
}

struct HostileCase {
    std::string rule;
    std::string title;
    std::string expected;  // relative to the output folder
};

TEST(OutputFilePath, HostileTitlesAndRules_StayInsideTheOutputFolder)
{
    const std::vector<HostileCase> cases{
        {"TITLE", "../../x", "..-..-x.flac"},
        {"TITLE", "a\\..\\b", "a/--/b.flac"},
        {"TITLE", "/etc/passwd", "-etc-passwd.flac"},
        {"TITLE", "", "Unknown Title.flac"},
        {"TITLE", ".", "-.flac"},
        {"TITLE", "..", "--.flac"},
        {"TITLE", "say \"hi\"", "say -hi-.flac"},
        {"TITLE", "a; rm -rf $(pwd) `id`", "a; rm -rf $(pwd) `id`.flac"},
        {"TITLE", "  ", "  .flac"},
        {"ALBUM\\TITLE", "x", "--/x.flac"},  // album ".."
        {"..\\..\\TITLE", "x", "--/--/x.flac"},
        {"\\TITLE", "x", "x.flac"},
        {"TITLE\\", "x", "x.flac"},
        {"", "x", "-.flac"},
    };
    test::TempDir dir("kelvane-naming");
    const std::string folder = dir.path().string() + "/out/";
    std::filesystem::create_directories(folder);
    for (const HostileCase& c : cases) {
        SCOPED_TRACE("rule '" + c.rule + "', title '" + c.title + "'");
        const std::string name = MakeTrackName(c.rule, Track(c.title, "A", ".."), 1, "b");
        const auto path = OutputFilePath(folder, name, ".flac");
        ASSERT_TRUE(path.has_value());
        EXPECT_EQ(*path, folder + c.expected);
        // Writing there really does land inside the folder.
        std::filesystem::create_directories(std::filesystem::path(*path).parent_path());
        { std::ofstream(*path) << "x"; }
        const auto real = std::filesystem::canonical(*path).string();
        EXPECT_EQ(real.rfind(std::filesystem::canonical(folder).string() + "/", 0), 0u) << real;
    }
}

}  // namespace
}  // namespace kelvane
