#pragma once

// Checks both encoder tests make: the command-line tools that read the files
// back, a refused Open, and an export that never finishes.

#include "output/IAudioEncoder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace kelvane::test {

// True when the shell finds the program on PATH; tests that need it skip
// without it rather than fail.
inline bool HaveTool(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Everything the command writes to standard output; empty when it cannot be
// started.
inline std::string CommandOutput(const std::string& command)
{
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
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
