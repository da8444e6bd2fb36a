#pragma once
// FLAC output through libFLAC's stream encoder. With verification (the
// default) every frame is decoded again while encoding, so a file that
// finishes is known to hold exactly the samples it was given; that costs
// about a third more time than encoding alone.

#include "output/IAudioEncoder.h"

#include <memory>

namespace kelvane {

class CFlacEncoder final : public IAudioEncoder {
public:
    // compressionLevel: libFLAC level 0..8 (see FlacCompressionLevelAt);
    // values outside are clamped. verify: decode each frame back while
    // encoding and fail on any difference.
    explicit CFlacEncoder(int compressionLevel, bool verify = true);
    ~CFlacEncoder() override;

    CFlacEncoder(const CFlacEncoder&) = delete;
    CFlacEncoder& operator=(const CFlacEncoder&) = delete;

    bool Open(const std::filesystem::path& path, int sampleRate, int bitsPerSample, int channels,
              uint64_t totalFramesEstimate, const EncoderTags& tags) override;
    bool Write(const int32_t* interleaved, size_t frames) override;
    bool Finish() override;
    void Abort() override;
    const std::string& LastError() const override { return error_; }

    // The metadata padding left for later tag edits, in bytes.
    static constexpr unsigned kPaddingBytes = 2048;

private:
    struct State;
    bool Fail(std::string message);

    int level_;
    bool verify_;
    std::unique_ptr<State> state_;
    std::string error_;
};

}  // namespace kelvane
