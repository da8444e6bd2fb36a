#pragma once
// FLAC output through libFLAC's stream encoder. With verification (the
// default) the stream is decoded again while it is encoded, so a file that
// finishes is known to hold exactly the samples it was given. The decoding
// runs on a thread of its own (see CFlacVerifier), where libFLAC's own check
// would add ~40% to the encoding.
//
// The encoding runs on a worker thread too, from blocks Write fills (see
// CThreadedEncoder). One thread at a time may use the object.

#include "output/CThreadedEncoder.h"

#include <functional>
#include <memory>
#include <vector>

namespace kelvane {

class CFlacEncoder final : public CThreadedEncoder {
public:
    // compressionLevel: libFLAC level 0..8 (see FlacCompressionLevelAt);
    // values outside are clamped. verify: decode the stream back while
    // encoding (a second thread per open file, besides the encoding one)
    // and fail on any difference.
    explicit CFlacEncoder(int compressionLevel, bool verify = true);
    ~CFlacEncoder() override;

    bool Open(const std::filesystem::path& path, int sampleRate, int bitsPerSample, int channels,
              uint64_t totalFramesEstimate, const EncoderTags& tags) override;

    // For tests only: sees, and may change, the verifier's copy of each piece
    // libFLAC writes (one metadata block, or one audio frame of samples
    // frames; samples is 0 for metadata). The file itself is not affected, so
    // a test can prove that damage in the stream is caught. Takes effect at
    // the next Open; does nothing without verification. Called on the
    // encoding thread, never two calls at once.
    using VerifierTamper = std::function<void(std::vector<uint8_t>& bytes, unsigned samples)>;
    void SetVerifierTamperForTests(VerifierTamper tamper) { tamper_ = std::move(tamper); }

    // The metadata padding left for later tag edits, in bytes.
    static constexpr unsigned kPaddingBytes = 2048;

private:
    struct State;

    std::string EncodeBlock(const Block& block) override;
    bool CompleteStream() override;
    void Interrupt() override;
    void Release() override;
    bool CheckFailed() const override;

    int level_;
    std::unique_ptr<State> state_;
    VerifierTamper tamper_;
};

}  // namespace kelvane
