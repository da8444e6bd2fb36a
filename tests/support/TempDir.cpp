#include "tests/support/TempDir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include <unistd.h>

namespace kelvane::test {

namespace {

std::atomic<uint64_t> g_counter{0};

}  // namespace

TempDir::TempDir(std::string_view prefix)
{
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) throw std::runtime_error("no temporary directory: " + ec.message());
    // pid + counter keeps parallel test processes apart; the clock guards
    // against a reused pid finding a leftover from a crashed run.
    const auto stamp = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = std::string(prefix) + "-" + std::to_string(::getpid()) + "-" +
                                 std::to_string(g_counter.fetch_add(1)) + "-" + std::to_string(stamp % 1000000007u);
        std::filesystem::path candidate = base / name;
        if (std::filesystem::create_directory(candidate, ec) && !ec) {
            path_ = std::move(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory under " + base.string());
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) return {};
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    f.close();
    return static_cast<bool>(f);
}

}  // namespace kelvane::test
