// The batch tool as its users meet it: the real executable, run as a child
// process with a private home, configuration folder and temporary folder, so
// no run can touch the settings or scratch files of the person running the
// tests, and every file the tool leaves anywhere can be seen.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <cerrno>
#include <regex>
#include <atomic>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <gtest/gtest.h>

#include "document/CImporter.h"
#include "cli/TerminalText.h"
#include "document/WavHeader.h"
#include "settings/QtSettingsStore.h"
#include "settings/SettingsStore.h"
#include "tests/support/ApeTestFiles.h"
#include "tests/support/Demo.h"
#include "tests/support/FlacTestFiles.h"
#include "tests/support/Signals.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"


namespace kelvane {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::RunResult;
using test::Tree;

// A file's bytes; nothing for a folder or a missing file.
std::vector<uint8_t> BytesOf(const fs::path& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec) ? test::ReadFileBytes(path) : std::vector<uint8_t>{};
}

std::string Join(const std::set<std::string>& names)
{
    std::string s;
    for (const auto& n : names) s += (s.empty() ? "" : ", ") + n;
    return s.empty() ? "(nothing)" : s;
}

std::vector<int32_t> ShortMusic(size_t frames, int sampleRate = 44100, int bits = 16)
{
    test::MusicStyle style;
    style.seed = 7;
    style.sampleRate = sampleRate;
    std::vector<int32_t> samples = test::Music(style, frames);
    // Clicks in the music give the declicker something to find later on.
    for (int i = 1; i <= 4; ++i) test::AddClick(samples, 2, frames * i / 5, 6, 12000, test::kBoth, 100 + i);
    if (bits == 24)
        for (int32_t& s : samples) s *= 256;
    return samples;
}

std::vector<int32_t> MonoOf(const std::vector<int32_t>& stereo)
{
    std::vector<int32_t> mono;
    for (size_t i = 0; i < stereo.size(); i += 2) mono.push_back(stereo[i]);
    return mono;
}

QJsonObject ParseObject(const std::string& text, std::string& error)
{
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.size())), &pe);
    if (pe.error != QJsonParseError::NoError) {
        error = pe.errorString().toStdString() + " at offset " + std::to_string(pe.offset);
        return {};
    }
    if (!doc.isObject()) {
        error = "not a JSON object";
        return {};
    }
    return doc.object();
}

// A whole-number member, or a failure naming the key.
::testing::AssertionResult IntIs(const QJsonObject& o, const char* key, int64_t want)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble()) return ::testing::AssertionFailure() << "\"" << key << "\" missing or not a number";
    const double d = v.toDouble();
    if (d != static_cast<double>(want))
        return ::testing::AssertionFailure() << "\"" << key << "\" is " << d << ", expected " << want;
    return ::testing::AssertionSuccess();
}

std::string StrOf(const QJsonObject& o, const char* key) { return o.value(QLatin1String(key)).toString().toStdString(); }

// One scratch world per test: the input folder, the child's HOME, its
// configuration folder and its TMPDIR are all separate, so a stray file can
// be traced to the place it was left.
class CliRun : public ::testing::Test {
protected:
    test::TempDir input_{"kelvane-cli-in"};
    test::TempDir home_{"kelvane-cli-home"};
    test::TempDir tmp_{"kelvane-cli-tmp"};
    test::TempDir capture_{"kelvane-cli-io"};
    test::TempDir reports_{"kelvane-cli-out"};

    fs::path ConfigDir() const { return home_.path() / "config"; }
    fs::path IniPath() const
    {
        return ConfigDir() / CQtSettingsStore::kOrganisation / (std::string(CQtSettingsStore::kApplication) + ".ini");
    }

    void SetUp() override { fs::create_directories(ConfigDir()); }

    // watch: a folder whose entries are collected while the child runs,
    // into `seen`, to show where the tool keeps its files meanwhile.
    RunResult Run(const std::vector<std::string>& args, const fs::path* watch = nullptr,
                  std::set<std::string>* seen = nullptr)
    {
        return test::RunCliProcess(args, {home_.path(), ConfigDir(), tmp_.path(), capture_.path()}, watch, seen);
    }

    // What a run left behind: anything new in the input folder, anything at
    // all in the child's TMPDIR.
    void ExpectNothingLeft(const std::set<std::string>& inputBefore, const std::string& what)
    {
        const std::set<std::string> now = Tree(input_.path());
        std::set<std::string> added;
        for (const auto& n : now)
            if (!inputBefore.count(n)) added.insert(n);
        // Any addition counts, not just "~.wav" working files and ".tmp"
        // sources: the folder is the user's.
        EXPECT_TRUE(added.empty()) << what << " left in the input folder: " << Join(added);
        EXPECT_TRUE(Tree(tmp_.path()).empty()) << what << " left in TMPDIR: " << Join(Tree(tmp_.path()));
    }

    // Runs a command on `file` and checks the input's bytes and folder are as
    // they were; returns the run for the caller's own checks.
    RunResult RunOn(const std::vector<std::string>& args, const fs::path& file, const fs::path* watch = nullptr,
                    std::set<std::string>* seen = nullptr)
    {
        const std::set<std::string> before = Tree(input_.path());
        const std::vector<uint8_t> bytes = BytesOf(file);
        RunResult r = Run(args, watch, seen);
        EXPECT_TRUE(BytesOf(file) == bytes) << "the input " << file << " was changed";
        std::string what;
        for (const auto& a : args) what += a + " ";
        ExpectNothingLeft(before, what);
        return r;
    }

    QJsonObject InfoJson(const fs::path& file, RunResult* run = nullptr)
    {
        RunResult r = RunOn({"--no-settings", "info", file.string(), "--json"}, file);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        std::string error;
        QJsonObject o = ParseObject(r.out, error);
        EXPECT_TRUE(error.empty()) << error << "\n" << r.out;
        if (run) *run = std::move(r);
        return o;
    }
};

// --- arguments ---------------------------------------------------------------

