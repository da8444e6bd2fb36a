// The report writer: output must be valid JSON whatever the strings and
// numbers, and indented reports must keep event records one per line.

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "cli/CJsonWriter.h"

namespace kelvane {
namespace {

TEST(CJsonWriter, Strings_EscapeWhatJsonRequiresAndPassUtf8Through)
{
    EXPECT_EQ(CJsonWriter::Escape(""), "\"\"");
    EXPECT_EQ(CJsonWriter::Escape("say \"hi\" C:\\dir/x"), R"("say \"hi\" C:\\dir/x")");
    EXPECT_EQ(CJsonWriter::Escape("a\nb\rc\td\be\ff"), R"("a\nb\rc\td\be\ff")");
    // DEL and the C1 controls (U+0080..U+009F) too: legal raw in JSON, but a
    // report shown with cat must not drive the terminal.
    EXPECT_EQ(CJsonWriter::Escape(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(CJsonWriter::Escape("\xC2\x80\xC2\x9B" "2J\xC2\x9F\xC2\xA0"), "\"\\u0080\\u009b2J\\u009f\xC2\xA0\"");
    EXPECT_EQ(CJsonWriter::Escape(std::string("nul\0x", 5)), "\"nul\\u0000x\"");
    const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x8E\xB5";
    EXPECT_EQ(CJsonWriter::Escape(utf8), "\"" + utf8 + "\"");
}

TEST(CJsonWriter, MalformedUtf8_BecomesReplacementCharacters)
{
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(CJsonWriter::Escape("Side \xE9.wav"), "\"Side " + fffd + ".wav\"");  // Latin-1 name
    EXPECT_EQ(CJsonWriter::Escape("x\xE2\x82"), "\"x" + fffd + fffd + "\"");       // cut short
    EXPECT_EQ(CJsonWriter::Escape("\xC0\xAF"), "\"" + fffd + fffd + "\"");           // overlong '/'
    EXPECT_EQ(CJsonWriter::Escape("\xED\xA0\x80"), "\"" + fffd + fffd + fffd + "\"");  // surrogate
    EXPECT_EQ(CJsonWriter::Escape("\xF4\x90\x80\x80"), "\"" + fffd + fffd + fffd + fffd + "\"");  // > U+10FFFF
    EXPECT_EQ(CJsonWriter::Escape("\xF4\x8F\xBF\xBF"), "\"\xF4\x8F\xBF\xBF\"");  // U+10FFFF itself is fine
}

TEST(CJsonWriter, Numbers_ExactIntegersAndRoundTrippingDoubles)
{
    std::ostringstream out;
    CJsonWriter w(out, CJsonWriter::Style::Compact);
    w.BeginArray()
        .Int(std::numeric_limits<int64_t>::min())
        .Int(std::numeric_limits<int64_t>::max())
        .UInt(std::numeric_limits<uint64_t>::max())
        .Int(-2147483647 - 1)
        .Int(0)
        .EndArray();
    EXPECT_EQ(out.str(), "[-9223372036854775808,9223372036854775807,18446744073709551615,-2147483648,0]\n");

    EXPECT_EQ(CJsonWriter::FormatDouble(0.1), "0.1");
    EXPECT_EQ(CJsonWriter::FormatDouble(2.0), "2.0");
    EXPECT_EQ(CJsonWriter::FormatDouble(-0.0), "-0.0");
    EXPECT_EQ(CJsonWriter::FormatDouble(-1.5), "-1.5");
    EXPECT_EQ(CJsonWriter::FormatDouble(std::nan("")), "null");
    EXPECT_EQ(CJsonWriter::FormatDouble(std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(CJsonWriter::FormatDouble(-std::numeric_limits<double>::infinity()), "null");
    for (double v : {1.0 / 3.0, 1e300, 1e21, 123456789012345678.0, 5e-324, DBL_MAX, -2.5e-8}) {
        std::string text = CJsonWriter::FormatDouble(v);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
        EXPECT_EQ(text.find_first_not_of("0123456789.e+-"), std::string::npos) << text;
    }
}

TEST(CJsonWriter, Compact_NestsWithoutWhitespace)
{
    std::ostringstream out;
    CJsonWriter w(out, CJsonWriter::Style::Compact);
    w.BeginObject()
        .Key("file").String("a \"b\".wav")
        .Key("ok").Bool(true)
        .Key("gain").Double(0.5)
        .Key("none").Null()
        .Key("empty").BeginArray().EndArray()
        .Key("nested").BeginObject().Key("x").BeginArray().Int(1).BeginObject().EndObject().EndArray().EndObject()
        .EndObject();
    EXPECT_TRUE(w.Complete());
    EXPECT_EQ(out.str(),
              R"({"file":"a \"b\".wav","ok":true,"gain":0.5,"none":null,"empty":[],"nested":{"x":[1,{}]}})"
              "\n");
}

TEST(CJsonWriter, Indented_EventRecordsOnePerLine)
{
    std::ostringstream out;
    CJsonWriter w(out);
    w.BeginObject().Key("source").String("side A.wav").Key("events").BeginArray();
    for (int i = 0; i < 3; ++i) {
        w.BeginArray();
        for (int k = 0; k < 5; ++k) w.Int(i * 10 + k);
        w.EndArray();
    }
    w.EndArray();
    w.Key("tracks").BeginArray().BeginObject().Key("start").Int(0).Key("tags").BeginArray().EndArray().EndObject();
    w.EndArray();
    w.Key("empty").BeginObject().EndObject();
    w.EndObject();
    EXPECT_EQ(out.str(),
              "{\n"
              "  \"source\": \"side A.wav\",\n"
              "  \"events\": [\n"
              "    [0, 1, 2, 3, 4],\n"
              "    [10, 11, 12, 13, 14],\n"
              "    [20, 21, 22, 23, 24]\n"
              "  ],\n"
              "  \"tracks\": [\n"
              "    {\n"
              "      \"start\": 0,\n"
              "      \"tags\": []\n"
              "    }\n"
              "  ],\n"
              "  \"empty\": {}\n"
              "}\n");
}

TEST(CJsonWriter, Indented_LongOrMixedArraysGoOneElementPerLine)
{
    std::ostringstream out;
    CJsonWriter w(out);
    w.BeginArray();
    for (int i = 0; i < 9; ++i) w.Int(i);  // one more than fits a line
    w.EndArray();
    w.BeginArray().Int(1).String("two").BeginArray().Int(3).EndArray().EndArray();
    w.BeginArray().String(std::string(70, 'x')).EndArray();
    EXPECT_EQ(out.str(),
              "[\n  0,\n  1,\n  2,\n  3,\n  4,\n  5,\n  6,\n  7,\n  8\n]\n"
              "[\n  1,\n  \"two\",\n  [3]\n]\n"
              "[\n  \"" + std::string(70, 'x') + "\"\n]\n");
}

TEST(CJsonWriter, Misuse_IsRefusedBeforeBadOutput)
{
    std::ostringstream out;
    {
        CJsonWriter w(out);
        w.BeginObject();
        EXPECT_THROW(w.Int(1), std::logic_error);  // value without a key
        EXPECT_THROW(w.EndArray(), std::logic_error);
        w.Key("a");
        EXPECT_THROW(w.Key("b"), std::logic_error);
        EXPECT_THROW(w.EndObject(), std::logic_error);  // key without a value
        w.Int(1).EndObject();
        EXPECT_TRUE(w.Complete());
        EXPECT_THROW(w.EndObject(), std::logic_error);
    }
    EXPECT_EQ(out.str(), "{\n  \"a\": 1\n}\n");

    std::ostringstream other;
    CJsonWriter w(other);
    EXPECT_FALSE(w.Complete());
    EXPECT_THROW(w.Key("k"), std::logic_error);
    w.BeginArray();
    EXPECT_THROW(w.Key("k"), std::logic_error);
    EXPECT_FALSE(w.Complete());
}

}  // namespace
}  // namespace kelvane
