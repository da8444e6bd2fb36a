// Saving the tracks from the batch tool: the real executable, run as a child
// process in a private home and TMPDIR, on the demo recording, so names,
// formats, selection and the overwrite rule are checked as a user meets them.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/CliProcess.h"
#include "tests/support/Demo.h"
#include "tests/support/FlacTestFiles.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"


namespace kelvane {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::RunResult;
using test::Tree;

// The demo written once into the input folder; every test runs the tool on it.
class CliExport : public ::testing::Test {
protected:
    test::TempDir input_{"kelvane-exp-in"};
    test::TempDir home_{"kelvane-exp-home"};
    test::TempDir tmp_{"kelvane-exp-tmp"};
    test::TempDir capture_{"kelvane-exp-io"};
    test::TempDir out_{"kelvane-exp-out"};
    fs::path demo_;

    void SetUp() override
    {
        fs::create_directories(home_.path() / "config");
        const test::DemoRecording demo = test::MakeDemoRecording();
        demo_ = input_.file("demo.wav");
        ASSERT_TRUE(test::WriteWav(demo_, demo.Format(), demo.samples));
    }

    RunResult Run(const std::vector<std::string>& args)
    {
        return test::RunCliProcess(args, {home_.path(), home_.path() / "config", tmp_.path(), capture_.path()});
    }