TEST_F(CliRun, HelpAndVersion_StdoutAndExitZero)
{
    for (const char* flag : {"--help", "-h"}) {
        SCOPED_TRACE(flag);
        const RunResult r = Run({flag});
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_NE(r.out.find("Usage: kelvane-cli"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("info FILE"), std::string::npos);
        EXPECT_NE(r.out.find("process FILE"), std::string::npos);
        EXPECT_NE(r.out.find("--events-json"), std::string::npos);
        EXPECT_NE(r.out.find("--no-settings"), std::string::npos);
        EXPECT_EQ(r.err, "");
    }
    // Help wins over whatever else is on the line, even a bad command.
    const RunResult mixed = Run({"frobnicate", "--help"});
    EXPECT_EQ(mixed.exitStatus, 0);
    EXPECT_NE(mixed.out.find("Usage:"), std::string::npos);

    const RunResult v = Run({"--version"});
    EXPECT_EQ(v.exitStatus, 0);
    EXPECT_EQ(v.out, std::string("kelvane-cli ") + KELVANE_VERSION + "\n");
    EXPECT_EQ(v.err, "");
}

TEST_F(CliRun, BadArguments_ExitTwoWithReasonOnStderr)
{
    const fs::path wav = input_.file("a.wav");
    ASSERT_TRUE(test::WriteWav(wav, {}, test::Sine(440, 8000, 44100)));
    struct Case {
        std::vector<std::string> args;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {{"--frobnicate", "info", wav.string()}, "unknown option --frobnicate"},
        {{"info", wav.string(), "-x"}, "unknown option -x"},
        {{}, "no command given"},
        {{"--quiet"}, "no command given"},
        {{"info"}, "info needs a FILE"},
        {{"process"}, "process needs a FILE"},
        {{"convert", wav.string()}, "unknown command convert"},
        {{"info", wav.string(), "extra"}, "unexpected argument extra"},
        {{"process", wav.string(), "--events-json"}, "--events-json needs a file name"},
        {{"info", wav.string(), "--events-json", reports_.file("r.json").string()}, "--events-json belongs to process"},
        {{"process", wav.string(), "--json"}, "--json belongs to info"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        const RunResult r = RunOn(c.args, wav);
        EXPECT_EQ(r.exitStatus, 2);
        EXPECT_NE(r.err.find("kelvane-cli: " + c.reason), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Usage:"), std::string::npos) << "the usage should follow the reason";
        EXPECT_EQ(r.out, "");
    }
    // A refused command line opens no settings store at all.
    EXPECT_TRUE(Tree(ConfigDir()).empty()) << Join(Tree(ConfigDir()));
    EXPECT_TRUE(Tree(reports_.path()).empty());
}

// --- info --------------------------------------------------------------------

TEST_F(CliRun, InfoJson_WavLayoutsAndFormats)
{
    struct Case {
        const char* name;
        test::WavOptions opts;
        size_t frames;
        int64_t dataStart;
        int64_t trailer;
    };
    test::WavOptions cd;
    test::WavOptions hiRes;
    hiRes.sampleRate = 96000;
    hiRes.bits = 24;
    test::WavOptions odd;  // a chunk of 2 bytes before the audio, and a tail after it
    odd.sampleRate = 48000;
    odd.chunksBetween = {{"fact", "ab"}};
    odd.chunksAfterData = {{"LIST", "0123456789"}};
    const std::vector<Case> cases = {
        {"cd.wav", cd, 44100 * 2 + 17, 44, 0},
        {"hires.wav", hiRes, 96000 + 5, 44, 0},
        {"ODD.WAV", odd, 48000, 54, 18},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = input_.file(c.name);
        ASSERT_TRUE(test::WriteWav(file, c.opts, ShortMusic(c.frames, c.opts.sampleRate, c.opts.bits)));
        RunResult run;
        const QJsonObject o = InfoJson(file, &run);
        EXPECT_TRUE(IntIs(o, "sourceKind", 0));
        EXPECT_TRUE(IntIs(o, "sampleRate", c.opts.sampleRate));
        EXPECT_TRUE(IntIs(o, "bitsPerSample", c.opts.bits));
        EXPECT_TRUE(IntIs(o, "dataStart", c.dataStart));
        // Positions count four bytes per frame whatever the sample size.
        EXPECT_TRUE(IntIs(o, "dataEnd", c.dataStart + 4 * static_cast<int64_t>(c.frames)));
        EXPECT_TRUE(IntIs(o, "dataAlign", c.dataStart % 4));
        EXPECT_TRUE(IntIs(o, "trailerBytes", c.trailer));
        EXPECT_NEAR(o.value("durationSeconds").toDouble(-1), static_cast<double>(c.frames) / c.opts.sampleRate, 1e-6);
        const QJsonObject tags = o.value("tags").toObject();
        for (const char* key : {"title", "artist", "album", "genre", "track"}) {
            EXPECT_TRUE(tags.value(QLatin1String(key)).isString()) << key;
            EXPECT_EQ(StrOf(tags, key), "") << key;
        }
        EXPECT_EQ(run.err, "") << "a sound WAV needs no message";
    }
}

TEST_F(CliRun, InfoJson_MonoWavIsWidenedToStereo)
{
    const size_t frames = 30000;
    for (int rate : {44100, 48000}) {
        SCOPED_TRACE(rate);
        test::WavOptions mono;
        mono.channels = 1;
        mono.sampleRate = rate;
        const fs::path file = input_.file("mono" + std::to_string(rate) + ".wav");
        ASSERT_TRUE(test::WriteWav(file, mono, MonoOf(ShortMusic(frames, rate))));
        const QJsonObject o = InfoJson(file);
        EXPECT_TRUE(IntIs(o, "sourceKind", 4));
        EXPECT_TRUE(IntIs(o, "sampleRate", rate));
        EXPECT_TRUE(IntIs(o, "bitsPerSample", 16));
        EXPECT_TRUE(IntIs(o, "dataStart", 44));
        EXPECT_TRUE(IntIs(o, "dataEnd", 44 + 4 * static_cast<int64_t>(frames)));
        EXPECT_TRUE(IntIs(o, "trailerBytes", 0));
        EXPECT_NEAR(o.value("durationSeconds").toDouble(), static_cast<double>(frames) / rate, 1e-6);
    }
}

TEST_F(CliRun, InfoJsonAndText_FlacKindFormatAndTags)
{
    const size_t frames = 40000;
    test::FlacOptions flac;
    flac.comments = {{"TITLE", "Night Train"}, {"artist", "The Sleepers"}, {"ALBUM", "Ölmühle \"Live\""},
                     {"GENRE", "Blues"},       {"TRACKNUMBER", "3"},       {"COMMENT", "not a listed tag"}};
    const fs::path file = input_.file("side.flac");
    ASSERT_TRUE(test::WriteFlac(file, flac, ShortMusic(frames)));

    const QJsonObject o = InfoJson(file);
    EXPECT_TRUE(IntIs(o, "sourceKind", 2));
    EXPECT_TRUE(IntIs(o, "sampleRate", 44100));
    EXPECT_TRUE(IntIs(o, "bitsPerSample", 16));
    EXPECT_TRUE(IntIs(o, "dataStart", 44));
    EXPECT_TRUE(IntIs(o, "dataEnd", 44 + 4 * static_cast<int64_t>(frames)));
    EXPECT_TRUE(IntIs(o, "dataAlign", 0));
    EXPECT_TRUE(IntIs(o, "trailerBytes", 0));
    EXPECT_NEAR(o.value("durationSeconds").toDouble(), frames / 44100.0, 1e-6);
    const QJsonObject tags = o.value("tags").toObject();
    EXPECT_EQ(StrOf(tags, "title"), "Night Train");
    EXPECT_EQ(StrOf(tags, "artist"), "The Sleepers");
    EXPECT_EQ(StrOf(tags, "album"), "Ölmühle \"Live\"");  // escaping and UTF-8 survive
    EXPECT_EQ(StrOf(tags, "genre"), "Blues");
    EXPECT_EQ(StrOf(tags, "track"), "3");

    // The plain form tells the same facts.
    const RunResult text = RunOn({"--no-settings", "info", file.string()}, file);
    EXPECT_EQ(text.exitStatus, 0) << text.err;
    for (const std::string& pattern :
         {std::string(R"(Source kind:\s+2 \(FLAC\))"), std::string(R"(Sample rate:\s+44100 Hz)"),
          std::string(R"(Bits:\s+16\n)"), std::string(R"(dataStart:\s+44\n)"),
          R"(dataEnd:\s+)" + std::to_string(44 + 4 * frames) + "\n", std::string(R"(trailerBytes:\s+0\n)"),
          std::string(R"(Duration:\s+0\.907 s)"), std::string(R"(Title:\s+Night Train\n)"),
          std::string(R"(Artist:\s+The Sleepers\n)"), std::string(R"(Album:\s+Ölmühle "Live"\n)"),
          std::string(R"(Genre:\s+Blues\n)"), std::string(R"(Track:\s+3\n)")}) {
        EXPECT_TRUE(std::regex_search(text.out, std::regex(pattern))) << pattern << " not in:\n" << text.out;
    }

    // A 24-bit 48 kHz FLAC is described as such.
    test::FlacOptions deep;
    deep.bits = 24;
    deep.sampleRate = 48000;
    const fs::path deepFile = input_.file("deep.flac");
    ASSERT_TRUE(test::WriteFlac(deepFile, deep, ShortMusic(frames, 48000, 24)));
    const QJsonObject d = InfoJson(deepFile);
    EXPECT_TRUE(IntIs(d, "sourceKind", 2));
    EXPECT_TRUE(IntIs(d, "sampleRate", 48000));
    EXPECT_TRUE(IntIs(d, "bitsPerSample", 24));
    EXPECT_TRUE(IntIs(d, "dataEnd", 44 + 4 * static_cast<int64_t>(frames)));
}

TEST_F(CliRun, InfoJsonAndText_ApeKindFormatAndTags)
{
    if (!test::JmacAvailable()) GTEST_SKIP() << "needs " << test::kJmacPath << " (Debian package libjmac-java)";
    const int64_t frames = 30000;
    const fs::path wav = capture_.file("ape-source.wav");
    ASSERT_TRUE(test::WriteApeSourceWav(wav, 44100, 16, 2, test::MakeApeTestSignal(16, 2, frames, 11)));
    const fs::path ape = input_.file("side.ape");
    std::string error;
    ASSERT_TRUE(test::EncodeApeWithJmac(wav, ape, 2, &error)) << error;
    ASSERT_TRUE(test::AppendApeV2Tag(ape, {{"Title", "Morning"},
                                           {"Artist", "Quartet"},
                                           {"Album", "Rooms"},
                                           {"Genre", "Jazz"},
                                           {"Track", "12"}}));

    const QJsonObject o = InfoJson(ape);
    EXPECT_TRUE(IntIs(o, "sourceKind", 1));
    EXPECT_TRUE(IntIs(o, "sampleRate", 44100));
    EXPECT_TRUE(IntIs(o, "bitsPerSample", 16));
    EXPECT_TRUE(IntIs(o, "dataStart", 44));
    EXPECT_TRUE(IntIs(o, "dataEnd", 44 + 4 * frames));
    EXPECT_TRUE(IntIs(o, "trailerBytes", 0));
    EXPECT_NEAR(o.value("durationSeconds").toDouble(), frames / 44100.0, 1e-6);
    const QJsonObject tags = o.value("tags").toObject();
    EXPECT_EQ(StrOf(tags, "title"), "Morning");
    EXPECT_EQ(StrOf(tags, "artist"), "Quartet");
    EXPECT_EQ(StrOf(tags, "album"), "Rooms");
    EXPECT_EQ(StrOf(tags, "genre"), "Jazz");
    EXPECT_EQ(StrOf(tags, "track"), "12");

    const RunResult text = RunOn({"--no-settings", "info", ape.string()}, ape);
    EXPECT_EQ(text.exitStatus, 0) << text.err;
    EXPECT_TRUE(std::regex_search(text.out, std::regex(R"(Source kind:\s+1 \(Monkey's Audio\))"))) << text.out;
    EXPECT_TRUE(std::regex_search(text.out, std::regex(R"(Track:\s+12\n)"))) << text.out;
}

TEST_F(CliRun, Info_ZeroDataSizeIsRepairedWithANotice)
{
    const std::string notice = std::string("kelvane: ") + kMsgRepair + "\n";
    const size_t frames = 20000;

    test::WavOptions stereo;
    stereo.dataSizeOverride = 0;
    const fs::path file = input_.file("zero.wav");
    ASSERT_TRUE(test::WriteWav(file, stereo, ShortMusic(frames)));
    RunResult r;
    const QJsonObject o = InfoJson(file, &r);
    EXPECT_NE(r.err.find(notice), std::string::npos) << r.err;
    EXPECT_TRUE(IntIs(o, "dataEnd", 44 + 4 * static_cast<int64_t>(frames))) << "the audio runs to the end of the file";

    test::WavOptions mono;
    mono.channels = 1;
    mono.dataSizeOverride = 0;
    const fs::path monoFile = input_.file("zeromono.wav");
    ASSERT_TRUE(test::WriteWav(monoFile, mono, MonoOf(ShortMusic(frames))));
    RunResult m;
    const QJsonObject mo = InfoJson(monoFile, &m);
    EXPECT_NE(m.err.find(notice), std::string::npos) << m.err;
    EXPECT_TRUE(IntIs(mo, "sourceKind", 4));
    EXPECT_TRUE(IntIs(mo, "dataEnd", 44 + 4 * static_cast<int64_t>(frames)));
}

// --- refused input -----------------------------------------------------------

TEST_F(CliRun, RefusedInput_ExitTwoExactMessageNothingLeft)
{
    const std::string badFormat = std::string("kelvane: ") + kMsgBadFormat + "\n";
    const auto music = ShortMusic(20000);
    struct Case {
        std::string name;
        std::string message;  // expected on stderr
    };
    std::vector<Case> cases;

    test::WavOptions lowMono;
    lowMono.channels = 1;
    lowMono.sampleRate = 22050;
    ASSERT_TRUE(test::WriteWav(input_.file("low-mono.wav"), lowMono, MonoOf(music)));
    cases.push_back({"low-mono.wav", badFormat});

    test::WavOptions rate32;
    rate32.sampleRate = 32000;
    ASSERT_TRUE(test::WriteWav(input_.file("rate32.wav"), rate32, music));
    cases.push_back({"rate32.wav", badFormat});

    test::WavOptions eightBit;
    eightBit.bits = 8;
    std::vector<int32_t> small(music.size());
    for (size_t i = 0; i < music.size(); ++i) small[i] = music[i] / 256;
    ASSERT_TRUE(test::WriteWav(input_.file("eight.wav"), eightBit, small));
    cases.push_back({"eight.wav", badFormat});

    ASSERT_TRUE(test::WriteWav(input_.file("x.wave"), {}, music));
    cases.push_back({"x.wave", std::string("kelvane: ") + kMsgNotSupported + "\n"});

    cases.push_back({"missing.wav", "kelvane: The file \"" + input_.file("missing.wav").string() + "\" cannot be found.\n"});

    fs::create_directory(input_.file("folder.wav"));
    cases.push_back({"folder.wav", "kelvane: \"" + input_.file("folder.wav").string() + "\" is a folder, not an audio file.\n"});

    ASSERT_TRUE(test::WriteFileBytes(input_.file("empty.wav"), {}));
    cases.push_back({"empty.wav", badFormat + "The file is not a readable WAV file"});

    test::WavOptions cut;
    cut.truncateAt = 44 + 4000;
    ASSERT_TRUE(test::WriteWav(input_.file("cut.wav"), cut, music));
    cases.push_back({"cut.wav", "kelvane: The file is truncated: its \"data\" chunk declares 80000 bytes but only 4000 follow.\n"});

    test::FlacOptions monoFlac;
    monoFlac.channels = 1;
    ASSERT_TRUE(test::WriteFlac(input_.file("mono.flac"), monoFlac, MonoOf(music)));
    cases.push_back({"mono.flac", badFormat});

    // A WAV under a FLAC name. Which complaint ends the run depends on what
    // the decoder makes of the bytes; what matters is the refusal, and no
    // half-made temporary source beside it.
    ASSERT_TRUE(test::WriteWav(input_.file("renamed.flac"), {}, music));
    cases.push_back({"renamed.flac", "kelvane: "});

    ASSERT_TRUE(test::WriteFileBytes(input_.file("junk.ape"), std::vector<uint8_t>(5000, 0x5A)));
    cases.push_back({"junk.ape", "kelvane: Error opening APE file."});

    for (const Case& c : cases) {
        const fs::path file = input_.file(c.name);
        for (const char* command : {"info", "process"}) {
            SCOPED_TRACE(c.name + " " + command);
            std::vector<std::string> args{"--quiet", command, file.string()};
            if (std::string(command) == "process") {
                args.push_back("--events-json");
                args.push_back(reports_.file("r.json").string());
            }
            const RunResult r = RunOn(args, file);
            EXPECT_EQ(r.exitStatus, 2) << r.err;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << "stderr:\n" << r.err;
            EXPECT_EQ(r.out, "");
        }
    }
    EXPECT_TRUE(Tree(reports_.path()).empty()) << "a refused input gets no report: " << Join(Tree(reports_.path()));
}

// --- process -----------------------------------------------------------------

struct EventsReport {
    QJsonObject o;
    std::string error;
};

EventsReport ReadEvents(const fs::path& path)
{
    EventsReport r;
    r.o = ParseObject(ReadText(path), r.error);
    return r;
}

// The shape every report has, whatever the recording.
void ExpectReportShape(const QJsonObject& o, int sampleRate, int bits, int64_t dataStart, int64_t dataEnd,
                       int64_t trailer)
{
    EXPECT_TRUE(IntIs(o, "sampleRate", sampleRate));
    EXPECT_TRUE(IntIs(o, "bitsPerSample", bits));
    EXPECT_TRUE(IntIs(o, "dataStart", dataStart));
    EXPECT_TRUE(IntIs(o, "dataEnd", dataEnd));
    EXPECT_TRUE(IntIs(o, "dataAlign", dataStart % 4));
    EXPECT_TRUE(IntIs(o, "status", 5)) << "a finished processing leaves the recording \"Ready to Save\"";
    ASSERT_TRUE(o.value("events").isArray());
    for (const QJsonValue& e : o.value("events").toArray()) {
        ASSERT_TRUE(e.isArray());
        EXPECT_EQ(e.toArray().size(), 5);
    }
    ASSERT_TRUE(o.value("tracks").isArray());
    for (const QJsonValue& t : o.value("tracks").toArray()) {
        ASSERT_TRUE(t.isArray());
        ASSERT_EQ(t.toArray().size(), 2);
        EXPECT_LE(t.toArray()[0].toInteger(), t.toArray()[1].toInteger());
    }
    ASSERT_TRUE(o.value("blockLevel").isArray());
    const QJsonArray levels = o.value("blockLevel").toArray();
    EXPECT_EQ(levels.size(), (dataEnd + trailer) / 4096 + 1);
    bool heard = false;
    for (const QJsonValue& v : levels) {
        EXPECT_TRUE(v.isDouble());
        EXPECT_GE(v.toInteger(), 0);
        heard = heard || v.toInteger() > 0;
    }
    EXPECT_TRUE(heard) << "music must show in the block levels";
}

void ExpectSummary(const RunResult& r, const fs::path& file)
{
    EXPECT_NE(r.out.find(file.string() + ": Ready to Save, "), std::string::npos) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\nClicks corrected: \d+\n)"))) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\nTracks: \d+\n)"))) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\nTime taken: [0-9.]+ s \([0-9]+x real time\)\n)"))) << r.out;
}

