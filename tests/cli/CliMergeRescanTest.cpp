// Merge and the correction edits from the batch tool: the real executable
// in a private home and TMPDIR, on stretches of the demo recording, so the
// merged file, the re-scans and the removal of a block's corrections are
// checked as a user meets them (files, report, exit status).

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/cli/CliProcess.h"
#include "tests/support/Demo.h"
#include "tests/support/FlacTestFiles.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using test::RunResult;
using test::Tree;

constexpr int kRate = 44100;

struct Record {
    int pass, reserved, pos, width, mag;
};

class CliMergeRescan : public ::testing::Test {
protected:
    test::TempDir input_{"kelvane-mrg-in"};
    test::TempDir home_{"kelvane-mrg-home"};
    test::TempDir tmp_{"kelvane-mrg-tmp"};
    test::TempDir capture_{"kelvane-mrg-io"};
    test::TempDir out_{"kelvane-mrg-out"};
    static inline test::DemoRecording demo_;

    static void SetUpTestSuite() { demo_ = test::MakeDemoRecording(); }

    void SetUp() override { fs::create_directories(home_.path() / "config"); }

    // Frames [from, to) of the demo, at 16 bits or widened to 24 (with low
    // bits of their own, so that a merge that dropped them would show).
    std::vector<int32_t> Stretch(size_t from, size_t to, int bits) const
    {
        std::vector<int32_t> s(demo_.samples.begin() + static_cast<ptrdiff_t>(2 * from),
                               demo_.samples.begin() + static_cast<ptrdiff_t>(2 * to));
        if (bits == 24)
            for (size_t i = 0; i < s.size(); ++i) s[i] = s[i] * 256 + static_cast<int32_t>((i * 37) % 256) - 128;
        return s;
    }

    fs::path Write(const std::string& name, const std::vector<int32_t>& samples, int bits = 16, int rate = kRate)
    {
        test::WavOptions o;
        o.bits = bits;
        o.sampleRate = rate;
        const fs::path p = input_.file(name);
        EXPECT_TRUE(test::WriteWav(p, o, samples));
        return p;
    }

    RunResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--no-settings", "--quiet"});
        return test::RunCliProcess(args, {home_.path(), home_.path() / "config", tmp_.path(), capture_.path()});
    }

    QJsonObject Report(const fs::path& path) const
    {
        return QJsonDocument::fromJson(QByteArray::fromStdString(test::ReadText(path))).object();
    }

    static std::vector<Record> Records(const QJsonObject& report)
    {
        std::vector<Record> list;
        for (const QJsonValue& v : report.value("events").toArray()) {
            const QJsonArray a = v.toArray();
            list.push_back({a[0].toInt(), a[1].toInt(), a[2].toInt(), a[3].toInt(), a[4].toInt()});
        }
        return list;
    }

    static std::vector<Record> Corrections(const QJsonObject& report)
    {
        std::vector<Record> list = Records(report);
        std::erase_if(list, [](const Record& r) { return r.width < 0 || r.pos == 0; });
        return list;
    }

    static std::vector<int32_t> Samples(const fs::path& path)
    {
        const test::WavContents w = test::ReadWavSamples(path);
        EXPECT_TRUE(w.ok()) << path << ": " << w.error;
        return w.samples;
    }
};

