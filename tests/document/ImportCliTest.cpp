// Damaged and unusual input through the batch tool: exit statuses, the
// messages on stderr, interrupts during a decode, and the scratch files a
// killed run leaves for the next one to reclaim.

#include "document/CImporter.h"
#include "document/WavHeader.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/ApeTestFiles.h"
#include "tests/support/FlacTestFiles.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using test::RunResult;
using test::Tree;

std::vector<int32_t> Music(size_t frames)
{
    test::MusicStyle style;
    style.seed = 3;
    return test::Music(style, frames);
}

std::string Join(const std::set<std::string>& names)
{
    std::string s;
    for (const auto& n : names) s += (s.empty() ? "" : ", ") + n;
    return s.empty() ? "(nothing)" : s;
}

class ImportCli : public ::testing::Test {
protected:
    test::TempDir input_{"kelvane-imp-in"};
    test::TempDir home_{"kelvane-imp-home"};
    test::TempDir tmp_{"kelvane-imp-tmp"};
    test::TempDir capture_{"kelvane-imp-io"};

    test::CliEnvironment Env() const { return {home_.path(), home_.path() / "config", tmp_.path(), capture_.path()}; }
    void SetUp() override { fs::create_directories(home_.path() / "config"); }

    RunResult Run(const std::vector<std::string>& args) { return test::RunCliProcess(args, Env()); }

    // A run started in the background, for interrupting and killing.
    pid_t Start(const std::vector<std::string>& args)
    {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("HOME=", 0) == 0 || entry.rfind("XDG_CONFIG_HOME=", 0) == 0 || entry.rfind("TMPDIR=", 0) == 0)
                continue;
            env.push_back(entry);
        }
        env.push_back("HOME=" + home_.path().string());
        env.push_back("XDG_CONFIG_HOME=" + (home_.path() / "config").string());
        env.push_back("TMPDIR=" + tmp_.path().string());
        std::vector<std::string> argStrings{KELVANE_CLI_PATH};
        argStrings.insert(argStrings.end(), args.begin(), args.end());
        std::vector<char*> argv, envp;
        for (auto& a : argStrings) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, (capture_.path() / "bg-stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    // The exit status of a background run, -1 when it ended by a signal or
    // was still going after a generous while (then it is killed).
    static int Wait(pid_t pid)
    {
        int status = 0;
        for (int i = 0; i < 12000; ++i) {
            if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
};

TEST_F(ImportCli, DamagedFlacExitsTwoUnlessDamageIsAccepted)
{
    const fs::path good = input_.file("good.flac");
    ASSERT_TRUE(test::WriteFlac(good, {}, Music(88200)));
    auto bytes = test::ReadFileBytes(good);
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 40; ++i) bytes[i] ^= 0x55;
    const fs::path hit = input_.file("hit.flac");
    ASSERT_TRUE(test::WriteFileBytes(hit, bytes));
    for (const char* command : {"info", "process"}) {
        SCOPED_TRACE(command);
        const RunResult r = Run({"--no-settings", "--quiet", command, hit.string()});
        EXPECT_EQ(r.exitStatus, 2) << r.err;
        EXPECT_NE(r.err.find("kelvane: The FLAC file is damaged: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("(the first bad frame)"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--accept-damaged"), std::string::npos) << r.err;
    }
    const RunResult accepted = Run({"--no-settings", "--quiet", "info", hit.string(), "--accept-damaged"});
    EXPECT_EQ(accepted.exitStatus, 0) << accepted.err;
    EXPECT_NE(accepted.out.find("Duration:       2.000 s"), std::string::npos) << accepted.out;
    EXPECT_TRUE(Tree(tmp_.path()).empty()) << Join(Tree(tmp_.path()));
}

TEST_F(ImportCli, UnusualAndDamagedInputIsRefusedWithExitTwo)
{
    struct Case {
        std::string name;
        std::string message;
    };
    std::vector<Case> cases;
    const auto music = Music(20000);

    test::WavOptions mono;
    mono.channels = 1;
    mono.truncateAt = 44 + 3000;
    std::vector<int32_t> left;
    for (size_t i = 0; i < music.size(); i += 2) left.push_back(music[i]);
    ASSERT_TRUE(test::WriteWav(input_.file("cut-mono.wav"), mono, left));
    cases.push_back({"cut-mono.wav", "kelvane: The file is truncated: its \"data\" chunk declares 40000 bytes"});

    ASSERT_TRUE(test::WriteWav(input_.file("short.wav"), {}, {music.begin(), music.begin() + 2 * 1000}));
    cases.push_back({"short.wav", std::string("kelvane: ") + kMsgTooShort + "\n"});

    test::WavOptions huge;
    huge.dataSizeOverride = 0xFFFFFFF0u;
    ASSERT_TRUE(test::WriteFileBytes(input_.file("huge.wav"), test::WavBytes(huge, {})));
    fs::resize_file(input_.file("huge.wav"), 5ull << 30);
    cases.push_back({"huge.wav", std::string("kelvane: ") + kMsgTooLong + "\n"});

    test::WavOptions ext;
    ext.formatTag = 0xFFFE;
    ext.fmtSize = 40;
    auto alaw = test::WavBytes(ext, music);
    alaw[44] = 6;  // the sub-format GUID: A-law
    ASSERT_TRUE(test::WriteFileBytes(input_.file("alaw.wav"), alaw));
    cases.push_back({"alaw.wav", std::string("kelvane: ") + kMsgBadFormat + "\nThe samples are A-law coded, not PCM.\n"});

    ASSERT_EQ(::mkfifo(input_.file("pipe.wav").c_str(), 0600), 0);
    cases.push_back({"pipe.wav", "is not a regular file"});
    fs::create_symlink("/dev/zero", input_.file("zero.flac"));
    cases.push_back({"zero.flac", "is not a regular file"});

    if (test::JmacAvailable()) {
        const fs::path wav = tmp_.file("src.wav");
        ASSERT_TRUE(test::WriteApeSourceWav(wav, 44100, 16, 2, test::MakeApeTestSignal(16, 2, 60000, 9)));
        const fs::path ape = input_.file("hit.ape");
        ASSERT_TRUE(test::EncodeApeWithJmac(wav, ape, 2));
        fs::remove(wav);
        auto bytes = test::ReadFileBytes(ape);
        for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 40; ++i) bytes[i] ^= 0x55;
        ASSERT_TRUE(test::WriteFileBytes(ape, bytes));
        cases.push_back({"hit.ape", "kelvane: The Monkey's Audio file is damaged: "});
    }

    // Should a run open the FIFO after all, a writer turns up in time to
    // fail the test rather than hang it.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 300 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        while (!done) {
            const int fd = ::open(input_.file("pipe.wav").c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    const std::set<std::string> before = Tree(input_.path());
    for (const Case& c : cases) {
        for (const char* command : {"info", "process"}) {
            SCOPED_TRACE(c.name + " " + command);
            const RunResult r = Run({"--no-settings", "--quiet", command, input_.file(c.name).string()});
            EXPECT_EQ(r.exitStatus, 2) << r.err;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("error code"), std::string::npos) << r.err;
        }
    }
    done = true;
    watchdog.join();
    EXPECT_EQ(Tree(input_.path()), before);
    EXPECT_TRUE(Tree(tmp_.path()).empty()) << Join(Tree(tmp_.path()));
}