TEST_F(CliRun, Process_ShortRecordingsOfEachKindGiveSummaryAndReport)
{
    const size_t frames = 44100 * 3 + 123;
    const auto music = ShortMusic(frames);
    struct Case {
        std::string name;
        int64_t dataStart;
        int64_t trailer;
    };
    test::WavOptions tail;
    tail.chunksBetween = {{"fact", "ab"}};
    tail.chunksAfterData = {{"LIST", "0123456789"}};
    ASSERT_TRUE(test::WriteWav(input_.file("plain.wav"), {}, music));
    ASSERT_TRUE(test::WriteWav(input_.file("tail.wav"), tail, music));
    test::WavOptions mono;
    mono.channels = 1;
    ASSERT_TRUE(test::WriteWav(input_.file("mono.wav"), mono, MonoOf(music)));
    ASSERT_TRUE(test::WriteFlac(input_.file("side.flac"), {}, music));
    const std::vector<Case> cases = {
        {"plain.wav", 44, 0}, {"tail.wav", 54, 18}, {"mono.wav", 44, 0}, {"side.flac", 44, 0}};

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = input_.file(c.name);
        const fs::path out = reports_.file(c.name + ".json");
        const RunResult r = RunOn({"--no-settings", "--quiet", "process", file.string(), "--events-json", out.string()}, file);
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.signal, 0);
        ExpectSummary(r, file);
        const EventsReport rep = ReadEvents(out);
        ASSERT_TRUE(rep.error.empty()) << rep.error;
        ExpectReportShape(rep.o, 44100, 16, c.dataStart, c.dataStart + 4 * static_cast<int64_t>(frames), c.trailer);
    }

    // Without --events-json the summary alone is printed and nothing written.
    const fs::path plain = input_.file("plain.wav");
    const RunResult bare = RunOn({"--no-settings", "process", plain.string()}, plain);
    EXPECT_EQ(bare.exitStatus, 0) << bare.err;
    ExpectSummary(bare, plain);
}

