#pragma once
// The bit-level pieces of a Monkey's Audio file as version 3.99 lays it out,
// for the encoder: the frame coder (stereo decorrelation, the two-stage
// adaptive predictor, the sign-sign "neural" filters of the higher levels
// and the range coder with its adaptive overflow model) and the byte layout
// around the frames (descriptor, header, seek table, frame CRC).
//
// A file is: a 52-byte descriptor, a 24-byte header, a seek table of one
// 32-bit file offset per frame, then the frames back to back, then the
// APEv2 tag. Frames are one logical byte stream, stored in 32-bit words
// whose bytes are reversed (the format's bit writer fills each word from its
// top bit and then stores the word little-endian); the words are counted
// from the first frame. A frame's length must be exactly what a decoder
// reading the stream straight through consumes, since such a decoder takes
// the next frame from where the last one ended rather than from the seek
// table.
//
// Every decoder of the format computes the same integer arithmetic, and the
// frames here are produced by running that arithmetic backwards, so any
// difference in rounding, wrap-around or order of updates would make the
// file decode to other samples. That includes wrap-around at 32 bits:
// the predictor's products do overflow on loud 24-bit signals, and the
// decoders (libavcodec, the reference and its ports) all wrap them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvane::ape {

inline constexpr uint16_t kFileVersion = 3990;
inline constexpr uint32_t kDescriptorBytes = 52;
inline constexpr uint32_t kHeaderBytes = 24;
// The decoder makes the WAV header itself; none is stored.
inline constexpr uint16_t kFormatCreateWavHeader = 32;

// Frame flags, stored after the CRC when its top bit is set.
inline constexpr uint32_t kFrameSilentLeft = 1;
inline constexpr uint32_t kFrameSilentStereo = 3;
inline constexpr uint32_t kFramePseudoStereo = 4;

// The compression levels this encoder writes: 1000, 2000, 3000 and 4000.
bool IsSupportedLevel(int level);

// Samples per channel in every frame but the last, as the reference
// encoder chooses them (the header stores the value, so it is ours to pick).
uint32_t BlocksPerFrame(int level);

// The CRC a frame carries: CRC-32 of the frame's samples in WAV layout
// (little-endian, bits/8 bytes each, interleaved), shifted right by one so
// that the top bit can flag the frame flags.
uint32_t FrameCrc(const int32_t* interleaved, size_t blocks, int channels, int bits);

// Encodes frames of one stream. Each frame starts from the same fresh state,
// so frames can be encoded in any order. Not thread-safe; one per thread.
class CFrameEncoder {
public:
    // level: IsSupportedLevel; channels 1 or 2; bits 16 or 24.
    CFrameEncoder(int level, int channels, int bits);
    ~CFrameEncoder();
    CFrameEncoder(const CFrameEncoder&) = delete;
    CFrameEncoder& operator=(const CFrameEncoder&) = delete;

    // Appends one frame of blocks (1 .. BlocksPerFrame) interleaved samples,
    // each within the signed range of bits, to out in logical byte order:
    // CRC, flags when any, then the range-coded values. Returns the frame's
    // kFrame* flags, 0 for an ordinary frame.
    uint32_t Encode(const int32_t* interleaved, size_t blocks, std::vector<uint8_t>& out);

private:
    struct State;
    std::unique_ptr<State> s_;
};

// Reverses the bytes of each 32-bit word of data (size a multiple of 4):
// logical stream order to file order and back.
void SwapWords(uint8_t* data, size_t size);

// What the descriptor and header hold.
struct StreamInfo {
    int level = 2000;
    int channels = 2;
    int bits = 16;
    int sampleRate = 44100;
    uint32_t blocksPerFrame = 0;
    uint32_t totalFrames = 0;
    uint32_t finalFrameBlocks = 0;
    uint32_t seekTableEntries = 0;  // room in the table, at least totalFrames
    uint64_t frameDataBytes = 0;    // a multiple of 4
    uint8_t md5[16] = {};
};

// The 24-byte header alone (the MD5 covers it).
std::vector<uint8_t> HeaderBytes(const StreamInfo& info);
// Descriptor and header: the first 76 bytes of the file.
std::vector<uint8_t> DescriptorAndHeader(const StreamInfo& info);

}  // namespace kelvane::ape
