#include "FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace kelvane::fuzz {

std::string ScratchFile(const std::string& name)
{
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("kelvane-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return (dir / name).string();
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

bool Unchanged(const std::string& path, const uint8_t* data, size_t size)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return now.size() == size && std::equal(now.begin(), now.end(), data);
}

bool OnlyInputsLeft()
{
    const auto dir = std::filesystem::path(ScratchFile("x")).parent_path();
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("input.", 0) != 0 && name != "header.wav" && name != "settings.ini") return false;
    }
    return true;
}

}  // namespace kelvane::fuzz
