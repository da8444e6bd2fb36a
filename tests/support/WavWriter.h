#pragma once
// WAV files for tests, including deliberately odd ones: the import code has
// to cope with what real recorders and editors write, so the writer can
// change chunk-id case, add foreign chunks anywhere, lie in the size fields
// and cut the file short.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvane::test {

struct WavOptions {
    int sampleRate = 44100;
    int channels = 2;
    int bits = 16;                // 8 (unsigned on disk), 16, 24 or 32
    uint16_t formatTag = 1;       // written as given; 0xFFFE with fmtSize >= 40 gets a PCM extension
    int fmtSize = 16;             // 16; 18 adds cbSize = 0; larger pads with zeros; smaller cuts the fields
    bool lowerCaseIds = false;    // "riff", "wave", "fmt ", "data"
    bool upperCaseIds = false;    // "RIFF", "WAVE", "FMT ", "DATA"
    // Extra chunks as {id, payload}. Ids are cut or space-padded to four
    // bytes; odd payloads get the pad byte RIFF asks for.
    std::vector<std::pair<std::string, std::string>> chunksBeforeFmt;
    std::vector<std::pair<std::string, std::string>> chunksBetween;
    std::vector<std::pair<std::string, std::string>> chunksAfterData;
    std::optional<uint32_t> dataSizeOverride;  // replaces the data chunk's size field only
    std::optional<uint32_t> riffSizeOverride;  // replaces the RIFF size field only
    size_t truncateAt = 0;                     // cut the file to this many bytes; 0 = whole
};

// The bytes of a WAV file. Samples are interleaved, one int32 per sample,
// holding a value in the signed range of opts.bits (16-bit values for 16,
// 24-bit values for 24); they are written little-endian in bits/8 bytes
// whatever formatTag claims, so odd tags can be tested on real data.
std::vector<uint8_t> WavBytes(const WavOptions& opts, const std::vector<int32_t>& interleavedSamples);

// Writes WavBytes to path, replacing any file there. Returns false if the
// file cannot be created or fully written.
bool WriteWav(const std::filesystem::path& path, const WavOptions& opts,
              const std::vector<int32_t>& interleavedSamples);

// What ReadWavSamples found. On failure `error` says why and the rest is
// not to be relied on.
struct WavContents {
    int rate = 0;
    int channels = 0;
    int bits = 0;
    std::vector<int32_t> samples;  // interleaved, sign-extended
    size_t dataOffset = 0;         // byte offset of the first sample in the file
    std::string error;
    bool ok() const { return error.empty(); }
};

// Reads a plain, well-formed PCM WAV (tag 1 or a PCM extensible header,
// 8/16/24/32-bit) to check what the program wrote. Not a tolerant importer:
// anything unusual is reported in `error`, never thrown.
WavContents ReadWavSamples(const std::filesystem::path& path);
WavContents ParseWavSamples(const std::vector<uint8_t>& bytes);

}  // namespace kelvane::test
