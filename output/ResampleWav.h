#pragma once
// The plain PCM WAV files the sample-rate converter reads and writes, with
// the converter's own texts for what goes wrong. Reading takes any PCM WAV of
// 8 to 32 bits and any number of channels and hands out samples as doubles of
// about -1 .. 1; writing produces the 44-byte header of a PCM file and fills
// in its sizes when the file is complete.

#include <cstdint>
#include <cstdio>
#include <string>

namespace kelvane {

inline constexpr const char* kResampleCannotOpenInput = "cannot open input file.";
inline constexpr const char* kResampleOnlyPcm = "Error: Only PCM is supported.";
inline constexpr const char* kResampleNoDataChunk = "Couldn't find data chunk\n";
inline constexpr const char* kResampleCannotOpenOutput = "cannot open output file.";
inline constexpr const char* kResampleCannotRead = "cannot read input file.";

// "fwrite error(N).\n", N telling where the write failed.
enum class WriteStage : int {
    Header = 1,
    Samples = 2,
    Temporary = 3,
    RiffSize = 4,
    DataSize = 5,
    Closing = 6,
};
std::string FwriteErrorText(WriteStage stage);

class CPcmWavReader {
public:
    CPcmWavReader() = default;
    ~CPcmWavReader();
    CPcmWavReader(const CPcmWavReader&) = delete;
    CPcmWavReader& operator=(const CPcmWavReader&) = delete;

    // Opens path and finds its samples. False with the text for the user in
    // *message when it cannot be opened, is not PCM, or has no data chunk.
    bool Open(const std::string& path, std::string* message);

    int Channels() const { return channels_; }
    int Rate() const { return rate_; }
    int BytesPerSample() const { return bytes_; }
    // Whole frames in the data chunk; a chunk that claims more than the file
    // holds counts as reaching to the end of the file.
    int64_t Frames() const { return frames_; }

    // Reads up to `frames` frames into out (interleaved, frames x Channels()
    // values): 8-bit (x - 128) / 127, 16-bit x / 32767, 24-bit x / 8388607,
    // 32-bit x / 2147483647. Returns the frames read: fewer only at the end
    // of the data or when reading fails (Failed()).
    size_t Read(double* out, size_t frames);
    bool Failed() const { return failed_; }

private:
    std::FILE* file_ = nullptr;
    int channels_ = 0;
    int rate_ = 0;
    int bytes_ = 0;
    int64_t frames_ = 0;
    int64_t left_ = 0;
    bool failed_ = false;
    std::string buffer_;
};

class CPcmWavWriter {
public:
    CPcmWavWriter() = default;
    ~CPcmWavWriter();
    CPcmWavWriter(const CPcmWavWriter&) = delete;
    CPcmWavWriter& operator=(const CPcmWavWriter&) = delete;

    // Creates path and writes the header with place-holders for the sizes.
    // False with the text for the user in *message.
    bool Create(const std::string& path, int channels, int rate, int bits, std::string* message);

    // Writes integer samples of the file's depth (8-bit ones as signed
    // -128 .. 127; the file holds them offset by 128). False on a write error.
    bool Write(const int32_t* samples, size_t count);

    // Fills in the RIFF size (file length - 8) at offset 4 and the data size
    // (file length - 44) at offset 40, and closes the file. False with the
    // text for the user in *message.
    bool Finish(std::string* message);

    // Closes and deletes an unfinished file.
    void Discard();

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    int bytes_ = 2;
    std::string buffer_;
};

}  // namespace kelvane
