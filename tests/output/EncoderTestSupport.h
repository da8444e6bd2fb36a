#pragma once

// Checks both encoder tests make: the command-line tools that read the files
// back, a refused Open, and an export that never finishes.

#include "output/IAudioEncoder.h"
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
#include <vector>

extern char** environ;

namespace kelvane::test {

// The program's path when it is on PATH, else empty.
inline std::string FindTool(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (size_t at = 0; at <= folders.size();) {
        const size_t end = std::min(folders.find(':', at), folders.size());
        const std::string candidate = folders.substr(at, end - at) + "/" + name;
        at = end + 1;
        if (candidate.size() > name.size() + 1 && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// The tools are installed by the project's test command, so a missing one
// is a fault of the set-up, reported with the package that holds it.
#define KELVANE_REQUIRE_TOOL(tool, package)                                                                 \
    if (::kelvane::test::FindTool(tool).empty())                                                            \
    GTEST_FAIL() << tool << " is missing: install the Debian package " << package

// Everything the program writes to standard output, started directly with
// these arguments (no shell, so paths need no quoting); empty when it cannot
// be started. exitStatus gets its exit status (-1 when it did not exit).
inline std::string CommandOutput(const std::vector<std::string>& args, int* exitStatus = nullptr)
{
    if (exitStatus) *exitStatus = -1;
    if (args.empty()) return {};
    char name[] = "/tmp/kelvane-tool-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) return {};
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned == 0) {
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (exitStatus && WIFEXITED(status)) *exitStatus = WEXITSTATUS(status);
    }
    std::string out;
    ::lseek(fd, 0, SEEK_SET);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    ::unlink(name);
    return out;
}

// Open must refuse, say why with a message containing expect, and leave
// neither the file nor its temporary behind.
inline void ExpectOpenRefused(IAudioEncoder& enc, const std::filesystem::path& p, int rate, int bits, int channels,
                              const EncoderTags& tags, const std::string& expect)
{
    EXPECT_FALSE(enc.Open(p, rate, bits, channels, 0, tags));
    EXPECT_NE(enc.LastError().find(expect), std::string::npos) << enc.LastError();
    EXPECT_FALSE(std::filesystem::exists(p));
    EXPECT_FALSE(std::filesystem::exists(EncoderTempPath(p)));
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
        EXPECT_TRUE(std::filesystem::exists(EncoderTempPath(p)));
        enc.Abort();
        EXPECT_FALSE(std::filesystem::exists(EncoderTempPath(p)));
        EXPECT_FALSE(enc.Finish());
        enc.Abort();  // twice is harmless
    }
    {
        auto enc = make();
        ASSERT_TRUE(enc.Open(p, 44100, 16, 2, frames, {}));
        ASSERT_TRUE(enc.Write(noise.data(), frames));
    }
    EXPECT_FALSE(std::filesystem::exists(EncoderTempPath(p)));
    EXPECT_EQ(ReadFileBytes(p), earlier);
}

}  // namespace kelvane::test