TEST_F(CliRun, Process_DemoRecordingReport)
{
    const test::DemoRecording demo = test::MakeDemoRecording();
    const fs::path file = input_.file("demo.wav");
    ASSERT_TRUE(test::WriteWav(file, demo.Format(), demo.samples));
    const fs::path out = reports_.file("demo.json");
    std::set<std::string> seen;
    const RunResult r = RunOn({"--no-settings", "--quiet", "process", file.string(), "--events-json", out.string()},
                              file, &tmp_.path(), &seen);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    // The working copy did live in TMPDIR while the recording was processed,
    // so the empty TMPDIR afterwards means it was cleaned up.
    EXPECT_TRUE(seen.count("demo~.wav")) << "seen in TMPDIR: " << Join(seen);
    ExpectSummary(r, file);
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(Ready to Save, 44100 Hz, 16 bits, 100\.5 s)"))) << r.out;
    const EventsReport rep = ReadEvents(out);
    ASSERT_TRUE(rep.error.empty()) << rep.error;
    ExpectReportShape(rep.o, 44100, 16, 44, 44 + 4 * static_cast<int64_t>(demo.Frames()), 0);

    // The music is louder than the surface noise between the tracks.
    const QJsonArray levels = rep.o.value("blockLevel").toArray();
    auto blockOf = [](size_t frame) { return static_cast<qsizetype>((44 + 4 * static_cast<int64_t>(frame)) / 4096); };
    const test::DemoTrack& first = demo.tracks.front();
    const qsizetype mid = blockOf((first.startFrame + first.endFrame) / 2);
    const qsizetype gap = blockOf(first.startFrame / 2);
    EXPECT_GT(levels[mid].toInteger(), levels[gap].toInteger());
}

