// The tag sets of the export formats and the APEv2 block.

#include "document/CQuillon3Doc.h"
#include "output/TrackTags.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvane {
namespace {

struct TagsFixture : ::testing::Test {
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};

    void SetUp() override
    {
        doc.tracks.SetSize(3);
        doc.tracks[0].album = "Whole";
        doc.tracks[1].title = "So What";
        doc.tracks[1].artist = "Miles";
        doc.tracks[1].album = "Kind of Blue";
        doc.tracks[1].genre = "Jazz";
        // Track 2 has no texts at all.
    }
};

TEST_F(TagsFixture, Flac_AlwaysWritesTheFiveInOrder)
{
    EXPECT_EQ(FlacTags(doc, 1, 3), (EncoderTags{{"TITLE", "So What"}, {"ARTIST", "Miles"}, {"ALBUM", "Kind of Blue"},
                                               {"TRACKNUMBER", "3"}, {"GENRE", "Jazz"}}));
    EXPECT_EQ(FlacTags(doc, 2, 0), (EncoderTags{{"TITLE", ""}, {"ARTIST", ""}, {"ALBUM", ""},
                                               {"TRACKNUMBER", ""}, {"GENRE", ""}}));
    doc.inputTrackNumber = "7/12";
    EXPECT_EQ(FlacTags(doc, 2, 0)[3].second, "7/12");
    EXPECT_EQ(FlacTags(doc, 2, 112)[3].second, "112");
    EXPECT_EQ(FlacTags(doc, 0, 0)[2].second, "Whole");
    EXPECT_THROW(FlacTags(doc, 3, 0), std::out_of_range);
}

TEST_F(TagsFixture, Flac_PassesOnSourceCommentsOfFlacInputOnly)
{
    doc.passedOnComments = {"DATE=\"1969\"", "COMMENT=\"a=\"b\"\"", "ODD"};
    EXPECT_EQ(FlacTags(doc, 1, 1).size(), 5u);
    doc.sourceKind = kSourceFlac;
    const EncoderTags tags = FlacTags(doc, 1, 1);
    ASSERT_EQ(tags.size(), 8u);
    EXPECT_EQ(tags[5], (std::pair<std::string, std::string>{"DATE", "1969"}));
    EXPECT_EQ(tags[6], (std::pair<std::string, std::string>{"COMMENT", "a=b"}));
    EXPECT_EQ(tags[7], (std::pair<std::string, std::string>{"ODD", ""}));
}

