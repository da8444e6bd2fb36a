#pragma once
// FLAC files for import tests, encoded here with libFLAC's stream encoder.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kelvane::test {

struct FlacOptions {
    int sampleRate = 44100;
    int channels = 2;
    int bits = 16;
    bool declareTotalSamples = true;  // false: STREAMINFO says 0 ("unknown")
    std::vector<std::pair<std::string, std::string>> comments;  // NAME, value
};

// Encodes interleaved samples (16- or 24-bit values in int32) to path.
bool WriteFlac(const std::filesystem::path& path, const FlacOptions& opts, const std::vector<int32_t>& samples);

}  // namespace kelvane::test
