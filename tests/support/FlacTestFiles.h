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

// A FLAC file as libFLAC decodes it: interleaved samples and the Vorbis
// comments. ok is false (error says why) when the stream does not decode.
struct FlacContents {
    bool ok = false;
    std::string error;
    int sampleRate = 0, channels = 0, bits = 0;
    unsigned maxBlock = 0;       // from STREAMINFO
    uint64_t totalSamples = 0;   // frames, as STREAMINFO states them
    std::vector<int32_t> samples;
    std::vector<std::pair<std::string, std::string>> comments;  // NAME, value in file order
    // The value of the first comment named name (case-insensitive), or "".
    std::string comment(const std::string& name) const;
};

FlacContents DecodeFlac(const std::filesystem::path& path);

}  // namespace kelvane::test
