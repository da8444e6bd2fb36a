#pragma once

// Checks both encoder tests make: the command-line tools that read the files
// back, a refused Open, and an export that never finishes.

#include "output/EncoderList.h"
#include "output/IAudioEncoder.h"
#include "tests/output/PartialFiles.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

extern char** environ;

namespace kelvane::test {

// The program's path when it is on PATH, else empty.
inline std::string FindTool(const std::string& name) { return FindProgramInPath(name, std::getenv("PATH")); }

// The tools are installed by the project's test command, so a missing one
// is a fault of the set-up, reported with the package that holds it.
#define KELVANE_REQUIRE_TOOL(tool, package)                                                                 \
    if (::kelvane::test::FindTool(tool).empty())                                                            \
    GTEST_FAIL() << tool << " is missing: install the Debian package " << package

struct ToolRun {
    bool started = false;
    int status = -1;  // the exit status; -1 when it did not start or did not exit normally
    std::string out;
    std::string err;
};

// Runs args[0] from PATH directly (no shell, so paths need no quoting),
// stdin from /dev/null, both outputs captured.
inline ToolRun RunTool(const std::vector<std::string>& args)
{
    ToolRun r;
    if (args.empty()) return r;
    char outName[] = "/tmp/kelvane-tool-out-XXXXXX";
    char errName[] = "/tmp/kelvane-tool-err-XXXXXX";
    const int outFd = ::mkstemp(outName);
    const int errFd = ::mkstemp(errName);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (outFd >= 0 && errFd >= 0) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
        posix_spawn_file_actions_adddup2(&actions, errFd, 2);
        pid_t pid = 0;
        r.started = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        if (r.started) {
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
        }
    }
    for (auto [fd, name, into] : {std::tuple{outFd, outName, &r.out}, std::tuple{errFd, errName, &r.err}}) {
        if (fd < 0) continue;
        ::lseek(fd, 0, SEEK_SET);
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) into->append(buf, static_cast<size_t>(n));
        ::close(fd);
        ::unlink(name);
    }
    return r;
}

// What the program writes to standard output (see RunTool); exitStatus gets
// its exit status.
inline std::string CommandOutput(const std::vector<std::string>& args, int* exitStatus = nullptr)
{
    ToolRun r = RunTool(args);
    if (exitStatus) *exitStatus = r.status;
    return std::move(r.out);
}

// Open must refuse, say why with a message containing expect, and leave
// neither the file nor its temporary behind.
inline void ExpectOpenRefused(IAudioEncoder& enc, const std::filesystem::path& p, int rate, int bits, int channels,
                              const EncoderTags& tags, const std::string& expect)
{
    EXPECT_FALSE(enc.Open(p, rate, bits, channels, 0, tags));
    EXPECT_NE(enc.LastError().find(expect), std::string::npos) << enc.LastError();
    EXPECT_FALSE(std::filesystem::exists(p));
    EXPECT_TRUE(PartialFilesBeside(p).empty());
}

// Over an earlier file at p, an export that is aborted and one whose encoder
// is destroyed unfinished must both leave that file as it was and no
// temporary behind. make() returns a fresh encoder by value; noise is
// stereo 16-bit, frames frames long.
template <typename MakeEncoder>
void ExpectUnfinishedKeepsEarlierFile(MakeEncoder make, const std::filesystem::path& p,
                                      const std::vector<int32_t>& noise, size_t frames)
{
    const std::vector<uint8_t> earlier = ReadFileBytes(p);
    {
        auto enc = make();
        ASSERT_TRUE(enc.Open(p, 44100, 16, 2, frames, {}));
        ASSERT_TRUE(enc.Write(noise.data(), frames));
        EXPECT_EQ(PartialFilesBeside(p).size(), 1u);
        enc.Abort();
        EXPECT_TRUE(PartialFilesBeside(p).empty());
        EXPECT_FALSE(enc.Finish());
        enc.Abort();  // twice is harmless
    }
    {
        auto enc = make();
        ASSERT_TRUE(enc.Open(p, 44100, 16, 2, frames, {}));
        ASSERT_TRUE(enc.Write(noise.data(), frames));
    }
    EXPECT_TRUE(PartialFilesBeside(p).empty());
    EXPECT_EQ(ReadFileBytes(p), earlier);
}

}  // namespace kelvane::test