TEST_F(ImportCli, InterruptEndsTheSearchThroughAJunkFlac)
{
    // Gigabytes in which libFLAC looks for a stream that is not there.
    const fs::path junk = input_.file("junk.flac");
    {
        std::FILE* f = std::fopen(junk.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    fs::resize_file(junk, 4ull << 30);
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        const pid_t pid = Start({"--no-settings", "--quiet", "process", junk.string()});
        ASSERT_GT(pid, 0);
        // Interrupted once the decode has begun: its copy has been made.
        for (int i = 0; i < 6000 && !fs::exists(tmp_.file("junk.tmp")); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_TRUE(fs::exists(tmp_.file("junk.tmp")));
        kill(pid, sig);
        EXPECT_EQ(Wait(pid), 130) << test::ReadText(capture_.path() / "bg-stderr");
        EXPECT_TRUE(Tree(tmp_.path()).empty()) << Join(Tree(tmp_.path()));
        EXPECT_EQ(Tree(input_.path()), std::set<std::string>{"junk.flac"});
    }
}

TEST_F(ImportCli, ScratchFilesOfAKilledRunAreRemovedByTheNextRun)
{
    const fs::path side = input_.file("side.wav");
    ASSERT_TRUE(test::WriteWav(side, {}, Music(44100 * 60)));
    const pid_t pid = Start({"--no-settings", "--quiet", "process", side.string()});
    ASSERT_GT(pid, 0);
    // Killed once its working copy has begun to fill.
    const fs::path working = tmp_.file("side~.wav");
    bool started = false;
    for (int i = 0; i < 6000 && !started; ++i) {
        std::error_code ec;
        started = fs::exists(working, ec) && fs::file_size(working, ec) > 1000000;
        if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    EXPECT_EQ(Wait(pid), -1);
    ASSERT_TRUE(started) << "the run never made its working copy: " << Join(Tree(tmp_.path()));
    ASSERT_TRUE(fs::exists(working));

    // A second run, on another recording, in the same scratch folder.
    const fs::path other = input_.file("other.wav");
    ASSERT_TRUE(test::WriteWav(other, {}, Music(20000)));
    const RunResult r = Run({"--no-settings", "--quiet", "info", other.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("kelvane-cli: removed " + working.string() + ", a scratch file left by a run that has ended"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(Tree(tmp_.path()).empty()) << Join(Tree(tmp_.path()));
    EXPECT_EQ(Tree(input_.path()), (std::set<std::string>{"side.wav", "other.wav"}));
}

}  // namespace
}  // namespace kelvane
