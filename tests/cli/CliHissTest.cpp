// The hiss filter from the batch tool: a tape side processed and saved, the
// profile taken from a given span, the filter applied and removed after a
// vinyl processing, and the refusals of spans that cannot be a profile.

#include <filesystem>
#include <string>
#include <vector>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include "tests/cli/CliProcess.h"
#include "tests/filters/FilterTestDoc.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;

class CliHiss : public ::testing::Test {
protected:
    test::TempDir input_{"kelvane-hiss-in"};
    test::TempDir home_{"kelvane-hiss-home"};
    test::TempDir tmp_{"kelvane-hiss-tmp"};
    test::TempDir capture_{"kelvane-hiss-io"};
    test::TempDir out_{"kelvane-hiss-out"};
    fs::path side_;

    void SetUp() override
    {
        fs::create_directories(home_.path() / "config");
        side_ = input_.file("tape.wav");
        ASSERT_TRUE(test::WriteWav(side_, {}, filtertest::HissThenMusic(30000, 90000, 300)));
    }

    test::RunResult Process(const std::vector<std::string>& options)
    {
        std::vector<std::string> args{"--no-settings", "--quiet", "process", side_.string(), "--no-split",
                                      "--events-json", (out_.path() / "report.json").string()};
        args.insert(args.end(), options.begin(), options.end());
        return test::RunCliProcess(args, {home_.path(), home_.path() / "config", tmp_.path(), capture_.path()});
    }

    QJsonObject Report() const
    {
        return QJsonDocument::fromJson(QByteArray::fromStdString(test::ReadText(out_.path() / "report.json"))).object();
    }
};

TEST_F(CliHiss, ATapeSideIsFilteredReportedAndSaved)
{
    const fs::path dir = out_.path() / "tracks";
    const test::RunResult r = Process({"--source", "tape", "--subtractor", "2", "--out", dir.string(), "--format", "wav"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("Source: tape\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Filters: Hiss Reduction: 14dB\n"), std::string::npos) << r.out;
    const QJsonObject report = Report();
    EXPECT_EQ(report["hissApplied"].toInt(), 2);
    EXPECT_EQ(report["filtersApplied"].toInt(), 1);
    const QJsonObject profile = report["noiseProfile"].toObject();
    ASSERT_EQ(profile["block"].toArray().size(), 2);
    EXPECT_EQ(profile["block"].toArray()[1].toInt() - profile["block"].toArray()[0].toInt(), 8800 * 4);
    EXPECT_EQ(profile["left"].toArray().size(), 256);
    EXPECT_EQ(profile["right"].toArray().size(), 256);

    const test::WavContents saved = test::ReadWavSamples(dir / "tapecor01.wav");
    ASSERT_TRUE(saved.ok()) << saved.error;
    const test::WavContents input = test::ReadWavSamples(side_);
    EXPECT_EQ(saved.samples.size(), input.samples.size());
    EXPECT_NE(saved.samples, input.samples);
}

TEST_F(CliHiss, AGivenProfileSpanIsUsedAndTheFilterCanBeRemovedAgain)
{
    test::RunResult r = Process({"--sensitivity", "0", "--profile", "0.1-0.4", "--hiss", "3"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    QJsonObject report = Report();
    EXPECT_EQ(report["hissApplied"].toInt(), 3);
    const QJsonArray block = report["noiseProfile"].toObject()["block"].toArray();
    EXPECT_EQ(block[0].toInt(), 44 + 4410 * 4);
    EXPECT_EQ(block[1].toInt(), 44 + 17640 * 4);

    r = Process({"--sensitivity", "0", "--hiss", "1", "--remove-hiss"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    report = Report();
    EXPECT_EQ(report["filtersApplied"].toInt(), 0);
    EXPECT_EQ(report["hissApplied"].toInt(), 0);
}

TEST_F(CliHiss, SpansThatCannotBeAProfileAreRefused)
{
    for (const char* span : {"2-1", "1.5", "a-b", "1-1"}) {
        const test::RunResult r = Process({"--profile", span});
        EXPECT_EQ(r.exitStatus, 2) << span;
        EXPECT_NE(r.err.find("--profile"), std::string::npos) << r.err;
    }
    const test::RunResult r = Process({"--source", "tape", "--profile", "0.5-0.505"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("The selected block is too short to measure a Noise Profile."), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out_.path() / "report.json"));
}

}  // namespace
}  // namespace kelvane