    // A process run on the demo; the input, the input folder and TMPDIR must
    // be as they were afterwards, whatever the run did.
    RunResult Process(const std::vector<std::string>& options)
    {
        std::vector<std::string> args{"--no-settings", "--quiet", "process", demo_.string()};
        args.insert(args.end(), options.begin(), options.end());
        const std::vector<uint8_t> bytes = test::ReadFileBytes(demo_);
        const std::set<std::string> before = Tree(input_.path());
        RunResult r = Run(args);
        EXPECT_TRUE(test::ReadFileBytes(demo_) == bytes) << "the input was changed";
        EXPECT_EQ(Tree(input_.path()), before) << "the input folder was changed";
        EXPECT_TRUE(Tree(tmp_.path()).empty()) << "files were left in TMPDIR";
        return r;
    }
};

std::vector<int32_t> WavSamplesOf(const fs::path& path)
{
    const test::WavContents w = test::ReadWavSamples(path);
    EXPECT_TRUE(w.error.empty()) << path << ": " << w.error;
    return w.samples;
}

TEST_F(CliExport, FlacWavAndSelection_AgreeSampleForSample)
{
    const fs::path flacDir = out_.path() / "new" / "flac";  // made by the run
    RunResult r = Process({"--out", flacDir.string(), "--format", "flac"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::set<std::string> flacNames{"democor01.flac", "democor02.flac", "democor03.flac", "democor04.flac"};
    EXPECT_EQ(Tree(flacDir), flacNames);
    for (const auto& n : flacNames)
        EXPECT_NE(r.out.find("Wrote " + (flacDir / n).string() + "\n"), std::string::npos) << r.out;

    const fs::path wavDir = out_.path() / "wav";
    r = Process({"--out", wavDir.string(), "--format", "wav"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    ASSERT_EQ(Tree(wavDir), (std::set<std::string>{"democor01.wav", "democor02.wav", "democor03.wav",
                                                    "democor04.wav"}));
    for (int t = 1; t <= 4; ++t) {
        const std::string stem = "democor0" + std::to_string(t);
        const std::vector<int32_t> wav = WavSamplesOf(wavDir / (stem + ".wav"));
        EXPECT_GT(wav.size(), 44100u) << stem;
        const test::FlacContents flac = test::DecodeFlac(flacDir / (stem + ".flac"));
        ASSERT_TRUE(flac.ok) << stem << ": " << flac.error;
        EXPECT_TRUE(flac.samples == wav) << stem << ": the FLAC does not hold the WAV's samples";
    }

    // Chosen tracks keep their place-number without consecutive numbering
    // and are cut exactly as in the full save.
    const fs::path someDir = out_.path() / "some";
    r = Process({"--out", someDir.string(), "--format", "wav", "--select", "2,4", "--no-consecutive"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    ASSERT_EQ(Tree(someDir), (std::set<std::string>{"democor02.wav", "democor04.wav"}));
    EXPECT_TRUE(WavSamplesOf(someDir / "democor02.wav") == WavSamplesOf(wavDir / "democor02.wav"));
    EXPECT_TRUE(WavSamplesOf(someDir / "democor04.wav") == WavSamplesOf(wavDir / "democor04.wav"));
}

TEST_F(CliExport, SelectionNumbersConsecutivelyFromTheStartNumber)
{
    const RunResult r =
        Process({"--out", out_.path().string(), "--format", "wav", "--select", "2,4", "--start-number", "7"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(Tree(out_.path()), (std::set<std::string>{"democor07.wav", "democor08.wav"}));
}

TEST_F(CliExport, Ogg_WritesAnOggStream)
{
    const RunResult r = Process({"--out", out_.path().string(), "--format", "ogg", "--select", "1", "--ogg-quality",
                                 "0", "--scale", "-6"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::vector<uint8_t> bytes = test::ReadFileBytes(out_.file("democor01.ogg"));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "OggS");
}

TEST_F(CliExport, Ape_WritesAMonkeysAudioFileAtTheChosenLevel)
{
    const RunResult r = Process({"--out", out_.path().string(), "--format", "ape", "--select", "2", "--ape-level", "0"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(Tree(out_.path()), std::set<std::string>{"democor01.ape"});
    const std::vector<uint8_t> bytes = test::ReadFileBytes(out_.file("democor01.ape"));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "MAC ");
}

TEST_F(CliExport, Resample_ConvertsAFileAndNeverReplacesOneUnasked)
{
    const fs::path out = out_.file("demo48.wav");
    const std::vector<std::string> convert{"--no-settings", "--quiet", "resample", demo_.string(), out.string(),
                                           "--rate", "48000", "--bits", "24", "--dither", "none"};
    RunResult r = Run(convert);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const test::WavContents w = test::ReadWavSamples(out);
    ASSERT_TRUE(w.ok()) << w.error;
    EXPECT_EQ(w.rate, 48000);
    EXPECT_EQ(w.bits, 24);
    EXPECT_EQ(w.channels, 2);
    // 100.5 s of 44100 Hz at 48000 Hz, give or take the filters' rounding.
    EXPECT_NEAR(static_cast<double>(w.samples.size() / 2), 100.5 * 48000, 48.0);

    // An existing output is kept unless --overwrite, and nothing else is left.
    fs::resize_file(out, 100);
    r = Run(convert);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("demo48.wav"), std::string::npos) << r.err;
    EXPECT_EQ(fs::file_size(out), 100u);
    std::vector<std::string> again = convert;
    again.push_back("--overwrite");
    r = Run(again);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_GT(fs::file_size(out), 100u);
    EXPECT_EQ(Tree(out_.path()), std::set<std::string>{"demo48.wav"});

    // A pair of rates the converter cannot do, a missing depth, and the
    // converter's options on a process without --resample are refused.
    const fs::path other = out_.file("other.wav");
    r = Run({"--no-settings", "--quiet", "resample", demo_.string(), other.string(), "--rate", "12345", "--bits", "16"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("is not supported"), std::string::npos) << r.err;
    r = Run({"--no-settings", "resample", demo_.string(), other.string(), "--rate", "48000"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(Process({"--out", out_.path().string(), "--two-pass"}).exitStatus, 2);
    EXPECT_EQ(Process({"--out", out_.path().string(), "--resample", "48000/12"}).exitStatus, 2);
    EXPECT_FALSE(fs::exists(other));
    EXPECT_TRUE(Tree(tmp_.path()).empty());
}

TEST_F(CliExport, ResampleOption_SavesTracksAtTheTargetRateAndDepth)
{
    const RunResult r = Process({"--out", out_.path().string(), "--format", "wav", "--select", "1", "--resample",
                                 "96000/24", "--dither", "plain", "--pdf", "triangular"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(Tree(out_.path()), std::set<std::string>{"democor01.wav"});
    const test::WavContents w = test::ReadWavSamples(out_.file("democor01.wav"));
    ASSERT_TRUE(w.ok()) << w.error;
    EXPECT_EQ(w.rate, 96000);
    EXPECT_EQ(w.bits, 24);
}

TEST_F(CliExport, UnknownTagsInNames_SavedOnlyWithAllowUnknownTags)
{
    const std::vector<std::string> args{"--out", out_.path().string(), "--format", "wav", "--rule", "ARTIST#",
                                        "--select", "1"};
    RunResult r = Process(args);
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_NE(r.err.find("File names include unknown tags. Do you want to continue? -> Cancel"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("--allow-unknown-tags"), std::string::npos) << r.err;
    EXPECT_TRUE(Tree(out_.path()).empty());

    std::vector<std::string> allowed = args;
    allowed.push_back("--allow-unknown-tags");
    r = Process(allowed);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(Tree(out_.path()), std::set<std::string>{"Unknown Artist01.wav"});
}

TEST_F(CliExport, ExistingOutput_KeptWithoutOverwriteReplacedWithIt)
{
    const fs::path existing = out_.file("democor02.flac");
    const std::vector<uint8_t> mine{'m', 'i', 'n', 'e'};
    ASSERT_TRUE(test::WriteFileBytes(existing, mine));

    RunResult r = Process({"--out", out_.path().string()});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find(existing.string()), std::string::npos) << "the existing file is not named:\n" << r.err;
    EXPECT_EQ(r.out.find("Wrote"), std::string::npos);
    EXPECT_TRUE(test::ReadFileBytes(existing) == mine);
    EXPECT_EQ(Tree(out_.path()), std::set<std::string>{"democor02.flac"}) << "nothing else may be written";

    r = Process({"--out", out_.path().string(), "--overwrite"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::vector<uint8_t> now = test::ReadFileBytes(existing);
    ASSERT_GE(now.size(), 4u);
    EXPECT_EQ(std::string(now.begin(), now.begin() + 4), "fLaC");
    EXPECT_EQ(Tree(out_.path()).size(), 4u);
}

TEST_F(CliExport, OutputNamedAsTheInput_IsRefused)
{
    // "INPUT" alone names the first track after the recording, in its folder.
    const RunResult r =
        Process({"--out", input_.path().string(), "--format", "wav", "--rule", "INPUT", "--select", "1", "--overwrite"});
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_NE(r.err.find("must not be overwritten"), std::string::npos) << r.err;
}

TEST_F(CliExport, BadArguments_RefusedBeforeAnythingIsWritten)
{
    const std::string out = out_.path().string();
    const std::vector<std::vector<std::string>> bad{
        {"--out"},
        {"--out", out, "--format", "mp3"},
        {"--out", out, "--format", "external:"},
        {"--out", out, "--select", "0"},
        {"--out", out, "--select", "3-1"},
        {"--out", out, "--select", "1,,2"},
        {"--out", out, "--select", "two"},
        {"--out", out, "--start-number", "0"},
        {"--out", out, "--normalise", "1"},
        {"--out", out, "--scale", "10.5"},
        {"--out", out, "--normalise", "-3", "--scale", "-3"},
        {"--out", out, "--flac-level", "99"},
        {"--out", out, "--ogg-quality", "-1"},
        {"--out", out, "--rule", ""},
        {"--close"},
        {"--out", out, "--ape-level", "4"},
        {"--out", out, "--encoder-command", "%IN"},
        {"--out", out, "--format", "external:x", "--encoder-ext", "a/b"},
    };
    for (const auto& args : bad) {
        const RunResult r = Process(args);
        std::string what;
        for (const auto& a : args) what += a + " ";
        EXPECT_EQ(r.exitStatus, 2) << what << "\n" << r.err;
        EXPECT_NE(r.err.find("Usage:"), std::string::npos) << what;
    }
    // Found only once the tracks are known: the demo has four.
    RunResult r = Process({"--out", out, "--select", "2-5"});
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_NE(r.err.find("track 5"), std::string::npos) << r.err;
    // Encoders that cannot be used are refused before the scan.
    const fs::path plain = capture_.file("not-a-program");
    ASSERT_TRUE(test::WriteFileBytes(plain, {'x'}));
    for (const std::string& format : {std::string("external:kelvane-no-such-encoder"), "external:" + plain.string()}) {
        r = Process({"--out", out, "--format", format});
        EXPECT_EQ(r.exitStatus, 2) << format;
        EXPECT_NE(r.err.find("encoder"), std::string::npos) << r.err;
    }
    const fs::path unknown = capture_.file("unknown-encoder");
    ASSERT_TRUE(test::WriteFileBytes(unknown, {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'}));
    fs::permissions(unknown, fs::perms::owner_all);
    r = Process({"--out", out, "--format", "external:" + unknown.string()});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("--encoder-command"), std::string::npos) << r.err;
    r = Process({"--out", out, "--format", "external:" + unknown.string(), "--encoder-command", "-o %OUT",
                 "--encoder-ext", "x"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("Invalid Parameters entered."), std::string::npos) << r.err;
    EXPECT_TRUE(Tree(out_.path()).empty()) << "a refused run wrote something";
}

// A stand-in encoder that records its arguments NUL-separated next to
// itself and copies the WAV after -i to the path after -o.
fs::path WriteRecordingEncoder(const fs::path& folder)
{
    const fs::path script = folder / "rec enc";
    std::ofstream out(script);
    out << "#!/bin/sh\n"
           "printf '%s\\0' \"$@\" >> \"$(dirname \"$0\")/args.bin\"\n"
           "in=''; o=''\n"
           "while [ $# -gt 0 ]; do case \"$1\" in -i) in=\"$2\"; shift ;; -o) o=\"$2\"; shift ;; esac; shift; done\n"
           "cp \"$in\" \"$o\"\n";
    out.close();
    fs::permissions(script, fs::perms::owner_all);
    return script;
}

std::vector<std::string> SplitNul(const std::string& bytes)
{
    std::vector<std::string> words;
    std::string word;
    for (const char c : bytes) {
        if (c) word += c;
        else words.push_back(std::exchange(word, {}));
    }
    return words;
}

TEST_F(CliExport, ExternalEncoder_GetsEveryValueAsOneArgumentWithoutAShell)
{
    const fs::path encoder = WriteRecordingEncoder(capture_.path());
    const std::string title = "It's \"Live\"; $(touch pwned) `touch pwned2` %OUT";
    const RunResult r = Process({"--out", out_.path().string(), "--format", "external:" + encoder.string(),
                                 "--encoder-command", "-t %T -n %N -a %A -i %IN -o %OUT", "--encoder-ext", ".xyz",
                                 "--title", "2=" + title, "--artist", "Two  Blanks", "--select", "2"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(Tree(out_.path()), std::set<std::string>{"democor01.xyz"}) << "the scratch WAV was left behind";
    const fs::path made = out_.file("democor01.xyz");
    std::vector<std::string> args = SplitNul(ReadText(capture_.file("args.bin")));
    ASSERT_EQ(args.size(), 10u);
    // The encoder writes under the output's name in a private folder beside it.
    const fs::path given = args.back();
    EXPECT_EQ(given.filename(), made.filename());
    EXPECT_EQ(given.parent_path().parent_path(), made.parent_path());
    args.pop_back();
    EXPECT_EQ(args, (std::vector<std::string>{"-t", title, "-n", "1", "-a", "Two  Blanks", "-i", made.string() + ".wav",
                                              "-o"}));
    EXPECT_FALSE(fs::exists(out_.file("pwned")) || fs::exists(input_.file("pwned")) || fs::exists("pwned"));

    // The encoder got exactly the WAV a plain export writes.
    const fs::path wavDir = out_.path() / "wav";
    ASSERT_EQ(Process({"--out", wavDir.string(), "--format", "wav", "--select", "2"}).exitStatus, 0);
    EXPECT_TRUE(test::ReadFileBytes(made) == test::ReadFileBytes(wavDir / "democor01.wav"));
}

TEST_F(CliExport, NoSplit_SavesTheWholeSideAsOneFile)
{
    const RunResult r = Process({"--out", out_.path().string(), "--format", "wav", "--no-split", "--rule", "INPUT-all"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    ASSERT_EQ(Tree(out_.path()), std::set<std::string>{"demo-all.wav"});
    EXPECT_EQ(WavSamplesOf(out_.file("demo-all.wav")).size(), WavSamplesOf(demo_).size());
}

TEST_F(CliExport, Close_ReplacesTheInputOnlyWhenAskedAndLeavesNoScratchFiles)
{
    const fs::path side = out_.file("side.wav");
    fs::copy_file(demo_, side);
    const std::vector<uint8_t> original = test::ReadFileBytes(side);
    const std::vector<std::string> base{"--no-settings", "--quiet", "process", side.string(), "--out",
                                        out_.path().string(), "--rule", "INPUT", "--no-split", "--format", "wav"};

    std::vector<std::string> args = base;
    args.push_back("--close");
    RunResult r = Run(args);
    EXPECT_EQ(r.exitStatus, 1) << "replacing the input needs --overwrite\n" << r.err;
    EXPECT_TRUE(test::ReadFileBytes(side) == original);

    args = base;
    args.push_back("--overwrite");
    r = Run(args);
    EXPECT_EQ(r.exitStatus, 2) << "without --close the input is never written\n" << r.err;
    EXPECT_TRUE(test::ReadFileBytes(side) == original);

    args.push_back("--close");
    r = Run(args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(Tree(out_.path()), std::set<std::string>{"side.wav"});
    EXPECT_TRUE(Tree(tmp_.path()).empty());
    const std::vector<int32_t> now = WavSamplesOf(side);
    const std::vector<int32_t> before = WavSamplesOf(demo_);
    ASSERT_EQ(now.size(), before.size());
    EXPECT_FALSE(now == before) << "the corrections did not reach the replaced input";
}

TEST_F(CliExport, TwoRunsSavingIntoOneFolder_OneSavesAndTheOtherFailsClearly)
{
    // Two sides of the same name from two albums, saved at the same time.
    const fs::path album1 = input_.path() / "Album1", album2 = input_.path() / "Album2";
    fs::create_directories(album1);
    fs::create_directories(album2);
    fs::copy_file(demo_, album1 / "side.wav");
    fs::copy_file(demo_, album2 / "side.wav");
    test::TempDir capture2{"kelvane-exp-io2"};
    RunResult results[2];
    auto run = [&](int k) {
        const fs::path side = (k == 0 ? album1 : album2) / "side.wav";
        results[k] = test::RunCliProcess({"--no-settings", "--quiet", "process", side.string(), "--out",
                                          out_.path().string(), "--format", "flac"},
                                         {home_.path(), home_.path() / "config", tmp_.path(),
                                          k == 0 ? capture_.path() : capture2.path()});
    };
    std::thread other(run, 1);
    run(0);
    other.join();
    const int ok = (results[0].exitStatus == 0) + (results[1].exitStatus == 0);
    EXPECT_EQ(ok, 1) << results[0].err << "\n---\n" << results[1].err;
    for (const RunResult& r : results) {
        if (r.exitStatus == 0) continue;
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_TRUE(r.err.find("exist already") != std::string::npos ||
                    r.err.find("was created by another program") != std::string::npos)
            << r.err;
    }
    const std::set<std::string> names{"sidecor01.flac", "sidecor02.flac", "sidecor03.flac", "sidecor04.flac"};
    EXPECT_EQ(Tree(out_.path()), names);
    for (const std::string& n : names) {
        const test::FlacContents flac = test::DecodeFlac(out_.file(n));
        EXPECT_TRUE(flac.ok) << n << ": " << flac.error;
    }
}

TEST_F(CliExport, Close_ThroughAnotherNameOfTheInput_IsRefused)
{
    const std::vector<uint8_t> original = test::ReadFileBytes(demo_);
    const fs::path soft = out_.path() / "soft", hard = out_.path() / "hard";
    fs::create_directories(soft);
    fs::create_directories(hard);
    fs::create_symlink(demo_, soft / "demo.wav");
    fs::create_hard_link(demo_, hard / "demo.wav");
    for (const fs::path& folder : {soft, hard}) {
        const RunResult r = Run({"--no-settings", "--quiet", "process", demo_.string(), "--out", folder.string(),
                                 "--rule", "INPUT", "--no-split", "--format", "wav", "--overwrite", "--close"});
        EXPECT_EQ(r.exitStatus, 2) << folder << "\n" << r.err;
        EXPECT_NE(r.err.find("must not be overwritten"), std::string::npos) << r.err;
        EXPECT_TRUE(test::ReadFileBytes(demo_) == original);
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
        EXPECT_EQ(names, std::set<std::string>{"demo.wav"});
    }
    EXPECT_TRUE(fs::is_symlink(soft / "demo.wav"));
}

TEST_F(CliExport, Interrupt_WhileTheEncoderRuns_Exits130AndSaysWhatWasNotWritten)
{
    // An encoder deaf to the interrupt and to SIGTERM, that tells who
    // started it.
    const fs::path marker = capture_.file("encoder-parent");
    const fs::path script = capture_.file("deaf");
    {
        std::ofstream out(script);
        out << "#!/bin/sh\ntrap '' INT TERM\necho $PPID > '" << marker.string() << ".part'\nmv '" << marker.string()
            << ".part' '" << marker.string() << "'\nsleep 60\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    RunResult r;
    std::thread run([&] {
        r = Run({"--no-settings", "--quiet", "process", demo_.string(), "--out", out_.path().string(), "--format",
                 "external:" + script.string(), "--encoder-command", "%IN %OUT", "--encoder-ext", "xyz", "--select",
                 "1"});
    });
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!fs::exists(marker) && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const pid_t cli = static_cast<pid_t>(std::atol(ReadText(marker).c_str()));
    if (cli <= 0) {
        run.join();
        FAIL() << "the encoder never started\n" << r.err;
    }
    const auto interrupted = std::chrono::steady_clock::now();
    ::kill(cli, SIGINT);
    run.join();
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(20));
    EXPECT_EQ(r.exitStatus, 130) << r.err;
    EXPECT_NE(r.err.find("not written: " + out_.file("democor01.xyz").string()), std::string::npos) << r.err;
    EXPECT_TRUE(Tree(out_.path()).empty());
}

TEST_F(CliExport, OutputFolderThatIsAFile_IsReportedWithTheSystemsReason)
{
    const fs::path file = out_.file("plain");
    ASSERT_TRUE(test::WriteFileBytes(file, {'x'}));
    const RunResult r = Process({"--out", file.string(), "--format", "wav"});
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_NE(r.err.find(std::strerror(ENOTDIR)), std::string::npos) << r.err;
    EXPECT_EQ(test::ReadFileBytes(file), std::vector<uint8_t>{'x'});
}

}  // namespace
}  // namespace kelvane
