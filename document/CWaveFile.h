#pragma once
// A file holding WAV-layout audio, addressed in position units: byte offsets
// of a 16-bit stereo layout (4 bytes per frame). For a 24-bit recording the
// mapped operations translate those units to 6 bytes per frame, so no other
// code needs to know the depth to compute positions. The Raw operations are
// the plain file ones and copy bytes unchanged.
//
// Not thread-safe. Errors are returned (false / -1) with a text in LastError().

#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

class CWaveFile {
public:
    enum class Mode {
        Read,       // existing file, read only
        ReadWrite,  // existing file
        Create,     // created new (an existing file is truncated), read/write
    };

    CWaveFile() = default;
    ~CWaveFile();
    CWaveFile(const CWaveFile&) = delete;
    CWaveFile& operator=(const CWaveFile&) = delete;

    bool Open(const std::string& path, Mode mode);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }
    const std::string& LastError() const { return lastError_; }

    int64_t Length() const;
    bool SetLength(int64_t bytes);

    // Depth of the audio in the file: 16 (positions are byte offsets) or 24.
    void SetBitsPerSample(int bits) { bits_ = bits; }
    int BitsPerSample() const { return bits_; }
    // Position of the first frame; the anchor of the 24-bit mapping.
    void SetDataBase(int32_t base) { dataBase_ = base; }
    int32_t DataBase() const { return dataBase_; }

    // Byte offset in the file of a position (identity for 16 bits).
    int64_t MapPosition(int64_t position) const;
    // Bytes that `units` position units of audio take in a file of `bits`
    // (3 for every 2 with 24 bits).
    static constexpr int64_t BytesOf(int64_t units, int bits) { return bits == 24 ? units / 2 * 3 : units; }

    // Mapped operations. Only seeking from the start of the file exists:
    // no caller needs another origin. Returns the new byte offset or -1.
    int64_t Seek(int64_t position);
    // Reads `count` position units as 16-bit values (the upper two bytes of
    // each 24-bit sample); returns the units read (less at the end), -1 on error.
    int64_t Read(void* buffer, int64_t count);
    // Writes `count` units of 16-bit values; a 24-bit file gets value x 256.
    bool WriteAs24(const void* buffer, int64_t count);
    // Reads n samples at full precision: a 24-bit sample as (high 16 bits,
    // signed) x 256 + low byte; a 16-bit file gives its plain values.
    // Returns the samples read or -1.
    int64_t Read24(int32_t* values, int64_t n);
    // Writes n full-precision samples (3 bytes each for 24 bits, 2 for 16).
    bool Write24(const int32_t* values, int64_t n);

    // Reads at a position without moving the offset that Seek, Read and the
    // writes share: a view or playback reads while a pass is half-way through
    // the same file. Same results as Seek(position) followed by Read or
    // Read24; for use on the pass's thread (between its chunks).
    int64_t ReadAt(int64_t position, void* buffer, int64_t count);
    int64_t Read24At(int64_t position, int32_t* values, int64_t n);

    // Plain byte operations.
    int64_t SeekRaw(int64_t offset);
    int64_t ReadRaw(void* buffer, int64_t bytes);
    bool WriteRaw(const void* buffer, int64_t bytes);
    int64_t Tell() const { return offset_; }

private:
    bool Fail(const std::string& what);
    // pread from a byte offset until `bytes` are read or the file ends;
    // returns the bytes read or -1. Touches no offset.
    int64_t ReadBytesAt(int64_t offset, void* buffer, int64_t bytes);
    // The 16-bit view and the full-precision read, from a byte offset, with
    // the raw bytes taken (for the caller's offset) in `taken`.
    int64_t Read16From(int64_t offset, void* buffer, int64_t count, std::vector<uint8_t>& scratch, int64_t& taken);
    int64_t Read24From(int64_t offset, int32_t* values, int64_t n, std::vector<uint8_t>& scratch, int64_t& taken);

    int fd_ = -1;
    std::string path_;
    std::string lastError_;
    int64_t offset_ = 0;
    int bits_ = 16;
    int32_t dataBase_ = 0;
    std::vector<uint8_t> scratch_;
    std::vector<uint8_t> atScratch_;  // ReadAt's own, so a pass's buffer is never shared
};

}  // namespace kelvane
