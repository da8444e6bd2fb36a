// The batch tool's conversion into a file of the user's: written under a
// partial name and moved into place, never over its own input, and over
// another file only when that was confirmed.

#include "output/CResampler.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/ToneFit.h"
#include "tests/support/WavWriter.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

ResampleSettings To(int rate, int bits)
{
    ResampleSettings s;
    s.rate = rate;
    s.bits = bits;
    return s;
}

std::vector<std::string> FolderNames(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Resampler, ResampleToFile_NeverReplacesItsInputOrAnUnconfirmedFile)
{
    test::TempDir dir("kelvane-resample");
    test::WavOptions mono;
    mono.sampleRate = 48000;
    mono.channels = 1;
    const fs::path in = dir.file("in.wav");
    ASSERT_TRUE(test::WriteWav(in, mono, test::ToneSamples({1000}, 0.5, 4800, 48000, 16, 1)));
    const std::vector<uint8_t> original = test::ReadFileBytes(in);
    test::ScriptedInteraction ui;
    ui.AllowOkBoxes(true);
    const ResampleRun run{&ui, nullptr, {}};
    EXPECT_EQ(ResampleToFile(in.string(), in.string(), To(44100, 16), run, true), ResampleStatus::Refused);
    EXPECT_EQ(test::ReadFileBytes(in), original);

    const fs::path out = dir.file("out.wav");
    ASSERT_TRUE(test::WriteFileBytes(out, {1, 2, 3}));
    EXPECT_EQ(ResampleToFile(in.string(), out.string(), To(44100, 16), run, false), ResampleStatus::Failed);
    EXPECT_EQ(test::ReadFileBytes(out), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(ResampleToFile(in.string(), out.string(), To(44100, 16), run, true), ResampleStatus::Done);
    EXPECT_EQ(test::ReadWavSamples(out).samples.size(), 4410u);
    EXPECT_EQ(FolderNames(dir.path()), (std::vector<std::string>{"in.wav", "out.wav"}));

    // Through a link the file it leads to gets the result; the link stays.
    const fs::path real = dir.file("real.wav");
    const fs::path link = dir.file("link.wav");
    ASSERT_TRUE(test::WriteFileBytes(real, {9}));
    fs::create_symlink(real, link);
    EXPECT_EQ(ResampleToFile(in.string(), link.string(), To(44100, 16), run, true), ResampleStatus::Done);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_EQ(test::ReadWavSamples(real).samples.size(), 4410u);
}

}  // namespace
}  // namespace kelvane