TEST_F(CliRun, Process_DemoIsDividedIntoItsTracksAndItsClicksCorrected)
{
    const test::DemoRecording demo = test::MakeDemoRecording();
    const fs::path file = input_.file("demo.wav");
    ASSERT_TRUE(test::WriteWav(file, demo.Format(), demo.samples));
    const fs::path out = reports_.file("demo.json");
    const fs::path corrected = reports_.file("demo-corrected.wav");
    const RunResult r = RunOn({"--no-settings", "--quiet", "process", file.string(), "--events-json", out.string(),
                               "--corrected", corrected.string()},
                              file);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("Tracks: 4\n"), std::string::npos) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n   1  0:00\.\d{3} - 0:2\d\.\d{3}  \(0:2\d\.\d{3}\)  )"))) << r.out;
    const EventsReport rep = ReadEvents(out);
    ASSERT_TRUE(rep.error.empty()) << rep.error;
    const QJsonArray tracks = rep.o.value("tracks").toArray();
    ASSERT_EQ(tracks.size(), static_cast<qsizetype>(demo.tracks.size()));
    for (qsizetype t = 0; t < tracks.size(); ++t) {
        // Each found track holds its piece of music: it starts before the
        // music (the lead-in) and ends after it (the tail), within 2 s.
        const double start = (tracks[t].toArray()[0].toInteger() - 44) / 4 / 44100.0;
        const double end = (tracks[t].toArray()[1].toInteger() - 44) / 4 / 44100.0;
        const double musicStart = demo.tracks[static_cast<size_t>(t)].startFrame / 44100.0;
        const double musicEnd = demo.tracks[static_cast<size_t>(t)].endFrame / 44100.0;
        EXPECT_LE(start, musicStart) << t;
        EXPECT_GT(start, musicStart - 2.0) << t;
        EXPECT_GE(end, musicEnd - 0.5) << t;
        EXPECT_LT(end, musicEnd + 2.0) << t;
    }
    // The corrected recording is a complete WAV of the same length, and
    // differs from the input only near clicks.
    const auto in = test::ReadWavSamples(file);
    const auto fixed = test::ReadWavSamples(corrected);
    ASSERT_TRUE(fixed.ok()) << fixed.error;
    ASSERT_EQ(fixed.samples.size(), in.samples.size());
    EXPECT_NE(fixed.samples, in.samples);

    const RunResult whole = RunOn({"--no-settings", "--quiet", "process", file.string(), "--no-split"}, file);
    ASSERT_EQ(whole.exitStatus, 0) << whole.err;
    // Without the finder only the whole-recording element exists.
    EXPECT_NE(whole.out.find("Tracks: 0\n"), std::string::npos) << whole.out;
    const RunResult four = RunOn({"--no-settings", "--quiet", "process", file.string(), "--tracks", "4"}, file);
    ASSERT_EQ(four.exitStatus, 0) << four.err;
    EXPECT_NE(four.out.find("Tracks: 4\n"), std::string::npos) << four.out;
    EXPECT_EQ(four.err.find("could not be found"), std::string::npos) << four.err;
    const RunResult nine = RunOn({"--no-settings", "--quiet", "process", file.string(), "--tracks", "9"}, file);
    ASSERT_EQ(nine.exitStatus, 0) << nine.err;
    EXPECT_NE(nine.err.find("The target number of tracks could not be found"), std::string::npos) << nine.err;
    EXPECT_EQ(RunOn({"--no-settings", "process", file.string(), "--tracks", "31"}, file).exitStatus, 2);
}

