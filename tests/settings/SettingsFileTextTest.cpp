// The settings file read line by line, and the lines a save dropped put back:
// a hand-edited file keeps its comments and its unreadable lines, near the
// values they were written beside.

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/SettingsFileText.h"

namespace kelvane {
namespace {

using Kind = SettingsLine::Kind;

TEST(SettingsFileText, Read_KindsSectionsAndNamesAsTheIniReaderSeesThem)
{
    const SettingsText t = ReadSettingsText(
        "\xEF\xBB\xBF; top comment\r\n"
        "top=1\r\n"
        "[SettingsZR]\n"
        "  Min%20Magnitude = 3\n"
        "Encoder Path=a,b\n"
        "# note\n"
        "#not a note=1\n"
        "a line the user typed\n"
        "Long=one\\\n"
        "  two\n"
        "Caf%U00E9=x\n"
        "\n"
        "[General]\n"
        "g=1\n"
        "[%General]\n"
        "[Group\\Sub] trailing\n"
        "Escaped\\\\=1\n"
        "[broken\n"
        "k=v");
    ASSERT_EQ(t.lines.size(), 18u);
    auto expect = [&](size_t i, Kind kind, const std::string& section, const std::string& key = "") {
        SCOPED_TRACE(t.lines[i].text);
        EXPECT_EQ(t.lines[i].kind, kind);
        EXPECT_EQ(t.lines[i].section, section);
        EXPECT_EQ(t.lines[i].key, key);
    };
    expect(0, Kind::Comment, "");
    EXPECT_EQ(t.lines[0].text, "; top comment");  // no byte order mark, no "\r"
    expect(1, Kind::Value, "", "top");
    expect(2, Kind::Section, "SettingsZR");
    expect(3, Kind::Value, "SettingsZR", "Min Magnitude");
    expect(4, Kind::Value, "SettingsZR", "Encoder Path");
    expect(5, Kind::Comment, "SettingsZR");
    expect(6, Kind::Value, "SettingsZR", "#not a note");
    expect(7, Kind::Unreadable, "SettingsZR");
    expect(8, Kind::Value, "SettingsZR", "Long");
    EXPECT_EQ(t.lines[8].text, "Long=one\\\n  two");
    EXPECT_EQ(t.lines[9].number, 11u);
    expect(9, Kind::Value, "SettingsZR", "Caf\xC3\xA9");
    expect(10, Kind::Blank, "SettingsZR");
    expect(11, Kind::Section, "");
    expect(12, Kind::Value, "", "g");
    expect(13, Kind::Section, "General");
    expect(14, Kind::Section, "Group/Sub");
    expect(15, Kind::Value, "Group/Sub", "Escaped//");
    expect(16, Kind::Section, "broken");
    expect(17, Kind::Value, "broken", "k");
    EXPECT_EQ(t.unreadable, std::vector<size_t>{8});
    EXPECT_TRUE(t.HasKeptLines());
    EXPECT_FALSE(ReadSettingsText("[A]\nx=1\n\n").HasKeptLines());
    EXPECT_TRUE(ReadSettingsText("").lines.empty());
}

TEST(SettingsFileText, Restore_EachKeptLineGoesBackBeforeWhatFollowedIt)
{
    const SettingsText before = ReadSettingsText(
        "; about this file\n"
        "[Zeta]\n"
        "; zeta's value\n"
        "z=1\n"
        "\n"
        "; before alpha\n"
        "[Alpha]\n"
        "a=1\n"
        "what is this\n"
        "b=2\n"
        "; alpha's last words\n");
    // As QSettings writes it: sections and keys sorted, comments gone.
    const std::string written =
        "[Alpha]\n"
        "a=1\n"
        "b=2\n"
        "c=3\n"
        "\n"
        "[Zeta]\n"
        "z=5\n";
    EXPECT_EQ(RestoreKeptLines(before, written),
              "; about this file\n"
              "; before alpha\n"
              "[Alpha]\n"
              "a=1\n"
              "what is this\n"
              "b=2\n"
              "c=3\n"
              "; alpha's last words\n"
              "\n"
              "[Zeta]\n"
              "; zeta's value\n"
              "z=5\n");
}

TEST(SettingsFileText, Restore_LinesOfRemovedValuesAndSectionsAreNeverDropped)
{
    const SettingsText before = ReadSettingsText(
        "[Keep]\n"
        "; about gone\n"
        "gone=1\n"
        "kept=2\n"
        "[Old Section]\n"
        "; about the old section\n"
        "x=1\n"
        "junk line\n");
    const std::string restored = RestoreKeptLines(before, "[Keep]\nkept=2\n");
    // The removed value's comment goes to the end of its section; the
    // section that went comes back as a header with its lines.
    EXPECT_EQ(restored,
              "[Keep]\n"
              "kept=2\n"
              "; about gone\n"
              "\n"
              "[Old Section]\n"
              "; about the old section\n"
              "junk line\n");
    // The result reads back with every kept line, and a second restore onto
    // it (a file with comments: not the reader's writing) changes nothing.
    const SettingsText again = ReadSettingsText(restored);
    EXPECT_EQ(again.unreadable.size(), 1u);
    EXPECT_EQ(RestoreKeptLines(before, restored), restored);
    // Nothing to keep: the written text as it is, even without a final break.
    EXPECT_EQ(RestoreKeptLines(ReadSettingsText("[A]\nx=1\n"), "[A]\nx=2"), "[A]\nx=2");
    // Only comments ahead of everything, onto an empty file.
    EXPECT_EQ(RestoreKeptLines(ReadSettingsText("; only me\n"), ""), "; only me\n");
}

TEST(SettingsFileText, AnyBytes_AreReadAndRestoredWithoutFailing)
{
    std::mt19937 random(11);
    const std::string alphabet = "[]=;#\\%U0aZ \t\r\n\xC3\xA9\xFF";
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const size_t length = random() % 200;
        for (size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
        const SettingsText t = ReadSettingsText(text);
        size_t kept = 0;
        for (const SettingsLine& line : t.lines) kept += line.kind == Kind::Comment || line.kind == Kind::Unreadable;
        const std::string restored = RestoreKeptLines(t, "[A]\nx=1\n");
        // Every kept line is in the result.
        size_t found = 0;
        for (const SettingsLine& line : t.lines)
            if ((line.kind == Kind::Comment || line.kind == Kind::Unreadable) && restored.find(line.text) != std::string::npos)
                ++found;
        EXPECT_EQ(found, kept) << text;
    }
}

TEST(SettingsFileText, LineNumbers_ReadLikeASentence)
{
    EXPECT_EQ(LineNumbersText({}), "");
    EXPECT_EQ(LineNumbersText({3}), "line 3");
    EXPECT_EQ(LineNumbersText({3, 8}), "lines 3 and 8");
    EXPECT_EQ(LineNumbersText({1, 2, 3, 4, 5}), "lines 1, 2, 3, 4 and 5");
    EXPECT_EQ(LineNumbersText({1, 2, 3, 4, 5, 6, 7}), "lines 1, 2, 3, 4, 5 and 2 more");
}

}  // namespace
}  // namespace kelvane
