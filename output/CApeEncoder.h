#pragma once
// Monkey's Audio output of our own (no library on the system writes the
// format): current-version files, 16 or 24 bits, mono or stereo, at the
// levels "Fast" (1000), "Normal" (2000), "High" (3000) and "Extra High"
// (4000), with the APEv2 tag appended. The bitstream is in ApeFormat.h.
//
// Like the FLAC encoder, Write copies the samples into frame-sized blocks
// that a worker thread encodes and writes (see CThreadedEncoder). With
// verification (the default) every frame is decoded again by libavcodec on a
// thread of its own and compared with its samples, and the finished file is
// read back through libavformat (header, seek table, frame bytes, tag)
// before it is moved into place. One thread at a time may use the object.

#include "output/CThreadedEncoder.h"

#include <functional>
#include <memory>
#include <vector>

namespace kelvane {

class CApeEncoder final : public CThreadedEncoder {
public:
    // compressionLevel: 1000, 2000, 3000 or 4000 (see ApeCompressionLevelAt);
    // other values are taken to the nearest of those. verify: decode every
    // frame back and read the finished file back, failing on any difference.
    explicit CApeEncoder(int compressionLevel, bool verify = true);
    ~CApeEncoder() override;

    bool Open(const std::filesystem::path& path, int sampleRate, int bitsPerSample, int channels,
              uint64_t totalFramesEstimate, const EncoderTags& tags) override;

    int CompressionLevel() const { return level_; }

    // For tests only. The first sees, and may change, the verifier's copy
    // of each frame (the demuxer's packet: block count, word offset, the
    // frame's words); the file is not affected. The second may change the
    // partial file once it is complete, before it is read back. Both take
    // effect at the next Open and do nothing without verification.
    using PacketTamper = std::function<void(std::vector<uint8_t>& packet, uint32_t frameIndex)>;
    using FileTamper = std::function<void(const std::filesystem::path& partial)>;
    void SetVerifierTamperForTests(PacketTamper tamper) { packetTamper_ = std::move(tamper); }
    void SetFileTamperForTests(FileTamper tamper) { fileTamper_ = std::move(tamper); }

private:
    struct State;

    std::string EncodeBlock(const Block& block) override;
    bool CompleteStream() override;
    void Interrupt() override;
    void Release() override;

    int level_;
    std::unique_ptr<State> state_;
    PacketTamper packetTamper_;
    FileTamper fileTamper_;
};

}  // namespace kelvane