TEST_F(CliRun, Process_TrackTextsAndTimingsAreStoredLikeTheDialogStoresThem)
{
    const test::DemoRecording demo = test::MakeDemoRecording();
    const fs::path file = input_.file("demo.wav");
    ASSERT_TRUE(test::WriteWav(file, demo.Format(), demo.samples));
    const fs::path out = reports_.file("demo.json");
    const RunResult r = RunOn({"--no-settings", "--quiet", "process", file.string(), "--events-json", out.string(),
                               "--artist", "  The Band ", "--album", "Live", "--genre", "Jazz", "--title",
                               "2=Second Song", "--pre-silence", "2.5", "--fade-in", "0.7", "--title", "9=Nobody"},
                              file);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("there is no track 9"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Second Song\n"), std::string::npos) << r.out;
    const EventsReport rep = ReadEvents(out);
    ASSERT_TRUE(rep.error.empty()) << rep.error;
    const QJsonArray info = rep.o.value("trackInfo").toArray();
    ASSERT_EQ(info.size(), 4);
    for (qsizetype t = 0; t < info.size(); ++t) {
        const QJsonObject o = info[t].toObject();
        EXPECT_EQ(o.value("artist").toString().toStdString(), "The Band") << t;  // trimmed
        EXPECT_EQ(o.value("album").toString().toStdString(), "Live") << t;
        EXPECT_EQ(o.value("genre").toString().toStdString(), "Jazz") << t;
        EXPECT_EQ(o.value("preSilence").toInteger(), 441000) << t;
        EXPECT_EQ(o.value("fadeIn").toInteger(), 123479) << t;
        EXPECT_EQ(o.value("fadeOut").toInteger(), 0) << t;
    }
    EXPECT_EQ(info[1].toObject().value("title").toString().toStdString(), "Second Song");
    for (const char* bad : {"-1", "2,5", "abc", ""})
        EXPECT_EQ(RunOn({"--no-settings", "process", file.string(), "--fade-out", bad}, file).exitStatus, 2) << bad;
    EXPECT_EQ(RunOn({"--no-settings", "process", file.string(), "--title", "x=y"}, file).exitStatus, 2);
}

// Naming the recording itself (or another path to it) as --events-json OUT
// once truncated it and wrote JSON over the user's audio; such a command line
// is refused (exit 2) before processing and the recording stays untouched.
TEST_F(CliRun, Process_ReportOverTheInputIsRefusedAndTheRecordingKept)
{
    const fs::path file = input_.file("keep.wav");
    ASSERT_TRUE(test::WriteWav(file, {}, ShortMusic(44100)));
    const std::vector<uint8_t> original = test::ReadFileBytes(file);
    for (const fs::path& out : {file, input_.path() / "." / "keep.wav"}) {
        SCOPED_TRACE(out.string());
        const RunResult r = Run({"--no-settings", "--quiet", "process", file.string(), "--events-json", out.string()});
        EXPECT_EQ(r.exitStatus, 2) << r.err;
        EXPECT_FALSE(r.err.empty()) << "the refusal needs a reason";
        if (test::ReadFileBytes(file) != original) {
            ADD_FAILURE() << "the source recording was overwritten";
            ASSERT_TRUE(test::WriteFileBytes(file, original));
        }
    }
}

// The temporary source of a FLAC, APE or mono input is named after it with
// ".tmp" in place of the extension, and the working file (when kept beside
// the input) with "~.wav"; a file of the user's that already had that name
// was once truncated, overwritten and finally deleted without a word. The run
// leaves it alone and takes the first free name instead.
TEST_F(CliRun, Import_UsersFileWithTheScratchNameIsKept)
{
    {
        CQtSettingsStore store(IniPath().string());
        store.Set(settings::TempMode, settings::kTempModeSameFolder);
    }
    const auto music = ShortMusic(20000);
    test::WavOptions mono;
    mono.channels = 1;
    ASSERT_TRUE(test::WriteWav(input_.file("m.wav"), mono, MonoOf(music)));
    ASSERT_TRUE(test::WriteFlac(input_.file("f.flac"), {}, music));
    ASSERT_TRUE(test::WriteWav(input_.file("s.wav"), {}, music));
    const std::vector<uint8_t> notes{'m', 'y', ' ', 'n', 'o', 't', 'e', 's', '\n'};
    struct Case {
        const char* input;
        const char* bystander;
    };
    for (const Case& c : {Case{"m.wav", "m.tmp"}, Case{"f.flac", "f.tmp"}, Case{"s.wav", "s~.wav"}}) {
        SCOPED_TRACE(c.input);
        const fs::path bystander = input_.file(c.bystander);
        ASSERT_TRUE(test::WriteFileBytes(bystander, notes));
        const fs::path file = input_.file(c.input);
        const RunResult r = RunOn({"--quiet", "info", file.string()}, file);
        EXPECT_TRUE(r.exitStatus == 0 || !r.err.empty()) << "a refusal needs a reason";
        EXPECT_TRUE(test::ReadFileBytes(bystander) == notes) << c.bystander << " was overwritten or deleted";
    }
}

// --- where the report and the corrected recording go ------------------------

// Reads a FIFO while the tool runs. Opened before the tool starts, without
// blocking, so a tool that never opens the FIFO cannot hang the test.
class FifoReader {
public:
    explicit FifoReader(const fs::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
    {
        if (fd_ >= 0) thread_ = std::thread([this] { Read(); });
    }
    ~FifoReader() { Finish(); }
    bool Opened() const { return fd_ >= 0; }
    // What came through, once the tool has ended.
    std::string Finish()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return text_;
    }

private:
    void Read()
    {
        char buffer[65536];
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, 20);
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                text_.append(buffer, static_cast<size_t>(n));
                continue;
            }
            // A writer came and went: the end. Without one, only the stop.
            if ((n == 0 && (p.revents & POLLHUP)) || stop_) return;
        }
    }

    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::string text_;
};

// The names in a folder, links left unfollowed (one leads to our stdout).
std::set<std::string> Names(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

bool IsJsonReport(const std::string& text)
{
    std::string error;
    const QJsonObject o = ParseObject(text, error);
    return error.empty() && o.contains("events") && o.contains("tracks");
}

TEST_F(CliRun, ReportTargets_StandardOutputFifoAndLinksAreWrittenThroughNotReplaced)
{
    const fs::path file = input_.file("a.wav");
    ASSERT_TRUE(test::WriteWav(file, {}, ShortMusic(44100)));
    const std::vector<std::string> base{"--no-settings", "--quiet", "process", file.string()};
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> args = base;
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };

    // "-" and a link to /proc/self/fd/1 (as /dev/stdout is; that one is left
    // alone, lest a faulty build replace it): the report alone on standard
    // output, the summary on standard error.
    const fs::path toStdout = reports_.file("stdout.json");
    fs::create_symlink("/proc/self/fd/1", toStdout);
    for (const std::string& name : {std::string("-"), toStdout.string()}) {
        SCOPED_TRACE(name);
        const RunResult r = RunOn(with({"--events-json", name}), file);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_TRUE(IsJsonReport(r.out)) << r.out.substr(0, 300);
        EXPECT_NE(r.err.find("Clicks corrected:"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(fs::is_symlink(toStdout));
    EXPECT_FALSE(fs::exists(fs::symlink_status("-"))) << "a file named - was made";

    // The corrected recording on standard output: the whole WAV.
    const RunResult wav = RunOn(with({"--corrected", "-"}), file);
    EXPECT_EQ(wav.exitStatus, 0) << wav.err;
    EXPECT_EQ(wav.out.size(), fs::file_size(file));
    EXPECT_EQ(wav.out.substr(0, 4), "RIFF");
    const RunResult both = RunOn(with({"--events-json", "-", "--corrected", toStdout.string()}), file);
    EXPECT_EQ(both.exitStatus, 2);
    EXPECT_NE(both.err.find("name the same file"), std::string::npos) << both.err;

    // A FIFO is written through and stays a FIFO.
    const fs::path fifo = reports_.file("pipe.json");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    FifoReader reader(fifo);
    ASSERT_TRUE(reader.Opened());
    const RunResult piped = RunOn(with({"--events-json", fifo.string()}), file);
    const std::string through = reader.Finish();
    EXPECT_EQ(piped.exitStatus, 0) << piped.err;
    EXPECT_TRUE(IsJsonReport(through)) << through.substr(0, 300);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo))) << "the FIFO was replaced";

    // A link to a regular file: the file gets the new content, the link stays.
    const fs::path real = reports_.file("real.json");
    const fs::path link = reports_.file("link.json");
    ASSERT_TRUE(test::WriteFileBytes(real, {'o', 'l', 'd'}));
    fs::create_symlink("real.json", link);
    const RunResult linked = RunOn(with({"--events-json", link.string()}), file);
    EXPECT_EQ(linked.exitStatus, 0) << linked.err;
    EXPECT_TRUE(fs::is_symlink(link)) << "the link was replaced by a file";
    EXPECT_TRUE(IsJsonReport(ReadText(real)));
    EXPECT_TRUE((Names(reports_.path()) == std::set<std::string>{"stdout.json", "pipe.json", "real.json", "link.json"}))
        << Join(Names(reports_.path()));
}