TEST_F(TagsFixture, TextsThatAreNotUtf8AreReadAsLatin1)
{
    EXPECT_EQ(ToUtf8("Caf\xE9"), "Caf\xC3\xA9");
    EXPECT_EQ(ToUtf8("Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5"), "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5");
    // An overlong form, a surrogate and a sequence cut short are no UTF-8:
    // their bytes are Latin-1 characters, one by one.
    EXPECT_EQ(ToUtf8("\xC0\xAF"), "\xC3\x80\xC2\xAF");
    EXPECT_EQ(ToUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");
    EXPECT_EQ(ToUtf8("a\xE2\x82"), "a\xC3\xA2\xC2\x82");

    doc.tracks[1].title = "Caf\xE9";
    doc.tracks[1].artist = std::string(254, 'a') + "\xE9";  // two bytes once converted: cut whole
    doc.sourceKind = kSourceFlac;
    doc.passedOnComments = {"COMMENT=\"d\xE9j\xE0\""};
    const EncoderTags flac = FlacTags(doc, 1, 1);
    EXPECT_EQ(flac[0].second, "Caf\xC3\xA9");
    EXPECT_EQ(flac[1].second, std::string(254, 'a'));
    EXPECT_EQ(flac[5].second, "d\xC3\xA9j\xC3\xA0");
    EXPECT_EQ(OggTags(doc, 1, 1)[1].second, "Caf\xC3\xA9");
    EXPECT_EQ(ApeTags(doc, 1, 1)[1].second, "Caf\xC3\xA9");
}

TEST_F(TagsFixture, Flac_LongTextsAreCutWithoutBreakingUtf8)
{
    doc.tracks[1].title = std::string(254, 'a') + "\xC3\xA9" + "tail";  // "é" straddles byte 255
    doc.tracks[1].artist = std::string(300, 'b');
    const EncoderTags tags = FlacTags(doc, 1, 1);
    EXPECT_EQ(tags[0].second, std::string(254, 'a'));
    EXPECT_EQ(tags[1].second, std::string(255, 'b'));
    EXPECT_EQ(TagProblem(tags[0].first, tags[0].second), "");
    EXPECT_EQ(TruncateUtf8("\xE2\x82\xAC", 2), "");
    EXPECT_EQ(TruncateUtf8("ab\xE2\x82\xAC", 5), "ab\xE2\x82\xAC");
}

TEST_F(TagsFixture, Ogg_SkipsEmptyTextsAndReadsTheInputNumber)
{
    EXPECT_EQ(OggTags(doc, 1, 3), (EncoderTags{{"Album", "Kind of Blue"}, {"Title", "So What"}, {"Artist", "Miles"},
                                              {"Genre", "Jazz"}, {"TrackNumber", "3"}}));
    EXPECT_EQ(OggTags(doc, 2, 0), (EncoderTags{{"TrackNumber", ""}}));
    doc.inputTrackNumber = " 7/12";
    EXPECT_EQ(OggTags(doc, 2, 0), (EncoderTags{{"TrackNumber", "7"}}));
    doc.inputTrackNumber = "side A";
    EXPECT_EQ(OggTags(doc, 2, 0), (EncoderTags{{"TrackNumber", ""}}));
    doc.inputTrackNumber = "99999999999999";
    EXPECT_EQ(OggTags(doc, 2, 0), (EncoderTags{{"TrackNumber", ""}}));
}

TEST_F(TagsFixture, Ape_SkipsEmptyTextsAndAlwaysHasTrack)
{
    EXPECT_EQ(ApeTags(doc, 1, 10), (EncoderTags{{"Album", "Kind of Blue"}, {"Title", "So What"}, {"Artist", "Miles"},
                                               {"Genre", "Jazz"}, {"Track", "10"}}));
    EXPECT_EQ(ApeTags(doc, 2, 0), (EncoderTags{{"Track", ""}}));
    doc.inputTrackNumber = "7/12";
    EXPECT_EQ(ApeTags(doc, 2, 0), (EncoderTags{{"Track", "7/12"}}));
}

// The values go into already split arguments, so they must arrive exactly
// as typed: any quoting here would end up inside the encoder's tags.
TEST_F(TagsFixture, ExternalEncoder_GetsPlainValuesInPlaceholderOrder)
{
    doc.inputTrackNumber = "4";
    EXPECT_EQ(ExternalEncoderValues(doc, 1, 0),
              (EncoderTags{{"%A", "Miles"}, {"%T", "So What"}, {"%L", "Kind of Blue"}, {"%G", "Jazz"}, {"%N", "4"}}));
    EXPECT_EQ(ExternalEncoderValues(doc, 2, 2), (EncoderTags{{"%A", ""}, {"%T", ""}, {"%L", ""}, {"%G", ""}, {"%N", "2"}}));
    doc.tracks[2].title = "say \"hi\"; $(x) `y` it's";
    EXPECT_EQ(ExternalEncoderValues(doc, 2, 0)[1].second, "say \"hi\"; $(x) `y` it's");
    EXPECT_THROW(ExternalEncoderValues(doc, 3, 0), std::out_of_range);
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

TEST(BuildApeTag, FieldsThenFooter)
{
    const std::vector<uint8_t> tag = BuildApeTag({{"Title", "\xC3\xA9t\xC3\xA9"}, {"Track", ""}});
    // Field 1: size 5, flags 0, "Title\0", 5 value bytes = 19; field 2: 14.
    ASSERT_EQ(tag.size(), 19u + 14u + 32u);
    EXPECT_EQ(Le32(tag, 0), 5u);
    EXPECT_EQ(Le32(tag, 4), 0u);
    EXPECT_EQ(std::string(tag.begin() + 8, tag.begin() + 14), std::string("Title\0", 6));
    EXPECT_EQ(std::string(tag.begin() + 14, tag.begin() + 19), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(Le32(tag, 19), 0u);
    EXPECT_EQ(std::string(tag.begin() + 27, tag.begin() + 33), std::string("Track\0", 6));

    const size_t footer = 33;
    EXPECT_EQ(std::string(tag.begin() + footer, tag.begin() + footer + 8), "APETAGEX");
    EXPECT_EQ(Le32(tag, footer + 8), 2000u);
    EXPECT_EQ(Le32(tag, footer + 12), 33u + 32u);
    EXPECT_EQ(Le32(tag, footer + 16), 2u);
    EXPECT_EQ(Le32(tag, footer + 20), 0x40000000u);
    EXPECT_EQ(std::vector<uint8_t>(tag.begin() + footer + 24, tag.end()), std::vector<uint8_t>(8, 0));

    const std::vector<uint8_t> empty = BuildApeTag({});
    ASSERT_EQ(empty.size(), 32u);
    EXPECT_EQ(Le32(empty, 12), 32u);
    EXPECT_EQ(Le32(empty, 16), 0u);
}

}  // namespace
}  // namespace kelvane
