#pragma once
// Reading the header of a RIFF/WAVE file: the chunk walk and the checks that
// decide whether the audio can be processed. Chunk identifiers are compared
// case-insensitively, since recorders in the wild write both cases.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

class CWaveFile;

// The rates a recording may have, whatever its format: 44.1, 48, 88.2 and
// 96 kHz (kMsgBadFormat names them).
bool IsSupportedRate(int64_t rate);

inline constexpr const char* kMsgBadFormat =
    " Incorrect Wave File Format\nOnly 16/24 bit stereo/44.1, 48, 88.2 or 96 kHz Sampling Rate supported. ";

struct WavLayout {
    int sampleRate = 44100;
    int bitsPerSample = 16;
    int formatTag = 0;
    int channels = 0;
    int64_t dataStart = 0;   // offset of the first sample byte
    int64_t dataSize = 0;    // bytes of audio (after the size-0 repair)
    int64_t fileLength = 0;
    bool repairedZeroSize = false;
    // For BadFormat: what exactly is outside the accepted set, when that is
    // known (shown on a line of its own after the format message).
    std::string reason;
};

enum class HeaderStatus {
    Ok,
    NotWave,        // no RIFF/WAVE, no fmt or data chunk, or a chunk runs past the end
    BadFormat,      // a format outside the accepted set
    FmtTooShort,    // the fmt chunk cannot hold the fields we need
    DataTruncated,  // the data chunk claims more bytes than the file holds
};

// The user text for a refused header: the format message, with the more
// specific reason on a line of its own after it. A data chunk cut short is
// not a format problem and gets its own text.
std::string HeaderStatusText(HeaderStatus status, const WavLayout& layout);

// The text for a data chunk that declares more bytes than the file holds.
std::string TruncationText(int64_t declaredBytes, int64_t availableBytes);

// Walks chunks from `pos` (just after a chunk header whose size is `size`, or
// just after "WAVE" with size 0) to the chunk `id`. On success pos is the
// offset of that chunk's payload and size its declared size. Fails when a
// chunk to be skipped reaches the end of the file.
bool WalkToChunk(CWaveFile& file, int64_t fileLength, const char* id, int64_t& pos, uint32_t& size);

// Reads the header of a stereo 16/24-bit file from the start of `file`.
HeaderStatus ReadWavHeader(CWaveFile& file, WavLayout& layout);

struct MonoLayout {
    int sampleRate = 0;
    int64_t dataStart = 0;
    int64_t dataSize = 0;  // whole 16-bit samples only
    bool repairedZeroSize = false;
    // Set (with a false return) when the file is such a mono WAV but its
    // data chunk claims more than the file holds: dataSize is then the
    // declared size, and the file must be refused for that, not for its format.
    bool truncated = false;
    int64_t fileLength = 0;
};

// The strict test for a 16-bit mono WAV at 44.1 or 48 kHz, whose fmt chunk
// must follow "WAVE" directly. False for anything else (including stereo,
// and a truncated mono file, see MonoLayout::truncated).
bool ReadMonoHeader(CWaveFile& file, MonoLayout& layout);

// Case-insensitive comparison of a chunk identifier with an upper-case one.
bool ChunkIdIs(const char* bytes, const char* upperId);

uint32_t ReadLe32(const uint8_t* p);
uint16_t ReadLe16(const uint8_t* p);
void PutLe32(uint8_t* p, uint32_t v);
void PutLe16(uint8_t* p, uint16_t v);

// The 44-byte header of a PCM stereo WAV holding dataBytes of audio.
void MakeWavHeader(uint8_t header[44], int sampleRate, int bitsPerSample, int channels, uint32_t dataBytes);
// The same header with a format chunk fmtExtra bytes longer (zeros), so that
// the samples begin at 44 + fmtExtra: how an exported track keeps a working
// file's offset within a frame.
std::vector<uint8_t> WavHeaderBytes(int sampleRate, int bitsPerSample, int channels, uint32_t dataBytes,
                                    uint32_t fmtExtra);

}  // namespace kelvane