TEST_F(CliRun, ReportTargets_DevicesAreWrittenThroughAndBadTargetsRefusedBeforeTheWork)
{
    const fs::path file = input_.file("a.wav");
    ASSERT_TRUE(test::WriteWav(file, {}, ShortMusic(44100)));
    // Device nodes of our own where the system allows it, so that nothing
    // under /dev is ever at stake; else the system's, which an ordinary user
    // cannot replace anyway.
    fs::path null = reports_.file("null"), full = reports_.file("full");
    if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 || ::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        null = "/dev/null";
        full = "/dev/full";
    }
    const RunResult toNull = RunOn({"--no-settings", "--quiet", "process", file.string(), "--corrected", null.string()}, file);
    EXPECT_EQ(toNull.exitStatus, 0) << toNull.err;
    const RunResult toFull = RunOn({"--no-settings", "--quiet", "process", file.string(), "--events-json", full.string()}, file);
    EXPECT_EQ(toFull.exitStatus, 1);
    EXPECT_NE(toFull.err.find("cannot write " + full.string() + ": No space left on device"), std::string::npos) << toFull.err;
    for (const fs::path& device : {null, full})
        EXPECT_TRUE(fs::is_character_file(fs::symlink_status(device))) << device << " was replaced";

    // Refused with exit 2 before any work: no summary, nothing made.
    fs::create_symlink("nowhere.json", reports_.file("dangling.json"));
    fs::create_directory(reports_.file("folder.json"));
    const std::set<std::string> before = Tree(reports_.path());
    struct Case {
        fs::path out;
        std::string reason;
    };
    for (const Case& c : {Case{reports_.file("dangling.json"), "is a symbolic link to a file that does not exist"},
                          Case{reports_.file("folder.json"), "is a folder"},
                          Case{reports_.file("no-such-folder") / "r.json", "does not exist"}}) {
        SCOPED_TRACE(c.out.string());
        const RunResult r = RunOn({"--no-settings", "--quiet", "process", file.string(), "--events-json", c.out.string()}, file);
        EXPECT_EQ(r.exitStatus, 2);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(Tree(reports_.path()) == before) << Join(Tree(reports_.path()));
}

TEST_F(CliRun, ReportTargets_TheRunsOwnScratchFilesAreRefusedBeforeTheWork)
{
    const auto music = ShortMusic(44100);
    ASSERT_TRUE(test::WriteFlac(input_.file("f.flac"), {}, music));
    ASSERT_TRUE(test::WriteWav(input_.file("s.wav"), {}, music));
    test::WavOptions mono;
    mono.channels = 1;
    ASSERT_TRUE(test::WriteWav(input_.file("m.wav"), mono, MonoOf(music)));
    struct Case {
        const char* input;
        fs::path out;  // the name a scratch file of the run would have
    };
    // The decoded copy and the working copy, both kept in TMPDIR by default;
    // the mono input's decoded copy is only known once the file is read.
    const std::vector<Case> cases = {{"f.flac", tmp_.file("f.tmp")}, {"f.flac", tmp_.file("f~.wav")},
                                     {"s.wav", tmp_.file("s~.wav")}, {"m.wav", tmp_.file("m.tmp")},
                                     {"m.wav", tmp_.file("m~.wav")}};
    for (const Case& c : cases) {
        for (const char* option : {"--corrected", "--events-json"}) {
            SCOPED_TRACE(std::string(c.input) + " " + option + " " + c.out.string());
            const fs::path file = input_.file(c.input);
            const RunResult r = RunOn({"--no-settings", "--quiet", "process", file.string(), option, c.out.string()}, file);
            EXPECT_EQ(r.exitStatus, 2) << r.err;
            EXPECT_NE(r.err.find("scratch file"), std::string::npos) << r.err;
            EXPECT_EQ(r.out, "") << "the work was done before the refusal";
        }
    }
    // Beside the input when the settings keep the working copy there.
    {
        CQtSettingsStore store(IniPath().string());
        store.Set(settings::TempMode, settings::kTempModeSameFolder);
    }
    const fs::path file = input_.file("s.wav");
    const RunResult r = RunOn({"--quiet", "process", file.string(), "--corrected", input_.file("s~.wav").string()}, file);
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_FALSE(fs::exists(input_.file("s~.wav")));
}

// --- text from files on the terminal ----------------------------------------

