// Names, numbers and tag texts of saved tracks as the batch tool gives them
// for inputs that are not plain WAV files or carry texts that are not UTF-8.

#include "tests/cli/CliProcess.h"
#include "tests/support/Demo.h"
#include "tests/support/FlacTestFiles.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

class CliNaming : public ::testing::Test {
protected:
    test::TempDir input_{"kelvane-name-in"};
    test::TempDir home_{"kelvane-name-home"};
    test::TempDir tmp_{"kelvane-name-tmp"};
    test::TempDir capture_{"kelvane-name-io"};
    test::TempDir out_{"kelvane-name-out"};
    test::DemoRecording demo_ = test::MakeDemoRecording();

    test::RunResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--no-settings", "--quiet"});
        fs::create_directories(home_.path() / "config");
        return test::RunCliProcess(args, {home_.path(), home_.path() / "config", tmp_.path(), capture_.path()});
    }
};

bool Contains(const std::vector<uint8_t>& bytes, const std::string& text)
{
    const std::vector<uint8_t> wanted(text.begin(), text.end());
    return std::search(bytes.begin(), bytes.end(), wanted.begin(), wanted.end()) != bytes.end();
}

TEST_F(CliNaming, FlacInputSavedWholeIsNamedAfterItsBaseNameAndNumberedOne)
{
    // A FLAC input is worked on as "side1.tmp": its base name has no dot, and
    // a track without a number of its own is saved as number 1.
    const fs::path side = input_.file("side1.flac");
    ASSERT_TRUE(test::WriteFlac(side, {}, demo_.samples));
    const test::RunResult r =
        Run({"process", side.string(), "--no-split", "--out", out_.path().string(), "--format", "flac"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    ASSERT_EQ(test::Tree(out_.path()), std::set<std::string>{"side1cor01.flac"});
    const test::FlacContents saved = test::DecodeFlac(out_.file("side1cor01.flac"));
    ASSERT_TRUE(saved.ok) << saved.error;
    EXPECT_EQ(saved.comment("TITLE"), "side1");
    EXPECT_EQ(saved.comment("TRACKNUMBER"), "1");
}

TEST_F(CliNaming, Latin1TitlesAreSavedAsUtf8InFlacAndOgg)
{
    const fs::path side = input_.file("demo.wav");
    ASSERT_TRUE(test::WriteWav(side, demo_.Format(), demo_.samples));
    for (const char* format : {"flac", "ogg"}) {
        const test::RunResult r = Run({"process", side.string(), "--title", "1=Caf\xE9", "--select", "1", "--out",
                                       out_.path().string(), "--format", format});
        ASSERT_EQ(r.exitStatus, 0) << format << ": " << r.err;
    }
    const test::FlacContents flac = test::DecodeFlac(out_.file("democor01.flac"));
    ASSERT_TRUE(flac.ok) << flac.error;
    EXPECT_EQ(flac.comment("TITLE"), "Caf\xC3\xA9");
    // Vorbis comments are stored as plain bytes in the second header packet.
    EXPECT_TRUE(Contains(test::ReadFileBytes(out_.file("democor01.ogg")), "Title=Caf\xC3\xA9"));
}

}  // namespace
}  // namespace kelvane
