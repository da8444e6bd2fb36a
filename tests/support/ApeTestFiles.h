#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Helpers for tests that need real Monkey's Audio files: a deterministic PCM
// signal, a plain WAV writer, the command-line encoder, and an APEv2 tag
// writer. Nothing here touches files other than the paths it is given.
// Scratch folders and whole-file reads come from TempDir.h.
namespace kelvane::test {

// Where the Debian encoder (package libjmac-java) lives.
inline constexpr const char* kJmacPath = "/usr/bin/jmac";

bool JmacAvailable();

// Interleaved little-endian PCM, WAV data-chunk layout, `blocks` sample
// frames of `channels` x `bitsPerSample` (8, 16 or 24). A sine per channel plus
// seeded noise, so neighbouring blocks differ and misplaced slices show up;
// the same seed always gives the same bytes.
std::vector<uint8_t> MakeApeTestSignal(int bitsPerSample, int channels, int64_t blocks, uint32_t seed);

// Writes a canonical 44-byte-header PCM WAV. Returns false on I/O failure.
bool WriteApeSourceWav(const std::filesystem::path& path, int sampleRate, int bitsPerSample, int channels,
                       const std::vector<uint8_t>& pcm);

// Runs the encoder at `level` 1 (fast) .. 5 (insane). The encoder exits with
// 0 even when it fails, so success is judged by the output file's magic.
// On failure returns false and, when `error` is given, says why.
bool EncodeApeWithJmac(const std::filesystem::path& wav, const std::filesystem::path& ape, int level,
                       std::string* error = nullptr);

struct ApeTagItem {
    std::string key;
    std::string value;  // UTF-8 text, or raw bytes when `binary`
    bool binary = false;
};

// Appends an APEv2 tag (header, items, footer) to the end of `path`.
bool AppendApeV2Tag(const std::filesystem::path& path, const std::vector<ApeTagItem>& items);

// Appends raw bytes to `path` (trailing ID3v1 tags, junk).
bool AppendBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

}  // namespace kelvane::test
