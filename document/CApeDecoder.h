#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;

namespace kelvane {

// Reads a Monkey's Audio (.ape) file as WAV-layout PCM, block by block.
//
// Decoding goes through libavformat/libavcodec; this class adds what the
// import path needs on top: the samples packed exactly as a WAV data chunk
// would hold them, block-exact seeking, and the file's APEv2 tag.
//
// Memory stays bounded by one decoded codec frame plus a short history of
// recently decoded blocks (kHistoryBlocks), whatever the file's length; the
// history makes the importer's habit of going back over the last stretch of
// the file free. The source file is only ever opened for reading.
//
// Not thread-safe: one instance belongs to one thread at a time.
class CApeDecoder {
public:
    // Error codes from Open() that are not system/libav errors. Any other
    // non-zero code is a libav error negated: an errno value (2 for a missing
    // file, 13 for no permission) or one of libav's own, much larger, codes.
    static constexpr int kErrorBase = 1000;
    static constexpr int kErrNotApe = 1001;          // no Monkey's Audio header
    static constexpr int kErrNoAudio = 1002;         // header parsed, no audio stream
    static constexpr int kErrUnsupported = 1003;     // sample format we cannot lay out
    static constexpr int kErrDecoderMissing = 1004;  // libavcodec built without the decoder
    static constexpr int kErrDecoderInit = 1005;     // decoder refused the stream parameters
    static constexpr int kErrNotAFile = 1006;        // path names a folder or a device

    // Blocks of already-delivered audio kept for free backward seeks.
    static constexpr int64_t kHistoryBlocks = 8192;

    // Opens `path` for reading. On failure returns nullptr and sets
    // `errorCode` to a non-zero value (see above and ErrorMessage()); on
    // success sets it to 0. Never throws for bad input.
    static std::unique_ptr<CApeDecoder> Open(const std::string& path, int& errorCode);

    // A sentence describing an error code from Open(), for the user.
    static std::string ErrorMessage(int errorCode);

    ~CApeDecoder();
    CApeDecoder(const CApeDecoder&) = delete;
    CApeDecoder& operator=(const CApeDecoder&) = delete;

    int SampleRate() const { return m_sampleRate; }        // Hz
    int BitsPerSample() const { return m_bitsPerSample; }  // 8, 16, 24 or 32, as stored
    int Channels() const { return m_channels; }
    int64_t TotalBlocks() const { return m_totalBlocks; }  // one block = one sample frame
    int64_t WavDataBytes() const { return m_totalBlocks * BlockAlign(); }
    int BlockAlign() const { return m_channels * (m_bitsPerSample / 8); }  // bytes per block

    // Block that the next Decode() starts at.
    int64_t Position() const { return m_position; }

    // Moves to `block` (0..TotalBlocks(), TotalBlocks() meaning the end).
    // Exact to the block. Cheap when `block` is the current position or
    // within the recent history. Returns false when `block` is out of range
    // or the file cannot be repositioned; the position is then unchanged.
    bool Seek(int64_t block);

    // Decodes up to `nBlocks` blocks from the current position into `buffer`
    // (caller-owned, at least nBlocks * BlockAlign() bytes) as interleaved
    // little-endian PCM laid out exactly like a WAV data chunk (8-bit is
    // unsigned, wider samples are signed, low byte first). Returns the number
    // of blocks written: fewer than asked only at the end of the stream, 0 at
    // the end. Returns -1 when the file is damaged or truncated (the buffer
    // may then be partly written, and the position is left where the damage
    // was found); a later Seek() may recover.
    int64_t Decode(uint8_t* buffer, int64_t nBlocks);

    // Why the last Decode() or Seek() failed, as a sentence for the user
    // (empty when nothing has failed).
    const std::string& LastError() const { return m_lastError; }

    // Reads the APEv2 (or APEv1) tag at the end of the file at `path`, as
    // Tag() reports it. Returns false when there is no readable tag.
    static bool ReadTagFields(const std::string& path, std::vector<std::pair<std::string, std::string>>& fields);

    // A text field of the file's APEv2 (or APEv1) tag, UTF-8, with the field
    // name compared ASCII-case-insensitively ("Artist", "Album", "Title",
    // "Genre", "Track", ...). Several values of one field are joined with
    // "; ". Empty when the field or the whole tag is missing; binary fields
    // (cover art) are never returned.
    std::string Tag(std::string_view field) const;
    bool HasTag() const { return m_hasTag; }

private:
    CApeDecoder() = default;

    int OpenLibav();  // returns 0 or an error code as Open() reports it
    void CloseLibav();
    bool SeekDecoder(int64_t block);
    // Decodes the next codec frame into the history. 1 = appended,
    // 0 = clean end of stream, -1 = error.
    int DecodeNextFrame();
    int Broken(const std::string& why);  // records why decoding failed; returns -1
    void AppendFrame(const AVFrame* frame);
    void ReadTag();

    std::string m_path;
    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    int m_streamIndex = -1;

    int m_sampleRate = 0;
    int m_bitsPerSample = 0;
    int m_channels = 0;
    int64_t m_totalBlocks = 0;

    int64_t m_position = 0;

    // Packed PCM for blocks [m_cacheStart, m_cacheEnd); m_cacheEnd is also
    // where the decoder will continue. m_cacheKnown is false right after a
    // libav seek, until the first packet reveals where it landed.
    std::vector<uint8_t> m_cache;
    int64_t m_cacheStart = 0;
    int64_t m_cacheEnd = 0;
    bool m_cacheKnown = true;
    bool m_decoderDrained = false;  // no more packets: end of file reached
    bool m_broken = false;          // decoding failed; needs a real seek

    std::string m_lastError;

    bool m_hasTag = false;
    std::vector<std::pair<std::string, std::string>> m_tagFields;
};

}  // namespace kelvane
