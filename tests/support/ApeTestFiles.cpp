#include "tests/support/ApeTestFiles.h"

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <numbers>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kelvane::test {

namespace {

void PutLe(std::vector<uint8_t>& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

bool JmacAvailable()
{
    return access(kJmacPath, X_OK) == 0;
}

std::vector<uint8_t> MakeApeTestSignal(int bitsPerSample, int channels, int64_t blocks, uint32_t seed)
{
    const int bytes = bitsPerSample / 8;
    const double peak = std::ldexp(1.0, bitsPerSample - 1) - 1.0;
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(blocks * channels * bytes));
    uint32_t state = seed * 2654435761u + 1u;
    for (int64_t i = 0; i < blocks; ++i) {
        for (int c = 0; c < channels; ++c) {
            state = state * 1664525u + 1013904223u;
            const double noise = (static_cast<double>(state >> 8) / double(1u << 24) - 0.5) * 0.1;
            const double tone = 0.6 * std::sin(2.0 * std::numbers::pi * (220.0 + 110.0 * c) * double(i) / 44100.0);
            auto v = static_cast<int64_t>(std::lround((tone + noise) * peak));
            if (bitsPerSample == 8) v += 128;  // 8-bit WAV samples are unsigned
            PutLe(out, static_cast<uint64_t>(v), bytes);
        }
    }
    return out;
}

bool WriteApeSourceWav(const std::filesystem::path& path, int sampleRate, int bitsPerSample, int channels,
                       const std::vector<uint8_t>& pcm)
{
    const uint32_t align = static_cast<uint32_t>(channels * bitsPerSample / 8);
    std::vector<uint8_t> head;
    head.insert(head.end(), {'R', 'I', 'F', 'F'});
    PutLe(head, 36 + pcm.size(), 4);
    head.insert(head.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe(head, 16, 4);
    PutLe(head, 1, 2);  // PCM
    PutLe(head, static_cast<uint64_t>(channels), 2);
    PutLe(head, static_cast<uint64_t>(sampleRate), 4);
    PutLe(head, static_cast<uint64_t>(sampleRate) * align, 4);
    PutLe(head, align, 2);
    PutLe(head, static_cast<uint64_t>(bitsPerSample), 2);
    head.insert(head.end(), {'d', 'a', 't', 'a'});
    PutLe(head, pcm.size(), 4);

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    out.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size()));
    return static_cast<bool>(out);
}

bool EncodeApeWithJmac(const std::filesystem::path& wav, const std::filesystem::path& ape, int level,
                       std::string* error)
{
    auto fail = [error](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    if (!JmacAvailable()) return fail(std::string(kJmacPath) + " is missing; install the libjmac-java package");
    std::error_code ec;
    std::filesystem::remove(ape, ec);

    const std::string command = "c" + std::to_string(level);
    const std::string in = wav.string();
    const std::string out = ape.string();
    char* argv[] = {const_cast<char*>(kJmacPath), const_cast<char*>(command.c_str()), const_cast<char*>(in.c_str()),
                    const_cast<char*>(out.c_str()), nullptr};

    // The encoder prints progress lines; they would only clutter test output.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, kJmacPath, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return fail("could not start " + std::string(kJmacPath) + ": " + std::strerror(rc));
    int status = 0;
    if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return fail("the encoder failed on " + in);

    char magic[4] = {};
    std::ifstream check(ape, std::ios::binary);
    check.read(magic, 4);
    if (check.gcount() != 4 || std::memcmp(magic, "MAC ", 4) != 0)
        return fail("the encoder wrote no Monkey's Audio file for " + in);
    return true;
}

bool AppendApeV2Tag(const std::filesystem::path& path, const std::vector<ApeTagItem>& items)
{
    std::vector<uint8_t> body;
    for (const auto& item : items) {
        PutLe(body, item.value.size(), 4);
        PutLe(body, item.binary ? (1u << 1) : 0u, 4);
        body.insert(body.end(), item.key.begin(), item.key.end());
        body.push_back(0);
        body.insert(body.end(), item.value.begin(), item.value.end());
    }
    constexpr uint32_t kHasHeader = 1u << 31;
    constexpr uint32_t kIsHeader = 1u << 29;
    auto frame = [&](uint32_t flags) {
        std::vector<uint8_t> f = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'};
        PutLe(f, 2000, 4);
        PutLe(f, body.size() + 32, 4);  // items + footer
        PutLe(f, items.size(), 4);
        PutLe(f, flags, 4);
        PutLe(f, 0, 8);
        return f;
    };
    std::vector<uint8_t> tag = frame(kHasHeader | kIsHeader);
    tag.insert(tag.end(), body.begin(), body.end());
    const auto footer = frame(kHasHeader);
    tag.insert(tag.end(), footer.begin(), footer.end());
    return AppendBytes(path, tag);
}

bool AppendBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace kelvane::test