TEST_F(CliRun, TerminalOutput_TagsTitlesAndNamesCannotDriveTheTerminal)
{
    // Set the window title, clear the screen, CSI as a C1 control.
    const std::string hostile = "Evil\x1b]0;owned\x07\x1b[2J\xC2\x9B" "31m\x7f end";
    test::FlacOptions flac;
    flac.comments = {{"TITLE", hostile}, {"ARTIST", hostile}, {"ALBUM", "Fine \xC3\x96l"}};
    const fs::path file = input_.file("side.flac");
    ASSERT_TRUE(test::WriteFlac(file, flac, ShortMusic(44100)));

    const RunResult info = RunOn({"--no-settings", "info", file.string()}, file);
    EXPECT_EQ(info.exitStatus, 0) << info.err;
    EXPECT_EQ(Printable(info.out, true), info.out) << info.out;
    EXPECT_NE(info.out.find("Title:          Evil\\x1b]0;owned\\x07\\x1b[2J\\u009b31m\\x7f end\n"), std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("Fine \xC3\x96l"), std::string::npos) << "UTF-8 text must stay as it is";
    const RunResult json = RunOn({"--no-settings", "info", file.string(), "--json"}, file);
    EXPECT_EQ(Printable(json.out, true), json.out) << json.out;

    // The track table, and a file name in the core's messages.
    const RunResult table =
        RunOn({"--no-settings", "--quiet", "process", file.string(), "--tracks", "2", "--title", "2=" + hostile}, file);
    EXPECT_EQ(table.exitStatus, 0) << table.err;
    EXPECT_EQ(Printable(table.out, true), table.out) << table.out;
    EXPECT_NE(table.out.find("\\x1b]0;owned"), std::string::npos) << table.out;
    const std::string missing = (input_.path() / ("gone\x1b[2J.wav")).string();
    const RunResult gone = Run({"--no-settings", "info", missing});
    EXPECT_EQ(gone.exitStatus, 2);
    EXPECT_EQ(Printable(gone.err, true), gone.err) << gone.err;
    EXPECT_NE(gone.err.find("gone\\x1b[2J.wav"), std::string::npos) << gone.err;

    // A scratch file that an ended run left, named after a hostile title,
    // is removed and named on stderr as an escape.
    const fs::path left = input_.file("Evil\x1b[2J01.flac.kelvane-partial-ab12");
    ASSERT_TRUE(test::WriteFileBytes(left, {1}));
    fs::last_write_time(left, fs::file_time_type::clock::now() - std::chrono::hours(1));
    const RunResult reclaimed = RunOn({"--no-settings", "info", file.string()}, file);
    EXPECT_EQ(reclaimed.exitStatus, 0) << reclaimed.err;
    EXPECT_FALSE(fs::exists(left));
    EXPECT_EQ(Printable(reclaimed.err, true), reclaimed.err) << reclaimed.err;
    EXPECT_NE(reclaimed.err.find("Evil\\x1b[2J01.flac"), std::string::npos) << reclaimed.err;
}

// --- settings ----------------------------------------------------------------

TEST_F(CliRun, NoSettings_NoStoreTouchedAndRunsRepeatByteForByte)
{
    const fs::path file = input_.file("a.wav");
    ASSERT_TRUE(test::WriteWav(file, {}, ShortMusic(44100 * 2)));
    const fs::path first = reports_.file("1.json");
    const fs::path second = reports_.file("2.json");
    for (const fs::path& out : {first, second}) {
        const RunResult r = RunOn({"--no-settings", "--quiet", "process", file.string(), "--events-json", out.string()}, file);
        ASSERT_EQ(r.exitStatus, 0) << r.err;
    }
    const std::vector<uint8_t> a = test::ReadFileBytes(first);
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, test::ReadFileBytes(second)) << "two runs on the same input must give the same report";
    const RunResult info = RunOn({"--no-settings", "info", file.string(), "--json"}, file);
    EXPECT_EQ(info.exitStatus, 0);
    EXPECT_TRUE(Tree(home_.path()) == std::set<std::string>{"config"})
        << "--no-settings wrote under HOME: " << Join(Tree(home_.path()));

    // The control: an ordinary run does keep its settings, and in the private
    // configuration folder, so the check above is not vacuous.
    const RunResult kept = RunOn({"--quiet", "info", file.string()}, file);
    EXPECT_EQ(kept.exitStatus, 0) << kept.err;
    EXPECT_TRUE(fs::exists(IniPath())) << "found only: " << Join(Tree(home_.path()));
}

TEST_F(CliRun, NoSettings_IgnoresAStoredTempFolderThatDoesNotExist)
{
    const fs::path missing = home_.file("gone") / "scratch";
    {
        CQtSettingsStore store(IniPath().string());
        store.Set(settings::TempMode, settings::kTempModeUser);
        store.Set(settings::TempPath, missing.string());
        ASSERT_EQ(store.Problem(), "");
    }
    const std::vector<uint8_t> ini = test::ReadFileBytes(IniPath());
    const fs::path file = input_.file("a.wav");
    ASSERT_TRUE(test::WriteWav(file, {}, ShortMusic(44100)));

    // The stored folder cannot take the working file: the run fails cleanly.
    const RunResult stored = RunOn({"--quiet", "process", file.string()}, file);
    EXPECT_EQ(stored.exitStatus, 1) << stored.err;
    EXPECT_NE(stored.err.find(missing.string()), std::string::npos) << "the message should name the folder:\n"
                                                                    << stored.err;
    EXPECT_FALSE(fs::exists(missing.parent_path()));

    // The defaults put it in TMPDIR, and the store is left exactly as it was.
    const RunResult fresh = RunOn({"--no-settings", "--quiet", "process", file.string()}, file);
    EXPECT_EQ(fresh.exitStatus, 0) << fresh.err;
    EXPECT_EQ(test::ReadFileBytes(IniPath()), ini);
}

TEST_F(CliRun, StoredSameFolderTempMode_WorkingFileBesideInputIsRemoved)
{
    {
        CQtSettingsStore store(IniPath().string());
        store.Set(settings::TempMode, settings::kTempModeSameFolder);
    }
    const fs::path file = input_.file("b.wav");
    ASSERT_TRUE(test::WriteWav(file, {}, ShortMusic(44100)));
    const fs::path flac = input_.file("c.flac");
    ASSERT_TRUE(test::WriteFlac(flac, {}, ShortMusic(44100)));
    for (const fs::path& f : {file, flac}) {
        SCOPED_TRACE(f.string());
        const RunResult r = RunOn({"--quiet", "process", f.string()}, f);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
    }
}

TEST_F(CliRun, SettingsFile_CommentsAndUnreadableLinesSurviveARunWhichSaysSo)
{
    const std::string original =
        "; kept by hand: do not lose\n"
        "[SettingsZR]\n"
        "; the mode for my turntable\n"
        "Mode=1004\n"
        "a line without an equals sign\n"
        "Source=1096\n";
    fs::create_directories(IniPath().parent_path());
    ASSERT_TRUE(test::WriteFileBytes(IniPath(), std::vector<uint8_t>(original.begin(), original.end())));
    const fs::path file = input_.file("a.wav");
    ASSERT_TRUE(test::WriteWav(file, {}, ShortMusic(44100)));
    // An import stores the folder it came from, so the file is saved.
    const RunResult r = RunOn({"--quiet", "info", file.string()}, file);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const std::string now = ReadText(IniPath());
    EXPECT_NE(now.find("PathName="), std::string::npos) << "the run saved nothing:\n" << now;
    for (const char* line : {"; kept by hand: do not lose\n", "; the mode for my turntable\nMode=1004\n",
                             "a line without an equals sign\nSource=1096\n"})
        EXPECT_NE(now.find(line), std::string::npos) << "lost: " << line << "\nfile now:\n" << now;
    EXPECT_NE(r.err.find("kelvane-cli: The settings file '" + IniPath().string() + "' has lines that cannot be read (line 5)"),
              std::string::npos)
        << r.err;
}

}  // namespace
}  // namespace kelvane