TEST_F(CliMergeRescan, Merge16Bit_TheWholeRoadToTaggedFiles)
{
    const size_t cut = 30 * kRate, end = 60 * kRate;
    const std::vector<int32_t> first = Stretch(0, cut, 16), second = Stretch(cut, end, 16);
    const fs::path a = Write("side-a.wav", first), b = Write("side-b.wav", second);
    const fs::path merged = out_.file("joined.wav"), tracks = out_.path() / "tracks";
    const RunResult r = Run({"merge", a.string(), b.string(), "-o", merged.string(), "--events-json",
                             out_.file("report.json").string(), "--out", tracks.string(), "--album", "Both Sides",
                             "--artist", "The Band", "--title", "1=Opening"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;

    // The merged file stays, holding the second input right after the first.
    std::vector<int32_t> both = first;
    both.insert(both.end(), second.begin(), second.end());
    const std::vector<int32_t> joined = Samples(merged);
    EXPECT_EQ(joined.size(), both.size());
    EXPECT_TRUE(joined == both) << "the merged file is not the inputs end to end";
    EXPECT_EQ(fs::file_size(merged), 44 + 2 * both.size());
    EXPECT_TRUE(fs::exists(a) && fs::exists(b)) << "inputs deleted without --delete-inputs";

    const QJsonObject report = Report(out_.file("report.json"));
    EXPECT_EQ(report.value("dataEnd").toInt() - report.value("dataStart").toInt(), static_cast<int>(2 * both.size()));
    EXPECT_EQ(report.value("maxPass").toInt(), 1);
    EXPECT_FALSE(Corrections(report).empty());

    // Tagged tracks named after the merged file.
    const test::FlacContents one = test::DecodeFlac(tracks / "joinedcor01.flac");
    ASSERT_TRUE(one.ok) << one.error << "\n" << r.out;
    EXPECT_EQ(one.comment("ALBUM"), "Both Sides");
    EXPECT_EQ(one.comment("ARTIST"), "The Band");
    EXPECT_EQ(one.comment("TITLE"), "Opening");
    EXPECT_TRUE(Tree(tmp_.path()).empty()) << "files were left in TMPDIR";
}

TEST_F(CliMergeRescan, Merge24Bit_KeepsEveryBitAndDeletesTheInputsWhenAsked)
{
    const size_t cut = 12 * kRate, end = 25 * kRate;
    const std::vector<int32_t> first = Stretch(0, cut, 24), second = Stretch(cut, end, 24);
    const fs::path a = Write("a24.wav", first, 24), b = Write("b24.wav", second, 24);
    const fs::path merged = out_.file("m24.wav");
    const RunResult r = Run({"merge", a.string(), b.string(), "-o", merged.string(), "--sensitivity", "0",
                             "--no-split", "--corrected", out_.file("corrected.wav").string(), "--delete-inputs"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::vector<int32_t> both = first;
    both.insert(both.end(), second.begin(), second.end());
    const test::WavContents m = test::ReadWavSamples(merged);
    ASSERT_TRUE(m.ok()) << m.error;
    EXPECT_EQ(m.bits, 24);
    EXPECT_TRUE(m.samples == both);
    // No scan: the corrected recording is the merged one.
    EXPECT_TRUE(Samples(out_.file("corrected.wav")) == both);
    EXPECT_FALSE(fs::exists(a));
    EXPECT_FALSE(fs::exists(b));
}

TEST_F(CliMergeRescan, MergeRefusals_WriteNothingAndKeepTheInputs)
{
    const std::vector<int32_t> s = Stretch(0, 3 * kRate, 16);
    const fs::path a = Write("a.wav", s), b = Write("b.wav", s);
    const fs::path at48 = Write("c48.wav", s, 16, 48000), deep = Write("d24.wav", Stretch(0, 3 * kRate, 24), 24);
    const std::set<std::string> inputs = Tree(input_.path());
    const fs::path merged = out_.file("m.wav");
    const std::string badFormat = "Incorrect Wave File Format or sample rates do not match.";
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"merge", a.string(), at48.string(), "-o", merged.string()}, badFormat},
        {{"merge", a.string(), deep.string(), "-o", merged.string()}, badFormat},
        {{"merge", a.string(), input_.file("missing.wav").string(), "-o", merged.string()}, "Unable to open a file"},
        {{"merge", a.string(), b.string(), "-o", b.string()},
         "The merged name is invalid because it is the same as one of the files to be merged"},
        {{"merge", a.string(), b.string(), "-o", merged.string(), "--events-json", a.string()},
         "is one of the files to merge"},
        {{"merge", a.string(), "-o", merged.string()}, "merge needs at least two files"},
        {{"merge", a.string(), b.string()}, "merge needs -o MERGED.wav"},
        {{"process", a.string(), "-o", merged.string()}, "-o belongs to merge"},
        {{"merge", a.string(), b.string(), "-o", merged.string(), "--rescan-agc", "2"},
         "the --rescan-... options belong to --rescan or --super-scan"},
    };
    for (const Case& c : cases) {
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.exitStatus, 2) << c.says << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(merged)) << c.says;
        EXPECT_EQ(Tree(input_.path()), inputs) << c.says;
    }
    EXPECT_TRUE(Samples(a) == s);

    // An existing merged file is replaced only with --overwrite.
    ASSERT_TRUE(test::WriteFileBytes(merged, {1, 2, 3}));
    RunResult r = Run({"merge", a.string(), b.string(), "-o", merged.string(), "--sensitivity", "0", "--no-split"});
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_EQ(fs::file_size(merged), 3u);
    r = Run({"merge", a.string(), b.string(), "-o", merged.string(), "--sensitivity", "0", "--no-split", "--overwrite"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(Samples(merged).size(), 2 * s.size());
}

TEST_F(CliMergeRescan, SuperScanAddsLayersAndRescanStartsAgain)
{
    const std::vector<int32_t> s = Stretch(0, 40 * kRate, 16);
    const fs::path side = Write("side.wav", s);
    const auto process = [&](std::vector<std::string> options, const std::string& report) {
        std::vector<std::string> args{"process", side.string(), "--sensitivity", "3", "--events-json",
                                      out_.file(report).string()};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = Run(args);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return Report(out_.file(report));
    };
    const QJsonObject plain = process({}, "plain.json");
    const QJsonObject super = process({"--super-scan", "2", "--rescan-sensitivity", "5"}, "super.json");
    EXPECT_EQ(plain.value("maxPass").toInt(), 1);
    EXPECT_EQ(super.value("maxPass").toInt(), 3);
    const std::vector<Record> before = Corrections(plain), after = Corrections(super);
    std::set<int> passes;
    for (const Record& c : after) passes.insert(c.pass);
    EXPECT_TRUE(passes.count(2) == 1 && passes.count(3) == 1) << "no records of the further scans";
    EXPECT_GT(after.size(), before.size());
    // Every first-scan correction is still there; equal positions were
    // combined, never listed twice.
    const std::vector<Record> all = Records(super);
    for (size_t i = 1; i < all.size(); ++i) {
        if (all[i].pos != 0 && all[i - 1].pos != 0 && all[i].width >= 0 && all[i - 1].width >= 0) {
            EXPECT_LT(all[i - 1].pos, all[i].pos) << "at " << i;
        }
    }
    for (const Record& c : before)
        EXPECT_TRUE(std::any_of(after.begin(), after.end(), [&](const Record& x) { return x.pos == c.pos; }))
            << "lost the correction at " << c.pos;

    // A re-scan that finds nothing puts the original back bit for bit.
    const RunResult r = Run({"process", side.string(), "--rescan", "--rescan-sensitivity", "0", "--no-split",
                             "--corrected", out_.file("restored.wav").string(), "--events-json",
                             out_.file("rescan.json").string()});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(Corrections(Report(out_.file("rescan.json"))).empty());
    EXPECT_TRUE(Samples(out_.file("restored.wav")) == s);
}

TEST_F(CliMergeRescan, RemoveCorrections_ClearsTheBlockInSecondsOrFrames)
{
    const std::vector<int32_t> s = Stretch(0, 40 * kRate, 16);
    const fs::path side = Write("side.wav", s);
    const auto removal = [&](const std::string& block, const std::string& tag) {
        const RunResult r = Run({"process", side.string(), "--no-split", "--remove-corrections", block, "--corrected",
                                 out_.file(tag + ".wav").string(), "--events-json", out_.file(tag + ".json").string()});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return Report(out_.file(tag + ".json"));
    };
    const QJsonObject seconds = removal("10-20", "s");
    const QJsonObject frames = removal("441000f-882000f", "f");
    const int dataStart = seconds.value("dataStart").toInt();
    const auto inBlock = [&](const Record& c) { return c.pos >= dataStart + 4 * 441000 && c.pos <= dataStart + 4 * 882000; };
    const std::vector<Record> kept = Corrections(seconds);
    EXPECT_FALSE(kept.empty());
    EXPECT_TRUE(std::none_of(kept.begin(), kept.end(), inBlock));
    EXPECT_EQ(test::ReadText(out_.file("s.json")), test::ReadText(out_.file("f.json")));
    // The block is the original again, away from its edges where the
    // corrections outside reach in.
    const std::vector<int32_t> corrected = Samples(out_.file("s.wav"));
    ASSERT_EQ(corrected.size(), s.size());
    const size_t from = 2 * (10 * kRate + 2000), to = 2 * (20 * kRate - 2000);
    EXPECT_TRUE(std::equal(s.begin() + from, s.begin() + to, corrected.begin() + from));

    const RunResult late = Run({"process", side.string(), "--remove-corrections", "50-60"});
    EXPECT_EQ(late.exitStatus, 2);
    EXPECT_NE(late.err.find("after the end of the recording"), std::string::npos) << late.err;
    const RunResult backwards = Run({"process", side.string(), "--remove-corrections", "20-10"});
    EXPECT_EQ(backwards.exitStatus, 2);
}

}  // namespace
}  // namespace kelvane
